// The encoder of a field whose values are their own codes but which has user-missing values.
#pragma once

#include <memory>

#include "imported/metadata/arbtremd_export.h"
#include "imported/metadata/missing_values_imp.h"
#include "imported/metadata/model_metadata.h"

namespace mdt {

/// Decodes every code to itself, so that a field can carry missing values (which the readers
/// find only through an encoder) without its split values turning into empty texts.
class ARBTREMD_API IdentityEncoderImp : public Encoder {
 public:
  explicit IdentityEncoderImp(std::unique_ptr<MissingValuesImp> missing);
  ~IdentityEncoderImp() override;
  /// One DiscreteValues set holding the code as a number.
  EncodingSets Decode(double code) const override;
  const MissingValues* GetMissingValues() const override;

 private:
  std::unique_ptr<MissingValuesImp> missing_;
};

}  // namespace mdt
