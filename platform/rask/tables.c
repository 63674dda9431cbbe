/* The entry points of librask.so and the two function tables it hands out. */

#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/common/export.h"
#include "platform/common/trace.h"
#include "platform/rask/vm.h"

#define TABLE_SIZE 240
#define DEFAULT_STACK 1048576
#define DEFAULT_TRACE_ENV "LD_LIBRARY_PATH:_TESK_VERSION_SET:_TESK_SPLASH_FILE:_TESK_SPLASH_ZUB"

typedef void *Ref;
typedef struct VmObject {
  void *const *table;
} VmObject;
typedef struct VmOption {
  char *text;
  void *extraInfo;
} VmOption;
typedef struct CreationRecord {
  int version;
  int optionCount;
  VmOption *options;
  unsigned char ignoreUnrecognized;
} CreationRecord;

static void *handleTable[TABLE_SIZE];
static void *threadTable[TABLE_SIZE];
static VmObject handleObject = {handleTable};
static VmObject threadObject = {threadTable};

/* ---- traps for every slot the contract does not list ---- */

static void trap(const char *table, int slot) {
  vm_die("unexpected call through slot %d of the %s table", slot, table);
}

#define TRAP1(t, d, u) \
  static void trap_##t##_##d##_##u(void) { trap(#t, (d) * 10 + (u)); }
#define TRAP10(t, d) \
  TRAP1(t, d, 0) TRAP1(t, d, 1) TRAP1(t, d, 2) TRAP1(t, d, 3) TRAP1(t, d, 4) \
  TRAP1(t, d, 5) TRAP1(t, d, 6) TRAP1(t, d, 7) TRAP1(t, d, 8) TRAP1(t, d, 9)
#define TRAP240(t) \
  TRAP10(t, 0) TRAP10(t, 1) TRAP10(t, 2) TRAP10(t, 3) TRAP10(t, 4) TRAP10(t, 5) TRAP10(t, 6) \
  TRAP10(t, 7) TRAP10(t, 8) TRAP10(t, 9) TRAP10(t, 10) TRAP10(t, 11) TRAP10(t, 12) TRAP10(t, 13) \
  TRAP10(t, 14) TRAP10(t, 15) TRAP10(t, 16) TRAP10(t, 17) TRAP10(t, 18) TRAP10(t, 19) \
  TRAP10(t, 20) TRAP10(t, 21) TRAP10(t, 22) TRAP10(t, 23)
#define NAME1(t, d, u) (void *)trap_##t##_##d##_##u,
#define NAME10(t, d) \
  NAME1(t, d, 0) NAME1(t, d, 1) NAME1(t, d, 2) NAME1(t, d, 3) NAME1(t, d, 4) \
  NAME1(t, d, 5) NAME1(t, d, 6) NAME1(t, d, 7) NAME1(t, d, 8) NAME1(t, d, 9)
#define NAME240(t) \
  NAME10(t, 0) NAME10(t, 1) NAME10(t, 2) NAME10(t, 3) NAME10(t, 4) NAME10(t, 5) NAME10(t, 6) \
  NAME10(t, 7) NAME10(t, 8) NAME10(t, 9) NAME10(t, 10) NAME10(t, 11) NAME10(t, 12) NAME10(t, 13) \
  NAME10(t, 14) NAME10(t, 15) NAME10(t, 16) NAME10(t, 17) NAME10(t, 18) NAME10(t, 19) \
  NAME10(t, 20) NAME10(t, 21) NAME10(t, 22) NAME10(t, 23)

TRAP240(handle)
TRAP240(thread)
static void *const handleTraps[TABLE_SIZE] = {NAME240(handle)};
static void *const threadTraps[TABLE_SIZE] = {NAME240(thread)};

/* ---- checks of what the caller passes ---- */

static const char *kind_name(ObjKind kind) {
  switch (kind) {
    case K_CLASS: return "a class";
    case K_STRING: return "a string";
    case K_BYTES: return "a byte array";
    case K_OBJARRAY: return "an object array";
    case K_REFLECT: return "a reflected method";
    case K_EXCEPTION: return "an exception";
    case K_ZUBFILE: return "a ZubFile";
    case K_MANIFEST: return "a Manifest";
    case K_ATTRIBUTES: return "an Attributes object";
  }
  return "an object";
}

/* The object behind reference argument `argNo` of `op`: null only when `nullable`; of `kind`
   unless `kind` is 0. Anything else ends the process with a message. */
