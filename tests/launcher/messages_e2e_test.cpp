// The launcher's messages produced by the staged quillet itself, one group per phase: a broken
// VM catalogue, execution environments that cannot be set up or re-executed, option errors,
// main classes from zub files, a VM library without its entry points, a version hand-over
// without a known executable and a runtime that disappears before the splash screen. Starts
// that need more than a plain fork and exec (a launcher run through a descriptor, of a removed
// file or of one deeper than the kernel can name; a launcher held while it reads its VM
// catalogue) are made here.

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cpuid.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/launcher/staged.h"

namespace {

namespace fs = std::filesystem;
using staged::kKru;
using staged::Launch;
using testsupport::removeTreeAt;
using staged::withoutSanitizerNotes;
using Strings = std::vector<std::string>;
using Env = std::map<std::string, std::string>;

const char kNoKnownVms[] = "Error: no known VMs. (check for corrupt rask.cfg file)\n";
const uid_t kNobody = 65534;

// ---------------------------------------------------------------------------------------------
// Starts beyond staged::Runtime::run.

// Where a start is held for the test to act: while the launcher reads its VM catalogue
// (lib/i386/rask.cfg, made a FIFO for the start) for the `reading`-th time, 1 in the image
// started, 2 in the one its re-execution starts. The launcher waits for the catalogue's text
// until `action` has run. Every other read, before or after, gets the text at once.
struct StopPoint {
  int reading;
  std::function<void()> action;
};

struct Start {
  std::string program; // executed by path unless execFd is set
  int execFd = -1;     // executed through this descriptor (fexecve) when not -1
  Strings argv;        // argument 0 included
  Env env;             // added to the runtime's usual environment
  bool asNobody = false;
  const StopPoint *stop = nullptr;
};

[[noreturn]] void childSetupFailed(const char *step) {
  fprintf(stderr, "test set-up failed: %s: %s\n", step, strerror(errno));
  _exit(126);
}

// Puts a fresh FIFO at `path` (through a rename, so that a reader which holds the old one
// keeps it); false when that fails.
bool placeFifo(const std::string &path) {
  const std::string fresh = path + ".fifo";
  unlink(fresh.c_str());
  return mkfifo(fresh.c_str(), 0644) == 0 && rename(fresh.c_str(), path.c_str()) == 0;
}

// Puts a plain file holding `text` at `path` (through a rename, as placeFifo).
bool placeFile(const std::string &path, const std::string &text) {
  const std::string fresh = path + ".file";
  return testsupport::writeFile(fresh, text) && chmod(fresh.c_str(), 0644) == 0 &&
         rename(fresh.c_str(), path.c_str()) == 0;
}

// Waits, at most 60 seconds, until the child `pid` opens the FIFO at `path` for reading, and
// returns a writing descriptor of it; -1 when the child ended first (its wait status is then
// in *wstatus and *ended is set) or the time ran out.
int writerWhenRead(const std::string &path, pid_t pid, int *wstatus, bool *ended) {
  for (int waited = 0; waited < 60000; ++waited) {
    // A writer's open that does not wait succeeds only while a reader has the FIFO open; the
    // launcher's own open waits for a writer, so it holds there until this one succeeds.
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      fcntl(fd, F_SETFL, 0);
      return fd;
    }
    if (errno != ENXIO)
      return -1;
    if (waitpid(pid, wstatus, WNOHANG) == pid) {
      *ended = true;
      return -1;
    }
    usleep(1000);
  }
  return -1;
}

// Serves the catalogue at `path`, whose text is `text`, to the child `pid` up to `stop`, acts
// and hands the rest of the readings the plain file. False when the child ended first (with
// *wstatus and *ended set) or the point was never reached.
bool holdAt(const std::string &path, const std::string &text, pid_t pid, const StopPoint &stop,
            int *wstatus, bool *ended) {
  for (int reading = 1; reading <= stop.reading; ++reading) {
    int fd = writerWhenRead(path, pid, wstatus, ended);
    if (fd < 0)
      return false;
    // The reader holds this FIFO; what it reads next, it finds at the path from now on.
    bool placed = reading < stop.reading ? placeFifo(path) : placeFile(path, text);
    if (reading == stop.reading)
      stop.action();
    bool written = testsupport::writeAll(fd, text);
    close(fd);
    if (!placed || !written)
      return false;
  }
  return true;
}

