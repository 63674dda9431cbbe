#ifndef VORN_TESTS_SUPPORT_PROCESS_SIGNALTESTSUPPORT_H
#define VORN_TESTS_SUPPORT_PROCESS_SIGNALTESTSUPPORT_H

// Real faults for the signal tests and their helper programs, and a child-process runner whose
// crash signals start at their default actions.

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef SIGNALTEST_NO_CHILDREN
#include "tests/common/TestSupport.h"
#endif

namespace signaltest {

// The crash signals at their default actions, and no core files. Under the sanitizers some
// signals start with the sanitizer's own handler, which would otherwise become the "previous
// action" the tests see.
inline void defaultCrashActions() {
  struct rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
  for (int s : {SIGILL, SIGTRAP, SIGABRT, SIGFPE, SIGBUS, SIGSEGV, SIGQUIT, SIGSYS, SIGXCPU,
                SIGXFSZ}) {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigaction(s, &action, nullptr);
  }
}

// The faults fault() can make.
inline std::vector<int> faultKinds() { return {SIGSEGV, SIGFPE, SIGILL, SIGBUS, SIGABRT}; }

// A store into a page that allows no access.
__attribute__((noipa)) inline void writeToGuardPage() {
  long size = sysconf(_SC_PAGESIZE);
  void *page = mmap(nullptr, size_t(size), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  *static_cast<volatile int *>(page) = 1;
}

// An integer division by zero, which the processor refuses (the undefined-behaviour checker
// would report it first).
__attribute__((noipa, no_sanitize_undefined)) inline int divideByZero(int dividend) {
  volatile int divisor = 0;
  volatile int quotient = dividend / divisor; // stored, so that the division is not dropped
  return quotient;
}

// A read of a mapped file page past the file's end.
__attribute__((noipa)) inline void readPastMappedFile() {
  char model[] = "/tmp/vorn-sigbus-XXXXXX";
  int fd = mkstemp(model);
  unlink(model);
  if (fd < 0 || ftruncate(fd, 1) != 0) abort();
  long size = sysconf(_SC_PAGESIZE);
  void *map = mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED || ftruncate(fd, 0) != 0) abort();
  *static_cast<volatile char *>(map) = 1;
}

// Makes the fault that raises `kind` (one of faultKinds()).
__attribute__((noipa)) inline void fault(int kind) {
  switch (kind) {
  case SIGSEGV:
    writeToGuardPage();
    break;
  case SIGFPE:
    divideByZero(1);
    break;
  case SIGILL:
    __builtin_trap();
  case SIGBUS:
    readPastMappedFile();
    break;
  default:
    abort();
  }
  // Not reached: a fault that returns is reported by the caller's expectations.
  asm volatile("" ::: "memory");
}

// `err` without the line a user-mode emulator adds when its guest program dies by a signal.
inline std::string withoutEmulatorNote(std::string err) {
  const std::string note = "qemu: uncaught target signal ";
  for (size_t at = err.find(note); at != std::string::npos; at = err.find(note, at)) {
    if (at != 0 && err[at - 1] != '\n') {
      ++at;
      continue;
    }
    size_t end = err.find('\n', at);
    err.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  }
  return err;
}

#ifndef SIGNALTEST_NO_CHILDREN
// Runs `body` in a forked child (testsupport::runInChild) with the crash signals at their default
// actions and a watchdog alarm, so that a deadlock ends the child by SIGALRM. An emulator's note
// about the child's end is dropped from its standard error.
inline testsupport::ChildResult runChild(const std::function<int()> &body) {
  testsupport::ChildResult r = testsupport::runInChild([&] {
    defaultCrashActions();
    alarm(120);
    return body();
  });
  r.err = withoutEmulatorNote(r.err);
  return r;
}
#endif

} // namespace signaltest

#endif
