// Stand-ins for the launcher's surroundings and the run harness of LauncherHarness.h.

#include "stress/launcher/LauncherHarness.h"

#include <setjmp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "launcher/catalogue.h"
#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "launcher/serverclass.h"
#include "stress/StressDriver.h"

extern char **environ;

namespace launcherstress {

StandIns standIns;

namespace {

std::unordered_set<void *> *liveBlocks;
bool inRun = false;
jmp_buf runEnd;
Outcome *current = nullptr;

void *track(void *block) {
  if (!liveBlocks) liveBlocks = new std::unordered_set<void *>;
  liveBlocks->insert(block);
  return block;
}

// A machine that is a server-class one exactly when the knob says so: 2 GiB and two processors
// without hyper-threading, or 1 GiB and one.
const MachineFacts standInMachine = {
    [] { return standIns.serverClass ? 0x80000L : 0x40000L; },
    [] { return 4096L; },
    [] { return standIns.serverClass ? 2L : 1L; },
    [](uint32_t, CpuidRegisters *) { return false; },
};

} // namespace

std::string expandedClassPath(const std::string &path) { return "expanded(" + path + ")"; }

Outcome run(void (*body)(void *), void *context) {
  setMachineFacts(standInMachine);
  Outcome outcome;
  char *outText = nullptr, *errText = nullptr;
  size_t outSize = 0, errSize = 0;
  FILE *savedOut = stdout, *savedErr = stderr;
  FILE *outStream = open_memstream(&outText, &outSize);
  FILE *errStream = open_memstream(&errText, &errSize);
  STRESS_CHECK(outStream && errStream, "cannot capture the launcher's output");
  stdout = outStream;
  stderr = errStream;
  current = &outcome;
  inRun = true;
  if (setjmp(runEnd) == 0) body(context);
  inRun = false;
  current = nullptr;
  stdout = savedOut;
  stderr = savedErr;
  fclose(outStream);
  fclose(errStream);
  outcome.out.assign(outText, outSize);
  outcome.err.assign(errText, errSize);
  free(outText);
  free(errText);
  for (char **e = environ; e && *e; ++e) outcome.environment.push_back(*e);

  vmOptions = VmOptionList{nullptr, 0, 0};
  vmCatalogue = VmCatalogue{nullptr, 0, 0};
  vmThreadStack = 0;
  versionOnly = versionFirst = helpWanted = extraHelpWanted = suppressExitMessage = false;
  if (liveBlocks) {
    for (void *block : *liveBlocks) free(block);
    liveBlocks->clear();
  }
  // The launcher's cached location was one of those blocks; the next run may be elsewhere.
  forgetCurrentExecutable();
  return outcome;
}

} // namespace launcherstress

using launcherstress::standIns;

extern "C" {

void __real_exit(int status) __attribute__((noreturn));

void __wrap_exit(int status) {
  if (!launcherstress::inRun) __real_exit(status);
  launcherstress::current->exited = true;
  launcherstress::current->status = status;
  longjmp(launcherstress::runEnd, 1);
}

int __wrap_execv(const char *path, char *const argv[]) {
  STRESS_CHECK(launcherstress::inRun, "execv outside a launcher run");
  launcherstress::current->execed = true;
  launcherstress::current->execPath = path;
  for (char *const *a = argv; *a; ++a) launcherstress::current->execArgs.push_back(*a);
  longjmp(launcherstress::runEnd, 1);
}

ssize_t __real_readlink(const char *path, char *buffer, size_t size);

// The kernel's answer for the launcher's own location is the knob's; every other link is real.
ssize_t __wrap_readlink(const char *path, char *buffer, size_t size) {
  if (!launcherstress::inRun || strcmp(path, "/proc/self/exe") != 0) return __real_readlink(path, buffer, size);
  if (!standIns.executable) {
    errno = ENOENT;
    return -1;
  }
  size_t n = std::min(strlen(standIns.executable), size);
  memcpy(buffer, standIns.executable, n);
  return ssize_t(n);
}

void *ORU_MemAlloc(int size) {
  STRESS_CHECK(size >= 0, "ORU_MemAlloc(%d)", size);
  void *block = malloc(size > 0 ? size_t(size) : 1);
  STRESS_CHECK(block != nullptr, "out of memory");
  return launcherstress::track(block);
}

void ORU_MemFree(void *block) {
  if (!block) return;
  STRESS_CHECK(launcherstress::liveBlocks && launcherstress::liveBlocks->erase(block) == 1,
               "ORU_MemFree of a block that is not live");
  free(block);
}

char *ORU_StringDup(const char *s) {
  size_t n = strlen(s) + 1;
  char *copy = static_cast<char *>(ORU_MemAlloc(int(n)));
  memcpy(copy, s, n);
  return copy;
}

char *ORU_WildcardExpandClasspath(const char *classpath) {
  if (!classpath) return nullptr;
  return ORU_StringDup(launcherstress::expandedClassPath(classpath).c_str());
}

int ORU_ParseManifest(char *zubPath, ManifestData *out) {
  standIns.manifestCalls.push_back(zubPath ? zubPath : "(null)");
  memset(out, 0, sizeof *out);
  if (standIns.manifestStatus == 0) *out = standIns.manifest;
  return standIns.manifestStatus;
}

void ORU_FreeManifest(void) {}

void *ORU_ZubUnpackFile(const char *, const char *, int *) { return nullptr; }

} // extern "C"
