// Failure-point enumeration. For each scenario (a program run from a prepared tree) the driver
// makes one counting run under the fault injector (tests/faults/injector.c), which records how
// often each covered C library function was called and the fault-free outcome, then reruns the
// scenario once per (function, call index, way of failing), making exactly that call fail, and
// checks the outcome:
//   1. no crash: the process ends by exit; an abort only with "UNREACHABLE executed" (a state the
//      code reports as impossible) or a stand-in library's "out of memory" message;
//   2. in a sanitized build, no sanitizer report (and in the library scenarios, no leak);
//   3. status 0 only with stdout and files identical to the fault-free run's (stderr may say more:
//      a failure survived and reported); otherwise a non-zero status and a message on stderr;
//   4. nothing left behind: after a failure no file that the run made remains unless stderr
//      names it (or a directory above it); no process of the run is still running; the library
//      scenarios' own checks ("fault-check:" lines: descriptors, children) find nothing;
//   5. nothing lost: a file left by a successful run holds exactly the fault-free run's bytes.
// The run is bounded in time (kTimeLimitSeconds) and killed with its process group after that.
// Run by root, the driver runs quillet as nobody: with privileges the launcher never re-executes
// itself, and that is one of the paths to cover.
//
//   fault_driver [--cap N] [--samples K] [--scenario NAME]... [--point FUNCTION:INDEX:MODE:ERRNO]
//                [--list]
//
// --cap: the first N calls of every function are tried (default 40); --samples: besides those, K
// calls evenly spread over the rest (default 10). --scenario runs the named scenarios only (a
// name, or a prefix ending before a '.'). --point tries one failure point of one scenario and
// shows everything the run wrote: the replay command printed with each violation. The last line
// is "N failure points, M violations"; the status is 0 only when M is 0.

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kTimeLimitSeconds = 20;

// ---- scenarios -------------------------------------------------------------------------------

// The tree a scenario runs in, made once per scenario.
enum class Fixture {
  Toolkit,  // a copy of the staged toolkit whose bin/vorn-config is the dynamic variant
  DevTree,  // the dynamic development-tree variant at its compiled-in object root (flat layout)
  Runtime,  // a copy of the staged runtime tree; the program is its bin/quillet
  Versions, // the runtime copy and a second runtime "ubo1.6.0_40" in a version search directory
  Library,  // the library scenario program, its job prepared by "setup JOB" before every run
};

enum class Expect { Success, Failure, Interrupt };

struct Scenario {
  const char *name;
  Fixture fixture;
  std::vector<std::string> args;
  Expect expect;
  std::vector<std::string> env; // NAME=value, added to every run
};

const std::vector<Scenario> &scenarios() {
  static const std::vector<Scenario> table = {
      {"vorn-config.version", Fixture::Toolkit, {"--version"}, Expect::Success, {}},
      {"vorn-config.flags", Fixture::Toolkit, {"--cxxflags", "--ldflags", "--libs", "all"},
       Expect::Success, {}},
      {"vorn-config.libfiles", Fixture::Toolkit, {"--libfiles", "support"}, Expect::Success, {}},
      {"vorn-config.misuse", Fixture::Toolkit, {"--nonsense"}, Expect::Failure, {}},
      {"vorn-config.component-error", Fixture::Toolkit, {"--libs", "nosuchthing"},
       Expect::Failure, {}},
      {"vorn-config.devtree", Fixture::DevTree, {"--cxxflags", "--libfiles", "support"},
       Expect::Success, {}},
#ifdef FAULTS_RUNTIME_DIR
      {"quillet.plain", Fixture::Runtime, {"-d", "out", "Hello.x"}, Expect::Success, {}},
      {"quillet.version", Fixture::Runtime, {"-J-version"}, Expect::Success, {}},
      {"quillet.select-runtime", Fixture::Versions, {"-version:1.6.0_40", "-d", "out", "Hello.x"},
       Expect::Success, {}},
      {"quillet.splash", Fixture::Runtime, {"-splash:splash.gif", "-d", "out", "Hello.x"},
       Expect::Success, {}},
#endif
      {"library.output-file", Fixture::Library, {"output-file"}, Expect::Success, {}},
      {"library.remove-all", Fixture::Library, {"remove-all"}, Expect::Success, {}},
      {"library.temp-files", Fixture::Library, {"temp-files"}, Expect::Success, {}},
      {"library.child-program", Fixture::Library, {"child-program"}, Expect::Success, {}},
      {"library.child-program-limited", Fixture::Library, {"child-program-limited"},
       Expect::Success, {}},
      {"library.mapped-region", Fixture::Library, {"mapped-region"}, Expect::Success, {}},
      {"library.dir-iteration", Fixture::Library, {"dir-iteration"}, Expect::Success, {}},
      {"library.signal-cleanup", Fixture::Library, {"signal-cleanup"}, Expect::Interrupt, {}},
  };
  return table;
}

