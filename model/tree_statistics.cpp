#include "model/tree_statistics.h"

namespace tree {

TreeStatistics::TreeStatistics() : body_(nullptr) {}

TreeStatistics::~TreeStatistics() { delete body_; }

const TreeStatisticsBody* TreeStatistics::GetBody() const { return body_; }

void TreeStatistics::SetBody(TreeStatisticsBody* body) {
  if (body == body_) return;
  delete body_;
  body_ = body;
}

}  // namespace tree
