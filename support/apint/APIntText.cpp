// APInt text conversion, hashing and profiles.

#include "support/apint/APInt.h"

#include <cstring>

#include "support/apint/Scratch.h"
#include "support/runtime/FatalError.h"
#include "support/streams/FdOutStream.h"
#include "support/streams/OutStream.h"
#include "support/text/NodeSet.h"

namespace vorn {

namespace {

const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// "00" to "99", for writing decimal digits two at a time.
struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = char('0' + i / 10);
      text[2 * i + 1] = char('0' + i % 10);
    }
  }
};
constexpr DigitPairs kPairs;

// Per radix: the largest power of it that fits 32 bits (the chunk that one short division step
// yields) and 64 bits (the chunk that parsing gathers before one multiplication), the number of
// digits in each, and the whole bits per digit (floor of log2 of the radix).
struct RadixInfo {
  uint32_t base32 = 0;
  uint32_t digits32 = 0;
  uint64_t base64 = 0;
  uint32_t digits64 = 0;
  uint32_t floorLog2 = 0;
};

struct RadixTable {
  RadixInfo info[37];
  constexpr RadixTable() : info() {
    for (uint32_t r = 2; r <= 36; ++r) {
      RadixInfo &x = info[r];
      x.base32 = r;
      x.digits32 = 1;
      while (uint64_t(x.base32) * r <= 0xFFFFFFFFu) {
        x.base32 *= r;
        ++x.digits32;
      }
      x.base64 = r;
      x.digits64 = 1;
      while (x.base64 <= ~uint64_t(0) / r) {
        x.base64 *= r;
        ++x.digits64;
      }
      x.floorLog2 = 0;
      for (uint32_t v = r; v > 1; v >>= 1) ++x.floorLog2;
    }
  }
};
constexpr RadixTable kRadix;

inline bool isPowerOfTwoRadix(uint32_t r) { return (r & (r - 1)) == 0; }

// The words of the stack storage of the digit loops: 4224 bits, past the widest common values.
constexpr uint32_t kStackWords = 66;

// (high·2^32 + low) / d, and the remainder in `rem`; high < d, so the quotient fits 32 bits.
inline uint32_t divideStep(uint32_t high, uint32_t low, uint32_t d, uint32_t &rem) {
#if defined(__i386__)
  // The C division of a 64-bit number is a library call on i386; the instruction does it at
  // once when the quotient fits.
  uint32_t q;
  __asm__("divl %4" : "=a"(q), "=d"(rem) : "0"(low), "1"(high), "rm"(d));
  return q;
#else
  uint64_t n = (uint64_t(high) << 32) | low;
  rem = uint32_t(n % d);
  return uint32_t(n / d);
#endif
}

// Writes the `count` digits of the chunk `c` (< base32) backwards, ending at `end`, with leading
// zeros; returns the new start.
template <bool Decimal>
inline char *writeFullChunk(uint32_t c, char *end, uint32_t radix, uint32_t count) {
  if (Decimal) {
    for (uint32_t i = 0; i < 4; ++i) {
      end -= 2;
      std::memcpy(end, kPairs.text + 2 * (c % 100), 2);
      c /= 100;
    }
    *--end = char('0' + c);
    return end;
  }
  for (uint32_t i = 0; i < count; ++i) {
    *--end = kDigits[c % radix];
    c /= radix;
  }
  return end;
}

// Writes the digits of `c` (> 0) backwards without leading zeros; returns the new start.
template <bool Decimal> inline char *writeTopChunk(uint32_t c, char *end, uint32_t radix) {
  if (Decimal) {
    while (c >= 100) {
      end -= 2;
      std::memcpy(end, kPairs.text + 2 * (c % 100), 2);
      c /= 100;
    }
    if (c >= 10) {
      end -= 2;
      std::memcpy(end, kPairs.text + 2 * c, 2);
    } else {
      *--end = char('0' + c);
    }
    return end;
  }
  while (c) {
    *--end = kDigits[c % radix];
    c /= radix;
  }
  return end;
}

