// The VM catalogue reader and the VM choice, on real catalogue files in temporary directories.
// Paths that end the launcher run in child processes.

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/catalogue.h"
#include "launcher/launcher.h"
#include "launcher/oru.h"
#include "tests/launcher-units/fake_machine.h"
#include "tests/launcher-units/oru_allocator.h"
#include "tests/launcher/harness.h"

namespace {

using units::Outcome;

class CatalogueTest : public ::testing::Test {
protected:
  void SetUp() override {
    unsetenv("FEN_ALTERNATE_VM");
    _launcher_debug = 0;
    machine_.install();
    std::string lib = dir_.path() + "/lib";
    mkdir(lib.c_str(), 0700);
    mkdir((lib + "/i386").c_str(), 0700);
    baseline_ = oruLiveBlocks();
  }

  void TearDown() override {
    for (char **v : vectors_)
      ORU_MemFree(v);
    freeVmCatalogue();
    EXPECT_EQ(oruLiveBlocks(), baseline_) << "blocks of the catalogue or the vectors leaked";
    units::FakeMachine::uninstall();
    unsetenv("FEN_ALTERNATE_VM");
    _launcher_debug = 0;
  }

  std::string catalogPath() const { return dir_.path() + "/lib/i386/rask.cfg"; }

  // Writes the catalogue and reads it, returning what the reader wrote.
  Outcome load(const std::string &text) {
    units::writeWholeFile(catalogPath(), text);
    return units::capture(dir_.path(),
                          [&] { count_ = readVmCatalogue(dir_.path().c_str(), "i386"); });
  }

  // Runs chooseVm on `args` (argument 0 first) in this process.
  const char *choose(std::vector<const char *> args, Outcome *outcome = nullptr) {
    args_ = args;
    args_.push_back(nullptr);
    argc_ = static_cast<int>(args.size());
    argv_ = const_cast<char **>(args_.data());
    const char *vm = nullptr;
    Outcome o = units::capture(dir_.path(), [&] { vm = chooseVm(&argc_, &argv_); });
    vectors_.push_back(argv_);
    if (outcome != nullptr)
      *outcome = o;
    return vm;
  }

  // Runs chooseVm on `args` in a child, for the choices that end the launcher.
  Outcome chooseInChild(std::vector<const char *> args) {
    return units::runInChild([&] {
      args.push_back(nullptr);
      int argc = static_cast<int>(args.size()) - 1;
      char **argv = const_cast<char **>(args.data());
      const char *vm = chooseVm(&argc, &argv);
      printf("returned %s\n", vm ? vm : "(null)");
    });
  }

  std::vector<std::string> remainingArgs() const {
    std::vector<std::string> out;
    for (int i = 0; i < argc_; ++i)
      out.push_back(argv_[i] ? argv_[i] : "(null)");
    return out;
  }

  const VmCatalogueEntry &entry(int i) const { return vmCatalogue.entries[i]; }

