#ifndef VORN_SUPPORT_APINT_APINT_H
#define VORN_SUPPORT_APINT_APINT_H

#include "support/runtime/Compiler.h"

#include "support/apint/Words.h"
#include "support/runtime/Checks.h"
#include "support/text/Hashing.h"
#include "support/text/InlineVector.h"
#include "support/text/StrView.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The out-of-line halves of APInt's inline operations, declared noexcept as well. This library is
// built without exceptions and ends the process when memory runs out, so they cannot throw, and
// saying so spares a loop of inline operations the landing pad that kept its values in memory.
// They bind inside whatever links this static library (hidden), so a call needs no PIC register
// on i686 and a loop around one has that register for its values.
#define VORN_APINT_WIDE_PATH __attribute__((visibility("hidden")))

namespace vorn {

class NodeProfile;
class OutStream;
struct SignedDivMagic;
struct UnsignedDivMagic;

// An integer of a fixed bit width of at least 1, holding an unsigned bit pattern of exactly that
// many bits. Arithmetic wraps modulo 2^width. Whether the pattern is read as unsigned or as two's
// complement signed is chosen by each operation (unsignedLess / signedLess, quotientUnsigned /
// quotientSigned, ...), never stored.
//
// Values up to 64 bits wide live inside the object (the inline form) and never allocate; wider
// values own a heap array of wordCount() words, least significant first, which copies duplicate.
// Bits at or above the width are always 0.
//
// The caller's obligations, for every operation below:
//   - a width is at least 1;
//   - the two operands of a two-operand operation or comparison have the same width;
//   - a bit index is below the width;
//   - a divisor is not zero.
// Builds with checks on (no NDEBUG) stop with a message naming the operation when one is broken;
// in release builds a broken obligation is undefined behaviour. Operations with further limits
// (shift amounts, target widths) say so at their declaration.
class APInt {
public:
  // --- Construction, copying, destruction -------------------------------------------------------

  // A placeholder of width 1 and value 0, to be assigned before use.
  APInt() : bitWidth(1) { u.value = 0; }
  // `value` cut to `width` bits. When wider than 64 bits and `isSigned`, a value with bit 63 set
  // is sign-extended (all higher words all ones); otherwise the higher words are 0.
  APInt(uint32_t width, Word value, bool isSigned = false) : bitWidth(width) {
    VORN_CHECK(width >= 1, "APInt::APInt", "width is zero");
    if (isInline()) {
      u.value = value;
      maskTopWord();
    } else {
      setWords(wideWords(width, value, isSigned));
    }
  }
  // The words (least significant first) cut to `width` bits; missing words are 0. The sequence
  // must not be empty.
  APInt(uint32_t width, WordView words);
  APInt(uint32_t width, uint32_t count, const Word *words) : APInt(width, WordView(words, count)) {}
  // A value of `width` set from `text` as parseText does, with the same obligations.
  APInt(uint32_t width, StrView text, uint32_t radix) : bitWidth(1) {
    u.value = 0;
    parseText(width, text, radix);
  }

  APInt(const APInt &other) : bitWidth(other.bitWidth) {
    if (isInline())
      u.value = other.u.value;
    else
      setWords(duplicateWords(other.wordPtr(), wordCount()));
  }
  // Takes over `other`'s array; `other` is left as the placeholder (width 1, value 0).
  APInt(APInt &&other) noexcept : bitWidth(other.bitWidth), u(other.u) {
    other.bitWidth = 1;
    other.u.value = 0;
  }
  ~APInt() {
    if (!isInline()) delete[] wordPtr();
  }

