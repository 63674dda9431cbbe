// Child programs: real programs (shell scripts written by the tests) started with both launch
// methods (posix_spawn without a memory limit, fork and exec with one), their redirections,
// exit statuses, signals, time and memory limits, and the waits. Where the platform decides how
// a failure shows (posix_spawn reports some failures as a result, some as a child that exits
// 127), the test asks the platform the same question by hand and expects its answer. Whatever
// changes process-wide state (the environment, signal actions, the working directory) runs in a
// forked child.

#include "support/process/Program.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "tests/common/TestSupport.h"

using namespace vorn;
using testsupport::ChildResult;
using testsupport::readFile;
using testsupport::runInChild;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {
// While set, every waitpid of this process first lets 1.5 seconds pass, signals and all, as a busy
// machine may pause a process between two of its steps.
volatile bool delayedWaits = false;
} // namespace

// The C library's waitpid as the library sees it in this test program (see delayedWaits).
extern "C" pid_t waitpid(pid_t pid, int *status, int options) {
  using Wait = pid_t (*)(pid_t, int *, int);
  static const Wait real = reinterpret_cast<Wait>(dlsym(RTLD_NEXT, "waitpid"));
  if (delayedWaits) {
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    do {
      struct timespec step = {0, 50 * 1000 * 1000};
      nanosleep(&step, nullptr);
      clock_gettime(CLOCK_MONOTONIC, &now);
    } while ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < 1500);
  }
  return real(pid, status, options);
}

namespace {

// Writes an executable shell script `name` into `dir`; returns its path.
std::string script(const TempDir &dir, const std::string &name, const std::string &body) {
  std::string path = dir / name;
  EXPECT_TRUE(writeFile(path, "#!/bin/sh\n" + body + "\n"));
  EXPECT_EQ(chmod(path.c_str(), 0755), 0);
  return path;
}

// A null-terminated argument vector over `args`.
struct Argv {
  explicit Argv(std::vector<std::string> args) : store(std::move(args)) {
    for (std::string &a : store) pointers.push_back(a.c_str());
    pointers.push_back(nullptr);
  }
  const char *const *get() const { return pointers.data(); }
  std::vector<std::string> store;
  std::vector<const char *> pointers;
};

// The three redirection entries; a null pointer leaves a stream alone.
struct Redirects {
  Redirects(const char *in, const char *out, const char *err) {
    const char *names[3] = {in, out, err};
    for (int i = 0; i < 3; ++i) {
      if (names[i]) views[i] = StrView(names[i]);
      entries[i] = names[i] ? &views[i] : nullptr;
    }
  }
  const StrView *const *get() const { return entries; }
  StrView views[3];
  const StrView *entries[3];
};

std::string enoentText() { return errnoMessage(ENOENT); }

// How the platform's posix_spawn reports starting `path` with `args` (and, when given, an open of
// `inputFile` onto descriptor 0): its non-zero result, or 0 when the child started (and then the
// child's wait status goes to `status`).
int handSpawn(const char *path, const char *const *args, const char *inputFile, int *status) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (inputFile) posix_spawn_file_actions_addopen(&actions, 0, inputFile, O_RDONLY, 0666);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, path, &actions, nullptr, const_cast<char *const *>(args), environ);
  posix_spawn_file_actions_destroy(&actions);
  *status = 0;
  if (rc == 0) waitpid(pid, status, 0);
  return rc;
}

#define EXPECT_CHILD_OK(result)                                                                    \
  do {                                                                                             \
    const ChildResult &r_ = (result);                                                              \
    EXPECT_EQ(r_.signal, 0) << r_.err;                                                             \
    EXPECT_EQ(r_.status, 0) << "out: " << r_.out << "\nerr: " << r_.err;                           \
  } while (0)

// The two launch methods: the memory limit chooses them.
class ChildPrograms : public ::testing::TestWithParam<uint32_t> {
protected:
  uint32_t limit() const { return GetParam(); }
  bool forked() const { return GetParam() != 0; }
  TempDir tmp;
};

std::string methodName(const ::testing::TestParamInfo<uint32_t> &info) {
  return info.param == 0 ? "PosixSpawn" : "ForkWithMemoryLimit";
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Methods, ChildPrograms, ::testing::Values(0u, 1024u), methodName);

