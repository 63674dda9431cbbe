// Process services: the process-information object against the system calls it wraps, the
// environment and argument helpers, memory use, core-file prevention and the random seeding.
// Whatever changes process-wide state (limits, the C library's generator) runs in a child.

#include "support/process/Process.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/text/Hashing.h"
#include "tests/common/TestSupport.h"

using namespace vorn;
using testsupport::ChildResult;
using testsupport::runInChild;

namespace {

SysTime fromTimeval(const struct timeval &tv) {
  return SysTime(int64_t(tv.tv_sec), int32_t(tv.tv_usec) * 1000);
}

// Spends user time until the kernel has charged the process some: with tick-based accounting a
// fixed short loop may be charged nothing (seen on a fast native build). Gives up after about ten
// seconds of wall time.
void burnCpu() {
  volatile uint64_t x = 0;
  struct timeval start, now;
  gettimeofday(&start, nullptr);
  for (;;) {
    for (uint64_t i = 0; i < 3000000; ++i) x = x + i * i;
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    gettimeofday(&now, nullptr);
    if (usage.ru_utime.tv_sec > 0 || usage.ru_utime.tv_usec > 0 || now.tv_sec - start.tv_sec > 10) return;
  }
}

#define EXPECT_CHILD_OK(result)                                                                    \
  do {                                                                                             \
    const ChildResult &r_ = (result);                                                              \
    EXPECT_EQ(r_.signal, 0) << r_.err;                                                             \
    EXPECT_EQ(r_.status, 0) << r_.out << r_.err;                                                   \
  } while (0)

} // namespace

TEST(CurrentProcess, OneObjectWithThePageSizeAndId) {
  // First use from several threads at once, in a child: the test program itself stays
  // single-threaded, which the sanitizer under user-mode emulation needs in later forked children.
  ChildResult threaded = runInChild([] {
    std::vector<CurrentProcess *> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
      threads.emplace_back([&seen, i] { seen[i] = &CurrentProcess::get(); });
    for (std::thread &t : threads) t.join();
    for (CurrentProcess *p : seen)
      if (p != &CurrentProcess::get()) return 1;
    return 0;
  });
  EXPECT_CHILD_OK(threaded);

  CurrentProcess &self = CurrentProcess::get();
  EXPECT_EQ(self.pageSize(), uint32_t(sysconf(_SC_PAGESIZE)));
  EXPECT_EQ(self.id(), uint32_t(getpid()));
  const ProcessView &view = self;
  EXPECT_EQ(view.id(), uint32_t(getpid()));
  // A child is another process: the id is asked each time, not remembered.
  ChildResult child = runInChild([] {
    return CurrentProcess::get().id() == uint32_t(getpid()) ? 0 : 1;
  });
  EXPECT_CHILD_OK(child);
}

TEST(CurrentProcess, CpuTimesComeFromResourceUsage) {
  burnCpu();
  struct rusage before, after;
  getrusage(RUSAGE_SELF, &before);
  SysTime user = CurrentProcess::get().userTime();
  SysTime system = CurrentProcess::get().systemTime();
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LE(fromTimeval(before.ru_utime), user);
  EXPECT_LE(user, fromTimeval(after.ru_utime));
  EXPECT_LE(fromTimeval(before.ru_stime), system);
  EXPECT_LE(system, fromTimeval(after.ru_stime));
  EXPECT_GT(user, SysTime::Zero);

  SysTime now, user2, system2;
  struct timeval wallBefore, wallAfter;
  gettimeofday(&wallBefore, nullptr);
  proc::timeUsage(now, user2, system2);
  gettimeofday(&wallAfter, nullptr);
  // The current time is absolute, not a duration.
  EXPECT_LE(SysTime::fromUnixSeconds(wallBefore.tv_sec), now);
  EXPECT_LE(now, SysTime::fromUnixSeconds(wallAfter.tv_sec + 1));
  EXPECT_LE(user, user2);
  EXPECT_LE(system, system2);
}

TEST(CurrentProcess, WallTimeRunsFromTheStart) {
  SysTime first = CurrentProcess::get().wallTime();
  EXPECT_GE(first, SysTime::Zero);
  usleep(50000);
  SysTime second = CurrentProcess::get().wallTime();
  EXPECT_GE(second - first, SysTime(0, 50000000));
  // Started with this program: not more than the program has lived (an hour is plenty).
  EXPECT_LT(second, SysTime(3600, 0));
}

