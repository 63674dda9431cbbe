#ifndef QUILLET_LAUNCH_H
#define QUILLET_LAUNCH_H

// Loading the VM library and handing over to the VM thread.

#include <cstdint>

#include "launcher/launcher.h"

// The two entry points of the VM library.
struct VmEntryPoints {
  CreateTeskVMFn createVm;
  GetDefaultTeskVMInitArgsFn getDefaultArgs;
};

// Opens the VM library at `path` (binding now, symbols global) and finds both entry points.
// On failure writes the loader's reason on standard error and returns false.
bool loadVmLibrary(const char *path, VmEntryPoints *out);

// Runs `function(argument)` on a new joinable thread whose stack size is the low 32 bits of
// `stackSize` when that is positive, and waits for it; when no thread can be created, runs it
// on the calling thread. Returns `presetStatus` when it is non-zero, else the function's result.
int runInNewThread(int (*function)(void *), int64_t stackSize, void *argument, int presetStatus);

// The VM's default thread stack size in bytes as `getDefaultArgs` reports it (0 or less when it
// reports none).
int defaultThreadStack(GetDefaultTeskVMInitArgsFn getDefaultArgs);

#endif
