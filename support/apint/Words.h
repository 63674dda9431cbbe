#ifndef VORN_SUPPORT_APINT_WORDS_H
#define VORN_SUPPORT_APINT_WORDS_H

#include "support/runtime/Compiler.h"

#include <cstdint>

namespace vorn {

// One 64-bit digit of an arbitrary-precision number; arithmetic on words is modulo 2^64.
using Word = uint64_t;

// Bits in a Word.
inline constexpr uint32_t kWordBits = 64;

// A read-only view of `size()` words; the words must outlive the view.
class WordView {
public:
  constexpr WordView(const Word *data, uint32_t count) : ptr(data), len(count) {}
  template <uint32_t N> constexpr WordView(const Word (&array)[N]) : ptr(array), len(N) {}

  const Word *data() const { return ptr; }
  uint32_t size() const { return len; }

private:
  const Word *ptr;
  uint32_t len;
};

// Arithmetic on caller-owned arrays of words. An array of `count` words holds one unsigned
// integer of 64·count bits, element 0 least significant: bit k is bit k % 64 of element k / 64.
// The functions never allocate and never fail. Carries, borrows and overflow come back as 0 or 1;
// a bit search that finds nothing returns 4294967295 (all ones).
//
// The caller guarantees what each contract asks (counts of at least 1 where said, bit indexes
// inside the array, the aliasing rules). Checking builds stop on the obligations a function can
// see; the others (a bit index, the length of an array) are the caller's alone.
namespace words {

// dst[0] = value and dst[1 .. count-1] = 0; count >= 1.
void assignWord(Word *dst, Word value, uint32_t count);
// dst[i] = src[i] for i < count; the arrays may be equal but must not overlap otherwise.
void copy(Word *dst, const Word *src, uint32_t count);
// Whether all `count` words are zero (true for count 0).
bool isZero(const Word *src, uint32_t count);

// The value of bit `bit`.
bool testBit(const Word *src, uint32_t bit);
// Sets (clears) bit `bit`.
void setBit(Word *dst, uint32_t bit);
void clearBit(Word *dst, uint32_t bit);
// Index of the lowest 1 bit; all ones when the array is zero or count is 0.
uint32_t lowestSetBit(const Word *src, uint32_t count);
// Index of the highest 1 bit; all ones when the array is zero. count >= 1.
uint32_t highestSetBit(const Word *src, uint32_t count);

// Copies the `srcBits` bits of src starting at bit `srcLsb` to the bottom of dst and clears the
// rest of dst's `dstCount` words. Needs ceil(srcBits / 64) <= dstCount, and src must hold the
// words that the field touches.
void extractBits(Word *dst, uint32_t dstCount, const Word *src, uint32_t srcBits, uint32_t srcLsb);

// dst = dst + rhs + carry (carry 0 or 1); returns the carry out. With count 0, returns `carry`.
Word addWithCarry(Word *dst, const Word *rhs, Word carry, uint32_t count);
// dst = dst - rhs - borrow (borrow 0 or 1); returns the borrow out. With count 0, returns `borrow`.
Word subtractWithBorrow(Word *dst, const Word *rhs, Word borrow, uint32_t count);

// dst = src·multiplier + carry (+ dst when `accumulate`), cut to dstCount words. Returns 0 when
// dstCount = srcCount + 1 (the top word receives the last carry; it is written, not added);
// otherwise 1 when the full result did not fit. Needs dstCount <= srcCount + 1 and dst either
// equal to src or not overlapping it.
int multiplyWordAdd(Word *dst, const Word *src, Word multiplier, Word carry, uint32_t srcCount,
                    uint32_t dstCount, bool accumulate);
// dst = lhs·rhs modulo 2^(64·count); returns 1 exactly when the full product does not fit.
// dst must not overlap either source.
int multiplyTruncated(Word *dst, const Word *lhs, const Word *rhs, uint32_t count);
// dst (lhsCount + rhsCount words) = lhs·rhs. Returns lhsCount + rhsCount, less 1 when the top
// word is zero (only that word is looked at). dst must not overlap either source, and
// lhsCount + rhsCount >= 1.
uint32_t multiplyFull(Word *dst, const Word *lhs, const Word *rhs, uint32_t lhsCount,
                      uint32_t rhsCount);
// Bit-by-bit long division: lhs becomes lhs / rhs and remainder lhs % rhs; scratch is working
// space; all four arrays hold `count` words. Returns 1 and touches nothing when rhs is zero,
// else 0. lhs, remainder and scratch must be three distinct arrays.
int divideBitwise(Word *lhs, const Word *rhs, Word *remainder, Word *scratch, uint32_t count);

// dst = dst·2^bits modulo 2^(64·count); any number of bits.
void shiftLeft(Word *dst, uint32_t count, uint32_t bits);
// dst = dst / 2^bits, zero fill; any number of bits.
void shiftRight(Word *dst, uint32_t count, uint32_t bits);

// dst[i] = dst[i] & rhs[i] (|, ^) for i < count.
void andInPlace(Word *dst, const Word *rhs, uint32_t count);
void orInPlace(Word *dst, const Word *rhs, uint32_t count);
void xorInPlace(Word *dst, const Word *rhs, uint32_t count);
// dst[i] = ~dst[i] for i < count.
void complement(Word *dst, uint32_t count);
// +1, 0 or -1 as lhs is greater than, equal to or less than rhs (unsigned); 0 for count 0.
int compare(const Word *lhs, const Word *rhs, uint32_t count);

// dst = dst + 1; returns 1 when every word wrapped to zero (also for count 0).
Word increment(Word *dst, uint32_t count);
// dst = dst - 1; returns 1 when every word was zero before (also for count 0).
Word decrement(Word *dst, uint32_t count);
// dst = -dst, two's complement.
void negate(Word *dst, uint32_t count);
// The low n bits become 1 and all other bits of the `count` words 0; n <= 64·count.
void setLowBits(Word *dst, uint32_t count, uint32_t n);

} // namespace words
} // namespace vorn

#endif
