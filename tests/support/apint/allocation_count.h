#ifndef VORN_TESTS_SUPPORT_APINT_ALLOCATION_COUNT_H
#define VORN_TESTS_SUPPORT_APINT_ALLOCATION_COUNT_H

// The test program replaces the array forms of operator new and delete, which APInt uses for its
// word arrays and the division's heap scratch, with counting ones. Blocks that are never freed
// show up here even where the leak checker cannot run (it cannot under user-mode emulation); a
// double free still reaches the sanitizer through free().

#include <cstdint>

namespace apinttest {

struct ArrayCounts {
  uint64_t allocated = 0; // calls of operator new[]
  uint64_t freed = 0;     // calls of operator delete[] with a non-null block
  uint64_t live() const { return allocated - freed; }
};

// The counts so far.
ArrayCounts arrayCounts();

} // namespace apinttest

#endif
