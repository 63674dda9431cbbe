// The VM catalogue reader and the VM choice: "rask.cfg" files built from valid lines and then
// mutated (bytes changed, lines cut, NUL bytes, lines longer than the reader's buffer), and
// command lines of catalogue options, "-J" forms, "-XXaltrask=" paths and other arguments,
// against a model of the catalogue format and the choice rules: the entries, every warning, the
// chosen VM, the remaining arguments, and the messages and status of the choices that end the
// launcher.

#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/catalogue.h"
#include "stress/StressDriver.h"
#include "stress/launcher/LauncherHarness.h"
#include "tests/common/TestSupport.h"

namespace {

struct Entry {
  std::string name;
  VmKind kind;
  std::string argument; // alias or server-class VM
};

bool startsWith(const std::string &s, const char *p) { return s.compare(0, strlen(p), p) == 0; }
bool blank(char c) { return c == ' ' || c == '\t'; }

// The reader's model: lines as fgets hands them out of a 4116-byte buffer, read as C texts.
std::vector<Entry> readModel(const std::string &file, const std::string &path, std::string &err) {
  std::vector<Entry> entries;
  const size_t chunkMax = 4115;
  size_t at = 0;
  int lineNo = 0;
  while (at < file.size()) {
    size_t end = at;
    while (end < file.size() && end - at < chunkMax && file[end] != '\n') ++end;
    if (end < file.size() && end - at < chunkMax && file[end] == '\n') ++end;
    std::string line = file.substr(at, end - at);
    at = end;
    ++lineNo;
    line = line.c_str(); // up to a NUL byte
    if (!line.empty() && line[0] == '#') continue;
    std::string where = " on line " + std::to_string(lineNo) + " of `" + path + "'\n";
    if (line.empty() || line[0] != '-') err += "Warning: no leading -" + where;
    if (!line.empty()) line.pop_back();
    size_t nameEnd = 0;
    while (nameEnd < line.size() && !blank(line[nameEnd])) ++nameEnd;
    size_t kindAt = nameEnd;
    while (kindAt < line.size() && blank(line[kindAt])) ++kindAt;
    if (kindAt >= line.size()) {
      err += "Warning: missing VM type" + where;
      continue;
    }
    Entry e{line.substr(0, nameEnd), VM_KNOWN, ""};
    std::string kind = line.substr(kindAt);
    bool needsArgument = false;
    if (startsWith(kind, "KNOWN")) e.kind = VM_KNOWN;
    else if (startsWith(kind, "ALIASED_TO")) e.kind = VM_ALIASED_TO, needsArgument = true;
    else if (startsWith(kind, "WARN")) e.kind = VM_WARN;
    else if (startsWith(kind, "IGNORE")) e.kind = VM_IGNORE;
    else if (startsWith(kind, "ERROR")) e.kind = VM_ERROR;
    else if (startsWith(kind, "IF_SERVER_CLASS")) e.kind = VM_IF_SERVER_CLASS, needsArgument = true;
    else err += "Warning: unknown VM type" + where;
    if (needsArgument) {
      size_t p = 0;
      while (p < kind.size() && !blank(kind[p])) ++p;
      while (p < kind.size() && blank(kind[p])) ++p;
      size_t q = p;
      while (q < kind.size() && !blank(kind[q])) ++q;
      if (p == kind.size()) {
        err += e.kind == VM_ALIASED_TO ? "Warning: missing VM alias" + where
                                      : "Warning: missing server class VM" + where;
        continue;
      }
      e.argument = kind.substr(p, q - p);
    }
    entries.push_back(e);
  }
  return entries;
}

std::string vmName(const std::string &text) { return text.empty() ? text : text.substr(1); }

int indexOf(const std::vector<Entry> &entries, std::string text) {
  if (startsWith(text, "-J")) text = text.substr(2);
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].name == text) return int(i);
  return -1;
}

struct Choice {
  bool exited = false;
  std::string err;
  bool hasVm = false;
  std::string vm;
  std::vector<std::string> args;
};

