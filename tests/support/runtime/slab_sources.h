#ifndef VORN_TESTS_RUNTIME_SLAB_SOURCES_H
#define VORN_TESTS_RUNTIME_SLAB_SOURCES_H

#include "support/runtime/BumpAllocator.h"

#include <cstdint>
#include <vector>

// Slab sources of the test's own, built like the library (without RTTI).

// Takes its slabs from the C heap and records every slab it hands out and takes back.
class RecordingSlabSource final : public vorn::SlabSource {
public:
  struct Record {
    vorn::Slab *slab;
    uint32_t size;
    bool returned;
  };

  ~RecordingSlabSource() override;
  vorn::Slab *allocateSlab(uint32_t size) override;
  void deallocateSlab(vorn::Slab *slab) override;

  // Every slab handed out, in order.
  std::vector<Record> records;
  // Slabs taken back that this source never handed out, or twice.
  int strayReturns = 0;
};

// Refuses every slab (returns null).
class RefusingSlabSource final : public vorn::SlabSource {
public:
  vorn::Slab *allocateSlab(uint32_t size) override;
  void deallocateSlab(vorn::Slab *slab) override;
};

// Maps its slabs at fixed places high in a 32-bit address space (3 GiB and above), where
// rounding an address up to a large alignment wraps round to a low one; null when none is free.
class HighSlabSource final : public vorn::SlabSource {
public:
  vorn::Slab *allocateSlab(uint32_t size) override;
  void deallocateSlab(vorn::Slab *slab) override;
};

#endif
