/* The fault injector: a shared library loaded with LD_PRELOAD that counts the calls a program
 * (and every program it executes) makes to a set of C library functions, and makes one chosen
 * call fail. tests/faults/driver.cpp drives it through the environment:
 *
 *   FAULT_COUNT_DIR  directory of the counters; nothing is counted or failed without it
 *   FAULT_ARMED      "0" starts the process disarmed (default: armed); a program can change its
 *                    own state with fault_injector_arm()
 *   FAULT_FUNCTION   the function to fail; without it every covered function is counted
 *   FAULT_INDEX      which call of it fails, counted from 1 across the whole run
 *   FAULT_MODE       "fail" (default): the call fails with FAULT_ERRNO; "short": a read or write
 *                    moves half the bytes asked for (a gathered write: its first piece only)
 *   FAULT_ERRNO      the error number of a failing call (default ENOMEM)
 *
 * Counting lives outside the process image, so that it goes on across fork and exec: every
 * counted call appends one byte to the file FAULT_COUNT_DIR/NAME through a descriptor of its own
 * opened with O_APPEND, and the offset of that descriptor after the write is the call's index.
 * The kernel appends under the file's lock, so concurrent calls from threads and processes get
 * distinct indices without any lock of ours. When the chosen call fails, the line
 * "NAME INDEX PID" is appended to FAULT_COUNT_DIR/injected.
 *
 * The injector's own work uses system calls directly, so it never counts itself. Calls that a
 * covered function makes (fopen allocating, say) are counted like any other, except those of the
 * C++ allocation functions, which would be the same failure point twice. Only the names a
 * program really imports matter: with _FILE_OFFSET_BITS=64 and _TIME_BITS=64 an i686 program
 * imports open64, readdir64, mmap64, ftruncate64 and the
 * __*stat64_time64 functions, a 64-bit one the plain names or their *64 aliases; both are
 * covered. The C++ allocation functions are covered too (see below). */

/* The wrappers define the plain names and their 64-bit forms themselves, so this file is
 * compiled with the system's default names rather than the 64-bit redirections. */
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

extern char **environ;

/* Exported: lets a test program exclude its own bookkeeping from counting. */
void fault_injector_arm(int on);

/* ---- state ---------------------------------------------------------------------------------- */

enum { PASS = 0, FAIL = 1, SHORT = 2 };

static struct {
  volatile int known; /* the environment has been read */
  int active;         /* FAULT_COUNT_DIR is set */
  volatile int armed;
  int mode;
  int error;
  long index;
  char dir[512];
  char function[64];
} config;

/* Set by the injector's initialiser. Before it runs, the dynamic loader and the sanitizer
 * runtime set themselves up with calls that are neither the program's nor its libraries': they
 * are not counted. The program's own static initialisers run later, and are counted. */
static volatile int started;

__attribute__((constructor)) static void start(void) { started = 1; }

/* Set while the injector handles a call on this thread (initial-exec: no allocation to reach
 * it). */
static __thread int busy __attribute__((tls_model("initial-exec")));

/* Small string helpers of its own: the C library's are intercepted by the sanitizer runtime,
 * which the injector must not enter from its bookkeeping (possibly before that runtime is set
 * up). The build keeps the compiler from turning these loops back into library calls. */
static size_t textLength(const char *text) {
  size_t n = 0;
  while (text[n])
    ++n;
  return n;
}

static int sameText(const char *a, const char *b) {
  while (*a && *a == *b)
    ++a, ++b;
  return *a == *b;
}

static int startsWith(const char *text, const char *prefix, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (text[i] != prefix[i])
      return 0;
  return 1;
}

static void copyBytes(char *to, const char *from, size_t n) {
  for (size_t i = 0; i < n; ++i)
    to[i] = from[i];
}

static const char *envValue(const char *name) {
  size_t length = textLength(name);
  if (!environ)
    return NULL;
  for (char **entry = environ; *entry; ++entry)
    if (startsWith(*entry, name, length) && (*entry)[length] == '=')
      return *entry + length + 1;
  return NULL;
}

