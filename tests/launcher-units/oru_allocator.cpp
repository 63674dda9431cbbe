// A stand-in for liboru's allocator (ORU_MemAlloc, ORU_MemFree, ORU_StringDup) that counts its
// live blocks. Everything else the tests call is the launcher's own.

#include "tests/launcher-units/oru_allocator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/oru.h"

namespace {
long liveBlocks = 0;
}

long oruLiveBlocks() { return liveBlocks; }

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
