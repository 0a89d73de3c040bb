#include "imported/metadata/missing_values_imp.h"

#include <utility>

namespace mdt {

MissingValuesImp::MissingValuesImp() = default;

MissingValuesImp::MissingValuesImp(EncodingSets sets) : sets_(std::move(sets)) {}

MissingValuesImp::~MissingValuesImp() = default;

const EncodingSets& MissingValuesImp::GetEncodingSets() const { return sets_; }

void MissingValuesImp::Add(std::unique_ptr<EncodingSet> set) { sets_.Add(std::move(set)); }

}  // namespace mdt
