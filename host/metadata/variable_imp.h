// A field of the model as the metadata library holds it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/metadata/arbtremd_export.h"
#include "model/model_metadata.h"

namespace mdt {

/// A field: name, label, level, storage, date flag, optional encoder and value labels.
///
/// Choices: a value label matches only a value of the same variant type and the same value (the
/// number 1 and the text "1" are different values); giving a label for a value that already has
/// one replaces it in place, keeping the first position.
class ARBTREMD_API VariableImp : public Variable {
 public:
  VariableImp(std::string name, global::MeasurementLevel level, global::StorageType storage);
  ~VariableImp() override;
  VariableImp(const VariableImp&) = delete;
  VariableImp& operator=(const VariableImp&) = delete;

  const std::string& GetName() const override;
  const std::string& GetLabel() const override;
  global::MeasurementLevel GetMeasurementLevel() const override;
  global::StorageType GetStorageType() const override;
  bool IsDate() const override;
  const Encoder* GetEncoding() const override;
  std::string GetValueLabel(const Variant& value) const override;

  void SetLabel(std::string label);
  void SetDate(bool isDate);
  /// Replaces the encoder; null means the values are the codes.
  void SetEncoder(std::unique_ptr<Encoder> encoder);
  /// Sets the label of value (replacing an earlier one for an equal value).
  void SetValueLabel(Variant value, std::string label);
  /// Replaces every value label at once, in the order given; the values must be distinct (a
  /// reader that has checked them saves SetValueLabel's search for each).
  void SetValueLabels(std::vector<std::pair<Variant, std::string>> labels);
  /// Every labelled value with its label, in the order first given.
  const std::vector<std::pair<Variant, std::string>>& GetValueLabels() const;

 private:
  std::string name_;
  std::string label_;
  global::MeasurementLevel level_;
  global::StorageType storage_;
  bool isDate_ = false;
  std::unique_ptr<Encoder> encoder_;
  std::vector<std::pair<Variant, std::string>> valueLabels_;
};

}  // namespace mdt
