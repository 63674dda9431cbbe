// The catalogue generator that the build runs on the component descriptions: what it writes for a
// sound description, and how it stops on each kind of fault.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

using namespace vctest;

namespace {

const std::string kSound = "# a small catalogue\n"
                           "all  -       installed  b t\n"
                           "b    libB.a  installed  c   # trailing comment\n"
                           "c    libC.a  installed\n"
                           "t    libT.a  dev-only   c\n";

struct Generated {
  RunResult run;
  std::string output;
  bool outputExists;
};

Generated generate(const TempDir &tmp, const std::string &description) {
  std::string in = tmp.path() + "/desc.txt", out = tmp.path() + "/table.cpp";
  writeFile(in, description);
  writeFile(out, "stale table from an earlier build\n");
  Generated g;
  g.run = run(VORN_CATALOGUE_GEN, {in, out});
  g.outputExists = exists(out);
  g.output = readFile(out);
  return g;
}

TEST(CatalogueGenerator, WritesTheRowsInOrder) {
  TempDir tmp;
  Generated g = generate(tmp, kSound);
  ASSERT_EQ(g.run.status, 0) << g.run.err;
  EXPECT_EQ(g.run.err, "");
  const std::string expected[] = {
      "    {\"all\", nullptr, 1, {\"b\", \"t\", nullptr}},\n"
      "    {\"b\", \"libB.a\", 1, {\"c\", nullptr}},\n"
      "    {\"c\", \"libC.a\", 1, {nullptr}},\n"
      "    {\"t\", \"libT.a\", 0, {\"c\", nullptr}},\n",
      "const uint32_t componentCount = 4;\n",
  };
  for (auto &e : expected) EXPECT_NE(g.output.find(e), std::string::npos) << e << "\nin:\n" << g.output;

  // Continuation lines add requirements; a comment line between them does not end the row.
  Generated c = generate(tmp, "all - installed\n  b\n# note\n\tc\nb libB.a installed\nc libC.a installed\n");
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  EXPECT_NE(c.output.find("{\"all\", nullptr, 1, {\"b\", \"c\", nullptr}}"), std::string::npos) << c.output;

  // Thirteen requirements fit.
  std::string wide = "all - installed";
  std::string rows;
  for (int i = 0; i < 13; ++i) {
    wide += " r" + std::to_string(i);
    rows += "r" + std::to_string(i) + " libR" + std::to_string(i) + ".a installed\n";
  }
  Generated w = generate(tmp, wide + "\n" + rows);
  EXPECT_EQ(w.run.status, 0) << w.run.err;
}

TEST(CatalogueGenerator, TheProjectDescriptionIsSound) {
  TempDir tmp;
  Generated g = generate(tmp, readFile(VORN_CATALOGUE_DESCRIPTION));
  EXPECT_EQ(g.run.status, 0) << g.run.err;
  EXPECT_NE(g.output.find("const uint32_t componentCount = 53;"), std::string::npos);
}

TEST(CatalogueGenerator, StopsOnEveryFaultNamingTheRow) {
  struct Case {
    std::string description;
    std::string message; // after "vorn-catalogue-gen: DESC:"
  };
  std::string fourteen = "all - installed b b b b b b b b b b b b b b\nb libB.a installed\n";
  const std::vector<Case> cases = {
      {"All - installed b\nb libB.a installed\n", "1: component 'All': the name must be lower case"},
      {"all - installed b\nb libB.a installed\nb libB2.a installed\n",
       "3: component 'b': the name is already used by the row on line 2"},
      {"b libB.a installed\nall - installed b\n", "1: component 'b': the first row must be the group 'all'"},
      {"all libAll.a installed\n", "1: component 'all': 'all' must be a group (library \"-\")"},
      {"all - installed b\nb libB.a installed c zz\nc libC.a installed\n",
       "2: component 'b': it requires 'zz', which is not in the catalogue"},
      {"all - installed b\nb libB.a installed c\nc libC.a installed b\n",
       "2: component 'b': it is part of a requirement cycle: b -> c -> b"},
      {"all - installed c\nc libC.a installed c\n", "2: component 'c': it is part of a requirement cycle: c -> c"},
      {fourteen, "1: component 'all': it names 14 requirements; at most 13 fit in a row"},
      {"all - installed b\nb VornB.a installed\n",
       "2: component 'b': the library file 'VornB.a' is not of the form lib<NAME>.a"},
      {"all - installed b\nb lib.a installed\n", "2: component 'b': the library file 'lib.a' is not of the form lib<NAME>.a"},
      {"all - installed b\nb libB.so installed\n",
       "2: component 'b': the library file 'libB.so' is not of the form lib<NAME>.a"},
      {"all - installed b c\nb libB.a installed\nc libB.a installed\n",
       "3: component 'c': the library file 'libB.a' already belongs to component 'b'"},
      {"  b\nall - installed\n", "1: a continuation line (starting with white space) follows no row"},
      {"all - installed b\n\n  c\nb libB.a installed\nc libC.a installed\n",
       "3: a continuation line (starting with white space) follows no row"},
      {"all - installed b\nb libB.a maybe\n", "2: component 'b': the third field must be \"installed\" or \"dev-only\", not 'maybe'"},
      {"all - installed b\nb libB.a\n", "2: component 'b': a row needs a name"},
      {"all - installed -b\n-b libB.a installed\n", "2: component '-b': the name must start with a letter or a digit"},
      {"all - installed b\nb libB.a installed\nb\"x libX.a installed\n",
       "3: component 'b\"x': the name holds the character '\"'"},
      {"all - installed b t\nb libB.a installed t\nt libT.a dev-only\n",
       "2: component 'b': it is installed but requires the dev-only component 't'"},
      {"all - installed b\nb libB.a installed\nu libU.a installed\n",
       "3: component 'u': its library cannot be reached from 'all'"},
      {"all - installed g\ng - dev-only\n", "2: component 'g': a group (library \"-\") cannot be dev-only"},
      {"# nothing but comments\n", "1: the catalogue has no rows"},
  };
  TempDir tmp;
  const std::string prefix = "vorn-catalogue-gen: " + tmp.path() + "/desc.txt:";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.description);
    Generated g = generate(tmp, c.description);
    EXPECT_EQ(g.run.status, 1);
    EXPECT_EQ(g.run.err.compare(0, prefix.size() + c.message.size(), prefix + c.message), 0) << g.run.err;
    EXPECT_FALSE(g.outputExists) << "a failed run must not leave a table the build could use";
  }

  RunResult missing = run(VORN_CATALOGUE_GEN, {tmp.path() + "/absent.txt", tmp.path() + "/t.cpp"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "vorn-catalogue-gen: cannot read " + tmp.path() + "/absent.txt: No such file or directory\n");
}

} // namespace
