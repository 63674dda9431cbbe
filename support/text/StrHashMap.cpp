#include "support/text/StrHashMap.h"

namespace vorn {

namespace {

uint32_t roundUpToPowerOfTwo(uint32_t n) {
  uint32_t p = 1;
  while (p < n && p < 0x80000000u) p <<= 1;
  return p;
}

} // namespace

StrHashMapBase::StrHashMapBase(uint32_t initialBuckets, uint32_t headerSize)
    : table(nullptr), bucketCount(0), liveCount(0), tombstoneCount(0), entryHeaderSize(headerSize) {
  if (initialBuckets) allocateTable(roundUpToPowerOfTwo(initialBuckets));
}

StrHashMapBase::~StrHashMapBase() { std::free(table); }

void StrHashMapBase::allocateTable(uint32_t count) {
  if (count == 0) count = 16;
  std::free(table);
  // One block: count + 1 bucket pointers, then count + 1 hash slots; calloc leaves every bucket
  // empty.
  table = static_cast<StrHashEntryBase **>(
      safeCalloc(size_t(count) + 1, sizeof(StrHashEntryBase *) + sizeof(uint32_t)));
  table[count] = endMarker();
  bucketCount = count;
  liveCount = 0;
  tombstoneCount = 0;
}

uint32_t StrHashMapBase::probeForInsert(StrView key) {
  if (bucketCount == 0) allocateTable(16);
  uint32_t *hashes = hashSlots();
  uint32_t hash = hashKey(key);
  uint32_t mask = bucketCount - 1;
  uint32_t i = hash & mask;
  uint32_t firstTombstone = kNoBucket;
  // Triangular steps visit every bucket of a power-of-two table, and resizeIfNeeded always
  // leaves an empty bucket, so this ends.
  for (uint32_t step = 1;; ++step) {
    StrHashEntryBase *b = table[i];
    if (b == nullptr) {
      uint32_t chosen = firstTombstone != kNoBucket ? firstTombstone : i;
      hashes[chosen] = hash;
      return chosen;
    }
    if (b == tombstoneMarker()) {
      if (firstTombstone == kNoBucket) firstTombstone = i;
    } else if (hashes[i] == hash && keyMatches(b, key)) {
      return i;
    }
    i = (i + step) & mask;
  }
}

StrHashEntryBase *StrHashMapBase::eraseKey(StrView key) {
  uint32_t i = probeForKey(key);
  if (i == kNoBucket) return nullptr;
  StrHashEntryBase *e = table[i];
  table[i] = tombstoneMarker();
  --liveCount;
  ++tombstoneCount;
  return e;
}

StrHashEntryBase *StrHashMapBase::eraseEntry(StrHashEntryBase *entry) {
  StrView key(reinterpret_cast<const char *>(entry) + entryHeaderSize, entry->keyLength());
  return eraseKey(key);
}

void StrHashMapBase::resizeIfNeeded() {
  uint32_t newCount;
  // 64-bit products: the comparison must not wrap for very large tables.
  if (uint64_t(liveCount) * 4 > uint64_t(bucketCount) * 3)
    newCount = bucketCount * 2;
  else if (bucketCount - liveCount - tombstoneCount <= bucketCount / 8)
    newCount = bucketCount;
  else
    return;
  rebuild(newCount);
}

void StrHashMapBase::rebuild(uint32_t newCount) {
  StrHashEntryBase **fresh = static_cast<StrHashEntryBase **>(
      safeCalloc(size_t(newCount) + 1, sizeof(StrHashEntryBase *) + sizeof(uint32_t)));
  uint32_t *freshHashes = reinterpret_cast<uint32_t *>(fresh + newCount + 1);
  fresh[newCount] = endMarker();
  const uint32_t *oldHashes = hashSlots();
  uint32_t mask = newCount - 1;
  for (uint32_t i = 0; i < bucketCount; ++i) {
    StrHashEntryBase *b = table[i];
    if (!isLive(b)) continue;
    uint32_t hash = oldHashes[i];
    uint32_t j = hash & mask;
    for (uint32_t step = 1; fresh[j] != nullptr; ++step) j = (j + step) & mask;
    fresh[j] = b;
    freshHashes[j] = hash;
  }
  std::free(table);
  table = fresh;
  bucketCount = newCount;
  tombstoneCount = 0;
}

void StrHashMapBase::clearBuckets(void (*destroy)(StrHashEntryBase *)) {
  if (liveCount == 0 && tombstoneCount == 0) return;
  for (uint32_t i = 0; i < bucketCount; ++i) {
    StrHashEntryBase *b = table[i];
    if (isLive(b)) destroy(b);
    table[i] = nullptr;
  }
  liveCount = 0;
  tombstoneCount = 0;
}

} // namespace vorn
