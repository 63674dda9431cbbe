#include "support/runtime/Threading.h"

#include "support/runtime/Atomic.h"
#include "support/runtime/Mutex.h"

namespace vorn {

namespace detail {
bool multithreaded = false;
} // namespace detail

namespace {

Mutex *globalLock = nullptr;

} // namespace

bool startMultithreaded() {
  detail::multithreaded = true;
  globalLock = new Mutex(true);
  memoryFence();
  return true;
}

void stopMultithreaded() {
  memoryFence();
  detail::multithreaded = false;
  delete globalLock;
  // Cleared too, so that a later startMultithreaded() or a stray release cannot reach the
  // destroyed lock.
  globalLock = nullptr;
}

void acquireGlobalLock() {
  if (isMultithreaded() && globalLock) globalLock->acquire();
}

void releaseGlobalLock() {
  if (isMultithreaded() && globalLock) globalLock->release();
}

} // namespace vorn
