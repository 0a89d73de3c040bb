// Plain values from which a tree is assembled: per-sample statistics and split rules.
#pragma once

#include <array>
#include <cfloat>
#include <cstdint>
#include <optional>
#include <vector>

namespace memtree {

/// Class information of one node for one sample; category codes 0 to K-1.
struct ClassStats {
  int predicted = 0;
  std::vector<double> counts;         ///< one per category
  std::vector<double> proportions;    ///< 0 to 1; empty = counts divided by their sum
  std::vector<double> probabilities;  ///< negative = none; empty = none for every category
};

/// Regression information of one node for one sample.
struct RegressionStats {
  double mean = 0.0;
  double stdDev = -DBL_MAX;  ///< -DBL_MAX = none
  double prediction = 0.0;
  std::vector<double> distribution;
};

/// What one node knows about one data sample.
struct SampleStats {
  double count = 0.0;
  std::optional<double> totalCount;    ///< unset = count
  std::optional<ClassStats> cls;       ///< classification trees only
  std::optional<RegressionStats> reg;  ///< regression trees only
};

/// Bounds of an interval of predictor values; an absent bound leaves that side open-ended.
struct Bounds {
  std::optional<double> low;
  std::optional<double> high;
  bool lowOpen = false;
  bool highOpen = false;
};

/// The values a split rule sends to one child: nothing given, an interval or a list of codes.
struct ChildValues {
  enum class Kind { kNone, kInterval, kCodes };
  Kind kind = Kind::kNone;
  Bounds bounds;           ///< kInterval
  std::vector<int> codes;  ///< kCodes, in the order given

  static ChildValues None() { return ChildValues(); }
  static ChildValues Interval(Bounds b) {
    ChildValues v;
    v.kind = Kind::kInterval;
    v.bounds = b;
    return v;
  }
  static ChildValues Codes(std::vector<int> c) {
    ChildValues v;
    v.kind = Kind::kCodes;
    v.codes = std::move(c);
    return v;
  }
};

/// A primary or surrogate split rule.
struct RuleSpec {
  int predictor = 0;                  ///< index into the predictor list
  std::vector<ChildValues> children;  ///< one per child of the node
  int missingChild = -1;              ///< child for a missing value; -1 = none
  /// Statistic entries 0 to 3; a set entry turns on its entry bit (0x1 to 0x8).
  std::array<std::optional<double>, 4> statistics;
  uint32_t kinds = 0;  ///< what the entries hold: tree::stat::kImprovement and up
};

/// Range of one predictor at one node.
struct PredictorRange {
  int predictor = 0;
  double min = 0.0;
  double max = 0.0;
};

/// Risk of the tree on one sample.
struct RiskStats {
  double risk = 0.0;
  double stdError = 0.0;
};

}  // namespace memtree
