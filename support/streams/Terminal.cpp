#include "support/streams/Terminal.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vorn {
namespace proc {

namespace {

// Indexed by colour + 8 when bold + 16 when background; each sequence fits a 10-byte slot with
// its NUL.
#define VORN_COLOR_ROW(prefix)                                                                     \
  {"\x1b[" prefix "0m", "\x1b[" prefix "1m", "\x1b[" prefix "2m", "\x1b[" prefix "3m",             \
   "\x1b[" prefix "4m", "\x1b[" prefix "5m", "\x1b[" prefix "6m", "\x1b[" prefix "7m"}
const char colorTable[4][8][10] = {
    VORN_COLOR_ROW("0;3"),
    VORN_COLOR_ROW("0;1;3"),
    VORN_COLOR_ROW("0;4"),
    VORN_COLOR_ROW("0;1;4"),
};
#undef VORN_COLOR_ROW

} // namespace

bool flushBeforeColor() { return false; }

const char *colorSequence(TerminalColor color, bool bold, bool background) {
  return colorTable[(bold ? 1 : 0) + (background ? 2 : 0)][unsigned(color) & 7];
}

const char *boldSequence(bool) { return "\x1b[1m"; }
const char *reverseSequence() { return "\x1b[7m"; }
const char *resetSequence() { return "\x1b[0m"; }

bool isTerminal(int fd) { return ::isatty(fd) == 1; }
bool terminalSupportsColor(int) { return false; }

bool stdinIsTerminal() { return isTerminal(STDIN_FILENO); }
bool stdoutIsTerminal() { return isTerminal(STDOUT_FILENO); }
bool stderrIsTerminal() { return isTerminal(STDERR_FILENO); }
bool stdoutSupportsColor() { return terminalSupportsColor(STDOUT_FILENO); }
bool stderrSupportsColor() { return terminalSupportsColor(STDERR_FILENO); }

unsigned terminalWidth(int fd) {
  if (const char *columns = std::getenv("COLUMNS")) {
    long value = std::strtol(columns, nullptr, 10);
    // strtol saturates at LONG_MAX; where long is wider than the result, saturate there too.
    if (value > 0) return uint64_t(value) > UINT_MAX ? UINT_MAX : unsigned(value);
  }
  struct winsize size;
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

unsigned stdoutWidth() { return stdoutIsTerminal() ? terminalWidth(STDOUT_FILENO) : 0; }
unsigned stderrWidth() { return stderrIsTerminal() ? terminalWidth(STDERR_FILENO) : 0; }

} // namespace proc
} // namespace vorn
