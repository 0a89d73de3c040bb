// Algorithm settings of a fitted tree, made new by the model for each reader.
#pragma once

#include <memory>
#include <vector>

#include "model/data_sample.h"
#include "version/arbtrexm_export.h"

namespace tree {

/// The usual name of an algorithm type code: "C&RT" for 0 and 1 (1: with priors), "CHAID" for
/// 2 and 3, "QUEST" for 4; null for any other code.
ARBTREXM_API const char* AlgorithmName(int type);

/// Per-predictor settings.
class PredictorDescriptor {
 public:
  virtual ~PredictorDescriptor() = default;
  /// 0 nominal, 1 ordinal, else continuous.
  virtual int GetMeasurementLevel() const = 0;
};

/// Predictor settings, by predictor index.
class PredictorInfo {
 public:
  virtual ~PredictorInfo() = default;
  virtual const PredictorDescriptor& GetPredictor(int index) const = 0;
};

/// How the tree's risk is estimated.
class RiskEstimation {
 public:
  virtual ~RiskEstimation() = default;
  /// The sample the risk is computed on.
  virtual DataSample GetDataSample() const = 0;
};

/// Prior probabilities of the target categories.
class ARBTREXM_API Priors {
 public:
  virtual ~Priors();
};

/// Priors held as a list, one per target code.
class ARBTREXM_API PriorsImp : public Priors {
 public:
  explicit PriorsImp(std::vector<double> values);
  ~PriorsImp() override;
  virtual int GetNumberOfPriors() const;
  virtual double GetPrior(int code) const;

 private:
  std::vector<double> values_;
};

/// Settings common to every growing algorithm.
class AlgSettings {
 public:
  virtual ~AlgSettings() = default;
  /// 0, 1 C&RT; 2, 3 CHAID; 4 QUEST. Odd codes of C&RT and CHAID carry priors.
  virtual int GetAlgorithmType() const = 0;
  virtual const PredictorInfo& GetPredictorInfo() const = 0;
  virtual const RiskEstimation& GetRiskEstimation() const = 0;
};

/// C&RT settings.
class CCartSettings : public AlgSettings {
 public:
  /// Null without priors; owned by the settings object.
  virtual const Priors* GetPriors() const = 0;
};

/// QUEST settings.
class QuestSettings : public AlgSettings {
 public:
  /// Null without priors; owned by the settings object.
  virtual const Priors* GetPriors() const = 0;
};

/// CHAID settings; they hold their priors in a field.
class CChaidSettingsImp : public AlgSettings {
 public:
  /// Null without priors.
  std::unique_ptr<Priors> priors;
};

}  // namespace tree
