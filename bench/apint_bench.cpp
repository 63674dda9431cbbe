// APInt beside plain uint64_t and GMP's mpz, in one run:
//  - inline values (width 64) against the same code on uint64_t: add, multiply and shift in a
//    local variable, each operation taking the previous result (1024 steps), and add, multiply,
//    compare and shift element by element over arrays of 1024 values. Both sides are compiled
//    without auto-vectorisation, so that the figures compare one scalar operation with another.
//  - 128 and 256 bits: in-place add, subtract, compare and shift of 64 operand pairs, against
//    mpz with preallocated results. Add and subtract go y then -y, so the values keep their size;
//    the shift copies the value into a preallocated result and shifts that in place, on both
//    sides (mpz's own copy-and-shift, mpz_mul_2exp into another result, is one pass).
//  - 1024 and 4096 bits: multiply (a copy, then *=) and divide (quotient and remainder of a value
//    by one of half its width into outputs of the right width) against mpz_mul and mpz_tdiv_qr
//    into preallocated results. APInt's product wraps at the width; mpz's is the full one.
// The summary table sets each figure of ours beside its anchor's, with the goal for the ratio.

#include "support/apint/APInt.h"

#include <benchmark/benchmark.h>
#include <gmp.h>

#include "bench/TimeRecorder.h"

#include <random>
#include <string>
#include <vector>

using vorn::APInt;
using vorn::Word;

// The kernels on both sides stay scalar: vectorising only the uint64_t loops would measure the
// compiler rather than the operations.
#define SCALAR __attribute__((noinline, optimize("no-tree-vectorize")))

