// Runtime version selection, end to end through the staged quillet: installed runtimes are
// directories in a private tree whose bin/tesk is a link to this test program, which then only
// records how it was started (see recordAsRuntimeLauncher). The search itself is also checked in
// process against a brute-force reference on random trees.

#include <dirent.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/oru.h"
#include "launcher/version_select.h"
#include "tests/launcher/staged.h"

extern char **environ;

namespace {

const char kRecordVariable[] = "QUILLET_TEST_RECORD";

// When this program is started as an installed runtime's launcher, it writes the path it was
// executed through, its arguments and its environment into the file named by
// QUILLET_TEST_RECORD, and exits before any test runs.
__attribute__((constructor)) void recordAsRuntimeLauncher() {
  const char *recordPath = getenv(kRecordVariable);
  if (!recordPath)
    return;
  FILE *record = fopen(recordPath, "w");
  if (!record)
    _exit(125);
  const char *execPath = reinterpret_cast<const char *>(getauxval(AT_EXECFN));
  fprintf(record, "exec=%s\n", execPath ? execPath : "");
  // Argument 0 as the launcher passed it, which the kernel keeps only in the command line.
  FILE *cmdline = fopen("/proc/self/cmdline", "r");
  std::string arg;
  for (int c; cmdline && (c = fgetc(cmdline)) != EOF;) {
    if (c == '\0') {
      fprintf(record, "arg=%s\n", arg.c_str());
      arg.clear();
    } else {
      arg += char(c);
    }
  }
  if (cmdline)
    fclose(cmdline);
  for (char **entry = environ; *entry; ++entry)
    fprintf(record, "env=%s\n", *entry);
  fclose(record);
  _exit(0);
}

using staged::Launch;
using testsupport::removeTreeAt;
using Strings = std::vector<std::string>;
using Env = std::map<std::string, std::string>;

// What the runtime launcher that was handed the run saw.
struct Record {
  bool ran = false;
  std::string exec;
  Strings args;
  Env env;
  bool has(const std::string &name) const { return env.count(name) != 0; }
};

Record readRecord(const std::string &path) {
  Record r;
  std::string text = testsupport::readFile(path);
  if (text.empty())
    return r;
  r.ran = true;
  for (const std::string &line : staged::lines(text)) {
    if (line.compare(0, 5, "exec=") == 0) {
      r.exec = line.substr(5);
    } else if (line.compare(0, 4, "arg=") == 0) {
      r.args.push_back(line.substr(4));
    } else if (line.compare(0, 4, "env=") == 0) {
      size_t eq = line.find('=', 4);
      r.env[line.substr(4, eq - 4)] = eq == std::string::npos ? "" : line.substr(eq + 1);
    }
  }
  return r;
}

std::string selfPath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0)
    abort();
  return std::string(buffer, size_t(n));
}

// How an entry of a runtime directory is made.
enum class Kind {
  Launcher,      // bin/tesk links to this program
  NoLauncher,    // no bin/tesk
  NotExecutable, // bin/tesk without execute permission
  LauncherIsDir, // bin/tesk is a directory
  PlainFile,     // the entry itself is a file
  NotAProgram,   // bin/tesk is executable but no program the kernel can start
};

// Makes `entry` of the kind given inside the directory open as `dirFd`. Works below paths of
// any length, as it never names more than one component.
void makeEntryAt(int dirFd, const std::string &entry, Kind kind) {
  if (kind == Kind::PlainFile) {
    int fd = openat(dirFd, entry.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0755);
    ASSERT_GE(fd, 0) << entry;
    close(fd);
    return;
  }
  ASSERT_EQ(mkdirat(dirFd, entry.c_str(), 0755), 0) << entry << ": " << strerror(errno);
  if (kind == Kind::NoLauncher)
    return;
  std::string bin = entry + "/bin";
  ASSERT_EQ(mkdirat(dirFd, bin.c_str(), 0755), 0);
  std::string launcher = bin + "/tesk";
  switch (kind) {
  case Kind::Launcher:
    ASSERT_EQ(symlinkat(selfPath().c_str(), dirFd, launcher.c_str()), 0);
    break;
  case Kind::LauncherIsDir:
    ASSERT_EQ(mkdirat(dirFd, launcher.c_str(), 0755), 0);
    break;
  case Kind::NotExecutable:
  case Kind::NotAProgram: {
    int fd = openat(dirFd, launcher.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                    kind == Kind::NotAProgram ? 0755 : 0644);
    ASSERT_GE(fd, 0);
    const char text[] = "this is no program\n";
    ASSERT_EQ(write(fd, text, sizeof text - 1), ssize_t(sizeof text - 1));
    close(fd);
    break;
  }
  default:
    break;
  }
}

