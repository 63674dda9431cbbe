#ifndef VORN_SUPPORT_PROCESS_SYSTIME_H
#define VORN_SUPPORT_PROCESS_SYSTIME_H

#include "support/runtime/Compiler.h"

#include <cstdint>
#include <string>

namespace vorn {

// A point in time, or a duration: signed 64-bit seconds counted from 2000-01-01 00:00:00 UTC plus
// signed nanoseconds. Values are kept normalised: the nanoseconds lie strictly between -1e9 and
// 1e9 and have the sign of the seconds (either sign while the seconds are 0). Both fields are
// 64-bit safe on every target, so dates after January 2038 are no special case.
class SysTime {
public:
  // Seconds between 1970-01-01 and 2000-01-01 (UTC): SysTime seconds = Unix seconds - this.
  static constexpr int64_t unixEpochOffset = 946684800;

  static const SysTime Min;          // {-2^63, 0}
  static const SysTime Max;          // {2^63 - 1, 0}
  static const SysTime Zero;         // 2000-01-01 00:00:00 UTC
  static const SysTime UnixEpoch;    // 1970-01-01 00:00:00 UTC
  static const SysTime WindowsEpoch; // 1601-01-01 00:00:00 UTC

  // Zero.
  constexpr SysTime() : secs(0), nanos(0) {}
  // `seconds` and `nanoseconds`, normalised. The caller keeps the result within the range of
  // the seconds (normalising Min or Max with a nanosecond part that carries out of it is
  // undefined).
  constexpr SysTime(int64_t seconds, int32_t nanoseconds) : secs(seconds), nanos(nanoseconds) {
    normalize();
  }

  constexpr int64_t seconds() const { return secs; }
  constexpr int32_t nanoseconds() const { return nanos; }

  // Brings the value into the normal form described above.
  constexpr void normalize() {
    if (nanos >= 1000000000) {
      while (nanos >= 1000000000) {
        secs += 1;
        nanos -= 1000000000;
      }
    } else {
      while (nanos <= -1000000000) {
        secs -= 1;
        nanos += 1000000000;
      }
    }
    if (secs >= 1 && nanos < 0) {
      secs -= 1;
      nanos += 1000000000;
    } else if (secs < 0 && nanos > 0) {
      secs += 1;
      nanos -= 1000000000;
    }
  }

  // The current wall-clock time (gettimeofday, microsecond resolution); Min when the clock
  // cannot be read.
  static SysTime now();

  // The Unix time `unixSeconds` (seconds since 1970-01-01 UTC). A value so far in the past that
  // it is out of range gives Min.
  static SysTime fromUnixSeconds(int64_t unixSeconds);
  // The whole seconds since 1970-01-01 UTC; the nanoseconds are dropped. A value so far in the
  // future that it is out of range gives INT64_MAX.
  int64_t toUnixSeconds() const;

  // The local time of this point (the TZ rules of the process) as "%b %e %H:%M %Y", for example
  // "Jan  1 00:00 2000". The empty string when the C library cannot represent the date.
  std::string toText() const;

private:
  int64_t secs;
  int32_t nanos;
};

// Field by field (both values normalised, so this is equality of times).
constexpr bool operator==(const SysTime &a, const SysTime &b) {
  return a.seconds() == b.seconds() && a.nanoseconds() == b.nanoseconds();
}
constexpr bool operator!=(const SysTime &a, const SysTime &b) { return !(a == b); }
// Earlier in time.
constexpr bool operator<(const SysTime &a, const SysTime &b) {
  return a.seconds() != b.seconds() ? a.seconds() < b.seconds()
                                    : a.nanoseconds() < b.nanoseconds();
}
constexpr bool operator>(const SysTime &a, const SysTime &b) { return b < a; }
constexpr bool operator<=(const SysTime &a, const SysTime &b) { return !(b < a); }
constexpr bool operator>=(const SysTime &a, const SysTime &b) { return !(a < b); }

// The difference, normalised. The caller keeps it within the range of the seconds.
constexpr SysTime operator-(const SysTime &a, const SysTime &b) {
  return SysTime(a.seconds() - b.seconds(), a.nanoseconds() - b.nanoseconds());
}
// The sum, normalised. The caller keeps it within the range of the seconds.
constexpr SysTime operator+(const SysTime &a, const SysTime &b) {
  return SysTime(a.seconds() + b.seconds(), a.nanoseconds() + b.nanoseconds());
}

// Constant-initialised, so they are usable from any other static initialiser.
inline constexpr SysTime SysTime::Min{INT64_MIN, 0};
inline constexpr SysTime SysTime::Max{INT64_MAX, 0};
inline constexpr SysTime SysTime::Zero{0, 0};
inline constexpr SysTime SysTime::UnixEpoch{-946684800, 0};
inline constexpr SysTime SysTime::WindowsEpoch{-12591158400LL, 0};

} // namespace vorn

#endif
