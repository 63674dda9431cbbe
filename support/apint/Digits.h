#ifndef VORN_SUPPORT_APINT_DIGITS_H
#define VORN_SUPPORT_APINT_DIGITS_H

// The kernels under APInt's multiplication and division: arithmetic on arrays of digits, element
// 0 least significant. A digit is the widest number whose product with another the target forms
// in one instruction: a whole word where there is a 128-bit type (x86-64), half a word elsewhere
// (i686, which multiplies 32 by 32 bits into 64).
//
// An array of words is an array of digits in little-endian memory: with half-word digits, word i
// is digits 2i (its low half) and 2i + 1. Digit is declared as may-alias so that the two views of
// one array may be mixed. Not part of the library's interface.

#include "support/apint/Words.h"

#include <cstdint>

#include <x86intrin.h>

namespace vorn {
namespace digits {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "words are read as their digits");

#ifdef __SIZEOF_INT128__
using DigitValue = uint64_t;
__extension__ typedef unsigned __int128 DoubleDigit;
#else
using DigitValue = uint32_t;
using DoubleDigit = uint64_t;
#endif
typedef DigitValue __attribute__((__may_alias__)) Digit;
constexpr uint32_t kDigitBits = 8 * sizeof(DigitValue);
constexpr uint32_t kDigitsPerWord = kWordBits / kDigitBits;

// The zero bits above the top 1 bit of d (not 0).
inline uint32_t leadingZeros(DigitValue d) {
  return uint32_t(kDigitBits == 64 ? __builtin_clzll(d) : __builtin_clz(uint32_t(d)));
}

// One digit's add with carry (or, when Subtract, subtract with borrow): the carry in and out is 0
// or 1.
template <bool Subtract>
inline unsigned char carryStep(unsigned char c, DigitValue x, DigitValue y, DigitValue *out) {
#ifdef __SIZEOF_INT128__
  unsigned long long r;
  c = Subtract ? _subborrow_u64(c, x, y, &r) : _addcarry_u64(c, x, y, &r);
#else
  unsigned int r;
  c = Subtract ? _subborrow_u32(c, x, y, &r) : _addcarry_u32(c, x, y, &r);
#endif
  *out = r;
  return c;
}

inline Digit *of(Word *w) { return reinterpret_cast<Digit *>(w); }
inline const Digit *of(const Word *w) { return reinterpret_cast<const Digit *>(w); }

// The number of digits of `n` digits without its leading zero digits.
inline uint32_t significant(const Digit *a, uint32_t n) {
  while (n && a[n - 1] == 0) --n;
  return n;
}

// r = a ± b with a carry or borrow (0 or 1) in and out, where step is the add-with-carry or the
// subtract-with-borrow of one digit. The carry goes from one digit to the next in the carry flag
// (four digits a round, so that the loop's own arithmetic seldom has to save and restore it), with
// no branch on its value.
template <typename Step>
inline Digit carryChain(Digit *r, const Digit *a, const Digit *b, uint32_t n, Digit carry,
                        Step step) {
  unsigned char c = (unsigned char)carry;
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    DigitValue x0, x1, x2, x3;
    c = step(c, a[i], b[i], &x0);
    c = step(c, a[i + 1], b[i + 1], &x1);
    c = step(c, a[i + 2], b[i + 2], &x2);
    c = step(c, a[i + 3], b[i + 3], &x3);
    r[i] = x0;
    r[i + 1] = x1;
    r[i + 2] = x2;
    r[i + 3] = x3;
  }
  for (; i < n; ++i) {
    DigitValue x0;
    c = step(c, a[i], b[i], &x0);
    r[i] = x0;
  }
  return c;
}

// r = a + b + carry (n digits each, n >= 0, carry 0 or 1), returning the carry out; r may be a
// or b.
inline Digit add(Digit *r, const Digit *a, const Digit *b, uint32_t n, Digit carry = 0) {
  return carryChain(r, a, b, n, carry, carryStep<false>);
}

// r = a - b - borrow (borrow 0 or 1), returning the borrow out; r may be a or b.
inline Digit subtract(Digit *r, const Digit *a, const Digit *b, uint32_t n, Digit borrow = 0) {
  return carryChain(r, a, b, n, borrow, carryStep<true>);
}