class VersionSelection : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(root().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(home().c_str(), 0755), 0);
  }
  void TearDown() override {
    int base = open(rt_.base().c_str(), O_RDONLY | O_DIRECTORY);
    removeTreeAt(base, "vs");
    close(base);
  }

  // Everything of the test's own lies below root(); HOME is home().
  std::string root() const { return rt_.base() + "/vs"; }
  std::string home() const { return root() + "/home"; }
  std::string recordPath() const { return root() + "/record.txt"; }

  // A runtime directory DIR (made when missing) with `entry` of the kind given; returns the
  // entry's path.
  std::string addRuntime(const std::string &dir, const std::string &entry,
                         Kind kind = Kind::Launcher) {
    mkdir(dir.c_str(), 0755);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_GE(fd, 0) << dir;
    makeEntryAt(fd, entry, kind);
    close(fd);
    return dir + "/" + entry;
  }

  // A zub file at `path` with the manifest text given and one class entry.
  void makeZub(const std::string &path, const std::string &manifest) {
    ASSERT_TRUE(staged::mkzub(
        {path, "--manifest-text", manifest, "org/example/App.class=class org.example.App"}));
  }

  // Runs the staged launcher with HOME at home() and TESK_VERSION_PATH at `versionPath`
  // ("\x01unset" leaves it out); returns the run and fills `record`.
  Launch run(const Strings &args, const std::string &versionPath, Record *record,
             Env env = {}) {
    env.emplace("HOME", home());
    env.emplace("TESK_VERSION_PATH", versionPath);
    env[kRecordVariable] = recordPath();
    remove(recordPath().c_str());
    Launch r = rt_.run(args, env);
    *record = readRecord(recordPath());
    return r;
  }

  static bool traced(const Launch &r, const std::string &line) {
    return std::find(r.trace.begin(), r.trace.end(), line) != r.trace.end();
  }
  static bool vmCreated(const Launch &r) {
    return !staged::linesStartingWith(r.trace, "create").empty();
  }

  staged::Runtime rt_;
};

TEST_F(VersionSelection, TheLatestAcceptableReleaseWithALauncherIsChosen) {
  std::string dir = root() + "/installed";
  addRuntime(dir, "ubo1.6.0_40");
  std::string best = addRuntime(dir, "fen1.6.0_45");
  addRuntime(dir, "nuvo1.6.0_44");
  addRuntime(dir, "nuvek1.6.0_43");
  addRuntime(dir, "ubo1.5.0_99");
  addRuntime(dir, "ubo1.7.0");            // not accepted by the request
  addRuntime(dir, "nuv1.6.0_99");         // no runtime prefix
  addRuntime(dir, "xubo1.6.0_99");        // the prefix must begin the name
  addRuntime(dir, "ubo1.6.0_90", Kind::NoLauncher);
  addRuntime(dir, "ubo1.6.0_91", Kind::NotExecutable);
  addRuntime(dir, "ubo1.6.0_92", Kind::LauncherIsDir);
  addRuntime(dir, "ubo1.6.0_93", Kind::PlainFile);

  Record rec;
  Launch r = run({"-version:1.6*", "-J-Dx=1", "-cp", "a:b", "-no-ubo-restrict-search", "Hello.x",
                  "-version:1.9", "-d", "out"},
                 dir, &rec);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  ASSERT_TRUE(rec.ran);
  EXPECT_EQ(rec.exec, best + "/bin/tesk");
  // The selection options are gone, argument 0 is "tesk", everything after the operand stays.
  EXPECT_EQ(rec.args, (Strings{"tesk", "-J-Dx=1", "-cp", "a:b", "Hello.x", "-version:1.9", "-d",
                               "out"}));
  ASSERT_TRUE(rec.has("_TESK_VERSION_SET"));
  EXPECT_EQ(rec.env["_TESK_VERSION_SET"], "");
  EXPECT_FALSE(rec.has("_TESK_SPLASH_FILE"));
  EXPECT_FALSE(rec.has("_TESK_SPLASH_ZUB"));
  EXPECT_FALSE(rec.has("LD_LIBRARY_PATH")) << "the hand-over comes before the library path";
  EXPECT_FALSE(vmCreated(r));
}

