#include "support/streams/StdStreams.h"

#include <unistd.h>

#include "support/runtime/LazyStatic.h"

namespace vorn {

// The standard output stream's exit-time report goes through fatalError, which needs only the
// signal module's state; that state is built before main, so it outlives this stream.
FdOutStream &stdoutStream() {
  VORN_LAZY_STATIC(FdOutStream, stream, STDOUT_FILENO, true);
  return stream;
}

FdOutStream &stderrStream() {
  VORN_LAZY_STATIC(FdOutStream, stream, STDERR_FILENO, false, true);
  return stream;
}

NullOutStream &nullStream() {
  VORN_LAZY_STATIC(NullOutStream, stream);
  return stream;
}

} // namespace vorn
