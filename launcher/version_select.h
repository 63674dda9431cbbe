#ifndef QUILLET_VERSION_SELECT_H
#define QUILLET_VERSION_SELECT_H

// Runtime version selection: a version request from the command line or a zub file's manifest
// may hand the run over to another installed runtime's launcher.

#include "launcher/oru.h"

// Looks at the leading options of (argc, argv) and replaces the process by the launcher of
// another runtime when the request names one. Returns only when this launcher goes on; it
// changes nothing but the environment (the splash hand-off variables and, before a hand-over,
// "_TESK_VERSION_SET"). Skipped entirely when "_TESK_VERSION_SET" is set (a launcher that was
// selected this way). Every failure ends the process with status 1 and a message.
// `argv` must hold `argc` texts followed by a null.
void chooseRuntimeRelease(int argc, char **argv);

// Searches the installed runtimes for the latest release that `request.versionSpec` (which must
// be a well-formed, non-null version request) accepts: "/usr/tesk" alone when
// `request.restrictSearch` is set, else the directories of "TESK_VERSION_PATH", else
// HOME/tesk and "/usr/tesk". The first directory that holds an acceptable runtime with a
// launcher decides. Returns "DIRECTORY/ENTRY" from ORU_MemAlloc, or null when none is found.
char *findBestRuntime(const ManifestData &request);

// True when DIRECTORY/ENTRY/bin/tesk is an executable file and that path fits in the launcher's
// 4096-byte path buffers.
bool runtimeLauncherExists(const char *directory, const char *entry);

// Replaces the process by the launcher of the runtime at `runtime`, passing `argv` (argument 0
// is replaced by "tesk"; the vector must have room for argument 0 and end with a null). Returns
// only when the running launcher already lies inside that runtime; any failure ends the process
// with status 1 and a message.
void execChosenRuntime(const char *runtime, char **argv);

#endif
