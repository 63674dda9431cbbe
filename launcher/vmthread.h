#ifndef QUILLET_VMTHREAD_H
#define QUILLET_VMTHREAD_H

// The VM thread: creating the VM, running the main class and tearing the VM down.

#include "launcher/launcher.h"

extern "C" {
// The VM thread's entry: creates the VM from vmOptions, runs the version and usage output when
// asked, then the main class's "main" with the application arguments, and destroys the VM.
// Returns 0, or 1 after a reported error or an exception left pending by main. A VM that cannot
// be created ends the process with status 1. `args` must stay valid until it returns.
int TeskMain(LaunchArgs *args);
}

// The VM string of a native `text` (decoded in the platform encoding when the VM supports it),
// or null for a null text or when the VM fails. Only the VM thread may call it.
Ref nativeToVmString(ThreadIface thread, const char *text);

// The class named `name`, with dots or slashes as separators, or null (usually with an
// exception pending).
Ref findMainClass(ThreadIface thread, const char *name);

#endif
