#include "launcher/catalogue.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/launcher.h"
#include "launcher/oru.h"
#include "launcher/serverclass.h"

VmCatalogue vmCatalogue = {nullptr, 0, 0};

namespace {

// Room for a path of kPathMax bytes and a little more: longer lines arrive in several chunks.
const int kLineBuffer = kPathMax + 20;
const int kFirstCapacity = 10;
const char kBlanks[] = " \t";

// The argument of the word that starts at `p`: the next run of non-blanks after the word,
// cut off in place; null when there is none.
char *argumentAfterWord(char *p) {
  p += strcspn(p, kBlanks);
  p += strspn(p, kBlanks);
  if (*p == '\0')
    return nullptr;
  p[strcspn(p, kBlanks)] = '\0';
  return p;
}

// Parses one non-comment line in place. On success fills the kind and the argument (alias
// or server-class VM, still in `line`) and returns true; a dropped line returns false. Either
// way `line` ends at the name afterwards.
bool parseLine(char *line, int lineNo, const char *path, VmKind *kind, char **argument) {
  if (line[0] != '-')
    fprintf(stderr, "Warning: no leading - on line %d of `%s'\n", lineNo, path);
  size_t length = strlen(line);
  // A chunk may begin with a NUL byte read from the file; there is then nothing to remove.
  if (length > 0)
    line[length - 1] = '\0';

  *argument = nullptr;
  char *p = line + strcspn(line, kBlanks);
  if (*p != '\0') {
    *p++ = '\0';
    p += strspn(p, kBlanks);
  }
  if (*p == '\0') {
    fprintf(stderr, "Warning: missing VM type on line %d of `%s'\n", lineNo, path);
    return false;
  }

  if (hasPrefix(p, "KNOWN")) {
    *kind = VM_KNOWN;
  } else if (hasPrefix(p, "ALIASED_TO")) {
    *argument = argumentAfterWord(p);
    if (*argument == nullptr) {
      fprintf(stderr, "Warning: missing VM alias on line %d of `%s'\n", lineNo, path);
      return false;
    }
    *kind = VM_ALIASED_TO;
  } else if (hasPrefix(p, "WARN")) {
    *kind = VM_WARN;
  } else if (hasPrefix(p, "IGNORE")) {
    *kind = VM_IGNORE;
  } else if (hasPrefix(p, "ERROR")) {
    *kind = VM_ERROR;
  } else if (hasPrefix(p, "IF_SERVER_CLASS")) {
    *argument = argumentAfterWord(p);
    if (*argument == nullptr) {
      fprintf(stderr, "Warning: missing server class VM on line %d of `%s'\n", lineNo, path);
      return false;
    }
    *kind = VM_IF_SERVER_CLASS;
  } else {
    fprintf(stderr, "Warning: unknown VM type on line %d of `%s'\n", lineNo, path);
    *kind = VM_KNOWN;
  }
  return true;
}

void growCatalogue() {
  int capacity = vmCatalogue.capacity == 0 ? kFirstCapacity : 2 * vmCatalogue.capacity;
  if (capacity <= vmCatalogue.count)
    capacity = vmCatalogue.count + 1;
  VmCatalogueEntry *entries = static_cast<VmCatalogueEntry *>(
      ORU_MemAlloc(static_cast<int>(capacity * sizeof(VmCatalogueEntry))));
  if (vmCatalogue.count > 0)
    memcpy(entries, vmCatalogue.entries, vmCatalogue.count * sizeof(VmCatalogueEntry));
  ORU_MemFree(vmCatalogue.entries);
  vmCatalogue.entries = entries;
  vmCatalogue.capacity = capacity;
}

} // namespace

int readVmCatalogue(const char *runtimeDir, const char *arch) {
  freeVmCatalogue();

  static const char kFormat[] = "%s/lib/%s/rask.cfg";
  int pathSize = snprintf(nullptr, 0, kFormat, runtimeDir, arch) + 1;
  char *path = static_cast<char *>(ORU_MemAlloc(pathSize));
  snprintf(path, pathSize, kFormat, runtimeDir, arch);

  FILE *file = fopen(path, "r");
  if (file == nullptr) {
    reportErrorArg("Error: could not open `%s'", path, true);
    exit(1);
  }

  char line[kLineBuffer];
  int lineNo = 0;
  while (fgets(line, sizeof line, file) != nullptr) {
    ++lineNo;
    if (line[0] == '#')
      continue;
    VmKind kind = VM_KNOWN;
    char *argument = nullptr;
    bool kept = parseLine(line, lineNo, path, &kind, &argument);
    trace("rask.cfg[%d] = ->%s<-\n", vmCatalogue.count, line);
    if (!kept)
      continue;

    if (vmCatalogue.count >= vmCatalogue.capacity)
      growCatalogue();
    VmCatalogueEntry &entry = vmCatalogue.entries[vmCatalogue.count++];
    entry.name = ORU_StringDup(line);
    entry.kind = kind;
    entry.alias = kind == VM_ALIASED_TO ? ORU_StringDup(argument) : nullptr;
    entry.serverClass = kind == VM_IF_SERVER_CLASS ? ORU_StringDup(argument) : nullptr;
    if (kind == VM_ALIASED_TO)
      trace("    name: %s  vmType: %s  alias: %s\n", entry.name, "VM_ALIASED_TO", entry.alias);
    else if (kind == VM_IF_SERVER_CLASS)
      trace("    name: %s  vmType: %s  server_class: %s\n", entry.name, "VM_IF_SERVER_CLASS",
            entry.serverClass);
  }
  fclose(file);
  ORU_MemFree(path);
  // Durations are not measured: the trace always reports 1.
  trace("%ld micro seconds to parse rask.cfg\n", 1L);
  return vmCatalogue.count;
}

