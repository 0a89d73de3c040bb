#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "model/collect_split_values.h"
#include "model/encoding.h"
#include "model/ovalue_set.h"
#include "model/prefix_node_iterator.h"
#include "model/variant.h"

namespace {

// Test doubles for the host's tree. Nodes live in one vector owned by the tree so that a very
// deep chain is built and destroyed without recursion.

class FakeCodes : public tree::NValueSet {
 public:
  explicit FakeCodes(std::vector<int> codes) : codes_(std::move(codes)) {}
  bool Contains(double value) const override {
    return std::find(codes_.begin(), codes_.end(), static_cast<int>(value)) != codes_.end();
  }
  tree::NValueSetIterator* CreateIterator() const override { return new Iterator(codes_); }

 private:
  class Iterator : public tree::NValueSetIterator {
   public:
    explicit Iterator(const std::vector<int>& codes) : codes_(codes) {}
    bool HasNext() const override { return pos_ < codes_.size(); }
    int Next() override { return codes_[pos_++]; }

   private:
    const std::vector<int>& codes_;
    size_t pos_ = 0;
  };
  std::vector<int> codes_;
};

tree::OValueSet Range(bool hasLow, double low, bool hasHigh, double high) {
  tree::OValueSet set;
  if (hasLow) set.SetLow(low);
  if (hasHigh) set.SetHigh(high);
  return set;
}

struct FakeRule : tree::SplitRule {
  int predictor = 0;
  bool body = true;
  std::vector<std::vector<int>> codes;     // nominal value sets, one per child
  std::vector<tree::OValueSet> intervals;  // ordered value sets, one per child

  bool HasBody() const override { return body; }
  int GetPredictorIndex() const override { return predictor; }
  int GetNumberOfChildValueSets() const override {
    return body ? static_cast<int>(codes.empty() ? intervals.size() : codes.size()) : 0;
  }
  tree::ValueSet* GetChildValueSet(int child) const override {
    if (!codes.empty()) return new FakeCodes(codes[child]);
    return new tree::OValueSet(intervals[child]);
  }
  int GetMissingValueChild() const override { return 0; }
  double GetStatistic(int) const override { return 0.0; }
  uint32_t GetStatisticFlags() const override { return 0; }
};

struct FakeCls : tree::ClsInfo {
  int k = 0;
  int GetPredictedCategory() const override { return 0; }
  double GetCategoryCount(int) const override { return 0.0; }
  double GetCategoryProportion(int) const override { return 0.0; }
  double GetCategoryProbability(int) const override { return -1.0; }
  int GetNumberOfCategories() const override { return k; }
};

struct FakeNode : tree::Node {
  const FakeNode* parent = nullptr;
  std::vector<const FakeNode*> children;
  std::vector<FakeRule> splits;
  std::vector<FakeRule> surrogates;
  unsigned id = 0;
  std::unique_ptr<FakeCls> cls;

  const Node* GetParent() const override { return parent; }
  int GetNumberOfChildren() const override { return static_cast<int>(children.size()); }
  const Node* GetChild(int i) const override { return children[i]; }
  int GetNumberOfSplits() const override { return static_cast<int>(splits.size()); }
  int GetBiggestChild() const override { return 0; }
  tree::SplitRule* GetSplit(int i) const override { return new FakeRule(splits[i]); }
  int GetNumberOfSurrogates() const override { return static_cast<int>(surrogates.size()); }
  tree::SplitRule* GetSurrogate(int i) const override { return new FakeRule(surrogates[i]); }
  unsigned GetId() const override { return id; }
  double GetCount(tree::DataSample) const override { return 0.0; }
  double GetTotalCount(tree::DataSample) const override { return 0.0; }
  void GetPredictorRange(int, double&, double&) const override {}
  const tree::ClsInfo* GetClsInfo(tree::DataSample) const override { return cls.get(); }
  const tree::RegInfo* GetRegInfo(tree::DataSample) const override { return nullptr; }
};

struct FakeDescriptor : tree::PredictorDescriptor {
  int level = 2;
  int GetMeasurementLevel() const override { return level; }
};

struct FakePredictorInfo : tree::PredictorInfo {
  std::vector<FakeDescriptor> predictors;
  const tree::PredictorDescriptor& GetPredictor(int index) const override {
    return predictors[index];
  }
};

struct FakeRisk : tree::RiskEstimation {
  tree::DataSample GetDataSample() const override { return tree::TRAINING_SAMPLE; }
};

struct FakeSettings : tree::AlgSettings {
  FakeSettings(const FakePredictorInfo& info, int& live) : info_(info), live_(live) { ++live_; }
  ~FakeSettings() override { --live_; }
  int GetAlgorithmType() const override { return 0; }
  const tree::PredictorInfo& GetPredictorInfo() const override { return info_; }
  const tree::RiskEstimation& GetRiskEstimation() const override { return risk_; }