// ---- ways of failing -------------------------------------------------------------------------

struct Way {
  std::string mode; // "fail" or "short"
  int error;        // errno of a failing call
};

std::vector<Way> waysToFail(const std::string &function) {
  if (function == "read")
    return {{"fail", EIO}, {"short", 0}, {"fail", EINTR}, {"fail", EAGAIN}};
  if (function == "write" || function == "writev")
    return {{"fail", ENOSPC}, {"short", 0}, {"fail", EINTR}, {"fail", EAGAIN}};
  static const std::map<std::string, int> errors = {
      {"malloc", ENOMEM},     {"calloc", ENOMEM},       {"realloc", ENOMEM},
      {"new", ENOMEM},        {"new[]", ENOMEM},        {"new-nothrow", ENOMEM},
      {"new[]-nothrow", ENOMEM},
      {"mmap", ENOMEM},       {"mmap64", ENOMEM},       {"close", EIO},
      {"opendir", EMFILE},    {"fdopendir", EMFILE},    {"readdir", EIO},
      {"readdir64", EIO},     {"mkdir", ENOSPC},        {"rmdir", EBUSY},
      {"sysinfo", EFAULT},    {"ftruncate", EIO},       {"ftruncate64", EIO},
      {"pipe", EMFILE},       {"pipe2", EMFILE},        {"dup2", EMFILE},
      {"fork", EAGAIN},       {"posix_spawn", EAGAIN},  {"posix_spawnp", EAGAIN},
      {"pthread_create", EAGAIN}, {"dlopen", ENOENT},   {"fopen", EMFILE},
      {"fopen64", EMFILE},
  };
  auto it = errors.find(function);
  // Opening, status, links, names, the working directory and exec: a permission problem.
  return {{"fail", it != errors.end() ? it->second : EACCES}};
}

std::string errorName(int error) {
  const char *name = strerrorname_np(error);
  return name ? name : std::to_string(error);
}

std::string wayText(const Way &way) {
  return way.mode == "short" ? std::string("short") : "fail " + errorName(way.error);
}

