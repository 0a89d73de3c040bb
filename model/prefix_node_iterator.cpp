#include "model/prefix_node_iterator.h"

namespace tree {

PrefixNodeIterator::PrefixNodeIterator(const Node* start) : current_(nullptr), root_(start) {}

PrefixNodeIterator::~PrefixNodeIterator() = default;

bool PrefixNodeIterator::AtEnd() const { return Successor() == nullptr; }

const Node* PrefixNodeIterator::Next() {
  const Node* next = Successor();
  if (next != nullptr) current_ = next;
  return next;
}

bool PrefixNodeIterator::IsAtStart() const { return current_ == nullptr; }

const Node* PrefixNodeIterator::Successor() const {
  if (current_ == nullptr) return root_;
  if (current_->GetNumberOfChildren() > 0) return current_->GetChild(0);
  // Climb until a node has a next sibling, stopping at the start node so the walk stays inside
  // its subtree even when the start node has a parent.
  const Node* node = current_;
  while (node != root_) {
    const Node* parent = node->GetParent();
    if (parent == nullptr) return nullptr;
    const int n = parent->GetNumberOfChildren();
    int i = 0;
    while (i < n && parent->GetChild(i) != node) ++i;
    if (i + 1 < n) return parent->GetChild(i + 1);
    node = parent;
  }
  return nullptr;
}

}  // namespace tree
