#include "imported/importance/predictor_rank.h"

#include <map>
#include <vector>

namespace TreeOut {

namespace {

constexpr int32_t kNoRootCode = 10004;

class Importance : public PredictorImportance {
 public:
  Importance(unsigned index, double value) : index_(index), value_(value) {}
  unsigned GetPredictorIndex() const override { return index_; }
  double GetImportance() const override { return value_; }
  void Scale(double divisor) { value_ /= divisor; }
  void Add(double value) { value_ += value; }

 private:
  unsigned index_;
  double value_;
};

double Improvement(const tree::SplitRule& rule) {
  const uint32_t needed = tree::stat::kImprovement | tree::stat::kEntry0;
  if (!rule.HasBody() || (rule.GetStatisticFlags() & needed) != needed) return 0.0;
  return rule.GetStatistic(0);
}

}  // namespace

PredictorImportance::~PredictorImportance() = default;

CartPredictorImportanceSettings::CartPredictorImportanceSettings(double surrogateWeight)
    : surrogateWeight_(surrogateWeight) {}

double CartPredictorImportanceSettings::GetSurrogateWeight() const { return surrogateWeight_; }

struct PredictorRank::Results {
  std::map<unsigned, Importance> byPredictor;

  void Credit(std::unique_ptr<const tree::SplitRule> owned, double weight) {
    if (!owned || owned->GetPredictorIndex() < 0) return;
    const auto index = static_cast<unsigned>(owned->GetPredictorIndex());
    // The entry exists even for a zero improvement: the predictor is used by a split.
    auto it = byPredictor.emplace(index, Importance(index, 0.0)).first;
    it->second.Add(weight * Improvement(*owned));
  }
};

PredictorRank::PredictorRank() : results_(std::make_unique<Results>()) {}

PredictorRank::~PredictorRank() = default;

ArbTree::ArbStatus PredictorRank::ComputeVariableImportance(
    const tree::TreeAlgorithmBase& model, const CartPredictorImportanceSettings& settings) {
  ArbTree::ArbStatus status;
  results_->byPredictor.clear();
  const tree::Node* root = model.GetRoot();
  if (root == nullptr) {
    status.code = kNoRootCode;
    status.severity = -1;
    return status;
  }
  // Every node once, in prefix order (parent, then children first to last, as the exporters
  // walk the tree, so that the sums are added up in the same order), with an explicit stack.
  std::vector<const tree::Node*> pending{root};
  while (!pending.empty()) {
    const tree::Node* node = pending.back();
    pending.pop_back();
    for (int c = node->GetNumberOfChildren() - 1; c >= 0; --c) {
      if (const tree::Node* child = node->GetChild(c)) pending.push_back(child);
    }
    if (node->GetNumberOfSplits() <= 0) continue;
    results_->Credit(std::unique_ptr<const tree::SplitRule>(node->GetSplit(0)), 1.0);
    for (int i = 0; i < node->GetNumberOfSurrogates(); ++i) {
      results_->Credit(std::unique_ptr<const tree::SplitRule>(node->GetSurrogate(i)),
                       settings.GetSurrogateWeight());
    }
  }
  double sum = 0.0;
  for (const auto& entry : results_->byPredictor) sum += entry.second.GetImportance();
  if (sum != 0.0) {
    for (auto& entry : results_->byPredictor) entry.second.Scale(sum);
  }
  return status;
}

const PredictorImportance* PredictorRank::GetPredictorImportance(unsigned int i) const {
  auto it = results_->byPredictor.find(i);
  return it == results_->byPredictor.end() ? nullptr : &it->second;
}

}  // namespace TreeOut
