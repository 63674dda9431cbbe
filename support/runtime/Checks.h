#ifndef VORN_SUPPORT_RUNTIME_CHECKS_H
#define VORN_SUPPORT_RUNTIME_CHECKS_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>

// Checks of the callers' obligations. They are on in builds with assertions (no NDEBUG: the
// sanitizer and debug builds) and compile to nothing in release builds, where a broken obligation
// is undefined behaviour as the contract says. A failed check writes one line naming the
// operation and the broken rule on descriptor 2 and aborts.

namespace vorn {

// True in builds that check the callers' obligations.
#ifdef NDEBUG
inline constexpr bool kChecksEnabled = false;
#else
inline constexpr bool kChecksEnabled = true;
#endif

// Writes "vorn: <operation>: <rule>" and a newline on descriptor 2 in one write, then aborts.
[[noreturn]] void failedCheck(const char *operation, const char *rule);

// The length of a text that the caller guarantees to be shorter than 4 GiB, as the 32-bit length
// that views and vectors keep. In checking builds a longer one stops the program, naming the
// operation; in release builds it is cut to 32 bits.
inline uint32_t checkedLength(size_t length, const char *operation) {
  if constexpr (sizeof(size_t) > sizeof(uint32_t) && kChecksEnabled) {
    if (length > UINT32_MAX) failedCheck(operation, "length does not fit in 32 bits");
  }
  (void)operation;
  return static_cast<uint32_t>(length);
}

} // namespace vorn

// VORN_CHECK(cond, operation, rule): in checking builds, stops the program when `cond` is false.
#ifdef NDEBUG
#define VORN_CHECK(cond, operation, rule) ((void)0)
#else
#define VORN_CHECK(cond, operation, rule)                                                          \
  ((cond) ? (void)0 : ::vorn::failedCheck((operation), (rule)))
#endif

#endif
