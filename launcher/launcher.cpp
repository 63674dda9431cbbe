// The launcher's process-wide state and small text helpers.

#include "launcher/launcher.h"

#include <cstdio>
#include <cstring>

#include "launcher/oru.h"

extern char **environ;

const char *programName = nullptr;
const char *launcherName = nullptr;

int64_t vmThreadStack = 0;
VmOptionList vmOptions = {nullptr, 0, 0};

bool versionOnly = false;
bool versionFirst = false;
bool helpWanted = false;
bool extraHelpWanted = false;
bool suppressExitMessage = false;

char runtimeHome[kPathMax];
char vmLibraryPath[kPathMax];

char *formatMessage(const char *format, const char *arg) {
  if (!arg)
    arg = "";
  // The one "%s" shrinks by two characters, which leaves room for the terminating NUL.
  size_t size = strlen(format) + strlen(arg);
  char *text = static_cast<char *>(ORU_MemAlloc(int(size)));
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  snprintf(text, size, format, arg);
#pragma GCC diagnostic pop
  return text;
}

bool hasPrefix(const char *text, const char *prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

int removeEnvEntry(const char *name) {
  if (!name || !*name || strchr(name, '='))
    return -1;
  size_t length = strlen(name);
  for (char **entry = environ; entry && *entry; ++entry) {
    if (strncmp(*entry, name, length) == 0 && ((*entry)[length] == '=' || (*entry)[length] == '\0')) {
      // Move the later entries, the terminating null included, down by one.
      for (char **p = entry; *p; ++p)
        p[0] = p[1];
      break;
    }
  }
  return 0;
}
