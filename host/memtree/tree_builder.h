// Assembling a MemTree in code, with every piece checked as it is given.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/memtree/mem_tree.h"
#include "host/memtree/model_error.h"
#include "host/memtree/tree_parts.h"

namespace memtree {

/// What a tree is about, fixed before its first node.
struct TreeShape {
  bool classification = true;
  /// 0, 1 C&RT; 2, 3 CHAID; 4 QUEST; other codes are kept as they are.
  int algorithmType = 0;
  /// One per predictor: 0 nominal (splits give code lists), 1 ordinal, else continuous
  /// (splits give intervals).
  std::vector<int> predictorLevels;
  /// K, the number of target categories; classification only (at least 1).
  int numberOfCategories = 0;
  /// How many data samples every node carries: 1 (training) or more (1 = test).
  int numberOfSamples = 1;
};

/// Builds a tree node by node. Every call checks what it is given and throws ModelError naming
/// the node and the problem; Build checks what only the whole tree can tell. Nodes are named by
/// the handle AddRoot or AddChild returns.
class TreeBuilder {
 public:
  using Handle = std::size_t;

  /// Throws when the shape is inconsistent (no samples, a classification tree without categories).
  explicit TreeBuilder(TreeShape shape);
  ~TreeBuilder();

  /// Priors, one per target category; only for algorithm types 1, 3 and 4.
  void SetPriors(std::vector<double> priors);
  void SetRisk(int sample, RiskStats risk);
  /// The sample the risk estimation names; defaults to 0.
  void SetRiskSample(int sample);
  void SetVersion(const ArbTree::ArbVersionImp& version);

  Handle AddRoot(unsigned id);
  /// Appends a child to parent's children.
  Handle AddChild(Handle parent, unsigned id);
  void SetSample(Handle node, int sample, SampleStats stats);
  /// The node's primary rule; it needs one value set per child once Build runs.
  void SetSplit(Handle node, RuleSpec rule);
  void AddSurrogate(Handle node, RuleSpec rule);
  void SetPredictorRange(Handle node, PredictorRange range);
  /// The node has no biggest child (its children tie): a record that no rule decides stops at
  /// it. Build refuses it on a leaf.
  void SetNoBiggestChild(Handle node);

  /// Checks the whole tree and hands it over; the builder is empty afterwards.
  std::unique_ptr<MemTree> Build();

  /// For a reader that has checked every part itself (the model file loader): appends a node's
  /// parts to the tree's flat storage, in any order, as the next slot. samples holds one entry
  /// per sample; split is null for a leaf. Not to be mixed with AddRoot and AddChild.
  void AppendChecked(unsigned id, const SampleStats* samples, const RuleSpec* split,
                     const RuleSpec* surrogates, std::size_t surrogateCount,
                     const PredictorRange* ranges, std::size_t rangeCount, bool noBiggestChild);
  /// Makes room for nodes appended nodes in all, each taking as much as those so far on average.
  void Reserve(std::size_t nodes);
  /// Puts the appended slots in order (order: slots, parents before their children) and links
  /// them: a slot's children are childSlots[childStart[slot]] to childSlots[childStart[slot+1]-1].
  /// Build then hands the tree over.
  void LinkChecked(const std::vector<uint32_t>& order, const std::vector<uint32_t>& childStart,
                   const std::vector<uint32_t>& childSlots);

 private:
  struct Pending;
  Pending& NodeAt(Handle node, const char* operation);
  void CheckRule(const Pending& node, const RuleSpec& rule, const std::string& what) const;
  [[noreturn]] void Fail(const Pending& node, const std::string& message) const;

  std::unique_ptr<MemTree> tree_;
  std::vector<Pending> pending_;  // nodes given by AddRoot and AddChild, by handle
  std::unordered_map<unsigned, Handle> ids_;
  bool linked_ = false;
};

/// Checks shared by the builder and the model file reader; each returns the problem in words, or
/// the empty text when there is none.
namespace check {
/// NaN, infinity and low above high.
std::string Bounds(const memtree::Bounds& bounds);
/// Whether a value set suits a predictor of level (0 nominal, else ordered).
std::string FitsLevel(const ChildValues& values, int level);
/// Sizes, codes and ranges of a node's class information for a tree of K categories.
std::string Class(const ClassStats& stats, int numberOfCategories);
std::string Regression(const RegressionStats& stats);
/// Duplicate codes within a rule (a code sent to two children) and the missing-value child.
std::string Rule(const RuleSpec& rule);
/// A count: finite and not negative.
std::string Count(double value);
}  // namespace check

}  // namespace memtree
