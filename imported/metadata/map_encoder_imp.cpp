#include "imported/metadata/map_encoder_imp.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace mdt {

MapEncoderImp::MapEncoderImp() = default;

MapEncoderImp::~MapEncoderImp() = default;

bool MapEncoderImp::Add(int code, EncodingSets sources) {
  if (index_.count(code) != 0) return false;
  index_.emplace(code, entries_.size());
  entries_.emplace_back(code, std::move(sources));
  return true;
}

void MapEncoderImp::SetMissingValues(std::unique_ptr<MissingValuesImp> missing) {
  missing_ = std::move(missing);
}

EncodingSets MapEncoderImp::Decode(double code) const {
  // Codes are integers; a fractional or out-of-range number cannot name one.
  if (!(code >= INT_MIN && code <= INT_MAX) || std::floor(code) != code) return EncodingSets();
  const EncodingSets* sources = Find(static_cast<int>(code));
  return sources != nullptr ? *sources : EncodingSets();
}

const MissingValues* MapEncoderImp::GetMissingValues() const { return missing_.get(); }

std::vector<int> MapEncoderImp::EncodedValues() const {
  std::vector<int> codes;
  codes.reserve(entries_.size());
  for (const auto& entry : entries_) codes.push_back(entry.first);
  std::sort(codes.begin(), codes.end());
  return codes;
}

const EncodingSets* MapEncoderImp::Find(int code) const {
  auto it = index_.find(code);
  return it != index_.end() ? &entries_[it->second].second : nullptr;
}

std::size_t MapEncoderImp::Size() const { return entries_.size(); }

}  // namespace mdt
