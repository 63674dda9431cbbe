#include "StreamTestSupport.h"

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace vorn {
namespace testing {

RecordingStream::~RecordingStream() { flush(); }

void RecordingStream::sinkWrite(const char *data, size_t size) {
  calls.push_back(Call{std::string(data, size), pendingBytes(), data == bufBegin});
  total += size;
}

uint64_t RecordingStream::sinkPosition() const { return total; }

size_t RecordingStream::defaultBufferSize() const { return chosenSize; }

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/streams-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data())) dir = buf.data();
}

TempDir::~TempDir() {
  if (dir.empty()) return;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") unlink((dir + "/" + name).c_str());
    }
    closedir(d);
  }
  rmdir(dir.c_str());
}

std::string readFile(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return "<missing>";
  std::string all = readToEnd(fd);
  close(fd);
  return all;
}

std::string readToEnd(int fd) {
  std::string all;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) break;
    all.append(buf, size_t(n));
  }
  return all;
}

std::string readAvailable(int fd, size_t want, int timeoutMs) {
  std::string got;
  char buf[4096];
  while (got.size() < want) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) break;
    got.append(buf, size_t(n));
  }
  return got;
}

} // namespace testing
} // namespace vorn