// ---- files -----------------------------------------------------------------------------------

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void removeTree(const std::string &path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

void copyTree(const std::string &from, const std::string &to) {
  fs::create_directories(fs::path(to).parent_path());
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

// The injector as the runs load it: a copy in the driver's own temporary tree, which a run as
// nobody can read wherever the build tree lies (set by main).
std::string injectorCopy;

void copyProgram(const std::string &from, const std::string &to) {
  fs::create_directories(fs::path(to).parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms(0755));
}

// A tree as relative path => what it is: "dir", "link TARGET" or "file SIZE HASH".
using Listing = std::map<std::string, std::string>;

Listing listTree(const std::string &root) {
  Listing listing;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    std::string path = it->path().string().substr(root.size() + 1);
    if (it->is_symlink())
      listing[path] = "link " + fs::read_symlink(it->path(), ec).string();
    else if (it->is_directory())
      listing[path] = "dir";
    else {
      std::string bytes = readFile(it->path().string());
      listing[path] = "file " + std::to_string(bytes.size()) + " " +
                      std::to_string(std::hash<std::string>()(bytes));
    }
  }
  return listing;
}

// ---- running a program -----------------------------------------------------------------------

struct Run {
  int status = -1; // exit status, or -1 when ended by a signal
  int signal = 0;
  bool timedOut = false;
  bool leftRunning = false; // a process of the run outlived it
  std::string out, err;
};

void pause(long microseconds) {
  struct timespec t = {microseconds / 1000000, (microseconds % 1000000) * 1000};
  nanosleep(&t, nullptr);
}

// Runs `argv` in `cwd` with exactly `env`, its output in files under `runDir`, in a process
// group of its own, killed after the time limit; with `asNobody`, as user and group 65534.
Run runProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env,
               const std::string &cwd, const std::string &runDir, bool asNobody = false) {
  const std::string outPath = runDir + "/stdout", errPath = runDir + "/stderr";
  std::vector<char *> args, envp;
  for (const std::string &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string &e : env)
    envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);

  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid < 0) {
    perror("fault_driver: fork");
    exit(2);
  }
  if (pid == 0) {
    setpgid(0, 0);
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(cwd.c_str()) != 0)
      _exit(125);
    if (asNobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      _exit(125);
    for (int fd = 3; fd < 1024; ++fd)
      close(fd);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  setpgid(pid, pid);

  Run run;
  int waitStatus = 0;
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  long delay = 500;
  for (;;) {
    pid_t done = waitpid(pid, &waitStatus, WNOHANG);
    if (done == pid)
      break;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= kTimeLimitSeconds) {
      run.timedOut = true;
      kill(-pid, SIGKILL);
      waitpid(pid, &waitStatus, 0);
      break;
    }
    pause(delay);
    delay = std::min(delay * 2, 20000L);
  }
  if (WIFEXITED(waitStatus))
    run.status = WEXITSTATUS(waitStatus);
  else if (WIFSIGNALED(waitStatus))
    run.signal = WTERMSIG(waitStatus);

  // Anything of the group still there gets a moment to finish, then is reported and killed.
  for (int i = 0; i < 50 && kill(-pid, 0) == 0; ++i)
    pause(10000);
  if (kill(-pid, 0) == 0) {
    run.leftRunning = !run.timedOut;
    kill(-pid, SIGKILL);
  }
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  return run;
}

// ---- checking an outcome ---------------------------------------------------------------------

bool contains(const std::string &text, const std::string &what) {
  return text.find(what) != std::string::npos;
}

std::string firstLine(const std::string &text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.size() > 150 ? line.substr(0, 150) + "..." : line;
}

// Whether `err` names `path` or a directory above it.
bool namedIn(const std::string &err, const std::string &path) {
  for (std::string p = path; !p.empty();) {
    if (contains(err, p)) return true;
    size_t slash = p.rfind('/');
    p = slash == std::string::npos ? "" : p.substr(0, slash);
  }
  return false;
}

// The first line of `text` that differs from the same line of `expected`, shortened, with its
// number; "(ends early)" when `text` is a prefix of `expected`.
std::string firstDifference(const std::string &text, const std::string &expected) {
  std::istringstream a(text), b(expected);
  std::string x, y;
  for (int line = 1;; ++line) {
    bool moreA = bool(std::getline(a, x)), moreB = bool(std::getline(b, y));
    if (!moreA)
      return "(ends early)";
    if (!moreB || x != y)
      return "line " + std::to_string(line) + ": \"" + firstLine(x) + "\"";
  }
}

