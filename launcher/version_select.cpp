// Runtime version selection: the pre-scan of the command line, the zub manifest, the search of
// the installed runtimes and the hand-over to the chosen runtime's launcher.

#include "launcher/version_select.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "launcher/oru.h"

// realpath writes up to PATH_MAX bytes into the launcher's path buffers.
static_assert(kPathMax >= PATH_MAX, "path buffers must hold a canonical path");

namespace {

const char kMarkerName[] = "_TESK_VERSION_SET";
const char kSystemDir[] = "/usr/tesk";
// Entry name prefixes of installed runtimes, in the order they are tested.
const char *const kRuntimePrefixes[] = {"ubo", "fen", "nuvo", "nuvek"};
// Argument 0 of a hand-over; execv wants a mutable vector.
char kLauncherArg0[] = "tesk";

// What the pre-scan of the leading options found.
struct PreScan {
  char *versionSpec = nullptr; // "-version:" value
  int restrictSearch = -1;     // -1 unset, else 0 or 1
  bool zubMode = false;
  bool headless = false;
  char *splashImage = nullptr; // "-splash:" value
  char *operand = nullptr;
  char **kept = nullptr; // the selection vector, null-terminated
};

// Puts NAME=VALUE into the process environment; the entry is never freed, as putenv keeps it.
void putEnvEntry(const char *name, const char *value) {
  size_t size = strlen(name) + 1 + strlen(value) + 1;
  char *entry = static_cast<char *>(ORU_MemAlloc(int(size)));
  snprintf(entry, size, "%s=%s", name, value);
  if (putenv(entry) != 0) {
    reportErrorArg("Error: could not put %s into the environment.", name);
    exit(1);
  }
}

PreScan preScan(int argc, char **argv) {
  PreScan scan;
  // Room for argument 0 even when the vector is empty: a hand-over replaces it.
  int slots = (argc > 0 ? argc : 1) + 1;
  scan.kept = static_cast<char **>(ORU_MemAlloc(int(slots * sizeof(char *))));
  int kept = 0;
  scan.kept[kept++] = argc > 0 ? argv[0] : nullptr;

  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    char *arg = argv[i];
    if (hasPrefix(arg, "-version:")) {
      scan.versionSpec = arg + strlen("-version:");
      continue;
    }
    if (strcmp(arg, "-ubo-restrict-search") == 0) {
      scan.restrictSearch = 1;
      continue;
    }
    if (strcmp(arg, "-no-ubo-restrict-search") == 0) {
      scan.restrictSearch = 0;
      continue;
    }
    if (strcmp(arg, "-zub") == 0) {
      scan.zubMode = true;
    } else if ((strcmp(arg, "-cp") == 0 || strcmp(arg, "-classpath") == 0) && i + 1 < argc) {
      // The class path value is never the operand, whatever it looks like.
      scan.kept[kept++] = arg;
      arg = argv[++i];
    }
    if (strcmp(arg, "-Dtesk.ozt.headless=true") == 0)
      scan.headless = true;
    else if (hasPrefix(arg, "-Dtesk.ozt.headless="))
      scan.headless = false;
    else if (hasPrefix(arg, "-splash:"))
      scan.splashImage = arg + strlen("-splash:");
    scan.kept[kept++] = arg;
  }
  if (i < argc)
    scan.operand = argv[i];
  for (; i < argc; ++i)
    scan.kept[kept++] = argv[i];
  scan.kept[kept] = nullptr;
  return scan;
}

// The splash image goes to the splash screen through the environment, so that it survives the
// re-executions before the splash library is loaded.
void handOffSplash(const PreScan &scan, const ManifestData &manifest, bool parsed) {
  if (scan.headless)
    return;
  if (scan.splashImage) {
    putEnvEntry("_TESK_SPLASH_FILE", scan.splashImage);
  } else if (parsed && manifest.splashImage) {
    putEnvEntry("_TESK_SPLASH_FILE", manifest.splashImage);
    putEnvEntry("_TESK_SPLASH_ZUB", scan.operand);
  }
}

// The runtime search path as a heap text of ":"-separated directories.
char *searchPath(bool restrictSearch) {
  if (restrictSearch)
    return ORU_StringDup(kSystemDir);
  if (const char *path = getenv("TESK_VERSION_PATH"))
    return ORU_StringDup(path);
  const char *home = getenv("HOME");
  if (!home)
    return ORU_StringDup(kSystemDir);
  size_t size = strlen(home) + strlen("/tesk:") + strlen(kSystemDir) + 1;
  char *path = static_cast<char *>(ORU_MemAlloc(int(size)));
  snprintf(path, size, "%s/tesk:%s", home, kSystemDir);
  return path;
}

// The release part of a runtime directory's entry name, or null when the name has none of the
// runtime prefixes.
const char *releaseOf(const char *name) {
  for (const char *prefix : kRuntimePrefixes)
    if (hasPrefix(name, prefix))
      return name + strlen(prefix);
  return nullptr;
}

// The entry name of the best acceptable runtime in `directory` (a heap copy), or null.
char *bestEntryIn(const char *directory, char *spec) {
  DIR *dir = opendir(directory);
  if (!dir)
    return nullptr;
  char *best = nullptr;
  while (struct dirent *entry = readdir(dir)) {
    const char *release = releaseOf(entry->d_name);
    if (!release || !ORU_AcceptableRelease(release, spec) ||
        !runtimeLauncherExists(directory, entry->d_name))
      continue;
    if (best && ORU_ExactVersionId(release, releaseOf(best)) <= 0)
      continue;
    ORU_MemFree(best);
    best = ORU_StringDup(entry->d_name);
  }
  closedir(dir);
  return best;
}

} // namespace

