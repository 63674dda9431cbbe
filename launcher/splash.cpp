// The splash screen bridge.

#include "launcher/splash.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "launcher/oru.h"

namespace {

void *splashLibrary = nullptr;

typedef void (*SplashInitFn)();
typedef void (*SplashLoadMemoryFn)(void *, int);
typedef void (*SplashLoadFileFn)(const char *);
typedef int (*SplashSetFileZubNameFn)(const char *, const char *);

SplashInitFn initFn = nullptr;
SplashLoadMemoryFn loadMemoryFn = nullptr;
SplashLoadFileFn loadFileFn = nullptr;
SplashSetFileZubNameFn setFileZubNameFn = nullptr;

// Fills `*cached` from the library on first use; false while the function cannot be found.
template <typename Fn> bool bind(Fn *cached, const char *name) {
  if (!*cached)
    *cached = reinterpret_cast<Fn>(splashSymbol(name));
  return *cached != nullptr;
}

} // namespace

void *splashSymbol(const char *name) {
  if (!splashLibrary) {
    char runtime[kPathMax];
    if (!findRuntimeDir(runtime, kPathMax, kArch)) {
      reportError("Error: Could not find Tesk KV Runtime Environment.");
      return nullptr;
    }
    char path[kPathMax];
    int length = snprintf(path, sizeof path, "%s/lib/%s/%s", runtime, kArch, "libsplashscreen.so");
    if (length < 0) {
      reportError("Error: String processing operation failed");
      return nullptr;
    }
    if (length > kPathMax - 1) {
      reportError("Error: Path length exceeds maximum length (PATH_MAX)");
      return nullptr;
    }
    splashLibrary = dlopen(path, RTLD_LAZY | RTLD_GLOBAL);
    trace("Info: loaded %s\n", path);
    if (!splashLibrary)
      return nullptr;
  }
  return dlsym(splashLibrary, name);
}

void splashInit() {
  if (bind(&initFn, "SplashInit"))
    initFn();
}

void splashLoadMemory(void *bytes, int count) {
  if (bind(&loadMemoryFn, "SplashLoadMemory"))
    loadMemoryFn(bytes, count);
}

void splashLoadFile(const char *name) {
  if (bind(&loadFileFn, "SplashLoadFile"))
    loadFileFn(name);
}

int splashSetFileZubName(const char *name, const char *zubName) {
  if (bind(&setFileZubNameFn, "SplashSetFileZubName"))
    return setFileZubNameFn(name, zubName);
  return 0;
}

void startSplash() {
  const char *zubFile = getenv("_TESK_SPLASH_ZUB");
  const char *image = getenv("_TESK_SPLASH_FILE");
  // A zub file without an entry name names no image.
  if (!image)
    return;
  if (zubFile) {
    int size = 0;
    void *data = ORU_ZubUnpackFile(zubFile, image, &size);
    if (data) {
      splashInit();
      splashLoadMemory(data, size);
      ORU_MemFree(data);
    }
    splashSetFileZubName(image, zubFile);
  } else {
    splashInit();
    splashLoadFile(image);
    splashSetFileZubName(image, nullptr);
  }
}
