// The current directory, making paths absolute, and finding the running executable. Everything
// that changes the working directory, the environment, the root or the mount namespace runs in
// a child process.

#include "support/fs/Files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fs_test_support.h"

using namespace vorn;
using fstest::ChildResult;
using fstest::inChild;
using fstest::TempDir;

namespace {

std::string currentDirectoryText() {
  InlineString<16> out;
  out.assign("stale");
  ErrorCode ec = files::currentDirectory(out);
  if (ec) return "error " + std::to_string(ec.value()) + " [" + out.str() + "]";
  return out.str();
}

std::string absolutized(const std::string &path) {
  InlineString<32> buffer;
  buffer.assign(path);
  ErrorCode ec = files::absolutize(buffer);
  if (ec) return "error " + std::to_string(ec.value()) + " [" + buffer.str() + "]";
  return buffer.str();
}

class Location : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.ok());
    ASSERT_EQ(mkdir(real().c_str(), 0755), 0);
    ASSERT_EQ(mkdir((tmp / "elsewhere").c_str(), 0755), 0);
    ASSERT_EQ(symlink("real", (tmp / "link").c_str()), 0);
  }
  std::string real() const { return tmp / "real"; }

  // currentDirectory in a child whose working directory is `dir` and whose "PWD" is `pwd`
  // (unset when null).
  std::string currentDirectoryWith(const std::string &dir, const char *pwd) {
    ChildResult r = inChild([&]() -> std::string {
      if (chdir(dir.c_str()) != 0) return "chdir failed";
      if (pwd)
        setenv("PWD", pwd, 1);
      else
        unsetenv("PWD");
      return currentDirectoryText();
    });
    EXPECT_TRUE(r.exitedNormally());
    return r.output;
  }

  TempDir tmp;
};

} // namespace

TEST_F(Location, CurrentDirectoryTrustsOnlyAMatchingPwd) {
  EXPECT_EQ(currentDirectoryWith(real(), nullptr), real());
  EXPECT_EQ(currentDirectoryWith(real(), "real"), real());
  EXPECT_EQ(currentDirectoryWith(real(), ""), real());
  EXPECT_EQ(currentDirectoryWith(real(), (tmp / "elsewhere").c_str()), real());
  EXPECT_EQ(currentDirectoryWith(real(), (tmp / "missing").c_str()), real());
  EXPECT_EQ(currentDirectoryWith(real(), (tmp / "real/.").c_str()), tmp / "real/.");
  // A right "PWD" is taken character for character, with its symbolic links and separators.
  EXPECT_EQ(currentDirectoryWith(real(), (tmp / "link").c_str()), tmp / "link");
  std::string odd = tmp.path() + "//link/";
  EXPECT_EQ(currentDirectoryWith(real(), odd.c_str()), odd);
}

TEST_F(Location, CurrentDirectoryLongerThanAPage) {
  // getcwd needs more than the first 4096 characters here.
  ChildResult r = inChild([&]() -> std::string {
    if (chdir(real().c_str()) != 0) return "chdir failed";
    std::string expected = fstest::enterDeepDirectory(real(), std::string(200, 'd'), 5000);
    if (expected.empty()) return "mkdir failed";
    unsetenv("PWD");
    std::string got = currentDirectoryText();
    return got == expected ? "same" : "got " + got.substr(0, 100) + "... (" +
                                          std::to_string(got.size()) + " characters)";
  });
  EXPECT_TRUE(r.exitedNormally());
  EXPECT_EQ(r.output, "same");
}

TEST_F(Location, CurrentDirectoryThatWasRemoved) {
  ChildResult r = inChild([&]() -> std::string {
    std::string gone = tmp / "gone";
    if (mkdir(gone.c_str(), 0755) != 0 || chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0)
      return "setup failed";
    unsetenv("PWD");
    return currentDirectoryText() + " | " + absolutized("foo");
  });
  EXPECT_TRUE(r.exitedNormally());
  std::string enoent = std::to_string(ENOENT);
  EXPECT_EQ(r.output, "error " + enoent + " [] | error " + enoent + " [foo]");
}

