// parseUnsigned, parseSigned and detectRadix against a plain reference and against strtoull and
// strtoll on the texts both accept. Texts sit in heap blocks of their exact size, so a read past
// the end is a sanitizer report.

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <memory>
#include <string>

#include "stress/StressDriver.h"
#include "support/text/StrView.h"

using vorn::StrView;

namespace {

int digitOf(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

enum class Outcome { Ok, BadDigit, Overflow, Empty, BadRadix };

// The value of `s` in `radix` (2 to 36), without prefixes or signs.
Outcome referenceValue(const std::string &s, unsigned radix, uint64_t &value) {
  if (radix < 2 || radix > 36) return Outcome::BadRadix;
  if (s.empty()) return Outcome::Empty;
  value = 0;
  bool overflow = false;
  for (char c : s) {
    unsigned d = unsigned(digitOf(c));
    if (d >= radix) return Outcome::BadDigit;
    if (value > (UINT64_MAX - d) / radix) overflow = true;
    value = value * radix + d;
  }
  return overflow ? Outcome::Overflow : Outcome::Ok;
}

// detectRadix as documented: the radix and how many characters the prefix takes.
unsigned referenceRadix(const std::string &s, size_t &prefix) {
  prefix = 0;
  if (s.size() >= 2 && s[0] == '0') {
    if (s[1] == 'x') return prefix = 2, 16;
    if (s[1] == 'b') return prefix = 2, 2;
    if (s[1] == 'o') return prefix = 2, 8;
  }
  return !s.empty() && s[0] == '0' ? 8 : 10;
}

std::string numberLike(stress::Input &in) {
  static const char *const prefixes[] = {"", "", "0x", "0b", "0o", "0", "00", "0X", "-", "-0x", "--"};
  static const char *const alphabets[] = {"0123456789", "01", "01234567", "0123456789abcdefABCDEF",
                                          "0123456789abcdefghijklmnopqrstuvwxyzXYZ", "019zZ -+_"};
  switch (in.below(5)) {
  case 0: return in.text(48);
  case 1: { // the largest values and their neighbours in some radix
    static const char *const edges[] = {"18446744073709551615", "18446744073709551616",
                                        "9223372036854775807", "9223372036854775808",
                                        "9223372036854775809", "ffffffffffffffff", "10000000000000000",
                                        "3w5e11264sgsf", "3w5e11264sgsg", "1777777777777777777777",
                                        "2000000000000000000000", "7fffffffffffffff", "8000000000000000"};
    std::string s = in.pick(edges);
    if (in.coin()) s = "-" + s;
    if (in.coin()) stress::mutate(in, s, "0123456789afgz", 2);
    return s;
  }
  default: {
    std::string s = in.pick(prefixes);
    s += in.text(in.oneIn(4) ? 80 : 24, in.pick(alphabets));
    if (in.oneIn(4)) stress::mutate(in, s);
    return s;
  }
  }
}

} // namespace

STRESS_TARGET("stress-text-numbers", 256, 20000, nullptr) {
  std::string s = numberLike(in);
  static const unsigned radices[] = {0, 0, 0, 2, 8, 10, 10, 16, 36, 1, 37, 255};
  unsigned radix = in.oneIn(4) ? in.range(2, 36) : in.pick(radices);

  // The text in a block of exactly its size (or the null view for the empty text, sometimes).
  std::unique_ptr<char[]> block(new char[s.size() ? s.size() : 1]);
  if (!s.empty()) memcpy(block.get(), s.data(), s.size());
  StrView view = s.empty() && in.coin() ? StrView() : StrView(block.get(), uint32_t(s.size()));

  // detectRadix.
  StrView rest = view;
  size_t prefix;
  unsigned want = referenceRadix(s, prefix);
  unsigned got = vorn::detectRadix(rest);
  STRESS_CHECK(got == want && rest.size() == s.size() - prefix &&
                   (s.empty() || rest.data() == view.data() + prefix),
               "detectRadix(\"%s\") gave %u and %u characters left, want %u and %zu", s.c_str(),
               got, rest.size(), want, s.size() - prefix);

  // parseUnsigned.
  size_t skip = 0;
  unsigned effective = radix == 0 ? referenceRadix(s, skip) : radix;
  std::string digits = s.substr(skip);
  uint64_t expected = 0, result = 0;
  Outcome outcome = referenceValue(digits, effective, expected);
  bool failed = vorn::parseUnsigned(view, radix, result);
  STRESS_CHECK(failed == (outcome != Outcome::Ok),
               "parseUnsigned(\"%s\", %u) %s, want %s (outcome %d)", s.c_str(), radix,
               failed ? "failed" : "succeeded", outcome == Outcome::Ok ? "success" : "failure",
               int(outcome));
  if (outcome == Outcome::Ok)
    STRESS_CHECK(result == expected, "parseUnsigned(\"%s\", %u) = %" PRIu64 ", want %" PRIu64,
                 s.c_str(), radix, result, expected);

  // strtoull on the texts both accept: plain digits of the radix, nothing else.
  if (outcome == Outcome::Ok || outcome == Outcome::Overflow) {
    errno = 0;
    char *end = nullptr;
    unsigned long long c = std::strtoull(digits.c_str(), &end, int(effective));
    bool hexPrefix = effective == 16 && digits.size() > 1 && digits[0] == '0' &&
                     (digits[1] == 'x' || digits[1] == 'X');
    if (!hexPrefix) {
      STRESS_CHECK(*end == '\0', "strtoull stopped early on \"%s\"", digits.c_str());
      if (outcome == Outcome::Ok)
        STRESS_CHECK(errno == 0 && c == expected, "strtoull(\"%s\", %u) = %llu, parseUnsigned %" PRIu64,
                     digits.c_str(), effective, c, expected);
      else
        STRESS_CHECK(errno == ERANGE, "strtoull(\"%s\", %u) did not overflow", digits.c_str(),
                     effective);
    }
  }

  // parseSigned: a leading "-" negates what the rest parses to (the rest has its own prefix).
  bool negative = !s.empty() && s[0] == '-';
  std::string magnitudeText = negative ? s.substr(1) : s;
  size_t skip2 = 0;
  unsigned effective2 = radix == 0 ? referenceRadix(magnitudeText, skip2) : radix;
  uint64_t magnitude = 0;
  Outcome o2 = referenceValue(magnitudeText.substr(skip2), effective2, magnitude);
  const uint64_t signBit = uint64_t(1) << 63;
  bool accepts = o2 == Outcome::Ok && (negative ? magnitude <= signBit : magnitude < signBit);
  int64_t sresult = 0;
  bool sfailed = vorn::parseSigned(view, radix, sresult);
  STRESS_CHECK(sfailed == !accepts, "parseSigned(\"%s\", %u) %s", s.c_str(), radix,
               sfailed ? "failed" : "succeeded");
  if (accepts) {
    int64_t want2 = negative ? (magnitude == signBit ? INT64_MIN : -int64_t(magnitude))
                             : int64_t(magnitude);
    STRESS_CHECK(sresult == want2, "parseSigned(\"%s\", %u) = %" PRId64 ", want %" PRId64,
                 s.c_str(), radix, sresult, want2);
    std::string plain = (negative ? "-" : "") + magnitudeText.substr(skip2);
    bool hexPrefix = effective2 == 16 && magnitudeText.size() > skip2 + 1 &&
                     magnitudeText[skip2] == '0' &&
                     (magnitudeText[skip2 + 1] == 'x' || magnitudeText[skip2 + 1] == 'X');
    if (!hexPrefix) {
      errno = 0;
      char *end = nullptr;
      long long c = std::strtoll(plain.c_str(), &end, int(effective2));
      STRESS_CHECK(*end == '\0' && errno == 0 && c == want2,
                   "strtoll(\"%s\", %u) = %lld, parseSigned %" PRId64, plain.c_str(), effective2, c,
                   want2);
    }
  }
}