// r = a·m (n digits), returning the high digit; r may be a.
Digit multiplyDigit(Digit *r, const Digit *a, uint32_t n, Digit m);
// r += a·m (n digits of r take part), returning the digit carried out of r[n - 1].
Digit addMultiple(Digit *r, const Digit *a, uint32_t n, Digit m);
// r -= a·m, returning the digit borrowed beyond r[n - 1].
Digit subtractMultiple(Digit *r, const Digit *a, uint32_t n, Digit m);

// (high·2^bits + low) / d for high < d, with the remainder in `rem`: the machine's division of a
// double-width number by a single one, which C can only ask for through a wider division (a
// library call for the widest type).
inline uint32_t divideWide(uint32_t high, uint32_t low, uint32_t d, uint32_t &rem) {
#if defined(__i386__) || defined(__x86_64__)
  uint32_t q;
  __asm__("divl %4" : "=a"(q), "=d"(rem) : "0"(low), "1"(high), "rm"(d));
  return q;
#else
  const uint64_t n = (uint64_t(high) << 32) | low;
  rem = uint32_t(n % d);
  return uint32_t(n / d);
#endif
}
#if defined(__x86_64__)
inline uint64_t divideWide(uint64_t high, uint64_t low, uint64_t d, uint64_t &rem) {
  uint64_t q;
  __asm__("divq %4" : "=a"(q), "=d"(rem) : "0"(low), "1"(high), "rm"(d));
  return q;
}
#endif

// Division of a two-half number by a normalised divisor (its top bit set) through a reciprocal
// computed once (Möller and Granlund's division by an invariant integer), for the quotient digits
// of a long division: two multiplications a digit. Half is an unsigned type and Full one of twice
// its width.
template <typename Half, typename Full> class ReciprocalDivider {
public:
  // The reciprocal is (B^2 - 1) / d - B = ((B - 1 - d)·B + B - 1) / d, with B = 2^bits: one
  // machine division at run time, the wide C one at compile time.
  constexpr explicit ReciprocalDivider(Half d) : d(d), inverse(0) {
    if (__builtin_is_constant_evaluated()) {
      inverse = Half(~Full(0) / d - (Full(1) << kHalfBits));
    } else {
      Half rem = 0;
      inverse = divideWide(Half(~d), Half(~Half(0)), d, rem);
    }
  }

  // (high·2^bits + low) / d, for high < d; the remainder in `rem`.
  Half divide(Half high, Half low, Half &rem) const {
    const Full p = Full(inverse) * high + ((Full(high) << kHalfBits) | low);
    Half q = Half(p >> kHalfBits) + 1;
    Half r = low - q * d;
    if (r > Half(p)) {
      --q;
      r += d;
    }
    if (r >= d) {
      ++q;
      r -= d;
    }
    rem = r;
    return q;
  }

private:
  static constexpr unsigned kHalfBits = 8 * sizeof(Half);
  Half d, inverse;
};

// Digits of working space that multiply and multiplyLow need for operands of up to n digits.
constexpr uint32_t scratchFor(uint32_t n) { return 12 * n + 64; }
// The digits of a 4096-bit operand: the multiplications keep working space for operands up to
// this size on the stack.
constexpr uint32_t kStackOperandDigits = 4096 / kDigitBits;
// r (an + bn digits) = a·b, an >= bn >= 1. r overlaps neither operand; `scratch` holds at least
// scratchFor(bn) digits. Karatsuba above a threshold, the schoolbook method below it.
void multiply(Digit *r, const Digit *a, uint32_t an, const Digit *b, uint32_t bn, Digit *scratch);
// r (n digits) = a·b modulo 2^(32·n), with a and b of n >= 1 digits; r overlaps neither, and
// `scratch` holds scratchFor(n) digits.
void multiplyLow(Digit *r, const Digit *a, const Digit *b, uint32_t n, Digit *scratch);
// r (n digits) = a·b modulo 2^(32·n) for a of an and b of bn digits, 1 <= an, bn <= n, each
// operand valid for n digits (those above an, bn being 0); returns whether the whole product
// did not fit. r overlaps neither operand; `scratch` holds scratchFor(n) digits. Only the
// significant digits of small operands take part.
bool multiplyModulo(Digit *r, const Digit *a, uint32_t an, const Digit *b, uint32_t bn, uint32_t n,
                    Digit *scratch);

// The operand size, in digits, from which multiply and multiplyLow split their operands; below
// it the schoolbook method is faster (measured with apint_bench's multiplications: 40 half-word
// digits on i686, 24 whole-word digits on x86-64).
constexpr uint32_t kKaratsubaThreshold = kDigitBits == 32 ? 40 : 24;

} // namespace digits
} // namespace vorn

#endif
