// Algorithm settings of a fitted tree, made new by the model for each reader.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "arbtree/arbtree_export.h"
#include "arbtree/data_sample.h"

namespace tree {

/// Per-predictor settings.
class ARBTREE_API PredictorDescriptor {
 public:
  virtual ~PredictorDescriptor() = default;
  /// 0 nominal, 1 ordinal, else continuous.
  virtual int GetMeasurementLevel() const = 0;
};

/// Predictor settings, by predictor index.
class ARBTREE_API PredictorInfo {
 public:
  virtual ~PredictorInfo() = default;
  virtual const PredictorDescriptor& GetPredictor(int index) const = 0;
};

/// How the tree's risk is estimated.
class ARBTREE_API RiskEstimation {
 public:
  virtual ~RiskEstimation() = default;
  /// The sample the risk is computed on.
  virtual DataSample GetDataSample() const = 0;
};

/// Prior probabilities of the target categories.
class ARBTREE_API Priors {
 public:
  virtual ~Priors() = default;
};

/// Priors held as a list, one per target code.
class ARBTREE_API PriorsImp : public Priors {
 public:
  explicit PriorsImp(std::vector<double> values) : values_(std::move(values)) {}
  virtual int GetNumberOfPriors() const { return static_cast<int>(values_.size()); }
  virtual double GetPrior(int code) const {
    if (code < 0 || code >= GetNumberOfPriors()) return 0.0;
    return values_[static_cast<std::size_t>(code)];
  }

 private:
  std::vector<double> values_;
};

/// Settings common to every growing algorithm.
class ARBTREE_API AlgSettings {
 public:
  virtual ~AlgSettings() = default;
  /// 0, 1 C&RT; 2, 3 CHAID; 4 QUEST. Odd codes of C&RT and CHAID carry priors.
  virtual int GetAlgorithmType() const = 0;
  virtual const PredictorInfo& GetPredictorInfo() const = 0;
  virtual const RiskEstimation& GetRiskEstimation() const = 0;
};

/// C&RT settings.
class ARBTREE_API CCartSettings : public AlgSettings {
 public:
  /// Null without priors; owned by the settings object.
  virtual const Priors* GetPriors() const = 0;
};

/// QUEST settings.
class ARBTREE_API QuestSettings : public AlgSettings {
 public:
  /// Null without priors; owned by the settings object.
  virtual const Priors* GetPriors() const = 0;
};

/// CHAID settings; they hold their priors in a field.
class ARBTREE_API CChaidSettingsImp : public AlgSettings {
 public:
  /// Null without priors.
  std::unique_ptr<Priors> priors;
};

}  // namespace tree
