#ifndef VORN_SUPPORT_FS_FILEMAGIC_H
#define VORN_SUPPORT_FS_FILEMAGIC_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>

#include "support/runtime/ErrorCode.h"
#include "support/text/InlineVector.h"
#include "support/text/StrView.h"
#include "support/text/Twine.h"

namespace vorn {
namespace files {

// The kind of a file as its first bytes tell it. The numbers are fixed (15 is not used).
enum class FileMagic : uint32_t {
  Unknown = 0,
  Bitcode = 1, // the toolkit's bitcode, raw or in its wrapper
  Archive = 2, // ar archive
  ElfRelocatable = 3,
  ElfExecutable = 4,
  ElfSharedObject = 5,
  ElfCore = 6,
  MachOObject = 7,
  MachOExecutable = 8,
  MachOFixedVmLibrary = 9,
  MachOCore = 10,
  MachOPreloadExecutable = 11,
  MachODynamicLibrary = 12,
  MachODynamicLinker = 13,
  MachOBundle = 14,
  MachODsymCompanion = 16,
  MachOUniversal = 17, // universal ("fat") binary
  CoffObject = 18,
  CoffImportLibrary = 19,
  PeExecutable = 20,
  WindowsResource = 21,
};

// The kind of content that starts with `bytes`; FileMagic::Unknown for fewer than 4 bytes or
// bytes no rule recognises. Only as many bytes as the matching rule needs are looked at.
FileMagic classifyContent(StrView bytes);

// The kind of the file at `path`, from its first 32 bytes (fewer when the file is shorter, which
// is no error). A file that cannot be opened or read gives that failure (a directory: EISDIR).
// `result` is written only on success.
ErrorCode classifyContent(const Twine &path, FileMagic &result);

namespace detail {
// Reads up to `length` bytes of the file at `path` into `buffer`; `got` receives how many.
ErrorCode readLeadingBytes(const Twine &path, uint32_t length, char *buffer, size_t &got);
} // namespace detail

// Reads the first `length` bytes of the file at `path` into `result` (cleared first). A file
// shorter than that leaves what it has in `result` and gives EOVERFLOW in the generic category;
// a failure to open or read gives its errno and an empty `result`.
template <unsigned N>
ErrorCode readLeadingBytes(const Twine &path, uint32_t length, InlineString<N> &result) {
  result.clear();
  result.reserve(length);
  size_t got = 0;
  ErrorCode ec = detail::readLeadingBytes(path, length, result.data(), got);
  result.setSizeInPlace(got);
  return ec;
}

// Whether the file at `path` starts with the bytes of `expected`: `result` is false for a file
// shorter than them. A failure to open or read is returned and `result` left alone.
ErrorCode startsWithBytes(const Twine &path, const Twine &expected, bool &result);

} // namespace files

using files::FileMagic;

} // namespace vorn

#endif
