#ifndef QUILLET_RASK_H
#define QUILLET_RASK_H

// The VM library librask.so, opened at run time. Every call through a table passes the handle
// (or the thread interface) itself first, then the operation's own arguments.

extern "C" {

struct VmObject {
  void *const *table;
};
typedef VmObject *VmHandle;
typedef VmObject *ThreadIface;
typedef void *Ref;      // class, object, string or array; null = none
typedef void *MethodId; // what the method look-ups return; null = none

struct VmOption {
  char *text;
  void *extraInfo; // always null
};

struct CreationRecord {
  int version; // 0x00010002
  int optionCount;
  VmOption *options;
  unsigned char ignoreUnrecognized; // always 0
};

typedef int (*CreateTeskVMFn)(VmHandle *outVm, ThreadIface *outThread, CreationRecord *args);
typedef int (*GetDefaultTeskVMInitArgsFn)(void *defaultArgs);
}

// Slots of the VM handle's table.
enum VmSlot { kDestroyVm = 3, kDetachCurrentThread = 5 };

// Slots of the thread interface's table.
enum ThreadSlot {
  kLookupClass = 6,
  kReflectMethod = 9,
  kPendingException = 15,
  kDescribeException = 16,
  kDropLocalRef = 23,
  kConstructObject = 28,
  kClassOf = 31,
  kLookupMethod = 33,
  kInvokeObjectMethod = 34,
  kInvokeIntMethod = 49,
  kLookupStaticMethod = 113,
  kInvokeStaticObjectMethod = 114,
  kInvokeStaticBooleanMethod = 117,
  kInvokeStaticVoidMethod = 141,
  kNewUtfString = 167,
  kUtfCharsOf = 169,
  kReleaseUtfChars = 170,
  kMakeObjectArray = 172,
  kStoreArrayElement = 174,
  kMakeByteArray = 176,
  kFillByteArray = 208,
};

// Default-arguments record: 18 words; word 1 is set to kDefaultArgsVersion before the call, word 5
// holds the default thread stack size in bytes after it.
enum { kDefaultArgsWords = 18, kDefaultArgsVersionWord = 1, kDefaultArgsStackWord = 5 };
const int kDefaultArgsVersion = 0x00010001;
const int kCreationVersion = 0x00010002;

#endif
