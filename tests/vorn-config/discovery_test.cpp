// Installation discovery and the library line, in-process, with build values of the test's choosing.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "harness.h"
#include "support/streams/StringOutStream.h"
#include "tools/vorn-config/QueryDriver.h"

using namespace vctest;
using vorn::BuildConfig;
using vorn::BuildTreeLayout;
using vorn::Installation;

namespace {

BuildConfig configWithRoot(const std::string &objRoot, const char *srcRoot = "/src") {
  static std::string keep;
  keep = objRoot;
  return BuildConfig{"9.9", srcRoot, keep.c_str(), "Mode", "/include/sfx", "t", "T ", "-lx ", "", " -D", " -C", " -X"};
}

TEST(Discovery, BuildToolsObjectRootUsesItsParent) {
  TempDir tmp;
  std::string obj = tmp.path() + "/top/BuildTools";
  makeDirs(obj + "/Mode/bin");
  Installation in = vorn::discoverInstallation(obj + "/Mode/bin/vorn-config", configWithRoot(obj));
  ASSERT_TRUE(in.runsFromBuildTree);
  EXPECT_EQ(in.buildLayout, BuildTreeLayout::ModeOuter);
  EXPECT_EQ(in.objRootInUse, tmp.path() + "/top");
  EXPECT_EQ(in.reportedBinDir, tmp.path() + "/top/Mode/bin");
  EXPECT_EQ(in.reportedLibDir, tmp.path() + "/top/Mode/lib");
  EXPECT_EQ(in.includeFlags, "-I/src/include -I" + tmp.path() + "/top/include");

  // Only the ModeOuter layout takes the parent; the other two keep the root as it is.
  makeDirs(obj + "/bin/Mode");
  Installation inner = vorn::discoverInstallation(obj + "/bin/Mode/vorn-config", configWithRoot(obj));
  EXPECT_EQ(inner.buildLayout, BuildTreeLayout::ModeInner);
  EXPECT_EQ(inner.objRootInUse, obj);
  Installation flat = vorn::discoverInstallation(obj + "/bin/vorn-config", configWithRoot(obj));
  EXPECT_EQ(flat.buildLayout, BuildTreeLayout::Flat);
  EXPECT_EQ(flat.reportedLibDir, obj + "/lib");
}

TEST(Discovery, IdentityNotText) {
  TempDir tmp;
  std::string obj = tmp.path() + "/obj";
  makeDirs(obj + "/Mode/bin");
  ASSERT_EQ(symlink(obj.c_str(), (tmp.path() + "/alias").c_str()), 0);
  // The compiled-in root spelled through a link, with doubled and "." components.
  for (std::string spelling : {tmp.path() + "/alias", tmp.path() + "//obj/.", tmp.path() + "/obj/Mode/.."}) {
    SCOPED_TRACE(spelling);
    Installation in = vorn::discoverInstallation(obj + "/Mode/bin/vorn-config", configWithRoot(spelling));
    EXPECT_TRUE(in.runsFromBuildTree);
    EXPECT_EQ(in.reportedLibDir, spelling + "/Mode/lib") << "answers keep the compiled-in spelling";
    EXPECT_EQ(in.reportedPrefix, obj + "/Mode");
  }
  // A root that is a different directory with the same name elsewhere does not match.
  makeDirs(tmp.path() + "/other/obj/Mode");
  Installation in = vorn::discoverInstallation(obj + "/Mode/bin/vorn-config",
                                               configWithRoot(tmp.path() + "/other/obj"));
  EXPECT_FALSE(in.runsFromBuildTree);
  EXPECT_EQ(in.reportedIncludeDir, obj + "/Mode/include/sfx");
  EXPECT_EQ(in.includeFlags, "-I" + obj + "/Mode/include/sfx");
}

TEST(Discovery, UnknownOrOddExecutablePaths) {
  // No executable path: an empty prefix, and the installed answers built on it.
  Installation none = vorn::discoverInstallation("", configWithRoot("/nonexistent/obj"));
  EXPECT_FALSE(none.runsFromBuildTree);
  EXPECT_EQ(none.reportedPrefix, "");
  EXPECT_EQ(none.reportedLibDir, "/lib");
  EXPECT_EQ(none.objRootInUse, "");
  // An executable in "/": its directory has no parent.
  Installation top = vorn::discoverInstallation("/vorn-config", configWithRoot("/nonexistent/obj"));
  EXPECT_EQ(top.toolPrefix, "");
  Installation usr = vorn::discoverInstallation("/usr/bin/vorn-config", configWithRoot("/nonexistent/obj"));
  EXPECT_EQ(usr.toolPrefix, "/usr");
  EXPECT_EQ(usr.reportedBinDir, "/usr/bin");
  // A relative path is taken against the current directory.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  Installation rel = vorn::discoverInstallation("x/bin/vorn-config", configWithRoot("/nonexistent/obj"));
  EXPECT_EQ(rel.toolPrefix, std::string(cwd) + "/x");
}

TEST(LibraryLine, ThreeForms) {
  vorn::NameList libs;
  for (const char *n : {"libA.a", "lib.a", "libfoo.so", "xlib.a", "liba", "libB-c.a"}) libs.push_back(n);
  auto line = [&](vorn::LibraryForm form) {
    std::string s;
    {
      vorn::StringOutStream os(s);
      vorn::writeLibraryLine(os, libs, form, "/L");
    }
    return s;
  };
  EXPECT_EQ(line(vorn::LibraryForm::FileName), "libA.a lib.a libfoo.so xlib.a liba libB-c.a\n");
  EXPECT_EQ(line(vorn::LibraryForm::FullPath), "/L/libA.a /L/lib.a /L/libfoo.so /L/xlib.a /L/liba /L/libB-c.a\n");
  EXPECT_EQ(line(vorn::LibraryForm::LinkFlag), "-lA /L/lib.a /L/libfoo.so /L/xlib.a /L/liba -lB-c\n");
  libs.clear();
  EXPECT_EQ(line(vorn::LibraryForm::LinkFlag), "\n");
}

} // namespace
