#ifndef QUILLET_SPLASH_H
#define QUILLET_SPLASH_H

// The splash screen: the image named by "_TESK_SPLASH_FILE" (an entry of the zub file
// "_TESK_SPLASH_ZUB" when that is set) is shown by the runtime's splash-screen library
// RT/lib/i386/libsplashscreen.so, which the bridge below loads on first use.
//
// The bridge functions carry names of their own: the library is loaded with global symbols into
// this process, and functions of the library's names here could be bound in its place.

// The function `name` of the splash-screen library, loading the library first when it is not
// loaded yet; null when the library cannot be loaded (a message on standard error tells why,
// except for a failing dlopen) or lacks the function. A failed load is tried again on the next
// call. `name` must not be null.
void *splashSymbol(const char *name);

// Forward to the library's "SplashInit", "SplashLoadMemory", "SplashLoadFile" and
// "SplashSetFileZubName". Each finds its function on first use and remembers it; while it
// cannot be found, the call does nothing (splashSetFileZubName then returns 0).
void splashInit();
// `bytes` holds `count` bytes of an encoded image; the library may read them during the call.
void splashLoadMemory(void *bytes, int count);
// `name` names an image file.
void splashLoadFile(const char *name);
// Tells the library the image's name and the zub file it came from (null for a plain file).
int splashSetFileZubName(const char *name, const char *zubName);

// Shows the splash image the environment names, if any: the entry "_TESK_SPLASH_FILE" of the zub
// file "_TESK_SPLASH_ZUB", or the file "_TESK_SPLASH_FILE" alone. Never fails the launch; without
// an image name the library is not even loaded.
void startSplash();

#endif
