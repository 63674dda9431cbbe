#ifndef VORN_SUPPORT_TEXT_STRVIEW_H
#define VORN_SUPPORT_TEXT_STRVIEW_H

#include "support/runtime/Checks.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace vorn {

template <typename T, unsigned N> class InlineVector;

// A non-owning view of bytes: a pointer and an unsigned 32-bit length. A null view (null pointer,
// length 0) is distinct from a non-null empty view; only isNull() tells them apart, equality does
// not. The viewed bytes must outlive the view.
//
// Lengths are 32 bits wide on every target: a view of a text of 4 GiB or more cannot exist. The
// constructors from a C string and from a standard string check this in builds with assertions
// (the program stops, naming the constructor); on a 64-bit target in a release build such a text
// would be cut, so callers that may meet one must check its size first.
class StrView {
public:
  // "Not found", or "up to the end" where a length is expected.
  static constexpr uint32_t npos = ~uint32_t(0);

  // The null view.
  constexpr StrView() : ptr(nullptr), len(0) {}
  // A view of a NUL-terminated text; a null pointer gives the null view.
  StrView(const char *text)
      : ptr(text), len(text ? checkedLength(std::strlen(text), "StrView(const char *)") : 0) {}
  // A view of `length` bytes at `data`; `data` may be null only with length 0.
  constexpr StrView(const char *data, uint32_t length) : ptr(data), len(length) {}
  // A view of a standard string's bytes (valid while the string is unchanged).
  StrView(const std::string &s)
      : ptr(s.data()), len(checkedLength(s.size(), "StrView(const std::string &)")) {}

  const char *data() const { return ptr; }
  uint32_t size() const { return len; }
  bool empty() const { return len == 0; }
  bool isNull() const { return ptr == nullptr; }
  const char *begin() const { return ptr; }
  const char *end() const { return ptr + len; }
  // The byte at `i`; the caller guarantees i < size().
  char operator[](uint32_t i) const { return ptr[i]; }
  char front() const { return ptr[0]; }
  char back() const { return ptr[len - 1]; }
  std::string str() const { return ptr ? std::string(ptr, len) : std::string(); }

  // The bytes from `from` (clamped to the length), at most `n` of them.
  StrView substr(uint32_t from, uint32_t n = npos) const {
    from = from < len ? from : len;
    uint32_t rest = len - from;
    return StrView(ptr + from, n < rest ? n : rest);
  }
  // The view without its first (last) `n` bytes; `n` is clamped to the length.
  StrView dropFront(uint32_t n = 1) const { return substr(n); }
  StrView dropBack(uint32_t n = 1) const { return StrView(ptr, n < len ? len - n : 0); }
  // The first (last) `n` bytes, or the whole view when it is shorter.
  StrView takeFront(uint32_t n) const { return substr(0, n); }
  StrView takeBack(uint32_t n) const { return n < len ? StrView(ptr + len - n, n) : *this; }

  // Lengths equal and bytes equal; two empty views are equal whatever their pointers.
  bool sameText(StrView other) const {
    return len == other.len && (len == 0 || std::memcmp(ptr, other.ptr, len) == 0);
  }
  // -1, 0 or 1 by unsigned bytes, a proper prefix being smaller.
  int compare(StrView other) const {
    uint32_t n = len < other.len ? len : other.len;
    if (n) {
      int c = std::memcmp(ptr, other.ptr, n);
      if (c) return c < 0 ? -1 : 1;
    }
    return len == other.len ? 0 : (len < other.len ? -1 : 1);
  }
  bool startsWith(StrView prefix) const {
    return len >= prefix.len && (prefix.len == 0 || std::memcmp(ptr, prefix.ptr, prefix.len) == 0);
  }
  bool endsWith(StrView suffix) const {
    return len >= suffix.len &&
           (suffix.len == 0 || std::memcmp(ptr + len - suffix.len, suffix.ptr, suffix.len) == 0);
  }
  // Position of the first `c` at or after `from`, or npos.
  uint32_t find(char c, uint32_t from = 0) const {
    if (from >= len) return npos;
    const void *hit = std::memchr(ptr + from, static_cast<unsigned char>(c), len - from);
    return hit ? uint32_t(static_cast<const char *>(hit) - ptr) : npos;
  }
  // Position of the last `c` before `from` (clamped to the length), or npos.
  uint32_t rfind(char c, uint32_t from = npos) const {
    for (uint32_t i = from < len ? from : len; i > 0; --i)
      if (ptr[i - 1] == c) return i - 1;
    return npos;
  }

