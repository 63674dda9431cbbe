// The substring search behind StrView's find, rfind and count.
//
// find, rfind and count filter candidate positions by two bytes of the needle (its two least
// common ones in everyday text), 32 positions at a time with SSE2 (with AVX2 on longer texts where
// the processor has it), and compare the whole needle only where both bytes are in place. That
// keeps the scan near memory speed on text and on binary data alike, whatever the needle's
// length; a skip-table loop does one dependent load per step and stalls on short needles and on
// random bytes. A one-byte needle goes straight to memchr (memrchr). Where a long needle's bytes
// are mostly absent from the text, though, skip-table steps approach the needle's length and no
// scan of every position keeps up: find tries the skip table first for long needles and drops it
// as soon as its steps turn out short.
//
// A filter is only as good as its candidates: on repetitive text ("aaaa...", needle "aa...ba...a")
// nearly every position passes and each check compares most of the needle. The scan therefore
// counts the bytes its checks compare, and once they far exceed the bytes scanned it hands the
// rest of the text to the two-way search, whose time is linear whatever the text.
//
// Every path reports the same positions (the first match at or after `from`, the last match, or
// every match, overlapping ones included); only the speed differs.

#include "support/text/StrSearch.h"

#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vorn {

namespace {

// How common each byte is in everyday text, from 0 (rare) up. Only the order matters.
struct ByteRanks {
  unsigned char rank[256];
};

constexpr ByteRanks makeByteRanks() {
  ByteRanks t{};
  const char lettersByFrequency[] = "etaoinsrhldcumfpgwybvkxjqz";
  for (int i = 0; i < 26; ++i) {
    int lower = static_cast<unsigned char>(lettersByFrequency[i]);
    t.rank[lower] = static_cast<unsigned char>(230 - 4 * i);
    t.rank[lower - 'a' + 'A'] = static_cast<unsigned char>(110 - 2 * i);
  }
  for (int d = '0'; d <= '9'; ++d) t.rank[d] = 100;
  const char punctuation[] = ".,-'\"()/:;_=*<>!?#&[]{}+|\\%@$^`~";
  for (int i = 0; punctuation[i]; ++i)
    t.rank[static_cast<unsigned char>(punctuation[i])] = static_cast<unsigned char>(120 - i);
  t.rank[' '] = 255;
  t.rank['\0'] = 240; // padding and zero fields in binary data
  t.rank['\n'] = 150;
  t.rank['\t'] = 115;
  t.rank['\r'] = 80;
  t.rank[0xff] = 70;
  return t;
}

constexpr ByteRanks byteRanks = makeByteRanks();

inline const unsigned char *bytesOf(const char *p) { return reinterpret_cast<const unsigned char *>(p); }

// A needle of at least one byte and the two positions in it that the scans test first: the least
// common byte and, at another position, the next least common one (the same position twice only
// for a one-byte needle). Ties go to the first and the last position.
struct Needle {
  explicit Needle(StrView text) : bytes(bytesOf(text.data())), len(text.size()) {
    probeA = 0;
    for (uint32_t i = 1; i < len; ++i)
      if (byteRanks.rank[bytes[i]] < byteRanks.rank[bytes[probeA]]) probeA = i;
    probeB = probeA == len - 1 ? 0 : len - 1;
    for (uint32_t i = len; i-- > 0;)
      if (i != probeA && byteRanks.rank[bytes[i]] < byteRanks.rank[bytes[probeB]]) probeB = i;
  }
  StrView view() const { return StrView(reinterpret_cast<const char *>(bytes), len); }

  const unsigned char *bytes;
  uint32_t len;
  uint32_t probeA, probeB;
};

// The number of leading bytes that `a` and `b` share, at most `n`.
inline uint32_t commonPrefix(const unsigned char *a, const unsigned char *b, uint32_t n) {
  uint32_t i = 0;
#if defined(__SSE2__)
  for (; n - i >= 16; i += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i));
    __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i));
    unsigned differ = ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xffffu;
    if (differ) return i + unsigned(__builtin_ctz(differ));
  }
  // x86 is little-endian: the lowest differing bit lies in the first differing byte.
  for (; n - i >= 8; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return i + unsigned(__builtin_ctzll(x ^ y)) / 8;
  }