TEST_F(VersionSelection, TheFirstDirectoryWithACandidateWinsWhateverTheRelease) {
  std::string first = root() + "/first", second = root() + "/second";
  std::string older = addRuntime(first, "ubo1.6.0_10");
  addRuntime(first, "ubo1.6.0_95", Kind::NoLauncher);
  std::string newer = addRuntime(second, "ubo1.6.0_90");

  // Directories that cannot be opened and empty elements are skipped.
  Record rec;
  Launch r = run({"-version:1.6+", "x"}, root() + "/missing::" + first + ":" + second, &rec);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(rec.ran);
  EXPECT_EQ(rec.exec, older + "/bin/tesk");

  r = run({"-version:1.6.0_50+", "x"}, first + ":" + second, &rec);
  ASSERT_TRUE(rec.ran) << r.err;
  EXPECT_EQ(rec.exec, newer + "/bin/tesk");

  // Without TESK_VERSION_PATH the user's HOME/tesk comes before the system directory.
  std::string mine = addRuntime(home() + "/tesk", "fen1.6.0_12");
  r = run({"-version:1.6*", "x"}, "\x01unset", &rec);
  ASSERT_TRUE(rec.ran) << r.err;
  EXPECT_EQ(rec.exec, mine + "/bin/tesk");
}

TEST_F(VersionSelection, TheMarkerCarriesTheManifestsMainClass) {
  std::string dir = root() + "/installed";
  std::string chosen = addRuntime(dir, "ubo1.6.0_40");
  std::string zub = root() + "/app.zub";
  makeZub(zub, "Manifest-Version: 1.0\nMain-Class: org.example.App\nUBO-Version: 1.6*\n");

  Record rec;
  Launch r = run({"-zub", zub, "a", "b"}, dir, &rec);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(rec.ran);
  EXPECT_EQ(rec.exec, chosen + "/bin/tesk");
  EXPECT_EQ(rec.args, (Strings{"tesk", "-zub", zub, "a", "b"}));
  EXPECT_EQ(rec.env["_TESK_VERSION_SET"], "org.example.App");

  // 4096 characters of main class fit; one more ends the launcher.
  std::string longest(4096, 'c');
  makeZub(zub, "Main-Class: " + longest + "\nUBO-Version: 1.6*\n");
  r = run({"-zub", zub}, dir, &rec);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(rec.ran);
  EXPECT_EQ(rec.env["_TESK_VERSION_SET"], longest);

  makeZub(zub, "Main-Class: " + longest + "d\nUBO-Version: 1.6*\n");
  r = run({"-zub", zub}, dir, &rec);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: main-class: attribute exceeds system limits\n");
  EXPECT_FALSE(rec.ran);
}

TEST_F(VersionSelection, TheLaunchersOwnReleaseServesWhenNothingIsInstalled) {
  std::string empty = root() + "/empty";
  ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
  addRuntime(empty, "ubo1.6.0_33", Kind::NoLauncher); // no launcher: not installed
  for (const char *spec : {"1.6.0_33-b33", "1.6*", "1.5+", "1.4 1.6.0_33*"}) {
    SCOPED_TRACE(spec);
    std::string text = spec;
    ASSERT_TRUE(ORU_AcceptableRelease("1.6.0_33-b33", &text[0]));
    std::string option = std::string("-version:") + spec;
    Record rec;
    Launch r = run({option, "Hello.x"}, empty, &rec);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(rec.ran);
    // Not being a -J option, the request still reaches the tool as an argument.
    EXPECT_EQ(staged::mainArgs(r.trace), (Strings{option, "Hello.x"}));
    EXPECT_TRUE(traced(r, "env _TESK_VERSION_SET unset"));
  }
}