static Obj *check_ref(const char *op, int argNo, Ref r, ObjKind kind, int nullable) {
  if (!r) {
    if (nullable) return NULL;
    vm_die("%s: argument %d is null; %s reference is required", op, argNo,
           kind ? kind_name(kind) : "a non-null");
  }
  if (!vm_registered(r))
    vm_die("%s: argument %d (%p) is not a reference that this VM handed out", op, argNo, r);
  Obj *obj = (Obj *)r;
  if (obj->dropped) vm_die("%s: argument %d (%s) was already released with dropLocalRef", op, argNo,
                           kind_name(obj->kind));
  if (kind && obj->kind != kind)
    vm_die("%s: argument %d is %s, not %s", op, argNo, kind_name(obj->kind), kind_name(kind));
  return obj;
}

static const MethodDesc *check_method(const char *op, int argNo, const void *m) {
  const MethodDesc *d = (const MethodDesc *)m;
  if (!m) vm_die("%s: argument %d, the method, is null", op, argNo);
  if ((const void *)d < (const void *)vm_methods || (const void *)d >= (const void *)(vm_methods + vm_method_count) ||
      ((uintptr_t)d - (uintptr_t)vm_methods) % sizeof *d != 0)
    vm_die("%s: argument %d (%p) is not a method id that this VM handed out", op, argNo, m);
  return d;
}

static void check_text(const char *op, int argNo, const char *text) {
  if (!text) vm_die("%s: argument %d, a text, is null", op, argNo);
}

/* The prologue of every thread-table call. */
static void enter(const char *op, VmObject *iface) {
  if (iface != &threadObject) vm_die("%s: the first argument is not the thread interface of this VM", op);
  if (!vm.alive) vm_die("%s: called when no VM exists (never created, or destroyed)", op);
  if (!pthread_equal(vm.owner, pthread_self()))
    vm_die("%s: called from a thread that is not attached to the VM", op);
  if (vm.detached) vm_die("%s: called after detachCurrentThread", op);
  vm.raisedInCall = 0;
}

/* Writes the trace line of a call, with " throws CLASS" when the call raised an exception. */
static void finish(TextBuf *tb) {
  if (vm.raisedInCall && vm.pending) tb_appendf(tb, " throws %s", vm.pending->className);
  trace_line(tb_text(tb));
  tb_free(tb);
}

/* ---- method invocation ---- */

/* The type at `*sig` (one parameter): its first character, and *sig moves past it. */
static char next_type(const char **sig, const char **start) {
  *start = *sig;
  while (**sig == '[') ++*sig;
  char c = **sig;
  if (c == 'L') {
    const char *end = strchr(*sig, ';');
    *sig = end ? end + 1 : *sig + strlen(*sig);
  } else if (c) {
    ++*sig;
  }
  return **start;
}

#define MAX_ARGS 8

/* Decodes the method's own arguments from `ap` by its signature into `args`, checking that each
   reference is null or of the parameter's type, and appends them to the trace line. */
static int decode_args(const char *op, const MethodDesc *m, va_list *ap, Value *args, TextBuf *tb) {
  const char *sig = m->signature + 1;
  int n = 0;
  while (*sig && *sig != ')') {
    if (n == MAX_ARGS) vm_die("%s: too many parameters in %s", op, m->signature);
    const char *start;
    char c = next_type(&sig, &start);
    size_t len = (size_t)(sig - start);
    Value *v = &args[n++];
    switch (c) {
      case 'Z': case 'B': case 'C': case 'S': case 'I':
        v->i = va_arg(*ap, int);
        tb_appendf(tb, " %d", v->i);
        break;
      case 'J':
        v->j = va_arg(*ap, long long);
        tb_appendf(tb, " %lld", v->j);
        break;
      case 'F': case 'D':
        v->d = va_arg(*ap, double);
        tb_appendf(tb, " %g", v->d);
        break;
      default: {
        v->l = va_arg(*ap, void *);
        ObjKind want = 0;
        if (len == 18 && strncmp(start, "Ltesk/lang/String;", len) == 0) want = K_STRING;
        if (len == 2 && strncmp(start, "[B", len) == 0) want = K_BYTES;
        if (len == 19 && strncmp(start, "[Ltesk/lang/String;", len) == 0) want = K_OBJARRAY;
        Obj *obj = check_ref(op, n + 3, v->l, want, 1);
        if (obj && want == K_OBJARRAY && strcmp(((ArrayObj *)obj)->elementClass, "tesk/lang/String") != 0)
          vm_die("%s: argument %d is %s, not an array of tesk/lang/String", op, n + 3,
                 ((ArrayObj *)obj)->arrayClass);
        tb_append_char(tb, ' ');
        vm_describe(tb, obj);
        break;
      }
    }
  }
  return n;
}

