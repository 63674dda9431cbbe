#ifndef VORN_SUPPORT_STREAMS_FDOUTSTREAM_H
#define VORN_SUPPORT_STREAMS_FDOUTSTREAM_H

#include "support/runtime/Compiler.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "support/streams/OutStream.h"

namespace vorn {

namespace files {
enum class OpenFlags : uint32_t; // support/fs/Files.h
}

// An output stream on a file descriptor. A buffered stream picks its buffer size at the first
// write: none on a terminal, the file system's preferred block size otherwise.
//
// A failed write (other than EAGAIN and EINTR, which are retried) is latched silently in a sticky
// flag; later writes still go to the descriptor. A stream destroyed with the flag set ends the
// process through fatalError with "IO failure on output stream." (status 1, after an installed
// fatal-error handler or the message on descriptor 2), so callers that expect a failure clear the
// flag first: hasWriteFailed() tells whether a write, seek or close has failed since the flag was
// last cleared, and clearWriteFailed() forgets that failure (later ones latch again). Flush before
// clearing: bytes still pending are written at destruction, and if they fail, that is reported.
//
// An unbuffered stream may be written from several threads at once (the standard error stream
// is): each piece goes to the descriptor in its own write call, pieces of different threads
// interleave whole, and the byte count and the failure flag miss nothing. A buffered stream is
// used by one thread at a time, and so are close(), seek() and clearWriteFailed().
class FdOutStream : public OutStream {
public:
  // A stream on `fd`, closed on destruction when `closeOnDestroy` is set; with `unbuffered` every
  // write goes to the descriptor at once. The byte count starts at the descriptor's current
  // offset (0 where it has none, as on pipes and terminals).
  FdOutStream(int fd, bool closeOnDestroy, bool unbuffered = false);
  // A buffered stream on a file opened for writing: `path` is opened with files::openForWrite,
  // `flags` (OpenFlags::Exclusive, OpenFlags::Append) and permissions 0666 less the umask, and
  // closed at destruction; the byte count starts at 0. The path "-" means descriptor 1 (closed at
  // destruction too); OpenFlags::Binary asks for it in binary mode, which changes nothing here.
  // `openError` is cleared, and receives "Error opening output file '", the path, "': " and the
  // system's message when the open fails: the stream then has descriptor -1, every write to it
  // latches a failure, and destroying it without writing is silent. `path` must not be null.
  FdOutStream(const char *path, std::string &openError, files::OpenFlags flags);
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
  // Bytes of a failed write are counted too; those of colour sequences are not (they are taken
  // off when written into the stream, so the count dips below the handed bytes while such a
  // sequence is pending).
  uint64_t getBytesWritten() const { return bytesWritten.load(std::memory_order_relaxed); }
  // True once a write, seek or close has failed.
  bool hasWriteFailed() const { return writeFailed.load(std::memory_order_relaxed); }
  // Forgets a latched failure, so that destruction does not report it.
  void clearWriteFailed() { writeFailed.store(false, std::memory_order_relaxed); }
  // With `on`, each piece handed to the descriptor goes out in one writev call, so that on
  // descriptors shared with other processes it is not split between write calls.
  void setAtomicWrites(bool on) { atomicWrites = on; }

  // Colour sequences (support/streams/Terminal.h), written in line with the text like any other
  // bytes but not counted in getBytesWritten().
  FdOutStream &setColor(TerminalColor color, bool bold = false, bool background = false) override;
  FdOutStream &restoreColor() override;
  FdOutStream &setReverseVideo() override;
  // Whether the descriptor is a terminal.
  bool showsOnTerminal() const override;
  // Always false: no terminal is known to show colours (proc::terminalSupportsColor).
  bool supportsColors() const override;

protected:
  void sinkWrite(const char *data, size_t size) override;
  uint64_t sinkPosition() const override;
  size_t defaultBufferSize() const override;

private:
  int descriptor;
  bool closeOnDestroy;
  bool atomicWrites = false;
  // Changed by the writes, which threads sharing an unbuffered stream make at once; relaxed
  // atomics suffice, since nothing else is published through them.
  std::atomic<bool> writeFailed{false};
  std::atomic<uint64_t> bytesWritten;

  void latchFailure() { writeFailed.store(true, std::memory_order_relaxed); }
  // Writes the sequence `text` in line with the output without counting it.
  FdOutStream &writeUncounted(const char *text);
};

} // namespace vorn

#endif
