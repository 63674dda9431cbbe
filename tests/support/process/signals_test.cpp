// Signal clean-up with real signals, each scenario in a forked child: which registered files go,
// how the child ends, the interrupt hook, crash callbacks, re-installation, and the handler's
// behaviour under a second signal and with several threads.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "SignalTestSupport.h"
#include "support/process/Signals.h"
#include "support/runtime/Threading.h"
#include "tests/common/TestSupport.h"

using namespace vorn;
using testsupport::ChildResult;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void say(const char *text) {
  ssize_t ignored = write(1, text, strlen(text));
  (void)ignored;
}

void hookOnce() { say("hook "); }

void noteCallback(void *cookie) {
  say(static_cast<const char *>(cookie));
}

bool actionIs(int signal, void (*handler)(int)) {
  struct sigaction current;
  return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == handler;
}

} // namespace

TEST(SignalCleanup, InterruptRemovesRegularFilesAndEndsTheProcess) {
  TempDir dir;
  const std::string plain = dir / "plain", twice = dir / "twice", target = dir / "target",
                    linkToFile = dir / "link-to-file", subdir = dir / "subdir",
                    linkToDir = dir / "link-to-dir", fifo = dir / "fifo", device = dir / "device",
                    missing = dir / "missing", kept = dir / "kept";
  ASSERT_TRUE(writeFile(plain, "1") && writeFile(twice, "2") && writeFile(target, "3") &&
              writeFile(kept, "4"));
  ASSERT_EQ(symlink(target.c_str(), linkToFile.c_str()), 0);
  ASSERT_EQ(mkdir(subdir.c_str(), 0755), 0);
  ASSERT_EQ(symlink(subdir.c_str(), linkToDir.c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // A device like /dev/null, made here so that a fault cannot cost the machine its own; only a
  // privileged test can make one.
  bool haveDevice = mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;

  ChildResult r = signaltest::runChild([&] {
    for (const std::string *name : {&plain, &twice, &twice, &linkToFile, &subdir, &linkToDir,
                                    &fifo, &device, &missing, &kept})
      proc::registerSignalCleanupFile(*name);
    // Only the last of the two entries for `twice` goes; `kept` is forgotten altogether.
    proc::unregisterSignalCleanupFile(twice);
    proc::unregisterSignalCleanupFile(kept);
    proc::unregisterSignalCleanupFile(dir / "never-registered");
    raise(SIGINT);
    say("survived");
    return 0;
  });
  EXPECT_EQ(r.signal, SIGINT) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(exists(plain));
  EXPECT_FALSE(exists(twice));
  EXPECT_FALSE(exists(linkToFile)) << "a link to a regular file is itself removed";
  EXPECT_TRUE(exists(target)) << "the link's target stays";
  EXPECT_TRUE(exists(subdir));
  EXPECT_TRUE(exists(linkToDir));
  EXPECT_TRUE(exists(fifo));
  if (haveDevice) {
    EXPECT_TRUE(exists(device));
  }
  EXPECT_TRUE(exists(kept));
}

TEST(SignalCleanup, EveryInterruptSignalEndsTheProcessByItself) {
  TempDir dir;
  for (int signal : {SIGHUP, SIGINT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2}) {
    SCOPED_TRACE(strsignal(signal));
    const std::string file = dir / "file";
    ASSERT_TRUE(writeFile(file, "x"));
    ChildResult r = signaltest::runChild([&] {
      proc::registerSignalCleanupFile(file);
      raise(signal);
      return 0;
    });
    EXPECT_EQ(r.signal, signal);
    EXPECT_FALSE(exists(file));
  }
}

TEST(SignalCleanup, HookRunsOnceThenTheNextInterruptKills) {
  TempDir dir;
  const std::string file = dir / "file";
  ASSERT_TRUE(writeFile(file, "x"));
  ChildResult r = signaltest::runChild([&] {
    proc::registerSignalCleanupFile(file);
    proc::setInterruptHook(hookOnce);
    raise(SIGINT);
    say(exists(file) ? "file-still-there " : "continued ");
    // The handlers are gone: this one has its default effect.
    raise(SIGINT);
    say("survived");
    return 0;
  });
  EXPECT_EQ(r.out, "hook continued ");
  EXPECT_EQ(r.signal, SIGINT);
}

TEST(SignalCleanup, ClearedHookLetsTheInterruptKill) {
  ChildResult r = signaltest::runChild([] {
    proc::setInterruptHook(hookOnce);
    proc::setInterruptHook(nullptr);
    raise(SIGTERM);
    return 0;
  });
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.signal, SIGTERM) << r.err;
}

TEST(SignalCleanup, IgnoredInterruptContinuesWithoutHandlers) {
  TempDir dir;
  const std::string file = dir / "file";
  ASSERT_TRUE(writeFile(file, "x"));
  ChildResult r = signaltest::runChild([&] {
    signal(SIGUSR1, SIG_IGN);
    proc::registerSignalCleanupFile(file);
    raise(SIGUSR1);
    // Every previous action is back: SIGUSR1 ignored, the others at their defaults.
    if (!actionIs(SIGUSR1, SIG_IGN) || !actionIs(SIGINT, SIG_DFL) || !actionIs(SIGSEGV, SIG_DFL))
      return 3;
    say("continued");
    return 0;
  });
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "continued");
  EXPECT_FALSE(exists(file));
}