enum { CALL_INSTANCE, CALL_STATIC, CALL_CONSTRUCTOR };

/* The shared body of the invoke calls and constructObject: `target` is the class (static methods
   and constructors) or the object. `result` is the return-type letter the call delivers ('L'
   covers arrays too). */
static Value invoke(const char *op, Ref target, const void *method, int mode, char result, va_list *ap) {
  int onClass = mode != CALL_INSTANCE;
  Obj *t = check_ref(op, 2, target, onClass ? K_CLASS : 0, 0);
  const MethodDesc *m = check_method(op, 3, method);
  const char *targetClass = onClass ? ((ClassObj *)t)->name : vm_class_name_of(t);
  int isCtor = strcmp(m->name, "<init>") == 0;
  if (isCtor != (mode == CALL_CONSTRUCTOR))
    vm_die("%s: %s.%s%s is %sa constructor", op, m->className, m->name, m->signature, isCtor ? "" : "not ");
  if (!isCtor && m->isStatic != (mode == CALL_STATIC))
    vm_die("%s: %s.%s%s is %sa static method", op, m->className, m->name, m->signature, m->isStatic ? "" : "not ");
  if (strcmp(m->className, targetClass) != 0)
    vm_die("%s: %s.%s%s invoked on %s %s", op, m->className, m->name, m->signature,
           onClass ? "class" : "an object of class", targetClass);
  if (!isCtor) {
    const char *ret = strchr(m->signature, ')') + 1;
    char r = *ret == '[' ? 'L' : *ret;
    if (r != result)
      vm_die("%s: %s.%s%s does not return what this call delivers", op, m->className, m->name, m->signature);
  }
  TextBuf tb = {0};
  tb_append(&tb, op);
  tb_append_char(&tb, ' ');
  if (onClass) {
    tb_append(&tb, ((ClassObj *)t)->name);
  } else {
    vm_describe(&tb, t);
  }
  tb_appendf(&tb, " %s %s", m->name, m->signature);
  Value args[MAX_ARGS];
  memset(args, 0, sizeof args);
  decode_args(op, m, ap, args, &tb);
  Value ret;
  memset(&ret, 0, sizeof ret);
  m->impl(onClass ? NULL : t, args, &ret);
  switch (result) {
    case 'V': break;
    case 'L': tb_append(&tb, " -> "); vm_describe(&tb, (Obj *)ret.l); break;
    default: tb_appendf(&tb, " -> %d", ret.i); break;
  }
  finish(&tb);
  return ret;
}

/* ---- the thread table ---- */

static Ref t_lookupClass(VmObject *iface, const char *name) {
  enter("lookupClass", iface);
  check_text("lookupClass", 2, name);
  Ref result = NULL;
  if (vm_fails_named("class:", name) || !vm_known_class(name)) {
    vm_raise("tesk.lang.ClassMissingError", "%s", name);
  } else {
    result = vm_new_class(name);
  }
  TextBuf tb = {0};
  tb_appendf(&tb, "lookupClass %s -> ", name);
  vm_describe(&tb, (Obj *)result);
  finish(&tb);
  return result;
}

static const MethodDesc *find_method(const char *op, Ref cls, const char *name, const char *sig, int isStatic) {
  ClassObj *c = (ClassObj *)check_ref(op, 2, cls, K_CLASS, 0);
  check_text(op, 3, name);
  check_text(op, 4, sig);
  const MethodDesc *found = NULL;
  if (vm_fails_named("method:", name)) {
    /* injected: missing without an exception */
  } else if (vm_fails_named("method-throw:", name)) {
    vm_raise("tesk.lang.MethodMissingError", "%s.%s%s", c->name, name, sig);
  } else {
    for (size_t i = 0; i < vm_method_count; ++i) {
      const MethodDesc *m = &vm_methods[i];
      if (m->isStatic == isStatic && strcmp(m->className, c->name) == 0 && strcmp(m->name, name) == 0 &&
          strcmp(m->signature, sig) == 0)
        found = m;
    }
    if (!found) vm_raise("tesk.lang.MethodMissingError", "%s.%s%s", c->name, name, sig);
  }
  TextBuf tb = {0};
  tb_appendf(&tb, "%s %s %s %s -> %s", op, c->name, name, sig, found ? "method" : "null");
  finish(&tb);
  return found;
}

