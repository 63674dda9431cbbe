#include "support/fs/Paths.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace vorn;

namespace {

std::vector<std::string> forwardWalk(StrView path) {
  std::vector<std::string> out;
  for (paths::PathIterator it = paths::begin(path), e = paths::end(path); it != e; ++it)
    out.push_back(it->str());
  return out;
}

std::vector<std::string> reverseWalk(StrView path) {
  std::vector<std::string> out;
  for (paths::ReversePathIterator it = paths::rbegin(path), e = paths::rend(path);
       it != e && out.size() <= path.size() + 1; ++it)
    out.push_back(it->str());
  return out;
}

// A row of the worked table; nullptr stands for an empty result.
struct Row {
  const char *path;
  std::vector<std::string> forward;
  const char *rootName, *rootDirectory, *rootPath, *relativePath, *parentPath, *filename, *stem,
      *extension;
  bool absolute;
};

const std::vector<Row> &table() {
  static const std::vector<Row> rows = {
      {"", {}, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, false},
      {"/", {"/"}, nullptr, "/", "/", nullptr, nullptr, "/", "/", nullptr, true},
      {"//", {"/", "."}, nullptr, "/", "/", "/", nullptr, ".", ".", nullptr, true},
      {"//net", {"//net"}, "//net", nullptr, "//net", nullptr, nullptr, "//net", "//net", nullptr,
       false},
      {"//net/", {"//net", "/"}, "//net", "/", "//net/", nullptr, "//net", ".", ".", nullptr, true},
      {"//net/foo", {"//net", "/", "foo"}, "//net", "/", "//net/", "foo", "//net/", "foo", "foo",
       nullptr, true},
      {"///net", {"/", "net"}, nullptr, "/", "/", "//net", "/", "net", "net", nullptr, true},
      {"foo", {"foo"}, nullptr, nullptr, nullptr, "foo", nullptr, "foo", "foo", nullptr, false},
      {"foo/", {"foo", "."}, nullptr, nullptr, nullptr, "foo/", "foo", ".", ".", nullptr, false},
      {"foo/.", {"foo", "."}, nullptr, nullptr, nullptr, "foo/.", "foo", ".", ".", nullptr, false},
      {"foo/..", {"foo", ".."}, nullptr, nullptr, nullptr, "foo/..", "foo", "..", "..", nullptr,
       false},
      {"foo//bar", {"foo", "bar"}, nullptr, nullptr, nullptr, "foo//bar", "foo", "bar", "bar",
       nullptr, false},
      {"/..", {"/", ".."}, nullptr, "/", "/", "..", "/", "..", "..", nullptr, true},
      {"/foo/bar/", {"/", "foo", "bar", "."}, nullptr, "/", "/", "foo/bar/", "/foo/bar", ".", ".",
       nullptr, true},
      {"a/b.c.d", {"a", "b.c.d"}, nullptr, nullptr, nullptr, "a/b.c.d", "a", "b.c.d", "b.c", ".d",
       false},
      {".profile", {".", "profile"}, nullptr, nullptr, nullptr, ".profile", nullptr, ".profile",
       nullptr, ".profile", false},
      {"..foo", {"..", "foo"}, nullptr, nullptr, nullptr, "..foo", nullptr, "..foo", ".", ".foo",
       false},
  };
  return rows;
}

std::string orEmpty(const char *s) { return s ? s : ""; }

// The path as three kinds of Twine: a C string, a standard string and a rendered concatenation.
template <typename Fn> void forEachSpelling(const std::string &path, Fn check) {
  check(Twine(path.c_str()));
  check(Twine(path));
  std::string head = path.substr(0, path.size() / 2), tail = path.substr(path.size() / 2);
  check(Twine(head) + Twine(tail));
}

template <unsigned N> std::string text(const InlineString<N> &s) { return s.str(); }

} // namespace

