#ifndef VORN_BENCH_TIMERECORDER_H
#define VORN_BENCH_TIMERECORDER_H

// What every benchmark program shares:
//  - TimeRecorder, a console reporter that also keeps the time per iteration of every benchmark
//    it reports (CPU time by default, steadier than wall time on a shared machine; real time for
//    work done in other processes), so that a program can set our figure beside its anchor's from
//    the same run. With --benchmark_repetitions the median wins.
//  - runBenchmarks, which runs the selected benchmarks through it, in colour only on a terminal.
//  - RatioTable, the one summary table: per row our figure, the figures of one or two anchors,
//    the ratio ours / anchor for each (below 1: ours is faster, or smaller), the goal for each and
//    whether every goal was met.
// bench/vorn_config_cost.sh prints its rows in the same format (keep the two alike), and
// scripts/bench.sh gathers the rows of every program, recognised by their leading "| ".

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// One side of a comparison: a value and its unit, either a time ("ns", "us", "ms" or "s") or a
// count of something else ("ins", "KiB"). A figure without a unit was not measured.
struct Figure {
  double value = 0;
  std::string unit;

  bool measured() const { return !unit.empty() && value > 0; }
  // The value in the smallest unit of its kind (times in nanoseconds), so that figures in
  // different time units compare.
  double base() const {
    static const struct {
      const char *unit;
      double scale;
    } times[] = {{"ns", 1}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}};
    for (const auto &t : times)
      if (unit == t.unit) return value * t.scale;
    return value;
  }
  // "52345 ns", "851.0 us", "2.13 ns": three significant digits or more.
  std::string text() const {
    char out[48];
    std::snprintf(out, sizeof out, value < 10 ? "%.2f %s" : value < 1000 ? "%.1f %s" : "%.0f %s",
                  value, unit.c_str());
    return out;
  }
};

class TimeRecorder : public benchmark::ConsoleReporter {
public:
  enum class Clock { Cpu, Real };
  explicit TimeRecorder(Clock clock = Clock::Cpu) : clock(clock) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs) {
      if (r.error_occurred) continue;
      if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median") {
        Figure f{clock == Clock::Cpu ? r.GetAdjustedCPUTime() : r.GetAdjustedRealTime(),
                 benchmark::GetTimeUnitString(r.time_unit)};
        // By the full name, and by the function name alone (without the suffixes that options
        // such as repetitions or a minimum time add).
        figures[r.run_name.str()] = f;
        figures[r.run_name.function_name] = f;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // The recorded time per iteration of the named benchmark; not measured when it did not run.
  Figure figure(const std::string &name) const {
    auto it = figures.find(name);
    return it == figures.end() ? Figure() : it->second;
  }
  void setColour(bool on) {
    output_options_ = static_cast<OutputOptions>(on ? output_options_ | OO_Color
                                                    : output_options_ & ~OO_Color);
  }

private:
  Clock clock;
  std::map<std::string, Figure> figures;
};

// Whether the console output may hold colour escapes. As the library decides for its own
// reporter: --benchmark_color=auto|yes|no (the last one given), else $BENCHMARK_COLOR, else
// auto, which means "when standard output is a terminal".
inline bool colourWanted(int argc, char **argv) {
  const char *env = std::getenv("BENCHMARK_COLOR");
  std::string value = env ? env : "auto";
  const char flag[] = "--benchmark_color=";
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], flag, sizeof flag - 1) == 0) value = argv[i] + sizeof flag - 1;
  if (value == "auto") {
    const char *term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && term && *term && std::strcmp(term, "dumb") != 0;
  }
  if (value.size() == 1) return std::isalnum(value[0] & 0xff) && !std::strchr("0fFnN", value[0]);
  for (char &c : value) c = char(std::tolower(c & 0xff));
  return value != "false" && value != "no" && value != "off";
}

