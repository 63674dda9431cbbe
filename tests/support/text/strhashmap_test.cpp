#include "support/text/StrHashMap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

using vorn::StrHashMap;
using vorn::StrView;

namespace {

StrView sv(const std::string &s) { return StrView(s.data(), uint32_t(s.size())); }

// Keys in the order a walk of the map meets them.
std::vector<std::string> walkOrder(const StrHashMap<int> &m) {
  std::vector<std::string> keys;
  for (auto &e : m) keys.push_back(e.key().str());
  return keys;
}

// The first `count` keys "k0", "k1", ... whose start bucket in a table of `buckets` is `bucket`.
std::vector<std::string> keysStartingAt(uint32_t bucket, uint32_t buckets, size_t count) {
  std::vector<std::string> out;
  for (int i = 0; out.size() < count; ++i) {
    std::string k = "k" + std::to_string(i);
    uint32_t h = 0;
    for (unsigned char c : k) h = h * 33 + c;
    if ((h & (buckets - 1)) == bucket) out.push_back(k);
  }
  return out;
}

// A value that counts its live instances, to check that the map destroys what it creates.
struct Counted {
  static int live;
  int payload = 7;
  Counted() { ++live; }
  ~Counted() { --live; }
};
int Counted::live = 0;

} // namespace

TEST(StrHashMapTest, HashIsTimes33PlusUnsignedByte) {
  EXPECT_EQ(StrHashMap<int>::hashKey(StrView("", 0)), 0u);
  EXPECT_EQ(StrHashMap<int>::hashKey("a"), 97u);
  EXPECT_EQ(StrHashMap<int>::hashKey("ab"), 97u * 33 + 98);
  EXPECT_EQ(StrHashMap<int>::hashKey("\xff"), 255u); // unsigned, not sign-extended
  // Wraps modulo 2^32: 33^7 * 'z' overflows 32 bits.
  uint64_t h = 0;
  for (char c : std::string("zzzzzzzzzz")) h = (h * 33 + uint8_t(c)) & 0xffffffffu;
  EXPECT_EQ(StrHashMap<int>::hashKey("zzzzzzzzzz"), uint32_t(h));
  // Random bytes of every length up to 40 against the plain one-byte-at-a-time definition.
  std::mt19937 rng(7);
  for (int n = 0; n <= 40; ++n) {
    for (int trial = 0; trial < 20; ++trial) {
      std::string k;
      uint32_t ref = 0;
      for (int i = 0; i < n; ++i) {
        k.push_back(char(rng()));
        ref = ref * 33 + uint8_t(k.back());
      }
      ASSERT_EQ(StrHashMap<int>::hashKey(sv(k)), ref) << "length " << n << " (seed 7)";
    }
  }
}

TEST(StrHashMapTest, TableSizesFollowTheLoadLimit) {
  StrHashMap<int> m;
  EXPECT_EQ(m.numBuckets(), 0u);
  EXPECT_EQ(m.find("x"), nullptr);
  EXPECT_EQ(m.erase("x"), false);
  EXPECT_EQ(m.numBuckets(), 0u) << "a lookup must not create the table";
  EXPECT_EQ(m.begin(), m.end());

  for (int i = 0; i < 53; ++i) {
    auto r = m.insert(sv("key" + std::to_string(i)));
    ASSERT_TRUE(r.inserted);
    r.entry->value = i;
    if (i < 12) {
      EXPECT_EQ(m.numBuckets(), 16u) << "after " << i + 1 << " keys";
    }
    if (i == 12) {
      EXPECT_EQ(m.numBuckets(), 32u) << "the 13th key doubles the table";
    }
    EXPECT_LE(uint64_t(m.size()) * 4, uint64_t(m.numBuckets()) * 3);
  }
  EXPECT_EQ(m.numBuckets(), 128u);
  EXPECT_EQ(m.size(), 53u);
  for (int i = 0; i < 53; ++i) {
    auto *e = m.find(sv("key" + std::to_string(i)));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->value, i);
  }

  StrHashMap<int> presized(64);
  EXPECT_EQ(presized.numBuckets(), 64u);
  StrHashMap<int> odd(5); // not a power of two: rounded up rather than breaking the mask
  EXPECT_EQ(odd.numBuckets(), 8u);
  for (int i = 0; i < 100; ++i) odd[sv(std::to_string(i))] = i;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(odd.find(sv(std::to_string(i)))->value, i);
}

