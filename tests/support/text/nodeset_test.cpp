// Node sets against a std::multimap model (hash -> node) under random insertions, lookups and
// removals; the growth points; removal from the head, middle and end of a chain without
// hashing; iteration over the set and over one bucket. Node profiles: the words of texts and
// 64-bit integers, ordering, hashing and interning.

#include "support/text/NodeSet.h"

#include "support/runtime/BumpAllocator.h"
#include "tests/support/text/nodeset_fixtures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

using vorn::HashCode;
using vorn::NodeProfile;
using vorn::NodeProfileRef;

namespace {

std::vector<uint32_t> wordsOf(const NodeProfile &p) {
  return std::vector<uint32_t>(p.begin(), p.end());
}

NodeProfile profileOf(const std::vector<uint32_t> &words) {
  NodeProfile p;
  for (uint32_t w : words) p.addWord(w);
  return p;
}

HashCode hashOf(const std::vector<uint32_t> &words) { return profileOf(words).hash(); }

// Nodes that own their storage and stay put.
class Nodes {
public:
  TestNode *make(std::vector<uint32_t> words) {
    nodes.push_back(std::make_unique<TestNode>());
    nodes.back()->words = std::move(words);
    nodes.back()->id = int(nodes.size()) - 1;
    return nodes.back().get();
  }

private:
  std::vector<std::unique_ptr<TestNode>> nodes;
};

// The nodes of one bucket, in chain order.
std::vector<TestNode *> bucketNodes(const TestNodeSet &set, HashCode hash) {
  std::vector<TestNode *> out;
  for (auto it = set.bucketBegin(hash), end = set.bucketEnd(hash); it != end; ++it)
    out.push_back(&*it);
  return out;
}

// Every node of the set once, and each in the bucket of its hash.
void checkIteration(const TestNodeSet &set, const std::multiset<TestNode *> &want,
                    const char *when) {
  std::multiset<TestNode *> seen;
  for (TestNode &node : set) {
    seen.insert(&node);
    bool inBucket = false;
    for (TestNode *n : bucketNodes(set, hashOf(node.words))) inBucket = inBucket || n == &node;
    EXPECT_TRUE(inBucket) << when << ": node " << node.id << " not in its hash's bucket";
  }
  EXPECT_EQ(seen, want) << when;
  EXPECT_EQ(set.size(), want.size()) << when;
}

TEST(NodeProfile, Words) {
  NodeProfile p;
  p.addText("abcde");
  EXPECT_EQ(wordsOf(p), (std::vector<uint32_t>{5, 0x64636261, 0x65}));
  p.clear();
  p.addText("ab");
  EXPECT_EQ(wordsOf(p), (std::vector<uint32_t>{2, 0x6162}));
  p.clear();
  p.addText("abc");
  EXPECT_EQ(wordsOf(p), (std::vector<uint32_t>{3, 0x616263}));
  p.clear();
  p.addText("abcd");
  EXPECT_EQ(wordsOf(p), (std::vector<uint32_t>{4, 0x64636261}));
  p.clear();
  p.addText("");
  EXPECT_EQ(wordsOf(p), (std::vector<uint32_t>{0}));

  // A text at any alignment gives the same words.
  const char buffer[] = "xhello, world of nodes";
  NodeProfile aligned, unaligned;
  std::string copy(buffer + 1);
  aligned.addText(vorn::StrView(copy));
  unaligned.addText(vorn::StrView(buffer + 1));
  EXPECT_TRUE(aligned == unaligned);

  p.clear();
  p.addInteger64(uint64_t(1) << 32);
  p.addInteger64(7);
  p.addInteger64(0);
  EXPECT_EQ(wordsOf(p), (std::vector<uint32_t>{0, 1, 7, 0}));
  NodeProfile q;
  q.addWord(9);
  q.addProfile(p);
  EXPECT_EQ(wordsOf(q), (std::vector<uint32_t>{9, 0, 1, 7, 0}));

  // Past the 32 inline words.
  NodeProfile long1, long2;
  for (uint32_t i = 0; i < 100; ++i) {
    long1.addWord(i);
    long2.addWord(i);
  }
  EXPECT_FALSE(long1.isInline());
  EXPECT_TRUE(long1 == long2);
  EXPECT_EQ(long1.hash(), long2.hash());
}

TEST(NodeProfile, OrderingEqualityAndHash) {
  NodeProfile one = profileOf({0xFFFFFFFF}), two = profileOf({0, 0});
  EXPECT_TRUE(one < two); // shorter first, whatever the contents
  EXPECT_FALSE(two < one);
  // Equal lengths: the bytes in memory order, so the low byte of a word counts first.
  NodeProfile a = profileOf({0x100}), b = profileOf({0x1});
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_FALSE(a < a);
  EXPECT_TRUE(profileOf({5, 6}) == profileOf({5, 6}));
  EXPECT_TRUE(profileOf({5, 6}) != profileOf({5, 7}));
  EXPECT_TRUE(profileOf({}) == NodeProfileRef());
  const uint32_t words[] = {5, 6};
  EXPECT_EQ(profileOf({5, 6}).hash(), vorn::hashWords(words, words + 2));
  EXPECT_EQ(NodeProfileRef(words, 2).hash(), profileOf({5, 6}).hash());
}

TEST(NodeProfile, InternCopiesIntoTheAllocator) {
  vorn::BumpAllocator pool(4096, 4096);
  pool.allocate(1); // leave the pointer unaligned
  NodeProfile p;
  for (uint32_t i = 0; i < 40; ++i) p.addWord(i * 7);
  NodeProfileRef ref = p.intern(pool);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(ref.data()) % 4, 0u);
  EXPECT_NE(ref.data(), p.data());
  EXPECT_TRUE(p == ref);
  p.clear();
  EXPECT_EQ(ref.size(), 40u);
  EXPECT_EQ(ref.data()[39], 39u * 7);
  EXPECT_EQ(pool.bytesUsed(), 1u + 160);
  EXPECT_EQ(NodeProfile().intern(pool).size(), 0u);
}

