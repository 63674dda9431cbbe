// APInt text conversion, hashing and profiles.

#include "support/apint/APInt.h"

#include "support/apint/Digits.h"

#include <atomic>
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

// A word's 32-bit halves, low half first (the targets are little-endian), as which the power-of-two
// radixes read the words they fill.
typedef uint32_t __attribute__((__may_alias__)) HalfWord;

// "00" to "FF", for writing hexadecimal digits two at a time.
struct HexPairs {
  char text[512];
  constexpr HexPairs() : text() {
    for (int i = 0; i < 256; ++i) {
      text[2 * i] = "0123456789ABCDEF"[i >> 4];
      text[2 * i + 1] = "0123456789ABCDEF"[i & 15];
    }
  }
};
constexpr HexPairs kHexPairs;

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

// Radix 10 splits wide values at powers of ten, halving the digit count at each level, and leaves
// the pieces of at most kWriteBasecaseWords words (writing) or kParseBasecaseDigits digits
// (parsing) to the chunk loops. A split costs a few multiplications of whole numbers, so the
// size where splitting starts to pay depends on how fast they are. Measured on i686 with the
// Karatsuba multiplication (apint_text_bench, best of three): writing 4096 bits by splits down to
// 16 words takes 0.82 of the time of the chunk loop alone (8 or 32 words: 0.85), and 1024 bits
// lose by splitting; parsing 4096 bits with pieces of up to 600 digits takes 0.94 of the time.
constexpr uint32_t kWriteBasecaseWords = 16;
constexpr uint32_t kParseBasecaseDigits = 600;

