#ifndef VORN_SUPPORT_PROCESS_SIGNALS_H
#define VORN_SUPPORT_PROCESS_SIGNALS_H

#include "support/runtime/Compiler.h"

#include <cstdio>
#include <string>

#include "support/text/StrView.h"

// Clean-up and crash reports when a signal ends the program. Registered files are removed when an
// interrupt signal (SIGHUP, SIGINT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2) or a crash signal (SIGILL,
// SIGTRAP, SIGABRT, SIGFPE, SIGBUS, SIGSEGV, SIGQUIT, SIGSYS, SIGXCPU, SIGXFSZ) arrives; then an
// interrupt either runs the interrupt hook or takes its previous effect again, and a crash runs
// the crash callbacks and takes its previous effect. The handlers for those sixteen signals are
// installed at the first registration and uninstall themselves when a signal arrives, so a
// second signal has its previous effect; the next registration installs them again.

namespace vorn {
namespace proc {

// Registers `filename` for removal if an interrupt or crash signal arrives, or when fatalError
// ends the program; only a regular file (after following links) is removed. A file that is there
// but cannot be removed (or whose kind cannot be told) is named on descriptor 2 ("cannot remove
// NAME"). Installs the handlers.
// Always false (success); `message` is never written.
bool registerSignalCleanupFile(StrView filename, std::string *message = nullptr);

// Forgets the most recent registration of `filename`; an unknown name is no error.
void unregisterSignalCleanupFile(StrView filename);

// Sets the function run, at most once, instead of the default effect of the next interrupt
// signal (after the registered files are gone; the program then goes on where it was
// interrupted); null clears it. Installs the handlers.
void setInterruptHook(void (*hook)());

// Adds `callback`, called with `cookie` after the registered files are gone when a crash signal
// arrives, in registration order, on the thread that received the signal. Installs the handlers.
void addCrashCallback(void (*callback)(void *cookie), void *cookie);

// Adds a crash callback that writes the stack trace (writeStackTrace) on the C library's stderr.
void enableCrashStackTrace();

// Writes the calling thread's stack trace on `stream`, one line per frame: the frame number
// ("%-2d"), the module's file name padded to the longest one, the address ("0x" and
// 2 * sizeof(void *) hexadecimal digits) and, when the frame's function is known, its demangled
// name and " + " the offset into it in decimal. Functions are named from the dynamic loader's
// tables or, failing that (a statically linked program, a function that is not exported), from
// the module file's own symbol table. A frame outside every known module shows "(unknown)" as its
// module and no function.
void writeStackTrace(std::FILE *stream);

// Removes the registered files now (the list stays as it is); fatalError calls this before it
// exits.
void runInterruptCleanup();

} // namespace proc
} // namespace vorn

#endif