TEST_P(ChildPrograms, ExitStatusAndArguments) {
  std::string prog = script(tmp, "args", "printf '%s|' \"$@\"; exit \"$1\"");
  std::string out = tmp / "out";
  Redirects to(nullptr, out.c_str(), nullptr);
  for (const char *code : {"3", "0", "125"}) {
    Argv args({"args", code, "two words", "", "last"});
    std::string message;
    bool failed = true;
    int rc = proc::runAndWait(prog, args.get(), nullptr, to.get(), 0, limit(), &message, &failed);
    EXPECT_EQ(rc, std::atoi(code));
    EXPECT_EQ(message, "") << "an exit status is no failure";
    EXPECT_FALSE(failed);
    EXPECT_EQ(readFile(out), std::string(code) + "|two words||last|");
  }
}

TEST_P(ChildPrograms, EnvironmentGivenOrInherited) {
  std::string prog = script(tmp, "env", "printf '%s:%s' \"$ONLY\" \"${VORN_INHERITED-unset}\"");
  std::string out = tmp / "out";
  Redirects to(nullptr, out.c_str(), nullptr);
  Argv args({"env"});
  const char *env[] = {"ONLY=this", nullptr};
  ChildResult child = runInChild([&] {
    setenv("VORN_INHERITED", "yes", 1);
    if (proc::runAndWait(prog, args.get(), env, to.get(), 0, limit()) != 0) return 1;
    if (readFile(out) != "this:unset") return 2;
    if (proc::runAndWait(prog, args.get(), nullptr, to.get(), 0, limit()) != 0) return 3;
    return readFile(out) == ":yes" ? 0 : 4;
  });
  EXPECT_CHILD_OK(child);
}

