#include "support/fs/Files.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/un.h>

#include <string>

#include "fs_test_support.h"

using namespace vorn;
using fstest::TempDir;

namespace {

class FileQueries : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.ok());
    ASSERT_TRUE(fstest::writeFile(tmp / "file", "hello"));
    ASSERT_EQ(mkdir((tmp / "dir").c_str(), 0750), 0);
  }
  TempDir tmp;
};

// A status filled with values that a query must overwrite (or leave alone).
FileStatus garbageStatus() {
  FileStatus s;
  s.device = 77;
  s.inode = 88;
  s.modificationTime = 99;
  s.user = s.group = 5;
  s.size = 123;
  s.type = FileType::Socket;
  s.permissions = 0777;
  return s;
}

void expectZeroWithType(const FileStatus &s, FileType type) {
  EXPECT_EQ(s.type, type);
  EXPECT_EQ(s.device, 0u);
  EXPECT_EQ(s.inode, 0u);
  EXPECT_EQ(s.modificationTime, 0);
  EXPECT_EQ(s.user, 0u);
  EXPECT_EQ(s.group, 0u);
  EXPECT_EQ(s.size, 0);
  EXPECT_EQ(s.permissions, 0u);
}

// The status fields as statx reports them, an independent reference for status().
void expectMatchesStatx(const std::string &path, const FileStatus &s) {
  struct statx stx;
  ASSERT_EQ(statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS, &stx), 0);
  EXPECT_EQ(s.device, uint64_t(makedev(stx.stx_dev_major, stx.stx_dev_minor)));
  EXPECT_EQ(s.inode, stx.stx_ino);
  EXPECT_EQ(s.modificationTime, stx.stx_mtime.tv_sec);
  EXPECT_EQ(s.user, stx.stx_uid);
  EXPECT_EQ(s.group, stx.stx_gid);
  EXPECT_EQ(uint64_t(s.size), stx.stx_size);
  EXPECT_EQ(s.permissions, stx.stx_mode);
}

} // namespace

TEST(FileStatusValues, DefaultAndPredicates) {
  FileStatus s;
  EXPECT_EQ(s.type, FileType::StatusError);
  EXPECT_FALSE(files::statusKnown(s));
  EXPECT_FALSE(files::exists(s));
  s.type = FileType::NotFound;
  EXPECT_TRUE(files::statusKnown(s));
  EXPECT_FALSE(files::exists(s));
  EXPECT_FALSE(files::isOther(s));
  s.type = FileType::Symlink;
  EXPECT_FALSE(files::isOther(s));
  // Equivalence looks at the device and the inode only.
  FileStatus a, b;
  a.device = b.device = 3;
  a.inode = b.inode = 4;
  a.size = 1;
  b.type = FileType::Directory;
  EXPECT_TRUE(files::equivalent(a, b));
  b.inode = 5;
  EXPECT_FALSE(files::equivalent(a, b));
}

TEST_F(FileQueries, RegularFileAndDirectory) {
  std::string file = tmp / "file";
  ASSERT_EQ(chmod(file.c_str(), 04750), 0);
  struct timeval times[2] = {{1000000000, 0}, {1234567890, 0}};
  ASSERT_EQ(utimes(file.c_str(), times), 0);

  FileStatus s = garbageStatus();
  ASSERT_FALSE(files::status(file, s));
  EXPECT_EQ(s.type, FileType::Regular);
  EXPECT_TRUE(files::isRegularFile(s));
  EXPECT_TRUE(files::exists(s));
  EXPECT_FALSE(files::isOther(s));
  EXPECT_EQ(s.size, 5);
  EXPECT_EQ(s.modificationTime, 1234567890);
  EXPECT_EQ(s.permissions, unsigned(S_IFREG | 04750));
  EXPECT_EQ(s.user, getuid());
  EXPECT_EQ(s.group, getgid());
  expectMatchesStatx(file, s);

  std::string dir = tmp / "dir";
  ASSERT_EQ(chmod(dir.c_str(), 01775), 0);
  ASSERT_FALSE(files::status(dir, s));
  EXPECT_EQ(s.type, FileType::Directory);
  EXPECT_TRUE(files::isDirectory(s));
  EXPECT_EQ(s.permissions, unsigned(S_IFDIR | 01775));
  expectMatchesStatx(dir, s);

  bool found = false;
  EXPECT_FALSE(files::exists(file, found));
  EXPECT_TRUE(found);
  found = false;
  EXPECT_FALSE(files::exists(Twine(tmp.path()) + "/dir", found));
  EXPECT_TRUE(found);
}

