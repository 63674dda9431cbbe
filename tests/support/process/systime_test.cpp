// Time values: normalisation against whole-nanosecond arithmetic, the Unix conversions, and the
// text form in fixed time zones (set in a child, so the test program's zone is left alone).

#include "support/process/SysTime.h"

#include <gtest/gtest.h>

#include <sys/time.h>
#include <time.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "tests/common/TestSupport.h"

using namespace vorn;

namespace {

void expectTime(const SysTime &t, int64_t seconds, int32_t nanoseconds) {
  EXPECT_EQ(t.seconds(), seconds);
  EXPECT_EQ(t.nanoseconds(), nanoseconds);
}

// toText of `t` in a child whose TZ is `zone`.
std::string textIn(const char *zone, const SysTime &t) {
  testsupport::ChildResult r = testsupport::runInChild([&] {
    setenv("TZ", zone, 1);
    tzset();
    std::string text = t.toText();
    return testsupport::writeAll(1, text) ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// The SysTime of a UTC calendar time, computed with the C library (timegm, 64-bit time_t).
SysTime utc(int year, int month, int day, int hour, int minute, int second) {
  struct tm tm = {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  time_t t = timegm(&tm);
  return SysTime::fromUnixSeconds(int64_t(t));
}

} // namespace

TEST(SysTime, NormalisesToOneSignBelowASecond) {
  expectTime(SysTime(5, -1), 4, 999999999);
  expectTime(SysTime(-5, 1), -4, -999999999);
  expectTime(SysTime(0, -7), 0, -7);
  expectTime(SysTime(0, 1500000000), 1, 500000000);
  expectTime(SysTime(0, -2000000000), -2, 0);
  expectTime(SysTime(1, -2000000000), -1, 0);
  expectTime(SysTime(-1, 1999999999), 0, 999999999);
  expectTime(SysTime(7, 0), 7, 0);
}

TEST(SysTime, NormalisationAgreesWithWholeNanoseconds) {
  const uint32_t seed = 20250101;
  std::mt19937_64 rng(seed);
  SCOPED_TRACE("random seed " + std::to_string(seed));
  for (int i = 0; i < 20000; ++i) {
    // Seconds small enough that seconds * 1e9 + nanoseconds fits in 64 bits.
    int64_t seconds = int64_t(rng() % 8000000001ULL) - 4000000000LL;
    if (i % 4 == 0) seconds = int64_t(rng() % 5) - 2;
    int32_t nanos = int32_t(uint32_t(rng()));
    int64_t total = seconds * 1000000000LL + nanos;
    SysTime t(seconds, nanos);
    ASSERT_EQ(t.seconds(), total / 1000000000LL) << seconds << " s " << nanos << " ns";
    ASSERT_EQ(t.nanoseconds(), int32_t(total % 1000000000LL)) << seconds << " s " << nanos << " ns";
    // The difference of two normalised values is normalised and exact.
    int64_t otherSeconds = int64_t(rng() % 2000001) - 1000000;
    int32_t otherNanos = int32_t(int64_t(rng() % 1999999999ULL) - 999999999LL);
    SysTime other(otherSeconds, otherNanos);
    int64_t otherTotal = other.seconds() * 1000000000LL + other.nanoseconds();
    SysTime diff = t - other;
    ASSERT_EQ(diff.seconds() * 1000000000LL + diff.nanoseconds(), total - otherTotal);
    ASSERT_TRUE(diff.nanoseconds() == 0 || diff.seconds() == 0 ||
                (diff.seconds() > 0) == (diff.nanoseconds() > 0));
  }
}

TEST(SysTime, ConstantsAndUnixConversions) {
  expectTime(SysTime::Min, INT64_MIN, 0);
  expectTime(SysTime::Max, INT64_MAX, 0);
  expectTime(SysTime::Zero, 0, 0);
  EXPECT_EQ(SysTime::fromUnixSeconds(0), SysTime::UnixEpoch);
  EXPECT_EQ(SysTime::Zero.toUnixSeconds(), 946684800);
  EXPECT_EQ(SysTime::WindowsEpoch, utc(1601, 1, 1, 0, 0, 0));
  EXPECT_EQ(SysTime::UnixEpoch, utc(1970, 1, 1, 0, 0, 0));
  EXPECT_EQ(SysTime::Zero, utc(2000, 1, 1, 0, 0, 0));
  EXPECT_EQ(SysTime(-1, -500000000).toUnixSeconds(), 946684799);
  // Beyond 2038 nothing is cut to 32 bits.
  SysTime late = utc(2106, 2, 7, 6, 28, 16);
  EXPECT_EQ(late.toUnixSeconds(), int64_t(4294967296LL));
  EXPECT_EQ(SysTime::fromUnixSeconds(4294967296LL).seconds(), 4294967296LL - 946684800);
  // The extremes saturate instead of overflowing.
  EXPECT_EQ(SysTime::fromUnixSeconds(INT64_MIN), SysTime::Min);
  EXPECT_EQ(SysTime::Max.toUnixSeconds(), INT64_MAX);
  EXPECT_LT(SysTime::Min, SysTime::Zero);
  EXPECT_LT(SysTime(0, -1), SysTime::Zero);
  EXPECT_LT(SysTime::Zero, SysTime(0, 1));
}

TEST(SysTime, NowFollowsTheSystemClock) {
  struct timeval before, after;
  gettimeofday(&before, nullptr);
  SysTime now = SysTime::now();
  gettimeofday(&after, nullptr);
  SysTime lo(int64_t(before.tv_sec) - 946684800, int32_t(before.tv_usec) * 1000);
  SysTime hi(int64_t(after.tv_sec) - 946684800, int32_t(after.tv_usec) * 1000);
  EXPECT_LE(lo, now);
  EXPECT_LE(now, hi);
  EXPECT_EQ(now.nanoseconds() % 1000, 0);
}

TEST(SysTime, TextInUtcAndAnotherZone) {
  EXPECT_EQ(textIn("UTC0", SysTime::Zero), "Jan  1 00:00 2000");
  EXPECT_EQ(textIn("UTC0", utc(2024, 2, 29, 23, 59, 59) + SysTime(0, 999999999)),
            "Feb 29 23:59 2024");
  EXPECT_EQ(textIn("UTC0", utc(2038, 1, 19, 3, 14, 8)), "Jan 19 03:14 2038");
  EXPECT_EQ(textIn("UTC0", utc(2100, 12, 31, 13, 5, 0)), "Dec 31 13:05 2100");
  EXPECT_EQ(textIn("UTC0", SysTime::UnixEpoch), "Jan  1 00:00 1970");
  // Local time: five hours west of UTC.
  EXPECT_EQ(textIn("EST5", SysTime::Zero), "Dec 31 19:00 1999");
  EXPECT_EQ(textIn("EST5", utc(2050, 3, 1, 2, 30, 0)), "Feb 28 21:30 2050");
}
