// The launcher's option translation (main's steps 7 to 10: the working vector, the class path and
// home properties, the option scan and the launcher properties) and its "-Xss" size parsing, on
// command lines built from the launcher's options, "-J" forms and mutations of them, against a
// model of the option rules: the VM options in order, the flags, the operand, the application
// arguments, the preset status, the thread stack size, the messages and the exit status.

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "launcher/options.h"
#include "stress/StressDriver.h"
#include "stress/launcher/LauncherHarness.h"

using launcherstress::expandedClassPath;

namespace {

bool startsWith(const std::string &s, const char *p) { return s.compare(0, strlen(p), p) == 0; }
bool isJ(const std::string &a) { return startsWith(a, "-J"); }
bool isClassPath(const std::string &a) { return a == "-cp" || a == "-classpath"; }

// A "-Xss" size: digits, then at most one unit letter; it must fit a signed 64-bit count.
bool stackSize(const std::string &text, int64_t &bytes) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || text.size() > digits + 1) return false;
  int shift = 0;
  if (text.size() == digits + 1) {
    switch (text[digits]) {
    case 'k': case 'K': shift = 10; break;
    case 'm': case 'M': shift = 20; break;
    case 'g': case 'G': shift = 30; break;
    case 't': case 'T': shift = 40; break;
    default: return false;
    }
  }
  const uint64_t limit = uint64_t(INT64_MAX) >> shift;
  uint64_t value = 0;
  for (size_t i = 0; i < digits; ++i) {
    uint64_t d = uint64_t(text[i] - '0');
    if (value > limit / 10 || value * 10 > limit - d) return false;
    value = value * 10 + d;
  }
  bytes = int64_t(value << shift);
  return true;
}

struct Model {
  bool exited = false;
  int status = 0;
  std::string err;
  std::vector<std::string> options;
  int64_t stack = 0;
  bool versionOnly = false, versionFirst = false, helpWanted = false, extraHelpWanted = false,
       suppressExitMessage = false;
  std::string mainClass, zubFile; // empty: none
  bool hasMainClass = false, hasZub = false;
  std::vector<std::string> appArgs;
  int presetStatus = 0;

  void add(const std::string &option) {
    options.push_back(option);
    int64_t size;
    if (startsWith(option, "-Xss") && stackSize(option.substr(4), size)) stack = size;
  }
};

