#include "support/runtime/ErrorCode.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "claiming_category.h"

using namespace vorn;

TEST(ErrorCategories, NamesAndSingletons) {
  EXPECT_STREQ(genericCategory().name(), "generic");
  EXPECT_STREQ(systemCategory().name(), "system");
  EXPECT_EQ(&nativeCategory(), &systemCategory());
  EXPECT_NE(&genericCategory(), &systemCategory());
  EXPECT_EQ(&genericCategory(), &ErrorCondition::generic(1).category());
}

TEST(ErrorCodes, SuccessAndFailure) {
  ErrorCode ok;
  EXPECT_FALSE(ok);
  EXPECT_EQ(ok.value(), 0);
  EXPECT_EQ(&ok.category(), &systemCategory());
  EXPECT_EQ(ok, ErrorCode::success());
  EXPECT_EQ(ok.message(), "");
  // Any code with value 0 counts as success.
  EXPECT_FALSE(ErrorCode(0, genericCategory()));
  EXPECT_TRUE(ErrorCode::fromErrno(ENOENT));

  errno = EACCES;
  ErrorCode fromErrno = ErrorCode::fromErrno();
  EXPECT_EQ(fromErrno.value(), EACCES);
  EXPECT_EQ(&fromErrno.category(), &systemCategory());
  errno = EPIPE;
  EXPECT_EQ(lastErrnoMessage(), std::string(strerror(EPIPE)));
}

TEST(ErrorCodes, EquivalenceThroughTheCategories) {
  ErrorCode system2(2, systemCategory()), generic2(2, genericCategory());
  ErrorCondition condition2 = ErrorCondition::generic(2), condition17 = ErrorCondition::generic(17);

  EXPECT_TRUE(system2 == condition2);
  EXPECT_TRUE(condition2 == system2);
  EXPECT_FALSE(system2 == condition17);
  EXPECT_TRUE(system2 != condition17);
  EXPECT_TRUE(generic2 == condition2);
  EXPECT_FALSE(generic2 == condition17);
  // Different codes (the categories differ), though both stand for the same condition.
  EXPECT_NE(system2, generic2);
  EXPECT_EQ(system2, ErrorCode::fromErrno(2));

  EXPECT_EQ(system2.defaultErrorCondition(), condition2);
  EXPECT_EQ(&system2.defaultErrorCondition().category(), &genericCategory());
  EXPECT_EQ(generic2.defaultErrorCondition(), condition2);

  // Conditions compare by category and value only.
  EXPECT_EQ(ErrorCondition(), ErrorCondition::generic(0));
  EXPECT_NE(ErrorCondition(2, systemCategory()), condition2);
  // A condition of the system category is matched only by the second question (the condition's
  // category), since the system category maps its own codes to generic conditions.
  EXPECT_TRUE(system2 == ErrorCondition(2, systemCategory()));
  EXPECT_FALSE(generic2 == ErrorCondition(2, systemCategory()));
}


TEST(ErrorCodes, TheConditionsCategoryIsAskedSecond) {
  ClaimingCategory claiming;
  ErrorCode system5(5, systemCategory());
  EXPECT_TRUE(system5 == ErrorCondition(1, claiming));
  EXPECT_EQ(claiming.codeQuestions, 1);
  EXPECT_FALSE(system5 == ErrorCondition(2, claiming));

  // The code's own category answers first; when it says yes the condition's is not asked.
  ErrorCode own(3, claiming);
  claiming.codeQuestions = 0;
  EXPECT_TRUE(own == ErrorCondition(3, claiming));
  EXPECT_EQ(claiming.conditionQuestions, 1);
  EXPECT_EQ(claiming.codeQuestions, 0);
  EXPECT_EQ(own.message(), "claimed 3");
  EXPECT_EQ(ErrorCondition(4, claiming).message(), "claimed 4");
}

TEST(ErrorMessages, MatchTheCLibrary) {
  EXPECT_EQ(errnoMessage(0), "");
  EXPECT_EQ(ErrorCode(2, systemCategory()).message(), ErrorCode(2, genericCategory()).message());
  EXPECT_EQ(ErrorCondition::generic(2).message(), std::string(strerror(2)));
  // Known and unknown numbers alike give exactly the C library's text; none is made up here.
  std::vector<int> values;
  for (int v = -3; v < 200; ++v) values.push_back(v);
  for (int v : {1000, 4095, 65536, 123456789, -123456789, INT32_MAX, INT32_MIN}) values.push_back(v);
  for (int v : values) {
    if (v == 0) continue;
    SCOPED_TRACE(v);
    std::string expected = strerror(v);
    EXPECT_EQ(errnoMessage(v), expected);
    EXPECT_EQ(ErrorCode(v, systemCategory()).message(), expected);
    EXPECT_EQ(ErrorCode(v, genericCategory()).message(), expected);
  }
}
