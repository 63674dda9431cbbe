// Every APInt operation against the same computation in GMP, reduced modulo 2^width: for every
// width from 1 to 130 and for random widths up to 4160, with operands biased toward edge patterns.
// A failure names the seed, the case, the width and the operands. VORN_APINT_CASES scales the
// number of cases, VORN_APINT_SEED replaces the seed.

#include "support/apint/APInt.h"

#include "tests/support/apint/gmp_reference.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using namespace apinttest;

namespace {

// Exact results for the checked operations: whether z lies outside the unsigned (signed) range
// of the width.
bool outsideUnsigned(mpz_srcptr z, uint32_t width) {
  return sign(z) < 0 || mpz_sizeinbase(z, 2) > width;
}

bool outsideSigned(mpz_srcptr z, uint32_t width) {
  Mpz limit; // 2^(width - 1)
  mpz_setbit(limit, width - 1);
  if (mpz_cmp(z, limit) >= 0) return true;
  mpz_neg(limit, limit);
  return mpz_cmp(z, limit) < 0;
}

// Bit length of a non-negative z (0 for zero).
uint32_t bitLength(mpz_srcptr z) { return sign(z) ? uint32_t(mpz_sizeinbase(z, 2)) : 0; }

// Checks all operations on one pair of operands of one width.
class CaseChecker {
public:
  CaseChecker(uint64_t seed, const char *suite) : seed(seed), suite(suite), gen(seed) {}

  Generator &generator() { return gen; }

  void run(uint32_t width, uint64_t index) {
    w = width;
    caseIndex = index;
    a = gen.apint(w);
    b = gen.oneIn(6) ? a : gen.apint(w);
    if (gen.oneIn(6)) {
      // Equal but for one bit, mostly low: comparisons must look past equal top words.
      b = a;
      b.toggleBitAt(gen.oneIn(2) ? gen.below(w < 64 ? w : 64) : gen.below(w));
    }
    n = gen.amount(w);
    toMpz(ma, a);
    toMpz(mb, b);
    toMpzSigned(sa, a);
    toMpzSigned(sb, b);
    arithmetic();
    bitwise();
    comparisons();
    counts();
    shifts();
    widthChanges();
    division();
    checked();
  }

private:
  std::string context() const {
    return std::string(" [") + suite + " seed " + std::to_string(seed) + ", case " +
           std::to_string(caseIndex) + ", width " + std::to_string(w) + ", a " + hexOf(a) +
           ", b " + hexOf(b) + ", n " + std::to_string(n) + "]";
  }
  void value(const APInt &got, mpz_srcptr want, uint32_t width, const char *op) {
    if (sameValue(got, want, width)) return;
    Mpz reduced;
    mpz_fdiv_r_2exp(reduced, want, width);
    ADD_FAILURE() << op << ": got " << hexOf(got) << ", want " << hexOf(reduced) << " at width "
                  << width << context();
  }
  void value(const APInt &got, mpz_srcptr want, const char *op) { value(got, want, w, op); }
  template <typename T> void same(T got, T want, const char *op) {
    if (got == want) return;
    ADD_FAILURE() << op << ": got " << got << ", want " << want << context();
  }

  void arithmetic() {
    mpz_add(t, ma, mb);
    value(a + b, t, "a + b");
    APInt x = a;
    x += b;
    value(x, t, "a += b");
    mpz_sub(t, ma, mb);
    value(a - b, t, "a - b");
    x = a;
    x -= b;
    value(x, t, "a -= b");
    mpz_mul(t, ma, mb);
    value(a * b, t, "a * b");
    x = a;
    x *= b;
    value(x, t, "a *= b");
    x = a;
    x *= x;
    mpz_mul(t, ma, ma);
    value(x, t, "a *= a");
    mpz_neg(t, ma);
    value(-a, t, "-a");
    Word word = gen.next() >> gen.below(64);
    mpz_set(t, ma);
    Mpz wz;
    fromWords(wz, &word, 1);
    mpz_add(t, t, wz);
    value(a + word, t, "a + word");
    x = a;
    mpz_add_ui(t, ma, 1);
    value(++x, t, "++a");
    value(x--, t, "a-- (old value)");
    value(x, ma, "a-- (new value)");
    mpz_sub_ui(t, ma, 1);
    value(--x, t, "--a");
    value(x++, t, "a++ (old value)");
    value(x, ma, "a++ (new value)");
  }