TEST(SignalCleanup, CrashSignalFromOutsideRunsCallbacksAndContinues) {
  TempDir dir;
  const std::string first = dir / "first", second = dir / "second";
  ASSERT_TRUE(writeFile(first, "x") && writeFile(second, "y"));
  ChildResult r = signaltest::runChild([&] {
    static char a[] = "one ", b[] = "two ";
    proc::addCrashCallback(noteCallback, a);
    proc::addCrashCallback(noteCallback, b);
    proc::registerSignalCleanupFile(first);
    // As from a terminal: the signal comes from outside the program's own code.
    kill(getpid(), SIGQUIT);
    say(exists(first) ? "first-still-there " : "continued ");
    if (!actionIs(SIGQUIT, SIG_DFL)) return 3;
    // A new registration installs the handlers again.
    proc::registerSignalCleanupFile(second);
    kill(getpid(), SIGTERM);
    say("survived");
    return 0;
  });
  EXPECT_EQ(r.out, "one two continued ");
  EXPECT_EQ(r.signal, SIGTERM);
  EXPECT_FALSE(exists(second));
}

TEST(SignalCleanup, RunInterruptCleanupKeepsTheList) {
  TempDir dir;
  const std::string file = dir / "file";
  ChildResult r = signaltest::runChild([&] {
    proc::runInterruptCleanup(); // nothing registered: nothing happens
    proc::registerSignalCleanupFile(file);
    for (int round = 0; round < 2; ++round) {
      if (!writeFile(file, "x")) return 2;
      proc::runInterruptCleanup();
      if (exists(file)) return 3 + round;
    }
    say("done");
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done");
}

TEST(SignalCleanup, RealFaultsRemoveFilesThenEndTheProcess) {
  TempDir dir;
  for (int fault : signaltest::faultKinds()) {
    SCOPED_TRACE(strsignal(fault));
    const std::string file = dir / "file";
    ASSERT_TRUE(writeFile(file, "x"));
    ChildResult r = signaltest::runChild([&] {
      static char note[] = "callback ";
      proc::addCrashCallback(noteCallback, note);
      proc::registerSignalCleanupFile(file);
      signaltest::fault(fault);
      say("survived");
      return 0;
    });
    EXPECT_EQ(r.signal, fault) << r.err;
    EXPECT_EQ(r.out, "callback ");
    EXPECT_FALSE(exists(file));
  }
}

namespace {

// Faults on a thread of its own while the main thread keeps changing the list.
void faultOnThread(void *) {
  usleep(20000);
  signaltest::fault(SIGSEGV);
}

} // namespace

TEST(SignalCleanup, CrashOnAnotherThreadDoesNotDeadlock) {
  TempDir dir;
  const std::string file = dir / "file", churn = dir / "churn";
  ASSERT_TRUE(writeFile(file, "x"));
  ChildResult r = signaltest::runChild([&] {
    startMultithreaded();
    proc::registerSignalCleanupFile(file);
    std::thread crasher([] { faultOnThread(nullptr); });
    // Registrations on this thread take the signal lock for real while the other thread crashes.
    for (;;) {
      proc::registerSignalCleanupFile(churn);
      proc::unregisterSignalCleanupFile(churn);
    }
    return 0;
  });
  EXPECT_EQ(r.signal, SIGSEGV) << "ended by " << r.signal << " (SIGALRM: deadlock)\n" << r.err;
  EXPECT_FALSE(exists(file));
}

class SecondSignal : public ::testing::TestWithParam<bool> {};

TEST_P(SecondSignal, ArrivingDuringCleanupCannotCutItShort) {
  // The parent interrupts the child, waits until the first registered file is gone (the handler
  // is removing files) and sends a second signal. The clean-up must still complete: every file
  // goes, and the child ends by one of the two signals.
  const bool multithreaded = GetParam();
  TempDir dir;
  const int count = 3000;
  std::vector<std::string> files;
  for (int i = 0; i < count; ++i) {
    files.push_back(dir / ("f" + std::to_string(i)));
    ASSERT_TRUE(writeFile(files.back(), ""));
  }
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    signaltest::defaultCrashActions();
    alarm(120);
    if (multithreaded) startMultithreaded();
    for (const std::string &f : files) proc::registerSignalCleanupFile(f);
    if (write(ready[1], "r", 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  kill(pid, SIGINT);
  ChildResult r;
  int wstatus = 0;
  bool ended = false;
  while (exists(files[0]) && !ended) ended = waitpid(pid, &wstatus, WNOHANG) == pid;
  if (ended) {
    testsupport::recordEnd(wstatus, &r);
  } else {
    kill(pid, SIGTERM);
    ASSERT_TRUE(testsupport::waitFor(pid, &r));
  }
  EXPECT_TRUE(r.signal == SIGINT || r.signal == SIGTERM) << "ended by " << r.signal;
  int left = 0;
  for (const std::string &f : files) left += exists(f);
  EXPECT_EQ(left, 0) << "files left behind";
}

INSTANTIATE_TEST_SUITE_P(Modes, SecondSignal, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return info.param ? "Multithreaded" : "SingleThreaded";
                         });
