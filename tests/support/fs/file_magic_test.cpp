// File kinds from byte patterns and from real files: the build's own objects, executables,
// shared objects and archives, short and empty files, directories.

#include "support/fs/FileMagic.h"

#include <gtest/gtest.h>

#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fs_test_support.h"

using namespace vorn;
using fstest::TempDir;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += char(v);
  return s;
}

FileMagic classify(const std::string &s) {
  return files::classifyContent(StrView(s.data(), uint32_t(s.size())));
}

// An ELF header: class, byte order, and the object type written in that order.
std::string elfHeader(int order, int typeLow, int typeHigh = 0) {
  std::string h = bytes({0x7F, 'E', 'L', 'F', 1, order, 1});
  h.resize(16, '\0');
  if (order == 2)
    h += bytes({typeHigh, typeLow});
  else
    h += bytes({typeLow, typeHigh});
  return h;
}

TEST(FileMagic, BytePatterns) {
  EXPECT_EQ(classify(""), FileMagic::Unknown);
  EXPECT_EQ(classify("BC\xc0"), FileMagic::Unknown) << "fewer than 4 bytes";
  EXPECT_EQ(classify("BC\xc0\xde"), FileMagic::Bitcode);
  EXPECT_EQ(classify(bytes({0xDE, 0xC0, 0x17, 0x0B})), FileMagic::Bitcode);
  EXPECT_EQ(classify(bytes({0xDE, 0xC0, 0x17, 0x0C})), FileMagic::Unknown);
  EXPECT_EQ(classify("!<arch>\n"), FileMagic::Archive);
  EXPECT_EQ(classify("!<arch>"), FileMagic::Unknown);
  EXPECT_EQ(classify("!<thin>\n"), FileMagic::Unknown);

  EXPECT_EQ(classify(elfHeader(1, 1)), FileMagic::ElfRelocatable);
  EXPECT_EQ(classify(elfHeader(1, 2)), FileMagic::ElfExecutable);
  EXPECT_EQ(classify(elfHeader(1, 3)), FileMagic::ElfSharedObject);
  EXPECT_EQ(classify(elfHeader(1, 4)), FileMagic::ElfCore);
  EXPECT_EQ(classify(elfHeader(2, 2)), FileMagic::ElfExecutable) << "big-endian";
  EXPECT_EQ(classify(elfHeader(1, 5)), FileMagic::Unknown);
  EXPECT_EQ(classify(elfHeader(1, 2, 1)), FileMagic::Unknown) << "high byte not 0";
  // b[5] = 2 reads b[16] as the high byte: the little-endian executable header is then type 0x200.
  std::string swapped = elfHeader(1, 2);
  swapped[5] = 2;
  EXPECT_EQ(classify(swapped), FileMagic::Unknown);
  EXPECT_EQ(classify(elfHeader(1, 2).substr(0, 17)), FileMagic::Unknown) << "17 bytes";

  // Mach-O in both byte orders, 32- and 64-bit; the type picks the kind.
  const FileMagic byType[] = {FileMagic::Unknown,
                              FileMagic::MachOObject,
                              FileMagic::MachOExecutable,
                              FileMagic::MachOFixedVmLibrary,
                              FileMagic::MachOCore,
                              FileMagic::MachOPreloadExecutable,
                              FileMagic::MachODynamicLibrary,
                              FileMagic::MachODynamicLinker,
                              FileMagic::MachOBundle,
                              FileMagic::MachODynamicLinker,
                              FileMagic::MachODsymCompanion,
                              FileMagic::Unknown};
  for (int type = 0; type < 12; ++type) {
    for (int last : {0xCE, 0xCF}) {
      std::string big = bytes({0xFE, 0xED, 0xFA, last});
      big.resize(14, '\0');
      big += bytes({0, type});
      EXPECT_EQ(classify(big), byType[type]) << "big-endian type " << type;
      EXPECT_EQ(classify(big.substr(0, 15)), FileMagic::Unknown);
      std::string little = bytes({last, 0xFA, 0xED, 0xFE});
      little.resize(12, '\0');
      little += bytes({type, 0});
      EXPECT_EQ(classify(little), byType[type]) << "little-endian type " << type;
      EXPECT_EQ(classify(little.substr(0, 13)), FileMagic::Unknown);
    }
  }
  std::string wideType = bytes({0xFE, 0xED, 0xFA, 0xCE});
  wideType.resize(14, '\0');
  wideType += bytes({1, 2}); // type 0x102
  EXPECT_EQ(classify(wideType), FileMagic::Unknown);

  EXPECT_EQ(classify(bytes({0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 0x32})), FileMagic::Unknown);
  EXPECT_EQ(classify(bytes({0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 0x02})), FileMagic::MachOUniversal);
  EXPECT_EQ(classify(bytes({0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 0x90})), FileMagic::MachOUniversal)
      << "0x90 is negative as a signed byte";
  EXPECT_EQ(classify(bytes({0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 42})), FileMagic::MachOUniversal);
  EXPECT_EQ(classify(bytes({0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 43})), FileMagic::Unknown);
  EXPECT_EQ(classify(bytes({0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0})), FileMagic::Unknown);

  for (int first : {0xF0, 0x83, 0x84, 0x66, 0x50, 0x4C}) {
    EXPECT_EQ(classify(bytes({first, 1, 0, 0})), FileMagic::CoffObject) << first;
    EXPECT_EQ(classify(bytes({first, 2, 0, 0})), FileMagic::CoffObject) << first;
    EXPECT_EQ(classify(bytes({first, 3, 0, 0})), FileMagic::Unknown) << first;
  }
  for (int first : {0x90, 0x68}) {
    EXPECT_EQ(classify(bytes({first, 2, 0, 0})), FileMagic::CoffObject) << first;
    EXPECT_EQ(classify(bytes({first, 1, 0, 0})), FileMagic::Unknown) << first;
  }
  EXPECT_EQ(classify(bytes({0x64, 0x86, 0, 0})), FileMagic::CoffObject);
  EXPECT_EQ(classify(bytes({0x64, 0x87, 0, 0})), FileMagic::Unknown);
  EXPECT_EQ(classify(bytes({0, 0, 0xFF, 0xFF})), FileMagic::CoffImportLibrary);
  EXPECT_EQ(classify(bytes({0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF})), FileMagic::WindowsResource);
  EXPECT_EQ(classify(bytes({0, 0, 0, 0, 0x20, 0, 0, 0})), FileMagic::CoffObject)
      << "8 bytes: not a resource, but b[1] = 0";
  EXPECT_EQ(classify(bytes({0, 1, 0, 0})), FileMagic::Unknown);

  // PE: the offset at 0x3C points at "PE\0\0" inside the bytes.
  std::string pe(128, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3C] = char(0x40);
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  EXPECT_EQ(classify(pe), FileMagic::PeExecutable);
  EXPECT_EQ(classify(pe.substr(0, 0x43)), FileMagic::Unknown) << "signature cut off";
  EXPECT_EQ(classify(pe.substr(0, 0x44)), FileMagic::PeExecutable);
  EXPECT_EQ(classify(pe.substr(0, 63)), FileMagic::Unknown);
  // An offset near 2^32 must not wrap around to the start of the bytes.
  std::string wrap = pe;
  wrap.replace(0x3C, 4, bytes({0xFE, 0xFF, 0xFF, 0xFF}));
  wrap.replace(0, 2, "MZ");
  EXPECT_EQ(classify(wrap), FileMagic::Unknown);
  for (uint32_t off : {0xFFFFFFFCu, 0xFFFFFFFFu, 0x80000000u, 125u, 124u}) {
    std::string w = pe;
    w.replace(0x3C, 4, bytes({int(off & 0xFF), int(off >> 8 & 0xFF), int(off >> 16 & 0xFF),
                              int(off >> 24)}));
    EXPECT_EQ(classify(w), FileMagic::Unknown) << off;
  }
  pe.replace(124, 4, std::string("PE\0\0", 4));
  pe.replace(0x3C, 4, bytes({124, 0, 0, 0}));
  EXPECT_EQ(classify(pe), FileMagic::PeExecutable) << "signature in the last four bytes";
}

