// StrView::find, rfind and count against a brute-force search: random texts over small and full
// byte alphabets and over a few letters, repetitive texts on which candidate checks pile up, views
// inside larger buffers whose neighbouring bytes would complete a match, and views that end (or
// begin) right beside an inaccessible page, so that any read outside the view faults. Every
// random case uses a fixed seed that is printed with any failure.

#include "support/text/StrView.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using vorn::StrView;

namespace {

const uint32_t npos = StrView::npos;

// Every position where `needle` occurs in `hay`, found by comparing at every position.
std::vector<uint32_t> matchPositions(StrView hay, StrView needle) {
  std::vector<uint32_t> at;
  for (uint32_t p = 0; uint64_t(p) + needle.size() <= hay.size(); ++p) {
    uint32_t i = 0;
    while (i < needle.size() && hay[p + i] == needle[i]) ++i;
    if (i == needle.size()) at.push_back(p);
  }
  return at;
}

std::string printable(StrView s) {
  std::string out;
  for (uint32_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += char(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}

// find from every start position (and the two past the end, and npos), rfind and count, each
// compared with the brute-force answer.
testing::AssertionResult agreesWithBruteForce(StrView hay, StrView needle) {
  std::vector<uint32_t> at = matchPositions(hay, needle);
  auto failure = [&](const char *what, uint32_t from, uint32_t want, uint32_t got) {
    return testing::AssertionFailure()
           << what << (from == npos ? std::string() : " from " + std::to_string(from))
           << ": expected " << int64_t(want == npos ? -1 : int64_t(want)) << ", got "
           << int64_t(got == npos ? -1 : int64_t(got)) << "; haystack (" << hay.size() << ") '"
           << printable(hay) << "' needle (" << needle.size() << ") '" << printable(needle) << "'";
  };
  size_t next = 0;
  for (uint32_t from = 0; from <= hay.size() + 2; ++from) {
    while (next < at.size() && at[next] < from) ++next;
    uint32_t want = next < at.size() ? at[next] : npos;
    if (needle.empty()) want = std::min(from, hay.size());
    uint32_t got = hay.find(needle, from);
    if (got != want) return failure("find", from, want, got);
  }
  uint32_t wantAtEnd = needle.empty() ? hay.size() : npos;
  if (hay.find(needle, npos) != wantAtEnd) return failure("find", npos, wantAtEnd, hay.find(needle, npos));
  uint32_t last = at.empty() ? npos : at.back();
  if (hay.rfind(needle) != last) return failure("rfind", npos, last, hay.rfind(needle));
  if (hay.count(needle) != at.size()) return failure("count", npos, uint32_t(at.size()), hay.count(needle));
  return testing::AssertionSuccess();
}

// `size` distinct random byte values.
std::string randomAlphabet(std::mt19937 &rng, unsigned size) {
  std::string all(256, '\0');
  for (unsigned i = 0; i < 256; ++i) all[i] = char(i);
  std::shuffle(all.begin(), all.end(), rng);
  return all.substr(0, size);
}

// The alphabets of the random cases: random sets of 2, 4 or all 256 byte values in turn, or sets of
// one to four letters (one of them with two bytes above 0x7f), over which matches abound and the
// needle's least common bytes in everyday text may sit anywhere in it.
enum class Alphabets { randomBytes, fewLetters };

std::string pickAlphabet(std::mt19937 &rng, Alphabets kind, int iter) {
  if (kind == Alphabets::randomBytes) {
    const unsigned sizes[] = {2, 4, 256};
    return randomAlphabet(rng, sizes[iter % 3]);
  }
  const char *const letters[] = {"a", "ab", "abc", "abcd", "ab\x80\xff"};
  return letters[rng() % 5];
}

std::string randomText(std::mt19937 &rng, uint32_t length, const std::string &alphabet) {
  std::string s(length, '\0');
  for (auto &c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

// A text that repeats a short random unit, with a few bytes changed: the kind of text on which
// almost every position looks like a candidate and checks compare long stretches.
std::string repetitiveText(std::mt19937 &rng, uint32_t length, const std::string &alphabet) {
  std::string unit = randomText(rng, 1 + rng() % 6, alphabet);
  std::string s(length, '\0');
  for (uint32_t i = 0; i < length; ++i) s[i] = unit[i % unit.size()];
  for (uint32_t defects = rng() % 4; defects > 0 && length > 0; --defects)
    s[rng() % length] = alphabet[rng() % alphabet.size()];
  return s;
}

// A needle of up to 300 bytes for `hay`: a piece of it (often its very end or start), the same
// with one byte changed, or random bytes.
std::string pickNeedle(std::mt19937 &rng, const std::string &hay, const std::string &alphabet) {
  uint32_t length = rng() % 4 == 0 ? rng() % 9 : rng() % 301;
  uint32_t take = std::min<uint32_t>(length, uint32_t(hay.size()));
  std::string needle;
  switch (rng() % 6) {
  case 0:
    needle = hay.substr(hay.size() - take);
    break;
  case 1:
    needle = hay.substr(0, take);
    break;
  case 2:
  case 3:
    needle = hay.substr(rng() % (hay.size() - take + 1), take);
    break;
  case 4:
    needle = hay.substr(rng() % (hay.size() - take + 1), take);
    if (!needle.empty()) needle[rng() % needle.size()] = alphabet[rng() % alphabet.size()];
    break;
  default:
    needle = randomText(rng, length, alphabet);
    break;
  }
  return needle;
}

// Runs `cases` random haystacks of up to `maxLength` bytes, each with a few needles, through
// agreesWithBruteForce. Each haystack is viewed inside a buffer that holds up to two more bytes
// before it and, half of the time, up to three after it that begin the needle, so that a search
// running past either end of the view would report a match. Each buffer, and each needle's, is
// allocated at exactly its size, so that the sanitizer build sees any read past it.
void checkRandomCases(unsigned seed, int cases, uint32_t maxLength, bool repetitive, Alphabets alphabets) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (int iter = 0; iter < cases; ++iter) {
    std::string alphabet = pickAlphabet(rng, alphabets, iter);
    uint32_t length = rng() % 3 == 0 ? rng() % 48 : rng() % (maxLength + 1);
    std::string text = repetitive ? repetitiveText(rng, length, alphabet) : randomText(rng, length, alphabet);
    for (int k = 0; k < 3; ++k) {
      std::string n = pickNeedle(rng, text, alphabet);
      std::string before = randomText(rng, rng() % 3, alphabet);
      std::string after = rng() % 2 ? std::string() : n.substr(0, rng() % 4);
      std::string surrounded = before + text + after;
      std::vector<char> hayBytes(surrounded.begin(), surrounded.end());
      StrView hay(hayBytes.data() + before.size(), length);
      std::vector<char> needleBytes(n.begin(), n.end());
      StrView needle(needleBytes.data(), uint32_t(needleBytes.size()));
      ASSERT_TRUE(agreesWithBruteForce(hay, needle))
          << "case " << iter << ", needle " << k << ", " << before.size() << " byte(s) before the view, "
          << after.size() << " after";
    }
  }
}

TEST(StrViewSearchDifferential, RandomTexts) {
  checkRandomCases(1717, 200, 600, false, Alphabets::randomBytes);
  checkRandomCases(1718, 12, 4096, false, Alphabets::randomBytes);
}

TEST(StrViewSearchDifferential, ShortTextsOverFewLetters) {
  checkRandomCases(4242, 2000, 300, false, Alphabets::fewLetters);
}

TEST(StrViewSearchDifferential, RepetitiveTexts) {
  checkRandomCases(2727, 200, 600, true, Alphabets::randomBytes);
  checkRandomCases(2728, 12, 4096, true, Alphabets::randomBytes);
}

TEST(StrViewSearchDifferential, OverlappingMatches) {
  // Every position of a run matches a shorter run; the count includes all of them.
  for (uint32_t runLength : {1u, 2u, 15u, 16u, 17u, 31u, 32u, 33u, 100u, 1000u, 4096u}) {
    std::string run(runLength, 'a');
    for (uint32_t n : {1u, 2u, 3u, 16u, 17u, 255u, 256u, 300u}) {
      std::string needle(n, 'a');
      SCOPED_TRACE("run " + std::to_string(runLength) + ", needle " + std::to_string(n));
      EXPECT_EQ(n <= runLength ? runLength - n + 1 : 0u, StrView(run).count(needle));
      EXPECT_EQ(n <= runLength ? runLength - n : npos, StrView(run).rfind(needle));
      EXPECT_TRUE(agreesWithBruteForce(run, needle));
    }
  }
  // Periodic needles in periodic text: "abaab" repeats every three bytes inside "abaabaab...".
  std::string periodic;
  for (int i = 0; i < 700; ++i) periodic += "aba";
  EXPECT_EQ(699u, StrView(periodic).count("abaab"));
  EXPECT_TRUE(agreesWithBruteForce(periodic, "abaab"));
  EXPECT_TRUE(agreesWithBruteForce(periodic, StrView(periodic).substr(1, 299)));
}

TEST(StrViewSearchDifferential, MatchesAtTheEdges) {
  // The first or the last position of texts of every length up to 600, so that the partial
  // blocks at either end of each scan meet the match in every alignment.
  const unsigned seed = 5151;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const std::string everyByte = randomAlphabet(rng, 256);
  for (uint32_t length = 1; length <= 600; ++length) {
    std::string text = randomText(rng, length, everyByte);
    for (uint32_t n : {2u, 3u, 5u, 17u, 64u}) {
      if (n > length) continue;
      for (const std::string &needle : {text.substr(0, n), text.substr(length - n)}) {
        std::vector<uint32_t> at = matchPositions(text, needle);
        SCOPED_TRACE("length " + std::to_string(length) + " needle '" + printable(needle) + "'");
        auto after = std::upper_bound(at.begin(), at.end(), 0u);
        ASSERT_EQ(at.front(), StrView(text).find(needle));
        ASSERT_EQ(after == at.end() ? npos : *after, StrView(text).find(needle, 1));
        ASSERT_EQ(at.back(), StrView(text).rfind(needle));
        ASSERT_EQ(at.size(), StrView(text).count(needle));
      }
    }
  }
}

// A region of whole pages between two inaccessible pages: a view placed against either end of it
// makes any read past (or before) the view fault.
class GuardedPages {
public:
  explicit GuardedPages(size_t pages) : page(size_t(sysconf(_SC_PAGESIZE))), size(pages * page) {
    void *p = mmap(nullptr, size + 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base = p == MAP_FAILED ? nullptr : static_cast<char *>(p);
    if (base) {
      mprotect(base, page, PROT_NONE);
      mprotect(base + page + size, page, PROT_NONE);
    }
  }
  ~GuardedPages() {
    if (base) munmap(base, size + 2 * page);
  }
  bool ok() const { return base != nullptr; }
  // A view of `text` copied so that it ends at the last accessible byte.
  StrView atEnd(const std::string &text) const {
    char *at = base + page + size - text.size();
    std::memcpy(at, text.data(), text.size());
    return StrView(at, uint32_t(text.size()));
  }
  // A view of `text` copied so that it begins at the first accessible byte.
  StrView atStart(const std::string &text) const {
    char *at = base + page;
    std::memcpy(at, text.data(), text.size());
    return StrView(at, uint32_t(text.size()));
  }

private:
  size_t page, size;
  char *base;
};

TEST(StrViewSearchGuarded, NoReadOutsideTheViews) {
  GuardedPages hayPages(2), needlePages(1);
  ASSERT_TRUE(hayPages.ok() && needlePages.ok());
  const unsigned seed = 3131;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::vector<uint32_t> lengths;
  for (uint32_t l = 0; l <= 40; ++l) lengths.push_back(l);
  for (uint32_t l : {63u, 64u, 65u, 255u, 256u, 257u, 300u, 1000u, 4095u, 4096u}) lengths.push_back(l);
  for (uint32_t length : lengths) {
    for (unsigned alphabetSize : {2u, 4u, 256u}) {
      std::string alphabet = randomAlphabet(rng, alphabetSize);
      std::string text = alphabetSize == 2 && length % 2 ? repetitiveText(rng, length, alphabet)
                                                          : randomText(rng, length, alphabet);
      for (int k = 0; k < (length > 300 ? 2 : 4); ++k) {
        std::string n = pickNeedle(rng, text, alphabet);
        // Needles against a guard page too: both the text and the needle end (begin) at one.
        StrView needle = k % 2 ? needlePages.atEnd(n) : needlePages.atStart(n);
        ASSERT_TRUE(agreesWithBruteForce(hayPages.atEnd(text), needle)) << "text at the end";
        needle = k % 2 ? needlePages.atStart(n) : needlePages.atEnd(n);
        ASSERT_TRUE(agreesWithBruteForce(hayPages.atStart(text), needle)) << "text at the start";
      }
    }
  }
}

} // namespace
