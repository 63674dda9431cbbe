// Real clients: the toolkit installed with "cmake --install" into a temporary prefix, the demo
// program built against it in each of the ways a consumer can (vorn-config's answers, pkg-config
// from a Makefile, the CMake package), then run. The packages must answer what vorn-config answers.

#include <dirent.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "harness.h"

using namespace vctest;

namespace {

const std::string kDemo = VORN_SOURCE_DIR "/tools/vorn-config/demo";

std::vector<std::string> flagWords(const std::string &answer) {
  std::vector<std::string> out;
  std::string line = answer;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  for (auto &w : words(line))
    if (!w.empty()) out.push_back(w);
  return out;
}

// A word with the path of an -I or -L option made real, so that "p/lib/pkgconfig/../.." and "p"
// compare equal.
std::string normalised(const std::string &word) {
  if (word.size() > 2 && (word.compare(0, 2, "-I") == 0 || word.compare(0, 2, "-L") == 0) && exists(word.substr(2)))
    return word.substr(0, 2) + realPath(word.substr(2));
  return word;
}

std::vector<std::string> normalisedWords(const std::string &answer) {
  std::vector<std::string> out = flagWords(answer);
  std::transform(out.begin(), out.end(), out.begin(), normalised);
  return out;
}

bool contains(const std::vector<std::string> &v, const std::string &w) {
  return std::find(v.begin(), v.end(), w) != v.end();
}

// The architecture options of this build: those of vorn-config's --cxxflags that a consumer's
// program must share with the library.
std::vector<std::string> archOptions(const std::string &vc) {
  std::vector<std::string> out;
  for (auto &w : flagWords(run(vc, {"--cxxflags"}).out))
    if (w == "-m32" || w.compare(0, 7, "-march=") == 0) out.push_back(w);
  return out;
}

// Runs the demo client built in `dir` and checks what it says of itself and of the toolkit.
void checkClient(const std::string &dir, const std::string &prefix, const std::string &way) {
  SCOPED_TRACE(way);
  const std::string lib = prefix + "/lib/libVornSupport.a";
  RunResult client = run(dir + "/client", {lib, prefix + "/include/olen-private/nothing-here"});
  EXPECT_EQ(client.status, 0) << client.err;
  EXPECT_EQ(client.err, "");
  const std::string expected = "this program: " + dir + "/client\n" +
                               "  parent     " + dir + "\n" +
                               "  file name  client\n"
                               "  stem       client\n"
                               "  extension  \n"
                               "  exists     yes\n" +
                               lib + "\n" +
                               "  parent     " + prefix + "/lib\n" +
                               "  file name  libVornSupport.a\n"
                               "  stem       libVornSupport\n"
                               "  extension  .a\n"
                               "  exists     yes\n" +
                               prefix + "/include/olen-private/nothing-here\n" +
                               "  parent     " + prefix + "/include/olen-private\n" +
                               "  file name  nothing-here\n"
                               "  stem       nothing-here\n"
                               "  extension  \n"
                               "  exists     no\n";
  EXPECT_EQ(client.out.substr(0, expected.size()), expected);
  EXPECT_NE(client.out.find(" distinct path components, "), std::string::npos);
}

// The demo client compiled and linked with nothing but vorn-config's answers.
void buildWithVornConfig(const std::string &prefix, const std::string &dir) {
  const std::string vc = prefix + "/bin/vorn-config";
  makeDirs(dir);
  std::vector<std::string> args = flagWords(run(vc, {"--cxxflags"}).out);
  args.push_back(kDemo + "/client.cpp");
  args.push_back("-o");
  args.push_back(dir + "/client");
  for (auto &w : flagWords(run(vc, {"--ldflags"}).out)) args.push_back(w);
  for (auto &w : flagWords(run(vc, {"--libs", "support"}).out)) args.push_back(w);
  for (auto &w : flagWords(VORN_CLIENT_EXTRA_LDFLAGS)) args.push_back(w);
  RunResult compile = run(VORN_CXX_COMPILER, args);
  ASSERT_EQ(compile.status, 0) << compile.err;
  EXPECT_EQ(compile.err, "") << "the installed headers must compile cleanly with the reported flags";
}

// The demo's Makefile, which asks pkg-config (pkgconf) for everything.
void buildWithPkgConfig(const std::string &prefix, const std::string &dir) {
  makeDirs(dir);
  RunResult make = run(VORN_MAKE_PROGRAM, {"-s", "-f", kDemo + "/Makefile", "PKG_CONFIG_PATH=" + prefix + "/lib/pkgconfig",
                                "PKGCONF=" VORN_PKGCONF, "CXX=" VORN_CXX_COMPILER,
                                "LDFLAGS=" VORN_CLIENT_EXTRA_LDFLAGS},
                       Stdout::Capture, nullptr, dir);
  ASSERT_EQ(make.status, 0) << make.out << make.err;
}

// Configures the demo's CMake project against `prefix` with `extra` arguments.
RunResult configureWithCMake(const std::string &prefix, const std::string &dir, std::vector<std::string> extra) {
  std::vector<std::string> args = {"-S", kDemo, "-B", dir, "-DCMAKE_PREFIX_PATH=" + prefix,
                                   "-DCMAKE_CXX_COMPILER=" VORN_CXX_COMPILER,
                                   "-DCMAKE_EXE_LINKER_FLAGS=" VORN_CLIENT_EXTRA_LDFLAGS,
                                   "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"};
  args.insert(args.end(), extra.begin(), extra.end());
  return run(VORN_CMAKE_COMMAND, args);
}

// The compiler option that makes this build's programs, for a consumer's configure: -m32 in the
// i686 build, nothing in the native one.
std::vector<std::string> pointerSizeFlags(bool forThisBuild) {
  bool thirtyTwo = sizeof(void *) == 4;
  if (!forThisBuild) thirtyTwo = !thirtyTwo;
  if (!thirtyTwo) return {};
  return {"-DCMAKE_CXX_FLAGS=-m32"};
}

void buildWithCMake(const std::string &prefix, const std::string &dir) {
  RunResult configure = configureWithCMake(prefix, dir, pointerSizeFlags(true));
  ASSERT_EQ(configure.status, 0) << configure.out << configure.err;
  RunResult build = run(VORN_CMAKE_COMMAND, {"--build", dir});
  ASSERT_EQ(build.status, 0) << build.out << build.err;
}

// Builds and runs the demo client in each of the three ways against the toolkit in `prefix`.
void buildClientsEveryWay(const std::string &prefix, const std::string &work) {
  struct Way {
    const char *name;
    void (*build)(const std::string &, const std::string &);
  };
  for (const Way &way : {Way{"vorn-config", buildWithVornConfig}, Way{"pkg-config", buildWithPkgConfig},
                         Way{"cmake", buildWithCMake}}) {
    SCOPED_TRACE(way.name);
    const std::string dir = work + "/" + way.name;
    way.build(prefix, dir);
    if (::testing::Test::HasFatalFailure()) return;
    checkClient(dir, prefix, way.name);
  }
}

void install(const std::string &prefix) {
  RunResult r = run(VORN_CMAKE_COMMAND, {"--install", VORN_BINARY_DIR, "--prefix", prefix, "--component", "toolkit"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
}

TEST(InstalledToolkit, BuildsAndRunsClientsEveryWayAfterAMove) {
  TempDir tmp;
  const std::string installed = tmp.path() + "/toolkit";
  ASSERT_NO_FATAL_FAILURE(install(installed));
  for (const char *file : {"/bin/vorn-config", "/lib/libVornSupport.a", "/include/olen-private/support/text/StrHashMap.h",
                           "/lib/cmake/vorn/VornConfig.cmake", "/lib/cmake/vorn/VornConfigVersion.cmake",
                           "/lib/cmake/vorn/VornTargets.cmake", "/lib/pkgconfig/vorn-support.pc"})
    EXPECT_TRUE(exists(installed + file)) << file;
  for (const char *header : {"text/StrSearch.h", "apint/Scratch.h", "apint/Digits.h"})
    EXPECT_FALSE(exists(installed + "/include/olen-private/support/" + header))
        << header << " is a private header";

  // Everything finds the tree from its own place: nothing names where it was installed.
  const std::string prefix = tmp.path() + "/moved/elsewhere";
  makeDirs(tmp.path() + "/moved");
  ASSERT_EQ(rename(installed.c_str(), prefix.c_str()), 0);
  for (const std::string &dir : {prefix + "/lib/cmake/vorn", prefix + "/lib/pkgconfig"}) {
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    while (dirent *e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      EXPECT_EQ(readFile(dir + "/" + e->d_name).find(installed), std::string::npos) << e->d_name;
    }
    closedir(d);
  }
  ASSERT_EQ(run(prefix + "/bin/vorn-config", {"--prefix"}).out, prefix + "\n");
  buildClientsEveryWay(prefix, tmp.path() + "/clients");
}

TEST(InstalledToolkit, PackagesAnswerWhatVornConfigAnswers) {
  TempDir tmp;
  const std::string prefix = tmp.path() + "/toolkit";
  ASSERT_NO_FATAL_FAILURE(install(prefix));
  const std::string vc = prefix + "/bin/vorn-config";
  const std::vector<std::string> arch = archOptions(vc);
  EXPECT_EQ(contains(arch, "-m32"), sizeof(void *) == 4);

  // pkg-config: the include directory and definitions of --cppflags and the architecture options;
  // the library directory, the library, the system libraries of --ldflags and -m32 where it applies.
  auto pkgconf = [&](const std::string &option) {
    RunResult r = run(VORN_PKGCONF, {"--with-path=" + prefix + "/lib/pkgconfig", option, "vorn-support"});
    EXPECT_EQ(r.status, 0) << option << ": " << r.err;
    return r.out;
  };
  EXPECT_EQ(pkgconf("--modversion"), run(vc, {"--version"}).out);
  std::vector<std::string> cflags = normalisedWords(run(vc, {"--cppflags"}).out);
  cflags.insert(cflags.end(), arch.begin(), arch.end());
  EXPECT_EQ(normalisedWords(pkgconf("--cflags")), cflags);
  std::vector<std::string> libs = normalisedWords(run(vc, {"--ldflags"}).out);
  libs.insert(libs.begin() + 1, "-lVornSupport"); // after the -L of the library directory
  ASSERT_EQ(flagWords(run(vc, {"--libs", "support"}).out), std::vector<std::string>{"-lVornSupport"});
  if (contains(arch, "-m32")) libs.push_back("-m32");
  EXPECT_EQ(normalisedWords(pkgconf("--libs")), libs);

  // CMake: the client's compile line carries the same include directory, definitions and
  // architecture options, and its link line the system libraries; not the toolkit's own
  // optimisation, debugging or warning options.
  const std::string dir = tmp.path() + "/cmake";
  RunResult configure = configureWithCMake(prefix, dir, pointerSizeFlags(true));
  ASSERT_EQ(configure.status, 0) << configure.out << configure.err;
  std::string commands = readFile(dir + "/compile_commands.json");
  for (const std::string &w : normalisedWords(run(vc, {"--cppflags"}).out)) {
    // CMake names an imported target's include directory as a system one.
    std::string word = w.compare(0, 2, "-I") == 0 ? "-isystem " + w.substr(2) : w;
    EXPECT_NE(commands.find(" " + word + " "), std::string::npos) << word << " in " << commands;
  }
  for (const std::string &w : arch) EXPECT_NE(commands.find(" " + w + " "), std::string::npos) << w;
  for (const char *own : {"-O2", "-Wall", "-fno-exceptions", "-g "}) EXPECT_EQ(commands.find(own), std::string::npos) << own;
  std::string link = readFile(dir + "/CMakeFiles/client.dir/link.txt");
  for (const std::string &w : flagWords(run(vc, {"--ldflags"}).out)) {
    if (w.compare(0, 2, "-l") == 0 && w != "-lpthread") {
      EXPECT_NE(link.find(" " + w), std::string::npos) << w << " in " << link;
    }
  }

  // Versions: any 3.x up to this one is found, another major version is not, with CMake's usual
  // message; and a project configured for the other architecture is told so when it looks.
  auto asking = [](const char *version) {
    std::vector<std::string> args = pointerSizeFlags(true);
    args.push_back(std::string("-DVORN_CLIENT_VERSION=") + version);
    return args;
  };
  RunResult three = configureWithCMake(prefix, tmp.path() + "/v30", asking("3.0"));
  EXPECT_EQ(three.status, 0) << three.err;
  RunResult four = configureWithCMake(prefix, tmp.path() + "/v4", asking("4"));
  EXPECT_NE(four.status, 0);
  EXPECT_NE(four.err.find("Could not find a configuration file for package \"Vorn\" that is compatible\n"
                          "  with requested version \"4\"."),
            std::string::npos)
      << four.err;
  RunResult other = configureWithCMake(prefix, tmp.path() + "/other", pointerSizeFlags(false));
  EXPECT_NE(other.status, 0);
  std::string said = other.err;
  said.erase(std::remove(said.begin(), said.end(), '\n'), said.end());
  while (said.find("  ") != std::string::npos) said.replace(said.find("  "), 2, " ");
  EXPECT_NE(said.find("but this project's compilers build"), std::string::npos) << other.err;
  EXPECT_NE(said.find("which cannot link it."), std::string::npos) << other.err;
}

#ifdef VORN_PACKAGE_SCRIPT
// The Debian package of this build, made by scripts/package.sh (which fails on a lintian error)
// and extracted into a temporary root: its vorn-config answers for that root, and the demo
// client builds against it in each of the three ways.
TEST(PackagedToolkit, ExtractedBuildsClientsEveryWay) {
  TempDir tmp;
  RunResult package = run("/bin/bash", {VORN_PACKAGE_SCRIPT, "--build-dir", VORN_BINARY_DIR, "--output-dir", tmp.path()});
  ASSERT_EQ(package.status, 0) << package.out << package.err;
  std::string version = run(VORN_CONFIG_EXE, {"--version"}).out;
  ASSERT_FALSE(version.empty());
  version.pop_back();
  const std::string deb = tmp.path() + "/vorn-toolkit_" + version + "-"; // then the revision
  std::string file;
  DIR *d = opendir(tmp.path().c_str());
  ASSERT_NE(d, nullptr);
  while (dirent *e = readdir(d))
    if (std::string(e->d_name).find(".deb") != std::string::npos) file = tmp.path() + "/" + e->d_name;
  closedir(d);
  ASSERT_EQ(file.compare(0, deb.size(), deb), 0) << file;
  EXPECT_EQ(file.substr(file.size() - 9), "_i386.deb");

  const std::string root = tmp.path() + "/root";
  RunResult extract = run("/usr/bin/dpkg-deb", {"-x", file, root});
  ASSERT_EQ(extract.status, 0) << extract.err;
  for (const char *doc : {"/usr/share/doc/vorn-toolkit/copyright", "/usr/share/doc/vorn-toolkit/changelog.Debian.gz",
                          "/usr/share/man/man1/vorn-config.1.gz", "/usr/share/bash-completion/completions/vorn-config"})
    EXPECT_TRUE(exists(root + doc)) << doc;
  EXPECT_EQ(run(root + "/usr/bin/vorn-config", {"--prefix"}).out, root + "/usr\n");
  buildClientsEveryWay(root + "/usr", tmp.path() + "/clients");
}
#endif

} // namespace