TEST(PathTable, EveryRowDecomposesAsWorkedOut) {
  for (const Row &row : table()) {
    SCOPED_TRACE(std::string("path '") + row.path + "'");
    std::string storage = row.path;
    StrView path(storage);
    EXPECT_EQ(forwardWalk(path), row.forward);
    EXPECT_EQ(paths::rootName(path).str(), orEmpty(row.rootName));
    EXPECT_EQ(paths::rootDirectory(path).str(), orEmpty(row.rootDirectory));
    EXPECT_EQ(paths::rootPath(path).str(), orEmpty(row.rootPath));
    EXPECT_EQ(paths::relativePath(path).str(), orEmpty(row.relativePath));
    EXPECT_EQ(paths::parentPath(path).str(), orEmpty(row.parentPath));
    EXPECT_EQ(paths::filename(path).str(), orEmpty(row.filename));
    EXPECT_EQ(paths::stem(path).str(), orEmpty(row.stem));
    EXPECT_EQ(paths::extension(path).str(), orEmpty(row.extension));

    forEachSpelling(storage, [&](const Twine &t) {
      EXPECT_EQ(paths::isAbsolute(t), row.absolute);
      EXPECT_EQ(paths::isRelative(t), !row.absolute);
      EXPECT_EQ(paths::hasRootName(t), row.rootName != nullptr);
      EXPECT_EQ(paths::hasRootDirectory(t), row.rootDirectory != nullptr);
      EXPECT_EQ(paths::hasRootPath(t), row.rootPath != nullptr);
      EXPECT_EQ(paths::hasRelativePath(t), row.relativePath != nullptr);
      EXPECT_EQ(paths::hasParentPath(t), row.parentPath != nullptr);
      EXPECT_EQ(paths::hasFilename(t), row.filename != nullptr);
      EXPECT_EQ(paths::hasStem(t), row.stem != nullptr);
      EXPECT_EQ(paths::hasExtension(t), row.extension != nullptr);
    });
  }
}

TEST(PathTable, SeparatorRuns) {
  // '//' and '///' are not network names; four or more separators have no parent at all.
  EXPECT_EQ(forwardWalk("///"), (std::vector<std::string>{"/", "."}));
  EXPECT_EQ(paths::filename("///").str(), ".");
  EXPECT_TRUE(paths::parentPath("////").isNull());
  EXPECT_TRUE(paths::parentPath("/////").isNull());
  EXPECT_FALSE(paths::parentPath("//").isNull());
  EXPECT_FALSE(paths::parentPath("///").isNull());
  EXPECT_TRUE(paths::parentPath("//").empty());
  EXPECT_TRUE(paths::parentPath("///").empty());
  // '//x' (three characters) is a network root name too.
  EXPECT_EQ(paths::rootName("//x").str(), "//x");
  EXPECT_FALSE(paths::isAbsolute("//x"));
  EXPECT_TRUE(paths::isSeparator('/'));
  EXPECT_FALSE(paths::isSeparator('\\'));
}

TEST(PathIterators, EqualityAndDistance) {
  std::string a = "/usr/lib", b = a;
  paths::PathIterator first = paths::begin(a), last = paths::end(a);
  EXPECT_EQ(last - first, 8);
  ++first;
  EXPECT_EQ(first.offset(), 1u);
  EXPECT_EQ(*first, StrView("usr"));
  // The same text at another address is another path.
  EXPECT_NE(paths::begin(a), paths::begin(b));
  EXPECT_EQ(paths::end(a), paths::end(a));

  // The backward walk reaches the first component before it reaches rend().
  paths::ReversePathIterator r = paths::rbegin(a);
  EXPECT_EQ(*r, StrView("lib"));
  ++r;
  EXPECT_EQ(*r, StrView("usr"));
  ++r;
  EXPECT_EQ(*r, StrView("/"));
  EXPECT_EQ(r.offset(), 0u);
  EXPECT_NE(r, paths::rend(a));
  ++r;
  EXPECT_EQ(r, paths::rend(a));
  EXPECT_EQ(paths::rbegin(""), paths::rend(""));
}

