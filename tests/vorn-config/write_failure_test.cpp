// vorn-config whose answers cannot be written: a pipe nobody reads and a full file system. The
// answers are lost, and the run must not end as if they had been delivered.

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "tests/common/FullFilesystem.h"
#include "tests/common/TestSupport.h"

namespace {

const char failureMessage[] = "VORN ERROR: IO failure on output stream.\n";

// Runs the tool with `args`, its standard output on `outFd` and SIGPIPE as `sigpipe` says.
testsupport::ChildResult runWithStdout(int outFd, std::vector<std::string> args,
                                       void (*sigpipe)(int) = SIG_IGN) {
  testsupport::Command command;
  command.program = VORN_CONFIG_EXE;
  command.args = std::move(args);
  command.beforeExec = [outFd, sigpipe] {
    signal(SIGPIPE, sigpipe);
    if (dup2(outFd, 1) < 0) _exit(126);
  };
  return testsupport::runProgram(command);
}

TEST(VornConfigOutput, PipeWithoutReader) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  // With SIGPIPE ignored the write fails with EPIPE: the fatal report and status 1.
  testsupport::ChildResult ignored = runWithStdout(fds[1], {"--version", "--prefix"});
  EXPECT_EQ(ignored.status, 1);
  EXPECT_EQ(ignored.err, failureMessage);
  // With the default action the signal ends the tool: no success either.
  testsupport::ChildResult killed = runWithStdout(fds[1], {"--version"}, SIG_DFL);
  EXPECT_EQ(killed.signal, SIGPIPE);
  EXPECT_EQ(killed.err, "");
  close(fds[1]);
}

TEST(VornConfigOutput, FullFileSystem) {
  testsupport::FullFilesystem fs;
  if (!fs.ok()) GTEST_SKIP() << fs.why();
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"--version"},
        std::vector<std::string>{"--components", "--libs", "all", "--cxxflags"}}) {
    int out = open((fs / "answers").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(out, 0);
    testsupport::ChildResult r = runWithStdout(out, args);
    close(out);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.err, failureMessage) << args[0];
  }
  // The same answers on a file system with room are written and the run succeeds.
  testsupport::TempDir dir;
  int out = open((dir / "answers").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  testsupport::ChildResult r = runWithStdout(out, {"--version"});
  close(out);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(testsupport::readFile(dir / "answers"), "3.4\n");
}

} // namespace