TEST_F(FileQueries, IdentityAndEquivalence) {
  std::string file = tmp / "file", dir = tmp / "dir";
  ASSERT_EQ(link(file.c_str(), (tmp / "hard").c_str()), 0);
  ASSERT_EQ(symlink(file.c_str(), (tmp / "soft").c_str()), 0);
  ASSERT_EQ(symlink("dir", (tmp / "dirlink").c_str()), 0);
  ASSERT_TRUE(fstest::writeFile(tmp / "other", "hello"));

  bool same = false;
  EXPECT_FALSE(files::equivalent(file, tmp / "hard", same));
  EXPECT_TRUE(same);
  same = false;
  EXPECT_FALSE(files::equivalent(tmp / "soft", file, same));
  EXPECT_TRUE(same);
  same = false;
  EXPECT_FALSE(files::equivalent(dir, Twine(dir) + "/.", same));
  EXPECT_TRUE(same);
  same = false;
  EXPECT_FALSE(files::equivalent(tmp / "dirlink", tmp / "dir/../dir", same));
  EXPECT_TRUE(same);
  EXPECT_FALSE(files::equivalent(file, tmp / "other", same));
  EXPECT_FALSE(same);
  same = true;
  EXPECT_FALSE(files::equivalent(file, dir, same));
  EXPECT_FALSE(same);

  FileIdentity a, b, c;
  ASSERT_FALSE(files::identity(file, a));
  ASSERT_FALSE(files::identity(tmp / "hard", b));
  ASSERT_FALSE(files::identity(tmp / "other", c));
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  FileStatus s;
  ASSERT_FALSE(files::status(file, s));
  EXPECT_EQ(a, s.identity());
  EXPECT_EQ(a.file, uint64_t(s.inode));

  // A symbolic link is followed: the status is the target's.
  FileStatus viaLink;
  ASSERT_FALSE(files::status(tmp / "soft", viaLink));
  EXPECT_EQ(viaLink.type, FileType::Regular);
  EXPECT_FALSE(files::isSymlink(viaLink));
}

TEST_F(FileQueries, MissingFilesAndDanglingLinks) {
  ASSERT_EQ(symlink("nowhere", (tmp / "dangling").c_str()), 0);
  for (const std::string &missing : {tmp / "absent", tmp / "dangling", std::string()}) {
    SCOPED_TRACE("'" + missing + "'");
    FileStatus s = garbageStatus();
    ErrorCode ec = files::status(missing, s);
    EXPECT_EQ(ec, ErrorCode::fromErrno(ENOENT));
    EXPECT_TRUE(ec == ErrorCondition::generic(ENOENT));
    expectZeroWithType(s, FileType::NotFound);
    EXPECT_TRUE(files::statusKnown(s));
    EXPECT_FALSE(files::exists(s));

    bool found = true;
    EXPECT_FALSE(files::exists(missing, found));
    EXPECT_FALSE(found);

    FileIdentity id;
    id.device = 1;
    id.file = 2;
    EXPECT_EQ(files::identity(missing, id), ErrorCode::fromErrno(ENOENT));
    EXPECT_EQ(id.device, 1u);
    EXPECT_EQ(id.file, 2u);

    // Never a false answer: the missing side is an error, whichever side it is.
    bool same = true;
    EXPECT_EQ(files::equivalent(missing, tmp / "file", same), ErrorCode::fromErrno(ENOENT));
    EXPECT_EQ(files::equivalent(tmp / "file", missing, same), ErrorCode::fromErrno(ENOENT));
    EXPECT_TRUE(same);
  }
}

