// Pre-order walk over the subtree of one node.
#pragma once

#include <vector>

#include "arbtree/aiterator.h"
#include "arbtree/node.h"
#include "version/arbtrexm_export.h"

namespace tree {

/// Iterator over nodes.
class NodeIterator : public ArbTree::AIterator<Node> {};

/// Visits a node, then its children's subtrees in stored order; never leaves the start subtree.
class ARBTREXM_API PrefixNodeIterator : public NodeIterator {
 public:
  /// Positioned before start.
  explicit PrefixNodeIterator(const Node* start);
  ~PrefixNodeIterator() override;
  bool AtEnd() const override;
  const Node* Next() override;
  bool IsAtStart() const override;

 private:
  // The next node, and how many levels the walk climbs to reach it (-1: down to a first child).
  const Node* Successor(int* climbed) const;
  const Node* current_;
  const Node* root_;
  // Index of each node on the way from the start node down to current_ within its parent's
  // children: finding the next sibling must not search a node of thousands of children.
  std::vector<int> path_;
};

}  // namespace tree
