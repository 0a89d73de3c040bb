// The fields of one model, owned in one place.
#pragma once

#include <optional>
#include <vector>

#include "arbtree/arb_version.h"
#include "imported/metadata/arbtremd_export.h"
#include "imported/metadata/model_metadata.h"

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
  const std::vector<Variable>* GetPredictors() const override;
  const Variable* GetFrequencyWeight() const override;
  const Variable* GetCaseWeight() const override;
  const ArbTree::ArbVersion& GetVersion() const override;

  /// Appends a predictor; the reference is valid until the next AddPredictor.
  Variable& AddPredictor(Variable field);
  /// Sets the target.
  Variable& SetTarget(Variable field);
  /// Sets the frequency weight.
  Variable& SetFrequencyWeight(Variable field);
  /// Sets the case weight.
  Variable& SetCaseWeight(Variable field);
  /// Replaces the version record.
  void SetVersion(const ArbTree::ArbVersionImp& version);

 private:
  std::vector<Variable> predictors_;
  std::optional<Variable> target_;
  std::optional<Variable> frequencyWeight_;
  std::optional<Variable> caseWeight_;
  ArbTree::ArbVersionImp version_;
};

/// The metadata library's own version record.
ARBTREMD_API const ArbTree::ArbVersionImp& MetadataLibraryVersion();

}  // namespace mdt
