// Starts of the staged launcher that depend on privileges and on where the launcher lies, run for
// real: set-user-id, set-group-id and capability-holding copies run by an unprivileged user, a
// launcher at the top of a file system, and a launcher that must find itself through argument 0
// because /proc is hidden. The children that need it get a private mount namespace, so every
// mount they make disappears with them.

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/TestSupport.h"
#include "tests/launcher/staged.h"
#include "tests/launcher/harness.h"

namespace {

namespace fs = std::filesystem;
using staged::withoutSanitizerNotes;
using Strings = std::vector<std::string>;

const uid_t kNobody = 65534;
// Owns the set-user-id and set-group-id copies: neither root nor the user who runs them.
const uid_t kOtherUser = 65533;

const char kNoRuntime[] =
    "Error: could not find libtesk.so\nError: could not find Tesk 2 Runtime Environment.\n";

// Why the starts without /proc cannot be made under user-mode emulation.
const char kProcSelfExeAnsweredByTheEmulator[] =
    "the emulator answers /proc/self/exe itself, with or without /proc, so no emulated "
    "launcher (nor this test's own check) can be made to lose its own location";

// A fresh directory, removed with its contents, on a file system that honours set-user-id bits
// (the system's temporary directory unless that is mounted nosuid, else the build directory).
class Scratch {
public:
  Scratch() : dir_(honouringSetUserId(), "quillet-privilege") {
    char *real = realpath(dir_.path().c_str(), nullptr);
    path_ = real;
    free(real);
    chmod(path_.c_str(), 0755);
  }

  // The directory, canonical.
  const std::string &path() const { return path_; }

private:
  static std::string honouringSetUserId() {
    std::string parent = units::systemTempDir();
    struct statvfs sv;
    if (statvfs(parent.c_str(), &sv) != 0 || (sv.f_flag & ST_NOSUID))
      parent = VORN_BINARY_DIR;
    return parent;
  }