TEST_P(ChildPrograms, SignalsAreReportedWithTheirText) {
  std::string killed = script(tmp, "killed", "kill -KILL $$");
  std::string message;
  Argv args({"killed"});
  EXPECT_EQ(proc::runAndWait(killed, args.get(), nullptr, nullptr, 0, limit(), &message), -2);
  EXPECT_EQ(message, strsignal(SIGKILL));

  // A signal that dumps core where the system lets it: the text says so exactly when the wait
  // status does, as a hand-made fork and wait of the same program sees it.
  std::string aborts = script(tmp, "aborts", "cd '" + tmp.path() + "' && ulimit -c unlimited; kill -ABRT $$");
  Argv abortArgs({"aborts"});
  pid_t pid = fork();
  if (pid == 0) {
    execv(aborts.c_str(), const_cast<char *const *>(abortArgs.get()));
    _exit(99);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  std::string expected = strsignal(SIGABRT);
  if (WCOREDUMP(status)) expected += " (core dumped)";
  message.clear();
  EXPECT_EQ(proc::runAndWait(aborts, abortArgs.get(), nullptr, nullptr, 0, limit(), &message), -2);
  EXPECT_EQ(message, expected);
}

TEST_P(ChildPrograms, RedirectionsToFiles) {
  std::string prog = script(tmp, "cat", "cat; echo to-err >&2");
  std::string in = tmp / "in", out = tmp / "out", err = tmp / "err";
  ASSERT_TRUE(writeFile(in, "line one\nline two\n"));
  // An existing, longer output file is truncated: none of its old tail may remain.
  ASSERT_TRUE(writeFile(out, std::string(300, 'x')));
  ASSERT_TRUE(writeFile(err, std::string(300, 'y')));
  Redirects all(in.c_str(), out.c_str(), err.c_str());
  Argv args({"cat"});
  EXPECT_EQ(proc::runAndWait(prog, args.get(), nullptr, all.get(), 0, limit()), 0);
  EXPECT_EQ(readFile(out), "line one\nline two\n");
  EXPECT_EQ(readFile(err), "to-err\n");

  // With this process's standard input closed, the input file opens as descriptor 0 itself,
  // which must stay open.
  ChildResult closedIn = runInChild([&] {
    close(0);
    if (proc::runAndWait(prog, args.get(), nullptr, all.get(), 0, limit()) != 0) return 1;
    return readFile(out) == "line one\nline two\n" ? 0 : 2;
  });
  EXPECT_CHILD_OK(closedIn);

  // Output and error named by the same text share one open file: nothing is overwritten.
  std::string both = script(tmp, "both", "echo one; echo two >&2; echo three; echo four >&2");
  std::string shared = tmp / "shared";
  ASSERT_TRUE(writeFile(shared, std::string(500, 'z')));
  Redirects one(nullptr, shared.c_str(), shared.c_str());
  Argv bothArgs({"both"});
  EXPECT_EQ(proc::runAndWait(both, bothArgs.get(), nullptr, one.get(), 0, limit()), 0);
  EXPECT_EQ(readFile(shared), "one\ntwo\nthree\nfour\n");

  // An empty name is /dev/null: standard input reads nothing.
  Redirects nullIn("", out.c_str(), err.c_str());
  EXPECT_EQ(proc::runAndWait(prog, args.get(), nullptr, nullIn.get(), 0, limit()), 0);
  EXPECT_EQ(readFile(out), "");
  EXPECT_EQ(readFile(err), "to-err\n");
}

TEST_P(ChildPrograms, RedirectionsToDevNullAndInherited) {
  // The program's streams are this process's unless redirected; a child captures them.
  std::string prog = script(tmp, "talk", "echo visible; echo visible-err >&2");
  Argv args({"talk"});
  ChildResult inherited = runInChild([&] {
    return proc::runAndWait(prog, args.get(), nullptr, nullptr, 0, limit()) == 0 ? 0 : 1;
  });
  EXPECT_CHILD_OK(inherited);
  EXPECT_EQ(inherited.out, "visible\n");
  EXPECT_EQ(inherited.err, "visible-err\n");

  Redirects toNull(nullptr, "", "");
  ChildResult silenced = runInChild([&] {
    return proc::runAndWait(prog, args.get(), nullptr, toNull.get(), 0, limit()) == 0 ? 0 : 1;
  });
  EXPECT_CHILD_OK(silenced);
  EXPECT_EQ(silenced.out, "");
  EXPECT_EQ(silenced.err, "");

  // Only error redirected: output still inherited.
  std::string err = tmp / "err";
  Redirects onlyErr(nullptr, nullptr, err.c_str());
  ChildResult partly = runInChild([&] {
    return proc::runAndWait(prog, args.get(), nullptr, onlyErr.get(), 0, limit()) == 0 ? 0 : 1;
  });
  EXPECT_CHILD_OK(partly);
  EXPECT_EQ(partly.out, "visible\n");
  EXPECT_EQ(partly.err, "");
  EXPECT_EQ(readFile(err), "visible-err\n");
}

TEST_P(ChildPrograms, FailedRedirectionNeverRunsTheProgram) {
  std::string marker = tmp / "ran";
  std::string prog = script(tmp, "mark", "touch '" + marker + "'");
  std::string missing = tmp / "no/such/input";
  Redirects bad(missing.c_str(), nullptr, nullptr);
  Argv args({"mark"});

  // Run from a child whose output is captured: a forked launch that returned into this code
  // would print the line below a second time.
  ChildResult child = runInChild([&] {
    std::string message;
    bool failed = false;
    int rc = proc::runAndWait(prog, args.get(), nullptr, bad.get(), 0, limit(), &message, &failed);
    std::printf("rc=%d failed=%d message=%s\n", rc, int(failed), message.c_str());
    return 0;
  });
  EXPECT_CHILD_OK(child);
  EXPECT_NE(access(marker.c_str(), F_OK), 0) << "the program ran without its input";

  std::string expected;
  if (forked()) {
    expected = "rc=-1 failed=0 message=Program could not be executed\n";
  } else {
    int status = 0;
    int rc = handSpawn(prog.c_str(), args.get(), missing.c_str(), &status);
    if (rc != 0)
      expected = "rc=-1 failed=1 message=posix_spawn failed: " + errnoMessage(rc) + "\n";
    else
      expected = "rc=-1 failed=0 message=" + enoentText() + "\n";
  }
  EXPECT_EQ(child.out, expected);

  // An output file in a missing directory fails the same way.
  std::string badOut = tmp / "no/dir/out";
  Redirects badOutput(nullptr, badOut.c_str(), nullptr);
  std::string message;
  EXPECT_EQ(proc::runAndWait(prog, args.get(), nullptr, badOutput.get(), 0, limit(), &message), -1);
  EXPECT_NE(access(marker.c_str(), F_OK), 0);
}

TEST_P(ChildPrograms, MissingProgramAndDirectory) {
  Argv args({"x"});
  for (std::string missing : {tmp / "missing", std::string("")}) {
    std::string message;
    bool failed = false;
    proc::ChildInfo child =
        proc::spawn(missing, args.get(), nullptr, nullptr, limit(), &message, &failed);
    EXPECT_EQ(child.pid, 0);
    EXPECT_TRUE(failed);
    EXPECT_EQ(message, "Executable \"" + missing + "\" doesn't exist!");
    message.clear();
    failed = false;
    EXPECT_EQ(proc::runAndWait(missing, args.get(), nullptr, nullptr, 0, limit(), &message, &failed),
              -1);
    EXPECT_TRUE(failed);
    EXPECT_EQ(message, "Executable \"" + missing + "\" doesn't exist!");
  }

  // A directory exists but cannot be run.
  std::string dir = tmp.path();
  std::string message;
  bool failed = false;
  int rc = proc::runAndWait(dir, args.get(), nullptr, nullptr, 0, limit(), &message, &failed);
  EXPECT_EQ(rc, -1);
  if (forked()) {
    EXPECT_FALSE(failed);
    EXPECT_EQ(message, "Program could not be executed");
  } else {
    int status = 0;
    int hand = handSpawn(dir.c_str(), args.get(), nullptr, &status);
    if (hand != 0) {
      EXPECT_TRUE(failed);
      EXPECT_EQ(message, "posix_spawn failed: " + errnoMessage(hand));
    } else {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 127);
      EXPECT_FALSE(failed);
      EXPECT_EQ(message, enoentText());
    }
  }
}

