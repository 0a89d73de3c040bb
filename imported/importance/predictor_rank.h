// Ranks the predictors of a fitted tree by how much their splits improve it.
#pragma once

#include <memory>

#include "arbtree/arb_status.h"
#include "arbtree/tree_algorithm_base.h"
#include "imported/importance/arbtrepi_export.h"

namespace TreeOut {

/// One predictor's importance in a fitted tree; owned by the ranking that made it.
class ARBTREPI_API PredictorImportance {
 public:
  virtual ~PredictorImportance();
  /// Index into the metadata's predictor list.
  virtual unsigned GetPredictorIndex() const = 0;
  /// The predictor's importance.
  virtual double GetImportance() const = 0;
};

/// Settings of the importance computation.
class ARBTREPI_API CartPredictorImportanceSettings {
 public:
  /// surrogateWeight multiplies the improvement of every surrogate split.
  explicit CartPredictorImportanceSettings(double surrogateWeight);
  /// The weight of surrogate improvements.
  double GetSurrogateWeight() const;

 private:
  double surrogateWeight_;
};

/// Importance of every predictor that a split of the tree uses.
///
/// The raw importance of predictor p is the sum, over all split nodes, of the improvement of the
/// node's primary split (GetSplit(0)) when that split is on p, plus the surrogate weight times the
/// improvement of each of the node's surrogate splits on p. A rule's improvement is its statistic
/// entry 0 when its flags hold both stat::kImprovement and stat::kEntry0, and 0 otherwise. The
/// raw values are then divided by their sum so that the predictors of one tree sum to 1; when the
/// sum is 0 they stay 0. A predictor that no primary or surrogate split uses has no entry.
class ARBTREPI_API PredictorRank {
 public:
  PredictorRank();
  PredictorRank(const PredictorRank&) = delete;
  PredictorRank& operator=(const PredictorRank&) = delete;
  virtual ~PredictorRank();

  /// Replaces the results; code 10004 / severity -1 (and no entries) for a model without a root.
  ArbTree::ArbStatus ComputeVariableImportance(const tree::TreeAlgorithmBase& model,
                                               const CartPredictorImportanceSettings& settings);
  /// Null when no split uses predictor i; owned by this object.
  const PredictorImportance* GetPredictorImportance(unsigned int i) const;

 private:
  struct Results;
  std::unique_ptr<Results> results_;
};

}  // namespace TreeOut
