#include "model/collect_split_values.h"

#include <memory>

#include "arbtree/value_set.h"
#include "model/ovalue_set.h"

namespace TreeOut {

namespace {

constexpr int32_t kNoRootCode = 10004;

void AddRuleValues(const tree::SplitRule& rule, const tree::PredictorInfo& info,
                   SplitValueSets& valueSets) {
  if (!rule.HasBody()) return;
  const int p = rule.GetPredictorIndex();
  // The target's set is last; an index beyond the predictors would land there or outside.
  if (p < 0 || static_cast<size_t>(p) + 1 >= valueSets.size()) return;
  const int level = info.GetPredictor(p).GetMeasurementLevel();
  if (level != 0 && level != 1) return;
  std::set<double>& target = valueSets[static_cast<size_t>(p)];
  const int n = rule.GetNumberOfChildValueSets();
  for (int j = 0; j < n; ++j) {
    std::unique_ptr<tree::ValueSet> values(rule.GetChildValueSet(j));
    if (!values) continue;
    if (level == 0) {
      const auto* nominal = dynamic_cast<const tree::NValueSet*>(values.get());
      if (nominal == nullptr) continue;
      std::unique_ptr<tree::NValueSetIterator> it(nominal->CreateIterator());
      while (it && it->HasNext()) target.insert(static_cast<double>(it->Next()));
    } else {
      const auto* ordered = dynamic_cast<const tree::OValueSet*>(values.get());
      if (ordered == nullptr) continue;
      if (ordered->HasLow()) target.insert(ordered->GetLow());
      if (ordered->HasHigh()) target.insert(ordered->GetHigh());
    }
  }
}

void AddNodeValues(const tree::TreeAlgorithmBase& model, const tree::Node& node,
                   SplitValueSets& valueSets) {
  std::unique_ptr<tree::AlgSettings> settings(model.CreateSettings());
  if (!settings) return;
  const tree::PredictorInfo& info = settings->GetPredictorInfo();
  for (int i = 0; i < node.GetNumberOfSplits(); ++i) {
    std::unique_ptr<tree::SplitRule> rule(node.GetSplit(i));
    if (rule) AddRuleValues(*rule, info, valueSets);
  }
  for (int i = 0; i < node.GetNumberOfSurrogates(); ++i) {
    std::unique_ptr<tree::SplitRule> rule(node.GetSurrogate(i));
    if (rule) AddRuleValues(*rule, info, valueSets);
  }
}

}  // namespace

ArbTree::ArbStatus CollectSplitValues(const tree::TreeAlgorithmBase& model,
                                      const mdt::ModelMetadata* metadata,
                                      SplitValueSets& valueSets) {
  ArbTree::ArbStatus status;
  valueSets.clear();
  const std::vector<mdt::Variable>* predictors =
      metadata != nullptr ? metadata->GetPredictors() : nullptr;
  valueSets.resize((predictors != nullptr ? predictors->size() : 0) + 1);

  const tree::Node* root = model.GetRoot();
  if (root == nullptr) {
    status.code = kNoRootCode;
    status.severity = -1;
    return status;
  }
  if (const tree::ClsInfo* cls = root->GetClsInfo(tree::TRAINING_SAMPLE)) {
    const int k = cls->GetNumberOfCategories();
    for (int c = 0; c < k; ++c) valueSets.back().insert(static_cast<double>(c));
  }

  // An explicit stack keeps deep chains off the call stack; children are pushed last-first so
  // they are visited in stored order, the same pre-order a recursive walk gives.
  std::vector<const tree::Node*> pending{root};
  while (!pending.empty()) {
    const tree::Node* node = pending.back();
    pending.pop_back();
    AddNodeValues(model, *node, valueSets);
    for (int i = node->GetNumberOfChildren() - 1; i >= 0; --i) {
      if (const tree::Node* child = node->GetChild(i)) pending.push_back(child);
    }
  }
  return status;
}

}  // namespace TreeOut
