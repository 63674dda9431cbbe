// APInt text conversion against GMP in every radix from 2 to 36 (mpz_get_str with upper-case
// digits, mpz_set_str), the literal forms, parsing with and without validation, the bit-count
// estimate against the exact bit length, and the hashing and profile words.

#include "support/apint/APInt.h"

#include "support/streams/StringOutStream.h"
#include "support/text/NodeSet.h"
#include "tests/common/TestSupport.h"
#include "tests/support/apint/gmp_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace apinttest;
using vorn::InlineString;
using vorn::StrView;

namespace {

// GMP's text of z in `radix`, upper-case letters, "-" for a negative number.
std::string gmpText(mpz_srcptr z, int radix) {
  char *s = mpz_get_str(nullptr, -radix, z);
  std::string text(s);
  void (*freeFn)(void *, size_t);
  mp_get_memory_functions(nullptr, nullptr, &freeFn);
  freeFn(s, text.size() + 1);
  return text;
}

const char *prefixOf(uint32_t radix) {
  switch (radix) {
  case 2:
    return "0b";
  case 8:
    return "0";
  case 16:
    return "0x";
  default:
    return "";
  }
}

// What appendText must produce: sign, then the literal prefix, then GMP's digits.
std::string expectedText(const APInt &v, uint32_t radix, bool isSigned, bool asLiteral) {
  Mpz z;
  if (isSigned)
    toMpzSigned(z, v);
  else
    toMpz(z, v);
  std::string prefix = asLiteral ? prefixOf(radix) : "";
  std::string digits = gmpText(z, int(radix));
  if (digits[0] == '-') return "-" + prefix + digits.substr(1);
  return prefix + digits;
}

std::string appended(const APInt &v, uint32_t radix, bool isSigned, bool asLiteral) {
  InlineString<40> text;
  v.appendText(text, radix, isSigned, asLiteral);
  return text.str();
}

APInt parsed(uint32_t width, const std::string &text, uint32_t radix) {
  return APInt(width, StrView(text), radix);
}

// Radix 10 writes values of more than kWriteSplitWords words and parses texts of more than
// kParseSplitDigits digits by splitting them at powers 10^k, k = 9·2^i. The writer divides a
// value by the largest such power not above it and writes the remainder padded to k digits, the
// quotient above it; the parser reads the low k digits, for the largest such k below the length,
// apart from the digits above them.
constexpr uint32_t kWriteSplitWords = 16;
constexpr uint32_t kParseSplitDigits = 600;

Mpz powerOfTen(unsigned long k) {
  Mpz z;
  mpz_ui_pow_ui(z, 10, k);
  return z;
}

Mpz sum(const Mpz &a, const Mpz &b, long c = 0) {
  Mpz z;
  mpz_add(z, a, b);
  if (c >= 0)
    mpz_add_ui(z, z, (unsigned long)c);
  else
    mpz_sub_ui(z, z, (unsigned long)-c);
  return z;
}

Mpz allOnes(uint32_t bits) {
  Mpz z;
  mpz_setbit(z, bits);
  mpz_sub_ui(z, z, 1);
  return z;
}

// `digits` random decimal digits, the first not 0, with runs of zeros over the digit positions
// (counted from the last digit) in each [from, to) of `zeroRuns`.
std::string decimalWithZeroRuns(Generator &g, uint32_t digits,
                                std::initializer_list<std::pair<uint32_t, uint32_t>> zeroRuns) {
  std::string text(digits, '0');
  for (char &c : text) c = char('0' + g.below(10));
  text[0] = char('1' + g.below(9));
  for (auto run : zeroRuns)
    for (uint32_t i = run.first; i < run.second && i < digits - 1; ++i) text[digits - 1 - i] = '0';
  return text;
}

Mpz fromDecimal(const std::string &text) {
  Mpz z;
  mpz_set_str(z, text.c_str(), 10);
  return z;
}

// Where two long texts first differ, for a failure message that does not print them.
std::string firstDifference(const std::string &got, const std::string &want) {
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return "lengths " + std::to_string(got.size()) + " and " + std::to_string(want.size()) +
         ", first difference at " + std::to_string(at);
}

// Values at the writer's split points, in decimal: the widest value it writes without a split
// and the narrowest split one; values just below, at and above the powers it splits at, among
// them remainders of 0 and of a few digits, which are written as long runs of zeros, and a
// remainder that is split again, inside its padding. Near the threshold (10^288, 10^576 and
// 10^1152 split values of 16 to 64 words) and far above it (10^36864 and 10^73728, many levels
// deep); and values of 4096 and 2^18 bits with runs of zeros across the powers they split at.
std::vector<Mpz> writeSplitValues(Generator &g) {
  const Mpz zero, t36864 = powerOfTen(36864), t40000 = powerOfTen(40000),
                  t73728 = powerOfTen(73728), t288 = powerOfTen(288), t576 = powerOfTen(576),
                  t600 = powerOfTen(600), t1152 = powerOfTen(1152);
  Mpz below73728, below1152;
  mpz_sub(below73728, t73728, t36864);
  mpz_sub(below1152, t1152, t576);
  Mpz above;
  mpz_setbit(above, kWriteSplitWords * 64);
  return {allOnes(kWriteSplitWords * 64),
          allOnes(kWriteSplitWords * 64 + 1),
          above,
          sum(t288, zero, -1),
          sum(t288, zero, 1),
          sum(t576, zero, 0),
          sum(t1152, t600, 7),
          below1152,
          allOnes(4096),
          fromDecimal(decimalWithZeroRuns(g, 1233, {{560, 600}, {1140, 1160}})),
          sum(t40000, zero, 7),
          below73728,
          sum(t73728, zero, -1),
          t73728,
          sum(t73728, zero, 1),
          sum(t73728, t40000, 7),
          fromDecimal(decimalWithZeroRuns(g, 78900, {{36000, 41000}, {73000, 74000}}))};
}

// Texts at the parser's split points: the longest it reads without a split, and texts of one
// digit more (split at 576 digits) whose low part is all zeros, all nines, or has runs of zeros
// across the split; and a text of 4096 bits and one of 160001 digits, split many levels deep.
std::vector<std::string> parseSplitTexts(Generator &g) {
  return {decimalWithZeroRuns(g, kParseSplitDigits, {}),
          "1" + std::string(kParseSplitDigits, '0'), std::string(kParseSplitDigits + 1, '9'),
          decimalWithZeroRuns(g, kParseSplitDigits + 1, {{0, 20}, {560, 590}}),
          decimalWithZeroRuns(g, 1233, {{1100, 1160}}),
          decimalWithZeroRuns(g, 160001, {{0, 3000}, {146000, 149000}})};
}

TEST(APIntText, OutputEdgeCases) {
  EXPECT_EQ(appended(APInt(8, 0), 16, false, true), "0x0");
  EXPECT_EQ(appended(APInt(8, 0), 8, false, true), "00");
  EXPECT_EQ(appended(APInt(8, 0), 2, false, true), "0b0");
  EXPECT_EQ(appended(APInt(8, 0), 10, true, false), "0");
  EXPECT_EQ(appended(APInt(300, 0), 16, true, true), "0x0");

  APInt v255(8, 255);
  EXPECT_EQ(v255.toText(10, false), "255");
  EXPECT_EQ(v255.toText(10, true), "-1");
  EXPECT_EQ(appended(v255, 16, false, true), "0xFF");
  EXPECT_EQ(appended(v255, 2, false, true), "0b11111111");
  EXPECT_EQ(v255.toText(36, false), "73");
  EXPECT_EQ(appended(APInt(16, Word(-255)), 16, true, true), "-0xFF");

  APInt p63 = APInt::minSignedOfWidth(64);
  EXPECT_EQ(p63.toText(10, true), "-9223372036854775808");
  EXPECT_EQ(p63.toText(10, false), "9223372036854775808");

  APInt p64(128, 0);
  p64.setBitAt(64);
  EXPECT_EQ(p64.toText(10, false), "18446744073709551616");
  EXPECT_EQ(p64.toText(16, false), "10000000000000000");
  APInt ones = APInt::allOnesOfWidth(128);
  EXPECT_EQ(ones.toText(10, true), "-1");
  EXPECT_EQ(ones.toText(10, false), "340282366920938463463374607431768211455");
  EXPECT_EQ(APInt::minSignedOfWidth(128).toText(16, true), "-80000000000000000000000000000000");
}

TEST(APIntText, AppendsAfterExistingTextAndLeavesTheInlineBuffer) {
  InlineString<40> text;
  text.append(StrView("value="));
  APInt big = APInt::allOnesOfWidth(200);
  big.appendText(text, 10, false, false);
  EXPECT_FALSE(text.isInline());
  EXPECT_EQ(text.str(), "value=" + expectedText(big, 10, false, false));
  text.push_back(';');
  APInt(8, 0xAB).appendText(text, 16, false, true);
  EXPECT_EQ(text.str(), "value=" + expectedText(big, 10, false, false) + ";0xAB");
}

TEST(APIntText, PrintToAndDebugDump) {
  std::string out;
  vorn::StringOutStream stream(out);
  APInt(8, 255).printTo(stream, true);
  stream << '|';
  APInt::allOnesOfWidth(100).printTo(stream, false);
  EXPECT_EQ(stream.str(), "-1|1267650600228229401496703205375");

  testsupport::ChildResult child = testsupport::runInChild([] {
    APInt(8, 255).debugDump();
    APInt::minSignedOfWidth(70).debugDump();
    return 0;
  });
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.err, "APInt(8b, 255u -1s)"
                       "APInt(70b, 590295810358705651712u -590295810358705651712s)");
  EXPECT_EQ(child.out, "");
}