TEST(NodeSet, GrowthPoints) {
  Nodes nodes;
  TestNodeSet set(0);
  EXPECT_EQ(set.bucketCount(), 1u);
  EXPECT_TRUE(set.begin() == set.end());
  uint32_t buckets = 1;
  std::multiset<TestNode *> inSet;
  for (uint32_t i = 0; i < 1000; ++i) {
    if (i >= 2 * buckets) buckets *= 2; // at most two nodes per bucket
    TestNode *n = nodes.make({i, i * 31});
    ASSERT_EQ(set.findOrAdd(n), n);
    inSet.insert(n);
    ASSERT_EQ(set.bucketCount(), buckets) << "after " << i + 1 << " nodes";
  }
  checkIteration(set, inSet, "after growth");
  // Every node is still found through its profile.
  for (TestNode *n : inSet) {
    void *pos = nullptr;
    EXPECT_EQ(set.lookupProfile(profileOf(n->words), pos), n);
  }
  // A set of log2 size 0 grows to 2 buckets at its third node.
  TestNodeSet small(0);
  small.findOrAdd(nodes.make({1}));
  small.findOrAdd(nodes.make({2}));
  EXPECT_EQ(small.bucketCount(), 1u);
  small.findOrAdd(nodes.make({3}));
  EXPECT_EQ(small.bucketCount(), 2u);
}

// Five profiles of one bucket of an 8-bucket set: removal from the head, the middle and the end
// of the chain, and of the last node, without a single call of the set's operations.
TEST(NodeSet, RemovalFromEveryPlaceOfAChain) {
  Nodes nodes;
  std::vector<TestNode *> chain;
  std::mt19937 rng(0x5e70001);
  HashCode target = 0;
  std::vector<TestNode *> others;
  while (chain.size() < 5) {
    std::vector<uint32_t> words{uint32_t(rng()), uint32_t(rng())};
    HashCode h = hashOf(words);
    if (chain.empty()) target = h;
    if ((h & 7) == (target & 7))
      chain.push_back(nodes.make(words));
    else if (others.size() < 6)
      others.push_back(nodes.make(words));
  }
  TestNodeSet set(3);
  for (TestNode *n : others) set.findOrAdd(n);
  for (TestNode *n : chain) EXPECT_EQ(set.findOrAdd(n), n);
  ASSERT_EQ(set.bucketCount(), 8u);
  // New nodes go to the head.
  EXPECT_EQ(bucketNodes(set, target),
            (std::vector<TestNode *>{chain[4], chain[3], chain[2], chain[1], chain[0]}));

  uint64_t calls = set.calls();
  EXPECT_TRUE(set.remove(chain[4])); // head
  EXPECT_EQ(bucketNodes(set, target),
            (std::vector<TestNode *>{chain[3], chain[2], chain[1], chain[0]}));
  EXPECT_TRUE(set.remove(chain[2])); // middle
  EXPECT_EQ(bucketNodes(set, target), (std::vector<TestNode *>{chain[3], chain[1], chain[0]}));
  EXPECT_TRUE(set.remove(chain[0])); // end
  EXPECT_EQ(bucketNodes(set, target), (std::vector<TestNode *>{chain[3], chain[1]}));
  EXPECT_TRUE(set.remove(chain[1]));
  EXPECT_TRUE(set.remove(chain[3])); // the only node: the bucket is empty again
  EXPECT_TRUE(set.bucketBegin(target) == set.bucketEnd(target));
  EXPECT_EQ(set.calls(), calls) << "removal used the set's operations";
  EXPECT_FALSE(set.remove(chain[3])); // in no set any more
  EXPECT_FALSE(chain[3]->inSet());
  EXPECT_EQ(set.size(), others.size());
  checkIteration(set, std::multiset<TestNode *>(others.begin(), others.end()), "after removals");

  // The emptied bucket takes nodes again.
  EXPECT_EQ(set.findOrAdd(chain[2]), chain[2]);
  EXPECT_EQ(bucketNodes(set, target), (std::vector<TestNode *>{chain[2]}));
}