  void bitwise() {
    mpz_and(t, ma, mb);
    value(a & b, t, "a & b");
    APInt x = a;
    x &= b;
    value(x, t, "a &= b");
    mpz_ior(t, ma, mb);
    value(a | b, t, "a | b");
    x = a;
    x |= b;
    value(x, t, "a |= b");
    mpz_xor(t, ma, mb);
    value(a ^ b, t, "a ^ b");
    x = a;
    x ^= b;
    value(x, t, "a ^= b");
    mpz_com(t, ma);
    x = a;
    x.complementAll();
    value(x, t, "complementAll");
    Word word = gen.next();
    Mpz wz;
    fromWords(wz, &word, 1);
    mpz_ior(t, ma, wz);
    x = a;
    x |= word;
    value(x, t, "a |= word");
    uint32_t bit = gen.below(w);
    x = a;
    x.setBitAt(bit);
    mpz_set(t, ma);
    mpz_setbit(t, bit);
    value(x, t, "setBitAt");
    x.clearBitAt(bit);
    mpz_clrbit(t, bit);
    value(x, t, "clearBitAt");
    x = a;
    x.toggleBitAt(bit);
    mpz_set(t, ma);
    mpz_combit(t, bit);
    value(x, t, "toggleBitAt");
    x.toggleBitAt(bit);
    value(x, ma, "toggleBitAt twice");
    same(a.bitAt(bit), mpz_tstbit(ma, bit) != 0, "bitAt");
  }

  void comparisons() {
    int u = mpz_cmp(ma, mb), s = mpz_cmp(sa, sb);
    same(a == b, u == 0, "a == b");
    same(a != b, u != 0, "a != b");
    same(a == APInt(a), true, "a == copy of a");
    same(a.unsignedLess(b), u < 0, "unsignedLess");
    same(a.unsignedLessOrEqual(b), u <= 0, "unsignedLessOrEqual");
    same(a.unsignedGreater(b), u > 0, "unsignedGreater");
    same(a.unsignedGreaterOrEqual(b), u >= 0, "unsignedGreaterOrEqual");
    same(a.signedLess(b), s < 0, "signedLess");
    same(a.signedLessOrEqual(b), s <= 0, "signedLessOrEqual");
    same(a.signedGreater(b), s > 0, "signedGreater");
    same(a.signedGreaterOrEqual(b), s >= 0, "signedGreaterOrEqual");
    Word low = a.asUint64();
    Mpz lz;
    fromWords(lz, &low, 1);
    same(a == low, mpz_cmp(ma, lz) == 0, "a == its word 0");
    same(a != low + 1, true, "a != another word");
  }

  void counts() {
    uint32_t length = bitLength(ma);
    same(a.leadingZeroCount(), w - length, "leadingZeroCount");
    mpz_com(t, ma);
    mpz_fdiv_r_2exp(t, t, w);
    same(a.leadingOneCount(), w - bitLength(t), "leadingOneCount");
    same(a.trailingZeroCount(), length ? uint32_t(mpz_scan1(ma, 0)) : w, "trailingZeroCount");
    uint32_t ones = uint32_t(mpz_scan0(ma, 0));
    same(a.trailingOneCount(), ones < w ? ones : w, "trailingOneCount");
    uint32_t pop = uint32_t(mpz_popcount(ma));
    same(a.popCount(), pop, "popCount");
    same(a.significantBits(), length, "significantBits");
    same(a.significantWords(), wordsFor(length), "significantWords");
    same(a.floorLog2(), length - 1, "floorLog2");
    same(a.isPowerOfTwo(), pop == 1, "isPowerOfTwo");
    same(a.isAllOnes(), pop == w, "isAllOnes");
    same(a.isMinSigned(), pop == 1 && length == w, "isMinSigned");
    same(a.isSignBitSet(), length == w, "isSignBitSet");
    Word low = toWords(ma, 1)[0];
    same(a.asUint64(), low, "asUint64");
    if (w <= 64) same(a.asInt64(), asSigned(), "asInt64");
    uint64_t limit = gen.oneIn(2) ? gen.below(5000) : gen.next();
    Mpz lim;
    fromWords(lim, &limit, 1);
    same(a.valueOrLimit(limit), mpz_cmp(ma, lim) > 0 ? limit : low, "valueOrLimit");
  }

  // The signed reading of a (width <= 64) as a 64-bit integer, through GMP's words.
  int64_t asSigned() {
    Mpz m;
    mpz_fdiv_r_2exp(m, sa, 64);
    return int64_t(toWords(m, 1)[0]);
  }

