// Crash stack traces: every line in the exact format, the test's own functions named and
// demangled (they are not exported, so their names come from the program's symbol table), in a
// dynamically linked program, in one linked statically like vorn-config, and for real faults.

#include <gtest/gtest.h>

#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <elf.h>
#include <link.h>
#include <regex>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "SignalTestSupport.h"
#include "support/process/Signals.h"
#include "tests/common/TestSupport.h"

using namespace vorn;
using testsupport::ChildResult;
using testsupport::TempDir;

namespace {

struct TraceLine {
  std::string module;
  std::string function; // empty when the line names none
  unsigned offset = 0;
};

// Parses a whole trace, checking every line against the format: the frame number ("%-2d", from
// 0 on), a space, the module name padded to the longest one, a space, "0x" and
// 2 * sizeof(void *) hexadecimal digits, then optionally a space, the function, " + " and the
// decimal offset. Returns false with a reason in `*problem`.
bool parseTrace(const std::string &text, std::vector<TraceLine> *lines, std::string *problem) {
  lines->clear();
  if (text.empty() || text.back() != '\n') {
    *problem = "the trace is empty or does not end with a newline:\n" + text;
    return false;
  }
  const std::regex tail(" 0x[0-9a-f]{" + std::to_string(2 * sizeof(void *)) +
                        "}( (.+) \\+ ([0-9]+))?");
  std::vector<std::string> raw;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    raw.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  size_t width = std::string::npos;
  for (size_t i = 0; i < raw.size(); ++i) {
    const std::string &line = raw[i];
    char number[16];
    std::snprintf(number, sizeof number, "%-2d", int(i));
    std::string prefix = std::string(number) + " ";
    if (line.compare(0, prefix.size(), prefix) != 0) {
      *problem = "line " + std::to_string(i) + " does not start with its number: " + line;
      return false;
    }
    // The module field ends where the address begins.
    std::smatch m;
    const std::string rest = line.substr(prefix.size());
    size_t split = rest.find(" 0x");
    std::string after;
    while (split != std::string::npos && !std::regex_match(after = rest.substr(split), m, tail))
      split = rest.find(" 0x", split + 1);
    if (split == std::string::npos) {
      *problem = "line " + std::to_string(i) + " has no well-formed address part: " + line;
      return false;
    }
    if (width == std::string::npos) width = split;
    if (split != width) {
      *problem = "line " + std::to_string(i) + " pads its module name differently: " + line;
      return false;
    }
    TraceLine parsed;
    parsed.module = rest.substr(0, split);
    while (!parsed.module.empty() && parsed.module.back() == ' ') parsed.module.pop_back();
    if (m[1].matched) {
      parsed.function = m[2].str();
      parsed.offset = unsigned(std::stoul(m[3].str()));
    }
    lines->push_back(parsed);
  }
  size_t longest = 0;
  for (const TraceLine &l : *lines) longest = std::max(longest, l.module.size());
  if (longest != width) {
    *problem = "module names are padded to " + std::to_string(width) + ", not to the longest (" +
               std::to_string(longest) + ")";
    return false;
  }
  return true;
}

// The line that names `function` (its demangled name), or null.
const TraceLine *lineNaming(const std::vector<TraceLine> &lines, const std::string &function) {
  for (const TraceLine &l : lines)
    if (l.function == function) return &l;
  return nullptr;
}

std::string baseName(const std::string &path) { return path.substr(path.rfind('/') + 1); }

std::string ownProgram() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? baseName(std::string(path, size_t(n))) : "";
}

} // namespace

namespace tracetest {

__attribute__((noipa)) void traceInto(std::FILE *out, int depth) {
  if (depth > 0)
    traceInto(out, depth - 1);
  else
    proc::writeStackTrace(out);
  asm volatile("" ::: "memory"); // no tail call: every level keeps its frame
}

__attribute__((noipa)) void crashVia(int kind) {
  signaltest::fault(kind);
  asm volatile("" ::: "memory");
}

} // namespace tracetest

TEST(StackTrace, LinesFollowTheFormatAndNameTheProgramsFunctions) {
  std::FILE *out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  tracetest::traceInto(out, 2);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += char(c);
  std::fclose(out);

  std::vector<TraceLine> lines;
  std::string problem;
  ASSERT_TRUE(parseTrace(text, &lines, &problem)) << problem;
  const TraceLine *own = lineNaming(lines, "tracetest::traceInto(_IO_FILE*, int)");
  ASSERT_NE(own, nullptr) << text;
  EXPECT_EQ(own->module, ownProgram());
  int levels = 0;
  for (const TraceLine &l : lines) levels += l.function == own->function;
  EXPECT_EQ(levels, 3) << text;
  // The program's own frames lie inside their functions.
  EXPECT_LT(own->offset, 4096u);
  EXPECT_NE(lineNaming(lines, "main"), nullptr) << text;
}

