#ifndef VORN_SUPPORT_RUNTIME_FATALERROR_H
#define VORN_SUPPORT_RUNTIME_FATALERROR_H

#include "support/runtime/Compiler.h"

#include <string>

#include "support/text/StrView.h"
#include "support/text/Twine.h"

// The two last-resort exits of the support library: fatalError for run-time failures that cannot
// be reported otherwise (exit status 1), reachedUnreachable for code paths that cannot happen
// (abort).

namespace vorn {

class FdOutStream;

// A host program's fatal-error handler: gets the handler data given at installation, the
// rendered reason, and whether the reporter wishes crash diagnostics to be produced. The process
// exits with status 1 when it returns.
typedef void (*FatalHandler)(void *handlerData, const std::string &reason, bool handlerFlag);
// A simpler handler that gets the reason as a NUL-terminated text.
typedef void (*CStringFatalHandler)(const char *reason);

// Installs `handler`, called with `handlerData` by every later fatalError; replaces an earlier
// one. Install it before other threads start: the handler is not guarded by a lock.
void setFatalHandler(FatalHandler handler, void *handlerData);
// Removes the installed handler (fatalError prints again).
void clearFatalHandler();
// Installs `handler` through an adapter that passes it the reason's text.
void setCStringFatalHandler(CStringFatalHandler handler);
// Removes the installed handler.
void clearCStringFatalHandler();

// Ends the process with status 1 for the failure `reason`. With a handler installed, the handler
// gets the rendered reason and `handlerFlag`; otherwise "VORN ERROR: ", the reason and a newline
// go to descriptor 2 in one write. Either way the files registered for removal on signals
// (support/process/Signals.h) are removed before the exit. Never returns.
[[noreturn]] void fatalError(const Twine &reason, bool handlerFlag = true);
[[noreturn]] void fatalError(const char *reason, bool handlerFlag = true);
[[noreturn]] void fatalError(const std::string &reason, bool handlerFlag = true);
[[noreturn]] void fatalError(StrView reason, bool handlerFlag = true);

// Reports an impossible code path on the debug stream and aborts (no exit handlers, no clean-up):
// `message` and a newline when it is not null, then "UNREACHABLE executed", then " at FILE:LINE"
// when `file` is not null, then "!" and a newline.
[[noreturn]] void reachedUnreachable(const char *message = nullptr, const char *file = nullptr,
                                     unsigned line = 0);

// The stream for diagnostics: the unbuffered standard error stream.
FdOutStream &debugStream();

} // namespace vorn

#endif
