// The manual pages and bash completions as the staged trees hold them, checked against the staged
// programs they describe: every option of a program's usage text is documented, every documented
// option is one the program takes, the pages format without warnings, and the completions offer
// what the programs accept.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/TestSupport.h"

namespace {

using Strings = std::vector<std::string>;
using StringSet = std::set<std::string>;

const std::string kToolkit = VORN_TOOLKIT_DIR;
const std::string kVornConfig = kToolkit + "/bin/vorn-config";
const std::string kVornConfigPage = kToolkit + "/share/man/man1/vorn-config.1";
const std::string kVornConfigCompletion = kToolkit + "/share/bash-completion/completions/vorn-config";

// ---------------------------------------------------------------------------------------------
// Text.

using testsupport::lines;

// The words of `text` separated by any of `separators`.
Strings split(const std::string &text, const std::string &separators = " \t\n") {
  Strings v;
  size_t i = 0;
  while (i < text.size()) {
    i = text.find_first_not_of(separators, i);
    if (i == std::string::npos)
      break;
    size_t end = text.find_first_of(separators, i);
    if (end == std::string::npos)
      end = text.size();
    v.push_back(text.substr(i, end - i));
    i = end;
  }
  return v;
}

bool startsWith(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string joined(const StringSet &set) {
  std::string text;
  for (const std::string &s : set)
    text += (text.empty() ? "" : " ") + s;
  return text;
}

// `text` with every occurrence of `from` replaced by `to`.
std::string replaced(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The executable `name` in a directory of PATH, or "" when there is none.
std::string onPath(const std::string &name) {
  const char *path = std::getenv("PATH");
  for (const std::string &dir : split(path ? path : "", ":")) {
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return "";
}

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// ---------------------------------------------------------------------------------------------
// Manual pages.

// A stretch of text in one font: 'B' bold, 'I' italic, 'R' roman.
struct FontRun {
  char font;
  std::string text;
};

// The arguments of a macro line after the macro's name; double quotes group.
Strings macroArguments(const std::string &rest) {
  Strings args;
  std::string current;
  bool quoted = false, have = false;
  for (char c : rest) {
    if (c == '"') {
      quoted = !quoted;
      have = true;
    } else if (c == ' ' && !quoted) {
      if (have)
        args.push_back(current);
      current.clear();
      have = false;
    } else {
      current += c;
      have = true;
    }
  }
  if (have)
    args.push_back(current);
  return args;
}

// The text of one roff line as font runs: a font macro line (.B, .I and the alternating ones)
// or a text line with \f font changes. Escapes are turned into the characters they print.
std::vector<FontRun> fontRuns(const std::string &line) {
  std::string text = line;
  if (startsWith(line, ".")) {
    size_t space = line.find(' ');
    std::string macro = line.substr(1, space == std::string::npos ? std::string::npos : space - 1);
    Strings args = macroArguments(space == std::string::npos ? "" : line.substr(space + 1));
    static const std::map<std::string, std::string> fonts = {
        {"B", "B"},   {"I", "I"},   {"BR", "BR"}, {"IR", "IR"}, {"RB", "RB"},
        {"RI", "RI"}, {"BI", "BI"}, {"IB", "IB"}};
    auto found = fonts.find(macro);
    if (found == fonts.end())
      return {};
    text.clear();
    for (size_t i = 0; i < args.size(); ++i) {
      const std::string &f = found->second;
      text += std::string("\\f") + f[f.size() == 1 ? 0 : i % 2] + args[i];
      if (f.size() == 1 && i + 1 < args.size())
        text += ' ';
    }
  }
  std::vector<FontRun> runs(1, FontRun{'R', ""});
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      runs.back().text += text[i];
      continue;
    }
    char e = text[++i];
    if (e == 'f' && i + 1 < text.size()) {
      char f = text[++i];
      runs.push_back(FontRun{f == 'B' || f == 'I' ? f : 'R', ""});
    } else if (e == '(' && i + 2 < text.size()) {
      std::string name = text.substr(i + 1, 2);
      i += 2;
      runs.back().text += name == "aq" ? "'" : name == "dq" ? "\"" : "?";
    } else if (e == '&' || e == '|' || e == 'c') {
    } else if (e == 'e') {
      runs.back().text += '\\';
    } else {
      runs.back().text += e;
    }
  }
  return runs;
}

// The options a page documents: the bold words that begin with "-" in the tag of each .TP entry,
// cut before an optional part ("[" or "{"). A bare "-J" is the prefix of an option's value word
// ("-J-cp -Jpath"), not an option.
StringSet documentedOptions(const std::string &page) {
  StringSet options;
  Strings text = lines(page);
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != ".TP")
      continue;
    for (const FontRun &run : fontRuns(text[i + 1])) {
      if (run.font != 'B')
        continue;
      for (std::string word : split(run.text, " ,")) {
        word = word.substr(0, word.find_first_of("[{"));
        if (word.size() >= 2 && word[0] == '-' && word != "-J")
          options.insert(word);
      }
    }
  }
  return options;
}