  // Takes `rhs`'s width and value; self-assignment does nothing.
  APInt &operator=(const APInt &rhs) {
    if (isInline() && rhs.isInline()) {
      bitWidth = rhs.bitWidth;
      u.value = rhs.u.value;
      return *this;
    }
    if (bitWidth == rhs.bitWidth) {
      Word *to = wordPtr();
      const Word *from = rhs.wordPtr();
      for (uint32_t i = 0, n = wordCount(); i < n; ++i) to[i] = from[i];
      return *this;
    }
    return assignSlow(rhs);
  }
  // Takes `rhs`'s width and array; `rhs` is left as the placeholder (width 1, value 0).
  APInt &operator=(APInt &&rhs) noexcept {
    if (isInline() && rhs.isInline()) {
      // Nothing to free or take over. rhs is reset before this is written, so that a self-move
      // keeps the value; the stores to a temporary rhs vanish once inlined.
      const uint32_t width = rhs.bitWidth;
      const Word value = rhs.u.value;
      rhs.bitWidth = 1;
      rhs.u.value = 0;
      bitWidth = width;
      u.value = value;
      return *this;
    }
    if (this != &rhs) {
      if (!isInline()) delete[] wordPtr();
      bitWidth = rhs.bitWidth;
      u = rhs.u;
      rhs.bitWidth = 1;
      rhs.u.value = 0;
    }
    return *this;
  }
  // Keeps the width: word 0 becomes `value` (cut to the width), all higher words 0.
  APInt &operator=(Word value) {
    if (isInline()) {
      u.value = value;
      maskTopWord();
    } else {
      words::assignWord(wordPtr(), value, wordCount());
    }
    return *this;
  }

  // --- Queries and constants --------------------------------------------------------------------

  uint32_t width() const { return bitWidth; }
  // Whether the value is held inside the object (width <= 64).
  bool isInline() const { return bitWidth <= kWordBits; }
  // (width + 63) / 64.
  uint32_t wordCount() const { return bitWidth / kWordBits + (bitWidth % kWordBits != 0); }
  // The wordCount() words, least significant first; valid until the value is changed.
  const Word *wordData() const { return isInline() ? &u.value : wordPtr(); }

  // Position of the top 1 bit plus one; 0 for zero.
  uint32_t significantBits() const { return bitWidth - leadingZeroCount(); }
  // Words needed for significantBits(): 0 for zero.
  uint32_t significantWords() const {
    uint32_t bits = significantBits();
    return bits ? (bits - 1) / kWordBits + 1 : 0;
  }
  // Bit width - 1, the sign of the signed reading.
  bool isSignBitSet() const { return bitAt(bitWidth - 1); }
  // Bit `index` (below the width).
  bool bitAt(uint32_t index) const {
    VORN_CHECK(index < bitWidth, "APInt::bitAt", "bit index is not below the width");
    return ((isInline() ? u.value : wordPtr()[index / kWordBits]) >> (index % kWordBits)) & 1;
  }
  // Word 0: the low 64 bits.
  uint64_t asUint64() const { return isInline() ? u.value : wordPtr()[0]; }
  // The value read as signed; only for widths up to 64.
  int64_t asInt64() const {
    VORN_CHECK(isInline(), "APInt::asInt64", "width is above 64");
    return int64_t(u.value << (kWordBits - bitWidth)) >> (kWordBits - bitWidth);
  }
  // The value when it is at most `limit`, else `limit`.
  uint64_t valueOrLimit(uint64_t limit) const;
  // Exactly one bit set.
  bool isPowerOfTwo() const;
  // The smallest signed value: only the sign bit set.
  bool isMinSigned() const { return bitWidth == 1 ? u.value == 1 : isSignBitSet() && isPowerOfTwo(); }
  // Every bit set.
  bool isAllOnes() const;
  // Index of the top 1 bit; all ones (4294967295) for zero.
  uint32_t floorLog2() const { return bitWidth - 1 - leadingZeroCount(); }

  // Width `width`, only the top bit set: the smallest signed value.
  static APInt minSignedOfWidth(uint32_t width);
  // Width `width`, every bit set except the top one: the largest signed value.
  static APInt maxSignedOfWidth(uint32_t width);
  // Width `width`, every bit set.
  static APInt allOnesOfWidth(uint32_t width) { return APInt(width, ~Word(0), true); }

  // --- Bit manipulation -------------------------------------------------------------------------

  // Set, clear or flip bit `index` (below the width).
  void setBitAt(uint32_t index) {
    VORN_CHECK(index < bitWidth, "APInt::setBitAt", "bit index is not below the width");
    wordHolding(index) |= Word(1) << (index % kWordBits);
  }
  void clearBitAt(uint32_t index) {
    VORN_CHECK(index < bitWidth, "APInt::clearBitAt", "bit index is not below the width");
    wordHolding(index) &= ~(Word(1) << (index % kWordBits));
  }
  void toggleBitAt(uint32_t index) {
    VORN_CHECK(index < bitWidth, "APInt::toggleBitAt", "bit index is not below the width");
    wordHolding(index) ^= Word(1) << (index % kWordBits);
  }
  // Inverts every bit.
  void complementAll();

