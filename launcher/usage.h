#ifndef QUILLET_USAGE_H
#define QUILLET_USAGE_H

// The version and usage output, run on the VM thread right after the VM has been created. The
// texts come from the runtime's own classes ("mox/misc/Version", "mox/launcher/LauncherHelp");
// the launcher hands them what only it knows: the program name, the VM catalogue and the
// server-class verdict.

#include "launcher/launcher.h"

// Shows the version ("-version", "-showversion") and the usage text ("-help", "-X", or no main
// class and no zub file) as the option flags and `args` ask. Returns -1 when the VM thread goes
// on to the main class; otherwise the VM has been destroyed and the result is the status with
// which the VM thread ends: 0 after the version (also when printing it raised an exception),
// 0 after the usage text, 1 when the usage text could not be printed. `vm` and `thread` must be
// the freshly created VM and the calling thread's interface; the catalogue must still be loaded.
int printVersionAndUsage(VmHandle vm, ThreadIface thread, const LaunchArgs *args);

#endif
