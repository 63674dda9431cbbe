#ifndef VORN_SUPPORT_TEXT_NODESET_H
#define VORN_SUPPORT_TEXT_NODESET_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "support/runtime/Checks.h"
#include "support/text/Hashing.h"
#include "support/text/InlineVector.h"
#include "support/text/StrView.h"

// Hashed sets of unique nodes: objects identified by their content, which each describes as a
// profile (a sequence of 32-bit words). The set owns only its bucket array; the nodes carry
// their own link word and belong to their owner.

namespace vorn {

class BumpAllocator;

// A non-owning view of a profile's words; the words must outlive the view.
class NodeProfileRef {
public:
  // The empty profile.
  NodeProfileRef() : words(nullptr), count(0) {}
  // The `count` words at `words` (which may be null only when count is 0).
  NodeProfileRef(const uint32_t *words, uint32_t count) : words(words), count(count) {}

  const uint32_t *data() const { return words; }
  uint32_t size() const { return count; }
  const uint32_t *begin() const { return words; }
  const uint32_t *end() const { return words + count; }

  // hashWords of the words.
  HashCode hash() const { return hashWords(words, words + count); }
  // Same number of words and the same words.
  bool operator==(NodeProfileRef other) const {
    return count == other.count &&
           (count == 0 || std::memcmp(words, other.words, count * sizeof(uint32_t)) == 0);
  }
  bool operator!=(NodeProfileRef other) const { return !(*this == other); }
  // A shorter profile comes first; profiles of equal length compare by the bytes of their words
  // in memory order, as memcmp does.
  bool operator<(NodeProfileRef other) const {
    if (count != other.count) return count < other.count;
    return count != 0 && std::memcmp(words, other.words, count * sizeof(uint32_t)) < 0;
  }

private:
  const uint32_t *words;
  uint32_t count;
};

// The profile of a node: a sequence of 32-bit words, the first 32 of them held inside the object.
// Hashing, equality and ordering are those of NodeProfileRef.
class NodeProfile : public InlineVector<uint32_t, 32> {
public:
  // Appends one word (a 32-bit integer, a boolean, ...).
  void addWord(uint32_t value) { push_back(value); }
  // Appends the low word of `value`, then its high word only when that is not zero.
  void addInteger64(uint64_t value) {
    push_back(uint32_t(value));
    if (value >> 32) push_back(uint32_t(value >> 32));
  }
  // Appends a pointer's bits: one word where pointers have 32 bits (like addWord), as
  // addInteger64 where they are wider.
  void addPointer(const void *pointer) { addInteger64(uint64_t(uintptr_t(pointer))); }
  // Appends the length, then (for a non-empty text) its bytes in groups of four, each group read
  // as a little-endian word, and the 1 to 3 bytes left over as one more word, high byte first:
  // "abcde" gives 5, 0x64636261, 0x65.
  void addText(StrView text);
  // Appends all words of `other`, which must not be this profile.
  void addProfile(NodeProfileRef other) { append(other.begin(), other.end()); }

  // A view of the words, valid until the profile is changed.
  NodeProfileRef ref() const { return NodeProfileRef(data(), uint32_t(size())); }
  operator NodeProfileRef() const { return ref(); }

  HashCode hash() const { return ref().hash(); }
  bool operator==(NodeProfileRef other) const { return ref() == other; }
  bool operator!=(NodeProfileRef other) const { return ref() != other; }
  bool operator<(NodeProfileRef other) const { return ref() < other; }

  // A copy of the words placed in `allocator` with 4-byte alignment; valid while the
  // allocator's memory is.
  NodeProfileRef intern(BumpAllocator &allocator) const;
};

// The link word that makes an object a node of a NodeSet: a node type derives from it. A node
// that belongs to no set has a null link; a copy of a node belongs to no set.
class NodeSetNode {
public:
  NodeSetNode() = default;
  NodeSetNode(const NodeSetNode &) : link(nullptr) {}
  NodeSetNode &operator=(const NodeSetNode &) { return *this; }

  // Whether the node belongs to a set.
  bool inSet() const { return link != nullptr; }

private:
  friend class NodeSet;
  template <typename T> friend class NodeSetIterator;
  template <typename T> friend class NodeSetBucketIterator;

