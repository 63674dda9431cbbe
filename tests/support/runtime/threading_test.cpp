// Locks, the multithreading switch, the thread runner, the atomics and the lazily built statics.
// Tests that switch the process to multithreaded mode run in a forked child, so that the switch
// (meant to be flipped once per process) does not leak into other tests; an alarm in the child
// turns a deadlock into a failure instead of a hang.

#include <gtest/gtest.h>

#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <pthread.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/runtime/Atomic.h"
#include "support/runtime/LazyStatic.h"
#include "support/runtime/Mutex.h"
#include "support/runtime/Threading.h"
#include "tests/common/TestSupport.h"

using namespace vorn;
using testsupport::ChildResult;
using testsupport::runInChild;

namespace {

// `err` without the line a user-mode emulator adds when its guest program dies by a signal.
std::string withoutEmulatorNote(std::string err) {
  const std::string note = "qemu: uncaught target signal ";
  size_t at = err.rfind(note);
  if (at != std::string::npos && (at == 0 || err[at - 1] == '\n')) err.erase(at);
  return err;
}

// Runs `body` in a forked child with a watchdog; the child's exit status is the body's result.
ChildResult runGuarded(const std::function<int()> &body, unsigned seconds = 60) {
  return runInChild([&] {
    alarm(seconds);
    return body();
  });
}

#define EXPECT_CHILD_OK(result)                                                                    \
  do {                                                                                             \
    const ChildResult &r_ = (result);                                                              \
    EXPECT_EQ(r_.signal, 0) << "child ended by signal " << r_.signal << "\n" << r_.err;            \
    EXPECT_EQ(r_.status, 0) << r_.out << r_.err;                                                   \
  } while (0)

// Starts `count` threads running `body(index)` and waits for all of them.
void onThreads(unsigned count, const std::function<void(unsigned)> &body) {
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < count; ++i) threads.emplace_back(body, i);
  for (std::thread &t : threads) t.join();
}

const unsigned threadCount = 4;

} // namespace

TEST(Atomics, MatchPlainArithmetic) {
  const uint32_t seed = 20240611;
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (int i = 0; i < 2000; ++i) {
    uint32_t start = rng(), operand = rng() >> (rng() % 32);
    uint32_t w = start;
    EXPECT_EQ(atomicAdd(&w, operand), uint32_t(start + operand));
    EXPECT_EQ(w, uint32_t(start + operand));
    w = start;
    EXPECT_EQ(atomicIncrement(&w), uint32_t(start + 1));
    w = start;
    EXPECT_EQ(atomicDecrement(&w), uint32_t(start - 1));
    w = start;
    EXPECT_EQ(atomicMultiply(&w, operand), uint32_t(start * operand));
    EXPECT_EQ(w, uint32_t(start * operand));
    if (operand != 0) {
      w = start;
      EXPECT_EQ(atomicDivide(&w, operand), start / operand);
      EXPECT_EQ(w, start / operand);
    }
    // A mismatching expected value leaves the word alone and reports what it holds.
    w = start;
    EXPECT_EQ(atomicCompareAndSwap(&w, operand, start + 1), start);
    EXPECT_EQ(w, start);
    EXPECT_EQ(atomicCompareAndSwap(&w, operand, start), start);
    EXPECT_EQ(w, operand);
  }
  // The edges of the 32-bit range wrap.
  uint32_t w = 0xffffffffu;
  EXPECT_EQ(atomicIncrement(&w), 0u);
  EXPECT_EQ(atomicDecrement(&w), 0xffffffffu);
  w = 0x80000001u;
  EXPECT_EQ(atomicMultiply(&w, 2), 2u);
  w = 0x10000u;
  EXPECT_EQ(atomicMultiply(&w, 0x10000u), 0u);
  memoryFence();
}

