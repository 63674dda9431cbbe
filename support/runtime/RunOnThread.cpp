// runOnThread (support/runtime/Threading.h), apart from the rest of the threading switch so that
// programs that never start a thread do not link the platform's thread creation.

#include "support/runtime/Threading.h"

#include <pthread.h>

namespace vorn {

namespace {

struct ThreadCall {
  void (*function)(void *);
  void *argument;
};

void *threadStart(void *record) {
  const ThreadCall *call = static_cast<const ThreadCall *>(record);
  call->function(call->argument);
  return nullptr;
}

} // namespace

void runOnThread(void (*function)(void *), void *argument, size_t stackSize) {
  // The record stays valid on this stack until the thread has been joined.
  ThreadCall call = {function, argument};
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return;
  if (stackSize != 0 && pthread_attr_setstacksize(&attributes, stackSize) != 0) {
    pthread_attr_destroy(&attributes);
    return;
  }
  pthread_t thread;
  if (pthread_create(&thread, &attributes, threadStart, &call) == 0) pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

} // namespace vorn
