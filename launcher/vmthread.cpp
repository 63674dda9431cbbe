// The VM thread: TeskMain and the conversions it needs.

#include "launcher/vmthread.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/catalogue.h"
#include "launcher/oru.h"
#include "launcher/usage.h"
#include "launcher/vmcalls.h"

// The platform encoding as a VM string; null until the VM has told it.
static Ref platformEncoding = nullptr;

static void fetchPlatformEncoding(ThreadIface t) {
  Ref property = vm::newUtfString(t, "mox.qel.encoding");
  if (!property) {
    // Asking for the property without its name would only raise an exception in the VM.
    reportKruError();
    return;
  }
  Ref system = vm::lookupClass(t, "tesk/lang/System");
  MethodId getProperty =
      system ? vm::lookupStaticMethod(t, system, "getProperty",
                                      "(Ltesk/lang/String;)Ltesk/lang/String;")
             : nullptr;
  if (!getProperty) {
    reportKruError();
    return;
  }
  platformEncoding = vm::invokeStaticObjectMethod(t)(t, system, getProperty, property);
}

Ref nativeToVmString(ThreadIface t, const char *text) {
  if (!text)
    return nullptr;
  if (!platformEncoding)
    fetchPlatformEncoding(t);

  int length = int(strlen(text));
  Ref bytes = vm::makeByteArray(t, length);
  if (!bytes)
    return nullptr;
  vm::fillByteArray(t, bytes, length, reinterpret_cast<const signed char *>(text));
  if (vm::pendingException(t)) {
    vm::dropLocalRef(t, bytes);
    return nullptr;
  }

  bool supported = false;
  Ref charset = vm::lookupClass(t, "tesk/nio/charset/Charset");
  MethodId isSupported =
      charset ? vm::lookupStaticMethod(t, charset, "isSupported", "(Ltesk/lang/String;)Z")
              : nullptr;
  if (!isSupported)
    reportKruError();
  else if (platformEncoding)
    // Asking about a null encoding would only raise an exception in the VM.
    supported = vm::invokeStaticBooleanMethod(t)(t, charset, isSupported, platformEncoding) == 1;

  Ref result = nullptr;
  Ref stringClass = vm::lookupClass(t, "tesk/lang/String");
  MethodId ctor = stringClass ? vm::lookupMethod(t, stringClass, "<init>",
                                                 supported ? "([BLtesk/lang/String;)V" : "([B)V")
                              : nullptr;
  if (!ctor)
    reportKruError();
  else if (supported)
    result = vm::constructObject(t)(t, stringClass, ctor, bytes, platformEncoding);
  else
    result = vm::constructObject(t)(t, stringClass, ctor, bytes);
  vm::dropLocalRef(t, bytes);
  return result;
}

Ref findMainClass(ThreadIface t, const char *name) {
  char *slashed = ORU_StringDup(name);
  for (char *p = slashed; *p; ++p)
    if (*p == '.')
      *p = '/';
  Ref cls = vm::lookupClass(t, slashed);
  ORU_MemFree(slashed);
  trace("%ld micro seconds to load main class\n", 1L);
  trace("----_TESK_LAUNCHER_DEBUG----\n");
  return cls;
}

// The main class name from the zub file's manifest, or null. Failures of the VM's class library
// draw the KRU error message; a manifest without main attributes stays silent.
static Ref mainClassFromZub(ThreadIface t, const char *zubFile) {
  Ref zubClass = vm::lookupClass(t, "tesk/util/zub/ZubFile");
  MethodId ctor =
      zubClass ? vm::lookupMethod(t, zubClass, "<init>", "(Ltesk/lang/String;)V") : nullptr;
  Ref path = ctor ? nativeToVmString(t, zubFile) : nullptr;
  Ref zub = path ? vm::constructObject(t)(t, zubClass, ctor, path) : nullptr;
  MethodId getManifest =
      zub ? vm::lookupMethod(t, zubClass, "getManifest", "()Ltesk/util/zub/Manifest;") : nullptr;
  if (!getManifest) {
    reportKruError();
    return nullptr;
  }
  Ref manifest = vm::invokeObjectMethod(t)(t, zub, getManifest);
  if (!manifest)
    return nullptr;
  MethodId getMainAttributes = vm::lookupMethod(t, vm::classOf(t, manifest), "getMainAttributes",
                                                "()Ltesk/util/zub/Attributes;");
  if (!getMainAttributes) {
    reportKruError();
    return nullptr;
  }
  Ref attributes = vm::invokeObjectMethod(t)(t, manifest, getMainAttributes);
  if (!attributes)
    return nullptr;
  MethodId getValue = vm::lookupMethod(t, vm::classOf(t, attributes), "getValue",
                                       "(Ltesk/lang/String;)Ltesk/lang/String;");
  Ref key = getValue ? nativeToVmString(t, "Main-Class") : nullptr;
  if (!key) {
    reportKruError();
    return nullptr;
  }
  return vm::invokeObjectMethod(t)(t, attributes, getValue, key);
}

