// Ordered value set: an interval with optional, open or closed bounds.
#pragma once

#include <cstdint>

#include "arbtree/value_set.h"
#include "version/arbtrexm_export.h"

namespace tree {

/// The four fields of an ordered set. Flag bit 0 = bound open, bit 1 = bound present.
class ARBTREXM_API OValueSetImp {
 public:
  static constexpr uint32_t kOpen = 0x1;
  static constexpr uint32_t kPresent = 0x2;
  /// Membership with a tolerance of 1e-12 at each present bound.
  virtual bool Contains(double value) const;
  virtual ~OValueSetImp();

  double low = 0.0;
  double high = 0.0;
  uint32_t lowFlags = 0;
  uint32_t highFlags = 0;
};

/// An interval of predictor values; unbounded on a side whose bound is absent.
class ARBTREXM_API OValueSet : public ValueSet {
 public:
  /// The set unbounded on both sides.
  OValueSet();
  OValueSet(const OValueSet& other);
  OValueSet& operator=(const OValueSet& other);
  ~OValueSet() override;

  bool Contains(double value) const override;
  bool IsNominal() const override;
  /// Ordering by lower bound; a set without one sorts first.
  virtual bool LessThan(const OValueSet& other) const;
  /// True when neither has a lower bound, or both stored lows are equal.
  virtual bool LowEquals(const OValueSet& other) const;
  virtual double GetLow() const;
  virtual double GetHigh() const;
  virtual bool IsLowOpen() const;
  virtual bool IsHighOpen() const;
  virtual bool HasLow() const;
  virtual bool HasHigh() const;
  /// True when both bounds are present, equal within 1e-12, and one is open.
  virtual bool IsEmpty() const;
  virtual void SetLow(double value);
  virtual void SetHigh(double value);
  virtual void SetLowOpen(bool open);
  virtual void SetHighOpen(bool open);
  /// false removes the lower bound and sets low = high.
  virtual void SetHasLow(bool present);
  /// false removes the upper bound and sets high = low.
  virtual void SetHasHigh(bool present);
  /// Makes the set (0, 0] or (0, 0): both bounds present, lower open.
  virtual void SetEmpty();

 private:
  OValueSetImp imp_;  // held inline: a set is one allocation when a host hands one out
};

}  // namespace tree