// Writes the digits of the number held in `n` 32-bit digits (least significant first, the top one
// not 0; destroyed) backwards, ending at `end`; returns the start. Each short division divides the
// number by the largest power of the radix that fits 32 bits, `base`, and yields that many digits.
template <bool Decimal>
char *writeDigitsBackwards(uint32_t *d, uint32_t n, char *end, uint32_t radix) {
  const uint32_t base = Decimal ? 1000000000u : kRadix.info[radix].base32;
  const uint32_t count = Decimal ? 9 : kRadix.info[radix].digits32;
  // Four short divisions per pass, chained: each divides the quotient digits of the one before as
  // they come out, so that the four remainder chains advance side by side. A division step waits
  // for the remainder of the step before it, and the latency of the division instruction is
  // several times its throughput: one chain alone leaves the divider mostly idle. A pass takes
  // base^4 < 2^128 off the number, so it runs while the number has more than four digits.
  while (n > 4) {
    uint32_t r0 = 0, r1 = 0, r2 = 0, r3 = 0;
    for (uint32_t i = n; i-- > 0;) {
      uint32_t q = divideStep(r0, d[i], base, r0);
      q = divideStep(r1, q, base, r1);
      q = divideStep(r2, q, base, r2);
      d[i] = divideStep(r3, q, base, r3);
    }
    while (d[n - 1] == 0) --n;
    end = writeFullChunk<Decimal>(r0, end, radix, count);
    end = writeFullChunk<Decimal>(r1, end, radix, count);
    end = writeFullChunk<Decimal>(r2, end, radix, count);
    end = writeFullChunk<Decimal>(r3, end, radix, count);
  }
  while (n > 1 || d[0] >= base) {
    uint32_t rem = 0;
    for (uint32_t i = n; i-- > 0;) d[i] = divideStep(rem, d[i], base, rem);
    // The quotient of a number of two digits or more by a one-digit base is not 0.
    if (d[n - 1] == 0) --n;
    end = writeFullChunk<Decimal>(rem, end, radix, count);
  }
  return writeTopChunk<Decimal>(d[0], end, radix);
}

// writeDigitsBackwards for the number in `count` words (the top one not 0), which stay unchanged.
template <bool Decimal>
char *writeWordsBackwards(const Word *w, uint32_t count, char *end, uint32_t radix) {
  uint32_t n = 2 * count;
  Scratch<uint32_t, 2 * kStackWords> d(n);
  for (uint32_t i = 0; i < count; ++i) {
    d[2 * i] = uint32_t(w[i]);
    d[2 * i + 1] = uint32_t(w[i] >> 32);
  }
  if (d[n - 1] == 0) --n;
  return writeDigitsBackwards<Decimal>(d.data(), n, end, radix);
}

// The digits of the number in `count` words (the top one not 0) read as b bits each (radix 2^b),
// from the top. Returns the end of what was written at `out`.
char *writePowerOfTwoDigits(const Word *w, uint32_t count, uint32_t b, char *out) {
  const uint32_t bits = count * kWordBits - uint32_t(__builtin_clzll(w[count - 1]));
  const Word mask = (Word(1) << b) - 1;
  if (kWordBits % b == 0) {
    // Radix 2, 4 and 16: no digit crosses a word, so each word is written on its own.
    const uint32_t top = count - 1;
    for (uint32_t j = (bits - top * kWordBits + b - 1) / b; j-- > 0;)
      *out++ = kDigits[(w[top] >> (j * b)) & mask];
    for (uint32_t i = top; i-- > 0;) {
      const Word v = w[i];
      for (uint32_t j = kWordBits / b; j-- > 0;) *out++ = kDigits[(v >> (j * b)) & mask];
    }
    return out;
  }
  for (uint32_t i = (bits + b - 1) / b; i-- > 0;) {
    uint32_t pos = i * b, at = pos / kWordBits, shift = pos % kWordBits;
    Word v = w[at] >> shift;
    if (shift + b > kWordBits && at + 1 < count) v |= w[at + 1] << (kWordBits - shift);
    *out++ = kDigits[v & mask];
  }
  return out;
}

#ifdef __SIZEOF_INT128__
__extension__ typedef unsigned __int128 Wide;

// Decimal digits 19 at a time where a 128-bit product is one instruction. 10^19 has its top bit
// set, so a division by it can go through a precomputed inverse instead of a division
// instruction (Möller and Granlund's division by an invariant integer).
constexpr uint64_t kTenTo19 = 10000000000000000000ull;
constexpr uint64_t kTenTo19Inverse = uint64_t(~Wide(0) / kTenTo19 - (Wide(1) << 64));

