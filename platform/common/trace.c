#include "platform/common/trace.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/common/textbuf.h"

int trace_enabled(void) {
  const char *path = getenv("RASK_TRACE");
  return path && *path;
}

void trace_line(const char *line) {
  const char *path = getenv("RASK_TRACE");
  if (!path || !*path) return;
  TextBuf buf = {0};
  tb_append(&buf, line);
  tb_append_char(&buf, '\n');
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) {
    const char *p = tb_text(&buf);
    size_t left = buf.len;
    while (left > 0) {
      ssize_t n = write(fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      p += n;
      left -= (size_t)n;
    }
    close(fd);
  }
  tb_free(&buf);
}
