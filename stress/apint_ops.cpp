// Every APInt operation against GMP: arithmetic, bit operations and counts, comparisons, shifts
// and rotations, parts and width changes, byte reversal, division, overflow-checked arithmetic,
// gcd, square root and modular inverse, on widths around the word boundaries. Operands are built
// from the input with a bias toward the bit patterns where word-array code goes wrong. Results
// must also keep every bit above the width clear, and const operations must leave their operands
// alone.

#include <string>

#include "stress/StressDriver.h"
#include "support/apint/APInt.h"
#include "tests/support/apint/gmp_reference.h"

using apinttest::Mpz;
using apinttest::hexOf;
using apinttest::sameValue;
using apinttest::toAPInt;
using apinttest::toMpz;
using apinttest::toMpzSigned;
using vorn::APInt;
using vorn::Word;

namespace {

uint32_t pickWidth(stress::Input &in) {
  static const uint32_t widths[] = {1, 2, 7, 8, 16, 31, 32, 33, 48, 63, 64, 65, 96, 127, 128, 129, 191, 192, 256, 257};
  return in.oneIn(4) ? in.range(1, in.oneIn(4) ? 1100 : 300) : in.pick(widths);
}

void setOnes(mpz_ptr z, uint32_t lo, uint32_t hi) {
  for (uint32_t i = lo; i < hi; ++i) mpz_setbit(z, i);
}

// A number below 2^width.
void value(stress::Input &in, mpz_ptr out, uint32_t width) {
  mpz_set_ui(out, 0);
  switch (in.below(10)) {
  case 0: break;
  case 1: mpz_set_ui(out, 1); break;
  case 2: setOnes(out, 0, width); break;
  case 3: mpz_setbit(out, width - 1); break;
  case 4: setOnes(out, 0, width - 1); break;
  case 5: { // a run of ones, maybe inverted
    uint32_t lo = in.below(width), hi = lo + 1 + in.below(width - lo);
    setOnes(out, lo, hi);
    if (in.coin()) {
      Mpz all;
      setOnes(all, 0, width);
      mpz_xor(out, out, all);
    }
    break;
  }
  case 6: { // 2^(64k) + d, -3 <= d <= 3
    mpz_setbit(out, 64u * in.below(width / 64 + 2));
    long d = long(in.below(7)) - 3;
    if (d < 0) mpz_sub_ui(out, out, (unsigned long)-d);
    else mpz_add_ui(out, out, (unsigned long)d);
    break;
  }
  case 7: // a few bits
    for (uint32_t k = 1 + in.below(4); k > 0; --k) mpz_setbit(out, in.below(width));
    break;
  default: { // random words
    uint32_t words = (width + 63) / 64;
    for (uint32_t w = 0; w < words; ++w) {
      Word x = in.u64();
      Mpz part;
      apinttest::fromWords(part, &x, 1);
      mpz_mul_2exp(part, part, 64u * w);
      mpz_ior(out, out, part);
    }
    break;
  }
  }
  if (in.oneIn(6)) mpz_combit(out, in.below(width));
  // Negative results of the patterns above wrap into the width.
  mpz_fdiv_r_2exp(out, out, width);
}

struct Operand {
  Mpz z;  // unsigned reading
  Mpz s;  // signed reading
  APInt v;
  APInt copy;
};

void make(stress::Input &in, Operand &o, uint32_t width) {
  value(in, o.z, width);
  o.v = toAPInt(o.z, width);
  o.copy = o.v;
  toMpzSigned(o.s, o.v);
}

std::string show(const APInt &v) { return hexOf(v); }

#define EXPECT(got, want, width, what)                                                           \
  STRESS_CHECK(sameValue((got), (want), (width)), "%s: got %s, want %s (a = %s, b = %s)", what,  \
               show(got).c_str(), hexOf(want).c_str(), show(a.v).c_str(), show(b.v).c_str())

// The reference of a checked operation: the wrapped value and whether the exact one fits.
bool fitsSigned(mpz_srcptr exact, uint32_t w) {
  Mpz lo, hi;
  mpz_setbit(hi, w - 1);        // 2^(w-1)
  mpz_neg(lo, hi);              // -2^(w-1)
  return mpz_cmp(exact, lo) >= 0 && mpz_cmp(exact, hi) < 0;
}
bool fitsUnsigned(mpz_srcptr exact, uint32_t w) {
  return apinttest::sign(exact) >= 0 && mpz_sizeinbase(exact, 2) <= w;
}

// x reversed bytewise over `bytes` bytes.
void reverseBytes(mpz_ptr out, mpz_srcptr x, uint32_t bytes) {
  mpz_set_ui(out, 0);
  for (uint32_t i = 0; i < bytes; ++i) {
    Mpz byte;
    mpz_fdiv_q_2exp(byte, x, 8u * i);
    mpz_fdiv_r_2exp(byte, byte, 8);
    mpz_mul_2exp(byte, byte, 8u * (bytes - 1 - i));
    mpz_ior(out, out, byte);
  }
}

} // namespace

