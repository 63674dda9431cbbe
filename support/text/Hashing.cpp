#include "support/text/Hashing.h"

#include <atomic>

#include "support/runtime/LazyStatic.h"

namespace vorn {

namespace {

const uint64_t K0 = 0xc3a5c85c97cb3127ULL;
const uint64_t K1 = 0xb492b66fbe98f273ULL;
const uint64_t K2 = 0x9ae16a3b2f90404fULL;
const uint64_t K3 = 0xc949d7c7509e6557ULL;
const uint64_t KM = 0x9ddfea08eb382d69ULL;

const uint32_t defaultSeed = 0xed558ccd;

std::atomic<uint32_t> seedOverride{0};

// Little-endian reads at any alignment; memcpy becomes one load on the targets we build for.
inline uint64_t fetch64(const char *p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

inline uint64_t fetch32(const char *p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline uint64_t rotate(uint64_t v, unsigned k) { return k == 0 ? v : (v >> k) | (v << (64 - k)); }

inline uint64_t shiftMix(uint64_t v) { return v ^ (v >> 47); }

inline uint64_t hash16(uint64_t lo, uint64_t hi) {
  uint64_t a = (lo ^ hi) * KM;
  a ^= a >> 47;
  uint64_t b = (hi ^ a) * KM;
  b ^= b >> 47;
  return b * KM;
}

inline uint64_t hash1to3(const char *s, size_t n, uint64_t seed) {
  uint8_t a = uint8_t(s[0]), b = uint8_t(s[n >> 1]), c = uint8_t(s[n - 1]);
  uint32_t y = uint32_t(a) + (uint32_t(b) << 8);
  uint32_t z = uint32_t(n) + (uint32_t(c) << 2);
  return shiftMix(y * K2 ^ z * K3 ^ seed) * K2;
}

inline uint64_t hash4to8(const char *s, size_t n, uint64_t seed) {
  uint64_t a = fetch32(s);
  return hash16(n + (a << 3), seed ^ fetch32(s + n - 4));
}

inline uint64_t hash9to16(const char *s, size_t n, uint64_t seed) {
  uint64_t a = fetch64(s);
  uint64_t b = fetch64(s + n - 8);
  return hash16(seed ^ a, rotate(b + n, unsigned(n))) ^ b;
}

inline uint64_t hash17to32(const char *s, size_t n, uint64_t seed) {
  uint64_t a = fetch64(s) * K1;
  uint64_t b = fetch64(s + 8);
  uint64_t c = fetch64(s + n - 8) * K2;
  uint64_t d = fetch64(s + n - 16) * K0;
  return hash16(rotate(a - b, 43) + rotate(c ^ seed, 30) + d,
                a + rotate(b ^ K3, 20) - c + n + seed);
}

inline uint64_t hash33to64(const char *s, size_t n, uint64_t seed) {
  uint64_t z = fetch64(s + 24);
  uint64_t a = fetch64(s) + (n + fetch64(s + n - 16)) * K0;
  uint64_t b = rotate(a + z, 52);
  uint64_t c = rotate(a, 37);
  a += fetch64(s + 8);
  c += rotate(a, 7);
  a += fetch64(s + 16);
  uint64_t vf = a + z;
  uint64_t vs = b + rotate(a, 31) + c;
  a = fetch64(s + 16) + fetch64(s + n - 32);
  z = fetch64(s + n - 8);
  b = rotate(a + z, 52);
  c = rotate(a, 37);
  a += fetch64(s + n - 24);
  c += rotate(a, 7);
  a += fetch64(s + n - 16);
  uint64_t wf = a + z;
  uint64_t ws = b + rotate(a, 31) + c;
  uint64_t r = shiftMix((vf + ws) * K2 + (wf + vs) * K0);
  return shiftMix((seed ^ (r * K0)) + vs) * K2;
}

#define VORN_HASH_INLINE inline __attribute__((always_inline))

VORN_HASH_INLINE void mix32(const char *s, uint64_t &a, uint64_t &b) {
  a += fetch64(s);
  uint64_t c = fetch64(s + 24);
  b = rotate(b + a + c, 21);
  uint64_t d = a;
  a += fetch64(s + 8) + fetch64(s + 16);
  b += rotate(a, 44) + d;
  a += c;
}

// The library is position-independent code: calls to its exported functions could be interposed,
// so the compiler does not inline them. The work is done by these internal functions, which it
// does inline; the exported ones only forward to them.

uint32_t fixedSeed() {
  // The override is read once, inside the one-time initialisation: a later override is ignored.
  VORN_LAZY_STATIC(const uint32_t, seed, [] {
    uint32_t chosen = seedOverride.load(std::memory_order_relaxed);
    return chosen ? chosen : defaultSeed;
  }());
  return seed;
}

// The fixed seed, once known, for the hashing calls' fast path: a relaxed load and a test,
// without the one-time initialisation's guard and its slow path in every caller. 0 means "not
// fixed yet" (the seed itself is never 0).
std::atomic<uint32_t> publishedSeed{0};

__attribute__((noinline)) uint32_t publishSeed() {
  uint32_t seed = fixedSeed();
  publishedSeed.store(seed, std::memory_order_relaxed);
  return seed;
}

VORN_HASH_INLINE uint32_t currentSeed() {
  uint32_t seed = publishedSeed.load(std::memory_order_relaxed);
  return seed ? seed : publishSeed();
}

VORN_HASH_INLINE uint64_t shortHash(const char *s, size_t n, uint64_t seed) {
  if (n <= 16) {
    if (n > 8) return hash9to16(s, n, seed);
    if (n >= 4) return hash4to8(s, n, seed);
    return n ? hash1to3(s, n, seed) : K2 ^ seed;
  }
  return n <= 32 ? hash17to32(s, n, seed) : hash33to64(s, n, seed);
}

VORN_HASH_INLINE void mixState(detail::HashBlockState &st, const char *s) {
  uint64_t h0 = st.h0, h1 = st.h1, h2 = st.h2, h3 = st.h3, h4 = st.h4, h5 = st.h5, h6 = st.h6;
  h0 = rotate(h0 + h1 + h3 + fetch64(s + 8), 37) * K1;
  h1 = rotate(h1 + h4 + fetch64(s + 48), 42) * K1;
  h0 ^= h6;
  h1 += h3 + fetch64(s + 40);
  h2 = rotate(h2 + h5, 33) * K1;
  h3 = h4 * K1;
  h4 = h0 + h5;
  mix32(s, h3, h4);
  h5 = h2 + h6;
  h6 = h1 + fetch64(s + 16);
  mix32(s + 32, h5, h6);
  // h0 and h2 change places.
  st.h0 = h2;
  st.h1 = h1;
  st.h2 = h0;
  st.h3 = h3;
  st.h4 = h4;
  st.h5 = h5;
  st.h6 = h6;
}

VORN_HASH_INLINE void createState(detail::HashBlockState &st, const char *block, uint64_t seed) {
  st.h0 = 0;
  st.h1 = seed;
  st.h2 = hash16(seed, K1);
  st.h3 = rotate(seed ^ K1, 49);
  st.h4 = seed * K1;
  st.h5 = shiftMix(seed);
  st.h6 = hash16(st.h4, st.h5);
  mixState(st, block);
}

VORN_HASH_INLINE uint64_t finalizeState(const detail::HashBlockState &st, uint64_t length) {
  return hash16(hash16(st.h3, st.h5) + shiftMix(st.h1) * K1 + st.h2,
                hash16(st.h4, st.h6) + shiftMix(length) * K1 + st.h0);
}

// Inputs of more than 64 bytes; kept out of line so that short inputs pay nothing for it.
__attribute__((noinline)) uint64_t longHash(const char *first, size_t n, uint64_t seed) {
  detail::HashBlockState st;
  createState(st, first, seed);
  const char *end = first + (n & ~size_t(63));
  for (const char *p = first + 64; p != end; p += 64) mixState(st, p);
  if (n & 63) mixState(st, first + n - 64);
  return finalizeState(st, n);
}

} // namespace

void setHashSeedOverride(uint32_t value) { seedOverride.store(value, std::memory_order_relaxed); }

namespace detail {

uint32_t hashSeed() { return currentSeed(); }

uint64_t hashShort(const char *s, size_t n, uint64_t seed) { return shortHash(s, n, seed); }

HashBlockState HashBlockState::create(const char *block, uint64_t seed) {
  HashBlockState st;
  createState(st, block, seed);
  return st;
}

void HashBlockState::mix(const char *s) { mixState(*this, s); }

uint64_t HashBlockState::finalize(uint64_t length) const { return finalizeState(*this, length); }

void HashCombiner::addAcrossBlock(const char *data, size_t size) {
  size_t head = sizeof(buffer) - fill;
  std::memcpy(buffer + fill, data, head);
  if (count == 0)
    createState(state, buffer, seed);
  else
    mixState(state, buffer);
  count += sizeof(buffer);
  // The bytes after the rest keep the previous block's data: finish() needs them as the part of
  // the last 64 input bytes that came before the rest.
  std::memcpy(buffer, data + head, size - head);
  fill = size - head;
}

HashCode HashCombiner::finish() {
  if (count == 0) return HashCode(shortHash(buffer, fill, seed));
  // The last 64 bytes of the input, in input order: the older tail first, then the newest part.
  char last[sizeof(buffer)];
  std::memcpy(last, buffer + fill, sizeof(buffer) - fill);
  std::memcpy(last + (sizeof(buffer) - fill), buffer, fill);
  HashBlockState st = state;
  mixState(st, last);
  return HashCode(finalizeState(st, count + fill));
}

} // namespace detail

HashCode hashBytes(const char *first, const char *last) {
  size_t n = size_t(last - first);
  uint64_t seed = currentSeed();
  return HashCode(n <= 64 ? shortHash(first, n, seed) : longHash(first, n, seed));
}

} // namespace vorn
