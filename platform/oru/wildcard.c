#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/common/export.h"
#include "platform/common/textbuf.h"
#include "platform/oru/oru.h"

static int is_wildcard(const char *element, size_t len) {
  return (len == 1 && element[0] == '*') || (len >= 2 && element[len - 2] == '/' && element[len - 1] == '*');
}

static int zub_name(const char *name) {
  size_t len = strlen(name);
  return len > 4 && (strcmp(name + len - 4, ".zub") == 0 || strcmp(name + len - 4, ".ZUB") == 0);
}

static int by_name(const void *a, const void *b) {
  return strcmp(*(const char *const *)a, *(const char *const *)b);
}

/* Appends the expansion of the wildcard element `prefix` + "*" (without a leading separator)
   and returns the number of files appended. */
static size_t expand(TextBuf *out, const char *prefix, int first) {
  TextBuf path = {0};
  tb_append(&path, *prefix ? prefix : ".");
  DIR *dir = opendir(tb_text(&path));
  if (!dir) {
    tb_free(&path);
    return 0;
  }
  char **names = NULL;
  size_t count = 0, cap = 0;
  struct dirent *e;
  while ((e = readdir(dir)) != NULL) {
    if (!zub_name(e->d_name)) continue;
    // The type from the directory entry may be unknown, and symbolic links count by their
    // targets: ask stat.
    tb_clear(&path);
    tb_append(&path, *prefix ? prefix : "./");
    tb_append(&path, e->d_name);
    struct stat st;
    if (stat(tb_text(&path), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    if (count == cap) {
      cap = cap ? cap * 2 : 16;
      names = (char **)xrealloc("liboru", names, cap * sizeof *names);
    }
    names[count++] = xstrdup("liboru", e->d_name);
  }
  closedir(dir);
  tb_free(&path);
  if (count > 1) qsort(names, count, sizeof *names, by_name);
  for (size_t i = 0; i < count; ++i) {
    if (!(first && i == 0)) tb_append_char(out, ':');
    tb_append(out, prefix);
    tb_append(out, names[i]);
    free(names[i]);
  }
  free(names);
  return count;
}

PLATFORM_EXPORT char *ORU_WildcardExpandClasspath(const char *classpath) {
  if (!classpath) return NULL;
  TextBuf out = {0};
  int first = 1;
  const char *p = classpath;
  for (;;) {
    const char *end = strchr(p, ':');
    size_t len = end ? (size_t)(end - p) : strlen(p);
    if (is_wildcard(p, len)) {
      TextBuf prefix = {0};
      tb_append_bytes(&prefix, p, len - 1);
      if (expand(&out, tb_text(&prefix), first) > 0) first = 0;
      tb_free(&prefix);
    } else {
      if (!first) tb_append_char(&out, ':');
      tb_append_bytes(&out, p, len);
      first = 0;
    }
    if (!end) break;
    p = end + 1;
  }
  // Handed out through ORU_MemFree's allocator (malloc), like every other ORU_ block.
  return tb_release(&out);
}
