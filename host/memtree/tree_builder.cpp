#include "host/memtree/tree_builder.h"

#include <cmath>
#include <set>
#include <utility>

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
  if (!tree_->nodes_.empty())
    throw ModelError("node " + std::to_string(id) + ": the tree has a root");
  ids_.emplace(id, 0);
  MemNode& node = tree_->nodes_.emplace_back();
  node.tree_ = tree_.get();
  node.id_ = id;
  node.samples_.resize(static_cast<std::size_t>(tree_->numberOfSamples_));
  return 0;
}

TreeBuilder::Handle TreeBuilder::AddChild(Handle parent, unsigned id) {
  NodeAt(parent, "AddChild");
  auto inserted = ids_.emplace(id, tree_->nodes_.size());
  if (!inserted.second) {
    throw ModelError("node " + std::to_string(id) + ": a node with this id exists");
  }
  const Handle handle = tree_->nodes_.size();
  MemNode& node = tree_->nodes_.emplace_back();  // may move the vector; take references after
  node.tree_ = tree_.get();
  node.index_ = static_cast<std::ptrdiff_t>(handle);
  node.parent_ = static_cast<std::ptrdiff_t>(parent);
  node.id_ = id;
  node.samples_.resize(static_cast<std::size_t>(tree_->numberOfSamples_));
  tree_->nodes_[parent].children_.push_back(static_cast<std::ptrdiff_t>(handle));
  return handle;
}

MemNode& TreeBuilder::NodeAt(Handle node, const char* operation) {
  if (!tree_) throw ModelError(std::string(operation) + ": the tree was already built");
  if (node >= tree_->nodes_.size()) {
    throw ModelError(std::string(operation) + ": no node with handle " + std::to_string(node));
  }
  return tree_->nodes_[node];
}

void TreeBuilder::Fail(const MemNode& node, const std::string& message) const {
  throw ModelError("node " + std::to_string(node.id_) + ": " + message);
}

void TreeBuilder::SetSample(Handle handle, int sample, SampleStats stats) {
  MemNode& node = NodeAt(handle, "SetSample");
  const std::string where = "sample " + std::to_string(sample);
  if (sample < 0 || sample >= tree_->numberOfSamples_) {
    Fail(node, where + ": the tree has " + std::to_string(tree_->numberOfSamples_) + " samples");
  }
  std::string problem = check::Count(stats.count);
  if (problem.empty() && stats.totalCount) problem = check::Count(*stats.totalCount);
  if (!problem.empty()) Fail(node, Join(where, problem));
  MemNode::Sample held;
  held.count = stats.count;
  held.totalCount = stats.totalCount.value_or(stats.count);
  if (tree_->classification_) {
    if (!stats.cls) Fail(node, where + ": a classification node needs class information");
    if (stats.reg) Fail(node, where + ": a classification node has no regression information");
    problem = check::Class(*stats.cls, tree_->numberOfCategories_);
    if (!problem.empty()) Fail(node, Join(where + ": class", problem));
    ClassStats& cls = *stats.cls;
    if (cls.proportions.empty()) {
      double sum = 0.0;
      for (double count : cls.counts) sum += count;
      for (double count : cls.counts) cls.proportions.push_back(sum > 0 ? count / sum : 0.0);
    }
    if (cls.probabilities.empty()) cls.probabilities.assign(cls.counts.size(), -1.0);
    held.cls.emplace(std::move(cls));
  } else {
    if (!stats.reg) Fail(node, where + ": a regression node needs regression information");
    if (stats.cls) Fail(node, where + ": a regression node has no class information");
    problem = check::Regression(*stats.reg);
    if (!problem.empty()) Fail(node, Join(where + ": regression", problem));
    held.reg.emplace(std::move(*stats.reg));
  }
  node.samples_[static_cast<std::size_t>(sample)] = std::move(held);
}

void TreeBuilder::CheckRule(const MemNode& node, const RuleSpec& rule,
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
  MemNode& node = NodeAt(handle, "SetSplit");
  CheckRule(node, rule, "split");
  node.split_ = std::move(rule);
}

void TreeBuilder::AddSurrogate(Handle handle, RuleSpec rule) {
  MemNode& node = NodeAt(handle, "AddSurrogate");
  CheckRule(node, rule, "surrogate " + std::to_string(node.surrogates_.size()));
  node.surrogates_.push_back(std::move(rule));
}

void TreeBuilder::SetPredictorRange(Handle handle, PredictorRange range) {
  MemNode& node = NodeAt(handle, "SetPredictorRange");
  if (range.predictor < 0 ||
      static_cast<std::size_t>(range.predictor) >= tree_->predictorLevels_.size()) {
    Fail(node, "range: predictor " + std::to_string(range.predictor) + " is not one of the " +
                   std::to_string(tree_->predictorLevels_.size()) + " predictors");
  }
  if (!Finite(range.min) || !Finite(range.max) || range.min > range.max) {
    Fail(node, "range: min " + NumberText(range.min) + " and max " + NumberText(range.max) +
                   " do not make a range");
  }
  for (PredictorRange& held : node.ranges_) {
    if (held.predictor == range.predictor) Fail(node, "range: predictor given twice");
  }
  node.ranges_.push_back(range);
}

void TreeBuilder::SetNoBiggestChild(Handle node) {
  NodeAt(node, "SetNoBiggestChild").noBiggestChild_ = true;
}

std::unique_ptr<MemTree> TreeBuilder::Build() {
  if (!tree_) throw ModelError("Build: the tree was already built");
  if (tree_->nodes_.empty()) throw ModelError("tree: no root node");
  const int type = tree_->algorithmType_;
  if ((type == 1 || type == 3) && !tree_->priors_) {
    throw ModelError("tree: algorithm type " + std::to_string(type) + " needs priors");
  }
  for (MemNode& node : tree_->nodes_) {
    for (std::size_t s = 0; s < node.samples_.size(); ++s) {
      if (!node.samples_[s]) Fail(node, "no statistics for sample " + std::to_string(s));
    }
    const std::size_t children = node.children_.size();
    if (children == 0) {
      if (node.split_ || !node.surrogates_.empty()) Fail(node, "a leaf has no split rules");
      if (node.noBiggestChild_) Fail(node, "a leaf has no children to have a biggest one");
      continue;
    }
    if (!node.split_) Fail(node, "a node with children needs a split");
    auto sized = [&](const RuleSpec& rule, const std::string& what) {
      if (rule.children.size() != children) {
        Fail(node, what + " has " + std::to_string(rule.children.size()) +
                       " child value sets but the node has " + std::to_string(children) +
                       " children");
      }
    };
    sized(*node.split_, "split");
    for (std::size_t s = 0; s < node.surrogates_.size(); ++s) {
      sized(node.surrogates_[s], "surrogate " + std::to_string(s));
    }
    if (node.noBiggestChild_) {
      node.biggestChild_ = -1;
      continue;
    }
    // The biggest child is the first with the most training cases.
    double most = -1.0;
    for (std::size_t c = 0; c < children; ++c) {
      const double count =
          tree_->nodes_[static_cast<std::size_t>(node.children_[c])].samples_[0]->count;
      if (count > most) {
        most = count;
        node.biggestChild_ = static_cast<int>(c);
      }
    }
  }
  ids_.clear();
  return std::move(tree_);
}

}  // namespace memtree
