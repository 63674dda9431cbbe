#ifndef VORN_SUPPORT_FS_PATHS_H
#define VORN_SUPPORT_FS_PATHS_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>

#include "support/text/InlineVector.h"
#include "support/text/StrView.h"
#include "support/text/Twine.h"

namespace vorn {
namespace paths {

// Path text operations. Paths are byte strings separated by '/' alone; they are never
// normalised: "." and ".." are ordinary components and repeated separators stay in the text
// (they are only skipped when components are taken). Nothing here touches the file system,
// allocates for its result or fails. Decomposition results are views into the argument.

inline bool isSeparator(char c) { return c == '/'; }

class PathIterator;
class ReversePathIterator;

// The first component of `path`; equals end(path) when the path is empty.
PathIterator begin(StrView path);
// Past the last component of `path`.
PathIterator end(StrView path);
// The last component of `path` (its file name).
ReversePathIterator rbegin(StrView path);
// Past the first component of `path`, walking backwards.
ReversePathIterator rend(StrView path);

// Walks the components of a path forwards. A leading "//name" is one component (a network root
// name), a root separator reads as "/", and a trailing separator reads as a final "." (a view of
// a constant text, not of the path). A leading "." or ".." is a component of its own even when
// more characters follow ('.profile' walks as ".", "profile"). Valid while the path text is.
class PathIterator {
public:
  const StrView &operator*() const { return component; }
  const StrView *operator->() const { return &component; }
  PathIterator &operator++();
  // Same path text (by address) and same position; the component is not compared.
  bool operator==(const PathIterator &other) const {
    return path.data() == other.path.data() && position == other.position;
  }
  bool operator!=(const PathIterator &other) const { return !(*this == other); }
  ptrdiff_t operator-(const PathIterator &other) const {
    return ptrdiff_t(position) - ptrdiff_t(other.position);
  }
  // Index in the path where the current component starts.
  uint32_t offset() const { return position; }
  // The whole path being walked.
  StrView text() const { return path; }

private:
  friend PathIterator begin(StrView);
  friend PathIterator end(StrView);
  StrView path;
  StrView component;
  uint32_t position = 0;
};

// Walks the components of a path backwards, from the file name to the first component, then to
// rend(). It shows the components of the forward walk in reverse order, with two exceptions:
// the file name is taken whole (so '.profile' is one component here), and a trailing separator
// always reads as "." ('//net/' walks back as ".", '//net' while its forward walk is '//net',
// "/"). Valid while the path text is.
class ReversePathIterator {
public:
  const StrView &operator*() const { return component; }
  const StrView *operator->() const { return &component; }
  ReversePathIterator &operator++();
  // Same path text (by address) and same position, and both at rend() or neither: the first
  // component starts at position 0 like rend() does, and must not compare equal to it.
  bool operator==(const ReversePathIterator &other) const {
    return path.data() == other.path.data() && position == other.position &&
           component.empty() == other.component.empty();
  }
  bool operator!=(const ReversePathIterator &other) const { return !(*this == other); }
  ptrdiff_t operator-(const ReversePathIterator &other) const {
    return ptrdiff_t(position) - ptrdiff_t(other.position);
  }
  // Index in the path where the current component starts.
  uint32_t offset() const { return position; }

private:
  friend ReversePathIterator rbegin(StrView);
  friend ReversePathIterator rend(StrView);
  StrView path;
  StrView component;
  uint32_t position = 0;
};

// A network root name ('//net' as the first component), else empty.
StrView rootName(StrView path);
// The root separator ("/"), after a root name if there is one, else empty.
StrView rootDirectory(StrView path);
// The root name and the root directory together, else empty.
StrView rootPath(StrView path);
// The path after its rootPath.
StrView relativePath(StrView path);
// The path without its file name and the separators before it (the root separator is kept).
// When there is no such part (a lone root, four or more separators only) the result is the null
// view.
StrView parentPath(StrView path);
// The last component: "." for a trailing separator, "/" for the root alone.
StrView filename(StrView path);
// The file name up to its last '.'; the whole file name when it has no '.' or is "." or "..".
StrView stem(StrView path);
// The file name from its last '.' on, the dot included; empty when stem is the whole file name.
StrView extension(StrView path);

// True when the matching decomposition of the path is not empty.
bool hasRootName(const Twine &path);
bool hasRootDirectory(const Twine &path);
bool hasRootPath(const Twine &path);
bool hasRelativePath(const Twine &path);
bool hasParentPath(const Twine &path);
bool hasFilename(const Twine &path);
bool hasStem(const Twine &path);
bool hasExtension(const Twine &path);
// Absolute means having a root directory, so '//net' alone is relative.
bool isAbsolute(const Twine &path);
bool isRelative(const Twine &path);

namespace detail {
// Where the file name starts in `s`.
uint32_t fileNameStart(StrView s);
// Where the root separator is in `s`, or npos.
uint32_t rootDirectoryStart(StrView s);
// How long the parent path of `s` is, or npos when it has none.
uint32_t parentEnd(StrView s);
// What appending `component` to a buffer holding `path` adds: a separator when `separator` comes
// back true, then the returned part of `component`.
StrView appendPiece(StrView path, StrView component, bool &separator);
// True when `text` points into [begin, begin + size).
inline bool pointsInto(StrView text, const char *begin, size_t size) {
  return text.data() && text.data() >= begin && text.data() < begin + size;
}

template <unsigned N> void appendOne(InlineString<N> &path, StrView component) {
  bool separator = false;
  StrView piece = appendPiece(path.view(), component, separator);
  if (separator) path.push_back('/');
  path.append(piece);
}
} // namespace detail

// Appends up to four components to `path`, in order. An argument that is null or empty by kind
// is skipped; any other one takes part even when its text is empty (so appending "" to "p"
// gives "p/"). A separator is put between the buffer and a component unless the buffer ends in
// one (then the component's leading separators are dropped), the component starts with one, the
// buffer is empty, or the component is a network root name.
template <unsigned N>
void append(InlineString<N> &path, const Twine &a, const Twine &b = Twine(),
            const Twine &c = Twine(), const Twine &d = Twine()) {
  const Twine *parts[4] = {&a, &b, &c, &d};
  InlineString<32> scratch[4];
  StrView views[4];
  unsigned count = 0;
  for (const Twine *part : parts) {
    if (part->isTriviallyEmpty()) continue;
    views[count] = part->asView(scratch[count]);
    // Text inside the buffer itself would move (or be freed) when the buffer grows.
    if (detail::pointsInto(views[count], path.data(), path.capacity())) {
      scratch[count].append(views[count]);
      views[count] = scratch[count].view();
    }
    ++count;
  }
  for (unsigned i = 0; i < count; ++i) detail::appendOne(path, views[i]);
}

// Appends each component of [first, last) as a component of its own.
template <unsigned N> void append(InlineString<N> &path, PathIterator first, PathIterator last) {
  StrView walked = first.text();
  if (!detail::pointsInto(walked, path.data(), path.capacity())) {
    for (; first != last; ++first) detail::appendOne(path, *first);
    return;
  }
  // The range walks the buffer itself, which may move as it grows: walk a copy instead.
  InlineString<128> copy(walked);
  PathIterator it = begin(copy.view()), stop = end(copy.view());
  while (it != stop && it.offset() < first.offset()) ++it;
  for (; it != stop && it.offset() < last.offset(); ++it) detail::appendOne(path, *it);
}

// Cuts the file name and the separators before it off `path`; a path without a parent part is
// left as it is.
template <unsigned N> void removeFilename(InlineString<N> &path) {
  uint32_t end = detail::parentEnd(path.view());
  if (end != StrView::npos) path.resize(end);
}

// Replaces the extension of the file name in `path` by `newExtension` (a '.' is put in front
// unless it has one); an empty extension just removes the old one. Dots in directory names are
// not touched.
template <unsigned N> void replaceExtension(InlineString<N> &path, const Twine &newExtension) {
  StrView text = path.view();
  uint32_t dot = text.rfind('.');
  if (dot != StrView::npos && dot >= detail::fileNameStart(text)) path.resize(dot);
  InlineString<32> scratch;
  StrView ext = newExtension.asView(scratch);
  if (detail::pointsInto(ext, path.data(), path.capacity()) && ext.data() != scratch.data()) {
    scratch.append(ext);
    ext = scratch.view();
  }
  if (!ext.empty() && ext[0] != '.') path.push_back('.');
  path.append(ext);
}

// Stores the native form of `path` in `result` (cleared first); on this platform it is the path
// itself.
template <unsigned N> void toNative(const Twine &path, InlineString<N> &result) {
  result.clear();
  path.appendTo(result);
}
// Turns `path` into its native form in place: nothing to do on this platform.
template <unsigned N> void toNative(InlineString<N> &) {}

} // namespace paths
} // namespace vorn

#endif
