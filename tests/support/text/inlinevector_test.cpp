// InlineVector and InlineString: the growth rule, the move from inline storage to the heap,
// copies, and random operation sequences checked against std::vector.

#include "support/text/InlineVector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using vorn::InlineString;
using vorn::InlineVector;

namespace {

struct Triple {
  int a, b, c;
  bool operator==(const Triple &o) const { return a == o.a && b == o.b && c == o.c; }
};

template <typename T> T makeValue(uint32_t v);
template <> char makeValue<char>(uint32_t v) { return char(v); }
template <> uint32_t makeValue<uint32_t>(uint32_t v) { return v; }
template <> uint64_t makeValue<uint64_t>(uint32_t v) { return (uint64_t(v) << 32) | ~v; }
template <> Triple makeValue<Triple>(uint32_t v) { return Triple{int(v), -int(v), int(v * 7)}; }

template <typename T, unsigned N>
::testing::AssertionResult sameContents(const InlineVector<T, N> &v, const std::vector<T> &ref) {
  if (v.size() != ref.size())
    return ::testing::AssertionFailure() << "size " << v.size() << ", expected " << ref.size();
  for (size_t i = 0; i < ref.size(); ++i)
    if (!(v[i] == ref[i])) return ::testing::AssertionFailure() << "element " << i << " differs";
  if (v.capacity() < v.size()) return ::testing::AssertionFailure() << "capacity below size";
  return ::testing::AssertionSuccess();
}

TEST(InlineVectorGrowth, DoublesPlusOneElement) {
  // 4-byte elements, 8 bytes inline: the third element needs 2 * 8 + 4 = 20 bytes.
  InlineVector<uint32_t, 2> v;
  EXPECT_EQ(2u, v.capacity());
  v.push_back(1);
  v.push_back(2);
  EXPECT_TRUE(v.isInline());
  v.push_back(3);
  EXPECT_FALSE(v.isInline());
  EXPECT_EQ(20u, v.capacity() * sizeof(uint32_t));
  EXPECT_EQ(3u, v.size());
  EXPECT_EQ(1u, v[0]);
  EXPECT_EQ(3u, v[2]);
  // The heap block then grows by realloc along the same rule: 2 * 20 + 4 = 44 bytes.
  for (uint32_t i = 4; i <= 6; ++i) v.push_back(i);
  EXPECT_EQ(44u, v.capacity() * sizeof(uint32_t));
  // A request larger than the doubled capacity is taken as it stands.
  v.reserve(100);
  EXPECT_EQ(100u, v.capacity());
  v.reserve(50);
  EXPECT_EQ(100u, v.capacity());
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(i + 1, v[i]);
}

TEST(InlineVectorGrowth, InlineToHeapKeepsContents) {
  InlineVector<Triple, 3> v;
  for (uint32_t i = 0; i < 3; ++i) v.push_back(makeValue<Triple>(i));
  const Triple *inlineData = v.data();
  // Pushing an element of the vector itself while it moves to the heap.
  v.push_back(v[0]);
  EXPECT_NE(inlineData, v.data());
  EXPECT_EQ(4u, v.size());
  EXPECT_EQ(makeValue<Triple>(0), v[3]);
  EXPECT_EQ(makeValue<Triple>(2), v[2]);
  v.insert(v.begin(), v[3]);
  EXPECT_EQ(makeValue<Triple>(0), v[0]);
  EXPECT_EQ(makeValue<Triple>(0), v[1]);
}

TEST(InlineVectorGrowth, NoInlineStorage) {
  InlineVector<uint64_t, 0> v;
  EXPECT_EQ(0u, v.capacity());
  v.push_back(7);
  EXPECT_EQ(1u, v.capacity());
  v.push_back(8);
  EXPECT_EQ(3u, v.capacity());
  EXPECT_EQ(7u, v[0]);
  EXPECT_EQ(8u, v[1]);
}

TEST(InlineVectorCopies, InlineAndHeapSources) {
  InlineVector<uint32_t, 4> small, large;
  for (uint32_t i = 0; i < 3; ++i) small.push_back(i);
  for (uint32_t i = 0; i < 40; ++i) large.push_back(i * 3);

  InlineVector<uint32_t, 4> a(small), b(large);
  EXPECT_TRUE(a.isInline());
  EXPECT_FALSE(b.isInline());
  EXPECT_NE(large.data(), b.data());
  ASSERT_EQ(3u, a.size());
  ASSERT_EQ(40u, b.size());
  EXPECT_EQ(117u, b[39]);

  // Copies are independent of their sources.
  large[0] = 999;
  EXPECT_EQ(0u, b[0]);

  // Heap into inline, inline into heap, and onto itself.
  a = large;
  EXPECT_EQ(40u, a.size());
  EXPECT_EQ(999u, a[0]);
  b = small;
  EXPECT_EQ(3u, b.size());
  EXPECT_EQ(2u, b[2]);
  InlineVector<uint32_t, 4> &alias = b;
  b = alias;
  EXPECT_EQ(3u, b.size());
  EXPECT_EQ(1u, b[1]);
}

TEST(InlineVectorEdits, InsertAndErase) {
  InlineVector<char, 4> v;
  const char abc[] = "abc";
  v.insert(v.end(), abc, abc + 3);
  v.insert(v.begin() + 1, 'X');
  EXPECT_EQ("aXbc", std::string(v.begin(), v.end()));
  v.insert(v.begin(), abc, abc + 3); // grows while inserting
  EXPECT_EQ("abcaXbc", std::string(v.begin(), v.end()));
  v.insert(v.begin() + 2, abc, abc); // nothing
  EXPECT_EQ("abcaXbc", std::string(v.begin(), v.end()));
  EXPECT_EQ(v.begin() + 3, v.erase(v.begin() + 3, v.begin() + 5));
  EXPECT_EQ("abcbc", std::string(v.begin(), v.end()));
  v.erase(v.end() - 1);
  v.erase(v.begin());
  EXPECT_EQ("bcb", std::string(v.begin(), v.end()));
  v.erase(v.begin(), v.end());
  EXPECT_TRUE(v.empty());
}

template <typename T, unsigned N> void randomOperations(unsigned seed) {
  SCOPED_TRACE("seed " + std::to_string(seed) + ", inline elements " + std::to_string(N));
  std::mt19937 rng(seed);
  InlineVector<T, N> v;
  std::vector<T> ref;
  for (int step = 0; step < 3000; ++step) {
    uint32_t value = rng();
    switch (rng() % 9) {
    case 0:
    case 1:
      v.push_back(makeValue<T>(value));
      ref.push_back(makeValue<T>(value));
      break;
    case 2:
      if (!ref.empty()) v.pop_back(), ref.pop_back();
      break;
    case 3: {
      size_t at = rng() % (ref.size() + 1);
      v.insert(v.begin() + at, makeValue<T>(value));
      ref.insert(ref.begin() + at, makeValue<T>(value));
      break;
    }
    case 4: {
      std::vector<T> more(rng() % 12);
      for (auto &m : more) m = makeValue<T>(rng());
      size_t at = rng() % (ref.size() + 1);
      if (rng() % 2) {
        v.insert(v.begin() + at, more.data(), more.data() + more.size());
        ref.insert(ref.begin() + at, more.begin(), more.end());
      } else {
        v.append(more.data(), more.data() + more.size());
        ref.insert(ref.end(), more.begin(), more.end());
      }
      break;
    }
    case 5: {
      if (ref.empty()) break;
      size_t from = rng() % ref.size();
      size_t to = from + rng() % (ref.size() - from + 1);
      v.erase(v.begin() + from, v.begin() + to);
      ref.erase(ref.begin() + from, ref.begin() + to);
      break;
    }
    case 6: {
      size_t n = rng() % 40;
      v.resize(n);
      ref.resize(n);
      break;
    }
    case 7: {
      InlineVector<T, N> copy(v);
      ASSERT_TRUE(sameContents(copy, ref)) << "copy at step " << step;
      v = copy;
      break;
    }
    default:
      if (rng() % 20 == 0) v.clear(), ref.clear();
      break;
    }
    ASSERT_TRUE(sameContents(v, ref)) << "step " << step;
  }
}

TEST(InlineVectorRandom, AgainstStdVector) {
  randomOperations<char, 1>(11);
  randomOperations<char, 16>(12);
  randomOperations<uint32_t, 2>(13);
  randomOperations<uint64_t, 0>(14);
  randomOperations<uint64_t, 5>(15);
  randomOperations<Triple, 3>(16);
}

TEST(InlineStringBuffer, TextAndTerminator) {
  InlineString<8> s("path");
  EXPECT_EQ("path", s.str());
  s.append("/to/file.txt");
  EXPECT_FALSE(s.isInline());
  EXPECT_STREQ("path/to/file.txt", s.cStr());
  EXPECT_EQ(16u, s.size()); // the terminator is not counted
  EXPECT_TRUE(s.view().sameText("path/to/file.txt"));
  s.assign("x");
  EXPECT_STREQ("x", s.cStr());
  InlineString<4> full("abcd");
  EXPECT_STREQ("abcd", full.cStr()); // needs room past the inline bytes
  EXPECT_EQ(4u, full.view().size());
}

} // namespace
