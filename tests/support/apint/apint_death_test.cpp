// Broken obligations of the callers stop a checking build at once, with a message that names the
// operation, before any word outside an array is read or written. Release builds compile the
// checks out, so these tests exist only where they are on.

#include "support/apint/APInt.h"

#include <gtest/gtest.h>

#include <string>

#ifndef NDEBUG

using vorn::APInt;
using vorn::Word;
namespace words = vorn::words;

namespace {

// The message of a failed check, as a regular expression.
std::string failure(const std::string &operation, const std::string &rule) {
  std::string text = "vorn: " + operation + ": " + rule, out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

const std::string kWidths = "operands have different widths";
const std::string kBit = "bit index is not below the width";
const std::string kZero = "divisor is zero";

class APIntDeathTest : public ::testing::Test {
protected:
  APInt a8{8, 5}, b9{9, 5}, w100{100, 5}, w130{130, 5}, zero8{8, 0}, zero100{100, 0};
};

TEST_F(APIntDeathTest, WidthZero) {
  EXPECT_DEATH(APInt(0, 1), failure("APInt::APInt", "width is zero"));
  const Word ws[] = {1};
  EXPECT_DEATH(APInt(0, ws), failure("APInt::APInt", "width is zero"));
  EXPECT_DEATH(APInt(70, vorn::WordView(ws, 0)),
               failure("APInt::APInt", "the word sequence is empty"));
  EXPECT_DEATH(APInt::minSignedOfWidth(0), failure("APInt::APInt", "width is zero"));
  EXPECT_DEATH(APInt::allOnesOfWidth(0), failure("APInt::APInt", "width is zero"));
  EXPECT_DEATH(w100.truncatedTo(0), failure("APInt::truncatedTo", "width is zero"));
}

TEST_F(APIntDeathTest, DifferentWidths) {
  EXPECT_DEATH(a8 += b9, failure("APInt::operator+=", kWidths));
  EXPECT_DEATH(w100 -= w130, failure("APInt::operator-=", kWidths));
  EXPECT_DEATH(w100 *= a8, failure("APInt::operator*=", kWidths));
  EXPECT_DEATH(a8 + b9, failure("APInt::operator+", kWidths));
  EXPECT_DEATH(w130 - w100, failure("APInt::operator-", kWidths));
  EXPECT_DEATH(a8 * w100, failure("APInt::operator*", kWidths));
  EXPECT_DEATH(a8 &= b9, failure("APInt::operator&=", kWidths));
  EXPECT_DEATH(w100 |= w130, failure("APInt::operator|=", kWidths));
  EXPECT_DEATH(w130 ^= w100, failure("APInt::operator^=", kWidths));
  EXPECT_DEATH(w100 & w130, failure("APInt::operator&", kWidths));
  EXPECT_DEATH(a8 | b9, failure("APInt::operator|", kWidths));
  EXPECT_DEATH(w130 ^ w100, failure("APInt::operator^", kWidths));
  EXPECT_DEATH((void)(w100 == w130), failure("APInt::operator==", kWidths));
  EXPECT_DEATH((void)(a8 != b9), failure("APInt::operator==", kWidths));
  EXPECT_DEATH(w100.unsignedLess(w130), failure("APInt::unsignedLess", kWidths));
  EXPECT_DEATH(a8.signedGreater(b9), failure("APInt::signedLess", kWidths));
  EXPECT_DEATH(w100.quotientUnsigned(w130), failure("APInt::quotientUnsigned", kWidths));
  EXPECT_DEATH(w100.remainderUnsigned(a8), failure("APInt::remainderUnsigned", kWidths));
  EXPECT_DEATH(a8.quotientSigned(b9), failure("APInt::quotientSigned", kWidths));
  EXPECT_DEATH(a8.remainderSigned(b9), failure("APInt::remainderSigned", kWidths));
  APInt q, r;
  EXPECT_DEATH(APInt::divRemUnsigned(w100, w130, q, r), failure("APInt::divRemUnsigned", kWidths));
  EXPECT_DEATH(APInt::divRemSigned(a8, b9, q, r), failure("APInt::divRemSigned", kWidths));
  EXPECT_DEATH(APInt::gcd(w100, w130), failure("APInt::gcd", kWidths));
  bool overflow;
  EXPECT_DEATH(a8.addSignedChecked(b9, overflow), failure("APInt::operator+", kWidths));
  EXPECT_DEATH(w100.mulUnsignedChecked(w130, overflow), failure("APInt::operator*", kWidths));
}

TEST_F(APIntDeathTest, BitIndexAtOrAboveTheWidth) {
  EXPECT_DEATH(a8.bitAt(8), failure("APInt::bitAt", kBit));
  EXPECT_DEATH(w100.bitAt(100), failure("APInt::bitAt", kBit));
  EXPECT_DEATH(a8.setBitAt(8), failure("APInt::setBitAt", kBit));
  EXPECT_DEATH(w100.setBitAt(128), failure("APInt::setBitAt", kBit));
  EXPECT_DEATH(w130.clearBitAt(130), failure("APInt::clearBitAt", kBit));
  EXPECT_DEATH(a8.toggleBitAt(64), failure("APInt::toggleBitAt", kBit));
}

TEST_F(APIntDeathTest, ZeroDivisor) {
  EXPECT_DEATH(a8.quotientUnsigned(zero8), failure("APInt::quotientUnsigned", kZero));
  EXPECT_DEATH(w100.quotientUnsigned(zero100), failure("APInt::quotientUnsigned", kZero));
  EXPECT_DEATH(w100.remainderUnsigned(zero100), failure("APInt::remainderUnsigned", kZero));
  EXPECT_DEATH(a8.quotientSigned(zero8), failure("APInt::quotientSigned", kZero));
  EXPECT_DEATH(w100.remainderSigned(zero100), failure("APInt::remainderSigned", kZero));
  APInt q, r;
  EXPECT_DEATH(APInt::divRemUnsigned(w100, zero100, q, r), failure("APInt::divRemUnsigned", kZero));
  EXPECT_DEATH(APInt::divRemSigned(a8, zero8, q, r), failure("APInt::divRemSigned", kZero));
  bool overflow;
  EXPECT_DEATH(a8.divSignedChecked(zero8, overflow), failure("APInt::quotientSigned", kZero));
  EXPECT_DEATH(APInt::longDivide(w130, 3, zero100, 2, &q, &r), failure("APInt::longDivide", kZero));
}

TEST_F(APIntDeathTest, OtherLimits) {
  APInt q, r;
  EXPECT_DEATH(APInt::longDivide(w100, 1, w130, 2, &q, &r),
               failure("APInt::longDivide", "word counts are not 1 <= rhsWords <= lhsWords"));
  EXPECT_DEATH(APInt::longDivide(w100, 2, a8, 0, &q, &r),
               failure("APInt::longDivide", "word counts are not 1 <= rhsWords <= lhsWords"));
  EXPECT_DEATH(APInt::longDivide(w100, 3, a8, 1, &q, &r),
               failure("APInt::longDivide", "a word count is above the value's words"));
  EXPECT_DEATH(APInt::divRemUnsigned(w100, w100, q, q),
               failure("APInt::divRemUnsigned", "quotient and remainder are the same value"));
  EXPECT_DEATH(w100.asInt64(), failure("APInt::asInt64", "width is above 64"));
  EXPECT_DEATH(a8.shiftedRightArith(9), failure("APInt::shiftedRightArith",
                                                "shift amount is above the width"));
  EXPECT_DEATH(w100.shiftedRightArith(101), failure("APInt::shiftedRightArith",
                                                    "shift amount is above the width"));
  EXPECT_DEATH(w100.lowPart(101), failure("APInt::lowPart", "bit count is above the width"));
  EXPECT_DEATH(a8.highPart(9), failure("APInt::highPart", "bit count is above the width"));
  EXPECT_DEATH(a8.truncatedTo(9),
               failure("APInt::truncatedTo", "width is above the value's width"));
  EXPECT_DEATH(w130.zeroExtendedTo(100),
               failure("APInt::zeroExtendedTo", "width is below the value's width"));
  EXPECT_DEATH(w100.signExtendedTo(8),
               failure("APInt::signExtendedTo", "width is below the value's width"));
  EXPECT_DEATH(a8.bytesReversed(),
               failure("APInt::bytesReversed", "width is not 16, 32, 48, 64 or above 64"));
  EXPECT_DEATH(APInt(40, 1).bytesReversed(),
               failure("APInt::bytesReversed", "width is not 16, 32, 48, 64 or above 64"));
}

TEST(WordsDeathTest, BrokenObligations) {
  Word a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8}, c[4] = {0, 0, 0, 0};
  EXPECT_DEATH(words::assignWord(a, 1, 0), failure("words::assignWord", "count is zero"));
  EXPECT_DEATH(words::highestSetBit(a, 0), failure("words::highestSetBit", "count is zero"));
  EXPECT_DEATH(words::copy(a + 1, a, 3),
               failure("words::copy", "source and destination overlap"));
  EXPECT_DEATH(words::extractBits(c, 1, a, 65, 0),
               failure("words::extractBits", "the field is wider than the destination"));
  EXPECT_DEATH(words::multiplyWordAdd(c, a, 3, 0, 2, 4, false),
               failure("words::multiplyWordAdd", "dstCount is above srcCount + 1"));
  EXPECT_DEATH(words::multiplyWordAdd(a + 1, a, 3, 0, 2, 2, false),
               failure("words::multiplyWordAdd",
                       "destination overlaps the source without being equal to it"));
  EXPECT_DEATH(words::multiplyTruncated(a, a, b, 2),
               failure("words::multiplyTruncated", "destination overlaps a source"));
  EXPECT_DEATH(words::multiplyFull(a, b, a + 2, 2, 2),
               failure("words::multiplyFull", "destination overlaps a source"));
  EXPECT_DEATH(words::multiplyFull(c, a, b, 0, 0),
               failure("words::multiplyFull", "both counts are zero"));
  EXPECT_DEATH(words::divideBitwise(a, b, a + 1, c, 2),
               failure("words::divideBitwise",
                       "quotient, remainder and scratch are not distinct arrays"));
  EXPECT_DEATH(words::setLowBits(c, 2, 129),
               failure("words::setLowBits", "more bits than the array holds"));
}

} // namespace

#endif