Choice chooseModel(const std::vector<Entry> &entries, const std::vector<std::string> &argv,
                   const char *alternate, bool serverClass) {
  Choice c;
  bool hasCandidate = alternate != nullptr;
  std::string candidate = alternate ? alternate : "";
  int chosen = -1;
  if (!argv.empty()) c.args.push_back(argv[0]);
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::string &a = argv[i];
    if (a.empty() || a[0] != '-') {
      c.args.push_back(a);
      continue;
    }
    int index = indexOf(entries, a);
    if (index >= 0) {
      chosen = index;
      candidate = vmName(entries[size_t(index)].name);
      hasCandidate = true;
    } else if (startsWith(a, "-XXaltrask=") || startsWith(a, "-J-XXaltrask=")) {
      candidate = a.substr(a.find('=') + 1);
      hasCandidate = true;
      chosen = -1;
    } else {
      c.args.push_back(a);
    }
  }
  if (!hasCandidate) {
    if (entries.empty()) return c;
    c.hasVm = true;
    c.vm = entries[0].kind == VM_IF_SERVER_CLASS && serverClass ? vmName(entries[0].argument)
                                                               : vmName(entries[0].name);
    return c;
  }
  c.hasVm = true;
  if (chosen < 0) {
    c.vm = candidate;
    return c;
  }
  size_t followed = 0;
  while (entries[size_t(chosen)].kind == VM_ALIASED_TO) {
    const std::string &alias = entries[size_t(chosen)].argument;
    if (followed > entries.size()) {
      c.exited = true;
      c.err += "Error: Corrupt rask.cfg file; cycle in alias list.\n";
      return c;
    }
    int next = indexOf(entries, alias);
    if (next < 0) {
      c.exited = true;
      c.err += "Error: Unable to resolve VM alias " + alias + "\n";
      return c;
    }
    chosen = next;
    candidate = vmName(entries[size_t(chosen)].name);
    ++followed;
  }
  std::string first = vmName(entries[0].name);
  switch (entries[size_t(chosen)].kind) {
  case VM_ERROR:
    c.exited = true;
    c.err += "Error: " + candidate + " VM not supported\n";
    return c;
  case VM_IGNORE: c.vm = first; return c;
  case VM_WARN:
    c.err += "Warning: " + candidate + " VM not supported; " + first + " VM will be used\n";
    c.vm = first;
    return c;
  default: c.vm = candidate; return c;
  }
}

const char *const kNames[] = {"-client", "-server", "-fast", "-legacy", "-retired", "-vmalpha", "-x", "-", "client"};

std::string catalogueFile(stress::Input &in) {
  static const char *const kinds[] = {"KNOWN", "ALIASED_TO", "WARN", "IGNORE", "ERROR",
                                      "IF_SERVER_CLASS", "KNOWNX", "UNKNOWN", "ALIASED_TOO"};
  static const char *const gaps[] = {" ", "\t", "  \t ", ""};
  std::string file;
  for (uint32_t n = in.length(12); n > 0; --n) {
    std::string line;
    if (in.oneIn(8)) {
      line = "# " + in.text(20);
    } else {
      line = in.pick(kNames);
      line += in.pick(gaps);
      line += in.pick(kinds);
      if (in.coin()) {
        line += in.pick(gaps);
        line += in.pick(kNames);
      }
      if (in.oneIn(4)) line += in.pick(gaps);
    }
    if (in.oneIn(6)) stress::mutate(in, line, "- \t#\r\nKA", 3);
    if (in.oneIn(40)) line += std::string(4100 + in.below(40), in.coin() ? 'a' : ' ');
    file += line;
    if (!in.oneIn(10)) file += "\n";
  }
  if (in.oneIn(8)) stress::mutate(in, file, "", 4);
  return file;
}

std::string runtimeDir;

void setUp() {
  runtimeDir = stress::scratchDir() + "/runtime";
  mkdir(runtimeDir.c_str(), 0755);
  mkdir((runtimeDir + "/lib").c_str(), 0755);
  mkdir((runtimeDir + "/lib/i386").c_str(), 0755);
}

struct Context {
  std::vector<std::string> *argv;
  std::vector<char *> cargv;
  int count = -1;
  std::vector<Entry> entries;
  bool chose = false;
  const char *vm = nullptr;
  std::string vmText;
  std::vector<std::string> args;
};

