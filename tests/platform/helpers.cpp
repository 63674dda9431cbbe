#include "helpers.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <ftw.h>
#include <minizip/zip.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace platformtest {

TempDir::TempDir() {
  const char *base = getenv("TMPDIR");
  std::string model = std::string(base && *base ? base : "/tmp") + "/platform-test-XXXXXX";
  std::vector<char> buf(model.begin(), model.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    ADD_FAILURE() << "mkdtemp failed: " << strerror(errno);
    return;
  }
  path_ = buf.data();
}

static int removeOne(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

TempDir::~TempDir() {
  if (!path_.empty()) nftw(path_.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
}

void writeFile(const std::string &path, const std::string &bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
  ASSERT_TRUE(f.good()) << "cannot write " << path;
}

std::string readFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return "<missing>";
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::string> readLines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream f(path, std::ios::binary);
  std::string line;
  while (std::getline(f, line)) lines.push_back(line);
  return lines;
}

void writeZip(const std::string &path, const std::vector<ZipEntry> &entries) {
  zipFile zf = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zf, nullptr) << path;
  for (const ZipEntry &e : entries) {
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    int level = e.stored ? 0 : Z_DEFAULT_COMPRESSION;
    ASSERT_EQ(zipOpenNewFileInZip(zf, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                  e.stored ? 0 : Z_DEFLATED, level),
              ZIP_OK);
    ASSERT_EQ(zipWriteInFileInZip(zf, e.data.data(), static_cast<unsigned>(e.data.size())), ZIP_OK);
    ASSERT_EQ(zipCloseFileInZip(zf), ZIP_OK);
  }
  ASSERT_EQ(zipClose(zf, nullptr), ZIP_OK);
}

static ChildResult finishChild(pid_t pid, const TempDir &dir) {
  ChildResult r;
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  r.out = readFile(dir / "out");
  r.err = readFile(dir / "err");
  return r;
}

static void redirect(const TempDir &dir) {
  int out = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int err = open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (out < 0 || err < 0) _exit(120);
  dup2(out, 1);
  dup2(err, 2);
  close(out);
  close(err);
}

ChildResult runChild(const std::function<int()> &body) {
  TempDir dir;
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    redirect(dir);
    int status = body();
    fflush(stdout);
    fflush(stderr);
    _exit(status);
  }
  return finishChild(pid, dir);
}

ChildResult runProgram(const std::string &path, const std::vector<std::string> &args) {
  TempDir dir;
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(path.c_str()));
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    redirect(dir);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  return finishChild(pid, dir);
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
  const char *old = getenv(name);
  had_ = old != nullptr;
  if (old) old_ = old;
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

void *openLibrary(const char *path) {
  void *lib = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
  EXPECT_NE(lib, nullptr) << dlerror();
  return lib;
}

void *symbol(void *lib, const char *name) {
  if (!lib) return nullptr;
  void *sym = dlsym(lib, name);
  EXPECT_NE(sym, nullptr) << name << ": " << dlerror();
  return sym;
}

} // namespace platformtest