// Every radix, both readings, the literal forms where they exist, over every width up to 130 and
// random widths up to 4300 (the digits on the heap included). Each case takes radix 10 and 16
// and two others; each radix comes round every few cases.
TEST(APIntText, ToTextAgainstGmp) {
  uint64_t seed = testSeed(0x7e470001);
  Generator g(seed);
  uint64_t cases = caseCount(700);
  for (uint64_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
    uint32_t width = i < 390 ? 1 + uint32_t(i) / 3 : g.width(4300);
    APInt v = g.apint(width);
    for (uint32_t radix : {10u, 16u, 2 + uint32_t(i) % 35, 2 + g.below(35)})
      for (bool isSigned : {false, true}) {
        bool literal = (radix == 2 || radix == 8 || radix == 10 || radix == 16) && g.oneIn(2);
        std::string got = appended(v, radix, isSigned, literal);
        std::string want = expectedText(v, radix, isSigned, literal);
        if (got != want) {
          ADD_FAILURE() << "appendText(" << hexOf(v) << ", radix " << radix << ", signed "
                        << isSigned << ", literal " << literal << ") = " << got << ", want "
                        << want << " [seed " << seed << ", case " << i << "]";
          return;
        }
        if (!literal && v.toText(radix, isSigned) != want) {
          ADD_FAILURE() << "toText differs from appendText [seed " << seed << ", case " << i << "]";
          return;
        }
      }
  }
  // The writer's split points, each value read as unsigned and as the magnitude of a negative
  // value one bit wider.
  for (const Mpz &magnitude : writeSplitValues(g)) {
    const uint32_t width = uint32_t(mpz_sizeinbase(magnitude, 2)) + 1;
    Mpz negated;
    mpz_neg(negated, magnitude);
    for (bool isSigned : {false, true}) {
      APInt v = toAPInt(isSigned ? negated : magnitude, width);
      std::string got = appended(v, 10, isSigned, false);
      std::string want = expectedText(v, 10, isSigned, false);
      EXPECT_EQ(got.size(), want.size());
      EXPECT_TRUE(got == want) << "appendText of a " << width << "-bit value, signed " << isSigned
                               << ": " << firstDifference(got, want) << " [seed " << seed << "]";
    }
  }
}