  APInt &operator&=(const APInt &rhs) {
    checkSameWidth(rhs, "APInt::operator&=");
    if (isInline())
      u.value &= rhs.u.value;
    else
      bitwiseWords(wordPtr(), rhs.wordPtr(), wordCount(), '&');
    return *this;
  }
  APInt &operator|=(const APInt &rhs) {
    checkSameWidth(rhs, "APInt::operator|=");
    if (isInline())
      u.value |= rhs.u.value;
    else
      bitwiseWords(wordPtr(), rhs.wordPtr(), wordCount(), '|');
    return *this;
  }
  APInt &operator^=(const APInt &rhs) {
    checkSameWidth(rhs, "APInt::operator^=");
    if (isInline())
      u.value ^= rhs.u.value;
    else
      bitwiseWords(wordPtr(), rhs.wordPtr(), wordCount(), '^');
    return *this;
  }
  // ORs `value` into word 0 (cut to the width when that is below 64).
  APInt &operator|=(Word value) {
    if (isInline()) {
      u.value |= value;
      maskTopWord();
    } else {
      wordPtr()[0] |= value;
    }
    return *this;
  }
  APInt operator&(const APInt &rhs) const;
  APInt operator|(const APInt &rhs) const;
  APInt operator^(const APInt &rhs) const;

  // --- Bit counts (each between 0 and the width) ------------------------------------------------

  // Zero bits above the top 1 bit; the width for zero.
  uint32_t leadingZeroCount() const {
    if (isInline())
      return u.value ? uint32_t(__builtin_clzll(u.value)) - (kWordBits - bitWidth) : bitWidth;
    return leadingZerosOf(wordPtr(), bitWidth);
  }
  // One bits from the top bit down to the first 0.
  uint32_t leadingOneCount() const;
  // Zero bits below the lowest 1 bit; the width for zero.
  uint32_t trailingZeroCount() const;
  // One bits from bit 0 up to the first 0; the width for all ones.
  uint32_t trailingOneCount() const;
  // Number of 1 bits.
  uint32_t popCount() const;

  // --- Comparisons (same widths) ----------------------------------------------------------------

  bool operator==(const APInt &rhs) const {
    checkSameWidth(rhs, "APInt::operator==");
    if (isInline()) return u.value == rhs.u.value;
    return equalWords(wordPtr(), rhs.wordPtr(), wordCount());
  }
  bool operator!=(const APInt &rhs) const { return !(*this == rhs); }
  // Whether the value equals `value` (so a value with more than 64 significant bits never does).
  bool operator==(Word value) const {
    if (isInline()) return u.value == value;
    return wordEquals(wordPtr(), wordCount(), value);
  }
  bool operator!=(Word value) const { return !(*this == value); }

  // Orderings of the unsigned reading.
  bool unsignedLess(const APInt &rhs) const {
    checkSameWidth(rhs, "APInt::unsignedLess");
    if (isInline()) return u.value < rhs.u.value;
    // From the top in the machine's own words: where the top ones differ, which random values'
    // mostly do, that is one comparison; the rest is out of line.
    const NativeWord *a = reinterpret_cast<const NativeWord *>(wordPtr());
    const NativeWord *b = reinterpret_cast<const NativeWord *>(rhs.wordPtr());
    const uint32_t top = wordCount() * kNativePerWord - 1;
    if (a[top] != b[top]) return a[top] < b[top];
    return lessBelowTop(wordPtr(), rhs.wordPtr(), wordCount());
  }
  bool unsignedLessOrEqual(const APInt &rhs) const { return !rhs.unsignedLess(*this); }
  bool unsignedGreater(const APInt &rhs) const { return rhs.unsignedLess(*this); }
  bool unsignedGreaterOrEqual(const APInt &rhs) const { return !unsignedLess(rhs); }
  // Orderings of the two's complement signed reading.
  bool signedLess(const APInt &rhs) const {
    checkSameWidth(rhs, "APInt::signedLess");
    if (isInline()) {
      uint32_t up = kWordBits - bitWidth;
      return int64_t(u.value << up) >> up < int64_t(rhs.u.value << up) >> up;
    }
    return signedLessWords(wordPtr(), rhs.wordPtr(), bitWidth);
  }
  bool signedLessOrEqual(const APInt &rhs) const { return !rhs.signedLess(*this); }
  bool signedGreater(const APInt &rhs) const { return rhs.signedLess(*this); }
  bool signedGreaterOrEqual(const APInt &rhs) const { return !signedLess(rhs); }

