// Ranks the predictors of a fitted tree by how much their splits improve it.
#pragma once

#include <memory>

#include "host/importance/arbtrepi_export.h"
#include "model/arb_status.h"
#include "model/predictor_ranking.h"
#include "model/tree_algorithm_base.h"

namespace TreeOut {

/// Importance of every predictor that a split of the tree uses.
///
/// The raw importance of predictor p is the sum, over all split nodes, of the improvement of the
/// node's primary split (GetSplit(0)) when that split is on p, plus the surrogate weight times the
/// improvement of each of the node's surrogate splits on p. A rule's improvement is its statistic
/// entry 0 when its flags hold both stat::kImprovement and stat::kEntry0, and 0 otherwise. The
/// raw values are then divided by their sum so that the predictors of one tree sum to 1; when the
/// sum is 0 they stay 0. A predictor that no primary or surrogate split uses has no entry.
class ARBTREPI_API PredictorRank final : public PredictorRanking {
 public:
  PredictorRank();
  PredictorRank(const PredictorRank&) = delete;
  PredictorRank& operator=(const PredictorRank&) = delete;
  ~PredictorRank() override;

  /// Replaces the results; code 10004 / severity -1 (and no entries) for a model without a root.
  ArbTree::ArbStatus ComputeVariableImportance(
      const tree::TreeAlgorithmBase& model,
      const CartPredictorImportanceSettings& settings) override;
  /// Null when no split uses predictor i; owned by this object.
  const PredictorImportance* GetPredictorImportance(unsigned int i) const override;

 private:
  struct Results;
  std::unique_ptr<Results> results_;
};

/// Makes PredictorRank the ranking that the PMML writer uses. Loading this library does it too,
/// but a linker that drops libraries nobody calls into never loads it: programs call this once.
ARBTREPI_API void InstallPredictorRank();

}  // namespace TreeOut
