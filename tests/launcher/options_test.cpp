// Option translation on its own: the stack size parser, the option list, the working argument
// vector and the launcher option table. Paths that end the process run in child processes.

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "launcher/options.h"
#include "launcher/oru.h"
#include "tests/launcher/harness.h"

namespace {

std::vector<std::string> vmOptionTexts() {
  std::vector<std::string> texts;
  for (int i = 0; i < vmOptions.count; ++i)
    texts.push_back(vmOptions.options[i].text);
  return texts;
}

std::string expanded(const std::string &path) {
  char *text = ORU_WildcardExpandClasspath(path.c_str());
  return text ? text : path;
}

class OptionState : public ::testing::Test {
protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }

  static void reset() {
    ORU_MemFree(vmOptions.options);
    vmOptions = {nullptr, 0, 0};
    vmThreadStack = 0;
    versionOnly = versionFirst = helpWanted = extraHelpWanted = suppressExitMessage = false;
    launcherName = "tesk";
    _launcher_debug = 0;
  }

  // A null-terminated vector of copies that lives as long as the test.
  char **vector(const std::vector<std::string> &args) {
    storage_.push_back(args);
    std::vector<char *> v;
    for (std::string &s : storage_.back())
      v.push_back(&s[0]);
    v.push_back(nullptr);
    vectors_.push_back(v);
    return vectors_.back().data();
  }

  units::TempDir dir_;

private:
  std::vector<std::vector<std::string>> storage_;
  std::vector<std::vector<char *>> vectors_;
};

// The stack size rule read literally: "%lld", then the digits skipped, then at most one unit
// character. Sizes that do not fit 63 bits count as invalid.
bool referenceStackSize(const char *text, int64_t *bytes) {
  long long value;
  if (sscanf(text, "%lld", &value) != 1)
    return false;
  const char *p = text;
  while (*p >= '0' && *p <= '9')
    ++p;
  if (strlen(p) > 1)
    return false;
  int shift = -1;
  switch (*p) {
  case '\0': shift = 0; break;
  case 'k': case 'K': shift = 10; break;
  case 'm': case 'M': shift = 20; break;
  case 'g': case 'G': shift = 30; break;
  case 't': case 'T': shift = 40; break;
  }
  if (shift < 0)
    return false;
  if (value < 0 || static_cast<unsigned long long>(value) > (0x7fffffffffffffffULL >> shift))
    return false;
  *bytes = static_cast<int64_t>(static_cast<unsigned long long>(value) << shift);
  return true;
}

TEST(StackSize, AgreesWithTheLiteralRuleOnRandomTexts) {
  const unsigned seed = 20240611;
  std::mt19937 random(seed);
  const char alphabet[] = "0123456789kKmMgGtTbx -+";
  for (int round = 0; round < 200000; ++round) {
    std::string text;
    int length = int(random() % 9);
    for (int i = 0; i < length; ++i)
      text += alphabet[random() % (sizeof alphabet - 1)];
    int64_t expected = -1, got = -1;
    bool expectValid = referenceStackSize(text.c_str(), &expected);
    bool valid = parseStackSize(text.c_str(), &got);
    ASSERT_EQ(valid, expectValid) << "text '" << text << "', seed " << seed;
    if (valid)
      ASSERT_EQ(got, expected) << "text '" << text << "', seed " << seed;
    else
      ASSERT_EQ(got, -1) << "an invalid text wrote the size: '" << text << "'";
  }
}

