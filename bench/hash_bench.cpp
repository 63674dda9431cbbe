// Hashing throughput: hashBytes against std::hash<std::string_view> (the standard library's hash
// of a byte range) on inputs of 8, 16, 64, 1024 and 1 MiB random bytes, starting at an odd
// address so that neither side gets aligned reads for free. The summary table sets both side by
// side per size.

#include "support/text/Hashing.h"

#include <benchmark/benchmark.h>

#include "bench/TimeRecorder.h"

#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

const size_t kSizes[] = {8, 16, 64, 1024, size_t(1) << 20};

const std::vector<char> &bytes() {
  static const std::vector<char> data = [] {
    std::vector<char> v((size_t(1) << 20) + 1);
    std::mt19937 rng(12345);
    for (char &c : v) c = char(rng());
    return v;
  }();
  return data;
}

void ours(benchmark::State &state, size_t n) {
  const char *first = bytes().data() + 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(first);
    vorn::HashCode h = vorn::hashBytes(first, first + n);
    benchmark::DoNotOptimize(h);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

void anchor(benchmark::State &state, size_t n) {
  const char *first = bytes().data() + 1;
  std::hash<std::string_view> hasher;
  for (auto _ : state) {
    benchmark::DoNotOptimize(first);
    size_t h = hasher(std::string_view(first, n));
    benchmark::DoNotOptimize(h);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

std::string name(const char *who, size_t n) { return std::string(who) + "/" + std::to_string(n); }

} // namespace

int main(int argc, char **argv) {
  for (size_t n : kSizes) {
    benchmark::RegisterBenchmark(name("hashBytes", n).c_str(),
                                 [n](benchmark::State &s) { ours(s, n); });
    benchmark::RegisterBenchmark(name("std::hash", n).c_str(),
                                 [n](benchmark::State &s) { anchor(s, n); });
  }
  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;

  RatioTable table("CPU time per hash of the number of bytes after the slash");
  for (size_t n : kSizes) table.add(reporter, name("hashBytes", n), name("std::hash", n));
  table.print();
  benchmark::Shutdown();
  return 0;
}
