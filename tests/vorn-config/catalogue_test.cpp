// The component catalogue and library resolution: the shape of the table, and the ordering rules
// of resolution checked as properties over the whole catalogue, in-process and through the tool.

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "tools/vorn-config/ComponentCatalogue.h"

using namespace vctest;
using vorn::ComponentRecord;
using vorn::componentCatalogue;
using vorn::componentCount;

namespace {

std::map<std::string, const ComponentRecord *> byName() {
  std::map<std::string, const ComponentRecord *> m;
  for (uint32_t i = 0; i < componentCount; ++i) m[componentCatalogue[i].name] = &componentCatalogue[i];
  return m;
}

std::vector<std::string> resolve(const std::vector<std::string> &names, bool dev) {
  vorn::NameList in, out;
  for (auto &n : names) in.push_back(vorn::StrView(n.data(), uint32_t(n.size())));
  vorn::resolveComponentLibraries(in, out, dev);
  std::vector<std::string> libs;
  for (vorn::StrView v : out) libs.push_back(v.str());
  return libs;
}

// Records reachable from `r` through requirements, `r` included; in an installed tree a record
// that is not installed is neither counted nor looked through.
void reach(const ComponentRecord *r, bool dev, std::set<const ComponentRecord *> &seen,
           std::set<const ComponentRecord *> &kept) {
  static const auto names = byName();
  if (!seen.insert(r).second) return;
  if (!r->inInstall && !dev) return;
  kept.insert(r);
  for (const char *const *q = r->requiredNames; *q; ++q) reach(names.at(*q), dev, seen, kept);
}

std::set<std::string> libraryClosure(const std::vector<std::string> &names, bool dev) {
  static const auto table = byName();
  std::set<const ComponentRecord *> seen, kept;
  for (auto &n : names) {
    std::string lower;
    for (char c : n) lower += char(std::tolower(static_cast<unsigned char>(c)));
    reach(table.at(lower), dev, seen, kept);
  }
  std::set<std::string> libs;
  for (auto *r : kept)
    if (r->libraryFile) libs.insert(r->libraryFile);
  return libs;
}

// Checks the link-order rules on `libs`, the result of resolving `names`.
void checkLinkOrder(const std::vector<std::string> &names, bool dev, const std::vector<std::string> &libs) {
  static const auto table = byName();
  std::map<std::string, size_t> position;
  for (size_t i = 0; i < libs.size(); ++i) {
    EXPECT_TRUE(position.emplace(libs[i], i).second) << libs[i] << " appears twice";
  }
  std::set<std::string> got(libs.begin(), libs.end());
  EXPECT_EQ(got, libraryClosure(names, dev)) << "not exactly the libraries the names need";
  // Every library comes before each library it needs, directly or through others.
  for (uint32_t i = 0; i < componentCount; ++i) {
    const ComponentRecord &r = componentCatalogue[i];
    if (!r.libraryFile || !position.count(r.libraryFile)) continue;
    std::set<const ComponentRecord *> seen, kept;
    reach(&r, dev, seen, kept);
    for (auto *dep : kept) {
      if (dep == &r || !dep->libraryFile) continue;
      ASSERT_TRUE(position.count(dep->libraryFile)) << r.name << " needs " << dep->name;
      EXPECT_LT(position[r.libraryFile], position[dep->libraryFile])
          << r.libraryFile << " must come before " << dep->libraryFile;
    }
  }
}

std::string joined(const std::vector<std::string> &v) {
  std::string s;
  for (auto &x : v) s += (s.empty() ? "" : " ") + x;
  return s;
}

// A row of the catalogue's description: its name, its library ("-" for a group) and its
// installation field, read straight from the file the build generates the table from.
struct DescribedRow {
  std::string name, library, install;
};

std::vector<DescribedRow> describedRows() {
  std::ifstream in(VORN_CATALOGUE_DESCRIPTION);
  EXPECT_TRUE(in) << VORN_CATALOGUE_DESCRIPTION;
  std::vector<DescribedRow> rows;
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    // Lines that start with white space continue a row's requirements.
    if (line.empty() || std::isspace(static_cast<unsigned char>(line[0]))) continue;
    std::istringstream fields(line);
    DescribedRow row;
    fields >> row.name >> row.library >> row.install;
    rows.push_back(row);
  }
  return rows;
}

