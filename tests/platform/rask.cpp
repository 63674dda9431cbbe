#include "rask.h"

#include <cstring>

#include <gtest/gtest.h>

#include "helpers.h"

namespace platformtest {

const RaskLib &rask() {
  static RaskLib r = [] {
    RaskLib l{};
    void *lib = openLibrary(PLATFORM_RASK_LIB);
    l.create = reinterpret_cast<CreateTeskVMFn>(symbol(lib, "KRU_CreateTeskVM"));
    l.defaults = reinterpret_cast<GetDefaultTeskVMInitArgsFn>(symbol(lib, "KRU_GetDefaultTeskVMInitArgs"));
    return l;
  }();
  return r;
}

Vm::Vm(const std::vector<std::string> &options) {
  // Like the launcher: the array is freed (here: scribbled over first) right after the call.
  std::vector<char *> texts;
  for (const std::string &o : options) texts.push_back(strdup(o.c_str()));
  VmOption *array = new VmOption[options.size() + 1];
  for (size_t i = 0; i < options.size(); ++i) array[i] = {texts[i], nullptr};
  CreationRecord rec{kCreationVersion, static_cast<int>(options.size()), array, 0};
  status_ = rask().create(&vm_, &env_, &rec);
  memset(array, 0x5a, sizeof(VmOption) * (options.size() + 1));
  delete[] array;
  for (char *t : texts) {
    memset(t, 'Z', strlen(t));
    free(t);
  }
}

Vm::~Vm() {
  if (ok() && !destroyed_) destroyVm();
}

template <typename F> static F slot(VmObject *o, int k) { return reinterpret_cast<F>(o->table[k]); }

Ref Vm::lookupClass(const char *name) {
  return slot<Ref (*)(ThreadIface, const char *)>(env_, kLookupClass)(env_, name);
}
Ref Vm::reflectMethod(Ref cls, MethodId m, unsigned char isStatic) {
  return slot<Ref (*)(ThreadIface, Ref, MethodId, unsigned char)>(env_, kReflectMethod)(env_, cls, m, isStatic);
}
Ref Vm::pendingException() { return slot<Ref (*)(ThreadIface)>(env_, kPendingException)(env_); }
void Vm::describeException() { slot<void (*)(ThreadIface)>(env_, kDescribeException)(env_); }
void Vm::dropLocalRef(Ref r) { slot<void (*)(ThreadIface, Ref)>(env_, kDropLocalRef)(env_, r); }
Ref Vm::classOf(Ref obj) { return slot<Ref (*)(ThreadIface, Ref)>(env_, kClassOf)(env_, obj); }
MethodId Vm::lookupMethod(Ref cls, const char *name, const char *sig) {
  return slot<MethodId (*)(ThreadIface, Ref, const char *, const char *)>(env_, kLookupMethod)(env_, cls, name, sig);
}
MethodId Vm::lookupStaticMethod(Ref cls, const char *name, const char *sig) {
  return slot<MethodId (*)(ThreadIface, Ref, const char *, const char *)>(env_, kLookupStaticMethod)(env_, cls, name,
                                                                                                   sig);
}
Ref Vm::newUtfString(const char *text) {
  return slot<Ref (*)(ThreadIface, const char *)>(env_, kNewUtfString)(env_, text);
}
const char *Vm::utfCharsOf(Ref str) {
  return slot<const char *(*)(ThreadIface, Ref, unsigned char *)>(env_, kUtfCharsOf)(env_, str, nullptr);
}
void Vm::releaseUtfChars(Ref str, const char *chars) {
  slot<void (*)(ThreadIface, Ref, const char *)>(env_, kReleaseUtfChars)(env_, str, chars);
}
Ref Vm::makeObjectArray(int length, Ref elementClass, Ref initial) {
  return slot<Ref (*)(ThreadIface, int, Ref, Ref)>(env_, kMakeObjectArray)(env_, length, elementClass, initial);
}
void Vm::storeArrayElement(Ref array, int index, Ref element) {
  slot<void (*)(ThreadIface, Ref, int, Ref)>(env_, kStoreArrayElement)(env_, array, index, element);
}
Ref Vm::makeByteArray(int length) { return slot<Ref (*)(ThreadIface, int)>(env_, kMakeByteArray)(env_, length); }
void Vm::fillByteArray(Ref array, int start, int length, const signed char *bytes) {
  slot<void (*)(ThreadIface, Ref, int, int, const signed char *)>(env_, kFillByteArray)(env_, array, start, length,
                                                                                      bytes);
}
int Vm::detachCurrentThread() { return slot<int (*)(VmHandle)>(vm_, kDetachCurrentThread)(vm_); }
int Vm::destroyVm() {
  destroyed_ = true;
  return slot<int (*)(VmHandle)>(vm_, kDestroyVm)(vm_);
}

std::string Vm::text(Ref str) {
  if (!str) return "<null>";
  const char *chars = utfCharsOf(str);
  std::string s = chars ? chars : "<null chars>";
  releaseUtfChars(str, chars);
  return s;
}

Ref Vm::bytes(const std::string &data) {
  Ref b = makeByteArray(static_cast<int>(data.size()));
  if (b) fillByteArray(b, 0, static_cast<int>(data.size()), reinterpret_cast<const signed char *>(data.data()));
  return b;
}

Ref Vm::stringFromBytes(const std::string &data, const char *charset) {
  Ref cls = lookupClass("tesk/lang/String");
  Ref b = bytes(data);
  if (charset) {
    MethodId ctor = lookupMethod(cls, "<init>", "([BLtesk/lang/String;)V");
    return constructObject(cls, ctor, b, newUtfString(charset));
  }
  return constructObject(cls, lookupMethod(cls, "<init>", "([B)V"), b);
}

Ref Vm::stringArray(const std::vector<std::string> &items) {
  Ref array = makeObjectArray(static_cast<int>(items.size()), lookupClass("tesk/lang/String"));
  for (size_t i = 0; i < items.size(); ++i) storeArrayElement(array, static_cast<int>(i), newUtfString(items[i].c_str()));
  return array;
}

} // namespace platformtest
