#include "host/memtree/mem_tree.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "model/ovalue_set.h"

namespace memtree {

namespace {

constexpr int32_t kNoRiskCode = 10005;

// Codes of a nominal split, read from the tree's storage: the iterator outlives the set it came
// from, not the tree.
class CodeSetIterator final : public tree::NValueSetIterator {
 public:
  explicit CodeSetIterator(Span<int> codes) : codes_(codes) {}
  bool HasNext() const override { return next_ < codes_.size(); }
  int Next() override { return next_ < codes_.size() ? codes_[next_++] : 0; }

 private:
  Span<int> codes_;
  std::size_t next_ = 0;
};

class CodeSet final : public tree::NValueSet {
 public:
  explicit CodeSet(Span<int> codes) : codes_(codes) {}
  bool Contains(double value) const override {
    return std::any_of(codes_.begin(), codes_.end(),
                       [value](int code) { return static_cast<double>(code) == value; });
  }
  tree::NValueSetIterator* CreateIterator() const override { return new CodeSetIterator(codes_); }

 private:
  Span<int> codes_;
};

tree::ValueSet* NewValueSet(const detail::SetRecord& values, const int* codes) {
  using detail::SetRecord;
  switch (values.kind) {
    case ChildValues::Kind::kInterval: {
      auto set = std::make_unique<tree::OValueSet>();
      if ((values.flags & SetRecord::kHasLow) != 0) {
        set->SetLow(values.low);
        set->SetLowOpen((values.flags & SetRecord::kLowOpen) != 0);
      }
      if ((values.flags & SetRecord::kHasHigh) != 0) {
        set->SetHigh(values.high);
        set->SetHighOpen((values.flags & SetRecord::kHighOpen) != 0);
      }
      return set.release();
    }
    case ChildValues::Kind::kCodes:
      return new CodeSet(Span<int>(codes + values.firstCode, values.codeCount));
    case ChildValues::Kind::kNone:
      break;
  }
  return nullptr;
}

bool ValuesContain(const detail::SetRecord& values, const int* codes, double value) {
  using detail::SetRecord;
  switch (values.kind) {
    case ChildValues::Kind::kInterval: {
      // Exact comparisons, as the model file states its bounds and as a PMML consumer compares
      // them: a value one step beyond a bound lies beyond it.
      if ((values.flags & SetRecord::kHasLow) != 0 &&
          ((values.flags & SetRecord::kLowOpen) != 0 ? !(value > values.low)
                                                      : !(value >= values.low))) {
        return false;
      }
      if ((values.flags & SetRecord::kHasHigh) != 0 &&
          ((values.flags & SetRecord::kHighOpen) != 0 ? !(value < values.high)
                                                       : !(value <= values.high))) {
        return false;
      }
      return true;
    }
    case ChildValues::Kind::kCodes:
      return std::any_of(codes + values.firstCode, codes + values.firstCode + values.codeCount,
                         [value](int code) { return static_cast<double>(code) == value; });
    case ChildValues::Kind::kNone:
      break;
  }
  return false;
}

// A rule handed to the exporter: one object that refers to the tree's flat storage.
class MemSplitRule final : public tree::SplitRule {
 public:
  MemSplitRule(const detail::RuleRecord& rule, const detail::SetRecord* sets, const int* codes)
      : rule_(rule), sets_(sets + rule.firstSet), codes_(codes) {}
  bool HasBody() const override { return true; }
  int GetPredictorIndex() const override { return rule_.predictor; }
  int GetNumberOfChildValueSets() const override { return static_cast<int>(rule_.setCount); }
  tree::ValueSet* GetChildValueSet(int child) const override {
    if (child < 0 || child >= GetNumberOfChildValueSets()) return nullptr;
    return NewValueSet(sets_[child], codes_);
  }
  int GetMissingValueChild() const override { return rule_.missingChild; }
  double GetStatistic(int k) const override {
    if (k < 0 || k > 3 || (rule_.statisticSet & (1u << k)) == 0) return 0.0;
    return rule_.statistics[k];
  }
  uint32_t GetStatisticFlags() const override { return rule_.kinds | rule_.statisticSet; }

 private:
  const detail::RuleRecord& rule_;
  const detail::SetRecord* sets_;
  const int* codes_;
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

// The settings classes differ only in their base and in where the priors live. The exporter
// asks for a fresh settings object per node, so each is one allocation: the predictor levels and
// the priors are the tree's own.
template <class Base>
class SettingsWith : public Base {
 public:
  SettingsWith(const MemTree& tree)
      : type_(tree.GetAlgorithmType()),
        predictors_(tree.GetPredictorInfo()),
        risk_(tree.GetRiskSample()) {}
  int GetAlgorithmType() const override { return type_; }
  const tree::PredictorInfo& GetPredictorInfo() const override { return predictors_; }
  const tree::RiskEstimation& GetRiskEstimation() const override { return risk_; }

