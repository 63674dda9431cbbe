// StrView text algorithms, mostly checked against brute-force or C-library references on
// randomized inputs. Every random test uses a fixed seed that is printed with any failure.

#include "support/text/InlineVector.h"
#include "support/text/StrView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

using vorn::StrView;

namespace {

const uint32_t npos = StrView::npos;

std::string randomText(std::mt19937 &rng, uint32_t length, const std::string &alphabet) {
  std::string s(length, '\0');
  for (auto &c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

// A heap copy of exactly the text's bytes, so that the sanitizer build catches any read past
// the end of a view.
struct ExactCopy {
  explicit ExactCopy(const std::string &s) : bytes(new char[s.size() ? s.size() : 1]), len(s.size()) {
    std::copy(s.begin(), s.end(), bytes.get());
  }
  StrView view() const { return StrView(bytes.get(), uint32_t(len)); }
  std::unique_ptr<char[]> bytes;
  size_t len;
};

std::string printable(const std::string &s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7f) {
      out += char(c);
    } else {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}

int sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// ---------------------------------------------------------------------------------------------
// Comparisons

TEST(StrViewCompare, NullAndEmptyViews) {
  StrView null;
  StrView empty("");
  EXPECT_TRUE(null.isNull());
  EXPECT_FALSE(empty.isNull());
  EXPECT_TRUE(null.sameText(empty));
  EXPECT_TRUE(empty.sameText(null));
  EXPECT_EQ(0, null.compareIgnoringCase(empty));
  EXPECT_EQ(0, null.compareWithNumbers(empty));
  EXPECT_TRUE(null.hasPrefixIgnoringCase(empty));
  EXPECT_TRUE(empty.hasSuffixIgnoringCase(null));
  EXPECT_FALSE(null.hasPrefixIgnoringCase("a"));
  EXPECT_EQ(-1, null.compareIgnoringCase("a"));
  EXPECT_EQ(1, StrView("a").compareWithNumbers(null));
  // Equal bytes at different addresses, and different lengths over the same bytes.
  std::string a = "abc", b = "abc";
  EXPECT_TRUE(StrView(a).sameText(b));
  EXPECT_FALSE(StrView(a).sameText(StrView(a.data(), 2)));
}

TEST(StrViewCompare, IgnoringCaseExamples) {
  EXPECT_EQ(0, StrView("ABC").compareIgnoringCase("abc"));
  EXPECT_EQ(-1, StrView("abc").compareIgnoringCase("ABD"));
  EXPECT_EQ(-1, StrView("ab").compareIgnoringCase("ABx"));
  EXPECT_EQ(1, StrView("ABx").compareIgnoringCase("ab"));
  // Bytes past ASCII are compared unsigned and never folded.
  EXPECT_EQ(1, StrView("\xe9").compareIgnoringCase("z"));
  EXPECT_EQ(1, StrView("\xc9").compareIgnoringCase("\xa9"));
  // '[' lies between 'Z' and 'z': folded, "Z" sorts after it, unfolded before it.
  EXPECT_EQ(1, StrView("Z").compareIgnoringCase("["));
  EXPECT_EQ(-1, StrView("[").compareIgnoringCase("z"));
  EXPECT_TRUE(StrView("Hello.TXT").hasSuffixIgnoringCase(".txt"));
  EXPECT_FALSE(StrView("txt").hasSuffixIgnoringCase(".txt"));
  EXPECT_TRUE(StrView("LIBfoo").hasPrefixIgnoringCase("lib"));
  EXPECT_FALSE(StrView("LIBfoo").hasPrefixIgnoringCase("lic"));
}

TEST(StrViewCompare, IgnoringCaseAgainstLoweredStrings) {
  const unsigned seed = 20240101;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const std::string alphabet = "aAbBzZ@[`{\x80\xff";
  for (int iter = 0; iter < 20000; ++iter) {
    std::string a = randomText(rng, rng() % 6, alphabet);
    std::string b = randomText(rng, rng() % 6, alphabet);
    std::string la = a, lb = b;
    for (auto &c : la) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (auto &c : lb) c = char(std::tolower(static_cast<unsigned char>(c)));
    ExactCopy ca(a), cb(b);
    ASSERT_EQ(sign(la.compare(lb)), ca.view().compareIgnoringCase(cb.view()))
        << "'" << printable(a) << "' vs '" << printable(b) << "' iteration " << iter;
    ASSERT_EQ(la.compare(0, lb.size(), lb) == 0 && la.size() >= lb.size(),
              ca.view().hasPrefixIgnoringCase(cb.view()))
        << "'" << printable(a) << "' prefix '" << printable(b) << "'";
    ASSERT_EQ(la.size() >= lb.size() && la.compare(la.size() - lb.size(), lb.size(), lb) == 0,
              ca.view().hasSuffixIgnoringCase(cb.view()))
        << "'" << printable(a) << "' suffix '" << printable(b) << "'";
  }
}

// Reference for compareWithNumbers: cut both texts into tokens (maximal digit runs and single
// other bytes) and compare token by token.
std::vector<std::string> numericTokens(const std::string &s) {
  std::vector<std::string> tokens;
  for (size_t i = 0; i < s.size();) {
    size_t j = i + 1;
    if (std::isdigit(static_cast<unsigned char>(s[i])))
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
    tokens.push_back(s.substr(i, j - i));
    i = j;
  }
  return tokens;
}

int referenceCompareWithNumbers(const std::string &a, const std::string &b) {
  std::vector<std::string> ta = numericTokens(a), tb = numericTokens(b);
  for (size_t i = 0; i < ta.size() && i < tb.size(); ++i) {
    const std::string &x = ta[i], &y = tb[i];
    bool numbers = std::isdigit(static_cast<unsigned char>(x[0])) &&
                   std::isdigit(static_cast<unsigned char>(y[0]));
    if (numbers && x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    if (int c = sign(x.compare(y))) return c;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

TEST(StrViewCompare, WithNumbersExamples) {
  EXPECT_EQ(1, StrView("a10").compareWithNumbers("a9"));
  EXPECT_EQ(-1, StrView("a9").compareWithNumbers("a10"));
  EXPECT_EQ(1, StrView("a09").compareWithNumbers("a9"));
  EXPECT_EQ(-1, StrView("abc").compareWithNumbers("abcd"));
  EXPECT_EQ(0, StrView("x86_64").compareWithNumbers("x86_64"));
  EXPECT_EQ(-1, StrView("file2.txt").compareWithNumbers("file10.txt"));
  EXPECT_EQ(-1, StrView("v1.2.9").compareWithNumbers("v1.2.10"));
  // A digit run that reaches the end of the shorter text.
  EXPECT_EQ(-1, StrView("a1").compareWithNumbers("a12"));
  EXPECT_EQ(1, StrView("a12").compareWithNumbers("a1"));
  EXPECT_EQ(-1, StrView("12a").compareWithNumbers("13"));
  // A digit against a letter compares as bytes.
  EXPECT_EQ(-1, StrView("a1").compareWithNumbers("ab"));
}

TEST(StrViewCompare, WithNumbersAgainstTokenizer) {
  const unsigned seed = 777;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const std::string alphabet = "00199a.b\xf0";
  for (int iter = 0; iter < 30000; ++iter) {
    std::string a = randomText(rng, rng() % 8, alphabet);
    // Often share a prefix so that the digit-run logic is reached.
    std::string b = rng() % 2 ? a.substr(0, rng() % (a.size() + 1)) : std::string();
    b += randomText(rng, rng() % 5, alphabet);
    ExactCopy ca(a), cb(b);
    int expected = referenceCompareWithNumbers(a, b);
    ASSERT_EQ(expected, ca.view().compareWithNumbers(cb.view()))
        << "'" << printable(a) << "' vs '" << printable(b) << "' iteration " << iter;
    ASSERT_EQ(-expected, cb.view().compareWithNumbers(ca.view()))
        << "'" << printable(b) << "' vs '" << printable(a) << "' iteration " << iter;
  }
}

// ---------------------------------------------------------------------------------------------
// Substring search (find, rfind and count against brute force: strview_search_test.cpp)

TEST(StrViewSearch, Examples) {
  std::string hay(40, '.');
  hay.replace(30, 6, "needle");
  StrView h(hay);
  EXPECT_EQ(30u, h.find("needle"));
  EXPECT_EQ(30u, h.find("needle", 30));
  EXPECT_EQ(npos, h.find("needle", 31));
  EXPECT_EQ(npos, h.find("needle", npos));
  EXPECT_EQ(5u, StrView("0123456789").find("", 5));
  EXPECT_EQ(10u, StrView("0123456789").find("", 10));
  EXPECT_EQ(10u, StrView("0123456789").find("", 11)); // clamped
  EXPECT_EQ(0u, StrView().find(""));
  EXPECT_EQ(npos, StrView().find("a"));
  EXPECT_EQ(npos, StrView("abc").find("abcd"));
  EXPECT_EQ(3u, StrView("aaaa").count("aa"));
  EXPECT_EQ(5u, StrView("aaaa").count(""));
  EXPECT_EQ(0u, StrView("aaa").count("aaaa"));
  EXPECT_EQ(2u, StrView("abab").rfind("ab"));
  EXPECT_EQ(4u, StrView("abab").rfind(""));
  EXPECT_EQ(npos, StrView("ab").rfind("abc"));
  // A needle whose last byte also occurs earlier in it, in a long haystack.
  EXPECT_EQ(17u, StrView("abcabcabcabcabcabaabcabd").find("aabcab"));
  // Bytes above 0x7f index the skip table like any other.
  std::string high(64, '\x80');
  high += "\xff\x80\xfe";
  EXPECT_EQ(64u, StrView(high).find("\xff\x80\xfe"));
  EXPECT_EQ(npos, StrView(high).find("\x80\xff\xfe"));
}

TEST(StrViewSearch, LongNeedlesAndShortHaystacks) {
  // Needles longer than 255 bytes and haystacks shorter than 16 take other paths than the usual
  // ones; both must still find matches at the very start and the very end.
  std::string needle(300, 'x');
  needle[0] = 'y';
  std::string hay = std::string(10, 'x') + needle + "zz";
  EXPECT_EQ(10u, StrView(hay).find(needle));
  EXPECT_EQ(10u, StrView(hay).rfind(needle));
  EXPECT_EQ(npos, StrView(hay).find(needle, 11));
  EXPECT_EQ(13u, StrView("0123456789abcdef").find("def"));
  EXPECT_EQ(12u, StrView("0123456789abcde").find("cde"));
  EXPECT_EQ(0u, StrView("0123456789abcde").find("0123456789abcde"));
}

TEST(StrViewSearch, CharacterSetsAgainstBruteForce) {
  const unsigned seed = 99;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const std::string alphabet("abc \t\x7f\x80\xff\0", 9);
  for (int iter = 0; iter < 3000; ++iter) {
    std::string hay = randomText(rng, rng() % 40, alphabet);
    std::string set = randomText(rng, rng() % 5, alphabet);
    ExactCopy ch(hay), cs(set);
    StrView h = ch.view(), s = cs.view();
    auto inSet = [&](char c) { return set.find(c) != std::string::npos; };
    SCOPED_TRACE("iteration " + std::to_string(iter) + " haystack '" + printable(hay) +
                 "' set '" + printable(set) + "'");
    uint32_t froms[] = {0, 1, 2, 5, 17, uint32_t(hay.size()), uint32_t(hay.size() + 1), npos};
    for (uint32_t from : froms) {
      uint32_t firstOf = npos, firstNotOf = npos, firstNotC = npos;
      for (uint32_t i = from; i < hay.size(); ++i) {
        if (firstOf == npos && inSet(hay[i])) firstOf = i;
        if (firstNotOf == npos && !inSet(hay[i])) firstNotOf = i;
        if (firstNotC == npos && hay[i] != alphabet[0]) firstNotC = i;
      }
      uint32_t lastOf = npos, lastNotOf = npos, lastNotC = npos;
      for (uint32_t i = 0; i < hay.size() && i < from; ++i) {
        if (inSet(hay[i])) lastOf = i;
        if (!inSet(hay[i])) lastNotOf = i;
        if (hay[i] != alphabet[0]) lastNotC = i;
      }
      ASSERT_EQ(firstOf, h.findFirstOf(s, from)) << "from " << from;
      ASSERT_EQ(firstNotOf, h.findFirstNotOf(s, from)) << "from " << from;
      ASSERT_EQ(lastOf, h.findLastOf(s, from)) << "from " << from;
      ASSERT_EQ(lastNotOf, h.findLastNotOf(s, from)) << "from " << from;
      ASSERT_EQ(firstNotC, h.findFirstNotOf(alphabet[0], from)) << "from " << from;
      ASSERT_EQ(lastNotC, h.findLastNotOf(alphabet[0], from)) << "from " << from;
    }
  }
  EXPECT_EQ(npos, StrView("abc").findLastOf("abc", 0));
  EXPECT_EQ(2u, StrView("abc").findLastOf("abc"));
  EXPECT_EQ(npos, StrView().findFirstOf("a"));
  EXPECT_EQ(0u, StrView("a").findFirstNotOf(StrView()));
}

// ---------------------------------------------------------------------------------------------
// Case conversion

TEST(StrViewCase, EveryByteAgainstCLocale) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += char(c);
  std::string lower = StrView(all).toLowerCopy(), upper = StrView(all).toUpperCopy();
  ASSERT_EQ(256u, lower.size());
  ASSERT_EQ(256u, upper.size());
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(std::tolower(c), static_cast<unsigned char>(lower[c])) << "byte " << c;
    EXPECT_EQ(std::toupper(c), static_cast<unsigned char>(upper[c])) << "byte " << c;
  }
  EXPECT_EQ("", StrView().toLowerCopy());
  EXPECT_EQ(std::string("a\0b", 3), StrView("A\0B", 3).toLowerCopy());
}

// ---------------------------------------------------------------------------------------------
// Splitting

std::vector<std::string> pieces(const vorn::InlineVector<StrView, 4> &v) {
  std::vector<std::string> out;
  for (StrView p : v) out.push_back(p.str());
  return out;
}

using Pieces = std::vector<std::string>;

TEST(StrViewSplit, OneStep) {
  std::pair<StrView, StrView> p = StrView("key=value").split("=");
  EXPECT_EQ("key", p.first.str());
  EXPECT_EQ("value", p.second.str());
  p = StrView("key=").split("=");
  EXPECT_EQ("key", p.first.str());
  EXPECT_TRUE(p.second.empty());
  EXPECT_FALSE(p.second.isNull());
  p = StrView("key").split("=");
  EXPECT_EQ("key", p.first.str());
  EXPECT_TRUE(p.second.isNull());
  p = StrView("a::b::c").split("::");
  EXPECT_EQ("a", p.first.str());
  EXPECT_EQ("b::c", p.second.str());
  p = StrView().split(",");
  EXPECT_TRUE(p.first.isNull());
  EXPECT_TRUE(p.second.isNull());
}

TEST(StrViewSplit, Modes) {
  vorn::InlineVector<StrView, 4> v;
  StrView("a,,b").split(v, ",", -1, true);
  EXPECT_EQ((Pieces{"a", "", "b"}), pieces(v));
  v.clear();
  StrView("a,,b").split(v, ",", -1, false);
  EXPECT_EQ((Pieces{"a", "b"}), pieces(v));
  v.clear();
  StrView("a,,b").split(v, ",", 1, true);
  EXPECT_EQ((Pieces{"a", ",b"}), pieces(v));
  v.clear();
  StrView("a,").split(v, ",", -1, true);
  EXPECT_EQ((Pieces{"a", ""}), pieces(v));
  v.clear();
  StrView("a,").split(v, ",", -1, false);
  EXPECT_EQ((Pieces{"a"}), pieces(v));
  v.clear();
  StrView("abc").split(v, ",", -1, true);
  EXPECT_EQ((Pieces{"abc"}), pieces(v));
  v.clear();
  StrView("a,b").split(v, ",", 0, true);
  EXPECT_EQ((Pieces{"a,b"}), pieces(v));
  v.clear();
  StrView("").split(v, ",", -1, true);
  EXPECT_EQ((Pieces{""}), pieces(v));
  v.clear();
  StrView("").split(v, ",", -1, false);
  EXPECT_TRUE(v.empty());
  StrView().split(v, ",", -1, true);
  EXPECT_TRUE(v.empty());
  // Pieces are appended after what the vector holds and grow it past its inline storage.
  v.push_back("x");
  StrView("1 2 3 4 5 6 7 8 9").split(v, " ");
  EXPECT_EQ((Pieces{"x", "1", "2", "3", "4", "5", "6", "7", "8", "9"}), pieces(v));
  EXPECT_FALSE(v.isInline());
}

TEST(StrViewSplit, EmptySeparatorTerminates) {
  vorn::InlineVector<StrView, 4> v;
  StrView("abc").split(v, "", -1, true);
  EXPECT_EQ((Pieces{"abc"}), pieces(v));
  v.clear();
  StrView("abc").split(v, StrView(), 3, false);
  EXPECT_EQ((Pieces{"abc"}), pieces(v));
  v.clear();
  StrView("").split(v, "", -1, false);
  EXPECT_TRUE(v.empty());
}

// Reference split: cut at the first maxSplits occurrences left to right, then drop empty pieces
// unless they are kept.
Pieces referenceSplit(const std::string &s, const std::string &sep, int maxSplits, bool keep) {
  Pieces all;
  size_t start = 0;
  for (int splits = 0; maxSplits < 0 || splits < maxSplits; ++splits) {
    size_t at = s.find(sep, start);
    if (at == std::string::npos) break;
    all.push_back(s.substr(start, at - start));
    start = at + sep.size();
  }
  all.push_back(s.substr(start));
  Pieces out;
  for (auto &p : all)
    if (keep || !p.empty()) out.push_back(p);
  return out;
}

TEST(StrViewSplit, AgainstReference) {
  const unsigned seed = 31337;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const char *separators[] = {",", "ab", "aa", "aba", "b"};
  for (int iter = 0; iter < 5000; ++iter) {
    std::string text = randomText(rng, rng() % 30, "ab,");
    std::string sep = separators[rng() % 5];
    int maxSplits = int(rng() % 8) - 2;
    bool keep = rng() % 2;
    ExactCopy copy(text);
    vorn::InlineVector<StrView, 4> v;
    copy.view().split(v, sep, maxSplits, keep);
    ASSERT_EQ(referenceSplit(text, sep, maxSplits, keep), pieces(v))
        << "iteration " << iter << " '" << text << "' by '" << sep << "' max " << maxSplits
        << (keep ? " keeping" : " dropping") << " empty pieces";
    for (StrView p : v) {
      ASSERT_FALSE(p.isNull());
      ASSERT_TRUE(p.begin() >= copy.bytes.get() && p.end() <= copy.bytes.get() + text.size());
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Edit distance

// The classic full-matrix edit distance, and the row minima that decide the early stop.
struct EditMatrix {
  EditMatrix(const std::string &a, const std::string &b, bool substitutions) {
    d.assign(a.size() + 1, std::vector<uint32_t>(b.size() + 1));
    for (size_t x = 0; x <= b.size(); ++x) d[0][x] = uint32_t(x);
    for (size_t y = 1; y <= a.size(); ++y) {
      d[y][0] = uint32_t(y);
      for (size_t x = 1; x <= b.size(); ++x) {
        bool same = a[y - 1] == b[x - 1];
        uint32_t best = std::min(d[y - 1][x], d[y][x - 1]) + 1;
        if (same)
          best = std::min(best, d[y - 1][x - 1]);
        else if (substitutions)
          best = std::min(best, d[y - 1][x - 1] + 1);
        d[y][x] = best;
      }
    }
  }
  uint32_t distance() const { return d.back().back(); }
  bool someRowExceeds(uint32_t limit) const {
    for (size_t y = 1; y < d.size(); ++y)
      if (*std::min_element(d[y].begin(), d[y].end()) > limit) return true;
    return false;
  }
  std::vector<std::vector<uint32_t>> d;
};

// Insertions and deletions only: |a| + |b| - 2 * LCS(a, b).
uint32_t distanceFromLcs(const std::string &a, const std::string &b) {
  std::vector<std::vector<uint32_t>> l(a.size() + 1, std::vector<uint32_t>(b.size() + 1, 0));
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j)
      l[i][j] = a[i - 1] == b[j - 1] ? l[i - 1][j - 1] + 1 : std::max(l[i - 1][j], l[i][j - 1]);
  return uint32_t(a.size() + b.size() - 2 * l[a.size()][b.size()]);
}

TEST(StrViewLevenshtein, Examples) {
  EXPECT_EQ(3u, StrView("kitten").levenshteinDistance("sitting"));
  EXPECT_EQ(5u, StrView("kitten").levenshteinDistance("sitting", false));
  EXPECT_EQ(2u, StrView("kitten").levenshteinDistance("sitting", true, 1));
  EXPECT_EQ(3u, StrView("kitten").levenshteinDistance("sitting", true, 3));
  EXPECT_EQ(0u, StrView().levenshteinDistance(""));
  EXPECT_EQ(7u, StrView("").levenshteinDistance("sitting"));
  EXPECT_EQ(6u, StrView("kitten").levenshteinDistance(StrView()));
}

TEST(StrViewLevenshtein, AgainstFullMatrix) {
  const unsigned seed = 8086;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (int iter = 0; iter < 3000; ++iter) {
    // Lengths straddle 31, where the two rows stop fitting in the 64 counters on the stack.
    std::string a = randomText(rng, rng() % 45, "abc");
    std::string b = randomText(rng, rng() % 3 ? rng() % 45 : 28 + rng() % 8, "abc");
    bool substitutions = rng() % 2;
    uint32_t limit = rng() % 3 ? 0 : rng() % 20;
    EditMatrix ref(a, b, substitutions);
    if (!substitutions) {
      ASSERT_EQ(distanceFromLcs(a, b), ref.distance());
    }
    uint32_t expected = ref.distance();
    if (limit != 0 && ref.someRowExceeds(limit)) expected = limit + 1;
    ExactCopy ca(a), cb(b);
    uint32_t got = ca.view().levenshteinDistance(cb.view(), substitutions, limit);
    ASSERT_EQ(expected, got) << "iteration " << iter << " '" << a << "' to '" << b << "'"
                             << (substitutions ? " with" : " without")
                             << " substitutions, limit " << limit;
    // Whatever the early stop, a distance within the limit is exact.
    if (limit && ref.distance() <= limit) {
      ASSERT_EQ(ref.distance(), got);
    }
    if (limit && ref.distance() > limit) {
      ASSERT_GT(got, limit);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Number parsing

TEST(StrViewParse, DetectRadix) {
  struct Case {
    const char *text;
    unsigned radix;
    const char *rest;
  } cases[] = {
      {"0x1F", 16, "1F"}, {"0b101", 2, "101"}, {"0o17", 8, "17"}, {"0755", 8, "0755"},
      {"0", 8, "0"},      {"0X1F", 8, "0X1F"}, {"0B1", 8, "0B1"}, {"12", 10, "12"},
      {"", 10, ""},       {"0x", 16, ""},      {"x1", 10, "x1"},  {"-0x1", 10, "-0x1"},
  };
  for (const Case &c : cases) {
    StrView text(c.text);
    EXPECT_EQ(c.radix, vorn::detectRadix(text)) << c.text;
    EXPECT_EQ(c.rest, text.str()) << c.text;
  }
  StrView null;
  EXPECT_EQ(10u, vorn::detectRadix(null));
  uint64_t u;
  EXPECT_TRUE(vorn::parseUnsigned("0X1F", 0, u));
  EXPECT_FALSE(vorn::parseUnsigned("0x1F", 0, u));
  EXPECT_EQ(31u, u);
  EXPECT_TRUE(vorn::parseUnsigned("0x", 0, u));
  EXPECT_FALSE(vorn::parseUnsigned("0755", 0, u));
  EXPECT_EQ(0755u, u);
  EXPECT_TRUE(vorn::parseUnsigned("089", 0, u));
}

TEST(StrViewParse, Examples) {
  uint64_t u = 0;
  int64_t s = 0;
  EXPECT_FALSE(vorn::parseUnsigned("18446744073709551615", 10, u));
  EXPECT_EQ(UINT64_MAX, u);
  EXPECT_TRUE(vorn::parseUnsigned("18446744073709551616", 10, u));
  EXPECT_TRUE(vorn::parseUnsigned("12a", 10, u));
  EXPECT_TRUE(vorn::parseUnsigned("", 10, u));
  EXPECT_TRUE(vorn::parseUnsigned(StrView(), 0, u));
  EXPECT_TRUE(vorn::parseUnsigned("+1", 10, u));
  EXPECT_TRUE(vorn::parseUnsigned(" 1", 10, u));
  EXPECT_TRUE(vorn::parseUnsigned("1", 1, u));
  EXPECT_TRUE(vorn::parseUnsigned("1", 37, u));
  EXPECT_FALSE(vorn::parseUnsigned("zZ", 36, u));
  EXPECT_EQ(35u * 36 + 35, u);
  EXPECT_FALSE(vorn::parseSigned("-9223372036854775808", 10, s));
  EXPECT_EQ(INT64_MIN, s);
  EXPECT_TRUE(vorn::parseSigned("9223372036854775808", 10, s));
  EXPECT_FALSE(vorn::parseSigned("-0", 10, s));
  EXPECT_EQ(0, s);
  EXPECT_TRUE(vorn::parseSigned("-", 10, s));
  EXPECT_TRUE(vorn::parseSigned("--1", 10, s));
  EXPECT_TRUE(vorn::parseSigned("+1", 10, s));
  EXPECT_FALSE(vorn::parseSigned("-0x10", 0, s));
  EXPECT_EQ(-16, s);
  EXPECT_TRUE(vorn::parseSigned("-9223372036854775809", 10, s));
}

const char digitChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";

std::string toRadix(uint64_t v, unsigned radix) {
  if (v == 0) return "0";
  std::string out;
  for (; v; v /= radix) out.insert(out.begin(), digitChars[v % radix]);
  return out;
}

// Adds `delta` (-1 or +1) to a digit string in `radix`; the result may gain a digit.
std::string addOne(std::string digits, unsigned radix, int delta) {
  for (size_t i = digits.size(); i-- > 0;) {
    unsigned d = unsigned(strchr(digitChars, digits[i]) - digitChars);
    if (delta > 0 && d + 1 < radix) {
      digits[i] = digitChars[d + 1];
      return digits;
    }
    if (delta < 0 && d > 0) {
      digits[i] = digitChars[d - 1];
      return digits;
    }
    digits[i] = delta > 0 ? '0' : digitChars[radix - 1];
  }
  return "1" + digits;
}

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// Splits off the radix the way the auto-sensing rule describes, for the references below.
unsigned referenceRadix(std::string &text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'b' || text[1] == 'o')) {
    unsigned r = text[1] == 'x' ? 16 : text[1] == 'b' ? 2 : 8;
    text.erase(0, 2);
    return r;
  }
  return !text.empty() && text[0] == '0' ? 8 : 10;
}

bool onlyDigitsOf(const std::string &text, unsigned radix) {
  if (text.empty()) return false;
  for (char c : text)
    if (digitValue(c) >= int(radix)) return false;
  return true;
}

// strtoull accepts spaces, signs and prefixes that are errors here, so it only gets texts made
// of digits of the radix; everything else must fail.
bool referenceUnsigned(std::string text, unsigned radix, uint64_t &out) {
  if (radix == 0) radix = referenceRadix(text);
  if (!onlyDigitsOf(text, radix)) return true;
  errno = 0;
  char *end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, int(radix));
  if (errno == ERANGE || *end) return true;
  out = v;
  return false;
}

bool referenceSigned(std::string text, unsigned radix, int64_t &out) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.erase(0, 1);
  if (radix == 0) radix = referenceRadix(text);
  if (!onlyDigitsOf(text, radix)) return true;
  if (negative) text.insert(0, "-");
  errno = 0;
  char *end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, int(radix));
  if (errno == ERANGE || *end) return true;
  out = v;
  return false;
}

std::string prefixFor(unsigned radix) {
  return radix == 16 ? "0x" : radix == 2 ? "0b" : radix == 8 ? "0o" : "";
}

void checkParse(const std::string &text, unsigned radix) {
  ExactCopy copy(text);
  uint64_t expectU = 0, gotU = 0;
  bool failU = referenceUnsigned(text, radix, expectU);
  ASSERT_EQ(failU, vorn::parseUnsigned(copy.view(), radix, gotU))
      << "unsigned '" << printable(text) << "' radix " << radix;
  if (!failU) {
    ASSERT_EQ(expectU, gotU) << "unsigned '" << printable(text) << "' radix " << radix;
  }
  int64_t expectS = 0, gotS = 0;
  bool failS = referenceSigned(text, radix, expectS);
  ASSERT_EQ(failS, vorn::parseSigned(copy.view(), radix, gotS))
      << "signed '" << printable(text) << "' radix " << radix;
  if (!failS) {
    ASSERT_EQ(expectS, gotS) << "signed '" << printable(text) << "' radix " << radix;
  }
}

TEST(StrViewParse, BoundariesInEveryRadix) {
  for (unsigned radix = 2; radix <= 36; ++radix) {
    SCOPED_TRACE("radix " + std::to_string(radix));
    const uint64_t values[] = {0, 1, uint64_t(radix) - 1, radix, UINT64_MAX / radix,
                               UINT64_MAX / radix + 1, uint64_t(INT64_MAX) - 1,
                               uint64_t(INT64_MAX), uint64_t(INT64_MAX) + 1,
                               uint64_t(INT64_MAX) + 2, UINT64_MAX - 1, UINT64_MAX};
    for (uint64_t v : values) {
      std::string digits = toRadix(v, radix);
      std::string texts[] = {digits, addOne(digits, radix, +1), "000" + digits};
      for (const std::string &t : texts) {
        std::string upper = StrView(t).toUpperCopy();
        for (const std::string &u : {t, upper, "-" + t, "-" + upper}) {
          ASSERT_NO_FATAL_FAILURE(checkParse(u, radix));
          // The same number with its prefix, sensed automatically.
          std::string sensed = u[0] == '-' ? "-" + prefixFor(radix) + u.substr(1) : prefixFor(radix) + u;
          if (radix == 2 || radix == 8 || radix == 10 || radix == 16) {
            ASSERT_NO_FATAL_FAILURE(checkParse(sensed, 0));
          }
        }
      }
    }
  }
  uint64_t u;
  EXPECT_FALSE(vorn::parseUnsigned("1111111111111111111111111111111111111111111111111111111111111111", 2, u));
  EXPECT_EQ(UINT64_MAX, u);
  EXPECT_TRUE(vorn::parseUnsigned("10000000000000000000000000000000000000000000000000000000000000000", 2, u));
  EXPECT_FALSE(vorn::parseUnsigned("3w5e11264sgsf", 36, u));
  EXPECT_EQ(UINT64_MAX, u);
  EXPECT_TRUE(vorn::parseUnsigned("3w5e11264sgsg", 36, u));
}

TEST(StrViewParse, RandomTextsAgainstCLibrary) {
  const unsigned seed = 1234567;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (unsigned radix = 0; radix <= 36; ++radix) {
    if (radix == 1) continue;
    unsigned effective = radix ? radix : 16;
    // Digits valid in the radix, upper-case letters, and now and then a byte that is not a
    // digit at all (or a digit too large for the radix).
    std::string digits(digitChars, effective);
    for (unsigned i = 10; i < effective; ++i) digits += char('A' + i - 10);
    unsigned maxLen = 64 + 4; // enough digits to overflow in any radix
    for (int iter = 0; iter < 1500; ++iter) {
      std::string text;
      if (rng() % 8 == 0) text = "-";
      if (radix == 0) {
        const char *prefixes[] = {"", "0", "0x", "0b", "0o", "0X", "00"};
        text += prefixes[rng() % 7];
      }
      text += randomText(rng, rng() % maxLen, digits);
      if (rng() % 10 == 0 && !text.empty()) {
        const char junk[] = {' ', '+', '-', '_', '.', 'z', 'Z', '\0', '\x80', '\t'};
        text[rng() % text.size()] = junk[rng() % sizeof junk];
      }
      ASSERT_NO_FATAL_FAILURE(checkParse(text, radix)) << "iteration " << iter;
    }
  }
}

} // namespace