bool runtimeLauncherExists(const char *directory, const char *entry) {
  char path[kPathMax];
  // A path cut to fit the buffer would name some other file.
  int length = snprintf(path, sizeof path, "%s/%s/bin/tesk", directory, entry);
  if (length < 0 || size_t(length) >= sizeof path)
    return false;
  struct stat st;
  // A directory passes the access test but cannot be executed.
  return stat(path, &st) == 0 && !S_ISDIR(st.st_mode) && access(path, X_OK) == 0;
}

char *findBestRuntime(const ManifestData &request) {
  char *path = searchPath(request.restrictSearch != 0);
  char *result = nullptr;
  for (const char *element = path; !result;) {
    const char *end = strchr(element, ':');
    size_t length = end ? size_t(end - element) : strlen(element);
    // An empty or over-long element names no directory that could be opened.
    if (length > 0 && length < size_t(kPathMax)) {
      char directory[kPathMax];
      snprintf(directory, sizeof directory, "%.*s", int(length), element);
      if (char *best = bestEntryIn(directory, request.versionSpec)) {
        size_t size = length + 1 + strlen(best) + 1;
        result = static_cast<char *>(ORU_MemAlloc(int(size)));
        snprintf(result, size, "%s/%s", directory, best);
        ORU_MemFree(best);
      }
    }
    if (!end)
      break;
    element = end + 1;
  }
  ORU_MemFree(path);
  return result;
}

void execChosenRuntime(const char *runtime, char **argv) {
  char canonical[kPathMax];
  if (!realpath(runtime, canonical)) {
    fprintf(stderr, "Unable to resolve %s\n", runtime);
    exit(1);
  }
  const char *self = currentExecutable(argv);
  if (!self) {
    fprintf(stderr, "Unable to resolve current executable\n");
    exit(1);
  }
  // The launcher belongs to the runtime only when it lies inside that directory: a runtime at
  // /r/ubo1.6 does not contain /r/ubo1.6.0_40/bin/quillet.
  size_t length = strlen(canonical);
  if (strncmp(self, canonical, length) == 0 &&
      (self[length] == '/' || self[length] == '\0' || canonical[length - 1] == '/'))
    return;
  // "/bin/", "tesk" and the terminating NUL.
  if (length + 10 > size_t(kPathMax)) {
    fprintf(stderr, "Path length exceeds maximum length (PATH_MAX)\n");
    exit(1);
  }
  // The length test above leaves room for the whole command.
  char command[kPathMax];
  memcpy(command, canonical, length);
  memcpy(command + length, "/bin/", 5);
  strcpy(command + length + 5, kLauncherArg0);
  argv[0] = kLauncherArg0;

  trace("ReExec Command: %s (%s)\n", command, argv[0]);
  trace("ReExec Args:");
  for (char **arg = argv + 1; *arg; ++arg)
    trace(" %s", *arg);
  trace("\n");

  fflush(stdout);
  fflush(stderr);
  execv(command, argv);
  perror("execv()");
  fprintf(stderr, "Exec of %s failed\n", command);
  exit(1);
}

void chooseRuntimeRelease(int argc, char **argv) {
  if (getenv(kMarkerName))
    return;
  PreScan scan = preScan(argc, argv);

  ManifestData manifest;
  memset(&manifest, 0, sizeof manifest);
  bool parsed = false;
  if (scan.zubMode && scan.operand) {
    int status = ORU_ParseManifest(scan.operand, &manifest);
    if (status == -1) {
      reportErrorArg("Unable to access zubfile %s", scan.operand);
      exit(1);
    }
    if (status != 0) {
      reportErrorArg("Invalid or corrupt zubfile %s", scan.operand);
      exit(1);
    }
    parsed = true;
  }

  handOffSplash(scan, manifest, parsed);

  if (scan.versionSpec)
    manifest.versionSpec = scan.versionSpec;
  if (scan.restrictSearch >= 0)
    manifest.restrictSearch = char(scan.restrictSearch);
  char *spec = manifest.versionSpec;
  if (!spec) {
    ORU_FreeManifest();
    ORU_MemFree(scan.kept);
    return;
  }
  if (!ORU_ValidVersionString(spec)) {
    reportErrorArg("Syntax error in version specification \"%s\"", spec);
    exit(1);
  }

  char *runtime = findBestRuntime(manifest);
  trace("UBO-Version = %s, UBO-Restrict-Search = %s Selected = %s\n", spec,
        manifest.restrictSearch ? "true" : "false", runtime ? runtime : "null");

  if (!runtime) {
    if (ORU_AcceptableRelease(kRelease, spec)) {
      ORU_FreeManifest();
      ORU_MemFree(scan.kept);
      return;
    }
    reportErrorArg("Unable to locate UBO meeting specification \"%s\"", spec);
    exit(1);
  }

  // The marker keeps the chosen launcher from selecting again and tells it the main class.
  const char *mainClass = manifest.mainClass ? manifest.mainClass : "";
  if (strlen(mainClass) > size_t(kPathMax)) {
    fprintf(stderr, "Error: main-class: attribute exceeds system limits\n");
    exit(1);
  }
  putEnvEntry(kMarkerName, mainClass);

  execChosenRuntime(runtime, scan.kept);
  ORU_MemFree(runtime);
  ORU_FreeManifest();
  ORU_MemFree(scan.kept);
}
