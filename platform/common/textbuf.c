#include "platform/common/textbuf.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void out_of_memory(const char *who, size_t size) {
  fprintf(stderr, "%s: out of memory (%lu bytes)\n", who, (unsigned long)size);
  abort();
}

void *xmalloc(const char *who, size_t size) {
  void *block = malloc(size ? size : 1);
  if (!block) out_of_memory(who, size);
  return block;
}

void *xrealloc(const char *who, void *block, size_t size) {
  void *grown = realloc(block, size ? size : 1);
  if (!grown) out_of_memory(who, size);
  return grown;
}

char *xstrdup(const char *who, const char *text) {
  size_t len = strlen(text);
  char *copy = (char *)xmalloc(who, len + 1);
  memcpy(copy, text, len + 1);
  return copy;
}

static void reserve(TextBuf *tb, size_t extra) {
  if (extra >= (size_t)-1 - tb->len - 1) out_of_memory("text buffer", (size_t)-1);
  size_t need = tb->len + extra + 1;
  if (need <= tb->cap) return;
  size_t cap = tb->cap ? tb->cap : 64;
  while (cap < need) cap = cap > ((size_t)-1) / 2 ? need : cap * 2;
  tb->data = (char *)xrealloc("text buffer", tb->data, cap);
  tb->cap = cap;
}

void tb_append_bytes(TextBuf *tb, const void *bytes, size_t count) {
  reserve(tb, count);
  if (count) memcpy(tb->data + tb->len, bytes, count);
  tb->len += count;
  tb->data[tb->len] = '\0';
}

void tb_append(TextBuf *tb, const char *text) { tb_append_bytes(tb, text, strlen(text)); }

void tb_append_char(TextBuf *tb, char c) { tb_append_bytes(tb, &c, 1); }

void tb_vappendf(TextBuf *tb, const char *format, va_list ap) {
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(NULL, 0, format, ap);
  if (n > 0) {
    reserve(tb, (size_t)n);
    vsnprintf(tb->data + tb->len, (size_t)n + 1, format, again);
    tb->len += (size_t)n;
  }
  va_end(again);
}

void tb_appendf(TextBuf *tb, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  tb_vappendf(tb, format, ap);
  va_end(ap);
}

void tb_append_escaped(TextBuf *tb, const char *text, int quote) {
  if (!text) {
    tb_append(tb, "null");
    return;
  }
  if (quote) tb_append_char(tb, '"');
  for (const unsigned char *p = (const unsigned char *)text; *p; ++p) {
    if (*p == '\\') {
      tb_append(tb, "\\\\");
    } else if (quote && *p == '"') {
      tb_append(tb, "\\\"");
    } else if (*p < 0x20 || *p == 0x7f) {
      tb_appendf(tb, "\\x%02x", *p);
    } else {
      tb_append_char(tb, (char)*p);
    }
  }
  if (quote) tb_append_char(tb, '"');
}

const char *tb_text(const TextBuf *tb) { return tb->data ? tb->data : ""; }

void tb_clear(TextBuf *tb) {
  tb->len = 0;
  if (tb->data) tb->data[0] = '\0';
}

void tb_free(TextBuf *tb) {
  free(tb->data);
  tb->data = NULL;
  tb->len = tb->cap = 0;
}

char *tb_release(TextBuf *tb) {
  char *text = tb->data ? tb->data : xstrdup("text buffer", "");
  tb->data = NULL;
  tb->len = tb->cap = 0;
  return text;
}