TEST(Atomics, ExactTotalsUnderContention) {
  const unsigned rounds = 20000;
  uint32_t added = 0, counted = 0, down = threadCount * rounds, swapped = 0, product = 1,
           quotient = 0x80000000u;
  onThreads(threadCount, [&](unsigned index) {
    for (unsigned i = 0; i < rounds; ++i) {
      atomicAdd(&added, index + 1);
      atomicIncrement(&counted);
      atomicDecrement(&down);
      // An increment built from compare-and-swap retries until it wins.
      uint32_t seen = __atomic_load_n(&swapped, __ATOMIC_RELAXED);
      for (uint32_t before; (before = atomicCompareAndSwap(&swapped, seen + 1, seen)) != seen;)
        seen = before;
      atomicMultiply(&product, 3);
      if (i < 8) atomicDivide(&quotient, 2); // 32 halvings in all: (2^31 / 2^32) truncates to 0
    }
  });
  EXPECT_EQ(added, rounds * (1 + 2 + 3 + 4));
  EXPECT_EQ(counted, threadCount * rounds);
  EXPECT_EQ(down, 0u);
  EXPECT_EQ(swapped, threadCount * rounds);
  // Multiplication commutes, so the interleaving does not matter: 3 to the power of all the
  // multiplications, modulo 2^32.
  uint32_t expected = 1;
  for (unsigned i = 0; i < threadCount * rounds; ++i) expected *= 3;
  EXPECT_EQ(product, expected);
  EXPECT_EQ(quotient, 0u);
}

TEST(Mutexes, PlatformMutexExcludesOtherThreads) {
  for (bool recursive : {true, false}) {
    SCOPED_TRACE(recursive ? "recursive" : "normal");
    Mutex m(recursive);
    ASSERT_TRUE(m.acquire());
    // The owner may take a recursive mutex again, never a normal one.
    EXPECT_EQ(m.tryAcquire(), recursive);
    if (recursive) {
      EXPECT_TRUE(m.release());
    }
    bool otherGot = true;
    std::thread([&] { otherGot = m.tryAcquire(); }).join();
    EXPECT_FALSE(otherGot);
    EXPECT_TRUE(m.release());
    std::thread([&] {
      otherGot = m.tryAcquire();
      if (otherGot) m.release();
    }).join();
    EXPECT_TRUE(otherGot);
  }
}

TEST(Mutexes, ModalMutexOnlyCountsWhileSingleThreaded) {
  // Another thread holds the lock's platform mutex, taken while the process was multithreaded.
  // Switched back to single-threaded mode, this thread must get through acquire and release at
  // once: a lock that touched the platform mutex would block until the watchdog fires.
  ChildResult r = runGuarded([] {
    ModalMutex lock(false);
    startMultithreaded();
    std::atomic<int> phase{0};
    std::thread holder([&] {
      lock.acquire();
      phase = 1;
      while (phase != 2) sched_yield();
      lock.release();
    });
    while (phase != 1) sched_yield();
    stopMultithreaded();
    ModalMutex recursive;
    bool answers = lock.acquire() && lock.release() && recursive.acquire() &&
                   recursive.acquire() && recursive.release() && recursive.release();
    // The global lock does nothing either.
    acquireGlobalLock();
    releaseGlobalLock();
    startMultithreaded();
    phase = 2;
    holder.join();
    stopMultithreaded();
    return answers ? 0 : 3;
  });
  EXPECT_CHILD_OK(r);
}

TEST(Mutexes, ModalMutexExcludesWhenMultithreaded) {
  ChildResult r = runGuarded([] {
    if (!startMultithreaded() || !isMultithreaded()) return 3;
    for (bool recursive : {true, false}) {
      ModalMutex lock(recursive);
      volatile uint32_t counter = 0;
      const unsigned rounds = 3000;
      onThreads(threadCount, [&](unsigned) {
        for (unsigned i = 0; i < rounds; ++i) {
          ScopedLock<ModalMutex> guard(lock);
          // A read, a pause and a write: without exclusion, increments get lost.
          uint32_t seen = counter;
          if (i % 64 == 0) sched_yield();
          counter = seen + 1;
        }
      });
      if (counter != threadCount * rounds) return 4;
    }
    // The global lock is recursive and excludes too.
    volatile uint32_t total = 0;
    onThreads(threadCount, [&](unsigned) {
      for (unsigned i = 0; i < 2000; ++i) {
        acquireGlobalLock();
        acquireGlobalLock();
        uint32_t seen = total;
        if (i % 64 == 0) sched_yield();
        total = seen + 1;
        releaseGlobalLock();
        releaseGlobalLock();
      }
    });
    if (total != threadCount * 2000) return 5;
    stopMultithreaded();
    return isMultithreaded() ? 6 : 0;
  });
  EXPECT_CHILD_OK(r);
}

