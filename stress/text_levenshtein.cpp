// StrView::levenshteinDistance against a full-matrix dynamic-programming reference, with and
// without replacements, with and without a limit, on both the stack and the heap row paths.

#include <memory>
#include <string>
#include <vector>

#include "stress/StressDriver.h"
#include "support/text/StrView.h"

using vorn::StrView;

namespace {

// The distance, and the smallest row minimum seen past the limit (for the early answer).
uint32_t reference(const std::string &a, const std::string &b, bool replace, uint32_t limit) {
  size_t m = a.size(), n = b.size();
  std::vector<std::vector<uint32_t>> d(m + 1, std::vector<uint32_t>(n + 1));
  for (size_t x = 0; x <= n; ++x) d[0][x] = uint32_t(x);
  for (size_t y = 1; y <= m; ++y) {
    d[y][0] = uint32_t(y);
    uint32_t rowMin = d[y][0];
    for (size_t x = 1; x <= n; ++x) {
      uint32_t del = d[y - 1][x] + 1, ins = d[y][x - 1] + 1;
      uint32_t best = del < ins ? del : ins;
      if (a[y - 1] == b[x - 1]) {
        if (d[y - 1][x - 1] < best) best = d[y - 1][x - 1];
      } else if (replace && d[y - 1][x - 1] + 1 < best) {
        best = d[y - 1][x - 1] + 1;
      }
      d[y][x] = best;
      if (best < rowMin) rowMin = best;
    }
    // Once a whole row is past the limit, so is the answer: the limit plus one is returned.
    if (limit && rowMin > limit) return limit + 1;
  }
  return d[m][n];
}

} // namespace

STRESS_TARGET("stress-text-levenshtein", 512, 5000, nullptr) {
  static const char *const alphabets[] = {"ab", "abc", "abcdefgh", ""};
  const char *alphabet = in.pick(alphabets);
  std::string a = in.text(in.oneIn(4) ? 120 : 20, alphabet);
  std::string b;
  if (in.coin()) {
    b = a;
    stress::mutate(in, b, alphabet, 6);
  } else {
    b = in.text(in.oneIn(4) ? 120 : 40, alphabet);
  }
  bool replace = in.coin();
  uint32_t limit = in.coin() ? 0 : in.below(12);

  std::unique_ptr<char[]> ba(new char[a.size() + 1]), bb(new char[b.size() + 1]);
  memcpy(ba.get(), a.data(), a.size());
  memcpy(bb.get(), b.data(), b.size());
  StrView va(ba.get(), uint32_t(a.size())), vb(bb.get(), uint32_t(b.size()));
  if (a.empty() && in.coin()) va = StrView();
  if (b.empty() && in.coin()) vb = StrView();

  uint32_t got = va.levenshteinDistance(vb, replace, limit);
  uint32_t want = reference(a, b, replace, limit);
  STRESS_CHECK(got == want, "distance(\"%s\", \"%s\", replace %d, limit %u) = %u, want %u",
               a.c_str(), b.c_str(), int(replace), limit, got, want);
  if (limit == 0) {
    // A metric: symmetric, and zero exactly for equal texts.
    uint32_t back = vb.levenshteinDistance(va, replace, 0);
    STRESS_CHECK(back == got, "distance is not symmetric: %u and %u", got, back);
    STRESS_CHECK((got == 0) == (a == b), "distance %u between \"%s\" and \"%s\"", got, a.c_str(),
                 b.c_str());
  }
}
