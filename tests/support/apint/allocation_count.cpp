#include "tests/support/apint/allocation_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
// Atomic: some cases convert values on several threads at once.
std::atomic<uint64_t> allocated{0}, freed{0};
} // namespace

apinttest::ArrayCounts apinttest::arrayCounts() {
  apinttest::ArrayCounts counts;
  counts.allocated = allocated.load();
  counts.freed = freed.load();
  return counts;
}

void *operator new[](std::size_t size) {
  void *p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  allocated.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void operator delete[](void *p) noexcept {
  if (!p) return;
  freed.fetch_add(1, std::memory_order_relaxed);
  std::free(p);
}

void operator delete[](void *p, std::size_t) noexcept { operator delete[](p); }

#if defined(__SANITIZE_ADDRESS__)
// The differential tests churn through many short-lived arrays. The sanitizer's default
// quarantine of freed blocks outgrows what a 32-bit process can map under user-mode emulation,
// so it is kept smaller here (ASAN_OPTIONS still overrides it).
extern "C" const char *__asan_default_options() { return "quarantine_size_mb=32"; }
#endif
