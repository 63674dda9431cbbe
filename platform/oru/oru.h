#ifndef PLATFORM_ORU_ORU_H
#define PLATFORM_ORU_ORU_H

/* The launcher support library liboru.so: C linkage, cdecl, i386 layout. */

#ifdef __cplusplus
extern "C" {
#endif

/* Facts of a zub file's main manifest section; every text points into storage that
   ORU_FreeManifest releases. */
typedef struct ManifestData {
  char *unused;        /* "Manifest-Version", may be null */
  char *mainClass;     /* "Main-Class", may be null */
  char *versionSpec;   /* "UBO-Version", may be null */
  char restrictSearch; /* 1 when "UBO-Restrict-Search" is "true" in any case, else 0 */
  char *splashImage;   /* "Splash-Image", may be null */
} ManifestData;

/* Results of ORU_ParseManifest besides 0 (parsed) and -1 (the file cannot be accessed). */
enum {
  ORU_MANIFEST_NOT_ZIP = 1,     /* not a regular file or not a ZIP archive */
  ORU_MANIFEST_MISSING = 2,     /* no "zub/manifest" entry */
  ORU_MANIFEST_UNREADABLE = 3,  /* the entry cannot be inflated or fails its CRC */
  ORU_MANIFEST_MALFORMED = 4,   /* the entry is not in manifest format */
  ORU_MANIFEST_NO_RECORD = 5    /* the ManifestData pointer is null */
};

/* A heap block of `size` bytes (at least one byte is allocated for 0). A negative size or
   exhausted memory ends the process with a message on standard error, so the result is never
   null. */
void *ORU_MemAlloc(int size);
/* Frees a block from any ORU_ function that hands out heap memory; null is ignored. */
void ORU_MemFree(void *block);
/* A heap copy of `s` (freed with ORU_MemFree); null gives null. */
char *ORU_StringDup(const char *s);

/* The class path `classpath` (elements separated by ':') with every wildcard element (a lone
   '*', or a directory, a '/' and a '*') replaced by the files of that directory ("." for a lone
   '*') whose names end in ".zub" or ".ZUB", each written as the element less its '*' followed by the file name, in strcmp order
   and joined with ':'. A wildcard element whose directory has no such file, or cannot be read,
   disappears; every other element (empty ones included) stays as it is. The result is a heap
   text (ORU_MemFree); null gives null. */
char *ORU_WildcardExpandClasspath(const char *classpath);

/* Reads the main section of the manifest of zub file `zubPath` into `out` (cleared first):
   0 when parsed, -1 when the file does not exist or cannot be read (a null path included), else
   one of the ORU_MANIFEST_ values. Texts stay valid until ORU_FreeManifest. */
int ORU_ParseManifest(char *zubPath, ManifestData *out);
/* Releases the texts of every ORU_ParseManifest since the last call; fine when there were none. */
void ORU_FreeManifest(void);

/* The bytes of entry `entryName` of zub file `zubPath` in a heap block (ORU_MemFree) followed by
   one NUL byte that *size does not count, or null when the file, the entry or an argument is
   missing or the entry is corrupt or larger than 2 GiB. *size is written only on success. */
void *ORU_ZubUnpackFile(const char *zubPath, const char *entryName, int *size);

/* Releases are elements separated by '.', '_' or '-'; elements are non-empty runs of ASCII
   letters and digits. Releases compare element by element: two all-digit elements as numbers,
   an all-digit element before any other, other elements by strcmp; a release that is a proper
   prefix of another is the earlier one. A version request is one or more alternatives separated by
   spaces; an alternative is a release (the same release), a release followed by '+' (that
   release or a later one) or a release followed by '*' (every release whose leading elements are
   that release's; a separator may stand before the '*').

   Non-zero when `spec` is a well-formed version request; null gives 0. */
int ORU_ValidVersionString(char *spec);
/* Non-zero when `release` is a well-formed release that one of the alternatives of the
   well-formed version request `spec` accepts; 0 otherwise (null arguments included). */
int ORU_AcceptableRelease(const char *release, char *spec);
/* 1 when release `a` is later than `b`, -1 when earlier, 0 when they compare equal. Any texts
   are ordered (malformed ones by the same element rule, null before everything else), and the
   order is total: antisymmetric and transitive. */
int ORU_ExactVersionId(const char *a, const char *b);

#ifdef __cplusplus
}
#endif

#endif
