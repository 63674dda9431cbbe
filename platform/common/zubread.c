#include "platform/common/zubread.h"

#include <fcntl.h>
#include <minizip/unzip.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

int zub_check(const char *path) {
  struct stat st;
  if (!path || stat(path, &st) != 0) return ZUB_CANNOT_ACCESS;
  // Checked before opening: opening a FIFO for reading would block until a writer came.
  if (!S_ISREG(st.st_mode)) return ZUB_NOT_ZIP;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ZUB_CANNOT_ACCESS;
  close(fd);
  unzFile zf = unzOpen(path);
  if (!zf) return ZUB_NOT_ZIP;
  unzClose(zf);
  return ZUB_OK;
}

static int read_current(unzFile zf, char **data, size_t *size) {
  unz_file_info info;
  if (unzGetCurrentFileInfo(zf, &info, NULL, 0, NULL, 0, NULL, 0) != UNZ_OK) return ZUB_BAD_ENTRY;
  if (info.uncompressed_size > ZUB_MAX_ENTRY) return ZUB_BAD_ENTRY;
  size_t want = (size_t)info.uncompressed_size;
  // The size comes from the archive and may lie: the block grows with what the entry really
  // holds, so a header that announces gigabytes costs nothing unless the data is there. No
  // x-alloc either: a refused block is a bad entry, not the end of the process.
  size_t capacity = want < 0x10000 ? want : 0x10000;
  char *block = (char *)malloc(capacity + 1);
  if (!block) return ZUB_BAD_ENTRY;
  if (unzOpenCurrentFile(zf) != UNZ_OK) {
    free(block);
    return ZUB_BAD_ENTRY;
  }
  size_t got = 0;
  int ok = 1;
  while (got < want) {
    if (got == capacity) {
      capacity = want - capacity > capacity ? capacity * 2 : want;
      char *bigger = (char *)realloc(block, capacity + 1);
      if (!bigger) {
        ok = 0;
        break;
      }
      block = bigger;
    }
    size_t room = capacity - got;
    unsigned chunk = room > 0x100000 ? 0x100000u : (unsigned)room;
    int n = unzReadCurrentFile(zf, block + got, chunk);
    if (n <= 0) {
      ok = 0;
      break;
    }
    got += (size_t)n;
  }
  // The CRC is only checked at close when everything announced was read.
  if (unzCloseCurrentFile(zf) != UNZ_OK) ok = 0;
  if (!ok) {
    free(block);
    return ZUB_BAD_ENTRY;
  }
  block[want] = '\0';
  *data = block;
  *size = want;
  return ZUB_OK;
}

int zub_read_entry(const char *path, const char *name, char **data, size_t *size) {
  if (!name) return ZUB_NO_ENTRY;
  int status = zub_check(path);
  if (status != ZUB_OK) return status;
  unzFile zf = unzOpen(path);
  if (!zf) return ZUB_NOT_ZIP;
  // Case-sensitive (1): entry names are compared byte for byte.
  if (unzLocateFile(zf, name, 1) != UNZ_OK) {
    status = ZUB_NO_ENTRY;
  } else {
    status = read_current(zf, data, size);
  }
  unzClose(zf);
  return status;
}

static int name_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

static void trim_value(char *storage, size_t start, size_t *end) {
  while (*end > start && (storage[*end - 1] == ' ' || storage[*end - 1] == '\t')) --*end;
  storage[*end] = '\0';
}

int zub_parse_manifest(const char *text, size_t size, ZubManifest *out) {
  if (memchr(text, '\0', size)) return ZUB_BAD_MANIFEST;
  // Names and values are copied one after the other; the copy is never longer than the text
  // plus one NUL per name and per value, and no more than one attribute per two bytes of text.
  char *storage = (char *)malloc(size * 2 + 2);
  size_t maxAttrs = size / 2 + 1;
  size_t *nameAt = (size_t *)malloc(maxAttrs * sizeof(size_t));
  size_t *valueAt = (size_t *)malloc(maxAttrs * sizeof(size_t));
  if (!storage || !nameAt || !valueAt) {
    free(storage);
    free(nameAt);
    free(valueAt);
    return ZUB_BAD_MANIFEST;
  }
  size_t used = 0, count = 0, valueEnd = 0;
  int status = ZUB_OK;
  size_t pos = 0;
  while (pos < size) {
    size_t lineEnd = pos;
    while (lineEnd < size && text[lineEnd] != '\n' && text[lineEnd] != '\r') ++lineEnd;
    size_t next = lineEnd;
    if (next < size && text[next] == '\r') ++next;
    if (next < size && text[next] == '\n' && (next == lineEnd || text[lineEnd] == '\r')) ++next;
    if (lineEnd == pos) break; /* the empty line that ends the main section */
    if (text[pos] == ' ') {
      if (count == 0) {
        status = ZUB_BAD_MANIFEST;
        break;
      }
      // The value being continued is the last thing in storage: extend it in place.
      memcpy(storage + valueEnd, text + pos + 1, lineEnd - pos - 1);
      valueEnd += lineEnd - pos - 1;
      used = valueEnd;
    } else {
      if (count > 0) {
        trim_value(storage, valueAt[count - 1], &valueEnd);
        used = valueEnd + 1;
      }
      size_t colon = pos;
      while (colon < lineEnd && name_char(text[colon])) ++colon;
      if (colon == pos || colon == lineEnd || text[colon] != ':') {
        status = ZUB_BAD_MANIFEST;
        break;
      }
      nameAt[count] = used;
      memcpy(storage + used, text + pos, colon - pos);
      used += colon - pos;
      storage[used++] = '\0';
      size_t v = colon + 1;
      if (v < lineEnd && text[v] == ' ') ++v;
      valueAt[count] = used;
      memcpy(storage + used, text + v, lineEnd - v);
      used += lineEnd - v;
      valueEnd = used;
      ++count;
    }
    pos = next;
  }
  if (status == ZUB_OK && count > 0) trim_value(storage, valueAt[count - 1], &valueEnd);
  if (status != ZUB_OK) {
    free(storage);
    free(nameAt);
    free(valueAt);
    return status;
  }
  ZubAttribute *attrs = (ZubAttribute *)malloc((count ? count : 1) * sizeof(ZubAttribute));
  if (!attrs) {
    free(storage);
    free(nameAt);
    free(valueAt);
    return ZUB_BAD_MANIFEST;
  }
  for (size_t i = 0; i < count; ++i) {
    attrs[i].name = storage + nameAt[i];
    attrs[i].value = storage + valueAt[i];
  }
  free(nameAt);
  free(valueAt);
  out->storage = storage;
  out->attrs = attrs;
  out->count = count;
  return ZUB_OK;
}

int zub_read_manifest(const char *path, ZubManifest *out) {
  char *text = NULL;
  size_t size = 0;
  int status = zub_read_entry(path, ZUB_MANIFEST_ENTRY, &text, &size);
  if (status != ZUB_OK) return status;
  status = zub_parse_manifest(text, size, out);
  free(text);
  return status;
}

const char *zub_manifest_value(const ZubManifest *manifest, const char *name) {
  for (size_t i = 0; i < manifest->count; ++i) {
    if (strcasecmp(manifest->attrs[i].name, name) == 0) return manifest->attrs[i].value;
  }
  return NULL;
}

void zub_manifest_free(ZubManifest *manifest) {
  free(manifest->storage);
  free(manifest->attrs);
  manifest->storage = NULL;
  manifest->attrs = NULL;
  manifest->count = 0;
}
