#ifndef VORN_SUPPORT_TEXT_HASHING_H
#define VORN_SUPPORT_TEXT_HASHING_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "support/text/StrView.h"

// Hashing of byte ranges, word arrays, texts and short sequences of fixed-size values, seeded
// with one process-wide seed. The construction works on 64-bit values and hands back the low 32
// bits. Nothing allocates, inputs are read in place (no alignment needed), and every routine may
// run on any thread at once.

namespace vorn {

// The result of the hashing routines.
using HashCode = uint32_t;

// Sets the value the process-wide seed takes when it is fixed, at the first hashing call of the
// process; 0 (the initial value) stands for the default seed. Has no effect once the seed is
// fixed, so a caller that wants it must call it before anything hashes.
void setHashSeedOverride(uint32_t value);

namespace detail {

// The process-wide seed: fixed once, at the first call, from the override (when non-zero) or the
// default; later calls return the same value. Safe when several threads make the first call.
uint32_t hashSeed();

// The 64-bit hash of `n` <= 64 bytes at `s` under `seed`.
uint64_t hashShort(const char *s, size_t n, uint64_t seed);

// The running state over 64-byte blocks.
struct HashBlockState {
  uint64_t h0, h1, h2, h3, h4, h5, h6;

  // The state after the first 64-byte block at `block`.
  static HashBlockState create(const char *block, uint64_t seed);
  // Mixes in the 64 bytes at `block`.
  void mix(const char *block);
  // The 64-bit hash of an input of `length` bytes whose blocks have all been mixed in.
  uint64_t finalize(uint64_t length) const;
};

// Collects the bytes of hashCombine's values 64 at a time.
class HashCombiner {
public:
  HashCombiner() : seed(hashSeed()) {}
  // Adds the `size` <= 64 bytes at `data`.
  void add(const void *data, size_t size) {
    if (size <= sizeof(buffer) - fill) {
      std::memcpy(buffer + fill, data, size);
      fill += size;
    } else {
      addAcrossBlock(static_cast<const char *>(data), size);
    }
  }
  // The hash of everything added.
  HashCode finish();

private:
  void addAcrossBlock(const char *data, size_t size);

  char buffer[64];
  size_t fill = 0;    // bytes of `buffer` holding the current block's data
  uint64_t count = 0; // bytes already mixed into `state`, a multiple of 64
  uint64_t seed;
  HashBlockState state;
};

} // namespace detail

// The hash of the bytes in [first, last); `first` <= `last`, both in one object.
HashCode hashBytes(const char *first, const char *last);
inline HashCode hashBytes(const void *first, const void *last) {
  return hashBytes(static_cast<const char *>(first), static_cast<const char *>(last));
}

// The hash of the 32-bit words in [first, last): hashBytes over their bytes in memory order.
inline HashCode hashWords(const uint32_t *first, const uint32_t *last) {
  return hashBytes(reinterpret_cast<const char *>(first), reinterpret_cast<const char *>(last));
}

// The hash of a text's bytes.
inline HashCode hashText(StrView text) { return hashBytes(text.begin(), text.end()); }

// The hash of a sequence of fixed-size values (integers, usually), taken as their bytes in memory
// order one after another: hashCombine(a, b) equals hashBytes over a's bytes followed by b's.
template <typename... Ts> HashCode hashCombine(const Ts &...values) {
  static_assert((std::is_trivially_copyable<Ts>::value && ...),
                "hashCombine takes values whose bytes are their meaning");
  static_assert(((sizeof(Ts) <= 64) && ...), "hashCombine takes values of at most 64 bytes");
  detail::HashCombiner combiner;
  (combiner.add(&values, sizeof(Ts)), ...);
  return combiner.finish();
}

} // namespace vorn

#endif