// (high·2^64 + low) / 10^19, and the remainder in `rem`; high < 10^19.
inline uint64_t divideByTenTo19(uint64_t high, uint64_t low, uint64_t &rem) {
  Wide p = Wide(kTenTo19Inverse) * high + ((Wide(high) << 64) | low);
  uint64_t q = uint64_t(p >> 64) + 1;
  uint64_t r = low - q * kTenTo19;
  if (r > uint64_t(p)) {
    --q;
    r += kTenTo19;
  }
  if (r >= kTenTo19) {
    ++q;
    r -= kTenTo19;
  }
  rem = r;
  return q;
}

// Writes the decimal digits of the number in `n` words (the top one not 0; destroyed) backwards,
// ending at `end`; returns the start.
char *writeDecimalBy19(Word *w, uint32_t n, char *end) {
  while (n > 1 || w[0] >= kTenTo19) {
    uint64_t rem = 0;
    for (uint32_t i = n; i-- > 0;) w[i] = divideByTenTo19(rem, w[i], rem);
    if (w[n - 1] == 0) --n;
    // Nineteen digits: two chunks of nine and the top one (the divisions by constants are
    // multiplications).
    end = writeFullChunk<true>(uint32_t(rem % 1000000000u), end, 10, 9);
    rem /= 1000000000u;
    end = writeFullChunk<true>(uint32_t(rem % 1000000000u), end, 10, 9);
    *--end = char('0' + rem / 1000000000u);
  }
  uint64_t top = w[0];
  while (top >= 1000000000u) {
    end = writeFullChunk<true>(uint32_t(top % 1000000000u), end, 10, 9);
    top /= 1000000000u;
  }
  return writeTopChunk<true>(uint32_t(top), end, 10);
}
#endif

// Writes the decimal digits of the number in `count` words (unchanged; the top one not 0)
// backwards, ending at `end`; returns the start.
char *writeDecimalBackwards(const Word *w, uint32_t count, char *end) {
#ifdef __SIZEOF_INT128__
  Scratch<Word, kStackWords> m(count);
  for (uint32_t i = 0; i < count; ++i) m[i] = w[i];
  return writeDecimalBy19(m.data(), count, end);
#else
  return writeWordsBackwards<true>(w, count, end, 10);
#endif
}

// The prefix of the literal form of `radix`: "0b", "0", "" or "0x"; other radixes have none.
const char *literalPrefix(uint32_t radix) {
  switch (radix) {
  case 2:
    return "0b";
  case 8:
    return "0";
  case 10:
    return "";
  case 16:
    return "0x";
  default:
    reachedUnreachable();
  }
}

// The words of the magnitude of `v` (read as signed when `negative`, which the caller has seen to
// be so): v's own words when it is not negative, else its negation in `single` (inline values,
// the smallest signed value of 64 bits included) or in `copy` (wide values: v.wordCount()
// words). `count` gets the number of words up to the top non-zero one (the value is not 0).
const Word *magnitudeWords(const APInt &v, bool negative, Word &single, Word *copy,
                           uint32_t &count) {
  const Word *w = v.wordData();
  count = v.wordCount();
  if (negative) {
    if (v.isInline()) {
      single = 0 - Word(v.asInt64());
      w = &single;
    } else {
      for (uint32_t i = 0; i < count; ++i) copy[i] = w[i];
      words::negate(copy, count);
      copy[count - 1] &= ~Word(0) >> ((0u - v.width()) % kWordBits);
      w = copy;
    }
  }
  while (count > 1 && w[count - 1] == 0) --count;
  return w;
}

// Writes the digits of the number in `count` words (the top one not 0) in `radix`, which is not
// a power of two, at `out`; returns their end. The digits come least significant first: they are
// written backwards, ending at `roomEnd` (the end of the room appendText reserved), and then
// moved into place.
char *writeDividedDigits(const Word *w, uint32_t count, uint32_t radix, char *out,
                         char *roomEnd) {
  char *start = radix == 10 ? writeDecimalBackwards(w, count, roomEnd)
                            : writeWordsBackwards<false>(w, count, roomEnd, radix);
  const size_t length = size_t(roomEnd - start);
  std::memmove(out, start, length);
  return out + length;
}

