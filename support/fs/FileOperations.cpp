// The file operations of the files namespace: opening, creating, linking, renaming, resizing,
// removing and time-stamping files. The status queries are in Files.cpp.

#include "support/fs/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vorn {
namespace files {

namespace {

// A path flattened to NUL-terminated text, on the stack up to 128 characters.
class CPath {
public:
  explicit CPath(const Twine &path) : text(path.asTerminatedView(scratch).data()) {}
  const char *c_str() const { return text; }

private:
  InlineString<128> scratch;
  const char *text;
};

template <bool (*predicate)(const FileStatus &)>
ErrorCode askStatus(const Twine &path, bool &result) {
  FileStatus st;
  if (ErrorCode ec = status(path, st)) return ec;
  result = predicate(st);
  return ErrorCode();
}

ErrorCode openRetrying(const char *path, int flags, uint32_t mode, int &fd) {
  for (;;) {
    fd = ::open(path, flags, mode_t(mode));
    if (fd >= 0) return ErrorCode();
    if (errno != EINTR) return ErrorCode::fromErrno();
  }
}

} // namespace

ErrorCode isDirectory(const Twine &path, bool &result) {
  return askStatus<static_cast<bool (*)(const FileStatus &)>(isDirectory)>(path, result);
}
ErrorCode isRegularFile(const Twine &path, bool &result) {
  return askStatus<static_cast<bool (*)(const FileStatus &)>(isRegularFile)>(path, result);
}
ErrorCode isSymlink(const Twine &path, bool &result) {
  return askStatus<static_cast<bool (*)(const FileStatus &)>(isSymlink)>(path, result);
}

bool canExecute(const Twine &path) {
  CPath p(path);
  if (::access(p.c_str(), R_OK | X_OK) != 0) return false;
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool canWrite(const Twine &path) {
  CPath p(path);
  return ::access(p.c_str(), W_OK) == 0;
}

ErrorCode openForRead(const Twine &path, int &fd) {
  CPath p(path);
  return openRetrying(p.c_str(), O_RDONLY, 0, fd);
}

ErrorCode openForWrite(const Twine &path, int &fd, OpenFlags flags, uint32_t mode) {
  CPath p(path);
  int openFlags = O_WRONLY | O_CREAT;
  if (uint32_t(flags & OpenFlags::Exclusive)) openFlags |= O_EXCL;
  openFlags |= uint32_t(flags & OpenFlags::Append) ? O_APPEND : O_TRUNC;
  return openRetrying(p.c_str(), openFlags, mode, fd);
}

ErrorCode setLastModifiedAndAccessed(int fd, SysTime time) {
  // time_t is 64 bits wide in every build, so no date is cut to 32 bits on the way.
  struct timespec times[2];
  times[0].tv_sec = time_t(time.toUnixSeconds());
  times[0].tv_nsec = 0;
  times[1] = times[0];
  if (::futimens(fd, times) != 0) return ErrorCode::fromErrno();
  return ErrorCode();
}

ErrorCode resize(const Twine &path, uint64_t size) {
  // off_t is 64 bits wide in every build; a size it cannot hold as a positive offset is too big.
  if (size > uint64_t(INT64_MAX)) return ErrorCode::fromErrno(EFBIG);
  CPath p(path);
  if (::truncate(p.c_str(), off_t(size)) != 0) return ErrorCode::fromErrno();
  return ErrorCode();
}

ErrorCode rename(const Twine &from, const Twine &to) {
  CPath f(from), t(to);
  if (::rename(f.c_str(), t.c_str()) != 0) return ErrorCode::fromErrno();
  return ErrorCode();
}

ErrorCode remove(const Twine &path, bool &existed) {
  CPath p(path);
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) {
    if (errno != ENOENT) return ErrorCode::fromErrno();
    existed = false;
    return ErrorCode();
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return ErrorCode(EPERM, genericCategory());
  if (::remove(p.c_str()) != 0) {
    if (errno != ENOENT) return ErrorCode::fromErrno();
    existed = false; // it went away meanwhile
    return ErrorCode();
  }
  existed = true;
  return ErrorCode();
}

ErrorCode createSymlink(const Twine &target, const Twine &linkName) {
  CPath t(target), l(linkName);
  if (::symlink(t.c_str(), l.c_str()) != 0) return ErrorCode::fromErrno();
  return ErrorCode();
}

ErrorCode createHardLink(const Twine &target, const Twine &linkName) {
  CPath t(target), l(linkName);
  if (::link(t.c_str(), l.c_str()) != 0) return ErrorCode::fromErrno();
  return ErrorCode();
}

ErrorCode createDirectory(const Twine &path, bool &existed) {
  CPath p(path);
  if (::mkdir(p.c_str(), 0770) == 0) {
    existed = false;
    return ErrorCode();
  }
  if (errno != EEXIST) return ErrorCode::fromErrno();
  existed = true;
  return ErrorCode();
}

ErrorCode createDirectories(const Twine &path, bool &existed) {
  InlineString<128> scratch;
  StrView text = path.asTerminatedView(scratch);
  StrView parent = paths::parentPath(text);
  if (!parent.empty()) {
    bool parentExists = false;
    if (ErrorCode ec = exists(parent, parentExists)) return ec;
    if (!parentExists) {
      bool ignored;
      if (ErrorCode ec = createDirectories(parent, ignored)) return ec;
    }
  }
  return createDirectory(text, existed);
}

} // namespace files
} // namespace vorn
