// StrView::compareWithNumbers: a total order (reflexive, antisymmetric, transitive on triples)
// that agrees with a reference which compares maximal digit runs by length, then digit by digit.

#include <memory>
#include <string>

#include "stress/StressDriver.h"
#include "support/text/StrView.h"

using vorn::StrView;

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int reference(const std::string &a, const std::string &b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n;) {
    if (isDigit(a[i]) && isDigit(b[i])) {
      size_t ea = i, eb = i;
      while (ea < a.size() && isDigit(a[ea])) ++ea;
      while (eb < b.size() && isDigit(b[eb])) ++eb;
      if (ea - i != eb - i) return ea - i < eb - i ? -1 : 1;
      int c = a.compare(i, ea - i, b, i, eb - i);
      if (c) return c < 0 ? -1 : 1;
      i = ea;
      continue;
    }
    if (a[i] != b[i]) return (unsigned char)a[i] < (unsigned char)b[i] ? -1 : 1;
    ++i;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// A text in a block of its exact size, alive as long as the holder.
struct Held {
  std::unique_ptr<char[]> block;
  StrView view;
  explicit Held(const std::string &s) : block(new char[s.size() + 1]) {
    memcpy(block.get(), s.data(), s.size());
    view = StrView(block.get(), uint32_t(s.size()));
  }
};

std::string sample(stress::Input &in, const std::string &base) {
  static const char *const alphabets[] = {"0123456789", "a09", "a1/:", "0 9", "19a"};
  std::string s;
  if (!base.empty() && in.coin()) {
    s = base;
    stress::mutate(in, s, "0123456789a/:", 2);
  } else {
    s = in.oneIn(8) ? in.text(24) : in.text(in.oneIn(8) ? 200 : 12, in.pick(alphabets));
  }
  return s;
}

} // namespace

STRESS_TARGET("stress-text-compare", 512, 20000, nullptr) {
  std::string a = sample(in, "");
  std::string b = sample(in, a);
  std::string c = sample(in, in.coin() ? a : b);
  Held ha(a), hb(b), hc(c), ha2(a);
  int ab = ha.view.compareWithNumbers(hb.view), ba = hb.view.compareWithNumbers(ha.view);
  int bc = hb.view.compareWithNumbers(hc.view), ac = ha.view.compareWithNumbers(hc.view);
  STRESS_CHECK(ab >= -1 && ab <= 1, "compareWithNumbers gave %d", ab);
  STRESS_CHECK(ha.view.compareWithNumbers(ha2.view) == 0, "\"%s\" is not equal to itself", a.c_str());
  STRESS_CHECK(ab == -ba, "not antisymmetric: \"%s\" vs \"%s\" gives %d and %d", a.c_str(),
               b.c_str(), ab, ba);
  STRESS_CHECK(ab == reference(a, b), "\"%s\" vs \"%s\" gives %d, reference %d", a.c_str(),
               b.c_str(), ab, reference(a, b));
  if (ab <= 0 && bc <= 0)
    STRESS_CHECK(ac <= 0 && (ac < 0 || (ab == 0 && bc == 0)),
                 "not transitive: \"%s\" %d \"%s\" %d \"%s\" but %d", a.c_str(), ab, b.c_str(), bc,
                 c.c_str(), ac);
  if (ab >= 0 && bc >= 0)
    STRESS_CHECK(ac >= 0 && (ac > 0 || (ab == 0 && bc == 0)),
                 "not transitive: \"%s\" %d \"%s\" %d \"%s\" but %d", a.c_str(), ab, b.c_str(), bc,
                 c.c_str(), ac);
  // Equal means the same text: no two spellings of a number are equal (leading zeros count).
  STRESS_CHECK((ab == 0) == (a == b), "\"%s\" and \"%s\" compare %d", a.c_str(), b.c_str(), ab);
}