  // --- Arithmetic (same widths; results modulo 2^width) -----------------------------------------

  APInt &operator+=(const APInt &rhs) {
    checkSameWidth(rhs, "APInt::operator+=");
    if (isWholeWord())
      u.value += rhs.u.value;
    else if (isInline())
      u.value = (u.value + rhs.u.value) & topWordMask();
    else
      addWords(wordPtr(), rhs.wordPtr(), bitWidth);
    return *this;
  }
  APInt &operator-=(const APInt &rhs) {
    checkSameWidth(rhs, "APInt::operator-=");
    if (isWholeWord())
      u.value -= rhs.u.value;
    else if (isInline())
      u.value = (u.value - rhs.u.value) & topWordMask();
    else
      subtractWords(wordPtr(), rhs.wordPtr(), bitWidth);
    return *this;
  }
  // Allocates a scratch array for the call when wide.
  APInt &operator*=(const APInt &rhs) {
    checkSameWidth(rhs, "APInt::operator*=");
    if (isWholeWord())
      u.value *= rhs.u.value;
    else if (isInline())
      u.value = (u.value * rhs.u.value) & topWordMask();
    else
      multiplyWords(wordPtr(), bitWidth, rhs.wordPtr());
    return *this;
  }
  APInt &operator++() {
    if (isInline())
      u.value = (u.value + 1) & topWordMask();
    else
      stepWords(wordPtr(), bitWidth, true);
    return *this;
  }
  APInt &operator--() {
    if (isInline())
      u.value = (u.value - 1) & topWordMask();
    else
      stepWords(wordPtr(), bitWidth, false);
    return *this;
  }
  APInt operator++(int) {
    APInt old(*this);
    ++*this;
    return old;
  }
  APInt operator--(int) {
    APInt old(*this);
    --*this;
    return old;
  }
  APInt operator+(const APInt &rhs) const {
    checkSameWidth(rhs, "APInt::operator+");
    if (isInline()) return APInt(bitWidth, u.value + rhs.u.value);
    return APInt(bitWidth, Owned{sumWords(wordPtr(), rhs.wordPtr(), bitWidth)});
  }
  APInt operator-(const APInt &rhs) const {
    checkSameWidth(rhs, "APInt::operator-");
    if (isInline()) return APInt(bitWidth, u.value - rhs.u.value);
    return APInt(bitWidth, Owned{differenceWords(wordPtr(), rhs.wordPtr(), bitWidth)});
  }
  APInt operator*(const APInt &rhs) const {
    checkSameWidth(rhs, "APInt::operator*");
    if (isInline()) return APInt(bitWidth, u.value * rhs.u.value);
    APInt product(*this);
    multiplyWords(product.wordPtr(), bitWidth, rhs.wordPtr());
    return product;
  }
  // Adds `value` cut to the width.
  APInt operator+(Word value) const { return *this + APInt(bitWidth, value); }
  // Zero minus the value (the smallest signed value is its own negation).
  APInt operator-() const {
    if (isInline()) return APInt(bitWidth, Word(0) - u.value);
    return APInt(bitWidth, Owned{negatedWords(wordPtr(), bitWidth)});
  }

  // --- Shifts and rotations (new values of the same width) --------------------------------------
  // The forms taking an APInt amount read it with valueOrLimit(width), so any amount is allowed.