TEST(PathEdit, AppendComponents) {
  InlineString<64> p;
  paths::append(p, "a", "b", "/c", "d/");
  EXPECT_EQ(text(p), "a/b/c/d/");

  p.assign("a/");
  paths::append(p, "//b");
  EXPECT_EQ(text(p), "a/b");
  p.assign("//net");
  paths::append(p, "x");
  EXPECT_EQ(text(p), "//net/x");
  p.assign("x");
  paths::append(p, "//net");
  EXPECT_EQ(text(p), "x//net");
  p.assign("x/");
  paths::append(p, "///");
  EXPECT_EQ(text(p), "x/");

  // Empty text takes part; an empty or null twine does not.
  p.assign("p");
  paths::append(p, "");
  EXPECT_EQ(text(p), "p/");
  p.assign("p");
  paths::append(p, Twine(), Twine::createNull(), Twine());
  EXPECT_EQ(text(p), "p");
  p.clear();
  paths::append(p, "");
  EXPECT_EQ(text(p), "");
  p.clear();
  paths::append(p, "", "x");
  EXPECT_EQ(text(p), "x");

  // Components of any twine kind, rendered ones included.
  p.assign("/var");
  unsigned n = 42;
  std::string name = "log";
  paths::append(p, Twine(name), Twine("run-") + Twine(n), Twine('z'));
  EXPECT_EQ(text(p), "/var/log/run-42/z");
}

TEST(PathEdit, AppendLongAndSelfReferencingComponents) {
  // Components longer than their 32-character buffers, into a buffer that must grow.
  InlineString<8> p;
  std::string longName(100, 'n');
  paths::append(p, "/root", Twine(longName) + ".d", longName);
  EXPECT_EQ(text(p), "/root/" + longName + ".d/" + longName);

  // A component viewing the buffer itself survives the buffer's growth.
  InlineString<8> q;
  q.assign("dir/file");
  for (int i = 0; i < 4; ++i) paths::append(q, paths::filename(q.view()));
  EXPECT_EQ(text(q), "dir/file/file/file/file/file");
  // The same when the buffer already lives on the heap, so that growing it frees the old text,
  // and when later components view the buffer that earlier ones made grow.
  for (int i = 0; i < 20; ++i) {
    InlineString<2> r;
    r.assign("abc/def");
    paths::append(r, paths::begin(r.view()), paths::end(r.view()));
    EXPECT_EQ(text(r), "abc/def/abc/def");
    InlineString<2> s;
    s.assign("ab");
    StrView whole = s.view();
    paths::append(s, std::string(40, 'x'), whole, whole);
    EXPECT_EQ(text(s), "ab/" + std::string(40, 'x') + "/ab/ab");
  }
}

TEST(PathEdit, AppendRange) {
  std::string source = "/foo/bar/";
  InlineString<32> p;
  paths::append(p, paths::begin(source), paths::end(source));
  EXPECT_EQ(text(p), "/foo/bar/.");
  std::string net = "//net/foo";
  p.clear();
  paths::append(p, paths::begin(net), paths::end(net));
  EXPECT_EQ(text(p), "//net/foo");
  p.assign("base");
  paths::PathIterator from = paths::begin(net);
  ++from;
  paths::append(p, from, paths::end(net));
  EXPECT_EQ(text(p), "base/foo");
}

TEST(PathEdit, RemoveFilename) {
  struct {
    const char *before, *after;
  } cases[] = {
      {"/foo/bar", "/foo"}, {"/foo/bar/", "/foo/bar"}, {"foo", ""}, {"/foo", "/"},
      {"/", ""}, {"//", ""}, {"///", ""}, {"////", "////"}, {"//net/foo", "//net/"},
      {"a//b", "a"}, {"", ""}, {"//net/", "//net"},
  };
  for (auto &c : cases) {
    InlineString<16> p;
    p.assign(c.before);
    paths::removeFilename(p);
    EXPECT_EQ(text(p), c.after) << "from '" << c.before << "'";
  }
}

TEST(PathEdit, ReplaceExtension) {
  struct {
    const char *before, *extension, *after;
  } cases[] = {
      {"a/b.c", "d", "a/b.d"},    {"a.b/c", ".x", "a.b/c.x"}, {"a/b.c", "", "a/b"},
      {"a/b/", "x", "a/b/.x"},    {"a/.profile", "x", "a/.x"}, {"noext", "txt", "noext.txt"},
      {"a/b.c.d", ".e", "a/b.c.e"}, {"", "x", ".x"},
  };
  for (auto &c : cases) {
    InlineString<16> p;
    p.assign(c.before);
    paths::replaceExtension(p, c.extension);
    EXPECT_EQ(text(p), c.after) << "from '" << c.before << "' with '" << c.extension << "'";
  }
  // A rendered extension, and one that views the buffer being edited while it grows.
  InlineString<8> p;
  p.assign("a/b.c");
  paths::replaceExtension(p, Twine("v") + Twine(2));
  EXPECT_EQ(text(p), "a/b.v2");
  p.assign("a/bbbbb");
  paths::replaceExtension(p, p.view());
  EXPECT_EQ(text(p), "a/bbbbb.a/bbbbb");
}

