// BumpAllocator::allocate of small objects beside malloc, in one run: each loop round takes 1000
// blocks of 8 to 64 bytes (the same sizes on both sides) and touches each; the allocator then
// gives them all back with one reset, malloc's side frees them one by one. The summary table sets
// our time beside malloc's, with the goal for the ratio.

#include "support/runtime/BumpAllocator.h"

#include <benchmark/benchmark.h>

#include "bench/TimeRecorder.h"

#include <cstdlib>
#include <vector>

namespace {

const int kBlocks = 1000;

// Sizes 8, 16, ... 64 in a fixed mixed order.
const std::vector<size_t> &sizes() {
  static std::vector<size_t> s = [] {
    std::vector<size_t> v;
    unsigned x = 12345;
    for (int i = 0; i < kBlocks; ++i) {
      x = x * 1103515245 + 12345;
      v.push_back(8 * (1 + (x >> 16) % 8));
    }
    return v;
  }();
  return s;
}

void Allocate_BumpAllocator(benchmark::State &state) {
  const std::vector<size_t> &size = sizes();
  vorn::BumpAllocator pool(4096, 4096);
  for (auto _ : state) {
    for (int i = 0; i < kBlocks; ++i) {
      char *p = static_cast<char *>(pool.allocate(size[i], 8));
      *p = char(i);
      benchmark::DoNotOptimize(p);
    }
    pool.reset();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kBlocks);
}

void Allocate_malloc(benchmark::State &state) {
  const std::vector<size_t> &size = sizes();
  std::vector<char *> blocks(kBlocks);
  for (auto _ : state) {
    for (int i = 0; i < kBlocks; ++i) {
      char *p = static_cast<char *>(std::malloc(size[i]));
      *p = char(i);
      benchmark::DoNotOptimize(p);
      blocks[i] = p;
    }
    for (int i = 0; i < kBlocks; ++i) std::free(blocks[i]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kBlocks);
}

BENCHMARK(Allocate_BumpAllocator);
BENCHMARK(Allocate_malloc);

} // namespace

int main(int argc, char **argv) {
  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;
  // At least five times as fast as malloc.
  RatioTable table("CPU time per 1000 blocks of 8..64 bytes and their release");
  table.add(reporter, "Allocate_BumpAllocator", "Allocate_malloc", Goal::atMost(0.2));
  table.print();
  benchmark::Shutdown();
  return 0;
}
