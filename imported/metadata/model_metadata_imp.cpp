#include "imported/metadata/model_metadata_imp.h"

#include <utility>

namespace mdt {

const ArbTree::ArbVersionImp& MetadataLibraryVersion() {
  static const ArbTree::ArbVersionImp version(1, 0, 0, 1, "2026-12-06 12:00:00");
  return version;
}

ModelMetadataImp::ModelMetadataImp() : version_(MetadataLibraryVersion()) {}

ModelMetadataImp::~ModelMetadataImp() = default;

const Variable* ModelMetadataImp::GetTarget() const { return target_ ? &*target_ : nullptr; }

const std::vector<Variable>* ModelMetadataImp::GetPredictors() const { return &predictors_; }

const Variable* ModelMetadataImp::GetFrequencyWeight() const {
  return frequencyWeight_ ? &*frequencyWeight_ : nullptr;
}
const Variable* ModelMetadataImp::GetCaseWeight() const {
  return caseWeight_ ? &*caseWeight_ : nullptr;
}
const ArbTree::ArbVersion& ModelMetadataImp::GetVersion() const { return version_; }

Variable& ModelMetadataImp::AddPredictor(Variable field) {
  predictors_.push_back(std::move(field));
  return predictors_.back();
}

Variable& ModelMetadataImp::SetTarget(Variable field) { return target_.emplace(std::move(field)); }

Variable& ModelMetadataImp::SetFrequencyWeight(Variable field) {
  return frequencyWeight_.emplace(std::move(field));
}

Variable& ModelMetadataImp::SetCaseWeight(Variable field) {
  return caseWeight_.emplace(std::move(field));
}

void ModelMetadataImp::SetVersion(const ArbTree::ArbVersionImp& version) { version_ = version; }

}  // namespace mdt
