#include "host/memtree/tree_builder.h"

#include <cmath>
#include <set>
#include <utility>

#include "host/memtree/detail/huge_pages.h"
#include "host/memtree/detail/number_text.h"

namespace memtree {

namespace {

using detail::NumberText;

bool Finite(double value) { return std::isfinite(value); }

std::string Join(const std::string& context, const std::string& problem) {
  return context.empty() ? problem : context + ": " + problem;
}

}  // namespace

namespace check {

std::string Bounds(const memtree::Bounds& bounds) {
  if (bounds.low && !Finite(*bounds.low)) return "interval low is not a finite number";
  if (bounds.high && !Finite(*bounds.high)) return "interval high is not a finite number";
  if (bounds.low && bounds.high && *bounds.low > *bounds.high) {
    return "interval low " + NumberText(*bounds.low) + " is above high " + NumberText(*bounds.high);
  }
  return std::string();
}

std::string FitsLevel(const ChildValues& values, int level) {
  if (values.kind == ChildValues::Kind::kCodes && level != 0) {
    return "an ordered predictor needs an interval, not a list of codes";
  }
  if (values.kind == ChildValues::Kind::kInterval && level == 0) {
    return "a nominal predictor needs a list of codes, not an interval";
  }
  return std::string();
}

std::string Count(double value) {
  if (!Finite(value)) return "count is not a finite number";
  if (value < 0) return "count " + NumberText(value) + " is negative";
  return std::string();
}

std::string Class(const ClassStats& stats, int numberOfCategories) {
  const auto k = static_cast<std::size_t>(numberOfCategories);
  const std::string categories = std::to_string(numberOfCategories);
  if (stats.predicted < 0 || stats.predicted >= numberOfCategories) {
    return "predicted category " + std::to_string(stats.predicted) +
           " is outside the target's categories 0 to " + std::to_string(numberOfCategories - 1);
  }
  if (stats.counts.size() != k) {
    return "counts has " + std::to_string(stats.counts.size()) + " entries; the target has " +
           categories + " categories";
  }
  if (!stats.proportions.empty() && stats.proportions.size() != k) {
    return "proportions has " + std::to_string(stats.proportions.size()) +
           " entries; the target has " + categories + " categories";
  }
  if (!stats.probabilities.empty() && stats.probabilities.size() != k) {
    return "probabilities has " + std::to_string(stats.probabilities.size()) +
           " entries; the target has " + categories + " categories";
  }
  for (std::size_t i = 0; i < k; ++i) {
    std::string problem = Count(stats.counts[i]);
    if (!problem.empty()) return "counts[" + std::to_string(i) + "]: " + problem;
  }
  for (std::size_t i = 0; i < stats.proportions.size(); ++i) {
    const double p = stats.proportions[i];
    if (!(p >= 0.0 && p <= 1.0)) {
      return "proportions[" + std::to_string(i) + "]: " + NumberText(p) + " is not between 0 and 1";
    }
  }
  for (std::size_t i = 0; i < stats.probabilities.size(); ++i) {
    const double p = stats.probabilities[i];
    if (!Finite(p) || p > 1.0) {
      return "probabilities[" + std::to_string(i) + "]: " + NumberText(p) +
             " is neither a probability nor negative (none)";
    }
  }
  return std::string();
}

std::string Regression(const RegressionStats& stats) {
  if (!Finite(stats.mean)) return "mean is not a finite number";
  if (!Finite(stats.prediction)) return "prediction is not a finite number";
  if (!Finite(stats.stdDev) || (stats.stdDev < 0 && stats.stdDev != -DBL_MAX)) {
    return "standard deviation " + NumberText(stats.stdDev) + " is negative";
  }
  for (std::size_t i = 0; i < stats.distribution.size(); ++i) {
    std::string problem = Count(stats.distribution[i]);
    if (!problem.empty()) return "distribution[" + std::to_string(i) + "]: " + problem;
  }
  return std::string();
}

std::string Rule(const RuleSpec& rule) {
  if (rule.missingChild < -1 || rule.missingChild >= static_cast<int>(rule.children.size())) {
    return "missing-value child " + std::to_string(rule.missingChild) + " is not one of the " +
           std::to_string(rule.children.size()) + " children";
  }
  for (std::size_t k = 0; k < 4; ++k) {
    if (rule.statistics[k] && std::isnan(*rule.statistics[k])) {
      return "statistic " + std::to_string(k) + " is not a number";
    }
  }
  std::set<int> seen;
  for (std::size_t c = 0; c < rule.children.size(); ++c) {
    const ChildValues& values = rule.children[c];
    if (values.kind == ChildValues::Kind::kInterval) {
      std::string problem = Bounds(values.bounds);
      if (!problem.empty()) return "child " + std::to_string(c) + ": " + problem;
    }
    for (int code : values.codes) {
      if (!seen.insert(code).second) {
        return "child " + std::to_string(c) + ": code " + std::to_string(code) +
               " is sent to more than one child";
      }
    }
  }
  return std::string();
}

}  // namespace check

// A node given by AddRoot and AddChild, held until Build lays it out flat.
struct TreeBuilder::Pending {
  unsigned id = 0;
  std::vector<Handle> children;
  std::vector<std::optional<SampleStats>> samples;
  std::optional<RuleSpec> split;
  std::vector<RuleSpec> surrogates;
  std::vector<PredictorRange> ranges;
  bool noBiggestChild = false;
};

TreeBuilder::TreeBuilder(TreeShape shape) : tree_(new MemTree) {
  if (shape.numberOfSamples < 1) {
    throw ModelError("tree: number of samples " + std::to_string(shape.numberOfSamples) +
                     " is below 1");
  }
  if (shape.classification && shape.numberOfCategories < 1) {
    throw ModelError("tree: a classification tree needs at least one target category");
  }
  if (!shape.classification && shape.numberOfCategories != 0) {
    throw ModelError("tree: a regression tree has no target categories");
  }
  tree_->classification_ = shape.classification;
  tree_->algorithmType_ = shape.algorithmType;
  tree_->predictorLevels_ = std::move(shape.predictorLevels);
  tree_->numberOfCategories_ = shape.numberOfCategories;
  tree_->numberOfSamples_ = shape.numberOfSamples;
  tree_->risks_.resize(static_cast<std::size_t>(shape.numberOfSamples));
}

TreeBuilder::~TreeBuilder() = default;

void TreeBuilder::SetPriors(std::vector<double> priors) {
  const int type = tree_->algorithmType_;
  if (type != 1 && type != 3 && type != 4) {
    throw ModelError("priors: algorithm type " + std::to_string(type) +
                     " carries no priors (only 1, 3 and 4 do)");
  }
  if (priors.size() != static_cast<std::size_t>(tree_->numberOfCategories_)) {
    throw ModelError("priors: found " + std::to_string(priors.size()) + " for " +
                     std::to_string(tree_->numberOfCategories_) + " target categories");
  }
  for (std::size_t i = 0; i < priors.size(); ++i) {
    if (!(priors[i] >= 0.0 && priors[i] <= 1.0)) {
      throw ModelError("priors[" + std::to_string(i) + "]: " + NumberText(priors[i]) +
                       " is not between 0 and 1");
    }
  }
  tree_->priors_ = std::move(priors);
}

void TreeBuilder::SetRisk(int sample, RiskStats risk) {
  if (sample < 0 || sample >= tree_->numberOfSamples_) {
    throw ModelError("risk: sample " + std::to_string(sample) + " is not one of the tree's " +
                     std::to_string(tree_->numberOfSamples_) + " samples");
  }
  if (std::isnan(risk.risk) || std::isnan(risk.stdError)) {
    throw ModelError("risk: sample " + std::to_string(sample) + ": not a number");
  }
  tree_->risks_[static_cast<std::size_t>(sample)] = risk;
}

void TreeBuilder::SetRiskSample(int sample) {
  if (sample < 0 || sample >= tree_->numberOfSamples_) {
    throw ModelError("risk sample " + std::to_string(sample) + " is not one of the tree's " +
                     std::to_string(tree_->numberOfSamples_) + " samples");
  }
  tree_->riskSample_ = static_cast<tree::DataSample>(sample);
}

void TreeBuilder::SetVersion(const ArbTree::ArbVersionImp& version) { tree_->version_ = version; }

TreeBuilder::Handle TreeBuilder::AddRoot(unsigned id) {
  if (!tree_) throw ModelError("AddRoot: the tree was already built");
  if (!pending_.empty()) throw ModelError("node " + std::to_string(id) + ": the tree has a root");
  ids_.emplace(id, 0);
  Pending& node = pending_.emplace_back();
  node.id = id;
  node.samples.resize(static_cast<std::size_t>(tree_->numberOfSamples_));
  return 0;
}

TreeBuilder::Handle TreeBuilder::AddChild(Handle parent, unsigned id) {
  NodeAt(parent, "AddChild");
  auto inserted = ids_.emplace(id, pending_.size());
  if (!inserted.second) {
    throw ModelError("node " + std::to_string(id) + ": a node with this id exists");
  }
  const Handle handle = pending_.size();
  Pending& node = pending_.emplace_back();  // may move the vector; take references after
  node.id = id;
  node.samples.resize(static_cast<std::size_t>(tree_->numberOfSamples_));
  pending_[parent].children.push_back(handle);
  return handle;
}

TreeBuilder::Pending& TreeBuilder::NodeAt(Handle node, const char* operation) {
  if (!tree_) throw ModelError(std::string(operation) + ": the tree was already built");
  if (node >= pending_.size()) {
    throw ModelError(std::string(operation) + ": no node with handle " + std::to_string(node));
  }
  return pending_[node];
}

void TreeBuilder::Fail(const Pending& node, const std::string& message) const {
  throw ModelError("node " + std::to_string(node.id) + ": " + message);
}

void TreeBuilder::SetSample(Handle handle, int sample, SampleStats stats) {
  Pending& node = NodeAt(handle, "SetSample");
  const std::string where = "sample " + std::to_string(sample);
  if (sample < 0 || sample >= tree_->numberOfSamples_) {
    Fail(node, where + ": the tree has " + std::to_string(tree_->numberOfSamples_) + " samples");
  }
  std::string problem = check::Count(stats.count);
  if (problem.empty() && stats.totalCount) problem = check::Count(*stats.totalCount);
  if (!problem.empty()) Fail(node, Join(where, problem));
  if (tree_->classification_) {
    if (!stats.cls) Fail(node, where + ": a classification node needs class information");
    if (stats.reg) Fail(node, where + ": a classification node has no regression information");
    problem = check::Class(*stats.cls, tree_->numberOfCategories_);
    if (!problem.empty()) Fail(node, Join(where + ": class", problem));
  } else {
    if (!stats.reg) Fail(node, where + ": a regression node needs regression information");
    if (stats.cls) Fail(node, where + ": a regression node has no class information");
    problem = check::Regression(*stats.reg);
    if (!problem.empty()) Fail(node, Join(where + ": regression", problem));
  }
  node.samples[static_cast<std::size_t>(sample)] = std::move(stats);
}

void TreeBuilder::CheckRule(const Pending& node, const RuleSpec& rule,
                            const std::string& what) const {
  const auto& levels = tree_->predictorLevels_;
  if (rule.predictor < 0 || static_cast<std::size_t>(rule.predictor) >= levels.size()) {
    Fail(node, what + ": predictor " + std::to_string(rule.predictor) + " is not one of the " +
                   std::to_string(levels.size()) + " predictors");
  }
  std::string problem = check::Rule(rule);
  if (!problem.empty()) Fail(node, what + ": " + problem);
  const int level = levels[static_cast<std::size_t>(rule.predictor)];
  for (std::size_t c = 0; c < rule.children.size(); ++c) {
    problem = check::FitsLevel(rule.children[c], level);
    if (!problem.empty()) Fail(node, what + ": child " + std::to_string(c) + ": " + problem);
  }
}

void TreeBuilder::SetSplit(Handle handle, RuleSpec rule) {
  Pending& node = NodeAt(handle, "SetSplit");
  CheckRule(node, rule, "split");
  node.split = std::move(rule);
}

void TreeBuilder::AddSurrogate(Handle handle, RuleSpec rule) {
  Pending& node = NodeAt(handle, "AddSurrogate");
  CheckRule(node, rule, "surrogate " + std::to_string(node.surrogates.size()));
  node.surrogates.push_back(std::move(rule));
}

void TreeBuilder::SetPredictorRange(Handle handle, PredictorRange range) {
  Pending& node = NodeAt(handle, "SetPredictorRange");
  if (range.predictor < 0 ||
      static_cast<std::size_t>(range.predictor) >= tree_->predictorLevels_.size()) {
    Fail(node, "range: predictor " + std::to_string(range.predictor) + " is not one of the " +
                   std::to_string(tree_->predictorLevels_.size()) + " predictors");
  }
  if (!Finite(range.min) || !Finite(range.max) || range.min > range.max) {
    Fail(node, "range: min " + NumberText(range.min) + " and max " + NumberText(range.max) +
                   " do not make a range");
  }
  for (PredictorRange& held : node.ranges) {
    if (held.predictor == range.predictor) Fail(node, "range: predictor given twice");
  }
  node.ranges.push_back(range);
}

void TreeBuilder::SetNoBiggestChild(Handle node) {
  NodeAt(node, "SetNoBiggestChild").noBiggestChild = true;
}

void TreeBuilder::AppendChecked(unsigned id, const SampleStats* samples, const RuleSpec* split,
                                const RuleSpec* surrogates, std::size_t surrogateCount,
                                const PredictorRange* ranges, std::size_t rangeCount,
                                bool noBiggestChild) {
  MemTree& t = *tree_;
  MemNode& node = t.nodes_.emplace_back();
  node.tree_ = &t;
  node.slot_ = static_cast<uint32_t>(t.nodes_.size() - 1);
  node.id_ = id;
  node.noBiggestChild_ = noBiggestChild;
  for (int s = 0; s < t.numberOfSamples_; ++s) {
    const SampleStats& stats = samples[s];
    t.counts_.push_back(stats.count);
    t.counts_.push_back(stats.totalCount.value_or(stats.count));
    if (t.classification_) {
      const ClassStats& cls = *stats.cls;
      MemClsInfo& info = t.cls_.emplace_back();
      info.first_ = static_cast<uint32_t>(t.numbers_.size());
      info.predicted_ = cls.predicted;
      info.categories_ = static_cast<int>(cls.counts.size());
      t.numbers_.insert(t.numbers_.end(), cls.counts.begin(), cls.counts.end());
      if (cls.proportions.empty()) {
        double sum = 0.0;
        for (double count : cls.counts) sum += count;
        for (double count : cls.counts) t.numbers_.push_back(sum > 0 ? count / sum : 0.0);
      } else {
        t.numbers_.insert(t.numbers_.end(), cls.proportions.begin(), cls.proportions.end());
      }
      if (cls.probabilities.empty()) {
        t.numbers_.insert(t.numbers_.end(), cls.counts.size(), -1.0);
      } else {
        t.numbers_.insert(t.numbers_.end(), cls.probabilities.begin(), cls.probabilities.end());
      }
    } else {
      const RegressionStats& reg = *stats.reg;
      MemRegInfo& info = t.reg_.emplace_back();
      info.first_ = static_cast<uint32_t>(t.numbers_.size());
      info.size_ = static_cast<uint32_t>(reg.distribution.size());
      info.mean_ = reg.mean;
      info.stdDev_ = reg.stdDev;
      info.prediction_ = reg.prediction;
      t.numbers_.insert(t.numbers_.end(), reg.distribution.begin(), reg.distribution.end());
    }
  }
  auto addRule = [&t](const RuleSpec& rule) {
    detail::RuleRecord& record = t.rules_.emplace_back();
    record.predictor = rule.predictor;
    record.missingChild = rule.missingChild;
    record.kinds = rule.kinds;
    for (std::size_t k = 0; k < 4; ++k) {
      if (rule.statistics[k]) {
        record.statisticSet |= 1u << k;
        record.statistics[k] = *rule.statistics[k];
      }
    }
    record.firstSet = static_cast<uint32_t>(t.sets_.size());
    record.setCount = static_cast<uint32_t>(rule.children.size());
    for (const ChildValues& values : rule.children) {
      detail::SetRecord& set = t.sets_.emplace_back();
      set.kind = values.kind;
      if (values.bounds.low) {
        set.flags |= detail::SetRecord::kHasLow;
        set.low = *values.bounds.low;
      }
      if (values.bounds.high) {
        set.flags |= detail::SetRecord::kHasHigh;
        set.high = *values.bounds.high;
      }
      if (values.bounds.lowOpen) set.flags |= detail::SetRecord::kLowOpen;
      if (values.bounds.highOpen) set.flags |= detail::SetRecord::kHighOpen;
      set.firstCode = static_cast<uint32_t>(t.codes_.size());
      set.codeCount = static_cast<uint32_t>(values.codes.size());
      t.codes_.insert(t.codes_.end(), values.codes.begin(), values.codes.end());
    }
  };
  node.firstRule_ = static_cast<uint32_t>(t.rules_.size());
  if (split != nullptr) {
    node.hasSplit_ = true;
    addRule(*split);
    for (std::size_t k = 0; k < surrogateCount; ++k) addRule(surrogates[k]);
    node.surrogateCount_ = static_cast<uint32_t>(surrogateCount);
  }
  node.firstRange_ = static_cast<uint32_t>(t.ranges_.size());
  node.rangeCount_ = static_cast<uint32_t>(rangeCount);
  t.ranges_.insert(t.ranges_.end(), ranges, ranges + rangeCount);
}

void TreeBuilder::Reserve(std::size_t nodes) {
  MemTree& t = *tree_;
  const std::size_t now = t.nodes_.size();
  if (now == 0 || nodes <= now) return;
  auto grow = [&](auto& v) { detail::ReserveHuge(v, (v.size() * nodes + now - 1) / now + 16); };
  grow(t.nodes_);
  grow(t.counts_);
  grow(t.cls_);
  grow(t.reg_);
  grow(t.numbers_);
  grow(t.rules_);
  grow(t.sets_);
  grow(t.codes_);
  grow(t.ranges_);
}

void TreeBuilder::LinkChecked(const std::vector<uint32_t>& order,
                              const std::vector<uint32_t>& childStart,
                              const std::vector<uint32_t>& childSlots) {
  MemTree& t = *tree_;
  const std::size_t n = t.nodes_.size();
  std::vector<uint32_t> indexOfSlot;
  detail::ReserveHuge(indexOfSlot, n);
  indexOfSlot.resize(n);
  for (std::size_t k = 0; k < order.size(); ++k) indexOfSlot[order[k]] = static_cast<uint32_t>(k);
  std::vector<MemNode> nodes;
  detail::ReserveHuge(nodes, order.size());
  nodes.resize(order.size());
  t.childIndices_.clear();
  detail::ReserveHuge(t.childIndices_, childSlots.size());
  const auto samples = static_cast<std::size_t>(t.numberOfSamples_);
  for (std::size_t k = 0; k < order.size(); ++k) {
    const uint32_t slot = order[k];
    MemNode& node = nodes[k];
    node = t.nodes_[slot];
    node.index_ = static_cast<uint32_t>(k);
    node.parent_ = -1;
    node.firstChild_ = static_cast<uint32_t>(t.childIndices_.size());
    node.childCount_ = childStart[slot + 1] - childStart[slot];
    node.biggestChild_ = node.childCount_ > 0 && node.noBiggestChild_ ? -1 : 0;
    double most = -1.0;
    for (uint32_t c = 0; c < node.childCount_; ++c) {
      const uint32_t child = childSlots[childStart[slot] + c];
      t.childIndices_.push_back(indexOfSlot[child]);
      // The biggest child is the first with the most training cases.
      const double count = t.counts_[2 * (child * samples)];
      if (!node.noBiggestChild_ && count > most) {
        most = count;
        node.biggestChild_ = static_cast<int32_t>(c);
      }
    }
  }
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    for (uint32_t c = 0; c < nodes[k].childCount_; ++c) {
      nodes[t.childIndices_[nodes[k].firstChild_ + c]].parent_ = static_cast<int32_t>(k);
    }
  }
  t.nodes_ = std::move(nodes);
  for (MemClsInfo& info : t.cls_) info.values_ = t.numbers_.data() + info.first_;
  for (MemRegInfo& info : t.reg_) info.distribution_ = t.numbers_.data() + info.first_;
  t.Finish();
  linked_ = true;
}

