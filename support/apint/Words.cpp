#include "support/apint/Words.h"

#include "support/apint/Digits.h"
#include "support/apint/Scratch.h"
#include "support/runtime/Checks.h"

#include <cstring>
#include <utility>

namespace vorn {
namespace words {

namespace {

constexpr uint32_t kNone = ~uint32_t(0);
// Digits of working space kept on the stack: a multiplication of up to 4096 bits needs no more.
constexpr uint32_t kStackDigits = digits::scratchFor(digits::kStackOperandDigits);

// The low n bits set, for 1 <= n <= 64.
inline Word lowMask(uint32_t n) { return ~Word(0) >> (64 - n); }

// Whether the word ranges [a, a + an) and [b, b + bn) share a word. Compared as integers, since
// the arrays are unrelated objects.
inline bool overlaps(const Word *a, uint32_t an, const Word *b, uint32_t bn) {
  uintptr_t pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
  return an && bn && pa < pb + uintptr_t(bn) * sizeof(Word) && pb < pa + uintptr_t(an) * sizeof(Word);
}

// The 128-bit product a·b: the low word is returned, the high word stored in `high`. Built from
// four 32×32-bit products so that no 128-bit type is needed (i686 has none).
inline Word multiplyHalves(Word a, Word b, Word &high) {
  Word aLo = a & 0xffffffffu, aHi = a >> 32, bLo = b & 0xffffffffu, bHi = b >> 32;
  Word low = aLo * bLo;
  Word hi = aHi * bHi;
  Word cross1 = aLo * bHi, cross2 = aHi * bLo;
  hi += cross1 >> 32;
  Word t = low + (cross1 << 32);
  hi += t < low;
  low = t;
  hi += cross2 >> 32;
  t = low + (cross2 << 32);
  hi += t < low;
  high = hi;
  return t;
}

} // namespace

void assignWord(Word *dst, Word value, uint32_t count) {
  VORN_CHECK(count >= 1, "words::assignWord", "count is zero");
  dst[0] = value;
  for (uint32_t i = 1; i < count; ++i) dst[i] = 0;
}

void copy(Word *dst, const Word *src, uint32_t count) {
  VORN_CHECK(dst == src || !overlaps(dst, count, src, count), "words::copy",
             "source and destination overlap");
  if (count && dst != src) std::memcpy(dst, src, size_t(count) * sizeof(Word));
}

bool isZero(const Word *src, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (src[i]) return false;
  return true;
}

bool testBit(const Word *src, uint32_t bit) { return (src[bit / 64] >> (bit % 64)) & 1; }

void setBit(Word *dst, uint32_t bit) { dst[bit / 64] |= Word(1) << (bit % 64); }

void clearBit(Word *dst, uint32_t bit) { dst[bit / 64] &= ~(Word(1) << (bit % 64)); }

uint32_t lowestSetBit(const Word *src, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (src[i]) return 64 * i + uint32_t(__builtin_ctzll(src[i]));
  return kNone;
}

uint32_t highestSetBit(const Word *src, uint32_t count) {
  VORN_CHECK(count >= 1, "words::highestSetBit", "count is zero");
  for (uint32_t i = count; i-- > 0;)
    if (src[i]) return 64 * i + 63 - uint32_t(__builtin_clzll(src[i]));
  return kNone;
}

void extractBits(Word *dst, uint32_t dstCount, const Word *src, uint32_t srcBits, uint32_t srcLsb) {
  uint32_t dstParts = srcBits / 64 + (srcBits % 64 != 0);
  VORN_CHECK(dstParts <= dstCount, "words::extractBits", "the field is wider than the destination");
  uint32_t first = srcLsb / 64, shift = srcLsb % 64;
  for (uint32_t i = 0; i < dstParts; ++i) dst[i] = src[first + i];
  shiftRight(dst, dstParts, shift);
  if (dstParts) {
    uint32_t got = 64 * dstParts - shift;
    if (got < srcBits) {
      // The field reaches into one more source word; fewer than `shift` bits are missing.
      Word extra = src[first + dstParts] & lowMask(srcBits - got);
      dst[dstParts - 1] |= extra << (got % 64);
    } else if (got > srcBits && srcBits % 64) {
      dst[dstParts - 1] &= lowMask(srcBits % 64);
    }
  }
  for (uint32_t i = dstParts; i < dstCount; ++i) dst[i] = 0;
}

// The carries and borrows run through the digit kernels' carry chain: an add with carry per
// digit, with no branch on the carry (whose value is as random as the numbers).
Word addWithCarry(Word *dst, const Word *rhs, Word carry, uint32_t count) {
  return digits::add(digits::of(dst), digits::of(dst), digits::of(rhs),
                     digits::kDigitsPerWord * count, digits::Digit(carry));
}

Word subtractWithBorrow(Word *dst, const Word *rhs, Word borrow, uint32_t count) {
  return digits::subtract(digits::of(dst), digits::of(dst), digits::of(rhs),
                          digits::kDigitsPerWord * count, digits::Digit(borrow));
}

int multiplyWordAdd(Word *dst, const Word *src, Word multiplier, Word carry, uint32_t srcCount,
                    uint32_t dstCount, bool accumulate) {
  VORN_CHECK(uint64_t(dstCount) <= uint64_t(srcCount) + 1, "words::multiplyWordAdd",
             "dstCount is above srcCount + 1");
  VORN_CHECK(dst == src || !overlaps(dst, dstCount, src, srcCount), "words::multiplyWordAdd",
             "destination overlaps the source without being equal to it");
  uint32_t n = dstCount < srcCount ? dstCount : srcCount;
  for (uint32_t i = 0; i < n; ++i) {
    Word low, high;
    Word s = src[i];
    if (s == 0 || multiplier == 0) {
      low = carry;
      high = 0;
    } else {
      low = multiplyHalves(s, multiplier, high);
      low += carry;
      high += low < carry;
    }
    if (accumulate) {
      Word old = dst[i];
      low += old;
      high += low < old;
    }
    dst[i] = low;
    carry = high;
  }
  if (n < dstCount) {
    dst[n] = carry;
    return 0;
  }
  if (carry) return 1;
  if (multiplier)
    for (uint32_t j = n; j < srcCount; ++j)
      if (src[j]) return 1;
  return 0;
}

int multiplyTruncated(Word *dst, const Word *lhs, const Word *rhs, uint32_t count) {
  VORN_CHECK(!overlaps(dst, count, lhs, count) && !overlaps(dst, count, rhs, count),
             "words::multiplyTruncated", "destination overlaps a source");
  if (count == 0) return 0;
  const uint32_t n = digits::kDigitsPerWord * count;
  const uint32_t an = digits::significant(digits::of(lhs), n);
  const uint32_t bn = digits::significant(digits::of(rhs), n);
  if (an == 0 || bn == 0) {
    assignWord(dst, 0, count);
    return 0;
  }
  Scratch<digits::DigitValue, kStackDigits> scratch(digits::scratchFor(n));
  return digits::multiplyModulo(digits::of(dst), digits::of(lhs), an, digits::of(rhs), bn, n,
                                scratch.data());
}

uint32_t multiplyFull(Word *dst, const Word *lhs, const Word *rhs, uint32_t lhsCount,
                      uint32_t rhsCount) {
  uint32_t total = lhsCount + rhsCount;
  VORN_CHECK(total >= 1, "words::multiplyFull", "both counts are zero");
  VORN_CHECK(!overlaps(dst, total, lhs, lhsCount) && !overlaps(dst, total, rhs, rhsCount),
             "words::multiplyFull", "destination overlaps a source");
  uint32_t an = digits::significant(digits::of(lhs), digits::kDigitsPerWord * lhsCount);
  uint32_t bn = digits::significant(digits::of(rhs), digits::kDigitsPerWord * rhsCount);
  if (an < bn) {
    std::swap(lhs, rhs);
    std::swap(an, bn);
  }
  uint32_t done = 0;
  if (bn) {
    Scratch<digits::DigitValue, kStackDigits> scratch(digits::scratchFor(bn));
    digits::multiply(digits::of(dst), digits::of(lhs), an, digits::of(rhs), bn, scratch.data());
    done = an + bn;
  }
  digits::Digit *d = digits::of(dst);
  for (uint32_t i = done; i < digits::kDigitsPerWord * total; ++i) d[i] = 0;
  return dst[total - 1] ? total : total - 1;
}

int divideBitwise(Word *lhs, const Word *rhs, Word *remainder, Word *scratch, uint32_t count) {
  VORN_CHECK(!overlaps(lhs, count, remainder, count) && !overlaps(lhs, count, scratch, count) &&
                 !overlaps(remainder, count, scratch, count),
             "words::divideBitwise", "quotient, remainder and scratch are not distinct arrays");
  if (count == 0) return 1;
  uint32_t top = highestSetBit(rhs, count);
  if (top == kNone) return 1;
  uint32_t s = 64 * count - (top + 1);
  // rhs may be one of the three arrays: it is read completely before any of them is written.
  for (uint32_t i = 0; i < count; ++i) scratch[i] = rhs[i];
  shiftLeft(scratch, count, s);
  for (uint32_t i = 0; i < count; ++i) remainder[i] = lhs[i];
  assignWord(lhs, 0, count);
  uint32_t word = s / 64;
  Word bit = Word(1) << (s % 64);
  for (;;) {
    if (compare(remainder, scratch, count) >= 0) {
      subtractWithBorrow(remainder, scratch, 0, count);
      lhs[word] |= bit;
    }
    if (word == 0 && bit == 1) break;
    bit >>= 1;
    if (!bit) {
      bit = Word(1) << 63;
      --word;
    }
    shiftRight(scratch, count, 1);
  }
  return 0;
}

void shiftLeft(Word *dst, uint32_t count, uint32_t bits) {
  if (bits == 0) return;
  uint32_t jump = bits / 64, shift = bits % 64;
  if (jump < count) {
    // From the top down, so that every source word is read before it is overwritten.
    if (shift == 0) {
      for (uint32_t i = count; i-- > jump;) dst[i] = dst[i - jump];
    } else {
      for (uint32_t i = count - 1; i > jump; --i)
        dst[i] = (dst[i - jump] << shift) | (dst[i - jump - 1] >> (64 - shift));
      dst[jump] = dst[0] << shift;
    }
  }
  uint32_t low = jump < count ? jump : count;
  for (uint32_t i = 0; i < low; ++i) dst[i] = 0;
}

void shiftRight(Word *dst, uint32_t count, uint32_t bits) {
  if (bits == 0) return;
  uint32_t jump = bits / 64, shift = bits % 64;
  uint32_t kept = jump < count ? count - jump : 0; // words that receive source bits
  if (kept) {
    if (shift == 0) {
      for (uint32_t i = 0; i < kept; ++i) dst[i] = dst[i + jump];
    } else {
      for (uint32_t i = 0; i + 1 < kept; ++i)
        dst[i] = (dst[i + jump] >> shift) | (dst[i + jump + 1] << (64 - shift));
      dst[kept - 1] = dst[count - 1] >> shift;
    }
  }
  for (uint32_t i = kept; i < count; ++i) dst[i] = 0;
}

void andInPlace(Word *dst, const Word *rhs, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) dst[i] &= rhs[i];
}

void orInPlace(Word *dst, const Word *rhs, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) dst[i] |= rhs[i];
}

void xorInPlace(Word *dst, const Word *rhs, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) dst[i] ^= rhs[i];
}

void complement(Word *dst, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) dst[i] = ~dst[i];
}

int compare(const Word *lhs, const Word *rhs, uint32_t count) {
  for (uint32_t i = count; i-- > 0;)
    if (lhs[i] != rhs[i]) return lhs[i] > rhs[i] ? 1 : -1;
  return 0;
}

Word increment(Word *dst, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (++dst[i] != 0) return 0;
  return 1;
}

Word decrement(Word *dst, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (dst[i]-- != 0) return 0;
  return 1;
}

void negate(Word *dst, uint32_t count) {
  complement(dst, count);
  increment(dst, count);
}

void setLowBits(Word *dst, uint32_t count, uint32_t n) {
  VORN_CHECK(uint64_t(n) <= uint64_t(count) * 64, "words::setLowBits",
             "more bits than the array holds");
  uint32_t i = 0;
  for (; n > 64; n -= 64) dst[i++] = ~Word(0);
  if (n) dst[i++] = lowMask(n);
  for (; i < count; ++i) dst[i] = 0;
}

} // namespace words
} // namespace vorn