TEST_F(FileQueries, OtherFailuresAreNotNotFound) {
  // A regular file used as a directory.
  std::string bad = tmp / "file/inside";
  FileStatus s = garbageStatus();
  EXPECT_EQ(files::status(bad, s), ErrorCode::fromErrno(ENOTDIR));
  expectZeroWithType(s, FileType::StatusError);
  EXPECT_FALSE(files::statusKnown(s));
  bool found = true;
  EXPECT_EQ(files::exists(bad, found), ErrorCode::fromErrno(ENOTDIR));
  EXPECT_TRUE(found);
}

TEST_F(FileQueries, PermissionFailuresWithoutPrivileges) {
  // Root searches every directory, so the check runs in a child that has become "nobody".
  ASSERT_EQ(chmod(tmp.path().c_str(), 0711), 0);
  std::string locked = tmp / "locked";
  ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
  ASSERT_TRUE(fstest::writeFile(locked + "/x", ""));
  fstest::ChildResult r = fstest::inChild([&]() -> std::string {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return "no-drop";
    FileStatus s = garbageStatus();
    ErrorCode a = files::status(locked + "/x", s);
    bool found = true;
    ErrorCode b = files::exists(locked + "/x", found);
    return std::to_string(a.value()) + " " + std::to_string(int(s.type)) + " " +
           std::to_string(b.value()) + " " + (found ? "untouched" : "written");
  });
  ASSERT_TRUE(r.exitedNormally());
  if (r.output == "no-drop") GTEST_SKIP() << "cannot drop privileges here";
  EXPECT_EQ(r.output, std::to_string(EACCES) + " 0 " + std::to_string(EACCES) + " untouched");
}

TEST_F(FileQueries, SpecialFiles) {
  std::string fifo = tmp / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  FileStatus s;
  ASSERT_FALSE(files::status(fifo, s));
  EXPECT_EQ(s.type, FileType::Fifo);
  EXPECT_TRUE(files::isOther(s));
  EXPECT_EQ(s.permissions, unsigned(S_IFIFO | 0600));

  std::string sock = tmp / "sock";
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  ASSERT_LT(sock.size(), sizeof(address.sun_path));
  std::strcpy(address.sun_path, sock.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
  ASSERT_FALSE(files::status(sock, s));
  EXPECT_EQ(s.type, FileType::Socket);
  EXPECT_TRUE(files::isOther(s));
  close(fd);

  // Device nodes need the privilege to make them; without it that part is left out.
  std::string chr = tmp / "null", blk = tmp / "loop";
  if (mknod(chr.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
    ASSERT_FALSE(files::status(chr, s));
    EXPECT_EQ(s.type, FileType::CharDevice);
  }
  if (mknod(blk.c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0) {
    ASSERT_FALSE(files::status(blk, s));
    EXPECT_EQ(s.type, FileType::BlockDevice);
  }
}

TEST_F(FileQueries, PathsAroundTheStackBufferSize) {
  // Paths of 120 to 140 characters, and one of several hundred, given as rendered twines so they
  // are flattened (to the stack, then to the heap) and terminated.
  for (size_t length = 120; length <= 140; ++length) {
    size_t nameLength = length - tmp.path().size() - 1;
    std::string name(nameLength, 'n');
    ASSERT_TRUE(fstest::writeFile(tmp / name, std::string(length, 'x')));
    FileStatus s;
    std::string head = tmp.path();
    ASSERT_FALSE(files::status(Twine(head) + "/" + name, s)) << length;
    EXPECT_EQ(s.size, int32_t(length));
    bool found = false;
    EXPECT_FALSE(files::exists(Twine(head) + "/" + name, found));
    EXPECT_TRUE(found);
    unlink((tmp / name).c_str());
  }
  std::string deep = tmp.path();
  for (int i = 0; i < 4; ++i) {
    deep += "/" + std::string(100, char('a' + i));
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  bool same = false;
  EXPECT_FALSE(files::equivalent(deep, Twine(deep) + "/.", same));
  EXPECT_TRUE(same);
}
