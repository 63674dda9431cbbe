// The splash screen bridge end to end: the staged quillet with the splash variables in its
// environment (as the version selection pre-scan leaves them, also across a re-execution), the
// splash-screen stand-in's trace of its load and its four calls, and the launcher's own trace.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/launcher/staged.h"

namespace fs = std::filesystem;

namespace {

using staged::Launch;
using staged::mkzub;
using Strings = std::vector<std::string>;

// The splash library's part of the trace: its load and its calls.
Strings splashLines(const Launch &r) {
  Strings v;
  for (const std::string &line : r.trace)
    if (line.compare(0, 6, "Splash") == 0 || line == "splash-library-loaded")
      v.push_back(line);
  return v;
}

long count(const std::string &text, const std::string &what) {
  long n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

class Splash : public ::testing::Test {
protected:
  std::string splashLibrary() const { return rt_.home() + "/lib/i386/libsplashscreen.so"; }

  // The "UBO path is" trace lines of a run: one per runtime directory search, and the bridge
  // searches once for every attempt to load the library.
  static long runtimeSearches(const Launch &r) { return count(r.out, "\nUBO path is "); }

  // Searches of a run without any splash image, under the debug trace.
  long baselineSearches() {
    Launch r = rt_.run({"x"}, {{"_TESK_LAUNCHER_DEBUG", "1"}});
    EXPECT_EQ(r.status, 0) << r.err;
    return runtimeSearches(r);
  }

  staged::Runtime rt_;
};

TEST_F(Splash, WithoutAnImageTheLibraryIsNeverLoaded) {
  Launch r = rt_.run({"x"}, {{"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(splashLines(r).empty());
  EXPECT_EQ(r.out.find("Info: loaded"), std::string::npos);

  // A zub file alone names no image.
  r = rt_.run({"x"}, {{"_TESK_SPLASH_ZUB", rt_.home() + "/lib/tools.zub"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "x\n");
  EXPECT_TRUE(splashLines(r).empty());
}

TEST_F(Splash, ImageFileIsShownBeforeTheVmStarts) {
  const std::string image = rt_.base() + "/my splash.gif";
  Launch r = rt_.run({"x"}, {{"_TESK_SPLASH_FILE", image},
                             {"RASK_TRACE_ENV", "_TESK_SPLASH_FILE:_TESK_SPLASH_ZUB"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "x\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(splashLines(r), (Strings{"splash-library-loaded", "SplashInit",
                                     "SplashLoadFile " + image,
                                     "SplashSetFileZubName " + image + " null"}));
  auto at = [&](const std::string &line) {
    return std::find(r.trace.begin(), r.trace.end(), line) - r.trace.begin();
  };
  EXPECT_LT(at("SplashSetFileZubName " + image + " null"),
            at("create version=0x00010002 options=6 ignoreUnrecognized=0"));
  // The variables are gone by the time the VM looks.
  EXPECT_EQ(staged::linesStartingWith(r.trace, "env "),
            (Strings{"env _TESK_SPLASH_FILE unset", "env _TESK_SPLASH_ZUB unset"}));

  // Loaded once for the three calls, and said so in the launcher's trace.
  long baseline = baselineSearches();
  r = rt_.run({"x"}, {{"_TESK_SPLASH_FILE", image}, {"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(count(r.out, "Info: loaded " + splashLibrary() + "\n"), 1) << r.out;
  EXPECT_EQ(runtimeSearches(r), baseline + 1) << r.out;
  EXPECT_EQ(splashLines(r).size(), 4u);
}

TEST_F(Splash, ImageInsideAZubFileIsHandedOverAsBytes) {
  const std::string zub = rt_.base() + "/app.zub";
  // A large, compressible entry shows that all of it arrives, inflated.
  const std::string big(100000, 'Q');
  units::writeWholeFile(rt_.base() + "/big.bin", "BIG:" + big);
  ASSERT_TRUE(mkzub({zub, "--manifest-text", "Main-Class: Demo\n", "images/s.gif=GIF89a-tiny",
                     "--file", "big.gif=" + rt_.base() + "/big.bin"}));
  const std::string missingZub = rt_.base() + "/absent.zub";
  struct Case {
    std::string image, zub, loaded; // loaded: the SplashLoadMemory line, if any
  };
  const Case cases[] = {
      {"images/s.gif", zub, "SplashLoadMemory count=11 text=GIF89a-tiny"},
      {"big.gif", zub, "SplashLoadMemory count=100004 text=BIG:" + big.substr(0, 28)},
      // An entry that cannot be unpacked shows nothing but still names the image.
      {"other.gif", zub, ""},
      {"images/s.gif", missingZub, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.image + " in " + c.zub);
    Launch r = rt_.run({"x"}, {{"_TESK_SPLASH_FILE", c.image}, {"_TESK_SPLASH_ZUB", c.zub}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "x\n");
    EXPECT_EQ(r.err, "");
    Strings expected = {"splash-library-loaded"};
    if (!c.loaded.empty()) {
      expected.push_back("SplashInit");
      expected.push_back(c.loaded);
    }
    expected.push_back("SplashSetFileZubName " + c.image + " " + c.zub);
    EXPECT_EQ(splashLines(r), expected);
  }
}

TEST_F(Splash, LibraryThatDoesNotLoadIsTriedAgainAndLeftOut) {
  long baseline = baselineSearches();
  ASSERT_EQ(remove(splashLibrary().c_str()), 0);
  Launch r = rt_.run({"x"}, {{"_TESK_SPLASH_FILE", "s.gif"}, {"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("\nx\n"), std::string::npos) << "main did not run:\n" << r.out;
  EXPECT_TRUE(splashLines(r).empty());
  // Every attempt traces the path it tried, one for each of the three calls.
  EXPECT_EQ(count(r.out, "Info: loaded " + splashLibrary() + "\n"), 3) << r.out;
  EXPECT_EQ(runtimeSearches(r), baseline + 3) << r.out;

  // A file that is no library at all fares the same.
  units::writeWholeFile(splashLibrary(), "not a library\n");
  r = rt_.run({"x"}, {{"_TESK_SPLASH_FILE", "s.gif"}, {"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(runtimeSearches(r), baseline + 3) << r.out;
}

TEST_F(Splash, LibraryWithoutTheFunctionsIsLoadedOnceAndDoesNothing) {
  long baseline = baselineSearches();
  ASSERT_EQ(remove(splashLibrary().c_str()), 0);
  fs::copy_file(rt_.home() + "/lib/i386/libtesk.so", splashLibrary());
  const std::string zub = rt_.base() + "/app.zub";
  ASSERT_TRUE(mkzub({zub, "--manifest-text", "Main-Class: Demo\n", "s.gif=GIF"}));
  Launch r = rt_.run({"x"}, {{"_TESK_SPLASH_FILE", "s.gif"},
                             {"_TESK_SPLASH_ZUB", zub},
                             {"_TESK_LAUNCHER_DEBUG", "1"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(splashLines(r).empty());
  EXPECT_EQ(count(r.out, "Info: loaded " + splashLibrary() + "\n"), 1) << r.out;
  EXPECT_EQ(runtimeSearches(r), baseline + 1) << r.out;
}

// The route a user takes: the version selection pre-scan reads "-splash:", the headless property
// and the zub file's manifest from the leading arguments, which then still reach the tool as its
// own arguments.
TEST_F(Splash, CommandLineAndManifestChooseTheImage) {
  const std::string zub = rt_.base() + "/app.zub";
  ASSERT_TRUE(mkzub({zub, "--manifest-text", "Main-Class: Demo\nSplash-Image: images/s.gif\n",
                     "images/s.gif=GIF89a-tiny"}));
  const Strings fromFile = {"splash-library-loaded", "SplashInit", "SplashLoadFile pic.gif",
                            "SplashSetFileZubName pic.gif null"};
  const Strings fromZub = {"splash-library-loaded", "SplashInit",
                           "SplashLoadMemory count=11 text=GIF89a-tiny",
                           "SplashSetFileZubName images/s.gif " + zub};
  struct Case {
    Strings args;
    Strings expected;
  };
  const Case cases[] = {
      {{"-splash:pic.gif", "x"}, fromFile},
      {{"-zub", zub}, fromZub},
      {{"-cp", "lib", "-zub", zub, "x"}, fromZub},
      // The command line's image wins over the manifest's.
      {{"-splash:pic.gif", "-zub", zub}, fromFile},
      // Headless: nothing, wherever the property stands among the leading options, until a
      // later one turns it off again.
      {{"-Dtesk.ozt.headless=true", "-splash:pic.gif", "x"}, {}},
      {{"-splash:pic.gif", "-Dtesk.ozt.headless=true", "x"}, {}},
      {{"-Dtesk.ozt.headless=true", "-zub", zub}, {}},
      {{"-Dtesk.ozt.headless=true", "-splash:pic.gif", "-Dtesk.ozt.headless=false"}, fromFile},
      // Not seen by the pre-scan: behind "-J" (the option scan drops it), or after the operand.
      {{"-J-splash:pic.gif", "x"}, {}},
      {{"x", "-splash:pic.gif"}, {}},
      // A zub file without a splash image.
      {{"-zub", rt_.home() + "/lib/tools.zub"}, {}},
  };
  for (const Case &c : cases) {
    std::string shown;
    for (const std::string &a : c.args)
      shown += " " + a;
    SCOPED_TRACE(shown);
    Launch r = rt_.run(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(splashLines(r), c.expected);
    // Everything but the "-J" option is the tool's.
    Strings toolArgs;
    for (const std::string &a : c.args)
      if (a.compare(0, 2, "-J") != 0)
        toolArgs.push_back(a);
    EXPECT_EQ(staged::mainArgs(r.trace), toolArgs);
  }
}

// Moves the runtime's own files of the tree at `home` into home/ubo, the other place the
// launcher looks for them; the launcher support library and the class path stay where they are.
void moveRuntimeIntoUbo(const std::string &home) {
  const std::string from = home + "/lib/i386/", to = home + "/ubo/lib/i386/";
  fs::create_directories(to);
  for (const char *name : {"libtesk.so", "rask.cfg", "libsplashscreen.so", "client", "server"})
    fs::rename(from + name, to + name);
}

// A directory path of exactly `length` characters inside `base`; all but its last component
// are made.
std::string deepHome(const std::string &base, size_t length) {
  std::string path = base;
  mkdir(path.c_str(), 0755);
  while (length - path.size() > 250) {
    path += "/" + std::string(200, 'd');
    mkdir(path.c_str(), 0755);
  }
  return path + "/" + std::string(length - path.size() - 1, 'h');
}

TEST_F(Splash, OverlongLibraryPathIsReportedAndLeftOut) {
  // The library's path is the runtime directory (home/ubo) and "/lib/i386/libsplashscreen.so",
  // 32 characters more than the home; 4095 characters still fit the launcher's buffer.
  moveRuntimeIntoUbo(rt_.home());
  for (size_t homeLength : {size_t(4063), size_t(4064)}) {
    SCOPED_TRACE(homeLength);
    std::string home = deepHome(rt_.base() + "/deep" + std::to_string(homeLength), homeLength);
    ASSERT_EQ(home.size(), homeLength);
    // Copied file by file: a file whose path would not fit the system's limit is left out (the
    // splash library of the longer tree, which the launcher then never reaches for).
    fs::create_directory(home);
    for (const fs::directory_entry &e : fs::recursive_directory_iterator(rt_.home())) {
      std::string target = home + e.path().string().substr(rt_.home().size());
      if (target.size() > 4095)
        continue;
      if (e.is_directory())
        fs::create_directory(target);
      else
        fs::copy(e.path(), target, fs::copy_options::copy_symlinks);
    }
    Launch r = rt_.run({"x"}, {{"_TESK_SPLASH_FILE", "s.gif"}}, home + "/bin/quillet");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "x\n");
    if (homeLength + 32 <= 4095) {
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(splashLines(r).size(), 4u);
    } else {
      // Each of the three calls tries and reports.
      const std::string message = "Error: Path length exceeds maximum length (PATH_MAX)\n";
      EXPECT_EQ(r.err, message + message + message);
      EXPECT_TRUE(splashLines(r).empty());
    }
  }
}

} // namespace
