// Option translation: embedded arguments, "-J" options, class path and home properties, the
// launcher option table and the launcher properties.

#include "launcher/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "launcher/oru.h"

const char *const kEmbeddedArgs[] = {"-J-ms8m", "com.mox.tools.quillet.Main"};
const int kEmbeddedArgCount = 2;

bool parseStackSize(const char *text, int64_t *bytes) {
  size_t digits = strspn(text, "0123456789");
  if (digits == 0)
    return false;
  const char *unit = text + digits;
  if (unit[0] != '\0' && unit[1] != '\0')
    return false;
  int shift;
  switch (unit[0]) {
  case '\0': shift = 0; break;
  case 'k': case 'K': shift = 10; break;
  case 'm': case 'M': shift = 20; break;
  case 'g': case 'G': shift = 30; break;
  case 't': case 'T': shift = 40; break;
  default: return false;
  }
  // A size that does not fit is refused rather than wrapped into some unrelated size.
  const int64_t limit = INT64_MAX >> shift;
  int64_t value = 0;
  for (size_t i = 0; i < digits; ++i) {
    int d = text[i] - '0';
    if (value > (limit - d) / 10)
      return false;
    value = value * 10 + d;
  }
  *bytes = value << shift;
  return true;
}

void appendVmOption(char *text, void *extraInfo) {
  if (vmOptions.count == vmOptions.capacity) {
    int capacity = vmOptions.capacity == 0 ? 4 : vmOptions.capacity * 2;
    VmOption *grown = static_cast<VmOption *>(ORU_MemAlloc(int(capacity * sizeof(VmOption))));
    if (vmOptions.count > 0)
      memcpy(grown, vmOptions.options, vmOptions.count * sizeof(VmOption));
    ORU_MemFree(vmOptions.options);
    vmOptions.options = grown;
    vmOptions.capacity = capacity;
  }
  vmOptions.options[vmOptions.count].text = text;
  vmOptions.options[vmOptions.count].extraInfo = extraInfo;
  ++vmOptions.count;

  int64_t size;
  if (hasPrefix(text, "-Xss") && parseStackSize(text + 4, &size))
    vmThreadStack = size;
}

static bool isJOption(const char *arg) { return arg[0] == '-' && arg[1] == 'J'; }

static bool isClassPathOption(const char *arg) {
  return strcmp(arg, "-cp") == 0 || strcmp(arg, "-classpath") == 0;
}

static char *expandClassPath(const char *path) {
  char *expanded = ORU_WildcardExpandClasspath(path);
  // The library promises a result; should it give none, the path as given beats "(null)".
  return expanded ? expanded : ORU_StringDup(path);
}

void buildWorkingArgs(int userArgc, char **userArgv, int *outArgc, char ***outArgv) {
  // A "-J" argument right after a class path option is taken twice: as a VM option and as the
  // option's value. Count first so that the vector holds exactly what it receives.
  int count = kEmbeddedArgCount + userArgc;
  for (int i = 0; i < userArgc; ++i) {
    if (isJOption(userArgv[i]))
      continue;
    if (isClassPathOption(userArgv[i]) && i + 1 < userArgc) {
      if (isJOption(userArgv[i + 1]))
        ++count;
      ++i;
    }
  }

  char **args = static_cast<char **>(ORU_MemAlloc(int((count + 1) * sizeof(char *))));
  int n = 0;
  for (int i = 0; i < kEmbeddedArgCount; ++i)
    if (isJOption(kEmbeddedArgs[i]))
      args[n++] = const_cast<char *>(kEmbeddedArgs[i] + 2);
  for (int i = 0; i < userArgc; ++i) {
    if (!isJOption(userArgv[i]))
      continue;
    if (userArgv[i][2] == '\0') {
      reportError("Error: the -J option should not be followed by a space.");
      exit(1);
    }
    args[n++] = userArgv[i] + 2;
  }
  for (int i = 0; i < kEmbeddedArgCount; ++i)
    if (!isJOption(kEmbeddedArgs[i]))
      args[n++] = const_cast<char *>(kEmbeddedArgs[i]);
  for (int i = 0; i < userArgc; ++i) {
    if (isJOption(userArgv[i]))
      continue;
    args[n++] = userArgv[i];
    if (isClassPathOption(userArgv[i]) && i + 1 < userArgc)
      args[n++] = expandClassPath(userArgv[++i]);
  }
  args[n] = nullptr;
  *outArgc = n;
  *outArgv = args;
}

static char *formatOption(const char *format, const char *arg) {
  return formatMessage(format, arg);
}

void addClassPathOption(const char *path) {
  appendVmOption(formatOption("-Dtesk.class.path=%s", expandClassPath(path)));
}

void addClassPathAndHomeOptions() {
  if (const char *classPath = getenv("CLASSPATH"))
    appendVmOption(formatOption("-Denv.class.path=%s", expandClassPath(classPath)));

  char home[kPathMax];
  if (!homeFromExecutable(home, sizeof home)) {
    reportError("Can't determine application home");
    exit(1);
  }
  appendVmOption(formatOption("-Dapplication.home=%s", home));

  size_t size = strlen("-Dtesk.class.path=") + 2 * strlen(home) +
                strlen("/lib/tools.zub") + strlen(":") + strlen("/classes") + 1;
  char *option = static_cast<char *>(ORU_MemAlloc(int(size)));
  snprintf(option, size, "-Dtesk.class.path=%s/lib/tools.zub:%s/classes", home, home);
  appendVmOption(option);
}

