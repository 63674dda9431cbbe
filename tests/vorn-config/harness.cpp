#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vctest {

namespace {

std::string errnoText(const std::string &what) { return what + ": " + std::strerror(errno); }

} // namespace

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vorn-config-test.XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error(errnoText("mkdtemp"));
  dir = realPath(buf.data());
}

TempDir::~TempDir() { removeTree(dir); }

RunResult run(const std::string &program, const std::vector<std::string> &args, Stdout mode, const char *argv0,
        const std::string &cwd) {
  TempDir scratch;
  std::string outPath = scratch.path() + "/out", errPath = scratch.path() + "/err";
  std::vector<std::string> argvText;
  argvText.push_back(argv0 ? argv0 : program);
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &a : argvText) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(errnoText("fork"));
  if (pid == 0) {
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int out = -1;
    switch (mode) {
    case Stdout::Capture: out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600); break;
    case Stdout::SameAsStderr: out = dup(err); break;
    case Stdout::DevFull: out = open("/dev/full", O_WRONLY); break;
    case Stdout::Closed: break;
    }
    if (err < 0) _exit(126);
    if (out >= 0) {
      dup2(out, 1);
      close(out);
    } else {
      close(1);
    }
    dup2(err, 2);
    close(err);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  RunResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = readFile(outPath);
  r.err = readFile(errPath);
  return r;
}

void makeDirs(const std::string &path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) throw std::runtime_error(errnoText("mkdir " + part));
    }
  }
}

void copyFile(const std::string &from, const std::string &to) {
  struct stat st;
  if (stat(from.c_str(), &st) != 0) throw std::runtime_error(errnoText("stat " + from));
  std::string data = readFile(from);
  int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, st.st_mode & 07777);
  if (fd < 0) throw std::runtime_error(errnoText("open " + to));
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      close(fd);
      throw std::runtime_error(errnoText("write " + to));
    }
    done += size_t(n);
  }
  close(fd);
  chmod(to.c_str(), st.st_mode & 07777);
}

std::string readFile(const std::string &path) {
  std::string data;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  std::fclose(f);
  return data;
}

void writeFile(const std::string &path, const std::string &text) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error(errnoText("fopen " + path));
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

void removeTree(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR *d = opendir(path.c_str())) {
      while (dirent *e = readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        removeTree(path + "/" + e->d_name);
      }
      closedir(d);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string realPath(const std::string &path) {
  char buf[PATH_MAX];
  if (!realpath(path.c_str(), buf)) throw std::runtime_error(errnoText("realpath " + path));
  return buf;
}

std::vector<std::string> words(const std::string &line) {
  std::vector<std::string> out;
  size_t start = 0;
  if (line.empty()) return out;
  for (;;) {
    size_t sp = line.find(' ', start);
    out.push_back(line.substr(start, sp == std::string::npos ? std::string::npos : sp - start));
    if (sp == std::string::npos) break;
    start = sp + 1;
  }
  return out;
}

} // namespace vctest
