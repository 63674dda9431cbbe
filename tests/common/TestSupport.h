#ifndef VORN_TESTS_COMMON_TESTSUPPORT_H
#define VORN_TESTS_COMMON_TESTSUPPORT_H

// Helpers every test program shares: the system's temporary directory, private temporary
// directories removed with everything in them, whole-file reads and writes, code and programs
// run in child processes with their output captured, and whether the test program itself runs
// under a user-mode emulator.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// ---------------------------------------------------------------------------------------------
// Files.

// The system's temporary directory: $TMPDIR when set and not empty, else /tmp.
inline std::string systemTempDir() {
  const char *base = std::getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

// Everything that can still be read from the descriptor `fd`; the caller keeps and closes it.
inline std::string readToEnd(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0)
      text.append(buffer, size_t(n));
    else if (n == 0 || errno != EINTR)
      break;
  }
  return text;
}

// Sets `*text` to the whole contents of the file at `path`; false (and `*text` empty) when it
// cannot be opened.
inline bool readFile(const std::string &path, std::string *text) {
  text->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  *text = readToEnd(fd);
  close(fd);
  return true;
}

// The whole contents of the file at `path`, or an empty text when it cannot be opened.
inline std::string readFile(const std::string &path) {
  std::string text;
  readFile(path, &text);
  return text;
}

// The lines of `text`, without their newlines; a last line without one counts too.
inline std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> v;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    v.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return v;
}

// The contents of the file at `path` (empty when it cannot be read), which is then removed.
inline std::string takeFile(const std::string &path) {
  std::string text = readFile(path);
  unlink(path.c_str());
  return text;
}

// Writes all of `text` to the descriptor `fd`; false on a write error.
inline bool writeAll(int fd, const std::string &text) {
  const char *p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    p += n;
    left -= size_t(n);
  }
  return true;
}

// Creates (or empties) the file at `path` with `text` as its contents, new files with the
// permission bits `mode` (less the umask); true on success.
inline bool writeFile(const std::string &path, const std::string &text, mode_t mode = 0644) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0)
    return false;
  bool written = writeAll(fd, text);
  return close(fd) == 0 && written;
}

// Removes everything below the directory open as `fd`, then closes `fd`. Works by descriptor,
// so neither depth nor path length matters; links are removed, never followed, and directories
// without permissions are opened up first.
inline void removeContents(int fd) {
  DIR *dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  // readdir64 whatever the build's file offset size: the 32-bit readdir fails on file systems
  // that hand out 64-bit directory offsets, which would leave the tree behind silently.
  std::vector<std::string> names;
  while (dirent64 *entry = readdir64(dir))
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  for (const std::string &name : names) {
    if (unlinkat(fd, name.c_str(), 0) == 0)
      continue;
    struct stat st;
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
      continue;
    // A directory (never a link, just checked): it must be readable to be listed and writable
    // and searchable to be emptied.
    if ((st.st_mode & 0700) != 0700)
      fchmodat(fd, name.c_str(), 0700, 0);
    int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub >= 0)
      removeContents(sub);
    unlinkat(fd, name.c_str(), AT_REMOVEDIR);
  }
  closedir(dir);
}

// Removes `name` in the directory open as `parentFd` (or AT_FDCWD) with everything below it,
// without following links; a missing name is no error.
inline void removeTreeAt(int parentFd, const char *name) {
  struct stat st;
  if (fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return;
  if (!S_ISDIR(st.st_mode)) {
    unlinkat(parentFd, name, 0);
    return;
  }
  if ((st.st_mode & 0700) != 0700)
    fchmodat(parentFd, name, 0700, 0);
  int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0)
    removeContents(fd);
  unlinkat(parentFd, name, AT_REMOVEDIR);
}

// Removes the file or whole tree at `path`; a missing path is no error.
inline void removeTree(const std::string &path) { removeTreeAt(AT_FDCWD, path.c_str()); }

