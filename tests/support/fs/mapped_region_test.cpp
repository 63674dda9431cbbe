// Mapped regions on real files: growing a file through a shared mapping, private copies,
// windows at page offsets (also beyond 4 GiB), refused lengths, and the raw page functions.

#include "support/fs/MappedRegion.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "fs_test_support.h"

using namespace vorn;
using fstest::TempDir;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));

// A file of `pages` pages, page i filled with the byte 'A' + i.
std::string pagedContents(int pages) {
  std::string text;
  for (int i = 0; i < pages; ++i) text += std::string(size_t(page), char('A' + i));
  return text;
}

bool descriptorOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(MappedRegion, ReadWriteGrowsTheFileAndWritesThrough) {
  TempDir dir;
  const std::string path = dir / "grown";
  ASSERT_TRUE(writeFile(path, ""));
  {
    ErrorCode ec = ErrorCode::fromErrno(EIO);
    MappedRegion region(path, MapMode::ReadWrite, 8192, 0, ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_NE(region.data(), nullptr);
    EXPECT_EQ(region.size(), 8192u);
    EXPECT_EQ(region.mode(), MapMode::ReadWrite);
    EXPECT_EQ(region.constData(), region.data());
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 8192) << "grown before mapping";
    EXPECT_EQ(region.data()[8191], '\0');
    std::memcpy(region.data(), "head", 4);
    std::memcpy(region.data() + 8188, "tail", 4);
  }
  std::string text = readFile(path);
  ASSERT_EQ(text.size(), 8192u);
  EXPECT_EQ(text.substr(0, 4), "head");
  EXPECT_EQ(text.substr(8188), "tail");
  EXPECT_EQ(text.substr(4, 8184), std::string(8184, '\0'));
}

