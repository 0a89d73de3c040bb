// The host's field metadata, read through these interfaces.
#pragma once

#include <string>
#include <vector>

#include "model/encoding.h"
#include "model/measurement.h"
#include "model/variant.h"
#include "version/arb_version.h"

namespace mdt {

/// A field's user-missing values and ranges.
class MissingValues {
 public:
  virtual ~MissingValues() = default;
  virtual const EncodingSets& GetEncodingSets() const = 0;
};

/// Maps a field's source values to the codes the tree works on.
class Encoder {
 public:
  virtual ~Encoder() = default;
  /// The sets of source values that carry code; empty for an unknown code.
  virtual EncodingSets Decode(double code) const = 0;
  /// Null when the field has no missing values.
  virtual const MissingValues* GetMissingValues() const = 0;
};

/// An encoder that lists all its codes.
class MapEncoder : public Encoder {
 public:
  /// Every code, in the encoder's own order.
  virtual std::vector<int> EncodedValues() const = 0;
};

/// A field of the model.
class Variable {
 public:
  virtual ~Variable() = default;
  virtual const std::string& GetName() const = 0;
  /// May be empty.
  virtual const std::string& GetLabel() const = 0;
  virtual global::MeasurementLevel GetMeasurementLevel() const = 0;
  virtual global::StorageType GetStorageType() const = 0;
  /// A numeric field that holds dates.
  virtual bool IsDate() const = 0;
  /// Null when the values are the codes.
  virtual const Encoder* GetEncoding() const = 0;
  /// Empty when the value has no label.
  virtual std::string GetValueLabel(const Variant& value) const = 0;
};

/// The fields of a model: predictors, target and optional weights.
class ModelMetadata {
 public:
  virtual ~ModelMetadata() = default;
  virtual const Variable* GetTarget() const = 0;
  virtual const std::vector<const Variable*>* GetPredictors() const = 0;
  /// Null = none.
  virtual const Variable* GetFrequencyWeight() const = 0;
  /// Null = none.
  virtual const Variable* GetCaseWeight() const = 0;
  /// The metadata component's version.
  virtual const ArbTree::ArbVersion& GetVersion() const = 0;
};

}  // namespace mdt