static void copyText(char *to, size_t size, const char *from) {
  size_t n = textLength(from);
  if (n >= size)
    n = size - 1;
  copyBytes(to, from, n);
  to[n] = '\0';
}

static long number(const char *text, long fallback) {
  if (!text || !*text)
    return fallback;
  long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text)
    value = value * 10 + (*text - '0');
  return value;
}

/* Reads the settings once the environment exists (the dynamic loader allocates before it
 * does). */
static int readConfig(void) {
  if (config.known)
    return 1;
  if (!environ)
    return 0;
  const char *dir = envValue("FAULT_COUNT_DIR");
  if (dir && *dir) {
    copyText(config.dir, sizeof config.dir, dir);
    const char *function = envValue("FAULT_FUNCTION");
    copyText(config.function, sizeof config.function, function ? function : "");
    config.index = number(envValue("FAULT_INDEX"), 0);
    const char *mode = envValue("FAULT_MODE");
    config.mode = mode && sameText(mode, "short") ? SHORT : FAIL;
    config.error = (int)number(envValue("FAULT_ERRNO"), ENOMEM);
    const char *armed = envValue("FAULT_ARMED");
    config.armed = !(armed && sameText(armed, "0"));
    config.active = 1;
  }
  config.known = 1;
  return 1;
}

void fault_injector_arm(int on) {
  readConfig();
  config.armed = on;
}

/* ---- counting, with system calls only ----------------------------------------------------- */

static long sys(long n, long a, long b, long c, long d) { return syscall(n, a, b, c, d); }

static void appendPath(char *to, size_t size, const char *dir, const char *name) {
  size_t d = textLength(dir), n = textLength(name);
  if (d + 1 + n + 1 > size) {
    to[0] = '\0';
    return;
  }
  copyBytes(to, dir, d);
  to[d] = '/';
  copyBytes(to + d + 1, name, n + 1);
}

static int openCounter(const char *name) {
  char path[640];
  appendPath(path, sizeof path, config.dir, name);
  if (!path[0])
    return -1;
  return (int)sys(SYS_openat, AT_FDCWD, (long)path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                  0644);
}

/* Counts one call of `name`; returns its index (from 1), or 0 when it could not be counted. */
static long countCall(const char *name) {
  int fd = openCounter(name);
  if (fd < 0)
    return 0;
  long index = 0;
  if (sys(SYS_write, fd, (long)"x", 1, 0) == 1)
    index = sys(SYS_lseek, fd, 0, SEEK_CUR, 0);
  sys(SYS_close, fd, 0, 0, 0);
  return index;
}

static char *putNumber(char *p, long value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (n > 0)
    *p++ = digits[--n];
  return p;
}

static void noteInjection(const char *name, long index) {
  char line[128];
  char *p = line;
  size_t n = textLength(name);
  if (n > 64)
    n = 64;
  copyBytes(p, name, n);
  p += n;
  *p++ = ' ';
  p = putNumber(p, index);
  *p++ = ' ';
  p = putNumber(p, (long)sys(SYS_getpid, 0, 0, 0, 0));
  *p++ = '\n';
  int fd = openCounter("injected");
  if (fd < 0)
    return;
  sys(SYS_write, fd, (long)line, p - line, 0);
  sys(SYS_close, fd, 0, 0, 0);
}

/* Whether this call of `name` passes, fails or comes up short. Keeps errno. */
static int decide(const char *name) {
  if (!started || busy || !readConfig() || !config.active || !config.armed)
    return PASS;
  if (config.function[0] && !sameText(config.function, name))
    return PASS;
  int saved = errno;
  busy = 1;
  long index = countCall(name);
  int result = PASS;
  if (config.function[0] && index == config.index) {
    noteInjection(name, index);
    result = config.mode;
  }
  busy = 0;
  errno = saved;
  return result;
}

/* A failure that makes the call return at once; a short mode means nothing to most calls. */
static int fails(const char *name) { return decide(name) == FAIL; }

/* ---- finding the real functions ----------------------------------------------------------- */

