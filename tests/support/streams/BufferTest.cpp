// The buffer logic of OutStream, observed through a recording sink, and the in-memory streams.

#include <gtest/gtest.h>

#include <random>

#include "StreamTestSupport.h"
#include "support/streams/NullOutStream.h"
#include "support/streams/StdStreams.h"
#include "support/streams/StringOutStream.h"
#include "support/streams/VectorOutStream.h"

using namespace vorn;
using vorn::testing::RecordingStream;

namespace {

std::string pattern(size_t n, unsigned seed = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char('a' + (i * 7 + seed) % 26);
  return s;
}

TEST(StreamBuffer, LargeWriteIntoEmptyBufferBypassesIt) {
  const size_t B = 256;
  RecordingStream s(B);
  std::string data = pattern(B * 5 / 2);
  s.write(data.data(), data.size());
  ASSERT_EQ(s.calls.size(), 1u);
  EXPECT_EQ(s.calls[0].bytes, data.substr(0, 2 * B));
  EXPECT_FALSE(s.calls[0].fromBuffer);
  EXPECT_EQ(s.pending(), data.substr(2 * B));
  EXPECT_EQ(s.bufferSize(), B);
}

TEST(StreamBuffer, WriteThatOverflowsFillsDrainsAndKeepsRest) {
  const size_t B = 256;
  RecordingStream s(B);
  std::string first = pattern(B - 10, 1), second = pattern(100, 2);
  s << first;
  EXPECT_TRUE(s.calls.empty());
  s << second;
  ASSERT_EQ(s.calls.size(), 1u);
  EXPECT_EQ(s.calls[0].bytes, first + second.substr(0, 10));
  EXPECT_TRUE(s.calls[0].fromBuffer);
  EXPECT_EQ(s.calls[0].pendingDuring, 0u) << "buffer must be marked empty before the sink runs";
  EXPECT_EQ(s.pending(), second.substr(10));
  EXPECT_EQ(s.position(), first.size() + second.size());
}

TEST(StreamBuffer, UnbufferedAndZeroSizedStreams) {
  RecordingStream unbuffered(64, OutStream::NoBuffer);
  unbuffered << 'x' << "yz";
  ASSERT_EQ(unbuffered.calls.size(), 2u);
  EXPECT_EQ(unbuffered.calls[0].bytes, "x");
  EXPECT_EQ(unbuffered.calls[1].bytes, "yz");
  EXPECT_EQ(unbuffered.bufferSize(), 0u);

  // A default size of 0 turns an owning stream unbuffered for good at its first write.
  RecordingStream zero(0);
  zero << 'a';
  EXPECT_EQ(zero.bufferOwner(), OutStream::NoBuffer);
  zero << "bc" << 'd';
  ASSERT_EQ(zero.calls.size(), 3u);
  EXPECT_EQ(zero.received(), "abcd");
}

TEST(StreamBuffer, CharacterWritesDrainOnlyWhenFull) {
  RecordingStream s(4);
  s << 'a' << 'b' << 'c' << 'd';
  EXPECT_TRUE(s.calls.empty());
  s << 'e';
  ASSERT_EQ(s.calls.size(), 1u);
  EXPECT_EQ(s.calls[0].bytes, "abcd");
  EXPECT_EQ(s.pending(), "e");
  s.flush();
  s.flush(); // nothing pending: no empty sink call
  ASSERT_EQ(s.calls.size(), 2u);
  EXPECT_EQ(s.calls[1].bytes, "e");
}

// Random mixes of writes, characters, formatted output and flushes against a plain string.
TEST(StreamBuffer, RandomWriteSequencesMatchReference) {
  const unsigned seed = 20240611;
  std::mt19937 rng(seed);
  for (int round = 0; round < 200; ++round) {
    size_t B = 1 + rng() % 300;
    bool unbuffered = rng() % 8 == 0;
    RecordingStream s(B, unbuffered ? OutStream::NoBuffer : OutStream::OwnBuffer);
    std::string ref;
    for (int op = 0; op < 60; ++op) {
      switch (rng() % 5) {
      case 0: {
        std::string d = pattern(rng() % (3 * B + 2), unsigned(op));
        s.write(d.data(), d.size());
        ref += d;
        break;
      }
      case 1: s << char('A' + op % 26); ref += char('A' + op % 26); break;
      case 2: s.flush(); break;
      case 3: {
        unsigned v = rng();
        int width = int(rng() % 200);
        char expected[512];
        snprintf(expected, sizeof(expected), "<%u:%*s>", v, width, "x");
        s << format("<%u:%*s>", v, width, "x");
        ref += expected;
        break;
      }
      case 4: {
        unsigned n = rng() % 200;
        s.writeSpaces(n);
        ref.append(n, ' ');
        break;
      }
      }
      ASSERT_EQ(s.position(), ref.size()) << "seed " << seed << " round " << round;
    }
    s.flush();
    ASSERT_EQ(s.received(), ref) << "seed " << seed << " round " << round;
    for (const auto &c : s.calls) {
      ASSERT_FALSE(c.bytes.empty()) << "seed " << seed;
      if (c.fromBuffer) {
        ASSERT_LE(c.bytes.size(), B) << "seed " << seed;
        ASSERT_EQ(c.pendingDuring, 0u) << "seed " << seed;
      }
    }
  }
}

// A formatter whose C library fails (negative result) below a chosen size.
class FailingFormatter : public Formatter {
public:
  FailingFormatter(size_t workFrom, const char *text) : Formatter("%s"), workFrom(workFrom), text(text) {}
  int formatInto(char *buffer, size_t size) const override {
    ++calls;
    if (size < workFrom) return -1;
    return snprintf(buffer, size, "%s", text);
  }
  size_t workFrom;
  const char *text;
  mutable int calls = 0;
};

TEST(StreamFormatter, NeededSizeRules) {
  EXPECT_EQ(Formatter::neededSizeFor(-1, 50), 100u);
  EXPECT_EQ(Formatter::neededSizeFor(49, 50), 49u);
  EXPECT_EQ(Formatter::neededSizeFor(50, 50), 51u); // no room for the NUL
  EXPECT_EQ(Formatter::neededSizeFor(0, 50), 0u);
}

TEST(StreamFormatter, PrintsIntoBufferScratchOrUnbufferedStream) {
  std::string longText = pattern(1000);
  char expected[64];
  snprintf(expected, sizeof(expected), "[%08.3f|%-5d]", 3.14159, -42);

  // Enough room: straight into the buffer, no sink call.
  RecordingStream roomy(256);
  roomy << "go";
  roomy << format("[%08.3f|%-5d]", 3.14159, -42);
  EXPECT_TRUE(roomy.calls.empty());
  EXPECT_EQ(roomy.pending(), std::string("go") + expected);

  // Three bytes or fewer free: the scratch path, output still in order.
  RecordingStream tight(32);
  std::string fill = pattern(29);
  tight << fill << format("[%08.3f|%-5d]", 3.14159, -42) << "!";
  tight.flush();
  EXPECT_EQ(tight.received(), fill + expected + "!");

  // Longer than both the free room and the scratch's first size.
  for (auto mode : {OutStream::OwnBuffer, OutStream::NoBuffer}) {
    RecordingStream s(64, mode);
    s << "a" << format("%s", longText.c_str()) << "z";
    s.flush();
    EXPECT_EQ(s.received(), "a" + longText + "z");
  }
}

TEST(StreamFormatter, NegativeResultsDoubleThenGiveUp) {
  RecordingStream s(256);
  FailingFormatter works(1000, "late but fine");
  s << works;
  s.flush();
  EXPECT_EQ(s.received(), "late but fine");

  // A formatter that always fails must not loop for ever or write garbage.
  RecordingStream t(256);
  FailingFormatter never(~size_t(0), "never");
  t << "a" << never << "b";
  t.flush();
  EXPECT_EQ(t.received(), "ab");
  EXPECT_LT(never.calls, 40);
}

TEST(VectorStream, WritesInPlaceAndGrows) {
  InlineVector<char, 16> vec;
  {
    VectorOutStream s(vec);
    EXPECT_GE(vec.capacity(), 128u);
    EXPECT_FALSE(vec.isInline());
    s << "abc";
    // Buffered bytes sit in the vector's spare capacity before they are committed.
    EXPECT_EQ(vec.size(), 0u);
    EXPECT_EQ(std::string(vec.data(), 3), "abc");
    StrView v = s.view();
    EXPECT_EQ(v.size(), 3u);
    EXPECT_EQ(v.data(), vec.data());
    EXPECT_EQ(v, StrView("abc"));
  }
  EXPECT_EQ(std::string(vec.data(), vec.size()), "abc");

  // Appends to what is there, and the destructor commits pending bytes.
  { VectorOutStream s(vec); s << "def" << 12; }
  EXPECT_EQ(std::string(vec.data(), vec.size()), "abcdef12");
}

TEST(VectorStream, RandomWritesMatchReferenceAndKeepSpareRoom) {
  const unsigned seed = 77;
  std::mt19937 rng(seed);
  for (int round = 0; round < 50; ++round) {
    InlineVector<char, 8> vec;
    std::string ref = pattern(rng() % 300, 3);
    vec.append(ref.data(), ref.data() + ref.size());
    VectorOutStream s(vec);
    for (int op = 0; op < 80; ++op) {
      std::string d = pattern(rng() % 700, unsigned(op));
      if (rng() % 3 == 0) {
        for (char c : d.substr(0, 40)) s << c;
        ref += d.substr(0, 40);
      } else {
        s << d;
        ref += d;
      }
      if (rng() % 4 == 0) {
        StrView v = s.view();
        ASSERT_EQ(v.str(), ref) << "seed " << seed << " round " << round;
        ASSERT_GE(vec.capacity() - vec.size(), 64u) << "seed " << seed;
      }
      ASSERT_EQ(s.position(), ref.size()) << "seed " << seed;
    }
    ASSERT_EQ(s.view().str(), ref) << "seed " << seed << " round " << round;
  }
}

TEST(VectorStream, RebindAfterOutsideChange) {
  InlineVector<char, 64> vec;
  VectorOutStream s(vec);
  s << "first";
  s.flush();
  vec.clear();
  vec.append("new:", "new:" + 4);
  s.rebindBuffer();
  s << "second";
  EXPECT_EQ(s.view(), StrView("new:second"));
}

TEST(StringStream, AppendsAtOnce) {
  std::string target = "x=";
  StringOutStream s(target);
  s << 42 << ',' << StrView("ab") << std::string("cd");
  EXPECT_EQ(target, "x=42,abcd"); // unbuffered: visible without a flush
  EXPECT_EQ(s.position(), target.size());
  std::string big = pattern(20000);
  s << big;
  EXPECT_EQ(s.str(), "x=42,abcd" + big);
}

TEST(NullStream, DiscardsEverything) {
  NullOutStream s;
  std::string big = pattern(50000);
  s << big << 1.5 << format("%d", 7);
  s.flush();
  EXPECT_EQ(s.position(), 0u);
  s << "pending";
  EXPECT_EQ(s.position(), 7u);
  EXPECT_EQ(&nullStream(), &nullStream());
  nullStream() << "dropped";
}

} // namespace
