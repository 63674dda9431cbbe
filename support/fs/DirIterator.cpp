#include "support/fs/DirIterator.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/fs/Paths.h"
#include "support/text/InlineVector.h"

namespace vorn {
namespace files {

ErrorCode DirEntry::status(FileStatus &result) const { return files::status(entryPath, result); }

void DirEntry::replaceFilename(const Twine &name, FileStatus st) {
  InlineString<128> buffer(StrView(entryPath.data(), uint32_t(entryPath.size())));
  paths::removeFilename(buffer);
  paths::append(buffer, name);
  entryPath.assign(buffer.data(), buffer.size());
  entryStatus = st;
}

DirIterator::DirIterator(const Twine &path, ErrorCode &ec) : state(new State) {
  InlineString<128> text;
  path.appendTo(text);
  DIR *dir = ::opendir(text.cStr());
  if (!dir) {
    ec = ErrorCode::fromErrno();
    return;
  }
  state->handle = dir;
  paths::append(text, ".");
  state->current.entryPath.assign(text.data(), text.size());
  increment(ec);
}

DirIterator::DirIterator(const DirIterator &other) : state(other.state) {
  if (state) ++state->references;
}

DirIterator &DirIterator::operator=(const DirIterator &other) {
  // Taken before release(), which clears `state` (the same member when assigning to itself).
  State *shared = other.state;
  if (shared) ++shared->references;
  release();
  state = shared;
  return *this;
}

DirIterator::~DirIterator() { release(); }

void DirIterator::release() {
  if (state && --state->references == 0) {
    if (state->handle) ::closedir(static_cast<DIR *>(state->handle));
    delete state;
  }
  state = nullptr;
}

DirIterator &DirIterator::increment(ErrorCode &ec) {
  ec = ErrorCode();
  // An iterator that has ended (or never opened) stays at the end.
  if (!state || !state->handle) return *this;
  DIR *dir = static_cast<DIR *>(state->handle);
  for (;;) {
    errno = 0;
    const dirent *entry = ::readdir(dir);
    if (!entry) {
      if (errno != 0) {
        ec = ErrorCode::fromErrno();
        return *this;
      }
      ::closedir(dir);
      state->handle = nullptr;
      state->current = DirEntry();
      return *this;
    }
    const char *name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    size_t length = std::strlen(name);
    std::string &path = state->current.entryPath;
    if (state->prefixLength == 0) {
      // The first entry: replaceFilename works out how the directory part is spelled ("dir/",
      // "/"); every later entry has the same directory part and a name without separators.
      state->current.replaceFilename(StrView(name, uint32_t(length)));
      state->prefixLength = path.size() - length;
    } else {
      path.resize(state->prefixLength);
      path.append(name, length);
      state->current.entryStatus = FileStatus();
    }
    return *this;
  }
}

bool DirIterator::operator==(const DirIterator &other) const {
  if (state == other.state) return true;
  if (!state) return other.state->current.path().empty();
  if (!other.state) return state->current.path().empty();
  return state->current.path() == other.state->current.path();
}

// ---------------------------------------------------------------------------------------------
// removeAll works on directory descriptors (openat, fstatat, unlinkat) rather than on paths: a
// directory that is swapped for a link between the look and the descent is then never followed
// (O_NOFOLLOW), and the depth of the tree is not bounded by the length of a path.

namespace {

ErrorCode genericError(int value) { return ErrorCode(value, genericCategory()); }

// How often a directory that keeps filling up is emptied again before its removal gives up.
const unsigned emptyingPasses = 4;

// What removeEntry does with an entry.
enum class Kind { Directory, Unlinkable, Refused };

Kind kindOfMode(mode_t mode) {
  if (S_ISDIR(mode)) return Kind::Directory;
  if (S_ISREG(mode) || S_ISLNK(mode)) return Kind::Unlinkable;
  return Kind::Refused;
}

ErrorCode removeEntry(int parentFd, const char *name, Kind kind, uint32_t &removed);

// Removes everything in the directory `name` of `parentFd`. `gone` is set when the directory
// itself has vanished meanwhile.
ErrorCode emptyDirectory(int parentFd, const char *name, uint32_t &removed, bool &gone) {
  int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      gone = true;
      return ErrorCode();
    }
    return ErrorCode::fromErrno();
  }
  DIR *dir = ::fdopendir(fd);
  if (!dir) {
    ErrorCode ec = ErrorCode::fromErrno();
    ::close(fd);
    return ec;
  }
  ErrorCode ec;
  for (;;) {
    errno = 0;
    const dirent *entry = ::readdir(dir);
    if (!entry) {
      if (errno != 0) ec = ErrorCode::fromErrno();
      break;
    }
    const char *entryName = entry->d_name;
    if (entryName[0] == '.' &&
        (entryName[1] == '\0' || (entryName[1] == '.' && entryName[2] == '\0')))
      continue;
    // The kind the directory records for the entry itself (a link is a link), where the file
    // system records one; otherwise asked without following links. If the entry is replaced
    // before it is removed, the removal fails (a file is not a directory and the other way
    // round, and a link is never opened as one): an error, never a step outside the tree.
    Kind kind = Kind::Refused;
    switch (entry->d_type) {
    case DT_DIR: kind = Kind::Directory; break;
    case DT_REG:
    case DT_LNK: kind = Kind::Unlinkable; break;
    case DT_UNKNOWN: {
      struct stat st;
      if (::fstatat(fd, entryName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue; // removed by someone else meanwhile
        ec = ErrorCode::fromErrno();
        break;
      }
      kind = kindOfMode(st.st_mode);
      break;
    }
    default: kind = Kind::Refused; break;
    }
    if (ec || (ec = removeEntry(fd, entryName, kind, removed))) break;
  }
  ::closedir(dir);
  return ec;
}

ErrorCode removeEntry(int parentFd, const char *name, Kind kind, uint32_t &removed) {
  if (kind == Kind::Directory) {
    for (unsigned pass = 0;; ++pass) {
      bool gone = false;
      if (ErrorCode ec = emptyDirectory(parentFd, name, removed, gone)) return ec;
      if (gone) return ErrorCode();
      if (::unlinkat(parentFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT) break;
      if ((errno != ENOTEMPTY && errno != EEXIST) || pass + 1 == emptyingPasses)
        return ErrorCode::fromErrno();
    }
    ++removed;
    return ErrorCode();
  }
  if (kind == Kind::Refused) return genericError(EPERM);
  // A file that vanished meanwhile counts like a removal that found nothing.
  if (::unlinkat(parentFd, name, 0) != 0 && errno != ENOENT) return ErrorCode::fromErrno();
  ++removed;
  return ErrorCode();
}

} // namespace

ErrorCode removeAll(const Twine &path, uint32_t &removed) {
  InlineString<128> scratch;
  const char *text = path.asTerminatedView(scratch).data();
  struct stat st;
  if (::fstatat(AT_FDCWD, text, &st, AT_SYMLINK_NOFOLLOW) != 0) return ErrorCode::fromErrno();
  removed = 0;
  return removeEntry(AT_FDCWD, text, kindOfMode(st.st_mode), removed);
}

} // namespace files
} // namespace vorn