  // value · 2^n modulo 2^width; 0 when n >= width.
  APInt shiftedLeft(uint32_t n) const {
    if (isInline()) return APInt(bitWidth, n < bitWidth ? u.value << n : 0);
    return APInt(bitWidth, Owned{shiftedWords(wordPtr(), bitWidth, n, true)});
  }
  APInt shiftedLeft(const APInt &n) const { return shiftedLeft(amountOf(n)); }
  // Shifts left in place; same result as shiftedLeft, without allocating.
  APInt &operator<<=(uint32_t n) {
    if (isWholeWord())
      u.value = n < kWordBits ? u.value << n : 0;
    else if (isInline())
      u.value = n < bitWidth ? (u.value << n) & topWordMask() : 0;
    else
      shiftLeftWords(wordPtr(), bitWidth, n);
    return *this;
  }
  APInt &operator<<=(const APInt &n) { return *this <<= amountOf(n); }
  // value / 2^n (unsigned, zero fill); 0 when n >= width.
  APInt shiftedRightLogical(uint32_t n) const {
    if (isInline()) return APInt(bitWidth, n < bitWidth ? u.value >> n : 0);
    return APInt(bitWidth, Owned{shiftedWords(wordPtr(), bitWidth, n, false)});
  }
  APInt shiftedRightLogical(const APInt &n) const { return shiftedRightLogical(amountOf(n)); }
  // The signed value shifted right with copies of the sign bit; n <= width. A shift by the whole
  // width gives 0 for widths up to 64 whatever the sign, and the sign in every bit above 64.
  APInt shiftedRightArith(uint32_t n) const;
  APInt shiftedRightArith(const APInt &n) const { return shiftedRightArith(amountOf(n)); }
  // The bits rotated by n mod width positions.
  APInt rotatedLeft(uint32_t n) const;
  APInt rotatedLeft(const APInt &n) const { return rotatedLeft(amountOf(n)); }
  APInt rotatedRight(uint32_t n) const;
  APInt rotatedRight(const APInt &n) const { return rotatedRight(amountOf(n)); }

  // --- Bit fields and width changes -------------------------------------------------------------

  // Same width: the low k bits kept, the others 0; k <= width.
  APInt lowPart(uint32_t k) const;
  // Same width: the top k bits moved to the bottom, the others 0; k <= width.
  APInt highPart(uint32_t k) const;
  // The low `width` bits; 1 <= width <= this width.
  APInt truncatedTo(uint32_t width) const;
  // The value at a width of at least this width, zeros above.
  APInt zeroExtendedTo(uint32_t width) const;
  // The value at a width of at least this width, copies of the sign bit above.
  APInt signExtendedTo(uint32_t width) const;
  // The extension when `width` is larger than this width, otherwise an unchanged copy.
  APInt zeroExtendedAtLeast(uint32_t width) const {
    return width > bitWidth ? zeroExtendedTo(width) : *this;
  }
  APInt signExtendedAtLeast(uint32_t width) const {
    return width > bitWidth ? signExtendedTo(width) : *this;
  }
  // The extension when `width` is larger, the truncation when it is smaller (at least 1).
  APInt zeroResizedTo(uint32_t width) const;
  APInt signResizedTo(uint32_t width) const;
  // The bytes in reverse order, for widths 16, 32, 48, 64 and above 64. Above 64 bits, a width
  // that is not a multiple of 8 reverses the bytes of the whole words and then shifts the result
  // right by the unused bits at the top.
  APInt bytesReversed() const;

  // --- Division (same widths, non-zero divisor) -------------------------------------------------

  // The engine under the divisions: divides the low lhsWords words of `lhs` by the low rhsWords
  // words of `rhs` (not zero), digit by digit (Knuth's algorithm D). Needs 1 <= rhsWords <=
  // lhsWords and each count within its value's words; the widths may differ. A quotient gets
  // lhs's width, a remainder rhs's; an output of another width is re-made. Either output may be
  // null, and may be one of the operands.
  static void longDivide(const APInt &lhs, uint32_t lhsWords, const APInt &rhs, uint32_t rhsWords,
                         APInt *quotient, APInt *remainder);
  // The unsigned quotient, rounded down, and the unsigned remainder.
  APInt quotientUnsigned(const APInt &divisor) const;
  APInt remainderUnsigned(const APInt &divisor) const;
  // Both unsigned results in one call; the outputs may be the operands. When the dividend is 0,
  // or equal to the divisor, an output keeps its own width; when the dividend is smaller, so
  // does the quotient. Otherwise both take the operands' width.
  static void divRemUnsigned(const APInt &lhs, const APInt &rhs, APInt &quotient, APInt &remainder);
  // The signed quotient, truncated toward zero; the smallest signed value divided by -1 gives
  // itself.
  APInt quotientSigned(const APInt &divisor) const;
  // The signed remainder, with the dividend's sign.
  APInt remainderSigned(const APInt &divisor) const;
  // Both signed results in one call; widths of the outputs as for divRemUnsigned.
  static void divRemSigned(const APInt &lhs, const APInt &rhs, APInt &quotient, APInt &remainder);
  // The greatest common divisor of the unsigned values; gcd(x, 0) = x and gcd(0, 0) = 0.
  static APInt gcd(const APInt &a, const APInt &b);

  // --- Arithmetic that reports overflow: the wrapped result, and `overflow` set to whether the
  // exact result did not fit the width in the stated reading.

