// File operations on real files: opening with each flag combination, creating and removing
// files, links and directories, resizing, renaming and time-stamping. Permission cases run in a
// child that has dropped root (as "nobody"); the modes used give owner and others the same
// rights, so the child's answers are the same when the tests already run unprivileged.

#include "support/fs/Files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "fs_test_support.h"

using namespace vorn;
using fstest::TempDir;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

ErrorCode sys(int value) { return ErrorCode::fromErrno(value); }

struct stat statOf(const std::string &path) {
  struct stat st = {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

bool present(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Runs `body` in a child without root privileges ("nobody"); the child's status is the body's
// result, and what it returns names the first check that failed.
fstest::ChildResult asNobody(const std::function<std::string()> &body) {
  return fstest::inChild([&]() -> std::string {
    if (getuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      return "cannot drop root";
    return body();
  });
}

class FileOperations : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.ok());
    // Searchable by the unprivileged child.
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
  }
  TempDir tmp;
};

} // namespace

TEST_F(FileOperations, StatusOfADescriptorMatchesThePath) {
  std::string file = tmp / "file";
  ASSERT_TRUE(writeFile(file, "twelve bytes"));
  int fd = open(file.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  FileStatus byPath, byFd;
  ASSERT_FALSE(files::status(file, byPath));
  ASSERT_FALSE(files::status(fd, byFd));
  EXPECT_EQ(byFd.type, FileType::Regular);
  EXPECT_EQ(byFd.size, 12);
  EXPECT_EQ(byFd.identity(), byPath.identity());
  EXPECT_EQ(byFd.permissions, byPath.permissions);
  EXPECT_EQ(byFd.modificationTime, byPath.modificationTime);
  // Still answers for a file that no longer has a name.
  ASSERT_EQ(unlink(file.c_str()), 0);
  ASSERT_FALSE(files::status(fd, byFd));
  EXPECT_EQ(byFd.identity(), byPath.identity());
  close(fd);

  // A closed descriptor: the failure, and a zeroed status that is not "not found".
  FileStatus bad;
  bad.size = 99;
  bad.type = FileType::Regular;
  EXPECT_EQ(files::status(fd, bad), sys(EBADF));
  EXPECT_EQ(bad.type, FileType::StatusError);
  EXPECT_EQ(bad.size, 0);

  // A directory and a pipe by descriptor.
  int dfd = open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dfd, 0);
  ASSERT_FALSE(files::status(dfd, byFd));
  EXPECT_EQ(byFd.type, FileType::Directory);
  close(dfd);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_FALSE(files::status(fds[0], byFd));
  EXPECT_EQ(byFd.type, FileType::Fifo);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(FileOperations, PathPredicatesFollowLinksAndReportFailures) {
  std::string file = tmp / "file", dir = tmp / "dir";
  ASSERT_TRUE(writeFile(file, "x"));
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(symlink(file.c_str(), (tmp / "link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (tmp / "dangling").c_str()), 0);

  bool answer = false;
  EXPECT_FALSE(files::isDirectory(dir, answer));
  EXPECT_TRUE(answer);
  EXPECT_FALSE(files::isDirectory(file, answer));
  EXPECT_FALSE(answer);
  EXPECT_FALSE(files::isRegularFile(file, answer));
  EXPECT_TRUE(answer);
  EXPECT_FALSE(files::isRegularFile(tmp / "link", answer));
  EXPECT_TRUE(answer);
  // The status follows links, so no path is ever a link to it.
  answer = true;
  EXPECT_FALSE(files::isSymlink(tmp / "link", answer));
  EXPECT_FALSE(answer);

  // A missing path is an error, never a false answer, and the bool is left alone.
  for (bool start : {false, true}) {
    answer = start;
    EXPECT_EQ(files::isDirectory(tmp / "missing", answer), sys(ENOENT));
    EXPECT_EQ(answer, start);
    EXPECT_EQ(files::isSymlink(tmp / "dangling", answer), sys(ENOENT));
    EXPECT_EQ(answer, start);
    EXPECT_EQ(files::isRegularFile(file + "/below", answer), sys(ENOTDIR));
    EXPECT_EQ(answer, start);
  }
}

TEST_F(FileOperations, OpenForReadRetriesInterruptedOpens) {
  std::string file = tmp / "file";
  ASSERT_TRUE(writeFile(file, "contents"));
  int fd = 12345;
  ASSERT_FALSE(files::openForRead(file, fd));
  ASSERT_GE(fd, 0);
  EXPECT_EQ(testsupport::readToEnd(fd), "contents");
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
  close(fd);
  fd = 12345;
  EXPECT_EQ(files::openForRead(tmp / "missing", fd), sys(ENOENT));
  EXPECT_EQ(fd, -1);

  // Opening a FIFO blocks until a writer comes; signals without SA_RESTART arrive meanwhile.
  std::string fifo = tmp / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  testsupport::ChildResult r = testsupport::runInChild([&] {
    struct sigaction sa = {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGALRM, &sa, nullptr);
    pid_t writer = fork();
    if (writer == 0) {
      usleep(400000);
      int w = open(fifo.c_str(), O_WRONLY);
      if (w < 0 || write(w, "via fifo", 8) != 8) _exit(1);
      _exit(0);
    }
    struct itimerval every = {{0, 20000}, {0, 20000}};
    setitimer(ITIMER_REAL, &every, nullptr);
    int in = -7;
    ErrorCode ec = files::openForRead(fifo, in);
    struct itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    if (ec) return 10;
    std::string text = testsupport::readToEnd(in);
    int status = 0;
    waitpid(writer, &status, 0);
    return text == "via fifo" && status == 0 ? 0 : 11;
  });
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(FileOperations, OpenForWriteFlags) {
  std::string file = tmp / "file";
  ASSERT_TRUE(writeFile(file, "a longer old content"));

  // No flags: the old contents go.
  int fd = -1;
  ASSERT_FALSE(files::openForWrite(file, fd, OpenFlags::None, 0666));
  ASSERT_EQ(write(fd, "new", 3), 3);
  EXPECT_EQ(fcntl(fd, F_GETFL) & (O_ACCMODE | O_APPEND), O_WRONLY);
  close(fd);
  EXPECT_EQ(readFile(file), "new");

  // Append: kept, and every write goes to the end.
  ASSERT_FALSE(files::openForWrite(file, fd, OpenFlags::Append, 0666));
  EXPECT_EQ(fcntl(fd, F_GETFL) & (O_ACCMODE | O_APPEND), O_WRONLY | O_APPEND);
  lseek(fd, 0, SEEK_SET);
  ASSERT_EQ(write(fd, "+more", 5), 5);
  close(fd);
  EXPECT_EQ(readFile(file), "new+more");

  // Exclusive on an existing file fails and leaves -1; the file is untouched.
  for (OpenFlags flags : {OpenFlags::Exclusive, OpenFlags::Exclusive | OpenFlags::Append}) {
    fd = 12345;
    EXPECT_EQ(files::openForWrite(file, fd, flags, 0666), sys(EEXIST));
    EXPECT_EQ(fd, -1);
  }
  EXPECT_EQ(readFile(file), "new+more");

  // Exclusive creates a new file, with the mode less the umask; unknown bits are ignored.
  testsupport::ChildResult r = testsupport::runInChild([&] {
    umask(027);
    int out = -1;
    if (files::openForWrite(tmp / "fresh", out, OpenFlags(0x10 | 1), 0666)) return 1;
    close(out);
    if (files::openForWrite(tmp / "fresh2", out, OpenFlags::Exclusive | OpenFlags::Append, 0700))
      return 2;
    bool appends = (fcntl(out, F_GETFL) & O_APPEND) != 0;
    close(out);
    return appends ? 0 : 3;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(statOf(tmp / "fresh").st_mode & 07777, 0640u);
  EXPECT_EQ(statOf(tmp / "fresh2").st_mode & 07777, 0700u);

  fd = 12345;
  EXPECT_EQ(files::openForWrite(tmp / "no/such/dir", fd, OpenFlags::None, 0666), sys(ENOENT));
  EXPECT_EQ(fd, -1);
}

TEST_F(FileOperations, TimesAreSetInWholeSecondsAlsoAfter2038) {
  std::string file = tmp / "file";
  ASSERT_TRUE(writeFile(file, "x"));
  int fd = open(file.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  // 2024-06-01 12:00:00.75 UTC, 2100-01-01 12:00:00.75 UTC, and one second past 2^31.
  for (int64_t unixSeconds : {int64_t(1717243200), int64_t(4102488000), int64_t(2147483648)}) {
    SysTime when = SysTime::fromUnixSeconds(unixSeconds) + SysTime(0, 750000000);
    ASSERT_FALSE(files::setLastModifiedAndAccessed(fd, when)) << unixSeconds;
    struct stat st = statOf(file);
    EXPECT_EQ(int64_t(st.st_mtim.tv_sec), unixSeconds);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
    EXPECT_EQ(int64_t(st.st_atim.tv_sec), unixSeconds);
    EXPECT_EQ(st.st_atim.tv_nsec, 0);
    FileStatus status;
    ASSERT_FALSE(files::status(fd, status));
    EXPECT_EQ(status.lastModified(), SysTime::fromUnixSeconds(unixSeconds));
    EXPECT_EQ(status.lastModified().nanoseconds(), 0);
  }
  // Before 1970 too.
  ASSERT_FALSE(files::setLastModifiedAndAccessed(fd, SysTime::fromUnixSeconds(-86400)));
  EXPECT_EQ(int64_t(statOf(file).st_mtim.tv_sec), -86400);
  close(fd);
  EXPECT_EQ(files::setLastModifiedAndAccessed(fd, SysTime::Zero), sys(EBADF));
}

TEST_F(FileOperations, ResizeIsSixtyFourBitsWide) {
  std::string file = tmp / "file";
  ASSERT_TRUE(writeFile(file, "0123456789"));
  ASSERT_FALSE(files::resize(file, 4));
  EXPECT_EQ(readFile(file), "0123");
  ASSERT_FALSE(files::resize(file, 6));
  EXPECT_EQ(readFile(file), std::string("0123\0\0", 6));

  // Beyond 4 GiB, sparse: a size cut to 32 bits would give 7 bytes here.
  const uint64_t big = (uint64_t(5) << 30) + 7;
  ASSERT_FALSE(files::resize(file, big));
  EXPECT_EQ(uint64_t(statOf(file).st_size), big);
  FileStatus st;
  ASSERT_FALSE(files::status(file, st));
  EXPECT_EQ(uint64_t(st.size), big);
  ASSERT_FALSE(files::resize(file, 3));
  EXPECT_EQ(readFile(file), "012");

  EXPECT_EQ(files::resize(file, UINT64_MAX), sys(EFBIG));
  EXPECT_EQ(readFile(file), "012");
  EXPECT_EQ(files::resize(tmp / "missing", 1), sys(ENOENT));
  EXPECT_FALSE(present(tmp / "missing"));
}

TEST_F(FileOperations, RenameAndLinks) {
  std::string file = tmp / "file";
  ASSERT_TRUE(writeFile(file, "data"));
  ASSERT_FALSE(files::rename(file, tmp / "moved"));
  EXPECT_FALSE(present(file));
  EXPECT_EQ(readFile(tmp / "moved"), "data");
  EXPECT_EQ(files::rename(tmp / "missing", tmp / "x"), sys(ENOENT));

  // The link holds its target text as given: relative to the link's directory.
  ASSERT_FALSE(files::createSymlink("moved", tmp / "soft"));
  char target[64] = {};
  ASSERT_EQ(readlink((tmp / "soft").c_str(), target, sizeof target - 1), 5);
  EXPECT_STREQ(target, "moved");
  EXPECT_EQ(readFile(tmp / "soft"), "data");
  EXPECT_EQ(files::createSymlink("elsewhere", tmp / "soft"), sys(EEXIST));
  ASSERT_FALSE(files::createSymlink("does/not/exist", tmp / "dangling"));
  EXPECT_TRUE(S_ISLNK(statOf(tmp / "dangling").st_mode));

  ASSERT_FALSE(files::createHardLink(tmp / "moved", tmp / "hard"));
  EXPECT_EQ(statOf(tmp / "hard").st_ino, statOf(tmp / "moved").st_ino);
  EXPECT_EQ(statOf(tmp / "moved").st_nlink, 2u);
  EXPECT_EQ(files::createHardLink(tmp / "missing", tmp / "hard2"), sys(ENOENT));
  EXPECT_EQ(files::createHardLink(tmp / "moved", tmp / "hard"), sys(EEXIST));
}

TEST_F(FileOperations, RemoveOnlyRegularFilesAndDirectories) {
  bool existed = true;
  EXPECT_FALSE(files::remove(tmp / "missing", existed));
  EXPECT_FALSE(existed);

  std::string file = tmp / "file";
  ASSERT_TRUE(writeFile(file, "x"));
  EXPECT_FALSE(files::remove(file, existed));
  EXPECT_TRUE(existed);
  EXPECT_FALSE(present(file));

  // A FIFO and a socket: generic EPERM, nothing removed.
  std::string fifo = tmp / "fifo", sock = tmp / "sock";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(sock.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, sock.c_str(), sock.size() + 1);
  ASSERT_EQ(bind(s, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr), 0);
  for (const std::string &special : {fifo, sock}) {
    existed = false;
    ErrorCode ec = files::remove(special, existed);
    EXPECT_EQ(ec, ErrorCode(EPERM, genericCategory())) << special;
    EXPECT_EQ(&ec.category(), &genericCategory());
    EXPECT_FALSE(existed);
    EXPECT_TRUE(present(special));
  }
  close(s);

  // Directories: a full one stays, an empty one goes.
  std::string dir = tmp / "dir";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_TRUE(writeFile(dir + "/inner", ""));
  EXPECT_EQ(files::remove(dir, existed), sys(ENOTEMPTY));
  ASSERT_EQ(unlink((dir + "/inner").c_str()), 0);
  EXPECT_FALSE(files::remove(dir, existed));
  EXPECT_TRUE(existed);
  EXPECT_FALSE(present(dir));

  // A link to a file or a directory is removed itself; its target stays.
  ASSERT_TRUE(writeFile(file, "x"));
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(symlink(file.c_str(), (tmp / "flink").c_str()), 0);
  ASSERT_EQ(symlink(dir.c_str(), (tmp / "dlink").c_str()), 0);
  for (const char *name : {"flink", "dlink"}) {
    existed = false;
    EXPECT_FALSE(files::remove(tmp / name, existed)) << name;
    EXPECT_TRUE(existed);
    EXPECT_FALSE(present(tmp / name));
  }
  EXPECT_TRUE(present(file));
  EXPECT_TRUE(present(dir));
  // A dangling link counts as missing (its target is what is asked about).
  ASSERT_EQ(symlink("nowhere", (tmp / "dangling").c_str()), 0);
  existed = true;
  EXPECT_FALSE(files::remove(tmp / "dangling", existed));
  EXPECT_FALSE(existed);
}

TEST_F(FileOperations, CreateDirectory) {
  testsupport::ChildResult r = testsupport::runInChild([&] {
    umask(0);
    bool existed = true;
    if (files::createDirectory(tmp / "new", existed) || existed) return 1;
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(statOf(tmp / "new").st_mode, unsigned(S_IFDIR | 0770));

  bool existed = false;
  EXPECT_FALSE(files::createDirectory(tmp / "new", existed));
  EXPECT_TRUE(existed);
  // Any kind of file holding the name counts.
  ASSERT_TRUE(writeFile(tmp / "file", ""));
  existed = false;
  EXPECT_FALSE(files::createDirectory(tmp / "file", existed));
  EXPECT_TRUE(existed);
  EXPECT_TRUE(S_ISREG(statOf(tmp / "file").st_mode));
  existed = true;
  EXPECT_EQ(files::createDirectory(tmp / "no/parent", existed), sys(ENOENT));
  EXPECT_TRUE(existed);
}

TEST_F(FileOperations, CreateDirectoriesMakesTheChain) {
  bool existed = true;
  ASSERT_FALSE(files::createDirectories(tmp / "a/b/c/d", existed));
  EXPECT_FALSE(existed);
  EXPECT_TRUE(S_ISDIR(statOf(tmp / "a/b/c/d").st_mode));
  // Only the last level is reported.
  ASSERT_FALSE(files::createDirectories(tmp / "a/b/c/e", existed));
  EXPECT_FALSE(existed);
  ASSERT_FALSE(files::createDirectories(tmp / "a/b", existed));
  EXPECT_TRUE(existed);

  // A trailing separator: the last step makes 'x/y/' after 'x/y', so it existed.
  existed = false;
  ASSERT_FALSE(files::createDirectories(tmp / "x/y/", existed));
  EXPECT_TRUE(existed);
  EXPECT_TRUE(S_ISDIR(statOf(tmp / "x/y").st_mode));

  // A regular file in the way: the levels made before it stay.
  ASSERT_EQ(mkdir((tmp / "p").c_str(), 0755), 0);
  ASSERT_TRUE(writeFile(tmp / "p/q", ""));
  EXPECT_EQ(files::createDirectories(tmp / "p/q/r/s", existed), sys(ENOTDIR));
  EXPECT_TRUE(S_ISREG(statOf(tmp / "p/q").st_mode));

  // Relative paths, from the working directory; a single name has no parent to make.
  testsupport::ChildResult r = testsupport::runInChild([&] {
    if (chdir(tmp.path().c_str()) != 0) return 1;
    bool e = true;
    if (files::createDirectories("single", e) || e) return 2;
    if (files::createDirectories("rel/one/two", e) || e) return 3;
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(S_ISDIR(statOf(tmp / "single").st_mode));
  EXPECT_TRUE(S_ISDIR(statOf(tmp / "rel/one/two").st_mode));
}

TEST_F(FileOperations, AccessTestsAndPermissionFailuresWithoutRoot) {
  // Owner and others get the same rights, so the answers do not depend on who owns the files.
  auto make = [&](const char *name, mode_t mode) {
    ASSERT_TRUE(writeFile(tmp / name, "#!/bin/sh\n"));
    ASSERT_EQ(chmod((tmp / name).c_str(), mode), 0);
  };
  make("rx", 0555);
  make("xonly", 0311);
  make("rw", 0666);
  make("ro", 0444);
  make("none", 0000);
  ASSERT_EQ(mkdir((tmp / "xdir").c_str(), 0777), 0);
  ASSERT_EQ(chmod((tmp / "xdir").c_str(), 0777), 0);
  ASSERT_EQ(mkdir((tmp / "locked").c_str(), 0555), 0);
  ASSERT_TRUE(writeFile(tmp / "locked/inside", ""));
  ASSERT_EQ(chmod((tmp / "locked/inside").c_str(), 0666), 0);
  ASSERT_EQ(symlink("rx", (tmp / "rxlink").c_str()), 0);

  fstest::ChildResult r = asNobody([&]() -> std::string {
    if (getuid() == 0 || geteuid() == 0) return "still root";
    if (!files::canExecute(tmp / "rx")) return "rx";
    if (!files::canExecute(tmp / "rxlink")) return "rxlink";
    if (files::canExecute(tmp / "xonly")) return "xonly: execute without read";
    if (files::canExecute(tmp / "xdir")) return "xdir: a directory";
    if (files::canExecute(tmp / "missing")) return "missing";
    if (!files::canWrite(tmp / "rw")) return "rw";
    if (files::canWrite(tmp / "ro")) return "ro";
    if (files::canWrite(tmp / "missing")) return "missing (write)";
    if (!files::canWrite(tmp / "locked/inside")) return "inside";
    int fd = 5;
    if (files::openForRead(tmp / "none", fd) != sys(EACCES) || fd != -1) return "read none";
    if (files::openForWrite(tmp / "ro", fd, OpenFlags::None, 0666) != sys(EACCES))
      return "write ro";
    if (files::openForWrite(tmp / "locked/new", fd, OpenFlags::None, 0666) != sys(EACCES))
      return "create in locked";
    bool existed = true;
    if (files::createDirectory(tmp / "locked/sub", existed) != sys(EACCES) || !existed)
      return "mkdir in locked";
    if (files::createDirectories(tmp / "locked/sub/deeper", existed) != sys(EACCES))
      return "mkdirs in locked";
    if (files::remove(tmp / "locked/inside", existed) != sys(EACCES) || !existed)
      return "remove in locked";
    if (files::rename(tmp / "locked/inside", tmp / "out") != sys(EACCES)) return "rename";
    if (files::resize(tmp / "ro", 0) != sys(EACCES)) return "resize ro";
    return "ok";
  });
  EXPECT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.output, "ok");
  EXPECT_TRUE(present(tmp / "locked/inside"));
  EXPECT_EQ(statOf(tmp / "ro").st_size, 10);

  // Root may read anything, but executes only what has an execute bit.
  if (getuid() == 0) {
    EXPECT_TRUE(files::canExecute(tmp / "xonly"));
    EXPECT_FALSE(files::canExecute(tmp / "rw"));
  }
}
