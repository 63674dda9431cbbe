// The execution environment: the launcher's own path, its home, the runtime directory, the data
// model, the VM library and the library search path.

#include "launcher/environment.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/capability.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/catalogue.h"
#include "launcher/launcher.h"
#include "launcher/oru.h"

extern char **environ;

static char *cachedExecutable = nullptr;

char *resolveExecutable(const char *directory, const char *name) {
  size_t dirLength = strlen(directory), nameLength = strlen(name);
  if (dirLength + nameLength + 1 > size_t(kPathMax))
    return nullptr;
  char joined[kPathMax + 2];
  memcpy(joined, directory, dirLength);
  joined[dirLength] = '/';
  memcpy(joined + dirLength + 1, name, nameLength + 1);

  struct stat st;
  if (stat(joined, &st) != 0 || S_ISDIR(st.st_mode) || !(st.st_mode & S_IXUSR))
    return nullptr;

  char *result = static_cast<char *>(ORU_MemAlloc(kPathMax + 2));
  if (!realpath(joined, result))
    memcpy(result, joined, strlen(joined) + 1);
  return result;
}

static char *searchPath(const char *name) {
  char cwd[kPathMax];
  // Without a working directory (removed, or too long) relative elements name nothing; joined
  // to an empty text they would be searched from the root and could find another program.
  bool haveCwd = getcwd(cwd, sizeof cwd) != nullptr;
  const char *path = getenv("PATH");
  if (!path || !*path)
    path = ".";
  char element[2 * kPathMax + 2];
  for (const char *p = path;;) {
    const char *end = strchr(p, ':');
    size_t length = end ? size_t(end - p) : strlen(p);
    bool absolute = length > 0 && p[0] == '/';
    if (length < size_t(kPathMax) && (absolute || haveCwd)) {
      if (absolute)
        snprintf(element, sizeof element, "%.*s", int(length), p);
      else
        snprintf(element, sizeof element, "%s/%.*s", cwd, int(length), p);
      if (char *found = resolveExecutable(element, name))
        return found;
    }
    if (!end)
      return nullptr;
    p = end + 1;
  }
}

const char *currentExecutable(char **argv) {
  if (cachedExecutable)
    return cachedExecutable;
  char link[kPathMax];
  ssize_t n = readlink("/proc/self/exe", link, sizeof link);
  if (n > 0 && n < ssize_t(sizeof link)) {
    link[n] = '\0';
    cachedExecutable = ORU_StringDup(link);
    return cachedExecutable;
  }
  if (!argv || !argv[0])
    return nullptr;
  const char *arg0 = argv[0];
  if (arg0[0] == '/') {
    cachedExecutable = resolveExecutable("", arg0 + 1);
  } else if (strchr(arg0, '/')) {
    char cwd[kPathMax];
    if (getcwd(cwd, sizeof cwd))
      cachedExecutable = resolveExecutable(cwd, arg0);
  } else {
    cachedExecutable = searchPath(arg0);
  }
  return cachedExecutable;
}

void forgetCurrentExecutable() { cachedExecutable = nullptr; }

static bool endsWithBin(const char *dir) {
  size_t n = strlen(dir);
  return n >= 4 && strcmp(dir + n - 4, "/bin") == 0;
}

// Cuts the last path component; false when the text holds no "/".
static bool cutLastComponent(char *path) {
  char *slash = strrchr(path, '/');
  if (!slash)
    return false;
  *slash = '\0';
  return true;
}

bool homeFromExecutable(char *buffer, int size) {
  const char *exe = currentExecutable(nullptr);
  if (!exe || size <= 0)
    return false;
  snprintf(buffer, size_t(size), "%s", exe);
  for (int level = 0; level < 2; ++level) {
    if (!cutLastComponent(buffer) || strlen(buffer) <= 3)
      break;
    if (endsWithBin(buffer)) {
      cutLastComponent(buffer);
      return true;
    }
  }
  buffer[0] = '\0';
  return false;
}

static bool fileExists(const char *path) {
  struct stat st;
  return stat(path, &st) == 0;
}

bool findRuntimeDir(char *buffer, int size, const char *arch) {
  char candidate[kPathMax + 64];
  if (homeFromExecutable(buffer, size)) {
    snprintf(candidate, sizeof candidate, "%s/lib/%s/libtesk.so", buffer, arch);
    bool found = fileExists(candidate);
    if (!found) {
      snprintf(candidate, sizeof candidate, "%s/ubo/lib/%s/libtesk.so", buffer, arch);
      size_t length = strlen(buffer);
      if (fileExists(candidate) && length + 4 < size_t(size)) {
        memcpy(buffer + length, "/ubo", 5);
        found = true;
      }
    }
    if (found) {
      trace("UBO path is %s\n", buffer);
      return true;
    }
  }
  fprintf(stderr, "Error: could not find libtesk.so\n");
  return false;
}

