// Holder of the tree statistics that the model computes.
#pragma once

#include "version/arbtrexm_export.h"

namespace tree {

/// The host's statistics object.
class TreeStatisticsBody {
 public:
  virtual ~TreeStatisticsBody() = default;
  virtual double GetRisk() const = 0;
  virtual double GetRiskStdError() const = 0;
};

/// Empty until the model's ComputeTreeStatistics sets its body; owns the body.
class ARBTREXM_API TreeStatistics {
 public:
  TreeStatistics();
  TreeStatistics(const TreeStatistics&) = delete;
  TreeStatistics& operator=(const TreeStatistics&) = delete;
  virtual ~TreeStatistics();
  /// Null until the model sets it.
  const TreeStatisticsBody* GetBody() const;
  /// Replaces the body (released through its virtual destructor) and takes ownership.
  void SetBody(TreeStatisticsBody* body);

 private:
  TreeStatisticsBody* body_;
};

}  // namespace tree