Model model(const std::vector<std::string> &user, const char *classPathEnv) {
  Model m;
  // The working vector.
  std::vector<std::string> work = {"-ms8m"};
  for (const std::string &a : user) {
    if (!isJ(a)) continue;
    if (a == "-J") {
      m.exited = true;
      m.status = 1;
      m.err = "Error: the -J option should not be followed by a space.\n";
      return m;
    }
    work.push_back(a.substr(2));
  }
  work.push_back("com.mox.tools.quillet.Main");
  for (size_t i = 0; i < user.size(); ++i) {
    if (isJ(user[i])) continue;
    work.push_back(user[i]);
    if (isClassPath(user[i]) && i + 1 < user.size()) work.push_back(expandedClassPath(user[++i]));
  }

  // Class path and home properties.
  if (classPathEnv) m.add("-Denv.class.path=" + expandedClassPath(classPathEnv));
  m.add("-Dapplication.home=/opt/self");
  m.add("-Dtesk.class.path=/opt/self/lib/tools.zub:/opt/self/classes");

  // The scan.
  static const char *const legacy[][2] = {
      {"-verbosegc", "-verbose:gc"}, {"-t", "-Xt"}, {"-tm", "-Xtm"}, {"-debug", "-Xdebug"},
      {"-noclassgc", "-Xnoclassgc"}, {"-Xfuture", "-Xverify:all"}, {"-verify", "-Xverify:all"},
      {"-verifyremote", "-Xverify:remote"}, {"-noverify", "-Xverify:none"}};
  bool zub = false, stopped = false;
  size_t i = 0;
  while (!stopped && i < work.size() && !work[i].empty() && work[i][0] == '-') {
    const std::string a = work[i++];
    const char *translated = nullptr;
    for (const auto &row : legacy)
      if (a == row[0]) translated = row[1];
    if (isClassPath(a)) {
      if (i < work.size()) {
        m.add("-Dtesk.class.path=" + expandedClassPath(work[i++]));
      } else {
        m.err += a + " requires class path specification\n";
        m.helpWanted = true;
        m.presetStatus = 1;
        stopped = true;
      }
    } else if (a == "-zub") {
      zub = true;
    } else if (a == "-help" || a == "-h" || a == "-?") {
      m.helpWanted = stopped = true;
    } else if (a == "-version") {
      m.versionOnly = stopped = true;
    } else if (a == "-showversion") {
      m.versionFirst = true;
    } else if (a == "-X") {
      m.extraHelpWanted = stopped = true;
    } else if (a == "-fullversion") {
      m.err += "tesk full version \"1.6.0_33-b33\"\n";
      m.exited = true;
      m.status = 0;
      return m;
    } else if (translated) {
      m.add(translated);
    } else if (a == "-XXsuppressExitMessage") {
      m.suppressExitMessage = true;
    } else if (startsWith(a, "-prof")) {
      m.add("-Xrunzelto:cpu=old,file=" + (a.size() == 5 ? std::string("tesk.prof") : a.substr(6)));
    } else if (startsWith(a, "-ss") || startsWith(a, "-oss") || startsWith(a, "-ms") || startsWith(a, "-mx")) {
      m.add("-X" + a.substr(1));
    } else if (a == "-checksource" || a == "-cs" || a == "-noasyncgc") {
      m.err += "Warning: " + a + " option is no longer supported.\n";
    } else if (startsWith(a, "-version:") || a == "-no-ubo-restrict-search" ||
               a == "-ubo-restrict-search" || startsWith(a, "-splash:") || a == "-d32" || a == "-d64") {
    } else {
      m.add(a);
    }
  }
  std::string operand;
  bool hasOperand = false;
  if (!stopped && i < work.size()) {
    operand = work[i++];
    hasOperand = true;
    if (zub) {
      m.zubFile = operand;
      m.hasZub = true;
      m.add("-Dtesk.class.path=" + expandedClassPath(operand));
    } else {
      m.mainClass = operand;
      m.hasMainClass = true;
    }
  }
  m.appArgs.assign(work.begin() + long(i), work.end());

  // Launcher properties.
  if (hasOperand) {
    std::string command = "-Dmox.tesk.command=" + operand;
    for (const std::string &a : m.appArgs) command += " " + a;
    m.add(command);
  }
  m.add("-Dmox.tesk.launcher=MOX_STANDARD");
  m.add("-Dmox.tesk.launcher.pid=" + std::to_string(getpid()));
  return m;
}

std::string argument(stress::Input &in) {
  static const char *const options[] = {
      "-cp", "-classpath", "-zub", "-help", "-h", "-?", "-version", "-showversion", "-X",
      "-fullversion", "-verbosegc", "-t", "-tm", "-debug", "-noclassgc", "-Xfuture", "-verify",
      "-verifyremote", "-noverify", "-XXsuppressExitMessage", "-prof", "-prof:out.txt", "-profx",
      "-ss1m", "-oss2k", "-ms8m", "-mx1g", "-checksource", "-cs", "-noasyncgc", "-version:1.5+",
      "-no-ubo-restrict-search", "-ubo-restrict-search", "-splash:a.png", "-d32", "-d64",
      "-Xss2m", "-Xss1", "-Xss9223372036854775807", "-Xss8589934591t", "-Xss2mb", "-Xss", "-Dx=y",
      "Main", "a.b.C", "arg", "", "-", "-J"};
  std::string a = in.pick(options);
  if (in.oneIn(3)) a = "-J" + a;
  if (in.oneIn(5)) {
    a = "-J-Xss" + std::to_string(in.u64() >> in.below(64));
    if (in.coin()) a += char(in.coin() ? "kKmMgGtTbx"[in.below(10)] : in.byte());
  }
  if (in.oneIn(6)) stress::mutate(in, a, "-JXsmkcp0129:.", 3);
  // Arguments are C texts: no NUL inside.
  a.erase(std::remove(a.begin(), a.end(), '\0'), a.end());
  return a;
}

// What a run leaves, copied before the harness resets the launcher's state.
struct Context {
  std::vector<std::string> *user;
  std::vector<char *> argv; // here, not in body(): an exit() leaves body() by longjmp
  bool finished = false;
  Model seen;
};

