#ifndef VORN_SUPPORT_RUNTIME_ATOMIC_H
#define VORN_SUPPORT_RUNTIME_ATOMIC_H

#include "support/runtime/Compiler.h"

#include <cstdint>

// Atomic operations on 32-bit unsigned words and a full memory fence. Every operation is a full
// barrier; add, increment, decrement and compare-and-swap are one locked instruction each. The
// word must be 4-byte aligned and touched by other threads only through these operations.

namespace vorn {

// Adds `value` to `*word` (modulo 2^32) and returns the new value.
inline uint32_t atomicAdd(uint32_t *word, uint32_t value) {
  return __atomic_add_fetch(word, value, __ATOMIC_SEQ_CST);
}

// Adds 1 to `*word` and returns the new value.
inline uint32_t atomicIncrement(uint32_t *word) {
  return __atomic_add_fetch(word, 1u, __ATOMIC_SEQ_CST);
}

// Subtracts 1 from `*word` and returns the new value.
inline uint32_t atomicDecrement(uint32_t *word) {
  return __atomic_sub_fetch(word, 1u, __ATOMIC_SEQ_CST);
}

// Stores `newValue` in `*word` if it holds `expected`. Returns the value the word held before,
// which equals `expected` exactly when the swap happened.
inline uint32_t atomicCompareAndSwap(uint32_t *word, uint32_t newValue, uint32_t expected) {
  // On failure the builtin writes the value it found into `expected`.
  __atomic_compare_exchange_n(word, &expected, newValue, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return expected;
}

// Multiplies `*word` by `factor` (modulo 2^32) and returns the product.
inline uint32_t atomicMultiply(uint32_t *word, uint32_t factor) {
  uint32_t seen = __atomic_load_n(word, __ATOMIC_RELAXED);
  for (;;) {
    uint32_t product = seen * factor;
    uint32_t before = atomicCompareAndSwap(word, product, seen);
    if (before == seen) return product;
    seen = before;
  }
}

// Divides `*word` by `divisor` (unsigned, truncating) and returns the quotient. The caller
// guarantees a divisor other than 0.
inline uint32_t atomicDivide(uint32_t *word, uint32_t divisor) {
  uint32_t seen = __atomic_load_n(word, __ATOMIC_RELAXED);
  for (;;) {
    uint32_t quotient = seen / divisor;
    uint32_t before = atomicCompareAndSwap(word, quotient, seen);
    if (before == seen) return quotient;
    seen = before;
  }
}

// A full barrier for loads and stores, to the compiler and to the processor.
inline void memoryFence() {
#if defined(__i386__)
  // A locked no-op on the top of the stack: as strong as mfence and cheaper on most processors.
  __asm__ __volatile__("lock; orl $0, (%%esp)" ::: "memory", "cc");
#elif defined(__x86_64__)
  __asm__ __volatile__("lock; orq $0, (%%rsp)" ::: "memory", "cc");
#else
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
#endif
}

} // namespace vorn

#endif
