// Loading the VM library and running the VM thread.

#include "launcher/launch.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <pthread.h>

// The loader's reason for the last failure, copied: the next loader call may free its text.
static void takeLoaderError(char *reason, size_t size) {
  const char *text = dlerror();
  snprintf(reason, size, "%s", text ? text : "");
}

bool loadVmLibrary(const char *path, VmEntryPoints *out) {
  trace("RASK path is %s\n", path);
  char reason[2 * kPathMax] = "";
  void *library = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
  if (!library) {
    takeLoaderError(reason, sizeof reason);
    fprintf(stderr, "dl failure on line %d", 718);
  } else {
    out->createVm = reinterpret_cast<CreateTeskVMFn>(dlsym(library, "KRU_CreateTeskVM"));
    if (!out->createVm)
      takeLoaderError(reason, sizeof reason);
    out->getDefaultArgs = reinterpret_cast<GetDefaultTeskVMInitArgsFn>(
        dlsym(library, "KRU_GetDefaultTeskVMInitArgs"));
    if (!out->getDefaultArgs && out->createVm)
      takeLoaderError(reason, sizeof reason);
    if (out->createVm && out->getDefaultArgs)
      return true;
  }
  fprintf(stderr, "Error: failed %s, because %s\n", path, reason);
  return false;
}

namespace {
struct ThreadStart {
  int (*function)(void *);
  void *argument;
};

void *threadEntry(void *p) {
  ThreadStart *start = static_cast<ThreadStart *>(p);
  return reinterpret_cast<void *>(intptr_t(start->function(start->argument)));
}
} // namespace

int runInNewThread(int (*function)(void *), int64_t stackSize, void *argument, int presetStatus) {
  int result;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
  if (stackSize > 0)
    pthread_attr_setstacksize(&attr, size_t(uint32_t(uint64_t(stackSize))));
  ThreadStart start = {function, argument};
  pthread_t thread;
  if (pthread_create(&thread, &attr, threadEntry, &start) == 0) {
    void *value = nullptr;
    pthread_join(thread, &value);
    result = int(reinterpret_cast<intptr_t>(value));
  } else {
    result = function(argument);
  }
  pthread_attr_destroy(&attr);
  return presetStatus != 0 ? presetStatus : result;
}

int defaultThreadStack(GetDefaultTeskVMInitArgsFn getDefaultArgs) {
  int32_t record[kDefaultArgsWords];
  memset(record, 0, sizeof record);
  record[kDefaultArgsVersionWord] = kDefaultArgsVersion;
  getDefaultArgs(record);
  return record[kDefaultArgsStackWord];
}
