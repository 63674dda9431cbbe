// The splash library, mkzub, and the staged runtime tree as the launcher will find it.

#include <dirent.h>
#include <dlfcn.h>
#include <elf.h>
#include <minizip/unzip.h>
#include <sys/stat.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "helpers.h"
#include "launcher/oru.h"

using namespace platformtest;

namespace {

TEST(Splash, LoadingAndEveryCallAreTraced) {
  TempDir dir;
  std::string trace = dir / "trace";
  ChildResult r = runChild([&] {
    setenv("RASK_TRACE", trace.c_str(), 1);
    void *lib = dlopen(PLATFORM_SPLASH_LIB, RTLD_LAZY | RTLD_GLOBAL);
    if (!lib) return 1;
    auto init = reinterpret_cast<void (*)()>(dlsym(lib, "SplashInit"));
    auto memory = reinterpret_cast<void (*)(void *, int)>(dlsym(lib, "SplashLoadMemory"));
    auto file = reinterpret_cast<void (*)(const char *)>(dlsym(lib, "SplashLoadFile"));
    auto zubName = reinterpret_cast<int (*)(const char *, const char *)>(dlsym(lib, "SplashSetFileZubName"));
    if (!init || !memory || !file || !zubName) return 2;
    init();
    char image[] = "GIF89a\x01\x00\x7f\x80 and more than thirty-two bytes of image data";
    memory(image, static_cast<int>(sizeof image - 1));
    memory(image, 3);
    memory(nullptr, 0);
    file("images/splash.gif");
    zubName("images/splash.gif", "/apps/app.zub");
    zubName("splash.png", nullptr);
    return 0;
  });
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> want = {"splash-library-loaded",
                                   "SplashInit",
                                   "SplashLoadMemory count=55 text=GIF89a.... and more than thirty-",
                                   "SplashLoadMemory count=3 text=GIF",
                                   "SplashLoadMemory count=0",
                                   "SplashLoadFile images/splash.gif",
                                   "SplashSetFileZubName images/splash.gif /apps/app.zub",
                                   "SplashSetFileZubName splash.png null"};
  EXPECT_EQ(readLines(trace), want);
}

// Every entry of a zub file with its bytes and whether it was stored uncompressed.
std::vector<std::pair<std::string, std::string>> readZip(const std::string &path, std::vector<bool> *stored = nullptr) {
  std::vector<std::pair<std::string, std::string>> out;
  unzFile zf = unzOpen(path.c_str());
  if (!zf) return out;
  for (int s = unzGoToFirstFile(zf); s == UNZ_OK; s = unzGoToNextFile(zf)) {
    char name[512];
    unz_file_info info;
    unzGetCurrentFileInfo(zf, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    std::string data(info.uncompressed_size, '\0');
    unzOpenCurrentFile(zf);
    int n = unzReadCurrentFile(zf, &data[0], static_cast<unsigned>(data.size()));
    EXPECT_EQ(n, static_cast<int>(data.size()));
    EXPECT_EQ(unzCloseCurrentFile(zf), UNZ_OK);
    out.emplace_back(name, data);
    if (stored) stored->push_back(info.compression_method == 0);
  }
  unzClose(zf);
  return out;
}

TEST(Mkzub, WritesEntriesInOrder) {
  TempDir dir;
  std::string image(5000, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  writeFile(dir / "image.bin", image);
  writeFile(dir / "manifest", "Main-Class: org.example.App\n");
  std::string out = dir / "out.zub";
  ChildResult r = runProgram(PLATFORM_MKZUB, {out, "--manifest", dir / "manifest", "--file",
                                              "img/splash.bin=" + dir / "image.bin", "notes/a.txt=hello = world", "empty="});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<bool> stored;
  auto entries = readZip(out, &stored);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0], std::make_pair(std::string("zub/manifest"), std::string("Main-Class: org.example.App\n")));
  EXPECT_EQ(entries[1], std::make_pair(std::string("img/splash.bin"), image));
  EXPECT_EQ(entries[2], std::make_pair(std::string("notes/a.txt"), std::string("hello = world")));
  EXPECT_EQ(entries[3], std::make_pair(std::string("empty"), std::string()));
  EXPECT_FALSE(stored[1]);

  r = runProgram(PLATFORM_MKZUB, {"--stored", out, "--manifest-text", "Main-Class: B\n", "x=y"});
  ASSERT_EQ(r.status, 0) << r.err;
  stored.clear();
  entries = readZip(out, &stored);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].second, "Main-Class: B\n");
  EXPECT_TRUE(stored[0] && stored[1]);
}

