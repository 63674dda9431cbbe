// Locating executables on real files: existence, kind, permission bits and length limits.

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "launcher/oru.h"
#include "tests/launcher/harness.h"

namespace {

std::string resolved(const std::string &dir, const std::string &name) {
  char *path = resolveExecutable(dir.c_str(), name.c_str());
  std::string text = path ? path : "(null)";
  ORU_MemFree(path);
  return text;
}

TEST(ResolveExecutable, NeedsAnOwnerExecutableFileThatIsNotADirectory) {
  units::TempDir dir;
  char *real = realpath(dir.path().c_str(), nullptr);
  std::string base = real;
  free(real);
  units::writeWholeFile(base + "/tool", "#!/bin/sh\n");
  chmod((base + "/tool").c_str(), 0700);
  units::writeWholeFile(base + "/plain", "data\n");
  chmod((base + "/plain").c_str(), 0644);
  units::writeWholeFile(base + "/groupOnly", "data\n");
  chmod((base + "/groupOnly").c_str(), 0675);
  mkdir((base + "/sub").c_str(), 0755);
  symlink("tool", (base + "/link").c_str());

  EXPECT_EQ(resolved(base, "tool"), base + "/tool");
  EXPECT_EQ(resolved(base, "plain"), "(null)");
  EXPECT_EQ(resolved(base, "groupOnly"), "(null)") << "only the owner's execute bit counts";
  EXPECT_EQ(resolved(base, "sub"), "(null)");
  EXPECT_EQ(resolved(base, "missing"), "(null)");
  // The result is canonical: links and dot components resolved.
  EXPECT_EQ(resolved(base + "/sub/..", "link"), base + "/tool");
  // An empty directory joins as the root: "/" and the name.
  EXPECT_EQ(resolved("", base.substr(1) + "/tool"), base + "/tool");
}

TEST(ResolveExecutable, RefusesJoinedPathsLongerThanAPathBuffer) {
  std::string dir = "/" + std::string(2000, 'd');
  EXPECT_EQ(resolved(dir, std::string(kPathMax - 2001, 'n')), "(null)");
  EXPECT_EQ(resolved(dir, std::string(kPathMax - 2000, 'n')), "(null)");
  EXPECT_EQ(resolved(std::string(kPathMax, 'x'), "y"), "(null)");
}

} // namespace