TEST(StackSize, UnitsLimitsAndMalformedTexts) {
  struct Case {
    const char *text;
    bool valid;
    int64_t bytes;
  } cases[] = {
      {"2m", true, 2097152},
      {"2M", true, 2097152},
      {"512k", true, 524288},
      {"3g", true, int64_t(3) << 30},
      {"1t", true, int64_t(1) << 40},
      {"4097m", true, int64_t(4097) << 20},
      {"0", true, 0},
      {"123", true, 123},
      {"", false, 0},
      {"m", false, 0},
      {"2mb", false, 0},
      {"2x", false, 0},
      {"-2m", false, 0},
      {" 2m", false, 0},
      {"2 ", false, 0},
      {"9223372036854775807", true, INT64_MAX},
      {"9223372036854775808", false, 0},
      {"8388607t", true, int64_t(8388607) << 40},
      {"8388608t", false, 0},
      {"99999999999999999999999k", false, 0},
  };
  for (const Case &c : cases) {
    int64_t bytes = -7;
    EXPECT_EQ(parseStackSize(c.text, &bytes), c.valid) << c.text;
    EXPECT_EQ(bytes, c.valid ? c.bytes : -7) << c.text;
  }
}

TEST_F(OptionState, OptionListKeepsOrderAcrossGrowthAndTracksTheStackSize) {
  std::vector<std::string> texts;
  for (int i = 0; i < 100; ++i)
    texts.push_back("-Dn=" + std::to_string(i));
  for (std::string &t : texts) {
    appendVmOption(&t[0]);
    EXPECT_GE(vmOptions.capacity, vmOptions.count);
  }
  EXPECT_EQ(vmOptionTexts(), texts);
  EXPECT_EQ(vmOptions.capacity, 128); // 4, then doubling
  for (int i = 0; i < vmOptions.count; ++i)
    EXPECT_EQ(vmOptions.options[i].extraInfo, nullptr);
  EXPECT_EQ(vmThreadStack, 0);

  char valid[] = "-Xss2m", invalid[] = "-Xss2mb", later[] = "-Xss64k", notStack[] = "-Xoss8m";
  appendVmOption(valid);
  EXPECT_EQ(vmThreadStack, 2097152);
  appendVmOption(invalid);
  EXPECT_EQ(vmThreadStack, 2097152) << "an invalid size must leave the earlier one";
  appendVmOption(later);
  EXPECT_EQ(vmThreadStack, 65536);
  appendVmOption(notStack);
  EXPECT_EQ(vmThreadStack, 65536);
  EXPECT_EQ(vmOptions.count, 104);
  EXPECT_STREQ(vmOptions.options[101].text, "-Xss2mb") << "invalid sizes still reach the VM";
}

// The working vector built the plain way, with standard containers.
std::vector<std::string> referenceWorkingArgs(const std::vector<std::string> &user) {
  std::vector<std::string> out = {"-ms8m"};
  for (const std::string &u : user)
    if (u.compare(0, 2, "-J") == 0)
      out.push_back(u.substr(2));
  out.push_back("com.mox.tools.quillet.Main");
  for (size_t i = 0; i < user.size(); ++i) {
    if (user[i].compare(0, 2, "-J") == 0)
      continue;
    out.push_back(user[i]);
    if ((user[i] == "-cp" || user[i] == "-classpath") && i + 1 < user.size())
      out.push_back(expanded(user[++i]));
  }
  return out;
}

std::vector<std::string> toStrings(int argc, char **argv) {
  std::vector<std::string> v;
  for (int i = 0; i < argc; ++i)
    v.push_back(argv[i]);
  return v;
}

// The pool makes "-J" arguments right after class path options common: they are taken twice,
// and the vector must hold both copies (the sanitizer build catches a write past it).
TEST_F(OptionState, WorkingArgsMatchThePlainModelOnRandomCommandLines) {
  const unsigned seed = 77031;
  std::mt19937 random(seed);
  const std::vector<std::string> pool = {"-cp", "-classpath", "-J-cp", "-J-Dp=q", "-Jz",
                                         "x",   "lib/a.zub", "-v",    "-J-Xss1m", "-"};
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> user;
    int n = int(random() % 8);
    for (int i = 0; i < n; ++i)
      user.push_back(pool[random() % pool.size()]);
    int argc = -1;
    char **argv = nullptr;
    buildWorkingArgs(n, vector(user), &argc, &argv);
    std::string shown;
    for (const std::string &u : user)
      shown += " '" + u + "'";
    ASSERT_EQ(toStrings(argc, argv), referenceWorkingArgs(user))
        << "user arguments" << shown << ", seed " << seed << ", round " << round;
    ASSERT_EQ(argv[argc], nullptr);
    ORU_MemFree(argv);
  }
}

