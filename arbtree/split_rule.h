// A split rule of a tree node: primary or surrogate.
#pragma once

#include <cstdint>

#include "arbtree/arbtree_export.h"
#include "arbtree/value_set.h"

namespace tree {

/// Statistic flag bits of a split rule.
namespace stat {
constexpr uint32_t kEntry0 = 0x1, kEntry1 = 0x2, kEntry2 = 0x4, kEntry3 = 0x8;
constexpr uint32_t kImprovement = 0x100, kF = 0x200, kChiSquare = 0x400, kLevenesF = 0x800;
constexpr uint32_t kAssociation = 0x1000, kPValue = 0x2000, kAdjPValue = 0x4000;
constexpr uint32_t kDf1 = 0x8000, kDf2 = 0x10000;
}  // namespace stat

/// A rule that sends each value of one predictor to one child. Without a body it has no value
/// sets, no statistics and missing-value child 0.
class ARBTREE_API SplitRule {
 public:
  virtual ~SplitRule() = default;
  /// Whether the rule carries its predictor data and statistics.
  virtual bool HasBody() const = 0;
  /// Index into the metadata's predictor list.
  virtual int GetPredictorIndex() const = 0;
  /// One value set per child.
  virtual int GetNumberOfChildValueSets() const = 0;
  /// A new copy of the values sent to child; the caller releases it. May be null.
  virtual ValueSet* GetChildValueSet(int child) const = 0;
  /// The child that receives records whose predictor value is missing.
  virtual int GetMissingValueChild() const = 0;
  /// Statistic entry k, 0 to 3.
  virtual double GetStatistic(int k) const = 0;
  /// Which entries are set (0x1..0x8) and what they hold (0x100 and up).
  virtual uint32_t GetStatisticFlags() const = 0;
};

}  // namespace tree
