#ifndef QUILLET_TESTS_STAGED_H
#define QUILLET_TESTS_STAGED_H

// A private copy of the staged runtime tree in a temporary directory, and runs of its
// bin/quillet as a child process with a controlled environment.

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/launcher/units/harness.h"

namespace staged {

// How a run of the launcher ended.
struct Launch {
  int status = -1; // exit status; -1 when it did not exit normally
  int signal = 0;  // the signal that ended it, if any
  pid_t pid = 0;
  std::string out;
  std::string err;
  std::vector<std::string> trace; // the stand-ins' trace lines, without newlines
};

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

// The launcher's report of a VM that failed while the launcher used it.
constexpr char kKru[] =
    "Error: A KRU error has occurred, please check your installation and try again\n";

// A null-terminated array of pointers to the texts of `store`, as execve takes its arguments
// and environment; `store` must outlive the array and stay unchanged meanwhile.
inline std::vector<char *> pointersTo(std::vector<std::string> &store) {
  std::vector<char *> v;
  for (std::string &s : store)
    v.push_back(&s[0]);
  v.push_back(nullptr);
  return v;
}

// In a freshly forked child about to exec: standard input from /dev/null, standard output and
// standard error to files created (or emptied) at `outPath` and `errPath`. The descriptors that
// were opened for this stay open, so the program run starts with them.
inline void redirectForExec(const std::string &outPath, const std::string &errPath) {
  int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int nullFd = open("/dev/null", O_RDONLY);
  dup2(nullFd, 0);
  dup2(outFd, 1);
  dup2(errFd, 2);
}

// Sets `*status` to the exit status of the child that `wstatus` (from waitpid) describes, or
// `*signal` to the signal that ended it; the other is left as it was.
inline void recordEnd(int wstatus, int *status, int *signal) {
  if (WIFEXITED(wstatus))
    *status = WEXITSTATUS(wstatus);
  else if (WIFSIGNALED(wstatus))
    *signal = WTERMSIG(wstatus);
}

// The contents of the file at `path` (empty when it cannot be read), which is then removed.
inline std::string takeFile(const std::string &path) {
  std::string text = units::readWholeFile(path);
  remove(path.c_str());
  return text;
}

// Runs the project's mkzub tool with `args` after argument 0, in this process's environment;
// true when it exited with status 0.
inline bool mkzub(const std::vector<std::string> &args) {
  std::vector<std::string> store = {VORN_BINARY_DIR "/platform/mkzub"};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char *> argv = pointersTo(store);
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// Removes `name` in the directory open as `parentFd` with everything below it, without
// following links; paths of any length are fine.
inline void removeTreeAt(int parentFd, const char *name) {
  struct stat st;
  if (fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return;
  if (!S_ISDIR(st.st_mode)) {
    unlinkat(parentFd, name, 0);
    return;
  }
  int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd >= 0) {
    std::vector<std::string> children;
    if (DIR *dir = fdopendir(dup(fd))) {
      while (struct dirent *e = readdir(dir))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
          children.push_back(e->d_name);
      closedir(dir);
    }
    for (const std::string &child : children)
      removeTreeAt(fd, child.c_str());
    close(fd);
  }
  unlinkat(parentFd, name, AT_REMOVEDIR);
}

// `err` less, in a sanitized build, the sanitizer runtime's own notes ("==PID==..." lines),
// which it writes when it cannot read its executable's name from /proc; `err` as it is in a
// normal build.
inline std::string withoutSanitizerNotes(const std::string &err) {
#if defined(__SANITIZE_ADDRESS__)
  std::string kept;
  for (const std::string &line : lines(err))
    if (line.compare(0, 2, "==") != 0)
      kept += line + "\n";
  return kept;
#else
  return err;
#endif
}

class Runtime {
public:
  Runtime() {
    char *real = realpath(dir_.path().c_str(), nullptr);
    base_ = real;
    free(real);
    // Runs without root must reach the tree and write their trace here.
    chmod(base_.c_str(), 0777);
    home_ = base_ + "/tesk";
    std::filesystem::copy(VORN_RUNTIME_DIR, home_,
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::copy_symlinks);
  }

  // The runtime's home (canonical): the parent of bin/.
  const std::string &home() const { return home_; }
  // The temporary directory that holds the tree; free for the test's own files.
  const std::string &base() const { return base_; }
  std::string launcher() const { return home_ + "/bin/quillet"; }
  std::string tracePath() const { return base_ + "/trace.log"; }

  // Environment entries every run gets; `extra` adds or overrides ("NAME" => value), and an
  // entry whose value is "\x01unset" is left out.
  std::vector<std::string> environment(const std::map<std::string, std::string> &extra) const {
    std::map<std::string, std::string> env = {
        {"HOME", base_}, {"PATH", "/usr/bin:/bin"}, {"RASK_TRACE", tracePath()}, {"LANG", "C"}};
    // The sanitizer runtime's settings pass through; nothing else of the test's environment.
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
      if (const char *value = getenv(name))
        env[name] = value;
    for (const auto &kv : extra)
      env[kv.first] = kv.second;
    std::vector<std::string> entries;
    for (const auto &kv : env)
      if (kv.second != "\x01unset")
        entries.push_back(kv.first + "=" + kv.second);
    return entries;
  }

  // Runs `program` (the launcher unless given) with `args` after argument 0; with `asNobody`
  // the child gives up root (and with it every capability) first.
  Launch run(const std::vector<std::string> &args,
             const std::map<std::string, std::string> &extraEnv = {},
             const std::string &program = "", bool asNobody = false) const {
    std::string exe = program.empty() ? launcher() : program;
    std::vector<std::string> argStore = {exe};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<std::string> envStore = environment(extraEnv);
    std::vector<char *> argv = pointersTo(argStore), envp = pointersTo(envStore);

    std::string outPath = base_ + "/run.out", errPath = base_ + "/run.err";
    remove(tracePath().c_str());
    Launch r;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      redirectForExec(outPath, errPath);
      if (chdir(base_.c_str()) != 0)
        _exit(126);
      if (asNobody && geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        _exit(125);
      alarm(60); // a hung launcher ends with SIGALRM instead of hanging the suite
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    r.pid = pid;
    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid)
      recordEnd(wstatus, &r.status, &r.signal);
    r.out = takeFile(outPath);
    r.err = takeFile(errPath);
    r.trace = lines(units::readWholeFile(tracePath()));
    return r;
  }

private:
  units::TempDir dir_;
  std::string base_;
  std::string home_;
};

// The lines of `trace` that begin with `prefix`.
inline std::vector<std::string> linesStartingWith(const std::vector<std::string> &trace,
                                                  const std::string &prefix) {
  std::vector<std::string> v;
  for (const std::string &line : trace)
    if (line.compare(0, prefix.size(), prefix) == 0)
      v.push_back(line);
  return v;
}

// The TEXTs of the "PREFIXi]=TEXT" lines of `trace` whose PREFIX is `prefix`, in order.
inline std::vector<std::string> indexedTexts(const std::vector<std::string> &trace,
                                             const std::string &prefix) {
  std::vector<std::string> v;
  for (const std::string &line : linesStartingWith(trace, prefix)) {
    size_t eq = line.find("]=");
    v.push_back(line.substr(eq + 2));
  }
  return v;
}

// The option texts the VM was created with, from the "option[i]=TEXT" lines.
inline std::vector<std::string> vmOptions(const std::vector<std::string> &trace) {
  return indexedTexts(trace, "option[");
}

// The arguments main received, from the "main arg[i]=TEXT" lines.
inline std::vector<std::string> mainArgs(const std::vector<std::string> &trace) {
  return indexedTexts(trace, "main arg[");
}

} // namespace staged

#endif
