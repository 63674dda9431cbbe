#ifndef VORN_SUPPORT_FS_DIRITERATOR_H
#define VORN_SUPPORT_FS_DIRITERATOR_H

#include "support/runtime/Compiler.h"

#include <cstdint>
#include <string>
#include <utility>

#include "support/fs/Files.h"
#include "support/runtime/ErrorCode.h"
#include "support/text/StrView.h"
#include "support/text/Twine.h"

namespace vorn {
namespace files {

// One entry met while walking a directory: its path (the directory's path joined with the entry
// name) and a status that iteration leaves unknown (FileType::StatusError): the entry's kind is
// learnt only by asking status().
class DirEntry {
public:
  DirEntry() = default;
  explicit DirEntry(std::string path, FileStatus st = FileStatus())
      : entryPath(std::move(path)), entryStatus(st) {}

  const std::string &path() const { return entryPath; }
  // The status stored with the entry (unknown unless replaceFilename was given one).
  const FileStatus &storedStatus() const { return entryStatus; }

  // files::status of the entry's path (links followed), asked anew on every call.
  ErrorCode status(FileStatus &result) const;

  // Replaces the last component of the path by `name` (with paths::removeFilename and
  // paths::append: 'dir/.' becomes 'dir/a', "/." becomes '/a') and stores `st`.
  void replaceFilename(const Twine &name, FileStatus st = FileStatus());

  bool operator==(const DirEntry &other) const { return entryPath == other.entryPath; }
  bool operator!=(const DirEntry &other) const { return !(*this == other); }

private:
  friend class DirIterator;
  std::string entryPath;
  FileStatus entryStatus;
};

// Walks the entries of one directory, not its subdirectories, in the order the system lists
// them, leaving out "." and "..". Copies share one position and advance together, and must stay
// on one thread; the directory is closed when the last copy goes away or the walk ends. A
// default-constructed iterator is the end iterator.
class DirIterator {
public:
  DirIterator() = default;
  // Opens the directory `path` and moves to its first entry; an empty directory gives the end
  // iterator. A directory that cannot be opened gives its errno in `ec` and an iterator equal to
  // the end iterator; otherwise `ec` is 0 or the failure of the first read.
  DirIterator(const Twine &path, ErrorCode &ec);
  DirIterator(const DirIterator &other);
  DirIterator &operator=(const DirIterator &other);
  ~DirIterator();

  // Moves to the next entry, or to the end (closing the directory). A failed read gives its errno
  // in `ec` and leaves the iterator where it was; otherwise `ec` is 0.
  DirIterator &increment(ErrorCode &ec);

  // The current entry; the caller guarantees the iterator is not at the end.
  const DirEntry &operator*() const { return state->current; }
  const DirEntry *operator->() const { return &state->current; }

  // Same walk; or, when one side is the end iterator, whether the other has ended (its entry
  // path is empty); otherwise whether the current entry paths are equal.
  bool operator==(const DirIterator &other) const;
  bool operator!=(const DirIterator &other) const { return !(*this == other); }

private:
  struct State {
    uint32_t references = 1;
    void *handle = nullptr; // the DIR of the open directory; null once ended or not opened
    DirEntry current;
    size_t prefixLength = 0; // of the directory part of entry paths, once the first is made
  };
  State *state = nullptr;

  void release();
};

// Removes `path` and everything below it, and sets `removed` to the number of files,
// directories and links removed. Entries are examined without following symbolic links: a link
// (also `path` itself, when it is one) is removed, never what it points to, so nothing outside
// the named tree is touched. Something that is neither a directory, a regular file nor a link
// (a FIFO, a socket, a device) is not removed: EPERM in the generic category. A missing `path` is
// an error (ENOENT) and leaves `removed` alone; otherwise the walk stops at the first failure,
// leaving removed what was removed (counted in `removed`). Entries that vanish while the walk
// runs are skipped; a directory that fills up again while it is being emptied is emptied again a
// few times before its ENOTEMPTY is returned.
ErrorCode removeAll(const Twine &path, uint32_t &removed);

} // namespace files

using files::DirEntry;
using files::DirIterator;

} // namespace vorn

#endif