int vmCatalogueIndex(const char *text) {
  if (hasPrefix(text, "-J"))
    text += 2;
  for (int i = 0; i < vmCatalogue.count; ++i) {
    if (strcmp(vmCatalogue.entries[i].name, text) == 0)
      return i;
  }
  return -1;
}

const char *vmName(const char *text) { return text[0] == '\0' ? text : text + 1; }

const char *catalogueDefaultVm(bool serverClass) {
  if (vmCatalogue.count <= 0)
    return nullptr;
  const VmCatalogueEntry &first = vmCatalogue.entries[0];
  if (serverClass && first.kind == VM_IF_SERVER_CLASS)
    return vmName(first.serverClass);
  return vmName(first.name);
}

const char *chooseVm(int *argc, char ***argv) {
  const char *candidate = getenv("FEN_ALTERNATE_VM");
  int chosen = -1;

  int oldCount = *argc;
  char **oldArgs = *argv;
  // Room for argument 0 and the terminating null even when the caller has no arguments.
  int slots = (oldCount > 0 ? oldCount : 1) + 1;
  char **args = static_cast<char **>(ORU_MemAlloc(static_cast<int>(slots * sizeof(char *))));
  int count = 0;
  args[count++] = oldCount > 0 ? oldArgs[0] : nullptr;
  for (int i = 1; i < oldCount; ++i) {
    char *arg = oldArgs[i];
    if (arg[0] != '-') {
      args[count++] = arg;
      continue;
    }
    int index = vmCatalogueIndex(arg);
    if (index >= 0) {
      chosen = index;
      candidate = vmName(vmCatalogue.entries[index].name);
    } else if (hasPrefix(arg, "-XXaltrask=") || hasPrefix(arg, "-J-XXaltrask=")) {
      candidate = strchr(arg, '=') + 1;
      chosen = -1;
    } else {
      args[count++] = arg;
    }
  }
  args[count] = nullptr;
  *argc = oldCount > 0 ? count : 0;
  *argv = args;

  if (candidate == nullptr) {
    bool serverClass = vmCatalogue.count > 0 && vmCatalogue.entries[0].kind == VM_IF_SERVER_CLASS &&
                       isServerClassMachine();
    const char *vm = catalogueDefaultVm(serverClass);
    if (vm != nullptr)
      trace("Default VM: %s\n", vm);
    return vm;
  }
  if (chosen < 0)
    return candidate;

  int followed = 0;
  while (vmCatalogue.entries[chosen].kind == VM_ALIASED_TO) {
    const char *alias = vmCatalogue.entries[chosen].alias;
    if (followed > vmCatalogue.count) {
      reportError("Error: Corrupt rask.cfg file; cycle in alias list.", true);
      exit(1);
    }
    int next = vmCatalogueIndex(alias);
    if (next < 0) {
      reportErrorArg("Error: Unable to resolve VM alias %s", alias, true);
      exit(1);
    }
    chosen = next;
    candidate = vmName(vmCatalogue.entries[chosen].name);
    ++followed;
  }

  const char *first = vmName(vmCatalogue.entries[0].name);
  switch (vmCatalogue.entries[chosen].kind) {
  case VM_ERROR:
    reportErrorArg("Error: %s VM not supported", candidate, true);
    exit(1);
  case VM_IGNORE:
    return first;
  case VM_WARN:
    fprintf(stderr, "Warning: %s VM not supported; %s VM will be used\n", candidate, first);
    return first;
  default:
    return candidate;
  }
}

void freeVmCatalogue() {
  for (int i = 0; i < vmCatalogue.count; ++i) {
    VmCatalogueEntry &entry = vmCatalogue.entries[i];
    ORU_MemFree(entry.name);
    entry.name = nullptr;
    ORU_MemFree(entry.alias);
    entry.alias = nullptr;
    ORU_MemFree(entry.serverClass);
    entry.serverClass = nullptr;
  }
  ORU_MemFree(vmCatalogue.entries);
  vmCatalogue = VmCatalogue{nullptr, 0, 0};
}
