// APInt number theory (square root, modular inverse, division by constants) and the
// conversions to and from double.

#include "support/apint/APInt.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace vorn {

namespace {

// Entry i: the integer nearest to the square root of i, for the values below 32.
const uint8_t kSmallRoots[32] = {0, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 4, 4, 4,
                                 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 6};

} // namespace

APInt APInt::integerSqrt() const {
  const uint32_t m = significantBits();
  if (m <= 5) return APInt(bitWidth, kSmallRoots[asUint64()]);

  if (m <= 51) {
    uint64_t v = asUint64();
    uint64_t r = uint64_t(std::sqrt(double(v)) + 0.5);
    // Near the top of the range the rounded floating root of x^2 + x can come out as x + 1 (the
    // distance to x + 1/2 is about 1/(8x), below half a unit in the last place). The nearest
    // root r is the one with r^2 - r < v <= r^2 + r, which 64-bit arithmetic settles exactly.
    if (v > r * r + r)
      ++r;
    else if (v <= r * r - r)
      --r;
    return APInt(bitWidth, r);
  }

  // Newton's iteration from a power of two at least as large as the root, so that it only
  // decreases.
  uint32_t i = 4;
  APInt test(bitWidth, 16);
  while (i < bitWidth && unsignedGreater(test)) {
    i += 2;
    test <<= 2;
  }
  APInt x = APInt(bitWidth, 1).shiftedLeft(i / 2);
  for (;;) {
    APInt next = quotientUnsigned(x);
    next += x;
    next = next.shiftedRightLogical(1);
    if (x.unsignedLessOrEqual(next)) break;
    x = std::move(next);
  }
  // x is the root rounded down; round to nearest. Both squares wrap at the width, which keeps
  // their difference 2x + 1 right.
  APInt square = x * x;
  APInt x1 = x + 1;
  APInt nextSquare = x1 * x1;
  if (unsignedLess(square)) return x;
  APInt midpoint = (nextSquare - square).shiftedRightLogical(1);
  APInt offset = *this - square;
  return offset.unsignedLessOrEqual(midpoint) ? x : x1;
}

APInt APInt::inverseModulo(const APInt &modulus) const {
  checkSameWidth(modulus, "APInt::inverseModulo");
  VORN_CHECK(unsignedLess(modulus), "APInt::inverseModulo", "value is not below the modulus");
  // The extended Euclidean algorithm, keeping only the coefficients of the value.
  APInt r[2] = {modulus, *this};
  APInt t[2] = {APInt(bitWidth, 0), APInt(bitWidth, 1)};
  APInt q(bitWidth, 0);
  unsigned i = 0;
  while (r[1 - i] != 0) {
    divRemUnsigned(r[i], r[1 - i], q, r[i]);
    t[i] -= t[1 - i] * q;
    i = 1 - i;
  }
  if (r[i] != 1) return APInt(bitWidth, 0);
  // The coefficient lies strictly between -modulus and modulus.
  return t[i].isSignBitSet() ? t[i] + modulus : t[i];
}

SignedDivMagic APInt::signedDivisionMagic() const {
  VORN_CHECK(*this != 0, "APInt::signedDivisionMagic", "divisor is zero");
  const uint32_t w = bitWidth;
  const APInt &d = *this;
  // The search runs in 2w + 2 bits: q1 and q2 approach 2^p / anc and 2^p / |d| with p up to 2w,
  // which outgrow w bits where anc is small (at width 2 it is 1, and the wrapped q1 never let
  // the loop end before the bound, with a wrong multiplier). |d| and the rest fit w bits.
  const uint32_t x = 2 * w + 2;
  const APInt one(x, 1);
  const APInt signedMin = minSignedOfWidth(w).zeroExtendedTo(x);
  const APInt ad = (d.isSignBitSet() ? -d : d).zeroExtendedTo(x);
  const APInt t = signedMin + d.shiftedRightLogical(w - 1).zeroExtendedTo(x);
  const APInt anc = t - one - t.remainderUnsigned(ad);
  uint32_t p = w - 1;
  APInt q1 = signedMin.quotientUnsigned(anc);
  APInt r1 = signedMin - q1 * anc;
  APInt q2 = signedMin.quotientUnsigned(ad);
  APInt r2 = signedMin - q2 * ad;
  APInt delta;
  // In these bits, for |d| >= 2 the loop ends before p reaches 2w (checked for every divisor of
  // widths 2 to 16); the bound only stops the endless loop of width 1, whose divisors are all 0
  // or -1.
  do {
    ++p;
    q1 <<= 1;
    r1 <<= 1;
    if (r1.unsignedGreaterOrEqual(anc)) {
      ++q1;
      r1 -= anc;
    }
    q2 <<= 1;
    r2 <<= 1;
    if (r2.unsignedGreaterOrEqual(ad)) {
      ++q2;
      r2 -= ad;
    }
    delta = ad - r2;
  } while (p < 2 * w && (q1.unsignedLess(delta) || (q1 == delta && r1 == 0)));
  APInt multiplier = (q2 + one).truncatedTo(w);
  if (d.isSignBitSet()) multiplier = -multiplier;
  return SignedDivMagic{std::move(multiplier), p - w};
}

