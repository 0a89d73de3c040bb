// Vendor extensions: per node (regression statistics, split statistics) and per model
// (predictor importance, priors).
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>

#include "imported/importance/predictor_rank.h"
#include "pmml/pmml_output_adapter.h"
#include "xmlu/markup_writer.h"
#include "xmlu/number_text.h"

namespace TreeOut {

namespace {

// The split statistics X-NodeStats may carry, in the order they are written.
struct StatisticColumn {
  const char* name;
  uint32_t kind;
  uint32_t entryBit;
  int entry;
  bool infinityAsInf;
};

constexpr StatisticColumn kStatistics[] = {
    {"improvement", tree::stat::kImprovement, tree::stat::kEntry0, 0, false},
    {"fStats", tree::stat::kF, tree::stat::kEntry0, 0, true},
    {"levenesF", tree::stat::kLevenesF, tree::stat::kEntry0, 0, true},
    {"chiSquare", tree::stat::kChiSquare, tree::stat::kEntry0, 0, false},
    {"association", tree::stat::kAssociation, tree::stat::kEntry1, 1, false},
    {"pValue", tree::stat::kPValue, tree::stat::kEntry1, 1, false},
    {"adjPValue", tree::stat::kAdjPValue, tree::stat::kEntry1, 1, false},
    {"df1", tree::stat::kDf1, tree::stat::kEntry2, 2, false},
    {"df2", tree::stat::kDf2, tree::stat::kEntry3, 3, false},
};

// Algorithm type codes of the settings.
constexpr int kCart = 0, kCartWithPriors = 1, kChaidWithPriors = 3, kQuest = 4;

}  // namespace

void PMMLOutputAdapterImp::AddNodeExtension(const tree::Node& node, tree::SplitRule* rule,
                                            tree::DataSample sample) {
  const bool classification = model_->IsClassification();
  if (classification && rule == nullptr) return;
  out_->StartElement("Extension");
  out_->StartElement("X-Node");
  if (!classification) AddXRegInfo(*node.GetRegInfo(sample));
  if (rule != nullptr) AddXNodeStats(*rule);
  out_->EndElement();
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddXRegInfo(const tree::RegInfo& info) {
  const double deviation = info.GetStdDeviation();
  out_->StartElement("X-RegInfo");
  NumberAttribute("mean", info.GetMean());
  if (deviation != -DBL_MAX) {
    NumberAttribute("stdDev", deviation);
  } else if (!portable_) {
    out_->Attribute("stdDev", "0");  // the portable profile leaves an unknown one out
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddXNodeStats(tree::SplitRule& rule) {
  out_->StartElement("X-NodeStats");
  if (rule.HasBody()) {
    const uint32_t flags = rule.GetStatisticFlags();
    for (const StatisticColumn& column : kStatistics) {
      if ((flags & column.kind) == 0 || (flags & column.entryBit) == 0) continue;
      const double value = rule.GetStatistic(column.entry);
      if (column.infinityAsInf && value == HUGE_VAL) {
        out_->Attribute(column.name, "inf");
      } else {
        NumberAttribute(column.name, value);
      }
    }
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddXTreeModel() {
  out_->StartElement("Extension");
  out_->StartElement("X-TreeModel");
  int algorithm;
  {
    std::unique_ptr<tree::AlgSettings> settings(model_->CreateSettings());
    algorithm = settings->GetAlgorithmType();
  }
  if (algorithm == kCart || algorithm == kCartWithPriors) {
    AddPredictorImportanceList();
  }
  if (algorithm == kCartWithPriors || algorithm == kChaidWithPriors || algorithm == kQuest) {
    AddXPriors();
  }
  out_->EndElement();
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddPredictorImportanceList() {
  out_->StartElement("X-PredictorImportanceList");
  std::map<unsigned int, double> importance;
  // The importance library is linked in: asked directly, with no set-up call.
  PredictorRank rank;
  rank.ComputeVariableImportance(*model_, CartPredictorImportanceSettings(1.0));
  const std::size_t predictors = metadata_->GetPredictors()->size();
  for (std::size_t i = 0; i < predictors; ++i) {
    if (const PredictorImportance* result =
            rank.GetPredictorImportance(static_cast<unsigned int>(i))) {
      importance[result->GetPredictorIndex()] = result->GetImportance();
    }
  }
  for (int index : splitPredictors_) {
    auto entry = importance.find(static_cast<unsigned int>(index));
    if (entry != importance.end()) AddPredictorImportance(entry);
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddPredictorImportance(std::map<unsigned int, double>::iterator entry) {
  const mdt::Variable& predictor = (*metadata_->GetPredictors())[entry->first];
  out_->StartElement("X-PredictorImportance");
  out_->Attribute("predictorName", predictor.GetName());
  NumberAttribute("importance", entry->second);
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddXPriors() {
  out_->StartElement("X-Priors");
  std::unique_ptr<tree::AlgSettings> settings(model_->CreateSettings());
  const tree::Priors* priors = nullptr;
  switch (settings->GetAlgorithmType()) {
    case kCartWithPriors:
      if (const auto* cart = dynamic_cast<const tree::CCartSettings*>(settings.get())) {
        priors = cart->GetPriors();
      }
      break;
    case kChaidWithPriors:
      if (const auto* chaid = dynamic_cast<const tree::CChaidSettingsImp*>(settings.get())) {
        priors = chaid->priors.get();
      }
      break;
    case kQuest:
      if (const auto* quest = dynamic_cast<const tree::QuestSettings*>(settings.get())) {
        priors = quest->GetPriors();
      }
      break;
    default:
      break;
  }
  // The host must hand priors of the list kind; anything else leaves X-Priors empty rather
  // than reading through a pointer of the wrong type.
  auto* list = const_cast<tree::PriorsImp*>(dynamic_cast<const tree::PriorsImp*>(priors));
  if (list != nullptr) {
    const int count = list->GetNumberOfPriors();
    for (int code = 0; code < count; ++code) AddXPriorValue(list, code);
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddXPriorValue(tree::PriorsImp* priors, int code) {
  out_->StartElement("X-Prior-Value");
  DecodedAttribute("targetCategory", *metadata_->GetTarget(), code);
  NumberAttribute("value", priors->GetPrior(code));
  out_->EndElement();
}

}  // namespace TreeOut