TEST(APIntText, ParseEdgeCases) {
  EXPECT_EQ(parsed(8, "-1", 10).asUint64(), 255u);
  EXPECT_EQ(parsed(8, "+12", 10).asUint64(), 12u);
  EXPECT_EQ(parsed(8, "ff", 16).asUint64(), 255u);
  EXPECT_EQ(parsed(8, "FF", 16).asUint64(), 255u);
  EXPECT_EQ(parsed(8, "z", 36).asUint64(), 35u);
  EXPECT_EQ(parsed(8, "Z", 36).asUint64(), 35u);
  EXPECT_EQ(parsed(8, "777", 8).asUint64(), 255u);
  EXPECT_EQ(parsed(8, "300", 10).asUint64(), 44u);
  EXPECT_EQ(parsed(1, "1", 2).asUint64(), 1u);
  const std::string tenTo50 = "1" + std::string(50, '0');
  EXPECT_EQ(parsed(200, tenTo50, 10).toText(10, false), tenTo50);
  // Text without digits is 0 and is not read past its end.
  for (const char *text : {"", "-", "+"}) {
    std::vector<char> exact(text, text + std::strlen(text)); // no terminator behind the bytes
    StrView view(exact.data(), uint32_t(exact.size()));
    EXPECT_TRUE(APInt(8, view, 10) == 0) << text;
    EXPECT_TRUE(APInt(100, view, 16) == 0) << text;
  }
  // The value takes the width given, whatever it had.
  APInt v(300, 77);
  v.parseText(12, "4095", 10);
  EXPECT_EQ(v.width(), 12u);
  EXPECT_EQ(v.asUint64(), 4095u);
  v.parseText(130, "-2", 10);
  EXPECT_TRUE(v == APInt::allOnesOfWidth(130) - APInt(130, 1));
}

