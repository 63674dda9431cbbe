// Descriptor streams on real pipes, files and pseudo-terminals, and the standard streams at exit.

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "StreamTestSupport.h"
#include "support/streams/FdOutStream.h"
#include "support/streams/StdStreams.h"

using namespace vorn;
using testsupport::readToEnd;
using testsupport::TempDir;
using vorn::testing::readAvailable;
using vorn::testing::readFile;

namespace {

const char failureMessage[] = "VORN ERROR: IO failure on output stream.\n";

// SIGPIPE ignored for the test's lifetime, so writes to a pipe without reader fail with EPIPE.
class IgnoreSigpipe {
public:
  IgnoreSigpipe() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved);
  }
  ~IgnoreSigpipe() { sigaction(SIGPIPE, &saved, nullptr); }

private:
  struct sigaction saved;
};

// A pipe whose read end does not block.
struct Pipe {
  int rd = -1, wr = -1;
  Pipe() {
    int fds[2];
    if (pipe(fds) == 0) {
      rd = fds[0];
      wr = fds[1];
      fcntl(rd, F_SETFL, O_NONBLOCK);
    }
  }
  ~Pipe() {
    if (rd >= 0) close(rd);
    if (wr >= 0) close(wr);
  }
  // Bytes that can be read right now.
  std::string drain() {
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = read(rd, buf, sizeof(buf))) > 0) got.append(buf, size_t(n));
    return got;
  }
};

using testsupport::ChildResult;

// Runs `body` in a forked child with descriptors 1 and 2 captured; a body that returns exits
// with 0.
ChildResult inChild(const std::function<void()> &body) {
  return testsupport::runInChild([&] {
    body();
    return 0;
  });
}

// Starts the exit-time child program in `mode` with descriptor 1 on `outFd`; `inWrite` and
// `errRead` receive the parent's ends of its standard input and error.
pid_t startChild(const char *mode, int outFd, int &inWrite, int &errRead, const char *extra = nullptr) {
  int in[2], err[2];
  if (pipe(in) != 0 || pipe(err) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(outFd, 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], err[0], err[1], outFd})
      if (fd > 2) close(fd);
    const char *argv[] = {STREAMS_EXIT_CHILD, mode, extra, nullptr};
    execv(argv[0], const_cast<char **>(argv));
    _exit(127);
  }
  close(in[0]);
  close(err[1]);
  inWrite = in[1];
  errRead = err[0];
  return pid;
}

ChildResult runChild(const char *mode, int outFd, const char *extra = nullptr) {
  int inWrite, errRead;
  pid_t pid = startChild(mode, outFd, inWrite, errRead, extra);
  close(inWrite);
  ChildResult r;
  r.err = readToEnd(errRead);
  close(errRead);
  testsupport::waitFor(pid, &r);
  return r;
}

TEST(FdStream, PipeGetsBlockSizedBuffer) {
  Pipe p;
  struct stat st;
  ASSERT_EQ(fstat(p.wr, &st), 0);
  size_t B = size_t(st.st_blksize);
  std::string block(B, 'b');
  {
    FdOutStream s(p.wr, true);
    p.wr = -1; // the stream closes it
    s << block;
    EXPECT_EQ(s.bufferSize(), B);
    EXPECT_EQ(p.drain(), "") << "a full buffer is drained only when more bytes come";
    s << 'c';
    EXPECT_EQ(p.drain(), block);
    EXPECT_EQ(s.getBytesWritten(), B);
    EXPECT_EQ(s.position(), B + 1);
  }
  EXPECT_EQ(p.drain(), "c");
  char c;
  EXPECT_EQ(read(p.rd, &c, 1), 0) << "descriptor closed at destruction";
}

TEST(FdStream, TerminalTurnsUnbufferedAtFirstWrite) {
  int master, slave;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios raw;
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  {
    FdOutStream s(slave, false);
    EXPECT_EQ(s.bufferOwner(), OutStream::OwnBuffer);
    s << "abc";
    EXPECT_EQ(s.bufferOwner(), OutStream::NoBuffer);
    EXPECT_EQ(readAvailable(master, 3, 2000), "abc");
    s << 'd' << 123;
    EXPECT_EQ(readAvailable(master, 4, 2000), "d123");
  }
  EXPECT_NE(fcntl(slave, F_GETFD), -1) << "not closed without closeOnDestroy";
  close(slave);
  close(master);
}

TEST(FdStream, FileOffsetsSeekAndAtomicWrites) {
  TempDir dir;
  std::string path = dir / "out.txt";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "12345", 5), 5);
  {
    FdOutStream s(fd, true);
    EXPECT_EQ(s.getBytesWritten(), 5u) << "count starts at the current offset";
    s << "abc";
    EXPECT_EQ(s.seek(2), 2u) << "seek flushes first";
    EXPECT_EQ(s.getBytesWritten(), 2u);
    s.setAtomicWrites(true);
    s << "XY";
    s.flush();
    EXPECT_EQ(s.getBytesWritten(), 4u);
    EXPECT_FALSE(s.hasWriteFailed());
  }
  EXPECT_EQ(readFile(path), "12XY5abc");

  // Seeking a pipe fails and latches.
  Pipe p;
  FdOutStream s(p.wr, false);
  EXPECT_EQ(s.seek(3), ~uint64_t(0));
  EXPECT_TRUE(s.hasWriteFailed());
  s.clearWriteFailed();
}