TEST(FileMagic, RandomBytesNeverReadBeyondTheView) {
  // Under the sanitizers: every prefix of random data that starts like each format, copied into a
  // buffer of exactly its size.
  std::mt19937 rng(4242);
  const int starts[] = {0xDE, 'B', '!', 0x7F, 0xFE, 0xCE, 0xCF, 0xCA, 0x4C, 0x90, 0x64, 0, 'M'};
  for (int round = 0; round < 300; ++round) {
    std::string data(size_t(rng() % 200), '\0');
    for (char &c : data) c = char(rng());
    if (!data.empty()) data[0] = char(starts[rng() % 13]);
    if (data.size() > 1 && data[0] == 'M') data[1] = 'Z';
    for (size_t n = 0; n <= data.size(); ++n) {
      std::vector<char> exact(data.begin(), data.begin() + long(n));
      (void)files::classifyContent(StrView(exact.data(), uint32_t(n)));
    }
  }
}

// The kind the ELF header of `path` claims, read with the system's own definitions.
FileMagic elfKindOf(const std::string &path) {
  std::string head = readFile(path);
  if (head.size() < sizeof(Elf32_Ehdr) || std::memcmp(head.data(), ELFMAG, SELFMAG) != 0)
    return FileMagic::Unknown;
  uint16_t type;
  std::memcpy(&type, head.data() + offsetof(Elf32_Ehdr, e_type), 2); // same place in Elf64
  switch (type) {
  case ET_REL: return FileMagic::ElfRelocatable;
  case ET_EXEC: return FileMagic::ElfExecutable;
  case ET_DYN: return FileMagic::ElfSharedObject;
  case ET_CORE: return FileMagic::ElfCore;
  default: return FileMagic::Unknown;
  }
}

