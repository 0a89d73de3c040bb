#include "imported/metadata/encoding.h"

#include <utility>

namespace mdt {

EncodingItem::EncodingItem(Variant value, bool inclusive)
    : value_(std::move(value)), inclusive_(inclusive) {}

const Variant& EncodingItem::GetValue() const { return value_; }

bool EncodingItem::IsInclusive() const { return inclusive_; }

EncodingSet::EncodingSet(std::vector<EncodingItem> items) : items_(std::move(items)) {}

EncodingSet::~EncodingSet() = default;

std::vector<EncodingItem> EncodingSet::GetItems() const { return items_; }

Interval::Interval(EncodingItem left, EncodingItem right)
    : EncodingSet({std::move(left), std::move(right)}) {}

const EncodingItem& Interval::GetLeftEnd() const { return items_[0]; }

const EncodingItem& Interval::GetRightEnd() const { return items_[1]; }

std::unique_ptr<EncodingSet> Interval::Clone() const { return std::make_unique<Interval>(*this); }

std::unique_ptr<EncodingSet> CutPoints::Clone() const { return std::make_unique<CutPoints>(*this); }

std::unique_ptr<EncodingSet> DiscreteValues::Clone() const {
  return std::make_unique<DiscreteValues>(*this);
}

EncodingSets::EncodingSets() = default;

EncodingSets::EncodingSets(const EncodingSets& other) {
  sets_.reserve(other.sets_.size());
  for (const EncodingSet* set : other.sets_) sets_.push_back(set->Clone().release());
}

EncodingSets::EncodingSets(EncodingSets&& other) noexcept : sets_(std::move(other.sets_)) {
  other.sets_.clear();
}

EncodingSets& EncodingSets::operator=(EncodingSets other) noexcept {
  sets_.swap(other.sets_);
  return *this;
}

EncodingSets::~EncodingSets() {
  for (EncodingSet* set : sets_) delete set;
}

void EncodingSets::Add(std::unique_ptr<EncodingSet> set) {
  if (!set) return;
  sets_.reserve(sets_.size() + 1);  // so that push_back cannot throw after release
  sets_.push_back(set.release());
}

std::vector<Variant> EncodingSets::GetAllValues() const {
  std::vector<Variant> values;
  for (const EncodingSet* set : sets_) {
    if (dynamic_cast<const Interval*>(set) != nullptr) continue;
    for (const EncodingItem& item : set->GetItems()) values.push_back(item.GetValue());
  }
  return values;
}

std::vector<Interval> EncodingSets::GetAllIntervals() const {
  std::vector<Interval> intervals;
  for (const EncodingSet* set : sets_) {
    if (const auto* interval = dynamic_cast<const Interval*>(set)) intervals.push_back(*interval);
  }
  return intervals;
}

const std::vector<EncodingSet*>& EncodingSets::GetEncodingSetList() const { return sets_; }

}  // namespace mdt
