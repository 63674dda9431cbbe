// Colour sequences and terminal queries on a real pseudo-terminal, pipes and files.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "StreamTestSupport.h"
#include "support/streams/FdOutStream.h"
#include "support/streams/StringOutStream.h"
#include "support/streams/Terminal.h"

using namespace vorn;
using testsupport::TempDir;
using vorn::testing::readAvailable;
using vorn::testing::readFile;

namespace {

// A pseudo-terminal in raw mode (no newline translation) with a window of `columns` columns.
struct Pty {
  int master = -1, slave = -1;
  explicit Pty(unsigned short columns = 97) {
    struct winsize size = {};
    size.ws_row = 24;
    size.ws_col = columns;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return;
    termios raw;
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
  }
  ~Pty() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
};

// Sets (or, with null, removes) "COLUMNS" for the scope.
class ColumnsValue {
public:
  explicit ColumnsValue(const char *value) {
    if (const char *old = std::getenv("COLUMNS")) saved = old, hadOld = true;
    if (value)
      setenv("COLUMNS", value, 1);
    else
      unsetenv("COLUMNS");
  }
  ~ColumnsValue() {
    if (hadOld)
      setenv("COLUMNS", saved.c_str(), 1);
    else
      unsetenv("COLUMNS");
  }

private:
  std::string saved;
  bool hadOld = false;
};

// The sequence built from its parts, independently of the table.
std::string expectedSequence(unsigned color, bool bold, bool background) {
  std::string s = "\x1b[0;";
  if (bold) s += "1;";
  s += background ? '4' : '3';
  s += char('0' + color);
  return s + "m";
}

TEST(Colours, SequencesForEveryColourWeightAndLayer) {
  for (unsigned c = 0; c < 8; ++c)
    for (bool bold : {false, true})
      for (bool background : {false, true}) {
        const char *seq = proc::colorSequence(TerminalColor(c), bold, background);
        EXPECT_EQ(seq, expectedSequence(c, bold, background)) << c << bold << background;
        EXPECT_LT(std::string(seq).size(), 10u) << "fits its 10-byte slot with the NUL";
        // Only the low three bits of the colour count.
        EXPECT_STREQ(proc::colorSequence(TerminalColor(c + 8), bold, background), seq);
      }
  EXPECT_STREQ(proc::boldSequence(false), "\x1b[1m");
  EXPECT_STREQ(proc::boldSequence(true), "\x1b[1m");
  EXPECT_STREQ(proc::reverseSequence(), "\x1b[7m");
  EXPECT_STREQ(proc::resetSequence(), "\x1b[0m");
  EXPECT_FALSE(proc::flushBeforeColor());
}

TEST(Colours, ExactBytesOnAPseudoTerminal) {
  Pty pty;
  ASSERT_GE(pty.slave, 0);
  FdOutStream s(pty.slave, false);
  EXPECT_TRUE(s.showsOnTerminal());
  EXPECT_FALSE(s.supportsColors()) << "no terminal is taken to support colours";

  s.setColor(TerminalColor::Red) << "abc";
  std::string want = "\x1b[0;31mabc";
  EXPECT_EQ(readAvailable(pty.master, want.size(), 2000), want);
  EXPECT_EQ(s.getBytesWritten(), 3u) << "escape bytes are not counted";

  s.setColor(TerminalColor::Blue, true, true) << "x";
  s.setColor(TerminalColor::KeepColor, false, true) << "y";
  s.setReverseVideo() << "z";
  s.restoreColor();
  want = "\x1b[0;1;44mx\x1b[1my\x1b[7mz\x1b[0m";
  EXPECT_EQ(readAvailable(pty.master, want.size(), 2000), want);
  EXPECT_EQ(s.getBytesWritten(), 6u);
  EXPECT_EQ(s.position(), 6u);
}

TEST(Colours, BufferedFileKeepsOrderAndCountsOnlyText) {
  TempDir dir;
  const std::string path = dir / "coloured";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  {
    FdOutStream s(fd, true);
    EXPECT_FALSE(s.showsOnTerminal());
    s << "a";
    s.setColor(TerminalColor::Green);
    EXPECT_EQ(s.position(), 1u) << "a pending sequence does not move the position";
    s << "bc";
    s.restoreColor();
    EXPECT_EQ(s.position(), 3u);
    s.flush();
    EXPECT_EQ(s.getBytesWritten(), 3u);
    // Seeking is by real offsets again: the count follows the descriptor.
    EXPECT_EQ(s.seek(0), 0u);
    s << "A";
    s.flush();
    EXPECT_EQ(s.getBytesWritten(), 1u);
  }
  EXPECT_EQ(readFile(path), "A\x1b[0;32mbc\x1b[0m");

  // Streams without a terminal behind them ignore colours entirely.
  std::string text;
  {
    StringOutStream str(text);
    str.setColor(TerminalColor::Red) << "plain";
    str.restoreColor();
    str.setReverseVideo();
  }
  EXPECT_EQ(text, "plain");
}

TEST(Terminal, IsTerminalOfPtyPipeAndFile) {
  Pty pty;
  ASSERT_GE(pty.slave, 0);
  EXPECT_TRUE(proc::isTerminal(pty.slave));
  EXPECT_FALSE(proc::terminalSupportsColor(pty.slave));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_FALSE(proc::isTerminal(fds[0]));
  EXPECT_FALSE(proc::isTerminal(fds[1]));
  FdOutStream onPipe(fds[1], true);
  EXPECT_FALSE(onPipe.showsOnTerminal());
  close(fds[0]);
  TempDir dir;
  int file = open((dir / "f").c_str(), O_WRONLY | O_CREAT, 0600);
  EXPECT_FALSE(proc::isTerminal(file));
  close(file);
  EXPECT_FALSE(proc::isTerminal(-1));
}

TEST(Terminal, WidthFromColumnsOrTheDriver) {
  Pty pty(97);
  ASSERT_GE(pty.slave, 0);
  {
    ColumnsValue unset(nullptr);
    EXPECT_EQ(proc::terminalWidth(pty.slave), 97u);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(proc::terminalWidth(fds[1]), 0u) << "a pipe has no window";
    close(fds[0]);
    close(fds[1]);
  }
  {
    ColumnsValue set("132");
    EXPECT_EQ(proc::terminalWidth(pty.slave), 132u);
  }
  // Values that do not read as a positive number leave the width to the driver.
  for (const char *bad : {"0", "-40", "abc", ""}) {
    ColumnsValue set(bad);
    EXPECT_EQ(proc::terminalWidth(pty.slave), 97u) << "COLUMNS='" << bad << "'";
  }
  // The window changes under a running program.
  struct winsize size = {};
  size.ws_row = 10;
  size.ws_col = 41;
  ASSERT_EQ(ioctl(pty.master, TIOCSWINSZ, &size), 0);
  ColumnsValue unset(nullptr);
  EXPECT_EQ(proc::terminalWidth(pty.slave), 41u);
}

TEST(Terminal, StandardDescriptorQueries) {
  Pty pty(97);
  ASSERT_GE(pty.slave, 0);
  // In a child: descriptors 0, 1 and 2 as each case needs, the answers reported on a pipe.
  auto ask = [&](bool stdoutOnPty, bool stderrOnPty, const char *columns) {
    int report[2];
    if (pipe(report) != 0) return std::string("pipe failed");
    testsupport::ChildResult r = testsupport::runInChild([&] {
      if (columns) setenv("COLUMNS", columns, 1); else unsetenv("COLUMNS");
      if (stdoutOnPty) dup2(pty.slave, 1);
      if (stderrOnPty) dup2(pty.slave, 2);
      dup2(pty.slave, 0);
      std::string answer = std::to_string(proc::stdinIsTerminal()) +
                           std::to_string(proc::stdoutIsTerminal()) +
                           std::to_string(proc::stderrIsTerminal()) + " " +
                           std::to_string(proc::stdoutWidth()) + " " +
                           std::to_string(proc::stderrWidth()) + " " +
                           std::to_string(proc::stdoutSupportsColor()) +
                           std::to_string(proc::stderrSupportsColor());
      return testsupport::writeAll(report[1], answer) ? 0 : 3;
    });
    close(report[1]);
    std::string answer = testsupport::readToEnd(report[0]);
    close(report[0]);
    return r.status == 0 ? answer : "child failed: " + r.err;
  };
  EXPECT_EQ(ask(true, false, "132"), "110 132 0 00");
  EXPECT_EQ(ask(false, true, "132"), "101 0 132 00") << "redirected output has no width";
  EXPECT_EQ(ask(true, true, nullptr), "111 97 97 00");
  EXPECT_EQ(ask(false, false, "132"), "100 0 0 00");
}

} // namespace
