#ifndef VORN_SUPPORT_PROCESS_PROCESS_H
#define VORN_SUPPORT_PROCESS_PROCESS_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "support/process/SysTime.h"
#include "support/runtime/ErrorCode.h"
#include "support/text/InlineVector.h"
#include "support/text/StrView.h"

// Services that describe the running process: its id, page size and times, memory in use,
// core-file prevention, the environment, the argument vector and the pseudo-random numbers used
// for unique names.

namespace vorn {

// A process as seen from outside: its id and the times it has used.
class ProcessView {
public:
  virtual ~ProcessView();
  // The process id.
  virtual uint32_t id() const = 0;
  // CPU time spent in user mode.
  virtual SysTime userTime() const = 0;
  // CPU time spent in the kernel on its behalf.
  virtual SysTime systemTime() const = 0;
  // Wall-clock time elapsed since the process started.
  virtual SysTime wallTime() const = 0;
};

// The running process. There is exactly one; it is built at the first get() and never destroyed.
class CurrentProcess final : public ProcessView {
public:
  // The one object, built on first use (safe from several threads).
  static CurrentProcess &get();

  // The size of a memory page in bytes, read when the object was built.
  uint32_t pageSize() const { return pageBytes; }

  uint32_t id() const override;
  // From getrusage of this process (all its threads).
  SysTime userTime() const override;
  SysTime systemTime() const override;
  // Measured from the wall-clock start time, which the module takes while the program starts.
  SysTime wallTime() const override;

private:
  CurrentProcess();
  CurrentProcess(const CurrentProcess &) = delete;
  CurrentProcess &operator=(const CurrentProcess &) = delete;

  uint32_t pageBytes;
};

namespace proc {

// The current time and the CPU times (user, system) this process has used so far, the two
// from one getrusage call.
void timeUsage(SysTime &now, SysTime &userTime, SysTime &systemTime);

// The bytes currently allocated by malloc in its main arena (blocks served by a memory mapping of
// their own are not counted).
size_t mallocUsage();

// Sets this process's core-file size limit (soft and hard) to 0; failures are ignored.
void preventCoreFiles();

// The value of the environment variable `name`: absent when it is not set, a copy of the value
// (possibly empty) when it is.
std::optional<std::string> environmentValue(StrView name);

// Appends the `count` argument pointers at `args` to `out` in order; the texts are not copied,
// so they must outlive `out`. Always succeeds: this platform's arguments need no conversion.
template <unsigned N>
ErrorCode copyArguments(InlineVector<const char *, N> &out, const char *const *args,
                        size_t count) {
  out.append(args, args + count);
  return ErrorCode();
}

// A pseudo-random number from the C library's generator (rand), which the first call seeds once
// for the whole process: from 4 bytes of "/dev/urandom", or, when they cannot be read, from a
// hash of the current time and the process id. Nothing reseeds it; every caller of rand() in the
// process consumes the same sequence.
unsigned randomNumber();

namespace detail {
// The seed randomNumber takes, read from `device` as described there.
unsigned randomSeed(const char *device);
} // namespace detail

} // namespace proc
} // namespace vorn

#endif