// Runs groff's checks over `page`: what it says, or "" when it says nothing.
std::string groffComplaints(const std::string &groff, const std::string &page) {
  testsupport::ChildResult r = testsupport::runProgram(groff, {"-man", "-ww", "-z", page});
  return r.status == 0 ? r.out + r.err : "status " + std::to_string(r.status) + ": " + r.out + r.err;
}

// ---------------------------------------------------------------------------------------------
// Completions.

// The words bash hands a completion function for `line`: split at blanks, and also at ":" and
// "=" (of COMP_WORDBREAKS), which stand as words of their own; a line that ends in a blank has
// an empty word last.
Strings completionWords(const std::string &line) {
  Strings words;
  for (const std::string &blankWord : split(line)) {
    std::string current;
    bool inBreak = false;
    for (char c : blankWord) {
      bool isBreak = c == ':' || c == '=';
      if (isBreak != inBreak && !current.empty()) {
        words.push_back(current);
        current.clear();
      }
      inBreak = isBreak;
      current += c;
    }
    words.push_back(current);
  }
  if (line.empty() || line.back() == ' ')
    words.push_back("");
  return words;
}

std::string shellQuoted(const std::string &text) { return "'" + replaced(text, "'", "'\\''") + "'"; }

struct Completion {
  std::string file;    // the completion file, sourced alone
  std::string command; // the command name it registers for
  std::string program; // the first word of the line, as typed
  std::string cwd;     // where the completion runs; this process's directory when empty
  std::vector<std::string> env = {"PATH=/usr/bin:/bin", "HOME=/nonexistent", "LANG=C"};
};

// What the completion function registered for `c.command` offers for the line `c.program` +
// " " + `rest`, the cursor at its end, in a non-interactive bash without start-up files.
StringSet offered(const Completion &c, const std::string &rest) {
  const std::string line = c.program + " " + rest;
  Strings words = completionWords(line);
  words[0] = c.program;
  std::string script = "source " + shellQuoted(c.file) + " || exit 3\n";
  script += "registered=$(complete -p " + shellQuoted(c.command) + ") || exit 4\n";
  script += "fn=${registered#*-F }; fn=${fn%% *}\n";
  script += "COMP_WORDS=(";
  for (const std::string &w : words)
    script += shellQuoted(w) + " ";
  script += ")\nCOMP_CWORD=" + std::to_string(words.size() - 1) + "\n";
  script += "COMP_LINE=" + shellQuoted(line) + "\nCOMP_POINT=${#COMP_LINE}\n";
  script += "\"$fn\" \"${COMP_WORDS[0]}\" \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\"\n";
  script += "printf '%s\\n' \"${COMPREPLY[@]}\"\n";

  testsupport::Command command;
  command.program = onPath("bash");
  command.args = {"--norc", "--noprofile", "-c", script};
  command.env = &c.env;
  command.cwd = c.cwd;
  testsupport::ChildResult r = testsupport::runProgram(command);
  EXPECT_EQ(r.status, 0) << "completing \"" << line << "\": " << r.err;
  EXPECT_EQ(r.err, "") << "completing \"" << line << "\"";
  StringSet replies;
  for (const std::string &reply : lines(r.out))
    if (!reply.empty())
      replies.insert(reply);
  return replies;
}

