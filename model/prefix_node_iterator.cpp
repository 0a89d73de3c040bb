#include "model/prefix_node_iterator.h"

namespace tree {

PrefixNodeIterator::PrefixNodeIterator(const Node* start) : current_(nullptr), root_(start) {}

PrefixNodeIterator::~PrefixNodeIterator() = default;

bool PrefixNodeIterator::AtEnd() const { return Successor(nullptr) == nullptr; }

const Node* PrefixNodeIterator::Next() {
  int climbed = 0;
  const Node* next = Successor(&climbed);
  if (next == nullptr) return nullptr;
  if (current_ != nullptr) {
    if (climbed < 0) {
      path_.push_back(0);
    } else {
      path_.resize(path_.size() - static_cast<std::size_t>(climbed));
      ++path_.back();
    }
  }
  current_ = next;
  return next;
}

bool PrefixNodeIterator::IsAtStart() const { return current_ == nullptr; }

const Node* PrefixNodeIterator::Successor(int* climbed) const {
  if (current_ == nullptr) return root_;
  if (current_->GetNumberOfChildren() > 0) {
    if (climbed != nullptr) *climbed = -1;
    return current_->GetChild(0);
  }
  // Climb until a node has a next sibling, stopping at the start node so the walk stays inside
  // its subtree even when the start node has a parent.
  const Node* node = current_;
  std::size_t level = path_.size();
  while (node != root_ && level > 0) {
    const Node* parent = node->GetParent();
    if (parent == nullptr) return nullptr;
    const int i = path_[level - 1];
    if (i + 1 < parent->GetNumberOfChildren()) {
      if (climbed != nullptr) *climbed = static_cast<int>(path_.size() - level);
      return parent->GetChild(i + 1);
    }
    node = parent;
    --level;
  }
  return nullptr;
}

}  // namespace tree
