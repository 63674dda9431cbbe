#ifndef VORN_SUPPORT_FS_FILES_H
#define VORN_SUPPORT_FS_FILES_H

#include "support/runtime/Compiler.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/fs/Paths.h"
#include "support/process/SysTime.h"
#include "support/runtime/ErrorCode.h"
#include "support/text/InlineVector.h"
#include "support/text/StrView.h"
#include "support/text/Twine.h"

namespace vorn {
namespace files {

// File-system queries. Paths are taken as Twines and flattened to NUL-terminated text (on the
// stack up to 128 characters). Failures come back as ErrorCodes holding errno in the system
// category; out-parameters are written only on success unless an operation says otherwise.

// The kind of a file; the numbers are stored and compared elsewhere.
enum class FileType : uint32_t {
  StatusError = 0, // the status could not be determined
  NotFound = 1,    // no file by that name
  Regular = 2,
  Directory = 3,
  Symlink = 4, // never produced by status(), which follows links
  BlockDevice = 5,
  CharDevice = 6,
  Fifo = 7,
  Socket = 8,
  Unknown = 9,
};

// What identifies a file: its device and its serial number on that device.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t file = 0;
};

inline bool operator==(const FileIdentity &a, const FileIdentity &b) {
  return a.device == b.device && a.file == b.file;
}
inline bool operator!=(const FileIdentity &a, const FileIdentity &b) { return !(a == b); }

// The result of a status query. Until a successful status() only `type` means anything, and it
// is FileType::StatusError.
struct FileStatus {
  uint64_t device = 0;          // device of the file system holding the file
  uint64_t inode = 0;           // serial number on that device
  int64_t modificationTime = 0; // seconds since 1970-01-01 00:00 UTC
  uint32_t user = 0;
  uint32_t group = 0;
  int64_t size = 0;             // bytes
  FileType type = FileType::StatusError;
  uint32_t permissions = 0;     // the whole mode word, file-type bits included

