// liboru.so loaded like the launcher's loader would: manifests of real zub files, unpacking,
// class path wildcards and the release ordering.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "helpers.h"
#include "launcher/oru.h"

using namespace platformtest;

namespace {

struct Oru {
  decltype(&ORU_MemAlloc) memAlloc;
  decltype(&ORU_MemFree) memFree;
  decltype(&ORU_StringDup) stringDup;
  decltype(&ORU_WildcardExpandClasspath) expand;
  decltype(&ORU_ParseManifest) parse;
  decltype(&ORU_FreeManifest) freeManifest;
  decltype(&ORU_ZubUnpackFile) unpack;
  decltype(&ORU_ValidVersionString) valid;
  decltype(&ORU_AcceptableRelease) acceptable;
  decltype(&ORU_ExactVersionId) compare;
};

const Oru &oru() {
  static Oru o = [] {
    Oru r{};
    void *lib = openLibrary(PLATFORM_ORU_LIB);
    r.memAlloc = reinterpret_cast<decltype(r.memAlloc)>(symbol(lib, "ORU_MemAlloc"));
    r.memFree = reinterpret_cast<decltype(r.memFree)>(symbol(lib, "ORU_MemFree"));
    r.stringDup = reinterpret_cast<decltype(r.stringDup)>(symbol(lib, "ORU_StringDup"));
    r.expand = reinterpret_cast<decltype(r.expand)>(symbol(lib, "ORU_WildcardExpandClasspath"));
    r.parse = reinterpret_cast<decltype(r.parse)>(symbol(lib, "ORU_ParseManifest"));
    r.freeManifest = reinterpret_cast<decltype(r.freeManifest)>(symbol(lib, "ORU_FreeManifest"));
    r.unpack = reinterpret_cast<decltype(r.unpack)>(symbol(lib, "ORU_ZubUnpackFile"));
    r.valid = reinterpret_cast<decltype(r.valid)>(symbol(lib, "ORU_ValidVersionString"));
    r.acceptable = reinterpret_cast<decltype(r.acceptable)>(symbol(lib, "ORU_AcceptableRelease"));
    r.compare = reinterpret_cast<decltype(r.compare)>(symbol(lib, "ORU_ExactVersionId"));
    return r;
  }();
  return o;
}

std::string str(const char *s) { return s ? s : "<null>"; }

struct Parsed {
  int status;
  std::string mainClass, versionSpec, splashImage;
  int restrictSearch;
};

Parsed parseManifestText(const TempDir &dir, const std::string &text, bool stored = false) {
  std::string path = dir / "m.zub";
  writeZip(path, {{"zub/manifest", text, stored}, {"a/B.class", "x"}});
  ManifestData md;
  Parsed p;
  p.status = oru().parse(const_cast<char *>(path.c_str()), &md);
  p.mainClass = str(md.mainClass);
  p.versionSpec = str(md.versionSpec);
  p.splashImage = str(md.splashImage);
  p.restrictSearch = md.restrictSearch;
  oru().freeManifest();
  return p;
}

TEST(OruManifest, MainSectionAttributesAndRecordLayout) {
  TempDir dir;
  std::string path = dir / "app.zub";
  writeZip(path, {{"zub/manifest",
                   "Manifest-Version: 1.0\nMain-Class: org.example.App\nUBO-Version: 1.5* 1.6+\n"
                   "UBO-Restrict-Search: true\nSplash-Image: img/splash.png\n"}});
  // The record sits in a larger buffer: nothing beyond its 20 bytes may be written.
  static_assert(sizeof(ManifestData) == 20, "i386 layout");
  unsigned char buf[64];
  memset(buf, 0xab, sizeof buf);
  ManifestData *md = reinterpret_cast<ManifestData *>(buf + 8);
  ASSERT_EQ(oru().parse(const_cast<char *>(path.c_str()), md), 0);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(buf[i], 0xab) << i;
  for (size_t i = 28; i < sizeof buf; ++i) EXPECT_EQ(buf[i], 0xab) << i;
  char *at4, *at8, *at16;
  memcpy(&at4, buf + 8 + 4, 4);
  memcpy(&at8, buf + 8 + 8, 4);
  memcpy(&at16, buf + 8 + 16, 4);
  EXPECT_EQ(str(at4), "org.example.App");
  EXPECT_EQ(str(at8), "1.5* 1.6+");
  EXPECT_EQ(buf[8 + 12], 1);
  EXPECT_EQ(str(at16), "img/splash.png");
  oru().freeManifest();
}

TEST(OruManifest, ContinuationLinesLineEndingsAndSections) {
  TempDir dir;
  // A value continued over three lines, CRLF and lone CR endings, and a second section whose
  // attributes must not leak into the main one.
  Parsed p = parseManifestText(dir,
                               "Manifest-Version: 1.0\r\nMain-Class: org.exa\r\n mple.Lo\r\n ngName\r\n"
                               "UBO-Version: 1.6+\r\r"
                               "Name: org/example/\nMain-Class: org.example.Other\nSplash-Image: x.gif\n");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.mainClass, "org.example.LongName");
  EXPECT_EQ(p.versionSpec, "1.6+");
  EXPECT_EQ(p.splashImage, "<null>");

