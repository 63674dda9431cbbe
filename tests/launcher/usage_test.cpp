// The version banner and the usage text, end to end through the staged quillet: which of the
// runtime's methods run with which arguments (from the VM stand-in's trace), what reaches
// standard error, and the status. The user's own arguments follow the embedded main class, so
// the launcher options are given with "-J", as a user must.

#include <cpuid.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/launcher/staged.h"

namespace {

using staged::kKru;
using staged::Launch;
using Strings = std::vector<std::string>;

// The calls the stand-in's LauncherHelp received, as "help NAME ARGS..." lines.
Strings helpCalls(const Launch &r) { return staged::linesStartingWith(r.trace, "help "); }

// The position of the first trace line that begins with `prefix`, or -1.
long firstIndex(const Launch &r, const std::string &prefix) {
  for (size_t i = 0; i < r.trace.size(); ++i)
    if (r.trace[i].compare(0, prefix.size(), prefix) == 0)
      return long(i);
  return -1;
}

bool mainLookedUp(const Launch &r) {
  return firstIndex(r, "lookupClass com/mox/tools/quillet/Main") >= 0;
}

std::string inQuotes(const std::string &text) { return "\"" + text + "\""; }
std::string selectCall(const std::string &name) {
  return "help select " + inQuotes(name) + " " + inQuotes(name.substr(1));
}

// The server-class verdict of this machine, worked out apart from the launcher: memory from
// /proc/meminfo, the processors from /sys, the processor identification through the compiler's
// own cpuid helper.
bool thisMachineIsServerClass() {
  unsigned long long kib = 0;
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  while (meminfo >> key) {
    if (key == "MemTotal:") {
      meminfo >> kib;
      break;
    }
    meminfo.ignore(1 << 20, '\n');
  }
  if (kib * 1024 <= 0x6FFFFFFFull)
    return false;

  unsigned processors = 0;
  if (DIR *d = opendir("/sys/devices/system/cpu")) {
    while (dirent *e = readdir(d)) {
      const char *n = e->d_name;
      if (strncmp(n, "cpu", 3) == 0 && n[3] && strspn(n + 3, "0123456789") == strlen(n + 3))
        ++processors;
    }
    closedir(d);
  }
  if (processors == 0)
    processors = unsigned(sysconf(_SC_NPROCESSORS_CONF));

  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  unsigned perPackage = 1;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
    char vendor[13];
    memcpy(vendor, &ebx, 4);
    memcpy(vendor + 4, &edx, 4);
    memcpy(vendor + 8, &ecx, 4);
    vendor[12] = '\0';
    __get_cpuid(1, &eax, &ebx, &ecx, &edx);
    bool family15OrExtended = ((eax >> 8) & 0xf) == 15 || ((eax >> 20) & 0xff) != 0;
    if (family15OrExtended && strcmp(vendor, "GenuineIntel") == 0 && (edx & (1u << 28)))
      perPackage = (ebx >> 16) & 0xff;
  }
  if (processors > 1 && perPackage > 1)
    processors /= perPackage;
  return processors > 1;
}

class VersionAndUsage : public ::testing::Test {
protected:
  void SetUp() override {
    writeCatalogue("-client KNOWN\n-server KNOWN\n-fast ALIASED_TO -server\n-legacy WARN\n");
  }

  // Writes the runtime's catalogue and gives every name in it a VM directory of its own, so
  // that whichever entry is the default can be loaded.
  void writeCatalogue(const std::string &text) {
    std::string dir = rt_.home() + "/lib/i386/";
    units::writeWholeFile(dir + "rask.cfg", text);
    for (const std::string &line : staged::lines(text)) {
      if (line.empty() || line[0] != '-')
        continue;
      for (std::string name : {line.substr(0, line.find_first_of(" \t")),
                               line.substr(line.find_last_of(" \t") + 1)}) {
        if (name.size() < 2 || name[0] != '-')
          continue;
        std::string vm = dir + name.substr(1);
        if (std::filesystem::exists(vm + "/librask.so"))
          continue;
        std::filesystem::create_directories(vm);
        std::filesystem::copy_file(dir + "client/librask.so", vm + "/librask.so");
      }
    }
  }