static void *t_lookupMethod(VmObject *iface, Ref cls, const char *name, const char *sig) {
  enter("lookupMethod", iface);
  return (void *)find_method("lookupMethod", cls, name, sig, 0);
}

static void *t_lookupStaticMethod(VmObject *iface, Ref cls, const char *name, const char *sig) {
  enter("lookupStaticMethod", iface);
  return (void *)find_method("lookupStaticMethod", cls, name, sig, 1);
}

static Ref t_reflectMethod(VmObject *iface, Ref cls, void *method, unsigned char isStatic) {
  const char *op = "reflectMethod";
  enter(op, iface);
  ClassObj *c = (ClassObj *)check_ref(op, 2, cls, K_CLASS, 0);
  const MethodDesc *m = check_method(op, 3, method);
  if (strcmp(m->className, c->name) != 0) vm_die("%s: %s.%s is not a method of %s", op, m->className, m->name, c->name);
  if ((isStatic != 0) != (m->isStatic != 0))
    vm_die("%s: static flag %d given for the %s method %s.%s", op, isStatic, m->isStatic ? "static" : "instance",
           m->className, m->name);
  Ref result = NULL;
  if (vm_fails("reflect")) {
    vm_raise("tesk.lang.InjectedError", "reflectMethod");
  } else {
    ReflectObj *r = (ReflectObj *)vm_new(K_REFLECT, sizeof *r);
    r->method = m;
    result = r;
  }
  TextBuf tb = {0};
  tb_appendf(&tb, "%s %s %s %s %d -> ", op, c->name, m->name, m->signature, isStatic);
  vm_describe(&tb, (Obj *)result);
  finish(&tb);
  return result;
}

static Ref t_pendingException(VmObject *iface) {
  enter("pendingException", iface);
  Ref result = vm.pending ? vm_new_exception(vm.pending->className, vm.pending->message) : NULL;
  TextBuf tb = {0};
  tb_append(&tb, "pendingException -> ");
  vm_describe(&tb, (Obj *)result);
  finish(&tb);
  return result;
}

static void t_describeException(VmObject *iface) {
  enter("describeException", iface);
  TextBuf tb = {0};
  tb_append(&tb, "describeException -> ");
  if (vm.pending) {
    fflush(stdout);
    if (vm.pending->message) {
      fprintf(stderr, "Exception in thread \"main\" %s: %s\n", vm.pending->className, vm.pending->message);
    } else {
      fprintf(stderr, "Exception in thread \"main\" %s\n", vm.pending->className);
    }
    tb_append(&tb, vm.pending->className);
    vm_clear_pending();
  } else {
    tb_append(&tb, "none");
  }
  finish(&tb);
}

static void t_dropLocalRef(VmObject *iface, Ref r) {
  enter("dropLocalRef", iface);
  Obj *obj = check_ref("dropLocalRef", 2, r, 0, 1);
  TextBuf tb = {0};
  tb_append(&tb, "dropLocalRef ");
  vm_describe(&tb, obj);
  if (obj) obj->dropped = 1;
  finish(&tb);
}

static Ref t_constructObject(VmObject *iface, Ref cls, void *ctor, ...) {
  enter("constructObject", iface);
  va_list ap;
  va_start(ap, ctor);
  Value v = invoke("constructObject", cls, ctor, CALL_CONSTRUCTOR, 'L', &ap);
  va_end(ap);
  return v.l;
}

static Ref t_classOf(VmObject *iface, Ref r) {
  enter("classOf", iface);
  Obj *obj = check_ref("classOf", 2, r, 0, 0);
  ClassObj *c = vm_new_class(vm_class_name_of(obj));
  TextBuf tb = {0};
  tb_append(&tb, "classOf ");
  vm_describe(&tb, obj);
  tb_append(&tb, " -> ");
  vm_describe(&tb, &c->h);
  finish(&tb);
  return c;
}

static Ref t_invokeObjectMethod(VmObject *iface, Ref obj, void *method, ...) {
  enter("invokeObjectMethod", iface);
  va_list ap;
  va_start(ap, method);
  Value v = invoke("invokeObjectMethod", obj, method, CALL_INSTANCE, 'L', &ap);
  va_end(ap);
  return v.l;
}

static int t_invokeIntMethod(VmObject *iface, Ref obj, void *method, ...) {
  enter("invokeIntMethod", iface);
  va_list ap;
  va_start(ap, method);
  Value v = invoke("invokeIntMethod", obj, method, CALL_INSTANCE, 'I', &ap);
  va_end(ap);
  return v.i;
}

