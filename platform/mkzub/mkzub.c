/* mkzub: writes a zub file (a ZIP archive) from its arguments.

   mkzub [--stored] OUT.zub ITEM...
     --manifest FILE        the entry zub/manifest, with the contents of FILE
     --manifest-text TEXT   the entry zub/manifest, with TEXT
     --file NAME=FILE       the entry NAME, with the contents of FILE
     NAME=TEXT              the entry NAME, with TEXT
   --stored keeps the entries uncompressed (they are deflated otherwise). Entries are written in
   the order given; a name given twice is an error. Exit status 0, 1 on failure (the output is
   then removed), 2 on misuse. */

#include <errno.h>
#include <minizip/zip.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include "platform/common/textbuf.h"

#define MANIFEST "zub/manifest"

static void usage(void) {
  fputs("usage: mkzub [--stored] OUT.zub [--manifest FILE] [--manifest-text TEXT] "
        "[--file NAME=FILE] [NAME=TEXT]...\n",
        stderr);
  exit(2);
}

typedef struct Entry {
  const char *name;
  char *data;
  size_t size;
} Entry;

static int read_file(const char *path, char **data, size_t *size) {
  FILE *f = fopen(path, "rb");
  if (!f) return -1;
  TextBuf tb = {0};
  char chunk[8192];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) tb_append_bytes(&tb, chunk, n);
  int failed = ferror(f);
  fclose(f);
  if (failed) {
    tb_free(&tb);
    return -1;
  }
  *size = tb.len;
  *data = tb_release(&tb);
  return 0;
}

int main(int argc, char **argv) {
  int level = Z_DEFAULT_COMPRESSION;
  int i = 1;
  if (i < argc && strcmp(argv[i], "--stored") == 0) {
    level = 0;
    ++i;
  }
  if (i >= argc || argv[i][0] == '-') usage();
  const char *out = argv[i++];
  Entry *entries = (Entry *)xmalloc("mkzub", (size_t)argc * sizeof *entries);
  int count = 0, status = 0;
  for (; i < argc && status == 0; ++i) {
    Entry *e = &entries[count];
    const char *arg = argv[i];
    if (strcmp(arg, "--manifest") == 0 || strcmp(arg, "--manifest-text") == 0 || strcmp(arg, "--file") == 0) {
      if (i + 1 >= argc) usage();
      const char *value = argv[++i];
      if (strcmp(arg, "--manifest-text") == 0) {
        e->name = xstrdup("mkzub", MANIFEST);
        e->data = xstrdup("mkzub", value);
        e->size = strlen(value);
      } else {
        const char *path = value;
        if (strcmp(arg, "--file") == 0) {
          const char *eq = strchr(value, '=');
          if (!eq || eq == value) usage();
          char *name = (char *)xmalloc("mkzub", (size_t)(eq - value) + 1);
          memcpy(name, value, (size_t)(eq - value));
          name[eq - value] = '\0';
          e->name = name;
          path = eq + 1;
        } else {
          e->name = xstrdup("mkzub", MANIFEST);
        }
        if (read_file(path, &e->data, &e->size) != 0) {
          fprintf(stderr, "mkzub: cannot read %s: %s\n", path, strerror(errno));
          free((char *)e->name);
          status = 1;
          break;
        }
      }
    } else {
      const char *eq = strchr(arg, '=');
      if (!eq || eq == arg || arg[0] == '-') usage();
      char *name = (char *)xmalloc("mkzub", (size_t)(eq - arg) + 1);
      memcpy(name, arg, (size_t)(eq - arg));
      name[eq - arg] = '\0';
      e->name = name;
      e->data = xstrdup("mkzub", eq + 1);
      e->size = strlen(eq + 1);
    }
    for (int k = 0; k < count; ++k) {
      if (strcmp(entries[k].name, e->name) == 0) {
        fprintf(stderr, "mkzub: entry %s given twice\n", e->name);
        status = 1;
      }
    }
    ++count;
  }

  if (status == 0) {
    zipFile zf = zipOpen(out, APPEND_STATUS_CREATE);
    if (!zf) {
      fprintf(stderr, "mkzub: cannot create %s\n", out);
      status = 1;
    } else {
      for (int k = 0; k < count && status == 0; ++k) {
        zip_fileinfo info;
        memset(&info, 0, sizeof info); /* a fixed time stamp keeps builds reproducible */
        info.tmz_date.tm_year = 1980;
        info.tmz_date.tm_mday = 1;
        if (zipOpenNewFileInZip(zf, entries[k].name, &info, NULL, 0, NULL, 0, NULL, level ? Z_DEFLATED : 0,
                                level) != ZIP_OK ||
            zipWriteInFileInZip(zf, entries[k].data, (unsigned)entries[k].size) != ZIP_OK ||
            zipCloseFileInZip(zf) != ZIP_OK) {
          fprintf(stderr, "mkzub: cannot write entry %s to %s\n", entries[k].name, out);
          status = 1;
        }
      }
      if (zipClose(zf, NULL) != ZIP_OK && status == 0) {
        fprintf(stderr, "mkzub: cannot write %s\n", out);
        status = 1;
      }
      if (status != 0) unlink(out);
    }
  }
  for (int k = 0; k < count; ++k) {
    free((char *)entries[k].name);
    free(entries[k].data);
  }
  free(entries);
  return status;
}
