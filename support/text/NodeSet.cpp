#include "support/text/NodeSet.h"

#include "support/runtime/BumpAllocator.h"

namespace vorn {

namespace {

void *const kEndMarker = reinterpret_cast<void *>(~uintptr_t(0));

inline bool isTagged(const void *p) { return uintptr_t(p) & 1; }
inline void *tagged(void **bucket) { return reinterpret_cast<void *>(uintptr_t(bucket) | 1); }
inline void **bucketOf(void *taggedLink) {
  return reinterpret_cast<void **>(uintptr_t(taggedLink) & ~uintptr_t(1));
}
// A bucket entry or link that holds a node (not 0, not a tagged bucket address).
inline bool isNode(const void *p) { return p && !isTagged(p); }

// numBuckets empty entries and the end marker.
void **newBucketArray(uint32_t numBuckets) {
  void **array = new void *[numBuckets + 1];
  for (uint32_t i = 0; i < numBuckets; ++i) array[i] = nullptr;
  array[numBuckets] = kEndMarker;
  return array;
}

} // namespace

// --- Profiles -----------------------------------------------------------------------------------

void NodeProfile::addText(StrView text) {
  uint32_t n = text.size();
  push_back(n);
  if (n == 0) return;
  const unsigned char *s = reinterpret_cast<const unsigned char *>(text.data());
  uint32_t groups = n / 4;
  size_t at = size();
  resize(at + groups);
  uint32_t *out = data() + at;
  // memcpy reads a group as a word at any alignment; on a big-endian target the bytes are put
  // together one by one so that the words stay little-endian.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  for (uint32_t i = 0; i < groups; ++i)
    out[i] = uint32_t(s[4 * i]) | uint32_t(s[4 * i + 1]) << 8 | uint32_t(s[4 * i + 2]) << 16 |
             uint32_t(s[4 * i + 3]) << 24;
#else
  std::memcpy(out, s, groups * sizeof(uint32_t));
#endif
  const unsigned char *rest = s + 4 * groups;
  switch (n % 4) {
  case 3:
    push_back(uint32_t(rest[0]) << 16 | uint32_t(rest[1]) << 8 | rest[2]);
    break;
  case 2:
    push_back(uint32_t(rest[0]) << 8 | rest[1]);
    break;
  case 1:
    push_back(rest[0]);
    break;
  default:
    break;
  }
}

NodeProfileRef NodeProfile::intern(BumpAllocator &allocator) const {
  uint32_t count = uint32_t(size());
  uint32_t *copy = static_cast<uint32_t *>(allocator.allocate(count * sizeof(uint32_t), 4));
  if (count) std::memcpy(copy, data(), count * sizeof(uint32_t));
  return NodeProfileRef(copy, count);
}

// --- The set ------------------------------------------------------------------------------------

NodeSet::NodeSet(uint32_t log2Buckets) : numBuckets(uint32_t(1) << log2Buckets), nodeCount(0) {
  VORN_CHECK(log2Buckets < 31, "NodeSet::NodeSet", "log2 of the bucket count is below 31");
  buckets = newBucketArray(numBuckets);
}

NodeSet::~NodeSet() { delete[] buckets; }

void NodeSet::clear() {
  for (uint32_t i = 0; i < numBuckets; ++i) buckets[i] = nullptr;
  buckets[numBuckets] = kEndMarker;
  nodeCount = 0;
}

void NodeSet::linkAtHead(NodeSetNode *node, void **bucket) {
  void *next = *bucket;
  node->link = isNode(next) ? next : tagged(bucket);
  *bucket = node;
}

void NodeSet::grow() {
  void **old = buckets;
  uint32_t oldCount = numBuckets;
  numBuckets = oldCount * 2;
  buckets = newBucketArray(numBuckets);
  NodeProfile scratch;
  for (uint32_t i = 0; i < oldCount; ++i) {
    void *p = old[i];
    while (isNode(p)) {
      NodeSetNode *node = static_cast<NodeSetNode *>(p);
      p = node->link;
      node->link = nullptr;
      linkAtHead(node, bucketFor(hashOfNode(node, scratch)));
      scratch.clear();
    }
  }
  delete[] old;
}

NodeSetNode *NodeSet::lookupProfile(const NodeProfile &profile, void *&insertPos) {
  HashCode hash = profile.hash();
  void **bucket = bucketFor(hash);
  insertPos = nullptr;
  NodeProfile scratch;
  for (void *p = *bucket; isNode(p);) {
    NodeSetNode *node = static_cast<NodeSetNode *>(p);
    if (matchesProfile(node, profile, hash, scratch)) return node;
    scratch.clear();
    p = node->link;
  }
  insertPos = bucket;
  return nullptr;
}

void NodeSet::insertAt(NodeSetNode *node, void *insertPos) {
  VORN_CHECK(node->link == nullptr, "NodeSet::insertAt", "the node already belongs to a set");
  VORN_CHECK(insertPos != nullptr, "NodeSet::insertAt", "the position comes from a failed lookup");
  // At most two nodes per bucket on average.
  if (nodeCount >= 2 * numBuckets) {
    grow();
    NodeProfile scratch;
    insertPos = bucketFor(hashOfNode(node, scratch));
  }
  ++nodeCount;
  linkAtHead(node, static_cast<void **>(insertPos));
}

NodeSetNode *NodeSet::findOrAdd(NodeSetNode *node) {
  NodeProfile profile;
  profileOf(node, profile);
  void *insertPos;
  if (NodeSetNode *existing = lookupProfile(profile, insertPos)) return existing;
  insertAt(node, insertPos);
  return node;
}

bool NodeSet::remove(NodeSetNode *node) {
  void *next = node->link;
  if (!next) return false;
  // Around the ring from the node's successor to the slot (a bucket entry or a link) that holds
  // the node: the successor's link, ..., the bucket entry, the chain's first node's link, ...
  void *p = next;
  void **slot;
  for (;;) {
    slot = isTagged(p) ? bucketOf(p) : &static_cast<NodeSetNode *>(p)->link;
    if (*slot == node) break;
    // Only a broken ring (a node of a cleared set, or of another set) leads to an empty slot.
    VORN_CHECK(*slot != nullptr, "NodeSet::remove", "the node belongs to this set");
    if (!*slot) return false;
    p = *slot;
  }
  --nodeCount;
  node->link = nullptr;
  // A bucket left without nodes holds 0 rather than a tagged pointer to itself.
  *slot = isTagged(next) && bucketOf(next) == slot ? nullptr : next;
  return true;
}

} // namespace vorn
