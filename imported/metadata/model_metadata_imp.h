// The fields of one model, owned in one place.
#pragma once

#include <memory>
#include <vector>

#include "host/metadata/arbtremd_export.h"
#include "host/metadata/variable_imp.h"
#include "model/model_metadata.h"
#include "version/arb_version.h"

namespace mdt {

/// Owns the model's fields: the predictors in order, the target and the optional weights.
///
/// Choices: a role given twice replaces the earlier field; a model without a target answers null
/// (readers that need one must check); the version defaults to MetadataLibraryVersion().
class ARBTREMD_API ModelMetadataImp : public ModelMetadata {
 public:
  ModelMetadataImp();
  ~ModelMetadataImp() override;
  ModelMetadataImp(const ModelMetadataImp&) = delete;
  ModelMetadataImp& operator=(const ModelMetadataImp&) = delete;

  const Variable* GetTarget() const override;
  const std::vector<const Variable*>* GetPredictors() const override;
  const Variable* GetFrequencyWeight() const override;
  const Variable* GetCaseWeight() const override;
  const ArbTree::ArbVersion& GetVersion() const override;

  /// Appends a predictor and returns it.
  VariableImp& AddPredictor(std::unique_ptr<VariableImp> field);
  VariableImp& SetTarget(std::unique_ptr<VariableImp> field);
  VariableImp& SetFrequencyWeight(std::unique_ptr<VariableImp> field);
  VariableImp& SetCaseWeight(std::unique_ptr<VariableImp> field);
  void SetVersion(const ArbTree::ArbVersionImp& version);

  /// The same fields as the interface gives, with their concrete type.
  const VariableImp& GetPredictorImp(std::size_t i) const;
  const VariableImp* GetTargetImp() const;
  const VariableImp* GetFrequencyWeightImp() const;
  const VariableImp* GetCaseWeightImp() const;

 private:
  std::vector<std::unique_ptr<VariableImp>> predictors_;
  std::vector<const Variable*> predictorView_;  // what GetPredictors hands out
  std::unique_ptr<VariableImp> target_;
  std::unique_ptr<VariableImp> frequencyWeight_;
  std::unique_ptr<VariableImp> caseWeight_;
  ArbTree::ArbVersionImp version_;
};

/// The metadata library's own version record.
ARBTREMD_API const ArbTree::ArbVersionImp& MetadataLibraryVersion();

}  // namespace mdt
