#ifndef VORN_SUPPORT_FS_UNIQUEFILES_H
#define VORN_SUPPORT_FS_UNIQUEFILES_H

#include "support/runtime/Compiler.h"

#include <cstdint>
#include <cstdlib>

#include "support/runtime/ErrorCode.h"
#include "support/text/InlineVector.h"
#include "support/text/StrView.h"
#include "support/text/Twine.h"

namespace vorn {
namespace files {

// Files, directories and names that no other process is using, made from a model name in which
// every '%' stands for a random character of "0123456789abcdef". A file is created and opened in
// one exclusive step and a directory is claimed by creating it, so two processes or threads never
// get the same one; a bare name is only a name that did not exist when it was tested.
//
// Every form writes the name it made (or, on failure, the last name it tried) to `result`, which
// is NUL-terminated in place (the terminator is not counted in its size). An existing name only
// starts another attempt, with fresh random characters in the placeholders. After a bounded
// number of attempts the routine gives up with EEXIST: one attempt for a model without any '%',
// sixteen times the number of possible names for one or two placeholders (a single free name
// among 256 is then missed with a chance of about 1e-7), and 4096 for three or more (the
// temporary models here have six: 16777216 names per prefix). Any other failure is returned at
// once (errno in the system category) and leaves nothing created.

// What makeUniqueEntity makes.
enum class UniqueKind : uint32_t {
  Directory = 0, // a directory, 0770 less the umask
  File = 1,      // a file, created and opened read-write
  NameOnly = 2,  // nothing: a name that does not exist
};

namespace detail {
ErrorCode makeUniqueEntity(const Twine &model, int &fd, InlineString<128> &result,
                           bool makeAbsolute, uint32_t mode, UniqueKind kind);
template <unsigned N>
ErrorCode makeUniqueEntity(const Twine &model, int &fd, InlineString<N> &result,
                           bool makeAbsolute, uint32_t mode, UniqueKind kind) {
  InlineString<128> path;
  ErrorCode ec = makeUniqueEntity(model, fd, path, makeAbsolute, mode, kind);
  result.assign(path.view());
  result.cStr();
  return ec;
}
} // namespace detail

// The routine behind the forms below. With `makeAbsolute`, a model that is not absolute is put
// under the first of "TMPDIR", "TMP", "TEMP" and "TEMPDIR" that is set (even when empty), else
// under "/tmp". UniqueKind::File opens the file with O_RDWR | O_CREAT | O_EXCL and `mode` (less
// the umask) and stores the descriptor in `fd`, which the caller then owns; `fd` is not written
// for the other kinds, and `mode` is used only for files.
template <unsigned N>
ErrorCode makeUniqueEntity(const Twine &model, int &fd, InlineString<N> &result,
                           bool makeAbsolute, uint32_t mode, UniqueKind kind) {
  return detail::makeUniqueEntity(model, fd, result, makeAbsolute, mode, kind);
}

// Creates and opens (read-write) a new file named after `model` with the permission bits `mode`
// less the umask; a relative model is taken relative to the current directory.
template <unsigned N>
ErrorCode makeUniqueFile(const Twine &model, int &fd, InlineString<N> &result, uint32_t mode) {
  return detail::makeUniqueEntity(model, fd, result, false, mode, UniqueKind::File);
}

// Finds a name after `model` that does not exist now; creates nothing.
template <unsigned N> ErrorCode makeUniqueName(const Twine &model, InlineString<N> &result) {
  int unused = -1;
  return detail::makeUniqueEntity(model, unused, result, false, 0, UniqueKind::NameOnly);
}

// Creates and opens (read-write, permissions 0600 less the umask) a new temporary file named
// `prefix` + "-%%%%%%", then "." + `suffix` when the suffix is not empty, under the temporary
// directory chosen as makeUniqueEntity says. `prefix` is meant to be a plain file name.
template <unsigned N>
ErrorCode makeTempFile(const Twine &prefix, StrView suffix, int &fd, InlineString<N> &result) {
  if (suffix.empty())
    return detail::makeUniqueEntity(prefix.concat("-%%%%%%"), fd, result, true, 0600,
                                    UniqueKind::File);
  return detail::makeUniqueEntity(prefix.concat(Twine("-%%%%%%.", suffix)), fd, result, true,
                                  0600, UniqueKind::File);
}

// The name makeTempFile would create, checked for absence only.
template <unsigned N>
ErrorCode makeTempName(const Twine &prefix, StrView suffix, InlineString<N> &result) {
  int unused = -1;
  if (suffix.empty())
    return detail::makeUniqueEntity(prefix.concat("-%%%%%%"), unused, result, true, 0600,
                                    UniqueKind::NameOnly);
  return detail::makeUniqueEntity(prefix.concat(Twine("-%%%%%%.", suffix)), unused, result, true,
                                  0600, UniqueKind::NameOnly);
}

// Creates a new directory `prefix` + "-%%%%%%" (0770 less the umask) under the temporary
// directory.
template <unsigned N> ErrorCode makeUniqueDirectory(const Twine &prefix, InlineString<N> &result) {
  int unused = -1;
  return detail::makeUniqueEntity(prefix.concat("-%%%%%%"), unused, result, true, 0,
                                  UniqueKind::Directory);
}

} // namespace files

namespace paths {

// The system's temporary directory, for callers that build names themselves: the value of
// "TMPDIR" as it is (even when empty) when it is set, else "/tmp" when the files may be erased
// at reboot and "/var/tmp" when they should survive it. `result` is cleared first and is not
// NUL-terminated. (The unique-file routines also look at "TMP", "TEMP" and "TEMPDIR".)
template <unsigned N> void tempDirectory(bool erasedOnReboot, InlineString<N> &result) {
  result.clear();
  if (const char *dir = std::getenv("TMPDIR"))
    result.append(StrView(dir));
  else
    result.append(StrView(erasedOnReboot ? "/tmp" : "/var/tmp"));
}

} // namespace paths

using files::UniqueKind;

} // namespace vorn

#endif
