// The bump allocator: its slab arithmetic (sizes taken from the source, oversized requests on
// slabs of their own, the growth of the slab size), the alignment and disjointness of what it
// hands out, reset and destruction, the exact statistics texts, and the refusals that end the
// process (in forked children).

#include "support/runtime/BumpAllocator.h"

#include "tests/common/TestSupport.h"
#include "tests/support/runtime/slab_sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using vorn::BumpAllocator;
using vorn::Slab;

namespace {

const uint32_t kHeader = sizeof(Slab);

uintptr_t address(const void *p) { return reinterpret_cast<uintptr_t>(p); }

// Whether [p, p + size) lies in the usable part of `slab`.
bool inside(const Slab *slab, const void *p, size_t size) {
  uintptr_t start = address(slab) + kHeader, end = address(slab) + slab->size;
  return address(p) >= start && address(p) <= end && size <= end - address(p);
}

TEST(BumpAllocator, OversizedRequestGetsItsOwnSlabAfterTheCurrentOne) {
  RecordingSlabSource source;
  {
    BumpAllocator pool(4096, 4096, source);
    EXPECT_EQ(pool.slabCount(), 0u);
    EXPECT_TRUE(source.records.empty()); // nothing taken at construction

    void *small = pool.allocate(10);
    ASSERT_EQ(source.records.size(), 1u);
    EXPECT_EQ(source.records[0].size, 4096u);
    EXPECT_EQ(address(small), address(source.records[0].slab) + kHeader);

    void *big = pool.allocate(5000);
    ASSERT_EQ(source.records.size(), 2u);
    EXPECT_EQ(source.records[1].size, 5000 + kHeader); // alignment 1: no padding
    EXPECT_TRUE(inside(source.records[1].slab, big, 5000));
    // Linked after the current slab, which stays current.
    EXPECT_EQ(source.records[0].slab->next, source.records[1].slab);
    void *next = pool.allocate(16);
    EXPECT_EQ(address(next), address(small) + 10);
    EXPECT_EQ(pool.slabCount(), 2u);
    EXPECT_EQ(pool.totalMemory(), 4096 + 5000 + kHeader);
    EXPECT_EQ(pool.bytesUsed(), 10u + 5000 + 16);

    // A request that fits no more starts a regular slab at the head.
    pool.allocate(4096 - kHeader - 26 + 1);
    ASSERT_EQ(source.records.size(), 3u);
    EXPECT_EQ(source.records[2].size, 4096u);
    EXPECT_EQ(source.records[2].slab->next, source.records[0].slab);
  }
  for (auto &r : source.records) EXPECT_TRUE(r.returned);
  EXPECT_EQ(source.strayReturns, 0);
}

TEST(BumpAllocator, ThresholdIsTheSmallerOfTheTwoSizes) {
  // The threshold matters only for requests that the current slab cannot take.
  RecordingSlabSource source;
  BumpAllocator pool(4096, 100, source);
  pool.allocate(4096 - kHeader - 10);
  pool.allocate(100 - kHeader); // padded size exactly 100: a new regular slab
  ASSERT_EQ(source.records.size(), 2u);
  EXPECT_EQ(source.records[1].size, 4096u);
  EXPECT_EQ(source.records[1].slab->next, source.records[0].slab);
  pool.allocate(4096 - 100 - 10);
  pool.allocate(100 - kHeader + 1); // padded size 101: a slab of its own
  ASSERT_EQ(source.records.size(), 3u);
  EXPECT_EQ(source.records[2].size, 101u);

  RecordingSlabSource other;
  BumpAllocator capped(256, 100000, other);
  capped.allocate(1);
  capped.allocate(256 - kHeader); // padded 256, not above the slab size: a regular slab
  ASSERT_EQ(other.records.size(), 2u);
  EXPECT_EQ(other.records[1].size, 256u);
  EXPECT_EQ(other.records[1].slab->next, other.records[0].slab);
  capped.allocate(256 - kHeader + 1);
  ASSERT_EQ(other.records.size(), 3u);
  EXPECT_EQ(other.records[2].size, 257u);
}

// Random sizes and alignments (0 counting as 1): every pointer aligned, inside a slab of the
// allocator and apart from every other; the memory keeps what was written to it.
TEST(BumpAllocator, AlignedDisjointAndKept) {
  uint64_t seed = 0xb0a10001;
  std::mt19937_64 rng(seed);
  RecordingSlabSource source;
  BumpAllocator pool(1024, 512, source);
  struct Block {
    unsigned char *p;
    size_t size;
    unsigned char fill;
  };
  std::vector<Block> blocks;
  size_t requested = 0;
  for (int i = 0; i < 3000; ++i) {
    size_t alignment = rng() % 8 == 0 ? 0 : size_t(1) << (rng() % (rng() % 10 == 0 ? 13 : 5));
    size_t size = rng() % 10 == 0 ? rng() % 3000 : rng() % 40;
    auto *p = static_cast<unsigned char *>(pool.allocate(size, alignment));
    requested += size;
    ASSERT_EQ(address(p) % (alignment ? alignment : 1), 0u)
        << "size " << size << ", alignment " << alignment << " [seed " << seed << "]";
    bool found = false;
    for (auto &r : source.records) found = found || (!r.returned && inside(r.slab, p, size));
    ASSERT_TRUE(found) << "block outside every slab [seed " << seed << "]";
    unsigned char fill = static_cast<unsigned char>(rng());
    std::memset(p, fill, size);
    blocks.push_back({p, size, fill});
  }
  EXPECT_EQ(pool.bytesUsed(), requested);
  std::vector<std::pair<uintptr_t, size_t>> spans;
  for (const Block &b : blocks) {
    for (size_t j = 0; j < b.size; ++j)
      if (b.p[j] != b.fill) {
        ADD_FAILURE() << "a block was overwritten [seed " << seed << "]";
        return;
      }
    if (b.size) spans.push_back({address(b.p), b.size});
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i)
    ASSERT_LE(spans[i - 1].first + spans[i - 1].second, spans[i].first) << "[seed " << seed << "]";
  size_t total = 0;
  for (auto &r : source.records) total += r.size;
  EXPECT_EQ(pool.totalMemory(), total);
  EXPECT_EQ(pool.slabCount(), source.records.size());
}

// Regular slabs double once the requests reach 128 slab sizes; the sizes the source sees follow
// the rule request by request (the first slab is taken before the first request is counted,
// later ones after).
TEST(BumpAllocator, SlabSizeDoublesAfter128SlabSizesOfRequests) {
  RecordingSlabSource source;
  BumpAllocator pool(256, 256, source);
  uint64_t slabSize = 256, bytes = 0, left = 0;
  std::vector<uint32_t> expected;
  for (int i = 0; i < 20000; ++i) {
    const size_t size = 24 + size_t(i % 5) * 8;
    if (expected.empty()) {
      expected.push_back(uint32_t(slabSize));
      left = slabSize - kHeader;
    }
    bytes += size;
    if (left < size) {
      if (bytes >= slabSize * 128) slabSize *= 2;
      expected.push_back(uint32_t(slabSize));
      left = slabSize - kHeader;
    }
    left -= size;
    pool.allocate(size);
  }
  std::vector<uint32_t> seen;
  for (auto &r : source.records) seen.push_back(r.size);
  EXPECT_EQ(seen, expected);
  EXPECT_GE(slabSize, 2048u); // the test reached several doublings
}

TEST(BumpAllocator, ResetKeepsTheCurrentSlabOnly) {
  RecordingSlabSource source;
  BumpAllocator pool(512, 512, source);
  pool.reset(); // nothing to do yet
  EXPECT_EQ(pool.slabCount(), 0u);
  for (int i = 0; i < 40; ++i) pool.allocate(100, 8);
  pool.allocate(2000); // a slab of its own
  ASSERT_GE(source.records.size(), 3u);
  Slab *current = source.records[source.records.size() - 2].slab; // the newest regular slab
  size_t slabs = source.records.size();
  pool.reset();
  EXPECT_EQ(pool.slabCount(), 1u);
  EXPECT_EQ(pool.bytesUsed(), 0u);
  EXPECT_EQ(pool.totalMemory(), current->size);
  EXPECT_EQ(current->next, nullptr);
  for (size_t i = 0; i < slabs; ++i)
    EXPECT_EQ(source.records[i].returned, source.records[i].slab != current) << i;
  // The whole usable space is free again.
  EXPECT_EQ(address(pool.allocate(1)), address(current) + kHeader);
  EXPECT_EQ(address(pool.allocate(current->size - kHeader - 1)), address(current) + kHeader + 1);
  EXPECT_EQ(source.records.size(), slabs);
}

// Pools share nothing: threads fill pools of their own at the same time (small blocks and some
// on slabs of their own), then each pool passes to another thread, which finds every block as its
// filler left it, resets the pool and fills it again.
TEST(BumpAllocator, PoolsOnSeveralThreadsAtOnceAndHandedOn) {
  const unsigned threads = 4;
  std::vector<std::unique_ptr<BumpAllocator>> pools;
  for (unsigned i = 0; i < threads; ++i) pools.emplace_back(new BumpAllocator(1024, 512));
  std::vector<std::vector<std::pair<unsigned char *, size_t>>> blocks(threads);
  auto fill = [&](unsigned pool, unsigned char byte) {
    std::mt19937 rng(pool + byte);
    blocks[pool].clear();
    for (int n = 0; n < 2000; ++n) {
      size_t size = rng() % 10 == 0 ? 600 + rng() % 2000 : 1 + rng() % 64;
      auto *p = static_cast<unsigned char *>(pools[pool]->allocate(size, 8));
      std::memset(p, byte, size);
      blocks[pool].push_back({p, size});
    }
  };
  auto intact = [&](unsigned pool, unsigned char byte) {
    for (const auto &b : blocks[pool])
      for (size_t j = 0; j < b.second; ++j)
        if (b.first[j] != byte) return false;
    return true;
  };
  auto onThreads = [&](const std::function<void(unsigned)> &body) {
    std::vector<std::thread> started;
    for (unsigned i = 0; i < threads; ++i) started.emplace_back(body, i);
    for (std::thread &t : started) t.join();
  };
  onThreads([&](unsigned i) { fill(i, static_cast<unsigned char>(i + 1)); });
  std::vector<int> keptByFirstFiller(threads, 0);
  onThreads([&](unsigned i) {
    unsigned pool = (i + 1) % threads;
    keptByFirstFiller[pool] = intact(pool, static_cast<unsigned char>(pool + 1));
    pools[pool]->reset();
    fill(pool, static_cast<unsigned char>(0x80 + i));
  });
  for (unsigned pool = 0; pool < threads; ++pool) {
    EXPECT_TRUE(keptByFirstFiller[pool]) << "pool " << pool;
    EXPECT_TRUE(intact(pool, static_cast<unsigned char>(0x80 + (pool + threads - 1) % threads)))
        << "pool " << pool;
  }
}

TEST(BumpAllocator, StatisticsTexts) {
  testsupport::ChildResult child = testsupport::runInChild([] {
    BumpAllocator pool(4096, 4096);
    pool.allocate(10);
    pool.allocate(5000);
    pool.allocate(3, 16);
    pool.printStats();
    pool.reset();
    pool.printStats();
    vorn::printRecyclerStats(24, 8, 3);
    return 0;
  });
  const std::string total = std::to_string(4096 + 5000 + kHeader);
  const std::string wasted = std::to_string(4096 + 5000 + kHeader - 5013);
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.err, "\nNumber of memory regions: 2\nBytes used: 5013\nBytes allocated: " +
                           total + "\nBytes wasted: " + wasted +
                           " (includes alignment, etc)\n"
                           "\nNumber of memory regions: 1\nBytes used: 0\nBytes allocated: 4096\n"
                           "Bytes wasted: 4096 (includes alignment, etc)\n"
                           "Recycler element size: 24\nRecycler element alignment: 8\n"
                           "Number of elements free for recycling: 3\n");
  EXPECT_EQ(child.out, "");
}

