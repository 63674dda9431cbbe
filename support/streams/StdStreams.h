#ifndef VORN_SUPPORT_STREAMS_STDSTREAMS_H
#define VORN_SUPPORT_STREAMS_STDSTREAMS_H

#include "support/runtime/Compiler.h"

#include "support/streams/FdOutStream.h"
#include "support/streams/NullOutStream.h"

namespace vorn {

// The process-wide streams, each built at its first use and destroyed at normal exit, the one
// built last first (support/runtime/LazyStatic.h).

// Descriptor 1: buffered unless it is a terminal; flushed and closed at exit, where a write
// failure latched during the run ends the process through fatalError with "IO failure on output
// stream." and status 1.
FdOutStream &stdoutStream();
// Descriptor 2: unbuffered, so each write reaches the descriptor at once; never closed.
FdOutStream &stderrStream();
// A stream that discards everything.
NullOutStream &nullStream();

} // namespace vorn

#endif