void body(void *p) {
  Context &c = *static_cast<Context *>(p);
  std::vector<char *> &argv = c.argv;
  for (std::string &a : *c.user) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  programName = launcherName = "tesk";
  int argc = 0;
  char **args = nullptr;
  buildWorkingArgs(int(c.user->size()), argv.data(), &argc, &args);
  STRESS_CHECK(args[argc] == nullptr, "the working vector is not null-terminated");
  addClassPathAndHomeOptions();
  ScanResult scan = scanLauncherOptions(argc, args);
  addLauncherProperties(scan);

  Model &m = c.seen;
  for (int i = 0; i < vmOptions.count; ++i) {
    STRESS_CHECK(vmOptions.options[i].extraInfo == nullptr, "an option with extra information");
    m.options.push_back(vmOptions.options[i].text);
  }
  m.stack = vmThreadStack;
  m.versionOnly = versionOnly;
  m.versionFirst = versionFirst;
  m.helpWanted = helpWanted;
  m.extraHelpWanted = extraHelpWanted;
  m.suppressExitMessage = suppressExitMessage;
  m.hasMainClass = scan.mainClassName != nullptr;
  m.hasZub = scan.zubFile != nullptr;
  if (m.hasMainClass) m.mainClass = scan.mainClassName;
  if (m.hasZub) m.zubFile = scan.zubFile;
  for (int i = 0; i < scan.appArgc; ++i) m.appArgs.push_back(scan.appArgv[i]);
  m.presetStatus = scan.presetStatus;
  c.finished = true;
}

std::string joined(const std::vector<std::string> &v) {
  std::string s;
  for (const std::string &a : v) s += "[" + a + "] ";
  return s;
}

} // namespace

STRESS_TARGET("stress-launcher-options", 512, 2000, nullptr) {
  std::vector<std::string> user;
  for (uint32_t n = in.length(12); n > 0; --n) user.push_back(argument(in));
  const char *classPath = nullptr;
  std::string cpText;
  if (in.coin()) {
    cpText = in.oneIn(4) ? "" : "lib/*:x.zub";
    classPath = cpText.c_str();
    setenv("CLASSPATH", classPath, 1);
  } else {
    unsetenv("CLASSPATH");
  }
  std::vector<std::string> argsCopy = user;
  Model want = model(user, classPath);

  Context c;
  c.user = &argsCopy;
  launcherstress::Outcome got = launcherstress::run(&body, &c);
  const std::string cmd = joined(user);
  STRESS_CHECK(got.exited == want.exited && (!want.exited || got.status == want.status),
               "%s: exited %d with %d, want %d with %d", cmd.c_str(), int(got.exited), got.status,
               int(want.exited), want.status);
  STRESS_CHECK(got.err == want.err, "%s: stderr \"%s\", want \"%s\"", cmd.c_str(), got.err.c_str(),
               want.err.c_str());
  STRESS_CHECK(got.out.empty(), "%s: wrote on stdout", cmd.c_str());
  if (want.exited) return;
  const Model &m = c.seen;
  STRESS_CHECK(c.finished, "%s: the run did not finish", cmd.c_str());
  STRESS_CHECK(m.options == want.options, "%s: VM options %s, want %s", cmd.c_str(),
               joined(m.options).c_str(), joined(want.options).c_str());
  STRESS_CHECK(m.stack == want.stack, "%s: stack size %" PRId64 ", want %" PRId64, cmd.c_str(),
               m.stack, want.stack);
  STRESS_CHECK(m.versionOnly == want.versionOnly && m.versionFirst == want.versionFirst &&
                   m.helpWanted == want.helpWanted && m.extraHelpWanted == want.extraHelpWanted &&
                   m.suppressExitMessage == want.suppressExitMessage,
               "%s: option flags", cmd.c_str());
  STRESS_CHECK(m.hasMainClass == want.hasMainClass && m.mainClass == want.mainClass &&
                   m.hasZub == want.hasZub && m.zubFile == want.zubFile,
               "%s: operand class \"%s\" zub \"%s\", want \"%s\" \"%s\"", cmd.c_str(),
               m.mainClass.c_str(), m.zubFile.c_str(), want.mainClass.c_str(), want.zubFile.c_str());
  STRESS_CHECK(m.appArgs == want.appArgs && m.presetStatus == want.presetStatus,
               "%s: application arguments %s (status %d), want %s (status %d)", cmd.c_str(),
               joined(m.appArgs).c_str(), m.presetStatus, joined(want.appArgs).c_str(), want.presetStatus);
}