  // What "-version" prints with this runtime (the stand-in's banner for the client VM).
  const std::string &banner() {
    if (banner_.empty()) {
      Launch r = rt_.run({"-J-version"});
      banner_ = r.err;
    }
    return banner_;
  }

  staged::Runtime rt_;
  std::string banner_;
};

TEST_F(VersionAndUsage, VersionPrintsTheBannerAndRunsNoMainClass) {
  Launch r = rt_.run({"-J-version", "x", "y"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.compare(0, 13, "tesk version "), 0) << r.err;
  EXPECT_EQ(staged::linesStartingWith(r.trace, "version-print").size(), 1u);
  EXPECT_EQ(
      staged::linesStartingWith(r.trace, "invokeStaticVoidMethod mox/misc/Version print ()V").size(),
      1u);
  EXPECT_FALSE(mainLookedUp(r)) << "the main class must not even be looked up";
  EXPECT_TRUE(helpCalls(r).empty());
  ASSERT_FALSE(r.trace.empty());
  EXPECT_EQ(r.trace.back(), "destroyVm");

  // Without "-J" it is an argument of the tool like any other.
  r = rt_.run({"-version"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "-version\n");
  EXPECT_TRUE(staged::linesStartingWith(r.trace, "version-print").empty());
}

TEST_F(VersionAndUsage, ShowVersionPrintsTheBannerANewlineAndThenRunsMain) {
  Launch r = rt_.run({"-J-showversion", "x", "y"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, banner() + "\n");
  EXPECT_EQ(r.out, "x\ny\n");
  long printed = firstIndex(r, "version-print");
  long ran = firstIndex(r, "main argc=2");
  ASSERT_GE(printed, 0);
  EXPECT_GT(ran, printed);
  EXPECT_TRUE(helpCalls(r).empty());

  // Both outputs in one run: the banner, the newline, then the usage text instead of main.
  r = rt_.run({"-J-showversion", "-J-help", "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_GE(r.err.size(), banner().size() + 1);
  EXPECT_EQ(r.err.substr(0, banner().size() + 1), banner() + "\n");
  EXPECT_EQ(r.err.compare(banner().size() + 1, 12, "Usage: tesk "), 0) << r.err;
  EXPECT_LT(firstIndex(r, "version-print"), firstIndex(r, "help init"));
  EXPECT_FALSE(mainLookedUp(r));
}

TEST_F(VersionAndUsage, HelpOptionsListTheCatalogueInItsOrder) {
  const Strings expected = {"help init \"tesk\"",
                            selectCall("-client"),
                            selectCall("-server"),
                            "help synonym \"-fast\" \"server\"",
                            "help ergo " + std::to_string(int(thisMachineIsServerClass())) +
                                " \"client\"",
                            "help print 1"};
  const std::string helpClass = "lookupStaticMethod mox/launcher/LauncherHelp ";
  // The last one leaves no operand: "-cp" takes the embedded main class as its value.
  for (const Strings &args : {Strings{"-J-help", "x"}, Strings{"-J-h", "x"}, Strings{"-J-?", "x"},
                              Strings{"-J-cp"}}) {
    SCOPED_TRACE(args[0]);
    Launch r = rt_.run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(helpCalls(r), expected);
    EXPECT_EQ(r.err.compare(0, 12, "Usage: tesk "), 0) << r.err;
    EXPECT_FALSE(mainLookedUp(r));
    // All five methods are looked up before the first one runs.
    EXPECT_EQ(staged::linesStartingWith(r.trace, helpClass).size(), 5u);
    long firstCall = firstIndex(r, "help init");
    for (long i = firstCall; i >= 0 && i < long(r.trace.size()); ++i)
      EXPECT_NE(r.trace[i].compare(0, helpClass.size(), helpClass), 0) << r.trace[i];
    // The texts are plain VM strings, not conversions through byte arrays.
    EXPECT_EQ(firstIndex(r, "makeByteArray"), -1);
    EXPECT_EQ(staged::linesStartingWith(r.trace, "newUtfString ").size(), 8u);
    ASSERT_FALSE(r.trace.empty());
    EXPECT_EQ(r.trace.back(), "destroyVm");
  }

  // "-X" asks for the non-standard options only.
  Launch r = rt_.run({"-J-X", "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(helpCalls(r), Strings{"help xusage 1"});
  EXPECT_NE(r.err, "");
  EXPECT_EQ(staged::linesStartingWith(r.trace, helpClass),
            Strings{helpClass + "printXUsageMessage (Z)V -> method"});
  EXPECT_FALSE(mainLookedUp(r));
}

TEST_F(VersionAndUsage, ServerClassDefaultFollowsThisMachinesVerdict) {
  writeCatalogue("-client IF_SERVER_CLASS -server\n-server KNOWN\n-old IGNORE\n");
  Launch r = rt_.run({"-J-help"}, {{"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  // The launcher's own view, from its trace; the VM choice asked once already.
  Strings verdicts;
  for (const std::string &line : staged::lines(r.out))
    if (line.compare(0, 31, "linux_i386_ServerClassMachine: ") == 0)
      verdicts.push_back(line.substr(31));
  ASSERT_FALSE(verdicts.empty()) << r.out;
  bool server = thisMachineIsServerClass();
  EXPECT_EQ(verdicts.back(), server ? "true" : "false");
  EXPECT_EQ(helpCalls(r), (Strings{"help init \"tesk\"", selectCall("-client"), selectCall("-server"),
                                   server ? "help ergo 1 \"server\"" : "help ergo 0 \"client\"",
                                   "help print 1"}));
}

TEST_F(VersionAndUsage, WarnedDefaultIsNotListedButStillNamedAsTheDefault) {
  writeCatalogue("-legacy WARN\n-fast ALIASED_TO -server\n-client KNOWN\n-server KNOWN\n"
                 "-big IF_SERVER_CLASS -server\n-quick ALIASED_TO -client\n-retired ERROR\n");
  Launch r = rt_.run({"-J-help"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(helpCalls(r),
            (Strings{"help init \"tesk\"", selectCall("-client"), selectCall("-server"),
                     "help synonym \"-fast\" \"server\"", "help synonym \"-quick\" \"client\"",
                     "help ergo " + std::to_string(int(thisMachineIsServerClass())) +
                         " \"legacy\"",
                     "help print 1"}));
}

// Random catalogues against a plain model of the listing rule.
TEST_F(VersionAndUsage, RandomCataloguesAgreeWithTheListingRule) {
  const unsigned seed = 20240611u;
  std::mt19937 rng(seed);
  const Strings names = {"-client", "-server", "-fast", "-old", "-big", "-tiny", "-x"};
  const Strings kinds = {"KNOWN", "ALIASED_TO", "WARN", "IGNORE", "ERROR", "IF_SERVER_CLASS"};
  const Strings helpOptions = {"-J-help", "-J-h", "-J-?"};
  const bool server = thisMachineIsServerClass();
  auto pick = [&](const Strings &from) { return from[rng() % from.size()]; };

  for (int round = 0; round < 24; ++round) {
    struct Entry {
      std::string name, kind, arg;
    };
    std::vector<Entry> entries;
    std::string text;
    int count = 1 + int(rng() % 7);
    for (int i = 0; i < count; ++i) {
      if (rng() % 4 == 0)
        text += "# comment\n";
      Entry e{pick(names), pick(kinds), ""};
      text += e.name + (rng() % 2 ? "\t" : "  ") + e.kind;
      if (e.kind == "ALIASED_TO" || e.kind == "IF_SERVER_CLASS") {
        e.arg = pick(names);
        text += " " + e.arg;
      }
      text += "\n";
      entries.push_back(e);
    }
    SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round) +
                 ", catalogue:\n" + text);
    writeCatalogue(text);

    Strings expected = {"help init \"tesk\""};
    if (entries[0].kind == "KNOWN" || entries[0].kind == "IF_SERVER_CLASS")
      expected.push_back(selectCall(entries[0].name));
    for (size_t i = 1; i < entries.size(); ++i)
      if (entries[i].kind == "KNOWN")
        expected.push_back(selectCall(entries[i].name));
    for (size_t i = 1; i < entries.size(); ++i)
      if (entries[i].kind == "ALIASED_TO")
        expected.push_back("help synonym " + inQuotes(entries[i].name) + " " +
                           inQuotes(entries[i].arg.substr(1)));
    std::string defaultVm = server && entries[0].kind == "IF_SERVER_CLASS"
                                ? entries[0].arg.substr(1)
                                : entries[0].name.substr(1);
    expected.push_back("help ergo " + std::to_string(int(server)) + " " + inQuotes(defaultVm));
    expected.push_back("help print 1");

    Launch r = rt_.run({pick(helpOptions), "x"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(helpCalls(r), expected);
    if (HasFailure())
      break;
  }
}

TEST_F(VersionAndUsage, ExceptionWhilePrintingTheVersionStillEndsWithZero) {
  for (const char *option : {"-J-version", "-J-showversion"}) {
    SCOPED_TRACE(option);
    Launch r = rt_.run({option, "x"}, {{"RASK_FAIL", "throw:version"}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(staged::linesStartingWith(r.trace, "describeException -> tesk.lang.InjectedError")
                  .size(),
              1u);
    EXPECT_NE(r.err.find("InjectedError"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(kKru), std::string::npos);
    // The exception ends the run before main, also after "-showversion".
    EXPECT_FALSE(mainLookedUp(r));
    ASSERT_FALSE(r.trace.empty());
    EXPECT_EQ(r.trace.back(), "destroyVm");
  }
}

TEST_F(VersionAndUsage, MissingVersionClassOrMethod) {
  // A missing class leaves its exception pending: reported, described, status 0, no main.
  Launch r = rt_.run({"-J-showversion", "x"}, {{"RASK_FAIL", "class:mox/misc/Version"}});
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_GT(r.err.size(), strlen(kKru));
  EXPECT_EQ(r.err.substr(0, strlen(kKru)), kKru);
  EXPECT_FALSE(mainLookedUp(r));

  // A method that is missing without an exception: the message, the newline, then main.
  r = rt_.run({"-J-showversion", "x"}, {{"RASK_FAIL", "method:print"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, std::string(kKru) + "\n");
  EXPECT_EQ(r.out, "x\n");

  r = rt_.run({"-J-version", "x"}, {{"RASK_FAIL", "method:print"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, kKru);
  EXPECT_FALSE(mainLookedUp(r));
}

TEST_F(VersionAndUsage, UsageThatCannotBePrintedEndsWithOne) {
  struct Case {
    const char *option;
    const char *fail;
    bool described; // an exception follows the KRU message
    bool kru;       // the KRU message is written
    size_t calls;   // LauncherHelp calls that ran
  };
  const Case cases[] = {
      {"-J-help", "throw:usage", true, false, 6},
      {"-J-X", "throw:usage", true, false, 1},
      {"-J-help", "class:mox/launcher/LauncherHelp", true, true, 0},
      {"-J-X", "class:mox/launcher/LauncherHelp", true, true, 0},
      {"-J-help", "method-throw:printHelpMessage", true, true, 0},
      // Missing without an exception: nothing runs, so that no partial text appears, and the
      // failure still shows in the status.
      {"-J-help", "method:appendVmErgoMessage", false, true, 0},
      {"-J-help", "method:initHelpMessage", false, true, 0},
      {"-J-X", "method:printXUsageMessage", false, true, 0},
      // No VM string for the program name.
      {"-J-help", "string", false, true, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.fail);
    Launch r = rt_.run({c.option, "x"}, {{"RASK_FAIL", c.fail}});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(helpCalls(r).size(), c.calls);
    size_t kru = r.err.find(kKru);
    EXPECT_EQ(kru != std::string::npos, c.kru) << r.err;
    if (c.kru) {
      EXPECT_EQ(kru, 0u) << r.err;
    }
    EXPECT_EQ(!staged::linesStartingWith(r.trace, "describeException -> tesk.").empty(),
              c.described);
    if (!c.described) {
      EXPECT_EQ(r.err, kKru);
    }
    EXPECT_FALSE(mainLookedUp(r));
    ASSERT_FALSE(r.trace.empty());
    EXPECT_EQ(r.trace.back(), "destroyVm");
  }
}

} // namespace
