#include "host/memtree/mem_tree.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "model/ovalue_set.h"

namespace memtree {

namespace {

constexpr int32_t kNoRiskCode = 10005;

// Codes of a nominal split; the iterator copies them, so it outlives the set it came from.
class CodeSetIterator final : public tree::NValueSetIterator {
 public:
  explicit CodeSetIterator(std::vector<int> codes) : codes_(std::move(codes)) {}
  bool HasNext() const override { return next_ < codes_.size(); }
  int Next() override { return next_ < codes_.size() ? codes_[next_++] : 0; }

 private:
  std::vector<int> codes_;
  std::size_t next_ = 0;
};

class CodeSet final : public tree::NValueSet {
 public:
  explicit CodeSet(std::vector<int> codes) : codes_(std::move(codes)) {}
  bool Contains(double value) const override {
    return std::any_of(codes_.begin(), codes_.end(),
                       [value](int code) { return static_cast<double>(code) == value; });
  }
  tree::NValueSetIterator* CreateIterator() const override { return new CodeSetIterator(codes_); }

 private:
  std::vector<int> codes_;
};

tree::ValueSet* NewValueSet(const ChildValues& values) {
  switch (values.kind) {
    case ChildValues::Kind::kInterval: {
      auto set = std::make_unique<tree::OValueSet>();
      if (values.bounds.low) {
        set->SetLow(*values.bounds.low);
        set->SetLowOpen(values.bounds.lowOpen);
      }
      if (values.bounds.high) {
        set->SetHigh(*values.bounds.high);
        set->SetHighOpen(values.bounds.highOpen);
      }
      return set.release();
    }
    case ChildValues::Kind::kCodes:
      return new CodeSet(values.codes);
    case ChildValues::Kind::kNone:
      break;
  }
  return nullptr;
}

bool ValuesContain(const ChildValues& values, double value) {
  switch (values.kind) {
    case ChildValues::Kind::kInterval: {
      // Exact comparisons, as the model file states its bounds and as a PMML consumer compares
      // them: a value one step beyond a bound lies beyond it.
      const Bounds& b = values.bounds;
      if (b.low && (b.lowOpen ? !(value > *b.low) : !(value >= *b.low))) return false;
      if (b.high && (b.highOpen ? !(value < *b.high) : !(value <= *b.high))) return false;
      return true;
    }
    case ChildValues::Kind::kCodes:
      return std::any_of(values.codes.begin(), values.codes.end(),
                         [value](int code) { return static_cast<double>(code) == value; });
    case ChildValues::Kind::kNone:
      break;
  }
  return false;
}

class MemSplitRule final : public tree::SplitRule {
 public:
  explicit MemSplitRule(RuleSpec rule) : rule_(std::move(rule)) {}
  bool HasBody() const override { return true; }
  int GetPredictorIndex() const override { return rule_.predictor; }
  int GetNumberOfChildValueSets() const override { return static_cast<int>(rule_.children.size()); }
  tree::ValueSet* GetChildValueSet(int child) const override {
    if (child < 0 || child >= GetNumberOfChildValueSets()) return nullptr;
    return NewValueSet(rule_.children[static_cast<std::size_t>(child)]);
  }
  int GetMissingValueChild() const override { return rule_.missingChild; }
  double GetStatistic(int k) const override {
    if (k < 0 || k > 3) return 0.0;
    return rule_.statistics[static_cast<std::size_t>(k)].value_or(0.0);
  }
  uint32_t GetStatisticFlags() const override {
    uint32_t flags = rule_.kinds;
    for (std::size_t k = 0; k < 4; ++k) {
      if (rule_.statistics[k]) flags |= 1u << k;
    }
    return flags;
  }

 private:
  RuleSpec rule_;
};

class MemPredictorDescriptor final : public tree::PredictorDescriptor {
 public:
  explicit MemPredictorDescriptor(int level) : level_(level) {}
  int GetMeasurementLevel() const override { return level_; }

 private:
  int level_;
};

class MemPredictorInfo final : public tree::PredictorInfo {
 public:
  explicit MemPredictorInfo(const std::vector<int>& levels) {
    for (int level : levels) descriptors_.emplace_back(level);
  }
  // An index outside the list reads as a continuous predictor rather than failing.
  const tree::PredictorDescriptor& GetPredictor(int index) const override {
    static const MemPredictorDescriptor continuous(2);
    if (index < 0 || static_cast<std::size_t>(index) >= descriptors_.size()) return continuous;
    return descriptors_[static_cast<std::size_t>(index)];
  }

 private:
  std::vector<MemPredictorDescriptor> descriptors_;
};

class MemRiskEstimation final : public tree::RiskEstimation {
 public:
  explicit MemRiskEstimation(tree::DataSample sample) : sample_(sample) {}
  tree::DataSample GetDataSample() const override { return sample_; }