 private:
  const FakePredictorInfo& info_;
  int& live_;
  FakeRisk risk_;
};

class FakeTree : public tree::TreeAlgorithmBase {
 public:
  explicit FakeTree(std::vector<int> levels) {
    for (int level : levels) {
      FakeDescriptor d;
      d.level = level;
      info_.predictors.push_back(d);
    }
  }
  /// Adds a node under parent (null = the root) and returns it.
  FakeNode& Add(FakeNode* parent) {
    nodes_.push_back(std::make_unique<FakeNode>());
    FakeNode& node = *nodes_.back();
    node.id = static_cast<unsigned>(nodes_.size());
    node.parent = parent;
    if (parent != nullptr) parent->children.push_back(&node);
    return node;
  }
  int settings_created = 0;
  int live_settings = 0;

  const tree::Node* GetRoot() const override { return nodes_.empty() ? nullptr : nodes_[0].get(); }
  bool IsClassification() const override { return true; }
  tree::AlgSettings* CreateSettings() const override {
    ++const_cast<FakeTree*>(this)->settings_created;
    return new FakeSettings(info_, const_cast<FakeTree*>(this)->live_settings);
  }
  ArbTree::ArbStatus ComputeTreeStatistics(tree::DataSample, tree::TreeStatistics&) const override {
    return {};
  }
  const ArbTree::ArbVersion& GetVersion() const override { return ArbTree::LibraryVersion(); }

 private:
  FakePredictorInfo info_;
  std::vector<std::unique_ptr<FakeNode>> nodes_;
};

class FakeMetadata : public mdt::ModelMetadata {
 public:
  explicit FakeMetadata(size_t predictors) : predictors_(predictors, nullptr) {}
  const mdt::Variable* GetTarget() const override { return nullptr; }
  const std::vector<const mdt::Variable*>* GetPredictors() const override { return &predictors_; }
  const mdt::Variable* GetFrequencyWeight() const override { return nullptr; }
  const mdt::Variable* GetCaseWeight() const override { return nullptr; }
  const ArbTree::ArbVersion& GetVersion() const override { return ArbTree::LibraryVersion(); }

 private:
  std::vector<const mdt::Variable*> predictors_;
};

std::vector<unsigned> Walk(const tree::Node* start) {
  std::vector<unsigned> ids;
  tree::PrefixNodeIterator it(start);
  while (!it.AtEnd()) ids.push_back(it.Next()->GetId());
  EXPECT_EQ(it.Next(), nullptr);
  return ids;
}

}  // namespace

