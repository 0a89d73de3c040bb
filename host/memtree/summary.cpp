#include "host/memtree/summary.h"

#include <cfloat>
#include <cstring>

#include "arbtree/alg_settings.h"
#include "host/memtree/detail/number_text.h"
#include "model/algorithm_name.h"

namespace memtree {

namespace {

constexpr std::size_t kListedPredictors = 12;
constexpr std::size_t kTopicWidth = 12;

const char* LevelName(int level) {
  switch (level) {
    case 0:
      return "nominal";
    case 1:
      return "ordinal";
    case 2:
      return "continuous";
    default:
      return "unknown level";
  }
}

const char* SampleName(int sample) {
  switch (sample) {
    case 0:
      return "training";
    case 1:
      return "test";
    default:
      return "sample";
  }
}

void Line(std::string& out, const char* topic, const std::string& text) {
  out += topic;
  out += ':';
  const std::size_t used = std::strlen(topic) + 1;
  out.append(used < kTopicWidth ? kTopicWidth - used : 1, ' ');
  out += text;
  out += '\n';
}

std::string Number(double value) {
  return value == -DBL_MAX ? std::string("none") : detail::NumberText(value);
}

}  // namespace

std::string Summarize(const MemTree& tree, const mdt::ModelMetadata& metadata) {
  std::string out;
  const int type = tree.GetAlgorithmType();
  const char* algorithm = tree::AlgorithmName(type);
  Line(out, "Algorithm",
       std::string(algorithm ? algorithm : "unknown algorithm") + " (type " + std::to_string(type) +
           "), " + (tree.IsClassification() ? "classification" : "regression"));

  if (const mdt::Variable* target = metadata.GetTarget()) {
    std::string text = target->GetName() + " (" + LevelName(target->GetMeasurementLevel());
    if (tree.IsClassification()) {
      text += ", " + std::to_string(tree.GetNumberOfCategories()) + " categories";
    }
    Line(out, "Target", text + ")");
  }

  const std::vector<mdt::Variable>& predictors = *metadata.GetPredictors();
  std::string names = std::to_string(predictors.size());
  for (std::size_t i = 0; i < predictors.size() && i < kListedPredictors; ++i) {
    names += i == 0 ? ": " : ", ";
    names += predictors[i].GetName();
  }
  if (predictors.size() > kListedPredictors) {
    names += " and " + std::to_string(predictors.size() - kListedPredictors) + " more";
  }
  Line(out, "Predictors", names);

  if (metadata.GetFrequencyWeight() || metadata.GetCaseWeight()) {
    std::string weights;
    if (const mdt::Variable* w = metadata.GetFrequencyWeight())
      weights += "frequency " + w->GetName();
    if (const mdt::Variable* w = metadata.GetCaseWeight()) {
      weights += (weights.empty() ? "case " : ", case ") + w->GetName();
    }
    Line(out, "Weights", weights);
  }

  Line(out, "Nodes",
       std::to_string(tree.GetNumberOfNodes()) + " (" + std::to_string(tree.GetNumberOfLeaves()) +
           " leaves), depth " + std::to_string(tree.GetDepth()));

  std::string samples;
  std::string risks;
  for (int s = 0; s < tree.GetNumberOfSamples(); ++s) {
    samples += (s == 0 ? "" : ", ") + std::string(SampleName(s));
    if (s > 1) samples += " " + std::to_string(s);
    const tree::Node* root = tree.GetRoot();
    if (root != nullptr) {
      samples +=
          " " + detail::NumberText(root->GetCount(static_cast<tree::DataSample>(s))) + " records";
    }
    if (std::optional<RiskStats> risk = tree.GetRisk(s)) {
      risks += (risks.empty() ? "" : "; ") + std::string(SampleName(s)) + " " + Number(risk->risk) +
               " (std. error " + Number(risk->stdError) + ")";
    }
  }
  Line(out, "Samples", samples);
  Line(out, "Risk", risks.empty() ? std::string("none") : risks);
  if (tree.GetPriors()) {
    std::string priors;
    for (double prior : *tree.GetPriors()) {
      priors += (priors.empty() ? "" : ", ") + detail::NumberText(prior);
    }
    Line(out, "Priors", priors);
  }
  return out;
}

}  // namespace memtree
