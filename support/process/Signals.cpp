#include "support/process/Signals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/runtime/Mutex.h"

// The handler runs on whatever thread the signal hits, possibly in the middle of a registration
// or of another signal's handling. Two rules keep it safe:
//  - Every change of the lists happens with the sixteen signals held back on the changing thread
//    and under the signal lock. The handler therefore never sees a list half-changed by its own
//    thread, never re-enters the platform mutex from inside a platform mutex call, and on another
//    thread waits for the change to end.
//  - The handler holds every signal back while it removes the files, so a second signal (whose
//    previous action is back in place by then) takes effect only once the clean-up is complete.
// The handler allocates nothing: it reads the list in place.

namespace vorn {
namespace proc {
namespace {

const int interruptSignals[] = {SIGHUP, SIGINT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2};
const int crashSignals[] = {SIGILL,  SIGTRAP, SIGABRT, SIGFPE,  SIGBUS,
                            SIGSEGV, SIGQUIT, SIGSYS,  SIGXCPU, SIGXFSZ};
constexpr unsigned handledSignalCount =
    sizeof(interruptSignals) / sizeof(int) + sizeof(crashSignals) / sizeof(int);

struct CrashCallback {
  void (*function)(void *);
  void *cookie;
};

// The module's lists and their lock, built before main by the static initialiser below.
struct SignalState {
  SignalState();
  ~SignalState();

