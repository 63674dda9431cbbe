// The crash stack trace of support/process/Signals.h. It lives apart from the signal handling so
// that programs that never ask for a trace (vorn-config) do not link the unwinder, the demangler
// and the symbol-table reader.
//
// The dynamic loader names only exported functions of dynamically loaded modules, and nothing at
// all in a statically linked program. Frames it cannot name are looked up in the module file's
// own symbol table (.symtab, else .dynsym), read at crash time through a read-only mapping of the
// file ("/proc/self/exe" for the program itself): no allocation, no start-up cost, and the names
// are there as long as the file is not stripped.

#include "support/process/Signals.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorn {
namespace proc {
namespace {

constexpr int maxFrames = 256;
const char unknownModule[] = "(unknown)";

// A read-only mapping of an ELF file of the running program's class, with its symbol table.
class ElfImage {
public:
  ElfImage() = default;
  ~ElfImage() { close(); }
  ElfImage(const ElfImage &) = delete;
  ElfImage &operator=(const ElfImage &) = delete;

  // Maps the file at `path`; false (and nothing mapped) when it is not a readable ELF file with
  // a symbol table.
  bool open(const char *path);
  void close() {
    if (base) ::munmap(const_cast<unsigned char *>(base), size);
    base = nullptr;
    size = 0;
    symbols = nullptr;
    symbolCount = 0;
  }
  // The name of the function whose code holds `address` (a file address: before relocation by
  // the module's load bias), and its start in `*start`; null when no function holds it.
  const char *functionAt(uintptr_t address, uintptr_t *start) const;

private:
  const unsigned char *base = nullptr;
  size_t size = 0;
  const ElfW(Sym) *symbols = nullptr;
  size_t symbolCount = 0;
  const char *names = nullptr;
  size_t namesSize = 0;
};

#if __SIZEOF_POINTER__ == 8
constexpr unsigned char ownClass = ELFCLASS64;
#else
constexpr unsigned char ownClass = ELFCLASS32;
#endif

bool ElfImage::open(const char *path) {
  close();
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status;
  void *mapped = MAP_FAILED;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
      uint64_t(status.st_size) >= sizeof(ElfW(Ehdr)) && uint64_t(status.st_size) <= SIZE_MAX) {
    size = size_t(status.st_size);
    mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  }
  ::close(fd);
  if (mapped == MAP_FAILED) {
    size = 0;
    return false;
  }
  base = static_cast<const unsigned char *>(mapped);

  // Everything is checked against the file's size: a damaged file must not fault in a handler.
  const auto *header = reinterpret_cast<const ElfW(Ehdr) *>(base);
  auto within = [&](uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
  };
  if (std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 || header->e_ident[EI_CLASS] != ownClass ||
      header->e_shentsize != sizeof(ElfW(Shdr)) ||
      !within(header->e_shoff, uint64_t(header->e_shnum) * sizeof(ElfW(Shdr)))) {
    close();
    return false;
  }
  const auto *sections = reinterpret_cast<const ElfW(Shdr) *>(base + header->e_shoff);
  const ElfW(Shdr) *table = nullptr;
  for (unsigned wanted : {unsigned(SHT_SYMTAB), unsigned(SHT_DYNSYM)}) {
    for (unsigned i = 0; i < header->e_shnum && !table; ++i)
      if (sections[i].sh_type == wanted) table = &sections[i];
    if (table) break;
  }
  if (!table || table->sh_entsize != sizeof(ElfW(Sym)) || table->sh_link >= header->e_shnum ||
      !within(table->sh_offset, table->sh_size)) {
    close();
    return false;
  }
  const ElfW(Shdr) &strings = sections[table->sh_link];
  if (!within(strings.sh_offset, strings.sh_size)) {
    close();
    return false;
  }
  symbols = reinterpret_cast<const ElfW(Sym) *>(base + table->sh_offset);
  symbolCount = table->sh_size / sizeof(ElfW(Sym));
  names = reinterpret_cast<const char *>(base + strings.sh_offset);
  namesSize = strings.sh_size;
  return true;
}

const char *ElfImage::functionAt(uintptr_t address, uintptr_t *start) const {
  const ElfW(Sym) *best = nullptr, *label = nullptr;
  for (size_t i = 0; i < symbolCount; ++i) {
    const ElfW(Sym) &s = symbols[i];
    unsigned type = ELF64_ST_TYPE(s.st_info);
    if ((type != STT_FUNC && type != STT_GNU_IFUNC && type != STT_NOTYPE) ||
        s.st_shndx == SHN_UNDEF || s.st_shndx >= SHN_LORESERVE || s.st_name == 0)
      continue;
    if (s.st_name >= namesSize || !std::memchr(names + s.st_name, 0, namesSize - s.st_name))
      continue;
    if (s.st_size == 0) {
      // A label without a size (hand-written code such as the signal return trampoline) names
      // only its own first instruction.
      if (uintptr_t(s.st_value) == address && !label) label = &s;
      continue;
    }
    if (type == STT_NOTYPE || address - uintptr_t(s.st_value) >= uintptr_t(s.st_size)) continue;
    // Of aliases and nested ranges, the innermost one; of equal ones, a global name.
    if (!best || s.st_value > best->st_value ||
        (s.st_value == best->st_value && ELF64_ST_BIND(best->st_info) == STB_LOCAL &&
         ELF64_ST_BIND(s.st_info) != STB_LOCAL))
      best = &s;
  }
  if (!best) best = label;
  if (!best) return nullptr;
  *start = uintptr_t(best->st_value);
  return names + best->st_name;
}

// The loaded module whose segments hold an address, from the program headers (which a statically
// linked program has too).
struct ModuleSearch {
  uintptr_t address;
  const char *name; // "" for the program itself
  uintptr_t bias;
  bool found;
};

int findModule(struct dl_phdr_info *info, size_t, void *data) {
  auto *search = static_cast<ModuleSearch *>(data);
  for (unsigned i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr) &segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    if (search->address - (info->dlpi_addr + segment.p_vaddr) < segment.p_memsz) {
      search->name = info->dlpi_name ? info->dlpi_name : "";
      search->bias = info->dlpi_addr;
      search->found = true;
      return 1;
    }
  }
  return 0;
}

