#ifndef QUILLET_TESTS_STAGED_H
#define QUILLET_TESTS_STAGED_H

// A private copy of the staged runtime tree in a temporary directory, and runs of its
// bin/quillet as a child process with a controlled environment.

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/common/TestSupport.h"
#include "tests/launcher/harness.h"

namespace staged {

// How a run of the launcher ended, what it wrote and what the stand-ins traced.
struct Launch : testsupport::ChildResult {
  std::vector<std::string> trace; // the stand-ins' trace lines, without newlines
};

using testsupport::lines;

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

// Runs the project's mkzub tool with `args` after argument 0, in this process's environment;
// true when it exited with status 0 (what it wrote is shown otherwise).
inline bool mkzub(const std::vector<std::string> &args) {
  testsupport::ChildResult r = testsupport::runProgram(VORN_BINARY_DIR "/platform/mkzub", args);
  if (r.status != 0)
    fprintf(stderr, "mkzub ended with status %d (signal %d):\n%s%s", r.status, r.signal,
            r.out.c_str(), r.err.c_str());
  return r.status == 0;
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
  Runtime() : base_(dir_.path()) {
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
    std::vector<std::string> envStore = environment(extraEnv);
    testsupport::Command command;
    command.program = program.empty() ? launcher() : program;
    command.args = args;
    command.env = &envStore;
    command.cwd = base_;
    command.beforeExec = [asNobody] {
      if (asNobody && geteuid() == 0 &&
          (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        _exit(125);
      alarm(60); // a hung launcher ends with SIGALRM instead of hanging the suite
    };
    remove(tracePath().c_str());
    Launch r;
    static_cast<testsupport::ChildResult &>(r) = testsupport::runProgram(command);
    r.trace = lines(testsupport::readFile(tracePath()));
    return r;
  }

private:
  testsupport::TempDir dir_;
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
