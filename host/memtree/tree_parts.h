// Plain values from which a tree is assembled: per-sample statistics and split rules.
#pragma once

#include <array>
#include <cfloat>
#include <cstddef>
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

/// A read-only run of values held by a tree: a pointer and a length.
template <class T>
class Span {
 public:
  Span() = default;
  Span(const T* data, std::size_t size) : data_(data), size_(size) {}
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  std::vector<T> ToVector() const { return std::vector<T>(begin(), end()); }

 private:
  const T* data_ = nullptr;
  std::size_t size_ = 0;
};

/// The values a held rule sends to one child, as ChildValues has them; the codes are the tree's.
struct ValuesView {
  ChildValues::Kind kind = ChildValues::Kind::kNone;
  Bounds bounds;    ///< kInterval
  Span<int> codes;  ///< kCodes, in the order given
  ChildValues ToValues() const;
};

namespace detail {
/// One child value set in a tree's flat storage; codes are a run of the tree's code array.
struct SetRecord {
  ChildValues::Kind kind = ChildValues::Kind::kNone;
  uint8_t flags = 0;  ///< kHasLow, kHasHigh, kLowOpen, kHighOpen
  uint32_t firstCode = 0;
  uint32_t codeCount = 0;
  double low = 0.0;
  double high = 0.0;
  static constexpr uint8_t kHasLow = 1, kHasHigh = 2, kLowOpen = 4, kHighOpen = 8;
};
/// One rule in a tree's flat storage; its value sets are a run of the tree's set array.
struct RuleRecord {
  int predictor = 0;
  int missingChild = -1;
  uint32_t kinds = 0;
  uint32_t statisticSet = 0;  ///< bit k: statistics[k] is given
  double statistics[4] = {0, 0, 0, 0};
  uint32_t firstSet = 0;
  uint32_t setCount = 0;
};
}  // namespace detail

/// A split rule as a tree holds it, with RuleSpec's members; children reads the tree's storage,
/// so the view lives no longer than its tree.
class RuleView {
 public:
  class Children {
   public:
    class Iterator {
     public:
      Iterator(const detail::SetRecord* set, const int* codes) : set_(set), codes_(codes) {}
      ValuesView operator*() const;
      Iterator& operator++() {
        ++set_;
        return *this;
      }
      bool operator!=(const Iterator& other) const { return set_ != other.set_; }

     private:
      const detail::SetRecord* set_;
      const int* codes_;
    };
    Children(const detail::SetRecord* sets, std::size_t size, const int* codes)
        : sets_(sets), size_(size), codes_(codes) {}
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    ValuesView operator[](std::size_t i) const { return *Iterator(sets_ + i, codes_); }
    Iterator begin() const { return Iterator(sets_, codes_); }
    Iterator end() const { return Iterator(sets_ + size_, codes_); }

   private:
    const detail::SetRecord* sets_;
    std::size_t size_;
    const int* codes_;
  };

  RuleView(const detail::RuleRecord& rule, const detail::SetRecord* sets, const int* codes);
  int predictor;
  Children children;
  int missingChild;
  std::array<std::optional<double>, 4> statistics;
  uint32_t kinds;
  /// A copy that owns its values.
  RuleSpec ToSpec() const;
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