#endif
  for (; i < n; ++i)
    if (a[i] != b[i]) return i;
  return n;
}

// Whether candidate checks that compared `compared` bytes while the scan covered `scanned`
// positions have turned the search quadratic, so that the two-way search should take over.
inline bool overBudget(uint64_t compared, uint32_t scanned) {
  return compared > 8192 + 16 * uint64_t(scanned);
}

enum class Goal { firstMatch, everyMatch };

// Byte sequences for the two-way search: a text read forwards, or backwards from its end (so that
// the first match in the reversed text is the last match in the text).
struct Forwards {
  const unsigned char *p;
  unsigned char operator[](uint32_t i) const { return p[i]; }
};
struct Backwards {
  const unsigned char *end;
  unsigned char operator[](uint32_t i) const { return *(end - 1 - i); }
};

// The two-way string search (Crochemore and Perrin): constant extra space and at most about two
// comparisons per text byte, whatever the text. The needle is cut at a critical position; the right
// part is compared first, left to right, and a mismatch there moves the window past it; a match of
// the right part is completed by the left part, and then the window moves by the needle's period,
// remembering the part of the next window that is already known to match.
template <typename Bytes> class TwoWay {
public:
  TwoWay(Bytes needle, uint32_t n) : x(needle), n(n) {
    uint32_t splitLess, periodLess, splitGreater, periodGreater;
    maximalSuffix(false, splitLess, periodLess);
    maximalSuffix(true, splitGreater, periodGreater);
    // The later of the two maximal suffixes gives a critical factorisation.
    if (splitLess >= splitGreater) {
      split = splitLess;
      period = periodLess;
    } else {
      split = splitGreater;
      period = periodGreater;
    }
    bool periodic = true;
    for (uint32_t i = 0; i < split; ++i)
      if (x[i] != x[i + period]) {
        periodic = false;
        break;
      }
    if (periodic) {
      memoryAfterShift = n - period;
    } else {
      // No period short enough to be worth remembering: shift by a safe amount, forget.
      memoryAfterShift = 0;
      period = (split > n - split ? split : n - split) + 1;
    }
  }

  // The first match in text[0, size), or npos (firstMatch); the number of matches (everyMatch).
  // The caller guarantees size >= n.
  template <Goal goal> uint32_t search(Bytes text, uint32_t size) const {
    uint32_t hits = 0, pos = 0, memory = 0;
    const uint32_t last = size - n;
    while (pos <= last) {
      uint32_t i = split > memory ? split : memory;
      while (i < n && x[i] == text[pos + i]) ++i;
      if (i < n) {
        pos += i - split + 1;
        memory = 0;
        continue;
      }
      uint32_t j = split;
      while (j > memory && x[j - 1] == text[pos + j - 1]) --j;
      if (j <= memory) {
        if (goal == Goal::firstMatch) return pos;
        ++hits;
      }
      pos += period;
      memory = memoryAfterShift;
    }
    return goal == Goal::firstMatch ? StrView::npos : hits;
  }

private:
  // The start of the needle's lexicographically greatest suffix, under the byte order or its
  // reverse, and that suffix's period.
  void maximalSuffix(bool reverseOrder, uint32_t &start, uint32_t &suffixPeriod) const {
    int64_t best = -1; // the greatest suffix so far starts at best + 1
    uint32_t candidate = 0, k = 1, p = 1;
    while (candidate + k < n) {
      unsigned char a = x[uint32_t(best + k)], b = x[candidate + k];
      if (a == b) {
        if (k == p) {
          candidate += p;
          k = 1;
        } else {
          ++k;
        }
      } else if (reverseOrder ? a < b : a > b) {
        candidate += k;
        k = 1;
        p = uint32_t(candidate - best);
      } else {
        best = candidate++;
        k = p = 1;
      }
    }
    start = uint32_t(best + 1);
    suffixPeriod = p;
  }

  Bytes x;
  uint32_t n;
  uint32_t split;            // the critical position: x = x[0, split) x[split, n)
  uint32_t period;           // the shift after the right part matched
  uint32_t memoryAfterShift; // bytes of the next window known to match after that shift
};

