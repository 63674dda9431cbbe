// End-to-end tests of the vorn-config program: the real binary, copied into installed trees and
// development trees, answering every option; exact bytes of standard output and error.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "expected.h"
#include "harness.h"
#include "tools/vorn-config/ComponentCatalogue.h"

using namespace vctest;

namespace {

// The build-mode directory of a development tree, and another mode's.
const std::string kMode = std::string("/") + kBuildMode;
const std::string kOtherMode = kMode == "/Debug" ? "/Release" : "/Debug";

const std::vector<std::string> kAllAnswers = {"--version", "--prefix",   "--src-root",      "--obj-root",
                                              "--bindir",  "--includedir", "--libdir",      "--cppflags",
                                              "--cflags",  "--cxxflags", "--ldflags",       "--targets-built",
                                              "--host-target", "--build-mode"};

struct Dirs {
  std::string srcRoot, objRoot, prefix, include, bin, lib, includeFlags;
};

// The answers of kAllAnswers, one line each, for a tool with these directories.
std::string allAnswers(const Dirs &d) {
  return "3.4\n" + d.prefix + "\n" + d.srcRoot + "\n" + d.objRoot + "\n" + d.bin + "\n" + d.include + "\n" +
         d.lib + "\n" + d.includeFlags + " " + kCppFlags + "\n" + d.includeFlags + " " + kCFlags + "\n" +
         d.includeFlags + " " + kCxxFlags + "\n" + "-L" + d.lib + "  -lpthread -lrt -ldl -lm \n" +
         "R600 X86 \n" + hostTriple() + "\n" + kBuildMode + "\n";
}

Dirs installedDirs(const std::string &prefix, const std::string &srcRoot, const std::string &objRoot) {
  return Dirs{srcRoot, objRoot, prefix, prefix + "/include/olen-private", prefix + "/bin", prefix + "/lib",
              "-I" + prefix + "/include/olen-private"};
}

std::string componentsLine(bool all) {
  std::string line;
  for (uint32_t i = 0; i < vorn::componentCount; ++i)
    if (all || vorn::componentCatalogue[i].inInstall) line += std::string(" ") + vorn::componentCatalogue[i].name;
  return line + "\n";
}

// A copy of the installed tool in PREFIX/bin of a fresh temporary tree.
class InstalledTree : public ::testing::Test {
protected:
  void SetUp() override {
    prefix = tmp.path() + "/inst";
    makeDirs(prefix + "/bin");
    tool = prefix + "/bin/vorn-config";
    copyFile(VORN_CONFIG_EXE, tool);
  }
  RunResult vc(const std::vector<std::string> &args, Stdout mode = Stdout::Capture) { return run(tool, args, mode); }

  TempDir tmp;
  std::string prefix, tool;
};

TEST_F(InstalledTree, EveryAnswerInCommandLineOrder) {
  RunResult r = vc(kAllAnswers);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, allAnswers(installedDirs(prefix, kSrcRoot, kObjRoot)));

  // Lengths of the compiled-in flag texts, each with its leading space.
  EXPECT_EQ(std::string(kCppFlags).size(), 93u);
  EXPECT_EQ(std::string(kCFlags).size(), kCFlagsLength);
  EXPECT_EQ(std::string(kCxxFlags).size(), kCxxFlagsLength);
}

TEST_F(InstalledTree, SingleAnswersRepeatsAndOrder) {
  EXPECT_EQ(vc({"--version"}).out, "3.4\n");
  RunResult r = vc({"--version", "--prefix", "--version"});
  EXPECT_EQ(r.out, "3.4\n" + prefix + "\n3.4\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(vc({"--cflags"}).out, "-I" + prefix + "/include/olen-private  -DNDEBUG" +
                                      std::string(kCFlags).substr(9) + "\n");
  EXPECT_EQ(vc({"--ldflags"}).out, "-L" + prefix + "/lib  -lpthread -lrt -ldl -lm \n");
  EXPECT_EQ(vc({"--obj-root", "--src-root"}).out, std::string(kObjRoot) + "\n" + kSrcRoot + "\n");
}

TEST_F(InstalledTree, ComponentsListsOnlyInstalledRows) {
  RunResult r = vc({"--components"});
  EXPECT_EQ(r.out, componentsLine(false));
  EXPECT_EQ(words(r.out.substr(1, r.out.size() - 2)).size(), 51u);
  EXPECT_EQ(r.out.find(" unit-testing"), std::string::npos);
  EXPECT_EQ(r.out.find(" test-main"), std::string::npos);
}

