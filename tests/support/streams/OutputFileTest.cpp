// Streams on named output files, and write failures on real devices, pipes and a full file
// system: latched, reported at destruction, or cleared by a caller that expected them.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "StreamTestSupport.h"
#include "support/fs/Files.h"
#include "support/streams/FdOutStream.h"
#include "tests/common/FullFilesystem.h"

using namespace vorn;
using testsupport::ChildResult;
using testsupport::TempDir;
using vorn::testing::readFile;

namespace {

const char failureMessage[] = "VORN ERROR: IO failure on output stream.\n";

std::string openMessage(const std::string &path, int error) {
  return "Error opening output file '" + path + "': " + std::strerror(error);
}

// Runs `body` in a child with SIGPIPE ignored; a body that returns exits with 0.
ChildResult inChild(const std::function<void()> &body) {
  return testsupport::runInChild([&] {
    signal(SIGPIPE, SIG_IGN);
    body();
    return 0;
  });
}

TEST(OutputFile, CreatesTruncatesAppendsAndRefusesExisting) {
  TempDir dir;
  const std::string path = dir / "out.txt";
  std::string error = "stale";
  {
    FdOutStream s(path.c_str(), error, OpenFlags::None);
    EXPECT_EQ(error, "") << "cleared on success";
    EXPECT_GE(s.getFd(), 0);
    s << "first line\n";
    EXPECT_EQ(s.getBytesWritten(), 0u) << "still buffered";
  }
  EXPECT_EQ(readFile(path), "first line\n");
  {
    FdOutStream s(path.c_str(), error, OpenFlags::Append);
    EXPECT_EQ(s.getBytesWritten(), 0u) << "the count starts at 0, not at the end";
    s << "second\n";
  }
  EXPECT_EQ(readFile(path), "first line\nsecond\n");
  {
    FdOutStream s(path.c_str(), error, OpenFlags::None);
    s << "new";
  }
  EXPECT_EQ(readFile(path), "new") << "truncated";

  // Exclusive creation of an existing file fails and leaves the file alone.
  {
    FdOutStream s(path.c_str(), error, OpenFlags::Exclusive);
    EXPECT_EQ(error, openMessage(path, EEXIST));
    EXPECT_EQ(s.getFd(), -1);
  }
  EXPECT_EQ(readFile(path), "new");
  const std::string fresh = dir / "fresh";
  {
    FdOutStream s(fresh.c_str(), error, OpenFlags::Exclusive | OpenFlags::Append);
    EXPECT_EQ(error, "");
    s << "x";
  }
  EXPECT_EQ(readFile(fresh), "x");

  // New files get 0666 less the umask.
  mode_t old = umask(027);
  const std::string masked = dir / "masked";
  { FdOutStream s(masked.c_str(), error, OpenFlags::None); }
  umask(old);
  struct stat st;
  ASSERT_EQ(stat(masked.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(OutputFile, FailedOpenIsAUsableStreamThatReportsOnlyWhenWritten) {
  TempDir dir;
  const std::string missing = dir / "no/such/dir/file";
  std::string error;
  ChildResult silent = inChild([&] {
    FdOutStream s(missing.c_str(), error, OpenFlags::None);
    if (error != openMessage(missing, ENOENT)) _exit(4);
  });
  EXPECT_EQ(silent.status, 0);
  EXPECT_EQ(silent.err, "");

  ChildResult written = inChild([&] {
    FdOutStream s(dir.path().c_str(), error, OpenFlags::None); // a directory: EISDIR
    if (error != openMessage(dir.path(), EISDIR)) _exit(4);
    s << "into nothing";
  });
  EXPECT_EQ(written.status, 1);
  EXPECT_EQ(written.err, failureMessage);

  // A caller that looked at the error and cleared the latch ends normally.
  ChildResult cleared = inChild([&] {
    FdOutStream s(missing.c_str(), error, OpenFlags::None);
    s << "into nothing";
    s.flush();
    if (!s.hasWriteFailed()) _exit(4);
    s.clearWriteFailed();
  });
  EXPECT_EQ(cleared.status, 0);
  EXPECT_EQ(cleared.err, "");
}

TEST(OutputFile, DashMeansStandardOutputClosedAtDestruction) {
  std::string error;
  ChildResult r = testsupport::runInChild([&] {
    {
      FdOutStream s("-", error, OpenFlags::Binary);
      if (!error.empty() || s.getFd() != 1) return 4;
      s << "to stdout";
    }
    return fcntl(1, F_GETFD) < 0 ? 0 : 5;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "to stdout");
  // Only the exact text "-" is standard output.
  TempDir dir;
  r = testsupport::runInChild([&] {
    if (chdir(dir.path().c_str()) != 0) return 4;
    { FdOutStream s("-x", error, OpenFlags::None); s << "file"; }
    { FdOutStream s("--", error, OpenFlags::None); s << "file2"; }
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(dir / "-x"), "file");
  EXPECT_EQ(readFile(dir / "--"), "file2");
}

// Checks one way a write can really fail (`openSink` gives a descriptor whose writes fail, or -1
// and a reason to skip): pending bytes that fail at the destructor's flush are reported there; a
// large write that fails at once latches, and a caller that clears the latch ends normally.
void checkFailingSink(int (*openSink)(std::string &skip), const char *name) {
  std::string skip;
  if (int fd = openSink(skip); fd >= 0)
    close(fd);
  else
    GTEST_SKIP() << name << ": " << skip;

  ChildResult reported = inChild([&] {
    int fd = openSink(skip);
    FdOutStream s(fd, true);
    s << "pending answer\n";
    if (s.hasWriteFailed()) _exit(6); // nothing was handed over yet
  });
  EXPECT_EQ(reported.status, 1) << name;
  EXPECT_EQ(reported.err, failureMessage) << name;

  ChildResult cleared = inChild([&] {
    int fd = openSink(skip);
    FdOutStream s(fd, true);
    s << std::string(100000, 'x'); // the whole blocks fail at once, the rest at the flush
    if (!s.hasWriteFailed()) _exit(6);
    s.flush();
    if (s.getBytesWritten() != 100000) _exit(7);
    s.clearWriteFailed();
    s << "more";
    s.flush();
    if (!s.hasWriteFailed()) _exit(8); // later writes still go to the descriptor and fail
    s.clearWriteFailed();
  });
  EXPECT_EQ(cleared.status, 0) << name;
  EXPECT_EQ(cleared.err, "") << name;
}

TEST(WriteFailure, DevFull) {
  checkFailingSink(
      [](std::string &skip) {
        int fd = open("/dev/full", O_WRONLY);
        if (fd < 0) skip = std::string("no /dev/full: ") + std::strerror(errno);
        return fd;
      },
      "/dev/full");
}

TEST(WriteFailure, PipeWithoutReader) {
  checkFailingSink(
      [](std::string &) {
        int fds[2];
        if (pipe(fds) != 0) return -1;
        close(fds[0]);
        return fds[1];
      },
      "closed pipe");
}

testsupport::FullFilesystem *fullFs;

TEST(WriteFailure, FullFileSystem) {
  testsupport::FullFilesystem fs;
  if (!fs.ok()) GTEST_SKIP() << fs.why();
  fullFs = &fs;
  checkFailingSink(
      [](std::string &skip) {
        int fd = open((*fullFs / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) skip = std::string("cannot create a file there: ") + std::strerror(errno);
        return fd;
      },
      "full tmpfs");

  // The same through the path constructor: the open succeeds, the writes do not.
  const std::string path = fs / "named";
  std::string error;
  ChildResult r = inChild([&] {
    FdOutStream s(path.c_str(), error, OpenFlags::None);
    if (!error.empty()) _exit(8);
    s << "does not fit";
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, failureMessage);
  fullFs = nullptr;
}

} // namespace
