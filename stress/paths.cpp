// Path decomposition, iteration and the in-place edits against a reference written from the
// path rules, on paths that end right before a page that cannot be read: a read past the view is
// a fault. The forward components, put back together with the separators between them, give
// the path.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "stress/StressDriver.h"
#include "support/fs/Paths.h"

using vorn::StrView;
namespace paths = vorn::paths;

namespace {

const size_t npos = std::string::npos;
char *guarded = nullptr; // a readable page followed by one that is not
size_t pageSize = 0;

void setUp() {
  pageSize = size_t(sysconf(_SC_PAGESIZE));
  void *p = mmap(nullptr, 2 * pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED || mprotect(static_cast<char *>(p) + pageSize, pageSize, PROT_NONE) != 0) {
    std::perror("stress-paths: guard page");
    std::exit(1);
  }
  guarded = static_cast<char *>(p);
}

// A view of `s` whose last byte is the last readable one.
StrView atPageEnd(const std::string &s) {
  char *start = guarded + pageSize - s.size();
  memcpy(start, s.data(), s.size());
  return StrView(start, uint32_t(s.size()));
}

// --- The reference: the rules written out on standard strings. ---

size_t fileNameStart(const std::string &s) {
  size_t n = s.size();
  if (n == 2 && s == "//") return 0;
  if (n == 0) return 0;
  if (s[n - 1] == '/') return n - 1;
  size_t at = s.rfind('/', n - 2);
  if (at == npos) return 0;
  if (at == 1 && s[0] == '/') return 0;
  return at + 1;
}

size_t rootDirectoryStart(const std::string &s) {
  size_t n = s.size();
  if (n == 2 && s == "//") return npos;
  if (n > 3 && s[0] == '/' && s[1] == '/' && s[2] != '/') return s.find('/', 2);
  if (n > 0 && s[0] == '/') return 0;
  return npos;
}

size_t parentEnd(const std::string &s) {
  size_t end = fileNameStart(s);
  bool wasSeparator = !s.empty() && s[end] == '/';
  size_t root = rootDirectoryStart(s.substr(0, end));
  while (end > 0 && end - 1 != root && s[end - 1] == '/') --end;
  if (end == 1 && root == 0 && wasSeparator) return npos;
  return end;
}

bool isNetName(const std::string &c) { return c.size() > 2 && c[0] == '/' && c[1] == '/' && c[2] != '/'; }

struct Component {
  size_t position;
  std::string text;
};

std::vector<Component> forward(const std::string &s) {
  std::vector<Component> out;
  size_t n = s.size();
  if (n == 0) return out;
  std::string c;
  if (n > 2 && s[0] == '/' && s[1] == '/' && s[2] != '/') {
    size_t at = s.find('/', 2);
    c = s.substr(0, at);
  } else if (s[0] == '/') {
    c = "/";
  } else if (n > 1 && s[0] == '.' && s[1] == '.') {
    c = "..";
  } else if (s[0] == '.') {
    c = ".";
  } else {
    c = s.substr(0, s.find('/'));
  }
  size_t position = 0;
  out.push_back({0, c});
  for (;;) {
    position += c.size();
    if (position == n) break;
    bool wasNet = isNetName(c);
    if (s[position] == '/') {
      if (wasNet) {
        c = "/";
        out.push_back({position, c});
        continue;
      }
      while (position < n && s[position] == '/') ++position;
      if (position == n) {
        out.push_back({n - 1, "."});
        break;
      }
    }
    size_t end = s.find('/', position);
    c = s.substr(position, end == npos ? npos : end - position);
    out.push_back({position, c});
  }
  return out;
}

std::string filenameOf(const std::string &s) {
  size_t n = s.size();
  if (n > 1 && s[n - 1] == '/') return ".";
  size_t root = rootDirectoryStart(s), end = n;
  while (end > 0 && end - 1 != root && s[end - 1] == '/') --end;
  size_t start = fileNameStart(s.substr(0, end));
  return s.substr(start, end - start);
}

struct Parts {
  std::string rootName, rootDirectory, rootPath, relativePath, parentPath, filename, stem, extension;
  bool parentNull;
};

Parts decompose(const std::string &s) {
  Parts p;
  std::vector<Component> walk = forward(s);
  std::string b = walk.empty() ? "" : walk[0].text;
  bool net = b.size() > 2 && b[0] == '/' && b[1] == b[0];
  p.rootName = net ? b : "";
  if (net) {
    std::string c = walk.size() > 1 ? walk[1].text : "";
    p.rootDirectory = !c.empty() && c[0] == '/' ? c : "";
    p.rootPath = !c.empty() && c[0] == '/' ? s.substr(0, b.size() + c.size()) : b;
  } else {
    p.rootDirectory = !b.empty() && b[0] == '/' ? b : "";
    p.rootPath = p.rootDirectory;
  }
  p.relativePath = s.substr(p.rootPath.size());
  size_t pe = parentEnd(s);
  p.parentNull = pe == npos;
  p.parentPath = pe == npos ? "" : s.substr(0, pe);
  p.filename = filenameOf(s);
  const std::string &f = p.filename;
  size_t dot = f.rfind('.');
  if (dot == npos || f == "." || f == "..") {
    p.stem = f;
    p.extension = "";
  } else {
    p.stem = f.substr(0, dot);
    p.extension = f.substr(dot);
  }
  return p;
}

void appendOne(std::string &buf, const std::string &c) {
  bool pathHasSep = !buf.empty() && buf.back() == '/';
  if (pathHasSep) {
    size_t k = c.find_first_not_of('/');
    buf += k == npos ? "" : c.substr(k);
    return;
  }
  if ((c.empty() || c[0] != '/') && !buf.empty() && decompose(c).rootName.empty()) buf += '/';
  buf += c;
}

// --- Checks. ---

// A result view: inside the path, or one of the short constant texts.
void checkView(const char *what, const std::string &s, StrView path, StrView got,
               const std::string &want) {
  STRESS_CHECK(got.str() == want, "%s(\"%s\") = \"%s\", want \"%s\"", what, s.c_str(),
               got.str().c_str(), want.c_str());
  if (got.empty()) return;
  bool inside = got.data() >= path.data() && got.data() + got.size() <= path.data() + path.size();
  bool constant = want == "." || want == ".." || want == "/";
  STRESS_CHECK(inside || constant, "%s(\"%s\") views memory outside the path", what, s.c_str());
}

std::string makePath(stress::Input &in) {
  static const char *const pieces[] = {"/", "//", "///", ".", "..", "a", "b.c", ".x", "net",
                                       "...", "a.", "x.y.z", "/net", "//net", "////"};
  std::string s;
  if (in.oneIn(6)) return in.text(in.oneIn(4) ? 300 : 12, "/.ab");
  for (uint32_t k = in.length(24); k > 0; --k) s += in.pick(pieces);
  if (in.oneIn(4)) stress::mutate(in, s, "/.a");
  return s;
}

} // namespace