STRESS_TARGET("stress-apint-ops", 512, 20000, nullptr) {
  const uint32_t w = pickWidth(in);
  Operand a, b;
  make(in, a, w);
  make(in, b, w);
  Mpz want, want2, t;
  const uint32_t op = in.below(24);
  switch (op) {
  case 0: // + - * and negation, also in place and with the operand itself
    mpz_add(want, a.z, b.z);
    EXPECT(a.v + b.v, want, w, "a + b");
    mpz_sub(want, a.z, b.z);
    EXPECT(a.v - b.v, want, w, "a - b");
    mpz_mul(want, a.z, b.z);
    EXPECT(a.v * b.v, want, w, "a * b");
    mpz_neg(want, a.z);
    EXPECT(-a.v, want, w, "-a");
    {
      APInt x = a.v;
      switch (in.below(4)) {
      case 0: x += x; mpz_mul_ui(want, a.z, 2); break;
      case 1: x -= x; mpz_set_ui(want, 0); break;
      case 2: x *= x; mpz_mul(want, a.z, a.z); break;
      default: x *= b.v; mpz_mul(want, a.z, b.z); break;
      }
      EXPECT(x, want, w, "in place");
      APInt y = a.v;
      Word k = in.u64();
      mpz_set_ui(t, 0);
      apinttest::fromWords(t, &k, 1);
      mpz_add(want, a.z, t);
      EXPECT(y + k, want, w, "a + word");
    }
    break;
  case 1: { // bitwise
    mpz_and(want, a.z, b.z);
    EXPECT(a.v & b.v, want, w, "a & b");
    mpz_ior(want, a.z, b.z);
    EXPECT(a.v | b.v, want, w, "a | b");
    mpz_xor(want, a.z, b.z);
    EXPECT(a.v ^ b.v, want, w, "a ^ b");
    APInt x = a.v;
    x.complementAll();
    mpz_com(want, a.z);
    EXPECT(x, want, w, "~a");
    Word k = in.u64();
    APInt y = a.v;
    y |= k;
    mpz_set_ui(t, 0);
    apinttest::fromWords(t, &k, 1);
    mpz_ior(want, a.z, t);
    EXPECT(y, want, w, "a |= word");
    break;
  }
  case 2: { // comparisons
    int u = mpz_cmp(a.z, b.z), s = mpz_cmp(a.s, b.s);
    STRESS_CHECK((a.v == b.v) == (u == 0) && a.v.unsignedLess(b.v) == (u < 0) &&
                     a.v.unsignedLessOrEqual(b.v) == (u <= 0) && a.v.unsignedGreater(b.v) == (u > 0) &&
                     a.v.signedLess(b.v) == (s < 0) && a.v.signedGreaterOrEqual(b.v) == (s >= 0) &&
                     a.v.signedLessOrEqual(b.v) == (s <= 0) && a.v.signedGreater(b.v) == (s > 0),
                 "comparisons of %s and %s", show(a.v).c_str(), show(b.v).c_str());
    Word k = in.coin() ? a.v.asUint64() : in.u64();
    mpz_set_ui(t, 0);
    apinttest::fromWords(t, &k, 1);
    STRESS_CHECK((a.v == k) == (mpz_cmp(a.z, t) == 0), "%s == word", show(a.v).c_str());
    uint64_t limit = in.coin() ? in.u64() : in.below(2000);
    mpz_set_ui(t, 0);
    apinttest::fromWords(t, &limit, 1);
    uint64_t expected = mpz_cmp(a.z, t) <= 0 ? a.v.asUint64() : limit;
    STRESS_CHECK(a.v.valueOrLimit(limit) == expected, "valueOrLimit of %s", show(a.v).c_str());
    if (w <= 64) {
      mpz_fdiv_r_2exp(t, a.s, 64); // the signed value as 64 two's complement bits
      STRESS_CHECK(a.v.asInt64() == int64_t(apinttest::toWords(t, 1)[0]), "asInt64 of %s",
                   show(a.v).c_str());
    }
    break;
  }
  case 3: { // bit counts and tests
    uint32_t bits = apinttest::sign(a.z) ? uint32_t(mpz_sizeinbase(a.z, 2)) : 0;
    uint32_t lz = w - bits;
    Mpz inv;
    mpz_com(inv, a.z);
    mpz_fdiv_r_2exp(inv, inv, w);
    uint32_t invBits = apinttest::sign(inv) ? uint32_t(mpz_sizeinbase(inv, 2)) : 0;
    uint32_t tz = apinttest::sign(a.z) ? uint32_t(mpz_scan1(a.z, 0)) : w;
    uint32_t to = uint32_t(mpz_scan0(a.z, 0));
    if (to > w) to = w;
    STRESS_CHECK(a.v.leadingZeroCount() == lz && a.v.leadingOneCount() == w - invBits &&
                     a.v.trailingZeroCount() == tz && a.v.trailingOneCount() == to &&
                     a.v.popCount() == uint32_t(mpz_popcount(a.z)) && a.v.significantBits() == bits &&
                     a.v.significantWords() == (bits + 63) / 64,
                 "bit counts of %s", show(a.v).c_str());
    STRESS_CHECK(a.v.isPowerOfTwo() == (mpz_popcount(a.z) == 1) && a.v.isAllOnes() == (invBits == 0) &&
                     a.v.isSignBitSet() == (apinttest::sign(a.s) < 0) &&
                     a.v.isMinSigned() == (mpz_popcount(a.z) == 1 && mpz_tstbit(a.z, w - 1)),
                 "bit tests of %s", show(a.v).c_str());
    uint32_t i = in.below(w);
    STRESS_CHECK(a.v.bitAt(i) == bool(mpz_tstbit(a.z, i)), "bitAt(%u) of %s", i, show(a.v).c_str());
    APInt x = a.v;
    mpz_set(want, a.z);
    switch (in.below(3)) {
    case 0: x.setBitAt(i); mpz_setbit(want, i); break;
    case 1: x.clearBitAt(i); mpz_clrbit(want, i); break;
    default: x.toggleBitAt(i); mpz_combit(want, i); break;
    }
    EXPECT(x, want, w, "bit change");
    APInt ones = APInt::allOnesOfWidth(w), lo = APInt::minSignedOfWidth(w), hi = APInt::maxSignedOfWidth(w);
    mpz_set_ui(want, 0);
    setOnes(want, 0, w);
    EXPECT(ones, want, w, "allOnesOfWidth");
    mpz_set_ui(want, 0);
    mpz_setbit(want, w - 1);
    EXPECT(lo, want, w, "minSignedOfWidth");
    mpz_sub_ui(want, want, 1);
    EXPECT(hi, want, w, "maxSignedOfWidth");
    break;
  }
  case 4: { // shifts by a plain amount
    uint32_t n = in.oneIn(8) ? in.below(w + 70) : in.below(w + 1);
    mpz_mul_2exp(want, a.z, n);
    EXPECT(a.v.shiftedLeft(n), want, w, "a << n");
    APInt x = a.v;
    x <<= n;
    EXPECT(x, want, w, "a <<= n");
    mpz_fdiv_q_2exp(want, a.z, n);
    EXPECT(a.v.shiftedRightLogical(n), want, w, "a >>u n");
    uint32_t m = in.below(w + 1);
    if (m == w && w <= 64) mpz_set_ui(want, 0);
    else if (m == w) mpz_set_si(want, apinttest::sign(a.s) < 0 ? -1 : 0);
    else mpz_fdiv_q_2exp(want, a.s, m);
    EXPECT(a.v.shiftedRightArith(m), want, w, "a >>s m");
    break;
  }
  case 5: { // shifts and rotations by an APInt amount (any amount, capped at the width)
    uint32_t n = uint32_t(b.v.valueOrLimit(w));
    mpz_mul_2exp(want, a.z, n);
    EXPECT(a.v.shiftedLeft(b.v), want, w, "a << b");
    mpz_fdiv_q_2exp(want, a.z, n);
    EXPECT(a.v.shiftedRightLogical(b.v), want, w, "a >>u b");
    // An APInt amount above the width counts as the width (which rotates by 0).
    uint32_t r = n % w;
    Mpz low, high;
    mpz_mul_2exp(low, a.z, r);
    mpz_fdiv_r_2exp(low, low, w);
    mpz_fdiv_q_2exp(high, a.z, w - r);
    mpz_ior(want, low, high);
    EXPECT(a.v.rotatedLeft(b.v), want, w, "rotl(a, b)");
    uint32_t plain = in.u32();
    r = plain % w;
    mpz_fdiv_q_2exp(low, a.z, r);
    mpz_mul_2exp(high, a.z, w - r);
    mpz_fdiv_r_2exp(high, high, w);
    mpz_ior(want, low, high);
    EXPECT(a.v.rotatedRight(plain), want, w, "rotr(a, n)");
    break;
  }
  case 6: { // parts and width changes
    uint32_t k = in.below(w + 1);
    mpz_fdiv_r_2exp(want, a.z, k);
    EXPECT(a.v.lowPart(k), want, w, "lowPart");
    mpz_fdiv_q_2exp(want, a.z, w - k);
    EXPECT(a.v.highPart(k), want, w, "highPart");
    uint32_t narrow = in.range(1, w), wide = w + in.below(in.oneIn(4) ? 300 : 70);
    STRESS_CHECK(sameValue(a.v.truncatedTo(narrow), a.z, narrow), "truncatedTo(%u) of %s", narrow,
                 show(a.v).c_str());
    STRESS_CHECK(sameValue(a.v.zeroExtendedTo(wide), a.z, wide), "zeroExtendedTo(%u) of %s", wide,
                 show(a.v).c_str());
    STRESS_CHECK(sameValue(a.v.signExtendedTo(wide), a.s, wide), "signExtendedTo(%u) of %s", wide,
                 show(a.v).c_str());
    uint32_t any = in.range(1, w + 100);
    STRESS_CHECK(sameValue(a.v.zeroResizedTo(any), a.z, any) && sameValue(a.v.signResizedTo(any), a.s, any) &&
                     sameValue(a.v.zeroExtendedAtLeast(any), a.z, any > w ? any : w) &&
                     sameValue(a.v.signExtendedAtLeast(any), any > w ? mpz_srcptr(a.s) : mpz_srcptr(a.z), any > w ? any : w),
                 "resize to %u of %s", any, show(a.v).c_str());
    break;
  }
  case 7: { // byte reversal, at the widths that have it
    static const uint32_t small[] = {16, 32, 48, 64};
    uint32_t bw = in.coin() ? in.pick(small) : in.range(65, 400);
    Operand c;
    make(in, c, bw);
    uint32_t words = (bw + 63) / 64;
    reverseBytes(want, c.z, bw <= 64 ? bw / 8 : words * 8);
    if (bw > 64) mpz_fdiv_q_2exp(want, want, words * 64 - bw);
    STRESS_CHECK(sameValue(c.v.bytesReversed(), want, bw), "bytesReversed of %s: got %s, want %s",
                 show(c.v).c_str(), show(c.v.bytesReversed()).c_str(), hexOf(want).c_str());
    break;
  }
  case 8:
  case 9: { // unsigned division
    if (apinttest::sign(b.z) == 0) break;
    mpz_fdiv_q(want, a.z, b.z);
    mpz_fdiv_r(want2, a.z, b.z);
    EXPECT(a.v.quotientUnsigned(b.v), want, w, "a /u b");
    EXPECT(a.v.remainderUnsigned(b.v), want2, w, "a %u b");
    APInt q = toAPInt(t, w), r = APInt::allOnesOfWidth(w);
    switch (in.below(3)) {
    case 0: APInt::divRemUnsigned(a.v, b.v, q, r); break;
    case 1: q = a.v; r = b.v; APInt::divRemUnsigned(q, r, q, r); break;
    default: r = a.v; q = b.v; APInt::divRemUnsigned(r, q, q, r); break;
    }
    EXPECT(q, want, w, "divRemUnsigned quotient");
    EXPECT(r, want2, w, "divRemUnsigned remainder");
    break;
  }
  case 10:
  case 11: { // signed division, truncated toward zero
    if (apinttest::sign(b.z) == 0) break;
    mpz_tdiv_q(want, a.s, b.s);
    mpz_tdiv_r(want2, a.s, b.s);
    EXPECT(a.v.quotientSigned(b.v), want, w, "a /s b");
    EXPECT(a.v.remainderSigned(b.v), want2, w, "a %s b");
    APInt q = APInt::allOnesOfWidth(w), r = toAPInt(t, w);
    if (in.coin()) {
      APInt::divRemSigned(a.v, b.v, q, r);
    } else {
      q = a.v;
      r = b.v;
      APInt::divRemSigned(q, r, q, r);
    }
    EXPECT(q, want, w, "divRemSigned quotient");
    EXPECT(r, want2, w, "divRemSigned remainder");
    bool overflow = !in.coin();
    APInt d = a.v.divSignedChecked(b.v, overflow);
    EXPECT(d, want, w, "divSignedChecked");
    STRESS_CHECK(overflow == !fitsSigned(want, w), "divSignedChecked overflow of %s / %s",
                 show(a.v).c_str(), show(b.v).c_str());
    break;
  }
  case 12: { // checked arithmetic
    bool overflow = in.coin();
    struct {
      APInt (APInt::*fn)(const APInt &, bool &) const;
      void (*ref)(mpz_ptr, mpz_srcptr, mpz_srcptr);
      bool isSigned;
      const char *name;
    } const ops[] = {{&APInt::addSignedChecked, mpz_add, true, "addSignedChecked"},
                     {&APInt::addUnsignedChecked, mpz_add, false, "addUnsignedChecked"},
                     {&APInt::subSignedChecked, mpz_sub, true, "subSignedChecked"},
                     {&APInt::subUnsignedChecked, mpz_sub, false, "subUnsignedChecked"},
                     {&APInt::mulSignedChecked, mpz_mul, true, "mulSignedChecked"},
                     {&APInt::mulUnsignedChecked, mpz_mul, false, "mulUnsignedChecked"}};
    const auto &o = in.pick(ops);
    APInt got = (a.v.*o.fn)(b.v, overflow);
    o.ref(want, o.isSigned ? mpz_srcptr(a.s) : mpz_srcptr(a.z), o.isSigned ? mpz_srcptr(b.s) : mpz_srcptr(b.z));
    EXPECT(got, want, w, o.name);
    bool fits = o.isSigned ? fitsSigned(want, w) : fitsUnsigned(want, w);
    STRESS_CHECK(overflow == !fits, "%s overflow of %s and %s: %d", o.name, show(a.v).c_str(),
                 show(b.v).c_str(), int(overflow));
    break;
  }
  case 13: { // checked signed left shift
    uint32_t n = in.below(w + 8);
    bool overflow = in.coin();
    APInt got = a.v.shiftLeftSignedChecked(n, overflow);
    uint32_t by = n < w ? n : w - 1;
    mpz_mul_2exp(want, a.z, by);
    EXPECT(got, want, w, "shiftLeftSignedChecked");
    mpz_mul_2exp(t, a.s, n);
    STRESS_CHECK(overflow == (n >= w || !fitsSigned(t, w)), "shiftLeftSignedChecked(%u) overflow of %s: %d",
                 n, show(a.v).c_str(), int(overflow));
    break;
  }
  case 14: { // increments and decrements
    APInt x = a.v;
    APInt old = x++;
    mpz_add_ui(want, a.z, 1);
    EXPECT(x, want, w, "x++");
    EXPECT(old, a.z, w, "x++ result");
    --x;
    --x;
    mpz_sub_ui(want, a.z, 1);
    EXPECT(x, want, w, "--x");
    x = a.v;
    ++x;
    mpz_add_ui(want, a.z, 1);
    EXPECT(x, want, w, "++x");
    old = x--;
    EXPECT(x, a.z, w, "x--");
    break;
  }
  case 15: { // copies and moves between widths
    uint32_t w2 = pickWidth(in);
    Operand c;
    make(in, c, w2);
    APInt x = a.v;
    x = c.v;
    STRESS_CHECK(sameValue(x, c.z, w2), "copy assignment from width %u to %u", w2, w);
    APInt y = b.v;
    y = std::move(x);
    STRESS_CHECK(sameValue(y, c.z, w2), "move assignment from width %u to %u", w2, w);
    x = a.v; // a moved-from value can be assigned again
    EXPECT(x, a.z, w, "assignment after a move");
    APInt z(std::move(x));
    EXPECT(z, a.z, w, "move construction");
    z = z;
    EXPECT(z, a.z, w, "self-assignment");
    Word k = in.u64();
    z = k;
    mpz_set_ui(want, 0);
    apinttest::fromWords(want, &k, 1);
    EXPECT(z, want, w, "assignment of a word");
    bool isSigned = in.coin();
    APInt made(w2, k, isSigned);
    if (isSigned && w2 > 64 && (k >> 63)) {
      mpz_set_ui(t, 0);
      mpz_setbit(t, 64);
      mpz_sub(want, want, t);
    }
    STRESS_CHECK(sameValue(made, want, w2), "APInt(%u, %llx, %d)", w2, (unsigned long long)k, int(isSigned));
    break;
  }
  case 16: { // construction from words
    uint32_t count = in.range(1, 6);
    Word words[6];
    for (uint32_t i = 0; i < count; ++i) words[i] = in.u64();
    apinttest::fromWords(want, words, count);
    APInt made(w, vorn::WordView(words, count));
    EXPECT(made, want, w, "APInt(width, words)");
    break;
  }
  case 17: { // gcd
    mpz_gcd(want, a.z, b.z);
    EXPECT(APInt::gcd(a.v, b.v), want, w, "gcd");
    break;
  }
  case 18: { // square root, rounded to nearest
    mpz_sqrtrem(want, want2, a.z);
    if (mpz_cmp(want2, want) > 0) mpz_add_ui(want, want, 1);
    EXPECT(a.v.integerSqrt(), want, w, "integerSqrt");
    break;
  }
  case 19: { // modular inverse
    if (mpz_cmp_ui(mpz_srcptr(b.z), 1) <= 0 || mpz_cmp(a.z, b.z) >= 0) break;
    if (!mpz_invert(want, a.z, b.z)) mpz_set_ui(want, 0);
    EXPECT(a.v.inverseModulo(b.v), want, w, "inverseModulo");
    break;
  }
  default: { // long division on chosen word counts
    uint32_t lw = a.v.wordCount(), rw = b.v.significantWords();
    if (rw == 0) break;
    if (rw > lw) break;
    APInt q = b.v, r = a.v;
    APInt::longDivide(a.v, lw, b.v, rw, in.coin() ? &q : nullptr, &r);
    mpz_fdiv_r(want2, a.z, b.z);
    EXPECT(r, want2, w, "longDivide remainder");
    break;
  }
  }
  STRESS_CHECK(a.v == a.copy && b.v == b.copy, "an operation (%u) changed its operand", op);
}