TEST(Catalogue, Shape) {
  // One record per described row, in the file's order, with its library and installation.
  std::vector<DescribedRow> rows = describedRows();
  ASSERT_EQ(componentCount, rows.size());
  for (uint32_t i = 0; i < componentCount; ++i) {
    const ComponentRecord &r = componentCatalogue[i];
    EXPECT_EQ(r.name, rows[i].name);
    EXPECT_EQ(r.libraryFile ? r.libraryFile : "-", rows[i].library) << rows[i].name;
    EXPECT_EQ(r.inInstall, rows[i].install == "installed") << rows[i].name;
  }
  EXPECT_STREQ(componentCatalogue[0].name, "all");
  EXPECT_EQ(componentCatalogue[0].libraryFile, nullptr);
  int groups = 0, notInstalled = 0;
  std::set<std::string> names, files;
  for (uint32_t i = 0; i < componentCount; ++i) {
    const ComponentRecord &r = componentCatalogue[i];
    std::string name = r.name;
    EXPECT_TRUE(names.insert(name).second) << name;
    for (char c : name) EXPECT_FALSE(c >= 'A' && c <= 'Z') << name;
    EXPECT_NE(name[0], '-') << name;
    if (!r.libraryFile) {
      ++groups;
    } else {
      std::string f = r.libraryFile;
      EXPECT_TRUE(f.size() > 5 && f.compare(0, 3, "lib") == 0 && f.compare(f.size() - 2, 2, ".a") == 0) << f;
      EXPECT_TRUE(files.insert(f).second) << f;
    }
    if (!r.inInstall) {
      ++notInstalled;
      EXPECT_NE(r.libraryFile, nullptr) << "only libraries may be left out of installations";
    }
    EXPECT_EQ(r.requiredNames[13], nullptr) << name;
  }
  // The table has groups beside libraries, and libraries that only development trees hold.
  EXPECT_GT(groups, 1);
  EXPECT_GT(notInstalled, 0);
  auto table = byName();
  for (uint32_t i = 0; i < componentCount; ++i)
    for (const char *const *q = componentCatalogue[i].requiredNames; *q; ++q)
      EXPECT_TRUE(table.count(*q)) << componentCatalogue[i].name << " requires missing " << *q;

  // The project's own support library, under the name the build gives it and installs.
  ASSERT_TRUE(table.count("support"));
  EXPECT_STREQ(table["support"]->libraryFile, "libVornSupport.a");
  EXPECT_TRUE(table["support"]->inInstall);
  EXPECT_EQ(table["support"]->requiredNames[0], nullptr);
  EXPECT_TRUE(exists(std::string(VORN_TOOLKIT_DIR) + "/lib/libVornSupport.a"));
  // The execution engine gathers the just-in-time compiler and the interpreter.
  const ComponentRecord *engine = table.at("executor");
  EXPECT_EQ(engine->libraryFile, nullptr);
  EXPECT_STREQ(engine->requiredNames[0], "jit-compiler");
  EXPECT_STREQ(engine->requiredNames[1], "interpreter");
  EXPECT_EQ(engine->requiredNames[2], nullptr);
}

TEST(Resolution, AllYieldsEveryLibraryOnce) {
  std::vector<std::string> dev = resolve({"all"}, true);
  EXPECT_EQ(dev.size(), 46u);
  checkLinkOrder({"all"}, true, dev);
  std::vector<std::string> inst = resolve({"all"}, false);
  EXPECT_EQ(inst.size(), 44u);
  checkLinkOrder({"all"}, false, inst);
  EXPECT_EQ(resolve({}, false).size(), 0u);
}