TEST_F(VersionSelection, RequestsOutsideTheLeadingOptionsSelectNothing) {
  std::string dir = root() + "/installed";
  addRuntime(dir, "ubo9.9");
  struct Case {
    Strings args;
    Strings mainArgs;
  };
  // The option scan expands a class path value like any other.
  char *expandedText = ORU_WildcardExpandClasspath("-version:9.9");
  std::string expanded = expandedText ? expandedText : "-version:9.9";
  ORU_MemFree(expandedText);
  const Case cases[] = {
      // After the operand the scan has stopped.
      {{"Hello.x", "-version:9.9"}, {"Hello.x", "-version:9.9"}},
      // A -J option is the VM's: it selects nothing, and the option scan drops it.
      {{"-J-version:9.9", "Hello.x"}, {"Hello.x"}},
      // A class path value is never a request.
      {{"-cp", "-version:9.9", "Hello.x"}, {"-cp", expanded, "Hello.x"}},
      {{"-classpath", "-version:9.9", "Hello.x"}, {"-classpath", expanded, "Hello.x"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Record rec;
    Launch r = run(c.args, dir, &rec);
    EXPECT_FALSE(rec.ran);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(staged::mainArgs(r.trace), c.mainArgs);
  }

  // The value after -cp is consumed as such: the next argument is the operand.
  Record rec;
  Launch r = run({"-cp", "lib", "Hello.x", "-version:9.9"}, dir, &rec);
  EXPECT_FALSE(rec.ran);
  EXPECT_EQ(r.status, 0) << r.err;
  // A -cp without a value is just kept, and the scan goes on.
  r = run({"-version:9.9", "-cp"}, dir, &rec);
  ASSERT_TRUE(rec.ran) << r.err;
  EXPECT_EQ(rec.args, (Strings{"tesk", "-cp"}));
}

TEST_F(VersionSelection, UnsatisfiableAndMalformedVersionRequestsEndTheLauncher) {
  std::string dir = root() + "/installed";
  addRuntime(dir, "ubo1.6.0_40");
  addRuntime(dir, "ubo1.9", Kind::NoLauncher);
  struct Case {
    Strings args;
    std::string err;
  };
  const Case cases[] = {
      {{"-version:1.9", "x"}, "Unable to locate UBO meeting specification \"1.9\"\n"},
      {{"-version:1.6.0_41+", "x"}, "Unable to locate UBO meeting specification \"1.6.0_41+\"\n"},
      {{"-version:1..6", "x"}, "Syntax error in version specification \"1..6\"\n"},
      {{"-version:", "x"}, "Syntax error in version specification \"\"\n"},
      // The last request counts.
      {{"-version:1.6*", "-version:2#", "x"}, "Syntax error in version specification \"2#\"\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Record rec;
    Launch r = run(c.args, dir, &rec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(rec.ran);
    EXPECT_FALSE(vmCreated(r));
  }

  // A manifest's version request is checked the same way.
  std::string zub = root() + "/app.zub";
  makeZub(zub, "Main-Class: org.example.App\nUBO-Version: 1.6 +\n");
  Record rec;
  Launch r = run({"-zub", zub}, dir, &rec);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Syntax error in version specification \"1.6 +\"\n");
}

TEST_F(VersionSelection, ZubFilesThatCannotBeReadEndTheLauncher) {
  std::string dir = root() + "/installed";
  addRuntime(dir, "ubo1.6.0_40");
  std::string missing = root() + "/missing.zub";
  std::string corrupt = root() + "/corrupt.zub";
  units::writeWholeFile(corrupt, "PK\x03\x04 this is not really an archive");
  std::string noManifest = root() + "/bare.zub";
  ASSERT_TRUE(staged::mkzub({noManifest, "a.class=x"}));

  Record rec;
  Launch r = run({"-zub", missing, "x"}, dir, &rec);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unable to access zubfile " + missing + "\n");
  EXPECT_FALSE(vmCreated(r));

  for (const std::string &zub : {corrupt, noManifest}) {
    r = run({"-version:1.6*", "-zub", zub}, dir, &rec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid or corrupt zubfile " + zub + "\n");
    EXPECT_FALSE(rec.ran);
  }

  // Only a -zub among the leading options reads the operand as a zub file.
  r = run({missing, "-zub"}, dir, &rec);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(rec.ran);
}

TEST_F(VersionSelection, CommandLineRequestsOverrideTheManifest) {
  // A release nobody installs, so that the system directory cannot hold it.
  const std::string release = "4.2.7_13-quillettest";
  if (access(("/usr/tesk/ubo" + release).c_str(), F_OK) == 0)
    GTEST_SKIP() << "/usr/tesk holds the test's release";
  std::string dir = root() + "/installed";
  std::string chosen = addRuntime(dir, "ubo" + release);
  std::string restricted = root() + "/restricted.zub", open = root() + "/open.zub",
              other = root() + "/other.zub";
  makeZub(restricted, "UBO-Version: " + release + "\nUBO-Restrict-Search: TRUE\n");
  makeZub(open, "UBO-Version: " + release + "\nUBO-Restrict-Search: false\n");
  makeZub(other, "UBO-Version: 9.9\n");
  const std::string unable = "Unable to locate UBO meeting specification \"" + release + "\"\n";

  struct Case {
    Strings args;
    bool found;
  };
  const Case cases[] = {
      {{"-zub", restricted}, false}, // only /usr/tesk is searched
      {{"-no-ubo-restrict-search", "-zub", restricted}, true},
      {{"-zub", restricted, "-no-ubo-restrict-search"}, false}, // after the operand
      {{"-zub", open}, true},
      {{"-ubo-restrict-search", "-zub", open}, false},
      {{"-ubo-restrict-search", "-no-ubo-restrict-search", "-zub", open}, true},
      {{"-version:" + release, "-zub", other}, true},
      {{"-version:" + release, "-ubo-restrict-search", "x"}, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Record rec;
    Launch r = run(c.args, dir, &rec);
    EXPECT_EQ(rec.ran, c.found);
    if (c.found) {
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(rec.exec, chosen + "/bin/tesk");
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, unable);
    }
  }
}

TEST_F(VersionSelection, SplashImageIsHandedOnUnlessHeadless) {
  std::string dir = root() + "/installed";
  addRuntime(dir, "ubo1.6.0_40");
  std::string zub = root() + "/app.zub";
  makeZub(zub, "Main-Class: org.example.App\nSplash-Image: img/s.gif\n");
  const std::string none = "\x01none";
  struct Case {
    Strings args;
    std::string file;
    std::string zub;
  };
  const Case cases[] = {
      {{"-splash:a.png", "x"}, "a.png", none},
      {{"-Dtesk.ozt.headless=true", "-splash:a.png", "x"}, none, none},
      {{"-splash:a.png", "-Dtesk.ozt.headless=true", "x"}, none, none},
      {{"-Dtesk.ozt.headless=true", "-Dtesk.ozt.headless=false", "-splash:a.png"}, "a.png", none},
      {{"-Dtesk.ozt.headless=TRUE", "-splash:a.png"}, "a.png", none},
      {{"-splash:a.png", "-splash:b.png", "x"}, "b.png", none},
      {{"x", "-splash:a.png"}, none, none},
      {{"-cp", "-splash:c.png", "x"}, "c.png", none},
      {{"-zub", zub}, "img/s.gif", zub},
      {{"-splash:a.png", "-zub", zub}, "a.png", none},
      {{"-zub", zub, "-Dtesk.ozt.headless=true"}, "img/s.gif", zub},
      {{"-Dtesk.ozt.headless=true", "-zub", zub}, none, none},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Strings args = c.args;
    args.insert(args.begin(), "-version:1.6*");
    Record rec;
    Launch r = run(args, dir, &rec);
    ASSERT_TRUE(rec.ran) << r.err;
    EXPECT_EQ(rec.has("_TESK_SPLASH_FILE") ? rec.env["_TESK_SPLASH_FILE"] : none, c.file);
    EXPECT_EQ(rec.has("_TESK_SPLASH_ZUB") ? rec.env["_TESK_SPLASH_ZUB"] : none, c.zub);
    // The splash and headless options stay for the chosen launcher.
    EXPECT_EQ(Strings(rec.args.begin() + 1, rec.args.end()), c.args);
  }
}

TEST_F(VersionSelection, MarkerAndSplashVariablesNeverReachTheVm) {
  // A launcher started with the marker selects nothing, however its arguments ask.
  std::string dir = root() + "/installed";
  addRuntime(dir, "ubo9.9");
  Record rec;
  Launch r = run({"-version:9.9", "-splash:a.png", "x"}, dir, &rec,
                 {{"_TESK_VERSION_SET", "org.example.Other"},
                  {"_TESK_SPLASH_FILE", "s.png"},
                  {"_TESK_SPLASH_ZUB", "a.zub"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(rec.ran);
  EXPECT_TRUE(traced(r, "env _TESK_VERSION_SET unset"));
  EXPECT_TRUE(traced(r, "env _TESK_SPLASH_FILE unset"));
  EXPECT_TRUE(traced(r, "env _TESK_SPLASH_ZUB unset"));
  EXPECT_EQ(staged::mainArgs(r.trace), (Strings{"-version:9.9", "-splash:a.png", "x"}));

  // Variables the selection itself sets are gone before the VM starts as well.
  r = run({"-version:1.6*", "-splash:a.png", "x"}, root() + "/nothing", &rec);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(rec.ran);
  EXPECT_TRUE(traced(r, "env _TESK_SPLASH_FILE unset"));
  EXPECT_TRUE(traced(r, "env _TESK_VERSION_SET unset"));
}

TEST_F(VersionSelection, ARuntimeThatHoldsThisLauncherIsNotStartedAgain) {
  // The staged tree itself, installed under a release this launcher's own does not meet.
  std::string dir = root() + "/installed";
  mkdir(dir.c_str(), 0755);
  ASSERT_EQ(symlink(rt_.home().c_str(), (dir + "/ubo1.6.0_50").c_str()), 0);
  ASSERT_EQ(symlink(selfPath().c_str(), (rt_.home() + "/bin/tesk").c_str()), 0);
  Record rec;
  Launch r = run({"-version:1.6.0_50", "x"}, dir, &rec);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(rec.ran);
  EXPECT_EQ(staged::mainArgs(r.trace), (Strings{"-version:1.6.0_50", "x"}));
  EXPECT_TRUE(traced(r, "env _TESK_VERSION_SET unset"));
  ASSERT_EQ(unlink((dir + "/ubo1.6.0_50").c_str()), 0);

  // A runtime whose path merely begins the launcher's path is another directory: the staged
  // tree is BASE/tesk, the runtime BASE/tes.
  std::string sibling = rt_.base() + "/tes";
  ASSERT_EQ(mkdir(sibling.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((sibling + "/bin").c_str(), 0755), 0);
  ASSERT_EQ(symlink(selfPath().c_str(), (sibling + "/bin/tesk").c_str()), 0);
  ASSERT_EQ(symlink(sibling.c_str(), (dir + "/ubo1.6.0_50").c_str()), 0);
  r = run({"-version:1.6.0_50", "x"}, dir, &rec);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(rec.ran) << "the launcher took BASE/tes for its own runtime";
  EXPECT_EQ(rec.exec, sibling + "/bin/tesk");
  int base = open(rt_.base().c_str(), O_RDONLY | O_DIRECTORY);
  removeTreeAt(base, "tes");
  close(base);
}

TEST_F(VersionSelection, TracesDescribeTheChoiceAndTheHandOver) {
  std::string dir = root() + "/installed";
  std::string chosen = addRuntime(dir, "nuvek1.6.0_40");
  Record rec;
  Launch r = run({"-version:1.6*", "-ubo-restrict-search", "-no-ubo-restrict-search", "-J-Dx=1",
                  "x", "y"},
                 dir, &rec, {{"_TESK_LAUNCHER_DEBUG", "1"}});
  ASSERT_TRUE(rec.ran) << r.err;
  Strings out = staged::lines(r.out);
  EXPECT_NE(std::find(out.begin(), out.end(),
                      "UBO-Version = 1.6*, UBO-Restrict-Search = false Selected = " + chosen),
            out.end())
      << r.out;
  EXPECT_NE(std::find(out.begin(), out.end(),
                      "ReExec Command: " + chosen + "/bin/tesk (tesk)"),
            out.end())
      << r.out;
  EXPECT_NE(std::find(out.begin(), out.end(), "ReExec Args: -J-Dx=1 x y"), out.end()) << r.out;

  r = run({"-version:1.6*", "x"}, root() + "/nothing", &rec, {{"_TESK_LAUNCHER_DEBUG", "1"}});
  out = staged::lines(r.out);
  EXPECT_NE(std::find(out.begin(), out.end(),
                      "UBO-Version = 1.6*, UBO-Restrict-Search = false Selected = null"),
            out.end())
      << r.out;
}

TEST_F(VersionSelection, AFailedHandOverIsReported) {
  std::string dir = root() + "/installed";
  std::string broken = addRuntime(dir, "ubo1.6.0_40", Kind::NotAProgram);
  Record rec;
  Launch r = run({"-version:1.6*", "x"}, dir, &rec);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string("execv(): ") + strerror(ENOEXEC) + "\nExec of " + broken +
                       "/bin/tesk failed\n");
  EXPECT_FALSE(vmCreated(r));
}

// A directory chain below `parentFd` named `top`, whose full path (`prefix` + "/" + top + ...)
// is exactly `length` characters; returns its path and leaves it open in `*fd`.
std::string makeDeepDir(int parentFd, const std::string &prefix, const std::string &top,
                        size_t length, int *fd) {
  std::string path = prefix + "/" + top;
  EXPECT_EQ(mkdirat(parentFd, top.c_str(), 0755), 0);
  int current = openat(parentFd, top.c_str(), O_RDONLY | O_DIRECTORY);
  while (path.size() < length) {
    size_t left = length - path.size(); // at least 2 per component: "/" and a character
    size_t k = std::min<size_t>(200, left - 1);
    if (left - (k + 1) == 1)
      --k;
    std::string component(k, 'd');
    EXPECT_EQ(mkdirat(current, component.c_str(), 0755), 0) << strerror(errno);
    int next = openat(current, component.c_str(), O_RDONLY | O_DIRECTORY);
    close(current);
    current = next;
    path += "/" + component;
  }
  EXPECT_EQ(path.size(), length);
  *fd = current;
  return path;
}

TEST_F(VersionSelection, PathLengthsAreCheckedAtTheirExactLimits) {
  int rootFd = open(root().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(rootFd, 0);

  // DIR/ubo1.6.0_40/bin/tesk is 4095 characters: it is the longest launcher path that fits.
  // The entry with one character more (and a later release) is no candidate.
  int fd;
  std::string dir = makeDeepDir(rootFd, root(), "deep", 4096 - 11 - strlen("ubo1.6.0_40"), &fd);
  makeEntryAt(fd, "ubo1.6.0_40", Kind::Launcher);
  makeEntryAt(fd, "ubo1.6.0_401", Kind::Launcher);
  // What a launcher path cut to the buffer would name: it must not count.
  ASSERT_EQ(symlinkat(selfPath().c_str(), fd, "ubo1.6.0_401/bin/tes"), 0);
  close(fd);
  Record rec;
  Launch r = run({"-version:1.6*", "x"}, dir, &rec);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(rec.ran);
  EXPECT_EQ(rec.exec, dir + "/ubo1.6.0_40/bin/tesk");
  EXPECT_EQ(rec.exec.size(), 4095u);

  // Through a link the canonical runtime path may be longer than the path found. At 4087
  // characters the launcher's path no longer fits.
  std::string runtimeName = "ubo1.6.0_40";
  std::string real = makeDeepDir(rootFd, root(), "deeper", 4087 - 1 - runtimeName.size(), &fd);
  makeEntryAt(fd, runtimeName, Kind::Launcher);
  close(fd);
  std::string link = root() + "/short";
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  r = run({"-version:1.6*", "x"}, link, &rec);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Path length exceeds maximum length (PATH_MAX)\n");
  EXPECT_FALSE(rec.ran);

  // A canonical path that does not fit in a path buffer at all cannot be resolved.
  real = makeDeepDir(rootFd, root(), "deepest", 4100 - 1 - runtimeName.size(), &fd);
  makeEntryAt(fd, runtimeName, Kind::Launcher);
  close(fd);
  std::string link2 = root() + "/short2";
  ASSERT_EQ(symlink(real.c_str(), link2.c_str()), 0);
  r = run({"-version:1.6*", "x"}, link2, &rec);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unable to resolve " + link2 + "/" + runtimeName + "\n");
  EXPECT_FALSE(rec.ran);
  close(rootFd);
}

// In process: findBestRuntime over random trees and random search paths against a
// brute-force reference that reads the directories in the same order and knows which entries
// have a launcher.
TEST_F(VersionSelection, SearchMatchesABruteForceReferenceOnRandomTrees) {
  const unsigned seed = 0x5e1ec7u;
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  auto pick = [&random](const auto &array) {
    return array[random() % (sizeof array / sizeof array[0])];
  };
  const char *const prefixes[] = {"ubo", "fen", "nuvo", "nuvek", "ubo", "fen", "nuv", "x", ""};
  // "1.6.0_40" and "1.6.0_040" compare equal, and so does one release under two prefixes:
  // such ties go to the first entry in directory order.
  const char *const releases[] = {"1.6.0_40", "1.6.0_040", "1.6.0_41", "1.6.1",      "1.6",
                                  "1.5.0_99", "1.7",       "1.6.0_5",  "1.6.0_40-b2"};
  const char *const specs[] = {"1.6*",   "1.6.0_40+", "1.6.0*",        "1.5+", "1.6.0_40",
                               "1.6.0_41", "2*",      "1.5* 1.6.0_41", "1.7 1.6.1"};
  const Kind kinds[] = {Kind::Launcher,      Kind::Launcher,      Kind::Launcher,
                        Kind::Launcher,      Kind::NoLauncher,    Kind::NotExecutable,
                        Kind::LauncherIsDir, Kind::PlainFile};
  const char *savedPath = getenv("TESK_VERSION_PATH");
  std::string saved = savedPath ? savedPath : "";
  int found = 0, ties = 0, queries = 0;

  // Making directories is slow on some disks: few trees, many searches in each.
  for (int tree = 0; tree < 8; ++tree) {
    std::string treeDir = root() + "/t" + std::to_string(tree);
    ASSERT_EQ(mkdir(treeDir.c_str(), 0755), 0);
    std::map<std::string, Kind> made; // path of each entry => kind
    Strings dirs;
    for (int d = 0; d < 3; ++d) {
      std::string dir = treeDir + "/d" + std::to_string(d);
      dirs.push_back(dir);
      ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
      for (int e = int(random() % 10); e > 0; --e) {
        std::string name = std::string(pick(prefixes)) + pick(releases);
        if (made.count(dir + "/" + name))
          continue;
        Kind kind = pick(kinds);
        made[dir + "/" + name] = kind;
        addRuntime(dir, name, kind);
      }
    }

    for (int query = 0; query < 25; ++query, ++queries) {
      Strings path = dirs;
      std::shuffle(path.begin(), path.end(), random);
      path.resize(1 + random() % path.size());
      if (random() % 3 == 0)
        path.insert(path.begin() + long(random() % (path.size() + 1)), treeDir + "/absent");
      std::string pathText;
      for (const std::string &dir : path)
        pathText += (pathText.empty() ? "" : ":") + dir;
      std::string spec = pick(specs);

      std::string expected;
      for (const std::string &dir : path) {
        DIR *d = opendir(dir.c_str());
        if (!d)
          continue;
        std::string best, bestRelease;
        while (struct dirent *e = readdir(d)) {
          std::string name = e->d_name;
          auto it = made.find(dir + "/" + name);
          if (it == made.end() || it->second != Kind::Launcher)
            continue;
          std::string release;
          bool prefixed = false;
          for (const char *p : {"ubo", "fen", "nuvo", "nuvek"})
            if (!prefixed && name.compare(0, strlen(p), p) == 0) {
              release = name.substr(strlen(p));
              prefixed = true;
            }
          if (!prefixed || !ORU_AcceptableRelease(release.c_str(), &spec[0]))
            continue;
          int order = best.empty() ? 1 : ORU_ExactVersionId(release.c_str(), bestRelease.c_str());
          ties += order == 0;
          if (order > 0) {
            best = name;
            bestRelease = release;
          }
        }
        closedir(d);
        if (!best.empty()) {
          expected = dir + "/" + best;
          break;
        }
      }

      setenv("TESK_VERSION_PATH", pathText.c_str(), 1);
      ManifestData request = {};
      request.versionSpec = &spec[0];
      char *best = findBestRuntime(request);
      EXPECT_EQ(best ? std::string(best) : std::string(), expected)
          << "tree " << tree << ", path " << pathText << ", request " << spec;
      ORU_MemFree(best);
      found += !expected.empty();
    }
  }
  if (savedPath)
    setenv("TESK_VERSION_PATH", saved.c_str(), 1);
  else
    unsetenv("TESK_VERSION_PATH");
  // The trees must exercise both outcomes and the ties.
  EXPECT_GT(found, queries / 5);
  EXPECT_LT(found, queries * 4 / 5);
  EXPECT_GT(ties, 10);
}

} // namespace
