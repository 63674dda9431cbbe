// The rules that the random differential tests cannot be relied on to hit: the add-back step of
// long division, its heap scratch, the minimum signed value, the widths that outputs keep, and
// ownership of the heap array across copies, moves and width changes (which the sanitizer build
// checks for leaks and double frees).

#include "support/apint/APInt.h"

#include "support/apint/Scratch.h"

#include "tests/support/apint/allocation_count.h"
#include "tests/support/apint/gmp_reference.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace apinttest;

namespace {

APInt powerOfTwo(uint32_t width, uint32_t bit) {
  APInt v(width, 0);
  v.setBitAt(bit);
  return v;
}

TEST(APIntRules, ConstructionCutsToTheWidth) {
  EXPECT_EQ(APInt(8, 0x1FF).asUint64(), 0xFFu);
  APInt unsignedOnes(70, ~Word(0)), signedOnes(70, ~Word(0), true);
  EXPECT_EQ(unsignedOnes.significantBits(), 64u);
  EXPECT_TRUE(signedOnes.isAllOnes());
  EXPECT_EQ(signedOnes.wordData()[1], 0x3Fu);

  const Word three[] = {0x1111, 0x2222, 0xFFFF};
  APInt v(130, three);
  EXPECT_EQ(std::vector<Word>(v.wordData(), v.wordData() + 3), (std::vector<Word>{0x1111, 0x2222, 3}));
  APInt fromCount(130, 2, three);
  EXPECT_EQ(std::vector<Word>(fromCount.wordData(), fromCount.wordData() + 3),
            (std::vector<Word>{0x1111, 0x2222, 0}));

  // Assigning a word clears the higher words rather than sign-filling them.
  APInt wide(100, 0);
  wide.complementAll();
  wide = ~Word(0);
  EXPECT_EQ(wide.significantBits(), 64u);
  EXPECT_EQ(wide.wordData()[1], 0u);
}

TEST(APIntRules, TopWordIsMaskedAfterEveryOperationThatCouldSetIt) {
  for (uint32_t width : {1u, 7u, 63u, 64u, 65u, 70u, 127u, 128u, 129u, 200u}) {
    SCOPED_TRACE("width " + std::to_string(width));
    APInt zero(width, 0), ones = APInt::allOnesOfWidth(width), one(width, 1);
    APInt x = zero;
    x.complementAll();
    EXPECT_TRUE(x == ones && x.popCount() == width);
    x = ones;
    ++x;
    EXPECT_TRUE(x == zero);
    --x;
    EXPECT_TRUE(x == ones && x.popCount() == width);
    EXPECT_EQ((zero - one).popCount(), width);
    EXPECT_EQ((-one).popCount(), width);
    EXPECT_EQ((ones * ones).popCount(), 1u); // (−1)² = 1
    EXPECT_EQ((ones + ones).popCount(), width - 1);
    EXPECT_EQ((ones ^ zero).popCount(), width);
    EXPECT_EQ(ones.shiftedLeft(1).popCount(), width - 1);
    EXPECT_EQ(ones.signExtendedTo(width + 70).popCount(), width + 70);
    EXPECT_EQ(zero.leadingZeroCount(), width);
    EXPECT_EQ(zero.trailingZeroCount(), width);
    EXPECT_EQ(ones.trailingOneCount(), width);
    EXPECT_EQ(ones.leadingOneCount(), width);
  }
}

TEST(APIntRules, MinimumSignedValue) {
  for (uint32_t width : {1u, 8u, 64u, 65u, 128u, 300u}) {
    SCOPED_TRACE("width " + std::to_string(width));
    APInt min = APInt::minSignedOfWidth(width), max = APInt::maxSignedOfWidth(width);
    APInt minusOne = APInt::allOnesOfWidth(width), zero(width, 0);
    EXPECT_TRUE(min.isMinSigned());
    EXPECT_TRUE(-min == min);
    // Less than every other value, although its magnitude is itself.
    EXPECT_TRUE(min.signedLess(max) || width == 1);
    EXPECT_TRUE(min.signedLess(zero));
    EXPECT_TRUE(width == 1 || min.signedLess(minusOne));
    EXPECT_FALSE(min.signedLess(min));
    EXPECT_TRUE(min + minusOne == max);
    bool overflow = false;
    APInt q = min.divSignedChecked(minusOne, overflow);
    EXPECT_TRUE(q == min);
    EXPECT_TRUE(overflow);
    EXPECT_TRUE(min.quotientSigned(minusOne) == min);
    EXPECT_TRUE(min.remainderSigned(minusOne) == zero);
    if (width > 1) {
      EXPECT_TRUE(min.quotientSigned(min) == APInt(width, 1));
      q = min.divSignedChecked(APInt(width, 1), overflow);
      EXPECT_FALSE(overflow);
    }
  }
  // At width 1 the value 1 is -1, below 0.
  EXPECT_TRUE(APInt(1, 1).signedLess(APInt(1, 0)));
}

TEST(APIntRules, LongDivisionAddBack) {
  // 2^96 / (2^95 + 2^32 - 1): the estimated digit 2 is one too large and must be taken back.
  APInt dividend = powerOfTwo(128, 96);
  APInt divisor = powerOfTwo(128, 95) + APInt(128, 0xFFFFFFFFu);
  APInt remainder = powerOfTwo(128, 95) - APInt(128, 0xFFFFFFFFu);
  EXPECT_TRUE(dividend.quotientUnsigned(divisor) == APInt(128, 1));
  EXPECT_TRUE(dividend.remainderUnsigned(divisor) == remainder);
  APInt q, r;
  APInt::divRemUnsigned(dividend, divisor, q, r);
  EXPECT_TRUE(q == APInt(128, 1) && r == remainder);
}

TEST(APIntRules, HeapScratchGivesTheStackResults) {
  Generator g(testSeed(0x4eab0001));
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    // Operands of 16 and 8 significant words divide on the stack, even when told to use all 64
    // and 32 words of their 4096-bit values; at 16384 bits the outputs' digits alone outgrow the
    // stack buffer, so the division moves its scratch (one array) to the heap, strips the zero
    // digits and comes to the same results.
    Mpz ma, mb;
    g.value(ma, 1024);
    g.value(mb, 512);
    if (sign(mb) == 0) mpz_set_ui(mb, 12345);
    mpz_setbit(ma, 1023);
    mpz_setbit(mb, 511);
    APInt a = toAPInt(ma, 4096), b = toAPInt(mb, 4096);
    APInt wa = a.zeroExtendedTo(16384), wb = b.zeroExtendedTo(16384);
    // Outputs of the right width are reused, so the only arrays are the scratch ones.
    APInt qs(4096, 1), rs(4096, 2), qh(16384, 3), rh(16384, 4);
    ArrayCounts before = arrayCounts();
    APInt::longDivide(a, 16, b, 8, &qs, &rs);
    APInt::longDivide(a, 64, b, 32, &qs, &rs);
    EXPECT_EQ(arrayCounts().allocated, before.allocated);
    APInt::longDivide(wa, 256, wb, 128, &qh, &rh);
    EXPECT_EQ(arrayCounts().allocated - before.allocated, 1u);
    EXPECT_EQ(arrayCounts().live(), before.live());
    qh = qh.truncatedTo(4096);
    rh = rh.truncatedTo(4096);
    EXPECT_TRUE(qs == qh && rs == rh);
    Mpz q, r;
    mpz_tdiv_qr(q, r, ma, mb);
    EXPECT_TRUE(sameValue(qh, q, 4096));
    EXPECT_TRUE(sameValue(rh, r, 4096));
    // And a division with every word significant: 64 words by 32.
    g.value(ma, 4096);
    g.value(mb, 2048);
    mpz_setbit(ma, 4095);
    mpz_setbit(mb, 2047);
    a = toAPInt(ma, 4096);
    b = toAPInt(mb, 4096);
    mpz_tdiv_qr(q, r, ma, mb);
    EXPECT_TRUE(sameValue(a.quotientUnsigned(b), q, 4096));
    EXPECT_TRUE(sameValue(a.remainderUnsigned(b), r, 4096));
  }
}

