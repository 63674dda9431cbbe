#include "support/process/SysTime.h"

#include <sys/time.h>
#include <time.h>

namespace vorn {

SysTime SysTime::now() {
  struct timeval tv;
  if (::gettimeofday(&tv, nullptr) != 0) return Min;
  return SysTime(int64_t(tv.tv_sec) - unixEpochOffset, int32_t(tv.tv_usec) * 1000);
}

SysTime SysTime::fromUnixSeconds(int64_t unixSeconds) {
  int64_t seconds;
  if (__builtin_sub_overflow(unixSeconds, unixEpochOffset, &seconds)) return Min;
  return SysTime(seconds, 0);
}

int64_t SysTime::toUnixSeconds() const {
  int64_t unixSeconds;
  if (__builtin_add_overflow(secs, unixEpochOffset, &unixSeconds)) return INT64_MAX;
  return unixSeconds;
}

std::string SysTime::toText() const {
  // time_t is 64 bits wide in every build (also on 32-bit targets), so dates after January 2038
  // convert; a value that time_t or struct tm cannot hold gives the empty text.
  int64_t unixSeconds;
  if (__builtin_add_overflow(secs, unixEpochOffset, &unixSeconds)) return std::string();
  time_t t = time_t(unixSeconds);
  if (int64_t(t) != unixSeconds) return std::string();
  struct tm local;
  if (!::localtime_r(&t, &local)) return std::string();
  // Room for the longest year struct tm can hold.
  char text[32];
  size_t length = ::strftime(text, sizeof text, "%b %e %H:%M %Y", &local);
  return std::string(text, length);
}

} // namespace vorn
