#ifndef VORN_SUPPORT_TEXT_STRVIEW_H
#define VORN_SUPPORT_TEXT_STRVIEW_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vorn {

template <typename T, unsigned N> class InlineVector;

// A non-owning view of bytes: a pointer and an unsigned 32-bit length. A null view (null pointer,
// length 0) is distinct from a non-null empty view; only isNull() tells them apart, equality does
// not. The viewed bytes must outlive the view.
class StrView {
public:
  // "Not found", or "up to the end" where a length is expected.
  static constexpr uint32_t npos = ~uint32_t(0);

  // The null view.
  constexpr StrView() : ptr(nullptr), len(0) {}
  // A view of a NUL-terminated text; a null pointer gives the null view.
  StrView(const char *text) : ptr(text), len(text ? uint32_t(std::strlen(text)) : 0) {}
  // A view of `length` bytes at `data`; `data` may be null only with length 0.
  constexpr StrView(const char *data, uint32_t length) : ptr(data), len(length) {}
  // A view of a standard string's bytes (valid while the string is unchanged).
  StrView(const std::string &s) : ptr(s.data()), len(uint32_t(s.size())) {}

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

private:
  const char *ptr;
  uint32_t len;
};

inline bool operator==(StrView a, StrView b) { return a.sameText(b); }
inline bool operator!=(StrView a, StrView b) { return !a.sameText(b); }
inline bool operator<(StrView a, StrView b) { return a.compare(b) < 0; }

} // namespace vorn

#endif
