// The runtime's locks and atomics against their anchors: ModalMutex acquire + release in
// single-threaded mode beside an uncontended pthread_mutex lock/unlock pair and std::mutex, and
// atomicIncrement beside std::atomic<uint32_t>::fetch_add. The summary table sets each figure
// beside its anchor's, with the goal for the ratio.

#include <benchmark/benchmark.h>

#include "bench/TimeRecorder.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <pthread.h>
#include <string>

#include "support/runtime/Atomic.h"
#include "support/runtime/Mutex.h"

namespace {

const int opsPerIteration = 1000;

// Each acquire and release is kept: the lock object escapes and memory is clobbered between the
// two, so the compiler can neither merge nor drop them. The operations are repeated ten times
// per loop round, so that the loop's own cost does not swamp that of the cheapest operation.
#define TEN_TIMES(statement)                                                                       \
  do {                                                                                             \
    statement;                                                                                     \
    statement;                                                                                     \
    statement;                                                                                     \
    statement;                                                                                     \
    statement;                                                                                     \
    statement;                                                                                     \
    statement;                                                                                     \
    statement;                                                                                     \
    statement;                                                                                     \
    statement;                                                                                     \
  } while (0)

void Lock_ModalMutex(benchmark::State &state) {
  vorn::ModalMutex lock;
  benchmark::DoNotOptimize(&lock);
  for (auto _ : state) {
    for (int i = 0; i < opsPerIteration / 10; ++i) {
      TEN_TIMES({
        lock.acquire();
        benchmark::ClobberMemory();
        lock.release();
        benchmark::ClobberMemory();
      });
    }
  }
}

void Lock_pthread_mutex(benchmark::State &state) {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  benchmark::DoNotOptimize(&lock);
  for (auto _ : state) {
    for (int i = 0; i < opsPerIteration / 10; ++i) {
      TEN_TIMES({
        pthread_mutex_lock(&lock);
        benchmark::ClobberMemory();
        pthread_mutex_unlock(&lock);
        benchmark::ClobberMemory();
      });
    }
  }
  pthread_mutex_destroy(&lock);
}

void Lock_std_mutex(benchmark::State &state) {
  std::mutex lock;
  benchmark::DoNotOptimize(&lock);
  for (auto _ : state) {
    for (int i = 0; i < opsPerIteration / 10; ++i) {
      TEN_TIMES({
        lock.lock();
        benchmark::ClobberMemory();
        lock.unlock();
        benchmark::ClobberMemory();
      });
    }
  }
}

// The library's own platform-mutex wrapper (recursive), for reference.
void Lock_vorn_Mutex(benchmark::State &state) {
  vorn::Mutex lock;
  benchmark::DoNotOptimize(&lock);
  for (auto _ : state) {
    for (int i = 0; i < opsPerIteration / 10; ++i) {
      TEN_TIMES({
        lock.acquire();
        benchmark::ClobberMemory();
        lock.release();
        benchmark::ClobberMemory();
      });
    }
  }
}

void Increment_atomicIncrement(benchmark::State &state) {
  uint32_t word = 0;
  for (auto _ : state)
    for (int i = 0; i < opsPerIteration / 10; ++i)
      TEN_TIMES(benchmark::DoNotOptimize(vorn::atomicIncrement(&word)));
}

void Increment_std_atomic(benchmark::State &state) {
  std::atomic<uint32_t> word{0};
  for (auto _ : state)
    for (int i = 0; i < opsPerIteration / 10; ++i)
      TEN_TIMES(benchmark::DoNotOptimize(word.fetch_add(1) + 1));
}

BENCHMARK(Lock_ModalMutex);
BENCHMARK(Lock_pthread_mutex);
BENCHMARK(Lock_std_mutex);
BENCHMARK(Lock_vorn_Mutex);
BENCHMARK(Increment_atomicIncrement);
BENCHMARK(Increment_std_atomic);

} // namespace

int main(int argc, char **argv) {
  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;
  // The lock at least five times as fast as either anchor; the increment as fast as the standard
  // one: the anchor's time within 0.90 to 1.10 times ours, that is ours within 1/1.10 to 1/0.90
  // times the anchor's (rounded inwards).
  RatioTable table("CPU time per " + std::to_string(opsPerIteration) + " operations");
  for (const char *anchor : {"Lock_pthread_mutex", "Lock_std_mutex"})
    table.add(reporter, "Lock_ModalMutex", anchor, Goal::atMost(0.2));
  table.add(reporter, "Increment_atomicIncrement", "Increment_std_atomic", Goal::between(0.91, 1.11));
  table.print();
  benchmark::Shutdown();
  return 0;
}
