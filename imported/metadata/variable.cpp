#include "imported/metadata/variable.h"

#include "imported/metadata/model_metadata.h"

namespace mdt {

Variable::Variable(std::string name, global::MeasurementLevel level, global::StorageType storage)
    : name_(std::move(name)), level_(level), storage_(storage) {}

Variable::Variable(const Variable&) = default;
Variable::Variable(Variable&&) noexcept = default;
Variable& Variable::operator=(const Variable&) = default;
Variable& Variable::operator=(Variable&&) noexcept = default;
Variable::~Variable() = default;

const std::string& Variable::GetName() const { return name_; }
const std::string& Variable::GetLabel() const { return label_; }
global::MeasurementLevel Variable::GetMeasurementLevel() const { return level_; }
global::StorageType Variable::GetStorageType() const { return storage_; }
bool Variable::IsDate() const { return isDate_; }
const Encoder* Variable::GetEncoding() const { return encoder_.get(); }

std::string Variable::GetValueLabel(const Variant& value) const {
  // Variant equality compares the type first, which is the matching rule documented above.
  for (const auto& entry : valueLabels_) {
    if (entry.first == value) return entry.second;
  }
  return std::string();
}

void Variable::SetLabel(std::string label) { label_ = std::move(label); }
void Variable::SetDate(bool isDate) { isDate_ = isDate; }
void Variable::SetEncoder(std::shared_ptr<const Encoder> encoder) { encoder_ = std::move(encoder); }

void Variable::SetValueLabel(Variant value, std::string label) {
  for (auto& entry : valueLabels_) {
    if (entry.first == value) {
      entry.second = std::move(label);
      return;
    }
  }
  valueLabels_.emplace_back(std::move(value), std::move(label));
}

const std::vector<std::pair<Variant, std::string>>& Variable::GetValueLabels() const {
  return valueLabels_;
}

}  // namespace mdt