  ModalMutex lock{true};
  std::vector<std::string> filesToRemove;
  std::vector<CrashCallback> crashCallbacks;
};

// The state while it exists: set when it is built, cleared when it is destroyed at exit, so that
// a signal or a fatal error after that finds nothing to do instead of a destroyed list.
SignalState *volatile liveState = nullptr;

SignalState::SignalState() { liveState = this; }
SignalState::~SignalState() { liveState = nullptr; }

// Built on first use too, in case a static initialiser of another module registers something
// before this module's own initialiser has run.
SignalState &signalState() {
  static SignalState state;
  return state;
}

[[maybe_unused]] SignalState &builtBeforeMain = signalState();

// Run once, instead of dying, on the next interrupt signal.
void (*volatile interruptFunction)() = nullptr;

// The actions the handlers replaced, in installation order; `registeredCount` valid entries, 0
// while the handlers are not installed.
struct RegisteredSignal {
  struct sigaction previous;
  int signal;
};
RegisteredSignal registered[handledSignalCount];
volatile unsigned registeredCount = 0;

void fillHandledSet(sigset_t *set) {
  sigemptyset(set);
  for (int s : interruptSignals) sigaddset(set, s);
  for (int s : crashSignals) sigaddset(set, s);
}

// Holds the sixteen signals back on the calling thread for its lifetime.
class HeldBack {
public:
  HeldBack() {
    sigset_t handled;
    fillHandledSet(&handled);
    pthread_sigmask(SIG_BLOCK, &handled, &before);
  }
  ~HeldBack() { pthread_sigmask(SIG_SETMASK, &before, nullptr); }
  HeldBack(const HeldBack &) = delete;
  HeldBack &operator=(const HeldBack &) = delete;

private:
  sigset_t before;
};

bool isInterruptSignal(int signal) {
  for (int s : interruptSignals)
    if (s == signal) return true;
  return false;
}

// Writes "cannot remove NAME" and a newline on descriptor 2, in one write where it fits; safe in a
// signal handler.
void sayNotRemoved(const std::string &name) {
  static const char prefix[] = "cannot remove ";
  char line[512];
  if (sizeof prefix - 1 + name.size() + 1 <= sizeof line) {
    std::memcpy(line, prefix, sizeof prefix - 1);
    std::memcpy(line + sizeof prefix - 1, name.data(), name.size());
    line[sizeof prefix - 1 + name.size()] = '\n';
    ssize_t ignored = ::write(2, line, sizeof prefix + name.size());
    (void)ignored;
    return;
  }
  ssize_t ignored = ::write(2, prefix, sizeof prefix - 1);
  ignored = ::write(2, name.data(), name.size());
  ignored = ::write(2, "\n", 1);
  (void)ignored;
}

// Removes every registered name that is a regular file (after following links), and says which
// ones it could not: a name whose kind cannot be told, or whose removal fails, is left behind.
// Runs in the signal handler: no allocation, and the list is only read.
void removeFiles(const SignalState &state) {
  for (const std::string &name : state.filesToRemove) {
    struct stat status;
    if (::stat(name.c_str(), &status) != 0) {
      if (errno != ENOENT && errno != ENOTDIR) sayNotRemoved(name);
      continue;
    }
    if (!S_ISREG(status.st_mode)) continue;
    if (::unlink(name.c_str()) != 0 && errno != ENOENT) sayNotRemoved(name);
  }
}

void restorePreviousActions() {
  unsigned count = registeredCount;
  for (unsigned i = 0; i < count; ++i)
    sigaction(registered[i].signal, &registered[i].previous, nullptr);
  registeredCount = 0;
}

#if defined(__i386__)
// The i386 code the compiler makes assumes a 16-byte aligned stack; not every environment
// (user-mode emulators among them) delivers signals on one.
__attribute__((force_align_arg_pointer))
#endif
void handleSignal(int signal) {
  int savedErrno = errno;
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  bool interrupt = isInterruptSignal(signal);
  void (*hook)() = nullptr;
  if (SignalState *state = liveState) {
    // Under the lock: another thread may be installing the handlers right now.
    ScopedLock<ModalMutex> guard(state->lock);
    restorePreviousActions();
    removeFiles(*state);
    if (interrupt) {
      hook = interruptFunction;
      interruptFunction = nullptr;
    }
  } else {
    restorePreviousActions();
  }
  // Signals that arrived meanwhile take their previous effect now.
  pthread_sigmask(SIG_UNBLOCK, &all, nullptr);

  if (interrupt) {
    if (hook)
      hook();
    else
      raise(signal); // the previous action, normally the end of the process
  } else if (SignalState *state = liveState) {
    // A fault happens again once the handler returns, now with its previous action; abort ends
    // the process in any case.
    for (size_t i = 0; i < state->crashCallbacks.size(); ++i)
      state->crashCallbacks[i].function(state->crashCallbacks[i].cookie);
  }
  errno = savedErrno;
}

// Installs the handler for the sixteen signals unless it is installed. The caller holds the
// signal lock with the signals held back.
void installHandlers() {
  if (registeredCount != 0) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handleSignal;
  action.sa_flags = SA_NODEFER | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  auto install = [&](int signal) {
    unsigned slot = registeredCount;
    sigaction(signal, &action, &registered[slot].previous);
    registered[slot].signal = signal;
    registeredCount = slot + 1;
  };
  for (int s : interruptSignals) install(s);
  for (int s : crashSignals) install(s);
}

} // namespace

bool registerSignalCleanupFile(StrView filename, std::string *message) {
  (void)message;
  SignalState &state = signalState();
  HeldBack held;
  ScopedLock<ModalMutex> guard(state.lock);
  state.filesToRemove.emplace_back(filename.empty() ? std::string()
                                                    : std::string(filename.data(), filename.size()));
  installHandlers();
  return false;
}

void unregisterSignalCleanupFile(StrView filename) {
  SignalState &state = signalState();
  HeldBack held;
  ScopedLock<ModalMutex> guard(state.lock);
  std::vector<std::string> &files = state.filesToRemove;
  for (size_t i = files.size(); i-- > 0;) {
    if (StrView(files[i]) == filename) {
      files.erase(files.begin() + std::ptrdiff_t(i));
      return;
    }
  }
}

void setInterruptHook(void (*hook)()) {
  SignalState &state = signalState();
  HeldBack held;
  ScopedLock<ModalMutex> guard(state.lock);
  interruptFunction = hook;
  installHandlers();
}

void addCrashCallback(void (*callback)(void *cookie), void *cookie) {
  SignalState &state = signalState();
  HeldBack held;
  ScopedLock<ModalMutex> guard(state.lock);
  state.crashCallbacks.push_back({callback, cookie});
  installHandlers();
}

void runInterruptCleanup() {
  SignalState *state = liveState;
  if (!state) return;
  HeldBack held;
  ScopedLock<ModalMutex> guard(state->lock);
  removeFiles(*state);
}

} // namespace proc
} // namespace vorn
