// Number, space and escape formatting, checked against the C library and independent references.

#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>

#include "StreamTestSupport.h"
#include "support/streams/StringOutStream.h"
#include "support/streams/VectorOutStream.h"

using namespace vorn;
using vorn::testing::RecordingStream;

namespace {

template <typename T> std::string render(const T &value) {
  std::string out;
  StringOutStream s(out);
  s << value;
  return out;
}

std::string hexOf(uint64_t v) {
  std::string out;
  StringOutStream s(out);
  s.writeHexDigits(v);
  return out;
}

TEST(NumberFormat, Boundaries) {
  EXPECT_EQ(render(0), "0");
  EXPECT_EQ(render(0u), "0");
  EXPECT_EQ(render(int64_t(0)), "0");
  EXPECT_EQ(render(uint64_t(0)), "0");
  EXPECT_EQ(render(INT32_MIN), "-2147483648");
  EXPECT_EQ(render(INT32_MAX), "2147483647");
  EXPECT_EQ(render(UINT32_MAX), "4294967295");
  EXPECT_EQ(render(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(render(INT64_MAX), "9223372036854775807");
  EXPECT_EQ(render(UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(render(uint64_t(1) << 32), "4294967296"); // first value past the 32-bit path
  EXPECT_EQ(render(-int64_t(4294967296LL)), "-4294967296");
  EXPECT_EQ(render(-1L), "-1");
  EXPECT_EQ(render(ULONG_MAX), std::to_string(ULONG_MAX));
  EXPECT_EQ(render(size_t(12345)), "12345");
  EXPECT_EQ(render(short(-7)), "-7");
  EXPECT_EQ(render((unsigned char)'A'), "A"); // characters, not numbers

  EXPECT_EQ(hexOf(0), "0");
  EXPECT_EQ(hexOf(255), "ff");
  EXPECT_EQ(hexOf(UINT64_MAX), "ffffffffffffffff");
  EXPECT_EQ(render(static_cast<const void *>(nullptr)), "0x0");
  int local = 0;
  char expected[32];
  snprintf(expected, sizeof(expected), "0x%" PRIxPTR, uintptr_t(&local));
  EXPECT_EQ(render(static_cast<const void *>(&local)), expected);

  EXPECT_EQ(render(1.5), "1.500000e+00");
  EXPECT_EQ(render(-0.0), "-0.000000e+00");
}

TEST(NumberFormat, RandomValuesMatchPrintf) {
  const unsigned seed = 4242;
  std::mt19937_64 rng(seed);
  char expected[64];
  for (int i = 0; i < 20000; ++i) {
    // Random bit lengths, so that short and long values are both common.
    uint64_t u = rng() >> (rng() % 64);
    int64_t sv = int64_t(u) * ((rng() & 1) ? -1 : 1);
    snprintf(expected, sizeof(expected), "%" PRIu64, u);
    ASSERT_EQ(render(u), expected) << "seed " << seed;
    snprintf(expected, sizeof(expected), "%" PRId64, sv);
    ASSERT_EQ(render(sv), expected) << "seed " << seed;
    snprintf(expected, sizeof(expected), "%" PRIu32, uint32_t(u));
    ASSERT_EQ(render(uint32_t(u)), expected) << "seed " << seed;
    snprintf(expected, sizeof(expected), "%" PRId32, int32_t(sv));
    ASSERT_EQ(render(int32_t(sv)), expected) << "seed " << seed;
    snprintf(expected, sizeof(expected), "%" PRIx64, u);
    ASSERT_EQ(hexOf(u), expected) << "seed " << seed;
    double d;
    uint64_t bits = rng();
    std::memcpy(&d, &bits, sizeof(d));
    snprintf(expected, sizeof(expected), "%e", d);
    ASSERT_EQ(render(d), expected) << "seed " << seed;
  }
}

TEST(SpaceFormat, PiecesOfAtMostEighty) {
  RecordingStream s(0, OutStream::NoBuffer);
  s.writeSpaces(0);
  EXPECT_TRUE(s.calls.empty());
  s.writeSpaces(200);
  ASSERT_EQ(s.calls.size(), 3u);
  EXPECT_EQ(s.calls[0].bytes, std::string(80, ' '));
  EXPECT_EQ(s.calls[1].bytes, std::string(80, ' '));
  EXPECT_EQ(s.calls[2].bytes, std::string(40, ' '));
  EXPECT_EQ(render(std::string()), "");
}

// The escaping rules, written out independently of the stream's code.
std::string referenceEscape(unsigned char c, bool hex) {
  switch (c) {
  case 9: return "\\t";
  case 10: return "\\n";
  case 34: return "\\\"";
  case 92: return "\\\\";
  }
  if (c >= 32 && c <= 126) return std::string(1, char(c));
  char buf[8];
  if (hex)
    snprintf(buf, sizeof(buf), "\\x%02X", c);
  else
    snprintf(buf, sizeof(buf), "\\%03o", c);
  return buf;
}

TEST(EscapeFormat, EveryByteInBothModes) {
  for (bool hex : {false, true}) {
    std::string all, expectedAll;
    for (unsigned b = 0; b < 256; ++b) {
      char c = char(b);
      std::string got;
      StringOutStream s(got);
      s.writeCEscaped(StrView(&c, 1), hex);
      ASSERT_EQ(got, referenceEscape((unsigned char)b, hex)) << "byte " << b << " hex " << hex;
      all += c;
      expectedAll += referenceEscape((unsigned char)b, hex);
    }
    // The whole range in one text, through a small buffer.
    InlineVector<char, 16> vec;
    VectorOutStream v(vec);
    v.writeCEscaped(StrView(all.data(), uint32_t(all.size())), hex);
    EXPECT_EQ(v.view().str(), expectedAll);
  }
  std::string sample;
  StringOutStream s(sample);
  s.writeCEscaped(StrView("\x01\xff", 2), true).writeCEscaped(StrView("\x01\xff", 2));
  EXPECT_EQ(sample, "\\x01\\xFF\\001\\377");
}

} // namespace
