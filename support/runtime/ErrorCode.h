#ifndef VORN_SUPPORT_RUNTIME_ERRORCODE_H
#define VORN_SUPPORT_RUNTIME_ERRORCODE_H

#include "support/runtime/Compiler.h"

#include <string>

namespace vorn {

class ErrorCode;
class ErrorCondition;

// Gives error values their meaning. Every category is a process-wide singleton; categories are
// compared by address, so they are neither copied nor moved.
class ErrorCategory {
public:
  ErrorCategory() = default;
  ErrorCategory(const ErrorCategory &) = delete;
  ErrorCategory &operator=(const ErrorCategory &) = delete;
  virtual ~ErrorCategory();

  // The category's name, a constant text.
  virtual const char *name() const = 0;
  // The portable condition that `value` of this category stands for; by default (value, this).
  virtual ErrorCondition defaultErrorCondition(int value) const;
  // True when the code `value` of this category corresponds to `condition`; by default when
  // defaultErrorCondition(value) equals it.
  virtual bool equivalentToCondition(int value, const ErrorCondition &condition) const;
  // True when `code` corresponds to the condition `value` of this category; by default when the
  // code belongs to this category and has that value.
  virtual bool equivalentToCode(const ErrorCode &code, int value) const;
  // A description of `value` for people.
  virtual std::string message(int value) const = 0;
};

// A category whose values are errno numbers, described by the C library's texts.
class StrerrorCategory : public ErrorCategory {
public:
  std::string message(int value) const override;
};

// The category of portable conditions, numbered like errno ("generic").
const ErrorCategory &genericCategory();
// The category of errno values reported by the operating system ("system"); each value maps to
// the generic condition with the same number.
const ErrorCategory &systemCategory();
// The category of native operating-system codes: the system category on this platform.
const ErrorCategory &nativeCategory();

// A portable error condition: an errno-style number in a category, usually the generic one.
class ErrorCondition {
public:
  // The condition 0 ("no error") of the generic category.
  ErrorCondition() : val(0), cat(&genericCategory()) {}
  ErrorCondition(int value, const ErrorCategory &category) : val(value), cat(&category) {}
  // The generic condition with the errno number `value` (for example ENOENT).
  static ErrorCondition generic(int value) { return ErrorCondition(value, genericCategory()); }

  int value() const { return val; }
  const ErrorCategory &category() const { return *cat; }
  std::string message() const { return cat->message(val); }
  // True for a failure (a value other than 0).
  explicit operator bool() const { return val != 0; }

private:
  int val;
  const ErrorCategory *cat;
};

// The outcome of an operation that may fail: 0 means success whatever the category; otherwise a
// value in a category, errno numbers in the system category for operating-system failures.
class ErrorCode {
public:
  // Success: 0 in the system category.
  ErrorCode() : val(0), cat(&systemCategory()) {}
  ErrorCode(int value, const ErrorCategory &category) : val(value), cat(&category) {}
  static ErrorCode success() { return ErrorCode(); }
  // The errno value `value` in the system category.
  static ErrorCode fromErrno(int value) { return ErrorCode(value, systemCategory()); }
  // The current errno in the system category.
  static ErrorCode fromErrno();

  int value() const { return val; }
  const ErrorCategory &category() const { return *cat; }
  std::string message() const { return cat->message(val); }
  // The category's portable condition for this code.
  ErrorCondition defaultErrorCondition() const { return cat->defaultErrorCondition(val); }
  // True for a failure (a value other than 0).
  explicit operator bool() const { return val != 0; }

private:
  int val;
  const ErrorCategory *cat;
};

// Same category (by address) and same value.
inline bool operator==(const ErrorCode &a, const ErrorCode &b) {
  return &a.category() == &b.category() && a.value() == b.value();
}
inline bool operator!=(const ErrorCode &a, const ErrorCode &b) { return !(a == b); }
inline bool operator==(const ErrorCondition &a, const ErrorCondition &b) {
  return &a.category() == &b.category() && a.value() == b.value();
}
inline bool operator!=(const ErrorCondition &a, const ErrorCondition &b) { return !(a == b); }

// A code equals a condition when the code's category says so, or else the condition's category
// does (the code's category is asked first).
inline bool operator==(const ErrorCode &code, const ErrorCondition &condition) {
  return code.category().equivalentToCondition(code.value(), condition) ||
         condition.category().equivalentToCode(code, condition.value());
}
inline bool operator==(const ErrorCondition &condition, const ErrorCode &code) {
  return code == condition;
}
inline bool operator!=(const ErrorCode &code, const ErrorCondition &condition) {
  return !(code == condition);
}
inline bool operator!=(const ErrorCondition &condition, const ErrorCode &code) {
  return !(code == condition);
}

// The C library's text for the errno value `value` (strerror_r); the empty string for 0.
std::string errnoMessage(int value);
// errnoMessage of the current errno.
std::string lastErrnoMessage();

} // namespace vorn

#endif
