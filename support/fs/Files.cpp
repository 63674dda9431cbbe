#include "support/fs/Files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "support/runtime/Allocation.h"

namespace vorn {
namespace files {

namespace {

FileType typeOfMode(uint32_t mode) {
  if (S_ISDIR(mode)) return FileType::Directory;
  if (S_ISREG(mode)) return FileType::Regular;
  if (S_ISBLK(mode)) return FileType::BlockDevice;
  if (S_ISCHR(mode)) return FileType::CharDevice;
  if (S_ISFIFO(mode)) return FileType::Fifo;
  if (S_ISSOCK(mode)) return FileType::Socket;
  return FileType::Unknown;
}

ErrorCode failedStatus(ErrorCode ec, FileStatus &result) {
  result = FileStatus();
  result.type = ec == ErrorCondition::generic(ENOENT) ? FileType::NotFound : FileType::StatusError;
  return ec;
}

ErrorCode filledStatus(const struct stat &st, FileStatus &result) {
  result.device = uint64_t(st.st_dev);
  result.inode = uint64_t(st.st_ino);
  result.modificationTime = int64_t(st.st_mtime);
  result.user = uint32_t(st.st_uid);
  result.group = uint32_t(st.st_gid);
  result.size = int64_t(st.st_size);
  result.type = typeOfMode(uint32_t(st.st_mode));
  result.permissions = uint32_t(st.st_mode);
  return ErrorCode();
}

// Accepts `dir`/`argv0` as the executable when it resolves, exists and is not a directory.
bool tryCandidate(const char *dir, const char *argv0, std::string &result) {
  char candidate[4096];
  int length = std::snprintf(candidate, sizeof(candidate), "%s/%s", dir, argv0);
  // A candidate cut to fit the buffer names some other file.
  if (length < 0 || size_t(length) >= sizeof(candidate)) return false;
  char resolved[4096];
  if (!realpath(candidate, resolved)) return false;
  struct stat st;
  if (::stat(candidate, &st) != 0 || S_ISDIR(st.st_mode)) return false;
  result = resolved;
  return true;
}

} // namespace

ErrorCode status(const Twine &path, FileStatus &result) {
  InlineString<128> scratch;
  StrView text = path.asTerminatedView(scratch);
  struct stat st;
  if (::stat(text.data(), &st) != 0) return failedStatus(ErrorCode::fromErrno(), result);
  return filledStatus(st, result);
}

ErrorCode status(int fd, FileStatus &result) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return failedStatus(ErrorCode::fromErrno(), result);
  return filledStatus(st, result);
}

ErrorCode exists(const Twine &path, bool &result) {
  InlineString<128> scratch;
  StrView text = path.asTerminatedView(scratch);
  if (::access(text.data(), F_OK) == 0) {
    result = true;
    return ErrorCode();
  }
  if (errno == ENOENT) {
    result = false;
    return ErrorCode();
  }
  return ErrorCode::fromErrno();
}

ErrorCode identity(const Twine &path, FileIdentity &result) {
  FileStatus st;
  if (ErrorCode ec = status(path, st)) return ec;
  result = st.identity();
  return ErrorCode();
}

ErrorCode equivalent(const Twine &a, const Twine &b, bool &result) {
  FileStatus first, second;
  if (ErrorCode ec = status(a, first)) return ec;
  if (ErrorCode ec = status(b, second)) return ec;
  result = equivalent(first, second);
  return ErrorCode();
}

namespace detail {

StrView trustedPwd() {
  const char *pwd = std::getenv("PWD");
  if (!pwd || !paths::isAbsolute(pwd)) return StrView();
  FileStatus named, current;
  if (status(pwd, named) || status(".", current)) return StrView();
  if (named.identity() != current.identity()) return StrView();
  return StrView(pwd);
}

ErrorCode currentDirectoryInto(char *buffer, size_t capacity, size_t &length) {
  if (!::getcwd(buffer, capacity)) return ErrorCode::fromErrno();
  length = std::strlen(buffer);
  return ErrorCode();
}

std::string executablePathFrom(const char *argv0, const char *selfLink) {
  bool linkExists = false;
  if (!exists(selfLink, linkExists) && linkExists) {
    char target[4096];
    ssize_t length = ::readlink(selfLink, target, sizeof(target));
    if (length >= 0 && size_t(length) < sizeof(target)) return std::string(target, size_t(length));
    // A link that cannot be read (or whose target fills the whole buffer, and may have been cut)
    // tells nothing: argv[0] may still.
  }

  std::string result;
  if (!argv0 || !*argv0) return result;
  if (argv0[0] == '/') {
    tryCandidate("/", argv0, result);
    return result;
  }
  if (std::strchr(argv0, '/')) {
    char cwd[4096];
    if (::getcwd(cwd, sizeof(cwd))) tryCandidate(cwd, argv0, result);
    return result;
  }
  const char *searchPath = std::getenv("PATH");
  if (!searchPath) return result;
  size_t length = std::strlen(searchPath) + 1;
  char *copy = static_cast<char *>(safeMalloc(length));
  std::memcpy(copy, searchPath, length);
  // Each element in turn; an empty element is the empty directory text.
  for (char *dir = copy;;) {
    char *colon = std::strchr(dir, ':');
    if (colon) *colon = '\0';
    if (tryCandidate(dir, argv0, result) || !colon) break;
    dir = colon + 1;
  }
  std::free(copy);
  return result;
}

} // namespace detail

std::string executablePath(const char *argv0, void *mainAddress) {
  (void)mainAddress;
  return detail::executablePathFrom(argv0, "/proc/self/exe");
}

} // namespace files
} // namespace vorn
