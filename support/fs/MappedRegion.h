#ifndef VORN_SUPPORT_FS_MAPPEDREGION_H
#define VORN_SUPPORT_FS_MAPPEDREGION_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>

#include "support/runtime/ErrorCode.h"
#include "support/text/Twine.h"

namespace vorn {
namespace files {

// How a file is mapped.
enum class MapMode : uint32_t {
  ReadOnly = 0,  // read only; the path form opens the file read-only
  ReadWrite = 1, // shared: changes reach the file
  Private = 2,   // copy-on-write: changes stay in this process's memory
};

// A file, or a window of it, mapped into memory. The region owns the mapping (unmapped by the
// destructor) and cannot be copied. A region whose mapping failed has null data().
//
// Sizes and offsets are 64 bits wide and never cut: a length that does not fit in 32 bits is
// refused (EINVAL in the generic category), as is a whole-file mapping of a file that large, and
// an offset is handed to the system whole, so windows beyond 4 GiB into a large file are served.
class MappedRegion {
public:
  // Maps `length` bytes (0: from `offset` to the end of the file) of the file open as `fd`,
  // starting at `offset`, which must be a multiple of alignment(). When the file ends before
  // offset + length it is first grown to that size with zeros (so ReadOnly needs a file that is
  // long enough: growing it through a read-only descriptor fails). With `closeDescriptor`, `fd`
  // is closed before the constructor returns, except when the length was refused (then `fd` is
  // untouched). `ec` receives 0 or the failure (errno in the system category unless stated).
  MappedRegion(int fd, bool closeDescriptor, MapMode mode, uint64_t length, uint64_t offset,
               ErrorCode &ec);
  // The same for the file at `path`, opened read-only for MapMode::ReadOnly and read-write
  // otherwise, and closed again once mapped.
  MappedRegion(const Twine &path, MapMode mode, uint64_t length, uint64_t offset, ErrorCode &ec);
  ~MappedRegion();
  MappedRegion(const MappedRegion &) = delete;
  MappedRegion &operator=(const MappedRegion &) = delete;

  MapMode mode() const { return mapMode; }
  // The mapped length (for a length of 0, the length found in the file).
  uint64_t size() const { return mapSize; }
  // The first mapped byte; null when nothing is mapped. Write only in a writable mode.
  char *data() const { return static_cast<char *>(mapping); }
  const char *constData() const { return static_cast<const char *>(mapping); }

  // The page size: offsets must be multiples of it.
  static uint32_t alignment();

private:
  ErrorCode map(int fd, bool closeDescriptor, uint64_t offset);

  MapMode mapMode;
  uint64_t mapSize;
  void *mapping = nullptr;
};

// Maps `size` bytes of the file at `path` from `offset` (a multiple of the page size): shared and
// read-write when `writable`, else private and read-only. `address` receives mmap's result once
// the file is open, MAP_FAILED ((void *)-1) included; unmap with unmapFilePages. An offset beyond
// the largest file offset is refused (EINVAL in the generic category).
ErrorCode mapFilePages(const Twine &path, uint64_t offset, size_t size, bool writable,
                       void *&address);
// Unmaps `size` bytes at `address`.
ErrorCode unmapFilePages(void *address, size_t size);

} // namespace files

using files::MapMode;
using files::MappedRegion;

} // namespace vorn

#endif
