#ifndef QUILLET_TESTS_STAGED_H
#define QUILLET_TESTS_STAGED_H

// A private copy of the staged runtime tree in a temporary directory, and runs of its
// bin/quillet as a child process with a controlled environment.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
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
    std::vector<char *> argv, envp;
    for (std::string &s : argStore)
      argv.push_back(&s[0]);
    argv.push_back(nullptr);
    for (std::string &s : envStore)
      envp.push_back(&s[0]);
    envp.push_back(nullptr);

    std::string outPath = base_ + "/run.out", errPath = base_ + "/run.err";
    remove(tracePath().c_str());
    Launch r;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int nullFd = open("/dev/null", O_RDONLY);
      dup2(nullFd, 0);
      dup2(outFd, 1);
      dup2(errFd, 2);
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
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid) {
      if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
      else if (WIFSIGNALED(wstatus))
        r.signal = WTERMSIG(wstatus);
    }
    r.out = units::readWholeFile(outPath);
    r.err = units::readWholeFile(errPath);
    r.trace = lines(units::readWholeFile(tracePath()));
    remove(outPath.c_str());
    remove(errPath.c_str());
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

// The option texts the VM was created with, from the "option[i]=TEXT" lines.
inline std::vector<std::string> vmOptions(const std::vector<std::string> &trace) {
  std::vector<std::string> v;
  for (const std::string &line : linesStartingWith(trace, "option[")) {
    size_t eq = line.find("]=");
    v.push_back(line.substr(eq + 2));
  }
  return v;
}

// The arguments main received, from the "main arg[i]=TEXT" lines.
inline std::vector<std::string> mainArgs(const std::vector<std::string> &trace) {
  std::vector<std::string> v;
  for (const std::string &line : linesStartingWith(trace, "main arg[")) {
    size_t eq = line.find("]=");
    v.push_back(line.substr(eq + 2));
  }
  return v;
}

} // namespace staged

#endif
