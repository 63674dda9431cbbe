#include "support/runtime/FatalError.h"

#include <cstdlib>
#include <unistd.h>

#include "support/process/Signals.h"
#include "support/streams/StdStreams.h"
#include "support/streams/VectorOutStream.h"
#include "support/text/InlineVector.h"

namespace vorn {

namespace {

// Plain globals without a lock: the handler is installed before other threads exist.
FatalHandler fatalHandler = nullptr;
void *fatalHandlerData = nullptr;

void callCStringHandler(void *handlerData, const std::string &reason, bool) {
  reinterpret_cast<CStringFatalHandler>(handlerData)(reason.c_str());
}

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
  if (FatalHandler handler = fatalHandler) {
    handler(fatalHandlerData, reason.toString(), handlerFlag);
  } else {
    // Straight to the descriptor in one write, so that concurrent output cannot split the
    // message, and not through the standard error stream, whose own destruction may report a
    // fatal error.
    InlineVector<char, 64> message;
    {
      VectorOutStream os(message);
      os << "VORN ERROR: ";
      reason.render(os);
      os << '\n';
    }
    ssize_t ignored = ::write(2, message.data(), message.size());
    (void)ignored;
  }
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