// Random findOrAdd, lookupProfile/insertAt and remove against a multimap from hash to node, with
// profiles drawn from a small pool so that equal profiles meet; the set starts small so that it
// grows on the way.
TEST(NodeSet, AgainstAMultimapModel) {
  const uint32_t seed = 0x5e70002;
  std::mt19937 rng(seed);
  std::vector<std::vector<uint32_t>> pool;
  for (int i = 0; i < 400; ++i) {
    std::vector<uint32_t> words(rng() % 40); // some beyond the 32 inline words
    for (uint32_t &w : words) w = rng() % 4; // many shared prefixes
    pool.push_back(words);
  }
  Nodes nodes;
  TestNodeSet set(1);
  std::multimap<HashCode, TestNode *> model;
  std::vector<TestNode *> everMade;
  auto modelFind = [&](const std::vector<uint32_t> &words) -> TestNode * {
    auto range = model.equal_range(hashOf(words));
    for (auto it = range.first; it != range.second; ++it)
      if (it->second->words == words) return it->second;
    return nullptr;
  };
  auto modelErase = [&](TestNode *n) {
    auto range = model.equal_range(hashOf(n->words));
    for (auto it = range.first; it != range.second; ++it)
      if (it->second == n) {
        model.erase(it);
        return true;
      }
    return false;
  };
  for (int step = 0; step < 20000; ++step) {
    const std::vector<uint32_t> &words = pool[rng() % pool.size()];
    switch (rng() % 4) {
    case 0: { // findOrAdd
      TestNode *n = nodes.make(words);
      everMade.push_back(n);
      TestNode *existing = modelFind(words);
      TestNode *got = set.findOrAdd(n);
      ASSERT_EQ(got, existing ? existing : n) << "step " << step << " [seed " << seed << "]";
      if (!existing) model.insert({hashOf(words), n});
      break;
    }
    case 1: { // lookupProfile, then insertAt when missing
      void *pos = nullptr;
      TestNode *got = set.lookupProfile(profileOf(words), pos);
      ASSERT_EQ(got, modelFind(words)) << "step " << step << " [seed " << seed << "]";
      if (!got && rng() % 2) {
        TestNode *n = nodes.make(words);
        everMade.push_back(n);
        set.insertAt(n, pos);
        model.insert({hashOf(words), n});
      }
      break;
    }
    default: { // remove a node made earlier, in the set or not
      if (everMade.empty()) break;
      TestNode *n = everMade[rng() % everMade.size()];
      uint64_t calls = set.calls();
      ASSERT_EQ(set.remove(n), modelErase(n)) << "step " << step << " [seed " << seed << "]";
      ASSERT_EQ(set.calls(), calls);
      break;
    }
    }
    ASSERT_EQ(set.size(), model.size()) << "step " << step << " [seed " << seed << "]";
    if (step % 1000 == 999) {
      std::multiset<TestNode *> want;
      for (auto &entry : model) want.insert(entry.second);
      checkIteration(set, want, ("step " + std::to_string(step)).c_str());
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(NodeSet, ClearEmptiesEveryBucket) {
  Nodes nodes;
  TestNodeSet set(2);
  for (uint32_t i = 0; i < 50; ++i) set.findOrAdd(nodes.make({i}));
  uint32_t buckets = set.bucketCount();
  set.clear();
  EXPECT_EQ(set.size(), 0u);
  EXPECT_TRUE(set.begin() == set.end());
  EXPECT_EQ(set.bucketCount(), buckets);
  void *pos = nullptr;
  EXPECT_EQ(set.lookupProfile(profileOf({7}), pos), nullptr);
  // Fresh nodes go in as into a new set.
  TestNode *n = nodes.make({7});
  EXPECT_EQ(set.findOrAdd(n), n);
  checkIteration(set, {n}, "after clear");
}

#ifndef NDEBUG
TEST(NodeSetDeathTest, NodeOfAnotherSet) {
  Nodes nodes;
  TestNodeSet a(2), b(2);
  TestNode *n = nodes.make({1, 2});
  a.findOrAdd(n);
  void *pos = nullptr;
  ASSERT_EQ(b.lookupProfile(profileOf({1, 2}), pos), nullptr);
  EXPECT_DEATH(b.insertAt(n, pos), "vorn: NodeSet::insertAt: the node already belongs to a set");
  // A node of a cleared set has a broken ring.
  a.clear();
  EXPECT_DEATH(a.remove(n), "vorn: NodeSet::remove: the node belongs to this set");
}
#endif

} // namespace
