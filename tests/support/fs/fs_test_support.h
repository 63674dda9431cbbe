#ifndef VORN_TESTS_FS_FS_TEST_SUPPORT_H
#define VORN_TESTS_FS_FS_TEST_SUPPORT_H

// Helpers of the file-system tests: the shared temporary directory and file helpers, and running
// a piece of code in a child process, for tests that change the working directory, the
// environment, the root or the mount namespace.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "tests/common/TestSupport.h"

namespace fstest {

using testsupport::TempDir;
using testsupport::writeFile;

// How a child run by inChild ended, and the text it handed back.
struct ChildResult {
  testsupport::ChildResult run; // its status and what it wrote on descriptors 1 and 2
  std::string output;           // what the body returned
  bool exitedNormally() const { return run.status == 0; }
};

// Runs `body` in a child process and returns the text it produced. The child may change its
// working directory, environment, root or namespaces freely; none of it reaches the test. The
// text goes through a descriptor opened beforehand, so a changed root does not matter.
inline ChildResult inChild(const std::function<std::string()> &body) {
  ChildResult result;
  TempDir dir;
  const std::string path = dir / "returned";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return result;
  result.run = testsupport::runInChild([&] { return testsupport::writeAll(fd, body()) ? 0 : 3; });
  close(fd);
  result.output = testsupport::readFile(path);
  return result;
}

// Creates and enters, from the current directory, a chain of directories named `name` until the
// working directory's text is at least `length` characters; returns that text. `base` is the
// text of the starting directory.
inline std::string enterDeepDirectory(std::string base, const std::string &name, size_t length) {
  while (base.size() < length) {
    if (mkdir(name.c_str(), 0755) != 0 && errno != EEXIST) return std::string();
    if (chdir(name.c_str()) != 0) return std::string();
    base += "/" + name;
  }
  return base;
}

} // namespace fstest

#endif
