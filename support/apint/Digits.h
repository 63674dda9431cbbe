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

// r = a + b + carry (n digits each, n >= 0, carry 0 or 1), returning the carry out; r may be a
// or b. The carry goes from one digit to the next in the carry flag (four digits a round, so that
// the loop's own arithmetic seldom has to save and restore it), with no branch on its value.
inline Digit add(Digit *r, const Digit *a, const Digit *b, uint32_t n, Digit carry = 0) {
  unsigned char c = (unsigned char)carry;
  uint32_t i = 0;
  // Four digits a round, so that the carry flag passes from one add to the next in most steps.
  for (; i + 4 <= n; i += 4) {
    unsigned int s0, s1, s2, s3;
    c = _addcarry_u32(c, a[i], b[i], &s0);
    c = _addcarry_u32(c, a[i + 1], b[i + 1], &s1);
    c = _addcarry_u32(c, a[i + 2], b[i + 2], &s2);
    c = _addcarry_u32(c, a[i + 3], b[i + 3], &s3);
    r[i] = s0;
    r[i + 1] = s1;
    r[i + 2] = s2;
    r[i + 3] = s3;
  }
  for (; i < n; ++i) {
    unsigned int s0;
    c = _addcarry_u32(c, a[i], b[i], &s0);
    r[i] = s0;
  }
  return c;
}

// r = a - b - borrow (borrow 0 or 1), returning the borrow out; r may be a or b.
inline Digit subtract(Digit *r, const Digit *a, const Digit *b, uint32_t n,
                      Digit borrow = 0) {
  unsigned char c = (unsigned char)borrow;
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    unsigned int d0, d1, d2, d3;
    c = _subborrow_u32(c, a[i], b[i], &d0);
    c = _subborrow_u32(c, a[i + 1], b[i + 1], &d1);
    c = _subborrow_u32(c, a[i + 2], b[i + 2], &d2);
    c = _subborrow_u32(c, a[i + 3], b[i + 3], &d3);
    r[i] = d0;
    r[i + 1] = d1;
    r[i + 2] = d2;
    r[i + 3] = d3;
  }
  for (; i < n; ++i) {
    unsigned int d0;
    c = _subborrow_u32(c, a[i], b[i], &d0);
    r[i] = d0;
  }
  return c;
}

// r = a·m (n digits), returning the high digit; r may be a.
Digit multiplyDigit(Digit *r, const Digit *a, uint32_t n, Digit m);
// r += a·m (n digits of r take part), returning the digit carried out of r[n - 1].
Digit addMultiple(Digit *r, const Digit *a, uint32_t n, Digit m);
// r -= a·m, returning the digit borrowed beyond r[n - 1].
Digit subtractMultiple(Digit *r, const Digit *a, uint32_t n, Digit m);

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
