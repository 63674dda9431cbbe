// Files beyond the 32-bit limits: sizes over 4 GiB and times after January 2038 are reported
// exactly by the status query, also in the 32-bit build.

#include "support/fs/Files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs_test_support.h"

using namespace vorn;

namespace {

TEST(LargeFiles, SizesBeyondFourGibibytes) {
  fstest::TempDir tmp;
  ASSERT_TRUE(tmp.ok());
  const std::string path = tmp / "sparse";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const int64_t size = (int64_t(5) << 30) + 12345; // holes: nothing is written to disk
  ASSERT_EQ(ftruncate(fd, size), 0);
  close(fd);

  FileStatus st;
  ASSERT_FALSE(files::status(path, st));
  EXPECT_EQ(st.size, size);
  EXPECT_EQ(st.type, FileType::Regular);
}

TEST(LargeFiles, TimesAfterTwentyThirtyEight) {
  fstest::TempDir tmp;
  ASSERT_TRUE(tmp.ok());
  const std::string path = tmp / "dated";
  ASSERT_TRUE(fstest::writeFile(path, "x"));
  // 2040-01-01 00:00:00 UTC, and one second after the last 32-bit time.
  for (int64_t when : {int64_t(2208988800), int64_t(2147483648)}) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = when;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    FileStatus st;
    ASSERT_FALSE(files::status(path, st));
    EXPECT_EQ(st.modificationTime, when);
  }
}

} // namespace