// Takes Google Benchmark's options from the command line and runs the selected benchmarks
// through `reporter`. False, after a message, when the command line holds an unknown argument.
inline bool runBenchmarks(int &argc, char **argv, TimeRecorder &reporter) {
  // The library applies --benchmark_color only to a reporter of its own making.
  reporter.setColour(colourWanted(argc, argv));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  return true;
}

// What a row's ratio (ours / anchor) should be.
class Goal {
public:
  static Goal none() { return Goal(Kind::None, 0, 0); }
  static Goal atMost(double r) { return Goal(Kind::AtMost, 0, r); }
  static Goal below(double r) { return Goal(Kind::Below, 0, r); }
  static Goal between(double low, double high) { return Goal(Kind::Between, low, high); } // both included

  bool exists() const { return kind != Kind::None; }
  bool metBy(double ratio) const {
    switch (kind) {
    case Kind::AtMost:
      return ratio <= high;
    case Kind::Below:
      return ratio < high;
    case Kind::Between:
      return ratio >= low && ratio <= high;
    default:
      return true;
    }
  }
  // "<= 1.20", "< 1.00", "0.91 to 1.11" or "-".
  std::string text() const {
    char out[40];
    switch (kind) {
    case Kind::AtMost:
      std::snprintf(out, sizeof out, "<= %.2f", high);
      break;
    case Kind::Below:
      std::snprintf(out, sizeof out, "< %.2f", high);
      break;
    case Kind::Between:
      std::snprintf(out, sizeof out, "%.2f to %.2f", low, high);
      break;
    default:
      return "-";
    }
    return out;
  }

private:
  enum class Kind { None, AtMost, Below, Between };
  Goal(Kind kind, double low, double high) : kind(kind), low(low), high(high) {}
  Kind kind;
  double low, high;
};

// What a row measures ours against: the anchor's name, its figure, and the goal for ours / it.
// A nameless anchor is none: a row with one anchor leaves its second one so.
struct Anchor {
  std::string name;
  Figure figure;
  Goal goal = Goal::none();

  bool exists() const { return !name.empty(); }
};

// One row of the summary: our figure against one anchor, or two (the second one optional), and
// optionally the size the row measures at (e.g. "256 bits"), for tables whose rows differ in it.
struct RatioRow {
  std::string label;
  Figure ours;
  Anchor anchor;
  Anchor second = Anchor();
  std::string size = std::string();
};

// The summary table. The format, which bench/vorn_config_cost.sh copies:
//   "| %-30s %9s %12s  %-26s %12s  %-10s %12s  %11s  %13s  %-12s  %-8s  %s\n"
// with the label, the size, our figure, the first anchor's name and figure, the second anchor's
// name and figure, ours / first anchor and ours / second anchor (two decimals; two significant
// digits below 0.1), the goal for each ratio, and the result, under the header line that
// headerLine() makes. Whatever a row lacks (no size, no second anchor, no goal, a figure not
// measured) reads "-". The result is "met" when every goal of the row is met, "NOT met: " and the
// anchors whose goal was missed otherwise, "not run: " and the anchors that could not be judged
// when the rest are met, and "-" without a goal. Rows with no anchor measured beside our figure
// (benchmarks filtered out) are left out.
class RatioTable {
public:
  // `caption` says what the figures are (e.g. "CPU time per 1000 items"); it is printed, unmarked,
  // above the header.
  explicit RatioTable(std::string caption) : caption(std::move(caption)) {}