TEST(MappedRegion, PrivateCopiesLeaveTheFileAlone) {
  TempDir dir;
  const std::string path = dir / "private";
  const std::string original = pagedContents(3);
  ASSERT_TRUE(writeFile(path, original));
  ErrorCode ec;
  MappedRegion shared(path, MapMode::ReadOnly, 0, 0, ec);
  ASSERT_FALSE(ec);
  {
    MappedRegion copy(path, MapMode::Private, 0, 0, ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(copy.size(), original.size());
    std::memset(copy.data(), 'z', size_t(copy.size()));
    EXPECT_EQ(copy.data()[0], 'z');
    EXPECT_EQ(shared.constData()[0], 'A') << "another mapping does not see the copy";
  }
  EXPECT_EQ(readFile(path), original);
  EXPECT_EQ(std::string(shared.constData(), size_t(shared.size())), original);
}

TEST(MappedRegion, WindowsAtPageOffsets) {
  TempDir dir;
  const std::string path = dir / "paged";
  ASSERT_TRUE(writeFile(path, pagedContents(5)));
  EXPECT_EQ(MappedRegion::alignment(), page);
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ErrorCode ec;
  {
    MappedRegion window(fd, false, MapMode::ReadOnly, page, 2 * page, ec);
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_EQ(std::string(window.constData(), size_t(page)), std::string(size_t(page), 'C'));
    // The rest of the file from an offset, when no length is given.
    MappedRegion rest(fd, false, MapMode::ReadOnly, 0, 3 * page, ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(rest.size(), 2 * page);
    EXPECT_EQ(rest.constData()[2 * page - 1], 'E');
  }
  EXPECT_TRUE(descriptorOpen(fd)) << "kept without closeDescriptor";
  // An offset off the page grid is the system's EINVAL.
  MappedRegion crooked(fd, false, MapMode::ReadOnly, page, 100, ec);
  EXPECT_EQ(ec, ErrorCode::fromErrno(EINVAL));
  EXPECT_EQ(crooked.data(), nullptr);
  // Reading past the end is refused rather than grown through a read-only descriptor.
  MappedRegion tooLong(fd, true, MapMode::ReadOnly, 6 * page, 0, ec);
  EXPECT_TRUE(ec);
  EXPECT_EQ(tooLong.data(), nullptr);
  EXPECT_FALSE(descriptorOpen(fd)) << "closed even on failure";
  EXPECT_EQ(readFile(path).size(), 5 * page);
}

TEST(MappedRegion, WindowPastTheEndGrowsTheFileToCoverIt) {
  TempDir dir;
  const std::string path = dir / "short";
  ASSERT_TRUE(writeFile(path, pagedContents(1)));
  // In a child: touching a page past the end of the file would end it with SIGBUS.
  testsupport::ChildResult r = testsupport::runInChild([&] {
    ErrorCode ec;
    MappedRegion window(path, MapMode::ReadWrite, page, 2 * page, ec);
    if (ec) return 3;
    window.data()[page - 1] = 'w';
    return 0;
  });
  EXPECT_EQ(r.status, 0) << "signal " << r.signal;
  std::string text = readFile(path);
  ASSERT_EQ(text.size(), 3 * page);
  EXPECT_EQ(text[3 * page - 1], 'w');
  EXPECT_EQ(text[page], '\0');
}

TEST(MappedRegion, LengthsBeyondThirtyTwoBitsAreRefused) {
  TempDir dir;
  const std::string path = dir / "big";
  ASSERT_TRUE(writeFile(path, "small"));
  int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ErrorCode ec;
  MappedRegion refused(fd, true, MapMode::ReadWrite, uint64_t(1) << 32, 0, ec);
  EXPECT_EQ(ec, ErrorCode(EINVAL, genericCategory()));
  EXPECT_EQ(refused.data(), nullptr);
  EXPECT_TRUE(descriptorOpen(fd)) << "untouched when the length is refused";
  struct stat st;
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_size, 5) << "and the file not grown";
  close(fd);
}

TEST(MappedRegion, WindowsBeyondFourGibibytes) {
  // The emulator's own mmap keeps only the low 32 bits of a 32-bit guest's file offset.
  VORN_SKIP_UNDER_EMULATION("the emulator cuts mmap file offsets to 32 bits");
  TempDir dir;
  const std::string path = dir / "big";
  int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ErrorCode ec;
  struct stat st;
  // A sparse file of 5 GiB with a mark just past 4 GiB: the window there shows the mark, not
  // what lies at the offset cut to 32 bits.
  const uint64_t four = uint64_t(1) << 32;
  if (ftruncate(fd, off_t(5 * (four / 4))) != 0) {
    close(fd);
    GTEST_SKIP() << "no sparse 5 GiB file here: " << std::strerror(errno);
  }
  ASSERT_EQ(pwrite(fd, "mark", 4, off_t(four + page)), 4);
  ASSERT_EQ(pwrite(fd, "low!", 4, off_t(page)), 4);
  {
    MappedRegion high(fd, false, MapMode::ReadOnly, page, four + page, ec);
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_EQ(std::string(high.constData(), 4), "mark");
    // Written through a shared window, grown beyond the end at 5 GiB + a page.
    MappedRegion grow(fd, false, MapMode::ReadWrite, page, 5 * (four / 4) + page, ec);
    ASSERT_FALSE(ec) << ec.message();
    std::memcpy(grow.data(), "end!", 4);
  }
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(uint64_t(st.st_size), 5 * (four / 4) + 2 * page);
  char got[4];
  ASSERT_EQ(pread(fd, got, 4, off_t(5 * (four / 4) + page)), 4);
  EXPECT_EQ(std::string(got, 4), "end!");
  // A whole-file mapping of more than 4 GiB is refused as well.
  MappedRegion whole(fd, false, MapMode::ReadOnly, 0, 0, ec);
  EXPECT_EQ(ec, ErrorCode(EINVAL, genericCategory()));
  EXPECT_EQ(whole.data(), nullptr);
  close(fd);
}

TEST(MappedRegion, PathFailures) {
  TempDir dir;
  ErrorCode ec;
  MappedRegion missing(dir / "missing", MapMode::ReadOnly, 0, 0, ec);
  EXPECT_EQ(ec, ErrorCode::fromErrno(ENOENT));
  EXPECT_EQ(missing.data(), nullptr);
  // An empty file has nothing to map.
  ASSERT_TRUE(writeFile(dir / "empty", ""));
  MappedRegion empty(dir / "empty", MapMode::ReadOnly, 0, 0, ec);
  EXPECT_EQ(ec, ErrorCode::fromErrno(EINVAL));
  EXPECT_EQ(empty.data(), nullptr);
}

TEST(MapFilePages, SharedWritableAndPrivateReadOnly) {
  TempDir dir;
  const std::string path = dir / "pages";
  ASSERT_TRUE(writeFile(path, pagedContents(3)));
  void *address = nullptr;
  ASSERT_FALSE(files::mapFilePages(path, page, size_t(page), true, address));
  static_cast<char *>(address)[0] = 'w';
  EXPECT_FALSE(files::unmapFilePages(address, size_t(page)));
  EXPECT_EQ(readFile(path)[size_t(page)], 'w');

  ASSERT_FALSE(files::mapFilePages(path, 2 * page, size_t(page), false, address));
  EXPECT_EQ(static_cast<const char *>(address)[0], 'C');
  EXPECT_FALSE(files::unmapFilePages(address, size_t(page)));

  EXPECT_EQ(files::mapFilePages(path, 7, size_t(page), false, address),
            ErrorCode::fromErrno(EINVAL));
  EXPECT_EQ(address, MAP_FAILED);
  EXPECT_EQ(files::mapFilePages(dir / "missing", 0, size_t(page), false, address),
            ErrorCode::fromErrno(ENOENT));
  EXPECT_EQ(files::unmapFilePages(reinterpret_cast<void *>(uintptr_t(7)), size_t(page)),
            ErrorCode::fromErrno(EINVAL));
}

} // namespace