// One row of the launcher option table: the option, what it adds and which flag it sets.
struct Row {
  std::string option;
  std::vector<std::string> added;
  bool *flag;
  bool stops;
  std::string err;
};

TEST_F(OptionState, EveryRowOfTheOptionTable) {
  std::vector<Row> rows = {
      {"-verbosegc", {"-verbose:gc"}, nullptr, false, ""},
      {"-t", {"-Xt"}, nullptr, false, ""},
      {"-tm", {"-Xtm"}, nullptr, false, ""},
      {"-debug", {"-Xdebug"}, nullptr, false, ""},
      {"-noclassgc", {"-Xnoclassgc"}, nullptr, false, ""},
      {"-Xfuture", {"-Xverify:all"}, nullptr, false, ""},
      {"-verify", {"-Xverify:all"}, nullptr, false, ""},
      {"-verifyremote", {"-Xverify:remote"}, nullptr, false, ""},
      {"-noverify", {"-Xverify:none"}, nullptr, false, ""},
      {"-XXsuppressExitMessage", {}, &suppressExitMessage, false, ""},
      {"-prof", {"-Xrunzelto:cpu=old,file=tesk.prof"}, nullptr, false, ""},
      {"-prof:out.txt", {"-Xrunzelto:cpu=old,file=out.txt"}, nullptr, false, ""},
      {"-ss256k", {"-Xss256k"}, nullptr, false, ""},
      {"-oss1m", {"-Xoss1m"}, nullptr, false, ""},
      {"-ms16m", {"-Xms16m"}, nullptr, false, ""},
      {"-mx64m", {"-Xmx64m"}, nullptr, false, ""},
      {"-checksource", {}, nullptr, false, "Warning: -checksource option is no longer supported.\n"},
      {"-cs", {}, nullptr, false, "Warning: -cs option is no longer supported.\n"},
      {"-noasyncgc", {}, nullptr, false, "Warning: -noasyncgc option is no longer supported.\n"},
      {"-version:1.5+", {}, nullptr, false, ""},
      {"-no-ubo-restrict-search", {}, nullptr, false, ""},
      {"-ubo-restrict-search", {}, nullptr, false, ""},
      {"-splash:image.png", {}, nullptr, false, ""},
      {"-d32", {}, nullptr, false, ""},
      {"-d64", {}, nullptr, false, ""},
      {"-showversion", {}, &versionFirst, false, ""},
      {"-Dsome.property=1", {"-Dsome.property=1"}, nullptr, false, ""},
      {"-Xmx1g", {"-Xmx1g"}, nullptr, false, ""},
      {"-", {"-"}, nullptr, false, ""},
      {"-help", {}, &helpWanted, true, ""},
      {"-h", {}, &helpWanted, true, ""},
      {"-?", {}, &helpWanted, true, ""},
      {"-version", {}, &versionOnly, true, ""},
      {"-X", {}, &extraHelpWanted, true, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.option);
    reset();
    char **argv = vector({row.option, "Main", "a1"});
    ScanResult scan;
    units::Outcome o = units::capture(dir_.path(), [&] { scan = scanLauncherOptions(3, argv); });
    EXPECT_EQ(o.err, row.err);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(vmOptionTexts(), row.added);
    bool *flags[] = {&versionOnly, &versionFirst, &helpWanted, &extraHelpWanted,
                     &suppressExitMessage};
    for (bool *f : flags)
      EXPECT_EQ(*f, f == row.flag) << "flag " << (f - flags[0]);
    EXPECT_EQ(scan.presetStatus, 0);
    EXPECT_EQ(scan.zubFile, nullptr);
    if (row.stops) {
      EXPECT_EQ(scan.mainClassName, nullptr);
      EXPECT_EQ(scan.appArgc, 2);
    } else {
      ASSERT_NE(scan.mainClassName, nullptr);
      EXPECT_STREQ(scan.mainClassName, "Main");
      ASSERT_EQ(scan.appArgc, 1);
      EXPECT_STREQ(scan.appArgv[0], "a1");
    }
  }
}

