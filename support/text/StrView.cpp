#include "support/text/StrView.h"

#include <cstdlib>
#include <cstring>

#include "support/runtime/Allocation.h"
#include "support/text/StrSearch.h"

namespace vorn {

namespace {

inline unsigned char lowerByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}
inline unsigned char upperByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// -1, 0 or 1 over `n` bytes, ASCII letters folded to lower case.
int compareLowered(const char *a, const char *b, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    unsigned char x = lowerByte(static_cast<unsigned char>(a[i]));
    unsigned char y = lowerByte(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// A 256-bit membership table of the bytes of a set.
class ByteSet {
public:
  explicit ByteSet(StrView set) {
    for (uint32_t i = 0; i < 8; ++i) bits[i] = 0;
    for (uint32_t i = 0; i < set.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(set[i]);
      bits[c >> 5] |= uint32_t(1) << (c & 31);
    }
  }
  bool contains(char ch) const {
    unsigned char c = static_cast<unsigned char>(ch);
    return (bits[c >> 5] >> (c & 31)) & 1;
  }

private:
  uint32_t bits[8];
};

} // namespace

int StrView::compareIgnoringCase(StrView other) const {
  uint32_t n = len < other.len ? len : other.len;
  if (int c = compareLowered(ptr, other.ptr, n)) return c;
  return len == other.len ? 0 : (len < other.len ? -1 : 1);
}

bool StrView::hasPrefixIgnoringCase(StrView other) const {
  return len >= other.len && compareLowered(ptr, other.ptr, other.len) == 0;
}

bool StrView::hasSuffixIgnoringCase(StrView other) const {
  return len >= other.len && compareLowered(ptr + (len - other.len), other.ptr, other.len) == 0;
}

int StrView::compareWithNumbers(StrView other) const {
  uint32_t shorter = len < other.len ? len : other.len;
  for (uint32_t i = 0; i < shorter; ++i) {
    if (isDigit(ptr[i]) && isDigit(other.ptr[i])) {
      // Both digit runs start here (everything before is equal); find where either ends. The
      // run that goes on further is the larger number.
      uint32_t j = i + 1;
      for (; j <= shorter; ++j) {
        bool leftDigit = j < len && isDigit(ptr[j]);
        bool rightDigit = j < other.len && isDigit(other.ptr[j]);
        if (leftDigit != rightDigit) return rightDigit ? -1 : 1;
        if (!rightDigit) break;
      }
      // Same-length runs order like their digits.
      int c = std::memcmp(ptr + i, other.ptr + i, j - i);
      if (c) return c < 0 ? -1 : 1;
      i = j - 1;
      continue;
    }
    if (ptr[i] != other.ptr[i])
      return static_cast<unsigned char>(ptr[i]) < static_cast<unsigned char>(other.ptr[i]) ? -1 : 1;
  }
  return len == other.len ? 0 : (len < other.len ? -1 : 1);
}

// ---------------------------------------------------------------------------------------------
// Substring search
//
// find, rfind and count settle the empty needle, the needle longer than the text and the
// one-byte needle (but for count) here, and leave the rest to the search in StrSearch.cpp.

uint32_t StrView::find(StrView needle, uint32_t from) const {
  const uint32_t n = needle.len;
  if (n > len) return npos;
  if (from > len) from = len;
  if (n == 0) return from;
  if (len - from < n) return npos;
  if (n == 1) return find(needle.ptr[0], from);
  uint32_t at = detail::findFirstMatch(StrView(ptr + from, len - from), needle);
  return at == npos ? npos : from + at;
}

uint32_t StrView::rfind(StrView needle) const {
  const uint32_t n = needle.len;
  if (n > len) return npos;
  if (n == 0) return len;
  if (n == 1) {
    const void *hit = memrchr(ptr, static_cast<unsigned char>(needle.ptr[0]), len);
    return hit ? uint32_t(static_cast<const char *>(hit) - ptr) : npos;
  }
  return detail::findLastMatch(*this, needle);
}

uint32_t StrView::count(StrView needle) const {
  const uint32_t n = needle.len;
  if (n > len) return 0;
  if (n == 0) return len + 1;
  if (n == 1) return detail::countByte(*this, static_cast<unsigned char>(needle.ptr[0]));
  return detail::countMatches(*this, needle);
}

uint32_t StrView::findFirstOf(StrView set, uint32_t from) const {
  ByteSet table(set);
  for (uint32_t i = from; i < len; ++i)
    if (table.contains(ptr[i])) return i;
  return npos;
}

uint32_t StrView::findFirstNotOf(StrView set, uint32_t from) const {
  ByteSet table(set);
  for (uint32_t i = from; i < len; ++i)
    if (!table.contains(ptr[i])) return i;
  return npos;
}

uint32_t StrView::findFirstNotOf(char c, uint32_t from) const {
  for (uint32_t i = from; i < len; ++i)
    if (ptr[i] != c) return i;
  return npos;
}

uint32_t StrView::findLastOf(StrView set, uint32_t from) const {
  ByteSet table(set);
  for (uint32_t i = from < len ? from : len; i > 0; --i)
    if (table.contains(ptr[i - 1])) return i - 1;
  return npos;
}

uint32_t StrView::findLastNotOf(StrView set, uint32_t from) const {
  ByteSet table(set);
  for (uint32_t i = from < len ? from : len; i > 0; --i)
    if (!table.contains(ptr[i - 1])) return i - 1;
  return npos;
}

uint32_t StrView::findLastNotOf(char c, uint32_t from) const {
  for (uint32_t i = from < len ? from : len; i > 0; --i)
    if (ptr[i - 1] != c) return i - 1;
  return npos;
}

std::string StrView::toLowerCopy() const {
  std::string out(len, '\0');
  for (uint32_t i = 0; i < len; ++i)
    out[i] = static_cast<char>(lowerByte(static_cast<unsigned char>(ptr[i])));
  return out;
}

std::string StrView::toUpperCopy() const {
  std::string out(len, '\0');
  for (uint32_t i = 0; i < len; ++i)
    out[i] = static_cast<char>(upperByte(static_cast<unsigned char>(ptr[i])));
  return out;
}

std::pair<StrView, StrView> StrView::split(StrView separator) const {
  uint32_t at = find(separator);
  if (at == npos) return std::make_pair(*this, StrView());
  return std::make_pair(StrView(ptr, at),
                        StrView(ptr + at + separator.len, len - at - separator.len));
}

void StrView::splitInto(StrView separator, int maxSplits, bool keepEmptyPieces,
                        void (*add)(void *, StrView), void *out) const {
  StrView remaining = *this;
  if (remaining.isNull()) return;
  // An empty separator would match at the front forever without consuming anything.
  if (!separator.empty()) {
    for (int splits = 0; !remaining.isNull() && (maxSplits < 0 || splits < maxSplits); ++splits) {
      std::pair<StrView, StrView> pieces = remaining.split(separator);
      if (keepEmptyPieces || !pieces.first.empty()) add(out, pieces.first);
      remaining = pieces.second;
    }
  }
  if (!remaining.isNull() && (keepEmptyPieces || !remaining.empty())) add(out, remaining);
}

uint32_t StrView::levenshteinDistance(StrView other, bool withSubstitutions,
                                      uint32_t distanceLimit) const {
  const uint32_t m = len;
  const size_t n = other.len;
  // Two rows of n + 1 counters, on the stack while they fit in 64.
  uint32_t local[64];
  uint32_t *heap = nullptr;
  uint32_t *rows = local;
  if (2 * (n + 1) > 64) rows = heap = static_cast<uint32_t *>(safeMalloc(2 * (n + 1) * sizeof(uint32_t)));
  uint32_t *previous = rows;
  uint32_t *current = rows + (n + 1);

  for (size_t x = 0; x <= n; ++x) previous[x] = uint32_t(x);
  for (uint32_t y = 1; y <= m; ++y) {
    current[0] = y;
    uint32_t best = y;
    const char mine = ptr[y - 1];
    for (size_t x = 1; x <= n; ++x) {
      uint32_t diagonal = previous[x - 1];
      uint32_t nearer = previous[x] < current[x - 1] ? previous[x] : current[x - 1];
      uint32_t cell;
      if (withSubstitutions) {
        uint32_t viaDiagonal = diagonal + (mine == other.ptr[x - 1] ? 0 : 1);
        cell = viaDiagonal < nearer + 1 ? viaDiagonal : nearer + 1;
      } else {
        cell = mine == other.ptr[x - 1] ? diagonal : nearer + 1;
      }
      current[x] = cell;
      if (cell < best) best = cell;
    }
    // Row minima never decrease, so once the whole row is past the limit the answer is too.
    if (distanceLimit != 0 && best > distanceLimit) {
      std::free(heap);
      return distanceLimit + 1;
    }
    uint32_t *t = previous;
    previous = current;
    current = t;
  }
  uint32_t result = previous[n];
  std::free(heap);
  return result;
}

unsigned detectRadix(StrView &text) {
  if (text.size() >= 2 && text[0] == '0') {
    char marker = text[1];
    unsigned radix = marker == 'x' ? 16 : marker == 'b' ? 2 : marker == 'o' ? 8 : 0;
    if (radix) {
      text = text.dropFront(2);
      return radix;
    }
  }
  if (!text.empty() && text[0] == '0') return 8;
  return 10;
}

bool parseUnsigned(StrView text, unsigned radix, uint64_t &result) {
  if (radix == 0) radix = detectRadix(text);
  if (radix < 2 || radix > 36) return true;
  if (text.empty()) return true;
  result = 0;
  for (uint32_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = unsigned(c - '0');
    else if (c >= 'a' && c <= 'z')
      digit = unsigned(c - 'a') + 10;
    else if (c >= 'A' && c <= 'Z')
      digit = unsigned(c - 'A') + 10;
    else
      return true;
    if (digit >= radix) return true;
    uint64_t previous = result;
    result = result * radix + digit;
    // With digit < radix the wrapped product divided back is always below the old value.
    if (result / radix < previous) return true;
  }
  return false;
}

bool parseSigned(StrView text, unsigned radix, int64_t &result) {
  const uint64_t signBit = uint64_t(1) << 63;
  uint64_t magnitude;
  if (text.empty() || text[0] != '-') {
    if (parseUnsigned(text, radix, magnitude) || (magnitude & signBit)) return true;
    result = int64_t(magnitude);
    return false;
  }
  if (parseUnsigned(text.dropFront(1), radix, magnitude) || magnitude > signBit) return true;
  // -2^63 has no positive counterpart, so negate through the unsigned value.
  result = magnitude == signBit ? INT64_MIN : -int64_t(magnitude);
  return false;
}

} // namespace vorn
