#ifndef PLATFORM_RASK_VM_H
#define PLATFORM_RASK_VM_H

/* Inner workings of the VM stand-in librask.so: its heap objects, its class library and its
   state. Nothing here is exported. */

#include <pthread.h>
#include <stddef.h>

#include "platform/common/textbuf.h"
#include "platform/common/zubread.h"

/* Kinds of heap object; every reference handed to the caller points to an Obj. */
typedef enum ObjKind {
  K_CLASS = 1,
  K_STRING,
  K_BYTES,
  K_OBJARRAY,
  K_REFLECT,
  K_EXCEPTION,
  K_ZUBFILE,
  K_MANIFEST,
  K_ATTRIBUTES
} ObjKind;

/* The common head of every object. `dropped` is set by dropLocalRef: the reference may no longer
   be passed in, although the object lives on (an array may still hold it) until destroyVm. */
typedef struct Obj {
  unsigned magic;
  ObjKind kind;
  int dropped;
  struct Obj *next; /* every object of the VM, for destroyVm */
} Obj;

typedef struct UtfCopy {
  char *chars;
  struct UtfCopy *next;
} UtfCopy;

typedef struct ClassObj {
  Obj h;
  char *name; /* slashed */
} ClassObj;

typedef struct StringObj {
  Obj h;
  char *text; /* modified UTF-8: no NUL byte inside */
  UtfCopy *copies; /* handed out by utfCharsOf and not yet released */
} StringObj;

typedef struct BytesObj {
  Obj h;
  int length;
  signed char *bytes;
} BytesObj;

typedef struct ArrayObj {
  Obj h;
  int length;
  char *elementClass; /* slashed */
  char *arrayClass;   /* "[L" elementClass ";" */
  Obj **elements;
} ArrayObj;

struct MethodDesc;

typedef struct ReflectObj {
  Obj h;
  const struct MethodDesc *method;
} ReflectObj;

typedef struct ExceptionObj {
  Obj h;
  char *className; /* dotted */
  char *message;   /* may be null */
} ExceptionObj;

typedef struct ZubFileObj {
  Obj h;
  char *path;
} ZubFileObj;

typedef struct ManifestObj {
  Obj h;
  ZubManifest manifest;
} ManifestObj;

typedef struct AttributesObj {
  Obj h;
  const ManifestObj *manifest;
} AttributesObj;

/* A method argument or result. */
typedef union Value {
  void *l;
  int i;
  long long j;
  double d;
} Value;

/* Runs a method: `self` is null for static methods; `args` holds the decoded arguments in
   signature order; the result goes to *ret (left zero for void). */
typedef void (*MethodImpl)(Obj *self, const Value *args, Value *ret);

typedef struct MethodDesc {
  const char *className; /* slashed */
  const char *name;
  const char *signature;
  int isStatic;
  MethodImpl impl;
} MethodDesc;

/* The class library: every method the VM knows, and the number of them. */
extern const MethodDesc vm_methods[];
extern const size_t vm_method_count;

/* True when `name` (slashed) is a class the VM can look up. */
int vm_known_class(const char *name);

/* A pending exception. */
typedef struct Pending {
  char *className; /* dotted */
  char *message;   /* may be null */
} Pending;

/* One name=value system property from a "-D" option. */
typedef struct Property {
  char *name;
  char *value;
} Property;

/* The one VM of the process. */
typedef struct Vm {
  int alive;
  int detached;
  pthread_t owner; /* the thread that created the VM and owns the thread interface */
  Pending *pending;
  int raisedInCall; /* set when the current table call raised an exception */
  Obj *objects;
  /* Addresses of every object, for telling references of this VM from anything else. */
  void **registry;
  size_t registryCap, registryCount;
  char **options;
  int optionCount;
  Property *props;
  int propCount;
  char **failTokens; /* RASK_FAIL, read at creation */
  int failCount;
  TextBuf help; /* the usage text that LauncherHelp builds */
} Vm;

extern Vm vm;

/* Ends the process: "librask: " and the formatted message on standard error, then abort. Used
   for every fault of the caller (a wrong reference, a call in the wrong state). */
void vm_die(const char *format, ...) __attribute__((format(printf, 1, 2), noreturn));

/* Allocates a zeroed object of `size` bytes and `kind`, registered with the VM. */
Obj *vm_new(ObjKind kind, size_t size);
/* True when `p` is an object of this VM. */
int vm_registered(const void *p);
/* Frees every object and forgets the registry. */
void vm_free_objects(void);

/* Leaves the exception `className` (dotted) pending with the formatted message (null format:
   none), replacing any exception pending before. */
void vm_raise(const char *className, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* Clears the pending exception, if any. */
void vm_clear_pending(void);

/* True when RASK_FAIL (as read at creation) holds `token`, or `prefix` followed by `name` when
   `name` is given. */
int vm_fails(const char *token);
int vm_fails_named(const char *prefix, const char *name);

/* The slashed name of the class of `obj`, in a buffer that lives as long as the object (or
   statically). */
const char *vm_class_name_of(const Obj *obj);

/* Appends a trace rendering of `obj` ("null", "class NAME", "string \"TEXT\"", "bytes[N]",
   "array ELEMENTCLASS[N]", "reflected-method NAME", "exception NAME", "zubfile \"PATH\"",
   "manifest", "attributes"). */
void vm_describe(TextBuf *tb, const Obj *obj);

/* New objects. vm_new_string copies `text`, which must be modified UTF-8. */
StringObj *vm_new_string(const char *text);
ClassObj *vm_new_class(const char *name);
ExceptionObj *vm_new_exception(const char *className, const char *message);

/* Character sets: "UTF-8", "ISO-8859-1" and "US-ASCII", named in any ASCII case. */
int vm_charset_supported(const char *name);
/* The charset that a String built without one uses, and that main prints in: RASK_ENCODING
   when it names a supported charset, else UTF-8. */
const char *vm_default_charset(void);
/* `count` bytes in charset `charset` (supported) decoded into a malloc'd modified UTF-8 text;
   malformed input becomes U+FFFD. */
char *vm_decode(const unsigned char *bytes, size_t count, const char *charset);
/* Modified UTF-8 `text` encoded in charset `charset` (supported) into `out`; characters the
   charset lacks become '?'. */
void vm_encode(TextBuf *out, const char *text, const char *charset);

#endif