TEST(APIntRules, DivisionOutputWidths) {
  // A zero dividend, or one equal to the divisor, leaves the outputs their own widths.
  APInt q(7, 5), r(9, 5);
  APInt::divRemUnsigned(APInt(128, 0), APInt(128, 3), q, r);
  EXPECT_EQ(q.width(), 7u);
  EXPECT_EQ(r.width(), 9u);
  EXPECT_TRUE(q == 0 && r == 0);
  APInt::divRemUnsigned(APInt(128, 3), APInt(128, 3), q, r);
  EXPECT_TRUE(q.width() == 7 && q == 1 && r.width() == 9 && r == 0);
  // A smaller dividend: the remainder is the dividend, with its width.
  APInt::divRemUnsigned(APInt(128, 2), APInt(128, 3), q, r);
  EXPECT_TRUE(q.width() == 7 && q == 0 && r.width() == 128 && r == 2);
  // Otherwise both take the operands' width, on every path.
  APInt::divRemUnsigned(APInt(128, 7), APInt(128, 2), q, r);
  EXPECT_TRUE(q.width() == 128 && q == 3 && r.width() == 128 && r == 1);
  APInt big = powerOfTwo(200, 150) + APInt(200, 77), three(200, 3);
  APInt q2(1, 0), r2(300, 0);
  APInt::divRemUnsigned(big, three, q2, r2);
  EXPECT_TRUE(q2.width() == 200 && r2.width() == 200);
  EXPECT_TRUE(q2 * three + r2 == big);
  // Signed: -7 / 2 and 7 / -2.
  APInt minus7 = -APInt(16, 7), minus2 = -APInt(16, 2);
  EXPECT_EQ(minus7.quotientSigned(APInt(16, 2)).asInt64(), -3);
  EXPECT_EQ(minus7.remainderSigned(APInt(16, 2)).asInt64(), -1);
  EXPECT_EQ(APInt(16, 7).quotientSigned(minus2).asInt64(), -3);
  EXPECT_EQ(APInt(16, 7).remainderSigned(minus2).asInt64(), 1);
}

