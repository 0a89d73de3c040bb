// A field of the model as the metadata library holds it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "imported/metadata/arbtremd_export.h"
#include "imported/metadata/encoding.h"
#include "imported/metadata/measurement.h"
#include "imported/metadata/variant.h"

namespace mdt {

class Encoder;

/// A field: name, label, level, storage, date flag, optional encoder and value labels.
///
/// A value type: copies share the (immutable) encoder. Choices: a value label matches only a
/// value of the same variant type and the same value (the number 1 and the text "1" are
/// different values); giving a label for a value that already has one replaces it in place,
/// keeping the first position.
class ARBTREMD_API Variable {
 public:
  Variable(std::string name, global::MeasurementLevel level, global::StorageType storage);
  Variable(const Variable&);
  Variable(Variable&&) noexcept;
  Variable& operator=(const Variable&);
  Variable& operator=(Variable&&) noexcept;
  ~Variable();

  /// The field's name.
  const std::string& GetName() const;
  /// May be empty.
  const std::string& GetLabel() const;
  /// 0 nominal, 1 ordinal, 2 continuous; other values occur.
  global::MeasurementLevel GetMeasurementLevel() const;
  /// 0 numeric, 1 string; other values occur.
  global::StorageType GetStorageType() const;
  /// A numeric field that holds dates.
  bool IsDate() const;
  /// Null when the values are the codes.
  const Encoder* GetEncoding() const;
  /// Empty when the value has no label.
  std::string GetValueLabel(const Variant& value) const;

  /// Replaces the label.
  void SetLabel(std::string label);
  /// Marks a numeric field as holding dates.
  void SetDate(bool isDate);
  /// Replaces the encoder; null means the values are the codes.
  void SetEncoder(std::shared_ptr<const Encoder> encoder);
  /// Sets the label of value (replacing an earlier one for an equal value).
  void SetValueLabel(Variant value, std::string label);
  /// Every labelled value with its label, in the order first given.
  const std::vector<std::pair<Variant, std::string>>& GetValueLabels() const;

 private:
  std::string name_;
  std::string label_;
  global::MeasurementLevel level_;
  global::StorageType storage_;
  bool isDate_ = false;
  std::shared_ptr<const Encoder> encoder_;
  std::vector<std::pair<Variant, std::string>> valueLabels_;
};

}  // namespace mdt