// The words of the stack storage of the digit loops: 4224 bits, past the widest common values.
constexpr uint32_t kStackWords = 66;

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
      uint32_t q = digits::divideWide(r0, d[i], base, r0);
      q = digits::divideWide(r1, q, base, r1);
      q = digits::divideWide(r2, q, base, r2);
      d[i] = digits::divideWide(r3, q, base, r3);
    }
    while (d[n - 1] == 0) --n;
    end = writeFullChunk<Decimal>(r0, end, radix, count);
    end = writeFullChunk<Decimal>(r1, end, radix, count);
    end = writeFullChunk<Decimal>(r2, end, radix, count);
    end = writeFullChunk<Decimal>(r3, end, radix, count);
  }
  while (n > 1 || d[0] >= base) {
    uint32_t rem = 0;
    for (uint32_t i = n; i-- > 0;) d[i] = digits::divideWide(rem, d[i], base, rem);
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
  if (b == 4) {
    // Hexadecimal: the top word's significant digits, then two digits a byte from a table.
    const uint32_t top = count - 1;
    // The top word's digits, by 32-bit halves: shifts of a 64-bit word by a variable amount cost
    // several instructions on i686.
    const uint32_t high = uint32_t(w[top] >> 32), low = uint32_t(w[top]);
    uint32_t digitsLeft = (bits - top * kWordBits + 3) / 4;
    for (; digitsLeft > 8; --digitsLeft) *out++ = kDigits[(high >> (4 * (digitsLeft - 9))) & 15];
    for (; digitsLeft > 0; --digitsLeft) *out++ = kDigits[(low >> (4 * (digitsLeft - 1))) & 15];
    for (uint32_t i = top; i-- > 0;) {
      const Word v = w[i];
      for (uint32_t half = 2; half-- > 0;) {
        const uint32_t h = uint32_t(v >> (32 * half));
        for (uint32_t k = 4; k-- > 0;) {
          std::memcpy(out, kHexPairs.text + 2 * ((h >> (8 * k)) & 0xff), 2);
          out += 2;
        }
      }
    }
    return out;
  }
  if (kWordBits % b == 0) {
    // Radix 2 and 4: no digit crosses a word, so each word is written on its own.
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
// set, so a division by it can go through a precomputed reciprocal instead of a division
// instruction.
constexpr uint64_t kTenTo19 = 10000000000000000000ull;
constexpr digits::ReciprocalDivider<uint64_t, Wide> kByTenTo19(kTenTo19);

inline uint64_t divideByTenTo19(uint64_t high, uint64_t low, uint64_t &rem) {
  return kByTenTo19.divide(high, low, rem);
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

// Writes the decimal digits of the number in `count` words (unchanged; any count, zero words
// included) backwards, ending at `end`, then leading zeros until there are `pad` digits; returns
// the start. A zero value with no padding is "0". The number must have at most `pad` digits when
// pad is not 0.
char *writeDecimalChunks(const Word *w, uint32_t count, char *end, uint32_t pad) {
  while (count > 0 && w[count - 1] == 0) --count;
  char *start = end;
  if (count > 0) {
#ifdef __SIZEOF_INT128__
    Scratch<Word, kStackWords> m(count);
    for (uint32_t i = 0; i < count; ++i) m[i] = w[i];
    start = writeDecimalBy19(m.data(), count, end);
#else
    start = writeWordsBackwards<true>(w, count, end, 10);
#endif
  } else if (pad == 0) {
    *--start = '0';
  }
  while (uint32_t(end - start) < pad) *--start = '0';
  return start;
}

// The decimal powers at which wide values are split: level i holds 10^k for k = 9·2^i. Each is
// also kept as 5^k, its odd part: dividing by 10^k is dividing by 5^k after a shift right by k
// bits, and multiplying by it is multiplying by 5^k and shifting left, which saves a third of the
// words of the divisor or factor. The divisions go through a reciprocal of 5^k (Barrett's
// method), which turns each into two multiplications.
struct DecimalPower {
  explicit DecimalPower(uint32_t level);

  uint32_t digits;          // k
  uint32_t tenBits;         // bit length of 10^k
  uint32_t tenWords;        // words of 10^k
  uint32_t oddWords;        // words of 5^k
  uint32_t reciprocalWords; // words of the reciprocal
  APInt ten;                // 10^k, tenWords words wide
  APInt odd;                // 5^k, oddWords + 1 words wide (the top one 0)
  APInt reciprocal;         // floor(2^(64·(oddWords + tenWords)) / 5^k)
};

// 10^(9·2^27) has more than 2^32 bits, so no value of any width reaches the power of level 28.
constexpr uint32_t kDecimalLevels = 28;

const DecimalPower &decimalPower(uint32_t level);

DecimalPower::DecimalPower(uint32_t level) : digits(9u << level) {
  if (level == 0) {
    odd = APInt(2 * kWordBits, 1953125); // 5^9
  } else {
    // Each level squares the one below it.
    const DecimalPower &below = decimalPower(level - 1);
    const uint32_t n = below.oddWords;
    Scratch<Word, 2 * kStackWords> square(2 * n + 1);
    const Word *w = below.odd.wordData();
    const uint32_t used = words::multiplyFull(square.data(), w, w, n, n);
    square[used] = 0;
    odd = APInt((used + 1) * kWordBits, WordView(square.data(), used + 1));
  }
  oddWords = odd.significantWords();
  tenBits = odd.significantBits() + digits;
  tenWords = (tenBits + kWordBits - 1) / kWordBits;
  ten = odd.zeroResizedTo(tenWords * kWordBits);
  ten <<= digits;
  const uint32_t numeratorWords = oddWords + tenWords + 1;
  APInt numerator(numeratorWords * kWordBits, 0);
  numerator.setBitAt((numeratorWords - 1) * kWordBits);
  APInt::longDivide(numerator, numeratorWords, odd, oddWords, &reciprocal, nullptr);
  reciprocalWords = reciprocal.significantWords();
}

// The power of `level` (below kDecimalLevels), made at its first use. The powers are built once
// for the process and never freed: a thread that finds a level missing builds it, and the first
// one to publish its copy wins (the others drop theirs).
const DecimalPower &decimalPower(uint32_t level) {
  static std::atomic<const DecimalPower *> powers[kDecimalLevels];
  const DecimalPower *power = powers[level].load(std::memory_order_acquire);
  if (power) return *power;
  const DecimalPower *made = new DecimalPower(level);
  if (powers[level].compare_exchange_strong(power, made, std::memory_order_acq_rel,
                                            std::memory_order_acquire))
    return *made;
  delete made;
  return *power;
}

// The largest level whose power is at most the number in `n` words (the top one not 0; at least
// 2^64, so at least the power of level 0).
uint32_t splitLevel(const Word *x, uint32_t n) {
  const uint64_t bits = uint64_t(n) * kWordBits - uint32_t(__builtin_clzll(x[n - 1]));
  uint32_t level = 0;
  for (;;) {
    // 10^(2k) has at least 2·bits(10^k) - 1 bits: when that is more than the number has, the
    // next power is surely larger, and is not built.
    if (2 * uint64_t(decimalPower(level).tenBits) - 1 > bits) return level;
    const DecimalPower &next = decimalPower(level + 1);
    if (next.tenBits > bits ||
        (next.tenBits == bits && words::compare(x, next.ten.wordData(), n) < 0))
      return level;
    ++level;
  }
}

// Divides y, in m words (at least the power's oddWords; y < 5^k·10^k), by 5^k: y becomes the
// quotient and rem (oddWords words) the remainder. With K = oddWords and L = tenWords,
// y < 2^(64·(K + L)), and the quotient is estimated as
//     q' = floor(floor(y / 2^(64·(K - 1))) · reciprocal / 2^(64·(L + 1))),
// which is at most 2 below the true one: r = y - q'·5^k is below 3·5^k < 2^(64·(K + 1)), so
// that it takes only the low K + 1 words of the product q'·5^k, and at most two subtractions of
// 5^k finish the division.
void divideByOddPower(Word *y, uint32_t m, const DecimalPower &power, Word *rem) {
  const uint32_t K = power.oddWords, L = power.tenWords;
  const uint32_t topWords = m - (K - 1);
  const uint32_t productWords = topWords + power.reciprocalWords;
  // The estimate lies at word L + 1 of the product; the room behind the product gives it at
  // least the K + 1 words that the second multiplication reads.
  const uint32_t room = productWords > L + K + 2 ? productWords : L + K + 2;
  Scratch<Word, 4 * kStackWords> product(room);
  words::multiplyFull(product.data(), y + K - 1, power.reciprocal.wordData(), topWords,
                      power.reciprocalWords);
  for (uint32_t i = productWords; i < room; ++i) product[i] = 0;
  Word *q = product.data() + L + 1;
  const uint32_t qWords = room - (L + 1);

  Scratch<Word, 2 * kStackWords> work(2 * (K + 1));
  Word *back = work.data(), *r = back + K + 1;
  const Word *odd = power.odd.wordData(); // K + 1 words
  words::multiplyTruncated(back, q, odd, K + 1);
  for (uint32_t i = 0; i <= K; ++i) r[i] = i < m ? y[i] : 0;
  words::subtractWithBorrow(r, back, 0, K + 1);
  while (words::compare(r, odd, K + 1) >= 0) {
    words::subtractWithBorrow(r, odd, 0, K + 1);
    words::increment(q, qWords);
  }
  // The quotient is at most y, so its words above m are 0.
  for (uint32_t i = 0; i < m; ++i) y[i] = i < qWords ? q[i] : 0;
  for (uint32_t i = 0; i < K; ++i) rem[i] = r[i];
}

// Writes the decimal digits of the number in x[0 .. n) (the top word not 0 unless n is 0;
// destroyed) backwards, ending at `end`, padded with leading zeros to `pad` digits when pad is
// not 0 (the number then has at most pad digits); returns the start. A wide number is divided by
// the largest power 10^k of the table not above it, which leaves a quotient and a remainder both
// below 10^k: the remainder gives the low k digits, leading zeros included, and the quotient the
// digits above them, each written the same way down to pieces that writeDecimalChunks writes.
char *writeDecimalSplit(Word *x, uint32_t n, char *end, uint32_t pad) {
  if (n <= kWriteBasecaseWords) return writeDecimalChunks(x, n, end, pad);
  const DecimalPower &power = decimalPower(splitLevel(x, n));
  const uint32_t k = power.digits, shiftWords = k / kWordBits, shiftBits = k % kWordBits;

  // The remainder is (x / 2^k mod 5^k)·2^k + x mod 2^k: first the low k bits of x.
  Scratch<Word, kStackWords> rem(power.tenWords);
  words::assignWord(rem.data(), 0, power.tenWords);
  for (uint32_t i = 0; i < shiftWords; ++i) rem[i] = x[i];
  if (shiftBits) rem[shiftWords] = x[shiftWords] & ((Word(1) << shiftBits) - 1);

  // x / 2^k >= 5^k, so it has at least as many words as 5^k.
  words::shiftRight(x, n, k);
  uint32_t m = n - shiftWords;
  while (x[m - 1] == 0) --m;
  {
    Scratch<Word, kStackWords> oddRem(power.oddWords);
    divideByOddPower(x, m, power, oddRem.data());
    for (uint32_t i = 0; i < power.oddWords && shiftWords + i < power.tenWords; ++i) {
      rem[shiftWords + i] |= oddRem[i] << shiftBits;
      if (shiftBits && shiftWords + i + 1 < power.tenWords)
        rem[shiftWords + i + 1] |= oddRem[i] >> (kWordBits - shiftBits);
    }
  }

  uint32_t remWords = power.tenWords;
  while (remWords > 0 && rem[remWords - 1] == 0) --remWords;
  char *start = writeDecimalSplit(rem.data(), remWords, end, k);
  // The quotient is at least 1.
  while (x[m - 1] == 0) --m;
  return writeDecimalSplit(x, m, start, pad ? pad - k : 0);
}

// Writes the decimal digits of the number in `count` words (unchanged; the top one not 0)
// backwards, ending at `end`; returns the start.
char *writeDecimalBackwards(const Word *w, uint32_t count, char *end) {
  if (count <= kWriteBasecaseWords) return writeDecimalChunks(w, count, end, 0);
  Scratch<Word, kStackWords> x(count);
  for (uint32_t i = 0; i < count; ++i) x[i] = w[i];
  return writeDecimalSplit(x.data(), count, end, 0);
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
  if (!Decimal && isPowerOfTwoRadix(radix) && 32 % kRadix.info[radix].floorLog2 == 0) {
    // Radix 2, 4 and 16: no digit crosses a 32-bit digit of the words, so each of those gathers
    // its digits of the text with shifts by a constant, from the last digit up.
    const uint32_t b = kRadix.info[radix].floorLog2, perDigit = 32 / b;
    const uint32_t mask = radix - 1;
    HalfWord *d = reinterpret_cast<HalfWord *>(w);
    for (uint32_t at = 0, end = n; end && at < 2 * count; ++at) {
      const uint32_t start = end > perDigit ? end - perDigit : 0;
      uint32_t v = 0;
      for (uint32_t i = start; i < end; ++i) v = (v << b) | (digitOf(s[i]) & mask);
      d[at] = v;
      end = start;
    }
    return;
  }
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

// Sets out[0 .. size) to the number of the n decimal digits at s, modulo 2^(64·size), where size
// = min(maxWords, decimalWords(n)) (at least 1); returns size. Long texts split off their low k
// digits, k = 9·2^i the largest such count below n, and become high·10^k + low, the halves read
// the same way down to pieces that parseDecimalChunks reads.
uint32_t parseDecimalSplit(Word *out, uint32_t maxWords, const char *s, uint32_t n) {
  const uint32_t size = maxWords < decimalWords(n) ? maxWords : decimalWords(n);
  words::assignWord(out, 0, size);
  if (n <= kParseBasecaseDigits) {
    parseDecimalChunks(out, size, s, n);
    return size;
  }
  uint32_t level = 0;
  while ((18u << level) < n) ++level;
  const uint32_t k = 9u << level, shiftWords = k / kWordBits, shiftBits = k % kWordBits;

  {
    Scratch<Word, kStackWords> low(size < decimalWords(k) ? size : decimalWords(k));
    const uint32_t lowSize = parseDecimalSplit(low.data(), size, s + n - k, k);
    for (uint32_t i = 0; i < lowSize; ++i) out[i] = low[i];
  }
  // high·10^k = high·5^k·2^k: only its words below `size` count, which come from the words of
  // high and 5^k below `room`.
  if (shiftWords >= size) return size;
  const uint32_t room = size - shiftWords;
  Scratch<Word, kStackWords> high(room < decimalWords(n - k) ? room : decimalWords(n - k));
  uint32_t highWords = parseDecimalSplit(high.data(), room, s, n - k);
  while (highWords > 0 && high[highWords - 1] == 0) --highWords;
  if (highWords == 0) return size;
  const DecimalPower &power = decimalPower(level);
  const uint32_t oddWords = power.oddWords < room ? power.oddWords : room;
  const uint32_t productWords = highWords + oddWords;
  Scratch<Word, 2 * kStackWords> product(productWords + 1);
  words::multiplyFull(product.data(), high.data(), power.odd.wordData(), highWords, oddWords);
  product[productWords] = 0;
  words::shiftLeft(product.data(), productWords + 1, shiftBits);
  const uint32_t added = productWords + 1 < room ? productWords + 1 : room;
  if (words::addWithCarry(out + shiftWords, product.data(), 0, added))
    words::increment(out + shiftWords + added, room - added);
  return size;
}

// Sets the `count` zeroed words at `w` to the n decimal digits at s, modulo 2^(64·count).
void parseDecimal(Word *w, uint32_t count, const char *s, uint32_t n) {
  // A digit at position 64·count or above (counted from the last one) stands for a multiple of
  // 10^(64·count), which 2^(64·count) divides: only the last 64·count digits count.
  const uint64_t kept = uint64_t(count) * kWordBits;
  if (n > kept) {
    s += n - kept;
    n = uint32_t(kept);
  }
  if (n <= kParseBasecaseDigits)
    parseDecimalChunks(w, count, s, n);
  else
    parseDecimalSplit(w, count, s, n);
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
    parseDecimal(w, wordCount(), s, n);
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
    parseDecimal(mutableWords(), wordCount(), s, n);
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