  // -1, 0 or 1, comparing the bytes after mapping A-Z to a-z; a proper prefix is smaller.
  int compareIgnoringCase(StrView other) const;
  // Whether this view starts (ends) with `other`, ASCII letters compared without case.
  bool hasPrefixIgnoringCase(StrView other) const;
  bool hasSuffixIgnoringCase(StrView other) const;
  // -1, 0 or 1 like compare(), except that runs of decimal digits met at the same position are
  // compared as numbers: the longer run is larger (leading zeros count), equal lengths compare
  // bytewise. So "a9" < "a10" and "a9" < "a09".
  int compareWithNumbers(StrView other) const;

  // Position of the first occurrence of `needle` at or after `from` (clamped to the length), or
  // npos. An empty needle is found at the clamped `from`.
  uint32_t find(StrView needle, uint32_t from = 0) const;
  // Position of the last occurrence of `needle`, or npos; an empty needle gives size().
  uint32_t rfind(StrView needle) const;
  // Number of positions where `needle` occurs, overlapping ones included; an empty needle occurs
  // size() + 1 times.
  uint32_t count(StrView needle) const;

  // First position at or after `from` whose byte is (is not) one of the bytes of `set`, or npos.
  uint32_t findFirstOf(StrView set, uint32_t from = 0) const;
  uint32_t findFirstOf(char c, uint32_t from = 0) const { return find(c, from); }
  uint32_t findFirstNotOf(StrView set, uint32_t from = 0) const;
  uint32_t findFirstNotOf(char c, uint32_t from = 0) const;
  // Last position before `from` (clamped to the length) whose byte is (is not) in `set`, or npos.
  uint32_t findLastOf(StrView set, uint32_t from = npos) const;
  uint32_t findLastOf(char c, uint32_t from = npos) const { return rfind(c, from); }
  uint32_t findLastNotOf(StrView set, uint32_t from = npos) const;
  uint32_t findLastNotOf(char c, uint32_t from = npos) const;

  // A copy with A-Z mapped to a-z (a-z to A-Z); every other byte is unchanged.
  std::string toLowerCopy() const;
  std::string toUpperCopy() const;

  // Splits at the first occurrence of `separator`: the part before it and the part after it
  // (possibly empty, never null). When it does not occur: this view and the null view.
  std::pair<StrView, StrView> split(StrView separator) const;
  // Appends to `out` the pieces between occurrences of `separator`, splitting at most
  // `maxSplits` times (all occurrences when negative); the rest after the last split is the
  // final piece. Empty pieces are dropped unless `keepEmptyPieces`. A null view yields no piece,
  // a non-null empty view one empty piece (if kept). An empty separator never matches, so the
  // whole view is one piece.
  template <unsigned N>
  void split(InlineVector<StrView, N> &out, StrView separator, int maxSplits = -1,
             bool keepEmptyPieces = true) const {
    splitInto(separator, maxSplits, keepEmptyPieces, &appendPiece<InlineVector<StrView, N>>, &out);
  }

  // The edit distance to `other`: the fewest byte insertions, deletions and (when
  // `withSubstitutions`) replacements that turn this view into `other`. With a non-zero
  // `distanceLimit`, returns distanceLimit + 1 as soon as the distance is known to exceed it.
  uint32_t levenshteinDistance(StrView other, bool withSubstitutions = true,
                               uint32_t distanceLimit = 0) const;

private:
  template <typename Vector> static void appendPiece(void *out, StrView piece) {
    static_cast<Vector *>(out)->push_back(piece);
  }
  void splitInto(StrView separator, int maxSplits, bool keepEmptyPieces,
                 void (*add)(void *, StrView), void *out) const;

  const char *ptr;
  uint32_t len;
};

inline bool operator==(StrView a, StrView b) { return a.sameText(b); }
inline bool operator!=(StrView a, StrView b) { return !a.sameText(b); }
inline bool operator<(StrView a, StrView b) { return a.compare(b) < 0; }

// Works out the radix of a number's text and drops a recognised prefix from `text`: "0x" gives
// 16, "0b" 2, "0o" 8 (lower case only); otherwise a leading "0" gives 8 and is kept as a digit,
// and anything else, the empty view included, gives 10.
unsigned detectRadix(StrView &text);
// Parses `text` as an unsigned number in `radix` (2 to 36, or 0 to use detectRadix). Digits are
// 0-9 and letters of either case for 10 to 35; no sign, space or other byte is allowed. Returns
// true on failure (empty text, a bad digit, overflow, a bad radix); `result` is stored on
// success and may have been changed on failure.
bool parseUnsigned(StrView text, unsigned radix, uint64_t &result);
// Like parseUnsigned, but a leading "-" negates, and the value must fit a signed 64-bit number.
// Returns true on failure.
bool parseSigned(StrView text, unsigned radix, int64_t &result);

} // namespace vorn

#endif