template <Goal goal> uint32_t twoWayForwards(const unsigned char *text, uint32_t size, const Needle &needle) {
  TwoWay<Forwards> search(Forwards{needle.bytes}, needle.len);
  return search.search<goal>(Forwards{text}, size);
}

// The last match in text[0, size), or npos.
uint32_t twoWayLast(const unsigned char *text, uint32_t size, const Needle &needle) {
  TwoWay<Backwards> search(Backwards{needle.bytes + needle.len}, needle.len);
  uint32_t fromEnd = search.search<Goal::firstMatch>(Backwards{text + size}, size);
  return fromEnd == StrView::npos ? StrView::npos : size - fromEnd - needle.len;
}

#if defined(__SSE2__)
// The probe scans. Candidates come in blocks of 32 positions: bit i of a block mask is set when
// both probe bytes are in place for a match at the block's base + i. A scan reads
// text[q + probe, q + probe + 32) for a block at q, and only blocks whose 32 positions all exist
// (so never past the text); the one partial block at the far end is read as the last (first) 32
// positions and cut. The SSE2 kernels serve every x86 processor this is built for; the AVX2 ones,
// twice as wide, serve longer texts where the processor has AVX2.
struct ProbeScan {
  const unsigned char *atA, *atB; // the text, offset by each probe's position in the needle
  char wantA, wantB;              // the probe bytes
};

// Forward kernels: from `pos` (< limit, the number of positions, which is at least 32), the mask
// of the first block with a candidate, `pos` set to its base; 0 when none is left.
// Backward kernels: below `end` (> 0; limit at least 32), the mask of the last block with a
// candidate, `end` set to its base; 0 when none is left.
using ForwardKernel = uint32_t (*)(const ProbeScan &, uint32_t &pos, uint32_t limit);
using BackwardKernel = uint32_t (*)(const ProbeScan &, uint32_t &end);

inline __m128i loadSse2(const unsigned char *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

// Candidates among the 16 positions at q, as a vector of 0x00 / 0xff bytes.
inline __m128i candidatesSse2(const ProbeScan &s, __m128i a, __m128i b, uint32_t q) {
  return _mm_and_si128(_mm_cmpeq_epi8(loadSse2(s.atA + q), a), _mm_cmpeq_epi8(loadSse2(s.atB + q), b));
}

inline uint32_t blockSse2(const ProbeScan &s, __m128i a, __m128i b, uint32_t q) {
  return uint32_t(_mm_movemask_epi8(candidatesSse2(s, a, b, q))) |
         uint32_t(_mm_movemask_epi8(candidatesSse2(s, a, b, q + 16))) << 16;
}

uint32_t forwardSse2(const ProbeScan &s, uint32_t &pos, uint32_t limit) {
  const __m128i a = _mm_set1_epi8(s.wantA), b = _mm_set1_epi8(s.wantB);
  uint32_t p = pos;
  for (; limit - p >= 64; p += 64) {
    __m128i c0 = candidatesSse2(s, a, b, p), c1 = candidatesSse2(s, a, b, p + 16);
    __m128i c2 = candidatesSse2(s, a, b, p + 32), c3 = candidatesSse2(s, a, b, p + 48);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(c0, c1), _mm_or_si128(c2, c3)))) {
      uint32_t low = uint32_t(_mm_movemask_epi8(c0)) | uint32_t(_mm_movemask_epi8(c1)) << 16;
      pos = low ? p : p + 32;
      return low ? low : uint32_t(_mm_movemask_epi8(c2)) | uint32_t(_mm_movemask_epi8(c3)) << 16;
    }
  }
  for (; limit - p >= 32; p += 32)
    if (uint32_t mask = blockSse2(s, a, b, p)) {
      pos = p;
      return mask;
    }
  pos = p;
  return p < limit ? blockSse2(s, a, b, limit - 32) >> (32 - (limit - p)) : 0;
}

