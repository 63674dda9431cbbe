#ifndef VORN_TESTS_SUPPORT_APINT_GMP_REFERENCE_H
#define VORN_TESTS_SUPPORT_APINT_GMP_REFERENCE_H

// The reference side of the differential tests: GMP integers, conversions between them and word
// arrays or APInt values, and a generator of operands biased toward edge patterns.

#include "support/apint/APInt.h"

#include <gmp.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace apinttest {

using vorn::APInt;
using vorn::Word;

inline uint32_t wordsFor(uint32_t width) { return width / 64 + (width % 64 != 0); }

// -1, 0 or 1 by the sign of z (a function, so that it takes an Mpz as well).
inline int sign(mpz_srcptr z) { return mpz_sgn(z); }

// An mpz_t that frees itself.
class Mpz {
public:
  Mpz() { mpz_init(z); }
  explicit Mpz(unsigned long v) { mpz_init_set_ui(z, v); }
  Mpz(const Mpz &other) { mpz_init_set(z, other.z); }
  Mpz &operator=(const Mpz &other) {
    mpz_set(z, other.z);
    return *this;
  }
  ~Mpz() { mpz_clear(z); }
  operator mpz_ptr() { return z; }
  operator mpz_srcptr() const { return z; }

private:
  mpz_t z;
};

// The unsigned number held by `count` words.
inline void fromWords(mpz_ptr out, const Word *w, uint32_t count) {
  if (count == 0)
    mpz_set_ui(out, 0);
  else
    mpz_import(out, count, -1, sizeof(Word), 0, 0, w);
}

// z modulo 2^(64·count) as `count` words (z >= 0 after any reduction the caller wants).
inline std::vector<Word> toWords(mpz_srcptr z, uint32_t count) {
  Mpz r;
  mpz_fdiv_r_2exp(r, z, 64ul * count);
  std::vector<Word> w(count, 0);
  size_t written = 0;
  if (sign(r) != 0) mpz_export(w.data(), &written, -1, sizeof(Word), 0, 0, r);
  return w;
}

// The unsigned reading of v.
inline void toMpz(mpz_ptr out, const APInt &v) { fromWords(out, v.wordData(), v.wordCount()); }

// The two's complement reading of v.
inline void toMpzSigned(mpz_ptr out, const APInt &v) {
  toMpz(out, v);
  if (v.isSignBitSet()) {
    Mpz p;
    mpz_setbit(p, v.width());
    mpz_sub(out, out, p);
  }
}

// z modulo 2^width as an APInt of that width.
inline APInt toAPInt(mpz_srcptr z, uint32_t width) {
  Mpz r;
  mpz_fdiv_r_2exp(r, z, width);
  std::vector<Word> w = toWords(r, wordsFor(width));
  return APInt(width, vorn::WordView(w.data(), uint32_t(w.size())));
}

inline std::string hexOf(mpz_srcptr z) {
  char *s = mpz_get_str(nullptr, 16, z);
  std::string out = sign(z) < 0 ? std::string("-0x") + (s + 1) : std::string("0x") + s;
  void (*freeFn)(void *, size_t);
  mp_get_memory_functions(nullptr, nullptr, &freeFn);
  freeFn(s, std::strlen(s) + 1);
  return out;
}

inline std::string hexOf(const APInt &v) {
  Mpz z;
  toMpz(z, v);
  return hexOf(z) + " (width " + std::to_string(v.width()) + ")";
}

// Whether v has the given width and equals z modulo 2^width.
inline bool sameValue(const APInt &v, mpz_srcptr z, uint32_t width) {
  if (v.width() != width) return false;
  Mpz want, got;
  mpz_fdiv_r_2exp(want, z, width);
  toMpz(got, v);
  return mpz_cmp(want, got) == 0;
}

// Random numbers for the tests, with operands biased toward the patterns where word-array code
// goes wrong: 0, 1, all ones, the sign bit alone, runs of ones or zeros, values next to word
// boundaries, values that fit one word, sparse bits.
class Generator {
public:
  explicit Generator(uint64_t seed) : rng(seed) {}

  uint64_t next() { return rng(); }
  // Uniform in [0, n); n >= 1.
  uint32_t below(uint32_t n) { return uint32_t(rng() % n); }
  bool oneIn(uint32_t n) { return below(n) == 0; }

