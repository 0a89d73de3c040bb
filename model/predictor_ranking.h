// What the PMML writer asks of the predictor-importance library, and how it finds one.
//
// The importance library is a component of the host, built on top of this library, so this
// library cannot link to it. The library states here what it needs; an importance library
// implements PredictorRanking and installs a factory for it (the reference host's
// arbtrepi_legacyr through TreeOut::InstallPredictorRank). Without one installed, the PMML
// importance list is written without entries, as when the library rates no predictor.
#pragma once

#include <memory>

#include "model/arb_status.h"
#include "model/tree_algorithm_base.h"
#include "version/arbtrexm_export.h"

namespace TreeOut {

/// One predictor's importance in a fitted tree; owned by the ranking that made it.
class ARBTREXM_API PredictorImportance {
 public:
  virtual ~PredictorImportance();
  /// Index into the metadata's predictor list.
  virtual unsigned GetPredictorIndex() const = 0;
  /// The predictor's importance.
  virtual double GetImportance() const = 0;
};

/// Settings of the importance computation.
class ARBTREXM_API CartPredictorImportanceSettings {
 public:
  /// surrogateWeight multiplies the improvement of every surrogate split.
  explicit CartPredictorImportanceSettings(double surrogateWeight);
  /// The weight of surrogate improvements.
  double GetSurrogateWeight() const;

 private:
  double surrogateWeight_;
};

/// An importance computation over one tree at a time.
class ARBTREXM_API PredictorRanking {
 public:
  virtual ~PredictorRanking();
  /// Replaces the results with those of model.
  virtual ArbTree::ArbStatus ComputeVariableImportance(
      const tree::TreeAlgorithmBase& model, const CartPredictorImportanceSettings& settings) = 0;
  /// Null when the computation rated no predictor i; owned by this object.
  virtual const PredictorImportance* GetPredictorImportance(unsigned int i) const = 0;
};

/// Makes a new, empty ranking.
using PredictorRankingFactory = std::unique_ptr<PredictorRanking> (*)();

/// Installs the factory the PMML writer uses from now on (null removes it); thread-safe.
ARBTREXM_API void SetPredictorRankingFactory(PredictorRankingFactory factory);
/// A new ranking from the installed factory, or null when none is installed.
ARBTREXM_API std::unique_ptr<PredictorRanking> CreatePredictorRanking();

}  // namespace TreeOut