// 64×64-bit multiply-add: a·b + carry, the high word in `high`.
inline Word mulAdd(Word a, Word b, Word carry, Word &high) {
#ifdef __SIZEOF_INT128__
  Wide p = Wide(a) * b + carry;
  high = Word(p >> 64);
  return Word(p);
#else
  uint64_t al = uint32_t(a), ah = a >> 32, bl = uint32_t(b), bh = b >> 32;
  uint64_t ll = al * bl, lh = al * bh, hl = ah * bl, hh = ah * bh;
  uint64_t mid = (ll >> 32) + uint32_t(lh) + uint32_t(hl);
  Word low = (mid << 32) | uint32_t(ll);
  high = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
  low += carry;
  high += low < carry;
  return low;
#endif
}

// Byte -> digit value as parseUnsigned reads digits: 0-9, then letters of either case for 10 to
// 35; 255 for every other byte. For the radixes of parseText (2, 8, 10, 16, 36) a value below
// the radix is exactly a digit as digitValue reads it.
struct DigitTable {
  uint8_t value[256];
  constexpr DigitTable() : value() {
    for (int c = 0; c < 256; ++c) value[c] = 255;
    for (int c = '0'; c <= '9'; ++c) value[c] = uint8_t(c - '0');
    for (int c = 'a'; c <= 'z'; ++c) value[c] = uint8_t(c - 'a' + 10);
    for (int c = 'A'; c <= 'Z'; ++c) value[c] = uint8_t(c - 'A' + 10);
  }
};
constexpr DigitTable kDigitOf;

inline uint32_t digitOf(char c) { return kDigitOf.value[uint8_t(c)]; }

// Sets the `count` zeroed words at `w` to the digits s[0 .. n) of `radix`, most significant
// first, modulo 2^(64·count). Powers of two place each digit's bits; other radixes gather as many
// digits as fit a word and multiply once per such chunk, touching only the words in use. A digit
// not below the radix (a broken obligation) gives some value, never a write outside the words.
template <bool Decimal>
void parseDigits(Word *w, uint32_t count, const char *s, uint32_t n, uint32_t radix) {
  if (n == 0) return;
  if (!Decimal && isPowerOfTwoRadix(radix)) {
    // From the last digit up, filling one word at a time.
    const uint32_t b = kRadix.info[radix].floorLog2;
    const Word mask = radix - 1;
    Word acc = 0;
    uint32_t fill = 0, at = 0;
    for (uint32_t i = n; i-- > 0;) {
      const Word d = digitOf(s[i]) & mask;
      acc |= d << fill;
      fill += b;
      if (fill >= kWordBits) {
        w[at] = acc;
        if (++at == count) return;
        fill -= kWordBits;
        acc = fill ? d >> (b - fill) : 0;
      }
    }
    if (fill) w[at] = acc;
    return;
  }
  const uint32_t chunk = Decimal ? 19 : kRadix.info[radix].digits64;
  const Word base = Decimal ? Word(10000000000000000000ull) : kRadix.info[radix].base64;
  auto gather = [&](const char *p, uint32_t k) {
    Word c = 0;
    for (uint32_t j = 0; j < k; ++j) {
      Word digit = Decimal ? Word(uint8_t(p[j]) - '0') : digitOf(p[j]);
      c = c * (Decimal ? 10 : radix) + digit;
    }
    return c;
  };
  uint32_t first = n % chunk ? n % chunk : chunk;
  w[0] = gather(s, first);
  uint32_t used = 1;
  for (uint32_t i = first; i < n; i += chunk) {
    Word carry = gather(s + i, chunk);
    for (uint32_t j = 0; j < used; ++j) w[j] = mulAdd(w[j], base, carry, carry);
    if (carry && used < count) w[used++] = carry;
  }
}

// An upper bound of the words that a number of n decimal digits needs: its bit length is at most
// ceil(n·log2(10)), and 217706 / 2^16 is just above log2(10).
inline uint32_t decimalWords(uint32_t n) {
  return uint32_t((uint64_t(n) * 217706 >> 16) / kWordBits) + 1;
}

