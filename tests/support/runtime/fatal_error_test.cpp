// fatalError and reachedUnreachable, each in a forked child: the exact bytes and how they are
// written, the exit status, the handler forms, and the clean-up of registered files before the
// exit, also when a stream's latched write failure is reported at exit.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "support/process/Signals.h"
#include "support/runtime/Allocation.h"
#include "support/runtime/FatalError.h"
#include "support/streams/FdOutStream.h"
#include "support/streams/StdStreams.h"
#include "tests/common/TestSupport.h"

using namespace vorn;
using testsupport::ChildResult;
using testsupport::runInChild;
using testsupport::TempDir;

namespace {

// How a child ended and every write it made on descriptor 2, one element per write call.
struct Messages {
  ChildResult end;
  std::vector<std::string> writes;
};

// Runs `body` in a forked child whose descriptor 2 is a packet socket: each write call arrives as
// one message, so a message split over several writes shows up as several elements.
Messages runWithStderrPackets(const std::function<void()> &body) {
  Messages result;
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets) != 0) {
    result.end.err = "no socket pair";
    return result;
  }
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(sockets[0]);
    dup2(sockets[1], 2);
    close(sockets[1]);
    body();
    _exit(0);
  }
  close(sockets[1]);
  std::vector<char> buffer(1 << 20);
  for (;;) {
    ssize_t n = read(sockets[0], buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.writes.emplace_back(buffer.data(), size_t(n));
  }
  close(sockets[0]);
  testsupport::waitFor(pid, &result.end);
  return result;
}

// Where the handlers below write what they saw.
int noteFd = 1;

// What a handler saw, written to noteFd in one piece: the handler data (a name), the flag, then
// the reason.
void recordingHandler(void *data, const std::string &reason, bool flag) {
  std::string note = std::string(static_cast<const char *>(data)) + (flag ? " 1 " : " 0 ") + reason;
  // The registered files are removed only after the handler.
  if (access("victim", F_OK) == 0) note += " [victim present]";
  ssize_t ignored = write(noteFd, note.data(), note.size());
  (void)ignored;
}

void cStringHandler(const char *reason) {
  std::string note = "c:" + std::to_string(std::strlen(reason)) + ":" + reason;
  ssize_t ignored = write(1, note.data(), note.size());
  (void)ignored;
}

// `err` without the line a user-mode emulator adds when its guest program dies by a signal.
std::string withoutEmulatorNote(std::string err) {
  const std::string note = "qemu: uncaught target signal ";
  size_t at = err.rfind(note);
  if (at != std::string::npos && (at == 0 || err[at - 1] == '\n')) err.erase(at);
  return err;
}

// For a child that is meant to abort.
void noCoreFile() {
  struct rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
}

} // namespace

TEST(FatalError, WithoutHandlerOneWriteOnDescriptor2AndStatus1) {
  struct Case {
    std::function<void()> report;
    std::string expected;
  };
  std::string longReason;
  const uint32_t seed = 7321;
  std::mt19937 rng(seed);
  for (int i = 0; i < 5000; ++i) longReason += char(' ' + rng() % 95);
  const std::string viewed = "a view";
  const std::vector<Case> cases = {
      {[] { fatalError("IO failure on output stream."); },
       "VORN ERROR: IO failure on output stream.\n"},
      {[] { fatalError(""); }, "VORN ERROR: \n"},
      {[] { fatalError(static_cast<const char *>(nullptr)); }, "VORN ERROR: \n"},
      {[&] { fatalError(longReason); }, "VORN ERROR: " + longReason + "\n"},
      {[&] { fatalError(StrView(viewed), false); }, "VORN ERROR: a view\n"},
      {[&] { fatalError(Twine("bad ") + Twine(StrView(viewed)).concat(Twine(42))); },
       "VORN ERROR: bad a view42\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.expected.substr(0, 60) + " (seed " + std::to_string(seed) + ")");
    Messages m = runWithStderrPackets(c.report);
    EXPECT_EQ(m.end.signal, 0);
    EXPECT_EQ(m.end.status, 1);
    ASSERT_EQ(m.writes.size(), 1u);
    EXPECT_EQ(m.writes[0], c.expected);
  }
}

TEST(FatalError, HandlerGetsTheReasonThenFilesGoAndStatusIs1) {
  TempDir dir;
  const std::string victim = dir / "victim";
  for (bool flag : {true, false}) {
    ASSERT_TRUE(testsupport::writeFile(victim, "x"));
    ChildResult r = runInChild([&]() -> int {
      if (chdir(dir.path().c_str()) != 0) return 2;
      proc::registerSignalCleanupFile(victim);
      static char name[] = "handler";
      setFatalHandler(recordingHandler, name);
      fatalError(Twine("reason ") + Twine(7), flag);
    });
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, std::string("handler ") + (flag ? "1" : "0") + " reason 7 [victim present]");
    EXPECT_EQ(r.err, "");
    EXPECT_NE(access(victim.c_str(), F_OK), 0) << "registered file left behind";
  }
}

