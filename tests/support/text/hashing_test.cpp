// Hashing: a second implementation written here, byte by byte, from the construction's steps is
// the reference for every length and alignment; the published values and the seed's once-only
// fixing are checked in fresh helper processes (a forked child would inherit a fixed seed).

#include "support/text/Hashing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/TestSupport.h"

using namespace vorn;

namespace {

// ---------------------------------------------------------------------------------------------
// The reference: plain 64-bit arithmetic, explicit little-endian byte assembly, no shortcuts.

namespace ref {

const uint64_t K0 = 0xc3a5c85c97cb3127ULL, K1 = 0xb492b66fbe98f273ULL,
               K2 = 0x9ae16a3b2f90404fULL, K3 = 0xc949d7c7509e6557ULL,
               KM = 0x9ddfea08eb382d69ULL;

uint64_t le(const unsigned char *s, size_t i, int bytes) {
  uint64_t v = 0;
  for (int k = bytes - 1; k >= 0; --k) v = (v << 8) | s[i + size_t(k)];
  return v;
}
uint64_t f64(const unsigned char *s, size_t i) { return le(s, i, 8); }
uint64_t f32(const unsigned char *s, size_t i) { return le(s, i, 4); }

uint64_t rot(uint64_t v, uint64_t k) {
  k %= 64;
  if (k == 0) return v;
  return (v >> k) | (v << (64 - k));
}
uint64_t smix(uint64_t v) { return v ^ (v >> 47); }
uint64_t h16(uint64_t lo, uint64_t hi) {
  uint64_t a = smix((lo ^ hi) * KM);
  uint64_t b = smix((hi ^ a) * KM);
  return b * KM;
}

uint64_t shortHash(const unsigned char *s, uint64_t n, uint64_t seed) {
  if (n >= 4 && n <= 8) return h16(n + (f32(s, 0) << 3), seed ^ f32(s, n - 4));
  if (n >= 9 && n <= 16) {
    uint64_t b = f64(s, n - 8);
    return h16(seed ^ f64(s, 0), rot(b + n, n)) ^ b;
  }
  if (n >= 17 && n <= 32) {
    uint64_t a = f64(s, 0) * K1, b = f64(s, 8), c = f64(s, n - 8) * K2, d = f64(s, n - 16) * K0;
    return h16(rot(a - b, 43) + rot(c ^ seed, 30) + d, a + rot(b ^ K3, 20) - c + n + seed);
  }
  if (n >= 33 && n <= 64) {
    uint64_t vf, vs, wf, ws;
    {
      uint64_t z = f64(s, 24);
      uint64_t a = f64(s, 0) + (n + f64(s, n - 16)) * K0;
      uint64_t b = rot(a + z, 52), c = rot(a, 37);
      a += f64(s, 8);
      c += rot(a, 7);
      a += f64(s, 16);
      vf = a + z;
      vs = b + rot(a, 31) + c;
    }
    {
      uint64_t a = f64(s, 16) + f64(s, n - 32);
      uint64_t z = f64(s, n - 8);
      uint64_t b = rot(a + z, 52), c = rot(a, 37);
      a += f64(s, n - 24);
      c += rot(a, 7);
      a += f64(s, n - 16);
      wf = a + z;
      ws = b + rot(a, 31) + c;
    }
    uint64_t r = smix((vf + ws) * K2 + (wf + vs) * K0);
    return smix((seed ^ (r * K0)) + vs) * K2;
  }
  if (n >= 1 && n <= 3) {
    uint32_t y = uint32_t(s[0]) + (uint32_t(s[n / 2]) << 8);
    uint32_t z = uint32_t(n) + (uint32_t(s[n - 1]) << 2);
    return smix(uint64_t(y) * K2 ^ uint64_t(z) * K3 ^ seed) * K2;
  }
  return K2 ^ seed;
}

struct State {
  uint64_t h[7];
  void pairMix(const unsigned char *s, size_t i, uint64_t &a, uint64_t &b) {
    a += f64(s, i);
    uint64_t c = f64(s, i + 24);
    b = rot(b + a + c, 21);
    uint64_t d = a;
    a += f64(s, i + 8) + f64(s, i + 16);
    b += rot(a, 44) + d;
    a += c;
  }
  void mix(const unsigned char *s) {
    h[0] = rot(h[0] + h[1] + h[3] + f64(s, 8), 37) * K1;
    h[1] = rot(h[1] + h[4] + f64(s, 48), 42) * K1;
    h[0] ^= h[6];
    h[1] += h[3] + f64(s, 40);
    h[2] = rot(h[2] + h[5], 33) * K1;
    h[3] = h[4] * K1;
    h[4] = h[0] + h[5];
    pairMix(s, 0, h[3], h[4]);
    h[5] = h[2] + h[6];
    h[6] = h[1] + f64(s, 16);
    pairMix(s, 32, h[5], h[6]);
    std::swap(h[0], h[2]);
  }
  void create(const unsigned char *s, uint64_t seed) {
    h[0] = 0;
    h[1] = seed;
    h[2] = h16(seed, K1);
    h[3] = rot(seed ^ K1, 49);
    h[4] = seed * K1;
    h[5] = smix(seed);
    h[6] = h16(h[4], h[5]);
    mix(s);
  }
  uint64_t finish(uint64_t length) const {
    return h16(h16(h[3], h[5]) + smix(h[1]) * K1 + h[2],
               h16(h[4], h[6]) + smix(length) * K1 + h[0]);
  }
};

uint32_t hash(const void *data, size_t n, uint32_t seed) {
  const unsigned char *s = static_cast<const unsigned char *>(data);
  if (n <= 64) return uint32_t(shortHash(s, n, seed));
  State st;
  st.create(s, seed);
  size_t whole = n / 64 * 64;
  for (size_t at = 64; at < whole; at += 64) st.mix(s + at);
  if (n % 64 != 0) st.mix(s + n - 64);
  return uint32_t(st.finish(n));
}

} // namespace ref

const uint32_t kDefaultSeed = 0xed558ccd;

std::string hex8(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", unsigned(v));
  return text;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Runs the seed helper in a fresh process; its output lines.
std::vector<std::string> runSeedHelper(const std::vector<std::string> &args) {
  testsupport::ChildResult r = testsupport::runProgram(TEXT_HASH_SEED, args);
  EXPECT_EQ(r.status, 0) << r.err;
  return lines(r.out);
}

std::string counting200() {
  std::string s(200, '\0');
  for (int i = 0; i < 200; ++i) s[size_t(i)] = char(i);
  return s;
}

} // namespace

TEST(HashSeed, PublishedValuesWithTheDefaultSeed) {
  std::vector<std::string> out = runSeedHelper({});
  ASSERT_EQ(out.size(), 6u);
  EXPECT_EQ(out[0], hex8(kDefaultSeed));
  EXPECT_EQ(out[1], "c2c5cc82");
  EXPECT_EQ(out[2], "559fe1ee");
  EXPECT_EQ(out[3], "956e41ed");
  EXPECT_EQ(out[4], "d5403d7b");
  std::string c = counting200();
  EXPECT_EQ(out[5], hex8(ref::hash(c.data(), c.size(), kDefaultSeed)));
}

TEST(HashSeed, OverrideBeforeFirstUseIsThreadedThroughEveryPath) {
  std::vector<std::string> out = runSeedHelper({"--override", "12345678"});
  ASSERT_EQ(out.size(), 6u);
  EXPECT_EQ(out[0], "12345678");
  EXPECT_EQ(out[2], "f84fb329");
  const uint32_t seed = 0x12345678;
  std::string a64(64, 'a'), a65(65, 'a'), c = counting200();
  EXPECT_EQ(out[1], hex8(ref::hash("", 0, seed)));
  EXPECT_EQ(out[3], hex8(ref::hash(a64.data(), 64, seed)));
  EXPECT_EQ(out[4], hex8(ref::hash(a65.data(), 65, seed)));
  EXPECT_EQ(out[5], hex8(ref::hash(c.data(), c.size(), seed)));
}

TEST(HashSeed, OverrideAfterFirstUseChangesNothing) {
  std::vector<std::string> out = runSeedHelper({"--override-after", "12345678"});
  ASSERT_EQ(out.size(), 7u);
  EXPECT_EQ(out[0], hex8(ref::hash("first", 5, kDefaultSeed)));
  EXPECT_EQ(out[1], hex8(kDefaultSeed));
  EXPECT_EQ(out[3], "559fe1ee");
}

TEST(HashSeed, FirstUseFromEightThreadsFixesOneSeed) {
  // With an override, a thread that saw the seed before it was fixed would hash differently.
  for (int round = 0; round < 3; ++round) {
    std::vector<std::string> out = runSeedHelper({"--override", "12345678", "--threads", "8"});
    ASSERT_EQ(out.size(), 8u);
    for (const std::string &line : out) EXPECT_EQ(line, "12345678 f84fb329") << "round " << round;
  }
}

TEST(Hashing, EveryLengthAndAlignmentMatchesTheReference) {
  const uint32_t rngSeed = 7734;
  std::mt19937 rng(rngSeed);
  SCOPED_TRACE("random seed " + std::to_string(rngSeed));
  ASSERT_EQ(detail::hashSeed(), kDefaultSeed) << "nothing in this program sets an override";
  std::vector<unsigned char> bytes(300 + 8);
  for (unsigned char &b : bytes) b = static_cast<unsigned char>(rng());
  for (size_t align = 0; align < 8; ++align) {
    for (size_t n = 0; n <= 300; ++n) {
      const char *first = reinterpret_cast<const char *>(bytes.data()) + align;
      ASSERT_EQ(hashBytes(first, first + n), ref::hash(first, n, kDefaultSeed))
          << "length " << n << ", alignment " << align;
    }
  }
  // Longer inputs, where many whole blocks come before the overlapping last one.
  std::vector<unsigned char> big(5000);
  for (unsigned char &b : big) b = static_cast<unsigned char>(rng());
  for (size_t n : {511u, 512u, 513u, 4095u, 4096u, 4999u}) {
    const char *first = reinterpret_cast<const char *>(big.data()) + 1;
    EXPECT_EQ(hashBytes(first, first + n), ref::hash(first, n, kDefaultSeed)) << "length " << n;
  }
}

TEST(Hashing, ShortInputsUnderOtherSeeds) {
  const uint32_t rngSeed = 99;
  std::mt19937 rng(rngSeed);
  SCOPED_TRACE("random seed " + std::to_string(rngSeed));
  unsigned char bytes[64];
  for (int round = 0; round < 200; ++round) {
    for (unsigned char &b : bytes) b = static_cast<unsigned char>(rng());
    uint32_t seed = rng();
    for (size_t n = 0; n <= 64; ++n)
      ASSERT_EQ(uint32_t(detail::hashShort(reinterpret_cast<const char *>(bytes), n, seed)),
                uint32_t(ref::shortHash(bytes, n, seed)))
          << "length " << n << ", seed " << seed;
  }
}

TEST(Hashing, WordsAndTextAreTheirBytes) {
  uint32_t words[40];
  std::mt19937 rng(5);
  for (uint32_t &w : words) w = rng();
  for (size_t n = 0; n <= 40; ++n)
    EXPECT_EQ(hashWords(words, words + n), hashBytes(words, words + n)) << n;
  std::string text = "a text of some length, longer than one block of sixty-four bytes....";
  for (size_t n = 0; n <= text.size(); ++n)
    EXPECT_EQ(hashText(StrView(text.data(), uint32_t(n))), hashBytes(text.data(), text.data() + n));
  EXPECT_EQ(hashText(StrView()), hashText(""));
}

TEST(Hashing, CombineEqualsTheBytesOfItsValues) {
  // The published case: a 64-bit and two 32-bit values are hashed as their 16 bytes.
  uint64_t a = 0x0123456789abcdefULL;
  uint32_t b = 0xdeadbeef, c = 7;
  unsigned char bytes[16];
  std::memcpy(bytes, &a, 8);
  std::memcpy(bytes + 8, &b, 4);
  std::memcpy(bytes + 12, &c, 4);
  EXPECT_EQ(hashCombine(a, b, c), uint32_t(ref::shortHash(bytes, 16, kDefaultSeed)));
  EXPECT_EQ(hashCombine(), hashBytes(bytes, bytes));

  // Crossing block boundaries with values that straddle them: 17 values of 4 and 8 bytes.
  uint64_t q[9];
  uint32_t d[8];
  std::mt19937_64 rng(11);
  for (uint64_t &v : q) v = rng();
  for (uint32_t &v : d) v = uint32_t(rng());
  std::vector<unsigned char> all;
  auto put = [&all](const void *p, size_t n) {
    all.insert(all.end(), static_cast<const unsigned char *>(p),
               static_cast<const unsigned char *>(p) + n);
  };
  for (int i = 0; i < 8; ++i) {
    put(&q[i], 8);
    put(&d[i], 4);
  }
  put(&q[8], 8);
  EXPECT_EQ(hashCombine(q[0], d[0], q[1], d[1], q[2], d[2], q[3], d[3], q[4], d[4], q[5], d[5],
                        q[6], d[6], q[7], d[7], q[8]),
            ref::hash(all.data(), all.size(), kDefaultSeed));
}

TEST(Hashing, CombinerMatchesTheReferenceForRandomSequences) {
  const uint32_t rngSeed = 424242;
  std::mt19937 rng(rngSeed);
  SCOPED_TRACE("random seed " + std::to_string(rngSeed));
  for (int round = 0; round < 500; ++round) {
    detail::HashCombiner combiner;
    std::vector<unsigned char> all;
    size_t values = rng() % 60;
    for (size_t i = 0; i < values; ++i) {
      // Sizes up to the whole buffer, including exactly 64 bytes at odd fill positions.
      size_t size = (rng() % 4 == 0) ? 1 + rng() % 64 : (rng() % 2 ? 4 : 8);
      unsigned char value[64];
      for (size_t k = 0; k < size; ++k) value[k] = static_cast<unsigned char>(rng());
      combiner.add(value, size);
      all.insert(all.end(), value, value + size);
    }
    ASSERT_EQ(combiner.finish(), ref::hash(all.data(), all.size(), kDefaultSeed))
        << "round " << round << ", " << all.size() << " bytes";
  }
}
