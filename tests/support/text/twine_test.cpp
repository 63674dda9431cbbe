#include "support/text/Twine.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/streams/StringOutStream.h"
#include "support/streams/VectorOutStream.h"

using namespace vorn;

namespace {

// Values every kind of child can refer to, with their expected renderings computed by the C
// library rather than by the code under test.
struct Pieces {
  const char *cString = "cs";
  std::string stdString = "std-string";
  StrView view = StrView("a view");
  unsigned ui = 4000000000u;
  int si = INT_MIN;
  unsigned long ul = ULONG_MAX;
  long sl = LONG_MIN;
  unsigned long long ull = ULLONG_MAX;
  long long sll = LLONG_MIN;
  uint64_t hexValue = 0xdeadbeef0012ull;
  uint64_t hexZero = 0;
};

std::string printed(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string printed(const char *format, ...) {
  char buffer[64];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  return buffer;
}

struct Maker {
  const char *name;
  std::function<Twine(const Pieces &)> make;
  std::function<std::string(const Pieces &)> expected;
};

std::vector<Maker> unaryMakers() {
  return {
      {"empty", [](const Pieces &) { return Twine(); }, [](const Pieces &) { return ""; }},
      {"cstring", [](const Pieces &p) { return Twine(p.cString); },
       [](const Pieces &p) { return std::string(p.cString); }},
      {"std::string", [](const Pieces &p) { return Twine(p.stdString); },
       [](const Pieces &p) { return p.stdString; }},
      {"StrView", [](const Pieces &p) { return Twine(p.view); },
       [](const Pieces &p) { return p.view.str(); }},
      {"char", [](const Pieces &) { return Twine('q'); }, [](const Pieces &) { return "q"; }},
      {"unsigned", [](const Pieces &p) { return Twine(p.ui); },
       [](const Pieces &p) { return printed("%u", p.ui); }},
      {"int", [](const Pieces &p) { return Twine(p.si); },
       [](const Pieces &p) { return printed("%d", p.si); }},
      {"unsigned long", [](const Pieces &p) { return Twine(p.ul); },
       [](const Pieces &p) { return printed("%lu", p.ul); }},
      {"long", [](const Pieces &p) { return Twine(p.sl); },
       [](const Pieces &p) { return printed("%ld", p.sl); }},
      {"unsigned long long", [](const Pieces &p) { return Twine(p.ull); },
       [](const Pieces &p) { return printed("%llu", p.ull); }},
      {"long long", [](const Pieces &p) { return Twine(p.sll); },
       [](const Pieces &p) { return printed("%lld", p.sll); }},
      {"hex", [](const Pieces &p) { return Twine::hex(p.hexValue); },
       [](const Pieces &p) { return printed("%llx", (unsigned long long)p.hexValue); }},
      {"hex zero", [](const Pieces &p) { return Twine::hex(p.hexZero); },
       [](const Pieces &) { return "0"; }},
  };
}

// Every way to get the text of a twine must agree.
void expectRendersAs(const Twine &t, const std::string &want) {
  EXPECT_EQ(t.toString(), want);

  std::string viaStream;
  {
    StringOutStream os(viaStream);
    t.render(os);
  }
  EXPECT_EQ(viaStream, want);

  InlineVector<char, 4> small; // forces the rendering onto the heap
  EXPECT_EQ(t.asView(small).str(), want);

  InlineVector<char, 256> scratch;
  StrView terminated = t.asTerminatedView(scratch);
  EXPECT_EQ(terminated.str(), want);
  EXPECT_EQ(terminated.data()[terminated.size()], '\0');

  InlineVector<char, 8> appended;
  appended.push_back('>');
  t.appendTo(appended);
  EXPECT_EQ(std::string(appended.data(), appended.size()), ">" + want);
}

std::string debugForm(const Twine &t) {
  std::string out;
  {
    StringOutStream os(out);
    t.renderDebug(os);
  }
  return out;
}

std::string pointerText(const void *p) {
  return printed("0x%llx", (unsigned long long)(uintptr_t)p);
}

} // namespace

TEST(TwineRender, EveryPairOfKindsRendersTheConcatenation) {
  Pieces p;
  std::vector<Maker> makers = unaryMakers();
  for (const Maker &a : makers) {
    for (const Maker &b : makers) {
      SCOPED_TRACE(std::string(a.name) + " + " + b.name);
      Twine left = a.make(p), right = b.make(p);
      expectRendersAs(left + right, a.expected(p) + b.expected(p));
      // Binary twines on either side are referred to as ropes.
      Twine pairLeft = left + Twine('|'), pairRight = Twine('|') + right;
      expectRendersAs(pairLeft + pairRight, a.expected(p) + "||" + b.expected(p));
      expectRendersAs(left + pairRight, a.expected(p) + "|" + b.expected(p));
    }
  }
}

TEST(TwineRender, RandomRopesMatchStringConcatenation) {
  const unsigned seed = 20240613;
  std::mt19937 rng(seed);
  Pieces p;
  std::vector<Maker> makers = unaryMakers();
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    // Twines refer to each other, so they live in a container that never moves them.
    std::deque<Twine> twines;
    std::deque<std::string> expected;
    int steps = int(rng() % 12) + 1;
    for (int i = 0; i < steps; ++i) {
      const Maker &m = makers[rng() % makers.size()];
      size_t k = twines.empty() ? 0 : rng() % twines.size();
      switch (twines.empty() ? 0 : rng() % 3) {
      case 0:
        twines.push_back(m.make(p));
        expected.push_back(m.expected(p));
        break;
      case 1:
        twines.push_back(twines[k].concat(m.make(p)));
        expected.push_back(expected[k] + m.expected(p));
        break;
      default: {
        size_t j = rng() % twines.size();
        twines.push_back(twines[k] + twines[j]);
        expected.push_back(expected[k] + expected[j]);
      }
      }
    }
    for (size_t i = 0; i < twines.size(); ++i) EXPECT_EQ(twines[i].toString(), expected[i]);
  }
}

