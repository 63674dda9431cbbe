// The staged quillet run end to end in a private copy of the runtime tree, against the VM
// stand-in: exit status, standard output, standard error and the VM's trace.

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/oru.h"
#include "tests/launcher/staged.h"

namespace {

using staged::kKru;
using staged::Launch;
using Strings = std::vector<std::string>;

class Launcher : public ::testing::Test {
protected:
  void SetUp() override {
    // A catalogue of our own keeps the trace and the chosen VM independent of the staged one.
    units::writeWholeFile(rt_.home() + "/lib/i386/rask.cfg",
                          "# test catalogue\n-client KNOWN\n-server KNOWN\n");
  }

  std::string vmLibrary() const { return rt_.home() + "/lib/i386/client/librask.so"; }

  // The options every run hands to the VM before the scanned ones, and after them.
  Strings leadingOptions() const {
    return {"-Dapplication.home=" + rt_.home(),
            "-Dtesk.class.path=" + rt_.home() + "/lib/tools.zub:" + rt_.home() + "/classes"};
  }
  static Strings trailingOptions(const Launch &r, const std::string &command) {
    Strings v;
    if (!command.empty())
      v.push_back("-Dmox.tesk.command=" + command);
    v.push_back("-Dmox.tesk.launcher=MOX_STANDARD");
    v.push_back("-Dmox.tesk.launcher.pid=" + std::to_string(r.pid));
    return v;
  }
  Strings expectedOptions(const Launch &r, const Strings &scanned, const std::string &command) const {
    Strings v = leadingOptions();
    v.push_back("-Xms8m");
    v.insert(v.end(), scanned.begin(), scanned.end());
    Strings t = trailingOptions(r, command);
    v.insert(v.end(), t.begin(), t.end());
    return v;
  }

  static bool traced(const Launch &r, const std::string &line) {
    return std::find(r.trace.begin(), r.trace.end(), line) != r.trace.end();
  }

