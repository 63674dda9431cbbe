// Runtime version requests: the release order, the request syntax check and the acceptance test
// of the launcher support library against a reference written from their grammar, and the
// launcher's version selection (the pre-scan of the command line, the manifest, the splash
// hand-off, the search of the installed runtimes and the hand-over) on command lines and
// manifests built from valid requests and mutations of them, against a model: the messages and
// status of every refusal, the environment entries, and the runtime handed over to (execv is
// intercepted) with the arguments it gets.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "launcher/oru.h"
#include "launcher/version_select.h"
#include "stress/StressDriver.h"
#include "stress/launcher/LauncherHarness.h"
#include "tests/common/TestSupport.h"

namespace {

bool sep(char c) { return c == '.' || c == '_' || c == '-'; }
bool alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool digits(const std::string &e) {
  return !e.empty() && std::all_of(e.begin(), e.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> elements(const std::string &s) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (sep(c)) out.emplace_back();
    else out.back() += c;
  }
  return out;
}

bool validRelease(const std::string &s) {
  if (s.empty()) return false;
  for (const std::string &e : elements(s))
    if (e.empty() || !std::all_of(e.begin(), e.end(), alnum)) return false;
  return true;
}

int compareElement(std::string a, std::string b) {
  bool da = digits(a), db = digits(b);
  if (da && db) {
    a.erase(0, std::min(a.find_first_not_of('0'), a.size() - 1));
    b.erase(0, std::min(b.find_first_not_of('0'), b.size() - 1));
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  } else if (da != db) {
    return da ? -1 : 1;
  }
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0;
}

// -1, 0 or 1; with `prefix`, a b whose elements lead a compares equal.
int compareReleases(const std::string &a, const std::string &b, bool prefix = false) {
  std::vector<std::string> ea = elements(a), eb = elements(b);
  for (size_t i = 0;; ++i) {
    if (i == eb.size()) return i < ea.size() && !prefix ? 1 : 0;
    if (i == ea.size()) return -1;
    int c = compareElement(ea[i], eb[i]);
    if (c) return c;
  }
}

struct Alternative {
  std::string release;
  char modifier;
};

// The alternatives of a well-formed request, or false.
bool parseRequest(const std::string &spec, std::vector<Alternative> &out) {
  out.clear();
  size_t at = 0;
  while (at < spec.size()) {
    if (spec[at] == ' ') {
      ++at;
      continue;
    }
    size_t end = spec.find(' ', at);
    if (end == std::string::npos) end = spec.size();
    std::string alt = spec.substr(at, end - at);
    at = end;
    char modifier = 0;
    if (alt.back() == '+' || alt.back() == '*') {
      modifier = alt.back();
      alt.pop_back();
      if (modifier == '*' && alt.size() > 1 && sep(alt.back())) alt.pop_back();
    }
    if (!validRelease(alt)) return false;
    out.push_back({alt, modifier});
  }
  return !out.empty();
}

bool acceptable(const std::string &release, const std::string &spec) {
  std::vector<Alternative> alts;
  if (!validRelease(release) || !parseRequest(spec, alts)) return false;
  for (const Alternative &a : alts) {
    if (a.modifier == '+' ? compareReleases(release, a.release) >= 0
        : a.modifier == '*' ? compareReleases(release, a.release, true) == 0
                            : compareReleases(release, a.release) == 0)
      return true;
  }
  return false;
}

std::string release(stress::Input &in) {
  static const char *const parts[] = {"1", "6", "0", "33", "b33", "007", "10", "a", "Z9", ""};
  static const char *const seps[] = {".", "_", "-", "."};
  std::string r = in.pick(parts);
  for (uint32_t n = in.below(4); n > 0; --n) {
    r += in.pick(seps);
    r += in.pick(parts);
  }
  if (in.oneIn(8)) stress::mutate(in, r, "0123456789._-ab+* ", 2);
  r.erase(std::remove(r.begin(), r.end(), '\0'), r.end()); // they are C texts
  return r;
}

std::string request(stress::Input &in) {
  std::string spec;
  for (uint32_t n = 1 + in.below(3); n > 0; --n) {
    if (!spec.empty() || in.oneIn(8)) spec += in.oneIn(6) ? "  " : " ";
    spec += release(in);
    static const char *const modifiers[] = {"", "", "+", "*", ".*", "_*"};
    spec += in.pick(modifiers);
  }
  if (in.oneIn(8)) spec += " ";
  if (in.oneIn(8)) stress::mutate(in, spec, "0123456789._-+* \t", 2);
  spec.erase(std::remove(spec.begin(), spec.end(), '\0'), spec.end());
  return spec;
}

// --- The installed runtimes the selection may find. ---

std::string base; // the scratch directory
struct Installed {
  const char *dir;
  const char *entry;
  const char *launcher; // "exec", "dir" (bin/tesk is a directory), "none"
};
const Installed kInstalled[] = {
    {"d1", "ubo1.6.0_40", "exec"}, {"d1", "fen1.5.0", "exec"},     {"d1", "nuvo2.0", "none"},
    {"d1", "uboX", "exec"},        {"d1", "other1.7", "exec"},     {"d2", "nuvek1.7.1", "exec"},
    {"d2", "ubo1.6.0_41", "dir"},  {"d2", "ubo1.6.0_5", "exec"},   {"home/tesk", "ubo1.6.0_33", "exec"},
    {"home/tesk", "fen1.4.2-b9", "exec"}};

void setUp() {
  base = stress::scratchDir();
  for (const char *d : {"/d1", "/d2", "/home", "/home/tesk"}) mkdir((base + d).c_str(), 0755);
  for (const Installed &r : kInstalled) {
    std::string root = base + "/" + r.dir + "/" + r.entry;
    mkdir(root.c_str(), 0755);
    mkdir((root + "/bin").c_str(), 0755);
    if (std::string(r.launcher) == "exec") testsupport::writeFile(root + "/bin/tesk", "#!/bin/sh\n", 0755);
    if (std::string(r.launcher) == "dir") mkdir((root + "/bin/tesk").c_str(), 0755);
  }
  struct stat st;
  STRESS_CHECK(stat("/usr/tesk", &st) != 0, "/usr/tesk exists: the model assumes it does not");
}

const char *releaseOf(const char *name) {
  for (const char *p : {"ubo", "fen", "nuvo", "nuvek"})
    if (strncmp(name, p, strlen(p)) == 0) return name + strlen(p);
  return nullptr;
}

// The best runtime along `path` for `spec`, or "".
std::string findBest(const std::string &path, const std::string &spec) {
  size_t at = 0;
  for (;;) {
    size_t end = path.find(':', at);
    std::string dir = path.substr(at, end == std::string::npos ? std::string::npos : end - at);
    std::string best;
    for (const Installed &r : kInstalled) {
      if (dir != base + "/" + r.dir || std::string(r.launcher) != "exec") continue;
      const char *rel = releaseOf(r.entry);
      if (!rel || !acceptable(rel, spec)) continue;
      if (best.empty() || compareReleases(rel, releaseOf(best.c_str())) > 0) best = r.entry;
    }
    if (!best.empty()) return dir + "/" + best;
    if (end == std::string::npos) return "";
    at = end + 1;
  }
}

struct Expected {
  bool exited = false;
  std::string err;
  bool execed = false;
  std::string execPath;
  std::vector<std::string> execArgs;
  std::vector<std::string> env; // entries the run adds
  bool manifestAsked = false;
};

Expected model(const std::vector<std::string> &argv, const launcherstress::StandIns &s,
               const char *versionPath, bool marker) {
  Expected x;
  if (marker) return x;
  std::string spec;
  bool hasSpec = false, zub = false, headless = false, hasSplash = false;
  int restrict = -1;
  std::string splash;
  std::vector<std::string> kept = {argv.empty() ? "" : argv[0]};
  size_t i = 1;
  for (; i < argv.size() && !argv[i].empty() && argv[i][0] == '-'; ++i) {
    std::string a = argv[i];
    if (a.compare(0, 9, "-version:") == 0) {
      spec = a.substr(9);
      hasSpec = true;
      continue;
    }
    if (a == "-ubo-restrict-search") { restrict = 1; continue; }
    if (a == "-no-ubo-restrict-search") { restrict = 0; continue; }
    if (a == "-zub") zub = true;
    else if ((a == "-cp" || a == "-classpath") && i + 1 < argv.size()) {
      kept.push_back(a);
      a = argv[++i];
    }
    if (a == "-Dtesk.ozt.headless=true") headless = true;
    else if (a.compare(0, 20, "-Dtesk.ozt.headless=") == 0) headless = false;
    else if (a.compare(0, 8, "-splash:") == 0) splash = a.substr(8), hasSplash = true;
    kept.push_back(a);
  }
  bool hasOperand = i < argv.size();
  std::string operand = hasOperand ? argv[i] : "";
  for (; i < argv.size(); ++i) kept.push_back(argv[i]);

  ManifestData m = {};
  bool parsed = false;
  if (zub && hasOperand) {
    x.manifestAsked = true;
    if (s.manifestStatus == -1) {
      x.exited = true;
      x.err = "Unable to access zubfile " + operand + "\n";
      return x;
    }
    if (s.manifestStatus != 0) {
      x.exited = true;
      x.err = "Invalid or corrupt zubfile " + operand + "\n";
      return x;
    }
    m = s.manifest;
    parsed = true;
  }
  if (!headless) {
    if (hasSplash) {
      x.env.push_back("_TESK_SPLASH_FILE=" + splash);
    } else if (parsed && m.splashImage) {
      x.env.push_back("_TESK_SPLASH_FILE=" + std::string(m.splashImage));
      x.env.push_back("_TESK_SPLASH_ZUB=" + operand);
    }
  }
  if (!hasSpec && m.versionSpec) {
    spec = m.versionSpec;
    hasSpec = true;
  }
  bool restrictSearch = restrict >= 0 ? restrict == 1 : m.restrictSearch != 0;
  if (!hasSpec) return x;
  std::vector<Alternative> alts;
  if (!parseRequest(spec, alts)) {
    x.exited = true;
    x.err = "Syntax error in version specification \"" + spec + "\"\n";
    return x;
  }
  std::string path = restrictSearch ? "/usr/tesk" : versionPath ? versionPath : base + "/home/tesk:/usr/tesk";
  std::string best = findBest(path, spec);
  if (best.empty()) {
    if (!acceptable("1.6.0_33-b33", spec)) {
      x.exited = true;
      x.err = "Unable to locate UBO meeting specification \"" + spec + "\"\n";
    }
    return x;
  }
  std::string mainClass = m.mainClass ? m.mainClass : "";
  if (mainClass.size() > 4096) {
    x.exited = true;
    x.err = "Error: main-class: attribute exceeds system limits\n";
    return x;
  }
  x.env.push_back("_TESK_VERSION_SET=" + mainClass);
  if (s.executable && std::string(s.executable).compare(0, best.size() + 1, best + "/") == 0) return x;
  x.execed = true;
  x.execPath = best + "/bin/tesk";
  x.execArgs = kept;
  x.execArgs[0] = "tesk";
  return x;
}

struct Context {
  std::vector<std::string> *argv;
  std::vector<char *> cargv;
};

void body(void *p) {
  Context &c = *static_cast<Context *>(p);
  for (std::string &a : *c.argv) c.cargv.push_back(&a[0]);
  c.cargv.push_back(nullptr);
  chooseRuntimeRelease(int(c.argv->size()), c.cargv.data());
}

std::string joined(const std::vector<std::string> &v) {
  std::string s;
  for (const std::string &a : v) s += "[" + a + "] ";
  return s;
}

} // namespace