// A random text of `digits` digits of `radix`, letters in random case, maybe signed.
std::string randomDigits(Generator &g, uint32_t radix, uint32_t digits, bool mixedCase) {
  static const char lower[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  static const char upper[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string text;
  uint32_t zeros = g.oneIn(5) ? g.below(5) : 0;
  text.append(zeros, '0');
  for (uint32_t i = 0; i < digits; ++i) {
    uint32_t d = g.oneIn(10) ? radix - 1 : g.below(radix);
    text += mixedCase && g.oneIn(2) ? lower[d] : upper[d];
  }
  return text;
}

// parseText with signs, both letter cases and more digits than the width holds, against
// mpz_set_str reduced modulo 2^width.
TEST(APIntText, ParseTextAgainstGmp) {
  uint64_t seed = testSeed(0x7e470002);
  Generator g(seed);
  uint64_t cases = caseCount(2500);
  const uint32_t radixes[] = {2, 8, 10, 16, 36};
  for (uint64_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
    uint32_t width = i % 3 == 0 ? 1 + g.below(130) : g.width(2100);
    uint32_t radix = radixes[g.below(5)];
    uint32_t digits = 1 + g.below(g.oneIn(3) ? width + 40 : width / 3 + 2);
    std::string body = randomDigits(g, radix, digits, true);
    std::string sign = g.oneIn(3) ? "-" : g.oneIn(4) ? "+" : "";
    Mpz want;
    ASSERT_EQ(mpz_set_str(want, body.c_str(), int(radix)), 0) << body;
    if (sign == "-") mpz_neg(want, want);
    APInt got = parsed(width, sign + body, radix);
    EXPECT_TRUE(sameValue(got, want, width))
        << "parseText(" << width << ", " << sign + body << ", " << radix << ") = " << hexOf(got)
        << " [seed " << seed << ", case " << i << "]";
  }
  // The parser's split points, each text at a width that holds it, except the nines at one that
  // keeps only part of them; the last text negative.
  std::vector<std::string> texts = parseSplitTexts(g);
  for (size_t i = 0; i < texts.size(); ++i) {
    Mpz value = fromDecimal(texts[i]);
    uint32_t width = uint32_t(mpz_sizeinbase(value, 2)) + 1;
    if (texts[i].find_first_not_of('9') == std::string::npos) width = width / 2 + 33;
    const bool negative = i + 1 == texts.size();
    if (negative) mpz_neg(value, value);
    APInt got = parsed(width, (negative ? "-" : "") + texts[i], 10);
    EXPECT_TRUE(sameValue(got, value, width))
        << "parseText of " << texts[i].size() << " digits at width " << width << ", negative "
        << negative << " [seed " << seed << "]";
  }
}

// toText then parseText (radixes 2, 8, 10, 16, 36, both readings) and toText then parseInteger
// (every radix) give the value back.
TEST(APIntText, RoundTrip) {
  uint64_t seed = testSeed(0x7e470003);
  Generator g(seed);
  uint64_t cases = caseCount(500);
  for (uint64_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
    uint32_t width = g.width(1500);
    APInt v = g.apint(width);
    for (uint32_t radix : {2u, 8u, 10u, 16u, 36u})
      for (bool isSigned : {false, true}) {
        std::string text = v.toText(radix, isSigned);
        EXPECT_TRUE(parsed(width, text, radix) == v)
            << text << " in radix " << radix << " [seed " << seed << ", case " << i << "]";
      }
    uint32_t radix = 2 + g.below(35);
    std::string text = v.toText(radix, false);
    APInt back(1 + g.below(width), 0);
    ASSERT_FALSE(vorn::parseInteger(text, radix, back)) << text << " in radix " << radix;
    EXPECT_TRUE(back.zeroResizedTo(width) == v && back.significantBits() == v.significantBits())
        << text << " in radix " << radix << " [seed " << seed << ", case " << i << "]";
  }
  // The writer's split points as negative values through their signed decimal text.
  for (const Mpz &magnitude : writeSplitValues(g)) {
    const uint32_t width = uint32_t(mpz_sizeinbase(magnitude, 2)) + 1;
    Mpz negated;
    mpz_neg(negated, magnitude);
    APInt v = toAPInt(negated, width);
    EXPECT_TRUE(parsed(width, v.toText(10, true), 10) == v)
        << "a " << width << "-bit value [seed " << seed << "]";
  }
}

// The powers of ten that split wide decimal text are made on first use, for the whole process.
// Eight threads needing every level at the same moment each build some of them and race to
// publish; all must write and read with whole powers (the thread sanitizer build runs this too).
TEST(APIntText, DecimalPowersFirstUsedFromEightThreads) {
  Mpz z;
  mpz_ui_pow_ui(z, 3, 13000); // 20605 bits: split through ten levels of powers
  const uint32_t width = uint32_t(mpz_sizeinbase(z, 2));
  const APInt v = toAPInt(z, width);
  const std::string want = gmpText(z, 10);
  const int kThreads = 8;
  std::atomic<int> waiting{kThreads};
  std::vector<std::string> written(kThreads);
  std::vector<char> readBack(kThreads); // not vector<bool>: each thread writes its own element
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (--waiting; waiting.load() > 0;) {
      }
      if (t % 2)
        readBack[t] = APInt(width, StrView(want), 10) == v;
      written[t] = v.toText(10, false);
      if (t % 2 == 0) readBack[t] = APInt(width, StrView(want), 10) == v;
    });
  for (std::thread &t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(written[t] == want) << "thread " << t << ": " << firstDifference(written[t], want);
    EXPECT_TRUE(readBack[t]) << "thread " << t;
  }
}

