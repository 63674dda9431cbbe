#include "harness.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vctest {

namespace {

std::string errnoText(const std::string &what) { return what + ": " + std::strerror(errno); }

} // namespace

RunResult run(const std::string &program, const std::vector<std::string> &args, Stdout mode, const char *argv0,
        const std::string &cwd) {
  testsupport::Command command;
  command.program = program;
  command.args = args;
  command.argv0 = argv0;
  command.cwd = cwd;
  command.out = mode;
  return testsupport::runProgram(command);
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
  if (!testsupport::writeAll(fd, data)) {
    std::string why = errnoText("write " + to);
    close(fd);
    throw std::runtime_error(why);
  }
  close(fd);
  chmod(to.c_str(), st.st_mode & 07777);
}

void writeFile(const std::string &path, const std::string &text) {
  if (!testsupport::writeFile(path, text, 0666)) throw std::runtime_error(errnoText("write " + path));
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