// Runs `s` in the working directory rt.base() with its output captured there.
Launch launch(const staged::Runtime &rt, const Start &s) {
  Strings argStore = s.argv, envStore = rt.environment(s.env);
  std::vector<char *> argv = staged::pointersTo(argStore), envp = staged::pointersTo(envStore);
  const std::string outPath = rt.base() + "/start.out", errPath = rt.base() + "/start.err";
  remove(rt.tracePath().c_str());
  const std::string catalogue = rt.home() + "/lib/i386/rask.cfg";
  const std::string catalogueText = testsupport::readFile(catalogue);
  if (s.stop && !placeFifo(catalogue)) {
    ADD_FAILURE() << "cannot make " << catalogue << " a FIFO: " << strerror(errno);
    return Launch();
  }

  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    testsupport::sendOutputTo(outPath, errPath, true);
    if (chdir(rt.base().c_str()) != 0)
      childSetupFailed("chdir");
    if (s.asNobody && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
      childSetupFailed("dropping root");
    alarm(60); // a hung launcher ends with SIGALRM instead of hanging the suite
    if (s.execFd >= 0)
      fexecve(s.execFd, argv.data(), envp.data());
    else
      execve(s.program.c_str(), argv.data(), envp.data());
    childSetupFailed("exec");
  }

  Launch r;
  r.pid = pid;
  int wstatus = 0;
  bool ended = false;
  if (pid > 0 && s.stop && !holdAt(catalogue, catalogueText, pid, *s.stop, &wstatus, &ended) &&
      !ended)
    ADD_FAILURE() << "the launcher never reached its stop";
  if (pid > 0 && (ended || waitpid(pid, &wstatus, 0) == pid))
    testsupport::recordEnd(wstatus, &r);
  if (s.stop) {
    EXPECT_TRUE(placeFile(catalogue, catalogueText)) << catalogue;
  }
  r.out = testsupport::takeFile(outPath);
  r.err = testsupport::takeFile(errPath);
  r.trace = staged::lines(testsupport::readFile(rt.tracePath()));
  return r;
}

// ---------------------------------------------------------------------------------------------

class Messages : public ::testing::Test {
protected:
  std::string catalogue() const { return rt_.home() + "/lib/i386/rask.cfg"; }
  std::string vmLibrary() const { return rt_.home() + "/lib/i386/client/librask.so"; }
  void writeCatalogue(const std::string &text) { units::writeWholeFile(catalogue(), text); }

  // The part of a debug run's standard output between the runtime directory and the VM
  // library check: the catalogue's trace and the VM choice.
  std::string catalogueTrace(const Launch &r) const {
    const std::string from = "UBO path is " + rt_.home() + "\n";
    size_t begin = r.out.find(from);
    size_t end = r.out.find("Does `");
    if (begin == std::string::npos || end == std::string::npos || end < begin)
      return "(no catalogue trace in: " + r.out + ")";
    begin += from.size();
    return r.out.substr(begin, end - begin);
  }

  staged::Runtime rt_;
};

