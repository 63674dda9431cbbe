// Division of APInt values and the arithmetic that reports overflow.

#include "support/apint/APInt.h"

#include <utility>

namespace vorn {

namespace {

// The digits are 32-bit halves of words, so that every step of the long division fits 64-bit
// arithmetic: a two-digit dividend, a digit times a digit.
constexpr uint64_t kDigitBase = uint64_t(1) << 32;
// Digits of the stack buffer that serves the scratch arrays of most divisions.
constexpr uint32_t kStackDigits = 128;

// Knuth's algorithm D in base 2^32. u has m + n + 1 digits (the top one 0), v has n >= 2 digits
// with v[n - 1] != 0; q receives digits 0 .. m, r (when not null) the n-digit remainder. u and v
// are changed.
void divideDigits(uint32_t *u, uint32_t *v, uint32_t *q, uint32_t *r, uint32_t m, uint32_t n) {
  // Normalise so that the divisor's top digit has its top bit set: then each estimated quotient
  // digit is at most two too large, and the tests below leave at most one to add back.
  uint32_t shift = uint32_t(__builtin_clz(v[n - 1]));
  if (shift) {
    uint32_t carry = 0;
    for (uint32_t i = 0; i < m + n; ++i) {
      uint32_t d = u[i];
      u[i] = (d << shift) | carry;
      carry = d >> (32 - shift);
    }
    u[m + n] = carry;
    carry = 0;
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t d = v[i];
      v[i] = (d << shift) | carry;
      carry = d >> (32 - shift);
    }
  }

  const uint32_t vTop = v[n - 1];
  const uint64_t vNext = v[n - 2];
  // The two top digits of the dividend are divided by vTop once per quotient digit. A hardware
  // 64-bit division is slow (and a library call on i686), so it is done by multiplying with an
  // inverse of vTop computed once (Möller and Granlund's division by an invariant integer).
  const uint64_t inverse = ~uint64_t(0) / vTop - kDigitBase;
  for (uint32_t j = m + 1; j-- > 0;) {
    // Estimate qp = (u[j + n]·b + u[j + n - 1]) / vTop, capped at b - 1 (u[j + n] <= vTop always).
    uint64_t qp, rp;
    if (u[j + n] >= vTop) {
      qp = kDigitBase - 1;
      rp = uint64_t(u[j + n - 1]) + vTop;
    } else {
      uint32_t high = u[j + n], low = u[j + n - 1];
      uint64_t p = inverse * high + ((uint64_t(high) << 32) | low);
      uint32_t q = uint32_t(p >> 32) + 1;
      uint32_t r = low - q * vTop;
      if (r > uint32_t(p)) {
        --q;
        r += vTop;
      }
      if (r >= vTop) {
        ++q;
        r -= vTop;
      }
      qp = q;
      rp = r;
    }
    // Correct with the next divisor digit: at most twice, and only while rp is below b (then
    // both sides fit 64 bits).
    while (rp < kDigitBase && qp * vNext > ((rp << 32) | u[j + n - 2])) {
      --qp;
      rp += vTop;
    }

    // u[j .. j + n] -= qp · v. `carry` is what the next digit still owes; qp < b keeps the
    // product plus carry inside 64 bits.
    uint64_t carry = 0;
    for (uint32_t i = 0; i < n; ++i) {
      uint64_t p = qp * v[i] + carry;
      uint32_t low = uint32_t(p);
      carry = p >> 32;
      uint32_t d = u[j + i];
      u[j + i] = d - low;
      carry += d < low;
    }
    uint32_t top = u[j + n];
    bool negative = top < carry;
    u[j + n] = uint32_t(top - carry);

    q[j] = uint32_t(qp);
    if (negative) {
      // The estimate was one too large (rare): add the divisor back; the carry out of the top
      // digit cancels the borrow above.
      --q[j];
      uint64_t c = 0;
      for (uint32_t i = 0; i < n; ++i) {
        uint64_t s = uint64_t(u[j + i]) + v[i] + c;
        u[j + i] = uint32_t(s);
        c = s >> 32;
      }
      u[j + n] = uint32_t(u[j + n] + c);
    }
  }

