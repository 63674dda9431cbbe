// NodeSet::findOrAdd beside std::unordered_set of std::vector<uint32_t>, both hashing with
// hashWords, in one run: each loop round starts from an empty set and adds 10^5 distinct
// profiles of 2 to 12 words (the nodes exist beforehand, as they would in a program; the standard
// set builds each vector from the same words), then looks each up again through findOrAdd /
// insert, which now find it. The summary table sets our time beside the standard set's, with the
// goal for the ratio.

#include "support/text/NodeSet.h"

#include <benchmark/benchmark.h>

#include "bench/TimeRecorder.h"

#include <random>
#include <unordered_set>
#include <vector>

namespace {

const uint32_t kProfiles = 100000;

struct Node : vorn::NodeSetNode {
  const uint32_t *words;
  uint32_t count;
  void profile(vorn::NodeProfile &p) const { p.append(words, words + count); }
};

struct Data {
  std::vector<std::vector<uint32_t>> profiles;
  std::vector<Node> nodes, twins; // twins: equal profiles, distinct nodes
  Data() {
    std::mt19937 rng(20240919);
    for (uint32_t i = 0; i < kProfiles; ++i) {
      std::vector<uint32_t> words(2 + rng() % 11);
      for (uint32_t &w : words) w = rng() % 64; // small values, as node profiles tend to hold
      words[0] = i;                             // distinct
      profiles.push_back(words);
    }
    nodes.resize(kProfiles);
    twins.resize(kProfiles);
    for (uint32_t i = 0; i < kProfiles; ++i) {
      nodes[i].words = twins[i].words = profiles[i].data();
      nodes[i].count = twins[i].count = uint32_t(profiles[i].size());
    }
  }
};

Data &data() {
  static Data d;
  return d;
}

struct WordsHash {
  size_t operator()(const std::vector<uint32_t> &v) const {
    return vorn::hashWords(v.data(), v.data() + v.size());
  }
};

void FindOrAdd_NodeSet(benchmark::State &state) {
  Data &d = data();
  for (auto _ : state) {
    vorn::NodeSetOf<Node> set;
    for (Node &n : d.nodes) benchmark::DoNotOptimize(set.findOrAdd(&n));
    for (Node &n : d.twins) benchmark::DoNotOptimize(set.findOrAdd(&n));
    state.PauseTiming();
    for (Node &n : d.nodes) set.remove(&n); // the nodes belong to no set for the next round
    state.ResumeTiming();
  }
}

void FindOrAdd_unordered_set(benchmark::State &state) {
  Data &d = data();
  for (auto _ : state) {
    std::unordered_set<std::vector<uint32_t>, WordsHash> set;
    for (std::vector<Node> *nodes : {&d.nodes, &d.twins})
      for (Node &n : *nodes) {
        auto added = set.insert(std::vector<uint32_t>(n.words, n.words + n.count));
        benchmark::DoNotOptimize(&*added.first);
      }
    state.PauseTiming();
    set = {};
    state.ResumeTiming();
  }
}

BENCHMARK(FindOrAdd_NodeSet)->Unit(benchmark::kMillisecond);
BENCHMARK(FindOrAdd_unordered_set)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;
  RatioTable table("CPU time per round of 10^5 adds and 10^5 finds");
  table.add(reporter, "FindOrAdd_NodeSet", "FindOrAdd_unordered_set", Goal::below(1));
  table.print();
  benchmark::Shutdown();
  return 0;
}
