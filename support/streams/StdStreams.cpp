#include "support/streams/StdStreams.h"

#include <unistd.h>

namespace vorn {

FdOutStream &stdoutStream() {
  static FdOutStream stream(STDOUT_FILENO, true);
  return stream;
}

FdOutStream &stderrStream() {
  static FdOutStream stream(STDERR_FILENO, false, true);
  return stream;
}

NullOutStream &nullStream() {
  static NullOutStream stream;
  return stream;
}

} // namespace vorn
