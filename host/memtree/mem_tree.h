// A fitted tree held in memory: nodes in one flat vector, children referred to by index.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "arbtree/arb_version.h"
#include "arbtree/tree_algorithm_base.h"
#include "host/memtree/tree_parts.h"

namespace memtree {

class MemTree;
class TreeBuilder;

/// Class information of one node for one sample.
class MemClsInfo final : public tree::ClsInfo {
 public:
  explicit MemClsInfo(ClassStats stats);
  int GetPredictedCategory() const override;
  /// 0 for a code outside 0 to K-1, as for every per-category query below.
  double GetCategoryCount(int code) const override;
  double GetCategoryProportion(int code) const override;
  /// -1 (none) for a code outside 0 to K-1.
  double GetCategoryProbability(int code) const override;
  int GetNumberOfCategories() const override;
  /// The numbers as held, proportions and probabilities filled in.
  const ClassStats& Stats() const { return stats_; }

 private:
  ClassStats stats_;
};

/// Regression information of one node for one sample.
class MemRegInfo final : public tree::RegInfo {
 public:
  explicit MemRegInfo(RegressionStats stats);
  double GetMean() const override;
  double GetStdDeviation() const override;
  double GetPrediction() const override;
  int GetDistributionSize() const override;
  /// 0 for an entry outside the distribution.
  double GetDistributionCount(int i) const override;
  const RegressionStats& Stats() const { return stats_; }

 private:
  RegressionStats stats_;
};

/// One node; lives inside its MemTree and answers through it.
class MemNode final : public tree::Node {
 public:
  const tree::Node* GetParent() const override;
  int GetNumberOfChildren() const override;
  /// Null for an index outside 0 to GetNumberOfChildren()-1.
  const tree::Node* GetChild(int i) const override;
  int GetNumberOfSplits() const override;
  /// -1 when the node has no biggest child: a record that no rule decides stops here.
  int GetBiggestChild() const override;
  /// A new copy of the primary rule (only i = 0 exists); null otherwise.
  tree::SplitRule* GetSplit(int i) const override;
  int GetNumberOfSurrogates() const override;
  tree::SplitRule* GetSurrogate(int i) const override;
  unsigned GetId() const override;
  /// 0 for a sample the tree does not hold.
  double GetCount(tree::DataSample sample) const override;
  double GetTotalCount(tree::DataSample sample) const override;
  /// Leaves min and max alone when the node holds no range for the predictor.
  void GetPredictorRange(int predictor, double& min, double& max) const override;
  const tree::ClsInfo* GetClsInfo(tree::DataSample sample) const override;
  const tree::RegInfo* GetRegInfo(tree::DataSample sample) const override;

  /// Position in the tree's node vector (0 = root); -1 for the root's parent.
  std::ptrdiff_t GetIndex() const { return index_; }
  std::ptrdiff_t GetParentIndex() const { return parent_; }
  const std::vector<std::ptrdiff_t>& GetChildIndices() const { return children_; }
  /// The primary rule, or null for a leaf.
  const RuleSpec* GetSplitSpec() const { return split_ ? &*split_ : nullptr; }
  const std::vector<RuleSpec>& GetSurrogateSpecs() const { return surrogates_; }
  const std::vector<PredictorRange>& GetPredictorRanges() const { return ranges_; }
  /// Class and regression information for sample (null when absent), as held.
  const MemClsInfo* GetClsStats(int sample) const;
  const MemRegInfo* GetRegStats(int sample) const;

 private:
  friend class TreeBuilder;
  friend class MemTree;
  struct Sample {
    double count = 0.0;
    double totalCount = 0.0;
    std::optional<MemClsInfo> cls;
    std::optional<MemRegInfo> reg;
  };
  const Sample* FindSample(int sample) const;

  const MemTree* tree_ = nullptr;
  std::ptrdiff_t index_ = 0;
  std::ptrdiff_t parent_ = -1;
  std::vector<std::ptrdiff_t> children_;
  int biggestChild_ = 0;
  bool noBiggestChild_ = false;  // set by TreeBuilder::SetNoBiggestChild
  unsigned id_ = 0;
  std::vector<std::optional<Sample>> samples_;  // by sample number; all set once built
  std::optional<RuleSpec> split_;
  std::vector<RuleSpec> surrogates_;
  std::vector<PredictorRange> ranges_;
};

/// The in-memory fitted tree. Made by TreeBuilder; neither copied nor moved, since its nodes
/// point back at it.
class MemTree final : public tree::TreeAlgorithmBase {
 public:
  MemTree(const MemTree&) = delete;
  MemTree& operator=(const MemTree&) = delete;
  ~MemTree() override;

  const tree::Node* GetRoot() const override;
  bool IsClassification() const override;
  /// CCartSettings for algorithm types 0 and 1, CChaidSettingsImp for 2 and 3, QuestSettings for
  /// 4 and plain settings otherwise; priors come as a tree::PriorsImp.
  tree::AlgSettings* CreateSettings() const override;
  /// Severity 1 (code 10005) for a sample without a risk; otherwise a body with the risk.
  ArbTree::ArbStatus ComputeTreeStatistics(tree::DataSample sample,
                                           tree::TreeStatistics& stats) const override;
  const ArbTree::ArbVersion& GetVersion() const override;

  /// The id of the leaf that a record of predictor codes reaches (nullopt or NaN = missing).
  /// At each node the primary rule decides, then each surrogate in order, then the biggest child
  /// (a node without one is where the record stops);
  /// a rule decides a missing value only when it has a missing-value child, and a present value
  /// only when one child's set holds it. A record shorter than the predictor list counts the
  /// absent predictors as missing.
  int Route(const std::vector<std::optional<double>>& record) const;

  std::size_t GetNumberOfNodes() const { return nodes_.size(); }
  /// Node at a position of the node vector: parents come before their children.
  const MemNode& GetNode(std::size_t index) const { return nodes_[index]; }
  int GetAlgorithmType() const { return algorithmType_; }
  /// Measurement level of each predictor: 0 nominal, 1 ordinal, else continuous.
  const std::vector<int>& GetPredictorLevels() const { return predictorLevels_; }
  /// K of a classification tree, 0 for regression.
  int GetNumberOfCategories() const { return numberOfCategories_; }
  /// How many data samples every node holds (sample numbers 0 to this - 1).
  int GetNumberOfSamples() const { return numberOfSamples_; }
  const std::optional<std::vector<double>>& GetPriors() const { return priors_; }
  std::optional<RiskStats> GetRisk(int sample) const;
  tree::DataSample GetRiskSample() const { return riskSample_; }
  /// Edges on the longest path from the root to a leaf.
  std::size_t GetDepth() const;
  std::size_t GetNumberOfLeaves() const;

 private:
  friend class TreeBuilder;
  friend class MemNode;
  MemTree();

  bool classification_ = true;
  int algorithmType_ = 0;
  std::vector<int> predictorLevels_;
  int numberOfCategories_ = 0;
  int numberOfSamples_ = 1;
  std::optional<std::vector<double>> priors_;
  std::vector<std::optional<RiskStats>> risks_;  // by sample number
  tree::DataSample riskSample_ = tree::TRAINING_SAMPLE;
  ArbTree::ArbVersionImp version_;
  std::vector<MemNode> nodes_;
};

/// The tree component's default version record.
const ArbTree::ArbVersionImp& MemTreeVersion();

}  // namespace memtree
