// Lookups of 53 short keys (component-like names, the size of vorn-config's catalogue) in
// StrHashMap against std::unordered_map<std::string, ...>. Each iteration looks every key up once
// (all hits), and once more with a key that misses. Two ways of asking: with keys already held as
// the map's key type (std::string for the anchor, StrView for ours), and from C strings, as the
// catalogue and the command line hold them. The summary table sets each figure beside the
// anchor's.

#include "support/text/StrHashMap.h"

#include <benchmark/benchmark.h>

#include "bench/TimeRecorder.h"

#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

using vorn::StrHashMap;
using vorn::StrView;

namespace {

const char *const kKeys[53] = {
    "all",          "analysis",      "archive-io",   "asm-read",      "asm-write",     "dag-select",
    "debug-read",   "disassembly",   "driver-opts",  "dyn-link",      "exec-base",     "executor",
    "host",         "interpreter",   "ipa",          "ipo",           "ir",            "ir-decode",
    "ir-encode",    "ir-link",       "ir-load",      "ir-text",       "jit-compiler",  "lowering",
    "mcode",        "object-read",   "optimizer",    "pass-pipeline", "profile-read",  "profiling",
    "r600",         "r600-asm-read", "r600-asm-out", "r600-desc",     "r600-info",     "r600-lower",
    "scalar",       "support",       "target-model", "targets",       "test-main",     "transform",
    "unit-testing", "vector",        "whole-prog",   "x86",           "x86-asm-read",  "x86-asm-out",
    "x86-desc",     "x86-disasm",    "x86-info",     "x86-lowering",  "x86-utils"};
const char kMissing[] = "no-such-component";

struct Fixture {
  StrHashMap<int> ours;
  std::unordered_map<std::string, int> anchor;
  std::vector<StrView> views;
  std::vector<std::string> strings;
  Fixture() {
    for (int i = 0; i < 53; ++i) {
      ours.insert(kKeys[i]).entry->value = i;
      anchor.emplace(kKeys[i], i);
      views.push_back(StrView(kKeys[i]));
      strings.push_back(kKeys[i]);
    }
    views.push_back(StrView(kMissing));
    strings.push_back(kMissing);
  }
};

Fixture &fixture() {
  static Fixture f;
  return f;
}

void oursHeld(benchmark::State &state) {
  Fixture &f = fixture();
  for (auto _ : state) {
    int sum = 0;
    for (StrView k : f.views) {
      auto *e = f.ours.find(k);
      sum += e ? e->value : -1;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 54);
}

void anchorHeld(benchmark::State &state) {
  Fixture &f = fixture();
  for (auto _ : state) {
    int sum = 0;
    for (const std::string &k : f.strings) {
      auto it = f.anchor.find(k);
      sum += it != f.anchor.end() ? it->second : -1;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 54);
}

void oursFromCString(benchmark::State &state) {
  Fixture &f = fixture();
  for (auto _ : state) {
    int sum = 0;
    for (int i = 0; i <= 53; ++i) {
      const char *k = i < 53 ? kKeys[i] : kMissing;
      benchmark::DoNotOptimize(k);
      auto *e = f.ours.find(StrView(k));
      sum += e ? e->value : -1;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 54);
}

void anchorFromCString(benchmark::State &state) {
  Fixture &f = fixture();
  for (auto _ : state) {
    int sum = 0;
    for (int i = 0; i <= 53; ++i) {
      const char *k = i < 53 ? kKeys[i] : kMissing;
      benchmark::DoNotOptimize(k);
      auto it = f.anchor.find(k);
      sum += it != f.anchor.end() ? it->second : -1;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 54);
}

// Building the map from scratch, as vorn-config does on every resolution.
void oursBuild(benchmark::State &state) {
  for (auto _ : state) {
    StrHashMap<int> m;
    for (int i = 0; i < 53; ++i) m.insert(kKeys[i]).entry->value = i;
    benchmark::DoNotOptimize(m.size());
  }
}

void anchorBuild(benchmark::State &state) {
  for (auto _ : state) {
    std::unordered_map<std::string, int> m;
    for (int i = 0; i < 53; ++i) m.emplace(kKeys[i], i);
    benchmark::DoNotOptimize(m.size());
  }
}

} // namespace

int main(int argc, char **argv) {
  struct Pair {
    const char *what, *ours, *anchor;
  };
  const Pair pairs[] = {
      {"54 lookups, keys held", "lookup/held/StrHashMap", "lookup/held/unordered_map"},
      {"54 lookups, from C strings", "lookup/cstring/StrHashMap", "lookup/cstring/unordered_map"},
      {"build with 53 keys", "build/StrHashMap", "build/unordered_map"},
  };
  benchmark::RegisterBenchmark(pairs[0].ours, oursHeld);
  benchmark::RegisterBenchmark(pairs[0].anchor, anchorHeld);
  benchmark::RegisterBenchmark(pairs[1].ours, oursFromCString);
  benchmark::RegisterBenchmark(pairs[1].anchor, anchorFromCString);
  benchmark::RegisterBenchmark(pairs[2].ours, oursBuild);
  benchmark::RegisterBenchmark(pairs[2].anchor, anchorBuild);

  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;

  RatioTable table("CPU time per iteration");
  for (const Pair &p : pairs) table.add(reporter, p.what, p.ours, "unordered_map", p.anchor);
  table.print();
  benchmark::Shutdown();
  return 0;
}
