#include "claiming_category.h"

using namespace vorn;

const char *ClaimingCategory::name() const { return "claiming"; }

std::string ClaimingCategory::message(int value) const {
  return "claimed " + std::to_string(value);
}

bool ClaimingCategory::equivalentToCondition(int value, const ErrorCondition &condition) const {
  ++conditionQuestions;
  return ErrorCategory::equivalentToCondition(value, condition);
}

bool ClaimingCategory::equivalentToCode(const ErrorCode &code, int value) const {
  ++codeQuestions;
  return (&code.category() == &systemCategory() && code.value() == 5 && value == 1) ||
         ErrorCategory::equivalentToCode(code, value);
}