// ---------------------------------------------------------------------------------------------
// vorn-config.

// The options of vorn-config's usage text, in its order.
Strings vornConfigUsageOptions() {
  testsupport::ChildResult r = testsupport::runProgram(kVornConfig, {});
  EXPECT_EQ(r.status, 1);
  Strings options;
  for (const std::string &line : lines(r.err)) {
    Strings w = split(line);
    if (!w.empty() && startsWith(w[0], "--"))
      options.push_back(w[0]);
  }
  EXPECT_FALSE(options.empty()) << r.err;
  return options;
}

StringSet stagedComponents() {
  testsupport::ChildResult r = testsupport::runProgram(kVornConfig, {"--components"});
  EXPECT_EQ(r.status, 0) << r.err;
  Strings names = split(r.out);
  return StringSet(names.begin(), names.end());
}

TEST(DocVornConfigPage, DocumentsEveryOptionOfTheUsageText) {
  std::string page;
  ASSERT_TRUE(testsupport::readFile(kVornConfigPage, &page)) << "not staged: " << kVornConfigPage;
  StringSet documented = documentedOptions(page);
  for (const std::string &option : vornConfigUsageOptions())
    EXPECT_EQ(documented.count(option), 1u) << option << " is not documented; the page has "
                                            << joined(documented);
}

