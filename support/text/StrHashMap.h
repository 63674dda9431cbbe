#ifndef VORN_SUPPORT_TEXT_STRHASHMAP_H
#define VORN_SUPPORT_TEXT_STRHASHMAP_H

#include "support/runtime/Compiler.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "support/runtime/Allocation.h"
#include "support/text/StrView.h"

namespace vorn {

// The fixed start of every hash-map entry: the key's length. The value follows it, and the key's
// bytes (plus a NUL that is not part of the key) follow the value in the same allocation.
class StrHashEntryBase {
public:
  explicit StrHashEntryBase(uint32_t keyLength) : keyLen(keyLength) {}
  // The key's length in bytes; the key may contain NUL bytes, so this is authoritative.
  uint32_t keyLength() const { return keyLen; }

private:
  uint32_t keyLen;
};

// One key and its value, allocated in one block by create() and released by destroy().
template <typename V>
class StrHashEntry : public StrHashEntryBase {
public:
  V value;

  // The key's bytes, followed in memory by a NUL.
  const char *keyData() const { return reinterpret_cast<const char *>(this) + sizeof(*this); }
  StrView key() const { return StrView(keyData(), keyLength()); }

  // Allocates an entry holding a copy of `key` and a value-initialised value.
  static StrHashEntry *create(StrView key) {
    uint32_t n = key.size();
    void *block = safeMalloc(sizeof(StrHashEntry) + n + 1);
    StrHashEntry *e = new (block) StrHashEntry(n);
    char *chars = static_cast<char *>(block) + sizeof(StrHashEntry);
    if (n) std::memcpy(chars, key.data(), n);
    chars[n] = '\0';
    return e;
  }
  // Destroys the value and frees the block; the entry must no longer be in a map.
  void destroy() {
    this->~StrHashEntry();
    std::free(this);
  }

private:
  explicit StrHashEntry(uint32_t keyLength) : StrHashEntryBase(keyLength), value() {}
};

// The untyped core of StrHashMap: an open-addressing table of entry pointers with the full hash
// of every occupied bucket stored beside it, triangular probing, tombstones for erased keys, and
// growth that keeps the table at most three quarters full. It never allocates or frees entries;
// the typed layer does.
class StrHashMapBase {
public:
  // Returned by probeForKey when the key is absent.
  static constexpr uint32_t kNoBucket = ~uint32_t(0);

  // The hash of a key: h = h * 33 + byte over its unsigned bytes, from 0, wrapping at 32 bits.
  static uint32_t hashKey(StrView key) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(key.data());
    uint32_t n = key.size(), i = 0, h = 0;
    // Four steps at once (33^4, 33^3, 33^2, 33): the same value with a shorter chain of
    // dependent multiplications.
    for (; i + 4 <= n; i += 4)
      h = h * 1185921u + p[i] * 35937u + p[i + 1] * 1089u + p[i + 2] * 33u + p[i + 3];
    switch (n - i) {
    case 3: return h * 35937u + p[i] * 1089u + p[i + 1] * 33u + p[i + 2];
    case 2: return h * 1089u + p[i] * 33u + p[i + 1];
    case 1: return h * 33u + p[i];
    default: return h;
    }
  }

  // Live entries.
  uint32_t size() const { return liveCount; }
  bool empty() const { return liveCount == 0; }
  // Buckets in the table (0 before the first insertion into a map built with no buckets).
  uint32_t numBuckets() const { return bucketCount; }
  // Buckets that held an erased entry and have not been reused or swept yet.
  uint32_t numTombstones() const { return tombstoneCount; }

  StrHashMapBase(const StrHashMapBase &) = delete;
  StrHashMapBase &operator=(const StrHashMapBase &) = delete;

protected:
  // `initialBuckets` is 0 (no table until the first insertion) or a power of two; another count
  // is rounded up to one. `headerSize` is the offset of the key bytes inside an entry.
  StrHashMapBase(uint32_t initialBuckets, uint32_t headerSize);
  // Frees the table only; the typed layer must have freed the entries.
  ~StrHashMapBase();

  // Replaces any table by an empty one of `count` buckets (0 means 16), end marker included.
  // Entries in the old table are forgotten, not freed.
  void allocateTable(uint32_t count);
  // The bucket holding `key`, or the one an insertion of it should use: the first tombstone on
  // its probe path, else the empty bucket that ended the path. Creates the table when there is
  // none and stores the key's hash in the returned bucket's hash slot.
  uint32_t probeForInsert(StrView key);
  // The bucket holding `key`, or kNoBucket. Writes nothing.
  uint32_t probeForKey(StrView key) const {
    if (bucketCount == 0) return kNoBucket;
    const uint32_t *hashes = hashSlots();
    uint32_t hash = hashKey(key);
    uint32_t mask = bucketCount - 1;
    uint32_t i = hash & mask;
    for (uint32_t step = 1;; ++step) {
      StrHashEntryBase *b = table[i];
      if (b == nullptr) return kNoBucket;
      if (b != tombstoneMarker() && hashes[i] == hash && keyMatches(b, key)) return i;
      i = (i + step) & mask;
    }
  }
  // Unlinks the entry of `key` (leaving a tombstone) and returns it, not freed; null if absent.
  StrHashEntryBase *eraseKey(StrView key);
  // Unlinks `entry`, which must be in this map, and returns it.
  StrHashEntryBase *eraseEntry(StrHashEntryBase *entry);
  // After an insertion: doubles a table more than three quarters full, or rebuilds it at the same
  // size when tombstones leave at most an eighth of the buckets empty.
  void resizeIfNeeded();
  // Empties every bucket, calling `destroy` on each live entry first; keeps the table.
  void clearBuckets(void (*destroy)(StrHashEntryBase *));

