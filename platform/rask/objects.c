#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "platform/rask/vm.h"

#define OBJ_MAGIC 0x4b534152u

Vm vm;

void vm_die(const char *format, ...) {
  TextBuf tb = {0};
  tb_append(&tb, "librask: ");
  va_list ap;
  va_start(ap, format);
  tb_vappendf(&tb, format, ap);
  va_end(ap);
  tb_append_char(&tb, '\n');
  fflush(stdout);
  fputs(tb_text(&tb), stderr);
  fflush(stderr);
  abort();
}

static size_t slot_of(const void *p, size_t cap) {
  uintptr_t h = (uintptr_t)p;
  h ^= h >> 16;
  h *= 0x45d9f3bu;
  h ^= h >> 16;
  return (size_t)h & (cap - 1);
}

static void registry_insert(void **table, size_t cap, void *p) {
  size_t i = slot_of(p, cap);
  while (table[i]) i = (i + 1) & (cap - 1);
  table[i] = p;
}

int vm_registered(const void *p) {
  if (!p || !vm.registryCap) return 0;
  size_t i = slot_of(p, vm.registryCap);
  while (vm.registry[i]) {
    if (vm.registry[i] == p) return 1;
    i = (i + 1) & (vm.registryCap - 1);
  }
  return 0;
}

Obj *vm_new(ObjKind kind, size_t size) {
  if ((vm.registryCount + 1) * 2 > vm.registryCap) {
    size_t cap = vm.registryCap ? vm.registryCap * 2 : 256;
    void **table = (void **)calloc(cap, sizeof *table);
    if (!table) vm_die("out of memory");
    for (size_t i = 0; i < vm.registryCap; ++i)
      if (vm.registry[i]) registry_insert(table, cap, vm.registry[i]);
    free(vm.registry);
    vm.registry = table;
    vm.registryCap = cap;
  }
  Obj *obj = (Obj *)calloc(1, size);
  if (!obj) vm_die("out of memory");
  obj->magic = OBJ_MAGIC;
  obj->kind = kind;
  obj->next = vm.objects;
  vm.objects = obj;
  registry_insert(vm.registry, vm.registryCap, obj);
  ++vm.registryCount;
  return obj;
}

static void free_object(Obj *obj) {
  switch (obj->kind) {
    case K_CLASS: free(((ClassObj *)obj)->name); break;
    case K_STRING: {
      StringObj *s = (StringObj *)obj;
      while (s->copies) {
        UtfCopy *next = s->copies->next;
        free(s->copies->chars);
        free(s->copies);
        s->copies = next;
      }
      free(s->text);
      break;
    }
    case K_BYTES: free(((BytesObj *)obj)->bytes); break;
    case K_OBJARRAY:
      free(((ArrayObj *)obj)->elementClass);
      free(((ArrayObj *)obj)->arrayClass);
      free(((ArrayObj *)obj)->elements);
      break;
    case K_EXCEPTION:
      free(((ExceptionObj *)obj)->className);
      free(((ExceptionObj *)obj)->message);
      break;
    case K_ZUBFILE: free(((ZubFileObj *)obj)->path); break;
    case K_MANIFEST: zub_manifest_free(&((ManifestObj *)obj)->manifest); break;
    case K_REFLECT:
    case K_ATTRIBUTES: break;
  }
  obj->magic = 0;
  free(obj);
}

void vm_free_objects(void) {
  while (vm.objects) {
    Obj *next = vm.objects->next;
    free_object(vm.objects);
    vm.objects = next;
  }
  free(vm.registry);
  vm.registry = NULL;
  vm.registryCap = vm.registryCount = 0;
}

void vm_clear_pending(void) {
  if (!vm.pending) return;
  free(vm.pending->className);
  free(vm.pending->message);
  free(vm.pending);
  vm.pending = NULL;
}

void vm_raise(const char *className, const char *format, ...) {
  vm_clear_pending();
  Pending *p = (Pending *)xmalloc("librask", sizeof *p);
  p->className = xstrdup("librask", className);
  p->message = NULL;
  if (format) {
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(NULL, 0, format, ap);
    va_end(ap);
    if (n >= 0) {
      char *text = (char *)xmalloc("librask", (size_t)n + 1);
      va_start(ap, format);
      vsnprintf(text, (size_t)n + 1, format, ap);
      va_end(ap);
      p->message = text;
    }
  }
  vm.pending = p;
  vm.raisedInCall = 1;
}