// The first frame of a sanitizer stack in the project's own code (other than this directory),
// as "FUNCTION (FILE:LINE)"; empty when there is none.
std::string whereInProject(const std::string &err) {
  const std::string root = std::string(FAULTS_SOURCE_DIR) + "/";
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    size_t hash = line.find_first_not_of(' ');
    if (hash == std::string::npos || line[hash] != '#')
      continue;
    // "#N 0xADDRESS in FUNCTION FILE:LINE"; a frame without a source line names its module
    // "(PATH+0xOFFSET)" instead.
    size_t in = line.find(" in ");
    size_t at = line.find(" " + root);
    if (in == std::string::npos || at == std::string::npos || at < in)
      continue;
    ++at;
    std::string file = line.substr(at + root.size());
    if (file.compare(0, 12, "tests/faults") == 0)
      continue;
    std::string function = line.substr(in + 4, at - in - 5);
    return function + " (" + file + ")";
  }
  return "";
}

// Whether a stand-in of the launcher's outside libraries (platform/) said it ran out of memory:
// they abort then, by contract.
bool standInOutOfMemory(const std::string &err) {
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);)
    for (const char *who : {"liboru: ", "librask: ", "libsplashscreen: ", "text buffer: "})
      if (line.compare(0, strlen(who), who) == 0 && contains(line, "out of memory"))
        return true;
  return false;
}

enum class Kind { Recovered, Reported, NotReached, Violation };

struct Verdict {
  Kind kind = Kind::Recovered;
  std::vector<std::string> problems;
  std::string cause; // the problem's kind and where, for grouping
};

struct Baseline {
  Run run;
  Listing before, after;
};

bool endsLikeBaseline(const Run &r, const Run &base) {
  return r.status == base.status && r.signal == base.signal;
}

Verdict judge(const Run &r, const Baseline &base, const Listing &before, const Listing &after,
              bool injected, bool sanitized) {
  Verdict v;
  auto problem = [&](const std::string &kind, const std::string &text) {
    if (v.problems.empty()) {
      std::string where = whereInProject(r.err);
      v.cause = kind + (where.empty() ? "" : " at " + where);
    }
    v.problems.push_back(text);
  };

  const bool asanAbort = contains(r.err, "ERROR: AddressSanitizer: ABRT");
  const bool aborted = r.signal == SIGABRT || asanAbort;
  const bool deliberate = contains(r.err, "UNREACHABLE executed") || standInOutOfMemory(r.err);
  if (r.timedOut)
    problem("hang", "still running after " + std::to_string(kTimeLimitSeconds) + " s (killed)");
  if (aborted && !deliberate)
    problem("abort", "aborted: " + firstLine(r.err));
  if (r.signal && r.signal != SIGABRT && r.signal != base.run.signal)
    problem("crash", std::string("ended by signal ") + strsignal(r.signal));
  if (sanitized) {
    if (contains(r.err, "ERROR: AddressSanitizer") && !asanAbort)
      problem("sanitizer", "AddressSanitizer report: " +
                               firstLine(r.err.substr(r.err.find("ERROR: AddressSanitizer"))));
    if (contains(r.err, "runtime error:"))
      problem("sanitizer", "UndefinedBehaviorSanitizer report: " +
                               firstLine(r.err.substr(r.err.find("runtime error:"))));
    if (contains(r.err, "ERROR: LeakSanitizer"))
      problem("leak", "LeakSanitizer report: " +
                          firstLine(r.err.substr(r.err.find("ERROR: LeakSanitizer"))));
  }
  if (contains(r.err, "fault-check:"))
    problem("left behind", firstLine(r.err.substr(r.err.find("fault-check:"))));
  if (r.leftRunning)
    problem("left behind", "a process of the run was still running after it ended");

  const bool sameEnd = !r.timedOut && endsLikeBaseline(r, base.run);
  const bool sameOutput = r.out == base.run.out && r.err == base.run.err;
  if (r.status == 0 || (r.signal && r.signal == base.run.signal && !r.timedOut)) {
    // Success, or the scenario's own ending: everything as in the fault-free run.
    if (!sameEnd)
      problem("false success", "status 0, but the fault-free run ended with status " +
                                   std::to_string(base.run.status));
    else if (r.out != base.run.out)
      problem("false success", "stdout differs from the fault-free run's at " +
                                   firstDifference(r.out, base.run.out));
    // Standard error may say more: a failure that the program survived and reported. A file the
    // run made beyond the fault-free run's is left behind unless standard error names it.
    std::string diff;
    for (const auto &e : after) {
      if (base.after.count(e.first) == 0) {
        if (!namedIn(r.err, e.first)) diff += " " + e.first + " (extra)";
      } else if (base.after.at(e.first) != e.second) {
        diff += " " + e.first + " (differs)";
      }
    }
    for (const auto &e : base.after)
      if (after.count(e.first) == 0)
        diff += " " + e.first + " (missing)";
    if (!diff.empty())
      problem(r.status == 0 ? "false success" : "left behind", "files differ from the fault-free run's:" + diff);
  } else {
    // A failure, or an abort the code meant: a message, and nothing the run made is left.
    if (r.status > 0 && r.err.empty())
      problem("silent failure", "status " + std::to_string(r.status) + " with nothing on stderr");
    for (const auto &e : after) {
      if (before.count(e.first))
        continue;
      if (!namedIn(r.err, e.first)) {
        problem("left behind", "failed run left " + e.first + " without naming it");
        break;
      }
    }
  }

  if (!v.problems.empty())
    v.kind = Kind::Violation;
  else if (!injected)
    v.kind = Kind::NotReached;
  else if (sameEnd && sameOutput && after == base.after)
    v.kind = Kind::Recovered;
  else
    v.kind = Kind::Reported;
  return v;
}