  APInt addSignedChecked(const APInt &rhs, bool &overflow) const;
  APInt addUnsignedChecked(const APInt &rhs, bool &overflow) const;
  APInt subSignedChecked(const APInt &rhs, bool &overflow) const;
  APInt subUnsignedChecked(const APInt &rhs, bool &overflow) const;
  APInt mulSignedChecked(const APInt &rhs, bool &overflow) const;
  APInt mulUnsignedChecked(const APInt &rhs, bool &overflow) const;
  // quotientSigned; overflows only for the smallest signed value divided by -1.
  APInt divSignedChecked(const APInt &rhs, bool &overflow) const;
  // shiftedLeft by `amount`, or by width - 1 when the amount is at least the width (which
  // overflows); overflows when bits that differ from the sign bit are shifted out.
  APInt shiftLeftSignedChecked(uint32_t amount, bool &overflow) const;

  // --- Number theory and floating conversion (new values of the same width) ---------------------

  // The square root rounded to the nearest integer (x^2 + x gives x).
  APInt integerSqrt() const;
  // x with value·x = 1 modulo `modulus` and 0 <= x < modulus, or 0 when the value and the modulus
  // have a common factor. The value must be below the modulus (unsigned).
  APInt inverseModulo(const APInt &modulus) const;
  // The multiplier and shift that turn a signed division by this value (d, not 0, 1 or -1) into
  // a multiplication, for every dividend n of the width: the quotient (truncated toward zero) is
  // the high half of the signed 2W-bit product n·multiplier, plus n when d > 0 and the multiplier
  // is negative, minus n when d < 0 and the multiplier is positive (that sum taken in W bits),
  // shifted right arithmetically by `shift`, plus 1 when negative.
  SignedDivMagic signedDivisionMagic() const;
  // The same for an unsigned division by this value (d, not 0 or 1) of dividends whose top
  // `leadingZeros` (< width) bits are 0: with t the high half of the unsigned product
  // n·multiplier, the quotient is t >> shift, or, when addIndicator, (((n - t) >> 1) + t) >>
  // (shift - 1).
  UnsignedDivMagic unsignedDivisionMagic(uint32_t leadingZeros = 0) const;
  // The value as a double. Inline values, and wider ones with at most 64 significant bits, are
  // rounded to nearest. Other values (wider ones with more significant bits, which includes the
  // negative ones in the signed reading) have their magnitude truncated toward zero; magnitudes
  // of 2^1024 or more give an infinity of the value's sign.
  double toDouble(bool isSigned) const;
  // `value` truncated toward zero, modulo 2^width; magnitudes below 1 give 0. Infinities and NaNs
  // are not told apart from numbers: they give (their 53-bit mantissa)·2^972 modulo 2^width,
  // negated when their sign is set.
  static APInt fromDouble(double value, uint32_t width);

  // --- Text, hashing and profiles ---------------------------------------------------------------

  // Appends to `out` the value in `radix` (2 to 36), read as signed when `isSigned`: "-" for a
  // negative value, then, when `asLiteral`, the prefix "0b", "0", "" or "0x" of radix 2, 8, 10 or
  // 16 (asLiteral with another radix reaches reachedUnreachable), then the digits, with upper-case
  // letters and no leading zeros. Zero is "0" after the prefix, never signed.
  template <unsigned N>
  void appendText(InlineVector<char, N> &out, uint32_t radix, bool isSigned,
                  bool asLiteral = false) const {
    size_t at = out.size();
    out.reserve(at + textCapacity(radix));
    out.setSizeInPlace(at + writeText(out.data() + at, radix, isSigned, asLiteral));
  }
  // appendText (not as a literal) into a new string.
  std::string toText(uint32_t radix, bool isSigned) const;
  // Writes the decimal text of the value (signed when `isSigned`) on `stream` in one write.
  void printTo(OutStream &stream, bool isSigned) const;
  // Writes "APInt(", the width, "b, ", the unsigned decimal text, "u ", the signed decimal text
  // and "s)" on debugStream(), without a newline.
  void debugDump() const;