  // In a set: the next node of the same bucket, or, for a chain's last node, the address of the
  // bucket's entry with bit 0 set.
  void *link = nullptr;
};

// Visits every node of a set, bucket by bucket; adding or removing nodes invalidates it.
template <typename T> class NodeSetIterator {
public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = T;
  using difference_type = std::ptrdiff_t;
  using pointer = T *;
  using reference = T &;

  // The first node at or after the bucket entry `bucket` (the end when none is left).
  explicit NodeSetIterator(void *const *bucket) : node(firstNodeFrom(bucket)) {}

  T &operator*() const { return *static_cast<T *>(static_cast<NodeSetNode *>(node)); }
  T *operator->() const { return &**this; }
  NodeSetIterator &operator++() {
    void *next = static_cast<NodeSetNode *>(node)->link;
    if (uintptr_t(next) & 1)
      node = firstNodeFrom(reinterpret_cast<void *const *>(uintptr_t(next) & ~uintptr_t(1)) + 1);
    else
      node = next;
    return *this;
  }
  NodeSetIterator operator++(int) {
    NodeSetIterator old = *this;
    ++*this;
    return old;
  }
  bool operator==(const NodeSetIterator &other) const { return node == other.node; }
  bool operator!=(const NodeSetIterator &other) const { return node != other.node; }

private:
  // Empty entries are 0 (or tagged); the array's last entry, all ones, ends every scan.
  static void *firstNodeFrom(void *const *bucket) {
    while (*bucket != reinterpret_cast<void *>(~uintptr_t(0)) &&
           (*bucket == nullptr || (uintptr_t(*bucket) & 1)))
      ++bucket;
    return *bucket;
  }

  void *node; // the current node, or all ones at the end
};

// Visits the nodes of one bucket, newest first; adding or removing nodes invalidates it.
template <typename T> class NodeSetBucketIterator {
public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = T;
  using difference_type = std::ptrdiff_t;
  using pointer = T *;
  using reference = T &;

  // The bucket's first node, or (`atEnd`, or an empty bucket) the end, which is the entry itself.
  NodeSetBucketIterator(void **bucket, bool atEnd)
      : position(atEnd || *bucket == nullptr || (uintptr_t(*bucket) & 1) ? bucket : *bucket) {}

  T &operator*() const { return *static_cast<T *>(static_cast<NodeSetNode *>(position)); }
  T *operator->() const { return &**this; }
  NodeSetBucketIterator &operator++() {
    // A tagged link leads back to the entry: the end.
    position = reinterpret_cast<void *>(uintptr_t(static_cast<NodeSetNode *>(position)->link) &
                                        ~uintptr_t(1));
    return *this;
  }
  bool operator==(const NodeSetBucketIterator &other) const { return position == other.position; }
  bool operator!=(const NodeSetBucketIterator &other) const { return position != other.position; }

private:
  void *position; // a node, or the bucket entry's address at the end
};

// An intrusive hash table of unique nodes. A derived set supplies, for its node type, how a node
// yields its profile, how it compares with a profile and its hash (the hash of its profile). The
// chains of each bucket are closed into rings through the bucket's entry, so that a node can be
// removed knowing nothing but itself. The table doubles its buckets when it would hold more than
// two nodes per bucket; it never shrinks. The set owns its bucket array, never the nodes.
class NodeSet {
public:
  using iterator = NodeSetIterator<NodeSetNode>;
  using bucket_iterator = NodeSetBucketIterator<NodeSetNode>;

  // An empty set of 2^log2Buckets buckets; log2Buckets < 31.
  explicit NodeSet(uint32_t log2Buckets = 6);
  // Frees the bucket array; the nodes' links are not touched.
  virtual ~NodeSet();
  NodeSet(const NodeSet &) = delete;
  NodeSet &operator=(const NodeSet &) = delete;

  // Empties every bucket and counts 0 nodes, keeping the bucket count. The nodes' links are not
  // touched (their memory may be gone already), so the former nodes must be neither removed nor
  // added to a set again.
  void clear();