TEST(TwineRender, PartsOfTheSpecimenCases) {
  expectRendersAs(Twine('x') + Twine(42u), "x42");
  const char *a = "usr", *b = "lib";
  expectRendersAs(Twine(a) + "/" + b, "usr/lib");
  expectRendersAs(Twine(), "");
  // Null is contagious and renders nothing.
  Twine null = Twine::createNull();
  EXPECT_TRUE((null + "a").isNull());
  EXPECT_TRUE((Twine("a") + null).isNull());
  EXPECT_EQ((Twine("a") + null).toString(), "");
  // Mixed text helpers.
  StrView v("mid");
  expectRendersAs("pre" + v, "premid");
  expectRendersAs(v + "post", "midpost");
}

TEST(TwineRender, PiecesAreReferencedNotCopied) {
  std::string s = "before";
  Twine t(s);
  s = "after, and longer than any small buffer would hold in place";
  EXPECT_EQ(t.toString(), s);
  unsigned long long n = 1;
  Twine number(n);
  n = 77;
  EXPECT_EQ(number.toString(), "77");
}

TEST(TwineView, SingleStringsAreHandedOnUnrendered) {
  const char *text = "some/path";
  std::string s = "std/path";
  StrView v("view/path", 4);
  InlineVector<char, 16> scratch;

  StrView got = Twine(text).asView(scratch);
  EXPECT_EQ(got.data(), text);
  EXPECT_EQ(got.size(), 9u);
  got = Twine(s).asView(scratch);
  EXPECT_EQ(got.data(), s.data());
  EXPECT_EQ(got.size(), s.size());
  got = Twine(v).asView(scratch);
  EXPECT_EQ(got.data(), v.data());
  EXPECT_EQ(got.size(), 4u);
  EXPECT_TRUE(scratch.empty());

  // The empty twine is the null view.
  got = Twine().asView(scratch);
  EXPECT_TRUE(got.isNull());
  EXPECT_EQ(got.size(), 0u);

  // Unary twines of other kinds are rendered.
  got = Twine('c').asView(scratch);
  EXPECT_EQ(got.data(), scratch.data());
  EXPECT_EQ(got.str(), "c");
  EXPECT_FALSE(Twine(7).isSingleString());
  EXPECT_FALSE((Twine("a") + "b").isSingleString());
}

TEST(TwineView, RenderedViewsIncludeWhatTheScratchHeld) {
  InlineVector<char, 16> scratch;
  scratch.push_back('#');
  StrView got = (Twine("a") + "b").asView(scratch);
  EXPECT_EQ(got.str(), "#ab");
}