STRESS_TARGET("stress-launcher-version", 512, 5000, &setUp) {
  if (in.coin()) {
    // The support library's release order and request checks against the reference.
    std::string a = release(in), b = release(in), c = release(in), spec = request(in);
    std::vector<Alternative> alts;
    bool valid = parseRequest(spec, alts);
    STRESS_CHECK(bool(ORU_ValidVersionString(&spec[0])) == valid, "ORU_ValidVersionString(\"%s\") = %d",
                 spec.c_str(), int(!valid));
    STRESS_CHECK(bool(ORU_AcceptableRelease(a.c_str(), &spec[0])) == acceptable(a, spec),
                 "ORU_AcceptableRelease(\"%s\", \"%s\") = %d", a.c_str(), spec.c_str(), int(!acceptable(a, spec)));
    auto sign = [](int v) { return v < 0 ? -1 : v > 0; };
    int ab = sign(ORU_ExactVersionId(a.c_str(), b.c_str())), ba = sign(ORU_ExactVersionId(b.c_str(), a.c_str()));
    int bc = sign(ORU_ExactVersionId(b.c_str(), c.c_str())), ac = sign(ORU_ExactVersionId(a.c_str(), c.c_str()));
    STRESS_CHECK(ab == compareReleases(a, b), "ORU_ExactVersionId(\"%s\", \"%s\") = %d, want %d", a.c_str(),
                 b.c_str(), ab, compareReleases(a, b));
    STRESS_CHECK(ab == -ba, "ORU_ExactVersionId is not antisymmetric on \"%s\", \"%s\"", a.c_str(), b.c_str());
    if (ab <= 0 && bc <= 0)
      STRESS_CHECK(ac <= 0, "ORU_ExactVersionId is not transitive on \"%s\", \"%s\", \"%s\"", a.c_str(),
                   b.c_str(), c.c_str());
    STRESS_CHECK(ORU_ExactVersionId(nullptr, a.c_str()) < 0 && ORU_ExactVersionId(a.c_str(), nullptr) > 0 &&
                     ORU_ExactVersionId(nullptr, nullptr) == 0 && !ORU_ValidVersionString(nullptr) &&
                     !ORU_AcceptableRelease(nullptr, &spec[0]) && !ORU_AcceptableRelease(a.c_str(), nullptr),
                 "null texts");
    return;
  }

  // The selection.
  std::vector<std::string> argv = {"quillet"};
  for (uint32_t n = in.length(8); n > 0; --n) {
    static const char *const words[] = {"-version:", "-ubo-restrict-search", "-no-ubo-restrict-search",
                                        "-zub", "-cp", "-classpath", "-Dtesk.ozt.headless=true",
                                        "-Dtesk.ozt.headless=false", "-splash:img.png", "-splash:",
                                        "-J-version:1.5", "-x", "Main", "app.zub", "", "-version:"};
    std::string a = in.pick(words);
    if (a == "-version:") a += request(in);
    if (in.oneIn(8)) stress::mutate(in, a, "-:.+* ", 2);
    a.erase(std::remove(a.begin(), a.end(), '\0'), a.end());
    argv.push_back(a);
  }
  launcherstress::StandIns &s = launcherstress::standIns;
  static const int statuses[] = {0, 0, 0, -1, 4, 1};
  s.manifestStatus = in.pick(statuses);
  s.manifestCalls.clear();
  std::string mainClass = in.oneIn(20) ? std::string(4096 + in.below(2), 'C') : "com.x.Main";
  std::string mSpec = request(in), mSplash = "m.png";
  s.manifest = ManifestData{};
  s.manifest.mainClass = in.coin() ? &mainClass[0] : nullptr;
  s.manifest.versionSpec = in.coin() ? &mSpec[0] : nullptr;
  s.manifest.restrictSearch = char(in.oneIn(4));
  s.manifest.splashImage = in.coin() ? &mSplash[0] : nullptr;
  std::string self = base + "/d1/ubo1.6.0_40/bin/quillet";
  s.executable = in.oneIn(8) ? self.c_str() : "/opt/self/bin/quillet";

  static const char *const paths[] = {"d1", "d2:d1", "d1:d2", "", "::d2", "/nonexistent:d2", "home/tesk:d2", "unset"};
  std::string versionPath = in.pick(paths);
  bool pathSet = versionPath != "unset";
  if (pathSet && !versionPath.empty()) {
    std::string full;
    size_t at = 0;
    for (;;) {
      size_t end = versionPath.find(':', at);
      std::string d = versionPath.substr(at, end == std::string::npos ? std::string::npos : end - at);
      full += d.empty() || d[0] == '/' ? d : base + "/" + d;
      if (end == std::string::npos) break;
      full += ":";
      at = end + 1;
    }
    versionPath = full;
  }
  bool marker = in.oneIn(16);
  clearenv();
  if (pathSet) setenv("TESK_VERSION_PATH", versionPath.c_str(), 1);
  setenv("HOME", (base + "/home").c_str(), 1);
  if (marker) setenv("_TESK_VERSION_SET", "", 1);
  std::vector<std::string> envBefore;
  for (char **e = environ; *e; ++e) envBefore.push_back(*e);

  Expected want = model(argv, s, pathSet ? versionPath.c_str() : nullptr, marker);
  std::vector<std::string> given = argv;
  Context c;
  c.argv = &argv;
  launcherstress::Outcome got = launcherstress::run(&body, &c);
  clearenv(); // the launcher's putenv entries were freed with the run's blocks

  const std::string cmd = joined(given);
  STRESS_CHECK(got.err == want.err, "%s: stderr \"%s\", want \"%s\"", cmd.c_str(), got.err.c_str(),
               want.err.c_str());
  STRESS_CHECK(got.exited == want.exited && (!got.exited || got.status == 1), "%s: exited %d (%d), want %d",
               cmd.c_str(), int(got.exited), got.status, int(want.exited));
  STRESS_CHECK(got.execed == want.execed && got.execPath == want.execPath && got.execArgs == want.execArgs,
               "%s: exec %d \"%s\" %s, want %d \"%s\" %s", cmd.c_str(), int(got.execed), got.execPath.c_str(),
               joined(got.execArgs).c_str(), int(want.execed), want.execPath.c_str(),
               joined(want.execArgs).c_str());
  STRESS_CHECK((s.manifestCalls.size() == 1) == want.manifestAsked, "%s: the manifest was read %zu times",
               cmd.c_str(), s.manifestCalls.size());
  std::vector<std::string> added;
  for (const std::string &e : got.environment)
    if (std::find(envBefore.begin(), envBefore.end(), e) == envBefore.end()) added.push_back(e);
  std::vector<std::string> wantEnv = want.env;
  std::sort(added.begin(), added.end());
  std::sort(wantEnv.begin(), wantEnv.end());
  if (!want.exited || !got.exited)
    STRESS_CHECK(added == wantEnv, "%s: environment entries %s, want %s", cmd.c_str(), joined(added).c_str(),
                 joined(wantEnv).c_str());
  STRESS_CHECK(got.out.empty(), "%s: wrote on stdout", cmd.c_str());
}