TEST(StrHashMapTest, ErasedKeysLeaveTombstonesThatInsertionsReuse) {
  // Three keys that all start at bucket 5 of a 16-bucket table: they take 5, 6 and 8.
  auto k = keysStartingAt(5, 16, 4);
  StrHashMap<int> m;
  m[sv(k[0])] = 0;
  m[sv(k[1])] = 1;
  m[sv(k[2])] = 2;
  ASSERT_EQ(walkOrder(m), (std::vector<std::string>{k[0], k[1], k[2]}));

  EXPECT_TRUE(m.erase(sv(k[0])));
  EXPECT_EQ(m.numTombstones(), 1u);
  EXPECT_EQ(m.size(), 2u);
  EXPECT_EQ(m.find(sv(k[0])), nullptr);
  // Probing steps over the tombstone to the keys behind it.
  ASSERT_NE(m.find(sv(k[1])), nullptr);
  ASSERT_NE(m.find(sv(k[2])), nullptr);

  // A new key with the same start goes into the tombstone at bucket 5, not the empty bucket 11.
  m[sv(k[3])] = 3;
  EXPECT_EQ(m.numTombstones(), 0u);
  EXPECT_EQ(walkOrder(m), (std::vector<std::string>{k[3], k[1], k[2]}));

  // Re-inserting an erased key reuses the first tombstone on its path too.
  m.erase(sv(k[1]));
  auto r = m.insert(sv(k[1]));
  EXPECT_TRUE(r.inserted);
  EXPECT_EQ(r.entry->value, 0) << "a re-inserted key starts with a fresh value";
  EXPECT_EQ(walkOrder(m), (std::vector<std::string>{k[3], k[1], k[2]}));
}

TEST(StrHashMapTest, TombstonesAreSweptBySameSizeRebuild) {
  // One key per start bucket 0..11 of a 16-bucket table, so bucket i holds key i.
  std::vector<std::string> keys;
  for (uint32_t b = 0; b < 14; ++b) keys.push_back(keysStartingAt(b, 16, 1)[0]);
  StrHashMap<int> m;
  for (int i = 0; i < 12; ++i) m[sv(keys[i])] = i;
  ASSERT_EQ(m.numBuckets(), 16u);
  ASSERT_EQ(walkOrder(m), std::vector<std::string>(keys.begin(), keys.begin() + 12));

  // Erase from the front and insert keys that start past the tombstones: they take empty buckets.
  m.erase(sv(keys[0]));
  m[sv(keys[12])] = 12; // 12 live, 1 tombstone, 3 empty
  EXPECT_EQ(m.numTombstones(), 1u);
  m.erase(sv(keys[1]));
  EXPECT_EQ(m.numTombstones(), 2u);
  EXPECT_EQ(m.numBuckets() - m.size() - m.numTombstones(), 3u);
  m[sv(keys[13])] = 13; // would leave 2 empty buckets: rebuilt at the same size instead
  EXPECT_EQ(m.numBuckets(), 16u);
  EXPECT_EQ(m.numTombstones(), 0u);
  EXPECT_EQ(m.size(), 12u);
  EXPECT_EQ(m.numBuckets() - m.size(), 4u);
  EXPECT_EQ(walkOrder(m), std::vector<std::string>(keys.begin() + 2, keys.end()));
  for (int i = 2; i < 14; ++i) EXPECT_EQ(m.find(sv(keys[i]))->value, i);
}