static Ref t_invokeStaticObjectMethod(VmObject *iface, Ref cls, void *method, ...) {
  enter("invokeStaticObjectMethod", iface);
  va_list ap;
  va_start(ap, method);
  Value v = invoke("invokeStaticObjectMethod", cls, method, CALL_STATIC, 'L', &ap);
  va_end(ap);
  return v.l;
}

static unsigned char t_invokeStaticBooleanMethod(VmObject *iface, Ref cls, void *method, ...) {
  enter("invokeStaticBooleanMethod", iface);
  va_list ap;
  va_start(ap, method);
  Value v = invoke("invokeStaticBooleanMethod", cls, method, CALL_STATIC, 'Z', &ap);
  va_end(ap);
  return v.i ? 1 : 0;
}

static void t_invokeStaticVoidMethod(VmObject *iface, Ref cls, void *method, ...) {
  enter("invokeStaticVoidMethod", iface);
  va_list ap;
  va_start(ap, method);
  invoke("invokeStaticVoidMethod", cls, method, CALL_STATIC, 'V', &ap);
  va_end(ap);
}

static Ref t_newUtfString(VmObject *iface, const char *text) {
  enter("newUtfString", iface);
  Ref result = text && !vm_fails("string") ? vm_new_string(text) : NULL;
  TextBuf tb = {0};
  tb_append(&tb, "newUtfString ");
  tb_append_escaped(&tb, text, 1);
  tb_append(&tb, " -> ");
  vm_describe(&tb, (Obj *)result);
  finish(&tb);
  return result;
}

static const char *t_utfCharsOf(VmObject *iface, Ref str, unsigned char *isCopy) {
  enter("utfCharsOf", iface);
  StringObj *s = (StringObj *)check_ref("utfCharsOf", 2, str, K_STRING, 0);
  UtfCopy *copy = (UtfCopy *)xmalloc("librask", sizeof *copy);
  copy->chars = xstrdup("librask", s->text);
  copy->next = s->copies;
  s->copies = copy;
  if (isCopy) *isCopy = 1;
  TextBuf tb = {0};
  tb_append(&tb, "utfCharsOf ");
  vm_describe(&tb, &s->h);
  tb_append(&tb, " -> ");
  tb_append_escaped(&tb, copy->chars, 1);
  finish(&tb);
  return copy->chars;
}

static void t_releaseUtfChars(VmObject *iface, Ref str, const char *chars) {
  enter("releaseUtfChars", iface);
  StringObj *s = (StringObj *)check_ref("releaseUtfChars", 2, str, K_STRING, 0);
  UtfCopy **link = &s->copies;
  while (*link && (*link)->chars != chars) link = &(*link)->next;
  if (!*link)
    vm_die("releaseUtfChars: %p is not a text that utfCharsOf handed out for this string, or was already released",
           (const void *)chars);
  TextBuf tb = {0};
  tb_append(&tb, "releaseUtfChars ");
  vm_describe(&tb, &s->h);
  tb_append_char(&tb, ' ');
  tb_append_escaped(&tb, chars, 1);
  UtfCopy *gone = *link;
  *link = gone->next;
  free(gone->chars);
  free(gone);
  finish(&tb);
}

static Ref t_makeObjectArray(VmObject *iface, int length, Ref elementClass, Ref initial) {
  const char *op = "makeObjectArray";
  enter(op, iface);
  ClassObj *c = (ClassObj *)check_ref(op, 3, elementClass, K_CLASS, 0);
  Obj *init = check_ref(op, 4, initial, 0, 1);
  if (init && strcmp(vm_class_name_of(init), c->name) != 0 && strcmp(c->name, "tesk/lang/Object") != 0)
    vm_die("%s: the initial element is of class %s, not %s", op, vm_class_name_of(init), c->name);
  ArrayObj *a = NULL;
  Obj **elements = NULL;
  if (length < 0) {
    vm_raise("tesk.lang.ArraySizeError", "%d", length);
  } else if (vm_fails("array")) {
    /* injected: no array, no exception */
  } else if (!(elements = (Obj **)calloc(length ? (size_t)length : 1, sizeof *elements))) {
    vm_raise("tesk.lang.MemoryExhaustedError", "array of %d elements", length);
  } else {
    a = (ArrayObj *)vm_new(K_OBJARRAY, sizeof *a);
    a->length = length;
    a->elements = elements;
    for (int i = 0; i < length; ++i) elements[i] = init;
    a->elementClass = xstrdup("librask", c->name);
    TextBuf name = {0};
    tb_appendf(&name, "[L%s;", c->name);
    a->arrayClass = tb_release(&name);
  }
  TextBuf tb = {0};
  tb_appendf(&tb, "%s %d %s ", op, length, c->name);
  vm_describe(&tb, init);
  tb_append(&tb, " -> ");
  vm_describe(&tb, (Obj *)a);
  finish(&tb);
  return a;
}