TEST(StackTrace, RealFaultsPrintTheTraceThenEndTheProcess) {
  TempDir dir;
  const std::string file = dir / "file";
  struct Fault {
    int kind;
    const char *function;
  };
  for (Fault f : {Fault{SIGSEGV, "signaltest::writeToGuardPage()"},
                  Fault{SIGFPE, "signaltest::divideByZero(int)"}}) {
    SCOPED_TRACE(strsignal(f.kind));
    ASSERT_TRUE(testsupport::writeFile(file, "x"));
    ChildResult r = signaltest::runChild([&] {
      proc::enableCrashStackTrace();
      proc::registerSignalCleanupFile(file);
      tracetest::crashVia(f.kind);
      return 0;
    });
    EXPECT_EQ(r.signal, f.kind);
    EXPECT_NE(access(file.c_str(), F_OK), 0);
    std::vector<TraceLine> lines;
    std::string problem;
    ASSERT_TRUE(parseTrace(r.err, &lines, &problem)) << problem;
    const TraceLine *faulting = lineNaming(lines, f.function);
    ASSERT_NE(faulting, nullptr) << r.err;
    EXPECT_EQ(faulting->module, ownProgram());
    EXPECT_NE(lineNaming(lines, "tracetest::crashVia(int)"), nullptr) << r.err;
    // The trace comes from inside the handler, so the faulting function comes after it.
    EXPECT_NE(lineNaming(lines, "vorn::proc::writeStackTrace(_IO_FILE*)"), nullptr) << r.err;
  }
}

TEST(StackTrace, StaticallyLinkedProgramNamesItsOwnFunctions) {
  // The helper is linked like vorn-config (statically, except in the sanitizer build), where the
  // dynamic loader can name nothing.
  TempDir dir;
  const std::string file = dir / "file";
  ASSERT_TRUE(testsupport::writeFile(file, "x"));
  ChildResult r = testsupport::runProgram(PROCESS_STATIC_CRASH, {file});
  r.err = signaltest::withoutEmulatorNote(r.err);
  EXPECT_EQ(r.signal, SIGSEGV) << r.err;
  EXPECT_NE(access(file.c_str(), F_OK), 0);
  std::vector<TraceLine> lines;
  std::string problem;
  ASSERT_TRUE(parseTrace(r.err, &lines, &problem)) << problem;
  const TraceLine *deep = lineNaming(lines, "staticcrash::crashDeep(int)");
  ASSERT_NE(deep, nullptr) << r.err;
  EXPECT_EQ(deep->module, baseName(PROCESS_STATIC_CRASH));
  int levels = 0;
  for (const TraceLine &l : lines) levels += l.function == deep->function;
  EXPECT_EQ(levels, 3) << r.err;
  EXPECT_NE(lineNaming(lines, "signaltest::writeToGuardPage()"), nullptr) << r.err;
  EXPECT_NE(lineNaming(lines, "main"), nullptr) << r.err;
}

TEST(StackTrace, ShippedToolKeepsTheSymbolTableItsTracesNeed) {
  // A trace in the statically linked vorn-config can name its functions only from its own
  // symbol table: the staged program must not be stripped of it.
  std::string image = testsupport::readFile(VORN_TOOLKIT_DIR "/bin/vorn-config");
  ASSERT_GT(image.size(), sizeof(ElfW(Ehdr)));
  const auto *header = reinterpret_cast<const ElfW(Ehdr) *>(image.data());
  ASSERT_EQ(std::memcmp(header->e_ident, ELFMAG, SELFMAG), 0);
  ASSERT_LE(header->e_shoff + uint64_t(header->e_shnum) * sizeof(ElfW(Shdr)), image.size());
  const auto *sections = reinterpret_cast<const ElfW(Shdr) *>(image.data() + header->e_shoff);
  bool named = false;
  for (unsigned i = 0; i < header->e_shnum && !named; ++i) {
    if (sections[i].sh_type != SHT_SYMTAB) continue;
    const ElfW(Shdr) &strings = sections[sections[i].sh_link];
    const char *names = image.data() + strings.sh_offset;
    const auto *symbols = reinterpret_cast<const ElfW(Sym) *>(image.data() + sections[i].sh_offset);
    for (size_t k = 0; k < sections[i].sh_size / sizeof(ElfW(Sym)); ++k)
      if (ELF64_ST_TYPE(symbols[k].st_info) == STT_FUNC &&
          std::strstr(names + symbols[k].st_name, "runVornConfig"))
        named = true;
  }
  EXPECT_TRUE(named) << "no function symbol for the query driver in the staged vorn-config";
}
