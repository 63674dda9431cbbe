#include "support/fs/FileMagic.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vorn {
namespace files {

namespace {

bool startsWith(StrView bytes, const char *magic, size_t n) {
  return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

FileMagic machOKind(uint32_t type) {
  switch (type) {
  case 1: return FileMagic::MachOObject;
  case 2: return FileMagic::MachOExecutable;
  case 3: return FileMagic::MachOFixedVmLibrary;
  case 4: return FileMagic::MachOCore;
  case 5: return FileMagic::MachOPreloadExecutable;
  case 6: return FileMagic::MachODynamicLibrary;
  case 7: return FileMagic::MachODynamicLinker;
  case 8: return FileMagic::MachOBundle;
  case 9: return FileMagic::MachODynamicLinker;
  case 10: return FileMagic::MachODsymCompanion;
  default: return FileMagic::Unknown;
  }
}

bool isEovf(const ErrorCode &ec) { return ec == ErrorCondition::generic(EOVERFLOW); }

} // namespace

FileMagic classifyContent(StrView bytes) {
  const size_t n = bytes.size();
  if (n < 4) return FileMagic::Unknown;
  const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes.data());
  switch (b[0]) {
  case 0xDE:
    if (b[1] == 0xC0 && b[2] == 0x17 && b[3] == 0x0B) return FileMagic::Bitcode;
    break;
  case 'B':
    if (b[1] == 'C' && b[2] == 0xC0 && b[3] == 0xDE) return FileMagic::Bitcode;
    break;
  case '!':
    if (startsWith(bytes, "!<arch>\n", 8)) return FileMagic::Archive;
    break;
  case 0x7F:
    if (n >= 18 && b[1] == 'E' && b[2] == 'L' && b[3] == 'F') {
      bool bigEndian = b[5] == 2;
      unsigned high = bigEndian ? b[16] : b[17], low = bigEndian ? b[17] : b[16];
      if (high != 0) break;
      switch (low) {
      case 1: return FileMagic::ElfRelocatable;
      case 2: return FileMagic::ElfExecutable;
      case 3: return FileMagic::ElfSharedObject;
      case 4: return FileMagic::ElfCore;
      default: break;
      }
    }
    break;
  case 0xFE:
    if (n >= 16 && b[1] == 0xED && b[2] == 0xFA && (b[3] == 0xCE || b[3] == 0xCF))
      return machOKind(uint32_t(b[14]) * 256 + b[15]);
    break;
  case 0xCE:
  case 0xCF:
    if (n >= 14 && b[1] == 0xFA && b[2] == 0xED && b[3] == 0xFE)
      return machOKind(uint32_t(b[13]) * 256 + b[12]);
    break;
  case 0xCA:
    // Other formats share this first word; here the byte at 7 is the low byte of a small
    // architecture count.
    if (n >= 8 && b[1] == 0xFE && b[2] == 0xBA && b[3] == 0xBE && int8_t(b[7]) < 43)
      return FileMagic::MachOUniversal;
    break;
  case 0xF0:
  case 0x83:
  case 0x84:
  case 0x66:
  case 0x50:
  case 0x4C:
    if (b[1] == 1 || b[1] == 2) return FileMagic::CoffObject;
    break;
  case 0x90:
  case 0x68:
    if (b[1] == 2) return FileMagic::CoffObject;
    break;
  case 0x64:
    if (b[1] == 0x86) return FileMagic::CoffObject;
    break;
  case 0x00:
    if (b[1] == 0x00 && b[2] == 0xFF && b[3] == 0xFF) return FileMagic::CoffImportLibrary;
    if (startsWith(bytes, "\0\0\0\0\x20\0\0\0\xFF", 9)) return FileMagic::WindowsResource;
    if (b[1] == 0) return FileMagic::CoffObject;
    break;
  case 'M':
    if (n >= 64 && b[1] == 'Z') {
      uint32_t off = uint32_t(b[0x3C]) | uint32_t(b[0x3D]) << 8 | uint32_t(b[0x3E]) << 16 |
                     uint32_t(b[0x3F]) << 24;
      // Compared without adding to `off`: near 2^32, off + 4 would wrap and pass the test.
      if (off <= n && n - off >= 4 && std::memcmp(b + off, "PE\0\0", 4) == 0)
        return FileMagic::PeExecutable;
    }
    break;
  default:
    break;
  }
  return FileMagic::Unknown;
}

namespace detail {

ErrorCode readLeadingBytes(const Twine &path, uint32_t length, char *buffer, size_t &got) {
  got = 0;
  InlineString<128> scratch;
  std::FILE *file = std::fopen(path.asTerminatedView(scratch).data(), "rb");
  if (!file) return ErrorCode::fromErrno();
  size_t n = std::fread(buffer, 1, length, file);
  if (std::ferror(file)) {
    ErrorCode ec = ErrorCode::fromErrno();
    std::fclose(file);
    return ec;
  }
  bool ended = std::feof(file) != 0;
  std::fclose(file);
  got = n;
  if (n < length && ended) return ErrorCode(EOVERFLOW, genericCategory());
  return ErrorCode();
}

} // namespace detail

ErrorCode classifyContent(const Twine &path, FileMagic &result) {
  InlineString<32> bytes;
  ErrorCode ec = readLeadingBytes(path, 32, bytes);
  if (ec && !isEovf(ec)) return ec;
  result = classifyContent(bytes.view());
  return ErrorCode();
}

ErrorCode startsWithBytes(const Twine &path, const Twine &expected, bool &result) {
  InlineString<64> want;
  StrView magic = expected.asView(want);
  InlineString<64> have;
  ErrorCode ec = readLeadingBytes(path, magic.size(), have);
  if (isEovf(ec)) {
    result = false;
    return ErrorCode();
  }
  if (ec) return ec;
  result = have.view() == magic;
  return ErrorCode();
}

} // namespace files
} // namespace vorn
