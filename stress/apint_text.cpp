// APInt text conversion against GMP: toText and appendText (every radix, signed and unsigned,
// literal prefixes) against mpz_get_str, parseText against mpz_set_str modulo the width,
// parseInteger's validation and width rule, bitsNeededForText's bound and digitValue, plus the
// round trip from value to text and back. Texts are parsed from blocks of their exact size.

#include <memory>
#include <string>

#include "stress/StressDriver.h"
#include "support/apint/APInt.h"
#include "tests/support/apint/gmp_reference.h"

using apinttest::Mpz;
using apinttest::hexOf;
using apinttest::sameValue;
using apinttest::toAPInt;
using apinttest::toMpz;
using apinttest::toMpzSigned;
using vorn::APInt;
using vorn::StrView;

namespace {

const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// z in `radix` with upper-case digits, "-" for a negative value.
std::string gmpText(mpz_srcptr z, int radix) {
  char *s = mpz_get_str(nullptr, -radix, z);
  std::string out = s;
  void (*freeFn)(void *, size_t);
  mp_get_memory_functions(nullptr, nullptr, &freeFn);
  freeFn(s, out.size() + 1);
  return out;
}

uint32_t digitOf(char c, uint32_t radix) {
  uint32_t d = c >= '0' && c <= '9' ? uint32_t(c - '0')
               : c >= 'a' && c <= 'z' ? uint32_t(c - 'a' + 10)
               : c >= 'A' && c <= 'Z' ? uint32_t(c - 'A' + 10)
                                      : 99;
  return d < radix ? d : 99;
}

// A text of digits of `radix`, of either case, with leading zeros at times.
std::string digitsOf(stress::Input &in, uint32_t radix, uint32_t max) {
  std::string s;
  if (in.oneIn(4)) s.append(in.below(5), '0');
  for (uint32_t n = 1 + in.length(max); n > 0; --n) {
    char c = kDigits[in.below(radix)];
    if (c >= 'A' && in.coin()) c = char(c - 'A' + 'a');
    s += c;
  }
  return s;
}

// A heap copy of exactly the text's size, as a view.
struct Held {
  std::unique_ptr<char[]> block;
  StrView view;
  explicit Held(const std::string &s) : block(new char[s.size() ? s.size() : 1]) {
    if (!s.empty()) memcpy(block.get(), s.data(), s.size());
    view = StrView(block.get(), uint32_t(s.size()));
  }
};

uint32_t pickWidth(stress::Input &in) {
  static const uint32_t widths[] = {1, 7, 8, 32, 63, 64, 65, 127, 128, 129, 200, 256};
  return in.oneIn(3) ? in.range(1, 700) : in.pick(widths);
}

} // namespace