  void shifts() {
    mpz_mul_2exp(t, ma, n);
    value(a.shiftedLeft(n), t, "shiftedLeft");
    APInt x = a;
    x <<= n;
    value(x, t, "<<=");
    mpz_fdiv_q_2exp(t, ma, n);
    value(a.shiftedRightLogical(n), t, "shiftedRightLogical");
    uint32_t m = n <= w ? n : w;
    if (m == w && w <= 64)
      mpz_set_ui(t, 0); // the inline form gives 0 for a shift by the whole width
    else
      mpz_fdiv_q_2exp(t, sa, m);
    value(a.shiftedRightArith(m), t, "shiftedRightArith");
    uint32_t r = n % w;
    Mpz high;
    mpz_mul_2exp(t, ma, r);
    mpz_fdiv_q_2exp(high, ma, w - r);
    mpz_ior(t, t, high);
    value(a.rotatedLeft(n), t, "rotatedLeft");
    mpz_mul_2exp(t, ma, w - r);
    mpz_fdiv_q_2exp(high, ma, r);
    mpz_ior(t, t, high);
    value(a.rotatedRight(n), t, "rotatedRight");

    // Amounts given as APInt values count as at most the width.
    APInt amount = gen.oneIn(2) ? APInt(w, n) : b;
    Mpz am;
    toMpz(am, amount);
    uint32_t k = mpz_cmp_ui(static_cast<mpz_srcptr>(am), w) > 0 ? w : uint32_t(mpz_get_ui(am));
    mpz_mul_2exp(t, ma, k);
    value(a.shiftedLeft(amount), t, "shiftedLeft(APInt)");
    x = a;
    x <<= amount;
    value(x, t, "<<=(APInt)");
    mpz_fdiv_q_2exp(t, ma, k);
    value(a.shiftedRightLogical(amount), t, "shiftedRightLogical(APInt)");
    if (k == w && w <= 64)
      mpz_set_ui(t, 0);
    else
      mpz_fdiv_q_2exp(t, sa, k);
    value(a.shiftedRightArith(amount), t, "shiftedRightArith(APInt)");
    same(a.rotatedLeft(amount) == a.rotatedLeft(k), true, "rotatedLeft(APInt)");
    same(a.rotatedRight(amount) == a.rotatedRight(k), true, "rotatedRight(APInt)");

    mpz_fdiv_r_2exp(t, ma, m);
    value(a.lowPart(m), t, "lowPart");
    mpz_fdiv_q_2exp(t, ma, w - m);
    value(a.highPart(m), t, "highPart");
  }

  void widthChanges() {
    uint32_t narrower = 1 + gen.below(w);
    value(a.truncatedTo(narrower), ma, narrower, "truncatedTo");
    uint32_t wider = w + (gen.oneIn(4) ? 0 : gen.below(gen.oneIn(2) ? 8 : 200));
    value(a.zeroExtendedTo(wider), ma, wider, "zeroExtendedTo");
    value(a.signExtendedTo(wider), sa, wider, "signExtendedTo");
    uint32_t any = 1 + gen.below(w + 150);
    uint32_t atLeast = any > w ? any : w;
    value(a.zeroExtendedAtLeast(any), ma, atLeast, "zeroExtendedAtLeast");
    value(a.signExtendedAtLeast(any), sa, atLeast, "signExtendedAtLeast");
    value(a.zeroResizedTo(any), ma, any, "zeroResizedTo");
    value(a.signResizedTo(any), any > w ? sa : ma, any, "signResizedTo");

    if (w == 16 || w == 32 || w == 48 || w == 64 || w > 64) {
      // The bytes of the whole words reversed, then shifted down by the unused top bits.
      uint32_t count = wordsFor(w);
      std::vector<Word> v = toWords(ma, count);
      std::vector<unsigned char> bytes(8 * count);
      for (uint32_t i = 0; i < 8 * count; ++i) bytes[i] = (unsigned char)(v[i / 8] >> (8 * (i % 8)));
      if (w <= 64) bytes.resize(w / 8);
      mpz_import(t, bytes.size(), 1, 1, 0, 0, bytes.data()); // most significant byte first
      if (w > 64) mpz_fdiv_q_2exp(t, t, 64 * count - w);
      value(a.bytesReversed(), t, "bytesReversed");
    }
  }

