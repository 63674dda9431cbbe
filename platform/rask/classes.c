/* The class library of the VM stand-in: the few classes and methods the launcher reaches. */

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/common/trace.h"
#include "platform/rask/vm.h"

#define NULL_ERROR "tesk.lang.NullReferenceError"
#define INJECTED "tesk.lang.InjectedError"

static const char *text_of(const Value *v) {
  const StringObj *s = (const StringObj *)v->l;
  return s ? s->text : NULL;
}

/* The text of a String argument in the platform charset, as a malloc'd native text. */
static char *native_of(const char *text) {
  TextBuf tb = {0};
  vm_encode(&tb, text, vm_default_charset());
  return tb_release(&tb);
}

static void trace_help(const char *what, const Value *args, int strings, int flagFirst) {
  if (!trace_enabled()) return;
  TextBuf tb = {0};
  tb_appendf(&tb, "help %s", what);
  int i = 0;
  if (flagFirst) tb_appendf(&tb, " %d", args[i++].i);
  for (int k = 0; k < strings; ++k, ++i) {
    tb_append_char(&tb, ' ');
    tb_append_escaped(&tb, text_of(&args[i]), 1);
  }
  trace_line(tb_text(&tb));
  tb_free(&tb);
}

/* ---- tesk/lang/String ---- */

static void make_string(const BytesObj *bytes, const char *charset, Value *ret) {
  if (vm_fails("string")) return; /* injected: no string, no exception */
  char *text = vm_decode((const unsigned char *)bytes->bytes, (size_t)bytes->length, charset);
  ret->l = vm_new_string(text);
  free(text);
}

static void string_init_charset(Obj *self, const Value *args, Value *ret) {
  (void)self;
  const BytesObj *bytes = (const BytesObj *)args[0].l;
  const char *charset = text_of(&args[1]);
  if (!bytes || !charset) {
    vm_raise(NULL_ERROR, "String(byte[], String): %s is null", bytes ? "charset" : "bytes");
    return;
  }
  if (!vm_charset_supported(charset)) {
    vm_raise("tesk.io.EncodingUnsupportedError", "%s", charset);
    return;
  }
  make_string(bytes, charset, ret);
}

static void string_init(Obj *self, const Value *args, Value *ret) {
  (void)self;
  const BytesObj *bytes = (const BytesObj *)args[0].l;
  if (!bytes) {
    vm_raise(NULL_ERROR, "String(byte[]): bytes is null");
    return;
  }
  make_string(bytes, vm_default_charset(), ret);
}

/* ---- tesk/lang/System, tesk/nio/charset/Charset ---- */

static void system_getProperty(Obj *self, const Value *args, Value *ret) {
  (void)self;
  const char *key = text_of(&args[0]);
  if (!key) {
    vm_raise(NULL_ERROR, "System.getProperty: key is null");
    return;
  }
  if (strcmp(key, "mox.qel.encoding") == 0) {
    const char *env = getenv("RASK_ENCODING");
    if (!env) env = "UTF-8";
    if (strcmp(env, "none") != 0) ret->l = vm_new_string(env);
    return;
  }
  for (int i = vm.propCount - 1; i >= 0; --i) {
    if (strcmp(vm.props[i].name, key) == 0) {
      ret->l = vm_new_string(vm.props[i].value);
      return;
    }
  }
}

static void charset_isSupported(Obj *self, const Value *args, Value *ret) {
  (void)self;
  ret->i = vm_charset_supported(text_of(&args[0]));
}

/* ---- tesk/util/zub ---- */

static void zubfile_init(Obj *self, const Value *args, Value *ret) {
  (void)self;
  const char *text = text_of(&args[0]);
  if (!text) {
    vm_raise(NULL_ERROR, "ZubFile(String): name is null");
    return;
  }
  char *path = native_of(text);
  int status = zub_check(path);
  if (status == ZUB_CANNOT_ACCESS) {
    vm_raise("tesk.io.FileMissingError", "%s", path);
  } else if (status != ZUB_OK) {
    vm_raise("tesk.util.zub.ZubError", "not a zub file: %s", path);
  } else {
    ZubFileObj *z = (ZubFileObj *)vm_new(K_ZUBFILE, sizeof *z);
    z->path = path;
    ret->l = z;
    return;
  }
  free(path);
}

