#ifndef VORN_SUPPORT_TEXT_INLINEVECTOR_H
#define VORN_SUPPORT_TEXT_INLINEVECTOR_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "support/text/StrView.h"

namespace vorn {

// The untyped part of InlineVector: three pointers followed (in the derived object) by the
// inline storage. Elements are moved with memcpy/realloc, so they must be trivially copyable.
class InlineVectorBase {
protected:
  InlineVectorBase(void *inlineStorage, size_t inlineBytes)
      : first(inlineStorage), last(inlineStorage),
        capEnd(static_cast<char *>(inlineStorage) + inlineBytes) {}

  // Grows the capacity to twice the current bytes plus one element, or to `minBytes` when that
  // is larger. Leaves the inline storage on the first growth (malloc + memcpy), reallocates the
  // heap block after that. The size is kept.
  void grow(void *inlineStorage, size_t minBytes, size_t elementSize);
  // Frees the heap block, if any.
  void release(void *inlineStorage);

  size_t sizeInBytes() const { return static_cast<char *>(last) - static_cast<char *>(first); }
  size_t capacityInBytes() const { return static_cast<char *>(capEnd) - static_cast<char *>(first); }

  void *first;
  void *last;
  void *capEnd;
};

// A vector whose first N elements live inside the object. T must be trivially copyable.
template <typename T, unsigned N>
class InlineVector : public InlineVectorBase {
  static_assert(std::is_trivially_copyable<T>::value, "InlineVector holds trivially copyable types");

public:
  InlineVector() : InlineVectorBase(storage, sizeof(storage)) {}
  InlineVector(const InlineVector &other) : InlineVectorBase(storage, sizeof(storage)) {
    append(other.begin(), other.end());
  }
  InlineVector &operator=(const InlineVector &other) {
    if (this != &other) {
      clear();
      append(other.begin(), other.end());
    }
    return *this;
  }
  ~InlineVector() { release(storage); }

  T *begin() { return static_cast<T *>(first); }
  T *end() { return static_cast<T *>(last); }
  const T *begin() const { return static_cast<const T *>(first); }
  const T *end() const { return static_cast<const T *>(last); }
  T *data() { return begin(); }
  const T *data() const { return begin(); }
  size_t size() const { return sizeInBytes() / sizeof(T); }
  size_t capacity() const { return capacityInBytes() / sizeof(T); }
  bool empty() const { return first == last; }
  // True while no heap block is owned.
  bool isInline() const { return first == static_cast<const void *>(storage); }
  T &operator[](size_t i) { return begin()[i]; }
  const T &operator[](size_t i) const { return begin()[i]; }
  T &back() { return end()[-1]; }
  const T &back() const { return end()[-1]; }

  // Makes room for at least `n` elements in all.
  void reserve(size_t n) {
    if (n > capacity()) grow(storage, n * sizeof(T), sizeof(T));
  }
  void push_back(const T &value) {
    if (last == capEnd) {
      T copy = value; // `value` may live inside this vector
      grow(storage, 0, sizeof(T));
      *end() = copy;
    } else {
      *end() = value;
    }
    last = end() + 1;
  }
  void pop_back() { last = end() - 1; }
  // Appends [from, to), which must not lie inside this vector.
  void append(const T *from, const T *to) {
    size_t n = size_t(to - from);
    reserve(size() + n);
    if (n) std::memcpy(static_cast<void *>(end()), from, n * sizeof(T));
    last = end() + n;
  }
  // Inserts `value` before `pos` (begin() <= pos <= end()); returns the new element's position.
  T *insert(T *pos, const T &value) {
    size_t at = size_t(pos - begin());
    T copy = value; // `value` may live inside this vector
    reserve(size() + 1);
    std::memmove(static_cast<void *>(begin() + at + 1), begin() + at, (size() - at) * sizeof(T));
    begin()[at] = copy;
    last = end() + 1;
    return begin() + at;
  }
  // Inserts [from, to), which must not lie inside this vector, before `pos`; returns the position
  // of the first inserted element.
  T *insert(T *pos, const T *from, const T *to) {
    size_t at = size_t(pos - begin());
    size_t n = size_t(to - from);
    reserve(size() + n);
    if (n) {
      std::memmove(static_cast<void *>(begin() + at + n), begin() + at, (size() - at) * sizeof(T));
      std::memcpy(static_cast<void *>(begin() + at), from, n * sizeof(T));
    }
    last = end() + n;
    return begin() + at;
  }
  // Removes [from, to) (begin() <= from <= to <= end()); returns the position after the gap.
  T *erase(T *from, T *to) {
    if (from != to) std::memmove(static_cast<void *>(from), to, size_t(end() - to) * sizeof(T));
    last = end() - (to - from);
    return from;
  }
  // Removes the element at `pos` (begin() <= pos < end()).
  T *erase(T *pos) { return erase(pos, pos + 1); }
  // Sets the size; new elements are value-initialised.
  void resize(size_t n) {
    size_t old = size();
    reserve(n);
    for (size_t i = old; i < n; ++i) begin()[i] = T();
    last = begin() + n;
  }
  void clear() { last = first; }
  // Sets the size to `n` without touching any element, for elements already written into the
  // spare capacity. The caller guarantees n <= capacity().
  void setSizeInPlace(size_t n) { last = begin() + n; }

private:
  alignas(T) unsigned char storage[N * sizeof(T)];
};

// A text or path buffer: an InlineVector of char with N bytes inline. It is not NUL-terminated
// unless asked (cStr()).
template <unsigned N>
class InlineString : public InlineVector<char, N> {
public:
  InlineString() = default;
  explicit InlineString(StrView text) { append(text); }

  void append(StrView text) { InlineVector<char, N>::append(text.begin(), text.end()); }
  using InlineVector<char, N>::append;
  void assign(StrView text) {
    this->clear();
    append(text);
  }
  // The contents as a view; the caller keeps them under 4 GiB (checked in builds with assertions).
  StrView view() const {
    return StrView(this->data(), checkedLength(this->size(), "InlineString::view"));
  }
  operator StrView() const { return view(); }
  // A NUL-terminated pointer to the contents; the terminator is not counted in size().
  const char *cStr() {
    this->reserve(this->size() + 1);
    *this->end() = '\0';
    return this->data();
  }
  std::string str() const { return std::string(this->data(), this->size()); }
};

} // namespace vorn

#endif