// The data model options are dropped from the vector a re-execution passes on; any request for
// another model than this launcher's 32 bits ends the process.
static char **reexecutionVector(char **originalArgv) {
  int n = 0;
  while (originalArgv[n])
    ++n;
  char **args = static_cast<char **>(ORU_MemAlloc(int((n + 1) * sizeof(char *))));
  int kept = 0;
  int request = 32;
  args[kept++] = originalArgv[0];
  for (int i = 1; i < n; ++i) {
    const char *arg = originalArgv[i];
    if (strcmp(arg, "-J-d64") == 0 || strcmp(arg, "-d64") == 0)
      request = 64;
    else if (strcmp(arg, "-J-d32") == 0 || strcmp(arg, "-d32") == 0)
      request = 32;
    else
      args[kept++] = originalArgv[i];
  }
  args[kept] = nullptr;
  if (request != 32) {
    fprintf(stderr,
            "This Tesk instance does not support a %d-bit RASK.\nPlease install the desired "
            "version.\n",
            request);
    exit(1);
  }
  return args;
}

// A set-user-id, set-group-id or capability-holding process must not have its library search
// path widened.
static bool mustKeepLibraryPath() {
  if (getgid() != getegid() || getuid() != geteuid())
    return true;
  cap_t empty = cap_init();
  cap_t current = cap_get_proc();
  bool differ = cap_compare(empty, current) != 0;
  cap_free(empty);
  cap_free(current);
  return differ;
}

// Sets "LD_LIBRARY_PATH" to the VM's directories (followed by the old value) and replaces the
// process by a fresh copy of the launcher, unless the path already begins with them.
static void reexecuteWithLibraryPath(const char *runtimeDir, const char *libraryPath,
                                     char **reexecArgv) {
  char vmDir[kPathMax];
  snprintf(vmDir, sizeof vmDir, "%s", libraryPath);
  cutLastComponent(vmDir);

  const char *format = "%s:%s/lib/%s:%s/../lib/%s";
  int length = snprintf(nullptr, 0, format, vmDir, runtimeDir, kArch, runtimeDir, kArch);
  const char *old = getenv("LD_LIBRARY_PATH");
  size_t size = strlen("LD_LIBRARY_PATH=") + size_t(length) + 1 + (old ? strlen(old) + 1 : 0);
  char *entry = static_cast<char *>(ORU_MemAlloc(int(size)));
  char *value = stpcpy(entry, "LD_LIBRARY_PATH=");
  snprintf(value, size - strlen("LD_LIBRARY_PATH="), format, vmDir, runtimeDir, kArch,
           runtimeDir, kArch);

  if (old) {
    size_t n = strlen(value);
    if (strncmp(old, value, n) == 0 && (old[n] == '\0' || old[n] == ':')) {
      ORU_MemFree(entry);
      return;
    }
    if (*old) {
      char *end = value + n;
      *end++ = ':';
      strcpy(end, old);
    }
  }

  if (putenv(entry) != 0) {
    reportError("Error: could not put LD_LIBRARY_PATH into the environment.");
    exit(1);
  }
  fflush(stdout);
  fflush(stderr);
  const char *exe = currentExecutable(nullptr);
  execve(exe, reexecArgv, environ);
  perror("execve()");
  fprintf(stderr, "Error trying to exec %s.\n", exe);
  fprintf(stderr, "Check if file exists and permissions are set correctly.\n");
  exit(1);
}

void prepareExecution(int *argc, char ***argv, char *runtimeDir, int runtimeDirSize,
                      char *libraryPath, int libraryPathSize, char **originalArgv) {
  currentExecutable(originalArgv);
  char **reexecArgv = reexecutionVector(originalArgv);

  if (!findRuntimeDir(runtimeDir, runtimeDirSize, kArch)) {
    fprintf(stderr, "Error: could not find Tesk 2 Runtime Environment.\n");
    exit(2);
  }

  if (readVmCatalogue(runtimeDir, kArch) <= 0) {
    fprintf(stderr, "Error: no known VMs. (check for corrupt rask.cfg file)\n");
    exit(1);
  }

  const char *vm = chooseVm(argc, argv);
  int length;
  if (strchr(vm, '/'))
    length = snprintf(libraryPath, size_t(libraryPathSize), "%s/librask.so", vm);
  else
    length = snprintf(libraryPath, size_t(libraryPathSize), "%s/lib/%s/%s/librask.so", runtimeDir,
                      kArch, vm);
  if (length < 0 || length >= libraryPathSize) {
    // A truncated path could name some other file.
    fprintf(stderr, "Error: Path length exceeds maximum length (PATH_MAX)\n");
    exit(1);
  }

  trace("Does `%s' exist ... ", libraryPath);
  if (!fileExists(libraryPath)) {
    trace("no.\n");
    fprintf(stderr, "Error: no `%s' RASK at `%s'.\n", vm, libraryPath);
    exit(4);
  }
  trace("yes.\n");

  if (mustKeepLibraryPath())
    return;
  reexecuteWithLibraryPath(runtimeDir, libraryPath, reexecArgv);
}
