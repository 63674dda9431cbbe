#include "support/text/InlineVector.h"

#include <cstdlib>

#include "support/runtime/Allocation.h"

namespace vorn {

void InlineVectorBase::grow(void *inlineStorage, size_t minBytes, size_t elementSize) {
  size_t used = sizeInBytes();
  size_t newBytes = 2 * capacityInBytes() + elementSize;
  if (newBytes < minBytes) newBytes = minBytes;
  void *block;
  if (first == inlineStorage) {
    block = safeMalloc(newBytes);
    if (used) std::memcpy(block, first, used);
  } else {
    block = safeRealloc(first, newBytes);
  }
  first = block;
  last = static_cast<char *>(block) + used;
  capEnd = static_cast<char *>(block) + newBytes;
}

void InlineVectorBase::release(void *inlineStorage) {
  if (first != inlineStorage) std::free(first);
}

} // namespace vorn