TEST_P(ChildPrograms, ArgumentListThatDoesNotFit) {
  long argMax = sysconf(_SC_ARG_MAX);
  ASSERT_GT(argMax, 0);
  // Pieces of 100000 bytes (one argument may not exceed 128 KiB) well beyond the limit.
  std::string piece(99999, 'a');
  std::vector<std::string> many{"true"};
  while (long(many.size()) * 100000 <= 2 * argMax + (1 << 20)) many.push_back(piece);
  Argv args(many);
  EXPECT_FALSE(proc::argumentsFit(args.get(), many.size()));
  EXPECT_FALSE(proc::argumentsFit(args.get(), many.size()));

  std::string message;
  bool failed = false;
  int rc = proc::runAndWait("/bin/true", args.get(), nullptr, nullptr, 0, limit(), &message, &failed);
  EXPECT_EQ(rc, -1);
  if (forked()) {
    EXPECT_EQ(message, "Program could not be executed");
  } else {
    int status = 0;
    int hand = handSpawn("/bin/true", args.get(), nullptr, &status);
    if (hand != 0)
      EXPECT_EQ(message, "posix_spawn failed: " + errnoMessage(hand));
    else
      EXPECT_EQ(message, enoentText());
  }
}

TEST(ArgumentsFit, HalfTheSystemLimit) {
  long argMax = sysconf(_SC_ARG_MAX);
  ASSERT_GT(argMax, 0);
  const uint64_t half = uint64_t(argMax) / 2;
  // Texts whose lengths plus one add up to exactly half, then one byte more.
  std::vector<std::string> texts;
  uint64_t total = 0;
  while (total + 1001 <= half) {
    texts.push_back(std::string(1000, 'b'));
    total += 1001;
  }
  texts.push_back(std::string(size_t(half - total - 1), 'c'));
  Argv exact(texts);
  EXPECT_TRUE(proc::argumentsFit(exact.get(), texts.size()));
  EXPECT_TRUE(proc::argumentsFit(exact.get(), texts.size()));
  texts.back() += "d";
  Argv over(texts);
  EXPECT_FALSE(proc::argumentsFit(over.get(), texts.size()));
  // Empty texts count one byte each; no texts fit always.
  EXPECT_TRUE(proc::argumentsFit(over.get(), 0));
  const char *empties[] = {"", "", ""};
  EXPECT_TRUE(proc::argumentsFit(empties, 3));
}

