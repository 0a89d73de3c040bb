// Per-node class and regression information.
#pragma once

#include "arbtree/arbtree_export.h"

namespace tree {

/// Class information of a classification node; category codes 0 to K-1.
class ARBTREE_API ClsInfo {
 public:
  virtual ~ClsInfo() = default;
  virtual int GetPredictedCategory() const = 0;
  virtual double GetCategoryCount(int code) const = 0;
  /// 0 to 1.
  virtual double GetCategoryProportion(int code) const = 0;
  /// Negative when the category has no probability.
  virtual double GetCategoryProbability(int code) const = 0;
  virtual int GetNumberOfCategories() const = 0;
};

/// Regression information of a regression node.
class ARBTREE_API RegInfo {
 public:
  virtual ~RegInfo() = default;
  virtual double GetMean() const = 0;
  /// -DBL_MAX when the node has none.
  virtual double GetStdDeviation() const = 0;
  virtual double GetPrediction() const = 0;
  virtual int GetDistributionSize() const = 0;
  virtual double GetDistributionCount(int i) const = 0;
};

}  // namespace tree
