// Square roots, modular inverses and double conversions against GMP; the division magic numbers
// against their contract (the quotient formula must give the exact quotient): at width 8 for
// every divisor and dividend, at width 16 for every divisor at every dividend where the quotient
// steps (which settles all dividends, the formulas being monotone in the dividend) and for some
// divisors at every dividend, at widths 32, 64 and 128 for random pairs.

#include "support/apint/APInt.h"

#include "tests/support/apint/gmp_reference.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace apinttest;

namespace {

// The square root of z rounded to nearest (a tie cannot happen for integers).
void nearestRoot(mpz_ptr out, mpz_srcptr z) {
  Mpz rem;
  mpz_sqrtrem(out, rem, z);
  if (mpz_cmp(rem, out) > 0) mpz_add_ui(out, out, 1);
}

void checkSqrt(const APInt &v, const std::string &context) {
  Mpz z, want;
  toMpz(z, v);
  nearestRoot(want, z);
  APInt got = v.integerSqrt();
  EXPECT_TRUE(sameValue(got, want, v.width()))
      << "integerSqrt(" << hexOf(v) << ") = " << hexOf(got) << ", want " << hexOf(want) << context;
}

TEST(APIntMath, SquareRootEdgeCases) {
  const uint64_t small[][2] = {{0, 0},  {1, 1},  {2, 1},  {3, 2},  {6, 2},
                               {7, 3},  {30, 5}, {31, 6}, {1000000000000ull, 1000000}};
  for (auto &c : small) {
    EXPECT_EQ(APInt(64, c[0]).integerSqrt().asUint64(), c[1]) << c[0];
    EXPECT_EQ(APInt(200, c[0]).integerSqrt().asUint64(), c[1]) << c[0];
  }
  // 53 significant bits: x^2 + x rounds down, x^2 + x + 1 up.
  uint64_t x = uint64_t(1) << 26;
  EXPECT_EQ(APInt(64, x * x + x).integerSqrt().asUint64(), x);
  EXPECT_EQ(APInt(64, x * x + x + 1).integerSqrt().asUint64(), x + 1);
  // The width keeps: a 6-bit value whose root needs the same width.
  APInt r = APInt(6, 63).integerSqrt();
  EXPECT_EQ(r.width(), 6u);
  EXPECT_EQ(r.asUint64(), 8u);
}

// The rounding boundaries x^2 - x + 1 (rounds to x), x^2 + x (x) and x^2 + x + 1 (x + 1) on every
// path: the table, the floating root (where the rounding of the root of x^2 + x must not be
// trusted near 2^51) and Newton's iteration at several widths.
TEST(APIntMath, SquareRootRoundingBoundaries) {
  Generator g(testSeed(0x5a7e0001));
  std::vector<uint64_t> roots;
  for (uint64_t x = 1; x < 200; ++x) roots.push_back(x);
  for (uint32_t bits = 8; bits <= 32; ++bits)
    for (int k = 0; k < 40; ++k)
      roots.push_back((uint64_t(1) << (bits - 1)) + (g.next() >> (65 - bits)));
  // Around the top of the floating path: roots up to 2^25.5.
  for (uint64_t x = 47453132 - 3000; x <= 47453132; ++x) roots.push_back(x);
  for (uint64_t x = (uint64_t(1) << 25) - 100; x < (uint64_t(1) << 25) + 100; ++x)
    roots.push_back(x);
  for (uint64_t x : roots) {
    Mpz xz, square;
    fromWords(xz, &x, 1);
    mpz_mul(square, xz, xz);
    for (int d = 0; d < 3; ++d) {
      Mpz z;
      if (d == 0) {
        mpz_sub(z, square, xz);
        mpz_add_ui(z, z, 1);
      } else {
        mpz_add(z, square, xz);
        mpz_add_ui(z, z, unsigned(d - 1));
      }
      uint32_t bits = uint32_t(mpz_sizeinbase(z, 2));
      for (uint32_t width : {bits, 64u, 130u}) {
        if (width < bits) continue;
        checkSqrt(toAPInt(z, width), " [x " + std::to_string(x) + "]");
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

TEST(APIntMath, SquareRootAgainstGmp) {
  uint64_t seed = testSeed(0x5a7e0002);
  Generator g(seed);
  uint64_t cases = caseCount(1500);
  for (uint64_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
    uint32_t width = i < 520 ? 1 + uint32_t(i) / 4 : g.width(1200);
    checkSqrt(g.apint(width),
              " [seed " + std::to_string(seed) + ", case " + std::to_string(i) + "]");
  }
}

TEST(APIntMath, InverseEdgeCases) {
  EXPECT_EQ(APInt(8, 3).inverseModulo(APInt(8, 7)).asUint64(), 5u);
  EXPECT_EQ(APInt(8, 2).inverseModulo(APInt(8, 4)).asUint64(), 0u);
  EXPECT_EQ(APInt(8, 0).inverseModulo(APInt(8, 9)).asUint64(), 0u);
  EXPECT_EQ(APInt(8, 1).inverseModulo(APInt(8, 255)).asUint64(), 1u);
  // Moduli with the top bit set: the coefficient must still be read with the right sign.
  EXPECT_EQ(APInt(8, 2).inverseModulo(APInt(8, 251)).asUint64(), 126u);
  EXPECT_EQ(APInt(8, 254).inverseModulo(APInt(8, 255)).asUint64(), 254u);
}

TEST(APIntMath, InverseAgainstGmp) {
  uint64_t seed = testSeed(0x1e7e0001);
  Generator g(seed);
  uint64_t cases = caseCount(1500);
  for (uint64_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
    uint32_t width = i % 3 == 0 ? 2 + g.below(63) : g.width(700);
    if (width < 2) width = 2;
    Mpz m, a, want;
    g.value(m, width);
    if (mpz_cmp_ui(static_cast<mpz_srcptr>(m), 2) < 0) mpz_set_ui(m, 2 + g.below(100));
    if (mpz_sizeinbase(m, 2) > width) mpz_fdiv_r_2exp(m, m, width);
    if (mpz_cmp_ui(static_cast<mpz_srcptr>(m), 2) < 0) mpz_set_ui(m, 3);
    if (g.oneIn(3)) mpz_setbit(m, width - 1); // a modulus above the signed range
    g.value(a, width);
    mpz_mod(a, a, m);
    if (g.oneIn(4)) { // a value with a common factor
      Mpz f;
      mpz_set_ui(f, 2 + g.below(10));
      mpz_mul(a, a, f);
      mpz_mod(a, a, m);
    }
    if (!mpz_invert(want, a, m)) mpz_set_ui(want, 0);
    APInt va = toAPInt(a, width), vm = toAPInt(m, width);
    APInt got = va.inverseModulo(vm);
    EXPECT_TRUE(sameValue(got, want, width))
        << "inverse of " << hexOf(va) << " modulo " << hexOf(vm) << " = " << hexOf(got)
        << ", want " << hexOf(want) << " [seed " << seed << ", case " << i << "]";
  }
}

// --- Division magic numbers ---------------------------------------------------------------------

// The signed W-bit reading of the low W bits of v.
int64_t signedOf(uint64_t v, uint32_t w) { return int64_t(v << (64 - w)) >> (64 - w); }

// Quotients by the formulas of the contract, for W <= 32 (every product fits 64 bits); the sums
// wrap at W bits as they would in W-bit registers.
struct SmallMagic {
  uint32_t w;
  int64_t sm;  // signed multiplier
  uint32_t ss; // signed shift
  int64_t d;   // signed divisor
  uint64_t um; // unsigned multiplier
  bool add;
  uint32_t us;

  int64_t signedQuotient(int64_t n) const {
    int64_t q = (n * sm) >> w; // the high half (floor)
    if (d > 0 && sm < 0) q = signedOf(uint64_t(q + n), w);
    if (d < 0 && sm > 0) q = signedOf(uint64_t(q - n), w);
    q >>= ss;
    return q + (q < 0);
  }
  uint64_t unsignedQuotient(uint64_t n) const {
    uint64_t t = (n * um) >> w;
    if (!add) return t >> us;
    return (((n - t) >> 1) + t) >> (us - 1);
  }
};

SmallMagic smallMagic(uint64_t divisor, uint32_t w, uint32_t leadingZeros = 0) {
  APInt d(w, divisor);
  SmallMagic m;
  m.w = w;
  m.d = signedOf(divisor, w);
  if (m.d != 1 && m.d != -1) {
    vorn::SignedDivMagic s = d.signedDivisionMagic();
    if (s.multiplier.width() != w) ADD_FAILURE() << "signed multiplier of width " << w;
    m.sm = s.multiplier.asInt64();
    m.ss = s.shift;
  } else {
    m.sm = 0;
    m.ss = 0;
  }
  vorn::UnsignedDivMagic u = d.unsignedDivisionMagic(leadingZeros);
  if (u.multiplier.width() != w) ADD_FAILURE() << "unsigned multiplier of width " << w;
  m.um = u.multiplier.asUint64();
  m.add = u.addIndicator;
  m.us = u.shift;
  if (m.add && m.us == 0) ADD_FAILURE() << "add form with shift 0: " << divisor << " at width " << w;
  return m;
}

// Checks the unsigned formula at dividend n; false (with a failure) when it is wrong.
bool unsignedAt(const SmallMagic &m, uint64_t divisor, uint64_t n, uint32_t lz) {
  uint64_t want = n / divisor, got = m.unsignedQuotient(n);
  if (got == want) return true;
  ADD_FAILURE() << "unsigned magic of " << divisor << " at width " << m.w << " (leading zeros "
                << lz << ", multiplier " << m.um << ", add " << m.add << ", shift " << m.us
                << "): " << n << " gives " << got << ", want " << want;
  return false;
}

bool signedAt(const SmallMagic &m, int64_t n) {
  int64_t want = n / m.d, got = m.signedQuotient(n);
  if (got == want) return true;
  ADD_FAILURE() << "signed magic of " << m.d << " at width " << m.w << " (multiplier " << m.sm
                << ", shift " << m.ss << "): " << n << " gives " << got << ", want " << want;
  return false;
}

// Every dividend where n / d changes (k·d - 1 and k·d, and their negatives) and the ends of the
// range: a monotone formula that is right there is right everywhere between.
bool unsignedSteps(const SmallMagic &m, uint64_t d, uint32_t lz) {
  uint64_t max = (uint64_t(1) << (m.w - lz)) - 1;
  if (!unsignedAt(m, d, 0, lz) || !unsignedAt(m, d, max, lz)) return false;
  for (uint64_t k = d; k <= max; k += d)
    if (!unsignedAt(m, d, k - 1, lz) || !unsignedAt(m, d, k, lz)) return false;
  return true;
}

bool signedSteps(const SmallMagic &m) {
  int64_t min = -(int64_t(1) << (m.w - 1)), max = -min - 1;
  int64_t ad = m.d < 0 ? -m.d : m.d;
  if (!signedAt(m, min) || !signedAt(m, max) || !signedAt(m, 0)) return false;
  for (int64_t k = ad; k <= -min; k += ad) {
    const int64_t points[] = {k - 1, k, -k, -k + 1};
    for (int64_t n : points)
      if (n >= min && n <= max && !signedAt(m, n)) return false;
  }
  return true;
}

TEST(APIntMagic, EdgeCasesAtWidth8) {
  struct {
    uint64_t d, um;
    bool add;
    uint32_t us;
    int64_t sm;
    uint32_t ss;
  } cases[] = {{3, 171, false, 1, 86, 0}, {7, 37, true, 3, -109, 2}, {10, 205, false, 3, 103, 2}};
  for (auto &c : cases) {
    SmallMagic m = smallMagic(c.d, 8);
    EXPECT_EQ(m.um, c.um) << c.d;
    EXPECT_EQ(m.add, c.add) << c.d;
    EXPECT_EQ(m.us, c.us) << c.d;
    EXPECT_EQ(m.sm, c.sm) << c.d;
    EXPECT_EQ(m.ss, c.ss) << c.d;
  }
}

// Widths 2 to 12: every divisor, every dividend, every count of known leading zeros for the
// unsigned form (divisors within the dividends' range). The narrowest widths once went wrong:
// at width 2 the signed magic of -2 gave 0 for -2 / -2.
TEST(APIntMagic, EveryDivisorAndDividendAtWidths2To12) {
  for (uint32_t w = 2; w <= 12; ++w) {
    const uint64_t size = uint64_t(1) << w;
    for (uint64_t d = 2; d < size; ++d) {
      SmallMagic m = smallMagic(d, w);
      for (uint64_t n = 0; n < size; ++n)
        if (!unsignedAt(m, d, n, 0)) return;
      if (m.d != 1 && m.d != -1)
        for (int64_t n = -int64_t(size / 2); n < int64_t(size / 2); ++n)
          if (!signedAt(m, n)) return;
    }
    for (uint32_t lz = 1; lz < w; ++lz)
      for (uint64_t d = 2; d < (size >> lz); ++d) {
        SmallMagic m = smallMagic(d, w, lz);
        for (uint64_t n = 0; n < (size >> lz); ++n)
          if (!unsignedAt(m, d, n, lz)) return;
      }
  }
}

// Width 16: every divisor at every step of its quotient, and every dividend for a set of
// divisors, which also confirms the step argument on this width.
TEST(APIntMagic, EveryDivisorAtWidth16) {
  for (uint64_t d = 2; d < 65536; ++d) {
    SmallMagic m = smallMagic(d, 16);
    if (!unsignedSteps(m, d, 0)) return;
    if (m.d != 1 && m.d != -1 && !signedSteps(m)) return;
  }
  Generator g(testSeed(0x3a61c001));
  std::vector<uint64_t> divisors = {3,      5,      6,      7,      10,     11,
                                    641,    0x7FFF, 0x8000, 0x8001, 0xFFFE, 0xFFFD};
  for (int i = 0; i < 4; ++i) divisors.push_back(2 + g.below(65533));
  for (uint64_t d : divisors) {
    SmallMagic m = smallMagic(d, 16);
    for (uint64_t n = 0; n < 65536; ++n)
      if (!unsignedAt(m, d, n, 0)) return;
    for (int64_t n = -32768; n < 32768; ++n)
      if (!signedAt(m, n)) return;
  }
  for (uint32_t lz = 1; lz < 16; ++lz)
    for (int i = 0; i < 40; ++i) {
      uint64_t range = uint64_t(1) << (16 - lz);
      if (range <= 2) break;
      uint64_t d = 2 + g.below(uint32_t(range - 2));
      if (!unsignedSteps(smallMagic(d, 16, lz), d, lz)) return;
    }
}

// Width 32 on the 64-bit formulas: random divisors (and the extremes), with and without known
// leading zeros, at random dividends and at dividends next to multiples of the divisor.
TEST(APIntMagic, RandomPairsAtWidth32) {
  uint64_t seed = testSeed(0x3a61c002);
  Generator g(seed);
  const uint64_t extremes[] = {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0xFFFFFFFEu, 0x80000001u};
  uint64_t divisors = caseCount(300);
  for (uint64_t i = 0; i < divisors; ++i) {
    uint64_t d = i < 5 ? extremes[i] : 2 + (g.next() >> (32 + g.below(31))) % 0xFFFFFFFEu;
    uint32_t bits = 64 - uint32_t(__builtin_clzll(d));
    uint32_t lz = g.oneIn(4) ? g.below(33 - bits) : 0; // d stays below 2^(32 - lz)
    SmallMagic m = smallMagic(d, 32, lz);
    uint64_t max = (uint64_t(1) << (32 - lz)) - 1;
    int64_t ad = m.d < 0 ? -m.d : m.d;
    bool withSigned = lz == 0 && ad != 1;
    for (int j = 0; j < 200; ++j) {
      uint64_t n = g.next() & max;
      if (j % 2) n = (1 + g.next() % (max / d)) * d - (j % 4 == 1);
      if (!unsignedAt(m, d, n, lz)) {
        ADD_FAILURE() << "[seed " << seed << "]";
        return;
      }
      if (!withSigned) continue;
      int64_t k = int64_t((g.next() >> 33) / uint64_t(ad)) * ad;
      const int64_t points[] = {signedOf(n, 32), k, k - 1, -k, -k + 1};
      for (int64_t p : points)
        if (p >= INT32_MIN && p <= INT32_MAX && !signedAt(m, p)) {
          ADD_FAILURE() << "[seed " << seed << "]";
          return;
        }
    }
  }
}

// Widths 64 and 128: the formulas computed in GMP.
TEST(APIntMagic, RandomPairsAtWidths64And128) {
  uint64_t seed = testSeed(0x3a61c003);
  Generator g(seed);
  uint64_t divisors = caseCount(120);
  for (uint32_t w : {64u, 128u}) {
    Mpz half; // 2^(w - 1)
    mpz_setbit(half, w - 1);
    for (uint64_t i = 0; i < divisors && !::testing::Test::HasFailure(); ++i) {
      APInt d = g.nonZero(w);
      Mpz ud, sd;
      toMpz(ud, d);
      toMpzSigned(sd, d);
      if (mpz_cmp_ui(static_cast<mpz_srcptr>(ud), 1) == 0 ||
          mpz_cmpabs_ui(static_cast<mpz_srcptr>(sd), 1) == 0) continue;
      vorn::SignedDivMagic s = d.signedDivisionMagic();
      vorn::UnsignedDivMagic u = d.unsignedDivisionMagic();
      Mpz sm, um;
      toMpzSigned(sm, s.multiplier);
      toMpz(um, u.multiplier);
      for (int j = 0; j < 60; ++j) {
        APInt nv = g.apint(w);
        if (j % 3 == 0) { // next to a multiple of the divisor
          Mpz k, n;
          g.value(k, w);
          mpz_fdiv_q(k, k, ud);
          mpz_mul(n, k, ud);
          if (j % 2) mpz_sub_ui(n, n, 1);
          nv = toAPInt(n, w);
        }
        Mpz un, sn, t, q, want;
        toMpz(un, nv);
        toMpzSigned(sn, nv);
        // Unsigned.
        mpz_mul(t, un, um);
        mpz_fdiv_q_2exp(t, t, w);
        if (!u.addIndicator) {
          mpz_fdiv_q_2exp(q, t, u.shift);
        } else {
          mpz_sub(q, un, t);
          mpz_fdiv_q_2exp(q, q, 1);
          mpz_add(q, q, t);
          mpz_fdiv_q_2exp(q, q, u.shift - 1);
        }
        mpz_fdiv_q(want, un, ud);
        if (mpz_cmp(q, want) != 0) {
          ADD_FAILURE() << "unsigned magic of " << hexOf(d) << " on " << hexOf(nv) << " [seed "
                        << seed << "]";
          break;
        }
        // Signed: the sum wraps to a signed w-bit value.
        mpz_mul(t, sn, sm);
        mpz_fdiv_q_2exp(t, t, w);
        if (sign(sd) > 0 && sign(sm) < 0) mpz_add(t, t, sn);
        if (sign(sd) < 0 && sign(sm) > 0) mpz_sub(t, t, sn);
        mpz_add(t, t, half);
        mpz_fdiv_r_2exp(t, t, w);
        mpz_sub(t, t, half);
        mpz_fdiv_q_2exp(q, t, s.shift);
        if (sign(q) < 0) mpz_add_ui(q, q, 1);
        mpz_tdiv_q(want, sn, sd);
        if (mpz_cmp(q, want) != 0) {
          ADD_FAILURE() << "signed magic of " << hexOf(d) << " on " << hexOf(nv) << " [seed "
                        << seed << "]";
          break;
        }
      }
    }
  }
}

// The computations end for the divisors they cannot serve too (width 1 has no other).
TEST(APIntMagic, UnusableDivisorsStillEnd) {
  APInt one(1, 1);
  (void)one.signedDivisionMagic();
  (void)one.unsignedDivisionMagic();
  for (uint32_t w : {2u, 8u, 64u, 100u}) {
    (void)APInt(w, 1).signedDivisionMagic();
    (void)APInt::allOnesOfWidth(w).signedDivisionMagic();
    (void)APInt(w, 1).unsignedDivisionMagic();
  }
}

// --- Double conversion --------------------------------------------------------------------------

// z (non-negative) rounded to the nearest double, ties to even, computed from its bits.
double roundedToNearest(mpz_srcptr z) {
  size_t bits = sign(z) ? mpz_sizeinbase(z, 2) : 0;
  if (bits <= 53) return mpz_get_d(z);
  Mpz q, rem, half;
  mpz_fdiv_q_2exp(q, z, bits - 53);
  mpz_fdiv_r_2exp(rem, z, bits - 53);
  mpz_setbit(half, bits - 54);
  int c = mpz_cmp(rem, half);
  if (c > 0 || (c == 0 && mpz_odd_p(static_cast<mpz_srcptr>(q)))) mpz_add_ui(q, q, 1);
  return std::ldexp(mpz_get_d(q), int(bits - 53));
}

// The contract's value: to nearest for an inline value or one with at most 64 significant bits;
// otherwise the magnitude truncated toward zero, infinite from 2^1024 on.
double expectedDouble(const APInt &v, bool isSigned) {
  Mpz z;
  if (isSigned)
    toMpzSigned(z, v);
  else
    toMpz(z, v);
  bool negative = sign(z) < 0;
  Mpz mag;
  mpz_abs(mag, z);
  size_t bits = sign(mag) ? mpz_sizeinbase(mag, 2) : 0;
  double d;
  if (v.isInline() || v.significantBits() <= 64)
    d = roundedToNearest(mag);
  else if (bits > 1024)
    d = std::numeric_limits<double>::infinity();
  else
    d = mpz_get_d(mag); // truncates
  return negative ? -d : d;
}

bool sameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(APIntDouble, ToDoubleEdgeCases) {
  APInt p64(128, 0);
  p64.setBitAt(64);
  EXPECT_EQ(p64.toDouble(false), std::ldexp(1.0, 64));
  APInt ones = APInt::allOnesOfWidth(128);
  EXPECT_EQ(ones.toDouble(true), -1.0);
  EXPECT_EQ(ones.toDouble(false), std::ldexp(1.0, 128) - std::ldexp(1.0, 75));
  APInt big = APInt::allOnesOfWidth(1024);
  EXPECT_TRUE(std::isfinite(big.toDouble(false)));
  EXPECT_EQ(big.toDouble(false), DBL_MAX);
  APInt huge(1025, 0);
  huge.setBitAt(1024);
  EXPECT_EQ(huge.toDouble(false), std::numeric_limits<double>::infinity());
  EXPECT_EQ((-huge.zeroExtendedTo(1100)).toDouble(true), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(APInt(8, 0xFF).toDouble(false), 255.0);
  EXPECT_EQ(APInt(8, 0xFF).toDouble(true), -1.0);
  EXPECT_EQ(APInt(64, ~Word(0)).toDouble(false), std::ldexp(1.0, 64));
  EXPECT_EQ(APInt::minSignedOfWidth(64).toDouble(true), -std::ldexp(1.0, 63));
  // A wide negative value with a short magnitude: -(2^64 - 1) truncates to -(2^64 - 2^11).
  APInt minusLarge = -APInt(128, ~Word(0));
  EXPECT_EQ(minusLarge.toDouble(true), -(std::ldexp(1.0, 64) - std::ldexp(1.0, 11)));
  EXPECT_EQ(APInt(128, ~Word(0)).toDouble(true), std::ldexp(1.0, 64));
}

TEST(APIntDouble, ToDoubleAgainstGmp) {
  uint64_t seed = testSeed(0xd0b1e001);
  Generator g(seed);
  uint64_t cases = caseCount(3000);
  for (uint64_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
    uint32_t width = i % 4 == 0 ? 1 + g.below(130) : g.width(1100);
    APInt v = g.apint(width);
    for (bool isSigned : {false, true}) {
      double got = v.toDouble(isSigned), want = expectedDouble(v, isSigned);
      EXPECT_TRUE(sameDouble(got, want))
          << "toDouble(" << hexOf(v) << ", " << isSigned << ") = " << got << ", want " << want
          << " [seed " << seed << ", case " << i << "]";
    }
  }
}

// The contract's value of fromDouble, from GMP's truncating conversion.
void expectedFromDouble(mpz_ptr out, double d) {
  if (std::isfinite(d)) {
    mpz_set_d(out, d);
    return;
  }
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  Word mantissa = (bits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
  fromWords(out, &mantissa, 1);
  mpz_mul_2exp(out, out, 972);
  if (bits >> 63) mpz_neg(out, out);
}

TEST(APIntDouble, FromDoubleEdgeCases) {
  EXPECT_EQ(APInt::fromDouble(3.7, 8).asUint64(), 3u);
  EXPECT_EQ(APInt::fromDouble(-3.7, 8).asUint64(), 253u);
  EXPECT_EQ(APInt::fromDouble(0.5, 8).asUint64(), 0u);
  EXPECT_EQ(APInt::fromDouble(-0.0, 8).asUint64(), 0u);
  EXPECT_TRUE(APInt::fromDouble(std::ldexp(1.0, 80), 64) == 0);
  APInt p80 = APInt::fromDouble(std::ldexp(1.0, 80), 128);
  EXPECT_EQ(p80.width(), 128u);
  EXPECT_TRUE(p80.isPowerOfTwo() && p80.trailingZeroCount() == 80);
  EXPECT_EQ(APInt::fromDouble(std::numeric_limits<double>::infinity(), 64).asUint64(), 0u);
}

TEST(APIntDouble, FromDoubleAgainstGmp) {
  uint64_t seed = testSeed(0xd0b1e002);
  Generator g(seed);
  std::vector<double> specials = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 1.5, 2.5, -2.5,
                                  0.9999999999999999, DBL_MIN, -DBL_MIN, std::ldexp(1.0, -1074), DBL_MAX, -DBL_MAX,
                                  std::nextafter(DBL_MAX, 0.0), std::ldexp(1.0, 52) + 0.5,
                                  std::ldexp(1.0, 53), std::ldexp(1.0, 63), -std::ldexp(1.0, 63),
                                  std::ldexp(1.0, 64), std::ldexp(1.0, 1023),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
  uint64_t cases = caseCount(3000);
  for (uint64_t i = 0; i < cases + specials.size() && !::testing::Test::HasFailure(); ++i) {
    double d;
    if (i < specials.size()) {
      d = specials[i];
    } else {
      uint64_t bits = g.next();
      switch (g.below(4)) {
      case 0: // an exponent near the widths tested
        bits = (bits & 0x800FFFFFFFFFFFFFull) | (uint64_t(1023 + g.below(200)) << 52);
        break;
      case 1: // a half: x.5
        d = std::ldexp(double(2 * (g.next() >> 12) + 1), -1);
        std::memcpy(&bits, &d, sizeof bits);
        break;
      default:
        break;
      }
      std::memcpy(&d, &bits, sizeof d);
    }
    Mpz want;
    expectedFromDouble(want, d);
    for (uint32_t width : {1u, 8u, 53u, 64u, 65u, 128u, 200u, 1100u, 1 + g.below(1100)}) {
      APInt got = APInt::fromDouble(d, width);
      EXPECT_TRUE(sameValue(got, want, width))
          << "fromDouble(" << d << ", " << width << ") = " << hexOf(got) << " [seed " << seed
          << ", case " << i << "]";
    }
  }
}

#ifndef NDEBUG
TEST(APIntMathDeathTest, BrokenObligations) {
  EXPECT_DEATH(APInt(8, 9).inverseModulo(APInt(8, 7)),
               "vorn: APInt::inverseModulo: value is not below the modulus");
  EXPECT_DEATH(APInt(8, 0).signedDivisionMagic(),
               "vorn: APInt::signedDivisionMagic: divisor is zero");
  EXPECT_DEATH(APInt(8, 3).unsignedDivisionMagic(8),
               "vorn: APInt::unsignedDivisionMagic: leading zeros are not below the width");
}
#endif

} // namespace
