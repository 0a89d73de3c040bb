#include "imported/metadata/identity_encoder_imp.h"

#include <utility>

namespace mdt {

IdentityEncoderImp::IdentityEncoderImp(std::unique_ptr<MissingValuesImp> missing)
    : missing_(std::move(missing)) {}

IdentityEncoderImp::~IdentityEncoderImp() = default;

EncodingSets IdentityEncoderImp::Decode(double code) const {
  EncodingSets sets;
  sets.Add(
      std::make_unique<DiscreteValues>(std::vector<EncodingItem>{EncodingItem(Variant(code))}));
  return sets;
}

const MissingValues* IdentityEncoderImp::GetMissingValues() const { return missing_.get(); }

}  // namespace mdt
