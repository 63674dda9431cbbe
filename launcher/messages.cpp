// The launcher's trace flag, its compiled-in names and its message and trace helpers.

#include "launcher/launcher.h"

#include <cstdarg>
#include <cstdio>

#include "launcher/oru.h"

extern "C" {
char _launcher_debug = 0;
}

const char *const kArch = "i386";
const char *const kRelease = "1.6.0_33-b33";

void trace(const char *format, ...) {
  if (!_launcher_debug)
    return;
  va_list ap;
  va_start(ap, format);
  vprintf(format, ap);
  va_end(ap);
  // The VM writes on the same descriptor, possibly without going through stdio; flushing keeps
  // the trace in step with what it prints.
  fflush(stdout);
}

void reportError(const char *message, bool show) {
  if (show)
    fprintf(stderr, "%s\n", message);
}

void reportKruError() {
  reportError("Error: A KRU error has occurred, please check your installation and try again");
}

void reportErrorArg(const char *format, const char *arg, bool show) {
  if (!show)
    return;
  char *text = formatMessage(format, arg);
  fprintf(stderr, "%s\n", text);
  ORU_MemFree(text);
}
