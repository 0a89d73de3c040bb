// An encoder given as a table from codes to the source values they stand for.
#pragma once

#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "imported/metadata/arbtremd_export.h"
#include "imported/metadata/missing_values_imp.h"
#include "imported/metadata/model_metadata.h"

namespace mdt {

/// Code table of a categorical field.
///
/// Choices: EncodedValues lists the codes in ascending order, whatever order they were added in:
/// the codes of an ordinal field are its order, and documents that list an ordinal field's
/// categories must list them in that order for comparisons on them to mean what the splits mean;
/// Decode of a code that is not in the table, or of a number that is not an integer, returns empty
/// EncodingSets; a code may stand for any mix of discrete values and intervals.
class ARBTREMD_API MapEncoderImp : public MapEncoder {
 public:
  MapEncoderImp();
  ~MapEncoderImp() override;
  MapEncoderImp(const MapEncoderImp&) = delete;
  MapEncoderImp& operator=(const MapEncoderImp&) = delete;

  /// Adds code with its source values; false (and nothing changes) when the code is present.
  bool Add(int code, EncodingSets sources);
  /// Replaces the missing values; null removes them.
  void SetMissingValues(std::unique_ptr<MissingValuesImp> missing);

  EncodingSets Decode(double code) const override;
  const MissingValues* GetMissingValues() const override;
  std::vector<int> EncodedValues() const override;

  /// The source values of code, or null when the code is not in the table.
  const EncodingSets* Find(int code) const;
  /// Number of codes.
  std::size_t Size() const;

 private:
  std::vector<std::pair<int, EncodingSets>> entries_;
  std::unordered_map<int, std::size_t> index_;  // code -> position in entries_
  std::unique_ptr<MissingValuesImp> missing_;
};

}  // namespace mdt
