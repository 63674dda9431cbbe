#ifndef TESTS_PLATFORM_HELPERS_H
#define TESTS_PLATFORM_HELPERS_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace platformtest {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

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

struct ChildResult {
  int status = -1; // exit status, or 128 + signal
  std::string out, err;
};
// Runs `body` in a forked child whose standard output and error go to files, and returns how
// it ended; the child exits with the value `body` returns.
ChildResult runChild(const std::function<int()> &body);
// Runs a program with arguments (argv[0] is `path`) and returns how it ended.
ChildResult runProgram(const std::string &path, const std::vector<std::string> &args);

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