// A fresh private directory, removed with everything in it on destruction. path() is its real
// path (no symbolic links), as getcwd and a running program's own location show it.
class TempDir {
public:
  // A directory in the system's temporary directory.
  TempDir() : TempDir(systemTempDir(), "vorn-test") {}
  // A directory in the existing directory `parent`, named `prefix`, "-" and six random
  // characters. A directory that cannot be made ends the test program: no test can go on then.
  TempDir(const std::string &parent, const std::string &prefix) {
    std::string model = parent + "/" + prefix + "-XXXXXX";
    if (mkdtemp(&model[0]) == nullptr) {
      std::fprintf(stderr, "cannot make a temporary directory %s: %s\n", model.c_str(),
                   std::strerror(errno));
      std::abort();
    }
    char *real = realpath(model.c_str(), nullptr);
    path_ = real ? real : model;
    std::free(real);
  }
  ~TempDir() { removeTree(path_); }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  // True once the directory exists (always, after construction).
  bool ok() const { return !path_.empty(); }
  const std::string &path() const { return path_; }
  // The path of `name` in the directory.
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// ---------------------------------------------------------------------------------------------
// Child processes.

// How a child process ended, and what it wrote on descriptors 1 and 2.
struct ChildResult {
  int status = -1; // the exit status; -1 when the child did not exit (see `signal`)
  int signal = 0;  // the signal that ended the child; 0 when it exited
  pid_t pid = 0;   // the child's process id
  std::string out;
  std::string err;
};

// Records in `*result` how the child that `wstatus` (from waitpid) describes ended.
inline void recordEnd(int wstatus, ChildResult *result) {
  if (WIFEXITED(wstatus)) {
    result->status = WEXITSTATUS(wstatus);
    result->signal = 0;
  } else if (WIFSIGNALED(wstatus)) {
    result->status = -1;
    result->signal = WTERMSIG(wstatus);
  }
}

// Waits for the child `pid` to end and records how in `*result`; false when it cannot be waited
// for.
inline bool waitFor(pid_t pid, ChildResult *result) {
  int wstatus = 0;
  pid_t got;
  while ((got = waitpid(pid, &wstatus, 0)) < 0 && errno == EINTR) {
  }
  if (got != pid)
    return false;
  recordEnd(wstatus, result);
  return true;
}

// In a freshly forked child: descriptors 1 and 2 go to files created (or emptied) at `outPath`
// and `errPath`, and, with `nullInput`, descriptor 0 comes from /dev/null. A set-up step that
// fails ends the child with status 126.
inline void sendOutputTo(const std::string &outPath, const std::string &errPath,
                         bool nullInput = false) {
  int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
    _exit(126);
  for (int fd : {out, err})
    if (fd > 2)
      close(fd);
  if (nullInput) {
    int null = open("/dev/null", O_RDONLY);
    if (null < 0 || dup2(null, 0) < 0)
      _exit(126);
    if (null > 2)
      close(null);
  }
}

// Runs `body` in a forked child with descriptors 1 and 2 captured; the child ends with the
// status `body` returns (a body may also end it itself). Returns how it ended and its output.
inline ChildResult runInChild(const std::function<int()> &body) {
  TempDir capture;
  const std::string outPath = capture / "out", errPath = capture / "err";
  ChildResult result;
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    sendOutputTo(outPath, errPath);
    int status = body();
    std::fflush(nullptr);
    _exit(status);
  }
  result.pid = pid;
  if (pid < 0 || !waitFor(pid, &result))
    result.err = std::string("cannot run a child process: ") + std::strerror(errno);
  result.out = readFile(outPath);
  result.err += readFile(errPath);
  return result;
}

// Where a program's standard output goes.
enum class Stdout { Capture, SameAsStderr, DevFull, Closed };

// A program run: what runs, with which arguments, environment and working directory.
struct Command {
  std::string program;                // executed by this path
  std::vector<std::string> args;      // the arguments after argument 0
  const char *argv0 = nullptr;        // argument 0; `program` when null
  const std::vector<std::string> *env = nullptr; // "NAME=value" entries; this process's when null
  std::string cwd;                    // the working directory; this process's when empty
  Stdout out = Stdout::Capture;
  std::function<void()> beforeExec;   // runs in the child right before the exec, when set
};