TEST(Mutexes, NonRecursiveModalMutexTakenTwiceIsCaught) {
  if (!kChecksEnabled) GTEST_SKIP() << "callers' obligations are checked only with assertions on";
  ChildResult r = runInChild([] {
    struct rlimit none = {0, 0}; // it aborts: no core file
    setrlimit(RLIMIT_CORE, &none);
    ModalMutex lock(false);
    lock.acquire();
    lock.acquire();
    return 0;
  });
  EXPECT_EQ(r.signal, SIGABRT);
  EXPECT_EQ(withoutEmulatorNote(r.err), "vorn: ModalMutex::acquire: a non-recursive lock is not acquired again by its "
                   "holder\n");
}

namespace {

struct ThreadReport {
  bool ran = false;
  pthread_t thread;
  size_t stackSize = 0;
  bool localOnStack = false;
};

void reportThread(void *data) {
  auto *report = static_cast<ThreadReport *>(data);
  report->ran = true;
  report->thread = pthread_self();
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    void *stack = nullptr;
    size_t size = 0;
    pthread_attr_getstack(&attributes, &stack, &size);
    report->stackSize = size;
    char local;
    uintptr_t at = uintptr_t(&local), low = uintptr_t(stack);
    report->localOnStack = at >= low && at < low + size;
    pthread_attr_destroy(&attributes);
  }
}

} // namespace

TEST(RunOnThread, RunsOnANewThreadWithTheStackAskedFor) {
  // The platform may hand out a larger stack that it kept from an ended thread, never a smaller
  // one; a size above its default shows that the request reached it.
  pthread_attr_t defaults;
  size_t defaultSize = 0;
  ASSERT_EQ(pthread_attr_init(&defaults), 0);
  pthread_attr_getstacksize(&defaults, &defaultSize);
  pthread_attr_destroy(&defaults);
  for (size_t asked : {size_t(2u << 20), 3 * defaultSize}) {
    SCOPED_TRACE(asked);
    ThreadReport big;
    runOnThread(reportThread, &big, asked);
    ASSERT_TRUE(big.ran);
    EXPECT_FALSE(pthread_equal(big.thread, pthread_self()));
    EXPECT_GE(big.stackSize, asked);
    EXPECT_TRUE(big.localOnStack);
  }

  ThreadReport platformDefault;
  runOnThread(reportThread, &platformDefault, 0);
  EXPECT_TRUE(platformDefault.ran);
  EXPECT_FALSE(pthread_equal(platformDefault.thread, pthread_self()));

  // A stack the platform rejects: nothing runs, on any thread.
  ThreadReport tiny;
  runOnThread(reportThread, &tiny, 1);
  EXPECT_FALSE(tiny.ran);
}

namespace {

// Lazily built objects that record their construction and destruction on descriptor 1.
struct Noted {
  explicit Noted(char name) : name(name) {
    constructions.fetch_add(1);
    // A slow construction, so that concurrent first calls overlap.
    usleep(20000);
    note('+');
  }
  ~Noted() { note('-'); }
  void note(char sign) const {
    char text[3] = {sign, name, ' '};
    ssize_t ignored = write(1, text, 3);
    (void)ignored;
  }
  char name;
  static std::atomic<int> constructions;
};
std::atomic<int> Noted::constructions{0};

Noted &first() {
  VORN_LAZY_STATIC(Noted, object, 'a');
  return object;
}

Noted &second() {
  VORN_LAZY_STATIC(Noted, object, 'b');
  return object;
}

} // namespace

TEST(LazyStatic, BuiltOnceOnFirstUseAndDestroyedInReverseAtExit) {
  ChildResult r = runGuarded([] {
    // Concurrent first calls wait for one construction and all see the same object.
    std::vector<Noted *> seen(8);
    onThreads(8, [&](unsigned i) { seen[i] = i % 2 ? &second() : &first(); });
    for (unsigned i = 2; i < 8; ++i)
      if (seen[i] != seen[i % 2]) return 3;
    if (Noted::constructions != 2) return 4;
    std::exit(0); // the exit handlers run, unlike the child's usual _exit
  });
  EXPECT_CHILD_OK(r);
  // Built in either order; destroyed in the reverse of it.
  EXPECT_TRUE(r.out == "+a +b -b -a " || r.out == "+b +a -a -b ") << r.out;
}