uint32_t backwardSse2(const ProbeScan &s, uint32_t &end) {
  const __m128i a = _mm_set1_epi8(s.wantA), b = _mm_set1_epi8(s.wantB);
  uint32_t e = end;
  for (; e >= 64; e -= 64) {
    __m128i c0 = candidatesSse2(s, a, b, e - 64), c1 = candidatesSse2(s, a, b, e - 48);
    __m128i c2 = candidatesSse2(s, a, b, e - 32), c3 = candidatesSse2(s, a, b, e - 16);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(c0, c1), _mm_or_si128(c2, c3)))) {
      uint32_t high = uint32_t(_mm_movemask_epi8(c2)) | uint32_t(_mm_movemask_epi8(c3)) << 16;
      end = high ? e - 32 : e - 64;
      return high ? high : uint32_t(_mm_movemask_epi8(c0)) | uint32_t(_mm_movemask_epi8(c1)) << 16;
    }
  }
  for (; e >= 32; e -= 32)
    if (uint32_t mask = blockSse2(s, a, b, e - 32)) {
      end = e - 32;
      return mask;
    }
  end = 0;
  return e > 0 ? blockSse2(s, a, b, 0) & ((uint32_t(1) << e) - 1) : 0;
}

// Compiled for AVX2 whatever the build's target; called only when the processor has it.
#define VORN_AVX2 __attribute__((target("avx2")))

VORN_AVX2 inline __m256i candidatesAvx2(const ProbeScan &s, __m256i a, __m256i b, uint32_t q) {
  __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s.atA + q));
  __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s.atB + q));
  return _mm256_and_si256(_mm256_cmpeq_epi8(x, a), _mm256_cmpeq_epi8(y, b));
}

VORN_AVX2 inline uint32_t maskAvx2(__m256i c) { return uint32_t(_mm256_movemask_epi8(c)); }

VORN_AVX2 uint32_t forwardAvx2(const ProbeScan &s, uint32_t &pos, uint32_t limit) {
  const __m256i a = _mm256_set1_epi8(s.wantA), b = _mm256_set1_epi8(s.wantB);
  uint32_t p = pos;
  for (; limit - p >= 64; p += 64) {
    __m256i c0 = candidatesAvx2(s, a, b, p), c1 = candidatesAvx2(s, a, b, p + 32);
    if (!_mm256_testz_si256(_mm256_or_si256(c0, c1), _mm256_or_si256(c0, c1))) {
      uint32_t low = maskAvx2(c0);
      pos = low ? p : p + 32;
      return low ? low : maskAvx2(c1);
    }
  }
  if (limit - p >= 32) {
    if (uint32_t mask = maskAvx2(candidatesAvx2(s, a, b, p))) {
      pos = p;
      return mask;
    }
    p += 32;
  }
  pos = p;
  return p < limit ? maskAvx2(candidatesAvx2(s, a, b, limit - 32)) >> (32 - (limit - p)) : 0;
}

VORN_AVX2 uint32_t backwardAvx2(const ProbeScan &s, uint32_t &end) {
  const __m256i a = _mm256_set1_epi8(s.wantA), b = _mm256_set1_epi8(s.wantB);
  uint32_t e = end;
  for (; e >= 64; e -= 64) {
    __m256i c0 = candidatesAvx2(s, a, b, e - 64), c1 = candidatesAvx2(s, a, b, e - 32);
    if (!_mm256_testz_si256(_mm256_or_si256(c0, c1), _mm256_or_si256(c0, c1))) {
      uint32_t high = maskAvx2(c1);
      end = high ? e - 32 : e - 64;
      return high ? high : maskAvx2(c0);
    }
  }
  if (e >= 32) {
    if (uint32_t mask = maskAvx2(candidatesAvx2(s, a, b, e - 32))) {
      end = e - 32;
      return mask;
    }
    e -= 32;
  }
  end = 0;
  return e > 0 ? maskAvx2(candidatesAvx2(s, a, b, 0)) & ((uint32_t(1) << e) - 1) : 0;
}

#undef VORN_AVX2

bool haveAvx2() {
  static const bool have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return have;
}

