// Walking a directory of 10^4 entries with DirIterator against a plain readdir loop that builds
// the same entry paths, and removing a tree of 10^4 files with files::removeAll against `rm -rf`
// of the same tree. The summary table sets each figure beside its anchor's, with the goal for the
// ratio.

#include <benchmark/benchmark.h>

#include "bench/TimeRecorder.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/fs/DirIterator.h"

extern char **environ;

namespace {

const int entryCount = 10000;

// A private directory under $TMPDIR (or /tmp) for the run.
std::string makeScratch() {
  const char *base = std::getenv("TMPDIR");
  std::string model = std::string(base && *base ? base : "/tmp") + "/vorn-fs-bench-XXXXXX";
  if (!mkdtemp(&model[0])) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return model;
}

const std::string scratch = makeScratch();

void makeFile(const std::string &path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  close(fd);
}

// The directory of entryCount files the walks read.
std::string makeFlatDirectory() {
  std::string dir = scratch + "/flat";
  mkdir(dir.c_str(), 0700);
  for (int i = 0; i < entryCount; ++i) makeFile(dir + "/entry-" + std::to_string(i) + ".txt");
  return dir;
}

const std::string flat = makeFlatDirectory();

void Walk_DirIterator(benchmark::State &state) {
  size_t total = 0;
  for (auto _ : state) {
    vorn::ErrorCode ec;
    vorn::DirIterator end;
    for (vorn::DirIterator it(flat, ec); !ec && it != end; it.increment(ec))
      total += it->path().size();
    if (ec) state.SkipWithError("iteration failed");
  }
  benchmark::DoNotOptimize(total);
}

void Walk_readdir(benchmark::State &state) {
  size_t total = 0;
  for (auto _ : state) {
    DIR *dir = opendir(flat.c_str());
    std::string path;
    while (const dirent *e = readdir(dir)) {
      if (e->d_name[0] == '.' && (e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0')))
        continue;
      path.assign(flat).append("/").append(e->d_name);
      total += path.size();
    }
    closedir(dir);
  }
  benchmark::DoNotOptimize(total);
}

BENCHMARK(Walk_DirIterator)->Unit(benchmark::kMicrosecond);
BENCHMARK(Walk_readdir)->Unit(benchmark::kMicrosecond);

// A tree of entryCount files: 100 directories of 100 files each.
std::string makeTree(int round) {
  std::string root = scratch + "/tree-" + std::to_string(round);
  mkdir(root.c_str(), 0700);
  for (int d = 0; d < 100; ++d) {
    std::string sub = root + "/d" + std::to_string(d);
    mkdir(sub.c_str(), 0700);
    for (int f = 0; f < entryCount / 100; ++f) makeFile(sub + "/file-" + std::to_string(f));
  }
  sync();
  return root;
}

double seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

double removeAllOnce(int round) {
  std::string root = makeTree(round);
  auto start = std::chrono::steady_clock::now();
  uint32_t removed = 0;
  vorn::ErrorCode ec = vorn::files::removeAll(root, removed);
  double t = seconds(start);
  if (ec || removed != uint32_t(entryCount + 101)) {
    std::fprintf(stderr, "removeAll: %s, %u removed\n", ec.message().c_str(), removed);
    std::exit(1);
  }
  return t;
}

double rmOnce(int round) {
  std::string root = makeTree(round);
  const char *argv[] = {"rm", "-rf", root.c_str(), nullptr};
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, "rm", nullptr, nullptr, const_cast<char **>(argv), environ) != 0) {
    std::perror("rm");
    std::exit(1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  double t = seconds(start);
  struct stat st;
  if (status != 0 || lstat(root.c_str(), &st) == 0) {
    std::fprintf(stderr, "rm -rf failed\n");
    std::exit(1);
  }
  return t;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;

  // Removal, by wall time (rm's work happens in another process), alternating the two.
  std::vector<double> ours, theirs;
  for (int round = 0; round < 7; ++round) {
    ours.push_back(removeAllOnce(2 * round));
    theirs.push_back(rmOnce(2 * round + 1));
  }
  std::string entries = std::to_string(entryCount);
  RatioTable table("per walk of " + entries + " entries (CPU time), per removal of " + entries +
                   " files in 100 directories (wall time, rm's start included; median of 7 rounds)");
  // The walk at most 1.2 times the plain loop's time; no goal for the removal.
  table.add(reporter, "Walk_DirIterator", "Walk_readdir", Goal::atMost(1.2));
  table.add({"removeAll", {median(ours) * 1e3, "ms"}, {"rm -rf", {median(theirs) * 1e3, "ms"}}});
  table.print();
  uint32_t removed = 0;
  vorn::files::removeAll(scratch, removed);
  benchmark::Shutdown();
  return 0;
}