static void zubfile_getManifest(Obj *self, const Value *args, Value *ret) {
  (void)args;
  const ZubFileObj *z = (const ZubFileObj *)self;
  ZubManifest manifest = {0};
  int status = zub_read_manifest(z->path, &manifest);
  switch (status) {
    case ZUB_OK: {
      ManifestObj *m = (ManifestObj *)vm_new(K_MANIFEST, sizeof *m);
      m->manifest = manifest;
      ret->l = m;
      break;
    }
    case ZUB_NO_ENTRY: break;
    case ZUB_CANNOT_ACCESS: vm_raise("tesk.io.FileMissingError", "%s", z->path); break;
    case ZUB_BAD_MANIFEST: vm_raise("tesk.util.zub.ZubError", "malformed manifest in %s", z->path); break;
    default: vm_raise("tesk.util.zub.ZubError", "corrupt zub file %s", z->path); break;
  }
}

static void manifest_getMainAttributes(Obj *self, const Value *args, Value *ret) {
  (void)args;
  AttributesObj *a = (AttributesObj *)vm_new(K_ATTRIBUTES, sizeof *a);
  a->manifest = (const ManifestObj *)self;
  ret->l = a;
}

static void attributes_getValue(Obj *self, const Value *args, Value *ret) {
  const char *name = text_of(&args[0]);
  if (!name) {
    vm_raise(NULL_ERROR, "Attributes.getValue: name is null");
    return;
  }
  const char *value = zub_manifest_value(&((const AttributesObj *)self)->manifest->manifest, name);
  if (value) {
    // Manifests are UTF-8.
    char *text = vm_decode((const unsigned char *)value, strlen(value), "UTF-8");
    ret->l = vm_new_string(text);
    free(text);
  }
}

/* ---- mox/misc/Version ---- */

/* The VM flavour: the name of the directory this library was loaded from. */
static void flavour(TextBuf *out) {
  Dl_info info;
  if (dladdr((void *)flavour, &info) && info.dli_fname) {
    const char *end = strrchr(info.dli_fname, '/');
    if (end) {
      const char *begin = end;
      while (begin > info.dli_fname && begin[-1] != '/') --begin;
      if (begin < end) {
        tb_append_bytes(out, begin, (size_t)(end - begin));
        return;
      }
    }
  }
  tb_append(out, "default");
}

static void version_print(Obj *self, const Value *args, Value *ret) {
  (void)self, (void)args, (void)ret;
  if (vm_fails("throw:version")) {
    vm_raise(INJECTED, "Version.print");
    return;
  }
  TextBuf tb = {0};
  tb_append(&tb, "tesk version \"1.6.0_33\"\nTesk Runtime Environment (build 1.6.0_33-b33)\nRask ");
  flavour(&tb);
  tb_append(&tb, " VM (stand-in build)\n");
  fputs(tb_text(&tb), stderr);
  tb_free(&tb);
  trace_line("version-print");
}

/* ---- mox/launcher/LauncherHelp ---- */

static void help_append(const char *format, const Value *args, int count) {
  char *a = count > 0 ? native_of(text_of(&args[0])) : NULL;
  char *b = count > 1 ? native_of(text_of(&args[1])) : NULL;
  tb_appendf(&vm.help, format, a, b);
  free(a);
  free(b);
}

static int need_strings(const Value *args, int from, int count, const char *method) {
  for (int i = from; i < from + count; ++i) {
    if (!args[i].l) {
      vm_raise(NULL_ERROR, "LauncherHelp.%s: argument %d is null", method, i + 1);
      return 0;
    }
  }
  return 1;
}