// Below this many positions a scan is too short for the wider kernels to pay (and the first AVX2
// instructions after a pause may run slowly while the processor powers up its wide units).
const uint32_t widePositions = 256;

ForwardKernel forwardKernel(uint32_t positions) {
  return positions >= widePositions && haveAvx2() ? forwardAvx2 : forwardSse2;
}
BackwardKernel backwardKernel(uint32_t positions) {
  return positions >= widePositions && haveAvx2() ? backwardAvx2 : backwardSse2;
}
#endif

// Searches over fewer than this many positions (text length - needle length + 1) take the needle's
// first byte from memchr (memrchr) and compare the rest: setting up a probe scan would cost about
// as much as the whole search. The probe scans rely on it, as their blocks cover 32 positions.
const uint32_t fewPositions = 64;

// The first match in text[0, size) (firstMatch, or npos), or the number of matches
// (everyMatch). The caller guarantees 1 <= needle.len and at least fewPositions positions.
template <Goal goal> uint32_t searchForwards(const unsigned char *text, uint32_t size, const Needle &needle) {
  const uint32_t n = needle.len;
  const uint32_t positions = size - n + 1;
  uint32_t hits = 0;
  uint64_t compared = 0;
  // Hands the positions from `p` on to the two-way search.
  auto giveUp = [&](uint32_t p) -> uint32_t {
    uint32_t rest = twoWayForwards<goal>(text + p, size - p, needle);
    if (goal == Goal::everyMatch) return hits + rest;
    return rest == StrView::npos ? rest : p + rest;
  };
  // Whether the candidate at `p` (probe bytes in place) is a match.
  auto matches = [&](uint32_t p) -> bool {
    if (n <= 2) return true; // the probes are the whole needle
    uint32_t same = commonPrefix(text + p, needle.bytes, n);
    compared += same + 1;
    return same == n;
  };

#if defined(__SSE2__)
  {
    const ProbeScan scan{text + needle.probeA, text + needle.probeB,
                         static_cast<char>(needle.bytes[needle.probeA]),
                         static_cast<char>(needle.bytes[needle.probeB])};
    const ForwardKernel next = forwardKernel(positions);
    for (uint32_t p = 0;;) {
      uint32_t mask = next(scan, p, positions);
      if (!mask) break;
      if (n <= 2 && goal == Goal::everyMatch) {
        hits += uint32_t(__builtin_popcount(mask));
      } else {
        if (overBudget(compared, p)) return giveUp(p);
        do {
          uint32_t at = p + uint32_t(__builtin_ctz(mask));
          mask &= mask - 1;
          if (matches(at)) {
            if (goal == Goal::firstMatch) return at;
            ++hits;
          }
        } while (mask);
      }
      if (positions - p <= 32) break;
      p += 32;
    }
    return goal == Goal::firstMatch ? StrView::npos : hits;
  }
#else
  // memchr finds the next place of the rarer probe byte.
  const unsigned char *atA = text + needle.probeA;
  const unsigned char wantA = needle.bytes[needle.probeA], wantB = needle.bytes[needle.probeB];
  for (uint32_t p = 0; p < positions; ++p) {
    const void *hit = std::memchr(atA + p, wantA, positions - p);
    if (!hit) break;
    p = uint32_t(static_cast<const unsigned char *>(hit) - atA);
    if (text[p + needle.probeB] != wantB) continue;
    if (overBudget(compared, p)) return giveUp(p);
    if (matches(p)) {
      if (goal == Goal::firstMatch) return p;
      ++hits;
    }
  }
  return goal == Goal::firstMatch ? StrView::npos : hits;
#endif
}

