#include "support/apint/APInt.h"

#include "support/apint/Digits.h"
#include "support/apint/Scratch.h"

#include <cstring>

namespace vorn {

namespace {

// The low n bits set, for 1 <= n <= 64.
inline Word lowMask(uint32_t n) { return ~Word(0) >> (kWordBits - n); }

inline uint32_t wordsFor(uint32_t width) { return width / kWordBits + (width % kWordBits != 0); }

inline Word byteSwap(Word w) { return __builtin_bswap64(w); }

// Clears the bits at and above `width` in `top`, the top word of a value of that width.
inline void clearAboveWidth(Word *top, uint32_t width) {
  if (width % kWordBits) *top &= lowMask(width % kWordBits);
}

} // namespace

// --- Construction and assignment ----------------------------------------------------------------

APInt::APInt(uint32_t width, WordView src) : bitWidth(width) {
  VORN_CHECK(width >= 1, "APInt::APInt", "width is zero");
  VORN_CHECK(src.size() >= 1, "APInt::APInt", "the word sequence is empty");
  if (isInline()) {
    u.value = src.data()[0];
  } else {
    uint32_t n = wordCount();
    setWords(new Word[n]);
    uint32_t take = src.size() < n ? src.size() : n;
    for (uint32_t i = 0; i < take; ++i) wordPtr()[i] = src.data()[i];
    for (uint32_t i = take; i < n; ++i) wordPtr()[i] = 0;
  }
  maskTopWord();
}

Word *APInt::wideWords(uint32_t width, Word value, bool isSigned) noexcept {
  uint32_t n = wordsFor(width);
  Word *w = new Word[n];
  w[0] = value;
  Word fill = isSigned && (value >> 63) ? ~Word(0) : 0;
  for (uint32_t i = 1; i < n; ++i) w[i] = fill;
  clearAboveWidth(w + (n - 1), width);
  return w;
}

Word *APInt::duplicateWords(const Word *src, uint32_t count) noexcept {
  Word *copy = new Word[count];
  words::copy(copy, src, count);
  return copy;
}

APInt &APInt::assignSlow(const APInt &rhs) noexcept {
  if (this == &rhs) return *this;
  if (rhs.isInline()) {
    // This one is wide (both inline is handled in the header).
    delete[] wordPtr();
    u.value = rhs.u.value;
  } else {
    if (isInline() || wordCount() != rhs.wordCount()) {
      if (!isInline()) delete[] wordPtr();
      setWords(new Word[rhs.wordCount()]);
    }
    words::copy(wordPtr(), rhs.wordPtr(), rhs.wordCount());
  }
  bitWidth = rhs.bitWidth;
  return *this;
}

void APInt::makeZeroOfWidth(APInt &out, uint32_t width) noexcept {
  if (out.bitWidth == width) {
    if (out.isInline())
      out.u.value = 0;
    else
      words::assignWord(out.wordPtr(), 0, out.wordCount());
    return;
  }
  if (!out.isInline()) delete[] out.wordPtr();
  out.bitWidth = width;
  if (out.isInline()) {
    out.u.value = 0;
  } else {
    out.setWords(new Word[out.wordCount()]);
    words::assignWord(out.wordPtr(), 0, out.wordCount());
  }
}

// --- Queries ------------------------------------------------------------------------------------

uint64_t APInt::valueOrLimit(uint64_t limit) const {
  if (significantBits() > kWordBits || wordData()[0] > limit) return limit;
  return wordData()[0];
}

bool APInt::isPowerOfTwo() const {
  if (isInline()) return u.value && !(u.value & (u.value - 1));
  return popCount() == 1;
}

bool APInt::isAllOnes() const {
  if (isInline()) return u.value == lowMask(bitWidth);
  return popCount() == bitWidth;
}

APInt APInt::minSignedOfWidth(uint32_t width) {
  APInt r(width, 0);
  r.setBitAt(width - 1);
  return r;
}

APInt APInt::maxSignedOfWidth(uint32_t width) {
  APInt r = allOnesOfWidth(width);
  r.clearBitAt(width - 1);
  return r;
}

// --- Bits and counts ----------------------------------------------------------------------------

void APInt::complementAll() {
  words::complement(mutableWords(), wordCount());
  maskTopWord();
}

APInt APInt::operator&(const APInt &rhs) const {
  checkSameWidth(rhs, "APInt::operator&");
  if (isInline()) return APInt(bitWidth, u.value & rhs.u.value);
  APInt r(*this);
  bitwiseWords(r.wordPtr(), rhs.wordPtr(), wordCount(), '&');
  return r;
}

APInt APInt::operator|(const APInt &rhs) const {
  checkSameWidth(rhs, "APInt::operator|");
  if (isInline()) return APInt(bitWidth, u.value | rhs.u.value);
  APInt r(*this);
  bitwiseWords(r.wordPtr(), rhs.wordPtr(), wordCount(), '|');
  return r;
}

APInt APInt::operator^(const APInt &rhs) const {
  checkSameWidth(rhs, "APInt::operator^");
  if (isInline()) return APInt(bitWidth, u.value ^ rhs.u.value);
  APInt r(*this);
  bitwiseWords(r.wordPtr(), rhs.wordPtr(), wordCount(), '^');
  return r;
}

uint32_t APInt::leadingZerosOf(const Word *w, uint32_t width) noexcept {
  uint32_t n = wordsFor(width);
  uint32_t topBits = width % kWordBits ? width % kWordBits : kWordBits;
  Word top = w[n - 1] & lowMask(topBits);
  if (top) return uint32_t(__builtin_clzll(top)) - (kWordBits - topBits);
  uint32_t count = topBits;
  for (uint32_t i = n - 1; i-- > 0; count += kWordBits)
    if (w[i]) return count + uint32_t(__builtin_clzll(w[i]));
  return width;
}

uint32_t APInt::leadingOneCount() const {
  if (isInline()) {
    Word w = u.value << (kWordBits - bitWidth);
    return ~w ? uint32_t(__builtin_clzll(~w)) : kWordBits;
  }
  uint32_t n = wordCount();
  uint32_t topBits = bitWidth % kWordBits ? bitWidth % kWordBits : kWordBits;
  Word top = wordPtr()[n - 1] << (kWordBits - topBits);
  uint32_t ones = ~top ? uint32_t(__builtin_clzll(~top)) : kWordBits;
  if (ones < topBits) return ones;
  uint32_t count = topBits;
  for (uint32_t i = n - 1; i-- > 0; count += kWordBits)
    if (~wordPtr()[i]) return count + uint32_t(__builtin_clzll(~wordPtr()[i]));
  return count;
}

uint32_t APInt::trailingZeroCount() const {
  const Word *w = wordData();
  uint32_t count = 0;
  for (uint32_t i = 0, n = wordCount(); i < n; ++i, count += kWordBits)
    if (w[i]) {
      count += uint32_t(__builtin_ctzll(w[i]));
      break;
    }
  return count < bitWidth ? count : bitWidth;
}

uint32_t APInt::trailingOneCount() const {
  const Word *w = wordData();
  uint32_t count = 0;
  for (uint32_t i = 0, n = wordCount(); i < n; ++i, count += kWordBits)
    if (~w[i]) {
      count += uint32_t(__builtin_ctzll(~w[i]));
      break;
    }
  return count < bitWidth ? count : bitWidth;
}

uint32_t APInt::popCount() const {
  const Word *w = wordData();
  uint32_t count = 0;
  for (uint32_t i = 0, n = wordCount(); i < n; ++i) count += uint32_t(__builtin_popcountll(w[i]));
  return count;
}

// --- Comparisons --------------------------------------------------------------------------------

// The top-down word scans below decide at the first differing word, which is where a comparison
// of significant bit counts would lead as well.
bool APInt::lessBelowTop(const Word *a, const Word *b, uint32_t count) noexcept {
  // Values equal at the top are often equal throughout: the library's comparison of memory
  // tells that fastest.
  if (std::memcmp(a, b, size_t(count) * sizeof(Word)) == 0) return false;
  for (uint32_t i = count; i-- > 0;)
    if (a[i] != b[i]) return a[i] < b[i];
  return false;
}

bool APInt::equalWords(const Word *a, const Word *b, uint32_t count) noexcept {
  for (uint32_t i = count; i-- > 0;)
    if (a[i] != b[i]) return false;
  return true;
}

bool APInt::wordEquals(const Word *w, uint32_t count, Word value) noexcept {
  for (uint32_t i = count; i-- > 1;)
    if (w[i]) return false;
  return w[0] == value;
}

// Values of the same sign order alike read as signed or unsigned; of different signs, the
// negative one is the smaller. So no magnitudes need to be made.
bool APInt::signedLessWords(const Word *a, const Word *b, uint32_t width) noexcept {
  uint32_t top = (width - 1) / kWordBits, bit = (width - 1) % kWordBits;
  bool aNegative = (a[top] >> bit) & 1, bNegative = (b[top] >> bit) & 1;
  if (aNegative != bNegative) return aNegative;
  return words::compare(a, b, top + 1) < 0;
}

// --- Arithmetic ---------------------------------------------------------------------------------

void APInt::addWords(Word *w, const Word *rhs, uint32_t width) noexcept {
  const uint32_t n = wordsFor(width);
  digits::add(digits::of(w), digits::of(w), digits::of(rhs), digits::kDigitsPerWord * n);
  clearAboveWidth(w + (n - 1), width);
}

void APInt::subtractWords(Word *w, const Word *rhs, uint32_t width) noexcept {
  const uint32_t n = wordsFor(width);
  digits::subtract(digits::of(w), digits::of(w), digits::of(rhs), digits::kDigitsPerWord * n);
  clearAboveWidth(w + (n - 1), width);
}

void APInt::stepWords(Word *w, uint32_t width, bool up) noexcept {
  const uint32_t n = wordsFor(width);
  if (up)
    words::increment(w, n);
  else
    words::decrement(w, n);
  clearAboveWidth(w + (n - 1), width);
}

void APInt::bitwiseWords(Word *w, const Word *rhs, uint32_t count, char op) noexcept {
  if (op == '&')
    words::andInPlace(w, rhs, count);
  else if (op == '|')
    words::orInPlace(w, rhs, count);
  else
    words::xorInPlace(w, rhs, count);
}

Word *APInt::sumWords(const Word *a, const Word *b, uint32_t width) noexcept {
  const uint32_t n = wordsFor(width);
  Word *r = new Word[n];
  digits::add(digits::of(r), digits::of(a), digits::of(b), digits::kDigitsPerWord * n);
  clearAboveWidth(r + (n - 1), width);
  return r;
}

Word *APInt::differenceWords(const Word *a, const Word *b, uint32_t width) noexcept {
  const uint32_t n = wordsFor(width);
  Word *r = new Word[n];
  digits::subtract(digits::of(r), digits::of(a), digits::of(b), digits::kDigitsPerWord * n);
  clearAboveWidth(r + (n - 1), width);
  return r;
}

Word *APInt::negatedWords(const Word *a, uint32_t width) noexcept {
  const uint32_t n = wordsFor(width);
  Word *r = duplicateWords(a, n);
  words::negate(r, n);
  clearAboveWidth(r + (n - 1), width);
  return r;
}

namespace {

// Values of up to this many digits multiply in multiplySmall.
constexpr uint32_t kSmallDigits = 8;

// w (n <= kSmallDigits digits, an of them significant) = w·b modulo the digits' range, for b of
// bn significant digits, or b = w when b is null: one row per digit of b in one loop nest, with
// no call and no scratch but a few digits on the stack.
void multiplySmall(Word *w, uint32_t n, uint32_t an, const digits::Digit *b, uint32_t bn) {
  digits::DigitValue a[kSmallDigits], r[kSmallDigits] = {};
  const digits::Digit *wd = digits::of(w);
  for (uint32_t i = 0; i < an; ++i) a[i] = wd[i];
  if (!b) b = a;
  for (uint32_t j = 0; j < bn; ++j) {
    const digits::DoubleDigit m = b[j];
    const uint32_t len = an < n - j ? an : n - j;
    digits::DigitValue carry = 0;
    for (uint32_t i = 0; i < len; ++i) {
      const digits::DoubleDigit p = a[i] * m + r[i + j] + carry;
      r[i + j] = digits::DigitValue(p);
      carry = digits::DigitValue(p >> digits::kDigitBits);
    }
    if (j + len < n) r[j + len] = carry;
  }
  digits::Digit *out = digits::of(w);
  for (uint32_t i = 0; i < n; ++i) out[i] = r[i];
}

} // namespace

// Only the significant digits take part, so small values in wide types multiply quickly; and
// only the product's digits below the width are computed.
void APInt::multiplyWords(Word *w, uint32_t width, const Word *rhs) noexcept {
  const uint32_t count = wordsFor(width), n = digits::kDigitsPerWord * count;
  const uint32_t an = digits::significant(digits::of(w), n);
  if (an == 0) return;
  const uint32_t bn = digits::significant(digits::of(rhs), n);
  if (bn == 0) {
    words::assignWord(w, 0, count);
    return;
  }
  if (n <= kSmallDigits) {
    multiplySmall(w, n, an, rhs == w ? nullptr : digits::of(rhs), bn);
    clearAboveWidth(w + (count - 1), width);
    return;
  }
  // The product is built in w from a copy of it (which is also rhs when squaring); up to 4096
  // bits, on the stack.
  constexpr uint32_t kStackDigits =
      digits::kStackOperandDigits + digits::scratchFor(digits::kStackOperandDigits);
  Scratch<digits::DigitValue, kStackDigits> scratch(n + digits::scratchFor(n));
  digits::Digit *a = scratch.data();
  for (uint32_t i = 0; i < n; ++i) a[i] = digits::of(w)[i];
  const digits::Digit *b = rhs == w ? a : digits::of(rhs);
  digits::multiplyModulo(digits::of(w), a, an, b, bn, n, a + n);
  clearAboveWidth(w + (count - 1), width);
}

// --- Shifts and rotations -----------------------------------------------------------------------

void APInt::shiftLeftWords(Word *w, uint32_t width, uint32_t n) noexcept {
  uint32_t count = wordsFor(width);
  if (n >= width) {
    words::assignWord(w, 0, count);
    return;
  }
  // n < width, so at least the top word receives bits; from the top down, every source word is
  // read before it is overwritten.
  uint32_t jump = n / kWordBits, shift = n % kWordBits;
  if (shift == 0) {
    for (uint32_t i = count; i-- > jump;) w[i] = w[i - jump];
  } else {
    for (uint32_t i = count - 1; i > jump; --i)
      w[i] = (w[i - jump] << shift) | (w[i - jump - 1] >> (kWordBits - shift));
    w[jump] = w[0] << shift;
  }
  for (uint32_t i = 0; i < jump; ++i) w[i] = 0;
  clearAboveWidth(w + (count - 1), width);
}

Word *APInt::shiftedWords(const Word *a, uint32_t width, uint32_t n, bool left) noexcept {
  const uint32_t count = wordsFor(width);
  Word *r = duplicateWords(a, count);
  if (left)
    shiftLeftWords(r, width, n);
  else
    words::shiftRight(r, count, n); // bits move down only: no mask needed
  return r;
}

APInt APInt::shiftedRightArith(uint32_t n) const {
  VORN_CHECK(n <= bitWidth, "APInt::shiftedRightArith", "shift amount is above the width");
  if (n == 0) return *this;
  if (isInline()) {
    if (n == bitWidth) return APInt(bitWidth, 0);
    uint32_t up = kWordBits - bitWidth;
    return APInt(bitWidth, Word((int64_t(u.value << up) >> up) >> n));
  }
  bool negative = isSignBitSet();
  if (n == bitWidth) return negative ? allOnesOfWidth(bitWidth) : APInt(bitWidth, 0);
  APInt r = shiftedRightLogical(n);
  if (negative) {
    // Bits width - n .. width - 1 take the sign.
    Word *w = r.wordPtr();
    uint32_t from = bitWidth - n, last = wordCount() - 1;
    uint32_t i = from / kWordBits;
    w[i] |= ~Word(0) << (from % kWordBits);
    while (i < last) w[++i] = ~Word(0);
    r.maskTopWord();
  }
  return r;
}

APInt APInt::rotatedLeft(uint32_t n) const {
  uint32_t r = n % bitWidth;
  if (r == 0) return *this;
  if (isInline()) return APInt(bitWidth, (u.value << r) | (u.value >> (bitWidth - r)));
  APInt result = shiftedRightLogical(bitWidth - r);
  result |= shiftedLeft(r);
  return result;
}

APInt APInt::rotatedRight(uint32_t n) const {
  uint32_t r = n % bitWidth;
  if (r == 0) return *this;
  if (isInline()) return APInt(bitWidth, (u.value >> r) | (u.value << (bitWidth - r)));
  APInt result = shiftedLeft(bitWidth - r);
  result |= shiftedRightLogical(r);
  return result;
}

// --- Parts and width changes --------------------------------------------------------------------

APInt APInt::lowPart(uint32_t k) const {
  VORN_CHECK(k <= bitWidth, "APInt::lowPart", "bit count is above the width");
  if (k == 0) return APInt(bitWidth, 0);
  APInt r(*this);
  Word *w = r.mutableWords();
  uint32_t i = (k - 1) / kWordBits;
  w[i] &= lowMask(k - i * kWordBits);
  for (uint32_t j = i + 1, n = wordCount(); j < n; ++j) w[j] = 0;
  return r;
}

APInt APInt::highPart(uint32_t k) const {
  VORN_CHECK(k <= bitWidth, "APInt::highPart", "bit count is above the width");
  return shiftedRightLogical(bitWidth - k);
}

APInt APInt::truncatedTo(uint32_t width) const {
  VORN_CHECK(width >= 1, "APInt::truncatedTo", "width is zero");
  VORN_CHECK(width <= bitWidth, "APInt::truncatedTo", "width is above the value's width");
  if (width <= kWordBits) return APInt(width, wordData()[0]);
  return APInt(width, WordView(wordPtr(), wordsFor(width)));
}

APInt APInt::zeroExtendedTo(uint32_t width) const {
  VORN_CHECK(width >= bitWidth, "APInt::zeroExtendedTo", "width is below the value's width");
  if (width <= kWordBits) return APInt(width, u.value);
  return APInt(width, WordView(wordData(), wordCount()));
}

APInt APInt::signExtendedTo(uint32_t width) const {
  VORN_CHECK(width >= bitWidth, "APInt::signExtendedTo", "width is below the value's width");
  if (width == bitWidth) return *this;
  if (width <= kWordBits) {
    Word w = Word(int64_t(u.value << (kWordBits - bitWidth)) >> (width - bitWidth));
    return APInt(width, w >> (kWordBits - width));
  }
  APInt r(width, WordView(wordData(), wordCount()));
  if (isSignBitSet()) {
    // Bits bitWidth .. width - 1 take the sign.
    Word *w = r.wordPtr();
    uint32_t i = bitWidth / kWordBits, last = r.wordCount() - 1;
    w[i] |= ~Word(0) << (bitWidth % kWordBits);
    while (i < last) w[++i] = ~Word(0);
    r.maskTopWord();
  }
  return r;
}

APInt APInt::zeroResizedTo(uint32_t width) const {
  if (width > bitWidth) return zeroExtendedTo(width);
  if (width < bitWidth) return truncatedTo(width);
  return *this;
}

APInt APInt::signResizedTo(uint32_t width) const {
  if (width > bitWidth) return signExtendedTo(width);
  if (width < bitWidth) return truncatedTo(width);
  return *this;
}

APInt APInt::bytesReversed() const {
  switch (bitWidth) {
  case 16:
    return APInt(16, __builtin_bswap16(uint16_t(u.value)));
  case 32:
    return APInt(32, __builtin_bswap32(uint32_t(u.value)));
  case 48: {
    Word low = __builtin_bswap16(uint16_t(u.value));
    Word high = __builtin_bswap32(uint32_t(u.value >> 16));
    return APInt(48, (low << 32) | high);
  }
  case 64:
    return APInt(64, byteSwap(u.value));
  default:
    break;
  }
  VORN_CHECK(!isInline(), "APInt::bytesReversed", "width is not 16, 32, 48, 64 or above 64");
  uint32_t n = wordCount();
  APInt r(bitWidth, Uninitialized());
  for (uint32_t i = 0; i < n; ++i) r.wordPtr()[i] = byteSwap(wordPtr()[n - 1 - i]);
  // The reversed bytes of whole words leave the unused top bits at the bottom.
  words::shiftRight(r.wordPtr(), n, n * kWordBits - bitWidth);
  r.maskTopWord();
  return r;
}

} // namespace vorn