static void help_init(Obj *self, const Value *args, Value *ret) {
  (void)self, (void)ret;
  trace_help("init", args, 1, 0);
  if (!need_strings(args, 0, 1, "initHelpMessage")) return;
  tb_clear(&vm.help);
  char *prog = native_of(text_of(&args[0]));
  tb_appendf(&vm.help,
             "Usage: %s [options] CLASS [ARGS...]\n"
             "           (runs the main method of CLASS)\n"
             "   or: %s [options] -zub ZUBFILE [ARGS...]\n"
             "           (runs the Main-Class of ZUBFILE)\n"
             "\n"
             "VM flavours:\n",
             prog, prog);
  free(prog);
}

static void help_select(Obj *self, const Value *args, Value *ret) {
  (void)self, (void)ret;
  trace_help("select", args, 2, 0);
  if (!need_strings(args, 0, 2, "appendVmSelectMessage")) return;
  help_append("    %-14s selects the \"%s\" VM\n", args, 2);
}

static void help_synonym(Obj *self, const Value *args, Value *ret) {
  (void)self, (void)ret;
  trace_help("synonym", args, 2, 0);
  if (!need_strings(args, 0, 2, "appendVmSynonymMessage")) return;
  help_append("    %-14s is a synonym for the \"%s\" VM\n", args, 2);
}

static void help_ergo(Obj *self, const Value *args, Value *ret) {
  (void)self, (void)ret;
  trace_help("ergo", args, 1, 1);
  if (!need_strings(args, 1, 1, "appendVmErgoMessage")) return;
  help_append(args[0].i ? "    The default VM is \"%s\": this is a server-class machine.\n"
                        : "    The default VM is \"%s\": this is not a server-class machine.\n",
              args + 1, 1);
}

static void help_write(const char *text, int toStderr) {
  FILE *f = toStderr ? stderr : stdout;
  fputs(text, f);
  fflush(f);
}

static void help_print(Obj *self, const Value *args, Value *ret) {
  (void)self, (void)ret;
  trace_help("print", args, 0, 1);
  if (vm_fails("throw:usage")) {
    vm_raise(INJECTED, "LauncherHelp.printHelpMessage");
    return;
  }
  tb_append(&vm.help,
            "\n"
            "Options:\n"
            "    -cp PATH, -classpath PATH\n"
            "                   where to look for classes: directories and zub files, joined with ':'\n"
            "    -DNAME=VALUE   sets a system property\n"
            "    -version       prints the version and exits\n"
            "    -showversion   prints the version and goes on\n"
            "    -help, -h, -?  prints this text\n"
            "    -X             prints the help on the non-standard options\n");
  help_write(tb_text(&vm.help), args[0].i);
  tb_clear(&vm.help);
}

static void help_xusage(Obj *self, const Value *args, Value *ret) {
  (void)self, (void)ret;
  trace_help("xusage", args, 0, 1);
  if (vm_fails("throw:usage")) {
    vm_raise(INJECTED, "LauncherHelp.printXUsageMessage");
    return;
  }
  help_write("Non-standard options of this VM:\n"
             "    -XmsSIZE       initial heap size\n"
             "    -XmxSIZE       largest heap size\n"
             "    -XssSIZE       thread stack size\n"
             "    -Xverify:all|remote|none\n"
             "                   which classes to verify\n",
             args[0].i);
}

/* ---- tesk/lang/reflect/Method ---- */

static void method_getModifiers(Obj *self, const Value *args, Value *ret) {
  (void)args;
  if (vm_fails("modifiers-throw")) {
    vm_raise(INJECTED, "Method.getModifiers");
    return;
  }
  const MethodDesc *m = ((const ReflectObj *)self)->method;
  int modifiers = m->isStatic ? 9 : 1; /* public (1), static (8) */
  if (vm_fails("not-public")) modifiers &= ~1;
  ret->i = modifiers;
}

/* ---- com/mox/tools/quillet/Main ---- */

