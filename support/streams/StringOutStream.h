#ifndef VORN_SUPPORT_STREAMS_STRINGOUTSTREAM_H
#define VORN_SUPPORT_STREAMS_STRINGOUTSTREAM_H

#include "support/runtime/Compiler.h"

#include <string>

#include "support/streams/OutStream.h"

namespace vorn {

// An output stream that appends to a standard string. It is unbuffered, so the string is up to
// date after every write.
class StringOutStream : public OutStream {
public:
  // Appends to `target`, which must outlive the stream.
  explicit StringOutStream(std::string &target) : OutStream(NoBuffer), target(target) {}
  ~StringOutStream() override;

  // The target string, with everything written so far.
  std::string &str() {
    flush();
    return target;
  }

protected:
  void sinkWrite(const char *data, size_t size) override;
  uint64_t sinkPosition() const override;

private:
  std::string &target;
};

} // namespace vorn

#endif