TEST(APIntText, ParseIntegerRules) {
  APInt r(16, 5);
  EXPECT_FALSE(vorn::parseInteger("0000", 10, r));
  EXPECT_EQ(r.width(), 64u);
  EXPECT_TRUE(r == 0);

  // Twenty hexadecimal digits: 80 bits for a narrower result, the result's width when wider.
  r = APInt(8, 0);
  EXPECT_FALSE(vorn::parseInteger("0x123456789abcdef12345", 0, r));
  EXPECT_EQ(r.width(), 80u);
  EXPECT_EQ(r.toText(16, false), "123456789ABCDEF12345");
  r = APInt(200, 9);
  EXPECT_FALSE(vorn::parseInteger("0x123456789ABCDEF12345", 0, r));
  EXPECT_EQ(r.width(), 200u);
  EXPECT_EQ(r.toText(16, false), "123456789ABCDEF12345");

  // Radix detection and digits of either case.
  struct {
    const char *text;
    uint32_t radix;
    uint64_t value;
  } good[] = {{"0b101", 0, 5}, {"0o17", 0, 15}, {"017", 0, 15}, {"0x1f", 0, 31},
              {"0", 0, 0},     {"99", 0, 99},   {"Zz", 36, 35 * 36 + 35}, {"0012", 3, 5}};
  for (auto &c : good) {
    r = APInt(8, 0);
    EXPECT_FALSE(vorn::parseInteger(c.text, c.radix, r)) << c.text;
    EXPECT_EQ(r.asUint64(), c.value) << c.text;
  }

  // Failures: no digits, a bad digit (the value so far stays), a bad radix, a sign.
  r = APInt(8, 0);
  EXPECT_TRUE(vorn::parseInteger("12a", 10, r));
  EXPECT_EQ(r.asUint64(), 12u);
  for (const char *text : {"", "0x", "0b", "-5", "+5", " 5", "5 "}) {
    r = APInt(8, 0);
    EXPECT_TRUE(vorn::parseInteger(text, 0, r)) << '"' << text << '"';
  }
  EXPECT_TRUE(vorn::parseInteger("12", 1, r));
  EXPECT_TRUE(vorn::parseInteger("12", 37, r));
  EXPECT_TRUE(vorn::parseInteger("2", 2, r));
  EXPECT_TRUE(vorn::parseInteger("0x", 16, r)); // no detection with a radix given
}