TEST(FileMagic, RealBuildProducts) {
  struct Product {
    const char *path;
    FileMagic kind;
  } products[] = {
      {FS_MAGIC_OBJECT, FileMagic::ElfRelocatable},
      {FS_MAGIC_PROGRAM, FileMagic::ElfExecutable},
      {FS_MAGIC_SHARED, FileMagic::ElfSharedObject},
      {FS_MAGIC_ARCHIVE, FileMagic::Archive},
  };
  for (const Product &p : products) {
    FileMagic kind = FileMagic::Unknown;
    ErrorCode ec = files::classifyContent(p.path, kind);
    ASSERT_FALSE(ec) << p.path << ": " << ec.message();
    EXPECT_EQ(kind, p.kind) << p.path;
    if (p.kind != FileMagic::Archive) {
      EXPECT_EQ(elfKindOf(p.path), p.kind) << p.path;
    }
    // The same from the bytes.
    std::string text = readFile(p.path);
    EXPECT_EQ(classify(text), p.kind) << p.path;
  }
  // The test program itself, whatever the toolchain made of it (position-independent or not).
  FileMagic self;
  ASSERT_FALSE(files::classifyContent(FS_MAGIC_SELF, self));
  EXPECT_EQ(self, elfKindOf(FS_MAGIC_SELF));
  EXPECT_NE(self, FileMagic::Unknown);
  bool starts = false;
  ASSERT_FALSE(files::startsWithBytes(FS_MAGIC_ARCHIVE, "!<arch>\n", starts));
  EXPECT_TRUE(starts);
  ASSERT_FALSE(files::startsWithBytes(FS_MAGIC_PROGRAM, "!<arch>\n", starts));
  EXPECT_FALSE(starts);
  ASSERT_FALSE(files::startsWithBytes(FS_MAGIC_PROGRAM, StrView("\x7f" "ELF", 4), starts));
  EXPECT_TRUE(starts);
}

TEST(FileMagic, ShortEmptyAndUnreadableFiles) {
  TempDir dir;
  // Ten bytes: read as they are, no error.
  ASSERT_TRUE(writeFile(dir / "ten", "!<arch>\nxy"));
  FileMagic kind = FileMagic::Unknown;
  EXPECT_FALSE(files::classifyContent(dir / "ten", kind));
  EXPECT_EQ(kind, FileMagic::Archive);
  ASSERT_TRUE(writeFile(dir / "short", "!<arc"));
  kind = FileMagic::Archive;
  EXPECT_FALSE(files::classifyContent(dir / "short", kind));
  EXPECT_EQ(kind, FileMagic::Unknown);
  ASSERT_TRUE(writeFile(dir / "empty", ""));
  kind = FileMagic::Archive;
  EXPECT_FALSE(files::classifyContent(dir / "empty", kind));
  EXPECT_EQ(kind, FileMagic::Unknown);
  // A PE file by path: 32 bytes never reach the header offset.
  std::string pe(256, '\0');
  pe.replace(0, 2, "MZ");
  pe[0x3C] = char(0x80);
  pe.replace(0x80, 4, std::string("PE\0\0", 4));
  ASSERT_TRUE(writeFile(dir / "pe", pe));
  EXPECT_FALSE(files::classifyContent(dir / "pe", kind));
  EXPECT_EQ(kind, FileMagic::Unknown);
  EXPECT_EQ(classify(pe), FileMagic::PeExecutable);

  // Failures leave the result alone.
  kind = FileMagic::Bitcode;
  EXPECT_EQ(files::classifyContent(dir.path(), kind), ErrorCode::fromErrno(EISDIR));
  EXPECT_EQ(files::classifyContent(dir / "missing", kind), ErrorCode::fromErrno(ENOENT));
  EXPECT_EQ(kind, FileMagic::Bitcode);

  // readLeadingBytes: exactly, short (EOVERFLOW with what there was), failures.
  InlineString<4> got;
  EXPECT_FALSE(files::readLeadingBytes(dir / "ten", 8, got));
  EXPECT_EQ(got.str(), "!<arch>\n");
  EXPECT_EQ(files::readLeadingBytes(dir / "ten", 11, got), ErrorCode(EOVERFLOW, genericCategory()));
  EXPECT_EQ(got.str(), "!<arch>\nxy");
  EXPECT_EQ(files::readLeadingBytes(dir / "empty", 1, got), ErrorCode(EOVERFLOW, genericCategory()));
  EXPECT_EQ(got.size(), 0u);
  EXPECT_FALSE(files::readLeadingBytes(dir / "empty", 0, got));
  EXPECT_EQ(files::readLeadingBytes(dir.path(), 4, got), ErrorCode::fromErrno(EISDIR));
  EXPECT_EQ(got.size(), 0u);

  bool starts = true;
  EXPECT_FALSE(files::startsWithBytes(dir / "short", "!<arch>", starts));
  EXPECT_FALSE(starts) << "shorter than the expected bytes";
  EXPECT_FALSE(files::startsWithBytes(dir / "short", "!<a", starts));
  EXPECT_TRUE(starts);
  EXPECT_FALSE(files::startsWithBytes(dir / "short", "!<b", starts));
  EXPECT_FALSE(starts);
  starts = true;
  EXPECT_EQ(files::startsWithBytes(dir / "missing", "x", starts), ErrorCode::fromErrno(ENOENT));
  EXPECT_TRUE(starts);
}

} // namespace
