#ifndef VORN_SUPPORT_STREAMS_FDOUTSTREAM_H
#define VORN_SUPPORT_STREAMS_FDOUTSTREAM_H

#include "support/runtime/Compiler.h"

#include <cstdint>

#include "support/streams/OutStream.h"

namespace vorn {

// An output stream on a file descriptor. A buffered stream picks its buffer size at the first
// write: none on a terminal, the file system's preferred block size otherwise.
//
// A failed write (other than EAGAIN and EINTR, which are retried) is latched silently in a sticky
// flag; later writes still go to the descriptor. A stream destroyed with the flag set ends the
// process through fatalError with "IO failure on output stream." (status 1, after an installed
// fatal-error handler or the message on descriptor 2), so callers that expect a failure clear the
// flag first (clearWriteFailed()).
class FdOutStream : public OutStream {
public:
  // A stream on `fd`, closed on destruction when `closeOnDestroy` is set; with `unbuffered` every
  // write goes to the descriptor at once. The byte count starts at the descriptor's current
  // offset (0 where it has none, as on pipes and terminals).
  FdOutStream(int fd, bool closeOnDestroy, bool unbuffered = false);
  // Flushes, closes the descriptor when asked to, then reports a latched failure (see above).
  ~FdOutStream() override;

  // Flushes and closes the descriptor now; a failed close latches a failure. The stream then has
  // descriptor -1: later output fails and latches too.
  void close();
  // Flushes and moves the descriptor to `offset`; returns the new offset, which is also the new
  // byte count. A failed seek, or one that lands elsewhere, latches a failure (and a failed one
  // returns all bits set).
  uint64_t seek(uint64_t offset);

  // The descriptor, -1 once closed.
  int getFd() const { return descriptor; }
  // Bytes handed to the descriptor, counted from its offset at construction or the last seek.
  // Bytes of a failed write are counted too.
  uint64_t getBytesWritten() const { return bytesWritten; }
  // True once a write, seek or close has failed.
  bool hasWriteFailed() const { return writeFailed; }
  // Forgets a latched failure, so that destruction does not report it.
  void clearWriteFailed() { writeFailed = false; }
  // With `on`, each piece handed to the descriptor goes out in one writev call, so that on
  // descriptors shared with other processes it is not split between write calls.
  void setAtomicWrites(bool on) { atomicWrites = on; }

protected:
  void sinkWrite(const char *data, size_t size) override;
  uint64_t sinkPosition() const override;
  size_t defaultBufferSize() const override;

private:
  int descriptor;
  bool closeOnDestroy;
  bool writeFailed = false;
  bool atomicWrites = false;
  uint64_t bytesWritten;
};

} // namespace vorn

#endif
