#ifndef VORN_TESTS_COMMON_FULLFILESYSTEM_H
#define VORN_TESTS_COMMON_FULLFILESYSTEM_H

// A small memory file system mounted by the test (as root) in a private directory, filled up so
// that the next write of any size fails with ENOSPC: a real full disk for write-failure tests.

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tests/common/TestSupport.h"

namespace testsupport {

class FullFilesystem {
public:
  // Mounts a 64 KiB tmpfs and fills it. ok() tells whether that worked; why() says why not (for
  // a skip: mounting needs root and a system that lets this process mount).
  FullFilesystem() : dir_(systemTempDir(), "vorn-full") {
    mountPoint_ = dir_ / "mnt";
    if (mkdir(mountPoint_.c_str(), 0700) != 0) {
      why_ = std::string("mkdir: ") + std::strerror(errno);
      return;
    }
    if (mount("vorn-full", mountPoint_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
      why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
    int fd = open((mountPoint_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
      why_ = std::string("cannot create the filler: ") + std::strerror(errno);
      return;
    }
    static const char block[4096] = {};
    ssize_t n;
    while ((n = write(fd, block, sizeof block)) > 0) {
    }
    int fillErrno = errno;
    close(fd);
    if (n == 0 || fillErrno != ENOSPC) {
      why_ = std::string("filling the tmpfs ended with: ") + std::strerror(fillErrno);
      return;
    }
    // A single byte fails too (the last page was filled by whole blocks already).
    fd = open((mountPoint_ + "/filler").c_str(), O_WRONLY | O_APPEND);
    if (fd >= 0 && write(fd, "x", 1) == 1) why_ = "the tmpfs still takes bytes";
    if (fd >= 0) close(fd);
  }
  ~FullFilesystem() {
    if (mounted_) umount2(mountPoint_.c_str(), MNT_DETACH);
  }
  FullFilesystem(const FullFilesystem &) = delete;
  FullFilesystem &operator=(const FullFilesystem &) = delete;

  bool ok() const { return mounted_ && why_.empty(); }
  const std::string &why() const { return why_; }
  // A path for a new file on the full file system.
  std::string operator/(const std::string &name) const { return mountPoint_ + "/" + name; }

private:
  TempDir dir_;
  std::string mountPoint_;
  std::string why_;
  bool mounted_ = false;
};

} // namespace testsupport

#endif