  // Makes this value `width` bits wide and sets it from `text`: an optional "-" or "+", then
  // digits of `radix` (2, 8, 10, 16 or 36; see digitValue), most significant first. Digits
  // beyond the width wrap: the value is the number modulo 2^width. The text is not validated:
  // every digit must be valid in the radix (checked in checking builds; otherwise the value is
  // unspecified). A text without digits (empty, or a lone sign) gives 0; nothing past the
  // text's end is read.
  void parseText(uint32_t width, StrView text, uint32_t radix);
  // The value of the character `c` as a digit of `radix` (2 to 36), or 4294967295 when it is
  // none. Letters, of either case, are digits only in radix 16 and 36; other radixes have only
  // the decimal digits below them.
  static uint32_t digitValue(char c, uint32_t radix);
  // An upper bound of the bits that the number written as `text` in `radix` (2, 8, 10, 16 or 36)
  // needs: in radix 10 and 36 its bit length (1 for zero), in the others the bits of all its
  // digits, plus one for a minus sign (so -128 counts 9). The text is what parseText takes; text
  // without digits counts as "0".
  static uint32_t bitsNeededForText(StrView text, uint32_t radix);

  // Appends the width (one word), then each word of the value from word 0 up (addInteger64).
  void addToProfile(NodeProfile &profile) const;

private:
  struct Uninitialized {};
  // A value of `width` (> 64) whose array is allocated but not filled.
  APInt(uint32_t width, Uninitialized) : bitWidth(width) { setWords(new Word[wordCount()]); }
  // A value of `width` (> 64) that takes over an array of its words.
  struct Owned {
    Word *words;
  };
  APInt(uint32_t width, Owned array) : bitWidth(width) { setWords(array.words); }

  Word *mutableWords() { return isInline() ? &u.value : wordPtr(); }
  // The word that holds bit `index`.
  Word &wordHolding(uint32_t index) { return isInline() ? u.value : wordPtr()[index / kWordBits]; }
  // Whether the width is exactly one word: the common inline width, which needs no mask. Tested
  // first, it makes the inline/wide decision one compare with a constant on that width.
  bool isWholeWord() const { return bitWidth == kWordBits; }
  // The bits of the top word below the width (all ones for a whole word).
  Word topWordMask() const { return ~Word(0) >> ((0u - bitWidth) % kWordBits); }
  // Clears the bits at and above the width in the top word.
  // The mask depends on the width alone, never on the value: a whole-word width skips it, so
  // that a chain of inline operations carries no mask on its dependent path.
  void maskTopWord() {
    if (isWholeWord()) return;
    const uint32_t unused = (0u - bitWidth) % kWordBits;
    if (unused == 0) return;
    const Word mask = ~Word(0) >> unused;
    if (isInline())
      u.value &= mask;
    else
      wordPtr()[wordCount() - 1] &= mask;
  }
  void checkSameWidth(const APInt &rhs, const char *operation) const {
    VORN_CHECK(bitWidth == rhs.bitWidth, operation, "operands have different widths");
    (void)rhs;
    (void)operation;
  }
  uint32_t amountOf(const APInt &n) const { return uint32_t(n.valueOrLimit(bitWidth)); }
  // Gives `out` the width `width`, all zero, reusing its array when the width already matches.
  VORN_APINT_WIDE_PATH static void makeZeroOfWidth(APInt &out, uint32_t width) noexcept;