namespace {

std::mt19937_64 &rng() {
  static std::mt19937_64 r(20240917);
  return r;
}

// A random value with exactly `bits` significant bits (the top one set).
std::vector<Word> randomWords(uint32_t width, uint32_t bits) {
  std::vector<Word> w((width + 63) / 64, 0);
  for (uint32_t i = 0; i < bits; i += 64) w[i / 64] = rng()();
  if (bits % 64) w[bits / 64] &= ~Word(0) >> (64 - bits % 64);
  w[(bits - 1) / 64] |= Word(1) << ((bits - 1) % 64);
  return w;
}

APInt toAPInt(uint32_t width, const std::vector<Word> &w) {
  return APInt(width, vorn::WordView(w.data(), uint32_t(w.size())));
}

void toMpz(mpz_t out, const APInt &v) {
  mpz_import(out, v.wordCount(), -1, sizeof(Word), 0, 0, v.wordData());
}

// --- Inline values --------------------------------------------------------------------------------

const int kInline = 1024;

struct InlineData {
  std::vector<uint64_t> a, b;
  std::vector<uint32_t> s;
  std::vector<APInt> x, y;
  InlineData() {
    for (int i = 0; i < kInline; ++i) {
      a.push_back(rng()());
      b.push_back(i % 8 ? rng()() : a.back()); // some equal pairs for the comparisons
      s.push_back(uint32_t(rng()() % 64));
      x.push_back(APInt(64, a.back()));
      y.push_back(APInt(64, b.back()));
    }
  }
};

InlineData &inlineData() {
  static InlineData d;
  return d;
}

enum class Op { add, sub, mul, div, compare, shift, addChain, mulChain, shiftChain };

SCALAR void plainKernel(Op op, const InlineData &d, std::vector<uint64_t> &out, uint64_t &count) {
  switch (op) {
  case Op::add:
    for (int i = 0; i < kInline; ++i) out[i] = d.a[i] + d.b[i];
    break;
  case Op::mul:
    for (int i = 0; i < kInline; ++i) out[i] = d.a[i] * d.b[i];
    break;
  case Op::compare:
    for (int i = 0; i < kInline; ++i) count += d.a[i] < d.b[i];
    break;
  case Op::shift:
    for (int i = 0; i < kInline; ++i) out[i] = d.a[i] << d.s[i];
    break;
  case Op::addChain: {
    uint64_t acc = d.a[0];
    for (int i = 0; i < kInline; ++i) acc += d.b[i];
    count += acc;
    break;
  }
  case Op::mulChain: {
    uint64_t acc = d.a[0];
    for (int i = 0; i < kInline; ++i) acc *= d.b[i];
    count += acc;
    break;
  }
  case Op::shiftChain: {
    uint64_t acc = d.a[0];
    for (int i = 0; i < kInline; ++i) acc = (acc << d.s[i]) ^ d.b[i];
    count += acc;
    break;
  }
  default:
    break;
  }
}

SCALAR void apintKernel(Op op, const InlineData &d, std::vector<APInt> &out, uint64_t &count) {
  switch (op) {
  case Op::add:
    for (int i = 0; i < kInline; ++i) out[i] = d.x[i] + d.y[i];
    break;
  case Op::mul:
    for (int i = 0; i < kInline; ++i) out[i] = d.x[i] * d.y[i];
    break;
  case Op::compare:
    for (int i = 0; i < kInline; ++i) count += d.x[i].unsignedLess(d.y[i]);
    break;
  case Op::shift:
    for (int i = 0; i < kInline; ++i) out[i] = d.x[i].shiftedLeft(d.s[i]);
    break;
  case Op::addChain: {
    APInt acc = d.x[0];
    for (int i = 0; i < kInline; ++i) acc += d.y[i];
    count += acc.asUint64();
    break;
  }
  case Op::mulChain: {
    APInt acc = d.x[0];
    for (int i = 0; i < kInline; ++i) acc *= d.y[i];
    count += acc.asUint64();
    break;
  }
  case Op::shiftChain: {
    APInt acc = d.x[0];
    for (int i = 0; i < kInline; ++i) {
      acc <<= d.s[i];
      acc ^= d.y[i];
    }
    count += acc.asUint64();
    break;
  }
  default:
    break;
  }
}

void inlinePlain(benchmark::State &state, Op op) {
  const InlineData &d = inlineData();
  std::vector<uint64_t> out(kInline);
  uint64_t count = 0;
  for (auto _ : state) {
    plainKernel(op, d, out, count);
    benchmark::DoNotOptimize(out.data());
    benchmark::DoNotOptimize(count);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kInline);
}

void inlineAPInt(benchmark::State &state, Op op) {
  const InlineData &d = inlineData();
  std::vector<APInt> out(kInline, APInt(64, 0));
  uint64_t count = 0;
  for (auto _ : state) {
    apintKernel(op, d, out, count);
    benchmark::DoNotOptimize(out.data());
    benchmark::DoNotOptimize(count);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kInline);
}

// --- 128 and 256 bits, in place -------------------------------------------------------------------

const int kWide = 64;

struct WideData {
  uint32_t width;
  std::vector<APInt> x, y, minusY, t;
  std::vector<uint32_t> s;
  mpz_t mx[kWide], my[kWide], mMinusY[kWide], mt[kWide];
  explicit WideData(uint32_t w) : width(w) {
    for (int i = 0; i < kWide; ++i) {
      x.push_back(toAPInt(w, randomWords(w, w - uint32_t(rng()() % 8))));
      y.push_back(i % 8 ? toAPInt(w, randomWords(w, w - uint32_t(rng()() % 8))) : x.back());
      minusY.push_back(-y.back());
      t.push_back(APInt(w, 0));
      s.push_back(uint32_t(rng()() % w));
      mpz_init(mx[i]);
      mpz_init(my[i]);
      mpz_init(mMinusY[i]);
      mpz_init2(mt[i], 2 * w + 64);
      toMpz(mx[i], x[i]);
      toMpz(my[i], y[i]);
      mpz_neg(mMinusY[i], my[i]);
    }
  }
};

WideData &wideData(uint32_t width) {
  static WideData d128(128), d256(256);
  return width == 128 ? d128 : d256;
}

void wideAPInt(benchmark::State &state, uint32_t width, Op op) {
  WideData &d = wideData(width);
  uint64_t count = 0;
  for (auto _ : state) {
    switch (op) {
    case Op::add:
      for (int i = 0; i < kWide; ++i) {
        d.x[i] += d.y[i];
        d.x[i] += d.minusY[i];
      }
      break;
    case Op::sub:
      for (int i = 0; i < kWide; ++i) {
        d.x[i] -= d.y[i];
        d.x[i] -= d.minusY[i];
      }
      break;
    case Op::compare:
      for (int i = 0; i < kWide; ++i) count += d.x[i].unsignedLess(d.y[i]);
      break;
    case Op::shift:
      for (int i = 0; i < kWide; ++i) {
        d.t[i] = d.x[i];
        d.t[i] <<= d.s[i];
      }
      break;
    default:
      break;
    }
    benchmark::DoNotOptimize(count);
    benchmark::ClobberMemory();
  }
}

void wideMpz(benchmark::State &state, uint32_t width, Op op) {
  WideData &d = wideData(width);
  uint64_t count = 0;
  for (auto _ : state) {
    switch (op) {
    case Op::add:
      for (int i = 0; i < kWide; ++i) {
        mpz_add(d.mx[i], d.mx[i], d.my[i]);
        mpz_add(d.mx[i], d.mx[i], d.mMinusY[i]);
      }
      break;
    case Op::sub:
      for (int i = 0; i < kWide; ++i) {
        mpz_sub(d.mx[i], d.mx[i], d.my[i]);
        mpz_sub(d.mx[i], d.mx[i], d.mMinusY[i]);
      }
      break;
    case Op::compare:
      for (int i = 0; i < kWide; ++i) count += mpz_cmp(d.mx[i], d.my[i]) < 0;
      break;
    case Op::shift:
      for (int i = 0; i < kWide; ++i) {
        mpz_set(d.mt[i], d.mx[i]);
        mpz_mul_2exp(d.mt[i], d.mt[i], d.s[i]);
      }
      break;
    default:
      break;
    }
    benchmark::DoNotOptimize(count);
    benchmark::ClobberMemory();
  }
}

// --- 1024 and 4096 bits: multiply and divide ----------------------------------------------------

const int kBig = 8;

struct BigData {
  std::vector<APInt> x, y, d, product, quotient, remainder;
  mpz_t mx[kBig], my[kBig], md[kBig], mProduct, mQuotient, mRemainder;
  explicit BigData(uint32_t w) {
    for (int i = 0; i < kBig; ++i) {
      x.push_back(toAPInt(w, randomWords(w, w)));
      y.push_back(toAPInt(w, randomWords(w, w)));
      d.push_back(toAPInt(w, randomWords(w, w / 2)));
      mpz_init(mx[i]);
      mpz_init(my[i]);
      mpz_init(md[i]);
      toMpz(mx[i], x[i]);
      toMpz(my[i], y[i]);
      toMpz(md[i], d[i]);
    }
    product.assign(1, APInt(w, 0));
    quotient.assign(1, APInt(w, 0));
    remainder.assign(1, APInt(w, 0));
    mpz_init2(mProduct, 2 * w + 64);
    mpz_init2(mQuotient, w + 64);
    mpz_init2(mRemainder, w + 64);
  }
};

BigData &bigData(uint32_t width) {
  static BigData d1024(1024), d4096(4096);
  return width == 1024 ? d1024 : d4096;
}

void bigAPInt(benchmark::State &state, uint32_t width, Op op) {
  BigData &b = bigData(width);
  int i = 0;
  for (auto _ : state) {
    if (op == Op::mul) {
      b.product[0] = b.x[i];
      b.product[0] *= b.y[i];
    } else {
      APInt::divRemUnsigned(b.x[i], b.d[i], b.quotient[0], b.remainder[0]);
    }
    benchmark::ClobberMemory();
    i = (i + 1) % kBig;
  }
}

void bigMpz(benchmark::State &state, uint32_t width, Op op) {
  BigData &b = bigData(width);
  int i = 0;
  for (auto _ : state) {
    if (op == Op::mul)
      mpz_mul(b.mProduct, b.mx[i], b.my[i]);
    else
      mpz_tdiv_qr(b.mQuotient, b.mRemainder, b.mx[i], b.md[i]);
    benchmark::ClobberMemory();
    i = (i + 1) % kBig;
  }
}

} // namespace

