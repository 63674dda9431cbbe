// The version and usage output.

#include "launcher/usage.h"

#include <cstdio>

#include "launcher/catalogue.h"
#include "launcher/serverclass.h"
#include "launcher/vmcalls.h"

namespace {

// Prints the version banner through "mox/misc/Version".print().
void printVersion(ThreadIface t) {
  Ref version = vm::lookupClass(t, "mox/misc/Version");
  MethodId print = version ? vm::lookupStaticMethod(t, version, "print", "()V") : nullptr;
  if (!print) {
    reportKruError();
    return;
  }
  vm::invokeStaticVoidMethod(t)(t, version, print);
}

// The calls of one usage text on "mox/launcher/LauncherHelp". A failure of the VM's class
// library (a missing method, a string that cannot be made) is reported once and stops the rest:
// calling on with an exception pending is not allowed by the VM's contract, and a partial text
// helps nobody.
class HelpCalls {
public:
  HelpCalls(ThreadIface t, Ref helpClass) : t_(t), class_(helpClass) {}

  // False once anything has failed.
  bool ok() const { return !failed_; }

  // The static method `name` with `signature`, or null after reporting the failure.
  MethodId method(const char *name, const char *signature) {
    if (failed_)
      return nullptr;
    MethodId m = vm::lookupStaticMethod(t_, class_, name, signature);
    if (!m)
      fail();
    return m;
  }

  // `text` as a VM string, or null after reporting the failure.
  Ref string(const char *text) {
    if (failed_)
      return nullptr;
    Ref s = text ? vm::newUtfString(t_, text) : nullptr;
    if (!s)
      fail();
    return s;
  }

  // Invokes `m` with the method's own arguments unless something has failed already; an
  // exception it leaves pending stops the later calls.
  template <typename... Args> void call(MethodId m, Args... arguments) {
    if (failed_)
      return;
    vm::invokeStaticVoidMethod(t_)(t_, class_, m, arguments...);
    if (vm::pendingException(t_))
      failed_ = true;
  }

  // Invokes `m` with two texts, made into VM strings in this order.
  void callWithTexts(MethodId m, const char *first, const char *second) {
    Ref a = string(first);
    Ref b = string(second);
    call(m, a, b);
  }

private:
  void fail() {
    // A pending exception tells its own story when it is described; the KRU message is due
    // either way.
    reportKruError();
    failed_ = true;
  }

  ThreadIface t_;
  Ref class_;
  bool failed_ = false;
};

// Builds and prints the usage text. False when it could not be printed (the failure has been
// reported, or an exception is pending).
bool printUsage(ThreadIface t) {
  Ref helpClass = vm::lookupClass(t, "mox/launcher/LauncherHelp");
  if (!helpClass) {
    reportKruError();
    return false;
  }
  HelpCalls help(t, helpClass);

  if (extraHelpWanted) {
    MethodId xUsage = help.method("printXUsageMessage", "(Z)V");
    help.call(xUsage, int(1));
    return help.ok();
  }

  // Every method is looked up before the first is invoked, so that a class library without one
  // of them prints nothing at all.
  MethodId init = help.method("initHelpMessage", "(Ltesk/lang/String;)V");
  MethodId select =
      help.method("appendVmSelectMessage", "(Ltesk/lang/String;Ltesk/lang/String;)V");
  MethodId synonym =
      help.method("appendVmSynonymMessage", "(Ltesk/lang/String;Ltesk/lang/String;)V");
  MethodId ergo = help.method("appendVmErgoMessage", "(ZLtesk/lang/String;)V");
  MethodId print = help.method("printHelpMessage", "(Z)V");
  if (!help.ok())
    return false;

  help.call(init, help.string(programName));

  const VmCatalogueEntry *entries = vmCatalogue.entries;
  const int count = vmCatalogue.count;
  if (count > 0 && (entries[0].kind == VM_KNOWN || entries[0].kind == VM_IF_SERVER_CLASS))
    help.callWithTexts(select, entries[0].name, vmName(entries[0].name));
  for (int i = 1; i < count && help.ok(); ++i)
    if (entries[i].kind == VM_KNOWN)
      help.callWithTexts(select, entries[i].name, vmName(entries[i].name));
  for (int i = 1; i < count && help.ok(); ++i)
    if (entries[i].kind == VM_ALIASED_TO)
      help.callWithTexts(synonym, entries[i].name, vmName(entries[i].alias));

  if (help.ok()) {
    bool serverClass = isServerClassMachine();
    const char *defaultVm = catalogueDefaultVm(serverClass);
    help.call(ergo, int(serverClass), help.string(defaultVm ? defaultVm : ""));
  }
  help.call(print, int(1));
  return help.ok();
}

} // namespace

int printVersionAndUsage(VmHandle vmHandle, ThreadIface t, const LaunchArgs *args) {
  if (versionOnly || versionFirst) {
    printVersion(t);
    if (vm::pendingException(t)) {
      // A version that cannot be printed is not worth failing the run for.
      vm::describeException(t);
      vm::destroyVm(vmHandle);
      return 0;
    }
    if (versionOnly) {
      vm::destroyVm(vmHandle);
      return 0;
    }
    fputc('\n', stderr);
  }

  if (extraHelpWanted || helpWanted || (!args->mainClassName && !args->zubFile)) {
    bool printed = printUsage(t);
    int status = 0;
    if (vm::pendingException(t)) {
      vm::describeException(t);
      status = 1;
    } else if (!printed) {
      status = 1;
    }
    vm::destroyVm(vmHandle);
    return status;
  }
  return -1;
}