  p = parseManifestText(dir, "Main-Class:NoSpace\nmain-class: second\nSplash-Image: a b.gif  \n", true);
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.mainClass, "NoSpace"); // the first of two spellings counts
  EXPECT_EQ(p.splashImage, "a b.gif");

  p = parseManifestText(dir, "");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.mainClass, "<null>");
  EXPECT_EQ(p.versionSpec, "<null>");
  EXPECT_EQ(p.restrictSearch, 0);
}

TEST(OruManifest, RestrictSearchIsTrueInAnyCaseOnly) {
  TempDir dir;
  const std::pair<const char *, int> cases[] = {{"true", 1},  {"TRUE", 1}, {"True", 1},   {"true  ", 1},
                                                {"false", 0}, {"yes", 0},  {"1", 0},      {"truer", 0},
                                                {"", 0},      {" true", 0}};
  for (const auto &c : cases) {
    Parsed p = parseManifestText(dir, std::string("Main-Class: A\nUBO-Restrict-Search: ") + c.first + "\n");
    EXPECT_EQ(p.status, 0) << c.first;
    EXPECT_EQ(p.restrictSearch, c.second) << "'" << c.first << "'";
  }
  EXPECT_EQ(parseManifestText(dir, "Main-Class: A\n").restrictSearch, 0);
}

TEST(OruManifest, MalformedManifestsAreCorruptNotInaccessible) {
  TempDir dir;
  const char *bad[] = {"Main-Class org.example.App\n", " continues nothing\nMain-Class: A\n",
                       "Main Class: A\n", ": no name\n", "Main-Class: A\nbroken line\n"};
  for (const char *text : bad) {
    int status = parseManifestText(dir, text).status;
    EXPECT_NE(status, 0) << text;
    EXPECT_NE(status, -1) << text;
  }
  EXPECT_GT(parseManifestText(dir, std::string("Main-Class: A\0B\n", 16)).status, 0);
  // Lines after the main section are not read, so a broken later section is no error.
  EXPECT_EQ(parseManifestText(dir, "Main-Class: A\n\nbroken\n").status, 0);
}

