#include "support/process/Program.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/fs/Files.h"
#include "support/fs/Paths.h"
#include "support/runtime/LazyStatic.h"
#include "support/text/InlineVector.h"

namespace vorn {
namespace proc {

namespace {

void setMessage(std::string *message, std::string text) {
  if (message) *message = std::move(text);
}

std::string failure(const char *prefix, int code) {
  return std::string(prefix) + ": " + errnoMessage(code);
}

// Output and error files are truncated: a program's output must not be followed by the tail of
// a longer file that held the name before.
const int kOutputFlags = O_WRONLY | O_CREAT | O_TRUNC;

// Exit statuses by which a launched child says that it could not run the program.
const int kNotFound = 127;
const int kCannotRun = 126;

// The redirections of one launch, as NUL-terminated names owned by the launch.
struct Redirections {
  bool given = false;
  bool present[3] = {false, false, false};
  std::string names[3];
  bool errorFollowsOutput = false; // output and error name the same text: share one open file

  explicit Redirections(const StrView *const *redirects) {
    if (!redirects) return;
    given = true;
    for (int fd = 0; fd < 3; ++fd) {
      if (!redirects[fd]) continue;
      present[fd] = true;
      names[fd] = redirects[fd]->empty() ? std::string("/dev/null") : redirects[fd]->str();
    }
    errorFollowsOutput = redirects[1] && redirects[2] && redirects[1]->sameText(*redirects[2]);
  }
  int flags(int fd) const { return fd == 0 ? O_RDONLY : kOutputFlags; }
};

bool launchWithSpawn(const char *path, const char *const *args, const char *const *env,
                     const Redirections &redirections, pid_t &pid, std::string *message) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_t *used = nullptr;
  if (redirections.given) {
    posix_spawn_file_actions_init(&actions);
    used = &actions;
    for (int fd = 0; fd < 3; ++fd) {
      if (fd == 2 && redirections.errorFollowsOutput) {
        if (int rc = posix_spawn_file_actions_adddup2(&actions, 1, 2)) {
          setMessage(message, failure("Can't redirect stderr to stdout", rc));
          posix_spawn_file_actions_destroy(&actions);
          return false;
        }
        continue;
      }
      if (!redirections.present[fd]) continue;
      if (int rc = posix_spawn_file_actions_addopen(&actions, fd, redirections.names[fd].c_str(),
                                                    redirections.flags(fd), 0666)) {
        setMessage(message, failure("Cannot dup2", rc));
        posix_spawn_file_actions_destroy(&actions);
        return false;
      }
    }
  }
  int rc = posix_spawn(&pid, path, used, nullptr, const_cast<char *const *>(args),
                       const_cast<char *const *>(env ? env : environ));
  if (used) posix_spawn_file_actions_destroy(used);
  if (rc != 0) {
    setMessage(message, failure("posix_spawn failed", rc));
    return false;
  }
  return true;
}

// In the forked child, which calls only async-signal-safe functions (the parent may have other
// threads). Opens `name` onto `fd`; false on failure.
bool redirectInChild(int fd, const char *name, int flags) {
  int opened = ::open(name, flags, 0666);
  if (opened < 0) return false;
  if (opened == fd) return true; // landed on its target already: closing it would undo it
  bool ok = ::dup2(opened, fd) >= 0;
  ::close(opened);
  return ok;
}

void lowerSoftLimit(int resource, rlim_t bytes) {
  struct rlimit limit;
  if (::getrlimit(resource, &limit) != 0) return;
  // The hard limit stays; a soft limit above it would be refused, and the hard one is lower.
  limit.rlim_cur = (limit.rlim_max != RLIM_INFINITY && bytes > limit.rlim_max) ? limit.rlim_max
                                                                               : bytes;
  ::setrlimit(resource, &limit);
}

// Sets up the forked child and replaces it by the program; never returns. A redirection that
// cannot be made ends the child with kCannotRun: it must neither run the program with the
// wrong streams nor return into the caller's code, which the parent goes on running.
[[noreturn]] void becomeProgram(const char *path, const char *const *args,
                                const char *const *env, const Redirections &redirections,
                                uint64_t limitBytes) {
  if (redirections.given) {
    for (int fd = 0; fd < 3; ++fd) {
      if (fd == 2 && redirections.errorFollowsOutput) {
        if (::dup2(1, 2) < 0) ::_exit(kCannotRun);
        continue;
      }
      if (redirections.present[fd] &&
          !redirectInChild(fd, redirections.names[fd].c_str(), redirections.flags(fd)))
        ::_exit(kCannotRun);
    }
  }
  // rlim_t is 64 bits wide in every build, so a limit of 4096 MiB or more is not cut.
  rlim_t bytes = rlim_t(limitBytes);
  lowerSoftLimit(RLIMIT_DATA, bytes);
  lowerSoftLimit(RLIMIT_RSS, bytes);
  lowerSoftLimit(RLIMIT_AS, bytes);
  if (env)
    ::execve(path, const_cast<char *const *>(args), const_cast<char *const *>(env));
  else
    ::execv(path, const_cast<char *const *>(args));
  ::_exit(errno == ENOENT ? kNotFound : kCannotRun);
}

bool launchWithFork(const char *path, const char *const *args, const char *const *env,
                    const Redirections &redirections, uint32_t memoryLimitMiB, pid_t &pid,
                    std::string *message) {
  const uint64_t limitBytes = uint64_t(memoryLimitMiB) * 1048576u;
  pid_t child = ::fork();
  if (child < 0) {
    setMessage(message, failure("Couldn't fork", errno));
    return false;
  }
  if (child == 0) becomeProgram(path, args, env, redirections, limitBytes);
  pid = child;
  return true;
}

bool launch(StrView program, const char *const *args, const char *const *env,
            const StrView *const *redirects, uint32_t memoryLimitMiB, ChildInfo &child,
            std::string *message) {
  bool found = false;
  if (files::exists(program, found) || !found) {
    setMessage(message, "Executable \"" + program.str() + "\" doesn't exist!");
    return false;
  }
  InlineString<128> path(program);
  const char *cPath = path.cStr();
  Redirections redirections(redirects);
  pid_t pid = 0;
  bool ok = memoryLimitMiB == 0
                ? launchWithSpawn(cPath, args, env, redirections, pid, message)
                : launchWithFork(cPath, args, env, redirections, memoryLimitMiB, pid, message);
  if (ok) child.pid = int32_t(pid);
  return ok;
}

volatile sig_atomic_t alarmFired = 0;

extern "C" void onWaitAlarm(int) { alarmFired = 1; }

// Lends SIGALRM and the alarm timer to one timed wait.
class WaitAlarm {
public:
  explicit WaitAlarm(unsigned seconds) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onWaitAlarm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the wait must be interrupted
    alarmFired = 0;
    ::sigaction(SIGALRM, &action, &previous);
    ::alarm(seconds);
  }
  ~WaitAlarm() { release(); }
  bool fired() const { return alarmFired != 0; }
  void release() {
    if (released) return;
    released = true;
    ::alarm(0);
    ::sigaction(SIGALRM, &previous, nullptr);
  }

private:
  struct sigaction previous;
  bool released = false;
};

// Blocking waitpid for `pid` alone until the child ends or `timer` fires (then -1 with EINTR);
// again when another signal interrupts it. An alarm that lands between the look at the flag and
// the wait must not be lost, or the wait would last until the child ends: SIGALRM stays blocked
// but inside the wait itself, which unblocks it atomically (ppoll on a descriptor of the child).
// Where the kernel has no such descriptors the wait is a plain waitpid, with that window open.
pid_t timedWaitForPid(pid_t pid, int &status, const WaitAlarm &timer) {
  sigset_t alarmOnly, previous, during;
  sigemptyset(&alarmOnly);
  sigaddset(&alarmOnly, SIGALRM);
  ::pthread_sigmask(SIG_BLOCK, &alarmOnly, &previous);
  during = previous;
  sigdelset(&during, SIGALRM);
  int childFd = int(::syscall(SYS_pidfd_open, pid, 0));
  pid_t got;
  for (;;) {
    if (timer.fired()) {
      errno = EINTR;
      got = -1;
      break;
    }
    if (childFd >= 0) {
      got = ::waitpid(pid, &status, WNOHANG);
      if (got != 0) break;
      struct pollfd child = {childFd, POLLIN, 0};
      if (::ppoll(&child, 1, nullptr, &during) >= 0 || errno == EINTR) continue;
      // The descriptor cannot be waited on after all: wait as without one.
      ::close(childFd);
      childFd = -1;
    }
    ::pthread_sigmask(SIG_SETMASK, &during, nullptr);
    got = ::waitpid(pid, &status, 0);
    int waitErrno = errno;
    ::pthread_sigmask(SIG_BLOCK, &alarmOnly, nullptr);
    errno = waitErrno;
    if (got >= 0 || errno != EINTR) break;
  }
  int savedErrno = errno;
  if (childFd >= 0) ::close(childFd);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = savedErrno;
  return got;
}

// waitpid for `pid` alone, again when a signal interrupts it; with `timer`, until it fires.
pid_t waitForPid(pid_t pid, int &status, int options, const WaitAlarm *timer) {
  if (timer) return timedWaitForPid(pid, status, *timer);
  for (;;) {
    pid_t got = ::waitpid(pid, &status, options);
    if (got >= 0 || errno != EINTR) return got;
  }
}

} // namespace

