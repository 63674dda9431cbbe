#include "support/runtime/Allocation.h"

#include <cstdint>
#include <cstdlib>

#include "support/runtime/FatalError.h"

namespace vorn {

namespace {

[[noreturn]] void refused(uint64_t size) {
  fatalError(Twine("Allocation failed: no memory for ") + Twine(size) + " bytes");
}

} // namespace

void *safeMalloc(size_t size) {
  void *block = std::malloc(size ? size : 1);
  if (!block) refused(size);
  return block;
}

void *safeCalloc(size_t count, size_t size) {
  if (count == 0 || size == 0) count = size = 1;
  void *block = std::calloc(count, size);
  // calloc also refuses a product that does not fit size_t: report it in 64 bits.
  if (!block) refused(uint64_t(count) * size);
  return block;
}

void *safeRealloc(void *block, size_t size) {
  void *grown = std::realloc(block, size ? size : 1);
  if (!grown) refused(size);
  return grown;
}

} // namespace vorn
