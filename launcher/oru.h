#ifndef QUILLET_ORU_H
#define QUILLET_ORU_H

// The launcher support library liboru.so, linked through the run path $ORIGIN/../lib/i386/oru.
// C linkage, cdecl, i386 layout.

extern "C" {

// Facts of a zub file's main manifest section. The launcher never reads `unused`.
struct ManifestData {
  char *unused;
  char *mainClass;     // "Main-Class", may be null
  char *versionSpec;   // "UBO-Version", may be null
  char restrictSearch; // "UBO-Restrict-Search": 1 when "true"
  char *splashImage;   // "Splash-Image", may be null
};

// A usable heap block of `size` bytes (never checked by the launcher).
void *ORU_MemAlloc(int size);
// Frees a block from ORU_MemAlloc/ORU_StringDup/ORU_ZubUnpackFile; null is ignored.
void ORU_MemFree(void *block);
// A heap copy of `s`, freed with ORU_MemFree.
char *ORU_StringDup(const char *s);
// The class path with its wildcard elements expanded; never freed by the launcher.
char *ORU_WildcardExpandClasspath(const char *classpath);
// Fills `out` from the zub file's manifest: 0 parsed, -1 file not accessible, other: corrupt.
int ORU_ParseManifest(char *zubPath, ManifestData *out);
// Releases what the last ORU_ParseManifest allocated; also fine when nothing was parsed.
void ORU_FreeManifest(void);
// The bytes of one entry of a zub file (freed with ORU_MemFree) and their count, or null.
void *ORU_ZubUnpackFile(const char *zubPath, const char *entryName, int *size);
// Non-zero when `spec` is a well-formed version request.
int ORU_ValidVersionString(char *spec);
// Non-zero when `release` satisfies `spec`.
int ORU_AcceptableRelease(const char *release, char *spec);
// Greater than 0 when release `a` is later than release `b`.
int ORU_ExactVersionId(const char *a, const char *b);
}

#endif
