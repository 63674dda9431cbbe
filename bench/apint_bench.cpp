// APInt beside plain uint64_t, GMP's mpz and Boost.Multiprecision's cpp_int, in one run:
//  - inline values (width 64) against the same code on uint64_t: add, multiply and shift in a
//    local variable, each operation taking the previous result (1024 steps), and add, multiply,
//    compare and shift element by element over arrays of 1024 values.
//  - every width of 64, 128, 256, 1024 and 4096 bits against mpz and cpp_int (both arbitrary
//    precision): add, subtract, compare, shift, multiply and divide, each over 64 operand pairs per
//    iteration. APInt wraps at its width; mpz and cpp_int do not, so their sums, shifted values and
//    products may be longer than the width. What each side does per pair:
//      add, subtract  in place, x += y then x += -y (subtract: x -= y, x -= -y), so that the
//                     values keep their size from one round to the next; mpz_add / mpz_sub with
//                     the target as first operand, cpp_int's += / -=.
//      compare        unsigned x < y; one pair in 8 equal. mpz_cmp, cpp_int's < (the values are
//                     never negative).
//      shift          copy x into a preallocated result and shift that left in place by an amount
//                     below the width: the same two steps on every side (mpz_set, mpz_mul_2exp;
//                     cpp_int's = and <<=), although mpz_mul_2exp into another result would do
//                     both in one pass.
//      multiply       APInt copies x into the result and multiplies it in place (*=), wrapping at
//                     the width; mpz_mul and cpp_int's multiply(result, x, y) write the full
//                     product into a preallocated result.
//      divide         quotient and remainder of x by a value of half its width: divRemUnsigned
//                     into outputs of the width, mpz_tdiv_qr and cpp_int's divide_qr into
//                     preallocated results.
//    The results of mpz and cpp_int are preallocated for the longest value they take (mpz_init2;
//    a cpp_int once assigned a value that long keeps its storage), as APInt's results have their
//    width from the start. What a library allocates inside an operation is its own cost (cpp_int:
//    a working value in every division, and in a multiplication at 4096 bits). Before the
//    benchmarks run, every operation is done once on all three sides and the results compared
//    (modulo 2^width, where mpz and cpp_int do not wrap).
// All kernels are compiled without auto-vectorisation, so that the figures compare one scalar
// operation with another. The summary table sets each figure of ours beside its anchors', with the
// goal for each ratio.

#include "support/apint/APInt.h"

#include <benchmark/benchmark.h>
#include <boost/multiprecision/cpp_int.hpp>
#include <gmp.h>

#include "bench/TimeRecorder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

using vorn::APInt;
using vorn::Word;
using CppInt = boost::multiprecision::cpp_int;

// The kernels on every side stay scalar: vectorising only the uint64_t loops would measure the
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

CppInt toCppInt(const APInt &v) {
  CppInt out;
  import_bits(out, v.wordData(), v.wordData() + v.wordCount(), 64, false);
  return out;
}

// A cpp_int with storage for `bits` bits, which it keeps when assigned any value that fits.
CppInt cppIntWithRoomFor(uint32_t bits) {
  CppInt value = 1;
  value <<= bits - 1;
  return value;
}

// --- Inline values -------------------------------------------------------------------------------

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

