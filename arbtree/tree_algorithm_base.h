// The host's fitted tree model.
#pragma once

#include "arbtree/alg_settings.h"
#include "arbtree/arb_status.h"
#include "arbtree/arb_version.h"
#include "arbtree/arbtree_export.h"
#include "arbtree/data_sample.h"
#include "arbtree/node.h"
#include "arbtree/tree_statistics.h"

namespace tree {

/// A fitted tree, read through these operations only.
class ARBTREE_API TreeAlgorithmBase {
 public:
  virtual ~TreeAlgorithmBase() = default;
  /// Null when there is no tree.
  virtual const Node* GetRoot() const = 0;
  virtual bool IsClassification() const = 0;
  /// A new settings object; the caller releases it.
  virtual AlgSettings* CreateSettings() const = 0;
  /// Non-zero severity = failed; otherwise stats holds a body.
  virtual ArbTree::ArbStatus ComputeTreeStatistics(DataSample sample,
                                                   TreeStatistics& stats) const = 0;
  /// The tree algorithm component's version.
  virtual const ArbTree::ArbVersion& GetVersion() const = 0;
};

}  // namespace tree