TEST(FatalError, CStringHandlerAndClearedHandlers) {
  ChildResult c = runInChild([]() -> int {
    setCStringFatalHandler(cStringHandler);
    fatalError(std::string("twelve bytes"));
  });
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.out, "c:12:twelve bytes");
  EXPECT_EQ(c.err, "");

  for (int form = 0; form < 2; ++form) {
    ChildResult cleared = runInChild([&]() -> int {
      if (form == 0) {
        setCStringFatalHandler(cStringHandler);
        clearCStringFatalHandler();
      } else {
        static char name[] = "h";
        setFatalHandler(recordingHandler, name);
        clearFatalHandler();
      }
      fatalError("back to printing");
    });
    EXPECT_EQ(cleared.status, 1);
    EXPECT_EQ(cleared.out, "");
    EXPECT_EQ(cleared.err, "VORN ERROR: back to printing\n");
  }
}

TEST(FatalError, LatchedWriteFailureGoesThroughTheHandler) {
  TempDir dir;
  const std::string victim = dir / "victim";
  ASSERT_TRUE(testsupport::writeFile(victim, "x"));
  // A stream destroyed during the run...
  ChildResult during = runInChild([&] {
    if (chdir(dir.path().c_str()) != 0) return 2;
    proc::registerSignalCleanupFile(victim);
    static char name[] = "during";
    setFatalHandler(recordingHandler, name);
    {
      FdOutStream full(open("/dev/full", O_WRONLY), true);
      full << "lost";
    }
    return 0;
  });
  EXPECT_EQ(during.status, 1);
  EXPECT_EQ(during.out, "during 0 IO failure on output stream. [victim present]");
  EXPECT_NE(access(victim.c_str(), F_OK), 0);

  // ...and the standard output stream at exit: the signal module's lists, built before main,
  // are still there when the stream reports at exit.
  ASSERT_TRUE(testsupport::writeFile(victim, "x"));
  ChildResult atExit = runInChild([&] {
    if (chdir(dir.path().c_str()) != 0) return 2;
    int full = open("/dev/full", O_WRONLY);
    int keep = dup(1);
    if (full < 0 || keep < 0 || dup2(full, 1) < 0) return 2;
    proc::registerSignalCleanupFile(victim);
    static char name[] = "exit";
    setFatalHandler(recordingHandler, name);
    stdoutStream() << "lost at exit\n";
    // The handler's note goes to the captured output, not to the full device.
    noteFd = keep;
    std::exit(0);
  });
  EXPECT_EQ(atExit.status, 1);
  EXPECT_EQ(atExit.out, "exit 0 IO failure on output stream. [victim present]");
  EXPECT_EQ(atExit.err, "");
  EXPECT_NE(access(victim.c_str(), F_OK), 0);
}

TEST(FatalError, UnreachableAbortsWithItsText) {
  ChildResult plain = runInChild([]() -> int {
    noCoreFile();
    reachedUnreachable();
  });
  EXPECT_EQ(plain.signal, SIGABRT);
  EXPECT_EQ(withoutEmulatorNote(plain.err), "UNREACHABLE executed!\n");
  ChildResult placed = runInChild([]() -> int {
    noCoreFile();
    reachedUnreachable("M", "F", 42);
  });
  EXPECT_EQ(placed.signal, SIGABRT);
  EXPECT_EQ(withoutEmulatorNote(placed.err), "M\nUNREACHABLE executed at F:42!\n");
  // The text goes through the debug stream, which is the unbuffered standard error stream.
  EXPECT_EQ(&debugStream(), &stderrStream());
}

TEST(FatalError, AFatalErrorWhileReportingOneEndsAtOnce) {
  // A handler that fails in turn (running out of memory, say) must not start the report over
  // without end: the second reason is written as it is and the process ends with status 1.
  ChildResult r = runInChild([]() -> int {
    setFatalHandler([](void *, const std::string &reason, bool) { fatalError(Twine("while reporting: ") + reason); },
                    nullptr);
    fatalError("first");
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "VORN ERROR: while reporting: first\n");
}

TEST(Allocation, RefusedBlocksEndInTheFatalErrorMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator reports an impossible request itself";
#endif
  // Requests that no heap can serve: the library's allocations and the C++ allocator (through
  // the new-handler the fatal-error module installs) end with the message and status 1, never
  // with a null block or an uncaught exception.
  static volatile size_t huge = SIZE_MAX - 4096;
  const std::string hugeText = std::to_string(uint64_t(SIZE_MAX - 4096));
  struct Case {
    const char *name;
    int (*body)();
    std::string err;
  } cases[] = {
      {"safeMalloc", [] { return safeMalloc(huge) ? 2 : 3; },
       "VORN ERROR: Allocation failed: no memory for " + hugeText + " bytes\n"},
      {"safeRealloc", [] { return safeRealloc(safeMalloc(8), huge) ? 2 : 3; },
       "VORN ERROR: Allocation failed: no memory for " + hugeText + " bytes\n"},
      {"safeCalloc", [] { return safeCalloc(huge, 1) ? 2 : 3; },
       "VORN ERROR: Allocation failed: no memory for " + hugeText + " bytes\n"},
      {"new", [] {
         static char *volatile kept; // so that the allocation cannot be left out
         kept = new char[huge];
         return kept ? 2 : 3;
       },
       "VORN ERROR: Allocation failed: the C++ allocator found no memory\n"},
  };
  for (const Case &c : cases) {
    ChildResult r = runInChild(c.body);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
  }
}
