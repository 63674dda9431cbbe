#ifndef VORN_SUPPORT_RUNTIME_BUMPALLOCATOR_H
#define VORN_SUPPORT_RUNTIME_BUMPALLOCATOR_H

#include "support/runtime/Compiler.h"

#include "support/runtime/Checks.h"

#include <cstddef>
#include <cstdint>

// Memory pools: an allocator that hands out memory by advancing a pointer through large slabs and
// frees nothing individually, for objects that live and die together.

namespace vorn {

// The header at the start of every slab; the slab's usable memory follows it.
struct Slab {
  uint32_t size; // bytes of the whole slab, header included
  Slab *next;    // the next slab of the allocator's list
};

// Where a BumpAllocator gets its slabs. An allocator uses one source from its construction to its
// destruction and returns every slab it took to it.
class SlabSource {
public:
  virtual ~SlabSource();

  // A slab of at least `size` (>= sizeof(Slab)) bytes, with its size field set to its real size
  // and its next field null. A source that cannot provide one ends the process or returns null,
  // which the allocator turns into a fatal error.
  virtual Slab *allocateSlab(uint32_t size) = 0;
  // Takes back a slab that allocateSlab of this source handed out.
  virtual void deallocateSlab(Slab *slab) = 0;
};

// Slabs from the C heap. When the heap refuses one, the process ends through fatalError with
// "Allocation failed: no memory for a slab of N bytes".
class HeapSlabSource : public SlabSource {
public:
  Slab *allocateSlab(uint32_t size) override;
  void deallocateSlab(Slab *slab) override;
};

// Hands out memory from slabs by advancing a pointer; all memory goes back at once on reset() or
// destruction. Regular slabs start at the slab size given at construction and double after every
// 128 slab sizes' worth of requests; a request whose padded size (size + header + alignment - 1)
// exceeds the size threshold gets a slab of its own. One allocator belongs to one thread at a
// time.
class BumpAllocator {
public:
  // An allocator taking slabs of `slabSize` bytes from the C heap; requests whose padded size
  // exceeds min(slabSize, sizeThreshold) get slabs of their own. No slab is taken yet. The caller
  // guarantees slabSize > sizeof(Slab).
  explicit BumpAllocator(uint32_t slabSize = 4096, uint32_t sizeThreshold = 4096)
      : BumpAllocator(slabSize, sizeThreshold, heapSource) {}
  // The same with the slabs from `source`, which must outlive the allocator.
  BumpAllocator(uint32_t slabSize, uint32_t sizeThreshold, SlabSource &source)
      : slabSize(slabSize), sizeThreshold(sizeThreshold < slabSize ? sizeThreshold : slabSize),
        source(source) {
    VORN_CHECK(slabSize > sizeof(Slab), "BumpAllocator::BumpAllocator",
               "slab size is not above the slab header's size");
  }
  // Returns every slab to the source.
  ~BumpAllocator();
  BumpAllocator(const BumpAllocator &) = delete;
  BumpAllocator &operator=(const BumpAllocator &) = delete;

  // `size` bytes aligned to `alignment`: a power of two, or 0 meaning 1 (checked in checking
  // builds). The memory stays valid until reset() or destruction. A request that no slab can
  // hold (its padded size does not fit 32 bits) or that the source refuses ends the process
  // through fatalError.
  void *allocate(size_t size, size_t alignment = 1) {
    VORN_CHECK((alignment & (alignment - 1)) == 0, "BumpAllocator::allocate",
               "alignment is not a power of two");
    if (alignment == 0) alignment = 1;
    uintptr_t p = (cur + alignment - 1) & (0 - uintptr_t(alignment));
    // Without a current slab cur and end are 0, so only an empty request could fit; the slow
    // path starts the first slab. A large alignment of a slab high in the address space wraps p
    // round to a low address, which p >= cur turns away.
    if (currentSlab && p >= cur && p <= end && size <= end - p) {
      cur = p + size;
      bytesAllocated += size;
      return reinterpret_cast<void *>(p);
    }
    return allocateSlow(size, alignment);
  }

  // Keeps the current slab and returns all others to the source; everything handed out is gone
  // and the whole current slab is free again. Does nothing before the first allocation. The slab
  // size keeps any growth.
  void reset();

  // Number of slabs held.
  uint32_t slabCount() const;
  // Sum of the size fields of all slabs held.
  size_t totalMemory() const;
  // Sum of the sizes requested since construction or the last reset (alignment padding and the
  // unused ends of slabs excluded).
  size_t bytesUsed() const { return bytesAllocated; }

  // Writes on the standard error stream, each number in decimal:
  // "\nNumber of memory regions: N\nBytes used: U\nBytes allocated: T\nBytes wasted: W
  // (includes alignment, etc)\n" with N = slabCount(), U = bytesUsed(), T = totalMemory() and
  // W = T - U.
  void printStats() const;

private:
  void *allocateSlow(size_t size, size_t alignment);
  // Takes a regular slab (doubling the slab size first when enough was requested), links it at
  // the head of the list and makes its usable space current.
  void startNewSlab();
  // A slab of `size` bytes from the source; a refusal is fatal.
  Slab *takeSlab(uint32_t size);

  uint32_t slabSize;
  uint32_t sizeThreshold;
  HeapSlabSource heapSource;
  SlabSource &source;
  Slab *currentSlab = nullptr; // the head of the list of all slabs, newest regular slab first
  uintptr_t cur = 0;           // free space of the current slab: [cur, end)
  uintptr_t end = 0;
  size_t bytesAllocated = 0;
};

// Writes an element recycler's statistics on the standard error stream, each number in decimal:
// "Recycler element size: S\nRecycler element alignment: A\nNumber of elements free for
// recycling: N\n".
void printRecyclerStats(size_t elementSize, size_t elementAlignment, size_t freeCount);

} // namespace vorn

#endif