// ---- the enumeration -------------------------------------------------------------------------

struct Point {
  std::string function;
  long index;
  Way way;
  std::string text() const {
    return function + " #" + std::to_string(index) + " (" + wayText(way) + ")";
  }
  std::string arg() const {
    return function + ":" + std::to_string(index) + ":" + way.mode + ":" +
           std::to_string(way.error);
  }
};

class Enumeration {
public:
  Enumeration(const Scenario &s, const std::string &base) : s_(s), base_(base) {}

  ~Enumeration() {
    if (devTreeLock_ >= 0) {
      removeTree(FAULTS_DEVTREE);
      close(devTreeLock_);
    }
  }

  // Makes the fixture and the fault-free run; false (with the reason printed) when the
  // scenario cannot be enumerated.
  bool prepare(std::string &why) {
    removeTree(base_);
    fs::create_directories(base_ + "/home");
    fs::create_directories(base_ + "/run/counts");
    openToAll(base_ + "/home");
    const std::string fixture = base_ + "/fixture";
    switch (s_.fixture) {
    case Fixture::Toolkit:
      // The staged toolkit, but with the dynamic variant as its tool: a copy, since the tool
      // finds its installation from the resolved path of its own executable.
      copyTree(FAULTS_TOOLKIT_DIR, fixture + "/vorn");
      copyProgram(FAULTS_VORN_CONFIG_DYNAMIC, fixture + "/vorn/bin/vorn-config");
      program_ = fixture + "/vorn/bin/vorn-config";
      break;
    case Fixture::DevTree:
      // The object root is compiled in: one enumeration at a time holds it.
      devTreeLock_ = open(FAULTS_DEVTREE ".lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (devTreeLock_ < 0 || flock(devTreeLock_, LOCK_EX) != 0) {
        why = "cannot lock " FAULTS_DEVTREE;
        return false;
      }
      removeTree(FAULTS_DEVTREE);
      program_ = FAULTS_DEVTREE "/objroot/bin/vorn-config";
      copyProgram(FAULTS_VORN_CONFIG_DEVTREE_DYNAMIC, program_);
      break;
#ifdef FAULTS_RUNTIME_DIR
    case Fixture::Versions: {
      // A second runtime whose launcher is the same program under the name a hand-over runs.
      const std::string other = fixture + "/versions/ubo1.6.0_40";
      copyTree(FAULTS_RUNTIME_DIR, other);
      copyProgram(other + "/bin/quillet", other + "/bin/tesk");
      env_.push_back("TESK_VERSION_PATH=" + fixture + "/versions");
    }
      [[fallthrough]];
    case Fixture::Runtime:
      copyTree(FAULTS_RUNTIME_DIR, fixture + "/tesk");
      program_ = fixture + "/tesk/bin/quillet";
      break;
#else
    case Fixture::Versions:
    case Fixture::Runtime:
      why = "no launcher in this build";
      return false;
#endif
    case Fixture::Library:
      program_ = FAULTS_LIBRARY_SCENARIOS;
      break;
    }

    Point none{"", 0, {"fail", 0}};
    bool injected;
    base.before = resetWork();
    base.run = runPoint(none, injected);
    base.after = listTree(work());
    Verdict v = judge(base.run, base, base.before, base.after, true, FAULTS_SANITIZED);
    bool expected = s_.expect == Expect::Success     ? base.run.status == 0
                    : s_.expect == Expect::Failure   ? base.run.status > 0
                                                     : base.run.signal == SIGINT;
    if (v.kind == Kind::Violation || !expected) {
      why = "the fault-free run ended with status " + std::to_string(base.run.status) +
            (base.run.signal ? std::string(", signal ") + strsignal(base.run.signal) : "") +
            (v.problems.empty() ? "" : "; " + v.problems.front()) + "\n" + base.run.err;
      return false;
    }
    for (const auto &entry : fs::directory_iterator(counts()))
      if (entry.path().filename() != "injected")
        calls[entry.path().filename().string()] = long(entry.file_size());
    return true;
  }

