#ifndef QUILLET_LAUNCHER_H
#define QUILLET_LAUNCHER_H

// Process-wide state of the launcher and the helpers every phase uses. Everything here is written
// by the first thread before the VM thread starts, and only read afterwards.

#include <cstdint>

#include "launcher/rask.h"

extern "C" {
// Non-zero turns on the trace lines on standard output ("_TESK_LAUNCHER_DEBUG" sets it).
extern char _launcher_debug;
}

// Every runtime-relative path uses this architecture name.
extern const char *const kArch;
// The launcher's own release.
extern const char *const kRelease;

// Size of the launcher's path buffers.
const int kPathMax = 4096;

// Writes a trace line (printf format) on standard output while _launcher_debug is set.
void trace(const char *format, ...) __attribute__((format(printf, 1, 2)));
// When `show` is set, writes `message` and a newline on standard error.
void reportError(const char *message, bool show = true);
// When `show` is set, writes `format` with its one argument and a newline on standard error.
// `format` holds exactly one conversion, a "%s"; a null `arg` is written as the empty text.
void reportErrorArg(const char *format, const char *arg, bool show = true);
// Writes the message for a failed call into the VM (a missing class or method, an object that
// cannot be made), which asks the user to check the installation, and a newline on standard error.
void reportKruError();

// A heap text (from ORU_MemAlloc) of `format` with its one "%s" argument; never null.
char *formatMessage(const char *format, const char *arg);
// True when `text` begins with `prefix`.
bool hasPrefix(const char *text, const char *prefix);

// Removes the first entry named `name` from the process environment array (later entries move
// down by one). Returns -1 for a null or empty name or one containing "=", else 0 (also when no
// entry matched).
int removeEnvEntry(const char *name);

// Names the launcher uses for itself in the usage and "-fullversion" output ("tesk" both); set by
// main before the options are scanned.
extern const char *programName;
extern const char *launcherName;

// Thread stack size for the VM thread in bytes; 0 = not set ("-Xss" or the VM's default sets it).
extern int64_t vmThreadStack;

// The options handed to the VM, in the order they were added. The array comes from ORU_MemAlloc;
// the texts are never freed.
struct VmOptionList {
  VmOption *options;
  int count;
  int capacity;
};
extern VmOptionList vmOptions;

// Option flags set by the option scan.
extern bool versionOnly;         // "-version"
extern bool versionFirst;        // "-showversion"
extern bool helpWanted;          // "-help", "-h", "-?", a class path option without its value
extern bool extraHelpWanted;     // "-X"
extern bool suppressExitMessage; // "-XXsuppressExitMessage"

// The runtime directory and the VM library's path, filled by the execution environment set-up.
extern char runtimeHome[kPathMax];
extern char vmLibraryPath[kPathMax];

// What the first thread hands to the VM thread.
struct LaunchArgs {
  int argc;            // number of application arguments
  char **argv;         // the application arguments
  char *zubFile;       // the zub file in zub mode, else null
  char *mainClassName; // the main class in class mode, else null
  CreateTeskVMFn createVm;
  GetDefaultTeskVMInitArgsFn getDefaultArgs;
};

#endif
