#ifndef VORN_SUPPORT_RUNTIME_ALLOCATION_H
#define VORN_SUPPORT_RUNTIME_ALLOCATION_H

#include "support/runtime/Compiler.h"

#include <cstddef>

// The library's own heap blocks. Containers and streams have no recovery path for memory
// exhaustion, but they never use a block they did not get: where the C heap refuses one, these
// end the process through fatalError with "Allocation failed: no memory for N bytes" (status 1),
// as the new-handler that the fatal-error module installs does for the C++ allocator.
//
//   char *copy = static_cast<char *>(vorn::safeMalloc(n + 1));   // never null

namespace vorn {

// malloc(size), at least one byte; never null.
void *safeMalloc(size_t size);
// calloc(count, size), at least one byte; never null.
void *safeCalloc(size_t count, size_t size);
// realloc(block, size), at least one byte; never null. `block` is null or came from these or
// from the C heap.
void *safeRealloc(void *block, size_t size);

} // namespace vorn

#endif
