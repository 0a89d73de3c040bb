#include "model/ovalue_set.h"

#include <cmath>

namespace tree {

namespace {

constexpr double kTolerance = 1e-12;

bool Has(uint32_t flags, uint32_t bit) { return (flags & bit) != 0; }

void Assign(uint32_t& flags, uint32_t bit, bool on) {
  if (on) {
    flags |= bit;
  } else {
    flags &= ~bit;
  }
}

}  // namespace

bool OValueSetImp::Contains(double value) const {
  if (Has(lowFlags, kPresent)) {
    // A value within the tolerance of an open end counts as the end itself.
    if (Has(lowFlags, kOpen) ? value <= low + kTolerance : value < low - kTolerance) return false;
  }
  if (Has(highFlags, kPresent)) {
    if (Has(highFlags, kOpen) ? value >= high - kTolerance : value > high + kTolerance)
      return false;
  }
  return true;
}

OValueSetImp::~OValueSetImp() = default;

OValueSet::OValueSet() = default;

OValueSet::OValueSet(const OValueSet& other) : ValueSet(other) {
  imp_.low = other.imp_.low;
  imp_.high = other.imp_.high;
  imp_.lowFlags = other.imp_.lowFlags;
  imp_.highFlags = other.imp_.highFlags;
}

OValueSet& OValueSet::operator=(const OValueSet& other) {
  if (this != &other) {
    imp_.low = other.imp_.low;
    imp_.high = other.imp_.high;
    imp_.lowFlags = other.imp_.lowFlags;
    imp_.highFlags = other.imp_.highFlags;
  }
  return *this;
}

OValueSet::~OValueSet() = default;

bool OValueSet::Contains(double value) const { return imp_.Contains(value); }

bool OValueSet::IsNominal() const { return false; }

bool OValueSet::LessThan(const OValueSet& other) const {
  if (!HasLow()) return other.HasLow();
  if (!other.HasLow()) return false;
  return GetLow() < other.GetLow();
}

bool OValueSet::LowEquals(const OValueSet& other) const {
  if (!HasLow() && !other.HasLow()) return true;
  return GetLow() == other.GetLow();
}

double OValueSet::GetLow() const { return imp_.low; }
double OValueSet::GetHigh() const { return imp_.high; }
bool OValueSet::IsLowOpen() const { return Has(imp_.lowFlags, OValueSetImp::kOpen); }
bool OValueSet::IsHighOpen() const { return Has(imp_.highFlags, OValueSetImp::kOpen); }
bool OValueSet::HasLow() const { return Has(imp_.lowFlags, OValueSetImp::kPresent); }
bool OValueSet::HasHigh() const { return Has(imp_.highFlags, OValueSetImp::kPresent); }

bool OValueSet::IsEmpty() const {
  return HasLow() && HasHigh() && std::fabs(GetHigh() - GetLow()) <= kTolerance &&
         (IsLowOpen() || IsHighOpen());
}

void OValueSet::SetLow(double value) {
  imp_.low = value;
  imp_.lowFlags |= OValueSetImp::kPresent;
}

void OValueSet::SetHigh(double value) {
  imp_.high = value;
  imp_.highFlags |= OValueSetImp::kPresent;
}

void OValueSet::SetLowOpen(bool open) { Assign(imp_.lowFlags, OValueSetImp::kOpen, open); }
void OValueSet::SetHighOpen(bool open) { Assign(imp_.highFlags, OValueSetImp::kOpen, open); }

void OValueSet::SetHasLow(bool present) {
  Assign(imp_.lowFlags, OValueSetImp::kPresent, present);
  if (!present) imp_.low = imp_.high;
}

void OValueSet::SetHasHigh(bool present) {
  Assign(imp_.highFlags, OValueSetImp::kPresent, present);
  if (!present) imp_.high = imp_.low;
}

void OValueSet::SetEmpty() {
  imp_.low = 0.0;
  imp_.high = 0.0;
  imp_.lowFlags |= OValueSetImp::kPresent | OValueSetImp::kOpen;
  imp_.highFlags |= OValueSetImp::kPresent;
}

}  // namespace tree