TEST(OruManifest, InaccessibleInvalidAndManifestlessFiles) {
  TempDir dir;
  ManifestData md;
  EXPECT_EQ(oru().parse(const_cast<char *>((dir / "missing.zub").c_str()), &md), -1);
  EXPECT_EQ(oru().parse(nullptr, &md), -1);

  writeFile(dir / "text.zub", "this is not an archive at all, just text\n");
  writeFile(dir / "empty.zub", "");
  writeZip(dir / "nomanifest.zub", {{"com/mox/notes.txt", "Main-Class: A\n"}, {"zub/Manifest", "Main-Class: A\n"}});
  writeZip(dir / "good.zub", {{"zub/manifest", "Main-Class: A\n"}});
  std::string good = readFile(dir / "good.zub");
  writeFile(dir / "truncated.zub", good.substr(0, good.size() / 2));
  for (const char *name : {"text.zub", "empty.zub", "nomanifest.zub", "truncated.zub"}) {
    std::string path = dir / name;
    int status = oru().parse(const_cast<char *>(path.c_str()), &md);
    EXPECT_GT(status, 0) << name;
    EXPECT_EQ(md.mainClass, nullptr) << name;
  }
  EXPECT_GT(oru().parse(const_cast<char *>(dir.path().c_str()), &md), 0); // a directory
  std::string goodPath = dir / "good.zub";
  EXPECT_NE(oru().parse(const_cast<char *>(goodPath.c_str()), nullptr), 0);

  // A file the process may not read is inaccessible: checked as "nobody", since root reads all.
  chmod(dir.path().c_str(), 0755);
  chmod(goodPath.c_str(), 0);
  ChildResult r = runChild([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 99;
    ManifestData m;
    return oru().parse(const_cast<char *>(goodPath.c_str()), &m) == -1 ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0) << r.err;
  oru().freeManifest();
}

TEST(OruManifest, TextsLiveUntilFreeManifest) {
  TempDir dir;
  writeZip(dir / "a.zub", {{"zub/manifest", "Main-Class: First\n"}});
  writeZip(dir / "b.zub", {{"zub/manifest", "Main-Class: Second\n"}});
  oru().freeManifest(); // nothing parsed: fine
  ManifestData a, b;
  std::string pa = dir / "a.zub", pb = dir / "b.zub";
  ASSERT_EQ(oru().parse(const_cast<char *>(pa.c_str()), &a), 0);
  ASSERT_EQ(oru().parse(const_cast<char *>(pb.c_str()), &b), 0);
  // The first parse's texts are still readable after the second (the sanitizer build checks).
  EXPECT_EQ(str(a.mainClass), "First");
  EXPECT_EQ(str(b.mainClass), "Second");
  oru().freeManifest();
  oru().freeManifest();
}

TEST(OruUnpack, EntriesRoundTripAndFailuresGiveNull) {
  TempDir dir;
  unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::string binary(300000, '\0');
  for (char &c : binary) c = static_cast<char>(rng() % 7 == 0 ? rng() : rng() % 4);
  std::string path = dir / "data.zub";
  writeZip(path, {{"zub/manifest", "Main-Class: A\n"},
                  {"img/splash.bin", binary},
                  {"stored.txt", "stored bytes", true},
                  {"empty", ""}});
  int size = -5;
  void *data = oru().unpack(path.c_str(), "img/splash.bin", &size);
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(size, static_cast<int>(binary.size()));
  EXPECT_EQ(memcmp(data, binary.data(), binary.size()), 0);
  EXPECT_EQ(static_cast<char *>(data)[size], '\0');
  oru().memFree(data);

  data = oru().unpack(path.c_str(), "stored.txt", &size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(static_cast<char *>(data), static_cast<size_t>(size)), "stored bytes");
  oru().memFree(data);
  data = oru().unpack(path.c_str(), "empty", &size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, 0);
  oru().memFree(data);

  size = 77;
  EXPECT_EQ(oru().unpack(path.c_str(), "img/SPLASH.bin", &size), nullptr);
  EXPECT_EQ(oru().unpack(path.c_str(), "missing", &size), nullptr);
  EXPECT_EQ(oru().unpack((dir / "none.zub").c_str(), "empty", &size), nullptr);
  EXPECT_EQ(oru().unpack(nullptr, "empty", &size), nullptr);
  EXPECT_EQ(oru().unpack(path.c_str(), nullptr, &size), nullptr);
  EXPECT_EQ(oru().unpack(path.c_str(), "empty", nullptr), nullptr);
  EXPECT_EQ(size, 77);

  // A stored entry whose bytes were damaged fails its CRC.
  std::string bytes = readFile(path);
  size_t at = bytes.find("stored bytes");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 3] ^= 0x20;
  writeFile(dir / "damaged.zub", bytes);
  EXPECT_EQ(oru().unpack((dir / "damaged.zub").c_str(), "stored.txt", &size), nullptr);
  data = oru().unpack((dir / "damaged.zub").c_str(), "empty", &size);
  EXPECT_NE(data, nullptr);
  oru().memFree(data);
}

TEST(OruMemory, AllocDupAndFree) {
  char *copy = oru().stringDup("class path");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "class path");
  oru().memFree(copy);
  EXPECT_EQ(oru().stringDup(nullptr), nullptr);
  oru().memFree(nullptr);
  void *block = oru().memAlloc(0);
  EXPECT_NE(block, nullptr);
  oru().memFree(block);
  block = oru().memAlloc(4096);
  memset(block, 1, 4096);
  oru().memFree(block);
}

std::string expand(const std::string &cp) {
  char *r = oru().expand(cp.c_str());
  std::string s = str(r);
  oru().memFree(r);
  return s;
}