TEST_F(OptionState, ClassPathOptionsAndZubMode) {
  ScanResult scan = scanLauncherOptions(
      6, vector({"-cp", "a.zub:b", "-classpath", "c", "Main", "-cp"}));
  EXPECT_EQ(vmOptionTexts(),
            (std::vector<std::string>{"-Dtesk.class.path=" + expanded("a.zub:b"),
                                      "-Dtesk.class.path=" + expanded("c")}));
  EXPECT_STREQ(scan.mainClassName, "Main");
  ASSERT_EQ(scan.appArgc, 1);
  EXPECT_STREQ(scan.appArgv[0], "-cp");

  reset();
  scan = scanLauncherOptions(4, vector({"-zub", "-verbosegc", "app.zub", "x"}));
  EXPECT_EQ(scan.mainClassName, nullptr);
  ASSERT_NE(scan.zubFile, nullptr);
  EXPECT_STREQ(scan.zubFile, "app.zub");
  EXPECT_EQ(vmOptionTexts(), (std::vector<std::string>{
                                 "-verbose:gc", "-Dtesk.class.path=" + expanded("app.zub")}));
  ASSERT_EQ(scan.appArgc, 1);
  EXPECT_STREQ(scan.appArgv[0], "x");
}

TEST_F(OptionState, ClassPathOptionWithoutItsValueAsksForTheUsageText) {
  for (const char *option : {"-cp", "-classpath"}) {
    reset();
    ScanResult scan;
    char **argv = vector({"-verbosegc", option});
    units::Outcome o = units::capture(dir_.path(), [&] { scan = scanLauncherOptions(2, argv); });
    EXPECT_EQ(o.err, std::string(option) + " requires class path specification\n");
    EXPECT_TRUE(helpWanted);
    EXPECT_EQ(scan.presetStatus, 1);
    EXPECT_EQ(scan.mainClassName, nullptr);
    EXPECT_EQ(scan.zubFile, nullptr);
    EXPECT_EQ(vmOptionTexts(), (std::vector<std::string>{"-verbose:gc"}));
  }
}

TEST_F(OptionState, LauncherPropertiesNameTheCommandOnlyWithAnOperand) {
  ScanResult scan = scanLauncherOptions(3, vector({"Main", "a", "b c"}));
  addLauncherProperties(scan);
  EXPECT_EQ(vmOptionTexts(),
            (std::vector<std::string>{"-Dmox.tesk.command=Main a b c",
                                      "-Dmox.tesk.launcher=MOX_STANDARD",
                                      "-Dmox.tesk.launcher.pid=" + std::to_string(getpid())}));

  reset();
  scan = scanLauncherOptions(3, vector({"-zub", "x.zub", "y"}));
  addLauncherProperties(scan);
  EXPECT_EQ(vmOptionTexts()[1], "-Dmox.tesk.command=x.zub y");

  reset();
  scan = scanLauncherOptions(2, vector({"-help", "Main"}));
  addLauncherProperties(scan);
  EXPECT_EQ(vmOptionTexts(),
            (std::vector<std::string>{"-Dmox.tesk.launcher=MOX_STANDARD",
                                      "-Dmox.tesk.launcher.pid=" + std::to_string(getpid())}));
}

} // namespace
