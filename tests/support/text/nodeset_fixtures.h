#ifndef VORN_TESTS_TEXT_NODESET_FIXTURES_H
#define VORN_TESTS_TEXT_NODESET_FIXTURES_H

#include "support/text/NodeSet.h"

#include <cstdint>
#include <vector>

// A node type and a set of the test's own. The set derives from a library class, so it is built
// like the library (without RTTI) in a file of its own; the test only constructs and calls it.

struct TestNode : vorn::NodeSetNode {
  std::vector<uint32_t> words; // the profile
  int id = 0;

  void profile(vorn::NodeProfile &p) const {
    for (uint32_t w : words) p.addWord(w);
  }
};

// A NodeSetOf<TestNode> that counts the calls of its three operations.
class TestNodeSet final : public vorn::NodeSetOf<TestNode> {
public:
  explicit TestNodeSet(uint32_t log2Buckets);
  ~TestNodeSet() override;

  // The calls made so far, all three together.
  uint64_t calls() const { return profileCalls + matchCalls + hashCalls; }

  mutable uint64_t profileCalls = 0;
  mutable uint64_t matchCalls = 0;
  mutable uint64_t hashCalls = 0;

protected:
  void profileOf(const vorn::NodeSetNode *node, vorn::NodeProfile &profile) const override;
  bool matchesProfile(const vorn::NodeSetNode *node, const vorn::NodeProfile &profile,
                      vorn::HashCode hash, vorn::NodeProfile &scratch) const override;
  vorn::HashCode hashOfNode(const vorn::NodeSetNode *node,
                            vorn::NodeProfile &scratch) const override;
};

#endif