static void t_storeArrayElement(VmObject *iface, Ref array, int index, Ref element) {
  const char *op = "storeArrayElement";
  enter(op, iface);
  ArrayObj *a = (ArrayObj *)check_ref(op, 2, array, K_OBJARRAY, 0);
  Obj *e = check_ref(op, 4, element, 0, 1);
  if (e && strcmp(vm_class_name_of(e), a->elementClass) != 0 && strcmp(a->elementClass, "tesk/lang/Object") != 0)
    vm_die("%s: an element of class %s stored into %s", op, vm_class_name_of(e), a->arrayClass);
  TextBuf tb = {0};
  tb_append(&tb, "storeArrayElement ");
  vm_describe(&tb, &a->h);
  tb_appendf(&tb, " %d ", index);
  vm_describe(&tb, e);
  if (index < 0 || index >= a->length) {
    vm_raise("tesk.lang.IndexRangeError", "index %d, length %d", index, a->length);
  } else {
    a->elements[index] = e;
  }
  finish(&tb);
}

static Ref t_makeByteArray(VmObject *iface, int length) {
  enter("makeByteArray", iface);
  BytesObj *b = NULL;
  signed char *bytes = NULL;
  if (length < 0) {
    vm_raise("tesk.lang.ArraySizeError", "%d", length);
  } else if (vm_fails("bytes")) {
    /* injected: no array, no exception */
  } else if (!(bytes = (signed char *)calloc(length ? (size_t)length : 1, 1))) {
    vm_raise("tesk.lang.MemoryExhaustedError", "byte array of %d elements", length);
  } else {
    b = (BytesObj *)vm_new(K_BYTES, sizeof *b);
    b->length = length;
    b->bytes = bytes;
  }
  TextBuf tb = {0};
  tb_appendf(&tb, "makeByteArray %d -> ", length);
  vm_describe(&tb, (Obj *)b);
  finish(&tb);
  return b;
}

static void t_fillByteArray(VmObject *iface, Ref array, int start, int length, const signed char *bytes) {
  const char *op = "fillByteArray";
  enter(op, iface);
  BytesObj *b = (BytesObj *)check_ref(op, 2, array, K_BYTES, 0);
  if (length > 0 && !bytes) vm_die("%s: argument 5, the bytes, is null with a length of %d", op, length);
  TextBuf tb = {0};
  tb_append(&tb, "fillByteArray ");
  vm_describe(&tb, &b->h);
  tb_appendf(&tb, " %d %d ", start, length);
  if (start < 0 || length < 0 || start > b->length || length > b->length - start) {
    tb_append(&tb, "?");
    vm_raise("tesk.lang.IndexRangeError", "bytes %d to %d of %d", start, start + length, b->length);
  } else {
    if (length > 0) memcpy(b->bytes + start, bytes, (size_t)length);
    char *shown = (char *)xmalloc("librask", (size_t)length + 1);
    if (length > 0) memcpy(shown, bytes, (size_t)length);
    shown[length] = '\0';
    tb_append_escaped(&tb, shown, 1); /* up to the first NUL */
    free(shown);
  }
  finish(&tb);
}

/* ---- the handle table ---- */

static int h_destroyVm(VmObject *handle) {
  if (handle != &handleObject) vm_die("destroyVm: the first argument is not the handle of this VM");
  if (!vm.alive) vm_die("destroyVm: called when no VM exists (never created, or destroyed already)");
  trace_line("destroyVm");
  fflush(stdout);
  vm_clear_pending();
  vm_free_objects();
  for (int i = 0; i < vm.optionCount; ++i) free(vm.options[i]);
  free(vm.options);
  for (int i = 0; i < vm.propCount; ++i) {
    free(vm.props[i].name);
    free(vm.props[i].value);
  }
  free(vm.props);
  for (int i = 0; i < vm.failCount; ++i) free(vm.failTokens[i]);
  free(vm.failTokens);
  tb_free(&vm.help);
  memset(&vm, 0, sizeof vm);
  return 0;
}