int main(int argc, char **argv) {
  // The summary's rows: label, the benchmarks' common stem (ours ends in "/APInt", the anchor's
  // in "/" and its name), the anchor's name and the goal.
  struct Pair {
    std::string label, stem;
    const char *anchor;
    Goal goal;
  };
  std::vector<Pair> pairs;
  // Inline values: in local variables, each operation taking the previous result (the value
  // stays in registers, the width is known only at run time), and element by element over arrays
  // (the values in memory, each carrying its width).
  const struct {
    Op op;
    const char *name;
  } inlineOps[] = {{Op::addChain, "local/add"},      {Op::mulChain, "local/multiply"},
                   {Op::shiftChain, "local/shift"},  {Op::add, "array/add"},
                   {Op::mul, "array/multiply"},      {Op::compare, "array/compare"},
                   {Op::shift, "array/shift"}};
  for (const auto &o : inlineOps) {
    std::string base = std::string("inline64/") + o.name;
    benchmark::RegisterBenchmark((base + "/APInt").c_str(), inlineAPInt, o.op);
    benchmark::RegisterBenchmark((base + "/uint64_t").c_str(), inlinePlain, o.op);
    pairs.push_back({base + " (1024)", base, "uint64_t", Goal::atMost(1.5)});
  }
  const struct {
    Op op;
    const char *name;
  } wideOps[] = {{Op::add, "add"}, {Op::sub, "subtract"}, {Op::compare, "compare"},
                 {Op::shift, "shift"}};
  for (uint32_t width : {128u, 256u})
    for (const auto &o : wideOps) {
      std::string base = "wide" + std::to_string(width) + "/" + o.name;
      benchmark::RegisterBenchmark((base + "/APInt").c_str(), wideAPInt, width, o.op);
      benchmark::RegisterBenchmark((base + "/mpz").c_str(), wideMpz, width, o.op);
      pairs.push_back({base + " (64)", base, "mpz", Goal::below(1)});
    }
  for (uint32_t width : {1024u, 4096u})
    for (Op op : {Op::mul, Op::div}) {
      std::string base = "big" + std::to_string(width) + (op == Op::mul ? "/multiply" : "/divide");
      benchmark::RegisterBenchmark((base + "/APInt").c_str(), bigAPInt, width, op);
      benchmark::RegisterBenchmark((base + "/mpz").c_str(), bigMpz, width, op);
      pairs.push_back({base, base, "mpz", width == 1024 ? Goal::atMost(4) : Goal::none()});
    }

  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;

  RatioTable table("CPU time per iteration (of the number of operations in brackets)");
  for (const Pair &p : pairs)
    table.add(reporter, p.label, p.stem + "/APInt", p.anchor, p.stem + "/" + p.anchor, p.goal);
  table.print();
  benchmark::Shutdown();
  return 0;
}
