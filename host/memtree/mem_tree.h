// A fitted tree held in memory: nodes in one flat vector, children referred to by index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "arbtree/arb_version.h"
#include "arbtree/tree_algorithm_base.h"
#include "host/memtree/tree_parts.h"

namespace memtree {

class MemTree;
class TreeBuilder;

/// Class information of one node for one sample: a view of the tree's flat storage.
class MemClsInfo final : public tree::ClsInfo {
 public:
  int GetPredictedCategory() const override;
  /// 0 for a code outside 0 to K-1, as for every per-category query below.
  double GetCategoryCount(int code) const override;
  double GetCategoryProportion(int code) const override;
  /// -1 (none) for a code outside 0 to K-1.
  double GetCategoryProbability(int code) const override;
  int GetNumberOfCategories() const override;
  /// The numbers as held, proportions and probabilities filled in.
  ClassStats Stats() const;

 private:
  friend class TreeBuilder;
  const double* values_ = nullptr;  // K counts, K proportions, K probabilities
  uint32_t first_ = 0;              // where values_ starts in the tree's number array
  int predicted_ = 0;
  int categories_ = 0;
};

/// Regression information of one node for one sample: a view of the tree's flat storage.
class MemRegInfo final : public tree::RegInfo {
 public:
  double GetMean() const override;
  double GetStdDeviation() const override;
  double GetPrediction() const override;
  int GetDistributionSize() const override;
  /// 0 for an entry outside the distribution.
  double GetDistributionCount(int i) const override;
  RegressionStats Stats() const;

 private:
  friend class TreeBuilder;
  const double* distribution_ = nullptr;
  uint32_t first_ = 0;
  uint32_t size_ = 0;
  double mean_ = 0.0;
  double stdDev_ = 0.0;
  double prediction_ = 0.0;
};

/// One node; a light view that lives inside its MemTree and answers from the tree's flat arrays.
class MemNode final : public tree::Node {
 public:
  const tree::Node* GetParent() const override;
  int GetNumberOfChildren() const override;
  /// Null for an index outside 0 to GetNumberOfChildren()-1.
  const tree::Node* GetChild(int i) const override;
  int GetNumberOfSplits() const override;
  /// -1 when the node has no biggest child: a record that no rule decides stops here.
  int GetBiggestChild() const override;
  /// A new rule object for the primary rule (only i = 0 exists); null otherwise. It refers to
  /// the tree's storage, so it must not outlive the tree.
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
  /// Positions of the children in the tree's node vector, in child order.
  Span<uint32_t> GetChildIndices() const;
  /// The primary rule, or nothing for a leaf.
  std::optional<RuleView> GetSplitSpec() const;
  /// Surrogate i (0 to GetNumberOfSurrogates()-1).
  RuleView GetSurrogateSpec(int i) const;
  Span<PredictorRange> GetPredictorRanges() const;
  /// Class and regression information for sample (null when absent), as held.
  const MemClsInfo* GetClsStats(int sample) const;
  const MemRegInfo* GetRegStats(int sample) const;

 private:
  friend class TreeBuilder;
  friend class MemTree;
  RuleView Rule(uint32_t k) const;

  const MemTree* tree_ = nullptr;
  uint32_t index_ = 0;
  int32_t parent_ = -1;
  uint32_t firstChild_ = 0;  // into the tree's child index array
  uint32_t childCount_ = 0;
  uint32_t slot_ = 0;  // the node's samples are slot * samples to slot * samples + samples - 1
  int32_t biggestChild_ = 0;
  unsigned id_ = 0;
  uint32_t firstRule_ = 0;  // the split, then the surrogates
  uint32_t surrogateCount_ = 0;
  uint32_t firstRange_ = 0;
  uint16_t rangeCount_ = 0;
  bool hasSplit_ = false;
  bool noBiggestChild_ = false;
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
  /// The predictor levels and the priors as the settings objects hand them out; they live as
  /// long as the tree.
  const tree::PredictorInfo& GetPredictorInfo() const { return *predictorInfo_; }
  const tree::PriorsImp* GetPriorsObject() const { return priorsObject_.get(); }

 private:
  friend class TreeBuilder;
  friend class MemNode;
  MemTree();
  // Makes what the settings objects refer to, once the tree is complete.
  void Finish();

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
  // Flat storage the nodes refer to.
  std::vector<uint32_t> childIndices_;
  std::vector<double> counts_;  // count and total count, two per node and sample, by slot
  std::vector<MemClsInfo> cls_;  // per slot and sample, classification trees
  std::vector<MemRegInfo> reg_;  // per slot and sample, regression trees
  std::vector<double> numbers_;  // class lists and distributions
  std::vector<detail::RuleRecord> rules_;
  std::vector<detail::SetRecord> sets_;
  std::vector<int> codes_;
  std::vector<PredictorRange> ranges_;
  std::unique_ptr<tree::PredictorInfo> predictorInfo_;
  std::unique_ptr<tree::PriorsImp> priorsObject_;
};

/// The tree component's default version record.
const ArbTree::ArbVersionImp& MemTreeVersion();

}  // namespace memtree
