// Directory iteration over real trees, and removing whole trees: links to the outside, levels
// without write permission, trees that change during the removal, trees deeper than a path can
// name.

#include "support/fs/DirIterator.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fs_test_support.h"

using namespace vorn;
using fstest::TempDir;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// The entry names of `dir` as readdir lists them, without "." and "..".
std::multiset<std::string> listed(const std::string &dir) {
  std::multiset<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (!d) return names;
  while (dirent *e = readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.insert(e->d_name);
  closedir(d);
  return names;
}

// The entry paths a DirIterator yields for `dir`; `ec` receives the first failure.
std::vector<std::string> walk(const std::string &dir, ErrorCode &ec) {
  std::vector<std::string> paths;
  DirIterator end;
  for (DirIterator it(dir, ec); !ec && it != end; it.increment(ec)) paths.push_back(it->path());
  return paths;
}

TEST(DirIterator, EmptyDirectoryIsTheEndAtOnce) {
  TempDir dir;
  ErrorCode ec = ErrorCode::fromErrno(EIO);
  DirIterator it(dir.path(), ec);
  EXPECT_FALSE(ec);
  EXPECT_TRUE(it == DirIterator());
  EXPECT_TRUE(DirIterator() == it);
  // Incrementing at the end stays there.
  it.increment(ec);
  EXPECT_FALSE(ec);
  EXPECT_TRUE(it == DirIterator());
}

TEST(DirIterator, ThousandsOfEntriesWithAwkwardNames) {
  TempDir dir;
  std::set<std::string> made;
  std::mt19937 rng(20240611);
  const std::string awkward[] = {"with space", "new\nline", " lead", "trail ", "...", ".hidden",
                                 "..x", "tab\there", "\xc3\xa9t\xc3\xa9", "\x01\x7f\xff",
                                 std::string(255, 'L')};
  for (const std::string &name : awkward) made.insert(name);
  while (made.size() < 3000) {
    std::string name;
    size_t length = 1 + rng() % 40;
    for (size_t i = 0; i < length; ++i) {
      char c = char(1 + rng() % 255);
      name += c == '/' ? '_' : c;
    }
    if (name == "." || name == "..") continue;
    made.insert(name);
  }
  for (const std::string &name : made) {
    // A few are directories, links or FIFOs: iteration does not care.
    if (name.size() % 7 == 0)
      ASSERT_EQ(mkdir((dir / name).c_str(), 0700), 0);
    else if (name.size() % 11 == 0)
      ASSERT_EQ(symlink("nowhere", (dir / name).c_str()), 0);
    else
      ASSERT_TRUE(writeFile(dir / name, name));
  }

  ErrorCode ec;
  std::vector<std::string> paths = walk(dir.path(), ec);
  ASSERT_FALSE(ec) << ec.message();
  // Same entries as readdir, in readdir's order, each the directory, "/" and the name.
  std::vector<std::string> expected;
  DIR *d = opendir(dir.path().c_str());
  while (dirent *e = readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      expected.push_back(dir / e->d_name);
  closedir(d);
  EXPECT_EQ(paths, expected);
  EXPECT_EQ(paths.size(), made.size());

  // The kind is learnt only by asking, anew each time.
  ErrorCode ignored;
  DirIterator it(dir / "with space", ignored);
  EXPECT_EQ(ignored, ErrorCode::fromErrno(ENOTDIR));
  for (DirIterator i(dir.path(), ec); !ec && i != DirIterator(); i.increment(ec)) {
    if (i->path() != dir / "new\nline") continue;
    EXPECT_EQ(i->storedStatus().type, FileType::StatusError);
    FileStatus st;
    ASSERT_FALSE(i->status(st));
    EXPECT_EQ(st.type, FileType::Regular);
    ASSERT_EQ(unlink(i->path().c_str()), 0);
    EXPECT_EQ(i->status(st), ErrorCode::fromErrno(ENOENT));
  }
}

TEST(DirIterator, PathSpellingsAndFailures) {
  TempDir dir;
  ASSERT_TRUE(writeFile(dir / "only", "x"));
  ErrorCode ec;
  EXPECT_EQ(walk(dir.path() + "/", ec), std::vector<std::string>{dir / "only"});
  EXPECT_EQ(walk(dir.path() + "//", ec), std::vector<std::string>{dir / "only"});
  // (In a child: the test program keeps its working directory.)
  fstest::ChildResult dot = fstest::inChild([&]() -> std::string {
    ErrorCode e;
    if (chdir(dir.path().c_str()) != 0) return "chdir";
    std::vector<std::string> got = walk(".", e);
    return got.size() == 1 ? got[0] : "entries: " + std::to_string(got.size());
  });
  EXPECT_EQ(dot.output, "./only");

  // The root: no doubled separator.
  std::vector<std::string> root = walk("/", ec);
  ASSERT_FALSE(ec);
  std::multiset<std::string> expected;
  for (const std::string &name : listed("/")) expected.insert("/" + name);
  EXPECT_EQ(std::multiset<std::string>(root.begin(), root.end()), expected);
  EXPECT_NE(std::find(root.begin(), root.end(), "/etc"), root.end());

  // A regular file and a missing path: the error, and the end iterator.
  DirIterator onFile(dir / "only", ec);
  EXPECT_EQ(ec, ErrorCode::fromErrno(ENOTDIR));
  EXPECT_TRUE(onFile == DirIterator());
  DirIterator missing(dir / "missing", ec);
  EXPECT_EQ(ec, ErrorCode::fromErrno(ENOENT));
  EXPECT_TRUE(missing == DirIterator());
  // A directory that cannot be read (as an unprivileged user).
  ASSERT_EQ(chmod(dir.path().c_str(), 0311), 0);
  fstest::ChildResult r = fstest::inChild([&]() -> std::string {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return "cannot drop root";
    ErrorCode e;
    DirIterator it(dir.path(), e);
    return e.message() + (it == DirIterator() ? " end" : " not end");
  });
  ASSERT_EQ(chmod(dir.path().c_str(), 0700), 0);
  EXPECT_EQ(r.output, std::string(std::strerror(EACCES)) + " end");
}

TEST(DirIterator, CopiesShareOnePosition) {
  TempDir dir;
  for (const char *name : {"a", "b", "c"}) ASSERT_TRUE(writeFile(dir / name, ""));
  ErrorCode ec;
  DirIterator first(dir.path(), ec);
  ASSERT_FALSE(ec);
  DirIterator copy = first;
  EXPECT_TRUE(copy == first);
  std::string at = first->path();
  copy.increment(ec);
  EXPECT_NE(first->path(), at) << "the original moved with its copy";
  EXPECT_TRUE(first == copy);
  // A second walk of the same directory is separate, and equal only at the same path.
  DirIterator other(dir.path(), ec);
  EXPECT_EQ(other->path(), at);
  EXPECT_FALSE(other == first);
  other.increment(ec);
  EXPECT_TRUE(other == first) << "different walks at the same entry";
  {
    DirIterator assigned;
    assigned = other;
    assigned = assigned; // self-assignment keeps the walk
    assigned.increment(ec);
    EXPECT_TRUE(assigned == other);
  }
  other.increment(ec); // the walk survives the copy's end
  EXPECT_FALSE(ec);
  EXPECT_TRUE(other == DirIterator());
  EXPECT_TRUE(DirIterator() == DirIterator());
}

TEST(DirEntry, ReplaceFilename) {
  DirEntry e("dir/.");
  e.replaceFilename("a");
  EXPECT_EQ(e.path(), "dir/a");
  e.replaceFilename("b");
  EXPECT_EQ(e.path(), "dir/b");
  FileStatus st;
  st.type = FileType::Regular;
  DirEntry root("/.");
  root.replaceFilename("a", st);
  EXPECT_EQ(root.path(), "/a");
  EXPECT_EQ(root.storedStatus().type, FileType::Regular);
  root.replaceFilename("x");
  EXPECT_EQ(root.storedStatus().type, FileType::StatusError);
  DirEntry longer(std::string(300, 'd') + "/.");
  longer.replaceFilename(std::string(200, 'n'));
  EXPECT_EQ(longer.path(), std::string(300, 'd') + "/" + std::string(200, 'n'));
  EXPECT_TRUE(DirEntry("p") == DirEntry("p"));
  EXPECT_FALSE(DirEntry("p") == DirEntry("q"));
}

// ---------------------------------------------------------------------------------------------
// removeAll.

// Everything below `root` (not following links): path, kind, mode, size, contents or link text.
std::map<std::string, std::string> snapshot(const std::string &root) {
  std::map<std::string, std::string> all;
  std::vector<std::string> todo = {root};
  while (!todo.empty()) {
    std::string path = todo.back();
    todo.pop_back();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                       std::to_string(st.st_mtim.tv_sec) + "." +
                       std::to_string(st.st_mtim.tv_nsec) + " ";
    if (S_ISDIR(st.st_mode)) {
      for (const std::string &name : listed(path)) todo.push_back(path + "/" + name);
    } else if (S_ISLNK(st.st_mode)) {
      char target[4096];
      ssize_t n = readlink(path.c_str(), target, sizeof target);
      what += std::string(target, n > 0 ? size_t(n) : 0);
    } else {
      what += readFile(path);
    }
    all[path] = what;
  }
  return all;
}

bool present(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

TEST(RemoveAll, CountsEverythingRemoved) {
  TempDir dir;
  const std::string tree = dir / "tree";
  ASSERT_EQ(mkdir(tree.c_str(), 0700), 0);
  ASSERT_TRUE(writeFile(tree + "/one", "1"));
  ASSERT_TRUE(writeFile(tree + "/two", "2"));
  ASSERT_EQ(mkdir((tree + "/sub").c_str(), 0700), 0);
  ASSERT_TRUE(writeFile(tree + "/sub/three", "3"));
  uint32_t removed = 77;
  EXPECT_FALSE(files::removeAll(tree, removed));
  EXPECT_EQ(removed, 5u);
  EXPECT_FALSE(present(tree));

  removed = 77;
  EXPECT_EQ(files::removeAll(tree, removed), ErrorCode::fromErrno(ENOENT));
  EXPECT_EQ(removed, 77u) << "not set when the path is missing";
  // A single file is a tree of one.
  ASSERT_TRUE(writeFile(dir / "single", ""));
  EXPECT_FALSE(files::removeAll(dir / "single", removed));
  EXPECT_EQ(removed, 1u);

  // A larger random tree: every file and directory counted once.
  std::mt19937 rng(7);
  std::vector<std::string> dirs = {tree};
  ASSERT_EQ(mkdir(tree.c_str(), 0700), 0);
  uint32_t made = 1;
  for (int i = 0; i < 1500; ++i) {
    const std::string &parent = dirs[rng() % dirs.size()];
    std::string path = parent + "/e" + std::to_string(i);
    if (rng() % 5 == 0) {
      ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
      dirs.push_back(path);
    } else {
      ASSERT_TRUE(writeFile(path, ""));
    }
    ++made;
  }
  EXPECT_FALSE(files::removeAll(tree, removed));
  EXPECT_EQ(removed, made);
  EXPECT_FALSE(present(tree));
}

TEST(RemoveAll, LinksAreRemovedNeverFollowed) {
  TempDir dir;
  const std::string outside = dir / "outside", tree = dir / "tree";
  ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((outside + "/deep").c_str(), 0755), 0);
  ASSERT_TRUE(writeFile(outside + "/file", "outside bytes\n"));
  ASSERT_TRUE(writeFile(outside + "/deep/more", std::string(10000, 'm')));
  ASSERT_EQ(mkdir(tree.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((tree + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink(outside.c_str(), (tree + "/to-dir").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/file").c_str(), (tree + "/to-file").c_str()), 0);
  ASSERT_EQ(symlink("../../outside/deep", (tree + "/sub/relative").c_str()), 0);
  ASSERT_EQ(symlink(tree.c_str(), (tree + "/sub/loop").c_str()), 0);
  ASSERT_EQ(symlink("missing", (tree + "/dangling").c_str()), 0);
  ASSERT_EQ(link((outside + "/file").c_str(), (tree + "/hard").c_str()), 0);
  const auto before = snapshot(outside);
  ASSERT_EQ(before.size(), 4u);

  uint32_t removed = 0;
  EXPECT_FALSE(files::removeAll(tree, removed));
  EXPECT_EQ(removed, 8u); // 5 links, the hard link, sub, tree
  EXPECT_FALSE(present(tree));
  // (The hard link shared the file's inode: its link count, part of nothing we compare, dropped.)
  EXPECT_EQ(snapshot(outside), before);

  // The named path itself a link to a directory: only the link goes.
  ASSERT_EQ(symlink(outside.c_str(), (dir / "top").c_str()), 0);
  EXPECT_FALSE(files::removeAll(dir / "top", removed));
  EXPECT_EQ(removed, 1u);
  EXPECT_FALSE(present(dir / "top"));
  EXPECT_EQ(snapshot(outside), before);
}

TEST(RemoveAll, StopsAtSpecialFilesAndKeepsWhatIsLeft) {
  TempDir dir;
  const std::string tree = dir / "tree";
  ASSERT_EQ(mkdir(tree.c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((tree + "/fifo").c_str(), 0600), 0);
  uint32_t removed = 9;
  EXPECT_EQ(files::removeAll(tree, removed), ErrorCode(EPERM, genericCategory()));
  EXPECT_EQ(removed, 0u);
  EXPECT_TRUE(present(tree + "/fifo"));
  EXPECT_EQ(files::removeAll(tree + "/fifo", removed), ErrorCode(EPERM, genericCategory()));
}

TEST(RemoveAll, LevelWithoutWritePermission) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const std::string tree = dir / "tree";
  fstest::ChildResult r = fstest::inChild([&]() -> std::string {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return "cannot drop root";
    // tree/locked holds a file and a subdirectory with a file, but cannot be changed.
    if (mkdir(tree.c_str(), 0700) != 0 || mkdir((tree + "/locked").c_str(), 0700) != 0 ||
        mkdir((tree + "/locked/inner").c_str(), 0700) != 0 ||
        !writeFile(tree + "/locked/inner/x", "x") || !writeFile(tree + "/locked/y", "y") ||
        chmod((tree + "/locked").c_str(), 0500) != 0)
      return "setup";
    uint32_t removed = 0;
    ErrorCode ec = files::removeAll(tree + "/locked", removed);
    std::string answer = ec.message() + " " + std::to_string(removed);
    // Inside the locked level only what its own writable subdirectory held could go.
    answer += present(tree + "/locked/inner/x") ? " x-kept" : " x-gone";
    answer += present(tree + "/locked/y") ? " y-kept" : " y-gone";
    answer += present(tree + "/locked/inner") ? " inner-kept" : " inner-gone";
    return answer;
  });
  // The iteration order decides whether "inner/x" went before the first refusal.
  const std::string eacces = std::strerror(EACCES);
  EXPECT_TRUE(r.output == eacces + " 1 x-gone y-kept inner-kept" ||
              r.output == eacces + " 0 x-kept y-kept inner-kept")
      << r.output << r.run.err;
}

TEST(RemoveAll, TreeChangingUnderTheRemoval) {
  TempDir dir;
  const std::string tree = dir / "tree";
  for (int round = 0; round < 5; ++round) {
    ASSERT_EQ(mkdir(tree.c_str(), 0700), 0);
    for (int d = 0; d < 8; ++d) {
      std::string sub = tree + "/d" + std::to_string(d);
      ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
      for (int f = 0; f < 100; ++f) ASSERT_TRUE(writeFile(sub + "/f" + std::to_string(f), ""));
    }
    // Another process keeps adding and removing entries meanwhile.
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      for (int i = 0;; ++i) {
        std::string sub = tree + "/d" + std::to_string(i % 8);
        std::string name = sub + "/n" + std::to_string(i);
        int fd = open(name.c_str(), O_WRONLY | O_CREAT, 0600);
        if (fd >= 0) close(fd);
        unlink((sub + "/f" + std::to_string(i % 100)).c_str());
        mkdir((sub + "/m" + std::to_string(i % 13)).c_str(), 0700);
      }
    }
    ASSERT_GT(pid, 0);
    uint32_t removed = 0;
    ErrorCode ec = files::removeAll(tree, removed);
    kill(pid, SIGKILL);
    testsupport::ChildResult ended;
    testsupport::waitFor(pid, &ended);
    // Either it won, or it says clearly that the tree kept changing.
    EXPECT_TRUE(!ec || ec == ErrorCode::fromErrno(ENOTEMPTY) || ec == ErrorCode::fromErrno(ENOENT))
        << ec.message();
    if (ec) {
      EXPECT_FALSE(files::removeAll(tree, removed)) << "once the tree holds still";
    }
    EXPECT_FALSE(present(tree));
  }
}

TEST(RemoveAll, DeeperThanAPathCanName) {
  TempDir dir;
  const std::string name(200, 'z');
  int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  const int levels = 40; // 40 * 201 characters: twice PATH_MAX
  for (int i = 0; i < levels; ++i) {
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0700), 0);
    int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(sub, 0);
    if (i == levels - 1) {
      int f = openat(sub, "leaf", O_WRONLY | O_CREAT, 0600);
      ASSERT_GE(f, 0);
      close(f);
    }
    close(fd);
    fd = sub;
  }
  close(fd);
  uint32_t removed = 0;
  EXPECT_FALSE(files::removeAll(dir / name, removed));
  EXPECT_EQ(removed, uint32_t(levels) + 1);
  EXPECT_TRUE(listed(dir.path()).empty());
}

} // namespace
