// A node of the host's fitted tree.
#pragma once

#include "arbtree/arbtree_export.h"
#include "arbtree/data_sample.h"
#include "arbtree/node_info.h"
#include "arbtree/split_rule.h"

namespace tree {

/// A node; children, splits and statistics are read through these operations.
class ARBTREE_API Node {
 public:
  virtual ~Node() = default;
  virtual const Node* GetParent() const = 0;
  virtual int GetNumberOfChildren() const = 0;
  virtual const Node* GetChild(int i) const = 0;
  virtual int GetNumberOfSplits() const = 0;
  /// Index of the child with most cases.
  virtual int GetBiggestChild() const = 0;
  /// A new copy of primary split rule i; the caller releases it.
  virtual SplitRule* GetSplit(int i) const = 0;
  virtual int GetNumberOfSurrogates() const = 0;
  /// A new copy of surrogate rule i; the caller releases it.
  virtual SplitRule* GetSurrogate(int i) const = 0;
  virtual unsigned GetId() const = 0;
  virtual double GetCount(DataSample sample) const = 0;
  virtual double GetTotalCount(DataSample sample) const = 0;
  /// Overwrites min and max with the predictor's range at this node, when known.
  virtual void GetPredictorRange(int predictor, double& min, double& max) const = 0;
  /// Null for a regression node.
  virtual const ClsInfo* GetClsInfo(DataSample sample) const = 0;
  /// Null for a classification node.
  virtual const RegInfo* GetRegInfo(DataSample sample) const = 0;
};

}  // namespace tree
