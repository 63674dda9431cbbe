// Division of APInt values and the arithmetic that reports overflow.

#include "support/apint/APInt.h"

#include "support/apint/Digits.h"
#include "support/apint/Scratch.h"

#include <utility>

namespace vorn {

namespace {

using digits::Digit;
using digits::DoubleDigit;
using digits::kDigitBits;

// Digits of working space kept on the stack: the dividend, divisor and quotient of a division of
// up to 4096 bits.
constexpr uint32_t kStackDigits = 200 * digits::kDigitsPerWord;

// Shifts the n digits at `from` left by `shift` bits (fewer than a digit's) into `to`, returning
// the bits shifted out; `to` may be `from`.
Digit shiftDigitsLeft(Digit *to, const Digit *from, uint32_t n, uint32_t shift) {
  if (shift == 0) {
    for (uint32_t i = n; i-- > 0;) to[i] = from[i];
    return 0;
  }
  Digit out = from[n - 1] >> (kDigitBits - shift);
  for (uint32_t i = n - 1; i > 0; --i)
    to[i] = (from[i] << shift) | (from[i - 1] >> (kDigitBits - shift));
  to[0] = from[0] << shift;
  return out;
}

// The n digits at `from` shifted right by `shift` bits (fewer than a digit's) into `to`.
void shiftDigitsRight(Digit *to, const Digit *from, uint32_t n, uint32_t shift) {
  if (shift == 0) {
    for (uint32_t i = 0; i < n; ++i) to[i] = from[i];
    return;
  }
  for (uint32_t i = 0; i + 1 < n; ++i)
    to[i] = (from[i] >> shift) | (from[i + 1] << (kDigitBits - shift));
  to[n - 1] = from[n - 1] >> shift;
}

using DigitDivider = digits::ReciprocalDivider<digits::DigitValue, DoubleDigit>;

// Quotient digit j of Knuth's algorithm D: u[j .. j + n] -= q·v for the largest q that leaves it
// non-negative, found from the top three digits of u and the top two of v (normalised), which
// give q or q + 1; the rare second case is mended by adding v back.
Digit divideStep(Digit *u, const Digit *v, uint32_t n, const DigitDivider &top) {
  const Digit vTop = v[n - 1], vNext = v[n - 2];
  const Digit high = u[n], low = u[n - 1];
  Digit q, r;
  bool rFits = true; // r fits a digit: the test against vNext is needed
  if (high >= vTop) {
    // high == vTop: the estimate is capped at the largest digit, and r = low + vTop may not fit
    // a digit.
    q = ~Digit(0);
    r = low + vTop;
    rFits = r >= low;
  } else {
    q = top.divide(high, low, r);
  }
  // At most twice, and only while r fits a digit.
  while (rFits && DoubleDigit(q) * vNext > ((DoubleDigit(r) << kDigitBits) | u[n - 2])) {
    --q;
    Digit before = r;
    r += vTop;
    rFits = r >= before;
  }
  Digit borrow = digits::subtractMultiple(u, v, n, q);
  Digit topDigit = u[n];
  u[n] = topDigit - borrow;
  if (topDigit < borrow) {
    // One too large: add v back; the carry out of the top digit cancels the borrow.
    --q;
    u[n] += digits::add(u, u, v, n);
  }
  return q;
}

// u (m + n + 1 digits, the top one 0) divided by v (n >= 2 digits, v[n - 1] != 0): q receives
// digits 0 .. m, r (when not null) the n-digit remainder. u and v are normalised in place.
void divideDigits(Digit *u, Digit *v, Digit *q, Digit *r, uint32_t m, uint32_t n) {
  // Normalise so that the divisor's top digit has its top bit set: then each estimate is at most
  // two too large before its correction, and at most one after it.
  const uint32_t shift = digits::leadingZeros(v[n - 1]);
  shiftDigitsLeft(v, v, n, shift);
  u[m + n] = shiftDigitsLeft(u, u, m + n, shift);
  const DigitDivider top(v[n - 1]);
  for (uint32_t j = m + 1; j-- > 0;) q[j] = divideStep(u + j, v, n, top);
  if (r) shiftDigitsRight(r, u, n, shift);
}

// Short division by one digit d: q (n digits) = u / d; returns the remainder. One machine division
// a digit: short divisions are short, where a reciprocal would not repay its own division.
Digit divideByDigit(Digit *q, const Digit *u, uint32_t n, Digit d) {
  digits::DigitValue rem = 0;
  for (uint32_t i = n; i-- > 0;) q[i] = digits::divideWide(rem, u[i], d, rem);
  return rem;
}

} // namespace

void APInt::longDivide(const APInt &lhs, uint32_t lhsWords, const APInt &rhs, uint32_t rhsWords,
                       APInt *quotient, APInt *remainder) {
  VORN_CHECK(rhsWords >= 1 && rhsWords <= lhsWords, "APInt::longDivide",
             "word counts are not 1 <= rhsWords <= lhsWords");
  VORN_CHECK(lhsWords <= lhs.wordCount() && rhsWords <= rhs.wordCount(), "APInt::longDivide",
             "a word count is above the value's words");
  VORN_CHECK(!words::isZero(rhs.wordData(), rhsWords), "APInt::longDivide", "divisor is zero");
  VORN_CHECK(!quotient || quotient != remainder, "APInt::longDivide",
             "quotient and remainder are the same value");
  // Read before any output is touched: an output may be one of the operands.
  const uint32_t lhsWidth = lhs.bitWidth, rhsWidth = rhs.bitWidth;
  const uint32_t qDigits = digits::kDigitsPerWord * lhsWords;
  const uint32_t rDigits = digits::kDigitsPerWord * rhsWords;
  // Leading zero digits take no part. The dividend keeps at least n digits, so that one with
  // fewer significant digits than the divisor still divides (to 0).
  const uint32_t n = digits::significant(digits::of(rhs.wordData()), rDigits);
  uint32_t un = digits::significant(digits::of(lhs.wordData()), qDigits);
  if (un < n) un = n;

  // U (un + 1 digits), V (n), Q (qDigits) and R (rDigits).
  Scratch<digits::DigitValue, kStackDigits> scratch(un + 1 + n + qDigits + rDigits);
  Digit *U = scratch.data(), *V = U + un + 1, *Q = V + n, *R = Q + qDigits;
  for (uint32_t i = 0; i < un; ++i) U[i] = digits::of(lhs.wordData())[i];
  U[un] = 0;
  for (uint32_t i = 0; i < n; ++i) V[i] = digits::of(rhs.wordData())[i];
  for (uint32_t i = 0; i < qDigits; ++i) Q[i] = 0;
  for (uint32_t i = 0; i < rDigits; ++i) R[i] = 0;

  if (n == 1)
    R[0] = divideByDigit(Q, U, un, V[0]);
  else
    divideDigits(U, V, Q, remainder ? R : nullptr, un - n, n);

  if (quotient) {
    makeZeroOfWidth(*quotient, lhsWidth);
    Digit *to = digits::of(quotient->mutableWords());
    for (uint32_t i = 0; i < qDigits; ++i) to[i] = Q[i];
  }
  if (remainder) {
    makeZeroOfWidth(*remainder, rhsWidth);
    Digit *to = digits::of(remainder->mutableWords());
    for (uint32_t i = 0; i < rDigits; ++i) to[i] = R[i];
  }
}

APInt APInt::quotientUnsigned(const APInt &divisor) const {
  checkSameWidth(divisor, "APInt::quotientUnsigned");
  VORN_CHECK(divisor != 0, "APInt::quotientUnsigned", "divisor is zero");
  if (isInline()) return APInt(bitWidth, u.value / divisor.u.value);
  uint32_t lw = significantWords(), rw = divisor.significantWords();
  if (lw == 0 || lw < rw || unsignedLess(divisor)) return APInt(bitWidth, 0);
  if (*this == divisor) return APInt(bitWidth, 1);
  if (lw == 1) return APInt(bitWidth, wordPtr()[0] / divisor.wordPtr()[0]);
  APInt q;
  longDivide(*this, lw, divisor, rw, &q, nullptr);
  return q;
}

APInt APInt::remainderUnsigned(const APInt &divisor) const {
  checkSameWidth(divisor, "APInt::remainderUnsigned");
  VORN_CHECK(divisor != 0, "APInt::remainderUnsigned", "divisor is zero");
  if (isInline()) return APInt(bitWidth, u.value % divisor.u.value);
  uint32_t lw = significantWords(), rw = divisor.significantWords();
  if (lw == 0) return APInt(bitWidth, 0);
  if (lw < rw || unsignedLess(divisor)) return *this;
  if (*this == divisor) return APInt(bitWidth, 0);
  if (lw == 1) return APInt(bitWidth, wordPtr()[0] % divisor.wordPtr()[0]);
  APInt r;
  longDivide(*this, lw, divisor, rw, nullptr, &r);
  return r;
}

void APInt::divRemUnsigned(const APInt &lhs, const APInt &rhs, APInt &quotient, APInt &remainder) {
  lhs.checkSameWidth(rhs, "APInt::divRemUnsigned");
  VORN_CHECK(rhs != 0, "APInt::divRemUnsigned", "divisor is zero");
  VORN_CHECK(&quotient != &remainder, "APInt::divRemUnsigned",
             "quotient and remainder are the same value");
  uint32_t lw = lhs.significantWords(), rw = rhs.significantWords();
  // Each case reads the operands completely before writing an output that may be one of them.
  if (lw == 0) {
    quotient = Word(0);
    remainder = Word(0);
  } else if (lw < rw || lhs.unsignedLess(rhs)) {
    remainder = lhs;
    quotient = Word(0);
  } else if (lhs == rhs) {
    quotient = Word(1);
    remainder = Word(0);
  } else if (lw == 1) {
    Word a = lhs.wordData()[0], b = rhs.wordData()[0];
    uint32_t width = lhs.bitWidth;
    quotient = APInt(width, a / b);
    remainder = APInt(width, a % b);
  } else {
    longDivide(lhs, lw, rhs, rw, &quotient, &remainder);
  }
}

// The signed operations divide magnitudes; the smallest signed value is its own magnitude, which
// read as unsigned is right.
APInt APInt::quotientSigned(const APInt &divisor) const {
  checkSameWidth(divisor, "APInt::quotientSigned");
  VORN_CHECK(divisor != 0, "APInt::quotientSigned", "divisor is zero");
  bool lhsNegative = isSignBitSet(), rhsNegative = divisor.isSignBitSet();
  APInt q = lhsNegative ? (-*this).quotientUnsigned(rhsNegative ? -divisor : divisor)
                        : quotientUnsigned(rhsNegative ? -divisor : divisor);
  return lhsNegative != rhsNegative ? -q : q;
}

APInt APInt::remainderSigned(const APInt &divisor) const {
  checkSameWidth(divisor, "APInt::remainderSigned");
  VORN_CHECK(divisor != 0, "APInt::remainderSigned", "divisor is zero");
  APInt magnitude = divisor.isSignBitSet() ? -divisor : divisor;
  if (isSignBitSet()) return -(-*this).remainderUnsigned(magnitude);
  return remainderUnsigned(magnitude);
}

void APInt::divRemSigned(const APInt &lhs, const APInt &rhs, APInt &quotient, APInt &remainder) {
  lhs.checkSameWidth(rhs, "APInt::divRemSigned");
  VORN_CHECK(rhs != 0, "APInt::divRemSigned", "divisor is zero");
  VORN_CHECK(&quotient != &remainder, "APInt::divRemSigned",
             "quotient and remainder are the same value");
  bool lhsNegative = lhs.isSignBitSet(), rhsNegative = rhs.isSignBitSet();
  APInt a = lhsNegative ? -lhs : lhs;
  APInt b = rhsNegative ? -rhs : rhs;
  divRemUnsigned(a, b, quotient, remainder);
  if (lhsNegative != rhsNegative) quotient = -quotient;
  if (lhsNegative) remainder = -remainder;
}

APInt APInt::gcd(const APInt &a, const APInt &b) {
  a.checkSameWidth(b, "APInt::gcd");
  APInt x(a), y(b);
  while (y != 0) {
    APInt t = x.remainderUnsigned(y);
    x = std::move(y);
    y = std::move(t);
  }
  return x;
}

// --- Arithmetic that reports overflow -----------------------------------------------------------

APInt APInt::addSignedChecked(const APInt &rhs, bool &overflow) const {
  APInt r = *this + rhs;
  overflow = isSignBitSet() == rhs.isSignBitSet() && r.isSignBitSet() != isSignBitSet();
  return r;
}

APInt APInt::addUnsignedChecked(const APInt &rhs, bool &overflow) const {
  APInt r = *this + rhs;
  overflow = r.unsignedLess(rhs);
  return r;
}

APInt APInt::subSignedChecked(const APInt &rhs, bool &overflow) const {
  APInt r = *this - rhs;
  overflow = isSignBitSet() != rhs.isSignBitSet() && r.isSignBitSet() != isSignBitSet();
  return r;
}

APInt APInt::subUnsignedChecked(const APInt &rhs, bool &overflow) const {
  APInt r = *this - rhs;
  overflow = r.unsignedGreater(*this);
  return r;
}

APInt APInt::mulUnsignedChecked(const APInt &rhs, bool &overflow) const {
  APInt r = *this * rhs;
  overflow = *this != 0 && rhs != 0 &&
             (r.quotientUnsigned(rhs) != *this || r.quotientUnsigned(*this) != rhs);
  return r;
}

APInt APInt::mulSignedChecked(const APInt &rhs, bool &overflow) const {
  APInt r = *this * rhs;
  // The quotient test cannot see the product of the minimum and -1, which wraps back onto the
  // minimum; at width 1 that is (-1)·(-1), whose 1 does not fit either.
  overflow = *this != 0 && rhs != 0 &&
             (r.quotientSigned(rhs) != *this || r.quotientSigned(*this) != rhs ||
              (isMinSigned() && rhs.isAllOnes()) || (rhs.isMinSigned() && isAllOnes()));
  return r;
}

APInt APInt::divSignedChecked(const APInt &rhs, bool &overflow) const {
  overflow = isMinSigned() && rhs.isAllOnes();
  return quotientSigned(rhs);
}

APInt APInt::shiftLeftSignedChecked(uint32_t amount, bool &overflow) const {
  if (amount >= bitWidth) {
    overflow = true;
    return shiftedLeft(bitWidth - 1);
  }
  overflow = amount >= (isSignBitSet() ? leadingOneCount() : leadingZeroCount());
  return shiftedLeft(amount);
}

} // namespace vorn