TEST(StrHashMapTest, EmptyKeyAndKeysWithNulBytes) {
  StrHashMap<int> m;
  m[StrView("", 0)] = 1;
  m[StrView()] = 2; // the null view is the same (empty) key
  EXPECT_EQ(m.size(), 1u);
  EXPECT_EQ(m.find(StrView("", 0))->value, 2);
  EXPECT_EQ(m.find(StrView("", 0))->key().size(), 0u);

  const std::string a("a\0b", 3), b("a\0c", 3), c("a", 1), d("a\0", 2);
  m[sv(a)] = 10;
  m[sv(b)] = 11;
  m[sv(c)] = 12;
  m[sv(d)] = 13;
  EXPECT_EQ(m.size(), 5u);
  EXPECT_EQ(m.find(sv(a))->value, 10);
  EXPECT_EQ(m.find(sv(b))->value, 11);
  EXPECT_EQ(m.find(sv(c))->value, 12);
  EXPECT_EQ(m.find(sv(d))->value, 13);
  auto *e = m.find(sv(a));
  EXPECT_EQ(e->key().str(), a);
  EXPECT_EQ(e->keyData()[3], '\0') << "keys are stored NUL-terminated";
  EXPECT_TRUE(m.erase(StrView("", 0)));
  EXPECT_EQ(m.find(StrView("", 0)), nullptr);
  EXPECT_EQ(m.size(), 4u);
}

TEST(StrHashMapTest, EntriesStayPutAndValuesAreDestroyed) {
  Counted::live = 0;
  {
    StrHashMap<Counted> m;
    auto *first = m.insert("first").entry;
    first->value.payload = 42;
    for (int i = 0; i < 1000; ++i) m.insert(sv("k" + std::to_string(i)));
    EXPECT_EQ(m.find("first"), first) << "growth must move pointers, not entries";
    EXPECT_EQ(first->value.payload, 42);
    EXPECT_EQ(Counted::live, 1001);
    EXPECT_FALSE(m.insert("first").inserted);
    EXPECT_EQ(Counted::live, 1001);
    m.erase("first");
    m.erase(m.find("k7"));
    EXPECT_EQ(Counted::live, 999);
    m.clear();
    EXPECT_EQ(Counted::live, 0);
    EXPECT_TRUE(m.empty());
    EXPECT_EQ(m.begin(), m.end());
    m.insert("again");
    EXPECT_EQ(Counted::live, 1);
  }
  EXPECT_EQ(Counted::live, 0) << "the destructor frees every entry";
}

TEST(StrHashMapTest, WalkVisitsEveryLiveEntryOnceAndSurvivesErasure) {
  StrHashMap<int> m;
  for (int i = 0; i < 300; ++i) m[sv(std::to_string(i))] = i;
  for (int i = 0; i < 300; i += 3) m.erase(sv(std::to_string(i)));
  std::vector<int> seen(300, 0);
  for (auto it = m.begin(); it != m.end();) {
    auto &e = *it;
    ++it;
    ++seen[e.value];
    if (e.value % 2) m.erase(&e);
  }
  for (int i = 0; i < 300; ++i) EXPECT_EQ(seen[i], i % 3 ? 1 : 0) << i;
  for (auto &e : m) EXPECT_EQ(e.value % 2, 0);
  EXPECT_EQ(m.size(), 100u);
}

namespace {

// An independent model of the table: bucket contents as key strings, probing and rebuilding
// simulated step by step, so the real map's walk order can be checked after every operation.
struct ModelTable {
  std::vector<int> slot; // -1 empty, -2 tombstone, else index into `keys`
  std::vector<uint32_t> hash;
  std::vector<std::string> keys;
  uint32_t live = 0, tombs = 0;