 private:
  tree::DataSample sample_;
};

// The settings classes differ only in their base and in where the priors live.
template <class Base>
class SettingsWith : public Base {
 public:
  SettingsWith(const MemTree& tree)
      : type_(tree.GetAlgorithmType()),
        predictors_(tree.GetPredictorLevels()),
        risk_(tree.GetRiskSample()) {}
  int GetAlgorithmType() const override { return type_; }
  const tree::PredictorInfo& GetPredictorInfo() const override { return predictors_; }
  const tree::RiskEstimation& GetRiskEstimation() const override { return risk_; }

 private:
  int type_;
  MemPredictorInfo predictors_;
  MemRiskEstimation risk_;
};

template <class Base>
class SettingsWithPriors final : public SettingsWith<Base> {
 public:
  explicit SettingsWithPriors(const MemTree& tree) : SettingsWith<Base>(tree) {
    if (tree.GetPriors()) priors_ = std::make_unique<tree::PriorsImp>(*tree.GetPriors());
  }
  const tree::Priors* GetPriors() const override { return priors_.get(); }

 private:
  std::unique_ptr<tree::PriorsImp> priors_;
};

class ChaidSettings final : public SettingsWith<tree::CChaidSettingsImp> {
 public:
  explicit ChaidSettings(const MemTree& tree) : SettingsWith<tree::CChaidSettingsImp>(tree) {
    if (tree.GetPriors()) priors = std::make_unique<tree::PriorsImp>(*tree.GetPriors());
  }
};

class RiskBody final : public tree::TreeStatisticsBody {
 public:
  explicit RiskBody(RiskStats risk) : risk_(risk) {}
  double GetRisk() const override { return risk_.risk; }
  double GetRiskStdError() const override { return risk_.stdError; }

 private:
  RiskStats risk_;
};

double At(const std::vector<double>& values, int i, double otherwise) {
  if (i < 0 || static_cast<std::size_t>(i) >= values.size()) return otherwise;
  return values[static_cast<std::size_t>(i)];
}

}  // namespace

const ArbTree::ArbVersionImp& MemTreeVersion() {
  static const ArbTree::ArbVersionImp version(1, 0, 0, 1, "2026-12-06 12:00:00");
  return version;
}

MemClsInfo::MemClsInfo(ClassStats stats) : stats_(std::move(stats)) {}
int MemClsInfo::GetPredictedCategory() const { return stats_.predicted; }
double MemClsInfo::GetCategoryCount(int code) const { return At(stats_.counts, code, 0.0); }
double MemClsInfo::GetCategoryProportion(int code) const {
  return At(stats_.proportions, code, 0.0);
}
double MemClsInfo::GetCategoryProbability(int code) const {
  return At(stats_.probabilities, code, -1.0);
}
int MemClsInfo::GetNumberOfCategories() const { return static_cast<int>(stats_.counts.size()); }

MemRegInfo::MemRegInfo(RegressionStats stats) : stats_(std::move(stats)) {}
double MemRegInfo::GetMean() const { return stats_.mean; }
double MemRegInfo::GetStdDeviation() const { return stats_.stdDev; }
double MemRegInfo::GetPrediction() const { return stats_.prediction; }
int MemRegInfo::GetDistributionSize() const { return static_cast<int>(stats_.distribution.size()); }
double MemRegInfo::GetDistributionCount(int i) const { return At(stats_.distribution, i, 0.0); }

const tree::Node* MemNode::GetParent() const {
  return parent_ < 0 ? nullptr : &tree_->nodes_[static_cast<std::size_t>(parent_)];
}

int MemNode::GetNumberOfChildren() const { return static_cast<int>(children_.size()); }

const tree::Node* MemNode::GetChild(int i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= children_.size()) return nullptr;
  return &tree_->nodes_[static_cast<std::size_t>(children_[static_cast<std::size_t>(i)])];
}

int MemNode::GetNumberOfSplits() const { return split_ ? 1 : 0; }
int MemNode::GetBiggestChild() const { return biggestChild_; }

tree::SplitRule* MemNode::GetSplit(int i) const {
  if (i != 0 || !split_) return nullptr;
  return new MemSplitRule(*split_);
}

int MemNode::GetNumberOfSurrogates() const { return static_cast<int>(surrogates_.size()); }

tree::SplitRule* MemNode::GetSurrogate(int i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= surrogates_.size()) return nullptr;
  return new MemSplitRule(surrogates_[static_cast<std::size_t>(i)]);
}

unsigned MemNode::GetId() const { return id_; }

const MemNode::Sample* MemNode::FindSample(int sample) const {
  if (sample < 0 || static_cast<std::size_t>(sample) >= samples_.size()) return nullptr;
  const auto& slot = samples_[static_cast<std::size_t>(sample)];
  return slot ? &*slot : nullptr;
}

