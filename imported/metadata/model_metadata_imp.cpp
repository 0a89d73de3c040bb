#include "host/metadata/model_metadata_imp.h"

#include <utility>

namespace mdt {

const ArbTree::ArbVersionImp& MetadataLibraryVersion() {
  static const ArbTree::ArbVersionImp version(1, 0, 0, 1, "2026-12-06 12:00:00");
  return version;
}

ModelMetadataImp::ModelMetadataImp() : version_(MetadataLibraryVersion()) {}

ModelMetadataImp::~ModelMetadataImp() = default;

const Variable* ModelMetadataImp::GetTarget() const { return target_.get(); }

const std::vector<const Variable*>* ModelMetadataImp::GetPredictors() const {
  return &predictorView_;
}

const Variable* ModelMetadataImp::GetFrequencyWeight() const { return frequencyWeight_.get(); }
const Variable* ModelMetadataImp::GetCaseWeight() const { return caseWeight_.get(); }
const ArbTree::ArbVersion& ModelMetadataImp::GetVersion() const { return version_; }

VariableImp& ModelMetadataImp::AddPredictor(std::unique_ptr<VariableImp> field) {
  predictorView_.reserve(predictorView_.size() + 1);
  predictors_.push_back(std::move(field));
  predictorView_.push_back(predictors_.back().get());
  return *predictors_.back();
}

VariableImp& ModelMetadataImp::SetTarget(std::unique_ptr<VariableImp> field) {
  target_ = std::move(field);
  return *target_;
}

VariableImp& ModelMetadataImp::SetFrequencyWeight(std::unique_ptr<VariableImp> field) {
  frequencyWeight_ = std::move(field);
  return *frequencyWeight_;
}

VariableImp& ModelMetadataImp::SetCaseWeight(std::unique_ptr<VariableImp> field) {
  caseWeight_ = std::move(field);
  return *caseWeight_;
}

void ModelMetadataImp::SetVersion(const ArbTree::ArbVersionImp& version) { version_ = version; }

const VariableImp& ModelMetadataImp::GetPredictorImp(std::size_t i) const {
  return *predictors_.at(i);
}
const VariableImp* ModelMetadataImp::GetTargetImp() const { return target_.get(); }
const VariableImp* ModelMetadataImp::GetFrequencyWeightImp() const {
  return frequencyWeight_.get();
}
const VariableImp* ModelMetadataImp::GetCaseWeightImp() const { return caseWeight_.get(); }

}  // namespace mdt