static void main_main(Obj *self, const Value *args, Value *ret) {
  (void)self, (void)ret;
  const ArrayObj *array = (const ArrayObj *)args[0].l;
  if (!array) {
    vm_raise(NULL_ERROR, "main: args is null");
    return;
  }
  TextBuf tb = {0};
  tb_appendf(&tb, "main argc=%d", array->length);
  trace_line(tb_text(&tb));
  const char *charset = vm_default_charset();
  for (int i = 0; i < array->length; ++i) {
    const StringObj *s = (const StringObj *)array->elements[i];
    tb_clear(&tb);
    tb_appendf(&tb, "main arg[%d]=", i);
    tb_append_escaped(&tb, s ? s->text : NULL, 0);
    trace_line(tb_text(&tb));
    tb_clear(&tb);
    if (s) {
      vm_encode(&tb, s->text, charset);
    } else {
      tb_append(&tb, "null");
    }
    tb_append_char(&tb, '\n');
    fwrite(tb_text(&tb), 1, tb.len, stdout);
  }
  fflush(stdout);
  tb_free(&tb);
  if (vm_fails("throw:main")) vm_raise(INJECTED, "main");
}

const MethodDesc vm_methods[] = {
    {"tesk/lang/String", "<init>", "([BLtesk/lang/String;)V", 0, string_init_charset},
    {"tesk/lang/String", "<init>", "([B)V", 0, string_init},
    {"tesk/lang/System", "getProperty", "(Ltesk/lang/String;)Ltesk/lang/String;", 1, system_getProperty},
    {"tesk/nio/charset/Charset", "isSupported", "(Ltesk/lang/String;)Z", 1, charset_isSupported},
    {"tesk/util/zub/ZubFile", "<init>", "(Ltesk/lang/String;)V", 0, zubfile_init},
    {"tesk/util/zub/ZubFile", "getManifest", "()Ltesk/util/zub/Manifest;", 0, zubfile_getManifest},
    {"tesk/util/zub/Manifest", "getMainAttributes", "()Ltesk/util/zub/Attributes;", 0,
     manifest_getMainAttributes},
    {"tesk/util/zub/Attributes", "getValue", "(Ltesk/lang/String;)Ltesk/lang/String;", 0,
     attributes_getValue},
    {"mox/misc/Version", "print", "()V", 1, version_print},
    {"mox/launcher/LauncherHelp", "printXUsageMessage", "(Z)V", 1, help_xusage},
    {"mox/launcher/LauncherHelp", "initHelpMessage", "(Ltesk/lang/String;)V", 1, help_init},
    {"mox/launcher/LauncherHelp", "appendVmSelectMessage", "(Ltesk/lang/String;Ltesk/lang/String;)V", 1,
     help_select},
    {"mox/launcher/LauncherHelp", "appendVmSynonymMessage", "(Ltesk/lang/String;Ltesk/lang/String;)V", 1,
     help_synonym},
    {"mox/launcher/LauncherHelp", "appendVmErgoMessage", "(ZLtesk/lang/String;)V", 1, help_ergo},
    {"mox/launcher/LauncherHelp", "printHelpMessage", "(Z)V", 1, help_print},
    {"tesk/lang/reflect/Method", "getModifiers", "()I", 0, method_getModifiers},
    {"com/mox/tools/quillet/Main", "main", "([Ltesk/lang/String;)V", 1, main_main},
};
const size_t vm_method_count = sizeof vm_methods / sizeof vm_methods[0];

int vm_known_class(const char *name) {
  static const char *const others[] = {"tesk/lang/Object", "tesk/lang/Class", "tesk/lang/Throwable"};
  for (size_t i = 0; i < vm_method_count; ++i)
    if (strcmp(vm_methods[i].className, name) == 0) return 1;
  for (size_t i = 0; i < sizeof others / sizeof others[0]; ++i)
    if (strcmp(others[i], name) == 0) return 1;
  return 0;
}