  units::TempDir dir_;
  std::string path_;
};

// Makes `root` usable as the root directory of a launcher: its lib/ is a real directory (so that
// a test can put its own files there) holding a link to every entry of the host's library
// directory that it lacks; the host's top-level links (bin, lib32...) are mirrored where the tree
// has no entry of that name; /usr, /proc and the loader's cache are bound in by `launch`.
void makeSystemView(const std::string &root) {
  fs::create_directories(root + "/lib");
  fs::create_directories(root + "/usr");
  fs::create_directories(root + "/proc");
  fs::create_directories(root + "/etc");
  units::writeWholeFile(root + "/etc/ld.so.cache", "");
  fs::create_directories(root + "/trace");
  chmod((root + "/trace").c_str(), 0777);
  for (const std::string &dir : {root, root + "/lib", root + "/etc"})
    chmod(dir.c_str(), 0755);

  std::string hostLib = fs::canonical("/lib").string();
  for (const fs::directory_entry &e : fs::directory_iterator(hostLib)) {
    std::string mine = root + "/lib/" + e.path().filename().string();
    if (fs::symlink_status(mine).type() == fs::file_type::not_found)
      fs::create_symlink(e.path(), mine);
  }
  for (const fs::directory_entry &e : fs::directory_iterator("/")) {
    std::string name = e.path().filename().string();
    std::string mine = root + "/" + name;
    if (name != "lib" && fs::is_symlink(e.symlink_status()) &&
        fs::symlink_status(mine).type() == fs::file_type::not_found)
      fs::create_symlink(fs::read_symlink(e.path()), mine);
  }
}

// One start of a launcher in a child process.
struct Start {
  std::string program;  // the path handed to execve (inside `root` when that is set)
  Strings argv;         // argument 0 included
  Strings env;
  std::string root;     // when set: the child changes its root directory to it
  bool hideProc = false; // a tmpfs over /proc (the new root's), so that no process sees its own
                         // /proc entries
  std::string workDir = "/";
  bool removeWorkDir = false; // the child removes its (empty) working directory after entering it
  uid_t uid = 0; // the child drops root for this user (and group) when it is not 0
};

struct Outcome : testsupport::ChildResult {
  Strings outLines;
};

// Sanitizer settings for a run without /proc, where the leak checker cannot work; none in a
// normal build.
std::map<std::string, std::string> sanitizerWithoutProc() {
  std::map<std::string, std::string> settings;
#if defined(__SANITIZE_ADDRESS__)
  const char *asan = getenv("ASAN_OPTIONS");
  settings["ASAN_OPTIONS"] = std::string(asan && *asan ? asan : "") + ":detect_leaks=0";
#endif
  return settings;
}

// Environment entries for a start: the sanitizer runtime's settings pass through (adjusted for a
// run `withoutProc`), nothing else of the test's own environment.
Strings environment(const Strings &entries, bool withoutProc = false) {
  Strings env = entries;
  std::map<std::string, std::string> adjusted = withoutProc ? sanitizerWithoutProc()
                                                            : std::map<std::string, std::string>();
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (adjusted.count(name))
      env.push_back(std::string(name) + "=" + adjusted[name]);
    else if (const char *value = getenv(name))
      env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

// In the child: reports the failed set-up step on descriptor 2 and ends with status 125.
[[noreturn]] void setupFailed(const char *step) {
  const char *reason = strerror(errno);
  for (const char *part : {"set-up failed: ", step, ": ", reason, "\n"})
    if (write(2, part, strlen(part)) < 0)
      break;
  _exit(125);
}

void bindInto(const std::string &root, const char *what, const char *step) {
  std::string target = root + what;
  if (mount(what, target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
    setupFailed(step);
}

// Runs `s` with its output captured, at most 60 seconds; `scratch` holds the files the start
// needs.
Outcome launch(const Start &s, const std::string &scratch) {
  Strings envStore = s.env;
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer runtime takes its settings from /proc/self/environ, which a set-user-id or
  // capability-holding process may not read, and its stack bounds from /proc/self/maps. The
  // child gives it a readable copy of the environment and, where /proc is hidden, keeps these
  // two entries and nothing else there.
  const bool sanitized = true;
#else
  const bool sanitized = false;
#endif
  const bool privateMounts = !s.root.empty() || s.hideProc;
  std::string environText, environPath = scratch + "/start.environ";
  std::string freshProc = scratch + "/start.proc";
  for (const std::string &e : envStore)
    environText += e + '\0';
  if (sanitized && privateMounts) {
    units::writeWholeFile(environPath, environText);
    chmod(environPath.c_str(), 0444);
    if (s.hideProc)
      mkdir(freshProc.c_str(), 0755);
  }

  testsupport::Command command;
  command.program = s.program;
  command.argv0 = s.argv[0].c_str();
  command.args.assign(s.argv.begin() + 1, s.argv.end());
  command.env = &envStore;
  command.beforeExec = [&] {
    if (privateMounts) {
      if (unshare(CLONE_NEWNS) != 0)
        setupFailed("unshare");
      // Nothing mounted below may reach the parent's namespace.
      if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        setupFailed("private /");
    }
    const std::string procDir = s.root + "/proc";
    const std::string pid = std::to_string(getpid());
    if (!s.root.empty()) {
      bindInto(s.root, "/usr", "bind /usr");
      if (access("/etc/ld.so.cache", R_OK) == 0)
        bindInto(s.root, "/etc/ld.so.cache", "bind the loader cache");
      if (!s.hideProc)
        bindInto(s.root, "/proc", "bind /proc");
    }
    if (s.hideProc) {
      if (sanitized && mount("proc", freshProc.c_str(), "proc", 0, nullptr) != 0)
        setupFailed("a fresh /proc");
      if (mount("none", procDir.c_str(), "tmpfs", 0, "size=16k") != 0)
        setupFailed("tmpfs over /proc");
      if (sanitized) {
        std::string maps = procDir + "/self/maps";
        std::string realMaps = freshProc + "/" + pid + "/maps";
        if (mkdir((procDir + "/self").c_str(), 0755) != 0 ||
            close(open(maps.c_str(), O_WRONLY | O_CREAT, 0444)) != 0 ||
            close(open((procDir + "/self/environ").c_str(), O_WRONLY | O_CREAT, 0444)) != 0 ||
            mount(realMaps.c_str(), maps.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            umount2(freshProc.c_str(), MNT_DETACH) != 0)
          setupFailed("the sanitizer's /proc entries");
      }
    }
    if (sanitized && privateMounts) {
      std::string environ = procDir + (s.hideProc ? "/self" : "/" + pid) + "/environ";
      if (mount(environPath.c_str(), environ.c_str(), nullptr, MS_BIND, nullptr) != 0)
        setupFailed("bind the environment copy");
    }
    if (!s.root.empty() && chroot(s.root.c_str()) != 0)
      setupFailed("chroot");
    if (s.hideProc) {
      char link[64];
      if (readlink("/proc/self/exe", link, sizeof link) >= 0) {
        errno = EEXIST;
        setupFailed("/proc/self/exe still readable");
      }
    }
    if (chdir(s.workDir.c_str()) != 0)
      setupFailed("chdir");
    if (s.removeWorkDir) {
      char cwd[64];
      if (rmdir(s.workDir.c_str()) != 0)
        setupFailed("rmdir");
      if (getcwd(cwd, sizeof cwd)) {
        errno = EEXIST;
        setupFailed("the working directory is still known");
      }
    }
    if (s.uid != 0 && (setgroups(0, nullptr) != 0 || setgid(s.uid) != 0 || setuid(s.uid) != 0))
      setupFailed("dropping root");
    alarm(60); // a hung launcher ends with SIGALRM instead of hanging the suite
  };
  Outcome o;
  static_cast<testsupport::ChildResult &>(o) = testsupport::runProgram(command);
  o.outLines = staged::lines(o.out);
  remove(environPath.c_str());
  rmdir(freshProc.c_str());
  return o;
}

// The number of process images that ran the launcher's main: each traces its command line.
size_t images(const Outcome &o) {
  return staged::linesStartingWith(o.outLines, "Command line Args:").size();
}

// The library search path the VM saw, as its trace line.
std::string libraryPathSeen(const std::string &tracePath) {
  Strings v = staged::linesStartingWith(staged::lines(testsupport::readFile(tracePath)),
                                        "env LD_LIBRARY_PATH");
  return v.size() == 1 ? v[0] : "(" + std::to_string(v.size()) + " lines)";
}

// The VM's library path entries the launcher puts first for the default VM of `runtime`.
std::string vmEntries(const std::string &runtime) {
  return runtime + "/lib/i386/client:" + runtime + "/lib/i386:" + runtime + "/../lib/i386";
}

// A root directory whose lib/tesk holds a copy of the runtime tree. The dynamic loader expands
// the launcher's run path ($ORIGIN/...) for a set-user-id or capability-holding program only
// when the result lies in a system library directory, so these copies must be installed there
// to start at all; a private root makes that possible without touching the host's directories.
class PrivilegedCopy : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = scratch_.path() + "/root";
    fs::create_directories(root_ + "/lib");
    fs::copy(VORN_RUNTIME_DIR, root_ + "/lib/tesk",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    makeSystemView(root_);
  }

  std::string launcherOnHost() const { return root_ + "/lib/tesk/bin/quillet"; }
  std::string traceOnHost() const { return root_ + "/trace/trace.log"; }

  // Runs the copy as the unprivileged user with the launcher's trace on.
  Outcome runAsNobody() const {
    remove(traceOnHost().c_str());
    Start s;
    s.program = "/lib/tesk/bin/quillet";
    s.argv = {s.program, "x"};
    s.env = environment({"PATH=/usr/bin:/bin", "HOME=/trace", "LANG=C",
                         "RASK_TRACE=/trace/trace.log", "_TESK_LAUNCHER_DEBUG=1"});
    s.root = root_;
    s.workDir = "/trace";
    s.uid = kNobody;
    return launch(s, scratch_.path());
  }

  // A run that kept its process and its library path: one image, no path set. (The loader drops
  // "LD_LIBRARY_PATH" from such a process's environment in any case, so the number of images is
  // what tells a re-execution.)
  void expectOneImage(const Outcome &o) const {
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.signal, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(images(o), 1u) << o.out;
    EXPECT_EQ(libraryPathSeen(traceOnHost()), "env LD_LIBRARY_PATH unset");
    ASSERT_FALSE(o.outLines.empty());
    EXPECT_EQ(o.outLines.back(), "x");
  }

  // A plain run by the same user: the library path is set and the launcher re-executes once.
  void expectReexecution(const Outcome &o) const {
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(images(o), 2u) << o.out;
    EXPECT_EQ(libraryPathSeen(traceOnHost()), "env LD_LIBRARY_PATH=" + vmEntries("/lib/tesk"));
    ASSERT_FALSE(o.outLines.empty());
    EXPECT_EQ(o.outLines.back(), "x");
  }

  Scratch scratch_;
  std::string root_;
};

TEST_F(PrivilegedCopy, SetUserIdAndSetGroupIdCopiesRunOnceWithTheLibraryPathUnchanged) {
  ASSERT_EQ(geteuid(), 0u) << "the copies are given to another owner, which needs root";
  struct Case {
    const char *name;
    uid_t owner;
    gid_t group;
    mode_t mode;
  };
  // Owned by another unprivileged user, so the process holds no capability: only the differing
  // real and effective ids can keep it from re-executing.
  for (const Case &c : {Case{"set-user-id", kOtherUser, 0, 04755},
                        Case{"set-group-id", 0, kOtherUser, 02755}}) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(chown(launcherOnHost().c_str(), c.owner, c.group), 0);
    ASSERT_EQ(chmod(launcherOnHost().c_str(), c.mode), 0); // after chown, which clears the bits
    struct stat st;
    ASSERT_EQ(stat(launcherOnHost().c_str(), &st), 0);
    ASSERT_EQ(st.st_mode & 07777, c.mode);
    expectOneImage(runAsNobody());
  }

  // The same copy without the bits.
  ASSERT_EQ(chown(launcherOnHost().c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(launcherOnHost().c_str(), 0755), 0);
  expectReexecution(runAsNobody());
}

TEST_F(PrivilegedCopy, ACopyWithAFileCapabilityRunsOnceWithTheLibraryPathUnchanged) {
  ASSERT_EQ(geteuid(), 0u) << "setting a file capability needs root";
  cap_t caps = cap_from_text("cap_net_bind_service+ep");
  ASSERT_NE(caps, nullptr);
  int set = cap_set_file(launcherOnHost().c_str(), caps);
  int setErrno = errno;
  cap_free(caps);
  ASSERT_EQ(set, 0) << "file capabilities unavailable under " << scratch_.path() << ": "
                    << strerror(setErrno);
  cap_t onFile = cap_get_file(launcherOnHost().c_str());
  ASSERT_NE(onFile, nullptr);
  char *text = cap_to_text(onFile, nullptr);
  EXPECT_STREQ(text, "cap_net_bind_service=ep");
  cap_free(text);
  cap_free(onFile);

  expectOneImage(runAsNobody());

  ASSERT_EQ(cap_set_file(launcherOnHost().c_str(), nullptr), 0);
  expectReexecution(runAsNobody());
}

// A launcher at /quillet has no bin directory above it, hence no home and no runtime, even when
// the tree around it holds a complete runtime under /lib/i386 (where its run path finds liboru).
TEST(LauncherHome, ALauncherAtTheTopOfAFileSystemHasNoRuntime) {
  ASSERT_EQ(geteuid(), 0u) << "a private root needs root";
  Scratch scratch;
  const std::string root = scratch.path() + "/root";
  fs::copy(VORN_RUNTIME_DIR, root, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  fs::rename(root + "/bin/quillet", root + "/quillet");
  makeSystemView(root);
  const std::string trace = root + "/trace/trace.log";

  Start s;
  s.program = "/quillet";
  s.argv = {s.program, "x"};
  s.env = environment({"PATH=/usr/bin:/bin", "HOME=/trace", "LANG=C", "RASK_TRACE=/trace/trace.log"});
  s.root = root;
  Outcome o = launch(s, scratch.path());
  EXPECT_EQ(o.status, 2) << o.err;
  EXPECT_EQ(o.err, kNoRuntime);
  EXPECT_EQ(o.out, "");
  EXPECT_TRUE(staged::linesStartingWith(staged::lines(testsupport::readFile(trace)), "create").empty())
      << "the VM was reached";

  // The same tree with the launcher in /bin starts (its home is the root itself), so the
  // failure above comes from the launcher's place alone.
  fs::rename(root + "/quillet", root + "/bin/quillet");
  s.program = "/bin/quillet";
  s.argv = {s.program, "x"};
  o = launch(s, scratch.path());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "x\n");
}

// Without /proc the launcher knows itself only through argument 0: a bare name is searched in
// "PATH" (the working directory when that is empty), a relative path is joined to the working
// directory. The unprivileged run re-executes the path found, so a wrong one cannot pass. The
// dynamic loader cannot expand $ORIGIN without /proc either: liboru comes from the library path.
TEST(LauncherLocation, FindsItselfThroughArgumentZeroWhenProcIsHidden) {
  VORN_SKIP_UNDER_EMULATION(kProcSelfExeAnsweredByTheEmulator);
  ASSERT_EQ(geteuid(), 0u) << "hiding /proc needs root";
  staged::Runtime rt;
  const std::string home = rt.home();
  const std::string oru = home + "/lib/i386/oru";
  auto environment = [&](std::map<std::string, std::string> extra) {
    for (const auto &kv : sanitizerWithoutProc())
      extra[kv.first] = kv.second;
    return rt.environment(extra);
  };
  struct Case {
    std::string arg0, program, workDir, path;
  };
  const Case cases[] = {
      {"quillet", "quillet", home + "/bin", ""},
      {"quillet", home + "/bin/quillet", home, "/nonexistent:bin"},
      {"./bin/quillet", "./bin/quillet", home, "/usr/bin:/bin"},
      {"../../tesk/./bin/quillet", "../../tesk/./bin/quillet", home + "/lib", "/usr/bin:/bin"},
      {home + "/bin/quillet", home + "/bin/quillet", rt.base(), "/usr/bin:/bin"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("argv[0] " + c.arg0 + " in " + c.workDir + " with PATH '" + c.path + "'");
    remove(rt.tracePath().c_str());
    Start s;
    s.program = c.program;
    s.argv = {c.arg0, "x"};
    s.env = environment({{"PATH", c.path}, {"LD_LIBRARY_PATH", oru}, {"_TESK_LAUNCHER_DEBUG", "1"}});
    s.hideProc = true;
    s.workDir = c.workDir;
    s.uid = kNobody;
    Outcome o = launch(s, rt.base());
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(withoutSanitizerNotes(o.err), "");
    EXPECT_EQ(images(o), 2u) << o.out;
    // Both images were started with the same argument 0.
    EXPECT_EQ(staged::linesStartingWith(o.outLines, "\targv[0] = '" + c.arg0 + "'").size(), 2u);
    Strings trace = staged::lines(testsupport::readFile(rt.tracePath()));
    EXPECT_EQ(libraryPathSeen(rt.tracePath()), "env LD_LIBRARY_PATH=" + vmEntries(home) + ":" + oru);
    Strings options = staged::vmOptions(trace);
    ASSERT_FALSE(options.empty());
    EXPECT_EQ(options[0], "-Dapplication.home=" + home) << "the path found is not canonical";
    ASSERT_FALSE(o.outLines.empty());
    EXPECT_EQ(o.outLines.back(), "x");
  }

  // A bare name that is not in the working directory, with an empty "PATH": the launcher does
  // not know where it is, and so finds no runtime.
  Start s;
  s.program = home + "/bin/quillet";
  s.argv = {"quillet", "x"};
  s.env = environment({{"PATH", ""}, {"LD_LIBRARY_PATH", oru}});
  s.hideProc = true;
  s.workDir = rt.base();
  s.uid = kNobody;
  Outcome o = launch(s, rt.base());
  EXPECT_EQ(o.status, 2) << o.err;
  EXPECT_EQ(withoutSanitizerNotes(o.err), kNoRuntime);
}

// With neither /proc nor a working directory (it was removed), a relative "PATH" element names
// nothing: it must not be looked up from the root instead, where it can find another launcher.
TEST(LauncherLocation, RelativePathElementsNeedAWorkingDirectory) {
  VORN_SKIP_UNDER_EMULATION(kProcSelfExeAnsweredByTheEmulator);
  ASSERT_EQ(geteuid(), 0u) << "a private root needs root";
  Scratch scratch;
  const std::string root = scratch.path() + "/root";
  fs::create_directories(root + "/opt");
  fs::copy(VORN_RUNTIME_DIR, root + "/opt/tesk",
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  // Another complete runtime, found through "x/bin" relative to the root.
  fs::copy(VORN_RUNTIME_DIR, root + "/x", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  makeSystemView(root);
  fs::create_directories(root + "/trace/gone");
  const std::string trace = root + "/trace/trace.log";

  Start s;
  s.program = "/opt/tesk/bin/quillet";
  s.argv = {"quillet", "x"};
  s.env = environment({"PATH=x/bin", "HOME=/trace", "LANG=C", "RASK_TRACE=/trace/trace.log",
                       "LD_LIBRARY_PATH=/opt/tesk/lib/i386/oru"},
                      true);
  s.root = root;
  s.hideProc = true;

  // From the root itself, "x/bin" does lead to the other launcher, and the run takes its home.
  Outcome o = launch(s, scratch.path());
  EXPECT_EQ(o.status, 0) << o.err;
  Strings options = staged::vmOptions(staged::lines(testsupport::readFile(trace)));
  ASSERT_FALSE(options.empty());
  EXPECT_EQ(options[0], "-Dapplication.home=/x");

  remove(trace.c_str());
  s.workDir = "/trace/gone";
  s.removeWorkDir = true;
  o = launch(s, scratch.path());
  EXPECT_EQ(o.status, 2) << o.err;
  EXPECT_EQ(withoutSanitizerNotes(o.err), kNoRuntime);
  EXPECT_TRUE(staged::linesStartingWith(staged::lines(testsupport::readFile(trace)), "create").empty())
      << "the VM was reached";
}

} // namespace
