#include "support/runtime/BumpAllocator.h"

#include <cstdlib>

#include "support/runtime/FatalError.h"
#include "support/streams/StdStreams.h"

namespace vorn {

namespace {

constexpr uint32_t kHeader = sizeof(Slab);

inline uintptr_t alignUp(uintptr_t p, size_t alignment) {
  return (p + alignment - 1) & (0 - uintptr_t(alignment));
}

} // namespace

SlabSource::~SlabSource() = default;

Slab *HeapSlabSource::allocateSlab(uint32_t size) {
  // Handing back null would make the allocator write through it: a refused slab ends the process.
  Slab *slab = static_cast<Slab *>(std::malloc(size));
  if (!slab)
    fatalError(Twine("Allocation failed: no memory for a slab of ") + Twine(size) + " bytes");
  slab->size = size;
  slab->next = nullptr;
  return slab;
}

void HeapSlabSource::deallocateSlab(Slab *slab) { std::free(slab); }

BumpAllocator::~BumpAllocator() {
  for (Slab *slab = currentSlab; slab;) {
    Slab *next = slab->next;
    source.deallocateSlab(slab);
    slab = next;
  }
}

Slab *BumpAllocator::takeSlab(uint32_t size) {
  Slab *slab = source.allocateSlab(size);
  if (!slab)
    fatalError(Twine("Allocation failed: the slab source refused a slab of ") + Twine(size) +
               " bytes");
  VORN_CHECK(slab->size >= size && !slab->next, "SlabSource::allocateSlab",
             "a slab is at least the requested size and not linked");
  return slab;
}

void BumpAllocator::startNewSlab() {
  // In 64 bits, so that a large slab size cannot wrap the product to a small threshold; the slab
  // size stops doubling where the next size would not fit its 32-bit field.
  if (uint64_t(bytesAllocated) >= uint64_t(slabSize) * 128 && slabSize <= UINT32_MAX / 2)
    slabSize *= 2;
  Slab *slab = takeSlab(slabSize);
  slab->next = currentSlab;
  currentSlab = slab;
  cur = reinterpret_cast<uintptr_t>(slab) + kHeader;
  end = reinterpret_cast<uintptr_t>(slab) + slab->size;
}

void *BumpAllocator::allocateSlow(size_t size, size_t alignment) {
  if (!currentSlab) {
    startNewSlab();
    uintptr_t p = alignUp(cur, alignment);
    if (p >= cur && p <= end && size <= end - p) {
      cur = p + size;
      bytesAllocated += size;
      return reinterpret_cast<void *>(p);
    }
  }
  bytesAllocated += size;

  // A padded size that does not fit 32 bits would wrap to a small slab that the request then
  // overruns: such a request is refused like one the heap cannot serve.
  const size_t limit = UINT32_MAX - kHeader;
  if (alignment - 1 > limit || size > limit - (alignment - 1))
    fatalError(Twine("Allocation failed: a request of ") + Twine(uint64_t(size)) +
               " bytes aligned to " + Twine(uint64_t(alignment)) + " does not fit a slab");
  uint32_t padded = uint32_t(size + kHeader + alignment - 1);

  if (padded > sizeThreshold) {
    // A slab of its own, linked after the current one so that the current slab's free space
    // stays in use.
    Slab *slab = takeSlab(padded);
    slab->next = currentSlab->next;
    currentSlab->next = slab;
    uintptr_t start = reinterpret_cast<uintptr_t>(slab) + kHeader;
    return reinterpret_cast<void *>(alignUp(start, alignment));
  }

  // padded <= sizeThreshold <= slabSize, so the request fits the new slab.
  startNewSlab();
  uintptr_t p = alignUp(cur, alignment);
  cur = p + size;
  return reinterpret_cast<void *>(p);
}

void BumpAllocator::reset() {
  if (!currentSlab) return;
  for (Slab *slab = currentSlab->next; slab;) {
    Slab *next = slab->next;
    source.deallocateSlab(slab);
    slab = next;
  }
  currentSlab->next = nullptr;
  cur = reinterpret_cast<uintptr_t>(currentSlab) + kHeader;
  end = reinterpret_cast<uintptr_t>(currentSlab) + currentSlab->size;
  bytesAllocated = 0;
}

uint32_t BumpAllocator::slabCount() const {
  uint32_t count = 0;
  for (const Slab *slab = currentSlab; slab; slab = slab->next) ++count;
  return count;
}

size_t BumpAllocator::totalMemory() const {
  size_t total = 0;
  for (const Slab *slab = currentSlab; slab; slab = slab->next) total += slab->size;
  return total;
}

void BumpAllocator::printStats() const {
  size_t total = totalMemory();
  OutStream &err = stderrStream();
  err << "\nNumber of memory regions: ";
  err.writeUnsigned64(slabCount());
  err << "\nBytes used: ";
  err.writeUnsigned64(bytesAllocated);
  err << "\nBytes allocated: ";
  err.writeUnsigned64(total);
  err << "\nBytes wasted: ";
  err.writeUnsigned64(total - bytesAllocated);
  err << " (includes alignment, etc)\n";
}

void printRecyclerStats(size_t elementSize, size_t elementAlignment, size_t freeCount) {
  OutStream &err = stderrStream();
  err << "Recycler element size: ";
  err.writeUnsigned64(elementSize);
  err << "\nRecycler element alignment: ";
  err.writeUnsigned64(elementAlignment);
  err << "\nNumber of elements free for recycling: ";
  err.writeUnsigned64(freeCount);
  err << "\n";
}

} // namespace vorn