TEST(FdStream, CloseAndFailedWrites) {
  IgnoreSigpipe guard;
  Pipe p;
  {
    FdOutStream s(p.wr, true);
    int fd = p.wr;
    p.wr = -1;
    s << "pending";
    s.close();
    EXPECT_EQ(s.getFd(), -1);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "descriptor closed";
    EXPECT_EQ(p.drain(), "pending") << "close flushes first";
    EXPECT_FALSE(s.hasWriteFailed());
  }

  // A pipe whose reader is gone: the failure is latched and the bytes still counted.
  close(p.rd);
  p.rd = -1;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  FdOutStream s(fds[1], true);
  s << "abc";
  s.flush();
  EXPECT_TRUE(s.hasWriteFailed());
  EXPECT_EQ(s.getBytesWritten(), 3u);
  s.clearWriteFailed();
  s << "de";
  s.flush();
  EXPECT_TRUE(s.hasWriteFailed()) << "later writes still go to the descriptor";
  EXPECT_EQ(s.getBytesWritten(), 5u);
  s.clearWriteFailed();
}

TEST(FdStream, LatchedFailureEndsProcessAtDestruction) {
  IgnoreSigpipe guard;
  ChildResult failed = inChild([] {
    int fds[2];
    if (pipe(fds) != 0) _exit(3);
    close(fds[0]);
    FdOutStream s(fds[1], true);
    s << "lost";
  });
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, failureMessage);

  // Bytes written after close() are not dropped silently.
  ChildResult afterClose = inChild([] {
    int fds[2];
    if (pipe(fds) != 0) _exit(3);
    FdOutStream s(fds[1], true);
    s << "early";
    s.close();
    s << "late";
  });
  EXPECT_EQ(afterClose.status, 1);
  EXPECT_EQ(afterClose.err, failureMessage);

  // A stream that never wrote (here: no descriptor at all) is destroyed silently.
  ChildResult silent = inChild([] { FdOutStream s(-1, true); });
  EXPECT_EQ(silent.status, 0);
  EXPECT_EQ(silent.err, "");
}

TEST(StdStreams, StdoutBuffersOnPipeStderrDoesNot) {
  Pipe out;
  int inWrite, errRead;
  pid_t pid = startChild("hold", out.wr, inWrite, errRead);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(readAvailable(errRead, 5, 5000), "err:7");
  usleep(100 * 1000);
  EXPECT_EQ(out.drain(), "") << "standard output on a pipe is buffered";
  ASSERT_EQ(write(inWrite, "g", 1), 1);
  close(inWrite);
  ChildResult ended;
  EXPECT_TRUE(testsupport::waitFor(pid, &ended));
  EXPECT_EQ(ended.status, 0);
  EXPECT_EQ(out.drain(), "out:42") << "pending bytes reach the pipe at exit";
  close(errRead);
}

TEST(StdStreams, StdoutOnTerminalWritesAtOnce) {
  int master, slave;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  int inWrite, errRead;
  pid_t pid = startChild("hold", slave, inWrite, errRead);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(readAvailable(master, 6, 5000), "out:42");
  ASSERT_EQ(write(inWrite, "g", 1), 1);
  close(inWrite);
  ChildResult ended;
  EXPECT_TRUE(testsupport::waitFor(pid, &ended));
  EXPECT_EQ(ended.status, 0);
  close(errRead);
  close(slave);
  close(master);
}

TEST(StdStreams, WriteFailureTurnsExitIntoStatusOne) {
  // At exit (nothing reaches the descriptor before) and during the run (an explicit flush).
  for (const char *when : {static_cast<const char *>(nullptr), "flush"}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    ChildResult r = runChild("fail", fds[1], when);
    close(fds[1]);
    EXPECT_EQ(r.status, 1) << (when ? when : "exit");
    EXPECT_EQ(r.err, failureMessage);
  }
  int full = open("/dev/full", O_WRONLY);
  if (full >= 0) {
    ChildResult r = runChild("fail", full);
    close(full);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, failureMessage);
  }
}

TEST(StdStreams, StderrWrittenFromTwoThreadsAtOnce) {
  // Each line arrives whole (one write of 9 bytes on a pipe), none is lost or doubled, and the
  // count covers every byte of both threads.
  Pipe out;
  ChildResult r = runChild("threads", out.wr);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(out.drain(), "count:18000");
  size_t a = 0, b = 0;
  std::string other;
  for (size_t at = 0; at < r.err.size();) {
    size_t end = r.err.find('\n', at);
    std::string line = r.err.substr(at, end == std::string::npos ? end : end - at);
    if (line == "thread a")
      ++a;
    else if (line == "thread b")
      ++b;
    else
      other += line + "\n";
    at = end == std::string::npos ? r.err.size() : end + 1;
  }
  EXPECT_EQ(a, 1000u);
  EXPECT_EQ(b, 1000u);
  EXPECT_EQ(other, "");
}

TEST(StdStreams, StdoutClosedAtExitStderrKept) {
  Pipe out;
  ChildResult r = runChild("descriptors", out.wr);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "1:closed 2:open\n");
  EXPECT_EQ(out.drain(), "bye\n");
  // (The standard output stream is left alone here: it would close this process's descriptor 1.)
  EXPECT_EQ(&stderrStream(), &stderrStream());
  EXPECT_EQ(stderrStream().bufferOwner(), OutStream::NoBuffer);
}

} // namespace