TEST(OValueSet, BoundFlagsFollowTheSetters) {
  tree::OValueSet set;
  EXPECT_FALSE(set.HasLow());
  EXPECT_FALSE(set.HasHigh());
  EXPECT_FALSE(set.IsNominal());
  EXPECT_TRUE(set.Contains(-1e300));

  set.SetLow(2.0);
  set.SetHigh(5.0);
  set.SetLowOpen(true);
  EXPECT_TRUE(set.HasLow());
  EXPECT_TRUE(set.IsLowOpen());
  EXPECT_FALSE(set.IsHighOpen());
  EXPECT_FALSE(set.Contains(2.0));
  EXPECT_TRUE(set.Contains(5.0));
  EXPECT_FALSE(set.Contains(5.1));

  set.SetHasLow(false);  // the removed bound takes the other bound's value
  EXPECT_FALSE(set.HasLow());
  EXPECT_EQ(set.GetLow(), 5.0);
  EXPECT_TRUE(set.IsLowOpen());
  EXPECT_TRUE(set.Contains(-100.0));

  set.SetHasHigh(false);
  EXPECT_FALSE(set.HasHigh());
  EXPECT_EQ(set.GetHigh(), 5.0);

  set.SetHighOpen(true);
  set.SetEmpty();
  EXPECT_TRUE(set.HasLow());
  EXPECT_TRUE(set.HasHigh());
  EXPECT_TRUE(set.IsLowOpen());
  EXPECT_TRUE(set.IsHighOpen());  // left as it was
  EXPECT_EQ(set.GetLow(), 0.0);
  EXPECT_EQ(set.GetHigh(), 0.0);
  EXPECT_TRUE(set.IsEmpty());
  EXPECT_FALSE(set.Contains(0.0));
}

TEST(OValueSet, EmptinessAndMembershipUseTheTolerance) {
  tree::OValueSet closed = Range(true, 1.0, true, 1.0);
  EXPECT_FALSE(closed.IsEmpty());
  EXPECT_TRUE(closed.Contains(1.0 + 1e-13));
  closed.SetHighOpen(true);
  EXPECT_TRUE(closed.IsEmpty());

  tree::OValueSet nearly = Range(true, 1.0, true, 1.0 + 1e-13);
  nearly.SetLowOpen(true);
  EXPECT_TRUE(nearly.IsEmpty());
  EXPECT_FALSE(Range(false, 0, true, 0).IsEmpty());
}

TEST(OValueSet, SortsByLowerBoundWithUnboundedFirst) {
  std::vector<tree::OValueSet> sets{Range(true, 5, true, 7), Range(false, 0, true, 2),
                                    Range(true, 2, true, 5)};
  for (auto& s : sets) s.SetHighOpen(true);
  std::sort(sets.begin(), sets.end(),
            [](const tree::OValueSet& a, const tree::OValueSet& b) { return a.LessThan(b); });
  EXPECT_FALSE(sets[0].HasLow());
  EXPECT_EQ(sets[0].GetHigh(), 2.0);
  EXPECT_EQ(sets[1].GetLow(), 2.0);
  EXPECT_EQ(sets[2].GetLow(), 5.0);

  EXPECT_FALSE(sets[0].LessThan(sets[0]));
  EXPECT_FALSE(sets[1].LessThan(sets[0]));
  EXPECT_TRUE(sets[0].LowEquals(Range(false, 9, false, 9)));
  EXPECT_TRUE(sets[1].LowEquals(Range(true, 2, false, 0)));
  EXPECT_FALSE(sets[1].LowEquals(sets[2]));
}

TEST(PrefixNodeIterator, VisitsTheStartSubtreeInPreOrder) {
  // 1 -> (2 -> (4, 5), 3 -> (6))
  FakeTree model({});
  FakeNode& n1 = model.Add(nullptr);
  FakeNode& n2 = model.Add(&n1);
  FakeNode& n3 = model.Add(&n1);
  FakeNode& n4 = model.Add(&n2);
  model.Add(&n2);
  FakeNode& n6 = model.Add(&n3);

  EXPECT_EQ(Walk(&n1), (std::vector<unsigned>{1, 2, 4, 5, 3, 6}));
  EXPECT_EQ(Walk(&n2), (std::vector<unsigned>{2, 4, 5}));
  EXPECT_EQ(Walk(&n4), (std::vector<unsigned>{4}));
  EXPECT_EQ(Walk(&n6), (std::vector<unsigned>{6}));

  tree::PrefixNodeIterator it(&n4);
  EXPECT_TRUE(it.IsAtStart());
  EXPECT_FALSE(it.AtEnd());
  EXPECT_EQ(it.Next(), &n4);
  EXPECT_FALSE(it.IsAtStart());
  EXPECT_TRUE(it.AtEnd());
  EXPECT_EQ(it.Next(), nullptr);
  EXPECT_TRUE(it.AtEnd());
}