// Random texts in every radix against mpz_set_str, with the width rule.
TEST(APIntText, ParseIntegerAgainstGmp) {
  uint64_t seed = testSeed(0x7e470004);
  Generator g(seed);
  uint64_t cases = caseCount(1500);
  for (uint64_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
    uint32_t radix = 2 + g.below(35);
    std::string text = randomDigits(g, radix, 1 + g.below(g.oneIn(4) ? 400 : 30), true);
    uint32_t startWidth = 1 + g.below(g.oneIn(2) ? 64 : 600);
    APInt r(startWidth, 1);
    ASSERT_FALSE(vorn::parseInteger(text, radix, r)) << text << " in radix " << radix;
    Mpz want;
    ASSERT_EQ(mpz_set_str(want, text.c_str(), int(radix)), 0);
    uint32_t bitsPerDigit = 1;
    while ((1u << bitsPerDigit) < radix) ++bitsPerDigit;
    size_t significant = text.find_first_not_of('0');
    uint32_t needed = bitsPerDigit * uint32_t(text.size() - significant);
    uint32_t width = significant == std::string::npos ? 64 : std::max(startWidth, needed);
    EXPECT_TRUE(sameValue(r, want, width))
        << "parseInteger(" << text << ", " << radix << ") = " << hexOf(r) << ", want width "
        << width << " [seed " << seed << ", case " << i << "]";
  }
}

TEST(APIntText, BitsNeededEdgeCases) {
  EXPECT_EQ(APInt::bitsNeededForText("255", 10), 8u);
  EXPECT_EQ(APInt::bitsNeededForText("-128", 10), 9u);
  EXPECT_EQ(APInt::bitsNeededForText("0", 10), 1u);
  EXPECT_EQ(APInt::bitsNeededForText("-0", 10), 2u);
  EXPECT_EQ(APInt::bitsNeededForText("1010", 2), 4u);
  EXPECT_EQ(APInt::bitsNeededForText("-1010", 2), 5u);
  EXPECT_EQ(APInt::bitsNeededForText("ff", 16), 8u);
  EXPECT_EQ(APInt::bitsNeededForText("007", 8), 9u);
  // Two digits of radix 36 reach 1295, which needs 11 bits.
  EXPECT_EQ(APInt::bitsNeededForText("zz", 36), 11u);
  EXPECT_EQ(APInt::bitsNeededForText("-zz", 36), 12u);
  EXPECT_EQ(APInt::bitsNeededForText("z", 36), 6u);
  // No digits: as "0".
  EXPECT_EQ(APInt::bitsNeededForText("", 10), 1u);
  EXPECT_EQ(APInt::bitsNeededForText("-", 16), 5u);
}

// Radix 10 and 36: the exact bit length of the number; the powers of two: the digits' bits.
TEST(APIntText, BitsNeededAgainstGmp) {
  uint64_t seed = testSeed(0x7e470005);
  Generator g(seed);
  uint64_t cases = caseCount(2000);
  const uint32_t radixes[] = {2, 8, 10, 16, 36};
  for (uint64_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
    uint32_t radix = radixes[g.below(5)];
    uint32_t digits = i < 200 ? 1 + uint32_t(i) % 8 : 1 + g.below(g.oneIn(3) ? 300 : 25);
    std::string body = randomDigits(g, radix, digits, true);
    bool negative = g.oneIn(2);
    uint32_t want;
    if (radix == 10 || radix == 36) {
      Mpz z;
      mpz_set_str(z, body.c_str(), int(radix));
      want = sign(z) ? uint32_t(mpz_sizeinbase(z, 2)) : 1;
    } else {
      want = uint32_t(body.size()) * (radix == 2 ? 1 : radix == 8 ? 3 : 4);
    }
    want += negative;
    std::string text = (negative ? "-" : g.oneIn(3) ? "+" : "") + body;
    EXPECT_EQ(APInt::bitsNeededForText(text, radix), want)
        << text << " in radix " << radix << " [seed " << seed << ", case " << i << "]";
  }
}

