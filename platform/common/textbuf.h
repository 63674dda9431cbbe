#ifndef PLATFORM_COMMON_TEXTBUF_H
#define PLATFORM_COMMON_TEXTBUF_H

#include <stdarg.h>
#include <stddef.h>

/* A growable NUL-terminated text. A zero-initialised TextBuf is empty and valid. Running out of
   memory ends the process with a message: the libraries have no way to report it to the caller. */
typedef struct TextBuf {
  char *data; /* null until something is appended */
  size_t len;
  size_t cap;
} TextBuf;

/* Appends `count` bytes of `bytes` (which may contain NULs). */
void tb_append_bytes(TextBuf *tb, const void *bytes, size_t count);
/* Appends the NUL-terminated `text`. */
void tb_append(TextBuf *tb, const char *text);
/* Appends one byte. */
void tb_append_char(TextBuf *tb, char c);
/* Appends printf-formatted text. */
void tb_appendf(TextBuf *tb, const char *format, ...) __attribute__((format(printf, 2, 3)));
// The same with the arguments as a va_list (which it consumes).
void tb_vappendf(TextBuf *tb, const char *format, va_list ap);
/* Appends `text` with '\\' and control bytes (below 0x20 and 0x7f) escaped as "\\\\" and
   "\\xHH", and '"' as "\\\"" when `quote` is set, in which case the result is also enclosed in
   double quotes. A null `text` appends "null" without quotes. The result never holds a newline. */
void tb_append_escaped(TextBuf *tb, const char *text, int quote);
/* The text so far; never null (the empty text before anything was appended). */
const char *tb_text(const TextBuf *tb);
/* Empties the text, keeping the storage. */
void tb_clear(TextBuf *tb);
/* Releases the storage; the buffer is empty and valid afterwards. */
void tb_free(TextBuf *tb);
/* Hands over the storage as a malloc'd text (never null) and leaves the buffer empty. */
char *tb_release(TextBuf *tb);

/* malloc/realloc/strdup that end the process with a message naming `who` when memory runs out. */
void *xmalloc(const char *who, size_t size);
void *xrealloc(const char *who, void *block, size_t size);
char *xstrdup(const char *who, const char *text);

#endif
