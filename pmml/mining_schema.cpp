// MiningSchema and ModelStats: the fields the splits use, in order of first use, then the target.
#include <algorithm>
#include <cmath>
#include <memory>

#include "model/prefix_node_iterator.h"
#include "pmml/pmml_output_adapter.h"
#include "xmlu/xml_item.h"

namespace TreeOut {

void PMMLOutputAdapterImp::AddMiningSchema(xmlu::XMLElement* treeModel) {
  tree::PrefixNodeIterator walk(model_->GetRoot());
  while (!walk.AtEnd()) {
    const tree::Node* node = walk.Next();
    if (node == nullptr) break;
    if (node->GetNumberOfChildren() == 0) continue;
    addIndex(splitPredictors_,
             std::unique_ptr<tree::SplitRule>(node->GetSplit(0))->GetPredictorIndex());
    for (int i = 0; i < node->GetNumberOfSurrogates(); ++i) {
      addIndex(splitPredictors_,
               std::unique_ptr<tree::SplitRule>(node->GetSurrogate(i))->GetPredictorIndex());
    }
  }
  const std::vector<mdt::Variable>& predictors = *metadata_->GetPredictors();
  std::unique_ptr<xmlu::XMLElement> schema(xmlu::NewElement("MiningSchema"));
  for (int index : splitPredictors_) {
    AddMiningField(predictors[static_cast<std::size_t>(index)], false, schema.get());
  }
  AddMiningField(*metadata_->GetTarget(), true, schema.get());
  treeModel->AddChild(schema.release());
}

void PMMLOutputAdapterImp::addIndex(std::vector<int>& list, int index) {
  // A tree uses few distinct predictors, so a scan is cheaper than keeping a second index.
  if (std::find(list.begin(), list.end(), index) == list.end()) list.push_back(index);
}

void PMMLOutputAdapterImp::AddMiningField(const mdt::Variable& field, bool predicted,
                                          xmlu::XMLElement* miningSchema) {
  std::unique_ptr<xmlu::XMLElement> element(xmlu::NewElement("MiningField"));
  element->AddAttribute("name", field.GetName());
  element->AddAttribute("usageType", predicted ? "predicted" : "active");
  // A value the dictionary does not list is scored as missing, as the tree scores a value that
  // no split names, instead of rejecting the whole record.
  if (portable_ && !predicted) element->AddAttribute("invalidValueTreatment", "asMissing");
  miningSchema->AddChild(element.release());
}

void PMMLOutputAdapterImp::AddModelStats(xmlu::XMLElement* treeModel, tree::DataSample sample) {
  const std::vector<mdt::Variable>& predictors = *metadata_->GetPredictors();
  std::unique_ptr<xmlu::XMLElement> stats(xmlu::NewElement("ModelStats"));
  for (int index : splitPredictors_) {
    AddUnivariateStats(predictors[static_cast<std::size_t>(index)], index, stats.get(), sample);
  }
  // A tree without splits still describes one field; with no predictors at all, ModelStats
  // stays empty, which the schema allows.
  if (splitPredictors_.empty() && !predictors.empty()) {
    AddUnivariateStats(predictors[0], 0, stats.get(), sample);
  }
  treeModel->AddChild(stats.release());
}

void PMMLOutputAdapterImp::AddUnivariateStats(const mdt::Variable& field, int index,
                                              xmlu::XMLElement* modelStats,
                                              tree::DataSample sample) {
  std::unique_ptr<xmlu::XMLElement> stats(xmlu::NewElement("UnivariateStats"));
  stats->AddAttribute("field", field.GetName());
  AddCounts(field, index, stats.get(), sample);
  if (field.GetMeasurementLevel() == global::CONTINUOUS) {
    if (!portable_) {
      AddNumericInfo(field, index, stats.get());
    } else {
      // Only a range the host knows: it leaves NaN alone when it has none.
      double minimum = std::nan(""), maximum = std::nan("");
      model_->GetRoot()->GetPredictorRange(index, minimum, maximum);
      if (!std::isnan(minimum) && !std::isnan(maximum)) AddNumericInfo(field, index, stats.get());
    }
  }
  modelStats->AddChild(stats.release());
}

void PMMLOutputAdapterImp::AddCounts(const mdt::Variable&, int, xmlu::XMLElement* univariateStats,
                                     tree::DataSample) {
  // Always the root's training count: every Counts of a document carries the same total.
  std::unique_ptr<xmlu::XMLElement> counts(xmlu::NewElement("Counts"));
  counts->AddAttribute("totalFreq", Number(model_->GetRoot()->GetTotalCount(tree::DataSample(0))));
  // The host counts neither missing nor invalid values; the portable profile does not pretend.
  if (!portable_) {
    counts->AddAttribute("missingFreq", 0.0);
    counts->AddAttribute("invalidFreq", 0.0);
  }
  univariateStats->AddChild(counts.release());
}

void PMMLOutputAdapterImp::AddNumericInfo(const mdt::Variable&, int index,
                                          xmlu::XMLElement* univariateStats) {
  double minimum = 1.0;
  double maximum = 1.0;
  model_->GetRoot()->GetPredictorRange(index, minimum, maximum);
  std::unique_ptr<xmlu::XMLElement> info(xmlu::NewElement("NumericInfo"));
  info->AddAttribute("minimum", Number(minimum));
  info->AddAttribute("maximum", Number(maximum));
  univariateStats->AddChild(info.release());
}

}  // namespace TreeOut
