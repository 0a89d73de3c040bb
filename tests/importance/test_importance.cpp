#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "imported/importance/predictor_rank.h"

namespace {

// Minimal host doubles: nodes owned by the tree in one vector, rules held by value.

struct FakeRule : tree::SplitRule {
  FakeRule(int p, double improvement,
           uint32_t flags = tree::stat::kImprovement | tree::stat::kEntry0)
      : predictor(p), value(improvement), statFlags(flags) {}
  int predictor;
  double value;
  uint32_t statFlags;

  bool HasBody() const override { return true; }
  int GetPredictorIndex() const override { return predictor; }
  int GetNumberOfChildValueSets() const override { return 0; }
  tree::ValueSet* GetChildValueSet(int) const override { return nullptr; }
  int GetMissingValueChild() const override { return 0; }
  double GetStatistic(int k) const override { return k == 0 ? value : -1.0; }
  uint32_t GetStatisticFlags() const override { return statFlags; }
};

struct FakeNode : tree::Node {
  const FakeNode* parent = nullptr;
  std::vector<const FakeNode*> children;
  std::vector<FakeRule> splits;
  std::vector<FakeRule> surrogates;

  const Node* GetParent() const override { return parent; }
  int GetNumberOfChildren() const override { return static_cast<int>(children.size()); }
  const Node* GetChild(int i) const override { return children[i]; }
  int GetNumberOfSplits() const override { return static_cast<int>(splits.size()); }
  int GetBiggestChild() const override { return 0; }
  tree::SplitRule* GetSplit(int i) const override { return new FakeRule(splits[i]); }
  int GetNumberOfSurrogates() const override { return static_cast<int>(surrogates.size()); }
  tree::SplitRule* GetSurrogate(int i) const override { return new FakeRule(surrogates[i]); }
  unsigned GetId() const override { return 0; }
  double GetCount(tree::DataSample) const override { return 0.0; }
  double GetTotalCount(tree::DataSample) const override { return 0.0; }
  void GetPredictorRange(int, double&, double&) const override {}
  const tree::ClsInfo* GetClsInfo(tree::DataSample) const override { return nullptr; }
  const tree::RegInfo* GetRegInfo(tree::DataSample) const override { return nullptr; }
};

class FakeTree : public tree::TreeAlgorithmBase {
 public:
  FakeNode& Add(FakeNode* parent) {
    nodes_.push_back(std::make_unique<FakeNode>());
    nodes_.back()->parent = parent;
    if (parent != nullptr) parent->children.push_back(nodes_.back().get());
    return *nodes_.back();
  }
  const tree::Node* GetRoot() const override { return nodes_.empty() ? nullptr : nodes_[0].get(); }
  bool IsClassification() const override { return false; }
  tree::AlgSettings* CreateSettings() const override { return nullptr; }
  ArbTree::ArbStatus ComputeTreeStatistics(tree::DataSample, tree::TreeStatistics&) const override {
    return {};
  }
  const ArbTree::ArbVersion& GetVersion() const override { return version_; }

 private:
  std::vector<std::unique_ptr<FakeNode>> nodes_;
  ArbTree::ArbVersionImp version_{1, 0, 0, 0, ""};
};

double ImportanceOf(const TreeOut::PredictorRank& rank, unsigned p) {
  const TreeOut::PredictorImportance* entry = rank.GetPredictorImportance(p);
  EXPECT_NE(entry, nullptr) << "predictor " << p;
  if (entry == nullptr) return -1.0;
  EXPECT_EQ(entry->GetPredictorIndex(), p);
  return entry->GetImportance();
}

}  // namespace

TEST(PredictorRank, SumsPrimaryAndWeightedSurrogateImprovementsNormalised) {
  // Root splits on x0 (improvement 0.3), surrogate x2 (0.1); its first child splits on x1
  // (0.2), surrogate x0 (0.05); its second child splits on x3 whose improvement lacks the
  // entry-0 flag. x4 is used by no split.
  //   weight 1.0: raw x0 = 0.3 + 0.05 = 0.35, x1 = 0.2, x2 = 0.1, x3 = 0; sum 0.65
  //               -> x0 = 0.35/0.65 = 7/13, x1 = 0.2/0.65 = 4/13, x2 = 0.1/0.65 = 2/13, x3 = 0
  //   weight 0.5: raw x0 = 0.3 + 0.025 = 0.325, x1 = 0.2, x2 = 0.05; sum 0.575
  //               -> x0 = 13/23, x1 = 8/23, x2 = 2/23, x3 = 0
  FakeTree model;
  FakeNode& root = model.Add(nullptr);
  root.splits.emplace_back(0, 0.3);
  root.surrogates.emplace_back(2, 0.1);
  FakeNode& left = model.Add(&root);
  left.splits.emplace_back(1, 0.2);
  left.surrogates.emplace_back(0, 0.05);
  model.Add(&left);
  model.Add(&left);
  FakeNode& right = model.Add(&root);
  right.splits.emplace_back(3, 5.0, tree::stat::kImprovement);
  model.Add(&right);

  TreeOut::PredictorRank rank;
  ArbTree::ArbStatus status =
      rank.ComputeVariableImportance(model, TreeOut::CartPredictorImportanceSettings(1.0));
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(status.severity, 0);
  EXPECT_NEAR(ImportanceOf(rank, 0), 7.0 / 13, 1e-12);
  EXPECT_NEAR(ImportanceOf(rank, 1), 4.0 / 13, 1e-12);
  EXPECT_NEAR(ImportanceOf(rank, 2), 2.0 / 13, 1e-12);
  EXPECT_EQ(ImportanceOf(rank, 3), 0.0);
  EXPECT_EQ(rank.GetPredictorImportance(4), nullptr);

  rank.ComputeVariableImportance(model, TreeOut::CartPredictorImportanceSettings(0.5));
  EXPECT_NEAR(ImportanceOf(rank, 0), 13.0 / 23, 1e-12);
  EXPECT_NEAR(ImportanceOf(rank, 1), 8.0 / 23, 1e-12);
  EXPECT_NEAR(ImportanceOf(rank, 2), 2.0 / 23, 1e-12);
  EXPECT_EQ(ImportanceOf(rank, 3), 0.0);

  // A model without a root fails and leaves no earlier result behind.
  FakeTree empty;
  status = rank.ComputeVariableImportance(empty, TreeOut::CartPredictorImportanceSettings(1.0));
  EXPECT_EQ(status.code, 10004);
  EXPECT_EQ(status.severity, -1);
  EXPECT_EQ(rank.GetPredictorImportance(0), nullptr);
}

TEST(PredictorRank, WalksAHundredThousandDeepChain) {
  FakeTree model;
  FakeNode* node = &model.Add(nullptr);
  for (int i = 1; i < 100000; ++i) {
    node->splits.emplace_back(i % 2, 1.0);
    node = &model.Add(node);
  }
  TreeOut::PredictorRank rank;
  rank.ComputeVariableImportance(model, TreeOut::CartPredictorImportanceSettings(1.0));
  // 99,999 splits: 50,000 on x1 (odd i), 49,999 on x0.
  EXPECT_NEAR(ImportanceOf(rank, 0), 49999.0 / 99999, 1e-12);
  EXPECT_NEAR(ImportanceOf(rank, 1), 50000.0 / 99999, 1e-12);
}
