#ifndef VORN_SUPPORT_STREAMS_NULLOUTSTREAM_H
#define VORN_SUPPORT_STREAMS_NULLOUTSTREAM_H

#include "support/runtime/Compiler.h"

#include "support/streams/OutStream.h"

namespace vorn {

// An output stream that discards everything; its sink position stays 0.
class NullOutStream : public OutStream {
public:
  NullOutStream() : OutStream(OwnBuffer) {}
  // Drops pending bytes.
  ~NullOutStream() override;

protected:
  void sinkWrite(const char *data, size_t size) override;
  uint64_t sinkPosition() const override;
};

} // namespace vorn

#endif