  static StrHashEntryBase *tombstoneMarker() {
    return reinterpret_cast<StrHashEntryBase *>(~uintptr_t(0));
  }
  static StrHashEntryBase *endMarker() { return reinterpret_cast<StrHashEntryBase *>(uintptr_t(2)); }
  static bool isLive(const StrHashEntryBase *b) { return b && b != tombstoneMarker(); }

  uint32_t *hashSlots() const { return reinterpret_cast<uint32_t *>(table + bucketCount + 1); }
  bool keyMatches(const StrHashEntryBase *e, StrView key) const {
    uint32_t n = key.size();
    if (e->keyLength() != n) return false;
    const char *stored = reinterpret_cast<const char *>(e) + entryHeaderSize;
    const char *given = key.data();
    // Keys are mostly short names, for which comparing four bytes at a time inline beats a call
    // to memcmp.
    if (n > 16) return std::memcmp(stored, given, n) == 0;
    for (; n >= 4; n -= 4, stored += 4, given += 4) {
      uint32_t x, y;
      std::memcpy(&x, stored, 4);
      std::memcpy(&y, given, 4);
      if (x != y) return false;
    }
    for (; n; --n)
      if (*stored++ != *given++) return false;
    return true;
  }
  // Moves every live entry into a fresh table of `newCount` buckets using the stored hashes.
  void rebuild(uint32_t newCount);

  StrHashEntryBase **table;
  uint32_t bucketCount;
  uint32_t liveCount;
  uint32_t tombstoneCount;
  uint32_t entryHeaderSize;
};

// A map from byte strings to values of type V. Each entry is one allocation holding the key and
// the value; entry pointers stay valid until the entry is erased or the map cleared or destroyed,
// however the table grows. V needs a default constructor and a destructor; it is never copied or
// moved by the map.
template <typename V>
class StrHashMap : public StrHashMapBase {
public:
  using Entry = StrHashEntry<V>;

  // The outcome of insert(): the key's entry and whether this call created it.
  struct InsertResult {
    Entry *entry;
    bool inserted;
  };

  // Walks the live entries in bucket order. Erasing the current entry through erase(Entry*) does
  // not disturb the walk; inserting does (the table may be rebuilt).
  class Iterator {
  public:
    explicit Iterator(StrHashEntryBase *const *bucket) : at(bucket) { skipDead(); }
    Entry &operator*() const { return *static_cast<Entry *>(*at); }
    Entry *operator->() const { return static_cast<Entry *>(*at); }
    Iterator &operator++() {
      ++at;
      skipDead();
      return *this;
    }
    bool operator==(const Iterator &o) const { return at == o.at; }
    bool operator!=(const Iterator &o) const { return at != o.at; }

  private:
    // The end marker in the bucket after the last one is neither null nor a tombstone, so this
    // stops there without a bounds test.
    void skipDead() {
      if (at)
        while (*at == nullptr || *at == tombstoneMarker()) ++at;
    }
    StrHashEntryBase *const *at;
  };

  // `initialBuckets`: 0 (allocate on first insertion) or a power of two.
  explicit StrHashMap(uint32_t initialBuckets = 0) : StrHashMapBase(initialBuckets, sizeof(Entry)) {}
  ~StrHashMap() { clear(); }

  // Finds the entry of `key`, creating it with a value-initialised value when absent.
  InsertResult insert(StrView key) {
    uint32_t i = probeForInsert(key);
    StrHashEntryBase *b = table[i];
    if (isLive(b)) return InsertResult{static_cast<Entry *>(b), false};
    if (b == tombstoneMarker()) --tombstoneCount;
    Entry *e = Entry::create(key);
    table[i] = e;
    ++liveCount;
    resizeIfNeeded();
    return InsertResult{e, true};
  }
  // The value of `key`, inserted value-initialised when absent.
  V &operator[](StrView key) { return insert(key).entry->value; }

  // The entry of `key`, or null.
  Entry *find(StrView key) const {
    uint32_t i = probeForKey(key);
    return i == kNoBucket ? nullptr : static_cast<Entry *>(table[i]);
  }
  bool contains(StrView key) const { return probeForKey(key) != kNoBucket; }

  // Removes and frees the entry of `key`; false when there was none.
  bool erase(StrView key) {
    StrHashEntryBase *e = eraseKey(key);
    if (!e) return false;
    static_cast<Entry *>(e)->destroy();
    return true;
  }
  // Removes and frees `entry`, which must be an entry of this map.
  void erase(Entry *entry) { static_cast<Entry *>(eraseEntry(entry))->destroy(); }

  // Frees every entry and forgets every tombstone; the table is kept for reuse.
  void clear() {
    if (table) clearBuckets(&destroyEntry);
  }

  Iterator begin() const { return Iterator(table); }
  Iterator end() const { return Iterator(table ? table + bucketCount : nullptr); }

private:
  static void destroyEntry(StrHashEntryBase *e) { static_cast<Entry *>(e)->destroy(); }
};

} // namespace vorn

#endif