TEST_P(ChildPrograms, TimeLimitKillsAndRestoresTheAlarm) {
  std::string sleeper = script(tmp, "sleeper", "exec sleep 30");
  std::string quick = script(tmp, "quick", "exit 4");
  Argv args({"sleeper"});
  ChildResult child = runInChild([&] {
    // The caller's own SIGALRM action, which every timed wait must give back.
    struct sigaction mine = {};
    mine.sa_handler = [](int) {};
    sigemptyset(&mine.sa_mask);
    sigaddset(&mine.sa_mask, SIGUSR2);
    mine.sa_flags = SA_RESTART;
    sigaction(SIGALRM, &mine, nullptr);
    auto restored = [&] {
      struct sigaction now;
      sigaction(SIGALRM, nullptr, &now);
      return now.sa_handler == mine.sa_handler && (now.sa_flags & SA_RESTART) &&
             sigismember(&now.sa_mask, SIGUSR2) && alarm(0) == 0;
    };

    std::string message;
    auto start = std::chrono::steady_clock::now();
    proc::ChildInfo started = proc::spawn(sleeper, args.get(), nullptr, nullptr, limit(), &message);
    if (started.pid <= 0) return 1;
    proc::ChildInfo done = proc::waitForChild(started, 1, false, &message);
    auto took = std::chrono::steady_clock::now() - start;
    if (done.returnCode != -2) return 2;
    if (message != "Child timed out: ") return 3;
    if (done.pid != started.pid) return 4;
    if (kill(started.pid, 0) == 0 || errno != ESRCH) return 5; // killed and reaped
    if (took > std::chrono::seconds(20)) return 6;
    if (!restored()) return 7;

    // runAndWait's seconds are a time limit too.
    message.clear();
    if (proc::runAndWait(sleeper, args.get(), nullptr, nullptr, 1, limit(), &message) != -2)
      return 8;
    if (message != "Child timed out: " || !restored()) return 9;
    // A child that ends in time reports its status, and the alarm is given back as well.
    if (proc::runAndWait(quick, args.get(), nullptr, nullptr, 20, limit(), &message) != 4)
      return 10;
    return restored() ? 0 : 11;
  });
  EXPECT_CHILD_OK(child);
}

TEST_P(ChildPrograms, NonBlockingLookAtARunningChild) {
  std::string sleeper = script(tmp, "sleeper", "exec sleep 30");
  Argv args({"sleeper"});
  std::string message;
  proc::ChildInfo started = proc::spawn(sleeper, args.get(), nullptr, nullptr, limit(), &message);
  ASSERT_GT(started.pid, 0) << message;
  auto start = std::chrono::steady_clock::now();
  proc::ChildInfo look = proc::waitForChild(started, 0, false, &message);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(look.pid, 0);
  EXPECT_EQ(look.returnCode, 0);
  ASSERT_EQ(kill(started.pid, SIGTERM), 0);
  proc::ChildInfo done = proc::waitForChild(started, 0, true, &message);
  EXPECT_EQ(done.pid, started.pid);
  EXPECT_EQ(done.returnCode, -2);
  EXPECT_EQ(message, strsignal(SIGTERM));
  // Waiting again for a reaped child is an error.
  proc::ChildInfo again = proc::waitForChild(started, 0, true, &message);
  EXPECT_EQ(again.returnCode, -1);
  EXPECT_EQ(message, "Error waiting for child process: " + errnoMessage(ECHILD));
}