TEST(OruWildcard, ExpandsZubFilesOfARealDirectory) {
  TempDir dir;
  std::string lib = dir / "lib";
  mkdir(lib.c_str(), 0755);
  mkdir((dir / "emptydir").c_str(), 0755);
  for (const char *name : {"b.zub", "a.zub", "C.ZUB", "d.txt", "e.Zub", ".zub", "f.zub.bak"})
    writeFile(lib + "/" + name, "x");
  mkdir((lib + "/sub.zub").c_str(), 0755);
  ASSERT_EQ(symlink("a.zub", (lib + "/link.zub").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (lib + "/dangling.zub").c_str()), 0);
  std::string expected = lib + "/C.ZUB:" + lib + "/a.zub:" + lib + "/b.zub:" + lib + "/link.zub";

  EXPECT_EQ(expand(lib + "/*"), expected);
  EXPECT_EQ(expand("x.zub:" + lib + "/*:/nonexistent/*:" + dir.path() + "/emptydir/*::y"),
            "x.zub:" + expected + "::y");
  EXPECT_EQ(expand(dir.path() + "/emptydir/*"), "");
  EXPECT_EQ(expand(""), "");
  EXPECT_EQ(oru().expand(nullptr), nullptr);
  // Only "*" as a whole element is a wildcard.
  EXPECT_EQ(expand(lib + "/*.zub:" + lib + "*:a"), lib + "/*.zub:" + lib + "*:a");

  ChildResult r = runChild([&] {
    if (chdir(lib.c_str()) != 0) return 2;
    printf("%s", expand("*").c_str());
    return 0;
  });
  EXPECT_EQ(r.out, "C.ZUB:a.zub:b.zub:link.zub");
}

TEST(OruWildcard, MatchesAReferenceOnRandomDirectories) {
  unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const char *suffixes[] = {".zub", ".ZUB", ".zuB", ".zip", "", ".zub~", "zub"};
  for (int round = 0; round < 20; ++round) {
    TempDir dir;
    int files = static_cast<int>(rng() % 12);
    for (int i = 0; i < files; ++i) {
      std::string name(1, "aAbZ"[rng() % 4]); // never "." or ".."
      int len = static_cast<int>(rng() % 6);
      for (int k = 0; k < len; ++k) name += "aAbZ_-.9"[rng() % 8];
      name += suffixes[rng() % 7];
      writeFile(dir / name, "");
    }
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir.path())) {
      std::string n = e.path().filename().string();
      if (n.size() > 4 && (n.substr(n.size() - 4) == ".zub" || n.substr(n.size() - 4) == ".ZUB"))
        names.push_back(dir.path() + "/" + n);
    }
    std::sort(names.begin(), names.end());
    std::string want = "pre";
    for (const std::string &n : names) want += ":" + n;
    want += ":post";
    EXPECT_EQ(expand("pre:" + dir.path() + "/*:post"), want);
  }
}

// An independent reading of the release order, for differential checks.
int referenceCompare(const std::string &a, const std::string &b) {
  auto split = [](const std::string &s) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
      if (c == '.' || c == '_' || c == '-') {
        parts.push_back(cur);
        cur.clear();
      } else {
        cur += c;
      }
    }
    parts.push_back(cur);
    return parts;
  };
  auto numeric = [](const std::string &e) {
    return !e.empty() && std::all_of(e.begin(), e.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  std::vector<std::string> x = split(a), y = split(b);
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
    bool nx = numeric(x[i]), ny = numeric(y[i]);
    if (nx && ny) {
      std::string p = x[i].substr(std::min(x[i].find_first_not_of('0'), x[i].size() - 1));
      std::string q = y[i].substr(std::min(y[i].find_first_not_of('0'), y[i].size() - 1));
      if (p.size() != q.size()) return p.size() < q.size() ? -1 : 1;
      if (p != q) return p < q ? -1 : 1;
    } else if (nx != ny) {
      return nx ? -1 : 1;
    } else if (x[i] != y[i]) {
      return x[i] < y[i] ? -1 : 1;
    }
  }
  return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
}

TEST(OruVersion, VersionRequestGrammar) {
  const std::pair<const char *, bool> cases[] = {
      {"1.6", true},         {"1.6+", true},        {"1.6*", true},       {"1.6.*", true},
      {"1.5 1.6+", true},    {"1.6.0_33-b33", true}, {"  1.6  ", true},   {"1.6+ 1.7*  1.8", true},
      {"", false},           {" ", false},          {"+", false},         {"*", false},
      {"1..6", false},       {"1.6++", false},      {"1.6+*", false},     {".1", false},
      {"1.6-", false},       {"1.6 abc!", false},   {"1,6", false},       {"1.6\t1.7", false},
      {"1.6 +", false},      {"1.*6", false}};
  for (const auto &c : cases) {
    std::string spec = c.first;
    EXPECT_EQ(oru().valid(&spec[0]) != 0, c.second) << "'" << c.first << "'";
  }
  EXPECT_EQ(oru().valid(nullptr), 0);
}