  static uint32_t h(const std::string &s) {
    uint32_t v = 0;
    for (unsigned char c : s) v = v * 33 + c;
    return v;
  }
  int findBucket(const std::string &k) const {
    if (slot.empty()) return -1;
    uint32_t mask = uint32_t(slot.size()) - 1, hv = h(k), i = hv & mask;
    for (uint32_t step = 1;; i = (i + step++) & mask) {
      if (slot[i] == -1) return -1;
      if (slot[i] >= 0 && keys[slot[i]] == k) return int(i);
    }
  }
  void rebuild(size_t n) {
    std::vector<int> s(n, -1);
    std::vector<uint32_t> hs(n, 0);
    for (size_t i = 0; i < slot.size(); ++i) {
      if (slot[i] < 0) continue;
      uint32_t j = hash[i] & uint32_t(n - 1);
      for (uint32_t step = 1; s[j] != -1; j = (j + step++) & uint32_t(n - 1)) {
      }
      s[j] = slot[i];
      hs[j] = hash[i];
    }
    slot.swap(s);
    hash.swap(hs);
    tombs = 0;
  }
  bool insert(const std::string &k) {
    if (slot.empty()) slot.assign(16, -1), hash.assign(16, 0);
    if (findBucket(k) >= 0) return false;
    uint32_t n = uint32_t(slot.size()), mask = n - 1, hv = h(k), i = hv & mask;
    int tomb = -1;
    for (uint32_t step = 1; slot[i] != -1; i = (i + step++) & mask)
      if (slot[i] == -2 && tomb < 0) tomb = int(i);
    if (tomb >= 0) i = uint32_t(tomb), --tombs;
    keys.push_back(k);
    slot[i] = int(keys.size() - 1);
    hash[i] = hv;
    ++live;
    if (live * 4 > n * 3) rebuild(n * 2);
    else if (n - live - tombs <= n / 8) rebuild(n);
    return true;
  }
  bool erase(const std::string &k) {
    int b = findBucket(k);
    if (b < 0) return false;
    slot[b] = -2;
    --live;
    ++tombs;
    return true;
  }
  std::vector<std::string> walk() const {
    std::vector<std::string> out;
    for (int s : slot)
      if (s >= 0) out.push_back(keys[s]);
    return out;
  }
};

} // namespace

TEST(StrHashMapTest, RandomizedAgainstUnorderedMapAndBucketModel) {
  const unsigned seed = 20240611;
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  const char alphabet[] = {'a', 'b', 'c', '\0', '\xff'};
  auto randomKey = [&](size_t maxLen) {
    std::string k;
    size_t n = rng() % (maxLen + 1);
    for (size_t i = 0; i < n; ++i) k.push_back(alphabet[rng() % sizeof(alphabet)]);
    return k;
  };

  for (int trial = 0; trial < 20; ++trial) {
    StrHashMap<int> m;
    std::unordered_map<std::string, int> ref;
    ModelTable model;
    size_t maxLen = 1 + trial % 6; // short keys collide in value, long ones in hash buckets
    for (int op = 0; op < 3000; ++op) {
      std::string k = randomKey(maxLen);
      unsigned what = rng() % 10;
      if (what < 5) {
        auto r = m.insert(sv(k));
        bool refInserted = ref.emplace(k, op).second;
        ASSERT_EQ(r.inserted, refInserted) << "trial " << trial << " op " << op;
        ASSERT_EQ(model.insert(k), refInserted);
        if (r.inserted) r.entry->value = op;
        ASSERT_EQ(r.entry->value, ref[k]);
        ASSERT_EQ(r.entry->key().str(), k);
      } else if (what < 8) {
        auto *e = m.find(sv(k));
        auto it = ref.find(k);
        ASSERT_EQ(e != nullptr, it != ref.end()) << "trial " << trial << " op " << op;
        if (e) {
          ASSERT_EQ(e->value, it->second);
        }
      } else {
        bool erased = m.erase(sv(k));
        ASSERT_EQ(erased, ref.erase(k) == 1) << "trial " << trial << " op " << op;
        ASSERT_EQ(model.erase(k), erased);
      }
      ASSERT_EQ(m.size(), ref.size());
      ASSERT_EQ(m.numBuckets(), uint32_t(model.slot.size())) << "trial " << trial << " op " << op;
      ASSERT_EQ(m.numTombstones(), model.tombs) << "trial " << trial << " op " << op;
      if (op % 50 == 0) {
        ASSERT_EQ(walkOrder(m), model.walk()) << "trial " << trial << " op " << op;
      }
    }
    ASSERT_EQ(walkOrder(m), model.walk());
    for (auto &kv : ref) {
      auto *e = m.find(sv(kv.first));
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(e->value, kv.second);
    }
  }
}