  FileIdentity identity() const {
    FileIdentity id;
    id.device = device;
    id.file = inode;
    return id;
  }
  // The modification time as a SysTime (whole seconds; nanoseconds 0).
  SysTime lastModified() const { return SysTime::fromUnixSeconds(modificationTime); }
};

// The status of `path`, following symbolic links. `result` is always written: on failure it is
// all zeros with type NotFound when the file does not exist (ENOENT), else StatusError. Sizes,
// inode numbers and times are 64 bits wide on every target, so any file can be queried.
ErrorCode status(const Twine &path, FileStatus &result);
// The status of the file open as descriptor `fd`, filled and reported like the path form.
ErrorCode status(int fd, FileStatus &result);

// The type is known (not StatusError).
inline bool statusKnown(const FileStatus &s) { return s.type != FileType::StatusError; }
// The type is known and the file was found.
inline bool exists(const FileStatus &s) { return statusKnown(s) && s.type != FileType::NotFound; }
inline bool isDirectory(const FileStatus &s) { return s.type == FileType::Directory; }
inline bool isRegularFile(const FileStatus &s) { return s.type == FileType::Regular; }
inline bool isSymlink(const FileStatus &s) { return s.type == FileType::Symlink; }
// It exists and is neither a directory, a regular file nor a symbolic link.
inline bool isOther(const FileStatus &s) {
  return exists(s) && !isDirectory(s) && !isRegularFile(s) && !isSymlink(s);
}

// Whether something exists at `path` (links followed): a missing file gives success with false;
// any other failure (EACCES, ENOTDIR, ...) is returned and `result` is left alone.
ErrorCode exists(const Twine &path, bool &result);

// The identity of the file at `path` (links followed).
ErrorCode identity(const Twine &path, FileIdentity &result);

// Same device and same inode; the other fields are not compared.
inline bool equivalent(const FileStatus &a, const FileStatus &b) {
  return a.device == b.device && a.inode == b.inode;
}
// Whether `a` and `b` name the same file. A path that cannot be queried (a missing one too) is
// an error, never a false answer; the first failure is returned and `result` is left alone.
ErrorCode equivalent(const Twine &a, const Twine &b, bool &result);

namespace detail {
// The value of "PWD" when it names the current directory (absolute, and the same file as "."),
// else the null view.
StrView trustedPwd();
// getcwd into [buffer, buffer + capacity); the text's length goes to `length`.
ErrorCode currentDirectoryInto(char *buffer, size_t capacity, size_t &length);
// executablePath, reading the link at `selfLink` instead of "/proc/self/exe".
std::string executablePathFrom(const char *argv0, const char *selfLink);
} // namespace detail

// The current directory: the value of "PWD" when it names the current directory (it may spell it
// through symbolic links), else what getcwd says. `result` is cleared first.
template <unsigned N> ErrorCode currentDirectory(InlineString<N> &result) {
  result.clear();
  StrView pwd = detail::trustedPwd();
  if (!pwd.isNull()) {
    result.append(pwd);
    return ErrorCode();
  }
  result.reserve(4096);
  for (;;) {
    size_t length = 0;
    ErrorCode ec = detail::currentDirectoryInto(result.data(), result.capacity(), length);
    if (!ec) {
      result.setSizeInPlace(length);
      return ec;
    }
    if (ec.value() != ERANGE && ec.value() != ENOMEM) return ec;
    result.reserve(2 * result.capacity());
  }
}

// Makes `path` absolute by putting the current directory in front of its relative part (a root
// name stays in front): 'foo' in '/home/u' becomes '/home/u/foo', the empty path '/home/u/'.
// A path with a root directory is left as it is. Only a failure to learn the current directory
// is reported, and then `path` is unchanged.
template <unsigned N> ErrorCode absolutize(InlineString<N> &path) {
  if (paths::hasRootDirectory(path.view())) return ErrorCode();
  InlineString<128> cwd;
  if (ErrorCode ec = currentDirectory(cwd)) return ec;
  InlineString<128> result;
  StrView text = path.view(), dir = cwd.view();
  StrView pieces[4] = {paths::rootName(text), paths::rootDirectory(dir), paths::relativePath(dir),
                       paths::relativePath(text)};
  paths::append(result, pieces[0], pieces[1], pieces[2], pieces[3]);
  path.assign(result.view());
  return ErrorCode();
}

// ---------------------------------------------------------------------------------------------
// File operations. Each wraps one or two system calls; failures are the calls' errno in the system
// category unless an operation says otherwise, and leave the file system as the failing call left
// it.

// Path forms of the type predicates (links followed). A failure to get the status, a missing path
// too (ENOENT), is returned and `result` is left alone; so isSymlink never answers true.
ErrorCode isDirectory(const Twine &path, bool &result);
ErrorCode isRegularFile(const Twine &path, bool &result);
ErrorCode isSymlink(const Twine &path, bool &result);

// Whether `path` (links followed) is a regular file that this process may read and execute.
// Never reports an error: anything that fails answers false.
bool canExecute(const Twine &path);
// Whether this process may write `path` (access with W_OK). Never reports an error.
bool canWrite(const Twine &path);

// Opens `path` read-only. `fd` receives the open call's result every time: the descriptor, or -1
// on failure. Retried while interrupted by a signal.
ErrorCode openForRead(const Twine &path, int &fd);

// How openForWrite opens its file; values combine with |.
enum class OpenFlags : uint32_t {
  None = 0,      // write-only, created if missing, truncated
  Exclusive = 1, // fail with EEXIST when the file exists
  Append = 2,    // append instead of truncating
  Binary = 4,    // FdOutStream on "-" only: standard output in binary mode (no-op here)
};
inline OpenFlags operator|(OpenFlags a, OpenFlags b) { return OpenFlags(uint32_t(a) | uint32_t(b)); }
inline OpenFlags operator&(OpenFlags a, OpenFlags b) { return OpenFlags(uint32_t(a) & uint32_t(b)); }

// Opens `path` for writing with O_WRONLY | O_CREAT and O_TRUNC, or O_APPEND with
// OpenFlags::Append, plus O_EXCL with OpenFlags::Exclusive; other bits of `flags` are ignored.
// A created file gets the permission bits `mode` less the umask. `fd` receives the open call's
// result every time (-1 on failure). Retried while interrupted by a signal.
ErrorCode openForWrite(const Twine &path, int &fd, OpenFlags flags, uint32_t mode);

// Sets the access and modification times of the file open as `fd` to the whole seconds of
// `time` (the sub-second part is dropped). Any date the file system can store, including
// dates after January 2038.
ErrorCode setLastModifiedAndAccessed(int fd, SysTime time);

// Sets the size of the file at `path` to `size` bytes, cutting it or extending it with zeros.
// The size is 64 bits wide: files beyond 4 GiB are fine where the file system allows them; a size
// beyond the largest file offset gives EFBIG.
ErrorCode resize(const Twine &path, uint64_t size);

// Renames `from` to `to` (rename(2): an existing `to` is replaced when the kinds allow).
ErrorCode rename(const Twine &from, const Twine &to);

// Removes the file or empty directory at `path`; `existed` says whether there was one. A missing
// path (also a dangling link) is success with existed = false. Something that is neither a
// regular file nor a directory (after following links) is not removed: EPERM in the generic
// category. A symbolic link is itself removed, never its target.
ErrorCode remove(const Twine &path, bool &existed);

// Creates the symbolic link `linkName` holding the text of `target` as it is.
ErrorCode createSymlink(const Twine &target, const Twine &linkName);

// Creates `linkName` as another name of the file `target`.
ErrorCode createHardLink(const Twine &target, const Twine &linkName);

// Creates the directory `path` with permissions 0770 less the umask. When something of any kind
// already has that name: success with existed = true; otherwise existed = false after creating it.
ErrorCode createDirectory(const Twine &path, bool &existed);

// Creates the directory `path` and every missing directory above it. `existed` reports the last
// level only. Directories made before a later level fails stay in place.
ErrorCode createDirectories(const Twine &path, bool &existed);

// The absolute path of the running executable: where "/proc/self/exe" leads, else (no link, or
// one that cannot be read) the first candidate found from `argv0` (itself when absolute; under
// the current directory when it holds a '/'; else in each "PATH" directory in turn) that exists
// and is not a directory. The empty string when nothing is found. `mainAddress` (a function of the program) is not needed on this
// platform.
std::string executablePath(const char *argv0, void *mainAddress);

} // namespace files

using files::FileIdentity;
using files::FileStatus;
using files::FileType;
using files::OpenFlags;

} // namespace vorn

#endif
