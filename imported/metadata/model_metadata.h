// The field metadata of a model: the interfaces a host implements or uses, and the field type.
#pragma once

#include <string>
#include <vector>

#include "arbtree/arb_version.h"
#include "imported/metadata/arbtremd_export.h"
#include "imported/metadata/encoding.h"
#include "imported/metadata/measurement.h"
#include "imported/metadata/variable.h"
#include "imported/metadata/variant.h"

namespace mdt {

/// A field's user-missing values and ranges.
class ARBTREMD_API MissingValues {
 public:
  virtual ~MissingValues() = default;
  virtual const EncodingSets& GetEncodingSets() const = 0;
};

/// Maps a field's source values to the codes the tree works on.
class ARBTREMD_API Encoder {
 public:
  virtual ~Encoder() = default;
  /// The sets of source values that carry code; empty for an unknown code.
  virtual EncodingSets Decode(double code) const = 0;
  /// Null when the field has no missing values.
  virtual const MissingValues* GetMissingValues() const = 0;
};

/// An encoder that lists all its codes.
class ARBTREMD_API MapEncoder : public Encoder {
 public:
  /// Every code, in the encoder's own order.
  virtual std::vector<int> EncodedValues() const = 0;
};

/// The fields of a model: predictors, target and optional weights.
class ARBTREMD_API ModelMetadata {
 public:
  virtual ~ModelMetadata() = default;
  virtual const Variable* GetTarget() const = 0;
  virtual const std::vector<Variable>* GetPredictors() const = 0;
  /// Null = none.
  virtual const Variable* GetFrequencyWeight() const = 0;
  /// Null = none.
  virtual const Variable* GetCaseWeight() const = 0;
  /// The metadata component's version.
  virtual const ArbTree::ArbVersion& GetVersion() const = 0;
};

}  // namespace mdt