// Sets the `count` zeroed words at `w` to the decimal digits s[0 .. n), modulo 2^(64·count).
void parseDecimalChunks(Word *w, uint32_t count, const char *s, uint32_t n) {
#ifdef __SIZEOF_INT128__
  parseDigits<true>(w, count, s, n, 10);
#else
  // Without a 64×64-bit product instruction a word multiplication takes four 32-bit ones and
  // their carries: 32-bit digits and chunks of nine decimal digits cost the same multiplications
  // with a shorter carry chain.
  if (n == 0) return;
  const uint32_t limit = 2 * (count < decimalWords(n) ? count : decimalWords(n));
  Scratch<uint32_t, 2 * kStackWords> d(limit);
  auto gather = [](const char *p, uint32_t k) {
    uint32_t c = 0;
    for (uint32_t j = 0; j < k; ++j) c = c * 10 + (uint8_t(p[j]) - '0');
    return c;
  };
  const uint32_t first = n % 9 ? n % 9 : 9;
  d[0] = gather(s, first);
  uint32_t used = 1;
  for (uint32_t i = first; i < n; i += 9) {
    uint32_t carry = gather(s + i, 9);
    for (uint32_t j = 0; j < used; ++j) {
      const uint64_t p = uint64_t(d[j]) * 1000000000u + carry;
      d[j] = uint32_t(p);
      carry = uint32_t(p >> 32);
    }
    if (carry && used < limit) d[used++] = carry;
  }
  for (uint32_t j = 0; j < used; j += 2)
    w[j / 2] = d[j] | (j + 1 < used ? Word(d[j + 1]) << 32 : 0);
#endif
}

} // namespace

// --- Text output --------------------------------------------------------------------------------

uint32_t APInt::textCapacity(uint32_t radix) const {
  VORN_CHECK(radix >= 2 && radix <= 36, "APInt::appendText", "radix is not between 2 and 36");
  // A sign, a prefix of at most two characters and at most ceil(width / floor(log2 radix)) digits.
  uint32_t b = kRadix.info[radix].floorLog2;
  return bitWidth / b + 1 + 3;
}

uint32_t APInt::writeText(char *out, uint32_t radix, bool isSigned, bool asLiteral) const {
  const char *prefix = asLiteral ? literalPrefix(radix) : "";
  char *p = out;
  if (significantBits() == 0) {
    while (*prefix) *p++ = *prefix++;
    *p++ = '0';
    return uint32_t(p - out);
  }
  const bool negative = isSigned && isSignBitSet();
  if (negative) *p++ = '-';
  while (*prefix) *p++ = *prefix++;

  Word single = 0;
  Scratch<Word, kStackWords> copy(negative && !isInline() ? wordCount() : 0);
  uint32_t count;
  const Word *w = magnitudeWords(*this, negative, single, copy.data(), count);
  if (isPowerOfTwoRadix(radix))
    p = writePowerOfTwoDigits(w, count, kRadix.info[radix].floorLog2, p);
  else
    p = writeDividedDigits(w, count, radix, p, out + textCapacity(radix));
  return uint32_t(p - out);
}

std::string APInt::toText(uint32_t radix, bool isSigned) const {
  InlineString<40> text;
  appendText(text, radix, isSigned, false);
  return text.str();
}

void APInt::printTo(OutStream &stream, bool isSigned) const {
  InlineString<40> text;
  appendText(text, 10, isSigned, false);
  stream.write(text.data(), text.size());
}

void APInt::debugDump() const {
  InlineString<40> unsignedText, signedText;
  appendText(unsignedText, 10, false, false);
  appendText(signedText, 10, true, false);
  OutStream &out = debugStream();
  out << "APInt(";
  out.writeUnsigned32(bitWidth);
  out << "b, " << unsignedText.view() << "u " << signedText.view() << "s)";
}

// --- Text input ---------------------------------------------------------------------------------

uint32_t APInt::digitValue(char c, uint32_t radix) {
  uint32_t x = uint8_t(c);
  if (radix == 16 || radix == 36) {
    if (x - '0' < 10) return x - '0';
    if (x - 'A' <= radix - 11) return x - 'A' + 10;
    if (x - 'a' <= radix - 11) return x - 'a' + 10;
    return ~0u;
  }
  // Only the decimal digits below the radix: the bytes after '9' are no digits in any radix.
  uint32_t limit = radix < 10 ? radix : 10;
  return x - '0' < limit ? x - '0' : ~0u;
}

