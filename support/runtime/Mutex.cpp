#include "support/runtime/Mutex.h"

#include <cstdlib>
#include <pthread.h>

#include "support/runtime/Allocation.h"

namespace vorn {

// The platform mutex lives on the heap so that this header does not need the platform's.
Mutex::Mutex(bool recursive) {
  auto *m = static_cast<pthread_mutex_t *>(safeMalloc(sizeof(pthread_mutex_t)));
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes,
                            recursive ? PTHREAD_MUTEX_RECURSIVE : PTHREAD_MUTEX_NORMAL);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_PRIVATE);
  pthread_mutex_init(m, &attributes);
  pthread_mutexattr_destroy(&attributes);
  platformMutex = m;
}

Mutex::~Mutex() {
  auto *m = static_cast<pthread_mutex_t *>(platformMutex);
  pthread_mutex_destroy(m);
  std::free(m);
}

bool Mutex::acquire() { return pthread_mutex_lock(static_cast<pthread_mutex_t *>(platformMutex)) == 0; }

bool Mutex::release() {
  return pthread_mutex_unlock(static_cast<pthread_mutex_t *>(platformMutex)) == 0;
}

bool Mutex::tryAcquire() {
  return pthread_mutex_trylock(static_cast<pthread_mutex_t *>(platformMutex)) == 0;
}

} // namespace vorn
