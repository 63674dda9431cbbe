// Substring and character-set search of StrView against std::string_view and memmem on a 1 MiB
// haystack whose only match lies near the end. After the usual per-benchmark lines a summary
// prints each figure of ours beside its anchors' from the same run, as ratios.

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

// A haystack of the given kind with a needle of `length` bytes planted once, near the end.
SearchCase makeCase(bool english, size_t length) {
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
  c.at = haystackSize - length - 100;
  c.haystack.replace(c.at, length, c.needle);
  if (std::string_view(c.haystack).find(c.needle) != c.at) {
    std::fprintf(stderr, "benchmark set-up: needle of %zu bytes is not unique\n", length);
    std::abort();
  }
  return c;
}

enum class Impl { ours, stringView, memmemFn };

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
    case Impl::memmemFn: {
      const void *p = memmem(c->haystack.data(), c->haystack.size(), c->needle.data(), c->needle.size());
      found = p ? size_t(static_cast<const char *>(p) - c->haystack.data()) : size_t(-1);
      break;
    }
    }
    benchmark::DoNotOptimize(found);
  }
  if (found != c->at) state.SkipWithError("wrong position");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c->at));
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

// Keeps the time of every run for the summary.
} // namespace

int main(int argc, char **argv) {
  const size_t lengths[] = {1, 4, 16, 64, 255};
  std::vector<SearchCase> cases;
  cases.reserve(2 * 5);
  for (int english = 1; english >= 0; --english)
    for (size_t n : lengths) cases.push_back(makeCase(english, n));

  std::vector<std::string> findGroups;
  for (const SearchCase &c : cases) {
    bool english = &c - cases.data() < 5;
    std::string group = std::string("find/") + (english ? "english" : "random") + "/" +
                        std::to_string(c.needle.size());
    findGroups.push_back(group);
    benchmark::RegisterBenchmark((group + "/StrView").c_str(), benchFind, &c, Impl::ours);
    benchmark::RegisterBenchmark((group + "/string_view").c_str(), benchFind, &c, Impl::stringView);
    benchmark::RegisterBenchmark((group + "/memmem").c_str(), benchFind, &c, Impl::memmemFn);
  }
  const SearchCase *setTexts[] = {&cases[0], &cases[5]};
  const char *setGroups[] = {"findFirstOf/english/10", "findFirstOf/random/10"};
  for (int i = 0; i < 2; ++i) {
    benchmark::RegisterBenchmark((std::string(setGroups[i]) + "/StrView").c_str(), benchFindFirstOf,
                                 setTexts[i], true);
    benchmark::RegisterBenchmark((std::string(setGroups[i]) + "/string_view").c_str(),
                                 benchFindFirstOf, setTexts[i], false);
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TimeRecorder reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  // Ratios above 1 mean StrView is faster than the anchor.
  std::printf("\n%-26s %12s %12s %12s %10s %10s\n", "search, 1 MiB (CPU ns)", "StrView",
              "string_view", "memmem", "sv/ours", "memmem/ours");
  for (const std::string &g : findGroups) {
    double ours = reporter.time(g + "/StrView"), sv = reporter.time(g + "/string_view"),
           mm = reporter.time(g + "/memmem");
    if (ours <= 0) continue;
    std::printf("%-26s %12.0f %12.0f %12.0f %10.2f %10.2f\n", g.c_str(), ours, sv, mm, sv / ours,
                mm / ours);
  }
  for (const char *g : setGroups) {
    double ours = reporter.time(std::string(g) + "/StrView"),
           sv = reporter.time(std::string(g) + "/string_view");
    if (ours <= 0) continue;
    std::printf("%-26s %12.0f %12.0f %12s %10.2f %10s\n", g, ours, sv, "-", sv / ours, "-");
  }
  benchmark::Shutdown();
  return 0;
}
