#include "platform/oru/oru.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "platform/common/export.h"
#include "platform/common/zubread.h"

PLATFORM_EXPORT void *ORU_MemAlloc(int size) {
  if (size < 0) {
    fprintf(stderr, "liboru: ORU_MemAlloc: negative size %d\n", size);
    abort();
  }
  void *block = malloc(size ? (size_t)size : 1);
  if (!block) {
    fprintf(stderr, "liboru: out of memory (%d bytes)\n", size);
    abort();
  }
  return block;
}

PLATFORM_EXPORT void ORU_MemFree(void *block) { free(block); }

PLATFORM_EXPORT char *ORU_StringDup(const char *s) {
  if (!s) return NULL;
  size_t len = strlen(s);
  if (len > 0x7ffffffe) {
    fprintf(stderr, "liboru: ORU_StringDup: text too long\n");
    abort();
  }
  char *copy = (char *)ORU_MemAlloc((int)len + 1);
  memcpy(copy, s, len + 1);
  return copy;
}

/* Every manifest parsed since the last ORU_FreeManifest: the launcher may hold texts of an
   earlier parse when it parses again, so nothing is released before it asks. */
typedef struct ParsedManifest {
  ZubManifest manifest;
  struct ParsedManifest *next;
} ParsedManifest;

static ParsedManifest *parsed;

PLATFORM_EXPORT int ORU_ParseManifest(char *zubPath, ManifestData *out) {
  if (out) memset(out, 0, sizeof *out);
  if (!zubPath) return -1;
  if (!out) return zub_check(zubPath) == ZUB_CANNOT_ACCESS ? -1 : ORU_MANIFEST_NO_RECORD;
  ParsedManifest *node = (ParsedManifest *)calloc(1, sizeof *node);
  if (!node) return ORU_MANIFEST_UNREADABLE;
  int status = zub_read_manifest(zubPath, &node->manifest);
  switch (status) {
    case ZUB_OK: break;
    case ZUB_CANNOT_ACCESS: free(node); return -1;
    case ZUB_NOT_ZIP: free(node); return ORU_MANIFEST_NOT_ZIP;
    case ZUB_NO_ENTRY: free(node); return ORU_MANIFEST_MISSING;
    case ZUB_BAD_ENTRY: free(node); return ORU_MANIFEST_UNREADABLE;
    default: free(node); return ORU_MANIFEST_MALFORMED;
  }
  node->next = parsed;
  parsed = node;
  const ZubManifest *m = &node->manifest;
  out->unused = (char *)zub_manifest_value(m, "Manifest-Version");
  out->mainClass = (char *)zub_manifest_value(m, "Main-Class");
  out->versionSpec = (char *)zub_manifest_value(m, "UBO-Version");
  const char *restrict_ = zub_manifest_value(m, "UBO-Restrict-Search");
  out->restrictSearch = restrict_ && strcasecmp(restrict_, "true") == 0;
  out->splashImage = (char *)zub_manifest_value(m, "Splash-Image");
  return 0;
}

PLATFORM_EXPORT void ORU_FreeManifest(void) {
  while (parsed) {
    ParsedManifest *next = parsed->next;
    zub_manifest_free(&parsed->manifest);
    free(parsed);
    parsed = next;
  }
}

PLATFORM_EXPORT void *ORU_ZubUnpackFile(const char *zubPath, const char *entryName, int *size) {
  if (!zubPath || !entryName || !size) return NULL;
  char *data = NULL;
  size_t count = 0;
  if (zub_read_entry(zubPath, entryName, &data, &count) != ZUB_OK) return NULL;
  *size = (int)count; /* zub_read_entry refuses entries beyond ZUB_MAX_ENTRY */
  return data;
}
