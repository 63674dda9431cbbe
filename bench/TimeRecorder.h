#ifndef VORN_BENCH_TIMERECORDER_H
#define VORN_BENCH_TIMERECORDER_H

// A console reporter that also keeps the time per iteration of every benchmark it reports (CPU
// time by default, steadier than wall time on a shared machine; real time for work done in other
// processes), so that a benchmark program can print our figure beside its anchor's as a ratio
// from the same run. With --benchmark_repetitions the median wins.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

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
  // The recorded time of the named benchmark, in its time unit, or 0 when it did not run.
  double time(const std::string &name) const {
    auto it = figures.find(name);
    return it == figures.end() ? 0 : it->second.time;
  }
  // The time unit of the named benchmark ("ns", "us", "ms" or "s"), or "" when it did not run.
  const char *unit(const std::string &name) const {
    auto it = figures.find(name);
    return it == figures.end() ? "" : it->second.unit;
  }
  // The anchor's time over ours (above 1: ours is faster), or 0 when either did not run.
  double speedup(const std::string &ours, const std::string &anchor) const {
    double o = time(ours), a = time(anchor);
    return o > 0 && a > 0 ? a / o : 0;
  }

private:
  struct Figure {
    double time = 0;
    const char *unit = "";
  };
  Clock clock;
  std::map<std::string, Figure> figures;
};

// Takes Google Benchmark's options from the command line and runs the selected benchmarks
// through `reporter`. False, after a message, when the command line holds an unknown argument.
inline bool runBenchmarks(int &argc, char **argv, TimeRecorder &reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  return true;
}

// One summary line: our time and the anchor's with their unit, the ratio anchor / ours, and a
// note (the target, and whether it was met). Nothing when either did not run.
inline void printRatio(const TimeRecorder &rep, const char *ours, const char *anchor,
                       const std::string &note) {
  double o = rep.time(ours), a = rep.time(anchor);
  if (o <= 0 || a <= 0) return;
  std::printf("%-28s %10.1f %-2s  vs %-26s %10.1f %-2s  ratio %5.2f  (%s)\n", ours, o,
              rep.unit(ours), anchor, a, rep.unit(anchor), a / o, note.c_str());
}

// "target TEXT: met" or "target TEXT: NOT met".
inline std::string targetNote(const char *target, bool met) {
  return std::string("target ") + target + (met ? ": met" : ": NOT met");
}

#endif