  void division() {
    APInt d = b == 0 ? gen.nonZero(w) : b;
    Mpz md, sd, q, r;
    toMpz(md, d);
    toMpzSigned(sd, d);
    mpz_tdiv_qr(q, r, ma, md);
    value(a.quotientUnsigned(d), q, "quotientUnsigned");
    value(a.remainderUnsigned(d), r, "remainderUnsigned");
    // Outputs of the operands' width keep it in every case.
    APInt qo(w, 0x5a), ro(w, 0xa5);
    APInt::divRemUnsigned(a, d, qo, ro);
    value(qo, q, "divRemUnsigned quotient");
    value(ro, r, "divRemUnsigned remainder");
    // The remainder may be written over the dividend.
    APInt x = a;
    qo = Word(7);
    APInt::divRemUnsigned(x, d, qo, x);
    value(qo, q, "divRemUnsigned quotient (remainder over the dividend)");
    value(x, r, "divRemUnsigned remainder over the dividend");

    mpz_tdiv_qr(q, r, sa, sd);
    value(a.quotientSigned(d), q, "quotientSigned");
    value(a.remainderSigned(d), r, "remainderSigned");
    qo = Word(3);
    ro = Word(4);
    APInt::divRemSigned(a, d, qo, ro);
    value(qo, q, "divRemSigned quotient");
    value(ro, r, "divRemSigned remainder");

    mpz_gcd(t, ma, mb);
    value(APInt::gcd(a, b), t, "gcd");

    if (gen.oneIn(4)) {
      // A one-digit divisor of another width, the way text conversion divides.
      uint32_t dw = gen.oneIn(2) ? 4 : 8;
      APInt radix(dw, 2 + gen.below((1u << dw) - 2));
      APInt quotient, remainder;
      APInt::longDivide(a, a.wordCount(), radix, 1, &quotient, &remainder);
      Mpz mr;
      toMpz(mr, radix);
      mpz_tdiv_qr(q, r, ma, mr);
      value(quotient, q, w, "longDivide by a small divisor, quotient");
      value(remainder, r, dw, "longDivide by a small divisor, remainder");
    }
  }

  void checked() {
    bool overflow = false;
    APInt x = a.addUnsignedChecked(b, overflow);
    mpz_add(t, ma, mb);
    value(x, t, "addUnsignedChecked");
    same(overflow, outsideUnsigned(t, w), "addUnsignedChecked overflow");
    x = a.addSignedChecked(b, overflow);
    mpz_add(t, sa, sb);
    value(x, t, "addSignedChecked");
    same(overflow, outsideSigned(t, w), "addSignedChecked overflow");
    x = a.subUnsignedChecked(b, overflow);
    mpz_sub(t, ma, mb);
    value(x, t, "subUnsignedChecked");
    same(overflow, outsideUnsigned(t, w), "subUnsignedChecked overflow");
    x = a.subSignedChecked(b, overflow);
    mpz_sub(t, sa, sb);
    value(x, t, "subSignedChecked");
    same(overflow, outsideSigned(t, w), "subSignedChecked overflow");
    x = a.mulUnsignedChecked(b, overflow);
    mpz_mul(t, ma, mb);
    value(x, t, "mulUnsignedChecked");
    same(overflow, outsideUnsigned(t, w), "mulUnsignedChecked overflow");
    x = a.mulSignedChecked(b, overflow);
    mpz_mul(t, sa, sb);
    value(x, t, "mulSignedChecked");
    same(overflow, outsideSigned(t, w), "mulSignedChecked overflow");
    if (b != 0) {
      x = a.divSignedChecked(b, overflow);
      mpz_tdiv_q(t, sa, sb);
      value(x, t, "divSignedChecked");
      same(overflow, outsideSigned(t, w), "divSignedChecked overflow");
    }
    x = a.shiftLeftSignedChecked(n, overflow);
    uint32_t s = n < w ? n : w - 1;
    mpz_mul_2exp(t, sa, s);
    value(x, t, "shiftLeftSignedChecked");
    same(overflow, n >= w || outsideSigned(t, w), "shiftLeftSignedChecked overflow");
  }

  uint64_t seed;
  const char *suite;
  Generator gen;
  uint32_t w = 1, n = 0;
  uint64_t caseIndex = 0;
  APInt a, b;
  Mpz ma, mb, sa, sb, t;
};

// Every width from 1 to 130: the inline form, the word boundaries at 64 and 128, and the first
// widths of the wide form with one, two and three words.
TEST(APIntDifferential, EveryWidthUpTo130) {
  uint64_t seed = testSeed(0xa9172001);
  CaseChecker checker(seed, "EveryWidthUpTo130");
  uint64_t perWidth = caseCount(60);
  for (uint32_t width = 1; width <= 130 && !::testing::Test::HasFailure(); ++width)
    for (uint64_t i = 0; i < perWidth && !::testing::Test::HasFailure(); ++i)
      checker.run(width, i);
}

// Random widths up to 4160 bits (65 words), including the multi-word division paths on the stack
// and on the heap.
TEST(APIntDifferential, RandomWidthsUpTo4160) {
  uint64_t seed = testSeed(0xa9172002);
  CaseChecker checker(seed, "RandomWidthsUpTo4160");
  uint64_t cases = caseCount(800);
  for (uint64_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i)
    checker.run(checker.generator().width(4160), i);
}

} // namespace