  // The node whose profile equals `profile`, or null; then `insertPos` is where a node with that
  // profile goes (for insertAt, valid until the set changes).
  NodeSetNode *lookupProfile(const NodeProfile &profile, void *&insertPos);
  // Adds `node`, which belongs to no set and whose profile lookupProfile did not find, at the
  // position lookupProfile gave; may grow the table.
  void insertAt(NodeSetNode *node, void *insertPos);
  // The node of the set with a profile equal to `node`'s, or, when there is none, `node` after
  // adding it (it must then belong to no set).
  NodeSetNode *findOrAdd(NodeSetNode *node);
  // Removes `node` from the set it belongs to without hashing; false when it belongs to none.
  // A node that belongs to a set must belong to this one.
  bool remove(NodeSetNode *node);

  // Number of nodes.
  uint32_t size() const { return nodeCount; }
  bool empty() const { return nodeCount == 0; }
  // Number of buckets, a power of two.
  uint32_t bucketCount() const { return numBuckets; }

  iterator begin() const { return iterator(buckets); }
  iterator end() const { return iterator(buckets + numBuckets); }
  // The nodes of the bucket that `hash` selects.
  bucket_iterator bucketBegin(HashCode hash) const {
    return bucket_iterator(bucketFor(hash), false);
  }
  bucket_iterator bucketEnd(HashCode hash) const { return bucket_iterator(bucketFor(hash), true); }

protected:
  // Appends `node`'s profile to `profile`.
  virtual void profileOf(const NodeSetNode *node, NodeProfile &profile) const = 0;
  // Whether `node`'s profile equals `profile`, whose hash is `hash`; `scratch` is an empty
  // profile the call may fill.
  virtual bool matchesProfile(const NodeSetNode *node, const NodeProfile &profile, HashCode hash,
                              NodeProfile &scratch) const = 0;
  // The hash of `node`'s profile; `scratch` is an empty profile the call may fill.
  virtual HashCode hashOfNode(const NodeSetNode *node, NodeProfile &scratch) const = 0;

  // The bucket array (bucketCount() entries and the end marker), for iterators of derived sets.
  void **bucketArray() const { return buckets; }
  // The entry of the bucket that `hash` selects.
  void **bucketFor(HashCode hash) const { return buckets + (hash & (numBuckets - 1)); }

private:
  // Links `node` at the head of the chain of `bucket`.
  static void linkAtHead(NodeSetNode *node, void **bucket);
  // Doubles the bucket count and rehashes every node.
  void grow();

  void **buckets;      // numBuckets entries (0 or a chain's first node), then the all-ones end
  uint32_t numBuckets; // a power of two
  uint32_t nodeCount;
};

// A NodeSet of nodes of type T (derived from NodeSetNode), each of which describes itself with
// `void profile(NodeProfile &) const`; matching and hashing go through that profile.
template <typename T> class NodeSetOf : public NodeSet {
public:
  using iterator = NodeSetIterator<T>;
  using bucket_iterator = NodeSetBucketIterator<T>;

  explicit NodeSetOf(uint32_t log2Buckets = 6) : NodeSet(log2Buckets) {}

  T *lookupProfile(const NodeProfile &profile, void *&insertPos) {
    return static_cast<T *>(NodeSet::lookupProfile(profile, insertPos));
  }
  T *findOrAdd(T *node) { return static_cast<T *>(NodeSet::findOrAdd(node)); }

  iterator begin() const { return iterator(bucketArray()); }
  iterator end() const { return iterator(bucketArray() + bucketCount()); }
  bucket_iterator bucketBegin(HashCode hash) const {
    return bucket_iterator(bucketFor(hash), false);
  }
  bucket_iterator bucketEnd(HashCode hash) const { return bucket_iterator(bucketFor(hash), true); }

protected:
  void profileOf(const NodeSetNode *node, NodeProfile &profile) const override {
    static_cast<const T *>(node)->profile(profile);
  }
  bool matchesProfile(const NodeSetNode *node, const NodeProfile &profile, HashCode,
                      NodeProfile &scratch) const override {
    static_cast<const T *>(node)->profile(scratch);
    return scratch == profile;
  }
  HashCode hashOfNode(const NodeSetNode *node, NodeProfile &scratch) const override {
    static_cast<const T *>(node)->profile(scratch);
    return scratch.hash();
  }
};

} // namespace vorn

#endif