std::string findInPath(const std::string &name) {
  if (name.empty()) return std::string();
  if (name.find('/') != std::string::npos) return name;
  const char *searchPath = std::getenv("PATH");
  if (!searchPath || !*searchPath) return std::string();
  const StrView list(searchPath);
  const StrView program(name);
  InlineString<128> candidate;
  uint32_t at = 0;
  while (at < list.size()) {
    uint32_t end = list.find(':', at);
    if (end == StrView::npos) end = list.size();
    StrView dir = list.substr(at, end - at);
    candidate.clear();
    paths::append(candidate, dir, program);
    StrView built = candidate.view();
    if (files::canExecute(built)) return built.str();
    // Past the directory and every ':' after it: only a leading ':' gives an empty directory.
    at = list.findFirstNotOf(':', end);
    if (at == StrView::npos) break;
  }
  return std::string();
}

ChildInfo spawn(StrView program, const char *const *args, const char *const *env,
                const StrView *const *redirects, uint32_t memoryLimitMiB, std::string *message,
                bool *executionFailed) {
  ChildInfo child;
  if (executionFailed) *executionFailed = false;
  if (!launch(program, args, env, redirects, memoryLimitMiB, child, message)) {
    if (executionFailed) *executionFailed = true;
    child.pid = 0;
  }
  return child;
}