TEST(APIntText, DigitValues) {
  const uint32_t none = ~0u;
  EXPECT_EQ(APInt::digitValue('0', 2), 0u);
  EXPECT_EQ(APInt::digitValue('2', 2), none);
  EXPECT_EQ(APInt::digitValue('7', 8), 7u);
  EXPECT_EQ(APInt::digitValue('8', 8), none);
  EXPECT_EQ(APInt::digitValue('9', 10), 9u);
  EXPECT_EQ(APInt::digitValue('a', 10), none);
  EXPECT_EQ(APInt::digitValue('a', 16), 10u);
  EXPECT_EQ(APInt::digitValue('F', 16), 15u);
  EXPECT_EQ(APInt::digitValue('g', 16), none);
  EXPECT_EQ(APInt::digitValue('G', 16), none);
  EXPECT_EQ(APInt::digitValue('z', 36), 35u);
  EXPECT_EQ(APInt::digitValue('Z', 36), 35u);
  EXPECT_EQ(APInt::digitValue('9', 36), 9u);
  // Letters are digits only in radix 16 and 36, and no byte after '9' is a digit anywhere.
  EXPECT_EQ(APInt::digitValue('a', 12), none);
  EXPECT_EQ(APInt::digitValue(':', 12), none);
  EXPECT_EQ(APInt::digitValue(';', 36), none);
  for (int c = 0; c < 256; ++c)
    for (uint32_t radix = 2; radix <= 36; ++radix) {
      uint32_t d = APInt::digitValue(char(c), radix);
      if (d != none) {
        EXPECT_LT(d, radix);
        EXPECT_TRUE(std::isalnum(c)) << c;
      }
    }
}

TEST(APIntText, HashingIgnoresTheWidth) {
  EXPECT_EQ(vorn::hashOf(APInt(8, 5)), vorn::hashOf(APInt(64, 5)));
  Word five = 5;
  EXPECT_EQ(vorn::hashOf(APInt(8, 5)), vorn::hashBytes(&five, &five + 1));
  EXPECT_EQ(vorn::hashOf(APInt(8, 5)), vorn::hashCombine(uint64_t(5)));
  APInt wide = APInt::allOnesOfWidth(200);
  const Word words[] = {~Word(0), ~Word(0), ~Word(0), 0xFF};
  EXPECT_EQ(vorn::hashOf(wide), vorn::hashBytes(words, words + 4));
  EXPECT_EQ(vorn::hashOf(wide), vorn::hashOf(wide.zeroExtendedTo(250)));
  EXPECT_NE(vorn::hashOf(APInt(8, 5)), vorn::hashOf(APInt(8, 6)));
  EXPECT_NE(vorn::hashOf(APInt(64, 5)), vorn::hashOf(APInt(128, 5))); // two words, not one
}

TEST(APIntText, ProfileWords) {
  auto words = [](const APInt &v) {
    vorn::NodeProfile p;
    v.addToProfile(p);
    return std::vector<uint32_t>(p.begin(), p.end());
  };
  EXPECT_EQ(words(APInt(8, 5)), (std::vector<uint32_t>{8, 5}));
  EXPECT_EQ(words(APInt(128, 1)), (std::vector<uint32_t>{128, 1, 0}));
  const Word two[] = {0x100000002ull, 0x300000000ull};
  EXPECT_EQ(words(APInt(100, two)), (std::vector<uint32_t>{100, 2, 1, 0, 3}));
  EXPECT_EQ(words(APInt(64, 0)), (std::vector<uint32_t>{64, 0}));
}

TEST(APIntTextDeathTest, LiteralFormOfAnotherRadix) {
  // Not a checked obligation: every build stops here.
  EXPECT_DEATH(appended(APInt(8, 1), 3, false, true), "UNREACHABLE executed!");
  EXPECT_DEATH(appended(APInt(100, 0), 36, false, true), "UNREACHABLE executed!");
}

#ifndef NDEBUG
TEST(APIntTextDeathTest, BrokenObligations) {
  const char *badDigit = "vorn: APInt::parseText: a character is no digit of the radix";
  EXPECT_DEATH(parsed(8, "12a", 10), badDigit);
  EXPECT_DEATH(parsed(8, "--1", 10), badDigit);
  EXPECT_DEATH(parsed(8, "11", 3), "vorn: APInt::parseText: radix is not 2, 8, 10, 16 or 36");
  EXPECT_DEATH(parsed(0, "1", 10), "vorn: APInt::parseText: width is zero");
  EXPECT_DEATH(APInt(8, 1).toText(37, false),
               "vorn: APInt::appendText: radix is not between 2 and 36");
  EXPECT_DEATH(APInt::bitsNeededForText("1", 7),
               "vorn: APInt::bitsNeededForText: radix is not 2, 8, 10, 16 or 36");
}
#endif

} // namespace
