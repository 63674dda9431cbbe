// Output of small strings and of integers through the support library's streams, against the C
// library's buffered FILE and the standard library's string stream. The summary table sets each
// figure beside its anchor's, with the goal for the ratio.

#include <benchmark/benchmark.h>

#include "bench/TimeRecorder.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/streams/FdOutStream.h"
#include "support/streams/VectorOutStream.h"

namespace {

const int itemsPerIteration = 1000;

const char *const words[] = {"a", "to", "the", "word", "hello", "stream", "output!", "buffered",
                             "libraries", "formatting", " ", "\n", "--prefix", "/usr/lib", "x86",
                             "link"};
const unsigned wordCount = sizeof(words) / sizeof(words[0]);

struct SmallString {
  const char *text;
  size_t size;
};

std::vector<SmallString> makeStrings() {
  std::vector<SmallString> out;
  for (int i = 0; i < itemsPerIteration; ++i) {
    const char *w = words[(i * 7 + i / 3) % wordCount];
    out.push_back({w, strlen(w)});
  }
  return out;
}

// Integers of all magnitudes, negative ones included.
std::vector<int> makeInts() {
  std::mt19937 rng(1234);
  std::vector<int> out;
  for (int i = 0; i < itemsPerIteration; ++i) {
    int v = int(rng() >> (rng() % 32));
    out.push_back(rng() % 4 == 0 ? -v : v);
  }
  return out;
}

const std::vector<SmallString> strings = makeStrings();
const std::vector<int> ints = makeInts();

void SmallStrings_VectorOutStream(benchmark::State &state) {
  vorn::InlineVector<char, 256> vec;
  vorn::VectorOutStream s(vec);
  for (auto _ : state) {
    for (const SmallString &w : strings) s.write(w.text, w.size);
    s.flush();
    benchmark::DoNotOptimize(vec.data());
    vec.clear();
    s.rebindBuffer();
  }
}

void SmallStrings_FdOutStream(benchmark::State &state) {
  vorn::FdOutStream s(open("/dev/null", O_WRONLY), true);
  for (auto _ : state)
    for (const SmallString &w : strings) s.write(w.text, w.size);
}

void SmallStrings_fwrite(benchmark::State &state) {
  FILE *f = fopen("/dev/null", "w");
  for (auto _ : state)
    for (const SmallString &w : strings) fwrite(w.text, 1, w.size, f);
  fclose(f);
}

void SmallStrings_ostringstream(benchmark::State &state) {
  std::ostringstream os;
  for (auto _ : state) {
    for (const SmallString &w : strings) os.write(w.text, std::streamsize(w.size));
    benchmark::DoNotOptimize(os.tellp());
    os.str(std::string());
  }
}

void Ints_VectorOutStream(benchmark::State &state) {
  vorn::InlineVector<char, 256> vec;
  vorn::VectorOutStream s(vec);
  for (auto _ : state) {
    for (int v : ints) s << v;
    s.flush();
    benchmark::DoNotOptimize(vec.data());
    vec.clear();
    s.rebindBuffer();
  }
}

void Ints_FdOutStream(benchmark::State &state) {
  vorn::FdOutStream s(open("/dev/null", O_WRONLY), true);
  for (auto _ : state)
    for (int v : ints) s << v;
}

void Ints_snprintf_fwrite(benchmark::State &state) {
  FILE *f = fopen("/dev/null", "w");
  char buf[16];
  for (auto _ : state) {
    for (int v : ints) {
      int n = snprintf(buf, sizeof(buf), "%d", v);
      fwrite(buf, 1, size_t(n), f);
    }
  }
  fclose(f);
}

void Ints_ostringstream(benchmark::State &state) {
  std::ostringstream os;
  for (auto _ : state) {
    for (int v : ints) os << v;
    benchmark::DoNotOptimize(os.tellp());
    os.str(std::string());
  }
}

BENCHMARK(SmallStrings_VectorOutStream);
BENCHMARK(SmallStrings_FdOutStream);
BENCHMARK(SmallStrings_fwrite);
BENCHMARK(SmallStrings_ostringstream);
BENCHMARK(Ints_VectorOutStream);
BENCHMARK(Ints_FdOutStream);
BENCHMARK(Ints_snprintf_fwrite);
BENCHMARK(Ints_ostringstream);

} // namespace

int main(int argc, char **argv) {
  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;
  // At least as fast as each anchor; integers into our streams at least twice as fast as
  // snprintf + fwrite.
  RatioTable table("CPU time per " + std::to_string(itemsPerIteration) + " items");
  table.add(reporter, "SmallStrings_VectorOutStream", "SmallStrings_fwrite", Goal::atMost(1));
  table.add(reporter, "SmallStrings_FdOutStream", "SmallStrings_fwrite", Goal::atMost(1));
  table.add(reporter, "SmallStrings_VectorOutStream", "SmallStrings_ostringstream", Goal::atMost(1));
  table.add(reporter, "Ints_VectorOutStream", "Ints_snprintf_fwrite", Goal::atMost(0.5));
  table.add(reporter, "Ints_FdOutStream", "Ints_snprintf_fwrite", Goal::atMost(0.5));
  table.add(reporter, "Ints_VectorOutStream", "Ints_ostringstream", Goal::atMost(1));
  table.print();
  benchmark::Shutdown();
  return 0;
}