TEST(Variant, NumbersCarryTheirShortestFifteenDigitText) {
  EXPECT_EQ(mdt::Variant().GetType(), mdt::Variant::NONE);
  EXPECT_STREQ(static_cast<const char*>(mdt::Variant()), "");
  mdt::Variant number(0.1);
  EXPECT_EQ(number.GetType(), mdt::Variant::NUMBER);
  EXPECT_STREQ(static_cast<const char*>(number), "0.1");
  EXPECT_STREQ(static_cast<const char*>(mdt::Variant(1e20)), "1e+20");
  EXPECT_STREQ(static_cast<const char*>(mdt::Variant(-2.5)), "-2.5");
  mdt::Variant text(std::string("abc"));
  EXPECT_EQ(static_cast<double>(text), 0.0);
  EXPECT_STREQ(static_cast<const char*>(text), "abc");

  mdt::Variant copy(number);
  EXPECT_TRUE(copy == number);
  EXPECT_FALSE(copy == mdt::Variant(std::string("0.1")));
  copy = text;
  EXPECT_STREQ(static_cast<const char*>(copy), "abc");
}

TEST(EncodingSets, CopiesDeeplyAndSplitsValuesFromIntervals) {
  using mdt::EncodingItem;
  using mdt::Variant;
  mdt::EncodingSets sets;
  sets.Add(std::make_unique<mdt::DiscreteValues>(
      std::vector<EncodingItem>{EncodingItem(Variant(1.0)), EncodingItem(Variant(2.0))}));
  sets.Add(std::make_unique<mdt::Interval>(EncodingItem(Variant(0.0), false),
                                           EncodingItem(Variant(5.0))));
  sets.Add(std::make_unique<mdt::CutPoints>(std::vector<EncodingItem>{EncodingItem(Variant(9.0))}));
  sets.Add(std::make_unique<mdt::Interval>(EncodingItem(Variant(7.0)), EncodingItem(Variant(8.0))));

  mdt::EncodingSets copy(sets);
  ASSERT_EQ(copy.GetEncodingSetList().size(), 4u);
  EXPECT_NE(copy.GetEncodingSetList()[0], sets.GetEncodingSetList()[0]);
  EXPECT_NE(dynamic_cast<const mdt::CutPoints*>(copy.GetEncodingSetList()[2]), nullptr);

  std::vector<Variant> values = copy.GetAllValues();
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(static_cast<double>(values[0]), 1.0);
  EXPECT_EQ(static_cast<double>(values[1]), 2.0);
  EXPECT_EQ(static_cast<double>(values[2]), 9.0);

  std::vector<mdt::Interval> intervals = copy.GetAllIntervals();
  ASSERT_EQ(intervals.size(), 2u);
  EXPECT_FALSE(intervals[0].GetLeftEnd().IsInclusive());
  EXPECT_EQ(static_cast<double>(intervals[0].GetRightEnd().GetValue()), 5.0);
  EXPECT_EQ(static_cast<double>(intervals[1].GetLeftEnd().GetValue()), 7.0);

  mdt::EncodingSets moved(std::move(copy));
  EXPECT_EQ(moved.GetEncodingSetList().size(), 4u);
  mdt::EncodingSets assigned;
  assigned = sets;
  EXPECT_EQ(assigned.GetAllIntervals().size(), 2u);
}

TEST(CollectSplitValues, ModelWithoutRootLeavesEverySetEmpty) {
  FakeTree model({0, 0});
  FakeMetadata metadata(2);
  TreeOut::SplitValueSets sets{{7.0}};
  ArbTree::ArbStatus status = TreeOut::CollectSplitValues(model, &metadata, sets);
  EXPECT_EQ(status.code, 10004);
  EXPECT_EQ(status.severity, -1);
  EXPECT_EQ(status.detail, 0);
  ASSERT_EQ(sets.size(), 3u);
  for (const auto& s : sets) EXPECT_TRUE(s.empty());
}