/* dlsym may allocate while it looks up the allocator itself: those blocks come from here and
 * are never freed. */
static char bootstrap[16384] __attribute__((aligned(16)));
static size_t bootstrapUsed;
static __thread int resolving __attribute__((tls_model("initial-exec")));

static int fromBootstrap(const void *p) {
  return (const char *)p >= bootstrap && (const char *)p < bootstrap + sizeof bootstrap;
}

static void *bootstrapAlloc(size_t size) {
  size_t used, start;
  do {
    used = bootstrapUsed;
    start = (used + 15) & ~(size_t)15;
    if (start + size > sizeof bootstrap)
      return NULL;
  } while (!__sync_bool_compare_and_swap(&bootstrapUsed, used, start + size));
  return bootstrap + start;
}

static void *resolve(const char *name) {
  resolving = 1;
  void *p = dlsym(RTLD_NEXT, name);
  resolving = 0;
  return p;
}

static void *lookup(void **slot, const char *name) {
  if (!*slot)
    *slot = resolve(name);
  return *slot;
}

#define REAL(name) ((__typeof__(real_##name))lookup((void **)&real_##name, #name))
#define DEFINE_REAL(name) static __typeof__(name) *real_##name

/* The i686 names of the 64-bit-time stat functions, which no header declares without
 * _TIME_BITS=64; the buffers are only passed on. */
#if defined(__i386__)
int __stat64_time64(const char *path, void *buffer);
int __lstat64_time64(const char *path, void *buffer);
int __fstat64_time64(int fd, void *buffer);
int __fstatat64_time64(int dirfd, const char *path, void *buffer, int flags);
#endif

/* ---- memory ------------------------------------------------------------------------------- */

DEFINE_REAL(malloc);
DEFINE_REAL(calloc);
DEFINE_REAL(realloc);
DEFINE_REAL(free);

void *malloc(size_t size) {
  if (resolving || !REAL(malloc))
    return bootstrapAlloc(size);
  if (fails("malloc")) {
    errno = config.error;
    return NULL;
  }
  return real_malloc(size);
}

void *calloc(size_t count, size_t size) {
  if (resolving || !REAL(calloc)) {
    if (size && count > (size_t)-1 / size)
      return NULL;
    return bootstrapAlloc(count * size); /* static storage is zero */
  }
  if (fails("calloc")) {
    errno = config.error;
    return NULL;
  }
  return real_calloc(count, size);
}

void *realloc(void *block, size_t size) {
  if (fromBootstrap(block)) {
    /* The block's size is not kept: copy what the new size and the buffer's end allow. */
    size_t room = (size_t)(bootstrap + sizeof bootstrap - (char *)block);
    void *grown = malloc(size);
    if (grown)
      copyBytes(grown, block, size < room ? size : room);
    return grown;
  }
  if (resolving || !REAL(realloc))
    return bootstrapAlloc(size);
  if (fails("realloc")) {
    errno = config.error;
    return NULL;
  }
  return real_realloc(block, size);
}

/* dlsym frees blocks of its own while it looks up free itself: those are left alone. */
void free(void *block) {
  if (!block || fromBootstrap(block) || resolving)
    return;
  if (REAL(free))
    real_free(block);
}

/* The C++ allocation functions. The sanitizer runtime has its own, which never reach malloc, and
 * the standard library's reach malloc only through the wrapper above; so they are covered under
 * their own names ("new", "new[]", "new-nothrow", "new[]-nothrow"), and the malloc calls they make
 * are not counted again. A failing one does what the standard library's does when no memory is
 * found: it calls the installed new handler and tries again; without a handler it throws
 * std::bad_alloc (a nothrow form returns null). The C++ runtime's functions for that are looked up
 * in the program, which has it loaded when it calls these; the build compiles this file with
 * -fexceptions so that the exception passes through it. */
