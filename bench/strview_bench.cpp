// Substring and character-set search of StrView against std::string_view and memmem on a 1 MiB
// haystack (English-like words, or random bytes) whose only match lies near the end (near the
// start for rfind, which searches backwards), so that every search covers about the whole text.
// find is measured against std::string_view::find and memmem, rfind against
// std::string_view::rfind, count against loops of std::string_view::find and of memmem that step
// one byte past each match (overlapping matches count, as in StrView::count). After the usual
// per-benchmark lines the summary table sets each figure of ours beside each of its anchors'.

#include "support/text/StrView.h"

#include <benchmark/benchmark.h>

#include "bench/TimeRecorder.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using vorn::StrView;

namespace {

const size_t haystackSize = 1 << 20;

// Lower-case words with skewed frequencies, spaces and some punctuation: no digits, no '#'.
std::string englishLike(std::mt19937 &rng, size_t size) {
  static const char *const words[] = {
      "the",     "of",     "and",    "to",       "in",      "a",       "is",     "that",
      "for",     "it",     "as",     "was",      "with",    "be",      "by",     "on",
      "not",     "he",     "this",   "are",      "or",      "his",     "from",   "at",
      "which",   "but",    "have",   "an",       "had",     "they",    "you",    "were",
      "their",   "one",    "all",    "we",       "can",     "her",     "has",    "there",
      "been",    "if",     "more",   "when",     "will",    "would",   "who",    "so",
      "library", "stream", "buffer", "function", "compile", "section", "header", "between",
      "example", "process", "system", "language", "through", "general", "number", "question"};
  const size_t count = sizeof words / sizeof words[0];
  std::string out;
  out.reserve(size + 16);
  while (out.size() < size) {
    // Squaring a uniform pick favours the first (most common) words.
    size_t r = rng() % count;
    out += words[(r * r) / count];
    uint32_t p = rng() % 20;
    out += p == 0 ? ", " : p == 1 ? ". " : p == 2 ? "\n" : " ";
  }
  out.resize(size);
  return out;
}

std::string randomBytes(std::mt19937 &rng, size_t size) {
  std::string out(size, '\0');
  for (auto &c : out) c = char(rng());
  return out;
}

struct SearchCase {
  std::string haystack;
  std::string needle;
  size_t at; // the needle's only position
};

// A haystack of the given kind with a needle of `length` bytes planted once, near the end (or,
// with `nearStart`, near the start).
SearchCase makeCase(bool english, size_t length, bool nearStart) {
  std::mt19937 rng(english ? 1000 + unsigned(length) : 2000 + unsigned(length));
  SearchCase c;
  c.haystack = english ? englishLike(rng, haystackSize) : randomBytes(rng, haystackSize);
  if (english) {
    std::string text = englishLike(rng, length + 64);
    c.needle = text.substr(32, length);
  } else {
    c.needle = randomBytes(rng, length);
  }
  // Make sure the needle occurs nowhere else: a one-byte needle gets a byte that is removed from
  // the haystack, a longer one that happens to occur gets a byte that the text lacks.
  if (length == 1) {
    c.needle = english ? "#" : "\xa5";
    for (auto &ch : c.haystack)
      if (ch == c.needle[0]) ch = char(ch + 1);
  } else if (std::string_view(c.haystack).find(c.needle) != std::string_view::npos) {
    c.needle[length / 2] = english ? '#' : char(c.needle[length / 2] + 1);
  }
  c.at = nearStart ? 100 : haystackSize - length - 100;
  c.haystack.replace(c.at, length, c.needle);
  // Short random needles occur by chance (a two-byte one about 16 times): change a byte of each
  // other occurrence, one outside the planted needle, until none is left.
  std::string_view hay(c.haystack);
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t p = hay.find(c.needle); p != std::string_view::npos; p = hay.find(c.needle, p + 1)) {
      if (p == c.at) continue;
      size_t victim = p < c.at ? p : p + length - 1;
      c.haystack[victim] = char(c.haystack[victim] ^ 0x40);
      changed = true;
    }
  }
  if (hay.find(c.needle) != c.at || hay.rfind(c.needle) != c.at) {
    std::fprintf(stderr, "benchmark set-up: needle of %zu bytes is not unique\n", length);
    std::abort();
  }
  return c;
}

enum class Impl { ours, stringView, memmemFn };

size_t memmemFind(const std::string &hay, const std::string &needle, size_t from) {
  const void *p = memmem(hay.data() + from, hay.size() - from, needle.data(), needle.size());
  return p ? size_t(static_cast<const char *>(p) - hay.data()) : size_t(-1);
}

void benchFind(benchmark::State &state, const SearchCase *c, Impl impl) {
  StrView hay(c->haystack), needle(c->needle);
  std::string_view svHay(c->haystack), svNeedle(c->needle);
  size_t found = 0;
  for (auto _ : state) {
    switch (impl) {
    case Impl::ours:
      found = hay.find(needle);
      break;
    case Impl::stringView:
      found = svHay.find(svNeedle);
      break;
    case Impl::memmemFn:
      found = memmemFind(c->haystack, c->needle, 0);
      break;
    }
    benchmark::DoNotOptimize(found);
  }
  if (found != c->at) state.SkipWithError("wrong position");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c->at));
}

