#ifndef QUILLET_TESTS_LAUNCHER_HARNESS_H
#define QUILLET_TESTS_LAUNCHER_HARNESS_H

// Test helpers for the launcher's tests, over the shared ones: output capture of the real
// descriptors 1 and 2 in this process, and running code in a child process that may end with
// exit().

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "tests/common/TestSupport.h"

namespace units {

using testsupport::systemTempDir;
using testsupport::TempDir;

// What a captured piece of code wrote, and (for a child) how it ended.
using Outcome = testsupport::ChildResult;

// Everything that can still be read from `stream`; the caller keeps and closes the stream.
inline std::string readAll(FILE *stream) {
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, stream)) > 0)
    text.append(buffer, n);
  return text;
}

// Creates (or empties) the file at `path` with `text`; a file that cannot be written ends the
// test program, since no test could go on without it.
inline void writeWholeFile(const std::string &path, const std::string &text) {
  if (!testsupport::writeFile(path, text, 0666)) {
    perror(path.c_str());
    abort();
  }
}

// Runs `body` with descriptors 1 and 2 sent to files in `dir`, and returns what it wrote.
inline Outcome capture(const std::string &dir, const std::function<void()> &body) {
  std::string outPath = dir + "/captured.out", errPath = dir + "/captured.err";
  fflush(stdout);
  fflush(stderr);
  int savedOut = dup(1), savedErr = dup(2);
  int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(outFd, 1);
  dup2(errFd, 2);
  close(outFd);
  close(errFd);
  body();
  fflush(stdout);
  fflush(stderr);
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  Outcome o;
  o.status = 0;
  o.out = testsupport::takeFile(outPath);
  o.err = testsupport::takeFile(errPath);
  return o;
}

// Runs `body` in a child process with its output captured; a body that returns ends the
// child with status 0, so a body that must end the process shows as a different status.
inline Outcome runInChild(const std::function<void()> &body) {
  return testsupport::runInChild([&] {
    body();
    return 0;
  });
}

} // namespace units

#endif