  // Runs the scenario with `point` failing (none: the counting run); `injected` tells whether
  // the injector made a call fail.
  Run runPoint(const Point &point, bool &injected) {
    removeTree(counts());
    fs::create_directories(counts());
    openToAll(counts());
    std::vector<std::string> env = environment();
    env.push_back("LD_PRELOAD=" + injectorCopy);
    env.push_back("FAULT_COUNT_DIR=" + counts());
    env.push_back("FAULT_ARMED=1");
    if (!point.function.empty()) {
      env.push_back("FAULT_FUNCTION=" + point.function);
      env.push_back("FAULT_INDEX=" + std::to_string(point.index));
      env.push_back("FAULT_MODE=" + point.way.mode);
      env.push_back("FAULT_ERRNO=" + std::to_string(point.way.error));
    }
    std::vector<std::string> argv = {program_};
    argv.insert(argv.end(), s_.args.begin(), s_.args.end());
    Run r = runProgram(argv, env, work(), base_ + "/run", asNobody());
    injected = fs::exists(counts() + "/injected");
    return r;
  }

  // A fresh work directory (the run's current directory) with the job's input; its listing.
  Listing resetWork() {
    removeTree(work());
    fs::create_directories(work());
    openToAll(work());
    if (s_.fixture == Fixture::Library) {
      Run setup = runProgram({program_, "setup", s_.args[0]}, environment(), work(),
                             base_ + "/run");
      if (setup.status != 0) {
        fprintf(stderr, "fault_driver: setup of %s failed: %s", s_.name, setup.err.c_str());
        exit(2);
      }
    }
    return listTree(work());
  }

  Verdict tryPoint(const Point &point, Run &r) {
    Listing before = resetWork();
    bool injected;
    r = runPoint(point, injected);
    return judge(r, base, before, listTree(work()), injected, FAULTS_SANITIZED);
  }

  std::string work() const { return base_ + "/work"; }