  // A new array for `value` at `width` (> 64), sign-extended from bit 63 when `isSigned`.
  VORN_APINT_WIDE_PATH static Word *wideWords(uint32_t width, Word value, bool isSigned) noexcept;
  // A new array holding a copy of `count` words.
  VORN_APINT_WIDE_PATH static Word *duplicateWords(const Word *src, uint32_t count) noexcept;
  VORN_APINT_WIDE_PATH APInt &assignSlow(const APInt &rhs) noexcept;
  // The wide paths of the inline operations take words, not values, so that a value whose
  // operations are all inline never has its address taken and can live in registers. Those that
  // change a value keep its bits above the width 0.
  VORN_APINT_WIDE_PATH static uint32_t leadingZerosOf(const Word *w, uint32_t width) noexcept;
  VORN_APINT_WIDE_PATH static bool equalWords(const Word *a, const Word *b,
                                              uint32_t count) noexcept;
  VORN_APINT_WIDE_PATH static bool wordEquals(const Word *w, uint32_t count, Word value) noexcept;
  VORN_APINT_WIDE_PATH static bool signedLessWords(const Word *a, const Word *b,
                                                   uint32_t width) noexcept;
  // a < b for arrays of `count` words whose top machine words are equal.
  VORN_APINT_WIDE_PATH static bool lessBelowTop(const Word *a, const Word *b,
                                                uint32_t count) noexcept;
  VORN_APINT_WIDE_PATH static void addWords(Word *w, const Word *rhs, uint32_t width) noexcept;
  VORN_APINT_WIDE_PATH static void subtractWords(Word *w, const Word *rhs, uint32_t width) noexcept;
  VORN_APINT_WIDE_PATH static void multiplyWords(Word *w, uint32_t width, const Word *rhs) noexcept;
  VORN_APINT_WIDE_PATH static void shiftLeftWords(Word *w, uint32_t width, uint32_t n) noexcept;
  VORN_APINT_WIDE_PATH static void stepWords(Word *w, uint32_t width, bool up) noexcept;
  // op is '&', '|' or '^'.
  VORN_APINT_WIDE_PATH static void bitwiseWords(Word *w, const Word *rhs, uint32_t count,
                                                char op) noexcept;
  // New arrays of `width` (> 64) bits holding a + b, a - b, -a and a shifted left (or right) by
  // n. They return arrays, not values, so that the value an inline operation returns never has
  // its address taken (as a hidden result argument would) and can stay in registers.
  VORN_APINT_WIDE_PATH static Word *sumWords(const Word *a, const Word *b, uint32_t width) noexcept;
  VORN_APINT_WIDE_PATH static Word *differenceWords(const Word *a, const Word *b,
                                                    uint32_t width) noexcept;
  VORN_APINT_WIDE_PATH static Word *negatedWords(const Word *a, uint32_t width) noexcept;
  VORN_APINT_WIDE_PATH static Word *shiftedWords(const Word *a, uint32_t width, uint32_t n,
                                                 bool left) noexcept;
  // Text: an upper bound of the characters writeText produces in `radix`, and the writer, which
  // returns the number of characters written at `out`.
  uint32_t textCapacity(uint32_t radix) const;
  uint32_t writeText(char *out, uint32_t radix, bool isSigned, bool asLiteral) const;
  // Makes this value `width` bits wide and sets it from the n digits at s, each a valid digit of
  // `radix` as parseUnsigned reads them, modulo 2^width.
  void parseAnyRadix(uint32_t width, const char *s, uint32_t n, uint32_t radix);
  friend bool parseInteger(StrView text, uint32_t radix, APInt &result);

  // The machine's word, which may be half a Word (i686), as which an array of words can be read
  // too (both byte orders of a Word's halves being little-endian on the targets).
  typedef uintptr_t __attribute__((__may_alias__)) NativeWord;
  static constexpr uint32_t kNativePerWord = sizeof(Word) / sizeof(uintptr_t);
  // The array of a wide value, whose address u.value holds.
  Word *wordPtr() const { return reinterpret_cast<Word *>(uintptr_t(u.value)); }
  void setWords(Word *array) { u.value = Word(reinterpret_cast<uintptr_t>(array)); }

  uint32_t bitWidth;
  // One word, whatever the width: the value itself up to 64 bits, the address of the array of
  // wordCount() words above. Being one scalar of one type, a value whose operations are all
  // inline can live in registers, as a union of a word and a pointer of another size cannot.
  struct {
    Word value;
  } u;
};

// The result of APInt::signedDivisionMagic.
struct SignedDivMagic {
  APInt multiplier; // of the divisor's width, two's complement
  uint32_t shift;   // applied to the high half of the product
};

// The result of APInt::unsignedDivisionMagic.
struct UnsignedDivMagic {
  APInt multiplier;  // of the divisor's width
  bool addIndicator; // the multiplier does not fit the width: use the add-and-halve form
  uint32_t shift;    // the final shift
};

// Parses `text` as an unsigned number in `radix` (2 to 36, or 0 to work it out with
// detectRadix) into `result`, digits as parseUnsigned takes them. Leading zeros are skipped;
// the width becomes the larger of result's width and bitsPerDigit · (the remaining digits),
// bitsPerDigit being the least k >= 1 with 2^k >= radix, so the value always fits. A text of
// zeros only gives a 64-bit 0. Returns true on failure (no digits, a bad digit or radix); the
// result then holds the value of the digits before the bad one.
bool parseInteger(StrView text, uint32_t radix, APInt &result);

// The hash of the value's words: hashBytes of their bytes in memory order. The width is not
// hashed, so equal words at different widths hash alike.
HashCode hashOf(const APInt &value);

} // namespace vorn

#endif
