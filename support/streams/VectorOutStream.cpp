#include "support/streams/VectorOutStream.h"

#include <cstring>

namespace vorn {

VectorOutStream::VectorOutStream(void *target, const TargetOps *ops)
    : OutStream(BorrowedBuffer), target(target), ops(ops) {
  if (spareCapacity() < 128) ops->reserve(target, ops->size(target) + 128);
  installBuffer(vectorEnd(), spareCapacity(), BorrowedBuffer);
}

VectorOutStream::~VectorOutStream() { flush(); }

StrView VectorOutStream::view() {
  flush();
  return StrView(ops->data(target), uint32_t(ops->size(target)));
}

void VectorOutStream::sinkWrite(const char *data, size_t size) {
  size_t oldSize = ops->size(target);
  if (data != vectorEnd()) {
    if (spareCapacity() < size) ops->reserve(target, oldSize + size);
    std::memmove(vectorEnd(), data, size);
  }
  // Otherwise the bytes were written into place through the buffer.
  ops->setSize(target, oldSize + size);
  rebindBuffer();
}

void VectorOutStream::rebindBuffer() {
  size_t capacity = ops->capacity(target);
  if (spareCapacity() < 64 && capacity != 0) ops->reserve(target, 2 * capacity);
  installBuffer(vectorEnd(), spareCapacity(), BorrowedBuffer);
}

uint64_t VectorOutStream::sinkPosition() const { return ops->size(target); }

} // namespace vorn
