// Starting and waiting for a child program: proc::spawn + proc::waitForChild of /bin/true against
// the same done by hand with posix_spawn + waitpid (the anchor) and with fork + execv + waitpid.
// The time that matters is the caller's wall-clock time per child (the work happens in the
// kernel and the child), so the benchmarks run on real time and the summary table compares
// medians of real time from the same run.

#include "support/process/Program.h"

#include "bench/TimeRecorder.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

char arg0[] = "true";
char *const kArgs[] = {arg0, nullptr};
const char kProgram[] = "/bin/true";

void ours(benchmark::State &state) {
  for (auto _ : state) {
    vorn::proc::ChildInfo child = vorn::proc::spawn(kProgram, kArgs);
    vorn::proc::ChildInfo done = vorn::proc::waitForChild(child, 0, true);
    if (done.returnCode != 0) state.SkipWithError("the child failed");
  }
}

void handSpawn(benchmark::State &state) {
  for (auto _ : state) {
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, kProgram, nullptr, nullptr, kArgs, environ) != 0 ||
        waitpid(pid, &status, 0) != pid || status != 0)
      state.SkipWithError("the child failed");
  }
}

void forkExec(benchmark::State &state) {
  for (auto _ : state) {
    pid_t pid = fork();
    if (pid == 0) {
      execv(kProgram, kArgs);
      _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0)
      state.SkipWithError("the child failed");
  }
}

} // namespace

int main(int argc, char **argv) {
  const char *names[] = {"spawn+wait/proc", "spawn+wait/posix_spawn", "spawn+wait/fork+exec"};
  void (*bodies[])(benchmark::State &) = {ours, handSpawn, forkExec};
  for (int i = 0; i < 3; ++i)
    benchmark::RegisterBenchmark(names[i], bodies[i])
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond)
        ->MinTime(0.3)
        ->Repetitions(15)
        ->ReportAggregatesOnly(true);
  // The repetitions of the three run interleaved in random order, so that a change in the load
  // of a shared machine falls on all of them alike (a flag given on the command line wins).
  std::vector<char *> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  argc = int(args.size());
  argv = args.data();
  TimeRecorder reporter(TimeRecorder::Clock::Real);
  if (!runBenchmarks(argc, argv, reporter)) return 1;

  // At most 1.1 times posix_spawn's time; fork + exec is there for reference.
  RatioTable table("median real time per child");
  table.add(reporter, names[0], names[1], Goal::atMost(1.1));
  table.add(reporter, names[0], names[2]);
  table.print();
  benchmark::Shutdown();
  return 0;
}
