// vorn-config's command line, run in process (in a forked child, since misuse ends the process
// through exit()): command lines of its options, component names in any case, unknown and
// mangled options and names. Every run must end with status 0, or with status 1 after the usage
// text or the unknown-component message, never with a signal or a sanitizer report; the answers
// come one line per option in command-line order, the library line last.

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "stress/StressDriver.h"
#include "tests/common/TestSupport.h"
#include "tools/vorn-config/ComponentCatalogue.h"
#include "tools/vorn-config/QueryDriver.h"

namespace {

const char *const kOptions[] = {"--version", "--prefix", "--src-root", "--obj-root", "--bindir",
                                "--includedir", "--libdir", "--cppflags", "--cflags", "--cxxflags",
                                "--ldflags", "--libs", "--libnames", "--libfiles", "--components",
                                "--targets-built", "--host-target", "--build-mode"};

const vorn::BuildConfig kConfig = {"3.4-stress", "/stress/src", "/stress/obj", "Stress",
                                   "/include/olen-private", "x-stress-linux", "X86 ", "-lm ",
                                   "", " -DSTRESS", " -O1", " -O1 -fno-rtti"};

std::string usage; // what the program writes when it is given no argument

bool isLibraryOption(const std::string &a) {
  return a == "--libs" || a == "--libnames" || a == "--libfiles";
}

bool knownComponent(const std::string &name) {
  std::string lower;
  for (char c : name) lower += c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
  for (uint32_t i = 0; i < vorn::componentCount; ++i)
    if (lower == vorn::componentCatalogue[i].name) return true;
  return false;
}

bool inChild = false;

testsupport::ChildResult runTool(std::vector<std::string> args) {
  return testsupport::runInChild([&]() {
    inChild = true;
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    // As main() returns: through exit(), which flushes the standard output stream.
    std::exit(vorn::runVornConfig(int(args.size()), argv.data(), kConfig));
    return 0;
  });
}

bool sanitizerReport(const std::string &err) {
  return err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos;
}

void setUp() {
  // The children's output is captured in files: keep them in the scratch directory, which is on
  // memory-backed storage where there is some.
  setenv("TMPDIR", stress::scratchDir().c_str(), 1);
  testsupport::ChildResult r = runTool({"vorn-config"});
  usage = r.err;
  STRESS_CHECK(r.status == 1 && usage.compare(0, 7, "usage: ") == 0,
               "vorn-config without arguments: status %d, \"%s\"", r.status, r.err.c_str());
}

std::string joined(const std::vector<std::string> &v) {
  std::string s;
  for (const std::string &a : v) s += "[" + a + "] ";
  return s;
}

} // namespace

// The leak check at exit costs more than the whole run; the children exit with what they hold.
extern "C" int __lsan_is_turned_off() { return inChild; }

STRESS_TARGET("stress-vorn-config", 256, 150, &setUp) {
  std::vector<std::string> args = {in.oneIn(16) ? "" : "vorn-config"};
  for (uint32_t n = in.length(8); n > 0; --n) {
    std::string a;
    switch (in.below(5)) {
    case 0:
    case 1: a = in.pick(kOptions); break;
    case 2: a = vorn::componentCatalogue[in.below(vorn::componentCount)].name; break;
    case 3: a = in.coin() ? "--libs" : in.text(6, "-abcdeflsx"); break;
    default: a = in.pick(kOptions); stress::mutate(in, a, "-aZ", 2); break;
    }
    if (in.oneIn(6)) for (char &c : a) if (c >= 'a' && c <= 'z' && in.coin()) c = char(c - 'a' + 'A');
    a.erase(std::remove(a.begin(), a.end(), '\0'), a.end());
    args.push_back(a);
  }

  // The model: the answer lines before the run stops, and how it stops.
  bool misuse = args.size() <= 1, sawOption = false, wantLibraries = false;
  size_t lines = 0;
  std::vector<std::string> components;
  for (size_t i = 1; i < args.size() && !misuse; ++i) {
    const std::string &a = args[i];
    if (a.empty() || a[0] != '-') {
      components.push_back(a);
      continue;
    }
    bool known = false;
    for (const char *o : kOptions) known = known || a == o;
    if (!known) {
      misuse = true;
      break;
    }
    sawOption = true;
    if (isLibraryOption(a)) wantLibraries = true;
    else ++lines;
  }
  std::string wantErr;
  int wantStatus = 0;
  if (misuse || !sawOption) {
    wantStatus = 1;
    wantErr = usage;
  } else if (wantLibraries) {
    for (const std::string &c : components)
      if (!knownComponent(c)) {
        wantStatus = 1;
        wantErr = "vorn-config: unknown component name: " + c + "\n";
        break;
      }
    if (wantStatus == 0) ++lines;
  } else if (!components.empty()) {
    wantStatus = 1;
    wantErr = "vorn-config: error: components given, but unused\n\n" + usage;
  }

  testsupport::ChildResult r = runTool(args);
  const std::string cmd = joined(args);
  STRESS_CHECK(r.signal == 0 && !sanitizerReport(r.err), "%s: ended by signal %d: %s", cmd.c_str(),
               r.signal, r.err.c_str());
  STRESS_CHECK(r.status == wantStatus && r.err == wantErr, "%s: status %d, stderr \"%s\", want %d, \"%s\"",
               cmd.c_str(), r.status, r.err.c_str(), wantStatus, wantErr.c_str());
  size_t newlines = size_t(std::count(r.out.begin(), r.out.end(), '\n'));
  STRESS_CHECK(newlines == lines && (r.out.empty() || r.out.back() == '\n'),
               "%s: %zu answer lines, want %zu:\n%s", cmd.c_str(), newlines, lines, r.out.c_str());
  if (wantStatus == 0 && args.size() > 1 && args[1] == "--version")
    STRESS_CHECK(r.out.compare(0, 11, "3.4-stress\n") == 0, "%s: the first answer is not the version", cmd.c_str());
}
