#include "support/fs/Paths.h"

namespace vorn {
namespace paths {

namespace {

// The text that a trailing separator reads as.
const char kDot[] = ".";

StrView dotComponent() { return StrView(kDot, 1); }

bool isDoubleSlash(StrView s) { return s.size() == 2 && s[0] == '/' && s[1] == '/'; }

// A component of the form '//name': a network root name.
bool isNetworkName(StrView c) { return c.size() > 2 && c[0] == '/' && c[1] == '/' && c[2] != '/'; }

// The first position at or after `from` that holds a separator, or the length.
uint32_t nextSeparator(StrView s, uint32_t from) {
  uint32_t at = s.find('/', from);
  return at == StrView::npos ? s.size() : at;
}

// Drops the separators before `end`, but never the root separator at `root`.
uint32_t skipSeparatorsBack(StrView s, uint32_t end, uint32_t root) {
  while (end > 0 && end - 1 != root && s[end - 1] == '/') --end;
  return end;
}

template <typename Fn> bool flattenedTest(const Twine &path, Fn decompose) {
  InlineString<128> scratch;
  return !decompose(path.asView(scratch)).empty();
}

} // namespace

namespace detail {

uint32_t fileNameStart(StrView s) {
  uint32_t n = s.size();
  if (isDoubleSlash(s) || n == 0) return 0;
  if (s[n - 1] == '/') return n - 1;
  uint32_t at = s.rfind('/', n - 1);
  if (at == StrView::npos) return 0;
  if (at == 1 && s[0] == '/') return 0;
  return at + 1;
}

uint32_t rootDirectoryStart(StrView s) {
  uint32_t n = s.size();
  if (isDoubleSlash(s)) return StrView::npos;
  if (n > 3 && s[0] == '/' && s[1] == '/' && s[2] != '/') return s.find('/', 2);
  if (n > 0 && s[0] == '/') return 0;
  return StrView::npos;
}

uint32_t parentEnd(StrView s) {
  uint32_t end = fileNameStart(s);
  bool wasSeparator = s.size() > 0 && s[end] == '/';
  uint32_t root = rootDirectoryStart(s.substr(0, end));
  end = skipSeparatorsBack(s, end, root);
  if (end == 1 && root == 0 && wasSeparator) return StrView::npos;
  return end;
}

StrView appendPiece(StrView path, StrView component, bool &separator) {
  separator = false;
  if (!path.empty() && path.back() == '/') {
    uint32_t i = 0;
    while (i < component.size() && component[i] == '/') ++i;
    return component.substr(i);
  }
  if ((component.empty() || component[0] != '/') && !path.empty() && rootName(component).empty())
    separator = true;
  return component;
}

} // namespace detail

PathIterator begin(StrView path) {
  PathIterator it;
  it.path = path;
  it.position = 0;
  uint32_t n = path.size();
  if (n == 0)
    it.component = path;
  else if (n > 2 && path[0] == '/' && path[1] == '/' && path[2] != '/')
    it.component = path.substr(0, nextSeparator(path, 2));
  else if (path[0] == '/')
    it.component = path.substr(0, 1);
  else if (n > 1 && path[0] == '.' && path[1] == '.')
    it.component = path.substr(0, 2);
  else if (path[0] == '.')
    it.component = path.substr(0, 1);
  else
    it.component = path.substr(0, nextSeparator(path, 0));
  return it;
}

PathIterator end(StrView path) {
  PathIterator it;
  it.path = path;
  it.position = path.size();
  it.component = path.substr(path.size(), 0);
  return it;
}

PathIterator &PathIterator::operator++() {
  uint32_t n = path.size();
  position += component.size();
  if (position >= n) {
    position = n;
    component = path.substr(n, 0);
    return *this;
  }
  bool wasNet = isNetworkName(component);
  if (path[position] == '/') {
    if (wasNet) {
      component = path.substr(position, 1);
      return *this;
    }
    while (position < n && path[position] == '/') ++position;
    if (position == n) {
      position = n - 1;
      component = dotComponent();
      return *this;
    }
  }
  component = path.substr(position, nextSeparator(path, position) - position);
  return *this;
}

ReversePathIterator rbegin(StrView path) {
  ReversePathIterator it;
  it.path = path;
  it.position = path.size();
  it.component = path.substr(path.size(), 0);
  return ++it;
}

ReversePathIterator rend(StrView path) {
  ReversePathIterator it;
  it.path = path;
  it.position = 0;
  it.component = path.substr(0, 0);
  return it;
}

ReversePathIterator &ReversePathIterator::operator++() {
  uint32_t n = path.size();
  if (position == n && n > 1 && path[n - 1] == '/') {
    position = n - 1;
    component = dotComponent();
    return *this;
  }
  uint32_t root = detail::rootDirectoryStart(path);
  uint32_t end = skipSeparatorsBack(path, position, root);
  // Only '//' has no root position yet a leading separator: keep it as the first component
  // instead of dropping it with the separators.
  if (end == 0 && position > 0 && path[0] == '/') end = 1;
  uint32_t start = detail::fileNameStart(path.substr(0, end));
  if (end > n) end = n;
  if (start > end) start = end;
  component = path.substr(start, end - start);
  position = start;
  return *this;
}

StrView rootName(StrView path) {
  StrView first = *begin(path);
  if (first.size() > 2 && first[0] == '/' && first[1] == first[0]) return first;
  return path.substr(0, 0);
}

StrView rootDirectory(StrView path) {
  PathIterator it = begin(path);
  if (isNetworkName(*it)) {
    ++it;
    if (!it->empty() && (*it)[0] == '/') return *it;
    return path.substr(0, 0);
  }
  if (!it->empty() && (*it)[0] == '/') return *it;
  return path.substr(0, 0);
}

StrView rootPath(StrView path) {
  PathIterator it = begin(path);
  StrView first = *it;
  if (isNetworkName(first)) {
    ++it;
    if (!it->empty() && (*it)[0] == '/') return path.substr(0, first.size() + it->size());
    return first;
  }
  if (!first.empty() && first[0] == '/') return first;
  return path.substr(0, 0);
}

StrView relativePath(StrView path) { return path.substr(rootPath(path).size()); }

StrView parentPath(StrView path) {
  uint32_t end = detail::parentEnd(path);
  if (end == StrView::npos) return StrView();
  return path.substr(0, end);
}

StrView filename(StrView path) { return *rbegin(path); }

namespace {
// The position of the dot that starts the extension of file name `f`, or npos.
uint32_t extensionDot(StrView f) {
  if (f == StrView(".") || f == StrView("..")) return StrView::npos;
  return f.rfind('.');
}
} // namespace

StrView stem(StrView path) {
  StrView f = filename(path);
  uint32_t dot = extensionDot(f);
  return dot == StrView::npos ? f : f.substr(0, dot);
}

StrView extension(StrView path) {
  StrView f = filename(path);
  uint32_t dot = extensionDot(f);
  return dot == StrView::npos ? f.substr(f.size(), 0) : f.substr(dot);
}

bool hasRootName(const Twine &path) { return flattenedTest(path, rootName); }
bool hasRootDirectory(const Twine &path) { return flattenedTest(path, rootDirectory); }
bool hasRootPath(const Twine &path) { return flattenedTest(path, rootPath); }
bool hasRelativePath(const Twine &path) { return flattenedTest(path, relativePath); }
bool hasParentPath(const Twine &path) { return flattenedTest(path, parentPath); }
bool hasFilename(const Twine &path) { return flattenedTest(path, filename); }
bool hasStem(const Twine &path) { return flattenedTest(path, stem); }
bool hasExtension(const Twine &path) { return flattenedTest(path, extension); }
bool isAbsolute(const Twine &path) { return hasRootDirectory(path); }
bool isRelative(const Twine &path) { return !isAbsolute(path); }

} // namespace paths
} // namespace vorn