TEST(OruVersion, AcceptableReleases) {
  struct Case {
    const char *release, *spec;
    bool accepted;
  };
  const Case cases[] = {
      {"1.6.0_33-b33", "1.6+", true},    {"1.5.0_10", "1.6+", false},     {"1.6.0_33-b33", "1.6*", true},
      {"1.60", "1.6*", false},           {"1.6", "1.6*", true},           {"1.6.0_33", "1.6.0_33", true},
      {"1.6.0_33-b33", "1.6.0_33", false}, {"1.6.0_33", "1.6.0_33*", true}, {"1.7", "1.5 1.6+", true},
      {"1.5.1", "1.5 1.6+", false},      {"1.5", "1.5 1.6+", true},       {"1.6.0_9", "1.6.0_10+", false},
      {"1.6.0_10", "1.6.0_9+", true},    {"1.06", "1.6", true},           {"1.6.0_33", "1.6.*", true},
      {"", "1.6+", false},               {"1..6", "1+", false},           {"1.6", "1.6 !!", false},
      {"2", "1.6+", true},               {"1.6.0-ea", "1.6.0+", true}};
  for (const Case &c : cases) {
    std::string spec = c.spec;
    EXPECT_EQ(oru().acceptable(c.release, &spec[0]) != 0, c.accepted) << c.release << " / " << c.spec;
  }
  std::string spec = "1.6+";
  EXPECT_EQ(oru().acceptable(nullptr, &spec[0]), 0);
  EXPECT_EQ(oru().acceptable("1.6", nullptr), 0);
}

TEST(OruVersion, OrderIsTotalAndMatchesAReference) {
  EXPECT_GT(oru().compare("1.6.0_33-b33", "1.6.0_33"), 0);
  EXPECT_GT(oru().compare("1.6.0_10", "1.6.0_9"), 0);
  EXPECT_GT(oru().compare("1.10", "1.9"), 0);
  EXPECT_GT(oru().compare("1.6.0", "1.6"), 0);
  EXPECT_EQ(oru().compare("1.6", "1.6"), 0);
  EXPECT_EQ(oru().compare("1.6.0_33", "1.6.0.33"), 0);
  EXPECT_EQ(oru().compare("1.006", "1.6"), 0);
  EXPECT_LT(oru().compare("1.6.0_99999999999999999999", "1.6.0_100000000000000000000"), 0);
  EXPECT_LT(oru().compare("1.9", "1.b"), 0);
  EXPECT_LT(oru().compare(nullptr, ""), 0);
  EXPECT_EQ(oru().compare(nullptr, nullptr), 0);

  unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const char *elements[] = {"0", "1", "01", "6", "10", "9", "33", "b33", "b9", "ea", "rc1", "", "A"};
  const char *seps = "._-";
  std::vector<std::string> sample;
  for (int i = 0; i < 50; ++i) {
    std::string r = elements[rng() % 13];
    int extra = static_cast<int>(rng() % 4);
    for (int k = 0; k < extra; ++k) r += std::string(1, seps[rng() % 3]) + elements[rng() % 13];
    sample.push_back(r);
  }
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  const std::regex release("[A-Za-z0-9]+([._-][A-Za-z0-9]+)*");
  for (const std::string &a : sample) {
    bool wellFormed = std::regex_match(a, release);
    for (const std::string &b : sample) {
      int ab = sign(oru().compare(a.c_str(), b.c_str()));
      ASSERT_EQ(ab, -sign(oru().compare(b.c_str(), a.c_str()))) << a << " vs " << b;
      ASSERT_EQ(ab, referenceCompare(a, b)) << a << " vs " << b;
      for (const std::string &c : sample) {
        if (ab <= 0 && sign(oru().compare(b.c_str(), c.c_str())) <= 0) {
          ASSERT_LE(oru().compare(a.c_str(), c.c_str()), 0) << a << " <= " << b << " <= " << c;
        }
      }
      // "+" and the plain form agree with the order for well-formed pairs.
      std::string plus = b + "+", exact = b;
      if (wellFormed && oru().valid(&plus[0])) {
        EXPECT_EQ(oru().acceptable(a.c_str(), &plus[0]) != 0, ab >= 0) << a << " / " << plus;
        EXPECT_EQ(oru().acceptable(a.c_str(), &exact[0]) != 0, ab == 0) << a << " / " << exact;
      }
    }
  }
}

} // namespace