  void add(RatioRow row) { rows.push_back(std::move(row)); }
  // The row "ours against anchor" from the times `recorder` holds for the two benchmarks.
  void add(const TimeRecorder &recorder, const std::string &label, const std::string &ours,
           const std::string &anchorName, const std::string &anchor, Goal goal = Goal::none()) {
    add({label, recorder.figure(ours), {anchorName, recorder.figure(anchor), goal}});
  }
  // The same, labelled and named by the benchmarks' own names.
  void add(const TimeRecorder &recorder, const std::string &ours, const std::string &anchor,
           Goal goal = Goal::none()) {
    add(recorder, ours, ours, anchor, anchor, goal);
  }
  // `row` (label, size, anchors' names and goals) with the figures `recorder` holds: ours of the
  // benchmark `ours`, each anchor's of the benchmark named `anchorPrefix` and the anchor's name.
  void add(const TimeRecorder &recorder, RatioRow row, const std::string &ours,
           const std::string &anchorPrefix) {
    row.ours = recorder.figure(ours);
    for (Anchor *a : {&row.anchor, &row.second})
      if (a->exists()) a->figure = recorder.figure(anchorPrefix + a->name);
    add(std::move(row));
  }

  static std::string headerLine() {
    return line({"what", "size", "ours", "anchor", "its figure", "anchor 2", "its figure",
                 "ours/anchor", "ours/anchor 2", "goal", "goal 2",
                 "result   (ratios are ours over the anchor: below 1, ours is faster or smaller)"});
  }

  // Nothing when no row has our figure and an anchor's.
  void print() const {
    std::vector<std::string> lines;
    for (const RatioRow &r : rows) {
      const Anchor *anchors[] = {&r.anchor, &r.second};
      std::string names[2], figures[2], ratios[2], goals[2], missed, unjudged;
      bool compared = false, anyGoal = false;
      for (int i = 0; i < 2; ++i) {
        const Anchor &a = *anchors[i];
        names[i] = a.exists() ? a.name : "-";
        figures[i] = ratios[i] = "-";
        goals[i] = a.exists() ? a.goal.text() : "-";
        if (!a.exists()) continue;
        anyGoal |= a.goal.exists();
        if (!r.ours.measured() || !a.figure.measured()) {
          if (a.goal.exists()) unjudged += (unjudged.empty() ? "" : ", ") + a.name;
          continue;
        }
        compared = true;
        double ratio = r.ours.base() / a.figure.base();
        char ratioText[32];
        std::snprintf(ratioText, sizeof ratioText, ratio < 0.1 ? "%.2g" : "%.2f", ratio);
        figures[i] = a.figure.text();
        ratios[i] = ratioText;
        if (!a.goal.metBy(ratio)) missed += (missed.empty() ? "" : ", ") + a.name;
      }
      if (!compared) continue;
      std::string result = !missed.empty()   ? "NOT met: " + missed
                           : !unjudged.empty() ? "not run: " + unjudged
                           : anyGoal          ? "met"
                                              : "-";
      lines.push_back(line({r.label, r.size.empty() ? "-" : r.size, r.ours.text(), names[0],
                            figures[0], names[1], figures[1], ratios[0], ratios[1], goals[0],
                            goals[1], result}));
    }
    if (lines.empty()) return;
    std::printf("\nSummary, %s:\n%s\n", caption.c_str(), headerLine().c_str());
    for (const std::string &l : lines) std::printf("%s\n", l.c_str());
    std::fflush(stdout);
  }

private:
  static std::string line(const std::vector<std::string> &c) {
    const char format[] = "| %-30s %9s %12s  %-26s %12s  %-10s %12s  %11s  %13s  %-12s  %-8s  %s";
    std::string out(256, '\0');
    for (;;) {
      int n = std::snprintf(&out[0], out.size(), format, c[0].c_str(), c[1].c_str(),
                            c[2].c_str(), c[3].c_str(), c[4].c_str(), c[5].c_str(), c[6].c_str(),
                            c[7].c_str(), c[8].c_str(), c[9].c_str(), c[10].c_str(),
                            c[11].c_str());
      if (size_t(n) < out.size()) {
        out.resize(size_t(n));
        return out;
      }
      out.resize(size_t(n) + 1);
    }
  }

  std::string caption;
  std::vector<RatioRow> rows;
};

#endif
