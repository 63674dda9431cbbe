#ifndef VORN_SUPPORT_APINT_SCRATCH_H
#define VORN_SUPPORT_APINT_SCRATCH_H

// Working storage of the APInt algorithms; not part of the library's interface.

#include <cstdint>

namespace vorn {

// `count` elements of T for the length of one call: inside the object when they fit in
// StackCount, else in a heap block that the destructor frees. The elements are not initialised.
template <typename T, uint32_t StackCount> class Scratch {
public:
  explicit Scratch(uint32_t count) : ptr(count <= StackCount ? local : new T[count]) {}
  ~Scratch() {
    if (ptr != local) delete[] ptr;
  }
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;

  T *data() { return ptr; }
  T &operator[](uint32_t i) { return ptr[i]; }

private:
  T local[StackCount];
  T *ptr;
};

} // namespace vorn

#endif