  if (r) {
    if (shift) {
      uint32_t carry = 0;
      for (uint32_t i = n; i-- > 0;) {
        r[i] = (u[i] >> shift) | carry;
        carry = u[i] << (32 - shift);
      }
    } else {
      for (uint32_t i = 0; i < n; ++i) r[i] = u[i];
    }
  }
}

// Splits `count` words into 2·count digits, least significant first.
void toDigits(uint32_t *digits, const Word *w, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    digits[2 * i] = uint32_t(w[i]);
    digits[2 * i + 1] = uint32_t(w[i] >> 32);
  }
}

void fromDigits(Word *w, const uint32_t *digits, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) w[i] = digits[2 * i] | (Word(digits[2 * i + 1]) << 32);
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
  uint32_t n = 2 * rhsWords, m = 2 * lhsWords - n;

  // U (m + n + 1 digits), V (n), Q (m + n) and R (n), in one stack buffer when they fit.
  const uint32_t needed = (remainder ? 4 : 3) * n + 2 * m + 1;
  const bool onHeap = needed > kStackDigits;
  uint32_t stack[kStackDigits];
  uint32_t *U, *V, *Q, *R = nullptr;
  if (onHeap) {
    U = new uint32_t[m + n + 1];
    V = new uint32_t[n];
    Q = new uint32_t[m + n];
    if (remainder) R = new uint32_t[n];
  } else {
    U = stack;
    V = U + m + n + 1;
    Q = V + n;
    if (remainder) R = Q + m + n;
  }
  const uint32_t qDigits = m + n, rDigits = n;
  toDigits(U, lhs.wordData(), lhsWords);
  U[m + n] = 0;
  toDigits(V, rhs.wordData(), rhsWords);
  for (uint32_t i = 0; i < qDigits; ++i) Q[i] = 0;
  if (R)
    for (uint32_t i = 0; i < rDigits; ++i) R[i] = 0;

  // Leading zero digits take no part. m stops at 0, so a dividend with fewer significant digits
  // than the divisor still divides (to 0) instead of running off the array.
  while (V[n - 1] == 0) {
    --n;
    ++m;
  }
  while (m > 0 && U[m + n - 1] == 0) --m;

  if (n == 1) {
    // Short division: one 64-by-32-bit division per digit.
    uint64_t d = V[0], r = 0;
    for (uint32_t i = m + n; i-- > 0;) {
      uint64_t p = (r << 32) | U[i];
      if (p == 0) {
        Q[i] = 0;
        r = 0;
      } else if (p < d) {
        Q[i] = 0;
        r = p;
      } else if (p == d) {
        Q[i] = 1;
        r = 0;
      } else {
        Q[i] = uint32_t(p / d);
        r = p - Q[i] * d;
      }
    }
    if (R) R[0] = uint32_t(r);
  } else {
    divideDigits(U, V, Q, R, m, n);
  }

  if (quotient) {
    makeZeroOfWidth(*quotient, lhsWidth);
    fromDigits(quotient->mutableWords(), Q, lhsWords);
  }
  if (remainder) {
    makeZeroOfWidth(*remainder, rhsWidth);
    fromDigits(remainder->mutableWords(), R, rhsWords);
  }
  if (onHeap) {
    delete[] U;
    delete[] V;
    delete[] Q;
    delete[] R;
  }
}

APInt APInt::quotientUnsigned(const APInt &divisor) const {
  checkSameWidth(divisor, "APInt::quotientUnsigned");
  VORN_CHECK(divisor != 0, "APInt::quotientUnsigned", "divisor is zero");
  if (isInline()) return APInt(bitWidth, u.value / divisor.u.value);
  uint32_t lw = significantWords(), rw = divisor.significantWords();
  if (lw == 0 || lw < rw || unsignedLess(divisor)) return APInt(bitWidth, 0);
  if (*this == divisor) return APInt(bitWidth, 1);
  if (lw == 1) return APInt(bitWidth, u.words[0] / divisor.u.words[0]);
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
  if (lw == 1) return APInt(bitWidth, u.words[0] % divisor.u.words[0]);
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
