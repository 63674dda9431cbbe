#include "support/streams/NullOutStream.h"

namespace vorn {

NullOutStream::~NullOutStream() = default;

void NullOutStream::sinkWrite(const char *, size_t) {}

uint64_t NullOutStream::sinkPosition() const { return 0; }

} // namespace vorn