  staged::Runtime rt_;
};

TEST_F(Launcher, TypicalRunHandsTheArgumentsToMain) {
  Launch r = rt_.run({"-d", "out", "Hello.x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "-d\nout\nHello.x\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(staged::vmOptions(r.trace),
            expectedOptions(r, {}, "com.mox.tools.quillet.Main -d out Hello.x"));
  EXPECT_EQ(staged::mainArgs(r.trace), (Strings{"-d", "out", "Hello.x"}));
  EXPECT_TRUE(traced(r, "create version=0x00010002 options=6 ignoreUnrecognized=0"));
  EXPECT_TRUE(traced(r, "main argc=3"));
  EXPECT_TRUE(traced(r, "detachCurrentThread -> 0"));
  ASSERT_FALSE(r.trace.empty());
  EXPECT_EQ(r.trace.back(), "destroyVm");
}

TEST_F(Launcher, JOptionsAreTranslatedAndReachTheVmInOrder) {
  Launch r = rt_.run({"a", "-J-verbosegc", "-J-Dx=1", "b", "-J-ms4m", "-J-cp", "-J/x/y", "-J-prof",
                   "-J-t", "-J-noverify", "-J-Xfuture", "-J-version:1.5", "-J-d32",
                   "-J-splash:s.png", "-J-XXsuppressExitMessage", "-J-cs"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Warning: -cs option is no longer supported.\n");
  EXPECT_EQ(r.out, "a\nb\n");
  EXPECT_EQ(staged::vmOptions(r.trace),
            expectedOptions(r,
                            {"-verbose:gc", "-Dx=1", "-Xms4m", "-Dtesk.class.path=/x/y",
                             "-Xrunzelto:cpu=old,file=tesk.prof", "-Xt", "-Xverify:none",
                             "-Xverify:all"},
                            "com.mox.tools.quillet.Main a b"));
}

TEST_F(Launcher, ClassPathEnvironmentVariableSetEmptyAndUnset) {
  std::string home = rt_.home();
  std::string lib = home + "/lib/tools.zub";
  char *expandedText = ORU_WildcardExpandClasspath(lib.c_str());
  std::string expanded = expandedText ? expandedText : lib;
  char *emptyText = ORU_WildcardExpandClasspath("");
  std::string emptyExpanded = emptyText ? emptyText : "";

  Launch r = rt_.run({"x"}, {{"CLASSPATH", lib}});
  EXPECT_EQ(r.status, 0) << r.err;
  Strings options = staged::vmOptions(r.trace);
  ASSERT_FALSE(options.empty());
  EXPECT_EQ(options[0], "-Denv.class.path=" + expanded);
  EXPECT_EQ(Strings(options.begin() + 1, options.end()),
            expectedOptions(r, {}, "com.mox.tools.quillet.Main x"));

  r = rt_.run({"x"}, {{"CLASSPATH", ""}});
  options = staged::vmOptions(r.trace);
  ASSERT_FALSE(options.empty());
  EXPECT_EQ(options[0], "-Denv.class.path=" + emptyExpanded);
  EXPECT_EQ(options.size(), 7u);

  r = rt_.run({"x"}, {{"CLASSPATH", "\x01unset"}});
  EXPECT_EQ(staged::vmOptions(r.trace), expectedOptions(r, {}, "com.mox.tools.quillet.Main x"));
}

// Class path wildcards are expanded wherever a class path is taken: "CLASSPATH", a "-cp" of the
// launcher (behind "-J") and a "-cp" among the tool's own arguments.
TEST_F(Launcher, ClassPathWildcardsAreExpanded) {
  const std::string jars = rt_.base() + "/jars";
  std::filesystem::create_directories(jars + "/sub.zub");
  units::writeWholeFile(jars + "/b.zub", "");
  units::writeWholeFile(jars + "/a.zub", "");
  units::writeWholeFile(jars + "/notes.txt", "");
  const std::string expanded = jars + "/a.zub:" + jars + "/b.zub";

  Launch r = rt_.run({"-J-cp", "-J" + jars + "/*", "-cp", "x:" + jars + "/*", "y"},
                     {{"CLASSPATH", jars + "/*:/lib/z.zub"}});
  EXPECT_EQ(r.status, 0) << r.err;
  Strings options = staged::vmOptions(r.trace);
  ASSERT_GE(options.size(), 5u);
  EXPECT_EQ(options[0], "-Denv.class.path=" + expanded + ":/lib/z.zub");
  EXPECT_EQ(options[4], "-Dtesk.class.path=" + expanded);
  EXPECT_EQ(staged::mainArgs(r.trace), (Strings{"-cp", "x:" + expanded, "y"}));
}

TEST_F(Launcher, JOptionRightAfterAClassPathOptionIsBothAVmOptionAndItsValue) {
  Launch r = rt_.run({"-cp", "-J-Dx=1", "Hello.x"});
  EXPECT_EQ(r.status, 0) << r.err;
  char *value = ORU_WildcardExpandClasspath("-J-Dx=1");
  std::string expandedValue = value ? value : "-J-Dx=1";
  EXPECT_EQ(r.out, "-cp\n" + expandedValue + "\nHello.x\n");
  EXPECT_EQ(staged::vmOptions(r.trace),
            expectedOptions(r, {"-Dx=1"},
                            "com.mox.tools.quillet.Main -cp " + expandedValue + " Hello.x"));
}

TEST_F(Launcher, BareJAndFullVersionEndTheLauncherEarly) {
  Launch r = rt_.run({"x", "-J"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: the -J option should not be followed by a space.\n");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(staged::linesStartingWith(r.trace, "create").empty());

  r = rt_.run({"-J-verbosegc", "-J-fullversion", "x"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "tesk full version \"1.6.0_33-b33\"\n");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(staged::linesStartingWith(r.trace, "create").empty());
}

TEST_F(Launcher, TheVmThreadGetsTheRequestedStack) {
  Launch r = rt_.run({"-J-Xss2m", "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(traced(r, "thread-stack=2097152"));
  EXPECT_TRUE(staged::linesStartingWith(r.trace, "default-args").empty())
      << "a valid -Xss leaves the VM's default unasked";
  EXPECT_EQ(staged::vmOptions(r.trace), expectedOptions(r, {"-Xss2m"}, "com.mox.tools.quillet.Main x"));

  r = rt_.run({"-J-ss3m", "x"});
  EXPECT_TRUE(traced(r, "thread-stack=3145728"));

  // Sizes of 4 GiB and more are requested by their low 32 bits.
  r = rt_.run({"-J-Xss4098m", "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(traced(r, "thread-stack=2097152"));

  r = rt_.run({"-J-Xss2mb", "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(traced(r, "default-args version=0x00010001 stack=1048576"));
  EXPECT_TRUE(traced(r, "thread-stack=1048576"));
  EXPECT_TRUE(staged::vmOptions(r.trace).size() == 7u);

  r = rt_.run({"x"}, {{"RASK_DEFAULT_STACK", "3145728"}});
  EXPECT_TRUE(traced(r, "default-args version=0x00010001 stack=3145728"));
  EXPECT_TRUE(traced(r, "thread-stack=3145728"));
}

TEST_F(Launcher, DebugTraceShowsEveryPhase) {
  Launch r = rt_.run({"x", "y z"}, {{"_TESK_LAUNCHER_DEBUG", ""}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string home = rt_.home();
  std::string options;
  Strings all = expectedOptions(r, {}, "com.mox.tools.quillet.Main x y z");
  for (size_t i = 0; i < all.size(); ++i) {
    char line[32];
    snprintf(line, sizeof line, "    option[%2zu] = '", i);
    options += line + all[i] + "'\n";
  }
  EXPECT_EQ(r.out, "----_TESK_LAUNCHER_DEBUG----\n"
                   "Command line Args:\n"
                   "\targv[0] = '" + rt_.launcher() + "'\n"
                   "\targv[1] = 'x'\n"
                   "\targv[2] = 'y z'\n"
                   "UBO path is " + home + "\n"
                   "rask.cfg[0] = ->-client<-\n"
                   "rask.cfg[1] = ->-server<-\n"
                   "1 micro seconds to parse rask.cfg\n"
                   "Default VM: client\n"
                   "Does `" + vmLibrary() + "' exist ... yes.\n"
                   "RASK path is " + vmLibrary() + "\n"
                   "1 micro seconds to LoadTeskVM\n"
                   "TeskVM args:\n"
                   "    version 0x00010002, ignoreUnrecognized is KRU_FALSE, nOptions is " +
                       std::to_string(all.size()) + "\n" + options +
                   "1 micro seconds to InitializeRASK\n"
                   "Main-Class is 'com.mox.tools.quillet.Main'\n"
                   "Apps' argc is 2\n"
                   "    argv[ 0] = 'x'\n"
                   "    argv[ 1] = 'y z'\n"
                   "1 micro seconds to load main class\n"
                   "----_TESK_LAUNCHER_DEBUG----\n"
                   "x\n"
                   "y z\n");
}

TEST_F(Launcher, MarkerAndSplashVariablesNeverReachTheApplication) {
  Launch r = rt_.run({"x"}, {{"_TESK_VERSION_SET", "Main"},
                          {"RASK_TRACE_ENV", "_TESK_VERSION_SET:_TESK_SPLASH_ZUB:KEEP"},
                          {"KEEP", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(traced(r, "env _TESK_VERSION_SET unset"));
  EXPECT_TRUE(traced(r, "env _TESK_SPLASH_ZUB unset"));
  EXPECT_TRUE(traced(r, "env KEEP=1"));
}

// A class name given with slashes finds the same class: "-J-cp" takes the embedded main class as
// its value, so the user's first argument becomes the class.
TEST_F(Launcher, MainClassWithDotsOrSlashes) {
  for (const char *name : {"com/mox/tools/quillet/Main", "com.mox.tools.quillet.Main",
                           "com/mox.tools/quillet.Main"}) {
    SCOPED_TRACE(name);
    Launch r = rt_.run({"-J-cp", name, "arg"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "arg\n");
    EXPECT_TRUE(traced(r, "lookupClass com/mox/tools/quillet/Main -> class com/mox/tools/quillet/Main"));
  }
  Launch r = rt_.run({"-J-cp", "no.such.Thing", "arg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(staged::linesStartingWith(r.trace, "main").empty());
  ASSERT_GE(r.err.size(), 1u);
  std::string message = "Could not find the main class: no.such.Thing. Program will exit.\n";
  ASSERT_GE(r.err.size(), message.size());
  EXPECT_EQ(r.err.substr(r.err.size() - message.size()), message) << r.err;
}

struct Failure {
  const char *fail;    // RASK_FAIL
  int status;
  const char *message; // the final message, "" for none
  const char *before;  // what precedes it on standard error; "*" = the VM's description of the
                       // pending exception (not empty)
  bool mainRuns;
};

const char kMainClassMessage[] = "Failed to load Main Class: com.mox.tools.quillet.Main\n";

TEST_F(Launcher, EveryFailureOfTheVmThread) {
  const std::string kru2 = std::string(kKru) + kKru;
  const Failure failures[] = {
      {"class:com/mox/tools/quillet/Main", 1,
       "Could not find the main class: com.mox.tools.quillet.Main. Program will exit.\n", "*",
       false},
      {"method:main", 1, "No main method found in specified class.\n", "", false},
      {"method-throw:main", 1, "", "*", false},
      {"reflect", 1, "", "*", false},
      {"modifiers-throw", 1, "", "*", false},
      {"not-public", 1, "Main method not public.\n", "", false},
      {"throw:main", 1, "", "", true},
      {"detach", 1, "Could not detach main thread.\n", "", true},
      {"array", 1, "", kKru, false},
      {"method:getModifiers", 1, "", kKru, false},
      // No VM strings at all: neither the encoding property's name nor the class name.
      {"string", 1, kMainClassMessage, kKru, false},
      {"bytes", 1, kMainClassMessage, "", false},
      {"class:tesk/lang/String", 1, kMainClassMessage, kKru, false},
      // The failed look-up leaves its exception pending, which fails the first conversion.
      {"class:tesk/lang/System", 1, kMainClassMessage, kKru, false},
      // Without the encoding, or without the charset test, every conversion still works (the
      // VM's default decoding) but reports the failure: once for the class name, once for "x".
      {"method:getProperty", 0, "", kru2.c_str(), true},
      {"method:isSupported", 0, "", kru2.c_str(), true},
  };
  for (const Failure &f : failures) {
    for (bool suppress : {false, true}) {
      SCOPED_TRACE(std::string(f.fail) + (suppress ? " suppressed" : ""));
      Strings args = {"x"};
      if (suppress)
        args.insert(args.begin(), "-J-XXsuppressExitMessage");
      Launch r = rt_.run(args, {{"RASK_FAIL", f.fail}});
      EXPECT_EQ(r.signal, 0);
      EXPECT_EQ(r.status, f.status) << r.err;
      std::string message = suppress ? "" : f.message;
      ASSERT_GE(r.err.size(), message.size()) << r.err;
      EXPECT_EQ(r.err.substr(r.err.size() - message.size()), message) << r.err;
      std::string before = r.err.substr(0, r.err.size() - message.size());
      if (std::string(f.before) == "*") {
        EXPECT_NE(before, "") << "the pending exception was not described";
      } else {
        EXPECT_EQ(before, f.before);
      }
      EXPECT_EQ(r.out, f.mainRuns ? "x\n" : "");
      EXPECT_EQ(!staged::linesStartingWith(r.trace, "main argc").empty(), f.mainRuns);
      ASSERT_FALSE(r.trace.empty());
      EXPECT_EQ(r.trace.back(), "destroyVm");
    }
  }
}

TEST_F(Launcher, ThePlatformEncodingIsFetchedOnceAndUsedForEveryArgument) {
  Launch r = rt_.run({"a", "b", "c"});
  EXPECT_EQ(staged::linesStartingWith(r.trace, "lookupClass tesk/lang/System").size(), 1u);
  // One constructor call with the encoding per conversion: the class name and three arguments.
  EXPECT_EQ(staged::linesStartingWith(
                r.trace, "constructObject tesk/lang/String <init> ([BLtesk/lang/String;)V")
                .size(),
            4u);

  // Non-ASCII bytes decode in the platform encoding; main prints them back in it.
  for (const char *encoding : {"UTF-8", "ISO-8859-1"}) {
    SCOPED_TRACE(encoding);
    std::string text = std::string(encoding) == "UTF-8" ? "caf\xc3\xa9" : "caf\xe9";
    r = rt_.run({text}, {{"RASK_ENCODING", encoding}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, text + "\n");
  }

  // No encoding known: the cache stays empty, so every conversion asks again and uses the
  // VM's default decoding.
  r = rt_.run({"a", "b"}, {{"RASK_ENCODING", "none"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "a\nb\n");
  EXPECT_EQ(staged::linesStartingWith(r.trace, "lookupClass tesk/lang/System").size(), 3u);
  EXPECT_EQ(staged::linesStartingWith(r.trace, "lookupMethod tesk/lang/String <init> ([B)V").size(),
            3u);
}

TEST_F(Launcher, VmThatCannotBeCreated) {
  for (bool suppress : {false, true}) {
    Strings args = {"x"};
    if (suppress)
      args.insert(args.begin(), "-J-XXsuppressExitMessage");
    Launch r = rt_.run(args, {{"RASK_FAIL", "create"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Could not create the Tesk virtual machine.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(staged::linesStartingWith(r.trace, "destroyVm").empty());
  }
}

TEST_F(Launcher, VmLibraryThatCannotBeLoaded) {
  units::writeWholeFile(vmLibrary(), "not an ELF object\n");
  void *handle = dlopen(vmLibrary().c_str(), RTLD_NOW | RTLD_GLOBAL);
  ASSERT_EQ(handle, nullptr);
  std::string reason = dlerror();
  Launch r = rt_.run({"x"});
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.err,
            "dl failure on line 718Error: failed " + vmLibrary() + ", because " + reason + "\n");
  EXPECT_EQ(r.out, "");
}

// Without root (or any capability) the launcher puts the VM's directories first on the library
// search path and re-executes itself once; the second image finds them in place.
TEST_F(Launcher, ReexecutesOnceWithTheVmDirectoriesOnTheLibraryPath) {
  const std::string home = rt_.home();
  const std::string entries =
      home + "/lib/i386/client:" + home + "/lib/i386:" + home + "/../lib/i386";
  auto libraryPathSeen = [](const Launch &r) {
    Strings v = staged::linesStartingWith(r.trace, "env LD_LIBRARY_PATH");
    return v.size() == 1 ? v[0] : "(" + std::to_string(v.size()) + " lines)";
  };

  Launch r = rt_.run({"x", "-J-d32", "-d32"}, {{"_TESK_LAUNCHER_DEBUG", "1"}}, "", true);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(libraryPathSeen(r), "env LD_LIBRARY_PATH=" + entries);
  // Both images trace their command line: the second one without the data model options.
  std::string first = "Command line Args:\n\targv[0] = '" + rt_.launcher() +
                      "'\n\targv[1] = 'x'\n\targv[2] = '-J-d32'\n\targv[3] = '-d32'\n";
  std::string second = "Command line Args:\n\targv[0] = '" + rt_.launcher() + "'\n\targv[1] = 'x'\nUBO";
  EXPECT_NE(r.out.find(first), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(second), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "x\n");
  // The same process all along.
  EXPECT_EQ(staged::vmOptions(r.trace).back(), "-Dmox.tesk.launcher.pid=" + std::to_string(r.pid));

  // An old value that merely contains the entries is kept behind them; one that begins with
  // them followed by ":" is left as it is (no re-execution).
  r = rt_.run({"x"}, {{"LD_LIBRARY_PATH", "/opt/a:" + entries}}, "", true);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(libraryPathSeen(r), "env LD_LIBRARY_PATH=" + entries + ":/opt/a:" + entries);
  r = rt_.run({"x"}, {{"LD_LIBRARY_PATH", entries + ":/opt/b"}, {"_TESK_LAUNCHER_DEBUG", "1"}},
              "", true);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(libraryPathSeen(r), "env LD_LIBRARY_PATH=" + entries + ":/opt/b");
  EXPECT_EQ(staged::linesStartingWith(staged::lines(r.out), "Command line Args:").size(), 1u);
  r = rt_.run({"x"}, {{"LD_LIBRARY_PATH", entries + "x"}}, "", true);
  EXPECT_EQ(libraryPathSeen(r), "env LD_LIBRARY_PATH=" + entries + ":" + entries + "x");
  r = rt_.run({"x"}, {{"LD_LIBRARY_PATH", ""}}, "", true);
  EXPECT_EQ(libraryPathSeen(r), "env LD_LIBRARY_PATH=" + entries);

  // Root holds capabilities: the path stays as it was, and there is one image only.
  if (geteuid() == 0) {
    r = rt_.run({"x"}, {{"_TESK_LAUNCHER_DEBUG", "1"}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(libraryPathSeen(r), "env LD_LIBRARY_PATH unset");
    EXPECT_EQ(staged::linesStartingWith(staged::lines(r.out), "Command line Args:").size(), 1u);
  }
}

TEST_F(Launcher, RuntimeInTheUboSubdirectoryAndLauncherOneLevelBelowBin) {
  namespace fs = std::filesystem;
  const std::string home = rt_.home();
  fs::create_directories(home + "/ubo/lib");
  fs::rename(home + "/lib/i386", home + "/ubo/lib/i386");
  // liboru stays where the launcher's run path finds it.
  fs::create_directories(home + "/lib/i386");
  fs::rename(home + "/ubo/lib/i386/oru", home + "/lib/i386/oru");

  Launch r = rt_.run({"x"}, {{"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("UBO path is " + home + "/ubo\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("RASK path is " + home + "/ubo/lib/i386/client/librask.so\n"),
            std::string::npos);
  EXPECT_EQ(staged::vmOptions(r.trace)[0], "-Dapplication.home=" + home);

  // bin/i386/quillet has the same home; its run path needs a liboru below bin.
  fs::create_directories(home + "/bin/i386");
  fs::create_directories(home + "/bin/lib/i386");
  fs::copy(home + "/lib/i386/oru", home + "/bin/lib/i386/oru", fs::copy_options::recursive);
  fs::copy_file(home + "/bin/quillet", home + "/bin/i386/quillet");
  r = rt_.run({"x"}, {}, home + "/bin/i386/quillet");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(staged::vmOptions(r.trace)[0], "-Dapplication.home=" + home);
  EXPECT_EQ(r.out, "x\n");
}

TEST_F(Launcher, VmSelectionOptionsChooseTheLibraryAndAreRemoved) {
  const std::string home = rt_.home();
  Launch r = rt_.run({"x", "-server", "y"}, {{"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("RASK path is " + home + "/lib/i386/server/librask.so\n"),
            std::string::npos);
  EXPECT_EQ(staged::mainArgs(r.trace), (Strings{"x", "y"}));

  std::filesystem::create_directories(rt_.base() + "/alt");
  std::filesystem::copy_file(vmLibrary(), rt_.base() + "/alt/librask.so");
  r = rt_.run({"-J-XXaltrask=" + rt_.base() + "/alt", "x"}, {{"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("RASK path is " + rt_.base() + "/alt/librask.so\n"), std::string::npos);
  EXPECT_EQ(staged::mainArgs(r.trace), (Strings{"x"}));

  r = rt_.run({"x"}, {{"FEN_ALTERNATE_VM", "nothere"}});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "Error: no `nothere' RASK at `" + home + "/lib/i386/nothere/librask.so'.\n");
}

TEST_F(Launcher, MissingRuntimePiecesEndWithTheirStatus) {
  remove(vmLibrary().c_str());
  Launch r = rt_.run({"x"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "Error: no `client' RASK at `" + vmLibrary() + "'.\n");

  remove((rt_.home() + "/lib/i386/libtesk.so").c_str());
  r = rt_.run({"x"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "Error: could not find libtesk.so\nError: could not find Tesk 2 Runtime Environment.\n");

  r = rt_.run({"x", "-d64"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "This Tesk instance does not support a 64-bit RASK.\nPlease install the "
                   "desired version.\n");
}

} // namespace

namespace {

std::string commandOutput(const std::string &command) {
  FILE *p = popen(command.c_str(), "r");
  if (!p)
    return std::string();
  std::string text = units::readAll(p);
  pclose(p);
  return text;
}

TEST(LauncherBinary, ExportsItsTwoSymbolsAndFindsLiboruOnlyThroughItsRunPath) {
  std::string exe = std::string(VORN_RUNTIME_DIR) + "/bin/quillet";
  ASSERT_EQ(access(exe.c_str(), X_OK), 0) << exe;

  // Defined dynamic symbols: name in the last column, section index "UND" for undefined ones.
  Strings defined;
  for (const std::string &line : staged::lines(commandOutput("readelf -W --dyn-syms " + exe))) {
    std::vector<std::string> fields;
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && line[i] == ' ')
        ++i;
      size_t j = line.find(' ', i);
      if (j == std::string::npos)
        j = line.size();
      if (j > i)
        fields.push_back(line.substr(i, j - i));
      i = j;
    }
    if (fields.size() >= 8 && fields[6] != "UND" && fields[6] != "Ndx" &&
        (fields[3] == "FUNC" || fields[3] == "OBJECT") && fields[4] == "GLOBAL")
      defined.push_back(fields[7] + ":" + fields[3]);
  }
  std::sort(defined.begin(), defined.end());
  EXPECT_TRUE(std::find(defined.begin(), defined.end(), "TeskMain:FUNC") != defined.end());
  EXPECT_TRUE(std::find(defined.begin(), defined.end(), "_launcher_debug:OBJECT") !=
              defined.end());
  for (const std::string &d : defined)
    EXPECT_TRUE(d == "TeskMain:FUNC" || d == "_launcher_debug:OBJECT" ||
                d == "_IO_stdin_used:OBJECT")
        << "exported: " << d;

  std::string dynamic = commandOutput("readelf -W -d " + exe);
  EXPECT_NE(dynamic.find("Shared library: [liboru.so]"), std::string::npos) << dynamic;
  size_t runPaths = 0;
  for (const std::string &line : staged::lines(dynamic)) {
    if (line.find("(RUNPATH)") != std::string::npos || line.find("(RPATH)") != std::string::npos) {
      ++runPaths;
      EXPECT_NE(line.find("[$ORIGIN/../lib/i386/oru]"), std::string::npos) << line;
    }
  }
  EXPECT_EQ(runPaths, 1u) << dynamic;
}

} // namespace
