#ifndef VORN_SUPPORT_PROCESS_PROGRAM_H
#define VORN_SUPPORT_PROCESS_PROGRAM_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/runtime/ErrorCode.h"
#include "support/text/StrView.h"

// Running other programs: finding them along "PATH", starting them with arguments, an optional
// environment, optional redirections of the standard streams and an optional memory limit, and
// waiting for them. Without a memory limit the child is made with posix_spawn; with one it is
// forked, set up and replaced by the program with execve. Failures are described in a
// caller-supplied string (the `message` parameters; null when no text is wanted); nothing is
// printed. Meant to be called from one thread.
//
// Common parameters:
//  - `args`: the null-terminated argument vector, argument 0 being the name the program should
//    see; `env`: a null-terminated "NAME=value" vector, or null to pass this process's
//    environment. Both are handed to the system unchanged.
//  - `redirects`: null (nothing redirected) or an array of exactly three entries for the
//    standard input, output and error. A null entry leaves that stream inherited; otherwise the
//    entry names a file, "/dev/null" when the name is empty. Output and error files are created
//    (mode 0666 less the umask) and truncated. When the output and error names are the same
//    text, both streams share one open file.
//  - `memoryLimitMiB`: 0 for none; otherwise the child's data, resident and address-space soft
//    limits, in MiB.

namespace vorn {
namespace proc {

// A child process: its id (0 when it was not started; after a wait, what the wait returned)
// and, once waited for, how it ended (see waitForChild).
struct ChildInfo {
  int32_t pid = 0;
  int32_t returnCode = 0;
};

// The program to run for `name`: the empty string for an empty name; `name` itself when it holds
// a '/' (not checked); else the first "PATH" directory entry joined with `name` that is a
// readable, executable regular file, exactly as joined (an empty entry, possible only at the
// start of "PATH", gives the bare name, relative to the working directory); the empty string when
// there is none or "PATH" is unset or empty.
std::string findInPath(const std::string &name);

// Starts `program` (a path; it is not searched for) and returns at once. On failure the result's
// pid is 0, `*message` says why and `*executionFailed` is true. A program that exists but cannot
// be run may instead start a child that ends with status 127 or 126 (see waitForChild). In the
// fork method (memory limit set) a child that cannot set up its redirections ends with status 126
// without running the program.
ChildInfo spawn(StrView program, const char *const *args, const char *const *env = nullptr,
                const StrView *const *redirects = nullptr, uint32_t memoryLimitMiB = 0,
                std::string *message = nullptr, bool *executionFailed = nullptr);

// Starts `program` like spawn and waits for it to end; the result is waitForChild's return code,
// or -1 when the program could not be started (then `*executionFailed` is true). A non-zero
// `secondsToWait` is a time limit: a child still running then is killed and -2 returned.
int runAndWait(StrView program, const char *const *args, const char *const *env = nullptr,
               const StrView *const *redirects = nullptr, uint32_t secondsToWait = 0,
               uint32_t memoryLimitMiB = 0, std::string *message = nullptr,
               bool *executionFailed = nullptr);

// Waits for the started `child`, never for any other child of this process.
//  - `waitUntilTerminates`: blocks until it ends (`secondsToWait` is ignored).
//  - else with `secondsToWait` > 0: blocks at most that long, using SIGALRM and the alarm timer,
//    which are restored afterwards (a pending alarm of the caller is cancelled); a child still
//    running then is killed with SIGKILL and reaped, and the return code is -2.
//  - else: only looks; a child still running gives pid 0 and return code 0.
// A wait interrupted by another signal waits again. How the child ended: an exit status is the
// return code, except 127 (-1, the text for "no such file") and 126 (-1, "Program could not be
// executed"), which the launch uses for programs that could not be run; a signal gives -2 and
// its description (plus " (core dumped)"); a failing wait gives -1 and
// "Error waiting for child process: " with the reason. The result's pid is what the last wait
// call returned. At most one timed wait may run at a time in the process.
ChildInfo waitForChild(const ChildInfo &child, uint32_t secondsToWait, bool waitUntilTerminates,
                       std::string *message = nullptr);

// Whether the `count` texts at `args` fit in half the system's argument space (ARG_MAX, read
// once): the sum of their lengths plus one each. True when the system sets no limit.
bool argumentsFit(const char *const *args, size_t count);

// Switch the standard streams to binary mode: nothing to do on this platform. Always 0 (generic).
ErrorCode setStdinBinary();
ErrorCode setStdoutBinary();
ErrorCode setStderrBinary();

} // namespace proc
} // namespace vorn

#endif
