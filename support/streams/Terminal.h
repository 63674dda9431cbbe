#ifndef VORN_SUPPORT_STREAMS_TERMINAL_H
#define VORN_SUPPORT_STREAMS_TERMINAL_H

#include "support/runtime/Compiler.h"

#include "support/streams/OutStream.h"

namespace vorn {
namespace proc {

// Terminal services: the ECMA-48 select-graphic-rendition sequences the descriptor streams write
// for colours, and what the process can learn about its terminals. Nothing here has state of its
// own; every function may run on any thread.

// Whether pending output must be flushed before a colour change: never here, the sequences are
// ordinary bytes in the output.
bool flushBeforeColor();

// The sequence for `color` (its low three bits; KeepColor, 8, gives Black's entry), in bold and for
// the background when asked: ESC "[0;" then "1;" when bold, then "3" or "4" and the colour
// digit, then "m". Every sequence starts by resetting earlier attributes. The text is static and
// NUL-terminated.
const char *colorSequence(TerminalColor color, bool bold, bool background);
// ESC "[1m": bold in the current colour. `background` is ignored.
const char *boldSequence(bool background);
// ESC "[7m": reverse video.
const char *reverseSequence();
// ESC "[0m": back to the terminal's defaults.
const char *resetSequence();

// Whether `fd` is a terminal (isatty).
bool isTerminal(int fd);
// Whether `fd` is a terminal known to show colours: always false, since no terminal capability
// database is consulted.
bool terminalSupportsColor(int fd);

bool stdinIsTerminal();
bool stdoutIsTerminal();
bool stderrIsTerminal();
// terminalSupportsColor of descriptors 1 and 2 (false).
bool stdoutSupportsColor();
bool stderrSupportsColor();

// The width in columns of the terminal on `fd`: the value of "COLUMNS" when it is set and reads
// (strtol, base 10) as a number above 0, else what the terminal driver reports (TIOCGWINSZ), else
// 0. The caller makes sure `fd` is a terminal when "COLUMNS" is not to decide.
unsigned terminalWidth(int fd);
// The terminal width of descriptor 1 (2), or 0 when that descriptor is not a terminal.
unsigned stdoutWidth();
unsigned stderrWidth();

} // namespace proc
} // namespace vorn

#endif