TEST_F(InstalledTree, LibraryLineFormsAndPlacement) {
  EXPECT_EQ(vc({"--libs", "support"}).out, "-lVornSupport\n");
  EXPECT_EQ(vc({"--libnames", "support"}).out, "libVornSupport.a\n");
  EXPECT_EQ(vc({"--libfiles", "support"}).out, prefix + "/lib/libVornSupport.a\n");
  EXPECT_EQ(vc({"--libs", "x86-info"}).out, "-lVornX86Info -lVornSupport\n");

  // One form for the whole line: names beat paths beat link flags, whatever the order.
  EXPECT_EQ(vc({"--libs", "--libnames", "x86-info"}).out, "libVornX86Info.a libVornSupport.a\n");
  EXPECT_EQ(vc({"x86-info", "--libnames", "--libs"}).out, "libVornX86Info.a libVornSupport.a\n");
  EXPECT_EQ(vc({"--libfiles", "--libs", "x86-info"}).out,
            prefix + "/lib/libVornX86Info.a " + prefix + "/lib/libVornSupport.a\n");
  EXPECT_EQ(vc({"--libfiles", "--libnames", "x86-info"}).out, "libVornX86Info.a libVornSupport.a\n");

  // The library line comes after every other answer, even when asked for first.
  RunResult r = vc({"--libs", "support", "--version", "--prefix"});
  EXPECT_EQ(r.out, "3.4\n" + prefix + "\n-lVornSupport\n");
  EXPECT_EQ(r.status, 0);

  // No component names means "all": every installed library once.
  RunResult all = vc({"--libnames"});
  std::vector<std::string> libs = words(all.out.substr(0, all.out.size() - 1));
  EXPECT_EQ(libs.size(), 44u);
  EXPECT_EQ(all.out, vc({"--libnames", "all"}).out);
  EXPECT_EQ(libs.back(), "libVornSupport.a");

  // Only a component that installations lack: nothing to link, an empty line.
  EXPECT_EQ(vc({"--libs", "unit-testing"}).out, "\n");
  EXPECT_EQ(vc({"--libs", "test-main"}).status, 0);
  EXPECT_EQ(vc({"--libs", "test-main"}).out, "\n");
  // A group that gathers only groups still resolves to libraries.
  EXPECT_EQ(vc({"--libnames", "host"}).out, vc({"--libnames", "x86"}).out);
}

