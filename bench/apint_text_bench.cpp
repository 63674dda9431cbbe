// APInt text conversion beside GMP's mpz and Boost.Multiprecision's cpp_int, in one run: writing
// 64-, 128-, 256-, 1024- and 4096-bit values in radix 10 and 16, and reading them back. Each loop
// round converts 64 different values, all of whose bits are significant. What each side does:
//   write  APInt: appendText into a reused buffer. mpz: mpz_get_str into a preallocated buffer.
//          cpp_int: str(), which has no form that writes into the caller's buffer and returns a
//          new std::string each time (its allocation is the library's cost).
//   read   APInt: parseText into a value of the width. mpz: mpz_set_str into a preallocated mpz.
//          cpp_int: assign() from the text into a preallocated cpp_int (it builds the value aside
//          and swaps it in); it reads hexadecimal only after "0x", so its radix-16 texts carry
//          that prefix.
// All three write upper-case digits without a prefix; APInt reads into a value of the width (it
// wraps there), mpz and cpp_int into values of any length. Before the benchmarks run, the three
// sides' texts of every value are compared. The summary table sets each figure of ours beside
// GMP's and cpp_int's, with the goal for each ratio.

#include "support/apint/APInt.h"

#include <benchmark/benchmark.h>
#include <boost/multiprecision/cpp_int.hpp>
#include <gmp.h>

#include "bench/TimeRecorder.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

using vorn::APInt;
using vorn::Word;
using CppInt = boost::multiprecision::cpp_int;

namespace {

const uint32_t kWidths[] = {64, 128, 256, 1024, 4096};
const int kValues = 64;

// cpp_int's flags for writing in `radix`: upper-case digits, no prefix.
std::ios_base::fmtflags cppIntFlags(uint32_t radix) {
  return radix == 16 ? std::ios_base::hex | std::ios_base::uppercase : std::ios_base::dec;
}

// A cpp_int with storage for `bits` bits, which it keeps when assigned any value that fits.
CppInt cppIntWithRoomFor(uint32_t bits) {
  CppInt value = 1;
  value <<= bits - 1;
  return value;
}

struct TextData {
  uint32_t width;
  std::vector<APInt> values;
  std::vector<mpz_t> mpz;
  std::vector<CppInt> cppInt;
  std::vector<std::string> text10, text16, cppIntText16; // the last with "0x"
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
      cppInt.emplace_back();
      import_bits(cppInt.back(), words.begin(), words.end(), 64, false);
      text10.push_back(values.back().toText(10, false));
      text16.push_back(values.back().toText(16, false));
      cppIntText16.push_back("0x" + text16.back());
    }
    buffer.resize(w + 16);
  }

  // False, after a message, when mpz or cpp_int write any value otherwise than APInt does.
  bool sidesAgree() {
    for (int i = 0; i < kValues; ++i)
      for (uint32_t radix : {10u, 16u}) {
        const std::string &ours = radix == 10 ? text10[i] : text16[i];
        mpz_get_str(buffer.data(), -int(radix), mpz[i]);
        if (ours != buffer.data() || ours != cppInt[i].str(0, cppIntFlags(radix))) {
          std::fprintf(stderr, "apint_text_bench: %u bits, radix %u: the texts differ\n",
                       unsigned(width), unsigned(radix));
          return false;
        }
      }
    return true;
  }
};

TextData &data(uint32_t width) {
  static std::unique_ptr<TextData> all[sizeof kWidths / sizeof kWidths[0]];
  for (size_t i = 0; i < sizeof kWidths / sizeof kWidths[0]; ++i)
    if (kWidths[i] == width) {
      if (!all[i]) all[i].reset(new TextData(width));
      return *all[i];
    }
  std::abort();
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

void writeCppInt(benchmark::State &state, uint32_t width, uint32_t radix) {
  TextData &d = data(width);
  std::ios_base::fmtflags flags = cppIntFlags(radix);
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i) {
      std::string text = d.cppInt[i].str(0, flags);
      benchmark::DoNotOptimize(text.data());
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

void readCppInt(benchmark::State &state, uint32_t width, uint32_t radix) {
  TextData &d = data(width);
  const std::vector<std::string> &texts = radix == 10 ? d.text10 : d.cppIntText16;
  CppInt value = cppIntWithRoomFor(width + 64);
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i) {
      value.assign(texts[i].c_str());
      benchmark::DoNotOptimize(value.backend().limbs());
    }
    benchmark::ClobberMemory();
  }
}

} // namespace

int main(int argc, char **argv) {
  // The summary's rows, in the order of the benchmarks, without their figures until the run.
  // Each row's benchmarks share a stem: ours ends in "/APInt", each anchor's in "/" and the
  // anchor's name.
  struct Row {
    RatioRow row;
    std::string stem;
  };
  std::vector<Row> rows;
  using Side = void (*)(benchmark::State &, uint32_t, uint32_t);
  const struct {
    const char *op;
    Side sides[3]; // APInt, mpz, cpp_int
  } ops[] = {{"write", {writeAPInt, writeMpz, writeCppInt}},
             {"read", {readAPInt, readMpz, readCppInt}}};
  const char *sideNames[] = {"APInt", "mpz", "cpp_int"};
  // The goal for ours / mpz, both ways; against cpp_int every row's goal is below 1.
  auto gmpGoal = [](uint32_t width, uint32_t radix) {
    if (width == 64 || width == 256) return Goal::below(1);
    if (width == 4096 && radix == 10) return Goal::atMost(1.5);
    return Goal::none();
  };

  for (uint32_t width : kWidths) {
    if (!data(width).sidesAgree()) return 1;
    for (uint32_t radix : {10u, 16u})
      for (const auto &o : ops) {
        std::string stem = o.op + std::to_string(width) + "/radix" + std::to_string(radix);
        for (int side = 0; side < 3; ++side)
          benchmark::RegisterBenchmark((stem + "/" + sideNames[side]).c_str(), o.sides[side],
                                       width, radix);
        rows.push_back({{o.op + std::string(" radix ") + std::to_string(radix), {},
                         {"mpz", {}, gmpGoal(width, radix)}, {"cpp_int", {}, Goal::below(1)},
                         std::to_string(width) + " bits"},
                        stem});
      }
  }

  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;

  RatioTable table("CPU time per iteration (of 64 conversions)");
  for (const Row &r : rows) table.add(reporter, r.row, r.stem + "/APInt", r.stem + "/");
  table.print();
  benchmark::Shutdown();
  return 0;
}
