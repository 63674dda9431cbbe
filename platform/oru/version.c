#include <ctype.h>
#include <string.h>

#include "platform/common/export.h"
#include "platform/oru/oru.h"

static int is_separator(char c) { return c == '.' || c == '_' || c == '-'; }

/* The element of `text` that starts at *pos: its start and length; *pos moves past it and past
   one separator after it. Returns 0 when nothing is left (*pos at the end). */
static int next_element(const char *text, size_t len, size_t *pos, const char **start, size_t *elen) {
  if (*pos > len) return 0;
  size_t b = *pos, e = b;
  while (e < len && !is_separator(text[e])) ++e;
  *start = text + b;
  *elen = e - b;
  *pos = e + 1; /* past the separator, or past the end when there is none */
  return 1;
}

static int all_digits(const char *s, size_t n) {
  if (n == 0) return 0;
  for (size_t i = 0; i < n; ++i)
    if (!isdigit((unsigned char)s[i])) return 0;
  return 1;
}

static int compare_elements(const char *a, size_t an, const char *b, size_t bn) {
  int ad = all_digits(a, an), bd = all_digits(b, bn);
  if (ad && bd) {
    // As numbers of any length: drop leading zeros, then the longer is larger.
    while (an > 1 && *a == '0') ++a, --an;
    while (bn > 1 && *b == '0') ++b, --bn;
    if (an != bn) return an < bn ? -1 : 1;
    int c = memcmp(a, b, an);
    return c < 0 ? -1 : c > 0;
  }
  if (ad != bd) return ad ? -1 : 1;
  size_t n = an < bn ? an : bn;
  int c = memcmp(a, b, n);
  if (c != 0) return c < 0 ? -1 : 1;
  return an == bn ? 0 : (an < bn ? -1 : 1);
}

/* Compares the first `alen` bytes of `a` with the first `blen` of `b` as releases. With
   `prefixOnly`, a `b` whose elements all match the leading ones of `a` compares equal. */
static int compare_releases(const char *a, size_t alen, const char *b, size_t blen, int prefixOnly) {
  size_t ap = 0, bp = 0;
  for (;;) {
    const char *ae = NULL, *be = NULL;
    size_t an = 0, bn = 0;
    int ha = next_element(a, alen, &ap, &ae, &an);
    int hb = next_element(b, blen, &bp, &be, &bn);
    if (!hb) return ha && !prefixOnly ? 1 : 0;
    if (!ha) return -1;
    int c = compare_elements(ae, an, be, bn);
    if (c != 0) return c;
  }
}

static int valid_release(const char *s, size_t n) {
  if (n == 0) return 0;
  int elementLen = 0;
  for (size_t i = 0; i < n; ++i) {
    if (is_separator(s[i])) {
      if (elementLen == 0) return 0;
      elementLen = 0;
    } else if (isalnum((unsigned char)s[i])) {
      ++elementLen;
    } else {
      return 0;
    }
  }
  return elementLen > 0;
}

typedef struct Alternative {
  const char *release;
  size_t len;
  char modifier; /* 0, '+' or '*' */
} Alternative;

/* Splits the alternative of `len` bytes at `s`; 0 when it is not well formed. */
static int parse_alternative(const char *s, size_t len, Alternative *alt) {
  alt->release = s;
  alt->len = len;
  alt->modifier = 0;
  if (len > 0 && (s[len - 1] == '+' || s[len - 1] == '*')) {
    alt->modifier = s[len - 1];
    alt->len = len - 1;
    // "1.6.*" reads as "1.6*".
    if (alt->modifier == '*' && alt->len > 1 && is_separator(s[alt->len - 1])) --alt->len;
  }
  return valid_release(alt->release, alt->len);
}

/* Calls `visit` for every alternative of `spec` until it returns non-zero; returns -1 when the
   version request is malformed, else the last result of `visit` (0 when none accepted). */
static int each_alternative(const char *spec, int (*visit)(const Alternative *, const char *),
                            const char *release) {
  int seen = 0, result = 0;
  const char *p = spec;
  while (*p) {
    while (*p == ' ') ++p;
    if (!*p) break;
    const char *end = strchr(p, ' ');
    size_t len = end ? (size_t)(end - p) : strlen(p);
    Alternative alt;
    if (!parse_alternative(p, len, &alt)) return -1;
    ++seen;
    if (visit && !result) result = visit(&alt, release);
    p += len;
  }
  return seen ? result : -1;
}

static int accepts(const Alternative *alt, const char *release) {
  size_t rlen = strlen(release);
  switch (alt->modifier) {
    case '+': return compare_releases(release, rlen, alt->release, alt->len, 0) >= 0;
    case '*': return compare_releases(release, rlen, alt->release, alt->len, 1) == 0;
    default: return compare_releases(release, rlen, alt->release, alt->len, 0) == 0;
  }
}

PLATFORM_EXPORT int ORU_ValidVersionString(char *spec) {
  if (!spec) return 0;
  return each_alternative(spec, NULL, NULL) >= 0;
}

PLATFORM_EXPORT int ORU_AcceptableRelease(const char *release, char *spec) {
  if (!release || !spec || !valid_release(release, strlen(release))) return 0;
  // A malformed version request (-1) accepts nothing, even if an early alternative would match.
  return each_alternative(spec, NULL, NULL) >= 0 && each_alternative(spec, accepts, release) > 0;
}

PLATFORM_EXPORT int ORU_ExactVersionId(const char *a, const char *b) {
  if (!a || !b) return (a != NULL) - (b != NULL);
  return compare_releases(a, strlen(a), b, strlen(b), 0);
}
