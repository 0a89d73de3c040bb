// What a code stands for: sets of source values (intervals, cut points, discrete values).
#pragma once

#include <memory>
#include <vector>

#include "imported/metadata/arbtremd_export.h"
#include "imported/metadata/variant.h"

namespace mdt {

/// One end or member of an encoding set.
class ARBTREMD_API EncodingItem {
 public:
  explicit EncodingItem(Variant value, bool inclusive = true);
  const Variant& GetValue() const;
  /// The end belongs to the range.
  bool IsInclusive() const;

 private:
  Variant value_;
  bool inclusive_;
};

/// A set of source values; its dynamic type tells its kind.
class ARBTREMD_API EncodingSet {
 public:
  explicit EncodingSet(std::vector<EncodingItem> items);
  virtual ~EncodingSet();
  std::vector<EncodingItem> GetItems() const;
  /// A copy of the same kind.
  virtual std::unique_ptr<EncodingSet> Clone() const = 0;

 protected:
  std::vector<EncodingItem> items_;
};

/// A range of values: items are the left end, then the right end.
class ARBTREMD_API Interval : public EncodingSet {
 public:
  Interval(EncodingItem left, EncodingItem right);
  const EncodingItem& GetLeftEnd() const;
  const EncodingItem& GetRightEnd() const;
  std::unique_ptr<EncodingSet> Clone() const override;
};

/// Cut points between ranges.
class ARBTREMD_API CutPoints : public EncodingSet {
 public:
  using EncodingSet::EncodingSet;
  std::unique_ptr<EncodingSet> Clone() const override;
};

/// A list of single values.
class ARBTREMD_API DiscreteValues : public EncodingSet {
 public:
  using EncodingSet::EncodingSet;
  std::unique_ptr<EncodingSet> Clone() const override;
};

/// An owning, ordered list of encoding sets, held by value.
class ARBTREMD_API EncodingSets {
 public:
  EncodingSets();
  EncodingSets(const EncodingSets& other);
  EncodingSets(EncodingSets&& other) noexcept;
  EncodingSets& operator=(EncodingSets other) noexcept;
  ~EncodingSets();
  /// Appends a set; the list takes ownership.
  void Add(std::unique_ptr<EncodingSet> set);
  /// The values of every discrete-value and cut-point set, in order.
  std::vector<Variant> GetAllValues() const;
  /// Every interval, in order.
  std::vector<Interval> GetAllIntervals() const;
  const std::vector<EncodingSet*>& GetEncodingSetList() const;

 private:
  std::vector<EncodingSet*> sets_;  // owned
};

}  // namespace mdt
