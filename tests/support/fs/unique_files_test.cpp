// Unique and temporary files, directories and names: the temporary directory chosen from the
// environment, placeholders, exhausted names, other failures, and many processes creating files
// from one model at once.

#include "support/fs/UniqueFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fs_test_support.h"
#include "support/process/Process.h"

using namespace vorn;
using fstest::TempDir;
using testsupport::readFile;

namespace {

// Whether `name` is `head`, `count` lower-case hexadecimal digits, then `tail`.
bool matchesModel(const std::string &name, const std::string &head, size_t count,
                  const std::string &tail) {
  if (name.size() != head.size() + count + tail.size()) return false;
  if (name.compare(0, head.size(), head) != 0) return false;
  if (name.compare(head.size() + count, tail.size(), tail) != 0) return false;
  for (size_t i = head.size(); i < head.size() + count; ++i)
    if (!std::strchr("0123456789abcdef", name[i]) || name[i] == '\0') return false;
  return true;
}

// Sets the four temporary-directory variables as given (null: unset).
void setTempVariables(const char *tmpdir, const char *tmp, const char *temp, const char *tempdir) {
  const char *names[] = {"TMPDIR", "TMP", "TEMP", "TEMPDIR"};
  const char *values[] = {tmpdir, tmp, temp, tempdir};
  for (int i = 0; i < 4; ++i) {
    if (values[i])
      setenv(names[i], values[i], 1);
    else
      unsetenv(names[i]);
  }
}

TEST(UniqueFiles, TemporaryFileUnderTheFirstVariableSet) {
  TempDir dir;
  const std::string scratch = dir / "scratch", other = dir / "other";
  ASSERT_EQ(mkdir(scratch.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  fstest::ChildResult r = fstest::inChild([&]() -> std::string {
    umask(022);
    setTempVariables(nullptr, scratch.c_str(), other.c_str(), other.c_str());
    int fd = -1;
    InlineString<16> path; // smaller than the result: it grows
    if (ErrorCode ec = files::makeTempFile("out", "o", fd, path)) return "failed: " + ec.message();
    std::string name = path.str();
    if (!matchesModel(name, scratch + "/out-", 6, ".o")) return "name " + name;
    if (path.data()[path.size()] != '\0') return "not terminated";
    if ((fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDWR) return "not read-write";
    struct stat st;
    if (fstat(fd, &st) != 0 || (st.st_mode & 0777) != 0600) return "mode";
    if (write(fd, "x", 1) != 1 || pread(fd, &st, 1, 0) != 1) return "io";
    close(fd);

    // Later variables count only when the earlier ones are unset; an empty one still counts.
    setTempVariables(nullptr, nullptr, nullptr, other.c_str());
    if (files::makeTempFile("t", "", fd, path)) return "TEMPDIR failed";
    close(fd);
    if (!matchesModel(path.str(), other + "/t-", 6, "")) return "TEMPDIR " + path.str();
    setTempVariables(nullptr, nullptr, other.c_str(), scratch.c_str());
    if (files::makeTempName("n", "txt", path)) return "TEMP failed";
    if (!matchesModel(path.str(), other + "/n-", 6, ".txt")) return "TEMP " + path.str();
    if (chdir(scratch.c_str()) != 0) return "chdir";
    setTempVariables("", other.c_str(), nullptr, nullptr);
    if (files::makeTempFile("rel", "", fd, path)) return "empty TMPDIR failed";
    close(fd);
    if (!matchesModel(path.str(), "rel-", 6, "")) return "empty TMPDIR " + path.str();
    setTempVariables(nullptr, nullptr, nullptr, nullptr);
    if (files::makeTempName("absent", "", path)) return "default failed";
    if (!matchesModel(path.str(), "/tmp/absent-", 6, "")) return "default " + path.str();
    // An absolute prefix is not moved.
    setTempVariables(other.c_str(), nullptr, nullptr, nullptr);
    if (files::makeTempName(scratch + "/abs", "", path)) return "absolute failed";
    if (!matchesModel(path.str(), scratch + "/abs-", 6, "")) return "absolute " + path.str();
    return "ok";
  });
  EXPECT_EQ(r.output, "ok") << r.run.err;
  // Exactly the files made above exist, and no name was created by the name-only forms.
  std::vector<std::string> inScratch, inOther;
  for (auto [where, list] : {std::pair{scratch, &inScratch}, std::pair{other, &inOther}}) {
    DIR *d = opendir(where.c_str());
    ASSERT_NE(d, nullptr);
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') list->push_back(e->d_name);
    closedir(d);
  }
  EXPECT_EQ(inScratch.size(), 2u);
  EXPECT_EQ(inOther.size(), 1u);
}

TEST(UniqueFiles, PlaceholdersAloneChangeAndModelsStayWhereTheyAre) {
  TempDir dir;
  fstest::ChildResult r = fstest::inChild([&]() -> std::string {
    if (chdir(dir.path().c_str()) != 0) return "chdir";
    std::set<std::string> seen;
    std::map<char, int> digits;
    for (int i = 0; i < 300; ++i) {
      int fd = -1;
      InlineString<8> path;
      if (ErrorCode ec = files::makeUniqueFile("a%b%%", fd, path, 0644))
        return "failed: " + ec.message();
      close(fd);
      std::string name = path.str();
      if (name.size() != 5 || name[0] != 'a' || name[2] != 'b') return "name " + name;
      for (int k : {1, 3, 4}) ++digits[name[k]];
      if (!seen.insert(name).second) return "twice " + name;
    }
    // Every digit turns up, and nothing but them.
    if (digits.size() != 16) return "digits used: " + std::to_string(digits.size());
    for (auto &[c, n] : digits)
      if (!std::strchr("0123456789abcdef", c)) return std::string("digit ") + c;
    // An absolute model stays absolute, whatever TMPDIR says.
    setenv("TMPDIR", "/nonexistent", 1);
    InlineString<64> path;
    int fd = -1;
    if (files::makeUniqueFile(dir.path() + "/abs-%%%%", fd, path, 0600)) return "absolute";
    close(fd);
    if (!matchesModel(path.str(), dir.path() + "/abs-", 4, "")) return "absolute " + path.str();
    return "ok";
  });
  EXPECT_EQ(r.output, "ok") << r.run.err;
}

TEST(UniqueFiles, DirectoriesAndNames) {
  TempDir dir;
  fstest::ChildResult r = fstest::inChild([&]() -> std::string {
    umask(0);
    setenv("TMPDIR", dir.path().c_str(), 1);
    InlineString<128> path;
    if (files::makeUniqueDirectory("work", path)) return "directory failed";
    if (!matchesModel(path.str(), dir.path() + "/work-", 6, "")) return "name " + path.str();
    struct stat st;
    if (stat(path.cStr(), &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_mode & 0777) != 0770)
      return "not a 0770 directory";
    // A name only: it does not exist, and nothing is made.
    if (files::makeUniqueName(dir.path() + "/name-%%%%%%", path)) return "name failed";
    if (access(path.cStr(), F_OK) == 0 || errno != ENOENT) return "name exists";
    return "ok";
  });
  EXPECT_EQ(r.output, "ok") << r.run.err;

  InlineString<128> path;
  paths::tempDirectory(true, path);
  const char *tmpdir = std::getenv("TMPDIR");
  EXPECT_EQ(path.str(), tmpdir ? tmpdir : "/tmp");
  r = fstest::inChild([&]() -> std::string {
    InlineString<8> p;
    unsetenv("TMPDIR");
    setenv("TMP", "/elsewhere", 1); // not looked at here
    paths::tempDirectory(false, p);
    std::string answers = p.str();
    paths::tempDirectory(true, p);
    answers += " " + p.str();
    setenv("TMPDIR", "", 1);
    paths::tempDirectory(false, p);
    answers += " [" + p.str() + "]";
    setenv("TMPDIR", "/some/where", 1);
    paths::tempDirectory(false, p);
    return answers + " " + p.str();
  });
  EXPECT_EQ(r.output, "/var/tmp /tmp [] /some/where");
}

TEST(UniqueFiles, ExhaustedNamesGiveEexist) {
  TempDir dir;
  const std::string fixed = dir / "fixed";
  ASSERT_TRUE(testsupport::writeFile(fixed, "keep"));
  int fd = -7;
  InlineString<128> path;
  // No placeholder: one try, then EEXIST (the name taken is left alone).
  EXPECT_EQ(files::makeUniqueFile(fixed, fd, path, 0600), ErrorCode::fromErrno(EEXIST));
  EXPECT_EQ(fd, -7);
  EXPECT_EQ(path.str(), fixed);
  EXPECT_EQ(readFile(fixed), "keep");
  EXPECT_EQ(files::makeUniqueName(fixed, path), ErrorCode::fromErrno(EEXIST));

  // One placeholder: all sixteen names taken.
  for (const char *digit : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "a", "b", "c",
                            "d", "e", "f"})
    ASSERT_TRUE(testsupport::writeFile(dir / (std::string("x") + digit), ""));
  EXPECT_EQ(files::makeUniqueFile(dir / "x%", fd, path, 0600), ErrorCode::fromErrno(EEXIST));
  EXPECT_EQ(files::makeUniqueName(dir / "x%", path), ErrorCode::fromErrno(EEXIST));
  // The one free name of a full space is found, every time.
  ASSERT_EQ(unlink((dir / "xb").c_str()), 0);
  for (int i = 0; i < 20; ++i) {
    ASSERT_FALSE(files::makeUniqueName(dir / "x%", path));
    EXPECT_EQ(path.str(), dir / "xb");
  }
  ASSERT_FALSE(files::makeUniqueFile(dir / "x%", fd, path, 0600));
  close(fd);
  EXPECT_EQ(path.str(), dir / "xb");
  EXPECT_EQ(files::makeUniqueFile(dir / "x%", fd, path, 0600), ErrorCode::fromErrno(EEXIST));

  // Two placeholders, every name a directory: makeUniqueDirectory's kind gives up as well.
  const std::string sub = dir / "dirs";
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  const char hex[] = "0123456789abcdef";
  for (int a = 0; a < 16; ++a)
    for (int b = 0; b < 16; ++b)
      ASSERT_EQ(mkdir((sub + "/d" + hex[a] + hex[b]).c_str(), 0700), 0);
  EXPECT_EQ(files::makeUniqueEntity(sub + "/d%%", fd, path, false, 0, UniqueKind::Directory),
            ErrorCode::fromErrno(EEXIST));
  ASSERT_EQ(rmdir((sub + "/d7e").c_str()), 0);
  EXPECT_FALSE(files::makeUniqueEntity(sub + "/d%%", fd, path, false, 0, UniqueKind::Directory));
  EXPECT_EQ(path.str(), sub + "/d7e");
}

TEST(UniqueFiles, OtherFailuresEndAtOnceAndLeaveNothing) {
  TempDir dir;
  int fd = -7;
  InlineString<128> path;
  const std::string missing = dir / "missing/f-%%%%";
  EXPECT_EQ(files::makeUniqueFile(missing, fd, path, 0600), ErrorCode::fromErrno(ENOENT));
  EXPECT_EQ(fd, -7);
  EXPECT_TRUE(matchesModel(path.str(), dir / "missing/f-", 4, "")) << "the name tried";
  EXPECT_EQ(files::makeUniqueEntity(missing, fd, path, false, 0, UniqueKind::Directory),
            ErrorCode::fromErrno(ENOENT));
  // Through a file where a directory should be.
  ASSERT_TRUE(testsupport::writeFile(dir / "file", ""));
  EXPECT_EQ(files::makeUniqueName(dir / "file/n-%%", path), ErrorCode::fromErrno(ENOTDIR));
  // Without write permission on the directory (as an unprivileged user).
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  fstest::ChildResult r = fstest::inChild([&]() -> std::string {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return "cannot drop root";
    int f = -1;
    InlineString<128> p;
    return files::makeUniqueFile(dir / "ro-%%%%", f, p, 0600).message();
  });
  ASSERT_EQ(chmod(dir.path().c_str(), 0700), 0);
  EXPECT_EQ(r.output, std::strerror(EACCES));
  DIR *d = opendir(dir.path().c_str());
  ASSERT_NE(d, nullptr);
  int entries = 0;
  while (dirent *e = readdir(d)) entries += e->d_name[0] != '.';
  closedir(d);
  EXPECT_EQ(entries, 1) << "only the file made by the test";
}

// Creates `count` files from `model` in a child and writes each name and the child's mark into
// the file; returns the child's pid (the child ends with status 0 when all went well).
pid_t createInChild(const std::string &model, int count, int startFd) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  if (startFd >= 0) {
    char go;
    if (read(startFd, &go, 1) < 0) _exit(5);
  }
  for (int i = 0; i < count; ++i) {
    int fd = -1;
    InlineString<128> path;
    if (files::makeUniqueFile(model, fd, path, 0600)) _exit(3);
    std::string mark = std::to_string(getpid()) + ":" + std::to_string(i);
    if (!testsupport::writeAll(fd, mark)) _exit(4);
    close(fd);
  }
  _exit(0);
}

// Collects `pid`'s status.
int statusOf(pid_t pid) {
  testsupport::ChildResult r;
  return testsupport::waitFor(pid, &r) ? r.status : -1;
}

// Checks that the directory holds exactly the files of `made` (each pid with its count of files),
// each mark once.
void expectEveryFileKept(const std::string &where, const std::vector<std::pair<pid_t, int>> &made) {
  std::set<std::string> marks;
  DIR *d = opendir(where.c_str());
  ASSERT_NE(d, nullptr);
  size_t files = 0, expected = 0;
  while (dirent *e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    ++files;
    marks.insert(readFile(where + "/" + e->d_name));
  }
  closedir(d);
  for (auto [pid, count] : made) {
    expected += size_t(count);
    for (int i = 0; i < count; ++i)
      EXPECT_EQ(marks.count(std::to_string(pid) + ":" + std::to_string(i)), 1u)
          << pid << ":" << i;
  }
  EXPECT_EQ(files, expected);
}

TEST(UniqueFiles, ManyProcessesAtOnceNeverShareOrLoseAFile) {
  TempDir dir;
  // The generator is seeded here first, so every child starts from the same state.
  (void)proc::randomNumber();
  const std::string model = dir / "job-%%%%.tmp";
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> pids;
  for (int i = 0; i < 10; ++i) pids.push_back(createInChild(model, 150, start[0]));
  close(start[0]);
  ASSERT_EQ(write(start[1], "gogogogogo", 10), 10); // all at once
  close(start[1]);
  std::vector<std::pair<pid_t, int>> made;
  for (pid_t pid : pids) {
    EXPECT_EQ(statusOf(pid), 0) << pid;
    made.push_back({pid, 150});
  }
  expectEveryFileKept(dir.path(), made);
}

TEST(UniqueFiles, ProcessForkedLateDoesNotRetraceOthersNames) {
  // Children forked from one seeded parent share the generator's state. One makes more files than
  // the attempt bound, then another starts: it must not have to step past every name taken.
  TempDir dir;
  (void)proc::randomNumber();
  const std::string model = dir / "late-%%%%%%";
  pid_t first = createInChild(model, 5000, -1);
  EXPECT_EQ(statusOf(first), 0);
  pid_t late = createInChild(model, 3, -1);
  EXPECT_EQ(statusOf(late), 0) << "the late child ran out of attempts";
  expectEveryFileKept(dir.path(), {{first, 5000}, {late, 3}});
}

} // namespace
