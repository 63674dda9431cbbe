// librask.so driven through its tables as a launcher drives it: the class library, the trace
// file, failure injection and the checks that stop a faulty caller.

#include <pthread.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "helpers.h"
#include "rask.h"

using namespace platformtest;

namespace {

class RaskTest : public ::testing::Test {
 protected:
  RaskTest()
      : trace_("RASK_TRACE", (dir_ / "trace").c_str()), fail_("RASK_FAIL", nullptr),
        encoding_("RASK_ENCODING", nullptr), stack_("RASK_DEFAULT_STACK", nullptr),
        traceEnv_("RASK_TRACE_ENV", nullptr) {}
  std::vector<std::string> trace() const { return readLines(dir_ / "trace"); }
  void clearTrace() const { writeFile(dir_ / "trace", ""); }
  // The trace lines that begin with `prefix`.
  std::vector<std::string> traced(const std::string &prefix) const {
    std::vector<std::string> out;
    for (const std::string &l : trace())
      if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
  }

  TempDir dir_;
  ScopedEnv trace_, fail_, encoding_, stack_, traceEnv_;
};

TEST_F(RaskTest, DefaultArgumentsGiveTheStackSize) {
  struct Case {
    const char *env;
    int stack;
  };
  for (const Case &c : {Case{nullptr, 1048576}, Case{"0", 0}, Case{"65536", 65536}, Case{"12abc", 1048576},
                        Case{"-5", 1048576}}) {
    ScopedEnv env("RASK_DEFAULT_STACK", c.env);
    int words[kDefaultArgsWords] = {};
    words[kDefaultArgsVersionWord] = kDefaultArgsVersion;
    words[kDefaultArgsStackWord] = 7;
    rask().defaults(words);
    EXPECT_EQ(words[kDefaultArgsStackWord], c.stack) << (c.env ? c.env : "unset");
    for (int i = 0; i < kDefaultArgsWords; ++i)
      if (i != kDefaultArgsVersionWord && i != kDefaultArgsStackWord) {
        EXPECT_EQ(words[i], 0) << i;
      }
  }
  int words[kDefaultArgsWords] = {};
  words[kDefaultArgsVersionWord] = 0x00010002;
  words[kDefaultArgsStackWord] = 7;
  EXPECT_NE(rask().defaults(words), 0);
  EXPECT_EQ(words[kDefaultArgsStackWord], 7);
  std::vector<std::string> want = {
      "default-args version=0x00010001 stack=1048576", "default-args version=0x00010001 stack=0",
      "default-args version=0x00010001 stack=65536",   "default-args version=0x00010001 stack=1048576",
      "default-args version=0x00010001 stack=1048576", "default-args version=0x00010002 rejected"};
  EXPECT_EQ(trace(), want);
}

struct CreateOnThread {
  std::vector<std::string> options;
  int status = -1;
  std::string classPath;
};

void *createAndQuery(void *p) {
  auto *c = static_cast<CreateOnThread *>(p);
  Vm vm(c->options);
  c->status = vm.status();
  if (vm.ok()) {
    Ref system = vm.lookupClass("tesk/lang/System");
    MethodId get = vm.lookupStaticMethod(system, "getProperty", "(Ltesk/lang/String;)Ltesk/lang/String;");
    c->classPath = vm.text(vm.invokeStaticObjectMethod(system, get, vm.newUtfString("tesk.class.path")));
  }
  return nullptr;
}

TEST_F(RaskTest, CreationTracesOptionsStackAndEnvironment) {
  ScopedEnv lib("LD_LIBRARY_PATH", "/rt/lib/i386/client:/rt/lib/i386");
  ScopedEnv marker("_TESK_VERSION_SET", nullptr);
  ScopedEnv splash("_TESK_SPLASH_FILE", "splash.gif");
  ScopedEnv splashZub("_TESK_SPLASH_ZUB", nullptr);
  CreateOnThread c;
  c.options = {"-Xms8m", "-Dtesk.class.path=/rt/lib/tools.zub:/rt/classes", "-Dmox.tesk.launcher=MOX_STANDARD",
               "odd\ttext"};
  // Created on a thread with a known stack, which the trace must report.
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 786432);
  pthread_t t;
  ASSERT_EQ(pthread_create(&t, &attr, createAndQuery, &c), 0);
  pthread_join(t, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(c.status, 0);
  // The options were copied: the caller scribbled over and freed its own.
  EXPECT_EQ(c.classPath, "/rt/lib/tools.zub:/rt/classes");
  std::vector<std::string> lines = trace();
  lines.resize(std::min<size_t>(lines.size(), 11));
  std::vector<std::string> want = {"create version=0x00010002 options=4 ignoreUnrecognized=0",
                                   "option[0]=-Xms8m",
                                   "option[1]=-Dtesk.class.path=/rt/lib/tools.zub:/rt/classes",
                                   "option[2]=-Dmox.tesk.launcher=MOX_STANDARD",
                                   "option[3]=odd\\x09text",
                                   "thread-stack=786432",
                                   "env LD_LIBRARY_PATH=/rt/lib/i386/client:/rt/lib/i386",
                                   "env _TESK_VERSION_SET unset",
                                   "env _TESK_SPLASH_FILE=splash.gif",
                                   "env _TESK_SPLASH_ZUB unset",
                                   "created"};
  EXPECT_EQ(lines, want);
  EXPECT_EQ(traced("destroyVm"), std::vector<std::string>{"destroyVm"});

  clearTrace();
  ScopedEnv names("RASK_TRACE_ENV", "A_ONE::_TESK_SPLASH_FILE");
  ScopedEnv one("A_ONE", "");
  { Vm vm; }
  EXPECT_EQ(traced("env "), (std::vector<std::string>{"env A_ONE=", "env _TESK_SPLASH_FILE=splash.gif"}));
}

TEST_F(RaskTest, CreationRejectsBadRecordsAndASecondVm) {
  VmHandle h = nullptr;
  ThreadIface t = nullptr;
  CreationRecord rec{0x00010001, 0, nullptr, 0};
  EXPECT_NE(rask().create(&h, &t, &rec), 0);
  VmOption opts[2] = {{const_cast<char *>("-Xms8m"), nullptr}, {nullptr, nullptr}};
  CreationRecord noText{kCreationVersion, 2, opts, 0};
  EXPECT_NE(rask().create(&h, &t, &noText), 0);
  EXPECT_NE(rask().create(nullptr, &t, &rec), 0);
  {
    Vm first;
    ASSERT_TRUE(first.ok());
    Vm second;
    EXPECT_FALSE(second.ok());
  }
  Vm again; // the first one was destroyed
  EXPECT_TRUE(again.ok());
  std::vector<std::string> failed = traced("create-failed");
  EXPECT_EQ(failed, (std::vector<std::string>{"create-failed unsupported version", "create-failed option without text",
                                              "create-failed null argument", "create-failed a VM exists already"}));
}

// What a launcher does from creation to tear-down, with every trace line checked.
TEST_F(RaskTest, LaunchSequenceRunsMainAndTracesEveryCall) {
  ChildResult r = runChild([] {
    Vm vm({"-Xms8m"});
    if (!vm.ok()) return 1;
    Ref system = vm.lookupClass("tesk/lang/System");
    MethodId get = vm.lookupStaticMethod(system, "getProperty", "(Ltesk/lang/String;)Ltesk/lang/String;");
    Ref encoding = vm.invokeStaticObjectMethod(system, get, vm.newUtfString("mox.qel.encoding"));
    Ref charset = vm.lookupClass("tesk/nio/charset/Charset");
    MethodId supported = vm.lookupStaticMethod(charset, "isSupported", "(Ltesk/lang/String;)Z");
    if (vm.invokeStaticBooleanMethod(charset, supported, encoding) != 1) return 2;
    Ref string = vm.lookupClass("tesk/lang/String");
    MethodId ctor = vm.lookupMethod(string, "<init>", "([BLtesk/lang/String;)V");
    Ref bytes = vm.makeByteArray(4);
    vm.fillByteArray(bytes, 0, 4, reinterpret_cast<const signed char *>("Main"));
    Ref name = vm.constructObject(string, ctor, bytes, encoding);
    vm.dropLocalRef(bytes);
    const char *chars = vm.utfCharsOf(name);
    Ref main = vm.lookupClass("com/mox/tools/quillet/Main");
    vm.releaseUtfChars(name, chars);
    MethodId mainId = vm.lookupStaticMethod(main, "main", "([Ltesk/lang/String;)V");
    Ref reflected = vm.reflectMethod(main, mainId, 1);
    Ref methodClass = vm.classOf(reflected);
    MethodId modifiers = vm.lookupMethod(methodClass, "getModifiers", "()I");
    if (vm.invokeIntMethod(reflected, modifiers) != 9) return 3;
    Ref array = vm.makeObjectArray(2, string, nullptr);
    Ref first = vm.newUtfString("-d");
    vm.storeArrayElement(array, 0, first);
    vm.dropLocalRef(first);
    vm.storeArrayElement(array, 1, vm.newUtfString("out dir"));
    vm.invokeStaticVoidMethod(main, mainId, array);
    if (vm.pendingException()) return 4;
    if (vm.detachCurrentThread() != 0) return 5;
    return vm.destroyVm();
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "-d\nout dir\n");
  EXPECT_EQ(r.err, "");
  std::vector<std::string> lines = trace();
  ASSERT_GT(lines.size(), 8u);
  EXPECT_EQ(lines[7], "created");
  std::vector<std::string> calls(lines.begin() + 8, lines.end()); // after the creation lines
  std::vector<std::string> want = {
      "lookupClass tesk/lang/System -> class tesk/lang/System",
      "lookupStaticMethod tesk/lang/System getProperty (Ltesk/lang/String;)Ltesk/lang/String; -> method",
      "newUtfString \"mox.qel.encoding\" -> string \"mox.qel.encoding\"",
      "invokeStaticObjectMethod tesk/lang/System getProperty (Ltesk/lang/String;)Ltesk/lang/String; string "
      "\"mox.qel.encoding\" -> string \"UTF-8\"",
      "lookupClass tesk/nio/charset/Charset -> class tesk/nio/charset/Charset",
      "lookupStaticMethod tesk/nio/charset/Charset isSupported (Ltesk/lang/String;)Z -> method",
      "invokeStaticBooleanMethod tesk/nio/charset/Charset isSupported (Ltesk/lang/String;)Z string \"UTF-8\" -> 1",
      "lookupClass tesk/lang/String -> class tesk/lang/String",
      "lookupMethod tesk/lang/String <init> ([BLtesk/lang/String;)V -> method",
      "makeByteArray 4 -> bytes[4]",
      "fillByteArray bytes[4] 0 4 \"Main\"",
      "constructObject tesk/lang/String <init> ([BLtesk/lang/String;)V bytes[4] string \"UTF-8\" -> string \"Main\"",
      "dropLocalRef bytes[4]",
      "utfCharsOf string \"Main\" -> \"Main\"",
      "lookupClass com/mox/tools/quillet/Main -> class com/mox/tools/quillet/Main",
      "releaseUtfChars string \"Main\" \"Main\"",
      "lookupStaticMethod com/mox/tools/quillet/Main main ([Ltesk/lang/String;)V -> method",
      "reflectMethod com/mox/tools/quillet/Main main ([Ltesk/lang/String;)V 1 -> reflected-method main",
      "classOf reflected-method main -> class tesk/lang/reflect/Method",
      "lookupMethod tesk/lang/reflect/Method getModifiers ()I -> method",
      "invokeIntMethod reflected-method main getModifiers ()I -> 9",
      "makeObjectArray 2 tesk/lang/String null -> array tesk/lang/String[2]",
      "newUtfString \"-d\" -> string \"-d\"",
      "storeArrayElement array tesk/lang/String[2] 0 string \"-d\"",
      "dropLocalRef string \"-d\"",
      "newUtfString \"out dir\" -> string \"out dir\"",
      "storeArrayElement array tesk/lang/String[2] 1 string \"out dir\"",
      "main argc=2",
      "main arg[0]=-d",
      "main arg[1]=out dir",
      "invokeStaticVoidMethod com/mox/tools/quillet/Main main ([Ltesk/lang/String;)V array tesk/lang/String[2]",
      "pendingException -> null",
      "detachCurrentThread -> 0",
      "destroyVm"};
  EXPECT_EQ(calls, want);
}

TEST_F(RaskTest, StringsDecodeBytesInTheirCharset) {
  struct Case {
    std::string bytes;
    const char *charset;
    std::string text; // modified UTF-8
  };
  const Case cases[] = {
      {"plain", "UTF-8", "plain"},
      {"caf\xc3\xa9", "utf-8", "caf\xc3\xa9"},
      {"caf\xe9", "ISO-8859-1", "caf\xc3\xa9"},
      {"caf\xe9", "UTF-8", "caf\xef\xbf\xbd"},
      {"caf\xe9", "US-ASCII", "caf\xef\xbf\xbd"},
      {std::string("a\0b", 3), "UTF-8", "a\xc0\x80" "b"},
      {"\xf0\x9f\x98\x80", "UTF-8", "\xed\xa0\xbd\xed\xb8\x80"},
      {"\xc0\xaf", "UTF-8", "\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xed\xa0\x80", "UTF-8", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xe2\x82", "UTF-8", "\xef\xbf\xbd\xef\xbf\xbd"},
      {"", "UTF-8", ""},
  };
  Vm vm;
  ASSERT_TRUE(vm.ok());
  for (const Case &c : cases) {
    Ref s = vm.stringFromBytes(c.bytes, c.charset);
    EXPECT_EQ(vm.text(s), c.text) << c.charset << " '" << c.bytes << "'";
    EXPECT_FALSE(vm.exceptionPending());
  }
  EXPECT_EQ(vm.stringFromBytes("x", "EBCDIC"), nullptr);
  EXPECT_TRUE(vm.exceptionPending());
  EXPECT_EQ(traced("constructObject").back().substr(0, 16), "constructObject ");
  EXPECT_NE(traced("constructObject").back().find(" -> null throws tesk.io.EncodingUnsupportedError"),
            std::string::npos);
  vm.describeException();
  EXPECT_FALSE(vm.exceptionPending());

  // Without a charset the String takes the platform's: RASK_ENCODING when supported, else UTF-8.
  EXPECT_EQ(vm.text(vm.stringFromBytes("caf\xe9", nullptr)), "caf\xef\xbf\xbd");
  ScopedEnv latin("RASK_ENCODING", "ISO-8859-1");
  EXPECT_EQ(vm.text(vm.stringFromBytes("caf\xe9", nullptr)), "caf\xc3\xa9");
}

TEST_F(RaskTest, EncodingPropertyAndCharsetSupport) {
  auto query = [](Vm &vm) {
    Ref system = vm.lookupClass("tesk/lang/System");
    MethodId get = vm.lookupStaticMethod(system, "getProperty", "(Ltesk/lang/String;)Ltesk/lang/String;");
    return vm.text(vm.invokeStaticObjectMethod(system, get, vm.newUtfString("mox.qel.encoding")));
  };
  Vm vm({"-Dmox.qel.encoding=ignored", "-Dempty=", "-Dx=1", "-Dx=2"});
  ASSERT_TRUE(vm.ok());
  EXPECT_EQ(query(vm), "UTF-8");
  {
    ScopedEnv none("RASK_ENCODING", "none");
    EXPECT_EQ(query(vm), "<null>");
  }
  {
    ScopedEnv other("RASK_ENCODING", "EBCDIC");
    EXPECT_EQ(query(vm), "EBCDIC");
  }
  Ref system = vm.lookupClass("tesk/lang/System");
  MethodId get = vm.lookupStaticMethod(system, "getProperty", "(Ltesk/lang/String;)Ltesk/lang/String;");
  EXPECT_EQ(vm.text(vm.invokeStaticObjectMethod(system, get, vm.newUtfString("x"))), "2");
  EXPECT_EQ(vm.text(vm.invokeStaticObjectMethod(system, get, vm.newUtfString("empty"))), "");
  EXPECT_EQ(vm.text(vm.invokeStaticObjectMethod(system, get, vm.newUtfString("unknown"))), "<null>");
  EXPECT_EQ(vm.invokeStaticObjectMethod(system, get, nullptr), nullptr);
  EXPECT_TRUE(vm.exceptionPending());
  vm.describeException();

  Ref charset = vm.lookupClass("tesk/nio/charset/Charset");
  MethodId supported = vm.lookupStaticMethod(charset, "isSupported", "(Ltesk/lang/String;)Z");
  for (const char *yes : {"UTF-8", "utf-8", "ISO-8859-1", "US-ASCII"})
    EXPECT_EQ(vm.invokeStaticBooleanMethod(charset, supported, vm.newUtfString(yes)), 1) << yes;
  for (const char *no : {"EBCDIC", "UTF8", ""})
    EXPECT_EQ(vm.invokeStaticBooleanMethod(charset, supported, vm.newUtfString(no)), 0) << no;
  EXPECT_EQ(vm.invokeStaticBooleanMethod(charset, supported, nullptr), 0);
  EXPECT_FALSE(vm.exceptionPending());
}

TEST_F(RaskTest, MainPrintsItsArgumentsInThePlatformCharset) {
  ChildResult r = runChild([] {
    ScopedEnv latin("RASK_ENCODING", "ISO-8859-1");
    Vm vm;
    Ref main = vm.lookupClass("com/mox/tools/quillet/Main");
    MethodId id = vm.lookupStaticMethod(main, "main", "([Ltesk/lang/String;)V");
    Ref array = vm.makeObjectArray(4, vm.lookupClass("tesk/lang/String"));
    vm.storeArrayElement(array, 0, vm.stringFromBytes("caf\xe9", "ISO-8859-1"));
    vm.storeArrayElement(array, 1, vm.newUtfString("\xe2\x82\xac")); // not in ISO-8859-1
    vm.storeArrayElement(array, 3, vm.newUtfString(""));
    vm.invokeStaticVoidMethod(main, id, array); // element 2 stays null
    vm.invokeStaticVoidMethod(main, id, vm.makeObjectArray(0, vm.lookupClass("tesk/lang/String")));
    return vm.exceptionPending() ? 1 : 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "caf\xe9\n?\nnull\n\n");
  EXPECT_EQ(traced("main "), (std::vector<std::string>{"main argc=4", "main arg[0]=caf\xc3\xa9",
                                                       "main arg[1]=\xe2\x82\xac", "main arg[2]=null",
                                                       "main arg[3]=", "main argc=0"}));
}

TEST_F(RaskTest, ZubFileManifestAttributes) {
  writeZip(dir_ / "app.zub", {{"zub/manifest", "Manifest-Version: 1.0\nMain-Class: org.exa\n mple.App\n"}});
  writeZip(dir_ / "bare.zub", {{"a.txt", "x"}});
  writeZip(dir_ / "broken.zub", {{"zub/manifest", "no colon here\n"}});
  writeFile(dir_ / "text.zub", "not a zip");
  Vm vm;
  ASSERT_TRUE(vm.ok());
  Ref zubClass = vm.lookupClass("tesk/util/zub/ZubFile");
  MethodId ctor = vm.lookupMethod(zubClass, "<init>", "(Ltesk/lang/String;)V");
  MethodId getManifest = vm.lookupMethod(zubClass, "getManifest", "()Ltesk/util/zub/Manifest;");
  auto open = [&](const std::string &path) {
    return vm.constructObject(zubClass, ctor, vm.newUtfString(path.c_str()));
  };
  Ref zub = open(dir_ / "app.zub");
  ASSERT_NE(zub, nullptr);
  Ref manifest = vm.invokeObjectMethod(zub, getManifest);
  ASSERT_NE(manifest, nullptr);
  MethodId mainAttrs = vm.lookupMethod(vm.classOf(manifest), "getMainAttributes", "()Ltesk/util/zub/Attributes;");
  Ref attrs = vm.invokeObjectMethod(manifest, mainAttrs);
  MethodId getValue = vm.lookupMethod(vm.classOf(attrs), "getValue", "(Ltesk/lang/String;)Ltesk/lang/String;");
  EXPECT_EQ(vm.text(vm.invokeObjectMethod(attrs, getValue, vm.newUtfString("Main-Class"))), "org.example.App");
  EXPECT_EQ(vm.text(vm.invokeObjectMethod(attrs, getValue, vm.newUtfString("Splash-Image"))), "<null>");
  EXPECT_FALSE(vm.exceptionPending());

  Ref bare = open(dir_ / "bare.zub");
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(vm.invokeObjectMethod(bare, getManifest), nullptr);
  EXPECT_FALSE(vm.exceptionPending());
  Ref broken = open(dir_ / "broken.zub");
  EXPECT_EQ(vm.invokeObjectMethod(broken, getManifest), nullptr);
  EXPECT_TRUE(vm.exceptionPending());
  vm.describeException();

  for (const char *bad : {"missing.zub", "text.zub", ""}) {
    EXPECT_EQ(open(dir_ / bad), nullptr) << bad;
    EXPECT_TRUE(vm.exceptionPending()) << bad;
    vm.describeException();
  }
  std::vector<std::string> described = traced("describeException");
  EXPECT_EQ(described, (std::vector<std::string>{"describeException -> tesk.util.zub.ZubError",
                                                 "describeException -> tesk.io.FileMissingError",
                                                 "describeException -> tesk.util.zub.ZubError",
                                                 "describeException -> tesk.util.zub.ZubError"}));
}

TEST_F(RaskTest, VersionAndUsageTexts) {
  ChildResult r = runChild([] {
    Vm vm;
    Ref version = vm.lookupClass("mox/misc/Version");
    vm.invokeStaticVoidMethod(version, vm.lookupStaticMethod(version, "print", "()V"));
    Ref help = vm.lookupClass("mox/launcher/LauncherHelp");
    const char *two = "(Ltesk/lang/String;Ltesk/lang/String;)V";
    MethodId init = vm.lookupStaticMethod(help, "initHelpMessage", "(Ltesk/lang/String;)V");
    MethodId select = vm.lookupStaticMethod(help, "appendVmSelectMessage", two);
    MethodId synonym = vm.lookupStaticMethod(help, "appendVmSynonymMessage", two);
    MethodId ergo = vm.lookupStaticMethod(help, "appendVmErgoMessage", "(ZLtesk/lang/String;)V");
    MethodId print = vm.lookupStaticMethod(help, "printHelpMessage", "(Z)V");
    MethodId xusage = vm.lookupStaticMethod(help, "printXUsageMessage", "(Z)V");
    vm.invokeStaticVoidMethod(help, init, vm.newUtfString("tesk"));
    vm.invokeStaticVoidMethod(help, select, vm.newUtfString("-client"), vm.newUtfString("client"));
    vm.invokeStaticVoidMethod(help, select, vm.newUtfString("-server"), vm.newUtfString("server"));
    vm.invokeStaticVoidMethod(help, synonym, vm.newUtfString("-fast"), vm.newUtfString("server"));
    vm.invokeStaticVoidMethod(help, ergo, 1, vm.newUtfString("server"));
    vm.invokeStaticVoidMethod(help, print, 1);
    vm.invokeStaticVoidMethod(help, xusage, 0);
    return vm.exceptionPending() ? 1 : 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.compare(0, 24, "tesk version \"1.6.0_33\"\n"), 0) << r.err;
  EXPECT_NE(r.err.find("Usage: tesk [options] CLASS [ARGS...]"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("-client        selects the \"client\" VM\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("-server        selects the \"server\" VM\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("-fast          is a synonym for the \"server\" VM\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("The default VM is \"server\": this is a server-class machine."), std::string::npos);
  EXPECT_LT(r.err.find("-client"), r.err.find("-fast"));
  EXPECT_NE(r.out.find("-XssSIZE"), std::string::npos) << r.out; // false: standard output
  EXPECT_EQ(r.err.find("-XssSIZE"), std::string::npos);
  std::vector<std::string> want = {"version-print",
                                   "help init \"tesk\"",
                                   "help select \"-client\" \"client\"",
                                   "help select \"-server\" \"server\"",
                                   "help synonym \"-fast\" \"server\"",
                                   "help ergo 1 \"server\"",
                                   "help print 1",
                                   "help xusage 0"};
  std::vector<std::string> got = traced("version-print"), help = traced("help ");
  got.insert(got.end(), help.begin(), help.end());
  EXPECT_EQ(got, want);
  EXPECT_EQ(traced("invokeStaticVoidMethod mox/launcher/LauncherHelp appendVmErgoMessage").at(0),
            "invokeStaticVoidMethod mox/launcher/LauncherHelp appendVmErgoMessage (ZLtesk/lang/String;)V 1 string "
            "\"server\"");
}

TEST_F(RaskTest, UnknownClassesAndMethodsLeaveExceptions) {
  ChildResult r = runChild([] {
    Vm vm;
    if (vm.lookupClass("com.mox.tools.quillet.Main") != nullptr) return 1; // dotted: not found
    Ref pending = vm.pendingException();
    if (!pending || vm.pendingException() == pending) return 2; // a fresh reference each time
    vm.describeException();
    if (vm.exceptionPending()) return 3;
    vm.describeException(); // nothing pending: nothing written
    Ref main = vm.lookupClass("com/mox/tools/quillet/Main");
    if (vm.lookupStaticMethod(main, "main", "()V") || !vm.exceptionPending()) return 4;
    vm.describeException();
    if (vm.lookupMethod(main, "main", "([Ltesk/lang/String;)V") || !vm.exceptionPending()) return 5; // static
    vm.describeException();
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Exception in thread \"main\" tesk.lang.ClassMissingError: com.mox.tools.quillet.Main\n"
                   "Exception in thread \"main\" tesk.lang.MethodMissingError: com/mox/tools/quillet/Main.main()V\n"
                   "Exception in thread \"main\" tesk.lang.MethodMissingError: "
                   "com/mox/tools/quillet/Main.main([Ltesk/lang/String;)V\n");
  EXPECT_EQ(traced("lookupClass com.mox").at(0),
            "lookupClass com.mox.tools.quillet.Main -> null throws tesk.lang.ClassMissingError");
  EXPECT_EQ(traced("describeException -> none").size(), 1u);
}

TEST_F(RaskTest, ArraysCheckTheirBounds) {
  Vm vm;
  Ref string = vm.lookupClass("tesk/lang/String");
  Ref array = vm.makeObjectArray(2, string, vm.newUtfString("init"));
  vm.storeArrayElement(array, 2, nullptr);
  EXPECT_TRUE(vm.exceptionPending());
  vm.describeException();
  vm.storeArrayElement(array, -1, nullptr);
  EXPECT_TRUE(vm.exceptionPending());
  vm.describeException();
  EXPECT_EQ(vm.makeObjectArray(-1, string), nullptr);
  EXPECT_TRUE(vm.exceptionPending());
  vm.describeException();
  Ref bytes = vm.makeByteArray(3);
  vm.fillByteArray(bytes, 1, 3, reinterpret_cast<const signed char *>("abc"));
  EXPECT_TRUE(vm.exceptionPending());
  vm.describeException();
  EXPECT_EQ(vm.makeByteArray(-2), nullptr);
  EXPECT_TRUE(vm.exceptionPending());
  vm.describeException();
  vm.fillByteArray(bytes, 0, 0, nullptr);
  EXPECT_FALSE(vm.exceptionPending());
  EXPECT_EQ(traced("storeArrayElement").at(0), "storeArrayElement array tesk/lang/String[2] 2 null throws "
                                               "tesk.lang.IndexRangeError");
}

// ---- failure injection ----

struct Injection {
  const char *token;
  std::function<void(Vm &)> check; // runs with RASK_FAIL=token on a created VM
};

void expectPendingThenClear(Vm &vm) {
  EXPECT_TRUE(vm.exceptionPending());
  vm.describeException();
}

Ref mainClass(Vm &vm) { return vm.lookupClass("com/mox/tools/quillet/Main"); }
MethodId mainMethod(Vm &vm) {
  return vm.lookupStaticMethod(mainClass(vm), "main", "([Ltesk/lang/String;)V");
}

TEST_F(RaskTest, EveryFailTokenHasItsEffect) {
  const Injection injections[] = {
      {"class:com/mox/tools/quillet/Main",
       [](Vm &vm) {
         EXPECT_EQ(mainClass(vm), nullptr);
         expectPendingThenClear(vm);
         EXPECT_NE(vm.lookupClass("tesk/lang/String"), nullptr);
       }},
      {"method:main",
       [](Vm &vm) {
         EXPECT_EQ(mainMethod(vm), nullptr);
         EXPECT_FALSE(vm.exceptionPending());
       }},
      {"method:<init>",
       [](Vm &vm) {
         EXPECT_EQ(vm.lookupMethod(vm.lookupClass("tesk/lang/String"), "<init>", "([B)V"), nullptr);
         EXPECT_FALSE(vm.exceptionPending());
       }},
      {"method-throw:getModifiers",
       [](Vm &vm) {
         EXPECT_EQ(vm.lookupMethod(vm.lookupClass("tesk/lang/reflect/Method"), "getModifiers", "()I"), nullptr);
         expectPendingThenClear(vm);
         EXPECT_NE(mainMethod(vm), nullptr);
       }},
      {"reflect",
       [](Vm &vm) {
         EXPECT_EQ(vm.reflectMethod(mainClass(vm), mainMethod(vm), 1), nullptr);
         expectPendingThenClear(vm);
       }},
      {"modifiers-throw",
       [](Vm &vm) {
         Ref m = vm.reflectMethod(mainClass(vm), mainMethod(vm), 1);
         vm.invokeIntMethod(m, vm.lookupMethod(vm.classOf(m), "getModifiers", "()I"));
         expectPendingThenClear(vm);
       }},
      {"not-public",
       [](Vm &vm) {
         Ref m = vm.reflectMethod(mainClass(vm), mainMethod(vm), 1);
         EXPECT_EQ(vm.invokeIntMethod(m, vm.lookupMethod(vm.classOf(m), "getModifiers", "()I")), 8);
       }},
      {"throw:main",
       [](Vm &vm) {
         vm.invokeStaticVoidMethod(mainClass(vm), mainMethod(vm), vm.stringArray({"x"}));
         expectPendingThenClear(vm);
       }},
      {"throw:version",
       [](Vm &vm) {
         Ref v = vm.lookupClass("mox/misc/Version");
         vm.invokeStaticVoidMethod(v, vm.lookupStaticMethod(v, "print", "()V"));
         expectPendingThenClear(vm);
       }},
      {"throw:usage",
       [](Vm &vm) {
         Ref h = vm.lookupClass("mox/launcher/LauncherHelp");
         vm.invokeStaticVoidMethod(h, vm.lookupStaticMethod(h, "printHelpMessage", "(Z)V"), 1);
         expectPendingThenClear(vm);
         vm.invokeStaticVoidMethod(h, vm.lookupStaticMethod(h, "printXUsageMessage", "(Z)V"), 1);
         expectPendingThenClear(vm);
       }},
      {"detach", [](Vm &vm) { EXPECT_EQ(vm.detachCurrentThread(), -1); }},
      {"string",
       [](Vm &vm) {
         EXPECT_EQ(vm.newUtfString("x"), nullptr);
         EXPECT_EQ(vm.stringFromBytes("x", nullptr), nullptr);
         EXPECT_FALSE(vm.exceptionPending());
       }},
      {"bytes",
       [](Vm &vm) {
         EXPECT_EQ(vm.makeByteArray(3), nullptr);
         EXPECT_FALSE(vm.exceptionPending());
       }},
      {"array",
       [](Vm &vm) {
         EXPECT_EQ(vm.makeObjectArray(3, vm.lookupClass("tesk/lang/String")), nullptr);
         EXPECT_FALSE(vm.exceptionPending());
       }},
  };
  for (const Injection &inj : injections) {
    SCOPED_TRACE(inj.token);
    ChildResult r = runChild([&] {
      ScopedEnv fail("RASK_FAIL", (std::string("bytes-not,") + inj.token + ",").c_str());
      // Without the token the same steps succeed (checked in the parent below).
      Vm vm;
      if (!vm.ok()) return 90;
      const ::testing::TestResult *result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
      int before = result->total_part_count(); // failures of earlier rounds are the parent's
      inj.check(vm);
      return result->total_part_count() > before ? 1 : 0;
    });
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("librask: ignoring unknown RASK_FAIL token \"bytes-not\""), std::string::npos) << r.err;
  }
  // Without a token the same steps go through (Version and usage print, main runs).
  ChildResult clean = runChild([] {
    Vm vm;
    Ref m = vm.reflectMethod(mainClass(vm), mainMethod(vm), 1);
    int modifiers = vm.invokeIntMethod(m, vm.lookupMethod(vm.classOf(m), "getModifiers", "()I"));
    vm.invokeStaticVoidMethod(mainClass(vm), mainMethod(vm), vm.stringArray({"x"}));
    bool ok = modifiers == 9 && vm.makeByteArray(3) && !vm.exceptionPending() && vm.detachCurrentThread() == 0;
    return ok ? 0 : 1;
  });
  EXPECT_EQ(clean.status, 0) << clean.err;

  ScopedEnv fail("RASK_FAIL", "create");
  Vm vm;
  EXPECT_EQ(vm.status(), -1);
  EXPECT_EQ(traced("create-failed").back(), "create-failed injected");
}

// ---- a faulty caller is stopped with a message ----

using RaskDeathTest = RaskTest;

TEST_F(RaskDeathTest, UnlistedSlotsTrap) {
  auto call = [](VmObject *o, int k) { reinterpret_cast<void (*)(VmObject *)>(o->table[k])(o); };
  EXPECT_DEATH(({ Vm vm; call(vm.thread(), 7); }), "librask: unexpected call through slot 7 of the thread table");
  EXPECT_DEATH(({ Vm vm; call(vm.thread(), 0); }), "slot 0 of the thread table");
  EXPECT_DEATH(({ Vm vm; call(vm.thread(), 239); }), "slot 239 of the thread table");
  EXPECT_DEATH(({ Vm vm; call(vm.thread(), 168); }), "slot 168 of the thread table");
  EXPECT_DEATH(({ Vm vm; call(vm.handle(), 4); }), "librask: unexpected call through slot 4 of the handle table");
  EXPECT_DEATH(({ Vm vm; call(vm.handle(), 6); }), "slot 6 of the handle table");
}

TEST_F(RaskDeathTest, WrongReferencesAreCaught) {
  EXPECT_DEATH(({
                 Vm vm;
                 vm.lookupMethod(vm.newUtfString("x"), "main", "()V");
               }),
               "librask: lookupMethod: argument 2 is a string, not a class");
  EXPECT_DEATH(({
                 Vm vm;
                 int local = 0;
                 vm.classOf(&local);
               }),
               "classOf: argument 2 \\(.*\\) is not a reference that this VM handed out");
  EXPECT_DEATH(({
                 Vm vm;
                 Ref s = vm.newUtfString("x");
                 vm.dropLocalRef(s);
                 vm.utfCharsOf(s);
               }),
               "utfCharsOf: argument 2 \\(a string\\) was already released with dropLocalRef");
  EXPECT_DEATH(({
                 Vm vm;
                 Ref s = vm.newUtfString("x");
                 vm.releaseUtfChars(s, "x");
               }),
               "releaseUtfChars: .* is not a text that utfCharsOf handed out");
  EXPECT_DEATH(({
                 Vm vm;
                 Ref s = vm.newUtfString("x");
                 const char *c = vm.utfCharsOf(s);
                 vm.releaseUtfChars(s, c);
                 vm.releaseUtfChars(s, c);
               }),
               "or was already released");
  EXPECT_DEATH(({
                 Vm vm;
                 Ref array = vm.makeObjectArray(1, vm.lookupClass("tesk/lang/String"));
                 vm.storeArrayElement(array, 0, vm.lookupClass("tesk/lang/String"));
               }),
               "storeArrayElement: an element of class tesk/lang/Class stored into \\[Ltesk/lang/String;");
  EXPECT_DEATH(({
                 Vm vm;
                 vm.invokeStaticVoidMethod(mainClass(vm), mainMethod(vm), vm.newUtfString("not an array"));
               }),
               "invokeStaticVoidMethod: argument 4 is a string, not an object array");
  EXPECT_DEATH(({
                 Vm vm;
                 vm.makeObjectArray(1, nullptr);
               }),
               "makeObjectArray: argument 3 is null");
  EXPECT_DEATH(({
                 Vm vm;
                 vm.lookupClass(nullptr);
               }),
               "lookupClass: argument 2, a text, is null");
}

TEST_F(RaskDeathTest, MethodsMustFitTheCall) {
  EXPECT_DEATH(({
                 Vm vm;
                 vm.invokeStaticVoidMethod(vm.lookupClass("tesk/lang/String"), mainMethod(vm), nullptr);
               }),
               "invokeStaticVoidMethod: com/mox/tools/quillet/Main.main.* invoked on class tesk/lang/String");
  EXPECT_DEATH(({
                 Vm vm;
                 Ref system = vm.lookupClass("tesk/lang/System");
                 MethodId get = vm.lookupStaticMethod(system, "getProperty", "(Ltesk/lang/String;)Ltesk/lang/String;");
                 vm.invokeStaticVoidMethod(system, get, vm.newUtfString("x"));
               }),
               "getProperty.* does not return what this call delivers");
  EXPECT_DEATH(({
                 Vm vm;
                 Ref string = vm.lookupClass("tesk/lang/String");
                 vm.invokeObjectMethod(vm.newUtfString("x"), vm.lookupMethod(string, "<init>", "([B)V"), nullptr);
               }),
               "is a constructor");
  EXPECT_DEATH(({
                 Vm vm;
                 vm.reflectMethod(mainClass(vm), mainMethod(vm), 0);
               }),
               "reflectMethod: static flag 0 given for the static method");
  EXPECT_DEATH(({
                 Vm vm;
                 int fake = 0;
                 vm.invokeStaticVoidMethod(mainClass(vm), &fake);
               }),
               "argument 3 .* is not a method id that this VM handed out");
}

void *lookupFromOtherThread(void *vm) {
  static_cast<Vm *>(vm)->lookupClass("tesk/lang/String");
  return nullptr;
}

TEST_F(RaskDeathTest, StateOfTheVmIsChecked) {
  EXPECT_DEATH(({
                 Vm vm;
                 pthread_t t;
                 pthread_create(&t, nullptr, lookupFromOtherThread, &vm);
                 pthread_join(t, nullptr);
               }),
               "lookupClass: called from a thread that is not attached to the VM");
  EXPECT_DEATH(({
                 Vm vm;
                 vm.detachCurrentThread();
                 vm.lookupClass("tesk/lang/String");
               }),
               "lookupClass: called after detachCurrentThread");
  EXPECT_DEATH(({
                 Vm vm;
                 ThreadIface t = vm.thread();
                 vm.destroyVm();
                 reinterpret_cast<Ref (*)(ThreadIface, const char *)>(t->table[kLookupClass])(t, "tesk/lang/String");
               }),
               "lookupClass: called when no VM exists");
  EXPECT_DEATH(({
                 Vm vm;
                 VmHandle h = vm.handle();
                 vm.destroyVm();
                 reinterpret_cast<int (*)(VmHandle)>(h->table[kDestroyVm])(h);
               }),
               "destroyVm: called when no VM exists");
  EXPECT_DEATH(({
                 Vm vm;
                 VmObject fake = {vm.thread()->table};
                 reinterpret_cast<Ref (*)(ThreadIface, const char *)>(fake.table[kLookupClass])(&fake, "x");
               }),
               "lookupClass: the first argument is not the thread interface of this VM");
}

} // namespace