TEST(APIntRules, ShiftByTheWholeWidth) {
  // Arithmetic: an inline negative value gives 0, a wide one all ones.
  EXPECT_TRUE(APInt(8, 0x80).shiftedRightArith(8) == 0);
  EXPECT_TRUE(APInt(64, Word(1) << 63).shiftedRightArith(64) == 0);
  EXPECT_TRUE(APInt::minSignedOfWidth(100).shiftedRightArith(100).isAllOnes());
  EXPECT_TRUE(APInt::maxSignedOfWidth(100).shiftedRightArith(100) == 0);
  APInt top = powerOfTwo(100, 99).shiftedRightArith(40);
  EXPECT_EQ(top.popCount(), 41u);
  EXPECT_EQ(top.trailingZeroCount(), 59u);
  // Left and logical right shifts by the width or more give 0, inline and wide.
  for (uint32_t width : {8u, 64u, 100u, 128u})
    for (uint32_t n : {width, width + 1, width + 64, 5000u}) {
      APInt ones = APInt::allOnesOfWidth(width);
      EXPECT_TRUE(ones.shiftedLeft(n) == 0);
      EXPECT_TRUE(ones.shiftedRightLogical(n) == 0);
      APInt x = ones;
      x <<= n;
      EXPECT_TRUE(x == 0);
    }
}