// Options that are read by earlier phases and mean nothing to the VM.
static bool isDroppedOption(const char *arg) {
  return hasPrefix(arg, "-version:") || strcmp(arg, "-no-ubo-restrict-search") == 0 ||
         strcmp(arg, "-ubo-restrict-search") == 0 || hasPrefix(arg, "-splash:") ||
         strcmp(arg, "-d32") == 0 || strcmp(arg, "-d64") == 0;
}

// The legacy spellings that translate into one fixed VM option, or null.
static const char *legacyTranslation(const char *arg) {
  static const struct {
    const char *option;
    const char *vmOption;
  } table[] = {
      {"-verbosegc", "-verbose:gc"},     {"-t", "-Xt"},
      {"-tm", "-Xtm"},                   {"-debug", "-Xdebug"},
      {"-noclassgc", "-Xnoclassgc"},     {"-Xfuture", "-Xverify:all"},
      {"-verify", "-Xverify:all"},       {"-verifyremote", "-Xverify:remote"},
      {"-noverify", "-Xverify:none"},
  };
  for (const auto &row : table)
    if (strcmp(arg, row.option) == 0)
      return row.vmOption;
  return nullptr;
}

ScanResult scanLauncherOptions(int argc, char **argv) {
  ScanResult result = {nullptr, nullptr, 0, nullptr, 0};
  bool zubMode = false;
  bool stopped = false;
  int i = 0;
  while (!stopped && i < argc && argv[i][0] == '-') {
    const char *arg = argv[i++];
    if (isClassPathOption(arg)) {
      if (i < argc) {
        addClassPathOption(argv[i++]);
      } else {
        reportErrorArg("%s requires class path specification", arg);
        helpWanted = true;
        result.presetStatus = 1;
        stopped = true;
      }
    } else if (strcmp(arg, "-zub") == 0) {
      zubMode = true;
    } else if (strcmp(arg, "-help") == 0 || strcmp(arg, "-h") == 0 || strcmp(arg, "-?") == 0) {
      helpWanted = true;
      stopped = true;
    } else if (strcmp(arg, "-version") == 0) {
      versionOnly = true;
      stopped = true;
    } else if (strcmp(arg, "-showversion") == 0) {
      versionFirst = true;
    } else if (strcmp(arg, "-X") == 0) {
      extraHelpWanted = true;
      stopped = true;
    } else if (strcmp(arg, "-fullversion") == 0) {
      fprintf(stderr, "%s full version \"%s\"\n", launcherName, kRelease);
      exit(0);
    } else if (const char *vmOption = legacyTranslation(arg)) {
      appendVmOption(const_cast<char *>(vmOption));
    } else if (strcmp(arg, "-XXsuppressExitMessage") == 0) {
      suppressExitMessage = true;
    } else if (hasPrefix(arg, "-prof")) {
      // "-prof" alone, or "-prof:" and a file name from the seventh character on.
      const char *file = arg[5] == '\0' ? "tesk.prof" : arg + 6;
      appendVmOption(formatOption("-Xrunzelto:cpu=old,file=%s", file));
    } else if (hasPrefix(arg, "-ss") || hasPrefix(arg, "-oss") || hasPrefix(arg, "-ms") ||
               hasPrefix(arg, "-mx")) {
      appendVmOption(formatOption("-X%s", arg + 1));
    } else if (strcmp(arg, "-checksource") == 0 || strcmp(arg, "-cs") == 0 ||
               strcmp(arg, "-noasyncgc") == 0) {
      fprintf(stderr, "Warning: %s option is no longer supported.\n", arg);
    } else if (isDroppedOption(arg)) {
      // Read by the version selection, the data model check and the splash screen.
    } else {
      appendVmOption(const_cast<char *>(arg));
    }
  }

  if (!stopped && i < argc) {
    char *operand = argv[i++];
    if (zubMode) {
      result.zubFile = operand;
      addClassPathOption(operand);
    } else {
      result.mainClassName = operand;
    }
  }
  result.appArgc = argc - i;
  result.appArgv = argv + i;
  return result;
}

void addLauncherProperties(const ScanResult &scan) {
  const char *operand = scan.zubFile ? scan.zubFile : scan.mainClassName;
  if (operand) {
    static const char prefix[] = "-Dmox.tesk.command=";
    size_t size = strlen(prefix) + strlen(operand) + 1;
    for (int i = 0; i < scan.appArgc; ++i)
      size += 1 + strlen(scan.appArgv[i]);
    char *option = static_cast<char *>(ORU_MemAlloc(int(size)));
    char *p = stpcpy(stpcpy(option, prefix), operand);
    for (int i = 0; i < scan.appArgc; ++i)
      p = stpcpy(stpcpy(p, " "), scan.appArgv[i]);
    appendVmOption(option);
  }
  appendVmOption(const_cast<char *>("-Dmox.tesk.launcher=MOX_STANDARD"));

  char *pid = static_cast<char *>(ORU_MemAlloc(64));
  snprintf(pid, 64, "%s%d", "-Dmox.tesk.launcher.pid=", int(getpid()));
  appendVmOption(pid);
}