// The last match in text[0, size), or npos. The caller guarantees 2 <= needle.len and at least
// fewPositions positions.
uint32_t searchBackwards(const unsigned char *text, uint32_t size, const Needle &needle) {
  const uint32_t n = needle.len;
  const uint32_t positions = size - n + 1;
  uint64_t compared = 0;
  auto matches = [&](uint32_t p) -> bool {
    if (n <= 2) return true;
    uint32_t same = commonPrefix(text + p, needle.bytes, n);
    compared += same + 1;
    return same == n;
  };
  // With the positions from `end` on done, the two-way search takes text[0, end + n - 1).
  auto giveUp = [&](uint32_t end) -> uint32_t { return twoWayLast(text, end + n - 1, needle); };

#if defined(__SSE2__)
  {
    const ProbeScan scan{text + needle.probeA, text + needle.probeB,
                         static_cast<char>(needle.bytes[needle.probeA]),
                         static_cast<char>(needle.bytes[needle.probeB])};
    const BackwardKernel previous = backwardKernel(positions);
    for (uint32_t end = positions; end > 0;) {
      const uint32_t top = end;
      uint32_t mask = previous(scan, end);
      if (!mask) break;
      if (overBudget(compared, positions - top)) return giveUp(end + 32 < top ? end + 32 : top);
      do {
        uint32_t bit = 31 - uint32_t(__builtin_clz(mask));
        mask &= ~(uint32_t(1) << bit);
        if (matches(end + bit)) return end + bit;
      } while (mask);
    }
    return StrView::npos;
  }
#else
  const unsigned char *atA = text + needle.probeA;
  const unsigned char wantA = needle.bytes[needle.probeA], wantB = needle.bytes[needle.probeB];
  for (uint32_t end = positions; end > 0;) {
    const void *hit = memrchr(atA, wantA, end);
    if (!hit) break;
    uint32_t p = uint32_t(static_cast<const unsigned char *>(hit) - atA);
    if (text[p + needle.probeB] == wantB) {
      if (overBudget(compared, positions - end)) return giveUp(end);
      if (matches(p)) return p;
    }
    end = p;
  }
  return StrView::npos;
#endif
}

// The first match in text[0, size) (or npos), or the number of matches, over fewer than
// fewPositions positions. The caller guarantees 1 <= needle.len <= size.
template <Goal goal> uint32_t shortSearchForwards(const unsigned char *text, uint32_t size, StrView needle) {
  const unsigned char *x = bytesOf(needle.data());
  const uint32_t n = needle.size(), positions = size - n + 1;
  uint32_t hits = 0;
  for (uint32_t p = 0; p < positions; ++p) {
    const void *hit = std::memchr(text + p, x[0], positions - p);
    if (!hit) break;
    p = uint32_t(static_cast<const unsigned char *>(hit) - text);
    if (std::memcmp(text + p + 1, x + 1, n - 1) == 0) {
      if (goal == Goal::firstMatch) return p;
      ++hits;
    }
  }
  return goal == Goal::firstMatch ? StrView::npos : hits;
}

// The last match in text[0, size), or npos, over fewer than fewPositions positions. The caller
// guarantees 1 <= needle.len <= size.
uint32_t shortSearchBackwards(const unsigned char *text, uint32_t size, StrView needle) {
  const unsigned char *x = bytesOf(needle.data());
  const uint32_t n = needle.size();
  for (uint32_t end = size - n + 1; end > 0;) {
    const void *hit = memrchr(text, x[0], end);
    if (!hit) break;
    uint32_t p = uint32_t(static_cast<const unsigned char *>(hit) - text);
    if (std::memcmp(text + p + 1, x + 1, n - 1) == 0) return p;
    end = p;
  }
  return StrView::npos;
}

// How far, on average, the skip-table search must move per step to beat the probe scan over
// `positions` positions; each step is a chain of dependent loads, while the probe scan runs at
// about a byte per cycle per vector lane.
uint32_t skipTableMinimumStep(uint32_t positions) {
#if defined(__SSE2__)
  return forwardKernel(positions) == forwardAvx2 ? 192 : 96;
#else
  (void)positions;
  return 16;
#endif
}