std::unique_ptr<MemTree> TreeBuilder::Build() {
  if (!tree_) throw ModelError("Build: the tree was already built");
  if (linked_) {
    ids_.clear();
    return std::move(tree_);
  }
  if (pending_.empty()) throw ModelError("tree: no root node");
  const int type = tree_->algorithmType_;
  if ((type == 1 || type == 3) && !tree_->priors_) {
    throw ModelError("tree: algorithm type " + std::to_string(type) + " needs priors");
  }
  for (Pending& node : pending_) {
    for (std::size_t s = 0; s < node.samples.size(); ++s) {
      if (!node.samples[s]) Fail(node, "no statistics for sample " + std::to_string(s));
    }
    const std::size_t children = node.children.size();
    if (children == 0) {
      if (node.split || !node.surrogates.empty()) Fail(node, "a leaf has no split rules");
      if (node.noBiggestChild) Fail(node, "a leaf has no children to have a biggest one");
      continue;
    }
    if (!node.split) Fail(node, "a node with children needs a split");
    auto sized = [&](const RuleSpec& rule, const std::string& what) {
      if (rule.children.size() != children) {
        Fail(node, what + " has " + std::to_string(rule.children.size()) +
                       " child value sets but the node has " + std::to_string(children) +
                       " children");
      }
    };
    sized(*node.split, "split");
    for (std::size_t s = 0; s < node.surrogates.size(); ++s) {
      sized(node.surrogates[s], "surrogate " + std::to_string(s));
    }
  }
  // Laid out flat in handle order, which puts parents before their children.
  std::vector<uint32_t> order(pending_.size());
  std::vector<uint32_t> childStart{0};
  std::vector<uint32_t> childSlots;
  std::vector<SampleStats> samples;
  for (std::size_t h = 0; h < pending_.size(); ++h) {
    Pending& node = pending_[h];
    order[h] = static_cast<uint32_t>(h);
    samples.clear();
    for (auto& sample : node.samples) samples.push_back(std::move(*sample));
    AppendChecked(node.id, samples.data(), node.split ? &*node.split : nullptr,
                  node.surrogates.data(), node.surrogates.size(), node.ranges.data(),
                  node.ranges.size(), node.noBiggestChild);
    for (Handle child : node.children) childSlots.push_back(static_cast<uint32_t>(child));
    childStart.push_back(static_cast<uint32_t>(childSlots.size()));
  }
  pending_.clear();
  LinkChecked(order, childStart, childSlots);
  ids_.clear();
  return std::move(tree_);
}

}  // namespace memtree
