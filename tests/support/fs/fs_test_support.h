#ifndef VORN_TESTS_FS_FS_TEST_SUPPORT_H
#define VORN_TESTS_FS_FS_TEST_SUPPORT_H

// Helpers of the file-system tests: a private temporary directory that is removed with
// everything in it (however deep), and running a piece of code in a child process, for tests
// that change the working directory, the environment, the root or the mount namespace.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace fstest {

// Removes everything below the directory open at `fd`, then closes it. Works by descriptor, so
// depth and path length do not matter.
inline void removeContents(int fd) {
  DIR *dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  while (dirent *entry = readdir(dir)) {
    const char *name = entry->d_name;
    if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) continue;
    if (unlinkat(fd, name, 0) == 0) continue;
    int sub = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (sub >= 0) {
      fchmod(sub, 0700);
      removeContents(sub);
    }
    unlinkat(fd, name, AT_REMOVEDIR);
  }
  closedir(dir);
}

// A fresh directory under $TMPDIR (or /tmp), removed with its contents on destruction.
class TempDir {
public:
  TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vorn-fs-XXXXXX";
    char buffer[PATH_MAX];
    std::strncpy(buffer, pattern.c_str(), sizeof(buffer) - 1);
    buffer[sizeof(buffer) - 1] = '\0';
    if (mkdtemp(buffer)) {
      char resolved[PATH_MAX];
      // Tests compare against getcwd and realpath, which see through symbolic links.
      dir = realpath(buffer, resolved) ? resolved : buffer;
    }
  }
  ~TempDir() {
    if (dir.empty()) return;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) removeContents(fd);
    chmod(dir.c_str(), 0700);
    rmdir(dir.c_str());
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  bool ok() const { return !dir.empty(); }
  const std::string &path() const { return dir; }
  std::string operator/(const std::string &name) const { return dir + "/" + name; }

private:
  std::string dir;
};

// Writes `contents` to a new file at `path`; true on success.
inline bool writeFile(const std::string &path, const std::string &contents, mode_t mode = 0644) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (fd < 0) return false;
  bool ok = write(fd, contents.data(), contents.size()) == ssize_t(contents.size());
  return close(fd) == 0 && ok;
}

struct ChildResult {
  int status = -1;    // the wait status
  std::string output; // what the child returned
  bool exitedNormally() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

// Runs `body` in a child process and returns the text it produced. The child may change its
// working directory, environment, root or namespaces freely; none of it reaches the test.
inline ChildResult inChild(const std::function<std::string()> &body) {
  ChildResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string out = body();
    const char *p = out.data();
    size_t left = out.size();
    while (left > 0) {
      ssize_t n = write(fds[1], p, left);
      if (n <= 0) _exit(3);
      p += n;
      left -= size_t(n);
    }
    _exit(0);
  }
  close(fds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof(buffer))) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) result.output.append(buffer, size_t(n));
  close(fds[0]);
  if (pid > 0) waitpid(pid, &result.status, 0);
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
