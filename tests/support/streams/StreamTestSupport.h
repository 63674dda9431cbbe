#ifndef VORN_TESTS_STREAMS_STREAMTESTSUPPORT_H
#define VORN_TESTS_STREAMS_STREAMTESTSUPPORT_H

#include <string>
#include <vector>

#include "support/streams/OutStream.h"
#include "tests/common/TestSupport.h"

namespace vorn {
namespace testing {

// A stream whose sink records every sinkWrite call, with a buffer size of the test's choosing.
// Its virtual members are defined in a source compiled without run-time type information, like
// the library it derives from (whose classes have no type information to refer to).
class RecordingStream : public OutStream {
public:
  struct Call {
    std::string bytes;
    size_t pendingDuring; // pendingBytes() while the sink ran
    bool fromBuffer;      // the data pointer was the start of the stream's buffer
  };

  explicit RecordingStream(size_t bufferSize, BufferOwner mode = OwnBuffer)
      : OutStream(mode), chosenSize(bufferSize) {}
  ~RecordingStream() override;

  // Everything the sink received, in order.
  std::string received() const {
    std::string all;
    for (const Call &c : calls) all += c.bytes;
    return all;
  }
  // The pending bytes, without flushing.
  std::string pending() const { return std::string(bufBegin, pendingBytes()); }

  std::vector<Call> calls;

protected:
  void sinkWrite(const char *data, size_t size) override;
  uint64_t sinkPosition() const override;
  size_t defaultBufferSize() const override;

private:
  size_t chosenSize;
  uint64_t total = 0;
};

// The whole contents of a file, or "<missing>".
inline std::string readFile(const std::string &path) {
  std::string text;
  return testsupport::readFile(path, &text) ? text : "<missing>";
}

// Reads from `fd` until `want` bytes arrived or `timeoutMs` passed without data.
std::string readAvailable(int fd, size_t want, int timeoutMs);

} // namespace testing
} // namespace vorn

#endif