static int h_detachCurrentThread(VmObject *handle) {
  if (handle != &handleObject) vm_die("detachCurrentThread: the first argument is not the handle of this VM");
  if (!vm.alive) vm_die("detachCurrentThread: called when no VM exists (never created, or destroyed)");
  int result = 0;
  if (vm_fails("detach") || !pthread_equal(vm.owner, pthread_self())) {
    result = -1;
  } else {
    vm.detached = 1;
  }
  TextBuf tb = {0};
  tb_appendf(&tb, "detachCurrentThread -> %d", result);
  trace_line(tb_text(&tb));
  tb_free(&tb);
  return result;
}

static void fill_tables(void) {
  memcpy(handleTable, handleTraps, sizeof handleTable);
  memcpy(threadTable, threadTraps, sizeof threadTable);
  handleTable[3] = (void *)h_destroyVm;
  handleTable[5] = (void *)h_detachCurrentThread;
  threadTable[6] = (void *)t_lookupClass;
  threadTable[9] = (void *)t_reflectMethod;
  threadTable[15] = (void *)t_pendingException;
  threadTable[16] = (void *)t_describeException;
  threadTable[23] = (void *)t_dropLocalRef;
  threadTable[28] = (void *)t_constructObject;
  threadTable[31] = (void *)t_classOf;
  threadTable[33] = (void *)t_lookupMethod;
  threadTable[34] = (void *)t_invokeObjectMethod;
  threadTable[49] = (void *)t_invokeIntMethod;
  threadTable[113] = (void *)t_lookupStaticMethod;
  threadTable[114] = (void *)t_invokeStaticObjectMethod;
  threadTable[117] = (void *)t_invokeStaticBooleanMethod;
  threadTable[141] = (void *)t_invokeStaticVoidMethod;
  threadTable[167] = (void *)t_newUtfString;
  threadTable[169] = (void *)t_utfCharsOf;
  threadTable[170] = (void *)t_releaseUtfChars;
  threadTable[172] = (void *)t_makeObjectArray;
  threadTable[174] = (void *)t_storeArrayElement;
  threadTable[176] = (void *)t_makeByteArray;
  threadTable[208] = (void *)t_fillByteArray;
}

/* ---- entry points ---- */

static const char *const knownFailTokens[] = {
    "create", "reflect", "modifiers-throw", "not-public", "throw:main", "throw:version",
    "throw:usage", "detach", "string", "bytes", "array"};

static int known_fail_token(const char *t) {
  if (strncmp(t, "class:", 6) == 0 || strncmp(t, "method:", 7) == 0 || strncmp(t, "method-throw:", 13) == 0)
    return 1;
  for (size_t i = 0; i < sizeof knownFailTokens / sizeof knownFailTokens[0]; ++i)
    if (strcmp(knownFailTokens[i], t) == 0) return 1;
  return 0;
}

static void read_fail_tokens(void) {
  const char *env = getenv("RASK_FAIL");
  if (!env) return;
  const char *p = env;
  for (;;) {
    const char *end = strchr(p, ',');
    size_t len = end ? (size_t)(end - p) : strlen(p);
    if (len > 0) {
      char *token = (char *)xmalloc("librask", len + 1);
      memcpy(token, p, len);
      token[len] = '\0';
      if (!known_fail_token(token)) fprintf(stderr, "librask: ignoring unknown RASK_FAIL token \"%s\"\n", token);
      vm.failTokens = (char **)xrealloc("librask", vm.failTokens, (size_t)(vm.failCount + 1) * sizeof(char *));
      vm.failTokens[vm.failCount++] = token;
    }
    if (!end) break;
    p = end + 1;
  }
}

static void trace_env(void) {
  const char *names = getenv("RASK_TRACE_ENV");
  if (!names) names = DEFAULT_TRACE_ENV;
  const char *p = names;
  for (;;) {
    const char *end = strchr(p, ':');
    size_t len = end ? (size_t)(end - p) : strlen(p);
    if (len > 0) {
      char *name = (char *)xmalloc("librask", len + 1);
      memcpy(name, p, len);
      name[len] = '\0';
      const char *value = getenv(name);
      TextBuf tb = {0};
      tb_appendf(&tb, "env %s", name);
      if (value) {
        tb_append_char(&tb, '=');
        tb_append_escaped(&tb, value, 0);
      } else {
        tb_append(&tb, " unset");
      }
      trace_line(tb_text(&tb));
      tb_free(&tb);
      free(name);
    }
    if (!end) break;
    p = end + 1;
  }
}