// A random walk over a few values of random widths through copies, moves, self-assignment and
// width changes, checked against a model after each step.
TEST(APIntRules, OwnershipAcrossCopiesMovesAndWidthChanges) {
  uint64_t seed = testSeed(0x0e0e0001);
  SCOPED_TRACE("seed " + std::to_string(seed));
  Generator g(seed);
  const uint64_t liveBefore = arrayCounts().live();
  const uint32_t kSlots = 6;
  std::vector<APInt> slot(kSlots);
  std::vector<Mpz> model(kSlots);
  std::vector<uint32_t> width(kSlots, 1);
  auto widthOf = [&] {
    static const uint32_t widths[] = {1, 32, 64, 65, 128, 129, 300};
    return widths[g.below(7)];
  };
  for (uint64_t step = 0, steps = caseCount(20000); step < steps && !HasFailure(); ++step) {
    uint32_t i = g.below(kSlots), j = g.below(kSlots);
    switch (g.below(9)) {
    case 0: { // a fresh value
      uint32_t w = widthOf();
      g.value(model[i], w);
      slot[i] = toAPInt(model[i], w);
      width[i] = w;
      break;
    }
    case 1: // copy assignment, possibly onto itself
      slot[i] = slot[j];
      model[i] = model[j];
      width[i] = width[j];
      break;
    case 2: { // move assignment; the source becomes the placeholder
      if (i == j) {
        APInt &self = slot[i];
        slot[i] = std::move(self);
        break;
      }
      slot[i] = std::move(slot[j]);
      model[i] = model[j];
      width[i] = width[j];
      mpz_set_ui(model[j], 0);
      width[j] = 1;
      break;
    }
    case 3: { // copy and move construction
      APInt copy(slot[j]);
      APInt moved(std::move(copy));
      EXPECT_EQ(copy.width(), 1u);
      slot[i] = moved;
      model[i] = model[j];
      width[i] = width[j];
      break;
    }
    case 4: { // width changes between the inline and the wide form
      uint32_t w = widthOf();
      slot[i] = slot[i].zeroResizedTo(w);
      mpz_fdiv_r_2exp(model[i], model[i], w);
      width[i] = w;
      break;
    }
    case 5: { // sign extension or truncation
      uint32_t w = widthOf();
      if (w > width[i]) {
        toMpzSigned(model[i], slot[i]);
        mpz_fdiv_r_2exp(model[i], model[i], w);
      } else {
        mpz_fdiv_r_2exp(model[i], model[i], w);
      }
      slot[i] = slot[i].signResizedTo(w);
      width[i] = w;
      break;
    }
    case 6: // a word assigned at the same width
    {
      Word v = g.next();
      slot[i] = v;
      fromWords(model[i], &v, 1);
      mpz_fdiv_r_2exp(model[i], model[i], width[i]);
      break;
    }
    case 7: // in-place arithmetic between equal widths
      if (width[i] == width[j]) {
        slot[i] *= slot[j];
        mpz_mul(model[i], model[i], model[j]);
        slot[i] += slot[j];
        mpz_add(model[i], model[i], model[j]);
        mpz_fdiv_r_2exp(model[i], model[i], width[i]);
      }
      break;
    default: { // a division whose outputs are the operands
      if (width[i] == width[j] && i != j && slot[j] != 0) {
        Mpz q, r;
        mpz_tdiv_qr(q, r, model[i], model[j]);
        APInt quotient(width[i], 0);
        APInt::divRemUnsigned(slot[i], slot[j], quotient, slot[i]);
        model[i] = r;
        EXPECT_TRUE(sameValue(quotient, q, width[i])) << "step " << step;
      }
      break;
    }
    }
    for (uint32_t k = 0; k < kSlots; ++k)
      ASSERT_TRUE(sameValue(slot[k], model[k], width[k]))
          << "slot " << k << " after step " << step << ": " << hexOf(slot[k]) << ", want "
          << hexOf(model[k]) << " at width " << width[k];
  }
  slot.clear();
  EXPECT_EQ(arrayCounts().live(), liveBefore) << "word arrays were not freed";
}

