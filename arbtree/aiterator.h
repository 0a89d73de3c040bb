// Abstract forward iterator over host objects.
#pragma once

#include "arbtree/arbtree_export.h"

namespace ArbTree {

/// Iterator over objects of type T that it does not own.
template <class T>
class ARBTREE_API AIterator {
 public:
  virtual ~AIterator() = default;
  /// True when no object follows the current one.
  virtual bool AtEnd() const = 0;
  /// Moves to the next object and returns it; null at the end (position unchanged).
  virtual const T* Next() = 0;
  /// True while no object has been visited yet.
  virtual bool IsAtStart() const = 0;
};

}  // namespace ArbTree