// Runs `command` in a child process, its standard input from /dev/null, and returns how it
// ended and what it wrote (standard output as `command.out` says). A child whose set-up fails
// ends with status 126, one whose exec fails with 127 (and says why on descriptor 2).
inline ChildResult runProgram(const Command &command) {
  TempDir capture;
  const std::string outPath = capture / "out", errPath = capture / "err";
  std::vector<std::string> argStore;
  argStore.push_back(command.argv0 ? command.argv0 : command.program);
  argStore.insert(argStore.end(), command.args.begin(), command.args.end());
  std::vector<std::string> envStore;
  if (command.env)
    envStore = *command.env;
  std::vector<char *> argv, envp;
  for (std::string &a : argStore)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);
  for (std::string &e : envStore)
    envp.push_back(&e[0]);
  envp.push_back(nullptr);

  ChildResult result;
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    sendOutputTo(outPath, errPath, true);
    switch (command.out) {
    case Stdout::Capture:
      break;
    case Stdout::SameAsStderr:
      if (dup2(2, 1) < 0)
        _exit(126);
      break;
    case Stdout::DevFull: {
      int full = open("/dev/full", O_WRONLY);
      if (full < 0 || dup2(full, 1) < 0)
        _exit(126);
      close(full);
      break;
    }
    case Stdout::Closed:
      close(1);
      break;
    }
    if (!command.cwd.empty() && chdir(command.cwd.c_str()) != 0)
      _exit(126);
    if (command.beforeExec)
      command.beforeExec();
    if (command.env)
      execve(command.program.c_str(), argv.data(), envp.data());
    else
      execv(command.program.c_str(), argv.data());
    const std::string why = "cannot execute " + command.program + ": " + std::strerror(errno) + "\n";
    if (write(2, why.data(), why.size()) < 0) {
    }
    _exit(127);
  }
  result.pid = pid;
  if (pid < 0 || !waitFor(pid, &result))
    result.err = std::string("cannot run ") + command.program + ": " + std::strerror(errno);
  if (command.out == Stdout::Capture)
    result.out = readFile(outPath);
  result.err += readFile(errPath);
  return result;
}

// Runs `program` with `args` after argument 0 (which is `program`), as runProgram above.
inline ChildResult runProgram(const std::string &program, const std::vector<std::string> &args) {
  Command command;
  command.program = program;
  command.args = args;
  return runProgram(command);
}

// ---------------------------------------------------------------------------------------------
// Emulation.

// True when this test program runs under a user-mode emulator (a 32-bit program on a machine
// that cannot run it, started through binfmt_misc). Found out once per process: an emulator
// shows its guest program as the /proc/self/exe of the process that asks, but the kernel shows
// the emulator itself to another process, here a child blocked on a pipe.
inline bool underUserModeEmulation() {
  static const bool emulated = [] {
    char self[PATH_MAX], seen[PATH_MAX];
    ssize_t selfLength = readlink("/proc/self/exe", self, sizeof self);
    int fds[2];
    if (selfLength < 0 || pipe(fds) != 0)
      return false;
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[1]);
      char byte;
      while (read(fds[0], &byte, 1) < 0 && errno == EINTR) {
      }
      _exit(0);
    }
    close(fds[0]);
    bool differs = false;
    if (pid > 0) {
      std::string link = "/proc/" + std::to_string(pid) + "/exe";
      ssize_t seenLength = readlink(link.c_str(), seen, sizeof seen);
      differs = seenLength >= 0 &&
                (seenLength != selfLength || std::memcmp(self, seen, size_t(selfLength)) != 0);
    }
    close(fds[1]); // releases the child
    if (pid > 0) {
      ChildResult ignored;
      waitFor(pid, &ignored);
    }
    return differs;
  }();
  return emulated;
}

namespace detail {
// The answer is found before main: the emulator resolves a program started through a relative
// path against the current directory when it is asked for /proc/self/exe, so a test that changed
// directory first would get a wrong answer.
inline const bool emulationKnownAtStart = underUserModeEmulation();
} // namespace detail

} // namespace testsupport

// Skips the current test, with `reason`, when the test program runs under user-mode emulation;
// for what an emulator cannot provide. For use in a GoogleTest test body.
#define VORN_SKIP_UNDER_EMULATION(reason)                                                          \
  do {                                                                                             \
    if (::testsupport::underUserModeEmulation())                                                   \
      GTEST_SKIP() << "under user-mode emulation: " << (reason);                                   \
  } while (0)

#endif