int vm_fails(const char *token) {
  for (int i = 0; i < vm.failCount; ++i)
    if (strcmp(vm.failTokens[i], token) == 0) return 1;
  return 0;
}

int vm_fails_named(const char *prefix, const char *name) {
  size_t plen = strlen(prefix);
  for (int i = 0; i < vm.failCount; ++i) {
    const char *t = vm.failTokens[i];
    if (strncmp(t, prefix, plen) == 0 && strcmp(t + plen, name) == 0) return 1;
  }
  return 0;
}

const char *vm_class_name_of(const Obj *obj) {
  switch (obj->kind) {
    case K_CLASS: return "tesk/lang/Class";
    case K_STRING: return "tesk/lang/String";
    case K_BYTES: return "[B";
    case K_OBJARRAY: return ((const ArrayObj *)obj)->arrayClass;
    case K_REFLECT: return "tesk/lang/reflect/Method";
    case K_EXCEPTION: return "tesk/lang/Throwable";
    case K_ZUBFILE: return "tesk/util/zub/ZubFile";
    case K_MANIFEST: return "tesk/util/zub/Manifest";
    case K_ATTRIBUTES: return "tesk/util/zub/Attributes";
  }
  return "tesk/lang/Object";
}

void vm_describe(TextBuf *tb, const Obj *obj) {
  if (!obj) {
    tb_append(tb, "null");
    return;
  }
  switch (obj->kind) {
    case K_CLASS: tb_appendf(tb, "class %s", ((const ClassObj *)obj)->name); break;
    case K_STRING:
      tb_append(tb, "string ");
      tb_append_escaped(tb, ((const StringObj *)obj)->text, 1);
      break;
    case K_BYTES: tb_appendf(tb, "bytes[%d]", ((const BytesObj *)obj)->length); break;
    case K_OBJARRAY:
      tb_appendf(tb, "array %s[%d]", ((const ArrayObj *)obj)->elementClass,
                 ((const ArrayObj *)obj)->length);
      break;
    case K_REFLECT: tb_appendf(tb, "reflected-method %s", ((const ReflectObj *)obj)->method->name); break;
    case K_EXCEPTION: tb_appendf(tb, "exception %s", ((const ExceptionObj *)obj)->className); break;
    case K_ZUBFILE:
      tb_append(tb, "zubfile ");
      tb_append_escaped(tb, ((const ZubFileObj *)obj)->path, 1);
      break;
    case K_MANIFEST: tb_append(tb, "manifest"); break;
    case K_ATTRIBUTES: tb_append(tb, "attributes"); break;
  }
}

StringObj *vm_new_string(const char *text) {
  StringObj *s = (StringObj *)vm_new(K_STRING, sizeof *s);
  s->text = xstrdup("librask", text);
  return s;
}

ClassObj *vm_new_class(const char *name) {
  ClassObj *c = (ClassObj *)vm_new(K_CLASS, sizeof *c);
  c->name = xstrdup("librask", name);
  return c;
}

ExceptionObj *vm_new_exception(const char *className, const char *message) {
  ExceptionObj *e = (ExceptionObj *)vm_new(K_EXCEPTION, sizeof *e);
  e->className = xstrdup("librask", className);
  e->message = message ? xstrdup("librask", message) : NULL;
  return e;
}

/* ---- character sets ---- */

int vm_charset_supported(const char *name) {
  return name && (strcasecmp(name, "UTF-8") == 0 || strcasecmp(name, "ISO-8859-1") == 0 ||
                  strcasecmp(name, "US-ASCII") == 0);
}

const char *vm_default_charset(void) {
  const char *env = getenv("RASK_ENCODING");
  return vm_charset_supported(env) ? env : "UTF-8";
}

static void put_unit(TextBuf *out, unsigned u) {
  /* One UTF-16 code unit as modified UTF-8: NUL takes two bytes so the text has none. */
  if (u != 0 && u < 0x80) {
    tb_append_char(out, (char)u);
  } else if (u < 0x800) {
    tb_append_char(out, (char)(0xc0 | (u >> 6)));
    tb_append_char(out, (char)(0x80 | (u & 0x3f)));
  } else {
    tb_append_char(out, (char)(0xe0 | (u >> 12)));
    tb_append_char(out, (char)(0x80 | ((u >> 6) & 0x3f)));
    tb_append_char(out, (char)(0x80 | (u & 0x3f)));
  }
}