STRESS_TARGET("stress-apint-text", 512, 10000, nullptr) {
  static const uint32_t parseRadices[] = {2, 8, 10, 16, 36};
  switch (in.below(5)) {
  case 0: { // value to text, against GMP, and back
    uint32_t w = pickWidth(in);
    Mpz z, s;
    std::string raw;
    for (uint32_t i = 0; i < (w + 7) / 8; ++i) raw += char(in.byte());
    mpz_import(z, raw.size(), -1, 1, 0, 0, raw.data());
    if (in.oneIn(4)) mpz_set_ui(z, in.below(3));
    if (in.oneIn(6)) { // the smallest signed value and its neighbours
      mpz_set_ui(z, 0);
      mpz_setbit(z, w - 1);
      if (in.coin()) mpz_sub_ui(z, z, 1);
    }
    mpz_fdiv_r_2exp(z, z, w);
    APInt v = toAPInt(z, w);
    toMpzSigned(s, v);
    uint32_t radix = in.range(2, 36);
    bool isSigned = in.coin();
    std::string got = v.toText(radix, isSigned);
    std::string want = gmpText(isSigned ? mpz_srcptr(s) : mpz_srcptr(z), int(radix));
    STRESS_CHECK(got == want, "toText(%u, %d) of %s = \"%s\", want \"%s\"", radix, int(isSigned),
                 hexOf(v).c_str(), got.c_str(), want.c_str());

    // The literal form: sign, prefix, digits; after what the vector already holds.
    static const uint32_t literalRadices[] = {2, 8, 10, 16};
    uint32_t lr = in.pick(literalRadices);
    vorn::InlineVector<char, 8> out;
    std::string before = in.text(10, "ab");
    for (char c : before) out.push_back(c);
    v.appendText(out, lr, isSigned, true);
    std::string digits = gmpText(isSigned ? mpz_srcptr(s) : mpz_srcptr(z), int(lr));
    bool negative = digits[0] == '-';
    std::string prefix = lr == 2 ? "0b" : lr == 8 ? "0" : lr == 16 ? "0x" : "";
    std::string lit = before + (negative ? "-" : "") + prefix + digits.substr(negative ? 1 : 0);
    STRESS_CHECK(std::string(out.data(), out.size()) == lit, "appendText(%u, %d, literal) of %s = \"%.*s\", want \"%s\"",
                 lr, int(isSigned), hexOf(v).c_str(), int(out.size()), out.data(), lit.c_str());

    // And back: parseText at the same width gives the value again.
    uint32_t pr = in.pick(parseRadices);
    std::string text = v.toText(pr, isSigned);
    Held h(text);
    APInt back(w, h.view, pr);
    STRESS_CHECK(back == v, "parseText(%u, \"%s\", %u) gives %s, want %s", w, text.c_str(), pr,
                 hexOf(back).c_str(), hexOf(v).c_str());
    break;
  }
  case 1: { // parseText against mpz_set_str modulo the width
    uint32_t w = pickWidth(in), radix = in.pick(parseRadices);
    static const char *const signs[] = {"", "", "-", "+"};
    std::string sign = in.pick(signs);
    std::string digits = digitsOf(in, radix, in.oneIn(4) ? 200 : 30);
    std::string text = sign + digits;
    Held h(text);
    APInt v(pickWidth(in), 7);
    v.parseText(w, h.view, radix);
    Mpz want;
    mpz_set_str(want, digits.c_str(), int(radix));
    if (sign == "-") mpz_neg(want, want);
    STRESS_CHECK(sameValue(v, want, w), "parseText(%u, \"%s\", %u) = %s, want %s", w, text.c_str(),
                 radix, hexOf(v).c_str(), hexOf(want).c_str());
    // bitsNeededForText: the documented count, and enough for the signed value.
    uint32_t bits = APInt::bitsNeededForText(h.view, radix);
    uint32_t negative = sign == "-";
    uint32_t expected;
    if (radix == 2 || radix == 8 || radix == 16) {
      expected = uint32_t(digits.size()) * (radix == 2 ? 1 : radix == 8 ? 3 : 4) + negative;
    } else {
      Mpz magnitude;
      mpz_abs(magnitude, want);
      expected = negative + (apinttest::sign(magnitude) ? uint32_t(mpz_sizeinbase(magnitude, 2)) : 1);
    }
    STRESS_CHECK(bits == expected, "bitsNeededForText(\"%s\", %u) = %u, want %u", text.c_str(), radix,
                 bits, expected);
    APInt exact(bits, h.view, radix);
    Mpz readBack;
    toMpzSigned(readBack, exact);
    if (!negative) toMpz(readBack, exact);
    STRESS_CHECK(mpz_cmp(readBack, want) == 0, "%u bits do not hold \"%s\"", bits, text.c_str());
    break;
  }
  case 2: { // parseInteger: validation, radix detection and the width rule
    std::string text;
    uint32_t radix = in.oneIn(3) ? 0 : in.range(2, 36);
    uint32_t digitRadix = radix ? radix : in.pick(parseRadices);
    if (radix == 0) {
      static const char *const prefixes[] = {"0x", "0b", "0o", "", "0", "0X"};
      text = in.pick(prefixes);
      digitRadix = text == "0x" ? 16 : text == "0b" ? 2 : text == "0o" || text == "0" ? 8 : 10;
    }
    text += in.oneIn(8) ? std::string() : digitsOf(in, digitRadix, in.oneIn(4) ? 100 : 24);
    if (in.oneIn(4)) stress::mutate(in, text, "0129afzAZ-+ x");
    Held h(text);
    uint32_t oldWidth = pickWidth(in);
    APInt v(oldWidth, 5);
    bool failed = vorn::parseInteger(h.view, radix, v);

    // The reference: the prefix as detectRadix takes it, then digits only.
    std::string body = text;
    uint32_t r = radix;
    if (r == 0) {
      StrView rest(body);
      r = vorn::detectRadix(rest);
      body = rest.str();
    }
    bool valid = !body.empty();
    for (char c : body) valid = valid && digitOf(c, r) < r;
    STRESS_CHECK(failed == !valid, "parseInteger(\"%s\", %u) %s", text.c_str(), radix,
                 failed ? "failed" : "succeeded");
    if (!valid) break;
    size_t first = body.find_first_not_of('0');
    if (first == std::string::npos) {
      STRESS_CHECK(v.width() == 64 && v == 0, "parseInteger(\"%s\", %u) of zeros gave width %u",
                   text.c_str(), radix, v.width());
      break;
    }
    uint32_t bitsPerDigit = 1;
    while ((1u << bitsPerDigit) < r) ++bitsPerDigit;
    uint32_t needed = bitsPerDigit * uint32_t(body.size() - first);
    uint32_t w = needed > oldWidth ? needed : oldWidth;
    Mpz want;
    mpz_set_str(want, body.c_str(), int(r));
    STRESS_CHECK(sameValue(v, want, w), "parseInteger(\"%s\", %u) = %s at width %u, want %s at width %u",
                 text.c_str(), radix, hexOf(v).c_str(), v.width(), hexOf(want).c_str(), w);
    break;
  }
  case 3: { // digitValue over every byte and radix
    char c = char(in.byte());
    uint32_t radix = in.range(2, 36);
    uint32_t got = APInt::digitValue(c, radix);
    uint32_t want;
    if (radix == 16 || radix == 36)
      want = digitOf(c, radix) < radix ? digitOf(c, radix) : 0xFFFFFFFFu;
    else
      want = c >= '0' && c <= '9' && uint32_t(c - '0') < radix ? uint32_t(c - '0') : 0xFFFFFFFFu;
    STRESS_CHECK(got == want, "digitValue('\\x%02x', %u) = %u, want %u", unsigned((unsigned char)c),
                 radix, got, want);
    break;
  }
  default: { // the 64-bit fast path and the wide path give the same text for the same number
    uint64_t x = in.coin() ? in.u64() : in.u64() >> in.below(64);
    uint32_t radix = in.range(2, 36);
    APInt narrow(64, x), wide(64 + in.range(1, 200), x);
    STRESS_CHECK(narrow.toText(radix, false) == wide.toText(radix, false),
                 "the inline and wide texts of %llu in radix %u differ", (unsigned long long)x, radix);
    break;
  }
  }
}
