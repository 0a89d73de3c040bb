// Sets of predictor values that a split rule sends to one child.
#pragma once

#include "arbtree/arbtree_export.h"

namespace tree {

/// A set of predictor values; ordered (OValueSet) or nominal (NValueSet).
class ARBTREE_API ValueSet {
 public:
  virtual ~ValueSet() = default;
  /// Membership test.
  virtual bool Contains(double value) const = 0;
  /// True for a set of category codes.
  virtual bool IsNominal() const = 0;
};

/// Iterator over the integer category codes of a nominal value set.
class ARBTREE_API NValueSetIterator {
 public:
  virtual ~NValueSetIterator() = default;
  /// True while a code remains.
  virtual bool HasNext() const = 0;
  /// The next code.
  virtual int Next() = 0;
};

/// A set of integer category codes, implemented by the host.
class ARBTREE_API NValueSet : public ValueSet {
 public:
  bool IsNominal() const override { return true; }
  /// A new iterator over the codes; the caller releases it.
  virtual NValueSetIterator* CreateIterator() const = 0;
};

}  // namespace tree
