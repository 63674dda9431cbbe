// The word-array functions against GMP on raw arrays of random lengths (including 0), with
// operands biased toward edge patterns. Arrays are heap blocks of exactly their length, so the
// sanitizer build catches a word read or written past either end.

#include "support/apint/Words.h"

#include "support/apint/Digits.h"

#include "tests/support/apint/gmp_reference.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace apinttest;
namespace words = vorn::words;

namespace {

using Array = std::vector<Word>;

const uint32_t kNone = ~uint32_t(0);

Array randomArray(Generator &g, uint32_t count) {
  if (count == 0) return Array();
  Mpz z;
  g.value(z, 64 * count);
  return toWords(z, count);
}

Mpz number(const Array &a) {
  Mpz z;
  fromWords(z, a.data(), uint32_t(a.size()));
  return z;
}

std::string show(const Array &a) {
  std::string s = "[";
  for (size_t i = 0; i < a.size(); ++i) {
    char buf[24];
    snprintf(buf, sizeof buf, "%s%016llx", i ? " " : "", (unsigned long long)a[i]);
    s += buf;
  }
  return s + "] (low word first)";
}

// z modulo 2^(64·count) as words.
Array wordsOf(mpz_srcptr z, uint32_t count) { return toWords(z, count); }

// Whether z >= 2^bits.
bool atLeastPowerOfTwo(mpz_srcptr z, unsigned long bits) {
  return sign(z) > 0 && mpz_sizeinbase(z, 2) > bits;
}

class WordsTest : public ::testing::Test {
protected:
  void SetUp() override { seed = testSeed(0x5eed0001); }
  std::string context(uint64_t index) const {
    return " [seed " + std::to_string(seed) + ", case " + std::to_string(index) + "]";
  }
  uint64_t seed = 0;
};

TEST_F(WordsTest, AddAndSubtractWithCarryAgainstGmp) {
  Generator g(seed);
  for (uint64_t i = 0, n = caseCount(2000); i < n && !HasFailure(); ++i) {
    uint32_t count = g.below(9);
    Array lhs = randomArray(g, count), rhs = randomArray(g, count);
    Word carry = g.below(2);
    Mpz want = number(lhs);
    mpz_add(want, want, number(rhs));
    mpz_add_ui(want, want, carry);
    Array dst = lhs;
    Word out = words::addWithCarry(dst.data(), rhs.data(), carry, count);
    std::string what = " adding " + show(lhs) + " + " + show(rhs) + " + " + std::to_string(carry);
    EXPECT_EQ(dst, wordsOf(want, count)) << what << context(i);
    EXPECT_EQ(out, Word(atLeastPowerOfTwo(want, 64ul * count) ? 1 : 0)) << what << context(i);

    mpz_sub(want, number(lhs), number(rhs));
    mpz_sub_ui(want, want, carry);
    dst = lhs;
    out = words::subtractWithBorrow(dst.data(), rhs.data(), carry, count);
    what = " subtracting " + show(lhs) + " - " + show(rhs) + " - " + std::to_string(carry);
    EXPECT_EQ(dst, wordsOf(want, count)) << what << context(i);
    EXPECT_EQ(out, Word(sign(want) < 0 ? 1 : 0)) << what << context(i);
  }
}

TEST_F(WordsTest, CarryRules) {
  // Count 0 hands the incoming carry or borrow back.
  EXPECT_EQ(words::addWithCarry(nullptr, nullptr, 1, 0), 1u);
  EXPECT_EQ(words::addWithCarry(nullptr, nullptr, 0, 0), 0u);
  EXPECT_EQ(words::subtractWithBorrow(nullptr, nullptr, 1, 0), 1u);
  // A carry into all ones plus all ones: every word stays all ones and the carry goes out.
  Array ones(3, ~Word(0));
  Array dst = ones;
  EXPECT_EQ(words::addWithCarry(dst.data(), ones.data(), 1, 3), 1u);
  EXPECT_EQ(dst, ones);
  // A borrow out of 0 - all ones - 1 leaves 0 everywhere.
  Array zeros(3, 0);
  dst = zeros;
  EXPECT_EQ(words::subtractWithBorrow(dst.data(), ones.data(), 1, 3), 1u);
  EXPECT_EQ(dst, zeros);
  // Increment and decrement report only when every word took part.
  dst = ones;
  EXPECT_EQ(words::increment(dst.data(), 3), 1u);
  EXPECT_EQ(dst, zeros);
  EXPECT_EQ(words::decrement(dst.data(), 3), 1u);
  EXPECT_EQ(dst, ones);
  EXPECT_EQ(words::increment(nullptr, 0), 1u);
  EXPECT_EQ(words::decrement(nullptr, 0), 1u);
  Array partial = {~Word(0), 5};
  EXPECT_EQ(words::increment(partial.data(), 2), 0u);
  EXPECT_EQ(partial, (Array{0, 6}));
  EXPECT_EQ(words::decrement(partial.data(), 2), 0u);
  EXPECT_EQ(partial, (Array{~Word(0), 5}));
}

TEST_F(WordsTest, IncrementDecrementNegateAgainstGmp) {
  Generator g(seed + 1);
  for (uint64_t i = 0, n = caseCount(1500); i < n && !HasFailure(); ++i) {
    uint32_t count = g.below(7);
    Array a = randomArray(g, count);
    Mpz v = number(a), want;
    Array dst = a;
    Word out = words::increment(dst.data(), count);
    mpz_add_ui(want, v, 1);
    EXPECT_EQ(dst, wordsOf(want, count)) << " incrementing " << show(a) << context(i);
    EXPECT_EQ(out, Word(atLeastPowerOfTwo(want, 64ul * count) || count == 0)) << context(i);
    dst = a;
    out = words::decrement(dst.data(), count);
    mpz_sub_ui(want, v, 1);
    EXPECT_EQ(dst, wordsOf(want, count)) << " decrementing " << show(a) << context(i);
    EXPECT_EQ(out, Word(sign(v) == 0)) << context(i);
    dst = a;
    words::negate(dst.data(), count);
    mpz_neg(want, v);
    EXPECT_EQ(dst, wordsOf(want, count)) << " negating " << show(a) << context(i);
  }
}

TEST_F(WordsTest, MultiplyWordAddAgainstGmp) {
  Generator g(seed + 2);
  for (uint64_t i = 0, n = caseCount(2000); i < n && !HasFailure(); ++i) {
    uint32_t srcCount = g.below(7);
    uint32_t dstCount = g.below(srcCount + 2);
    bool accumulate = g.oneIn(2), inPlace = g.oneIn(4) && dstCount <= srcCount + 1;
    Array src = randomArray(g, srcCount);
    Word multiplier = randomArray(g, 1)[0], carry = g.oneIn(3) ? 0 : randomArray(g, 1)[0];
    Array dst = randomArray(g, dstCount);
    if (inPlace) {
      // dst is src itself, grown by a word when the product needs it.
      src.resize(dstCount > srcCount ? dstCount : srcCount);
      if (dstCount > srcCount) src.back() = dst.empty() ? 0 : dst.back();
      for (uint32_t k = 0; k < dstCount && k < srcCount; ++k) dst[k] = src[k];
    }
    Mpz full = number(Array(src.begin(), src.begin() + srcCount));
    mpz_mul(full, full, number(Array(1, multiplier)));
    mpz_add(full, full, number(Array(1, carry)));
    // The word past the source, when there is one, is written rather than added to.
    if (accumulate) mpz_add(full, full, number(Array(dst.begin(), dst.begin() + (dstCount < srcCount ? dstCount : srcCount))));
    int want = dstCount <= srcCount && atLeastPowerOfTwo(full, 64ul * dstCount);
    std::string what = " src " + show(src) + " × " + std::to_string(multiplier) + " + " +
                       std::to_string(carry) + ", dstCount " + std::to_string(dstCount) +
                       (accumulate ? " accumulating" : "") + (inPlace ? " in place" : "");
    int got;
    Array result;
    if (inPlace) {
      got = words::multiplyWordAdd(src.data(), src.data(), multiplier, carry, srcCount, dstCount,
                                   accumulate);
      result.assign(src.begin(), src.begin() + dstCount);
    } else {
      got = words::multiplyWordAdd(dst.data(), src.data(), multiplier, carry, srcCount, dstCount,
                                   accumulate);
      result = dst;
    }
    EXPECT_EQ(result, wordsOf(full, dstCount)) << what << context(i);
    EXPECT_EQ(got, want) << what << context(i);
  }
}

// A word count for the multiplications: small, or near the size where the digit kernels start to
// split their operands, or where the split halves split again (one and two levels down), so that
// both methods, the odd halves and the unbalanced pieces are reached.
uint32_t multiplySize(Generator &g, uint32_t smallBelow) {
  if (g.oneIn(2)) return g.below(smallBelow);
  const uint32_t threshold = (vorn::digits::kKaratsubaThreshold + vorn::digits::kDigitsPerWord - 1) /
                             vorn::digits::kDigitsPerWord;
  return (threshold << g.below(3)) + g.below(5) - 2;
}

TEST_F(WordsTest, MultiplyTruncatedAndFullAgainstGmp) {
  Generator g(seed + 3);
  for (uint64_t i = 0, n = caseCount(1500); i < n && !HasFailure(); ++i) {
    uint32_t count = multiplySize(g, 7);
    Array lhs = randomArray(g, count), rhs = randomArray(g, count), dst(count, 0xdead);
    Mpz product = number(lhs);
    mpz_mul(product, product, number(rhs));
    int got = words::multiplyTruncated(dst.data(), lhs.data(), rhs.data(), count);
    EXPECT_EQ(dst, wordsOf(product, count)) << show(lhs) << " × " << show(rhs) << context(i);
    EXPECT_EQ(got, int(atLeastPowerOfTwo(product, 64ul * count))) << context(i);

    uint32_t lc = multiplySize(g, 6), rc = multiplySize(g, 6);
    if (g.oneIn(4)) lc = 3 * rc + g.below(4); // several pieces of the shorter operand's length
    if (lc + rc == 0) rc = 1;
    lhs = randomArray(g, lc);
    rhs = randomArray(g, rc);
    Array full(lc + rc, 0xdead);
    mpz_mul(product, number(lhs), number(rhs));
    uint32_t length = words::multiplyFull(full.data(), lhs.data(), rhs.data(), lc, rc);
    EXPECT_EQ(full, wordsOf(product, lc + rc)) << show(lhs) << " × " << show(rhs) << context(i);
    EXPECT_EQ(length, lc + rc - (full.back() == 0 ? 1 : 0)) << context(i);
  }
}

// The division of a two-digit number by one normalised digit, by the machine's division and by a
// reciprocal (made at run time, or by the compiler), against the double-width type's division:
// divisors at both ends of the normalised range and random ones, dividends at the estimate's
// correction edges (high = d - 1, low all ones) and random ones.
template <typename Half, typename Full>
void checkDigitDivision(Generator &g, const std::string &at) {
  using Divider = vorn::digits::ReciprocalDivider<Half, Full>;
  constexpr unsigned kBits = 8 * sizeof(Half);
  constexpr Half kTop = Half(1) << (kBits - 1), kOnes = Half(~Half(0));
  constexpr Divider compiled(kTop | 12345);
  std::vector<Half> divisors = {kTop, Half(kTop + 1), Half(kTop | 12345), Half(kOnes - 1), kOnes};
  for (int i = 0; i < 20; ++i) divisors.push_back(Half(g.next()) | kTop);
  for (Half d : divisors) {
    const Divider divider(d);
    std::vector<Half> highs = {0, 1, Half(d / 2), Half(d - 1)};
    std::vector<Half> lows = {0, 1, Half(kOnes - 1), kOnes};
    for (int i = 0; i < 6; ++i) {
      highs.push_back(Half(Half(g.next()) % d));
      lows.push_back(Half(g.next()));
    }
    for (Half high : highs)
      for (Half low : lows) {
        const Full n = (Full(high) << kBits) | low;
        const Half q = Half(n / d), r = Half(n % d);
        Half rem = 0;
        ASSERT_EQ(divider.divide(high, low, rem), q) << kBits << "-bit " << high << ":" << low
                                                     << " / " << d << at;
        ASSERT_EQ(rem, r) << kBits << "-bit " << high << ":" << low << " / " << d << at;
        ASSERT_EQ(vorn::digits::divideWide(high, low, d, rem), q) << high << ":" << low << at;
        ASSERT_EQ(rem, r) << high << ":" << low << " / " << d << at;
        if (d == Half(kTop | 12345)) {
          ASSERT_EQ(compiled.divide(high, low, rem), q) << "compiled reciprocal" << at;
          ASSERT_EQ(rem, r) << "compiled reciprocal" << at;
        }
      }
  }
}

TEST_F(WordsTest, DigitDivisionAgainstTheWideType) {
  Generator g(seed + 9);
  checkDigitDivision<uint32_t, uint64_t>(g, context(0));
#ifdef __SIZEOF_INT128__
  checkDigitDivision<uint64_t, unsigned __int128>(g, context(1));
#endif
}

TEST_F(WordsTest, MultiplicationRules) {
  // The full product's length looks at the top word only: 1 × 1 in two words each is 3.
  Array one = {1, 0}, product(4, 7);
  EXPECT_EQ(words::multiplyFull(product.data(), one.data(), one.data(), 2, 2), 3u);
  EXPECT_EQ(product, (Array{1, 0, 0, 0}));
  // (2^64 - 1)² in one word: 1, with overflow.
  Array ones = {~Word(0)}, dst = {0};
  EXPECT_EQ(words::multiplyTruncated(dst.data(), ones.data(), ones.data(), 1), 1);
  EXPECT_EQ(dst[0], 1u);
  // A zero multiplier without a carry reports no overflow, whatever lies beyond dstCount.
  Array src = {3, 4, 5};
  Array out = {9, 9};
  EXPECT_EQ(words::multiplyWordAdd(out.data(), src.data(), 0, 0, 3, 2, true), 0);
  EXPECT_EQ(out, (Array{9, 9}));
  EXPECT_EQ(words::multiplyWordAdd(out.data(), src.data(), 0, 0, 3, 2, false), 0);
  EXPECT_EQ(out, (Array{0, 0}));
  // With dstCount = srcCount + 1 the last carry is written into the extra word.
  Array wide = {1, 1, 1, 1};
  EXPECT_EQ(words::multiplyWordAdd(wide.data(), src.data(), ~Word(0), 0, 3, 4, false), 0);
  Mpz want = number(src);
  mpz_mul(want, want, number(Array{~Word(0)}));
  EXPECT_EQ(wide, wordsOf(want, 4));
}

TEST_F(WordsTest, DivideBitwiseAgainstGmp) {
  Generator g(seed + 4);
  for (uint64_t i = 0, n = caseCount(1500); i < n && !HasFailure(); ++i) {
    uint32_t count = 1 + g.below(5);
    Array lhs = randomArray(g, count), rhs = randomArray(g, count);
    if (g.oneIn(4)) rhs.assign(count, 0), rhs[0] = 1 + g.below(9);
    Array quotient = lhs, remainder(count, 0xdead), scratch(count, 0xbeef);
    int got = words::divideBitwise(quotient.data(), rhs.data(), remainder.data(), scratch.data(),
                                   count);
    std::string what = " dividing " + show(lhs) + " by " + show(rhs);
    if (sign(number(rhs)) == 0) {
      EXPECT_EQ(got, 1) << what << context(i);
      EXPECT_EQ(quotient, lhs) << what << context(i);
      EXPECT_EQ(remainder, Array(count, 0xdead)) << what << context(i);
      continue;
    }
    Mpz q, r;
    mpz_tdiv_qr(q, r, number(lhs), number(rhs));
    EXPECT_EQ(got, 0) << what << context(i);
    EXPECT_EQ(quotient, wordsOf(q, count)) << what << context(i);
    EXPECT_EQ(remainder, wordsOf(r, count)) << what << context(i);
  }
  // A zero divisor, and a divisor larger than the dividend.
  Array lhs = {5, 6}, zero = {0, 0}, big = {0, 7}, q = lhs, r = {1, 2}, s = {3, 4};
  EXPECT_EQ(words::divideBitwise(q.data(), zero.data(), r.data(), s.data(), 2), 1);
  EXPECT_EQ(q, lhs);
  EXPECT_EQ(r, (Array{1, 2}));
  EXPECT_EQ(words::divideBitwise(q.data(), big.data(), r.data(), s.data(), 2), 0);
  EXPECT_EQ(q, zero);
  EXPECT_EQ(r, lhs);
}

TEST_F(WordsTest, ShiftsAgainstGmp) {
  Generator g(seed + 5);
  for (uint64_t i = 0, n = caseCount(2000); i < n && !HasFailure(); ++i) {
    uint32_t count = g.below(7);
    Array a = randomArray(g, count);
    uint32_t bits = count ? g.amount(64 * count) : g.below(130);
    Mpz want;
    Array dst = a;
    words::shiftLeft(dst.data(), count, bits);
    mpz_mul_2exp(want, number(a), bits);
    EXPECT_EQ(dst, wordsOf(want, count)) << show(a) << " << " << bits << context(i);
    dst = a;
    words::shiftRight(dst.data(), count, bits);
    mpz_fdiv_q_2exp(want, number(a), bits);
    EXPECT_EQ(dst, wordsOf(want, count)) << show(a) << " >> " << bits << context(i);
  }
}

TEST_F(WordsTest, LogicCompareAndBitsAgainstGmp) {
  Generator g(seed + 6);
  for (uint64_t i = 0, n = caseCount(1500); i < n && !HasFailure(); ++i) {
    uint32_t count = g.below(7);
    Array a = randomArray(g, count), b = g.oneIn(4) ? a : randomArray(g, count);
    Mpz ma = number(a), mb = number(b), want;
    std::string what = " " + show(a) + ", " + show(b);
    Array dst = a;
    words::andInPlace(dst.data(), b.data(), count);
    mpz_and(want, ma, mb);
    EXPECT_EQ(dst, wordsOf(want, count)) << "and" << what << context(i);
    dst = a;
    words::orInPlace(dst.data(), b.data(), count);
    mpz_ior(want, ma, mb);
    EXPECT_EQ(dst, wordsOf(want, count)) << "or" << what << context(i);
    dst = a;
    words::xorInPlace(dst.data(), b.data(), count);
    mpz_xor(want, ma, mb);
    EXPECT_EQ(dst, wordsOf(want, count)) << "xor" << what << context(i);
    dst = a;
    words::complement(dst.data(), count);
    mpz_com(want, ma);
    EXPECT_EQ(dst, wordsOf(want, count)) << "complement" << what << context(i);
    int c = mpz_cmp(ma, mb);
    EXPECT_EQ(words::compare(a.data(), b.data(), count), c < 0 ? -1 : c > 0 ? 1 : 0)
        << "compare" << what << context(i);
    EXPECT_EQ(words::isZero(a.data(), count), sign(ma) == 0) << what << context(i);

    uint32_t lowest = words::lowestSetBit(a.data(), count);
    EXPECT_EQ(lowest, sign(ma) ? uint32_t(mpz_scan1(ma, 0)) : kNone) << what << context(i);
    if (count) {
      uint32_t highest = words::highestSetBit(a.data(), count);
      EXPECT_EQ(highest, sign(ma) ? uint32_t(mpz_sizeinbase(ma, 2) - 1) : kNone)
          << what << context(i);
      uint32_t bit = g.below(64 * count);
      EXPECT_EQ(words::testBit(a.data(), bit), mpz_tstbit(ma, bit) != 0) << what << context(i);
      dst = a;
      words::setBit(dst.data(), bit);
      mpz_set(want, ma);
      mpz_setbit(want, bit);
      EXPECT_EQ(dst, wordsOf(want, count)) << "setBit " << bit << what << context(i);
      words::clearBit(dst.data(), bit);
      mpz_clrbit(want, bit);
      EXPECT_EQ(dst, wordsOf(want, count)) << "clearBit " << bit << what << context(i);

      Word value = g.next();
      dst = a;
      words::assignWord(dst.data(), value, count);
      EXPECT_EQ(dst, wordsOf(number(Array(1, value)), count)) << context(i);
      uint32_t low = g.below(64 * count + 1);
      dst = a;
      words::setLowBits(dst.data(), count, low);
      mpz_set_ui(want, 0);
      mpz_setbit(want, low);
      mpz_sub_ui(want, want, 1);
      EXPECT_EQ(dst, wordsOf(want, count)) << "setLowBits " << low << context(i);
    }
    dst.assign(count, 0);
    words::copy(dst.data(), a.data(), count);
    EXPECT_EQ(dst, a) << context(i);
  }
  Array zero = {0, 0};
  EXPECT_EQ(words::lowestSetBit(zero.data(), 2), kNone);
  EXPECT_EQ(words::lowestSetBit(zero.data(), 0), kNone);
  EXPECT_EQ(words::highestSetBit(zero.data(), 2), kNone);
  EXPECT_EQ(words::compare(nullptr, nullptr, 0), 0);
  EXPECT_TRUE(words::isZero(nullptr, 0));
}

TEST_F(WordsTest, ExtractBitsAgainstGmp) {
  Generator g(seed + 7);
  for (uint64_t i = 0, n = caseCount(2000); i < n && !HasFailure(); ++i) {
    uint32_t srcCount = 1 + g.below(6);
    Array src = randomArray(g, srcCount);
    uint32_t lsb = g.below(64 * srcCount + 1);
    uint32_t bits = g.below(64 * srcCount - lsb + 1);
    if (g.oneIn(6)) lsb = 64 * g.below(srcCount), bits = g.below(64 * srcCount - lsb + 1);
    uint32_t dstCount = wordsFor(bits) + g.below(3);
    Array dst(dstCount, 0x5a5a5a5a5a5a5a5aull);
    words::extractBits(dst.data(), dstCount, src.data(), bits, lsb);
    Mpz want;
    mpz_fdiv_q_2exp(want, number(src), lsb);
    mpz_fdiv_r_2exp(want, want, bits);
    EXPECT_EQ(dst, wordsOf(want, dstCount))
        << "extracting " << bits << " bits at " << lsb << " of " << show(src) << context(i);
  }
}

} // namespace
