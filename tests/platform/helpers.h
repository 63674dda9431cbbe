#ifndef TESTS_PLATFORM_HELPERS_H
#define TESTS_PLATFORM_HELPERS_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/TestSupport.h"

namespace platformtest {

using testsupport::ChildResult;
using testsupport::TempDir;

void writeFile(const std::string &path, const std::string &bytes);
// The whole file, or "<missing>" when it cannot be read.
std::string readFile(const std::string &path);
// The file's lines without their newlines; none when it is missing.
std::vector<std::string> readLines(const std::string &path);

struct ZipEntry {
  std::string name;
  std::string data;
  bool stored = false; // deflated otherwise
};
// Writes a ZIP archive through minizip; fails the current test on error.
void writeZip(const std::string &path, const std::vector<ZipEntry> &entries);

// Runs `body` in a forked child whose standard output and error are captured, and returns how
// it ended; the child exits with the value `body` returns.
inline ChildResult runChild(const std::function<int()> &body) { return testsupport::runInChild(body); }
// Runs a program with arguments (argv[0] is `path`) and returns how it ended.
using testsupport::runProgram;

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char *name, const char *value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  std::string name_;
  bool had_;
  std::string old_;
};

// dlopen with RTLD_NOW|RTLD_GLOBAL and dlsym that fail the test (and return null) on error.
void *openLibrary(const char *path);
void *symbol(void *lib, const char *name);

} // namespace platformtest

#endif
