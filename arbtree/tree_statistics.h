// Holder of the tree statistics that the model computes.
#pragma once

#include "arbtree/arbtree_export.h"

namespace tree {

/// The host's statistics object.
class ARBTREE_API TreeStatisticsBody {
 public:
  virtual ~TreeStatisticsBody() = default;
  virtual double GetRisk() const = 0;
  virtual double GetRiskStdError() const = 0;
};

/// Empty until the model's ComputeTreeStatistics sets its body; owns the body.
class ARBTREE_API TreeStatistics {
 public:
  TreeStatistics() = default;
  TreeStatistics(const TreeStatistics&) = delete;
  TreeStatistics& operator=(const TreeStatistics&) = delete;
  virtual ~TreeStatistics() { delete body_; }
  /// Null until the model sets it.
  const TreeStatisticsBody* GetBody() const { return body_; }
  /// Replaces the body (released through its virtual destructor) and takes ownership.
  void SetBody(TreeStatisticsBody* body) {
    if (body == body_) return;
    delete body_;
    body_ = body;
  }

 private:
  TreeStatisticsBody* body_ = nullptr;
};

}  // namespace tree
