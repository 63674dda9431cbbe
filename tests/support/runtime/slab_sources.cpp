#include "tests/support/runtime/slab_sources.h"

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