double MemNode::GetCount(tree::DataSample sample) const {
  const Sample* s = FindSample(sample);
  return s ? s->count : 0.0;
}

double MemNode::GetTotalCount(tree::DataSample sample) const {
  const Sample* s = FindSample(sample);
  return s ? s->totalCount : 0.0;
}

void MemNode::GetPredictorRange(int predictor, double& min, double& max) const {
  for (const PredictorRange& range : ranges_) {
    if (range.predictor == predictor) {
      min = range.min;
      max = range.max;
      return;
    }
  }
}

const MemClsInfo* MemNode::GetClsStats(int sample) const {
  const Sample* s = FindSample(sample);
  return s && s->cls ? &*s->cls : nullptr;
}

const MemRegInfo* MemNode::GetRegStats(int sample) const {
  const Sample* s = FindSample(sample);
  return s && s->reg ? &*s->reg : nullptr;
}

const tree::ClsInfo* MemNode::GetClsInfo(tree::DataSample sample) const {
  return GetClsStats(sample);
}

const tree::RegInfo* MemNode::GetRegInfo(tree::DataSample sample) const {
  return GetRegStats(sample);
}

MemTree::MemTree() : version_(MemTreeVersion()) {}

MemTree::~MemTree() = default;

const tree::Node* MemTree::GetRoot() const { return nodes_.empty() ? nullptr : &nodes_[0]; }

bool MemTree::IsClassification() const { return classification_; }

tree::AlgSettings* MemTree::CreateSettings() const {
  switch (algorithmType_) {
    case 0:
    case 1:
      return new SettingsWithPriors<tree::CCartSettings>(*this);
    case 2:
    case 3:
      return new ChaidSettings(*this);
    case 4:
      return new SettingsWithPriors<tree::QuestSettings>(*this);
    default:
      return new SettingsWith<tree::AlgSettings>(*this);
  }
}

ArbTree::ArbStatus MemTree::ComputeTreeStatistics(tree::DataSample sample,
                                                  tree::TreeStatistics& stats) const {
  ArbTree::ArbStatus status;
  std::optional<RiskStats> risk = GetRisk(sample);
  if (!risk) {
    status.code = kNoRiskCode;
    status.severity = 1;
    return status;
  }
  stats.SetBody(new RiskBody(*risk));
  return status;
}

const ArbTree::ArbVersion& MemTree::GetVersion() const { return version_; }

std::optional<RiskStats> MemTree::GetRisk(int sample) const {
  if (sample < 0 || static_cast<std::size_t>(sample) >= risks_.size()) return std::nullopt;
  return risks_[static_cast<std::size_t>(sample)];
}

int MemTree::Route(const std::vector<std::optional<double>>& record) const {
  if (nodes_.empty()) return -1;
  const MemNode* node = &nodes_[0];
  while (!node->children_.empty()) {
    std::optional<std::size_t> chosen;
    auto decide = [&](const RuleSpec& rule) {
      std::optional<double> value;
      if (rule.predictor >= 0 && static_cast<std::size_t>(rule.predictor) < record.size()) {
        value = record[static_cast<std::size_t>(rule.predictor)];
      }
      if (!value || std::isnan(*value)) {
        if (rule.missingChild >= 0) chosen = static_cast<std::size_t>(rule.missingChild);
        return;
      }
      for (std::size_t c = 0; c < rule.children.size(); ++c) {
        if (ValuesContain(rule.children[c], *value)) {
          chosen = c;
          return;
        }
      }
    };
    if (node->split_) decide(*node->split_);
    for (std::size_t s = 0; !chosen && s < node->surrogates_.size(); ++s) {
      decide(node->surrogates_[s]);
    }
    if (!chosen && node->biggestChild_ < 0) break;  // no biggest child: the record stops here
    std::size_t child = chosen.value_or(static_cast<std::size_t>(node->biggestChild_));
    if (child >= node->children_.size()) child = 0;
    node = &nodes_[static_cast<std::size_t>(node->children_[child])];
  }
  return static_cast<int>(node->id_);
}

std::size_t MemTree::GetDepth() const {
  // Parents precede their children in the vector, so one forward pass suffices.
  std::vector<std::size_t> depth(nodes_.size(), 0);
  std::size_t deepest = 0;
  for (std::size_t i = 1; i < nodes_.size(); ++i) {
    depth[i] = depth[static_cast<std::size_t>(nodes_[i].parent_)] + 1;
    deepest = std::max(deepest, depth[i]);
  }
  return deepest;
}

std::size_t MemTree::GetNumberOfLeaves() const {
  return static_cast<std::size_t>(std::count_if(
      nodes_.begin(), nodes_.end(), [](const MemNode& n) { return n.children_.empty(); }));
}

}  // namespace memtree