void benchRfind(benchmark::State &state, const SearchCase *c, bool ours) {
  StrView hay(c->haystack), needle(c->needle);
  std::string_view svHay(c->haystack), svNeedle(c->needle);
  size_t found = 0;
  for (auto _ : state) {
    found = ours ? hay.rfind(needle) : svHay.rfind(svNeedle);
    benchmark::DoNotOptimize(found);
  }
  if (found != c->at) state.SkipWithError("wrong position");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c->haystack.size() - c->at));
}

void benchCount(benchmark::State &state, const SearchCase *c, Impl impl) {
  StrView hay(c->haystack), needle(c->needle);
  std::string_view svHay(c->haystack), svNeedle(c->needle);
  size_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    switch (impl) {
    case Impl::ours:
      hits = hay.count(needle);
      break;
    case Impl::stringView:
      for (size_t p = svHay.find(svNeedle); p != std::string_view::npos; p = svHay.find(svNeedle, p + 1))
        ++hits;
      break;
    case Impl::memmemFn:
      for (size_t p = memmemFind(c->haystack, c->needle, 0); p != size_t(-1);
           p = memmemFind(c->haystack, c->needle, p + 1))
        ++hits;
      break;
    }
    benchmark::DoNotOptimize(hits);
  }
  if (hits != 1) state.SkipWithError("wrong count");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c->haystack.size()));
}

void benchFindFirstOf(benchmark::State &state, const SearchCase *c, bool ours) {
  // Ten bytes of which only the last occurs in the haystack, once, near the end.
  static const char set[] = "0123456789";
  std::string hay = c->haystack;
  for (auto &ch : hay)
    if (ch >= '0' && ch <= '9') ch = 'x';
  size_t at = hay.size() - 100;
  hay[at] = '9';
  StrView view(hay);
  std::string_view sv(hay);
  size_t found = 0;
  for (auto _ : state) {
    found = ours ? view.findFirstOf(StrView(set, 10)) : sv.find_first_of(std::string_view(set, 10));
    benchmark::DoNotOptimize(found);
  }
  if (found != at) state.SkipWithError("wrong position");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(at));
}

} // namespace

int main(int argc, char **argv) {
  const size_t lengths[] = {1, 2, 4, 8, 16, 64, 255};
  const size_t kinds = sizeof lengths / sizeof lengths[0];
  // For each haystack kind and needle length: the needle near the end, then near the start.
  std::vector<SearchCase> nearEnd, nearStart;
  nearEnd.reserve(2 * kinds);
  nearStart.reserve(2 * kinds);
  std::vector<std::string> groups;
  for (int english = 1; english >= 0; --english)
    for (size_t n : lengths) {
      nearEnd.push_back(makeCase(english, n, false));
      nearStart.push_back(makeCase(english, n, true));
      groups.push_back(std::string(english ? "english" : "random") + "/" + std::to_string(n));
    }

  for (size_t i = 0; i < groups.size(); ++i) {
    std::string g = "find/" + groups[i];
    benchmark::RegisterBenchmark((g + "/StrView").c_str(), benchFind, &nearEnd[i], Impl::ours);
    benchmark::RegisterBenchmark((g + "/string_view").c_str(), benchFind, &nearEnd[i], Impl::stringView);
    benchmark::RegisterBenchmark((g + "/memmem").c_str(), benchFind, &nearEnd[i], Impl::memmemFn);
  }
  for (size_t i = 0; i < groups.size(); ++i) {
    std::string g = "rfind/" + groups[i];
    benchmark::RegisterBenchmark((g + "/StrView").c_str(), benchRfind, &nearStart[i], true);
    benchmark::RegisterBenchmark((g + "/string_view").c_str(), benchRfind, &nearStart[i], false);
  }
  for (size_t i = 0; i < groups.size(); ++i) {
    std::string g = "count/" + groups[i];
    benchmark::RegisterBenchmark((g + "/StrView").c_str(), benchCount, &nearEnd[i], Impl::ours);
    benchmark::RegisterBenchmark((g + "/string_view").c_str(), benchCount, &nearEnd[i], Impl::stringView);
    benchmark::RegisterBenchmark((g + "/memmem").c_str(), benchCount, &nearEnd[i], Impl::memmemFn);
  }
  const SearchCase *setTexts[] = {&nearEnd[0], &nearEnd[kinds]};
  const char *setGroups[] = {"findFirstOf/english/10", "findFirstOf/random/10"};
  for (int i = 0; i < 2; ++i) {
    benchmark::RegisterBenchmark((std::string(setGroups[i]) + "/StrView").c_str(), benchFindFirstOf,
                                 setTexts[i], true);
    benchmark::RegisterBenchmark((std::string(setGroups[i]) + "/string_view").c_str(),
                                 benchFindFirstOf, setTexts[i], false);
  }

  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;

  // The anchors of count are loops of the anchor's find, restarted one byte past each match.
  RatioTable table("1 MiB of text, CPU time per search");
  auto add = [&](const std::string &group, const char *anchor) {
    table.add(reporter, group, group + "/StrView", anchor, group + "/" + anchor);
  };
  for (const std::string &g : groups) {
    add("find/" + g, "string_view");
    add("find/" + g, "memmem");
  }
  for (const std::string &g : groups) add("rfind/" + g, "string_view");
  for (const std::string &g : groups) {
    add("count/" + g, "string_view");
    add("count/" + g, "memmem");
  }
  for (const char *g : setGroups) add(g, "string_view");
  table.print();
  benchmark::Shutdown();
  return 0;
}