#if __SIZEOF_SIZE_T__ == 4
#define SIZE_CODE "j"
#else
#define SIZE_CODE "m"
#endif
void *newObject(size_t size) __asm__("_Znw" SIZE_CODE);
void *newArray(size_t size) __asm__("_Zna" SIZE_CODE);
void *newObjectNothrow(size_t size, const void *tag) __asm__("_Znw" SIZE_CODE "RKSt9nothrow_t");
void *newArrayNothrow(size_t size, const void *tag) __asm__("_Zna" SIZE_CODE "RKSt9nothrow_t");

typedef void *(*NewFunction)(size_t);
typedef void *(*NothrowNewFunction)(size_t, const void *);
static NewFunction realNewObject, realNewArray;
static NothrowNewFunction realNewObjectNothrow, realNewArrayNothrow;

static void *inProgram(const char *name) {
  busy++;
  void *p = dlsym(RTLD_DEFAULT, name);
  busy--;
  return p;
}

/* After a failed allocation: 1 when a new handler ran (the caller tries again), 0 for a nothrow
 * form without one; the other forms throw std::bad_alloc then. */
static int handleFailedNew(int nothrow) {
  typedef void (*Handler)(void);
  Handler (*getHandler)(void) = (Handler(*)(void))inProgram("_ZSt15get_new_handlerv");
  Handler handler = getHandler ? getHandler() : NULL;
  if (handler) {
    handler();
    return 1;
  }
  if (nothrow)
    return 0;
  void (*throwBadAlloc)(void) = (void (*)(void))inProgram("_ZSt17__throw_bad_allocv");
  if (throwBadAlloc)
    throwBadAlloc();
  abort();
}

/* Marks the thread busy for the scope of the variable it initialises, also when an exception
 * leaves that scope. */
static int enterBusy(void) { return ++busy; }
static void leaveBusy(int *unused) {
  (void)unused;
  --busy;
}
#define BUSY_SCOPE int busyScope __attribute__((cleanup(leaveBusy), unused)) = enterBusy()

static void *forwardNew(NewFunction *real, const char *symbol, size_t size) {
  if (!*real)
    *real = (NewFunction)resolve(symbol);
  BUSY_SCOPE;
  return (*real)(size);
}

static void *forwardNothrowNew(NothrowNewFunction *real, const char *symbol, size_t size,
                               const void *tag) {
  if (!*real)
    *real = (NothrowNewFunction)resolve(symbol);
  BUSY_SCOPE;
  return (*real)(size, tag);
}

void *newObject(size_t size) {
  if (fails("new"))
    handleFailedNew(0);
  return forwardNew(&realNewObject, "_Znw" SIZE_CODE, size);
}

void *newArray(size_t size) {
  if (fails("new[]"))
    handleFailedNew(0);
  return forwardNew(&realNewArray, "_Zna" SIZE_CODE, size);
}

void *newObjectNothrow(size_t size, const void *tag) {
  if (fails("new-nothrow") && !handleFailedNew(1))
    return NULL;
  return forwardNothrowNew(&realNewObjectNothrow, "_Znw" SIZE_CODE "RKSt9nothrow_t", size, tag);
}

void *newArrayNothrow(size_t size, const void *tag) {
  if (fails("new[]-nothrow") && !handleFailedNew(1))
    return NULL;
  return forwardNothrowNew(&realNewArrayNothrow, "_Zna" SIZE_CODE "RKSt9nothrow_t", size, tag);
}

/* ---- opening and closing ------------------------------------------------------------------ */

#define OPEN_MODE(flags, mode)                                                                  \
  do {                                                                                          \
    if (((flags) & O_CREAT) || ((flags) & O_TMPFILE) == O_TMPFILE) {                            \
      va_list ap;                                                                               \
      va_start(ap, flags);                                                                      \
      mode = va_arg(ap, mode_t);                                                                \
      va_end(ap);                                                                               \
    }                                                                                           \
  } while (0)

#define FAIL_WITH(name, value)                                                                  \
  do {                                                                                          \
    if (fails(name)) {                                                                          \
      errno = config.error;                                                                     \
      return value;                                                                             \
    }                                                                                           \
  } while (0)