TEST(BumpAllocator, RefusedSlabsEndTheProcess) {
  testsupport::ChildResult refused = testsupport::runInChild([] {
    RefusingSlabSource source;
    BumpAllocator pool(4096, 4096, source);
    pool.allocate(8);
    return 0;
  });
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "VORN ERROR: Allocation failed: the slab source refused a slab of 4096 bytes\n");

  // A padded size beyond 32 bits would wrap to a small slab: refused before any slab is asked.
  testsupport::ChildResult wrapped = testsupport::runInChild([] {
    RecordingSlabSource source;
    BumpAllocator pool(4096, 4096, source);
    pool.allocate(8);
    pool.allocate(0xFFFFFFFFu - kHeader, 2);
    return source.records.size() == 1 ? 0 : 2;
  });
  EXPECT_EQ(wrapped.status, 1);
  EXPECT_EQ(wrapped.err, "VORN ERROR: Allocation failed: a request of " +
                             std::to_string(0xFFFFFFFFu - kHeader) +
                             " bytes aligned to 2 does not fit a slab\n");
  testsupport::ChildResult byAlignment = testsupport::runInChild([] {
    BumpAllocator pool(4096, 4096);
    pool.allocate(size_t(1) << 31, size_t(1) << 31);
    return 0;
  });
  EXPECT_EQ(byAlignment.status, 1);
  EXPECT_EQ(byAlignment.err, "VORN ERROR: Allocation failed: a request of 2147483648 bytes aligned "
                             "to 2147483648 does not fit a slab\n");
}