// Every warning of the catalogue reader, with its line number (comment lines and the pieces of
// an over-long line count), and what it keeps of each line.
TEST_F(Messages, CatalogueWarningsNameTheLineAndTheRunGoesOn) {
  const std::string longName(4200, 'n');
  writeCatalogue("# flavours of this runtime\n"   // 1
                 "-client KNOWN\n"                // 2
                 "server KNOWN\n"                 // 3: no dash, kept
                 "-lonely\n"                      // 4: no kind
                 "-blank \t \n"                   // 5: only blanks after the name
                 "-odd STRANGE\n"                 // 6: unknown kind, kept as known
                 "-knownish KNOWNISH\n"           // 7: a known kind with more letters
                 "-fast ALIASED_TO\n"             // 8
                 "-fast2 ALIASED_TO \t\n"         // 9
                 "-big IF_SERVER_CLASS\n"         // 10
                 "-syn ALIASED_TO -client more\n" // 11
                 "-auto IF_SERVER_CLASS\t-server extra\n" // 12
                 "-" + longName + " KNOWN\n"      // 13 and 14: 4115 bytes, then the rest
                 "-tail KNOWN");                  // 15: no newline, so its kind is KNOW
  const std::string at = " of `" + catalogue() + "'\n";

  Launch r = rt_.run({"-J-syn", "x"}, {{"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Warning: no leading - on line 3" + at +
                       "Warning: missing VM type on line 4" + at +
                       "Warning: missing VM type on line 5" + at +
                       "Warning: unknown VM type on line 6" + at +
                       "Warning: missing VM alias on line 8" + at +
                       "Warning: missing VM alias on line 9" + at +
                       "Warning: missing server class VM on line 10" + at +
                       "Warning: missing VM type on line 13" + at +
                       "Warning: no leading - on line 14" + at +
                       "Warning: unknown VM type on line 15" + at);
  // The first piece of line 13 loses its last byte as if it were the newline.
  EXPECT_EQ(catalogueTrace(r), "rask.cfg[0] = ->-client<-\n"
                               "rask.cfg[1] = ->server<-\n"
                               "rask.cfg[2] = ->-lonely<-\n"
                               "rask.cfg[2] = ->-blank<-\n"
                               "rask.cfg[2] = ->-odd<-\n"
                               "rask.cfg[3] = ->-knownish<-\n"
                               "rask.cfg[4] = ->-fast<-\n"
                               "rask.cfg[4] = ->-fast2<-\n"
                               "rask.cfg[4] = ->-big<-\n"
                               "rask.cfg[4] = ->-syn<-\n"
                               "    name: -syn  vmType: VM_ALIASED_TO  alias: -client\n"
                               "rask.cfg[5] = ->-auto<-\n"
                               "    name: -auto  vmType: VM_IF_SERVER_CLASS  "
                               "server_class: -server\n"
                               "rask.cfg[6] = ->-" + longName.substr(0, 4113) + "<-\n"
                               "rask.cfg[6] = ->" + longName.substr(4114) + "<-\n"
                               "rask.cfg[7] = ->-tail<-\n"
                               "1 micro seconds to parse rask.cfg\n");
  // -syn names the client VM through its alias, and is no application argument.
  EXPECT_NE(r.out.find("RASK path is " + vmLibrary() + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(staged::mainArgs(r.trace), Strings{"x"});
}

struct CatalogueFailure {
  const char *what;
  const char *catalogue; // null: no catalogue file at all
  Strings args;
  int status;
  std::string err; // "@" stands for the catalogue's path
  std::string out; // what main prints
};

TEST_F(Messages, CatalogueProblemsThatEndTheLauncherOrReplaceTheVm) {
  const char *kWarned = "Warning: legacy VM not supported; client VM will be used\n";
  const char *kCycle = "Error: Corrupt rask.cfg file; cycle in alias list.\n";
  const CatalogueFailure cases[] = {
      {"no file", nullptr, {"x"}, 1, "Error: could not open `@'\n", ""},
      {"empty file", "", {"x"}, 1, kNoKnownVms, ""},
      {"nothing but comments and dropped lines", "# -client KNOWN\n-client\n", {"x"}, 1,
       std::string("Warning: missing VM type on line 2 of `@'\n") + kNoKnownVms, ""},
      {"two aliases of each other", "-client KNOWN\n-a ALIASED_TO -b\n-b ALIASED_TO -a\n",
       {"-a", "x"}, 1, kCycle, ""},
      {"an alias of itself, chosen behind -J", "-client KNOWN\n-me ALIASED_TO -me\n",
       {"-J-me", "x"}, 1, kCycle, ""},
      {"an alias of nothing", "-client KNOWN\n-a ALIASED_TO -gone\n", {"-a", "x"}, 1,
       "Error: Unable to resolve VM alias -gone\n", ""},
      {"a refused VM named after the class", "-client KNOWN\n-retired ERROR\n",
       {"x", "-retired"}, 1, "Error: retired VM not supported\n", ""},
      {"an alias of a refused VM", "-client KNOWN\n-old ALIASED_TO -retired\n-retired ERROR\n",
       {"-old", "x"}, 1, "Error: retired VM not supported\n", ""},
      {"a warned VM", "-client KNOWN\n-legacy WARN\n", {"-legacy", "x"}, 0, kWarned, "x\n"},
      {"an alias of a warned VM", "-client KNOWN\n-l ALIASED_TO -legacy\n-legacy WARNING\n",
       {"-l", "x"}, 0, kWarned, "x\n"},
      {"an ignored VM", "-client KNOWN\n-quiet IGNORE\n", {"-quiet", "x"}, 0, "", "x\n"},
  };
  for (const CatalogueFailure &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.catalogue)
      writeCatalogue(c.catalogue);
    else
      remove(catalogue().c_str());
    Launch r = rt_.run(c.args);
    std::string err = c.err;
    for (size_t at = err.find('@'); at != std::string::npos; at = err.find('@'))
      err.replace(at, 1, catalogue());
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(staged::linesStartingWith(r.trace, "create").empty(), c.status != 0);
  }

  // A directory opens but reads nothing.
  remove(catalogue().c_str());
  ASSERT_EQ(mkdir(catalogue().c_str(), 0755), 0);
  Launch r = rt_.run({"x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kNoKnownVms);
}

// The server-class default traces the machine facts it is based on; the expected lines are
// worked out here from the system's own answers and the processor identification.
TEST_F(Messages, ServerClassDefaultTracesTheMachineFacts) {
  writeCatalogue("-auto IF_SERVER_CLASS -server\n-client KNOWN\n-server KNOWN\n");
  fs::create_directories(rt_.home() + "/lib/i386/auto");
  fs::copy_file(vmLibrary(), rt_.home() + "/lib/i386/auto/librask.so");

  const long long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  const unsigned long long memory = (unsigned long long)(pages) * (unsigned long long)(pageSize);
  char line[256];
  snprintf(line, sizeof line, "pages: %llu  page_size: %llu  physical memory: %llu (%.3fGB)\n",
           (unsigned long long)pages, (unsigned long long)pageSize, memory,
           double(memory) / double(1ull << 30));
  std::string expected = "rask.cfg[0] = ->-auto<-\n"
                         "    name: -auto  vmType: VM_IF_SERVER_CLASS  server_class: -server\n"
                         "rask.cfg[1] = ->-client<-\n"
                         "rask.cfg[2] = ->-server<-\n"
                         "1 micro seconds to parse rask.cfg\n" +
                         std::string(line);
  bool serverClass = false;
  if (memory >= 0x70000000ull) {
    unsigned long n = (unsigned long)sysconf(_SC_NPROCESSORS_CONF);
    snprintf(line, sizeof line, "sysconf(_SC_NPROCESSORS_CONF): %lu\n", n);
    expected += line;
    if (n > 1) {
      unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
      ASSERT_TRUE(__get_cpuid(0, &eax, &ebx, &ecx, &edx));
      char vendor[12];
      memcpy(vendor, &ebx, 4);
      memcpy(vendor + 4, &edx, 4);
      memcpy(vendor + 8, &ecx, 4);
      expected += "vendor:";
      for (char c : vendor)
        expected += std::string(" ") + c;
      expected += " \n";
      __get_cpuid(1, &eax, &ebx, &ecx, &edx);
      snprintf(line, sizeof line, "value_of_eax: 0x%x  value_of_edx: 0x%x\n", eax, edx);
      expected += line;
      unsigned perPackage = 1;
      if (((eax >> 8) & 0xf) != 15 && ((eax >> 20) & 0xf) == 0) {
        expected += "not Pentium 4 or extended\n";
      } else if (memcmp(vendor, "GenuineIntel", 12) != 0) {
        expected += "Not GenuineIntel\n";
      } else if (edx & (1u << 28)) {
        expected += "Hyperthreading supported\n";
        perPackage = (ebx >> 16) & 0xff;
      } else {
        expected += "Hyperthreading not supported\n";
      }
      snprintf(line, sizeof line, "logical processors per package: %u\n", perPackage);
      expected += line;
      if (perPackage > 1)
        n /= perPackage;
    }
    snprintf(line, sizeof line, "physical processors: %lu\n", n);
    expected += line;
    serverClass = n > 1;
  }
  expected += std::string("linux_i386_ServerClassMachine: ") + (serverClass ? "true" : "false") +
              "\nDefault VM: " + (serverClass ? "server" : "auto") + "\n";

  Launch r = rt_.run({"x"}, {{"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(catalogueTrace(r), expected);

  // An explicit choice is never replaced, and asks nothing about the machine.
  r = rt_.run({"-auto", "x"}, {{"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("ServerClassMachine"), std::string::npos);
  EXPECT_NE(r.out.find("RASK path is " + rt_.home() + "/lib/i386/auto/librask.so\n"),
            std::string::npos);
}

// ---------------------------------------------------------------------------------------------

TEST_F(Messages, DataModelAndOverlongVmLibraryPaths) {
  Launch r = rt_.run({"x", "-J-d64"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "This Tesk instance does not support a 64-bit RASK.\n"
                   "Please install the desired version.\n");
  // The last data model option decides.
  r = rt_.run({"-d64", "-J-d32", "x"});
  EXPECT_EQ(r.status, 0) << r.err;

  // A VM library path that does not fit a path buffer is refused rather than cut short.
  const std::string message = "Error: Path length exceeds maximum length (PATH_MAX)\n";
  r = rt_.run({"-J-XXaltrask=/" + std::string(4090, 'a'), "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, message);
  r = rt_.run({"x"}, {{"FEN_ALTERNATE_VM", std::string(4070, 'v')}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, message);
  // One byte less than the buffer still names a file (which is missing here).
  std::string alt = "/" + std::string(4095 - 1 - strlen("/librask.so"), 'a');
  r = rt_.run({"-J-XXaltrask=" + alt, "x"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "Error: no `" + alt + "' RASK at `" + alt + "/librask.so'.\n");
}

// The re-execution that puts the VM's directories on the library search path fails when the
// launcher's own file is gone, or no longer executable, by the time it runs.
TEST_F(Messages, ReexecutionThatFailsIsReported) {
  const std::string exe = rt_.launcher();
  const char *kCheck = "Check if file exists and permissions are set correctly.\n";

  // Held while it reads its catalogue, before the re-execution, the launcher's file loses its
  // execute permission.
  ASSERT_EQ(chmod(exe.c_str(), 0755), 0);
  StopPoint beforeReexecution = {1, [&] { chmod(exe.c_str(), 0644); }};
  Start s;
  s.program = exe;
  s.argv = {exe, "x"};
  s.asNobody = true;
  s.stop = &beforeReexecution;
  Launch r = launch(rt_, s);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, std::string("execve(): ") + strerror(EACCES) + "\nError trying to exec " +
                       exe + ".\n" + kCheck);
  EXPECT_TRUE(r.trace.empty()) << "the VM was reached";

  // With its permission back the same start re-executes and runs.
  ASSERT_EQ(chmod(exe.c_str(), 0755), 0);
  r = rt_.run({"x"}, {}, "", true);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "x\n");

  // Started through a descriptor of a file removed before the start: the kernel names the
  // running program "PATH (deleted)", and the re-execution finds no such file.
  VORN_SKIP_UNDER_EMULATION(
      "binfmt_misc refuses to hand a program started through a close-on-exec descriptor to the "
      "emulator, and the emulator names the running program itself instead of the kernel's "
      "\"PATH (deleted)\"");
  int fd = open(exe.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(unlink(exe.c_str()), 0);
  s = Start();
  s.execFd = fd;
  s.argv = {exe, "x"};
  s.asNobody = true;
  r = launch(rt_, s);
  close(fd);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, std::string("execve(): ") + strerror(ENOENT) + "\nError trying to exec " +
                       exe + " (deleted).\n" + kCheck);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.trace.empty()) << "the VM was reached";
}

// ---------------------------------------------------------------------------------------------

TEST_F(Messages, ClassPathOptionWithoutItsValueShowsTheUsageAndEndsWithOne) {
  // "-J-cp" takes the embedded main class as its value, so the user's own "-cp" is the last
  // option and has none.
  const std::string usage = rt_.run({"-J-help"}).err;
  ASSERT_EQ(usage.compare(0, 12, "Usage: tesk "), 0) << usage;
  for (const char *option : {"-cp", "-classpath"}) {
    SCOPED_TRACE(option);
    Launch r = rt_.run({"-J-cp", option});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(option) + " requires class path specification\n" + usage);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(staged::linesStartingWith(r.trace, "main").empty());
    EXPECT_EQ(staged::linesStartingWith(r.trace, "help print 1").size(), 1u);
  }
}

TEST_F(Messages, RetiredOptionsWarnAndAddNothing) {
  for (const char *option : {"-checksource", "-cs", "-noasyncgc"}) {
    SCOPED_TRACE(option);
    Launch r = rt_.run({std::string("-J") + option, "x"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, std::string("Warning: ") + option + " option is no longer supported.\n");
    EXPECT_EQ(r.out, "x\n");
    EXPECT_EQ(staged::vmOptions(r.trace).size(), 6u);
  }
}

// ---------------------------------------------------------------------------------------------

// In zub mode the main class comes from the zub file's manifest. The user's options reach the
// launcher behind "-J"; "-J-cp" takes the embedded main class so that the user's first
// argument is the operand.
TEST_F(Messages, MainClassFromAZubFile) {
  const std::string good = rt_.base() + "/good.zub", plain = rt_.base() + "/plain.zub",
                    bare = rt_.base() + "/bare.zub", missing = rt_.base() + "/missing.zub";
  ASSERT_TRUE(staged::mkzub({good, "--manifest-text",
                              "Manifest-Version: 1.0\nMain-Class: com.mox.tools.quillet.Main\n"}));
  ASSERT_TRUE(staged::mkzub({plain, "--manifest-text", "Manifest-Version: 1.0\n"}));
  ASSERT_TRUE(staged::mkzub({bare, "a.class=x"}));

  Launch r = rt_.run({"-J-zub", "-J-cp", good, "a", "b"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "a\nb\n");

  // No Main-Class attribute, or no manifest at all.
  for (const std::string &zub : {plain, bare}) {
    SCOPED_TRACE(zub);
    for (bool suppress : {false, true}) {
      Strings args = {"-J-zub", "-J-cp", zub, "a"};
      if (suppress)
        args.insert(args.begin(), "-J-XXsuppressExitMessage");
      r = rt_.run(args);
      EXPECT_EQ(r.status, 1);
      const std::string message = "Failed to load Main-Class manifest attribute from\n" + zub;
      EXPECT_EQ(r.err, suppress ? "" : message + "\n");
      EXPECT_EQ(r.out, "");
      ASSERT_FALSE(r.trace.empty());
      EXPECT_EQ(r.trace.back(), "destroyVm");
    }
  }

  // A zub file that cannot be opened: the failed construction is a KRU error, and its
  // exception is the report.
  r = rt_.run({"-J-zub", "-J-cp", missing, "a"});
  EXPECT_EQ(r.status, 1);
  const std::string described = "Exception in thread \"main\" tesk.io.FileMissingError";
  EXPECT_EQ(r.err.compare(0, strlen(kKru), kKru), 0) << r.err;
  EXPECT_EQ(r.err.compare(strlen(kKru), described.size(), described), 0) << r.err;
  EXPECT_EQ(staged::lines(r.err).size(), 2u) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(Messages, VmLibraryWithoutItsEntryPointsEndsWithSix) {
  // The runtime's libtesk.so is a shared object that exports nothing.
  fs::copy_file(rt_.home() + "/lib/i386/libtesk.so", vmLibrary(),
                fs::copy_options::overwrite_existing);
  void *handle = dlopen(vmLibrary().c_str(), RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  ASSERT_EQ(dlsym(handle, "KRU_CreateTeskVM"), nullptr);
  const std::string reason = dlerror();
  dlclose(handle);

  Launch r = rt_.run({"x"});
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.err, "Error: failed " + vmLibrary() + ", because " + reason + "\n");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.trace.empty());
}

// ---------------------------------------------------------------------------------------------

// A directory chain below the directory open as `parentFd`, named `top` there, whose path is
// longer than the kernel can name (4096 characters and more); returns a descriptor of its
// deepest directory.
int makeUnnameableDir(int parentFd, const char *top, size_t depth) {
  if (mkdirat(parentFd, top, 0755) != 0)
    return -1;
  int fd = openat(parentFd, top, O_RDONLY | O_DIRECTORY);
  const std::string component(200, 'd');
  for (size_t i = 0; fd >= 0 && i < depth; ++i) {
    int next = mkdirat(fd, component.c_str(), 0755) == 0
                   ? openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY)
                   : -1;
    close(fd);
    fd = next;
  }
  return fd;
}

// A launcher that cannot tell where it lies cannot hand the run over to another runtime: this
// one lies deeper than the kernel can name, so "/proc/self/exe" cannot be read, and its
// argument 0 is found nowhere.
TEST_F(Messages, VersionHandOverWithoutAKnownExecutable) {
  const std::string installed = rt_.base() + "/installed";
  fs::create_directories(installed + "/ubo9.9/bin");
  units::writeWholeFile(installed + "/ubo9.9/bin/tesk", "");
  ASSERT_EQ(chmod((installed + "/ubo9.9/bin/tesk").c_str(), 0755), 0);
  const std::string handOverFailed = std::string("execv(): ") + strerror(ENOEXEC) +
                                     "\nExec of " + installed + "/ubo9.9/bin/tesk failed\n";
  const Env env = {{"PATH", "/nonexistent"}, {"TESK_VERSION_PATH", installed}};

  // The request and the runtime are good: the staged launcher hands over (and reports that
  // the runtime's launcher is no program).
  Launch r = rt_.run({"-version:9.9", "x"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, handOverFailed);

  int baseFd = open(rt_.base().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(baseFd, 0);
  // 21 components of 201 characters: more than 4096 whatever the temporary directory is.
  int deepFd = makeUnnameableDir(baseFd, "deep", 21);
  ASSERT_GE(deepFd, 0) << strerror(errno);
  const std::string image = testsupport::readFile(VORN_RUNTIME_DIR "/bin/quillet");
  int exeFd = openat(deepFd, "quillet", O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
  ASSERT_GE(exeFd, 0);
  ASSERT_EQ(write(exeFd, image.data(), image.size()), ssize_t(image.size()));
  close(exeFd);
  exeFd = openat(deepFd, "quillet", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(exeFd, 0);

  Start s;
  s.execFd = exeFd;
  s.argv = {"quillet-of-nowhere", "-version:9.9", "x"};
  s.env = env;
  // The loader cannot expand the launcher's run path either: liboru comes from here.
  s.env["LD_LIBRARY_PATH"] = rt_.home() + "/lib/i386/oru";
  r = launch(rt_, s);
  close(exeFd);
  close(deepFd);
  removeTreeAt(baseFd, "deep");
  close(baseFd);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(withoutSanitizerNotes(r.err), "Unable to resolve current executable\n");
  EXPECT_EQ(r.out, "");
}

// The splash screen looks for the runtime again when it loads its library; a runtime that has
// gone in the meantime leaves the splash screen out, with one report per splash call.
TEST_F(Messages, RuntimeThatDisappearsBeforeTheSplashScreen) {
  const std::string runtimeLibrary = rt_.home() + "/lib/i386/libtesk.so";
  // Held while it reads its catalogue, after it has found its runtime, in the image that goes
  // on to load the VM: the one started when it runs with root's privileges (which keep it from
  // re-executing itself), else the one its re-execution starts.
  StopPoint runtimeFound = {geteuid() == 0 ? 1 : 2, [&] { unlink(runtimeLibrary.c_str()); }};
  Start s;
  s.program = rt_.launcher();
  s.argv = {s.program, "-splash:s.gif", "x"};
  s.stop = &runtimeFound;
  Launch r = launch(rt_, s);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string report =
      "Error: could not find libtesk.so\nError: Could not find Tesk KV Runtime Environment.\n";
  EXPECT_EQ(r.err, report + report + report);
  // The pre-scan's option is no launcher option: it reaches the tool.
  EXPECT_EQ(r.out, "-splash:s.gif\nx\n");
  for (const std::string &line : r.trace)
    EXPECT_NE(line.compare(0, 6, "Splash"), 0) << line;

  // With the runtime back, the same start shows the image without a word.
  fs::copy_file(VORN_RUNTIME_DIR "/lib/i386/libtesk.so", runtimeLibrary);
  s.stop = nullptr;
  r = launch(rt_, s);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(staged::linesStartingWith(r.trace, "SplashLoadFile s.gif").size(), 1u);
}

} // namespace