TEST(APIntRules, AllocationRules) {
  // Inline values never allocate.
  ArrayCounts before = arrayCounts();
  {
    APInt a(64, 123456789), b(64, 987654321), c = a * b + a;
    c <<= 3;
    c = c.shiftedRightLogical(2).rotatedLeft(5).signExtendedTo(64) - b;
    bool overflow;
    c = c.mulSignedChecked(b, overflow).quotientUnsigned(a) + c.remainderSigned(b);
    APInt q(64, 0), r(64, 0);
    APInt::divRemUnsigned(c, a, q, r);
    EXPECT_TRUE(q * a + r == c);
  }
  EXPECT_EQ(arrayCounts().allocated, before.allocated);

  // A wide *= up to 4096 bits works on the stack, a wider one allocates one scratch array for the
  // call and frees it; a wide zero allocates nothing, and <<= works in place.
  APInt x(256, 12345), y(256, 678), zero(256, 0);
  APInt big = APInt::allOnesOfWidth(4096), huge = APInt::allOnesOfWidth(8192);
  before = arrayCounts();
  x *= y;
  big *= big;
  EXPECT_EQ(arrayCounts().allocated, before.allocated);
  huge *= huge;
  EXPECT_EQ(arrayCounts().allocated - before.allocated, 1u);
  EXPECT_EQ(arrayCounts().live(), before.live());
  EXPECT_TRUE(big == 1 && huge == 1);
  before = arrayCounts();
  zero *= y;
  x <<= 70;
  EXPECT_EQ(arrayCounts().allocated, before.allocated);
  EXPECT_TRUE(zero == 0 && x == APInt(256, 12345 * 678).shiftedLeft(70));

  // The algorithms' scratch storage: up to its stack count inside the object, above it one heap
  // block, freed with the object (every element written: the sanitizer build checks the bounds).
  before = arrayCounts();
  {
    vorn::Scratch<uint32_t, 8> fits(8);
    for (uint32_t i = 0; i < 8; ++i) fits[i] = i;
    EXPECT_EQ(arrayCounts().allocated, before.allocated);
    vorn::Scratch<uint32_t, 8> spills(9);
    for (uint32_t i = 0; i < 9; ++i) spills[i] = fits[i % 8];
    EXPECT_EQ(arrayCounts().live(), before.live() + 1);
  }
  EXPECT_EQ(arrayCounts().live(), before.live());
}

TEST(APIntRules, CheckedArithmeticEdges) {
  bool overflow = false;
  APInt two32(64, Word(1) << 32);
  EXPECT_TRUE(two32.mulUnsignedChecked(two32, overflow) == 0);
  EXPECT_TRUE(overflow);
  APInt::allOnesOfWidth(64).mulUnsignedChecked(APInt(64, 0), overflow);
  EXPECT_FALSE(overflow);
  // Shifting 1 at width 8: by 6 fits, by 7 reaches the sign; -1 by 7 stays negative.
  EXPECT_EQ(APInt(8, 1).shiftLeftSignedChecked(6, overflow).asUint64(), 64u);
  EXPECT_FALSE(overflow);
  EXPECT_EQ(APInt(8, 1).shiftLeftSignedChecked(7, overflow).asUint64(), 128u);
  EXPECT_TRUE(overflow);
  EXPECT_EQ(APInt(8, 0xFF).shiftLeftSignedChecked(7, overflow).asUint64(), 128u);
  EXPECT_FALSE(overflow);
  // An amount at or above the width shifts by width - 1 and overflows.
  EXPECT_EQ(APInt(8, 1).shiftLeftSignedChecked(9, overflow).asUint64(), 128u);
  EXPECT_TRUE(overflow);
  EXPECT_TRUE(APInt(8, 0).shiftLeftSignedChecked(8, overflow) == 0);
  EXPECT_TRUE(overflow);
}

TEST(APIntRules, GcdAndSmallValuesInWideTypes) {
  EXPECT_TRUE(APInt::gcd(APInt(200, 12), APInt(200, 18)) == 6);
  EXPECT_TRUE(APInt::gcd(APInt(200, 0), APInt(200, 5)) == 5);
  EXPECT_TRUE(APInt::gcd(APInt(200, 0), APInt(200, 0)) == 0);
  // Both below 2^64 in 128-bit values: one hardware division.
  APInt a(128, 1000000007ull * 3), b(128, 1000000007ull);
  EXPECT_TRUE(a.quotientUnsigned(b) == 3 && a.remainderUnsigned(b) == 0);
  // 2^64 · 2^64 at width 128 wraps to 0; a wide zero stays zero.
  APInt p = powerOfTwo(128, 64);
  EXPECT_TRUE(p * p == 0);
  APInt zero(128, 0);
  zero *= p;
  EXPECT_TRUE(zero == 0);
  // A wide value whose low word is 5 but with higher bits is not the word 5.
  EXPECT_FALSE(p + APInt(128, 5) == 5);
  EXPECT_TRUE(APInt(128, 5) == 5);
}

} // namespace
