#ifndef QUILLET_TESTS_UNITS_HARNESS_H
#define QUILLET_TESTS_UNITS_HARNESS_H

// Test helpers for the launcher's unit tests: temporary directories, output capture of the
// real descriptors 1 and 2, and running code in a child process that may end with exit().

#include <fcntl.h>
#include <ftw.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

// The number of blocks from the test allocator not yet freed.
long oruLiveBlocks();

namespace units {

// Everything that can still be read from `stream`; the caller keeps and closes the stream.
inline std::string readAll(FILE *stream) {
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, stream)) > 0)
    text.append(buffer, n);
  return text;
}

// The contents of the file at `path`, or an empty text when it cannot be opened.
inline std::string readWholeFile(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr)
    return std::string();
  std::string text = readAll(f);
  fclose(f);
  return text;
}

inline void writeWholeFile(const std::string &path, const std::string &text) {
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) {
    perror(path.c_str());
    abort();
  }
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

// The system's temporary directory: $TMPDIR when set and not empty, else /tmp.
inline std::string systemTempDir() {
  const char *base = getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

// A fresh directory, removed with its contents (links are removed, never followed).
class TempDir {
public:
  // A directory in the system's temporary directory.
  TempDir() : TempDir(systemTempDir(), "quillet-units") {}
  // A directory in the existing directory `parent`, its name `prefix` and six random characters.
  TempDir(const std::string &parent, const std::string &prefix) {
    std::string model = parent + "/" + prefix + "-XXXXXX";
    if (mkdtemp(&model[0]) == nullptr) {
      perror("mkdtemp");
      abort();
    }
    path_ = model;
  }
  ~TempDir() {
    nftw(
        path_.c_str(),
        [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }

private:
  std::string path_;
};

// What a captured piece of code wrote, and (for a child) how it ended.
struct Outcome {
  int status = -1; // exit status, or -1 when the child did not exit normally
  std::string out;
  std::string err;
};

// Sends descriptors 1 and 2 to files created (or emptied) at `outPath` and `errPath`.
inline void redirectOutput(const std::string &outPath, const std::string &errPath) {
  int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(outFd, 1);
  dup2(errFd, 2);
  close(outFd);
  close(errFd);
}

// Runs `body` with descriptors 1 and 2 sent to files in `dir`, and returns what it wrote.
inline Outcome capture(const std::string &dir, const std::function<void()> &body) {
  std::string outPath = dir + "/captured.out", errPath = dir + "/captured.err";
  fflush(stdout);
  fflush(stderr);
  int savedOut = dup(1), savedErr = dup(2);
  redirectOutput(outPath, errPath);
  body();
  fflush(stdout);
  fflush(stderr);
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  Outcome o;
  o.status = 0;
  o.out = readWholeFile(outPath);
  o.err = readWholeFile(errPath);
  remove(outPath.c_str());
  remove(errPath.c_str());
  return o;
}

// Runs `body` in a child process with its output captured; a body that returns ends the
// child with status 0, so a body that must end the process shows as a different status.
inline Outcome runInChild(const std::string &dir, const std::function<void()> &body) {
  std::string outPath = dir + "/child.out", errPath = dir + "/child.err";
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    redirectOutput(outPath, errPath);
    body();
    fflush(nullptr);
    _exit(0);
  }
  Outcome o;
  int wstatus = 0;
  if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
    o.status = WEXITSTATUS(wstatus);
  o.out = readWholeFile(outPath);
  o.err = readWholeFile(errPath);
  remove(outPath.c_str());
  remove(errPath.c_str());
  return o;
}

} // namespace units

#endif