static void put_code_point(TextBuf *out, unsigned cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    put_unit(out, 0xd800 | (cp >> 10));
    put_unit(out, 0xdc00 | (cp & 0x3ff));
  } else {
    put_unit(out, cp);
  }
}

/* Decodes one UTF-8 sequence at `s` (n bytes left): the code point, and the bytes used in *used;
   0xfffd with one byte used for anything malformed (overlong forms and surrogates included). */
static unsigned utf8_next(const unsigned char *s, size_t n, size_t *used) {
  *used = 1;
  unsigned c = s[0];
  if (c < 0x80) return c;
  size_t len;
  unsigned cp, min;
  if ((c & 0xe0) == 0xc0) {
    len = 2, cp = c & 0x1f, min = 0x80;
  } else if ((c & 0xf0) == 0xe0) {
    len = 3, cp = c & 0x0f, min = 0x800;
  } else if ((c & 0xf8) == 0xf0) {
    len = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0xfffd;
  }
  if (n < len) return 0xfffd;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xc0) != 0x80) return 0xfffd;
    cp = (cp << 6) | (s[i] & 0x3f);
  }
  if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0xfffd;
  *used = len;
  return cp;
}

char *vm_decode(const unsigned char *bytes, size_t count, const char *charset) {
  TextBuf out = {0};
  if (strcasecmp(charset, "UTF-8") == 0) {
    size_t i = 0;
    while (i < count) {
      size_t used;
      put_code_point(&out, utf8_next(bytes + i, count - i, &used));
      i += used;
    }
  } else {
    int ascii = strcasecmp(charset, "US-ASCII") == 0;
    for (size_t i = 0; i < count; ++i) put_code_point(&out, ascii && bytes[i] >= 0x80 ? 0xfffd : bytes[i]);
  }
  return tb_release(&out);
}

/* Decodes one modified UTF-8 unit sequence (one to three bytes) into a UTF-16 code unit. */
static unsigned mutf8_unit(const unsigned char *s, size_t *used) {
  unsigned c = s[0];
  *used = 1;
  if (c < 0x80) return c;
  if ((c & 0xe0) == 0xc0 && (s[1] & 0xc0) == 0x80) {
    *used = 2;
    return ((c & 0x1f) << 6) | (s[1] & 0x3f);
  }
  if ((c & 0xf0) == 0xe0 && (s[1] & 0xc0) == 0x80 && (s[2] & 0xc0) == 0x80) {
    *used = 3;
    return ((c & 0x0f) << 12) | ((s[1] & 0x3f) << 6) | (s[2] & 0x3f);
  }
  return 0xfffd;
}

void vm_encode(TextBuf *out, const char *text, const char *charset) {
  int utf8 = strcasecmp(charset, "UTF-8") == 0;
  unsigned limit = strcasecmp(charset, "US-ASCII") == 0 ? 0x7f : 0xff;
  const unsigned char *s = (const unsigned char *)text;
  while (*s) {
    size_t used;
    unsigned cp = mutf8_unit(s, &used);
    s += used;
    if (cp >= 0xd800 && cp <= 0xdbff && *s) {
      size_t used2;
      unsigned low = mutf8_unit(s, &used2);
      if (low >= 0xdc00 && low <= 0xdfff) {
        cp = 0x10000 + ((cp - 0xd800) << 10) + (low - 0xdc00);
        s += used2;
      }
    }
    if (cp >= 0xd800 && cp <= 0xdfff) cp = utf8 ? 0xfffd : '?';
    if (!utf8) {
      tb_append_char(out, (char)(cp <= limit ? cp : '?'));
    } else if (cp < 0x80) {
      tb_append_char(out, (char)cp);
    } else if (cp < 0x800) {
      tb_append_char(out, (char)(0xc0 | (cp >> 6)));
      tb_append_char(out, (char)(0x80 | (cp & 0x3f)));
    } else if (cp < 0x10000) {
      tb_append_char(out, (char)(0xe0 | (cp >> 12)));
      tb_append_char(out, (char)(0x80 | ((cp >> 6) & 0x3f)));
      tb_append_char(out, (char)(0x80 | (cp & 0x3f)));
    } else {
      tb_append_char(out, (char)(0xf0 | (cp >> 18)));
      tb_append_char(out, (char)(0x80 | ((cp >> 12) & 0x3f)));
      tb_append_char(out, (char)(0x80 | ((cp >> 6) & 0x3f)));
      tb_append_char(out, (char)(0x80 | (cp & 0x3f)));
    }
  }
}