DEFINE_REAL(open);
DEFINE_REAL(open64);
DEFINE_REAL(openat);
DEFINE_REAL(openat64);
DEFINE_REAL(creat);
DEFINE_REAL(creat64);
DEFINE_REAL(fopen);
DEFINE_REAL(fopen64);
DEFINE_REAL(close);

int open(const char *path, int flags, ...) {
  mode_t mode = 0;
  OPEN_MODE(flags, mode);
  FAIL_WITH("open", -1);
  return REAL(open)(path, flags, mode);
}

int open64(const char *path, int flags, ...) {
  mode_t mode = 0;
  OPEN_MODE(flags, mode);
  FAIL_WITH("open64", -1);
  return REAL(open64)(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...) {
  mode_t mode = 0;
  OPEN_MODE(flags, mode);
  FAIL_WITH("openat", -1);
  return REAL(openat)(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...) {
  mode_t mode = 0;
  OPEN_MODE(flags, mode);
  FAIL_WITH("openat64", -1);
  return REAL(openat64)(dirfd, path, flags, mode);
}

int creat(const char *path, mode_t mode) {
  FAIL_WITH("creat", -1);
  return REAL(creat)(path, mode);
}

int creat64(const char *path, mode_t mode) {
  FAIL_WITH("creat64", -1);
  return REAL(creat64)(path, mode);
}

FILE *fopen(const char *path, const char *how) {
  FAIL_WITH("fopen", NULL);
  return REAL(fopen)(path, how);
}

FILE *fopen64(const char *path, const char *how) {
  FAIL_WITH("fopen64", NULL);
  return REAL(fopen64)(path, how);
}

/* A failing close still closes, as the system's does. */
int close(int fd) {
  int result = REAL(close)(fd);
  if (result == 0 && fails("close")) {
    errno = config.error;
    return -1;
  }
  return result;
}

/* ---- reading and writing ------------------------------------------------------------------ */

DEFINE_REAL(read);
DEFINE_REAL(write);
DEFINE_REAL(writev);

ssize_t read(int fd, void *buffer, size_t count) {
  int how = decide("read");
  if (how == FAIL) {
    errno = config.error;
    return -1;
  }
  if (how == SHORT && count > 1)
    count /= 2;
  return REAL(read)(fd, buffer, count);
}

ssize_t write(int fd, const void *buffer, size_t count) {
  int how = decide("write");
  if (how == FAIL) {
    errno = config.error;
    return -1;
  }
  if (how == SHORT && count > 1)
    count /= 2;
  return REAL(write)(fd, buffer, count);
}

ssize_t writev(int fd, const struct iovec *pieces, int count) {
  int how = decide("writev");
  if (how == FAIL) {
    errno = config.error;
    return -1;
  }
  if (how == SHORT && count > 1)
    return REAL(writev)(fd, pieces, 1);
  if (how == SHORT && count == 1 && pieces[0].iov_len > 1) {
    struct iovec half = {pieces[0].iov_base, pieces[0].iov_len / 2};
    return REAL(writev)(fd, &half, 1);
  }
  return REAL(writev)(fd, pieces, count);
}

/* ---- file status and links ---------------------------------------------------------------- */

DEFINE_REAL(stat);
DEFINE_REAL(lstat);
DEFINE_REAL(fstat);
DEFINE_REAL(fstatat);
DEFINE_REAL(stat64);
DEFINE_REAL(lstat64);
DEFINE_REAL(fstat64);
DEFINE_REAL(fstatat64);
DEFINE_REAL(readlink);
DEFINE_REAL(access);
DEFINE_REAL(realpath);

int stat(const char *path, struct stat *buffer) {
  FAIL_WITH("stat", -1);
  return REAL(stat)(path, buffer);
}

int lstat(const char *path, struct stat *buffer) {
  FAIL_WITH("lstat", -1);
  return REAL(lstat)(path, buffer);
}

int fstat(int fd, struct stat *buffer) {
  FAIL_WITH("fstat", -1);
  return REAL(fstat)(fd, buffer);
}

int fstatat(int dirfd, const char *path, struct stat *buffer, int flags) {
  FAIL_WITH("fstatat", -1);
  return REAL(fstatat)(dirfd, path, buffer, flags);
}

int stat64(const char *path, struct stat64 *buffer) {
  FAIL_WITH("stat64", -1);
  return REAL(stat64)(path, buffer);
}

int lstat64(const char *path, struct stat64 *buffer) {
  FAIL_WITH("lstat64", -1);
  return REAL(lstat64)(path, buffer);
}

int fstat64(int fd, struct stat64 *buffer) {
  FAIL_WITH("fstat64", -1);
  return REAL(fstat64)(fd, buffer);
}

int fstatat64(int dirfd, const char *path, struct stat64 *buffer, int flags) {
  FAIL_WITH("fstatat64", -1);
  return REAL(fstatat64)(dirfd, path, buffer, flags);
}

#if defined(__i386__)
DEFINE_REAL(__stat64_time64);
DEFINE_REAL(__lstat64_time64);
DEFINE_REAL(__fstat64_time64);
DEFINE_REAL(__fstatat64_time64);

int __stat64_time64(const char *path, void *buffer) {
  FAIL_WITH("__stat64_time64", -1);
  return REAL(__stat64_time64)(path, buffer);
}

int __lstat64_time64(const char *path, void *buffer) {
  FAIL_WITH("__lstat64_time64", -1);
  return REAL(__lstat64_time64)(path, buffer);
}

int __fstat64_time64(int fd, void *buffer) {
  FAIL_WITH("__fstat64_time64", -1);
  return REAL(__fstat64_time64)(fd, buffer);
}

int __fstatat64_time64(int dirfd, const char *path, void *buffer, int flags) {
  FAIL_WITH("__fstatat64_time64", -1);
  return REAL(__fstatat64_time64)(dirfd, path, buffer, flags);
}
#endif

ssize_t readlink(const char *path, char *buffer, size_t size) {
  FAIL_WITH("readlink", -1);
  return REAL(readlink)(path, buffer, size);
}

int access(const char *path, int how) {
  FAIL_WITH("access", -1);
  return REAL(access)(path, how);
}

char *realpath(const char *path, char *resolved) {
  FAIL_WITH("realpath", NULL);
  return REAL(realpath)(path, resolved);
}

/* ---- directories -------------------------------------------------------------------------- */

DEFINE_REAL(opendir);
DEFINE_REAL(fdopendir);
DEFINE_REAL(readdir);
DEFINE_REAL(readdir64);
DEFINE_REAL(mkdir);
DEFINE_REAL(rmdir);
DEFINE_REAL(getcwd);

DIR *opendir(const char *path) {
  FAIL_WITH("opendir", NULL);
  return REAL(opendir)(path);
}

DIR *fdopendir(int fd) {
  FAIL_WITH("fdopendir", NULL);
  return REAL(fdopendir)(fd);
}

struct dirent *readdir(DIR *dir) {
  FAIL_WITH("readdir", NULL);
  return REAL(readdir)(dir);
}

struct dirent64 *readdir64(DIR *dir) {
  FAIL_WITH("readdir64", NULL);
  return REAL(readdir64)(dir);
}

int mkdir(const char *path, mode_t mode) {
  FAIL_WITH("mkdir", -1);
  return REAL(mkdir)(path, mode);
}

int rmdir(const char *path) {
  FAIL_WITH("rmdir", -1);
  return REAL(rmdir)(path);
}

char *getcwd(char *buffer, size_t size) {
  FAIL_WITH("getcwd", NULL);
  return REAL(getcwd)(buffer, size);
}

/* ---- names -------------------------------------------------------------------------------- */

DEFINE_REAL(rename);
DEFINE_REAL(unlink);
DEFINE_REAL(unlinkat);
DEFINE_REAL(remove);

int rename(const char *from, const char *to) {
  FAIL_WITH("rename", -1);
  return REAL(rename)(from, to);
}

int unlink(const char *path) {
  FAIL_WITH("unlink", -1);
  return REAL(unlink)(path);
}

int unlinkat(int dirfd, const char *path, int flags) {
  FAIL_WITH("unlinkat", -1);
  return REAL(unlinkat)(dirfd, path, flags);
}

int remove(const char *path) {
  FAIL_WITH("remove", -1);
  return REAL(remove)(path);
}

/* ---- mapping and sizes -------------------------------------------------------------------- */

DEFINE_REAL(mmap);
DEFINE_REAL(mmap64);
DEFINE_REAL(ftruncate);
DEFINE_REAL(ftruncate64);

void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset) {
  FAIL_WITH("mmap", MAP_FAILED);
  return REAL(mmap)(address, length, protection, flags, fd, offset);
}

void *mmap64(void *address, size_t length, int protection, int flags, int fd, off64_t offset) {
  FAIL_WITH("mmap64", MAP_FAILED);
  return REAL(mmap64)(address, length, protection, flags, fd, offset);
}

int ftruncate(int fd, off_t length) {
  FAIL_WITH("ftruncate", -1);
  return REAL(ftruncate)(fd, length);
}

int ftruncate64(int fd, off64_t length) {
  FAIL_WITH("ftruncate64", -1);
  return REAL(ftruncate64)(fd, length);
}

/* ---- descriptors and processes ------------------------------------------------------------ */

DEFINE_REAL(pipe);
DEFINE_REAL(pipe2);
DEFINE_REAL(dup2);
DEFINE_REAL(fork);
DEFINE_REAL(posix_spawn);
DEFINE_REAL(posix_spawnp);
DEFINE_REAL(execve);
DEFINE_REAL(execv);
DEFINE_REAL(pthread_create);
DEFINE_REAL(dlopen);
DEFINE_REAL(sysinfo);

int pipe(int fds[2]) {
  FAIL_WITH("pipe", -1);
  return REAL(pipe)(fds);
}

int pipe2(int fds[2], int flags) {
  FAIL_WITH("pipe2", -1);
  return REAL(pipe2)(fds, flags);
}

int dup2(int from, int to) {
  FAIL_WITH("dup2", -1);
  return REAL(dup2)(from, to);
}

pid_t fork(void) {
  FAIL_WITH("fork", -1);
  return REAL(fork)();
}

/* posix_spawn and pthread_create return the error number instead of setting errno. */
int posix_spawn(pid_t *pid, const char *path, const posix_spawn_file_actions_t *actions,
                const posix_spawnattr_t *attributes, char *const argv[], char *const envp[]) {
  if (fails("posix_spawn"))
    return config.error;
  return REAL(posix_spawn)(pid, path, actions, attributes, argv, envp);
}

int posix_spawnp(pid_t *pid, const char *file, const posix_spawn_file_actions_t *actions,
                 const posix_spawnattr_t *attributes, char *const argv[], char *const envp[]) {
  if (fails("posix_spawnp"))
    return config.error;
  return REAL(posix_spawnp)(pid, file, actions, attributes, argv, envp);
}

int execve(const char *path, char *const argv[], char *const envp[]) {
  FAIL_WITH("execve", -1);
  return REAL(execve)(path, argv, envp);
}

/* execv reaches execve inside the C library, where no wrapper sees it. */
int execv(const char *path, char *const argv[]) {
  FAIL_WITH("execv", -1);
  return REAL(execv)(path, argv);
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *),
                   void *argument) {
  if (fails("pthread_create"))
    return config.error;
  return REAL(pthread_create)(thread, attributes, start, argument);
}

/* A failing dlopen leaves a message for dlerror, as a real failure does: it asks the loader
 * for a file that does not exist. */
void *dlopen(const char *path, int flags) {
  if (fails("dlopen")) {
    busy = 1;
    void *none = REAL(dlopen)("/nonexistent/fault-injected-dlopen-failure.so", flags);
    busy = 0;
    return none;
  }
  return REAL(dlopen)(path, flags);
}

int sysinfo(struct sysinfo *info) {
  FAIL_WITH("sysinfo", -1);
  return REAL(sysinfo)(info);
}
