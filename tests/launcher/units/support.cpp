// Stand-ins for the launcher's shared helpers and for liboru's allocator, so that the catalogue
// and the server-class detection can be tested without the rest of the launcher. They behave
// as the launcher's own: traces on standard output while _launcher_debug is set, messages and a
// newline on standard error. The allocator counts its live blocks so tests can find leaks.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/launcher.h"
#include "launcher/oru.h"
#include "tests/launcher/units/harness.h"

extern "C" {
char _launcher_debug = 0;
}

const char *const kArch = "i386";
const char *const kRelease = "1.6.0_33-b33";

namespace {
long liveBlocks = 0;
}

long oruLiveBlocks() { return liveBlocks; }

void trace(const char *format, ...) {
  if (!_launcher_debug)
    return;
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}

void reportError(const char *message, bool show) {
  if (show)
    fprintf(stderr, "%s\n", message);
}

void reportErrorArg(const char *format, const char *arg, bool show) {
  if (!show)
    return;
  fprintf(stderr, format, arg);
  fputc('\n', stderr);
}

extern "C" {

void *ORU_MemAlloc(int size) {
  void *block = malloc(size > 0 ? static_cast<size_t>(size) : 1);
  if (block == nullptr) {
    fprintf(stderr, "test allocator: out of memory\n");
    abort();
  }
  ++liveBlocks;
  return block;
}

void ORU_MemFree(void *block) {
  if (block == nullptr)
    return;
  --liveBlocks;
  free(block);
}

char *ORU_StringDup(const char *s) {
  size_t size = strlen(s) + 1;
  char *copy = static_cast<char *>(ORU_MemAlloc(static_cast<int>(size)));
  memcpy(copy, s, size);
  return copy;
}
}
