#ifndef VORN_SUPPORT_RUNTIME_THREADING_H
#define VORN_SUPPORT_RUNTIME_THREADING_H

#include "support/runtime/Compiler.h"

#include <cstddef>

// The process-wide multithreading switch, the global lock and a routine that runs a function on a
// thread of its own. A process is single-threaded until it calls startMultithreaded(); until then
// the library's locks (ModalMutex, support/runtime/Mutex.h) only count.

namespace vorn {

namespace detail {
// The multithreaded flag; read through isMultithreaded().
extern bool multithreaded;
} // namespace detail

// True between startMultithreaded() and stopMultithreaded().
inline bool isMultithreaded() { return detail::multithreaded; }

// Declares the process multithreaded: sets the flag, creates the global lock, then fences so that
// everything set up before the call is visible to threads started afterwards. Always true. Call it
// at most once, from the only thread, before starting any other.
bool startMultithreaded();

// Declares the process single-threaded again and destroys the global lock. Call it at most once,
// after every other thread has ended.
void stopMultithreaded();

// Acquire and release the process-wide recursive lock; they do nothing unless the process is
// multithreaded.
void acquireGlobalLock();
void releaseGlobalLock();

// Runs `function(argument)` on a new thread with a stack of `stackSize` bytes (0: the platform's
// default) and waits for it to end. When the thread cannot be made (a stack size the platform
// rejects, no resources) the function does not run at all; it never runs on the calling thread.
void runOnThread(void (*function)(void *), void *argument, size_t stackSize);

} // namespace vorn

#endif