  units::TempDir dir_;
  units::FakeMachine machine_;
  long baseline_ = 0;
  int count_ = -1;
  std::vector<const char *> args_;
  int argc_ = 0;
  char **argv_ = nullptr;
  std::vector<char **> vectors_;
};

std::string str(const char *s) { return s ? s : "(null)"; }

// ---------------------------------------------------------------------------------------------
// Reading the catalogue

TEST_F(CatalogueTest, ReadsEveryKindWithItsArgument) {
  Outcome o = load("# the flavours of this runtime\n"
                   "-client KNOWN\n"
                   "-server\tKNOWN\n"
                   "-quick ALIASED_TO -client\n"
                   "-auto IF_SERVER_CLASS\t-server extra words\n"
                   "-legacy WARN\n"
                   "-banned ERROR\n"
                   "-retired IGNORE\n"
                   "#-commented KNOWN\n"
                   "-pinned  \t KNOWNISH trailing\n"
                   "-loud WARNING\n"
                   "-dup ALIASED_TOO\t  -server\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, "");
  ASSERT_EQ(count_, 10);
  ASSERT_EQ(vmCatalogue.count, 10);
  ASSERT_GE(vmCatalogue.capacity, 10);

  struct Want {
    const char *name;
    VmKind kind;
    const char *alias;
    const char *server;
  } want[] = {
      {"-client", VM_KNOWN, nullptr, nullptr},
      {"-server", VM_KNOWN, nullptr, nullptr},
      {"-quick", VM_ALIASED_TO, "-client", nullptr},
      {"-auto", VM_IF_SERVER_CLASS, nullptr, "-server"},
      {"-legacy", VM_WARN, nullptr, nullptr},
      {"-banned", VM_ERROR, nullptr, nullptr},
      {"-retired", VM_IGNORE, nullptr, nullptr},
      {"-pinned", VM_KNOWN, nullptr, nullptr},
      {"-loud", VM_WARN, nullptr, nullptr},
      {"-dup", VM_ALIASED_TO, "-server", nullptr},
  };
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(str(entry(i).name), want[i].name);
    EXPECT_EQ(entry(i).kind, want[i].kind);
    EXPECT_EQ(str(entry(i).alias), str(want[i].alias));
    EXPECT_EQ(str(entry(i).serverClass), str(want[i].server));
  }
  EXPECT_EQ(vmCatalogueIndex("-server"), 1);
  EXPECT_EQ(vmCatalogueIndex("-J-server"), 1);
  EXPECT_EQ(vmCatalogueIndex("-J-J-server"), -1);
  EXPECT_EQ(vmCatalogueIndex("server"), -1);
  EXPECT_EQ(vmCatalogueIndex("-serv"), -1);
  EXPECT_EQ(vmCatalogueIndex("-commented"), -1);
}

TEST_F(CatalogueTest, MalformedLinesWarnWithTheirLineNumbers) {
  Outcome o = load("# comments count as lines\n"
                   "client KNOWN\n"
                   "-notype\n"
                   "-blanksonly \t \n"
                   "-odd SOMETHING\n"
                   "#\n"
                   "-noalias ALIASED_TO\n"
                   "-noalias2 ALIASED_TO \t\n"
                   "-noserver IF_SERVER_CLASS\n"
                   "-server KNOWN\n"
                   "\n");
  EXPECT_EQ(o.err, "Warning: no leading - on line 2 of `" + catalogPath() +
                       "'\n"
                       "Warning: missing VM type on line 3 of `" +
                       catalogPath() +
                       "'\n"
                       "Warning: missing VM type on line 4 of `" +
                       catalogPath() +
                       "'\n"
                       "Warning: unknown VM type on line 5 of `" +
                       catalogPath() +
                       "'\n"
                       "Warning: missing VM alias on line 7 of `" +
                       catalogPath() +
                       "'\n"
                       "Warning: missing VM alias on line 8 of `" +
                       catalogPath() +
                       "'\n"
                       "Warning: missing server class VM on line 9 of `" +
                       catalogPath() +
                       "'\n"
                       "Warning: no leading - on line 11 of `" +
                       catalogPath() +
                       "'\n"
                       "Warning: missing VM type on line 11 of `" +
                       catalogPath() + "'\n");
  ASSERT_EQ(count_, 3);
  EXPECT_EQ(str(entry(0).name), "client");
  EXPECT_EQ(entry(0).kind, VM_KNOWN);
  EXPECT_EQ(str(entry(1).name), "-odd");
  EXPECT_EQ(entry(1).kind, VM_KNOWN);
  EXPECT_EQ(str(entry(2).name), "-server");

  // The name without a dash still loses its first character as a VM.
  const char *vm = choose({"prog"});
  EXPECT_EQ(str(vm), "lient");
}

TEST_F(CatalogueTest, TheLastCharacterOfTheLastLineIsAlwaysDropped) {
  load("-client KNOWN\n-quick ALIASED_TO -ab");
  ASSERT_EQ(count_, 2);
  EXPECT_EQ(str(entry(1).alias), "-a");

  Outcome o = load("-client KNOWN\n-server KNOWN");
  EXPECT_EQ(o.err, "Warning: unknown VM type on line 2 of `" + catalogPath() + "'\n");
  ASSERT_EQ(count_, 2);
  EXPECT_EQ(str(entry(1).name), "-server");
  EXPECT_EQ(entry(1).kind, VM_KNOWN);

  // A last line of one character leaves an empty name behind: no type, dropped.
  o = load("-client KNOWN\n-");
  EXPECT_EQ(o.err, "Warning: missing VM type on line 2 of `" + catalogPath() + "'\n");
  EXPECT_EQ(count_, 1);
}

TEST_F(CatalogueTest, ALineLongerThanTheBufferArrivesInPieces) {
  // The buffer holds 4115 characters and a NUL: the first piece ends inside the padding and
  // loses its last character; the rest of the line is read as line 2.
  std::string first = "-long KNOWN ";
  first += std::string(4115 - first.size(), 'x');
  Outcome o = load(first + "-tail IGNORE\n-bad\n-after ERROR\n");
  EXPECT_EQ(o.err, "Warning: missing VM type on line 3 of `" + catalogPath() + "'\n");
  ASSERT_EQ(count_, 3);
  EXPECT_EQ(str(entry(0).name), "-long");
  EXPECT_EQ(entry(0).kind, VM_KNOWN);
  EXPECT_EQ(str(entry(1).name), "-tail");
  EXPECT_EQ(entry(1).kind, VM_IGNORE);
  EXPECT_EQ(str(entry(2).name), "-after");

  // A name that fills the whole buffer is cut and its remainder becomes the next line.
  std::string name = "-" + std::string(4200, 'n');
  o = load(name + " KNOWN\n");
  ASSERT_EQ(count_, 1);
  EXPECT_EQ(str(entry(0).name), name.substr(4115));
  EXPECT_EQ(o.err, "Warning: missing VM type on line 1 of `" + catalogPath() +
                       "'\n"
                       "Warning: no leading - on line 2 of `" +
                       catalogPath() + "'\n");
}

TEST_F(CatalogueTest, OddBytesAreHandledSafely) {
  // A NUL at the start of a line, a line of blanks before the kind (an empty name) and a
  // carriage return that is taken as the line's end.
  Outcome o = load(std::string("\0garbage\n", 9) + " KNOWN\n-crlf KNOWN\r\n");
  EXPECT_EQ(o.err, "Warning: no leading - on line 1 of `" + catalogPath() +
                       "'\n"
                       "Warning: missing VM type on line 1 of `" +
                       catalogPath() +
                       "'\n"
                       "Warning: no leading - on line 2 of `" +
                       catalogPath() + "'\n");
  ASSERT_EQ(count_, 2);
  EXPECT_EQ(str(entry(0).name), "");
  EXPECT_EQ(str(entry(1).name), "-crlf");
  EXPECT_EQ(entry(1).kind, VM_KNOWN);
  // The empty name names the empty VM, and the default reads nothing beyond it.
  EXPECT_EQ(str(choose({"prog"})), "");
  EXPECT_EQ(str(vmName("-")), "");
}

TEST_F(CatalogueTest, ManyEntriesKeepTheirOrderThroughGrowth) {
  std::string text;
  for (int i = 0; i < 45; ++i)
    text += "-vm" + std::to_string(i) + (i % 3 == 0 ? " ALIASED_TO -vm0\n" : " KNOWN\n");
  load(text);
  ASSERT_EQ(count_, 45);
  EXPECT_GE(vmCatalogue.capacity, 45);
  for (int i = 0; i < 45; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(str(entry(i).name), "-vm" + std::to_string(i));
    EXPECT_EQ(vmCatalogueIndex(("-vm" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(str(entry(i).alias), i % 3 == 0 ? "-vm0" : "(null)");
  }
  // Reading again replaces the catalogue rather than adding to it.
  load("-only KNOWN\n");
  EXPECT_EQ(count_, 1);
  EXPECT_EQ(vmCatalogue.count, 1);
}

TEST_F(CatalogueTest, TracesEveryLineWhenDebugging) {
  _launcher_debug = 1;
  Outcome o = load("# comment\n"
                   "-client KNOWN\n"
                   "-notype\n"
                   "-quick ALIASED_TO -client\n"
                   "-auto IF_SERVER_CLASS -server\n"
                   "-server WARN\n");
  EXPECT_EQ(o.out, "rask.cfg[0] = ->-client<-\n"
                   "rask.cfg[1] = ->-notype<-\n"
                   "rask.cfg[1] = ->-quick<-\n"
                   "    name: -quick  vmType: VM_ALIASED_TO  alias: -client\n"
                   "rask.cfg[2] = ->-auto<-\n"
                   "    name: -auto  vmType: VM_IF_SERVER_CLASS  server_class: -server\n"
                   "rask.cfg[3] = ->-server<-\n"
                   "1 micro seconds to parse rask.cfg\n");
  EXPECT_EQ(count_, 4);
}

TEST_F(CatalogueTest, AnUnopenableCatalogueEndsTheLauncher) {
  std::string root = dir_.path() + "/nowhere";
  Outcome o = units::runInChild([&] {
    readVmCatalogue(root.c_str(), "i386");
    printf("returned\n");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "Error: could not open `" + root + "/lib/i386/rask.cfg'\n");

  // A catalogue of comments alone is readable and empty; the caller reports that.
  load("# nothing here\n");
  EXPECT_EQ(count_, 0);
}

TEST_F(CatalogueTest, FreeingReleasesEverything) {
  load("-client KNOWN\n-quick ALIASED_TO -client\n-auto IF_SERVER_CLASS -server\n");
  ASSERT_GT(oruLiveBlocks(), baseline_);
  freeVmCatalogue();
  EXPECT_EQ(oruLiveBlocks(), baseline_);
  EXPECT_EQ(vmCatalogue.entries, nullptr);
  EXPECT_EQ(vmCatalogue.count, 0);
  EXPECT_EQ(vmCatalogue.capacity, 0);
  freeVmCatalogue(); // twice is harmless
}

// ---------------------------------------------------------------------------------------------
// Choosing the VM

const char kCatalogue[] = "-client KNOWN\n"
                          "-server KNOWN\n"
                          "-quick ALIASED_TO -client\n"
                          "-fast ALIASED_TO -quick\n"
                          "-legacy WARN\n"
                          "-oldwarn ALIASED_TO -legacy\n"
                          "-banned ERROR\n"
                          "-retired IGNORE\n"
                          "-broken ALIASED_TO -missing\n"
                          "-auto IF_SERVER_CLASS -server\n";

TEST_F(CatalogueTest, DefaultIsEntryZeroAndTheVectorIsCopied) {
  load(kCatalogue);
  _launcher_debug = 1;
  Outcome o;
  EXPECT_EQ(str(choose({"prog", "-d", "out", "Hello.x"}, &o)), "client");
  EXPECT_EQ(o.out, "Default VM: client\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(remainingArgs(), (std::vector<std::string>{"prog", "-d", "out", "Hello.x"}));
  EXPECT_EQ(argv_[argc_], nullptr);
  EXPECT_NE(argv_, const_cast<char **>(args_.data()));
  EXPECT_EQ(machine_.memoryQuestions, 0) << "entry 0 is not server-class dependent";

  // No arguments at all, not even argument 0.
  const char *none[] = {nullptr};
  int argc = 0;
  char **argv = const_cast<char **>(none);
  EXPECT_EQ(str(chooseVm(&argc, &argv)), "client");
  EXPECT_EQ(argc, 0);
  EXPECT_EQ(argv[0], nullptr);
  vectors_.push_back(argv);
}

TEST_F(CatalogueTest, SelectionOptionsAreRemovedAndTheLastOneDecides) {
  load(kCatalogue);
  EXPECT_EQ(str(choose({"prog", "-server", "-v", "Main", "arg"})), "server");
  EXPECT_EQ(remainingArgs(), (std::vector<std::string>{"prog", "-v", "Main", "arg"}));
  EXPECT_EQ(argv_[argc_], nullptr);

  EXPECT_EQ(str(choose({"prog", "-server", "-J-client"})), "client");
  EXPECT_EQ(remainingArgs(), (std::vector<std::string>{"prog"}));

  EXPECT_EQ(str(choose({"prog", "-client", "-XXaltrask=/opt/vm", "x"})), "/opt/vm");
  EXPECT_EQ(remainingArgs(), (std::vector<std::string>{"prog", "x"}));

  EXPECT_EQ(str(choose({"prog", "-J-XXaltrask=/opt/vm", "-server"})), "server");
  // A path given after a catalogue option forgets that option's entry entirely.
  Outcome o;
  EXPECT_EQ(str(choose({"prog", "-legacy", "-quick", "-XXaltrask=/opt/vm"}, &o)), "/opt/vm");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(str(choose({"prog", "-server", "-J-XXaltrask=mine"})), "mine");
  EXPECT_EQ(remainingArgs(), (std::vector<std::string>{"prog"}));

  // An application argument equal to a catalogue name is taken too; one without a dash is not.
  EXPECT_EQ(str(choose({"prog", "Main", "server", "-server"})), "server");
  EXPECT_EQ(remainingArgs(), (std::vector<std::string>{"prog", "Main", "server"}));

  // Look-alikes stay for the VM.
  EXPECT_EQ(str(choose({"prog", "-servers", "-J", "-XXaltrask", "-Jserver"})), "client");
  EXPECT_EQ(remainingArgs(),
            (std::vector<std::string>{"prog", "-servers", "-J", "-XXaltrask", "-Jserver"}));
}

TEST_F(CatalogueTest, TheEnvironmentChoosesUnlessAnOptionDoes) {
  load(kCatalogue);
  setenv("FEN_ALTERNATE_VM", "server", 1);
  EXPECT_EQ(str(choose({"prog", "Main"})), "server");
  EXPECT_EQ(str(choose({"prog", "-client"})), "client");
  EXPECT_EQ(str(choose({"prog", "-XXaltrask=/x"})), "/x");

  // The variable's value is used as it stands, even one the catalogue refuses.
  setenv("FEN_ALTERNATE_VM", "banned", 1);
  Outcome o;
  EXPECT_EQ(str(choose({"prog"}, &o)), "banned");
  EXPECT_EQ(o.err, "");
}

TEST_F(CatalogueTest, AliasesResolveThroughChains) {
  load(kCatalogue);
  EXPECT_EQ(str(choose({"prog", "-quick"})), "client");
  EXPECT_EQ(str(choose({"prog", "-J-fast"})), "client");

  Outcome o;
  EXPECT_EQ(str(choose({"prog", "-oldwarn"}, &o)), "client");
  EXPECT_EQ(o.err, "Warning: legacy VM not supported; client VM will be used\n");

  // The longest chain without a cycle passes through every entry once.
  std::string chain;
  const int n = 12;
  for (int i = 0; i < n - 1; ++i)
    chain += "-a" + std::to_string(i) + " ALIASED_TO -a" + std::to_string(i + 1) + "\n";
  chain += "-a" + std::to_string(n - 1) + " KNOWN\n";
  load(chain);
  EXPECT_EQ(str(choose({"prog", "-a0"})), "a" + std::to_string(n - 1));
}

TEST_F(CatalogueTest, AliasCyclesAndDeadEndsEndTheLauncher) {
  load("-client KNOWN\n-x ALIASED_TO -y\n-y ALIASED_TO -J-x\n-self ALIASED_TO -self\n"
       "-broken ALIASED_TO -missing\n");
  const std::string cycle = "Error: Corrupt rask.cfg file; cycle in alias list.\n";
  for (const char *start : {"-x", "-y", "-self"}) {
    SCOPED_TRACE(start);
    Outcome o = chooseInChild({"prog", start});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, cycle);
    EXPECT_EQ(o.out, "");
  }
  Outcome o = chooseInChild({"prog", "-broken"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Error: Unable to resolve VM alias -missing\n");
}

TEST_F(CatalogueTest, EachRefusingKindHasItsOwnOutcome) {
  load(kCatalogue);
  Outcome o = chooseInChild({"prog", "-banned"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Error: banned VM not supported\n");
  EXPECT_EQ(o.out, "");

  EXPECT_EQ(str(choose({"prog", "-legacy"}, &o)), "client");
  EXPECT_EQ(o.err, "Warning: legacy VM not supported; client VM will be used\n");

  EXPECT_EQ(str(choose({"prog", "-retired"}, &o)), "client");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, "");

  // Entry 0 refused by its own kind is still the default when nothing is chosen.
  load("-legacy WARN\n-client KNOWN\n");
  EXPECT_EQ(str(choose({"prog"}, &o)), "legacy");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(str(choose({"prog", "-legacy"}, &o)), "legacy");
  EXPECT_EQ(o.err, "Warning: legacy VM not supported; legacy VM will be used\n");
}

TEST_F(CatalogueTest, ServerClassReplacesOnlyTheDefault) {
  load("-auto IF_SERVER_CLASS -server\n-client KNOWN\n-server KNOWN\n");

  machine_.pages = 0x100000; // 4 GiB
  machine_.processors = 2;
  _launcher_debug = 1;
  Outcome o;
  EXPECT_EQ(str(choose({"prog"}, &o)), "server");
  EXPECT_NE(o.out.find("linux_i386_ServerClassMachine: true\n"), std::string::npos) << o.out;
  EXPECT_EQ(o.out.substr(o.out.size() - 19), "Default VM: server\n");
  EXPECT_EQ(str(catalogueDefaultVm(true)), "server");

  machine_.processors = 1;
  EXPECT_EQ(str(choose({"prog"}, &o)), "auto");
  EXPECT_NE(o.out.find("linux_i386_ServerClassMachine: false\n"), std::string::npos) << o.out;
  EXPECT_EQ(str(catalogueDefaultVm(false)), "auto");

  // An explicit choice of the entry is never replaced, and asks nothing of the machine.
  machine_.processors = 2;
  machine_.memoryQuestions = 0;
  EXPECT_EQ(str(choose({"prog", "-auto"})), "auto");
  setenv("FEN_ALTERNATE_VM", "auto", 1);
  EXPECT_EQ(str(choose({"prog"})), "auto");
  EXPECT_EQ(machine_.memoryQuestions, 0);
}

TEST_F(CatalogueTest, AnEmptyCatalogueNamesNoDefault) {
  load("# no VMs\n");
  ASSERT_EQ(count_, 0);
  Outcome o;
  EXPECT_EQ(choose({"prog", "x"}, &o), nullptr);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(remainingArgs(), (std::vector<std::string>{"prog", "x"}));
  EXPECT_EQ(catalogueDefaultVm(true), nullptr);
  EXPECT_EQ(str(choose({"prog", "-XXaltrask=/p"})), "/p");
  setenv("FEN_ALTERNATE_VM", "env", 1);
  EXPECT_EQ(str(choose({"prog"})), "env");
}

} // namespace