TEST_F(Location, Absolutize) {
  ChildResult r = inChild([&]() -> std::string {
    if (chdir(real().c_str()) != 0) return "chdir failed";
    unsetenv("PWD");
    std::string out;
    for (const char *p : {"foo", "a/../b", "", "//net", "//net/x", "/abs/x", "./x/"})
      out += absolutized(p) + "\n";
    if (chdir("/") != 0) return "chdir / failed";
    out += absolutized("foo") + "\n" + absolutized("") + "\n";
    return out;
  });
  EXPECT_TRUE(r.exitedNormally());
  std::string cwd = real();
  EXPECT_EQ(r.output, cwd + "/foo\n" + cwd + "/a/../b\n" + cwd + "/\n" + "//net" + cwd + "/\n" +
                          "//net/x\n/abs/x\n" + cwd + "/./x/\n/foo\n/\n");
}

TEST_F(Location, AbsolutizeUsesTheTrustedPwd) {
  ChildResult r = inChild([&]() -> std::string {
    if (chdir(real().c_str()) != 0) return "chdir failed";
    setenv("PWD", (tmp / "link").c_str(), 1);
    return absolutized("x");
  });
  EXPECT_EQ(r.output, tmp / "link/x");
}

namespace {

// A fake program tree: bin/tool (the program), dirs/tool (a directory of the same name),
// binlink -> bin.
class ExecutablePath : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.ok());
    ASSERT_EQ(mkdir((tmp / "bin").c_str(), 0755), 0);
    ASSERT_TRUE(fstest::writeFile(tmp / "bin/tool", "#!/bin/sh\n", 0755));
    ASSERT_EQ(mkdir((tmp / "dirs").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((tmp / "dirs/tool").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((tmp / "empty").c_str(), 0755), 0);
    ASSERT_EQ(symlink("bin", (tmp / "binlink").c_str()), 0);
  }
  std::string tool() const { return tmp / "bin/tool"; }
  std::string noLink() const { return tmp / "no-such-link"; }

  TempDir tmp;
};

// executablePath through the test entry point, from `dir` with "PATH" set to `path` (unset when
// null).
std::string searched(const std::string &dir, const char *path, const char *argv0,
                     const std::string &link) {
  ChildResult r = inChild([&]() -> std::string {
    if (chdir(dir.c_str()) != 0) return "chdir failed";
    if (path)
      setenv("PATH", path, 1);
    else
      unsetenv("PATH");
    return "[" + files::detail::executablePathFrom(argv0, link.c_str()) + "]";
  });
  EXPECT_TRUE(r.exitedNormally());
  return r.output;
}

} // namespace

// The path found names the running program's file. That file is checked through a descriptor
// opened through /proc/self/exe, which a user-mode emulator answers with its guest program, as
// it answers the link's text; a lookup of the link itself reaches the kernel, which shows the
// emulator there, so that lookup is compared only where no emulator runs this program.
TEST_F(ExecutablePath, ThroughProcSelfExe) {
  std::string self = files::executablePath("ignored", nullptr);
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self[0], '/');
  int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << strerror(errno);
  bool same = false;
  EXPECT_FALSE(files::equivalent(self, "/proc/self/fd/" + std::to_string(fd), same));
  EXPECT_TRUE(same);
  close(fd);
  if (!testsupport::underUserModeEmulation()) {
    same = false;
    EXPECT_FALSE(files::equivalent(self, "/proc/self/exe", same));
    EXPECT_TRUE(same);
  }
}

TEST_F(ExecutablePath, TheLinkWinsAndItsTextIsTakenAsItIs) {
  std::string link = tmp / "exe";
  ASSERT_EQ(symlink("bin/tool", link.c_str()), 0);
  EXPECT_EQ(searched(tmp.path(), "", "/elsewhere/tool", link), "[bin/tool]");
  // A link that exists but cannot be read tells nothing: argv[0] is tried then. Once the link
  // failing gave the empty string, and vorn-config answered with an empty prefix.
  EXPECT_EQ(searched(tmp.path(), "", tool().c_str(), tmp / "bin/tool"), "[" + tool() + "]");
  EXPECT_EQ(searched(tmp.path(), "", "/elsewhere/tool", tmp / "bin/tool"), "[]");
}

