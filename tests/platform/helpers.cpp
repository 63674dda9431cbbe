#include "helpers.h"

#include <dlfcn.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

namespace platformtest {

void writeFile(const std::string &path, const std::string &bytes) {
  ASSERT_TRUE(testsupport::writeFile(path, bytes, 0666)) << "cannot write " << path;
}

std::string readFile(const std::string &path) {
  std::string text;
  return testsupport::readFile(path, &text) ? text : "<missing>";
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