namespace {

// The outcome of running the main class: the status and the message due at the end, if any.
struct Outcome {
  int status = 0;
  char *message = nullptr;

  void fail(char *text) {
    status = 1;
    message = text;
  }
  // The exception exit: the pending exception is the report.
  void exceptionExit(ThreadIface t) {
    vm::describeException(t);
    status = 1;
  }
};

// Steps from the main class name to the return of main; fills `out`.
void runMainClass(VmHandle vmHandle, ThreadIface t, LaunchArgs *args, Outcome *out) {
  Ref name;
  if (args->zubFile) {
    name = mainClassFromZub(t, args->zubFile);
    if (vm::pendingException(t))
      return out->exceptionExit(t);
    if (!name)
      return out->fail(
          formatMessage("Failed to load Main-Class manifest attribute from\n%s", args->zubFile));
  } else {
    name = nativeToVmString(t, args->mainClassName);
    if (!name)
      return out->fail(formatMessage("Failed to load Main Class: %s", args->mainClassName));
  }

  const char *nameText = vm::utfCharsOf(t, name);
  if (!nameText)
    return out->exceptionExit(t);
  Ref mainClass = findMainClass(t, nameText);
  if (!mainClass) {
    vm::describeException(t);
    return out->fail(
        formatMessage("Could not find the main class: %s. Program will exit.", nameText));
  }
  vm::releaseUtfChars(t, name, nameText);

  MethodId mainId = vm::lookupStaticMethod(t, mainClass, "main", "([Ltesk/lang/String;)V");
  if (!mainId) {
    if (vm::pendingException(t))
      return out->exceptionExit(t);
    return out->fail(ORU_StringDup("No main method found in specified class."));
  }

  Ref method = vm::reflectMethod(t, mainClass, mainId, 1);
  if (!method)
    return out->exceptionExit(t);
  MethodId getModifiers = vm::lookupMethod(t, vm::classOf(t, method), "getModifiers", "()I");
  if (!getModifiers) {
    // Invoking a null method would crash inside the VM.
    if (vm::pendingException(t))
      return out->exceptionExit(t);
    reportKruError();
    out->status = 1;
    return;
  }
  int modifiers = vm::invokeIntMethod(t)(t, method, getModifiers);
  if (vm::pendingException(t))
    return out->exceptionExit(t);
  if ((modifiers & 1) == 0)
    return out->fail(ORU_StringDup("Main method not public."));

  Ref stringClass = vm::lookupClass(t, "tesk/lang/String");
  Ref array = stringClass ? vm::makeObjectArray(t, args->argc, stringClass) : nullptr;
  if (!array) {
    reportKruError();
    return out->exceptionExit(t);
  }
  for (int i = 0; i < args->argc; ++i) {
    Ref arg = nativeToVmString(t, args->argv[i]);
    if (!arg) {
      reportKruError();
      return out->exceptionExit(t);
    }
    vm::storeArrayElement(t, array, i, arg);
    vm::dropLocalRef(t, arg);
  }

  vm::invokeStaticVoidMethod(t)(t, mainClass, mainId, array);
  out->status = vm::pendingException(t) ? 1 : 0;

  if (vm::detachCurrentThread(vmHandle) != 0)
    out->fail(ORU_StringDup("Could not detach main thread."));
}

} // namespace

extern "C" int TeskMain(LaunchArgs *args) {
  CreationRecord record;
  record.version = kCreationVersion;
  record.optionCount = vmOptions.count;
  record.options = vmOptions.options;
  record.ignoreUnrecognized = 0;
  trace("TeskVM args:\n    ");
  trace("version 0x%08lx, ", long(record.version));
  trace("ignoreUnrecognized is %s, ", "KRU_FALSE");
  trace("nOptions is %ld\n", long(record.optionCount));
  for (int i = 0; i < record.optionCount; ++i)
    trace("    option[%2d] = '%s'\n", i, record.options[i].text);

  VmHandle vmHandle = nullptr;
  ThreadIface thread = nullptr;
  int created = args->createVm(&vmHandle, &thread, &record);
  ORU_MemFree(vmOptions.options);
  vmOptions.options = nullptr;
  vmOptions.count = vmOptions.capacity = 0;
  if (created != 0) {
    reportError("Could not create the Tesk virtual machine.");
    exit(1);
  }

  int shown = printVersionAndUsage(vmHandle, thread, args);
  if (shown >= 0)
    return shown;

  freeVmCatalogue();

  trace("%ld micro seconds to InitializeRASK\n", 1L);
  trace("Main-Class is '%s'\n", args->mainClassName ? args->mainClassName : "");
  trace("Apps' argc is %d\n", args->argc);
  for (int i = 0; i < args->argc; ++i)
    trace("    argv[%2d] = '%s'\n", i, args->argv[i]);

  Outcome outcome;
  runMainClass(vmHandle, thread, args, &outcome);

  vm::destroyVm(vmHandle);
  if (outcome.message) {
    reportError(outcome.message, !suppressExitMessage);
    ORU_MemFree(outcome.message);
  }
  return outcome.status;
}
