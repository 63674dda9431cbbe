#ifndef VORN_SUPPORT_RUNTIME_MUTEX_H
#define VORN_SUPPORT_RUNTIME_MUTEX_H

#include "support/runtime/Compiler.h"

#include "support/runtime/Checks.h"
#include "support/runtime/Threading.h"

namespace vorn {

// A process-private platform mutex, recursive or not. Failures of the platform calls come back
// as false answers; nothing is printed.
class Mutex {
public:
  // A recursive mutex (the owner may acquire it again) or, with `recursive` false, a normal one,
  // which deadlocks when its owner acquires it again.
  explicit Mutex(bool recursive = true);
  // The caller guarantees that no thread holds the mutex.
  ~Mutex();
  Mutex(const Mutex &) = delete;
  Mutex &operator=(const Mutex &) = delete;

  // Waits for the mutex; true when the platform lock call succeeded.
  bool acquire();
  // Releases a mutex the calling thread holds; true when the platform unlock call succeeded.
  bool release();
  // Takes the mutex if it is free; false when another thread holds it, or on error.
  bool tryAcquire();

private:
  void *platformMutex; // a heap-allocated pthread_mutex_t
};

// A lock that is real only while the process is multithreaded (isMultithreaded()). Before that
// acquire and release only count, without touching the platform mutex: a single-threaded
// program pays one load and one increment. It always owns a platform mutex, so it works in both
// modes whenever it was built. The mode is read at each call.
class ModalMutex {
public:
  explicit ModalMutex(bool recursive = true) : mutex(recursive), recursive(recursive) {}
  ModalMutex(const ModalMutex &) = delete;
  ModalMutex &operator=(const ModalMutex &) = delete;

  // Multithreaded: Mutex::acquire. Otherwise counts one acquisition and answers true.
  bool acquire() {
    if (isMultithreaded()) return mutex.acquire();
    VORN_CHECK(recursive || count == 0, "ModalMutex::acquire",
               "a non-recursive lock is not acquired again by its holder");
    ++count;
    return true;
  }
  // Multithreaded: Mutex::release. Otherwise counts one release and answers true.
  bool release() {
    if (isMultithreaded()) return mutex.release();
    VORN_CHECK(count > 0, "ModalMutex::release", "only a held lock is released");
    --count;
    return true;
  }

private:
  Mutex mutex;
  unsigned count = 0;
  bool recursive;
};

// Holds `Lock` (a ModalMutex or a Mutex) from construction to destruction.
template <typename Lock> class ScopedLock {
public:
  explicit ScopedLock(Lock &lock) : lock(lock) { lock.acquire(); }
  ~ScopedLock() { lock.release(); }
  ScopedLock(const ScopedLock &) = delete;
  ScopedLock &operator=(const ScopedLock &) = delete;

private:
  Lock &lock;
};

} // namespace vorn

#endif