void APInt::parseText(uint32_t width, StrView text, uint32_t radix) {
  VORN_CHECK(width >= 1, "APInt::parseText", "width is zero");
  VORN_CHECK(radix == 2 || radix == 8 || radix == 10 || radix == 16 || radix == 36,
             "APInt::parseText", "radix is not 2, 8, 10, 16 or 36");
  const char *s = text.data();
  uint32_t n = text.size();
  bool negative = false;
  if (n && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    ++s;
    --n;
  }
  if (kChecksEnabled)
    for (uint32_t i = 0; i < n; ++i)
      VORN_CHECK(digitValue(s[i], radix) < radix, "APInt::parseText",
                 "a character is no digit of the radix");
  makeZeroOfWidth(*this, width);
  Word *w = mutableWords();
  if (radix == 10)
    parseDecimalChunks(w, wordCount(), s, n);
  else
    parseDigits<false>(w, wordCount(), s, n, radix);
  maskTopWord();
  if (negative) {
    words::negate(w, wordCount());
    maskTopWord();
  }
}

void APInt::parseAnyRadix(uint32_t width, const char *s, uint32_t n, uint32_t radix) {
  makeZeroOfWidth(*this, width);
  if (radix == 10)
    parseDecimalChunks(mutableWords(), wordCount(), s, n);
  else
    parseDigits<false>(mutableWords(), wordCount(), s, n, radix);
  maskTopWord();
}

bool parseInteger(StrView text, uint32_t radix, APInt &result) {
  if (radix == 0) radix = detectRadix(text);
  if (radix < 2 || radix > 36 || text.empty()) return true;
  uint32_t skip = 0;
  while (skip < text.size() && text[skip] == '0') ++skip;
  if (skip == text.size()) {
    result = APInt(64, 0);
    return false;
  }
  const char *s = text.data() + skip;
  uint32_t n = text.size() - skip;

  uint32_t bitsPerDigit = 1;
  while ((uint32_t(1) << bitsPerDigit) < radix) ++bitsPerDigit;
  uint64_t needed = uint64_t(bitsPerDigit) * n;
  // A text so long that no width holds it cannot be parsed either.
  if (needed > 0xFFFFFFFFu) return true;
  uint32_t width = uint32_t(needed) > result.width() ? uint32_t(needed) : result.width();

  uint32_t valid = 0;
  while (valid < n && digitOf(s[valid]) < radix) ++valid;
  // On failure the digits before the bad one are the value.
  result.parseAnyRadix(width, s, valid, radix);
  return valid != n;
}

uint32_t APInt::bitsNeededForText(StrView text, uint32_t radix) {
  VORN_CHECK(radix == 2 || radix == 8 || radix == 10 || radix == 16 || radix == 36,
             "APInt::bitsNeededForText", "radix is not 2, 8, 10, 16 or 36");
  uint32_t negative = 0;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text = text.dropFront(1);
  }
  if (text.empty()) text = StrView("0", 1);
  uint64_t n = text.size();
  switch (radix) {
  case 2:
    return uint32_t(n + negative);
  case 8:
    return uint32_t(3 * n + negative);
  case 16:
    return uint32_t(4 * n + negative);
  default:
    break;
  }
  // A width that surely holds the number: log2(10) < 64/18 and log2(36) < 16/3 bits per digit.
  // For radix 36 the quotient is rounded up: two digits (up to 1295) need 11 bits, not 32/3.
  uint64_t width = radix == 10 ? (n == 1 ? 4 : 64 * n / 18) : (n == 1 ? 7 : (16 * n + 2) / 3);
  APInt value(uint32_t(width), text, radix);
  uint32_t bits = value.significantBits();
  return negative + (bits ? bits : 1);
}

// --- Hashing and profiles -----------------------------------------------------------------------

HashCode hashOf(const APInt &value) {
  // hashCombine of the inline word and hashBytes of a wide array are the same function of the
  // words' bytes.
  const Word *w = value.wordData();
  return hashBytes(w, w + value.wordCount());
}

void APInt::addToProfile(NodeProfile &profile) const {
  profile.addWord(bitWidth);
  const Word *w = wordData();
  for (uint32_t i = 0, n = wordCount(); i < n; ++i) profile.addInteger64(w[i]);
}

} // namespace vorn