  Baseline base;
  std::map<std::string, long> calls;

private:
  std::string counts() const { return base_ + "/run/counts"; }

  // The launcher keeps the library path, and so never re-executes itself, while it has
  // privileges: run by root, it runs as nobody, as a user would.
  bool asNobody() const {
    return geteuid() == 0 && (s_.fixture == Fixture::Runtime || s_.fixture == Fixture::Versions);
  }

  static void openToAll(const std::string &dir) { chmod(dir.c_str(), 0777); }

  std::vector<std::string> environment() const {
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "LANG=C", "HOME=" + base_ + "/home",
                                    "TMPDIR=" + work() + "/tmp"};
    if (FAULTS_SANITIZED) {
      // The injector comes before the sanitizer runtime in the library list. An abort shows its
      // stack. Leaks are looked for in the library scenarios only: the programs leave their
      // memory to the end of the process on purpose.
      bool leaks = s_.fixture == Fixture::Library;
      env.push_back(std::string("ASAN_OPTIONS=verify_asan_link_order=0:handle_abort=1:") +
                    "detect_leaks=" + (leaks ? "1" : "0"));
      env.push_back("UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1");
    }
    env.insert(env.end(), s_.env.begin(), s_.env.end());
    env.insert(env.end(), env_.begin(), env_.end());
    return env;
  }

  const Scenario &s_;
  std::string base_;
  std::string program_;
  std::vector<std::string> env_;
  int devTreeLock_ = -1;
};

// The call indices tried for a function called `count` times.
std::vector<long> indicesFor(long count, long cap, long samples) {
  std::vector<long> v;
  for (long i = 1; i <= count && i <= cap; ++i)
    v.push_back(i);
  long rest = count - cap;
  for (long k = 1; rest > 0 && k <= samples; ++k) {
    long i = cap + (rest * k + samples - 1) / samples;
    if (v.empty() || i > v.back())
      v.push_back(i);
  }
  return v;
}

bool parsePoint(const std::string &text, Point &point) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ':');)
    parts.push_back(part);
  if (parts.size() != 4 || (parts[2] != "fail" && parts[2] != "short"))
    return false;
  point.function = parts[0];
  point.index = atol(parts[1].c_str());
  point.way = {parts[2], atoi(parts[3].c_str())};
  return point.index > 0;
}

const char *kindName(Kind k) {
  switch (k) {
  case Kind::Recovered: return "recovered";
  case Kind::Reported: return "reported";
  case Kind::NotReached: return "not reached";
  case Kind::Violation: return "violations";
  }
  return "?";
}

} // namespace