TEST(CollectSplitValues, TargetSetHoldsTheClassCodes) {
  FakeTree regression({});
  regression.Add(nullptr);
  FakeMetadata metadata(0);
  TreeOut::SplitValueSets sets;
  ArbTree::ArbStatus status = TreeOut::CollectSplitValues(regression, &metadata, sets);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(status.severity, 0);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_TRUE(sets[0].empty());

  FakeTree classification({});
  auto cls = std::make_unique<FakeCls>();
  cls->k = 3;
  classification.Add(nullptr).cls = std::move(cls);
  TreeOut::CollectSplitValues(classification, &metadata, sets);
  EXPECT_EQ(sets[0], (std::set<double>{0, 1, 2}));
}

TEST(CollectSplitValues, GathersNominalCodesAndOrdinalCutsOnly) {
  // Predictors: 0 nominal, 1 nominal (surrogate only), 2 ordinal, 3 continuous.
  FakeTree model({0, 0, 1, 2});
  FakeNode& root = model.Add(nullptr);
  FakeRule nominal;
  nominal.predictor = 0;
  nominal.codes = {{1, 3}, {2}, {3, 5}};
  root.splits.push_back(nominal);
  FakeRule surrogate;
  surrogate.predictor = 1;
  surrogate.codes = {{4}, {8, 6}};
  root.surrogates.push_back(surrogate);
  FakeRule wrongKind;  // an ordered set on a nominal predictor is skipped
  wrongKind.predictor = 1;
  wrongKind.intervals = {Range(false, 0, true, 99)};
  root.surrogates.push_back(wrongKind);
  FakeRule bodiless = nominal;
  bodiless.body = false;
  bodiless.codes = {{42}};
  root.surrogates.push_back(bodiless);

  FakeNode* child = nullptr;
  for (int i = 0; i < 3; ++i) child = &model.Add(&root);
  FakeRule ordinal;
  ordinal.predictor = 2;
  ordinal.intervals = {Range(false, 0, true, 4), Range(true, 4, false, 0)};
  ordinal.intervals[1].SetLowOpen(true);
  child->splits.push_back(ordinal);
  FakeNode& grandchild = model.Add(child);
  FakeRule continuous;
  continuous.predictor = 3;
  continuous.intervals = {Range(false, 0, true, 1.5), Range(true, 1.5, false, 0)};
  grandchild.splits.push_back(continuous);
  grandchild.surrogates.push_back(continuous);
  model.Add(&grandchild);

  FakeMetadata metadata(4);
  TreeOut::SplitValueSets sets;
  ArbTree::ArbStatus status = TreeOut::CollectSplitValues(model, &metadata, sets);
  EXPECT_EQ(status.code, 0);
  ASSERT_EQ(sets.size(), 5u);
  EXPECT_EQ(sets[0], (std::set<double>{1, 2, 3, 5}));
  EXPECT_EQ(sets[1], (std::set<double>{4, 6, 8}));
  EXPECT_EQ(sets[2], (std::set<double>{4}));
  EXPECT_TRUE(sets[3].empty());
  EXPECT_TRUE(sets[4].empty());
  EXPECT_EQ(model.settings_created, 6);  // one per node
  EXPECT_EQ(model.live_settings, 0);
}

TEST(CollectSplitValues, WalksAHundredThousandDeepChain) {
  FakeTree model({0});
  FakeNode* node = &model.Add(nullptr);
  for (int i = 1; i < 100000; ++i) {
    FakeRule rule;
    rule.codes = {{i % 7}};
    node->splits.push_back(rule);
    node = &model.Add(node);
  }
  FakeMetadata metadata(1);
  TreeOut::SplitValueSets sets;
  TreeOut::CollectSplitValues(model, &metadata, sets);
  EXPECT_EQ(sets[0], (std::set<double>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(model.settings_created, 100000);
}
