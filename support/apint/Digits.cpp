#include "support/apint/Digits.h"

#include "support/runtime/Checks.h"

#include <utility>

namespace vorn {
namespace digits {

namespace {

// a + c, carried through a's n digits into r (r may be a); returns the carry out.
Digit addDigit(Digit *r, const Digit *a, uint32_t n, Digit c) {
  uint32_t i = 0;
  for (; c && i < n; ++i) {
    Digit s = a[i] + c;
    c = s < c;
    r[i] = s;
  }
  if (r != a)
    for (; i < n; ++i) r[i] = a[i];
  return c;
}

// d (xn digits) = |x - y|, with y of yn <= xn digits; returns whether x < y.
bool absoluteDifference(Digit *d, const Digit *x, uint32_t xn, const Digit *y, uint32_t yn) {
  bool xSmaller = false;
  uint32_t top = xn;
  while (top > yn && x[top - 1] == 0) --top;
  if (top == yn) {
    uint32_t i = yn;
    while (i > 0 && x[i - 1] == y[i - 1]) --i;
    xSmaller = i > 0 && x[i - 1] < y[i - 1];
  }
  if (xSmaller) {
    subtract(d, y, x, yn);
    for (uint32_t i = yn; i < xn; ++i) d[i] = 0;
  } else {
    Digit borrow = subtract(d, x, y, yn);
    for (uint32_t i = yn; i < xn; ++i) {
      Digit v = x[i];
      d[i] = v - borrow;
      borrow = v < borrow;
    }
  }
  return xSmaller;
}

// Schoolbook: one row per digit of b, the long operand inside.
void multiplyBasecase(Digit *r, const Digit *a, uint32_t an, const Digit *b, uint32_t bn) {
  r[an] = multiplyDigit(r, a, an, b[0]);
  for (uint32_t j = 1; j < bn; ++j) r[an + j] = addMultiple(r + j, a, an, b[j]);
}

void multiplyLowBasecase(Digit *r, const Digit *a, const Digit *b, uint32_t n) {
  multiplyDigit(r, a, n, b[0]);
  for (uint32_t j = 1; j < n; ++j) addMultiple(r + j, a, n - j, b[j]);
}

// r (2n digits) = a·b, n digits each. With h = ceil(n/2) and a = a1·B^h + a0 (b alike):
// a·b = a1b1·B^2h + (a0b0 + a1b1 - (a0 - a1)(b0 - b1))·B^h + a0b0, three products of h digits.
void karatsuba(Digit *r, const Digit *a, const Digit *b, uint32_t n, Digit *scratch) {
  const uint32_t h = (n + 1) / 2, k = n - h;
  Digit *da = scratch, *db = da + h, *middle = db + h, *sum = middle + 2 * h;
  Digit *next = sum + 2 * h + 1;
  const bool negative = absoluteDifference(da, a, h, a + h, k) !=
                        absoluteDifference(db, b, h, b + h, k);
  multiply(r, a, h, b, h, next);
  multiply(r + 2 * h, a + h, k, b + h, k, next);
  multiply(middle, da, h, db, h, next);

  // sum = a0b0 + a1b1 -+ (a0 - a1)(b0 - b1) = a0b1 + a1b0, which needs 2h + 1 digits.
  for (uint32_t i = 0; i < 2 * k; ++i) sum[i] = r[2 * h + i];
  for (uint32_t i = 2 * k; i <= 2 * h; ++i) sum[i] = 0;
  sum[2 * h] = add(sum, sum, r, 2 * h);
  if (negative)
    sum[2 * h] += add(sum, sum, middle, 2 * h);
  else
    sum[2 * h] -= subtract(sum, sum, middle, 2 * h);

  // r[h ..] += sum; the product fits 2n digits, so nothing is carried out of the top.
  Digit carry = add(r + h, r + h, sum, 2 * h + 1);
  addDigit(r + 3 * h + 1, r + 3 * h + 1, 2 * n - (3 * h + 1), carry);
}

} // namespace

Digit multiplyDigit(Digit *r, const Digit *a, uint32_t n, Digit m) {
  Digit carry = 0;
  for (uint32_t i = 0; i < n; ++i) {
    DoubleDigit p = DoubleDigit(a[i]) * m + carry;
    r[i] = Digit(p);
    carry = Digit(p >> kDigitBits);
  }
  return carry;
}

Digit addMultiple(Digit *r, const Digit *a, uint32_t n, Digit m) {
  Digit carry = 0;
#pragma GCC unroll 4
  for (uint32_t i = 0; i < n; ++i) {
    // At most (B - 1)^2 + 2·(B - 1) = B^2 - 1: no overflow.
    DoubleDigit p = DoubleDigit(a[i]) * m + r[i] + carry;
    r[i] = Digit(p);
    carry = Digit(p >> kDigitBits);
  }
  return carry;
}

Digit subtractMultiple(Digit *r, const Digit *a, uint32_t n, Digit m) {
  Digit borrow = 0;
#pragma GCC unroll 4
  for (uint32_t i = 0; i < n; ++i) {
    DoubleDigit p = DoubleDigit(a[i]) * m + borrow;
    Digit low = Digit(p), old = r[i];
    r[i] = old - low;
    borrow = Digit(p >> kDigitBits) + (old < low);
  }
  return borrow;
}

// The Karatsuba recursion takes 6h + 1 digits per level (h = ceil(n/2)); an unbalanced product
// adds 2n for its pieces plus what its last, shorter piece takes, and multiplyModulo n + 1. A
// model of these calls puts the worst case under 10n for every size up to 1400 digits.
void multiply(Digit *r, const Digit *a, uint32_t an, const Digit *b, uint32_t bn, Digit *scratch) {
  VORN_CHECK(an >= bn && bn >= 1, "digits::multiply", "the operands are not an >= bn >= 1");
  if (bn < kKaratsubaThreshold) {
    multiplyBasecase(r, a, an, b, bn);
    return;
  }
  if (an == bn) {
    karatsuba(r, a, b, bn, scratch);
    return;
  }
  // Unbalanced: a in pieces of bn digits, each product added in at its place. Each piece's
  // product reaches bn digits above what the pieces before it wrote.
  Digit *piece = scratch, *next = scratch + 2 * bn;
  karatsuba(r, a, b, bn, next);
  for (uint32_t at = bn; at < an; at += bn) {
    const uint32_t len = an - at < bn ? an - at : bn;
    if (len == bn)
      karatsuba(piece, a + at, b, bn, next);
    else
      multiply(piece, b, bn, a + at, len, next);
    Digit carry = add(r + at, r + at, piece, bn);
    addDigit(r + at + bn, piece + bn, len, carry);
  }
}

void multiplyLow(Digit *r, const Digit *a, const Digit *b, uint32_t n, Digit *scratch) {
  if (n < kKaratsubaThreshold) {
    multiplyLowBasecase(r, a, b, n);
    return;
  }
  // The low n digits of a0b0 + (a1b0 + a0b1)·B^h: one whole product of h digits and two low
  // products of k digits.
  const uint32_t h = (n + 1) / 2, k = n - h;
  Digit *full = scratch, *low = full + 2 * h, *next = low + k;
  multiply(full, a, h, b, h, next);
  for (uint32_t i = 0; i < n; ++i) r[i] = full[i];
  multiplyLow(low, a + h, b, k, next);
  add(r + h, r + h, low, k);
  multiplyLow(low, a, b + h, k, next);
  add(r + h, r + h, low, k);
}

bool multiplyModulo(Digit *r, const Digit *a, uint32_t an, const Digit *b, uint32_t bn, uint32_t n,
                    Digit *scratch) {
  if (an < bn) {
    std::swap(a, b);
    std::swap(an, bn);
  }
  if (an + bn <= n) {
    multiply(r, a, an, b, bn, scratch);
    for (uint32_t i = an + bn; i < n; ++i) r[i] = 0;
    return false;
  }
  if (an + bn == n + 1) {
    // Whether the product fits shows in its top digit.
    Digit *whole = scratch;
    multiply(whole, a, an, b, bn, whole + n + 1);
    for (uint32_t i = 0; i < n; ++i) r[i] = whole[i];
    return whole[n] != 0;
  }
  // The product has at least an + bn - 1 >= n + 1 digits.
  if (bn < kKaratsubaThreshold) {
    // One row per digit of b, each cut at n digits; row j writes its carry above the words that
    // the rows before it reached.
    for (uint32_t i = 0; i < n; ++i) r[i] = 0;
    for (uint32_t j = 0; j < bn; ++j) {
      uint32_t len = an < n - j ? an : n - j;
      Digit carry = addMultiple(r + j, a, len, b[j]);
      if (j + len < n) r[j + len] = carry;
    }
  } else {
    multiplyLow(r, a, b, n, scratch);
  }
  return true;
}

} // namespace digits
} // namespace vorn
