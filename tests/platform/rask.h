#ifndef TESTS_PLATFORM_RASK_H
#define TESTS_PLATFORM_RASK_H

// Drives librask.so's tables from a test the way a launcher does.

#include <string>
#include <vector>

#include "launcher/rask.h"

namespace platformtest {

struct RaskLib {
  CreateTeskVMFn create;
  GetDefaultTeskVMInitArgsFn defaults;
};
// The library, loaded once per process.
const RaskLib &rask();

// A created VM and its thread interface; destroys the VM on destruction unless already done.
class Vm {
 public:
  // Creates the VM with these options; `ok()` tells whether it worked.
  explicit Vm(const std::vector<std::string> &options = {});
  ~Vm();
  Vm(const Vm &) = delete;
  Vm &operator=(const Vm &) = delete;
  bool ok() const { return status_ == 0; }
  int status() const { return status_; }
  VmHandle handle() const { return vm_; }
  ThreadIface thread() const { return env_; }

  Ref lookupClass(const char *name);
  Ref reflectMethod(Ref cls, MethodId m, unsigned char isStatic);
  Ref pendingException();
  void describeException();
  void dropLocalRef(Ref r);
  template <typename... A> Ref constructObject(Ref cls, MethodId ctor, A... args) {
    return reinterpret_cast<Ref (*)(ThreadIface, Ref, MethodId, ...)>(env_->table[kConstructObject])(env_, cls, ctor,
                                                                                                    args...);
  }
  Ref classOf(Ref obj);
  MethodId lookupMethod(Ref cls, const char *name, const char *sig);
  template <typename... A> Ref invokeObjectMethod(Ref obj, MethodId m, A... args) {
    return reinterpret_cast<Ref (*)(ThreadIface, Ref, MethodId, ...)>(env_->table[kInvokeObjectMethod])(env_, obj, m,
                                                                                                       args...);
  }
  int invokeIntMethod(Ref obj, MethodId m) {
    return reinterpret_cast<int (*)(ThreadIface, Ref, MethodId, ...)>(env_->table[kInvokeIntMethod])(env_, obj, m);
  }
  MethodId lookupStaticMethod(Ref cls, const char *name, const char *sig);
  template <typename... A> Ref invokeStaticObjectMethod(Ref cls, MethodId m, A... args) {
    return reinterpret_cast<Ref (*)(ThreadIface, Ref, MethodId, ...)>(env_->table[kInvokeStaticObjectMethod])(
        env_, cls, m, args...);
  }
  template <typename... A> unsigned char invokeStaticBooleanMethod(Ref cls, MethodId m, A... args) {
    return reinterpret_cast<unsigned char (*)(ThreadIface, Ref, MethodId, ...)>(
        env_->table[kInvokeStaticBooleanMethod])(env_, cls, m, args...);
  }
  template <typename... A> void invokeStaticVoidMethod(Ref cls, MethodId m, A... args) {
    reinterpret_cast<void (*)(ThreadIface, Ref, MethodId, ...)>(env_->table[kInvokeStaticVoidMethod])(env_, cls, m,
                                                                                                     args...);
  }
  Ref newUtfString(const char *text);
  const char *utfCharsOf(Ref str);
  void releaseUtfChars(Ref str, const char *chars);
  Ref makeObjectArray(int length, Ref elementClass, Ref initial = nullptr);
  void storeArrayElement(Ref array, int index, Ref element);
  Ref makeByteArray(int length);
  void fillByteArray(Ref array, int start, int length, const signed char *bytes);
  int detachCurrentThread();
  int destroyVm();

  // Conveniences built on the calls above.
  std::string text(Ref str); // utfCharsOf + releaseUtfChars; "<null>" for null
  bool exceptionPending() { return pendingException() != nullptr; }
  Ref bytes(const std::string &data);
  // A String from bytes through "([BLtesk/lang/String;)V", or "([B)V" when charset is null.
  Ref stringFromBytes(const std::string &data, const char *charset);
  Ref stringArray(const std::vector<std::string> &items);

 private:
  int status_ = -1;
  bool destroyed_ = false;
  VmHandle vm_ = nullptr;
  ThreadIface env_ = nullptr;
};

} // namespace platformtest

#endif
