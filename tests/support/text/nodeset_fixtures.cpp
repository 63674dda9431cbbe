#include "tests/support/text/nodeset_fixtures.h"

TestNodeSet::TestNodeSet(uint32_t log2Buckets) : vorn::NodeSetOf<TestNode>(log2Buckets) {}

TestNodeSet::~TestNodeSet() = default;

void TestNodeSet::profileOf(const vorn::NodeSetNode *node, vorn::NodeProfile &profile) const {
  ++profileCalls;
  NodeSetOf<TestNode>::profileOf(node, profile);
}

bool TestNodeSet::matchesProfile(const vorn::NodeSetNode *node, const vorn::NodeProfile &profile,
                                 vorn::HashCode hash, vorn::NodeProfile &scratch) const {
  ++matchCalls;
  return NodeSetOf<TestNode>::matchesProfile(node, profile, hash, scratch);
}

vorn::HashCode TestNodeSet::hashOfNode(const vorn::NodeSetNode *node,
                                       vorn::NodeProfile &scratch) const {
  ++hashCalls;
  return NodeSetOf<TestNode>::hashOfNode(node, scratch);
}