UnsignedDivMagic APInt::unsignedDivisionMagic(uint32_t leadingZeros) const {
  VORN_CHECK(*this != 0, "APInt::unsignedDivisionMagic", "divisor is zero");
  VORN_CHECK(leadingZeros < bitWidth, "APInt::unsignedDivisionMagic",
             "leading zeros are not below the width");
  const uint32_t w = bitWidth;
  const APInt &d = *this;
  const APInt one(w, 1);
  bool add = false;
  const APInt allOnes = allOnesOfWidth(w).shiftedRightLogical(leadingZeros);
  const APInt signedMin = minSignedOfWidth(w);
  const APInt signedMax = maxSignedOfWidth(w);
  const APInt nc = allOnes - (allOnes - d).remainderUnsigned(d);
  uint32_t p = w - 1;
  APInt q1 = signedMin.quotientUnsigned(nc);
  APInt r1 = signedMin - q1 * nc;
  APInt q2 = signedMax.quotientUnsigned(d);
  APInt r2 = signedMax - q2 * d;
  APInt delta;
  do {
    ++p;
    if (r1.unsignedGreaterOrEqual(nc - r1)) {
      q1 = q1 + q1 + one;
      r1 = r1 + r1 - nc;
    } else {
      q1 = q1 + q1;
      r1 = r1 + r1;
    }
    if ((r2 + one).unsignedGreaterOrEqual(d - r2)) {
      if (q2.unsignedGreaterOrEqual(signedMax)) add = true;
      q2 = q2 + q2 + one;
      r2 = r2 + r2 + one - d;
    } else {
      if (q2.unsignedGreaterOrEqual(signedMin)) add = true;
      q2 = q2 + q2;
      r2 = r2 + r2 + one;
    }
    delta = d - one - r2;
  } while (p < 2 * w && (q1.unsignedLess(delta) || (q1 == delta && r1 == 0)));
  return UnsignedDivMagic{q2 + one, add, p - w};
}

double APInt::toDouble(bool isSigned) const {
  if (isInline()) {
    if (isSigned) return double(asInt64());
    return double(u.value);
  }
  // A wide value with at most 64 significant bits has its sign bit clear.
  if (significantBits() <= kWordBits) return double(wordPtr()[0]);

  const bool negative = isSigned && isSignBitSet();
  APInt magnitude = negative ? -*this : *this;
  const uint32_t n = magnitude.significantBits();
  const uint32_t e = n - 1;
  if (e > 1023)
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  // The 64 bits ending with the leading 1, zeros below bit 0 (the magnitude of a negative value
  // may be short); the 52 below the leading 1 are the fraction, and the bits further down are
  // dropped (truncation toward zero).
  const Word *w = magnitude.wordPtr();
  Word top;
  if (n < kWordBits) {
    top = w[0] << (kWordBits - n);
  } else {
    const uint32_t from = n - kWordBits, at = from / kWordBits, shift = from % kWordBits;
    top = w[at] >> shift;
    if (shift) top |= w[at + 1] << (kWordBits - shift);
  }
  uint64_t bits = (uint64_t(negative) << 63) | (uint64_t(e + 1023) << 52) |
                  ((top >> 11) & ((uint64_t(1) << 52) - 1));
  double result;
  std::memcpy(&result, &bits, sizeof result);
  return result;
}

APInt APInt::fromDouble(double value, uint32_t width) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = bits >> 63;
  const int32_t e = int32_t((bits >> 52) & 0x7FF) - 1023;
  if (e < 0) return APInt(width, 0);
  // Infinities and NaNs (exponent field 2047) go through as numbers too.
  const uint64_t mantissa = (bits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
  if (e < 52) {
    APInt r(width, mantissa >> (52 - e));
    return negative ? -r : r;
  }
  if (width <= uint32_t(e - 52)) return APInt(width, 0);
  APInt r = APInt(width, mantissa).shiftedLeft(uint32_t(e - 52));
  return negative ? -r : r;
}

} // namespace vorn