TEST_F(InstalledTree, ComponentNamesIgnoreCaseButErrorsQuoteThem) {
  EXPECT_EQ(vc({"--libs", "X86-Info"}).out, "-lVornX86Info -lVornSupport\n");
  EXPECT_EQ(vc({"--libs", "SUPPORT"}).out, "-lVornSupport\n");
  RunResult r = vc({"--libs", "Nosuch"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "vorn-config: unknown component name: Nosuch\n");
}

TEST_F(InstalledTree, Misuse) {
  struct Case {
    std::vector<std::string> args;
    std::string out, err;
  };
  const std::string unused = "vorn-config: error: components given, but unused\n\n";
  const std::vector<Case> cases = {
      {{}, "", kUsage},
      {{"--bogus"}, "", kUsage},
      {{"-"}, "", kUsage},
      {{"--Version"}, "", kUsage},
      {{"--version=1"}, "", kUsage},
      {{"--vers"}, "", kUsage},
      {{"-version"}, "", kUsage},
      // Answers given before the unknown option still appear; nothing after it runs.
      {{"--version", "--bogus", "--prefix"}, "3.4\n", kUsage},
      {{"--libs", "support", "-x"}, "", kUsage},
      // Component names with no option at all.
      {{"support"}, "", kUsage},
      {{""}, "", kUsage},
      {{"support", "ir"}, "", kUsage},
      // Names without a library option.
      {{"--version", "support"}, "3.4\n", unused + kUsage},
      {{"support", "--components"}, componentsLine(false), unused + kUsage},
      {{"--version", ""}, "3.4\n", unused + kUsage},
      // Unknown names: earlier answers stay, the library line is not written.
      {{"--libs", ""}, "", "vorn-config: unknown component name: \n"},
      {{"--version", "--libs", "support", "no-such", "ir"}, "3.4\n", "vorn-config: unknown component name: no-such\n"},
      {{"--libnames", "all "}, "", "vorn-config: unknown component name: all \n"},
      {{"--libs", "suppor"}, "", "vorn-config: unknown component name: suppor\n"},
  };
  for (const Case &c : cases) {
    std::string shown;
    for (auto &a : c.args) shown += "'" + a + "' ";
    SCOPED_TRACE("arguments: " + shown);
    RunResult r = vc(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST_F(InstalledTree, UsageTextNamesWhatTheToolAnswers) {
  std::string usage = vc({}).err;
  ASSERT_EQ(usage, kUsage);
  // Each option line names an option the tool answers, and the components mentioned exist.
  size_t pos = usage.find("Options:\n") + 9;
  for (size_t i = 0; i < 18; ++i) {
    std::string option = usage.substr(pos + 2, usage.find(' ', pos + 2) - pos - 2);
    RunResult r = vc({option});
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_EQ(r.err, "") << option;
    pos = usage.find('\n', pos) + 1;
  }
  EXPECT_EQ(usage.compare(pos, 20, "Typical components:\n"), 0);
  EXPECT_EQ(vc({"--libs", "executor", "ir-load", "scalar-passes"}).status, 0);
}

TEST_F(InstalledTree, MessagesComeBeforeBufferedAnswers) {
  // Standard error is unbuffered while answers wait in the output buffer until exit.
  RunResult r = vc({"--version", "--bogus"}, Stdout::SameAsStderr);
  EXPECT_EQ(r.err, std::string(kUsage) + "3.4\n");
  RunResult u = vc({"--prefix", "--libs", "zzz"}, Stdout::SameAsStderr);
  EXPECT_EQ(u.err, "vorn-config: unknown component name: zzz\n" + prefix + "\n");
  EXPECT_EQ(u.status, 1);
}

TEST_F(InstalledTree, OutputFailureIsAnError) {
  RunResult full = vc({"--version"}, Stdout::DevFull);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "VORN ERROR: IO failure on output stream.\n");
  RunResult closed = vc({"--components"}, Stdout::Closed);
  EXPECT_EQ(closed.status, 1);
  EXPECT_EQ(closed.err, "VORN ERROR: IO failure on output stream.\n");
}

TEST_F(InstalledTree, LocationComesFromTheExecutableNotItsName) {
  // Through a symbolic link, a bare argv[0] or a relative one, the tool finds its real place.
  std::string other = tmp.path() + "/elsewhere/bin";
  makeDirs(other);
  ASSERT_EQ(symlink(tool.c_str(), (other + "/vorn-config").c_str()), 0);
  EXPECT_EQ(run(other + "/vorn-config", {"--prefix"}).out, prefix + "\n");
  EXPECT_EQ(run(tool, {"--prefix"}, Stdout::Capture, "vorn-config").out, prefix + "\n");
  EXPECT_EQ(run(tool, {"--prefix"}, Stdout::Capture, "./vorn-config", prefix + "/bin").out, prefix + "\n");
  // Moving the tree moves every answer with it.
  std::string moved = tmp.path() + "/moved";
  ASSERT_EQ(rename(prefix.c_str(), moved.c_str()), 0);
  EXPECT_EQ(run(moved + "/bin/vorn-config", kAllAnswers).out, allAnswers(installedDirs(moved, kSrcRoot, kObjRoot)));
  ASSERT_EQ(rename(moved.c_str(), prefix.c_str()), 0);
}

TEST_F(InstalledTree, WithoutProcItsNameLeadsOrItSaysItIsLost) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime of this build's vorn-config cannot work without /proc";
#endif
  // In a mount namespace whose /proc shows nothing, the link to the program cannot be read: its
  // name is followed instead, and where that names nothing the tool says so rather than answer
  // with an empty prefix ("-I/include/olen-private") and status 0.
  auto withoutProc = [&](const char *argv0, const std::string &path) {
    return testsupport::runInChild([&] {
      if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
        return 77;
      setenv("PATH", path.c_str(), 1);
      char *args[] = {const_cast<char *>(argv0), const_cast<char *>("--prefix"), nullptr};
      execv(tool.c_str(), args);
      return 78;
    });
  };
  RunResult found = withoutProc("vorn-config", prefix + "/bin");
  if (found.status == 77) GTEST_SKIP() << "mount namespaces are not permitted here";
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(found.out, prefix + "\n");
  RunResult lost = withoutProc("vorn-config", "/nowhere");
  EXPECT_EQ(lost.status, 1);
  EXPECT_EQ(lost.out, "");
  EXPECT_EQ(lost.err, "vorn-config: error: cannot find the location of this program, which its answers "
                      "derive from\n");
}

// The development-tree variant of the tool: its compiled-in object root is
// VORN_CONFIG_TEST_TREE "/./objroot", which each test creates (as a directory, or as a symbolic
// link to one in a temporary tree) and removes. The tree is one for all the cases, which ctest
// may run at the same time in different processes: each case holds a lock on it meanwhile.
class DevTree : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override {
    lockFd = open(VORN_CONFIG_TEST_TREE ".lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(flock(lockFd, LOCK_EX), 0);
    removeTree(VORN_CONFIG_TEST_TREE);
    makeDirs(VORN_CONFIG_TEST_TREE);
    const std::string link = std::string(VORN_CONFIG_TEST_TREE) + "/objroot";
    if (GetParam()) {
      realObj = tmp.path() + "/real-obj";
      makeDirs(realObj);
      ASSERT_EQ(symlink(realObj.c_str(), link.c_str()), 0);
    } else {
      makeDirs(link);
      realObj = realPath(link);
    }
  }
  void TearDown() override {
    removeTree(VORN_CONFIG_TEST_TREE);
    if (lockFd >= 0) close(lockFd); // and with it the lock
  }

  // Places the tool at realObj + `dir` and returns its path.
  std::string place(const std::string &dir) {
    makeDirs(realObj + dir);
    std::string tool = realObj + dir + "/vorn-config";
    copyFile(VORN_CONFIG_DEV_EXE, tool);
    return tool;
  }
  Dirs devDirs(const std::string &prefix, const std::string &bin, const std::string &lib) {
    std::string src = std::string(VORN_CONFIG_TEST_TREE) + "/src";
    return Dirs{src, objText, prefix, src + "/include", bin, lib,
                "-I" + src + "/include -I" + objText + "/include"};
  }

  int lockFd = -1;
  TempDir tmp;
  std::string realObj;
  const std::string objText = std::string(VORN_CONFIG_TEST_TREE) + "/./objroot";
};

TEST_P(DevTree, ModeOuterLayout) {
  std::string tool = place(kMode + "/bin");
  RunResult r = run(tool, kAllAnswers);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, allAnswers(devDirs(realObj + kMode, objText + kMode + "/bin", objText + kMode + "/lib")));
  EXPECT_EQ(run(tool, {"--libfiles", "unit-testing"}).out,
            objText + kMode + "/lib/libVornUnitTesting.a " + objText + kMode + "/lib/libVornSupport.a\n");
}

TEST_P(DevTree, FlatLayout) {
  std::string tool = place("/bin");
  EXPECT_EQ(run(tool, kAllAnswers).out, allAnswers(devDirs(realObj, objText + "/bin", objText + "/lib")));
}

TEST_P(DevTree, ModeInnerLayout) {
  std::string tool = place("/bin" + kMode);
  EXPECT_EQ(run(tool, kAllAnswers).out,
            allAnswers(devDirs(realObj + "/bin", objText + "/bin" + kMode, objText + "/lib" + kMode)));
}

TEST_P(DevTree, DevelopmentTreesSeeEveryComponent) {
  std::string tool = place(kMode + "/bin");
  EXPECT_EQ(run(tool, {"--components"}).out, componentsLine(true));
  RunResult all = run(tool, {"--libnames"});
  std::vector<std::string> libs = words(all.out.substr(0, all.out.size() - 1));
  EXPECT_EQ(libs.size(), 46u);
  EXPECT_EQ(run(tool, {"--libs", "test-main"}).out, "-lVornTestMain -lVornUnitTesting -lVornSupport\n");
  EXPECT_EQ(run(tool, {"--libs", "unit-testing"}).out, "-lVornUnitTesting -lVornSupport\n");
}

TEST_P(DevTree, OtherPlacesAreInstalledTrees) {
  // A copy outside the build tree, while the build tree exists.
  std::string outside = tmp.path() + "/inst/bin";
  makeDirs(outside);
  copyFile(VORN_CONFIG_DEV_EXE, outside + "/vorn-config");
  EXPECT_EQ(run(outside + "/vorn-config", kAllAnswers).out,
            allAnswers(installedDirs(tmp.path() + "/inst", std::string(VORN_CONFIG_TEST_TREE) + "/src", objText)));
  // Inside the object root but in none of the three executable directories.
  std::string odd = place(kOtherMode + "/bin");
  EXPECT_EQ(run(odd, {"--prefix", "--libdir"}).out, realObj + kOtherMode + "\n" + realObj + kOtherMode + "/lib\n");
  std::string deep = place(kMode + "/bin/x");
  EXPECT_EQ(run(deep, {"--libdir"}).out, realObj + kMode + "/bin/lib\n");
  EXPECT_EQ(run(deep, {"--components"}).out, componentsLine(false));
}

TEST_P(DevTree, ObjectRootThatIsGoneMeansInstalled) {
  std::string tool = place(kMode + "/bin");
  // Keep a copy of the layout but take the compiled-in root away.
  std::string keep = tmp.path() + "/kept";
  makeDirs(keep + kMode + "/bin");
  copyFile(tool, keep + kMode + "/bin/vorn-config");
  removeTree(VORN_CONFIG_TEST_TREE);
  EXPECT_EQ(run(keep + kMode + "/bin/vorn-config", {"--libdir", "--components"}).out,
            keep + kMode + "/lib\n" + componentsLine(false));
}

INSTANTIATE_TEST_SUITE_P(RootSpelling, DevTree, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &p) {
                           return p.param ? std::string("ThroughSymlink") : std::string("Directory");
                         });

} // namespace
