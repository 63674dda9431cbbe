/* The splash-screen stand-in: shows nothing, records every call in the RASK_TRACE file. */

#include "platform/common/export.h"
#include "platform/common/textbuf.h"
#include "platform/common/trace.h"

__attribute__((constructor)) static void announce_load(void) { trace_line("splash-library-loaded"); }

PLATFORM_EXPORT void SplashInit(void) { trace_line("SplashInit"); }

PLATFORM_EXPORT void SplashLoadMemory(void *bytes, int count) {
  TextBuf tb = {0};
  tb_appendf(&tb, "SplashLoadMemory count=%d", count);
  if (bytes && count > 0) {
    // The first bytes, so that a test can tell which image arrived; others show as '.'.
    tb_append(&tb, " text=");
    const unsigned char *p = (const unsigned char *)bytes;
    for (int i = 0; i < count && i < 32; ++i) tb_append_char(&tb, p[i] >= 0x20 && p[i] < 0x7f ? (char)p[i] : '.');
  }
  trace_line(tb_text(&tb));
  tb_free(&tb);
}

PLATFORM_EXPORT void SplashLoadFile(const char *name) {
  TextBuf tb = {0};
  tb_append(&tb, "SplashLoadFile ");
  tb_append_escaped(&tb, name, 0);
  trace_line(tb_text(&tb));
  tb_free(&tb);
}

PLATFORM_EXPORT int SplashSetFileZubName(const char *name, const char *zubName) {
  TextBuf tb = {0};
  tb_append(&tb, "SplashSetFileZubName ");
  tb_append_escaped(&tb, name, 0);
  tb_append_char(&tb, ' ');
  tb_append_escaped(&tb, zubName, 0);
  trace_line(tb_text(&tb));
  tb_free(&tb);
  return name != 0;
}
