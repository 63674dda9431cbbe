#include "support/runtime/Checks.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace vorn {

void failedCheck(const char *operation, const char *rule) {
  // No allocation and no stream: this may run with the heap or the streams in a bad state.
  char line[512];
  size_t used = 0;
  auto put = [&](const char *text) {
    size_t n = std::strlen(text);
    if (n > sizeof line - 1 - used) n = sizeof line - 1 - used;
    std::memcpy(line + used, text, n);
    used += n;
  };
  put("vorn: ");
  put(operation ? operation : "?");
  put(": ");
  put(rule ? rule : "?");
  line[used++] = '\n';
  ssize_t ignored = ::write(2, line, used);
  (void)ignored;
  std::abort();
}

} // namespace vorn
