#ifndef PLATFORM_COMMON_ZUBREAD_H
#define PLATFORM_COMMON_ZUBREAD_H

#include <stddef.h>

/* Outcomes of reading a zub file (a ZIP archive). */
enum {
  ZUB_OK = 0,
  ZUB_CANNOT_ACCESS = -1, /* the file does not exist or cannot be opened for reading */
  ZUB_NOT_ZIP = 1,        /* not a regular file, or not a ZIP archive */
  ZUB_NO_ENTRY = 2,       /* the archive has no entry of that name */
  ZUB_BAD_ENTRY = 3,      /* the entry cannot be inflated, fails its CRC or is too large */
  ZUB_BAD_MANIFEST = 4    /* the manifest entry is not in manifest format */
};

/* The name of the manifest entry. */
#define ZUB_MANIFEST_ENTRY "zub/manifest"

/* Largest entry that is read into memory, in bytes (the callers hand sizes out as int). */
#define ZUB_MAX_ENTRY 0x7ffffffe

/* ZUB_OK when `path` names a readable regular file that is a ZIP archive, else the reason. */
int zub_check(const char *path);

/* Reads entry `name` of the zub file `path`. On ZUB_OK, *data is a malloc'd block of the entry's
   *size bytes followed by one NUL byte (not counted); otherwise nothing is written. */
int zub_read_entry(const char *path, const char *name, char **data, size_t *size);

/* One attribute of a manifest section. */
typedef struct ZubAttribute {
  const char *name;
  const char *value;
} ZubAttribute;

/* The main section of a manifest: its attributes in file order. Owns its texts. */
typedef struct ZubManifest {
  char *storage;
  ZubAttribute *attrs;
  size_t count;
} ZubManifest;

/* Parses the main section of manifest text (`size` bytes, NULs not allowed): lines end with
   "\n", "\r\n" or "\r"; a line "Name: value" (the space after the colon optional) starts an
   attribute, a line that begins with one space continues the previous value with the rest of
   the line, and the first empty line ends the section (what follows is not read). Names are
   letters, digits, '-' and '_'. Trailing spaces and tabs of a value are dropped. On ZUB_OK `out`
   owns the result (release it with zub_manifest_free); on ZUB_BAD_MANIFEST nothing is kept. */
int zub_parse_manifest(const char *text, size_t size, ZubManifest *out);

/* Reads and parses the manifest of the zub file `path`: ZUB_OK, or ZUB_CANNOT_ACCESS,
   ZUB_NOT_ZIP, ZUB_NO_ENTRY (no manifest), ZUB_BAD_ENTRY or ZUB_BAD_MANIFEST. */
int zub_read_manifest(const char *path, ZubManifest *out);

/* The value of the first attribute whose name equals `name` ignoring ASCII case, or null. */
const char *zub_manifest_value(const ZubManifest *manifest, const char *name);

/* Releases what `manifest` owns and leaves it empty; an empty manifest is fine. */
void zub_manifest_free(ZubManifest *manifest);

#endif
