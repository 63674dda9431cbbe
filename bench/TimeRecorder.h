#ifndef VORN_BENCH_TIMERECORDER_H
#define VORN_BENCH_TIMERECORDER_H

// A console reporter that also keeps the CPU time per iteration of every benchmark it reports
// (steadier than wall time on a shared machine), so that a benchmark program can print our figure
// beside its anchor's as a ratio from the same run. With --benchmark_repetitions the median wins.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class TimeRecorder : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs) {
      if (r.error_occurred) continue;
      if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
        times[r.run_name.str()] = r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // The recorded time of the named benchmark, or 0 when it did not run.
  double time(const std::string &name) const {
    auto it = times.find(name);
    return it == times.end() ? 0 : it->second;
  }

private:
  std::map<std::string, double> times;
};

#endif
