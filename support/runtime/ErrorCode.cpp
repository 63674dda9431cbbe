#include "support/runtime/ErrorCode.h"

#include <cerrno>
#include <cstring>

#include "support/runtime/LazyStatic.h"

namespace vorn {

ErrorCategory::~ErrorCategory() {}

ErrorCondition ErrorCategory::defaultErrorCondition(int value) const {
  return ErrorCondition(value, *this);
}

bool ErrorCategory::equivalentToCondition(int value, const ErrorCondition &condition) const {
  return defaultErrorCondition(value) == condition;
}

bool ErrorCategory::equivalentToCode(const ErrorCode &code, int value) const {
  return &code.category() == this && code.value() == value;
}

std::string StrerrorCategory::message(int value) const { return errnoMessage(value); }

namespace {

class GenericCategory final : public StrerrorCategory {
public:
  const char *name() const override { return "generic"; }
};

class SystemCategory final : public StrerrorCategory {
public:
  const char *name() const override { return "system"; }
  ErrorCondition defaultErrorCondition(int value) const override {
    return ErrorCondition(value, genericCategory());
  }
};

} // namespace

const ErrorCategory &genericCategory() {
  VORN_LAZY_STATIC(const GenericCategory, instance);
  return instance;
}

const ErrorCategory &systemCategory() {
  VORN_LAZY_STATIC(const SystemCategory, instance);
  return instance;
}

const ErrorCategory &nativeCategory() { return systemCategory(); }

ErrorCode ErrorCode::fromErrno() { return fromErrno(errno); }

std::string errnoMessage(int value) {
  if (value == 0) return std::string();
  char buffer[2000];
  buffer[0] = '\0';
  // The GNU strerror_r may return either the buffer or a constant text of the C library.
  const char *text = strerror_r(value, buffer, sizeof(buffer) - 1);
  return std::string(text);
}

std::string lastErrnoMessage() { return errnoMessage(errno); }

} // namespace vorn