TEST(DocVornConfigPage, EveryDocumentedOptionIsAccepted) {
  std::string page;
  ASSERT_TRUE(testsupport::readFile(kVornConfigPage, &page)) << "not staged: " << kVornConfigPage;
  StringSet documented = documentedOptions(page);
  ASSERT_FALSE(documented.empty());
  for (const std::string &option : documented) {
    testsupport::ChildResult r = testsupport::runProgram(kVornConfig, {option});
    EXPECT_EQ(r.status, 0) << option << ": " << r.err;
    EXPECT_EQ(r.err, "") << option;
    EXPECT_NE(r.out, "") << option << " answers nothing";
  }
  // The check tells a refused option from an accepted one.
  testsupport::ChildResult refused = testsupport::runProgram(kVornConfig, {"--doc-no-such-option"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("usage:"), std::string::npos) << refused.err;
}

TEST(DocVornConfigCompletion, OptionsAndComponentsOfTheProgramBeingCompleted) {
  if (onPath("bash").empty())
    GTEST_SKIP() << "no bash on PATH";
  ASSERT_TRUE(exists(kVornConfigCompletion)) << "not staged: " << kVornConfigCompletion;

  // Another vorn-config, first on PATH, with components of its own: a completion that asked it
  // instead of the program on the command line would offer these.
  testsupport::TempDir decoy;
  ASSERT_TRUE(testsupport::writeFile(decoy / "vorn-config",
                                     "#!/bin/sh\necho ' decoy-one decoy-two support'\n", 0755));
  Completion c;
  c.file = kVornConfigCompletion;
  c.command = "vorn-config";
  c.program = kVornConfig;
  c.env[0] = "PATH=" + decoy.path() + ":/usr/bin:/bin";

  EXPECT_EQ(offered(c, "--l"),
            (StringSet{"--ldflags", "--libdir", "--libs", "--libnames", "--libfiles"}));
  Strings usage = vornConfigUsageOptions();
  EXPECT_EQ(offered(c, "--"), StringSet(usage.begin(), usage.end()));
  EXPECT_EQ(offered(c, "--cxxflags "), StringSet(usage.begin(), usage.end()))
      << "components are due only after a library option";

  const StringSet components = stagedComponents();
  ASSERT_EQ(components.count("support"), 1u);
  EXPECT_EQ(offered(c, "--libs "), components);
  StringSet others = components;
  others.erase("support");
  EXPECT_EQ(offered(c, "--libnames support "), others) << "a name given is not offered again";
  EXPECT_EQ(offered(c, "--libfiles support x86-i"), (StringSet{"x86-info"}));

  // A plain command name is the program found on PATH, as bash runs it.
  c.program = "vorn-config";
  EXPECT_EQ(offered(c, "--libs decoy-"), (StringSet{"decoy-one", "decoy-two"}));
  c.env[0] = "PATH=" + kToolkit + "/bin:" + decoy.path() + ":/usr/bin:/bin";
  EXPECT_EQ(offered(c, "--libs "), components);
}

#if defined(DOC_HAVE_QUILLET)

// ---------------------------------------------------------------------------------------------
// quillet.

const std::string kRuntime = VORN_RUNTIME_DIR;
const std::string kQuillet = kRuntime + "/bin/quillet";
const std::string kQuilletPage = kRuntime + "/man/man1/quillet.1";
const std::string kQuilletCompletion = kRuntime + "/share/bash-completion/completions/quillet";

// The option an entry of a usage text names: "-DNAME=VALUE" is "-D", "-XmsSIZE" is "-Xms",
// "-Xverify:all|remote|none" is "-Xverify:". Placeholders are words in capitals.
std::string usageName(std::string token) {
  token = token.substr(0, token.find_first_of("=|[ "));
  size_t colon = token.find(':');
  if (colon != std::string::npos)
    return token.substr(0, colon + 1);
  size_t end = token.size();
  while (end > 2 && token[end - 1] >= 'A' && token[end - 1] <= 'Z')
    --end;
  if (token.size() - end >= 2)
    token.resize(end);
  return token;
}

// Runs of the staged quillet in a controlled environment: no runtime to select, the launcher's
// trace on standard output and the VM stand-in's trace in a file.
class Quillet {
public:
  struct Run {
    testsupport::ChildResult result;
    std::string trace;
  };

  const std::string &dir() const { return dir_.path(); }

  Run run(const Strings &args) const {
    std::vector<std::string> env = {"HOME=" + dir_.path(), "PATH=/usr/bin:/bin", "LANG=C",
                                    "RASK_TRACE=" + tracePath(), "_TESK_LAUNCHER_DEBUG=1",
                                    "TESK_VERSION_PATH=" + dir_.path() + "/no-runtimes"};
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
      if (const char *value = std::getenv(name))
        env.push_back(std::string(name) + "=" + value);
    testsupport::Command command;
    command.program = kQuillet;
    command.args = args;
    command.env = &env;
    command.cwd = dir_.path();
    unlink(tracePath().c_str());
    Run r;
    r.result = testsupport::runProgram(command);
    r.trace = testsupport::takeFile(tracePath());
    return r;
  }

private:
  std::string tracePath() const { return dir_.path() + "/trace.log"; }
  testsupport::TempDir dir_;
};

// The options of the usage texts: "-J-help" and "-J-X" (the main class is built in, so the
// launcher's own options come with "-J").
StringSet quilletUsageOptions(const Quillet &q) {
  StringSet options;
  for (const char *ask : {"-J-help", "-J-X"}) {
    Quillet::Run r = q.run({ask});
    EXPECT_EQ(r.result.status, 0) << ask << ": " << r.result.err;
    for (const std::string &line : lines(r.result.err)) {
      Strings w = split(line);
      if (w.empty())
        continue;
      if (w[0] == "Usage:" || w[0] == "or:") {
        for (const std::string &word : w)
          if (word.size() >= 2 && word[0] == '-')
            options.insert(usageName(word));
        continue;
      }
      if (w[0][0] != '-')
        continue;
      // The option column ends where two spaces start the description.
      std::string column = line.substr(line.find('-'));
      column = column.substr(0, column.find("  "));
      for (const std::string &item : split(column, ","))
        options.insert(usageName(split(item)[0]));
    }
  }
  EXPECT_FALSE(options.empty());
  return options;
}

// Why the launcher does not take `option`, run as the arguments `words`; "" when it does. An
// option is taken when the run succeeds without an error or warning and either the VM's usage
// texts list it (a "-J" option the launcher hands on, which the VM knows) or the run goes
// differently from one with an unknown option in its place, which the launcher would hand as it
// is to the VM ("-J") or to the tool. The version selection options only act on a version
// request, so the runs are tried with one too.
std::string whyNotTaken(const Quillet &q, const std::string &option, const Strings &words,
                        const StringSet &vmKnows) {
  const bool viaJ = startsWith(option, "-J-");
  const std::string unknown = viaJ ? "-J-doc-unknown-option" : "-doc-unknown-option";
  // The words of the option and of the unknown one, as given and without "-J", are hidden in
  // both runs' output, which then differ only in what the launcher made of them.
  Strings hidden = {unknown, unknown.substr(viaJ ? 2 : 0)};
  for (const std::string &w : words) {
    hidden.push_back(w);
    if (startsWith(w, "-J"))
      hidden.push_back(w.substr(2));
  }
  std::sort(hidden.begin(), hidden.end(),
            [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
  auto observed = [&](const Quillet::Run &r) {
    // Everything but the process id, which differs from run to run, and the byte arrays the
    // VM makes of texts, whose sizes are those of the texts hidden.
    const std::string text = "status " + std::to_string(r.result.status) + "\n" + r.result.out +
                             "\n--\n" + r.result.err + "\n--\n" + r.trace;
    std::string kept;
    for (const std::string &line : lines(text))
      if (line.find("launcher.pid=") == std::string::npos && line.find("bytes[") == std::string::npos)
        kept += line + "\n";
    for (const std::string &h : hidden)
      kept = replaced(kept, h, "<option>");
    return kept;
  };

  for (const Strings &context : {Strings{}, Strings{"-version:1.6+"},
                                 Strings{"-version:1.6+", "-ubo-restrict-search"}}) {
    Strings with = context, without = context;
    with.insert(with.end(), words.begin(), words.end());
    with.push_back("probe");
    without.push_back(unknown);
    without.push_back("probe");
    Quillet::Run a = q.run(with);
    const std::string &err = a.result.err;
    if (a.result.status != 0 || startsWith(err, "Error") || err.find("\nError") != std::string::npos ||
        startsWith(err, "Warning") || err.find("\nWarning") != std::string::npos ||
        err.find("Exception in thread") != std::string::npos)
      return "refused with status " + std::to_string(a.result.status) + ": " + err;
    if (viaJ && vmKnows.count(option.substr(2)))
      return "";
    if (observed(a) != observed(q.run(without)))
      return "";
  }
  return "the launcher treats it as an option it does not know";
}

TEST(DocQuilletPage, DocumentsEveryOptionOfTheUsageTexts) {
  std::string page;
  ASSERT_TRUE(testsupport::readFile(kQuilletPage, &page)) << "not staged: " << kQuilletPage;
  StringSet documented = documentedOptions(page);
  Quillet q;
  // Written for quillet, an option of the usage texts is documented with "-J" in front (the VM
  // flavours may also be given without).
  for (const std::string &option : quilletUsageOptions(q))
    EXPECT_TRUE(documented.count(option) || documented.count("-J" + option))
        << option << " is not documented; the page has " << joined(documented);
}

TEST(DocQuilletPage, EveryDocumentedOptionIsTaken) {
  std::string page;
  ASSERT_TRUE(testsupport::readFile(kQuilletPage, &page)) << "not staged: " << kQuilletPage;
  StringSet documented = documentedOptions(page);
  ASSERT_FALSE(documented.empty());
  Quillet q;
  const StringSet vmKnows = quilletUsageOptions(q);

  // The arguments each option that takes a value is run with.
  const std::string vm = kRuntime + "/lib/i386/server";
  const std::map<std::string, Strings> runs = {
      {"-J-cp", {"-J-cp", "-J" + q.dir() + "/classes"}},
      {"-J-classpath", {"-J-classpath", "-J" + q.dir() + "/classes"}},
      {"-J-D", {"-J-Ddoc.check=1"}},
      {"-J-zub", {"-J-zub", "-J-cp", kRuntime + "/lib/tools.zub"}},
      {"-J-Xms", {"-J-Xms16m"}},
      {"-J-Xmx", {"-J-Xmx64m"}},
      {"-J-Xss", {"-J-Xss2m"}},
      {"-J-Xverify:", {"-J-Xverify:none"}},
      {"-J-ms", {"-J-ms16m"}},
      {"-J-mx", {"-J-mx64m"}},
      {"-J-ss", {"-J-ss2m"}},
      {"-J-oss", {"-J-oss2m"}},
      {"-XXaltrask=", {"-XXaltrask=" + vm}},
      {"-J-XXaltrask=", {"-J-XXaltrask=" + vm}},
      {"-version:", {"-version:1.6*"}},
      {"-splash:", {"-splash:" + q.dir() + "/splash.png"}},
  };
  for (const std::string &option : documented) {
    auto found = runs.find(option);
    if (found == runs.end() && (option.back() == ':' || option.back() == '=')) {
      ADD_FAILURE() << option << " takes a value: give the test one to run it with";
      continue;
    }
    Strings words = found == runs.end() ? Strings{option} : found->second;
    EXPECT_EQ(whyNotTaken(q, option, words, vmKnows), "") << option;
  }

  // The check tells options the launcher does not know from those it takes.
  for (const char *unknown : {"-J-doc-bogus", "-J-Xdocbogus", "-doc-bogus"})
    EXPECT_NE(whyNotTaken(q, unknown, {unknown}, vmKnows), "") << unknown;
}

TEST(DocQuilletCompletion, OptionsAndPaths) {
  if (onPath("bash").empty())
    GTEST_SKIP() << "no bash on PATH";
  ASSERT_TRUE(exists(kQuilletCompletion)) << "not staged: " << kQuilletCompletion;
  testsupport::TempDir files;
  for (const char *name : {"alpha.zub", "beta.zub", "notes.txt"})
    ASSERT_TRUE(testsupport::writeFile(files / name, ""));
  ASSERT_EQ(mkdir((files / "sub").c_str(), 0755), 0);

  Completion c;
  c.file = kQuilletCompletion;
  c.command = "quillet";
  c.program = kQuillet;
  c.cwd = files.path();

  EXPECT_EQ(offered(c, "-J-show"), StringSet{"-J-showversion"});
  EXPECT_EQ(offered(c, "-J-ver"),
            (StringSet{"-J-verbosegc", "-J-verify", "-J-verifyremote", "-J-version"}));
  // The VM flavours come from the runtime's catalogue; the refused ones are not offered.
  EXPECT_EQ(offered(c, "-se"), StringSet{"-server"});
  EXPECT_EQ(offered(c, "-le"), StringSet{});

  // Every option the page documents is offered.
  std::string page;
  ASSERT_TRUE(testsupport::readFile(kQuilletPage, &page)) << "not staged: " << kQuilletPage;
  StringSet all = offered(c, "-");
  for (const std::string &option : documentedOptions(page))
    EXPECT_EQ(all.count(option), 1u) << option;

  // Class paths: the element after the last ":" is completed; "-J-cp" takes its value with "-J".
  const StringSet everything = {"alpha.zub", "beta.zub", "notes.txt", "sub/"};
  EXPECT_EQ(offered(c, "-cp "), everything);
  EXPECT_EQ(offered(c, "-classpath al"), StringSet{"alpha.zub"});
  EXPECT_EQ(offered(c, "-cp beta.zub:al"), StringSet{"alpha.zub"});
  EXPECT_EQ(offered(c, "-cp beta.zub:s"), StringSet{"sub/"});
  EXPECT_EQ(offered(c, "-J-cp -Jal"), StringSet{"-Jalpha.zub"});
  // In zub mode the value of "-J-cp" is the built-in class; the zub file to run comes next.
  EXPECT_EQ(offered(c, "-J-zub -J-cp "), (StringSet{"alpha.zub", "beta.zub", "sub/"}));
  EXPECT_EQ(offered(c, "-J-Xverify:r"), StringSet{"remote"});
  EXPECT_EQ(offered(c, "-splash:no"), StringSet{"notes.txt"});
}

#endif // DOC_HAVE_QUILLET

TEST(DocManualPages, FormatWithoutWarnings) {
  const std::string groff = onPath("groff");
  if (groff.empty())
    GTEST_SKIP() << "no groff on PATH to check the pages with";
  Strings pages = {kVornConfigPage};
#if defined(DOC_HAVE_QUILLET)
  pages.push_back(kQuilletPage);
#endif
  for (const std::string &page : pages) {
    ASSERT_TRUE(exists(page)) << "not staged: " << page;
    EXPECT_EQ(groffComplaints(groff, page), "") << page;
  }
}

} // namespace