TEST(PathEdit, ToNative) {
  InlineString<8> out;
  out.assign("old contents");
  paths::toNative(Twine("a/b") + "/c", out);
  EXPECT_EQ(text(out), "a/b/c");
  paths::toNative(out);
  EXPECT_EQ(text(out), "a/b/c");
}

namespace {

// The backward walk as the forward walk predicts it: reversed, except that a leading "." or ".."
// split off the first name is taken whole, and that a trailing separator reads as "." even after
// a network root name (whose root separator is then not shown).
std::vector<std::string> predictedReverse(const std::string &s, std::vector<std::string> fwd) {
  if (fwd.size() >= 2 && (fwd[0] == "." || fwd[0] == "..") && s.size() > fwd[0].size() &&
      s[fwd[0].size()] != '/') {
    fwd[0] += fwd[1];
    fwd.erase(fwd.begin() + 1);
  }
  if (s.size() > 3 && s[0] == '/' && s[1] == '/' && s[2] != '/' && s.back() == '/' &&
      s.find('/', 2) == s.size() - 1)
    fwd.back() = ".";
  return std::vector<std::string>(fwd.rbegin(), fwd.rend());
}

} // namespace

TEST(PathProperties, RandomPaths) {
  const unsigned seed = 4242;
  std::mt19937 rng(seed);
  const char alphabet[] = {'/', '.', 'a', 'b'};
  for (int round = 0; round < 20000; ++round) {
    std::string s;
    for (unsigned len = rng() % 13; len > 0; --len) s += alphabet[rng() % 4];
    SCOPED_TRACE("seed " + std::to_string(seed) + " path '" + s + "'");
    StrView path(s);
    const char *lo = s.data(), *hi = s.data() + s.size();

    // Forward: ends at end(), positions strictly increase, components view the path or ".".
    std::vector<std::string> fwd;
    paths::PathIterator it = paths::begin(path), e = paths::end(path);
    long last = -1;
    for (; it != e && fwd.size() <= s.size(); ++it) {
      StrView c = *it;
      ASSERT_FALSE(c.empty());
      EXPECT_GT(long(it.offset()), last);
      last = long(it.offset());
      bool inPath = c.data() >= lo && c.data() + c.size() <= hi && c.data() == lo + it.offset();
      bool dot = c == StrView(".") && !(c.data() >= lo && c.data() < hi);
      EXPECT_TRUE(inPath || dot) << "component '" << c.str() << "'";
      fwd.push_back(c.str());
    }
    ASSERT_EQ(it, e);
    EXPECT_EQ(it.offset(), s.size());

    EXPECT_EQ(reverseWalk(path), predictedReverse(s, fwd));
    EXPECT_EQ(paths::filename(path).str(), fwd.empty() ? "" : predictedReverse(s, fwd).front());

    StrView parent = paths::parentPath(path);
    EXPECT_TRUE(parent.isNull() || (parent.data() == lo && parent.size() <= s.size()));

    StrView f = paths::filename(path), st = paths::stem(path), ext = paths::extension(path);
    EXPECT_EQ(st.str() + ext.str(), f.str());
    if (!st.empty() && !ext.empty()) {
      EXPECT_EQ(st.data() + st.size(), ext.data());
    }

    StrView root = paths::rootPath(path), rel = paths::relativePath(path);
    EXPECT_EQ(root.str() + rel.str(), s);
    EXPECT_TRUE(root.empty() || root.data() == lo);
    EXPECT_EQ(rel.data() + rel.size(), hi);

    // removeFilename keeps exactly the parent, when there is one.
    InlineString<16> buffer(path);
    paths::removeFilename(buffer);
    EXPECT_EQ(buffer.str(), parent.isNull() ? s : parent.str());
  }
}