TEST_P(ChildPrograms, AnotherChildIsNeverReaped) {
  std::string quick = script(tmp, "quick", "exit 0");
  std::string sleeper = script(tmp, "sleeper", "sleep 0.3; exit 6");
  Argv args({"x"});
  // A second child of this process that has already ended and waits to be reaped.
  pid_t other = fork();
  if (other == 0) _exit(7);
  ASSERT_GT(other, 0);
  siginfo_t info = {};
  ASSERT_EQ(waitid(P_PID, id_t(other), &info, WEXITED | WNOWAIT), 0);

  std::string message;
  EXPECT_EQ(proc::runAndWait(quick, args.get(), nullptr, nullptr, 0, limit(), &message), 0);
  EXPECT_EQ(message, "");
  EXPECT_EQ(proc::runAndWait(sleeper, args.get(), nullptr, nullptr, 10, limit(), &message), 6);
  EXPECT_EQ(message, "");
  proc::ChildInfo running = proc::spawn(sleeper, args.get(), nullptr, nullptr, limit(), &message);
  ASSERT_GT(running.pid, 0);
  EXPECT_EQ(proc::waitForChild(running, 0, false, &message).pid, 0);
  EXPECT_EQ(proc::waitForChild(running, 0, true, &message).returnCode, 6);

  int status = 0;
  ASSERT_EQ(waitpid(other, &status, 0), other) << "the other child was reaped";
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST_P(ChildPrograms, InterruptedWaitsWaitAgain) {
  std::string sleeper = script(tmp, "sleeper", "sleep 0.5; exit 5");
  Argv args({"x"});
  ChildResult child = runInChild([&] {
    // Signals without SA_RESTART keep interrupting the blocking wait.
    struct sigaction act = {};
    act.sa_handler = [](int) {};
    sigemptyset(&act.sa_mask);
    act.sa_flags = 0;
    sigaction(SIGALRM, &act, nullptr);
    sigaction(SIGUSR1, &act, nullptr);
    struct itimerval every = {{0, 20000}, {0, 20000}};
    setitimer(ITIMER_REAL, &every, nullptr);
    std::string message;
    int rc = proc::runAndWait(sleeper, args.get(), nullptr, nullptr, 0, limit(), &message);
    struct itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    if (rc != 5) return 1;

    // A timed wait takes only its own alarm for the end of its time: another process keeps
    // sending SIGUSR1 meanwhile.
    pid_t self = getpid();
    pid_t pester = fork();
    if (pester == 0) {
      for (;;) {
        kill(self, SIGUSR1);
        usleep(20000);
      }
    }
    rc = proc::runAndWait(sleeper, args.get(), nullptr, nullptr, 30, limit(), &message);
    kill(pester, SIGKILL);
    int status = 0;
    if (waitpid(pester, &status, 0) != pester) return 3; // still ours to reap
    return rc == 5 ? 0 : 2;
  });
  EXPECT_CHILD_OK(child);
}

TEST_P(ChildPrograms, NoAlarmIsLostInASignalStorm) {
  // A storm of other signals keeps the timed wait going round its loop for half a second; each
  // wait is delayed (see waitpid above) past the end of the time, so that the alarm lands between
  // the look at the flag and the wait. Once it was lost there, and with no other signal to come
  // the wait lasted until the child ended by itself (status 0 after 20 s instead of -2 after the
  // limit of 1 s).
  int probe = int(syscall(SYS_pidfd_open, getpid(), 0));
  if (probe < 0) GTEST_SKIP() << "no process descriptors here (" << strerror(errno) << "): the wait has its window";
  close(probe);
  std::string sleeper = script(tmp, "sleeper", "exec sleep 20");
  Argv args({"sleeper"});
  ChildResult child = runInChild([&] {
    struct sigaction act = {};
    act.sa_handler = [](int) {};
    sigemptyset(&act.sa_mask);
    act.sa_flags = 0;
    sigaction(SIGUSR1, &act, nullptr);
    pid_t self = getpid();
    pid_t storm = fork();
    if (storm == 0) {
      for (int i = 0; i < 500; ++i) {
        kill(self, SIGUSR1);
        usleep(1000);
      }
      _exit(0);
    }
    std::string message;
    delayedWaits = true;
    int rc = proc::runAndWait(sleeper, args.get(), nullptr, nullptr, 1, limit(), &message);
    delayedWaits = false;
    kill(storm, SIGKILL);
    int status = 0;
    waitpid(storm, &status, 0);
    if (rc != -2) return 1;
    return message == "Child timed out: " ? 0 : 2;
  });
  EXPECT_CHILD_OK(child);
}

TEST(ChildProgramLimits, MemoryLimitIsSetInSixtyFourBits) {
  VORN_SKIP_UNDER_EMULATION("the emulator ignores the address-space and data limits that the "
                            "emulated process sets, so its children never get them");
  TempDir tmp;
  std::string prog = script(tmp, "limits", "ulimit -v; ulimit -d");
  std::string out = tmp / "out";
  Redirects to(nullptr, out.c_str(), nullptr);
  Argv args({"limits"});
  // 4096 MiB is 2^32 bytes: cut to 32 bits it would be 0.
  for (uint32_t mib : {64u, 4096u, 5000u}) {
    EXPECT_EQ(proc::runAndWait(prog, args.get(), nullptr, to.get(), 0, mib), 0);
    std::string kib = std::to_string(uint64_t(mib) * 1024);
    EXPECT_EQ(readFile(out), kib + "\n" + kib + "\n") << mib << " MiB";
  }
}

TEST(ChildProgramLimits, AllocatingBeyondTheLimitFails) {
  VORN_SKIP_UNDER_EMULATION("the emulator ignores the address-space and data limits that the "
                            "emulated process sets, so its children never get them");
  TempDir tmp;
  // tail keeps the last 40 MB of a pipe in memory.
  std::string prog =
      script(tmp, "hog", "head -c 40000000 /dev/zero | tail -c 40000000 >/dev/null");
  Argv args({"hog"});
  Redirects quiet(nullptr, "", "");
  EXPECT_EQ(proc::runAndWait(prog, args.get(), nullptr, quiet.get(), 0, 0), 0)
      << "without a limit (posix_spawn) the program succeeds";
  EXPECT_NE(proc::runAndWait(prog, args.get(), nullptr, quiet.get(), 0, 24), 0)
      << "within 24 MiB it cannot";
}

TEST(FindInPath, WalksPathLikeTheShellDoesNot) {
  TempDir tmp;
  auto tool = [&](const std::string &dir, mode_t mode) {
    ASSERT_EQ(mkdir((tmp / dir).c_str(), 0755) == 0 || errno == EEXIST, true);
    std::string path = tmp / (dir + "/tool");
    ASSERT_TRUE(writeFile(path, "#!/bin/sh\n"));
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  };
  tool("plain", 0644);
  tool("two", 0755);
  tool("three", 0755);
  tool("cwd", 0755);
  ASSERT_EQ(mkdir((tmp / "dirs").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((tmp / "dirs/tool").c_str(), 0755), 0);

  ChildResult child = runInChild([&] {
    std::string answers;
    auto ask = [&](const char *path, const std::string &name) {
      if (path)
        setenv("PATH", path, 1);
      else
        unsetenv("PATH");
      answers += "[" + proc::findInPath(name) + "]";
    };
    std::string two = tmp / "two", three = tmp / "three";
    ask(("/nonexistent::" + tmp / "plain" + ":" + tmp / "dirs" + ":" + two + ":" + three + ":")
            .c_str(),
        "tool");
    ask((two + "/").c_str(), "tool");
    ask("/nonexistent::/bin:", "sh");
    if (chdir((tmp / "cwd").c_str()) != 0) return 1;
    ask((":" + three).c_str(), "tool");
    ask(("/nonexistent::" + three).c_str(), "tool");
    ask("/nonexistent:", "tool");
    ask((tmp / "plain").c_str(), "tool");
    ask("/bin", "./tool");
    ask("/bin", "no/such");
    ask("/bin", "");
    ask(nullptr, "sh");
    ask("", "sh");
    return testsupport::writeAll(1, answers) ? 0 : 1;
  });
  EXPECT_CHILD_OK(child);
  EXPECT_EQ(child.out, "[" + tmp / "two/tool" + "]" + "[" + tmp / "two/tool" + "]" +
                           "[/bin/sh]" + "[tool]" + "[" + tmp / "three/tool" + "]" +
                           "[][][./tool][no/such][][][]");
}

TEST(BinaryMode, SwitchesDoNothing) {
  for (ErrorCode ec : {proc::setStdinBinary(), proc::setStdoutBinary(), proc::setStderrBinary()}) {
    EXPECT_FALSE(ec);
    EXPECT_EQ(&ec.category(), &genericCategory());
  }
}
