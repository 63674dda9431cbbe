#include "support/streams/FdOutStream.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include "support/fs/Files.h"
#include "support/process/Program.h"
#include "support/runtime/FatalError.h"
#include "support/streams/Terminal.h"

namespace vorn {

namespace {

// Closes `fd` once. On Linux the descriptor is released even when close() reports EINTR, so a
// retry could only fail with EBADF or, worse, close a descriptor that another thread has just
// opened; EINTR is therefore taken as closed.
bool closeDescriptor(int fd) { return ::close(fd) == 0 || errno == EINTR; }

} // namespace

FdOutStream::FdOutStream(int fd, bool closeOnDestroy, bool unbuffered)
    : OutStream(unbuffered ? NoBuffer : OwnBuffer), descriptor(fd),
      closeOnDestroy(closeOnDestroy) {
  off64_t offset = ::lseek64(fd, 0, SEEK_CUR);
  bytesWritten.store(offset < 0 ? 0 : uint64_t(offset), std::memory_order_relaxed);
}

FdOutStream::FdOutStream(const char *path, std::string &openError, files::OpenFlags flags)
    : OutStream(OwnBuffer), descriptor(-1), closeOnDestroy(false), bytesWritten(0) {
  openError.clear();
  if (path[0] == '-' && path[1] == '\0') {
    descriptor = STDOUT_FILENO;
    closeOnDestroy = true;
    // Binary mode means nothing on this platform, and the call cannot fail here.
    if (uint32_t(flags & files::OpenFlags::Binary)) (void)proc::setStdoutBinary();
    return;
  }
  ErrorCode ec = files::openForWrite(path, descriptor, flags, 0666);
  if (ec) {
    openError = "Error opening output file '";
    openError += path;
    openError += "': ";
    openError += ec.message();
    return;
  }
  closeOnDestroy = true;
}

FdOutStream::~FdOutStream() {
  // Pending bytes are handed on even after close(): writing them to descriptor -1 fails and is
  // latched, instead of the bytes vanishing without a report.
  flush();
  if (descriptor >= 0 && closeOnDestroy) {
    if (!closeDescriptor(descriptor)) latchFailure();
    descriptor = -1;
  }
  // An output failure is no crash: no crash diagnostics wished for.
  if (hasWriteFailed()) fatalError("IO failure on output stream.", false);
}

void FdOutStream::close() {
  closeOnDestroy = false;
  flush();
  if (descriptor >= 0 && !closeDescriptor(descriptor)) latchFailure();
  descriptor = -1;
}

uint64_t FdOutStream::seek(uint64_t offset) {
  flush();
  off64_t result = -1;
  // An offset beyond the signed range cannot be reached; it fails like a rejected seek.
  if (offset <= uint64_t(INT64_MAX)) result = ::lseek64(descriptor, off64_t(offset), SEEK_SET);
  bytesWritten.store(uint64_t(result), std::memory_order_relaxed);
  if (result < 0 || uint64_t(result) != offset) latchFailure();
  return uint64_t(result);
}

void FdOutStream::sinkWrite(const char *data, size_t size) {
  bytesWritten.fetch_add(size, std::memory_order_relaxed);
  while (size > 0) {
    ssize_t written;
    if (atomicWrites) {
      struct iovec piece = {const_cast<char *>(data), size};
      written = ::writev(descriptor, &piece, 1);
    } else {
      written = ::write(descriptor, data, size);
    }
    if (written < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      latchFailure();
      return;
    }
    data += written;
    size -= size_t(written);
  }
}

FdOutStream &FdOutStream::writeUncounted(const char *text) {
  if (proc::flushBeforeColor()) flush();
  size_t length = std::strlen(text);
  write(text, length);
  // Taken off at once, pending or not: the count may wrap below zero until the buffer drains,
  // which unsigned arithmetic undoes exactly.
  bytesWritten.fetch_sub(length, std::memory_order_relaxed);
  return *this;
}

FdOutStream &FdOutStream::setColor(TerminalColor color, bool bold, bool background) {
  if (color == TerminalColor::KeepColor) return writeUncounted(proc::boldSequence(background));
  return writeUncounted(proc::colorSequence(color, bold, background));
}

FdOutStream &FdOutStream::restoreColor() { return writeUncounted(proc::resetSequence()); }

FdOutStream &FdOutStream::setReverseVideo() { return writeUncounted(proc::reverseSequence()); }

bool FdOutStream::showsOnTerminal() const { return proc::isTerminal(descriptor); }

bool FdOutStream::supportsColors() const { return proc::terminalSupportsColor(descriptor); }

uint64_t FdOutStream::sinkPosition() const { return getBytesWritten(); }

size_t FdOutStream::defaultBufferSize() const {
  // The 64-bit form: the plain one fails with EOVERFLOW on files past 2 GiB on 32-bit targets.
  struct stat64 status;
  if (::fstat64(descriptor, &status) != 0) return 0;
  if (S_ISCHR(status.st_mode) && ::isatty(descriptor)) return 0;
  return status.st_blksize > 0 ? size_t(status.st_blksize) : 0;
}

} // namespace vorn
