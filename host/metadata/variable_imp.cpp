#include "host/metadata/variable_imp.h"

namespace mdt {

VariableImp::VariableImp(std::string name, global::MeasurementLevel level,
                         global::StorageType storage)
    : name_(std::move(name)), level_(level), storage_(storage) {}

VariableImp::~VariableImp() = default;

const std::string& VariableImp::GetName() const { return name_; }
const std::string& VariableImp::GetLabel() const { return label_; }
global::MeasurementLevel VariableImp::GetMeasurementLevel() const { return level_; }
global::StorageType VariableImp::GetStorageType() const { return storage_; }
bool VariableImp::IsDate() const { return isDate_; }
const Encoder* VariableImp::GetEncoding() const { return encoder_.get(); }

std::string VariableImp::GetValueLabel(const Variant& value) const {
  // Variant equality compares the type first, which is the matching rule documented above.
  for (const auto& entry : valueLabels_) {
    if (entry.first == value) return entry.second;
  }
  return std::string();
}

void VariableImp::SetLabel(std::string label) { label_ = std::move(label); }
void VariableImp::SetDate(bool isDate) { isDate_ = isDate; }
void VariableImp::SetEncoder(std::unique_ptr<Encoder> encoder) { encoder_ = std::move(encoder); }

void VariableImp::SetValueLabel(Variant value, std::string label) {
  for (auto& entry : valueLabels_) {
    if (entry.first == value) {
      entry.second = std::move(label);
      return;
    }
  }
  valueLabels_.emplace_back(std::move(value), std::move(label));
}

void VariableImp::SetValueLabels(std::vector<std::pair<Variant, std::string>> labels) {
  valueLabels_ = std::move(labels);
}

const std::vector<std::pair<Variant, std::string>>& VariableImp::GetValueLabels() const {
  return valueLabels_;
}

}  // namespace mdt
