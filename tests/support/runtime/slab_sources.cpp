#include "tests/support/runtime/slab_sources.h"

#include <sys/mman.h>

#include <cstdlib>

RecordingSlabSource::~RecordingSlabSource() {
  for (Record &r : records)
    if (!r.returned) std::free(r.slab);
}

vorn::Slab *RecordingSlabSource::allocateSlab(uint32_t size) {
  vorn::Slab *slab = static_cast<vorn::Slab *>(std::malloc(size));
  if (!slab) std::abort();
  slab->size = size;
  slab->next = nullptr;
  records.push_back({slab, size, false});
  return slab;
}

void RecordingSlabSource::deallocateSlab(vorn::Slab *slab) {
  for (Record &r : records)
    if (r.slab == slab && !r.returned) {
      r.returned = true;
      std::free(slab);
      return;
    }
  ++strayReturns;
}

vorn::Slab *RefusingSlabSource::allocateSlab(uint32_t) { return nullptr; }

void RefusingSlabSource::deallocateSlab(vorn::Slab *) {}

vorn::Slab *HighSlabSource::allocateSlab(uint32_t size) {
  for (uintptr_t place : {0xF0000000u, 0xE0000000u, 0xD0000000u, 0xC0000000u}) {
    void *p = mmap(reinterpret_cast<void *>(place), size, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == MAP_FAILED) continue;
    if (p != reinterpret_cast<void *>(place)) { // a kernel that ignores the flag
      munmap(p, size);
      continue;
    }
    vorn::Slab *slab = static_cast<vorn::Slab *>(p);
    slab->size = size;
    slab->next = nullptr;
    return slab;
  }
  return nullptr;
}

void HighSlabSource::deallocateSlab(vorn::Slab *slab) { munmap(slab, slab->size); }
