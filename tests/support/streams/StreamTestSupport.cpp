#include "StreamTestSupport.h"

#include <poll.h>
#include <unistd.h>

namespace vorn {
namespace testing {

RecordingStream::~RecordingStream() { flush(); }

void RecordingStream::sinkWrite(const char *data, size_t size) {
  calls.push_back(Call{std::string(data, size), pendingBytes(), data == bufBegin});
  total += size;
}

uint64_t RecordingStream::sinkPosition() const { return total; }

size_t RecordingStream::defaultBufferSize() const { return chosenSize; }

std::string readAvailable(int fd, size_t want, int timeoutMs) {
  std::string got;
  char buf[4096];
  while (got.size() < want) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) break;
    got.append(buf, size_t(n));
  }
  return got;
}

} // namespace testing
} // namespace vorn