void body(void *p) {
  Context &c = *static_cast<Context *>(p);
  c.count = readVmCatalogue(runtimeDir.c_str(), "i386");
  for (int i = 0; i < vmCatalogue.count; ++i) {
    const VmCatalogueEntry &e = vmCatalogue.entries[i];
    bool hasArgument = e.kind == VM_ALIASED_TO || e.kind == VM_IF_SERVER_CLASS;
    STRESS_CHECK(e.name && (e.alias != nullptr) == (e.kind == VM_ALIASED_TO) &&
                     (e.serverClass != nullptr) == (e.kind == VM_IF_SERVER_CLASS),
                 "entry %d has the wrong texts for its kind", i);
    c.entries.push_back({e.name, e.kind, hasArgument ? (e.alias ? e.alias : e.serverClass) : ""});
  }
  for (std::string &a : *c.argv) c.cargv.push_back(&a[0]);
  c.cargv.push_back(nullptr);
  int argc = int(c.argv->size());
  char **argv = c.cargv.data();
  c.vm = chooseVm(&argc, &argv);
  c.chose = true;
  if (c.vm) c.vmText = c.vm;
  STRESS_CHECK(argv[argc] == nullptr || c.argv->empty(), "the vector left by chooseVm is not null-terminated");
  for (int i = 0; i < argc; ++i) c.args.push_back(argv[i]);
}

std::string joined(const std::vector<std::string> &v) {
  std::string s;
  for (const std::string &a : v) s += "[" + a + "] ";
  return s;
}

} // namespace

STRESS_TARGET("stress-launcher-catalogue", 2048, 1000, &setUp) {
  std::string file = catalogueFile(in);
  const std::string path = runtimeDir + "/lib/i386/rask.cfg";
  STRESS_CHECK(testsupport::writeFile(path, file), "cannot write %s", path.c_str());

  std::vector<std::string> argv = {"quillet"};
  static const char *const others[] = {"-XXaltrask=/opt/vm", "-J-XXaltrask=", "-XXaltrask", "Main",
                                       "-J", "-Jclient", "-verbose", "arg", ""};
  for (uint32_t n = in.length(6); n > 0; --n) {
    std::string a = in.coin() ? std::string(in.pick(kNames)) : std::string(in.pick(others));
    if (in.oneIn(4)) a = "-J" + a;
    argv.push_back(a);
  }
  if (in.oneIn(16)) argv.clear();
  std::string alternate = in.oneIn(4) ? (in.coin() ? "/alt/vm" : "server") : "";
  if (!alternate.empty()) setenv("FEN_ALTERNATE_VM", alternate.c_str(), 1);
  else unsetenv("FEN_ALTERNATE_VM");
  launcherstress::standIns.serverClass = in.coin();

  std::string err;
  std::vector<Entry> want = readModel(file, path, err);
  Choice choice = chooseModel(want, argv, alternate.empty() ? nullptr : alternate.c_str(),
                              launcherstress::standIns.serverClass);
  err += choice.err;

  Context c;
  c.argv = &argv;
  launcherstress::Outcome got = launcherstress::run(&body, &c);
  std::vector<std::string> given = argv;
  STRESS_CHECK(c.count == int(want.size()) && c.entries.size() == want.size(),
               "%zu entries read, want %zu", c.entries.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i)
    STRESS_CHECK(c.entries[i].name == want[i].name && c.entries[i].kind == want[i].kind &&
                     c.entries[i].argument == want[i].argument,
                 "entry %zu is \"%s\" %d \"%s\", want \"%s\" %d \"%s\"", i, c.entries[i].name.c_str(),
                 int(c.entries[i].kind), c.entries[i].argument.c_str(), want[i].name.c_str(),
                 int(want[i].kind), want[i].argument.c_str());
  STRESS_CHECK(got.err == err, "stderr \"%s\", want \"%s\"", got.err.c_str(), err.c_str());
  STRESS_CHECK(got.exited == choice.exited && (!got.exited || got.status == 1),
               "%s: exited %d with %d, want %d", joined(given).c_str(), int(got.exited), got.status,
               int(choice.exited));
  STRESS_CHECK(got.out.empty(), "wrote on stdout");
  if (choice.exited) return;
  STRESS_CHECK(c.chose && (c.vm != nullptr) == choice.hasVm && c.vmText == choice.vm,
               "%s: chose \"%s\", want \"%s\"", joined(given).c_str(), c.vmText.c_str(), choice.vm.c_str());
  STRESS_CHECK(c.args == choice.args, "%s: arguments left %s, want %s", joined(given).c_str(),
               joined(c.args).c_str(), joined(choice.args).c_str());
}
