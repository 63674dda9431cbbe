// StrView::split (the one-step pair and the vector form) against a reference built on
// std::string::find, on texts and separators from small alphabets so that separators occur.
// Every piece must view the original text, and the text sits in a block of its exact size.

#include <memory>
#include <string>
#include <vector>

#include "stress/StressDriver.h"
#include "support/text/InlineVector.h"
#include "support/text/StrView.h"

using vorn::StrView;

namespace {

struct Piece {
  size_t at;
  size_t len;
};

// The pieces as documented: split at most maxSplits times (all when negative); empty pieces
// kept only when asked; an empty separator never matches; a null text gives nothing.
std::vector<Piece> reference(const std::string &s, bool null, const std::string &sep, int maxSplits,
                             bool keep) {
  std::vector<Piece> out;
  if (null) return out;
  size_t from = 0;
  bool remainingNull = false;
  int splits = 0;
  if (!sep.empty()) {
    while (!remainingNull && (maxSplits < 0 || splits < maxSplits)) {
      size_t at = s.find(sep, from);
      if (at == std::string::npos) {
        if (keep || s.size() > from) out.push_back({from, s.size() - from});
        remainingNull = true;
      } else {
        if (keep || at > from) out.push_back({from, at - from});
        from = at + sep.size();
      }
      ++splits;
    }
  }
  if (!remainingNull && (keep || s.size() > from)) out.push_back({from, s.size() - from});
  return out;
}

} // namespace

STRESS_TARGET("stress-text-split", 512, 20000, nullptr) {
  static const char *const alphabets[] = {",a", ",ab", "ab", ", a", "\0,", "xyz,;"};
  const char *alphabet = in.pick(alphabets);
  if (!*alphabet) alphabet = "";
  std::string s = in.text(in.oneIn(8) ? 400 : 40, alphabet);
  std::string sep = in.oneIn(8) ? in.text(3) : in.text(4, alphabet);
  if (in.oneIn(4)) sep = sep.substr(0, 1);
  int maxSplits = in.oneIn(3) ? -1 : in.oneIn(8) ? -int(in.range(2, 1000)) : int(in.below(8));
  bool keep = in.coin();
  bool null = s.empty() && in.oneIn(3);

  std::unique_ptr<char[]> block(new char[s.size() ? s.size() : 1]);
  std::unique_ptr<char[]> sepBlock(new char[sep.size() ? sep.size() : 1]);
  if (!s.empty()) memcpy(block.get(), s.data(), s.size());
  if (!sep.empty()) memcpy(sepBlock.get(), sep.data(), sep.size());
  StrView view = null ? StrView() : StrView(block.get(), uint32_t(s.size()));
  StrView sepView = sep.empty() && in.coin() ? StrView() : StrView(sepBlock.get(), uint32_t(sep.size()));

  vorn::InlineVector<StrView, 4> pieces;
  if (in.coin()) pieces.push_back(StrView("earlier")); // appends after what is there
  size_t before = pieces.size();
  view.split(pieces, sepView, maxSplits, keep);
  std::vector<Piece> want = reference(s, null, sep, maxSplits, keep);
  STRESS_CHECK(pieces.size() - before == want.size(),
               "split(\"%s\" by \"%s\", max %d, keep %d) gave %zu pieces, want %zu", s.c_str(),
               sep.c_str(), maxSplits, int(keep), pieces.size() - before, want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    StrView p = pieces[before + i];
    STRESS_CHECK(p.data() == block.get() + want[i].at && p.size() == want[i].len,
                 "split(\"%s\" by \"%s\", max %d, keep %d): piece %zu is at %td+%u, want %zu+%zu",
                 s.c_str(), sep.c_str(), maxSplits, int(keep), i, p.data() - block.get(), p.size(),
                 want[i].at, want[i].len);
  }

  // The one-step split: before and after the first separator, or the text and the null view.
  std::pair<StrView, StrView> two = view.split(sepView);
  size_t at = sep.empty() ? 0 : s.find(sep);
  if (null) {
    STRESS_CHECK(two.first.isNull() && two.second.isNull(), "split of the null view");
  } else if (at == std::string::npos) {
    STRESS_CHECK(two.first.data() == view.data() && two.first.size() == view.size() &&
                     two.second.isNull(),
                 "split(\"%s\" by \"%s\") without an occurrence", s.c_str(), sep.c_str());
  } else {
    STRESS_CHECK(two.first.data() == block.get() && two.first.size() == at &&
                     two.second.data() == block.get() + at + sep.size() &&
                     two.second.size() == s.size() - at - sep.size(),
                 "split(\"%s\" by \"%s\") at %zu", s.c_str(), sep.c_str(), at);
  }
}
