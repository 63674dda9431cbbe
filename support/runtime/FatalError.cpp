#include "support/runtime/FatalError.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

#include "support/process/Signals.h"
#include "support/streams/StdStreams.h"

namespace vorn {

namespace {

// Plain globals without a lock: the handler is installed before other threads exist.
FatalHandler fatalHandler = nullptr;
void *fatalHandlerData = nullptr;

void callCStringHandler(void *handlerData, const std::string &reason, bool) {
  reinterpret_cast<CStringFatalHandler>(handlerData)(reason.c_str());
}

// A stream into a fixed array that drops what does not fit: a fatal error is often that the heap
// refused a block, so its report must not need one.
class FixedOutStream final : public OutStream {
public:
  FixedOutStream(char *buffer, size_t capacity) : buffer(buffer), capacity(capacity) {}
  ~FixedOutStream() override { flush(); }

private:
  void sinkWrite(const char *data, size_t size) override {
    size_t n = std::min(size, capacity - used);
    std::memcpy(buffer + used, data, n);
    used += n;
  }
  uint64_t sinkPosition() const override { return used; }
  size_t defaultBufferSize() const override { return 0; }

  char *buffer;
  size_t capacity;
  size_t used = 0;
};

// "VORN ERROR: ", the reason and a newline on descriptor 2, in one write, so that concurrent
// output cannot split the message; not through the standard error stream, whose own destruction
// may report a fatal error.
void writeReport(const Twine &reason) {
  char message[8192];
  size_t size;
  {
    FixedOutStream os(message, sizeof message - 1);
    os << "VORN ERROR: ";
    reason.render(os);
    os.flush();
    size = size_t(os.position());
  }
  size = std::min(size, sizeof message - 1);
  message[size++] = '\n';
  ssize_t ignored = ::write(2, message, size);
  (void)ignored;
}

// Fatal errors being reported by this thread: one that arises while the last is reported (the
// handler or the clean-up running out of memory, say) is written as it is and ends the process
// at once, instead of starting the report over without end.
thread_local int reportDepth = 0;

// The C++ allocator's refusals end like the library's own (support/runtime/Allocation.h), not in
// an exception that this library's code cannot catch. Installed before main, unless the program
// has a new-handler of its own by then.
void outOfMemory() { fatalError("Allocation failed: the C++ allocator found no memory"); }

[[maybe_unused]] const bool newHandlerInstalled = [] {
  if (std::get_new_handler()) return false;
  std::set_new_handler(outOfMemory);
  return true;
}();

} // namespace

void setFatalHandler(FatalHandler handler, void *handlerData) {
  fatalHandler = handler;
  fatalHandlerData = handlerData;
}

void clearFatalHandler() { fatalHandler = nullptr; }

void setCStringFatalHandler(CStringFatalHandler handler) {
  setFatalHandler(callCStringHandler, reinterpret_cast<void *>(handler));
}

void clearCStringFatalHandler() { clearFatalHandler(); }

void fatalError(const Twine &reason, bool handlerFlag) {
  if (++reportDepth > 1) {
    writeReport(reason);
    ::_exit(1);
  }
  if (FatalHandler handler = fatalHandler)
    handler(fatalHandlerData, reason.toString(), handlerFlag);
  else
    writeReport(reason);
  proc::runInterruptCleanup();
  std::exit(1);
}

void fatalError(const char *reason, bool handlerFlag) {
  fatalError(reason && *reason ? Twine(reason) : Twine(), handlerFlag);
}

void fatalError(const std::string &reason, bool handlerFlag) {
  fatalError(Twine(reason), handlerFlag);
}

void fatalError(StrView reason, bool handlerFlag) { fatalError(Twine(reason), handlerFlag); }

void reachedUnreachable(const char *message, const char *file, unsigned line) {
  FdOutStream &os = debugStream();
  if (message) os << message << "\n";
  os << "UNREACHABLE executed";
  if (file) os << " at " << file << ":" << line;
  os << "!\n";
  std::abort();
}

FdOutStream &debugStream() { return stderrStream(); }

} // namespace vorn