TEST(TwineView, TerminatedViews) {
  const char *text = "plain";
  std::string s = "standard";
  InlineVector<char, 8> scratch;
  EXPECT_EQ(Twine(text).asTerminatedView(scratch).data(), text);
  EXPECT_EQ(Twine(s).asTerminatedView(scratch).data(), s.data());
  EXPECT_TRUE(scratch.empty());

  // A StrView is not known to be followed by a NUL, so it is copied.
  const char unterminated[] = {'a', 'b', 'c', 'd'};
  StrView v(unterminated, 3);
  StrView got = Twine(v).asTerminatedView(scratch);
  EXPECT_NE(got.data(), unterminated);
  EXPECT_EQ(got.str(), "abc");
  EXPECT_EQ(got.data()[3], '\0');
  EXPECT_EQ(scratch.size(), 3u);

  // Exactly filling the inline storage makes the NUL grow the vector, without changing its size.
  InlineVector<char, 8> full;
  const char *a = "abcd", *b = "efgh";
  got = (Twine(a) + b).asTerminatedView(full);
  EXPECT_EQ(got.str(), "abcdefgh");
  EXPECT_EQ(full.size(), 8u);
  EXPECT_EQ(got.data()[8], '\0');
  EXPECT_EQ(got.data(), full.data());
}

TEST(TwineView, ToString) {
  std::string s = "copy me";
  EXPECT_EQ(Twine(s).toString(), s);
  EXPECT_EQ(Twine().toString(), "");
  EXPECT_EQ(Twine::createNull().toString(), "");
  std::string longText(1000, 'z');
  EXPECT_EQ((Twine(longText) + Twine('!')).toString(), longText + "!");
}

TEST(TwineDebug, RepresentationOfEachKind) {
  Pieces p;
  const char *abc = "abc";
  EXPECT_EQ(debugForm(Twine(abc) + Twine(-5)), "(Twine cstring:\"abc\" decI:\"-5\")");
  EXPECT_EQ(debugForm(Twine()), "(Twine empty empty)");
  EXPECT_EQ(debugForm(Twine::createNull()), "(Twine null empty)");
  EXPECT_EQ(debugForm(Twine('z') + Twine(p.ui)), "(Twine char:\"z\" decUI:\"4000000000\")");
  EXPECT_EQ(debugForm(Twine(p.ul) + Twine(p.sl)),
            "(Twine decUL:\"" + printed("%lu", p.ul) + "\" decL:\"" + printed("%ld", p.sl) + "\")");
  EXPECT_EQ(debugForm(Twine(p.ull) + Twine(p.sll)),
            "(Twine decULL:\"18446744073709551615\" decLL:\"-9223372036854775808\")");
  // Standard strings, views and hex values show the address of the referenced object.
  EXPECT_EQ(debugForm(Twine(p.stdString) + Twine(p.view)),
            "(Twine std::string:\"" + pointerText(&p.stdString) + "\" stringref:\"" +
                pointerText(&p.view) + "\")");
  EXPECT_EQ(debugForm(Twine::hex(p.hexValue)),
            "(Twine uhex:\"" + pointerText(&p.hexValue) + "\" empty)");
  // A binary left side is a rope.
  Twine inner = Twine("a") + Twine('b');
  EXPECT_EQ(debugForm(inner + "c"), "(Twine rope:(Twine cstring:\"a\" char:\"b\") cstring:\"c\")");
}

namespace {
// Runs `fn` with descriptor 2 sent to a temporary file and returns what was written there.
std::string captureStderr(const std::function<void()> &fn) {
  char name[] = "/tmp/vorn-twine-XXXXXX";
  int fd = mkstemp(name);
  EXPECT_GE(fd, 0);
  int saved = dup(2);
  dup2(fd, 2);
  fn();
  dup2(saved, 2);
  close(saved);
  std::string out;
  char buffer[256];
  ssize_t n;
  lseek(fd, 0, SEEK_SET);
  while ((n = read(fd, buffer, sizeof(buffer))) > 0) out.append(buffer, size_t(n));
  close(fd);
  unlink(name);
  return out;
}
} // namespace

TEST(TwineDebug, DebugPrintGoesToStandardError) {
  const char *abc = "abc";
  Twine t = Twine(abc) + Twine(-5);
  EXPECT_EQ(captureStderr([&] { t.debugPrint(); }), "abc-5");
  EXPECT_EQ(captureStderr([&] { t.debugPrintRepr(); }), "(Twine cstring:\"abc\" decI:\"-5\")");
}