TEST(Resolution, EveryComponentAloneWithItsRequirementsAndRepeated) {
  for (bool dev : {false, true}) {
    for (uint32_t i = 0; i < componentCount; ++i) {
      const ComponentRecord &r = componentCatalogue[i];
      std::string name = r.name;
      SCOPED_TRACE(name + (dev ? " (development tree)" : " (installed tree)"));
      std::vector<std::string> alone = resolve({name}, dev);
      checkLinkOrder({name}, dev, alone);
      if (!r.inInstall && !dev) {
        EXPECT_TRUE(alone.empty());
      }
      if (r.libraryFile && (r.inInstall || dev)) {
        ASSERT_FALSE(alone.empty());
        EXPECT_EQ(alone.front(), r.libraryFile) << "a component's own library leads its line";
      }
      std::string upper;
      for (char c : name) upper += char(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_EQ(resolve({upper}, dev), alone);
      EXPECT_EQ(resolve({name, name}, dev), alone);
      // With one of its requirements after it, the line is unchanged; before it, the set is the
      // same and the order rules still hold.
      for (const char *const *q = r.requiredNames; *q; ++q) {
        // (A component left out of installations hides its requirements only when alone.)
        if (r.inInstall || dev) {
          EXPECT_EQ(resolve({name, *q}, dev), alone) << "with " << *q;
        }
        std::vector<std::string> before = resolve({*q, name}, dev);
        checkLinkOrder({*q, name}, dev, before);
      }
    }
  }
}

TEST(Resolution, RandomRequestsKeepTheOrderingRules) {
  const unsigned seed = 1337;
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (int trial = 0; trial < 400; ++trial) {
    std::vector<std::string> names;
    size_t n = 1 + rng() % 6;
    for (size_t k = 0; k < n; ++k) {
      std::string name = componentCatalogue[rng() % componentCount].name;
      for (char &c : name)
        if (rng() % 3 == 0) c = char(std::toupper(static_cast<unsigned char>(c)));
      names.push_back(name);
    }
    bool dev = rng() % 2;
    SCOPED_TRACE("request: " + joined(names) + (dev ? " (development tree)" : ""));
    checkLinkOrder(names, dev, resolve(names, dev));
  }
}

TEST(Resolution, SecondNameRequiringTheFirst) {
  // x86-desc requires x86-info; the first's library is already placed when the second is visited,
  // and reversal still puts the second's own library first.
  EXPECT_EQ(joined(resolve({"x86-info", "x86-desc"}, false)),
            "libVornX86Desc.a libVornObjectRead.a libVornIRDecode.a libVornX86AsmWrite.a "
            "libVornMachineCode.a libVornX86Utils.a libVornIR.a libVornX86Info.a libVornSupport.a");
  EXPECT_EQ(joined(resolve({"x86-desc"}, false)),
            "libVornX86Desc.a libVornObjectRead.a libVornIRDecode.a libVornX86Info.a "
            "libVornX86AsmWrite.a libVornMachineCode.a libVornX86Utils.a libVornIR.a libVornSupport.a");
}

TEST(ResolutionDeathTest, UnknownNameEndsTheProcess) {
  EXPECT_EXIT(resolve({"support", "Bogus-Name"}, false), ::testing::ExitedWithCode(1),
              "^vorn-config: unknown component name: Bogus-Name\n$");
  EXPECT_EXIT(resolve({""}, true), ::testing::ExitedWithCode(1), "^vorn-config: unknown component name: \n$");
}

TEST(Resolution, TheToolAgreesForEveryComponent) {
  TempDir tmp;
  std::string tool = tmp.path() + "/bin/vorn-config";
  makeDirs(tmp.path() + "/bin");
  copyFile(VORN_CONFIG_EXE, tool);
  for (uint32_t i = 0; i < componentCount; ++i) {
    std::string name = componentCatalogue[i].name;
    RunResult r = run(tool, {"--libnames", name});
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.out, joined(resolve({name}, false)) + "\n") << name;
  }
  RunResult r = run(tool, {"--libnames", "X86", "optimizer", "x86", "Support", "executor"});
  EXPECT_EQ(r.out, joined(resolve({"x86", "optimizer", "x86", "support", "executor"}, false)) + "\n");
}

} // namespace
