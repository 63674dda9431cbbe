#ifndef QUILLET_ENVIRONMENT_H
#define QUILLET_ENVIRONMENT_H

// Where the launcher, its home, the runtime and the VM library are, and the library search path
// the VM needs (the process re-executes itself to put it in place).

// The absolute path of the running launcher, from "/proc/self/exe" or else by resolving
// argument 0 of `argv` (which may be null once the path is known). Computed once and cached; a
// failure is not cached. The result must not be freed.
const char *currentExecutable(char **argv);

// Forgets the cached path without freeing it, so that the next currentExecutable() computes it
// again: for code that runs the launcher's phases more than once in one process.
void forgetCurrentExecutable();

// The absolute (canonical when possible) path of `name` in `directory` when that is an existing,
// owner-executable file that is not a directory; else null. The result comes from ORU_MemAlloc.
char *resolveExecutable(const char *directory, const char *name);

// Fills `buffer` (`size` bytes) with the application home: the parent of the "bin" directory
// that holds the launcher, directly or one level down. False, with an empty buffer where it was
// written, when there is none.
bool homeFromExecutable(char *buffer, int size);

// Fills `buffer` (`size` bytes) with the runtime directory: the home, or its "ubo" subdirectory,
// whichever holds lib/ARCH/libtesk.so. False, with a message on standard error, when neither does.
bool findRuntimeDir(char *buffer, int size, const char *arch);

// Sets up the execution environment: drops the data model options, finds the runtime directory
// and the VM library (removing the VM selection options from `*argc`/`*argv`), and re-executes
// the launcher with `originalArgv` when the VM's directories are not yet on the library search
// path. Returns only when the process goes on as it is, with both buffers filled; every failure
// ends the process with its status.
void prepareExecution(int *argc, char ***argv, char *runtimeDir, int runtimeDirSize,
                      char *libraryPath, int libraryPathSize, char **originalArgv);

#endif