STRESS_TARGET("stress-paths", 1024, 10000, &setUp) {
  std::string s = makePath(in);
  if (s.size() > pageSize) s.resize(pageSize);
  StrView path = atPageEnd(s);

  // Forward walk: the reference components at their offsets; the text between two components
  // is separators only, so the components and the separators give the path back.
  std::vector<Component> want = forward(s);
  size_t k = 0;
  std::string rebuilt;
  for (paths::PathIterator it = paths::begin(path), end = paths::end(path); it != end; ++it, ++k) {
    STRESS_CHECK(k < want.size(), "\"%s\": more than %zu components", s.c_str(), want.size());
    StrView c = *it;
    STRESS_CHECK(it.offset() == want[k].position && c.str() == want[k].text,
                 "\"%s\": component %zu is \"%s\" at %u, want \"%s\" at %zu", s.c_str(), k,
                 c.str().c_str(), it.offset(), want[k].text.c_str(), want[k].position);
    bool trailingDot = it.offset() == s.size() - 1 && c.str() == "." && s.back() == '/';
    if (!trailingDot) {
      STRESS_CHECK(c.data() == path.data() + it.offset(), "\"%s\": component %zu does not view the path",
                   s.c_str(), k);
      STRESS_CHECK(rebuilt.size() <= it.offset() &&
                       s.find_first_not_of('/', rebuilt.size()) >= it.offset(),
                   "\"%s\": something other than separators before component %zu", s.c_str(), k);
      rebuilt.resize(it.offset(), '/');
      rebuilt += c.str();
    }
  }
  STRESS_CHECK(k == want.size(), "\"%s\": %zu components, want %zu", s.c_str(), k, want.size());
  rebuilt.resize(s.size(), '/');
  STRESS_CHECK(rebuilt == s && s.find_first_not_of('/', std::min(rebuilt.size(), s.size())) == npos,
               "\"%s\": the components give \"%s\"", s.c_str(), rebuilt.c_str());

  // Backward walk: the first step is the file name; the walk ends, inside the path.
  Parts p = decompose(s);
  size_t steps = 0;
  for (paths::ReversePathIterator it = paths::rbegin(path), end = paths::rend(path); it != end; ++it) {
    StrView c = *it;
    if (steps == 0) checkView("rbegin", s, path, c, p.filename);
    STRESS_CHECK(++steps <= s.size() + 2, "\"%s\": the backward walk does not end", s.c_str());
  }

  checkView("rootName", s, path, paths::rootName(path), p.rootName);
  checkView("rootDirectory", s, path, paths::rootDirectory(path), p.rootDirectory);
  checkView("rootPath", s, path, paths::rootPath(path), p.rootPath);
  checkView("relativePath", s, path, paths::relativePath(path), p.relativePath);
  StrView parent = paths::parentPath(path);
  checkView("parentPath", s, path, parent, p.parentPath);
  STRESS_CHECK(!p.parentNull || parent.isNull(), "parentPath(\"%s\") should be the null view", s.c_str());
  checkView("filename", s, path, paths::filename(path), p.filename);
  checkView("stem", s, path, paths::stem(path), p.stem);
  checkView("extension", s, path, paths::extension(path), p.extension);
  STRESS_CHECK(paths::hasRootName(path) == !p.rootName.empty() &&
                   paths::hasRootDirectory(path) == !p.rootDirectory.empty() &&
                   paths::hasRootPath(path) == !p.rootPath.empty() &&
                   paths::hasRelativePath(path) == !p.relativePath.empty() &&
                   paths::hasParentPath(path) == !p.parentPath.empty() &&
                   paths::hasFilename(path) == !p.filename.empty() &&
                   paths::hasStem(path) == !p.stem.empty() &&
                   paths::hasExtension(path) == !p.extension.empty() &&
                   paths::isAbsolute(path) == !p.rootDirectory.empty() &&
                   paths::isRelative(path) == p.rootDirectory.empty(),
               "a has... predicate of \"%s\" disagrees with its decomposition", s.c_str());

  // The edits, on a buffer that starts with the path.
  vorn::InlineString<16> buffer(path);
  std::string model = s;
  switch (in.below(4)) {
  case 0: { // append up to four components, some of them views into the buffer itself
    std::string texts[4], own[4];
    StrView views[4];
    bool used[4] = {false, false, false, false};
    for (int i = 0; i < 4; ++i) {
      uint32_t how = in.below(6);
      if (how == 0) continue; // an empty Twine: skipped
      used[i] = true;
      if (how == 1 && !buffer.empty()) {
        uint32_t from = in.below(buffer.size()), len = in.below(buffer.size() - from + 1);
        views[i] = buffer.view().substr(from, len);
      } else {
        own[i] = makePath(in).substr(0, 40);
        views[i] = StrView(own[i]);
      }
      texts[i] = views[i].str();
    }
    auto arg = [&](int i) { return used[i] ? vorn::Twine(views[i]) : vorn::Twine(); };
    paths::append(buffer, arg(0), arg(1), arg(2), arg(3));
    for (int i = 0; i < 4; ++i)
      if (used[i]) appendOne(model, texts[i]);
    STRESS_CHECK(buffer.view().str() == model, "append to \"%s\" gave \"%s\", want \"%s\"",
                 s.c_str(), buffer.view().str().c_str(), model.c_str());
    break;
  }
  case 1: { // append the components of another path, or of the buffer itself
    std::string other = in.coin() ? makePath(in) : s;
    bool self = in.coin();
    std::string source = self ? s : other;
    StrView sv = self ? buffer.view() : StrView(other);
    paths::append(buffer, paths::begin(sv), paths::end(sv));
    for (const Component &c : forward(source)) appendOne(model, c.text);
    STRESS_CHECK(buffer.view().str() == model, "append of the components of \"%s\" to \"%s\" gave \"%s\", want \"%s\"",
                 source.c_str(), s.c_str(), buffer.view().str().c_str(), model.c_str());
    break;
  }
  case 2: {
    paths::removeFilename(buffer);
    size_t pe = parentEnd(s);
    if (pe != npos) model.resize(pe);
    STRESS_CHECK(buffer.view().str() == model, "removeFilename(\"%s\") gave \"%s\", want \"%s\"",
                 s.c_str(), buffer.view().str().c_str(), model.c_str());
    break;
  }
  default: {
    static const char *const extensions[] = {"", ".", "x", ".x", "..", "a.b", "/"};
    std::string ext = in.pick(extensions);
    paths::replaceExtension(buffer, StrView(ext));
    size_t dot = model.rfind('.');
    if (dot != npos && dot >= fileNameStart(model)) model.resize(dot);
    if (!ext.empty() && ext[0] != '.') model += '.';
    model += ext;
    STRESS_CHECK(buffer.view().str() == model, "replaceExtension(\"%s\", \"%s\") gave \"%s\", want \"%s\"",
                 s.c_str(), ext.c_str(), buffer.view().str().c_str(), model.c_str());
    break;
  }
  }
}
