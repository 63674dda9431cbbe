#ifndef QUILLET_VMCALLS_H
#define QUILLET_VMCALLS_H

// Typed calls through the VM's two function tables. Each one passes the handle or the thread
// interface itself first; the "..." operations take the method's own arguments as C variadic
// arguments (references as pointers, booleans and ints as int). The caller guarantees that the
// slot is filled, as the VM library's contract promises for every slot used here.

#include "launcher/rask.h"

namespace vm {

template <typename Fn> inline Fn slot(VmObject *object, int index) {
  return reinterpret_cast<Fn>(object->table[index]);
}

inline int destroyVm(VmHandle h) { return slot<int (*)(VmHandle)>(h, kDestroyVm)(h); }
inline int detachCurrentThread(VmHandle h) {
  return slot<int (*)(VmHandle)>(h, kDetachCurrentThread)(h);
}

inline Ref lookupClass(ThreadIface t, const char *slashedName) {
  return slot<Ref (*)(ThreadIface, const char *)>(t, kLookupClass)(t, slashedName);
}
inline Ref reflectMethod(ThreadIface t, Ref cls, MethodId m, unsigned char isStatic) {
  return slot<Ref (*)(ThreadIface, Ref, MethodId, unsigned char)>(t, kReflectMethod)(t, cls, m,
                                                                                    isStatic);
}
inline Ref pendingException(ThreadIface t) {
  return slot<Ref (*)(ThreadIface)>(t, kPendingException)(t);
}
inline void describeException(ThreadIface t) {
  slot<void (*)(ThreadIface)>(t, kDescribeException)(t);
}
inline void dropLocalRef(ThreadIface t, Ref r) {
  slot<void (*)(ThreadIface, Ref)>(t, kDropLocalRef)(t, r);
}
typedef Ref (*ConstructObjectFn)(ThreadIface, Ref, MethodId, ...);
inline ConstructObjectFn constructObject(ThreadIface t) {
  return slot<ConstructObjectFn>(t, kConstructObject);
}
inline Ref classOf(ThreadIface t, Ref obj) {
  return slot<Ref (*)(ThreadIface, Ref)>(t, kClassOf)(t, obj);
}
inline MethodId lookupMethod(ThreadIface t, Ref cls, const char *name, const char *signature) {
  return slot<MethodId (*)(ThreadIface, Ref, const char *, const char *)>(t, kLookupMethod)(
      t, cls, name, signature);
}
typedef Ref (*InvokeObjectMethodFn)(ThreadIface, Ref, MethodId, ...);
inline InvokeObjectMethodFn invokeObjectMethod(ThreadIface t) {
  return slot<InvokeObjectMethodFn>(t, kInvokeObjectMethod);
}
typedef int (*InvokeIntMethodFn)(ThreadIface, Ref, MethodId, ...);
inline InvokeIntMethodFn invokeIntMethod(ThreadIface t) {
  return slot<InvokeIntMethodFn>(t, kInvokeIntMethod);
}
inline MethodId lookupStaticMethod(ThreadIface t, Ref cls, const char *name,
                                   const char *signature) {
  return slot<MethodId (*)(ThreadIface, Ref, const char *, const char *)>(t, kLookupStaticMethod)(
      t, cls, name, signature);
}
typedef Ref (*InvokeStaticObjectMethodFn)(ThreadIface, Ref, MethodId, ...);
inline InvokeStaticObjectMethodFn invokeStaticObjectMethod(ThreadIface t) {
  return slot<InvokeStaticObjectMethodFn>(t, kInvokeStaticObjectMethod);
}
typedef unsigned char (*InvokeStaticBooleanMethodFn)(ThreadIface, Ref, MethodId, ...);
inline InvokeStaticBooleanMethodFn invokeStaticBooleanMethod(ThreadIface t) {
  return slot<InvokeStaticBooleanMethodFn>(t, kInvokeStaticBooleanMethod);
}
typedef void (*InvokeStaticVoidMethodFn)(ThreadIface, Ref, MethodId, ...);
inline InvokeStaticVoidMethodFn invokeStaticVoidMethod(ThreadIface t) {
  return slot<InvokeStaticVoidMethodFn>(t, kInvokeStaticVoidMethod);
}
inline Ref newUtfString(ThreadIface t, const char *text) {
  return slot<Ref (*)(ThreadIface, const char *)>(t, kNewUtfString)(t, text);
}
inline const char *utfCharsOf(ThreadIface t, Ref str) {
  return slot<const char *(*)(ThreadIface, Ref, unsigned char *)>(t, kUtfCharsOf)(t, str,
                                                                                 nullptr);
}
inline void releaseUtfChars(ThreadIface t, Ref str, const char *chars) {
  slot<void (*)(ThreadIface, Ref, const char *)>(t, kReleaseUtfChars)(t, str, chars);
}
inline Ref makeObjectArray(ThreadIface t, int length, Ref elementClass) {
  return slot<Ref (*)(ThreadIface, int, Ref, Ref)>(t, kMakeObjectArray)(t, length, elementClass,
                                                                        nullptr);
}
inline void storeArrayElement(ThreadIface t, Ref array, int index, Ref element) {
  slot<void (*)(ThreadIface, Ref, int, Ref)>(t, kStoreArrayElement)(t, array, index, element);
}
inline Ref makeByteArray(ThreadIface t, int length) {
  return slot<Ref (*)(ThreadIface, int)>(t, kMakeByteArray)(t, length);
}
inline void fillByteArray(ThreadIface t, Ref array, int length, const signed char *bytes) {
  slot<void (*)(ThreadIface, Ref, int, int, const signed char *)>(t, kFillByteArray)(
      t, array, 0, length, bytes);
}

} // namespace vm

#endif