  // A random number below 2^width, chosen among the patterns above.
  void value(mpz_ptr out, uint32_t width) {
    mpz_set_ui(out, 0);
    switch (below(14)) {
    case 0:
      break;
    case 1:
      mpz_set_ui(out, 1);
      break;
    case 2:
      setOnes(out, 0, width);
      break;
    case 3:
      mpz_setbit(out, width - 1);
      break;
    case 4:
      setOnes(out, 0, width - 1);
      break;
    case 5: { // a run of ones
      uint32_t lo = below(width);
      setOnes(out, lo, lo + 1 + below(width - lo));
      break;
    }
    case 6: { // a run of zeros in all ones
      uint32_t lo = below(width);
      Mpz run;
      setOnes(run, lo, lo + 1 + below(width - lo));
      setOnes(out, 0, width);
      mpz_xor(out, out, run);
      break;
    }
    case 7: { // next to a word boundary: 2^(64k) + d, -3 <= d <= 3
      uint32_t k = below(wordsFor(width) + 1);
      mpz_setbit(out, 64ul * k);
      long d = long(below(7)) - 3;
      if (d < 0)
        mpz_sub_ui(out, out, (unsigned long)(-d));
      else
        mpz_add_ui(out, out, (unsigned long)d);
      break;
    }
    case 8: { // one word, often a small one
      Word w = oneIn(2) ? next() >> below(64) : below(20);
      fromWords(out, &w, 1);
      break;
    }
    case 9: { // random bits below a random top
      randomBits(out, 1 + below(width));
      break;
    }
    case 10: { // one word repeated
      Word w = oneIn(2) ? (oneIn(2) ? 0x5555555555555555ull : 0xaaaaaaaaaaaaaaaaull) : next();
      std::vector<Word> v(wordsFor(width), w);
      fromWords(out, v.data(), uint32_t(v.size()));
      break;
    }
    case 11: { // a few bits
      for (uint32_t i = 1 + below(4); i > 0; --i) mpz_setbit(out, below(width));
      break;
    }
    default:
      randomBits(out, width);
      break;
    }
    if (oneIn(5)) mpz_combit(out, below(width));
    mpz_fdiv_r_2exp(out, out, width);
  }

  APInt apint(uint32_t width) {
    Mpz z;
    value(z, width);
    return toAPInt(z, width);
  }

  // A non-zero operand.
  APInt nonZero(uint32_t width) {
    APInt v = apint(width);
    if (v == 0) v = Word(1 + below(3));
    if (v == 0) v = Word(1); // 2 and 3 are 0 at width 1
    return v;
  }

  // A shift amount or bit count, biased toward the word and width boundaries; may exceed the
  // width (by up to 64 + width).
  uint32_t amount(uint32_t width) {
    switch (below(10)) {
    case 0:
      return 0;
    case 1:
      return 1;
    case 2:
      return width - 1;
    case 3:
      return width;
    case 4:
      return width + 1 + below(64);
    case 5:
      return 64 * below(wordsFor(width) + 1);
    case 6:
      return 64 * below(wordsFor(width) + 1) + (oneIn(2) ? 1 : 63);
    case 7:
      return below(2 * width + 1);
    default:
      return below(width + 1);
    }
  }

  // A width for the random-width tests: up to `limit`, often next to a multiple of 64.
  uint32_t width(uint32_t limit) {
    if (oneIn(3)) {
      uint32_t w = 64 * (1 + below(limit / 64)) + below(3) - 1;
      return w < 1 ? 1 : w > limit ? limit : w;
    }
    return 1 + below(limit);
  }

private:
  // out = the bits lo .. hi - 1 set.
  void setOnes(mpz_ptr out, uint32_t lo, uint32_t hi) {
    mpz_set_ui(out, 0);
    mpz_setbit(out, hi);
    mpz_sub_ui(out, out, 1);
    mpz_fdiv_q_2exp(out, out, lo);
    mpz_mul_2exp(out, out, lo);
  }
  void randomBits(mpz_ptr out, uint32_t bits) {
    std::vector<Word> v(wordsFor(bits));
    for (Word &w : v) w = next();
    fromWords(out, v.data(), uint32_t(v.size()));
    mpz_fdiv_r_2exp(out, out, bits);
  }

  std::mt19937_64 rng;
};

// Number of random cases a test runs: `base` in the sanitizer build, three times as many in the
// others (which run several times faster), scaled by VORN_APINT_CASES (a multiplier, e.g. 100
// for a long run) when that is set.
inline uint64_t caseCount(uint64_t base) {
#if !defined(__SANITIZE_ADDRESS__)
  base *= 3;
#endif
  const char *env = std::getenv("VORN_APINT_CASES");
  if (!env || !*env) return base;
  double factor = std::strtod(env, nullptr);
  return factor > 0 ? uint64_t(double(base) * factor) : base;
}

// The seed of the random tests: fixed, unless VORN_APINT_SEED gives another.
inline uint64_t testSeed(uint64_t fixed) {
  const char *env = std::getenv("VORN_APINT_SEED");
  return env && *env ? std::strtoull(env, nullptr, 0) : fixed;
}

} // namespace apinttest

#endif