TEST(BumpAllocator, LargeAlignmentOfAHighSlabIsRefused) {
  if (sizeof(uintptr_t) > 4) GTEST_SKIP() << "an aligned address wraps round only in 32 bits";
  {
    HighSlabSource probe;
    vorn::Slab *slab = probe.allocateSlab(4096);
    if (!slab) GTEST_SKIP() << "no free place at 3 GiB or above";
    probe.deallocateSlab(slab);
  }
  // Rounded up to 2 GiB, an address above 2 GiB wraps to 0, which once passed for a fit: the
  // request "succeeded" with a null block. Both with the slab in place (the inline path) and as
  // the first request (the slab is taken first).
  for (bool warm : {true, false}) {
    testsupport::ChildResult r = testsupport::runInChild([warm] {
      HighSlabSource source;
      BumpAllocator pool(4096, 4096, source);
      if (warm) pool.allocate(8);
      void *block = pool.allocate(size_t(1) << 31, size_t(1) << 31);
      return block ? 3 : 2;
    });
    EXPECT_EQ(r.status, 1) << "warm " << warm;
    EXPECT_EQ(r.err, "VORN ERROR: Allocation failed: a request of 2147483648 bytes aligned "
                     "to 2147483648 does not fit a slab\n")
        << "warm " << warm;
  }
}

TEST(BumpAllocator, HeapSourceRefusalEndsTheProcess) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator reports an impossible request itself";
#else
  if (sizeof(void *) > 4) GTEST_SKIP() << "a 64-bit heap may grant a slab of 4 GiB";
  testsupport::ChildResult child = testsupport::runInChild([] {
    BumpAllocator pool(4096, 4096);
    pool.allocate(0xFFFFF000u);
    return 0;
  });
  EXPECT_EQ(child.status, 1);
  EXPECT_EQ(child.err, "VORN ERROR: Allocation failed: no memory for a slab of " +
                           std::to_string(0xFFFFF000u + kHeader) + " bytes\n");
#endif
}

#ifndef NDEBUG
TEST(BumpAllocatorDeathTest, AlignmentMustBeAPowerOfTwo) {
  BumpAllocator pool(4096, 4096);
  EXPECT_DEATH(pool.allocate(8, 12),
               "vorn: BumpAllocator::allocate: alignment is not a power of two");
  EXPECT_DEATH(BumpAllocator(8, 8), "slab size is not above the slab header's size");
}
#endif

} // namespace