static int create_failed(const char *reason) {
  TextBuf tb = {0};
  tb_appendf(&tb, "create-failed %s", reason);
  trace_line(tb_text(&tb));
  tb_free(&tb);
  return -1;
}

static pthread_once_t tablesOnce = PTHREAD_ONCE_INIT;

PLATFORM_EXPORT int KRU_GetDefaultTeskVMInitArgs(void *defaultArgs) {
  if (!defaultArgs) return -1;
  int *words = (int *)defaultArgs;
  TextBuf tb = {0};
  if (words[1] != 0x00010001) {
    tb_appendf(&tb, "default-args version=0x%08x rejected", (unsigned)words[1]);
    trace_line(tb_text(&tb));
    tb_free(&tb);
    return -1;
  }
  int stack = DEFAULT_STACK;
  const char *env = getenv("RASK_DEFAULT_STACK");
  if (env) {
    char *end;
    long long v = strtoll(env, &end, 10);
    if (*env >= '0' && *env <= '9' && !*end && v >= 0 && v <= 0x7fffffff) {
      stack = (int)v;
    } else {
      fprintf(stderr, "librask: ignoring RASK_DEFAULT_STACK=\"%s\" (not a decimal byte count)\n", env);
    }
  }
  words[5] = stack;
  tb_appendf(&tb, "default-args version=0x%08x stack=%d", (unsigned)words[1], stack);
  trace_line(tb_text(&tb));
  tb_free(&tb);
  return 0;
}

PLATFORM_EXPORT int KRU_CreateTeskVM(VmObject **outVm, VmObject **outThread, CreationRecord *args) {
  if (!outVm || !outThread || !args) return create_failed("null argument");
  TextBuf tb = {0};
  tb_appendf(&tb, "create version=0x%08x options=%d ignoreUnrecognized=%d", (unsigned)args->version,
             args->optionCount, args->ignoreUnrecognized);
  trace_line(tb_text(&tb));
  if (args->version != 0x00010002) {
    tb_free(&tb);
    return create_failed("unsupported version");
  }
  if (args->optionCount < 0 || (args->optionCount > 0 && !args->options)) {
    tb_free(&tb);
    return create_failed("bad option array");
  }
  for (int i = 0; i < args->optionCount; ++i) {
    tb_clear(&tb);
    tb_appendf(&tb, "option[%d]=", i);
    tb_append_escaped(&tb, args->options[i].text, 0);
    trace_line(tb_text(&tb));
  }
  pthread_attr_t attr;
  size_t stackSize = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &stackSize);
    pthread_attr_destroy(&attr);
  }
  tb_clear(&tb);
  tb_appendf(&tb, "thread-stack=%lu", (unsigned long)stackSize);
  trace_line(tb_text(&tb));
  tb_free(&tb);
  trace_env();
  for (int i = 0; i < args->optionCount; ++i)
    if (!args->options[i].text) return create_failed("option without text");
  if (vm.alive) return create_failed("a VM exists already");

  read_fail_tokens();
  if (vm_fails("create")) {
    for (int i = 0; i < vm.failCount; ++i) free(vm.failTokens[i]);
    free(vm.failTokens);
    vm.failTokens = NULL;
    vm.failCount = 0;
    return create_failed("injected");
  }
  pthread_once(&tablesOnce, fill_tables);
  // The launcher frees the option array right after the call: keep copies.
  vm.optionCount = args->optionCount;
  vm.options = (char **)xmalloc("librask", (size_t)(args->optionCount ? args->optionCount : 1) * sizeof(char *));
  for (int i = 0; i < args->optionCount; ++i) {
    const char *text = args->options[i].text;
    vm.options[i] = xstrdup("librask", text);
    const char *eq = strchr(text, '=');
    if (strncmp(text, "-D", 2) == 0 && eq && eq > text + 2) {
      vm.props = (Property *)xrealloc("librask", vm.props, (size_t)(vm.propCount + 1) * sizeof *vm.props);
      Property *p = &vm.props[vm.propCount++];
      p->name = (char *)xmalloc("librask", (size_t)(eq - text - 2) + 1);
      memcpy(p->name, text + 2, (size_t)(eq - text - 2));
      p->name[eq - text - 2] = '\0';
      p->value = xstrdup("librask", eq + 1);
    }
  }
  vm.owner = pthread_self();
  vm.alive = 1;
  *outVm = &handleObject;
  *outThread = &threadObject;
  trace_line("created");
  return 0;
}
