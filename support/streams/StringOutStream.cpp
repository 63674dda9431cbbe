#include "support/streams/StringOutStream.h"

namespace vorn {

StringOutStream::~StringOutStream() { flush(); }

void StringOutStream::sinkWrite(const char *data, size_t size) { target.append(data, size); }

uint64_t StringOutStream::sinkPosition() const { return target.size(); }

} // namespace vorn