TEST_F(ExecutablePath, FromArgv0WithoutTheLink) {
  std::string dir = tmp.path();
  // Absolute, resolved through symbolic links and dot components.
  EXPECT_EQ(searched(dir, nullptr, tool().c_str(), noLink()), "[" + tool() + "]");
  EXPECT_EQ(searched(dir, nullptr, (tmp / "binlink/../bin/tool").c_str(), noLink()),
            "[" + tool() + "]");
  EXPECT_EQ(searched(dir, nullptr, (tmp / "bin/missing").c_str(), noLink()), "[]");
  // Relative with a separator: under the current directory, "PATH" not consulted.
  EXPECT_EQ(searched(dir, (tmp / "bin").c_str(), "binlink/tool", noLink()), "[" + tool() + "]");
  EXPECT_EQ(searched(tmp / "empty", (tmp / "bin").c_str(), "./tool", noLink()), "[]");
  // A bare name: each "PATH" element in turn; directories of that name are passed over.
  std::string path = tmp / "empty" + ":" + tmp / "dirs" + ":" + tmp / "binlink" + ":" + tmp / "bin";
  EXPECT_EQ(searched(tmp / "empty", path.c_str(), "tool", noLink()), "[" + tool() + "]");
  EXPECT_EQ(searched(dir, (tmp / "empty").c_str(), "tool", noLink()), "[]");
  EXPECT_EQ(searched(dir, nullptr, "tool", noLink()), "[]");
  // Nothing to search from.
  EXPECT_EQ(searched(dir, path.c_str(), "", noLink()), "[]");
  EXPECT_EQ(searched(dir, path.c_str(), nullptr, noLink()), "[]");
}

TEST_F(ExecutablePath, CandidatesThatDoNotFitAreNotCut) {
  // From a working directory of about 3900 characters, a candidate longer than the 4096-byte
  // buffer would be cut to the name of an existing file; it must be rejected instead.
  ChildResult r = inChild([&]() -> std::string {
    if (chdir(tmp.path().c_str()) != 0) return "chdir failed";
    std::string cwd = fstest::enterDeepDirectory(tmp.path(), std::string(150, 'c'), 3850);
    if (cwd.empty() || mkdir("t", 0755) != 0) return "mkdir failed";
    size_t cut = 4095 - cwd.size() - 3; // the length of the file name the cut would leave
    std::string existing(cut, 'y');
    if (!fstest::writeFile("t/" + existing, "")) return "write failed";
    std::string argv0 = "t/" + existing + "zzzzzz";
    std::string found = files::detail::executablePathFrom(argv0.c_str(), "/no-such-link");
    return "[" + std::to_string(found.size()) + "]";
  });
  EXPECT_TRUE(r.exitedNormally());
  EXPECT_EQ(r.output, "[0]");
}

TEST_F(ExecutablePath, EmptyPathElementsSearchTheRoot) {
  // In a child whose root is the temporary directory, "/tool" exists and "/proc" does not, so
  // the public entry point itself falls back to argv[0].
  ASSERT_TRUE(fstest::writeFile(tmp / "tool", "", 0755));
  ChildResult r = inChild([&]() -> std::string {
    if (chroot(tmp.path().c_str()) != 0 || chdir("/empty") != 0) return "no-chroot";
    std::string out;
    for (const char *path : {"::", ":/nowhere", "/nowhere:", "/bin", "/nowhere"}) {
      setenv("PATH", path, 1);
      out += "[" + files::executablePath("tool", nullptr) + "]";
    }
    return out;
  });
  ASSERT_TRUE(r.exitedNormally());
  if (r.output == "no-chroot") GTEST_SKIP() << "chroot is not permitted here";
  EXPECT_EQ(r.output, "[/tool][/tool][/tool][/bin/tool][]");
}

TEST_F(ExecutablePath, WithoutProcInAPrivateMountNamespace) {
  ChildResult r = inChild([&]() -> std::string {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
      return "no-namespace";
    if (mount("none", "/proc", "tmpfs", 0, nullptr) != 0) return "no-namespace";
    if (chdir(tmp.path().c_str()) != 0) return "chdir failed";
    std::string out;
    out += "[" + files::executablePath(tool().c_str(), nullptr) + "]\n";
    out += "[" + files::executablePath("binlink/tool", nullptr) + "]\n";
    setenv("PATH", (tmp / "dirs" + "::" + tmp / "bin").c_str(), 1);
    out += "[" + files::executablePath("tool", nullptr) + "]\n";
    unsetenv("PATH");
    out += "[" + files::executablePath("tool", nullptr) + "]\n";
    return out;
  });
  ASSERT_TRUE(r.exitedNormally());
  if (r.output == "no-namespace") GTEST_SKIP() << "mount namespaces are not permitted here";
  std::string t = "[" + tool() + "]\n";
  EXPECT_EQ(r.output, t + t + t + "[]\n");
}
