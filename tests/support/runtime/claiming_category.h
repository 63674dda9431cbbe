#ifndef VORN_TESTS_RUNTIME_CLAIMING_CATEGORY_H
#define VORN_TESTS_RUNTIME_CLAIMING_CATEGORY_H

#include "support/runtime/ErrorCode.h"

// A category of the test's own, built like the library (without RTTI), that claims system code 5
// as its condition 1 and counts how often each of its equivalence operations is asked.
class ClaimingCategory final : public vorn::ErrorCategory {
public:
  const char *name() const override;
  std::string message(int value) const override;
  bool equivalentToCondition(int value, const vorn::ErrorCondition &condition) const override;
  bool equivalentToCode(const vorn::ErrorCode &code, int value) const override;

  mutable int conditionQuestions = 0;
  mutable int codeQuestions = 0;
};

#endif
