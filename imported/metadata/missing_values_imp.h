// A field's user-missing values and ranges, held as encoding sets.
#pragma once

#include "imported/metadata/arbtremd_export.h"
#include "imported/metadata/model_metadata.h"

namespace mdt {

/// User-missing values: discrete-value sets and intervals, in the order they were given.
class ARBTREMD_API MissingValuesImp : public MissingValues {
 public:
  MissingValuesImp();
  explicit MissingValuesImp(EncodingSets sets);
  ~MissingValuesImp() override;
  const EncodingSets& GetEncodingSets() const override;
  /// Appends one set (a DiscreteValues list or an Interval); null is ignored.
  void Add(std::unique_ptr<EncodingSet> set);

 private:
  EncodingSets sets_;
};

}  // namespace mdt