// Boyer-Moore-Horspool with a 256-entry table of byte skips, for a needle of at most 255 bytes:
// the window moves so that its last byte lines up with that byte's last occurrence in the needle
// (its final byte not counted), or past it. On text that lacks most of a long needle's bytes the
// steps come close to the needle's length, and no scan that looks at every position keeps up.
// Steps are short on most text, though, so the search gives up after any 16 steps that moved
// less than `minimumStep` bytes on average. Returns true with the first match (or npos) in `at`
// when it settled the search; false when it gave up, with every position below `at` ruled out.
bool skipTableFind(const unsigned char *text, uint32_t size, const Needle &needle, uint32_t minimumStep,
                   uint32_t &at) {
  const uint32_t n = needle.len;
  unsigned char skip[256];
  std::memset(skip, static_cast<int>(n), sizeof skip);
  for (uint32_t i = 0; i + 1 < n; ++i) skip[needle.bytes[i]] = static_cast<unsigned char>(n - 1 - i);
  // The loop follows the window's last byte rather than its start: the next load then depends on
  // one addition only, and that chain of loads is what bounds the speed.
  const unsigned char last = needle.bytes[n - 1];
  const unsigned char *tail = text + (n - 1);
  uint32_t remaining = size, checkpoint = size, steps = 0;
  for (;;) {
    unsigned char c = *tail;
    if (c == last && std::memcmp(tail - (n - 1), needle.bytes, n - 1) == 0) {
      at = uint32_t(tail - (n - 1) - text);
      return true;
    }
    uint32_t step = skip[c];
    remaining -= step;
    if (remaining < n) break; // never step the pointer past the end
    tail += step;
    if (++steps == 16) {
      if (checkpoint - remaining < 16 * minimumStep) {
        at = size - remaining;
        return false;
      }
      steps = 0;
      checkpoint = remaining;
    }
  }
  at = StrView::npos;
  return true;
}

// The first match in text[0, size), or npos. The caller guarantees 2 <= needle.len and at least
// fewPositions positions.
uint32_t findFirst(const unsigned char *text, uint32_t size, const Needle &needle) {
  const uint32_t minimumStep = skipTableMinimumStep(size - needle.len + 1);
  uint32_t from = 0;
  if (needle.len > minimumStep && needle.len <= 255) {
    if (skipTableFind(text, size, needle, minimumStep, from)) return from;
  }
  uint32_t at = size - from - needle.len + 1 < fewPositions
                    ? shortSearchForwards<Goal::firstMatch>(text + from, size - from, needle.view())
                    : searchForwards<Goal::firstMatch>(text + from, size - from, needle);
  return at == StrView::npos ? at : from + at;
}

} // namespace

namespace detail {

uint32_t findFirstMatch(StrView text, StrView needle) {
  const unsigned char *bytes = bytesOf(text.data());
  const uint32_t size = text.size();
  if (size - needle.size() + 1 < fewPositions) return shortSearchForwards<Goal::firstMatch>(bytes, size, needle);
  return findFirst(bytes, size, Needle(needle));
}

uint32_t findLastMatch(StrView text, StrView needle) {
  const unsigned char *bytes = bytesOf(text.data());
  const uint32_t size = text.size();
  if (size - needle.size() + 1 < fewPositions) return shortSearchBackwards(bytes, size, needle);
  return searchBackwards(bytes, size, Needle(needle));
}

uint32_t countMatches(StrView text, StrView needle) {
  const unsigned char *bytes = bytesOf(text.data());
  const uint32_t size = text.size();
  if (size - needle.size() + 1 < fewPositions) return shortSearchForwards<Goal::everyMatch>(bytes, size, needle);
  return searchForwards<Goal::everyMatch>(bytes, size, Needle(needle));
}

// memchr is fastest while the bytes are rare; once they turn out to be common, counting whole
// blocks at a time is.
uint32_t countByte(StrView view, unsigned char c) {
  const unsigned char *text = bytesOf(view.data());
  const uint32_t size = view.size();
  uint32_t hits = 0;
  for (uint32_t p = 0; p < size; ++p) {
    const void *hit = std::memchr(text + p, c, size - p);
    if (!hit) break;
    p = uint32_t(static_cast<const unsigned char *>(hit) - text);
    ++hits;
#if defined(__SSE2__)
    if (hits >= 16 && uint64_t(hits) * 256 > p && size - p > 32) {
      Needle one(StrView(reinterpret_cast<const char *>(&c), 1));
      return hits + searchForwards<Goal::everyMatch>(text + p + 1, size - p - 1, one);
    }
#endif
  }
  return hits;
}

} // namespace detail

} // namespace vorn