// What is known about one frame.
struct FrameInfo {
  const char *module = nullptr;   // the module's path; null when unknown
  const char *function = nullptr; // the (mangled) function name; null when unknown
  uintptr_t start = 0;            // the function's address
};

// Symbol tables of the modules met so far in this trace; a trace seldom crosses more than a few.
class ImageCache {
public:
  const ElfImage *get(const char *path) {
    for (unsigned i = 0; i < used; ++i)
      if (std::strcmp(paths[i], path) == 0) return ok[i] ? &images[i] : nullptr;
    unsigned slot = used < slots ? used++ : (next++ % slots);
    paths[slot] = path;
    ok[slot] = images[slot].open(path);
    return ok[slot] ? &images[slot] : nullptr;
  }

private:
  static constexpr unsigned slots = 4;
  ElfImage images[slots];
  const char *paths[slots] = {};
  bool ok[slots] = {};
  unsigned used = 0, next = 0;
};

// The program's own file, for its frames.
struct Program {
  char path[PATH_MAX];
  Program() {
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
      // Without /proc: the name it was started by, which may still work relative to the start.
      std::strncpy(path, program_invocation_name ? program_invocation_name : "", sizeof path - 1);
      n = ssize_t(std::strlen(path));
    }
    path[n] = '\0';
  }
};

FrameInfo resolve(void *address, const Program &program, ImageCache *cache) {
  FrameInfo frame;
  Dl_info info;
  if (dladdr(address, &info) != 0) {
    if (info.dli_fname && *info.dli_fname) frame.module = info.dli_fname;
    if (info.dli_sname) {
      frame.function = info.dli_sname;
      frame.start = uintptr_t(info.dli_saddr);
      return frame;
    }
  }
  ModuleSearch search = {uintptr_t(address), nullptr, 0, false};
  dl_iterate_phdr(findModule, &search);
  if (!search.found) return frame;
  const char *file = *search.name ? search.name : program.path;
  if (!frame.module && *file) frame.module = file;
  if (!cache || !*file) return frame;
  if (const ElfImage *image = cache->get(file)) {
    uintptr_t at = uintptr_t(address) - search.bias, start = 0;
    frame.function = image->functionAt(at, &start);
    // A return address can lie just past a function that ends with a call.
    if (!frame.function && at > 0) frame.function = image->functionAt(at - 1, &start);
    if (frame.function) frame.start = start + search.bias;
  }
  return frame;
}

const char *displayName(const char *module) {
  if (!module) return unknownModule;
  const char *slash = std::strrchr(module, '/');
  return slash ? slash + 1 : module;
}

void writeTraceToStderr(void *) { writeStackTrace(stderr); }

} // namespace

void writeStackTrace(std::FILE *stream) {
  void *frames[maxFrames];
  int depth = backtrace(frames, maxFrames);
  if (depth <= 0) return;
  Program program;

  int width = 0;
  for (int i = 0; i < depth; ++i) {
    int length = int(std::strlen(displayName(resolve(frames[i], program, nullptr).module)));
    if (length > width) width = length;
  }

  ImageCache cache;
  for (int i = 0; i < depth; ++i) {
    FrameInfo frame = resolve(frames[i], program, &cache);
    std::fprintf(stream, "%-2d", i);
    std::fprintf(stream, " %-*s", width, displayName(frame.module));
    std::fprintf(stream, " %#0*lx", int(2 + 2 * sizeof(void *)),
                 static_cast<unsigned long>(uintptr_t(frames[i])));
    if (frame.function) {
      // Only mangled names go to the demangler, which would read a plain C name such as "f" as
      // a type.
      char *demangled = nullptr;
      int status = -1;
      if (frame.function[0] == '_' && frame.function[1] == 'Z')
        demangled = abi::__cxa_demangle(frame.function, nullptr, nullptr, &status);
      std::fprintf(stream, " %s", status == 0 && demangled ? demangled : frame.function);
      std::free(demangled);
      std::fprintf(stream, " + %u", unsigned(uintptr_t(frames[i]) - frame.start));
    }
    std::fputc('\n', stream);
  }
}

void enableCrashStackTrace() {
  // The first trace of a dynamically linked program loads the unwinder; do it now rather than in
  // a crashing process.
  void *frame;
  backtrace(&frame, 1);
  addCrashCallback(writeTraceToStderr, nullptr);
}

} // namespace proc
} // namespace vorn
