#include "support/process/Process.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "support/runtime/LazyStatic.h"
#include "support/text/Hashing.h"

namespace vorn {

namespace {

SysTime fromTimeval(const struct timeval &tv) {
  return SysTime(int64_t(tv.tv_sec), int32_t(tv.tv_usec) * 1000);
}

// The wall-clock start time: taken at the first call, which the initialiser below makes happen
// while the program starts.
const SysTime &startTime() {
  VORN_LAZY_STATIC(const SysTime, start, SysTime::now());
  return start;
}

struct StartTimeRecorder {
  StartTimeRecorder() { startTime(); }
} startTimeRecorder;

} // namespace

ProcessView::~ProcessView() {}

CurrentProcess::CurrentProcess() : pageBytes(uint32_t(::getpagesize())) {}

CurrentProcess &CurrentProcess::get() {
  // Allocated and never freed: it stays usable from other objects' exit-time destructors.
  VORN_LAZY_STATIC(CurrentProcess *const, process, new CurrentProcess());
  return *process;
}

uint32_t CurrentProcess::id() const { return uint32_t(::getpid()); }

SysTime CurrentProcess::userTime() const {
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return fromTimeval(usage.ru_utime);
}

SysTime CurrentProcess::systemTime() const {
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return fromTimeval(usage.ru_stime);
}

SysTime CurrentProcess::wallTime() const { return SysTime::now() - startTime(); }

namespace proc {

void timeUsage(SysTime &now, SysTime &userTime, SysTime &systemTime) {
  now = SysTime::now();
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  userTime = fromTimeval(usage.ru_utime);
  systemTime = fromTimeval(usage.ru_stime);
}

size_t mallocUsage() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
  // mallinfo's int fields wrap past 2 GiB; mallinfo2 has word-sized ones.
  return ::mallinfo2().uordblks;
#else
  return size_t(unsigned(::mallinfo().uordblks));
#endif
}

void preventCoreFiles() {
  struct rlimit limit;
  limit.rlim_cur = 0;
  limit.rlim_max = 0;
  ::setrlimit(RLIMIT_CORE, &limit);
}

std::optional<std::string> environmentValue(StrView name) {
  InlineString<128> terminated(name);
  const char *value = std::getenv(terminated.cStr());
  if (!value) return std::nullopt;
  return std::string(value);
}

namespace detail {

unsigned randomSeed(const char *device) {
  if (std::FILE *f = std::fopen(device, "r")) {
    unsigned value = 0;
    size_t items = std::fread(&value, sizeof value, 1, f);
    std::fclose(f);
    if (items == 1) return value;
  }
  SysTime now = SysTime::now();
  return hashCombine(now.seconds(), now.nanoseconds(), int32_t(::getpid()));
}

} // namespace detail

unsigned randomNumber() {
  VORN_LAZY_STATIC(const bool, seeded, (std::srand(detail::randomSeed("/dev/urandom")), true));
  (void)seeded;
  return unsigned(std::rand());
}

} // namespace proc
} // namespace vorn