// Each kernel is its own function (one per operation), so that the code of one loop, its
// registers and its layout do not depend on the loops measured beside it.
template <Op op>
SCALAR void plainKernel(const InlineData &d, std::vector<uint64_t> &out, uint64_t &count) {
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

template <Op op>
SCALAR void apintKernel(const InlineData &d, std::vector<APInt> &out, uint64_t &count) {
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

template <class T> using Kernel = void (*)(const InlineData &, std::vector<T> &, uint64_t &);

template <class T, template <Op> class Of> Kernel<T> kernelFor(Op op) {
  switch (op) {
  case Op::add:
    return Of<Op::add>::kernel;
  case Op::mul:
    return Of<Op::mul>::kernel;
  case Op::compare:
    return Of<Op::compare>::kernel;
  case Op::shift:
    return Of<Op::shift>::kernel;
  case Op::addChain:
    return Of<Op::addChain>::kernel;
  case Op::mulChain:
    return Of<Op::mulChain>::kernel;
  case Op::shiftChain:
    return Of<Op::shiftChain>::kernel;
  default:
    std::abort();
  }
}
template <Op op> struct PlainOf {
  static constexpr Kernel<uint64_t> kernel = plainKernel<op>;
};
template <Op op> struct APIntOf {
  static constexpr Kernel<APInt> kernel = apintKernel<op>;
};

void inlinePlain(benchmark::State &state, Op op) {
  const InlineData &d = inlineData();
  std::vector<uint64_t> out(kInline);
  uint64_t count = 0;
  const Kernel<uint64_t> kernel = kernelFor<uint64_t, PlainOf>(op);
  for (auto _ : state) {
    kernel(d, out, count);
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
  const Kernel<APInt> kernel = kernelFor<APInt, APIntOf>(op);
  for (auto _ : state) {
    kernel(d, out, count);
    benchmark::DoNotOptimize(out.data());
    benchmark::DoNotOptimize(count);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kInline);
}

// --- Every width against mpz and cpp_int, pair by pair -------------------------------------------

const uint32_t kWidths[] = {64, 128, 256, 1024, 4096};
const int kPairs = 64;

// The operands of one width on all three sides, and the results of each (t: shifted values and
// products; q and r: quotients and remainders).
struct Operands {
  std::vector<uint32_t> s; // shift amounts, below the width
  std::vector<APInt> x, y, minusY, d, t, q, r;
  mpz_t mx[kPairs], my[kPairs], mMinusY[kPairs], md[kPairs], mt[kPairs], mq[kPairs], mr[kPairs];
  std::vector<CppInt> cx, cy, cMinusY, cd, ct, cq, cr;

  explicit Operands(uint32_t w) {
    for (int i = 0; i < kPairs; ++i) {
      x.push_back(toAPInt(w, randomWords(w, w - uint32_t(rng()() % 8))));
      y.push_back(i % 8 ? toAPInt(w, randomWords(w, w - uint32_t(rng()() % 8))) : x.back());
      minusY.push_back(-y.back());
      d.push_back(toAPInt(w, randomWords(w, w / 2)));
      s.push_back(uint32_t(rng()() % w));
      t.push_back(APInt(w, 0));
      q.push_back(APInt(w, 0));
      r.push_back(APInt(w, 0));
      for (mpz_t *v : {&mx[i], &my[i], &mMinusY[i], &md[i]}) mpz_init(*v);
      toMpz(mx[i], x[i]);
      toMpz(my[i], y[i]);
      mpz_neg(mMinusY[i], my[i]);
      toMpz(md[i], d[i]);
      mpz_init2(mt[i], 2 * w + 64);
      mpz_init2(mq[i], w + 64);
      mpz_init2(mr[i], w + 64);
      cx.push_back(toCppInt(x[i]));
      cy.push_back(toCppInt(y[i]));
      cMinusY.push_back(-cy.back());
      cd.push_back(toCppInt(d[i]));
      ct.push_back(cppIntWithRoomFor(2 * w + 64));
      cq.push_back(cppIntWithRoomFor(w + 64));
      cr.push_back(cppIntWithRoomFor(w + 64));
    }
  }
};

Operands &operands(uint32_t width) {
  static std::unique_ptr<Operands> all[sizeof kWidths / sizeof kWidths[0]];
  for (size_t i = 0; i < sizeof kWidths / sizeof kWidths[0]; ++i)
    if (kWidths[i] == width) {
      if (!all[i]) all[i].reset(new Operands(width));
      return *all[i];
    }
  std::abort();
}

SCALAR void apintPairs(Op op, Operands &d, uint64_t &count) {
  switch (op) {
  case Op::add:
    for (int i = 0; i < kPairs; ++i) {
      d.x[i] += d.y[i];
      d.x[i] += d.minusY[i];
    }
    break;
  case Op::sub:
    for (int i = 0; i < kPairs; ++i) {
      d.x[i] -= d.y[i];
      d.x[i] -= d.minusY[i];
    }
    break;
  case Op::compare:
    for (int i = 0; i < kPairs; ++i) count += d.x[i].unsignedLess(d.y[i]);
    break;
  case Op::shift:
    for (int i = 0; i < kPairs; ++i) {
      d.t[i] = d.x[i];
      d.t[i] <<= d.s[i];
    }
    break;
  case Op::mul:
    for (int i = 0; i < kPairs; ++i) {
      d.t[i] = d.x[i];
      d.t[i] *= d.y[i];
    }
    break;
  case Op::div:
    for (int i = 0; i < kPairs; ++i) APInt::divRemUnsigned(d.x[i], d.d[i], d.q[i], d.r[i]);
    break;
  default:
    break;
  }
}

SCALAR void mpzPairs(Op op, Operands &d, uint64_t &count) {
  switch (op) {
  case Op::add:
    for (int i = 0; i < kPairs; ++i) {
      mpz_add(d.mx[i], d.mx[i], d.my[i]);
      mpz_add(d.mx[i], d.mx[i], d.mMinusY[i]);
    }
    break;
  case Op::sub:
    for (int i = 0; i < kPairs; ++i) {
      mpz_sub(d.mx[i], d.mx[i], d.my[i]);
      mpz_sub(d.mx[i], d.mx[i], d.mMinusY[i]);
    }
    break;
  case Op::compare:
    for (int i = 0; i < kPairs; ++i) count += mpz_cmp(d.mx[i], d.my[i]) < 0;
    break;
  case Op::shift:
    for (int i = 0; i < kPairs; ++i) {
      mpz_set(d.mt[i], d.mx[i]);
      mpz_mul_2exp(d.mt[i], d.mt[i], d.s[i]);
    }
    break;
  case Op::mul:
    for (int i = 0; i < kPairs; ++i) mpz_mul(d.mt[i], d.mx[i], d.my[i]);
    break;
  case Op::div:
    for (int i = 0; i < kPairs; ++i) mpz_tdiv_qr(d.mq[i], d.mr[i], d.mx[i], d.md[i]);
    break;
  default:
    break;
  }
}

SCALAR void cppIntPairs(Op op, Operands &d, uint64_t &count) {
  switch (op) {
  case Op::add:
    for (int i = 0; i < kPairs; ++i) {
      d.cx[i] += d.cy[i];
      d.cx[i] += d.cMinusY[i];
    }
    break;
  case Op::sub:
    for (int i = 0; i < kPairs; ++i) {
      d.cx[i] -= d.cy[i];
      d.cx[i] -= d.cMinusY[i];
    }
    break;
  case Op::compare:
    for (int i = 0; i < kPairs; ++i) count += d.cx[i] < d.cy[i];
    break;
  case Op::shift:
    for (int i = 0; i < kPairs; ++i) {
      d.ct[i] = d.cx[i];
      d.ct[i] <<= d.s[i];
    }
    break;
  case Op::mul:
    for (int i = 0; i < kPairs; ++i) multiply(d.ct[i], d.cx[i], d.cy[i]);
    break;
  case Op::div:
    for (int i = 0; i < kPairs; ++i) divide_qr(d.cx[i], d.cd[i], d.cq[i], d.cr[i]);
    break;
  default:
    break;
  }
}

using PairKernel = void (*)(Op, Operands &, uint64_t &);

void pairs(benchmark::State &state, PairKernel kernel, uint32_t width, Op op) {
  Operands &d = operands(width);
  uint64_t count = 0;
  for (auto _ : state) {
    kernel(op, d, count);
    benchmark::DoNotOptimize(count);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPairs);
}

// --- The three sides agree -----------------------------------------------------------------------

// Upper-case hexadecimal text of each side's value, cut to `width` bits.
std::string hex(const APInt &v) { return v.toText(16, false); }
std::string hex(const mpz_t v, uint32_t width) {
  mpz_t cut;
  mpz_init(cut);
  mpz_fdiv_r_2exp(cut, v, width);
  std::vector<char> text(mpz_sizeinbase(cut, 16) + 2);
  mpz_get_str(text.data(), -16, cut);
  mpz_clear(cut);
  return text.data();
}
std::string hex(const CppInt &v, uint32_t width) {
  CppInt cut = v & ((CppInt(1) << width) - 1);
  return cut.str(0, std::ios_base::hex | std::ios_base::uppercase);
}

// Each operation once on all three sides at `width`: false, after a message, when their results
// (the values after add and subtract, the shifted values, the products, the quotients and
// remainders, the number of pairs found less) differ.
bool sidesAgree(uint32_t width, Op op, const char *name) {
  Operands &d = operands(width);
  uint64_t counts[3] = {0, 0, 0};
  apintPairs(op, d, counts[0]);
  mpzPairs(op, d, counts[1]);
  cppIntPairs(op, d, counts[2]);
  bool agree = counts[0] == counts[1] && counts[0] == counts[2];
  for (int i = 0; i < kPairs && agree; ++i) {
    auto same = [&](const APInt &ours, const mpz_t gmp, const CppInt &cppInt) {
      std::string h = hex(ours);
      return h == hex(gmp, width) && h == hex(cppInt, width);
    };
    switch (op) {
    case Op::add:
    case Op::sub:
      agree = same(d.x[i], d.mx[i], d.cx[i]);
      break;
    case Op::shift:
    case Op::mul:
      agree = same(d.t[i], d.mt[i], d.ct[i]);
      break;
    case Op::div:
      agree = same(d.q[i], d.mq[i], d.cq[i]) && same(d.r[i], d.mr[i], d.cr[i]);
      break;
    default:
      break;
    }
  }
  if (!agree)
    std::fprintf(stderr, "apint_bench: %s at %u bits: APInt, mpz and cpp_int differ\n", name,
                 unsigned(width));
  return agree;
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
  // Inline values: in local variables, each operation taking the previous result (the value
  // stays in registers, the width is known only at run time), and element by element over arrays
  // (the values in memory, each carrying its width).
  const struct {
    Op op;
    const char *name;
    double goal; // ours / uint64_t, at most
  } inlineOps[] = {{Op::addChain, "local/add", 1.2},   {Op::mulChain, "local/multiply", 1.2},
                   {Op::shiftChain, "local/shift", 1.2}, {Op::add, "array/add", 1.5},
                   {Op::mul, "array/multiply", 2.0},   {Op::compare, "array/compare", 1.3},
                   {Op::shift, "array/shift", 2.0}};
  // Every width, pair by pair.
  const struct {
    Op op;
    const char *name;
  } pairOps[] = {{Op::add, "add"},     {Op::sub, "subtract"},   {Op::compare, "compare"},
                 {Op::shift, "shift"}, {Op::mul, "multiply"}, {Op::div, "divide"}};
  // The goal for ours / mpz; against cpp_int every row's goal is below 1.
  auto gmpGoal = [](Op op, uint32_t width) {
    if (width == 128 || width == 256)
      return op == Op::mul || op == Op::div ? Goal::none() : Goal::below(1);
    if (width >= 1024 && op == Op::mul) return Goal::atMost(1.5);
    if (width >= 1024 && op == Op::div) return Goal::atMost(2);
    return Goal::none();
  };

  for (uint32_t width : kWidths) {
    std::string size = std::to_string(width) + " bits";
    if (width == 64)
      for (const auto &o : inlineOps) {
        std::string stem = std::string("inline64/") + o.name;
        benchmark::RegisterBenchmark((stem + "/APInt").c_str(), inlineAPInt, o.op);
        benchmark::RegisterBenchmark((stem + "/uint64_t").c_str(), inlinePlain, o.op);
        std::string label = std::string("inline ") + o.name + " (1024)";
        std::replace(label.begin(), label.end(), '/', ' ');
        rows.push_back({{label, {}, {"uint64_t", {}, Goal::atMost(o.goal)}, {}, size}, stem});
      }
    for (const auto &o : pairOps) {
      if (!sidesAgree(width, o.op, o.name)) return 1;
      std::string stem = std::to_string(width) + "/" + o.name;
      benchmark::RegisterBenchmark((stem + "/APInt").c_str(), pairs, apintPairs, width, o.op);
      benchmark::RegisterBenchmark((stem + "/mpz").c_str(), pairs, mpzPairs, width, o.op);
      benchmark::RegisterBenchmark((stem + "/cpp_int").c_str(), pairs, cppIntPairs, width, o.op);
      rows.push_back({{std::string(o.name) + " (64)", {}, {"mpz", {}, gmpGoal(o.op, width)},
                       {"cpp_int", {}, Goal::below(1)}, size},
                      stem});
    }
  }

  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;

  RatioTable table("CPU time per iteration (of the number of operations in brackets)");
  for (const Row &r : rows) table.add(reporter, r.row, r.stem + "/APInt", r.stem + "/");
  table.print();
  benchmark::Shutdown();
  return 0;
}
