#ifndef VORN_SUPPORT_APINT_DIGITS_H
#define VORN_SUPPORT_APINT_DIGITS_H

// The kernels under APInt's multiplication and division: arithmetic on arrays of 32-bit digits,
// element 0 least significant. A digit times a digit fits the 64-bit type, which every target
// multiplies in one instruction (i686 too), so the inner loops stay short everywhere.
//
// An array of words is an array of digits in little-endian memory: word i is digits 2i (its low
// half) and 2i + 1. Digit is declared as may-alias so that the two views of one array may be
// mixed. Not part of the library's interface.

#include "support/apint/Words.h"

#include <cstdint>

#include <x86intrin.h>

namespace vorn {
namespace digits {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "words are read as their digits");

typedef uint32_t __attribute__((__may_alias__)) Digit;
using DoubleDigit = uint64_t;

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
    unsigned int x0, x1, x2, x3;
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
    unsigned int x0;
    c = step(c, a[i], b[i], &x0);
    r[i] = x0;
  }
  return c;
}

// r = a + b + carry (n digits each, n >= 0, carry 0 or 1), returning the carry out; r may be a
// or b.
inline Digit add(Digit *r, const Digit *a, const Digit *b, uint32_t n, Digit carry = 0) {
  return carryChain(r, a, b, n, carry, [](unsigned char c, unsigned x, unsigned y, unsigned *out) {
    return _addcarry_u32(c, x, y, out);
  });
}

// r = a - b - borrow (borrow 0 or 1), returning the borrow out; r may be a or b.
inline Digit subtract(Digit *r, const Digit *a, const Digit *b, uint32_t n, Digit borrow = 0) {
  return carryChain(r, a, b, n, borrow,
                    [](unsigned char c, unsigned x, unsigned y, unsigned *out) {
                      return _subborrow_u32(c, x, y, out);
                    });
}

// r = a·m (n digits), returning the high digit; r may be a.
Digit multiplyDigit(Digit *r, const Digit *a, uint32_t n, Digit m);
// r += a·m (n digits of r take part), returning the digit carried out of r[n - 1].
Digit addMultiple(Digit *r, const Digit *a, uint32_t n, Digit m);
// r -= a·m, returning the digit borrowed beyond r[n - 1].
Digit subtractMultiple(Digit *r, const Digit *a, uint32_t n, Digit m);

// Division of a two-half number by a normalised divisor (its top bit set) through a reciprocal
// computed once (Möller and Granlund's division by an invariant integer): a hardware division of
// a double-width number is slow, where it is one instruction at all. Half is an unsigned type and
// Full one of twice its width.
template <typename Half, typename Full> class ReciprocalDivider {
public:
  constexpr explicit ReciprocalDivider(Half d)
      : d(d), inverse(Half(~Full(0) / d - (Full(1) << kHalfBits))) {}

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
uint32_t scratchFor(uint32_t n);
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
// it the schoolbook method is faster (measured on i686 with apint_bench's multiplications).
constexpr uint32_t kKaratsubaThreshold = 40;

} // namespace digits
} // namespace vorn

#endif
