// The host's fitted tree model.
#pragma once

#include "model/alg_settings.h"
#include "model/arb_status.h"
#include "model/data_sample.h"
#include "model/node.h"
#include "model/tree_statistics.h"
#include "version/arb_version.h"

namespace tree {

/// A fitted tree, read through these operations only.
class TreeAlgorithmBase {
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