TEST(ProcessServices, EnvironmentValuesDistinguishUnsetFromEmpty) {
  ChildResult child = runInChild([] {
    setenv("VORN_TEST_EMPTY", "", 1);
    setenv("VORN_TEST_SET", "some value", 1);
    unsetenv("VORN_TEST_UNSET");
    std::optional<std::string> empty = proc::environmentValue("VORN_TEST_EMPTY");
    std::optional<std::string> set = proc::environmentValue("VORN_TEST_SET");
    std::optional<std::string> unset = proc::environmentValue("VORN_TEST_UNSET");
    if (!empty || !empty->empty()) return 1;
    if (!set || *set != "some value") return 2;
    if (unset) return 3;
    // The name is a view: only its own bytes count, not what follows them in memory.
    std::string text = "VORN_TEST_SETX";
    std::optional<std::string> prefix =
        proc::environmentValue(StrView(text.data(), uint32_t(text.size() - 1)));
    if (!prefix || *prefix != "some value") return 4;
    // A name longer than the inline buffer.
    std::string longName(300, 'V');
    setenv(longName.c_str(), "long", 1);
    std::optional<std::string> longValue = proc::environmentValue(longName);
    if (!longValue || *longValue != "long") return 5;
    // The value is a copy.
    setenv("VORN_TEST_SET", "changed", 1);
    return *set == "some value" ? 0 : 6;
  });
  EXPECT_CHILD_OK(child);
}

TEST(ProcessServices, CopyArgumentsAppendsThePointers) {
  const char *args[] = {"prog", "-x", "", "last"};
  InlineVector<const char *, 2> out;
  const char *first = "already";
  out.push_back(first);
  EXPECT_FALSE(proc::copyArguments(out, args, 4));
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[0], first);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(out[i + 1], args[i]) << i;
  EXPECT_FALSE(proc::copyArguments(out, args, 0));
  EXPECT_EQ(out.size(), 5u);
}

TEST(ProcessServices, MallocUsageCountsLiveBlocks) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's allocator replaces malloc's arena";
#else
  std::vector<void *> blocks;
  size_t before = proc::mallocUsage();
  for (int i = 0; i < 2000; ++i) blocks.push_back(std::malloc(1000));
  size_t during = proc::mallocUsage();
  for (void *p : blocks) std::free(p);
  size_t after = proc::mallocUsage();
  EXPECT_GE(during, before + 2000 * 1000);
  EXPECT_LE(after + 2000 * 1000, during);
#endif
}

TEST(ProcessServices, PreventCoreFilesZeroesBothLimits) {
  ChildResult child = runInChild([] {
    struct rlimit limit;
    limit.rlim_cur = 4096;
    limit.rlim_max = RLIM_INFINITY;
    setrlimit(RLIMIT_CORE, &limit); // may fail without privileges; the result must be 0 anyway
    proc::preventCoreFiles();
    if (getrlimit(RLIMIT_CORE, &limit) != 0) return 1;
    return limit.rlim_cur == 0 && limit.rlim_max == 0 ? 0 : 2;
  });
  EXPECT_CHILD_OK(child);
}

TEST(ProcessServices, RandomNumbersContinueOneSequenceSeededOnce) {
  ChildResult child = runInChild([] {
    proc::randomNumber(); // seeds, once
    std::srand(777);
    unsigned a = proc::randomNumber(), b = proc::randomNumber();
    std::srand(777);
    unsigned ra = unsigned(std::rand()), rb = unsigned(std::rand());
    return a == ra && b == rb ? 0 : 1;
  });
  EXPECT_CHILD_OK(child);
}

TEST(ProcessServices, RandomSeedFromTheDeviceElseFromTimeAndPid) {
  testsupport::TempDir dir;
  unsigned char four[4] = {0x78, 0x56, 0x34, 0x12};
  ASSERT_TRUE(testsupport::writeFile(dir / "four", std::string(reinterpret_cast<char *>(four), 4)));
  EXPECT_EQ(proc::detail::randomSeed((dir / "four").c_str()), 0x12345678u);

  // A short read or a missing device: the hash of the time and the process id, which must be
  // one of the times between the two readings of the clock around the call.
  ASSERT_TRUE(testsupport::writeFile(dir / "short", "abc"));
  for (std::string device : {dir / "short", dir / "missing"}) {
    SysTime before = SysTime::now();
    unsigned seed = proc::detail::randomSeed(device.c_str());
    SysTime after = SysTime::now();
    bool found = false;
    for (SysTime t = before; t <= after && !found; t = t + SysTime(0, 1000))
      found = seed == hashCombine(t.seconds(), t.nanoseconds(), int32_t(getpid()));
    EXPECT_TRUE(found) << device;
  }
}
