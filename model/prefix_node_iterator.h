// Pre-order walk over the subtree of one node.
#pragma once

#include "model/aiterator.h"
#include "model/node.h"
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
  const Node* Successor() const;
  const Node* current_;
  const Node* root_;
};

}  // namespace tree