int main(int argc, char **argv) {
  long cap = 40, samples = 10;
  std::vector<std::string> wanted;
  std::string pointText;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        fprintf(stderr, "fault_driver: %s needs a value\n", a.c_str());
        exit(2);
      }
      return argv[++i];
    };
    if (a == "--cap")
      cap = atol(value().c_str());
    else if (a == "--samples")
      samples = atol(value().c_str());
    else if (a == "--scenario")
      wanted.push_back(value());
    else if (a == "--point")
      pointText = value();
    else if (a == "--list") {
      for (const Scenario &s : scenarios())
        printf("%s\n", s.name);
      return 0;
    } else {
      fprintf(stderr,
              "usage: fault_driver [--cap N] [--samples K] [--scenario NAME]... "
              "[--point FUNCTION:INDEX:MODE:ERRNO] [--list]\n");
      return 2;
    }
  }
  auto selected = [&](const Scenario &s) {
    if (wanted.empty())
      return true;
    for (const std::string &w : wanted)
      if (w == s.name || (std::string(s.name).compare(0, w.size() + 1, w + ".") == 0))
        return true;
    return false;
  };

  char model[] = "/tmp/faults.XXXXXX";
  if (!mkdtemp(model)) {
    perror("fault_driver: mkdtemp");
    return 2;
  }
  const std::string top = model;
  chmod(model, 0755); // runs as nobody reach their trees
  injectorCopy = top + "/fault_injector.so";
  copyProgram(FAULTS_INJECTOR, injectorCopy);
  std::string self = fs::canonical("/proc/self/exe").string();

  long points = 0, violations = 0;
  for (const Scenario &s : scenarios()) {
    if (!selected(s))
      continue;
    std::string command = s.args.empty() ? "" : s.args[0];
    for (size_t i = 1; i < s.args.size(); ++i)
      command += " " + s.args[i];
    printf("== %s: %s\n", s.name, command.c_str());
    Enumeration e(s, top + "/" + s.name);
    std::string why;
    if (!e.prepare(why)) {
      printf("   VIOLATION: cannot enumerate: %s\n", why.c_str());
      ++violations;
      continue;
    }

    if (!pointText.empty()) {
      Point p;
      if (!parsePoint(pointText, p)) {
        fprintf(stderr, "fault_driver: --point wants FUNCTION:INDEX:fail|short:ERRNO\n");
        return 2;
      }
      Run r;
      Verdict v = e.tryPoint(p, r);
      ++points;
      printf("   %s: %s, status %d%s\n", p.text().c_str(), kindName(v.kind), r.status,
             r.signal ? (std::string(", signal ") + strsignal(r.signal)).c_str() : "");
      for (const std::string &problem : v.problems)
        printf("   problem: %s\n", problem.c_str());
      printf("--- stdout\n%s--- stderr\n%s---\n", r.out.c_str(), r.err.c_str());
      if (v.kind == Kind::Violation)
        ++violations;
      continue;
    }

    std::string callsLine;
    for (const auto &c : e.calls)
      callsLine += " " + c.first + " " + std::to_string(c.second) + ",";
    if (!callsLine.empty())
      callsLine.pop_back();
    printf("   calls:%s\n", callsLine.c_str());

    std::map<Kind, long> kinds;
    std::map<std::string, std::vector<std::string>> causes;
    long tried = 0;
    for (const auto &c : e.calls) {
      for (long index : indicesFor(c.second, cap, samples)) {
        for (const Way &way : waysToFail(c.first)) {
          Point p{c.first, index, way};
          Run r;
          Verdict v = e.tryPoint(p, r);
          ++tried;
          ++kinds[v.kind];
          if (v.kind != Kind::Violation)
            continue;
          ++violations;
          printf("   VIOLATION %s: %s\n", p.text().c_str(), v.problems.front().c_str());
          for (size_t k = 1; k < v.problems.size(); ++k)
            printf("       also: %s\n", v.problems[k].c_str());
          std::string where = whereInProject(r.err);
          if (!where.empty())
            printf("       at: %s\n", where.c_str());
          else if (!r.err.empty())
            printf("       stderr: %s\n", firstLine(r.err).c_str());
          printf("       replay: %s --scenario %s --point '%s'\n", self.c_str(), s.name,
                 p.arg().c_str());
          causes[v.cause].push_back(p.function + "#" + std::to_string(p.index) +
                                    (p.way.mode == "short" ? "/short" : ""));
        }
      }
    }
    points += tried;
    std::string summary;
    for (const auto &k : kinds)
      summary += std::string(", ") + kindName(k.first) + " " + std::to_string(k.second);
    printf("   %ld failure points tried%s\n", tried, summary.c_str());
    for (const auto &c : causes) {
      std::string list;
      for (size_t k = 0; k < c.second.size() && k < 12; ++k)
        list += " " + c.second[k];
      if (c.second.size() > 12)
        list += " ... (" + std::to_string(c.second.size()) + " in all)";
      printf("   cause: %s:%s\n", c.first.c_str(), list.c_str());
    }
    fflush(stdout);
  }
  removeTree(top);
  printf("%ld failure points, %ld violations\n", points, violations);
  return violations == 0 ? 0 : 1;
}