TEST(Mkzub, RejectsMisuseAndLeavesNoOutputOnFailure) {
  TempDir dir;
  std::string out = dir / "out.zub";
  EXPECT_EQ(runProgram(PLATFORM_MKZUB, {}).status, 2);
  EXPECT_EQ(runProgram(PLATFORM_MKZUB, {out, "no-equals-sign"}).status, 2);
  EXPECT_EQ(runProgram(PLATFORM_MKZUB, {out, "--manifest"}).status, 2);
  ChildResult r = runProgram(PLATFORM_MKZUB, {out, "--file", "a=" + dir / "missing"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("mkzub: cannot read"), std::string::npos) << r.err;
  r = runProgram(PLATFORM_MKZUB, {out, "a=1", "b=2", "a=3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("entry a given twice"), std::string::npos) << r.err;
  EXPECT_EQ(readFile(out), "<missing>");
  r = runProgram(PLATFORM_MKZUB, {dir / "no/such/dir/out.zub", "a=1"});
  EXPECT_EQ(r.status, 1);
}

// The run path, SONAME and needed libraries of a shared library, read from its ELF file.
struct Dynamic {
  std::string soname;
  std::vector<std::string> needed, paths;
  bool ok = false;
};

Dynamic readDynamic(const std::string &path) {
  Dynamic d;
  std::string f = readFile(path);
  if (f.size() < sizeof(Elf32_Ehdr) || memcmp(f.data(), ELFMAG, SELFMAG) != 0) return d;
  Elf32_Ehdr eh;
  memcpy(&eh, f.data(), sizeof eh);
  if (eh.e_ident[EI_CLASS] != ELFCLASS32 || eh.e_machine != EM_386) return d;
  auto section = [&](size_t i) {
    Elf32_Shdr sh;
    memcpy(&sh, f.data() + eh.e_shoff + i * eh.e_shentsize, sizeof sh);
    return sh;
  };
  for (size_t i = 0; i < eh.e_shnum; ++i) {
    Elf32_Shdr sh = section(i);
    if (sh.sh_type != SHT_DYNAMIC) continue;
    Elf32_Shdr strtab = section(sh.sh_link);
    for (size_t off = 0; off + sizeof(Elf32_Dyn) <= sh.sh_size; off += sizeof(Elf32_Dyn)) {
      Elf32_Dyn dyn;
      memcpy(&dyn, f.data() + sh.sh_offset + off, sizeof dyn);
      if (dyn.d_tag == DT_NULL) break;
      std::string text = dyn.d_tag == DT_NEEDED || dyn.d_tag == DT_SONAME || dyn.d_tag == DT_RPATH ||
                                 dyn.d_tag == DT_RUNPATH
                             ? std::string(f.data() + strtab.sh_offset + dyn.d_un.d_val)
                             : "";
      if (dyn.d_tag == DT_NEEDED) d.needed.push_back(text);
      if (dyn.d_tag == DT_SONAME) d.soname = text;
      if (dyn.d_tag == DT_RPATH || dyn.d_tag == DT_RUNPATH) d.paths.push_back(text);
    }
    d.ok = true;
  }
  return d;
}

std::string runtime(const std::string &rel) { return std::string(VORN_RUNTIME_DIR) + "/" + rel; }

bool isDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(RuntimeTree, LayoutTheLauncherExpects) {
  for (const char *rel : {"lib/i386/oru/liboru.so", "lib/tools.zub", "lib/i386/libtesk.so", "lib/i386/rask.cfg",
                          "lib/i386/client/librask.so", "lib/i386/server/librask.so", "lib/i386/libsplashscreen.so"}) {
    struct stat st;
    EXPECT_TRUE(stat(runtime(rel).c_str(), &st) == 0 && S_ISREG(st.st_mode)) << rel;
  }
  ASSERT_TRUE(isDirectory(runtime("classes")));
  DIR *classes = opendir(runtime("classes").c_str());
  ASSERT_NE(classes, nullptr);
  int entries = 0;
  while (dirent *e = readdir(classes))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) ++entries;
  closedir(classes);
  EXPECT_EQ(entries, 0);
  EXPECT_EQ(readFile(runtime("lib/i386/client/librask.so")), readFile(runtime("lib/i386/server/librask.so")));

  std::vector<std::string> cfg;
  for (const std::string &l : readLines(runtime("lib/i386/rask.cfg")))
    if (!l.empty() && l[0] != '#') cfg.push_back(l);
  ASSERT_GE(cfg.size(), 2u);
  EXPECT_EQ(cfg[0], "-client KNOWN");
  EXPECT_EQ(cfg[1], "-server KNOWN");
}

TEST(RuntimeTree, ToolsZubNamesTheMainClass) {
  void *lib = openLibrary(runtime("lib/i386/oru/liboru.so").c_str());
  auto parse = reinterpret_cast<decltype(&ORU_ParseManifest)>(symbol(lib, "ORU_ParseManifest"));
  auto release = reinterpret_cast<decltype(&ORU_FreeManifest)>(symbol(lib, "ORU_FreeManifest"));
  ASSERT_TRUE(parse && release);
  ManifestData md;
  std::string zub = runtime("lib/tools.zub");
  ASSERT_EQ(parse(&zub[0], &md), 0);
  ASSERT_NE(md.mainClass, nullptr);
  EXPECT_STREQ(md.mainClass, "com.mox.tools.quillet.Main");
  release();
}

TEST(RuntimeTree, LibrariesCarryNoRunPathAndFewDependencies) {
  const std::set<std::string> allowed = {"libc.so.6", "libpthread.so.0", "libdl.so.2", "libminizip.so.1", "libz.so.1"};
  struct Lib {
    const char *rel, *soname;
  };
  for (const Lib &l : {Lib{"lib/i386/oru/liboru.so", "liboru.so"}, Lib{"lib/i386/client/librask.so", "librask.so"},
                       Lib{"lib/i386/libsplashscreen.so", "libsplashscreen.so"},
                       Lib{"lib/i386/libtesk.so", "libtesk.so"}}) {
    SCOPED_TRACE(l.rel);
    Dynamic d = readDynamic(runtime(l.rel));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.soname, l.soname);
    EXPECT_TRUE(d.paths.empty()) << d.paths.front();
    for (const std::string &n : d.needed) {
      // The sanitizer build links its run-time libraries in as well.
      bool sanitizer = PLATFORM_SANITIZED && (n.find("asan") != std::string::npos ||
                                               n.find("ubsan") != std::string::npos || n.find("libstdc++") == 0 ||
                                               n.find("libgcc_s") == 0 || n.find("libm.") == 0);
      EXPECT_TRUE(allowed.count(n) || sanitizer) << n;
    }
  }
}

} // namespace