int runAndWait(StrView program, const char *const *args, const char *const *env,
               const StrView *const *redirects, uint32_t secondsToWait, uint32_t memoryLimitMiB,
               std::string *message, bool *executionFailed) {
  ChildInfo child;
  if (!launch(program, args, env, redirects, memoryLimitMiB, child, message)) {
    if (executionFailed) *executionFailed = true;
    return -1;
  }
  if (executionFailed) *executionFailed = false;
  // A non-zero time is a limit: wait with the timer instead of without end.
  return waitForChild(child, secondsToWait, secondsToWait == 0, message).returnCode;
}

ChildInfo waitForChild(const ChildInfo &child, uint32_t secondsToWait, bool waitUntilTerminates,
                       std::string *message) {
  const bool timed = !waitUntilTerminates && secondsToWait > 0;
  const bool blocking = waitUntilTerminates || timed;
  ChildInfo result;
  int status = 0;
  pid_t got;
  if (timed) {
    WaitAlarm timer(secondsToWait);
    got = waitForPid(child.pid, status, 0, &timer);
    if (got < 0 && errno == EINTR) {
      // Time is up: kill the child, give SIGALRM back, and reap the child.
      ::kill(child.pid, SIGKILL);
      timer.release();
      got = waitForPid(child.pid, status, 0, nullptr);
      result.pid = got;
      result.returnCode = -2;
      if (got == child.pid)
        setMessage(message, "Child timed out: ");
      else
        setMessage(message, failure("Child timed out but wouldn't die", errno));
      return result;
    }
    int savedErrno = errno;
    timer.release();
    errno = savedErrno;
  } else {
    got = waitForPid(child.pid, status, blocking ? 0 : WNOHANG, nullptr);
  }
  result.pid = got;
  if (got == 0) return result; // looked without blocking: still running
  if (got != child.pid) {
    setMessage(message, failure("Error waiting for child process", errno));
    result.returnCode = -1;
    return result;
  }

  if (WIFEXITED(status)) {
    result.returnCode = WEXITSTATUS(status);
    if (result.returnCode == kNotFound) {
      setMessage(message, errnoMessage(ENOENT));
      result.returnCode = -1;
    } else if (result.returnCode == kCannotRun) {
      setMessage(message, "Program could not be executed");
      result.returnCode = -1;
    }
  } else if (WIFSIGNALED(status)) {
    std::string text = ::strsignal(WTERMSIG(status));
    if (WCOREDUMP(status)) text += " (core dumped)";
    setMessage(message, text);
    result.returnCode = -2;
  }
  return result;
}

bool argumentsFit(const char *const *args, size_t count) {
  VORN_LAZY_STATIC(const long, argMax, ::sysconf(_SC_ARG_MAX));
  if (argMax == -1) return true;
  const uint64_t limit = uint64_t(argMax) / 2;
  uint64_t total = 0;
  for (size_t i = 0; i < count; ++i) {
    total += uint64_t(std::strlen(args[i])) + 1;
    if (total > limit) return false;
  }
  return true;
}

ErrorCode setStdinBinary() { return ErrorCode(0, genericCategory()); }
ErrorCode setStdoutBinary() { return ErrorCode(0, genericCategory()); }
ErrorCode setStderrBinary() { return ErrorCode(0, genericCategory()); }

} // namespace proc
} // namespace vorn
