// APInt text conversion beside GMP's, in one run: writing 64-, 256- and 4096-bit values in radix
// 10 and 16 (appendText into a reused buffer against mpz_get_str into a preallocated one) and
// reading them back (parseText into a value of the width against mpz_set_str into a preallocated
// mpz). Each loop round converts 64 different values. The summary table sets each figure of ours
// beside GMP's, with the goal for the ratio.

#include "support/apint/APInt.h"

#include <benchmark/benchmark.h>
#include <gmp.h>

#include "bench/TimeRecorder.h"

#include <random>
#include <string>
#include <vector>

using vorn::APInt;
using vorn::Word;

namespace {

const int kValues = 64;

struct TextData {
  uint32_t width;
  std::vector<APInt> values;
  std::vector<mpz_t> mpz;
  std::vector<std::string> text10, text16;
  std::vector<char> buffer; // mpz_get_str's output

  explicit TextData(uint32_t w) : width(w), mpz(kValues) {
    std::mt19937_64 rng(20240918 + w);
    for (int i = 0; i < kValues; ++i) {
      std::vector<Word> words((w + 63) / 64);
      for (Word &x : words) x = rng();
      if (w % 64) words.back() &= ~Word(0) >> (64 - w % 64);
      words.back() |= Word(1) << ((w - 1) % 64); // all `w` bits significant
      values.push_back(APInt(w, vorn::WordView(words.data(), uint32_t(words.size()))));
      mpz_init2(mpz[i], w + 64);
      mpz_import(mpz[i], words.size(), -1, sizeof(Word), 0, 0, words.data());
      text10.push_back(values.back().toText(10, false));
      text16.push_back(values.back().toText(16, false));
    }
    buffer.resize(w + 16);
  }
};

TextData &data(uint32_t width) {
  static TextData d64(64), d256(256), d4096(4096);
  return width == 64 ? d64 : width == 256 ? d256 : d4096;
}

void writeAPInt(benchmark::State &state, uint32_t width, uint32_t radix) {
  TextData &d = data(width);
  vorn::InlineString<40> text;
  text.reserve(width + 8);
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i) {
      text.clear();
      d.values[i].appendText(text, radix, false);
      benchmark::DoNotOptimize(text.data());
    }
    benchmark::ClobberMemory();
  }
}

void writeMpz(benchmark::State &state, uint32_t width, uint32_t radix) {
  TextData &d = data(width);
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i) {
      // A negative base gives upper-case letters, as APInt writes them.
      mpz_get_str(d.buffer.data(), -int(radix), d.mpz[i]);
      benchmark::DoNotOptimize(d.buffer.data());
    }
    benchmark::ClobberMemory();
  }
}

void readAPInt(benchmark::State &state, uint32_t width, uint32_t radix) {
  TextData &d = data(width);
  const std::vector<std::string> &texts = radix == 10 ? d.text10 : d.text16;
  APInt value(width, 0);
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i) {
      value.parseText(width, texts[i], radix);
      benchmark::DoNotOptimize(value.wordData());
    }
    benchmark::ClobberMemory();
  }
}

void readMpz(benchmark::State &state, uint32_t width, uint32_t radix) {
  TextData &d = data(width);
  const std::vector<std::string> &texts = radix == 10 ? d.text10 : d.text16;
  mpz_t value;
  mpz_init2(value, width + 64);
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i) {
      mpz_set_str(value, texts[i].c_str(), int(radix));
      benchmark::DoNotOptimize(value[0]._mp_d);
    }
    benchmark::ClobberMemory();
  }
  mpz_clear(value);
}

} // namespace

int main(int argc, char **argv) {
  // The summary's rows: label, the benchmarks' common stem (ours ends in "/APInt", GMP's in
  // "/mpz") and the goal.
  struct Pair {
    std::string label, stem;
    Goal goal;
  };
  std::vector<Pair> pairs;
  for (uint32_t width : {64u, 256u, 4096u})
    for (uint32_t radix : {10u, 16u}) {
      Goal goal = width == 4096 ? Goal::none() : Goal::below(1);
      std::string base = std::to_string(width) + "/radix" + std::to_string(radix);
      benchmark::RegisterBenchmark(("write" + base + "/APInt").c_str(), writeAPInt, width, radix);
      benchmark::RegisterBenchmark(("write" + base + "/mpz").c_str(), writeMpz, width, radix);
      benchmark::RegisterBenchmark(("read" + base + "/APInt").c_str(), readAPInt, width, radix);
      benchmark::RegisterBenchmark(("read" + base + "/mpz").c_str(), readMpz, width, radix);
      for (std::string op : {"write", "read"})
        pairs.push_back({op + base, op + base, goal});
    }

  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;

  RatioTable table("CPU time per iteration (of 64 conversions)");
  for (const Pair &p : pairs)
    table.add(reporter, p.label, p.stem + "/APInt", "mpz", p.stem + "/mpz", p.goal);
  table.print();
  benchmark::Shutdown();
  return 0;
}