 private:
  int type_;
  const tree::PredictorInfo& predictors_;
  MemRiskEstimation risk_;
};

template <class Base>
class SettingsWithPriors final : public SettingsWith<Base> {
 public:
  explicit SettingsWithPriors(const MemTree& tree)
      : SettingsWith<Base>(tree), priors_(tree.GetPriorsObject()) {}
  const tree::Priors* GetPriors() const override { return priors_; }

 private:
  const tree::PriorsImp* priors_;
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

double At(const double* values, std::size_t size, int i, double otherwise) {
  if (i < 0 || static_cast<std::size_t>(i) >= size) return otherwise;
  return values[static_cast<std::size_t>(i)];
}

}  // namespace

ChildValues ValuesView::ToValues() const {
  switch (kind) {
    case ChildValues::Kind::kInterval:
      return ChildValues::Interval(bounds);
    case ChildValues::Kind::kCodes:
      return ChildValues::Codes(codes.ToVector());
    case ChildValues::Kind::kNone:
      break;
  }
  return ChildValues::None();
}

ValuesView RuleView::Children::Iterator::operator*() const {
  using detail::SetRecord;
  ValuesView view;
  view.kind = set_->kind;
  if ((set_->flags & SetRecord::kHasLow) != 0) view.bounds.low = set_->low;
  if ((set_->flags & SetRecord::kHasHigh) != 0) view.bounds.high = set_->high;
  view.bounds.lowOpen = (set_->flags & SetRecord::kLowOpen) != 0;
  view.bounds.highOpen = (set_->flags & SetRecord::kHighOpen) != 0;
  view.codes = Span<int>(codes_ + set_->firstCode, set_->codeCount);
  return view;
}

RuleView::RuleView(const detail::RuleRecord& rule, const detail::SetRecord* sets, const int* codes)
    : predictor(rule.predictor),
      children(sets + rule.firstSet, rule.setCount, codes),
      missingChild(rule.missingChild),
      kinds(rule.kinds) {
  for (std::size_t k = 0; k < 4; ++k) {
    if ((rule.statisticSet & (1u << k)) != 0) statistics[k] = rule.statistics[k];
  }
}

RuleSpec RuleView::ToSpec() const {
  RuleSpec rule;
  rule.predictor = predictor;
  for (const ValuesView& values : children) rule.children.push_back(values.ToValues());
  rule.missingChild = missingChild;
  rule.statistics = statistics;
  rule.kinds = kinds;
  return rule;
}

const ArbTree::ArbVersionImp& MemTreeVersion() {
  static const ArbTree::ArbVersionImp version(1, 0, 0, 1, "2026-12-06 12:00:00");
  return version;
}

int MemClsInfo::GetPredictedCategory() const { return predicted_; }
double MemClsInfo::GetCategoryCount(int code) const {
  return At(values_, static_cast<std::size_t>(categories_), code, 0.0);
}
double MemClsInfo::GetCategoryProportion(int code) const {
  return At(values_ + categories_, static_cast<std::size_t>(categories_), code, 0.0);
}
double MemClsInfo::GetCategoryProbability(int code) const {
  return At(values_ + 2 * categories_, static_cast<std::size_t>(categories_), code, -1.0);
}
int MemClsInfo::GetNumberOfCategories() const { return categories_; }
ClassStats MemClsInfo::Stats() const {
  ClassStats stats;
  const auto k = static_cast<std::size_t>(categories_);
  stats.predicted = predicted_;
  stats.counts.assign(values_, values_ + k);
  stats.proportions.assign(values_ + k, values_ + 2 * k);
  stats.probabilities.assign(values_ + 2 * k, values_ + 3 * k);
  return stats;
}

double MemRegInfo::GetMean() const { return mean_; }
double MemRegInfo::GetStdDeviation() const { return stdDev_; }
double MemRegInfo::GetPrediction() const { return prediction_; }
int MemRegInfo::GetDistributionSize() const { return static_cast<int>(size_); }
double MemRegInfo::GetDistributionCount(int i) const { return At(distribution_, size_, i, 0.0); }
RegressionStats MemRegInfo::Stats() const {
  RegressionStats stats;
  stats.mean = mean_;
  stats.stdDev = stdDev_;
  stats.prediction = prediction_;
  stats.distribution.assign(distribution_, distribution_ + size_);
  return stats;
}

const tree::Node* MemNode::GetParent() const {
  return parent_ < 0 ? nullptr : &tree_->nodes_[static_cast<std::size_t>(parent_)];
}

int MemNode::GetNumberOfChildren() const { return static_cast<int>(childCount_); }

const tree::Node* MemNode::GetChild(int i) const {
  if (i < 0 || static_cast<uint32_t>(i) >= childCount_) return nullptr;
  return &tree_->nodes_[tree_->childIndices_[firstChild_ + static_cast<uint32_t>(i)]];
}

Span<uint32_t> MemNode::GetChildIndices() const {
  return Span<uint32_t>(tree_->childIndices_.data() + firstChild_, childCount_);
}

int MemNode::GetNumberOfSplits() const { return hasSplit_ ? 1 : 0; }
int MemNode::GetBiggestChild() const { return biggestChild_; }

tree::SplitRule* MemNode::GetSplit(int i) const {
  if (i != 0 || !hasSplit_) return nullptr;
  return new MemSplitRule(tree_->rules_[firstRule_], tree_->sets_.data(), tree_->codes_.data());
}

int MemNode::GetNumberOfSurrogates() const { return static_cast<int>(surrogateCount_); }

tree::SplitRule* MemNode::GetSurrogate(int i) const {
  if (i < 0 || static_cast<uint32_t>(i) >= surrogateCount_) return nullptr;
  return new MemSplitRule(tree_->rules_[firstRule_ + 1 + static_cast<uint32_t>(i)],
                          tree_->sets_.data(), tree_->codes_.data());
}

RuleView MemNode::Rule(uint32_t k) const {
  return RuleView(tree_->rules_[firstRule_ + k], tree_->sets_.data(), tree_->codes_.data());
}

std::optional<RuleView> MemNode::GetSplitSpec() const {
  if (!hasSplit_) return std::nullopt;
  return Rule(0);
}

RuleView MemNode::GetSurrogateSpec(int i) const { return Rule(1 + static_cast<uint32_t>(i)); }

Span<PredictorRange> MemNode::GetPredictorRanges() const {
  return Span<PredictorRange>(tree_->ranges_.data() + firstRange_, rangeCount_);
}

unsigned MemNode::GetId() const { return id_; }

double MemNode::GetCount(tree::DataSample sample) const {
  if (sample < 0 || sample >= tree_->numberOfSamples_) return 0.0;
  return tree_->counts_[2 * (static_cast<std::size_t>(slot_) * tree_->numberOfSamples_ + sample)];
}

double MemNode::GetTotalCount(tree::DataSample sample) const {
  if (sample < 0 || sample >= tree_->numberOfSamples_) return 0.0;
  return tree_
      ->counts_[2 * (static_cast<std::size_t>(slot_) * tree_->numberOfSamples_ + sample) + 1];
}

void MemNode::GetPredictorRange(int predictor, double& min, double& max) const {
  for (const PredictorRange& range : GetPredictorRanges()) {
    if (range.predictor == predictor) {
      min = range.min;
      max = range.max;
      return;
    }
  }
}

const MemClsInfo* MemNode::GetClsStats(int sample) const {
  if (sample < 0 || sample >= tree_->numberOfSamples_ || tree_->cls_.empty()) return nullptr;
  return &tree_->cls_[static_cast<std::size_t>(slot_) * tree_->numberOfSamples_ + sample];
}

const MemRegInfo* MemNode::GetRegStats(int sample) const {
  if (sample < 0 || sample >= tree_->numberOfSamples_ || tree_->reg_.empty()) return nullptr;
  return &tree_->reg_[static_cast<std::size_t>(slot_) * tree_->numberOfSamples_ + sample];
}

const tree::ClsInfo* MemNode::GetClsInfo(tree::DataSample sample) const {
  return GetClsStats(sample);
}

const tree::RegInfo* MemNode::GetRegInfo(tree::DataSample sample) const {
  return GetRegStats(sample);
}

MemTree::MemTree() : version_(MemTreeVersion()) {}

void MemTree::Finish() {
  predictorInfo_ = std::make_unique<MemPredictorInfo>(predictorLevels_);
  if (priors_) priorsObject_ = std::make_unique<tree::PriorsImp>(*priors_);
}

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
  while (node->childCount_ > 0) {
    std::optional<std::size_t> chosen;
    auto decide = [&](const detail::RuleRecord& rule) {
      std::optional<double> value;
      if (rule.predictor >= 0 && static_cast<std::size_t>(rule.predictor) < record.size()) {
        value = record[static_cast<std::size_t>(rule.predictor)];
      }
      if (!value || std::isnan(*value)) {
        if (rule.missingChild >= 0) chosen = static_cast<std::size_t>(rule.missingChild);
        return;
      }
      for (std::size_t c = 0; c < rule.setCount; ++c) {
        if (ValuesContain(sets_[rule.firstSet + c], codes_.data(), *value)) {
          chosen = c;
          return;
        }
      }
    };
    const uint32_t rules = (node->hasSplit_ ? 1 : 0) + node->surrogateCount_;
    for (uint32_t r = 0; !chosen && r < rules; ++r) decide(rules_[node->firstRule_ + r]);
    if (!chosen && node->biggestChild_ < 0) break;  // no biggest child: the record stops here
    std::size_t child = chosen.value_or(static_cast<std::size_t>(node->biggestChild_));
    if (child >= node->childCount_) child = 0;
    node = &nodes_[childIndices_[node->firstChild_ + child]];
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
      nodes_.begin(), nodes_.end(), [](const MemNode& n) { return n.childCount_ == 0; }));
}

}  // namespace memtree
