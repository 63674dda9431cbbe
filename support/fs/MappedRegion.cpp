#include "support/fs/MappedRegion.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/process/Process.h"
#include "support/text/InlineVector.h"

namespace vorn {
namespace files {

namespace {

ErrorCode invalid() { return ErrorCode(EINVAL, genericCategory()); }

int openRetrying(const char *path, int flags) {
  int fd;
  do
    fd = ::open(path, flags | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  return fd;
}

} // namespace

uint32_t MappedRegion::alignment() { return CurrentProcess::get().pageSize(); }

MappedRegion::MappedRegion(int fd, bool closeDescriptor, MapMode mode, uint64_t length,
                           uint64_t offset, ErrorCode &ec)
    : mapMode(mode), mapSize(length) {
  if (length > UINT32_MAX) {
    ec = invalid();
    return;
  }
  ec = map(fd, closeDescriptor, offset);
  if (ec) mapping = nullptr;
}

MappedRegion::MappedRegion(const Twine &path, MapMode mode, uint64_t length, uint64_t offset,
                           ErrorCode &ec)
    : mapMode(mode), mapSize(length) {
  if (length > UINT32_MAX) {
    ec = invalid();
    return;
  }
  InlineString<128> scratch;
  int fd = openRetrying(path.asTerminatedView(scratch).data(),
                        mode == MapMode::ReadOnly ? O_RDONLY : O_RDWR);
  if (fd < 0) {
    ec = ErrorCode::fromErrno();
    return;
  }
  ec = map(fd, true, offset);
  if (ec) mapping = nullptr;
}

MappedRegion::~MappedRegion() {
  if (mapping) ::munmap(mapping, size_t(mapSize));
}

ErrorCode MappedRegion::map(int fd, bool closeDescriptor, uint64_t offset) {
  ErrorCode ec;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ec = ErrorCode::fromErrno();
  } else if (offset > uint64_t(INT64_MAX)) {
    ec = invalid();
  } else {
    uint64_t fileSize = uint64_t(st.st_size);
    if (mapSize == 0) {
      // The rest of the file from the window's start: mapping the whole file's length from an
      // offset would reach past its end, where a touch raises SIGBUS.
      mapSize = offset < fileSize ? fileSize - offset : 0;
      if (mapSize > UINT32_MAX) ec = invalid();
    } else if (fileSize < offset + mapSize) {
      // Grown to cover the whole window, not just `mapSize` bytes, for the same reason.
      if (offset + mapSize > uint64_t(INT64_MAX))
        ec = invalid();
      else if (::ftruncate(fd, off_t(offset + mapSize)) != 0)
        ec = ErrorCode::fromErrno();
    }
    if (!ec) {
      int protection = mapMode == MapMode::ReadOnly ? PROT_READ : PROT_READ | PROT_WRITE;
      int kind = mapMode == MapMode::ReadWrite ? MAP_SHARED : MAP_PRIVATE;
      void *at = ::mmap(nullptr, size_t(mapSize), protection, kind, fd, off_t(offset));
      if (at == MAP_FAILED)
        ec = ErrorCode::fromErrno();
      else
        mapping = at;
    }
  }
  if (closeDescriptor) ::close(fd);
  return ec;
}

ErrorCode mapFilePages(const Twine &path, uint64_t offset, size_t size, bool writable,
                       void *&address) {
  if (offset > uint64_t(INT64_MAX)) return invalid();
  InlineString<128> scratch;
  int fd = openRetrying(path.asTerminatedView(scratch).data(), writable ? O_RDWR : O_RDONLY);
  if (fd < 0) return ErrorCode::fromErrno();
  address = ::mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ,
                   writable ? MAP_SHARED : MAP_PRIVATE, fd, off_t(offset));
  ErrorCode ec = address == MAP_FAILED ? ErrorCode::fromErrno() : ErrorCode();
  ::close(fd);
  return ec;
}

ErrorCode unmapFilePages(void *address, size_t size) {
  if (::munmap(address, size) != 0) return ErrorCode::fromErrno();
  return ErrorCode();
}

} // namespace files
} // namespace vorn
