// MiningSchema and ModelStats: the fields the splits use, in order of first use, then the target.
#include <algorithm>
#include <cmath>
#include <memory>

#include "model/prefix_node_iterator.h"
#include "pmml/pmml_output_adapter.h"
#include "xmlu/markup_writer.h"

namespace TreeOut {

void PMMLOutputAdapterImp::AddMiningSchema() {
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
  out_->StartElement("MiningSchema");
  for (int index : splitPredictors_) {
    AddMiningField(predictors[static_cast<std::size_t>(index)], false);
  }
  AddMiningField(*metadata_->GetTarget(), true);
  out_->EndElement();
}

void PMMLOutputAdapterImp::addIndex(std::vector<int>& list, int index) {
  // A tree uses few distinct predictors, so a scan is cheaper than keeping a second index.
  if (std::find(list.begin(), list.end(), index) == list.end()) list.push_back(index);
}

void PMMLOutputAdapterImp::AddMiningField(const mdt::Variable& field, bool predicted) {
  out_->StartElement("MiningField");
  out_->Attribute("name", field.GetName());
  out_->Attribute("usageType", predicted ? "predicted" : "active");
  // A value the dictionary does not list is scored as missing, as the tree scores a value that
  // no split names, instead of rejecting the whole record.
  if (portable_ && !predicted) out_->Attribute("invalidValueTreatment", "asMissing");
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddModelStats(tree::DataSample sample) {
  const std::vector<mdt::Variable>& predictors = *metadata_->GetPredictors();
  out_->StartElement("ModelStats");
  for (int index : splitPredictors_) {
    AddUnivariateStats(predictors[static_cast<std::size_t>(index)], index, sample);
  }
  // A tree without splits still describes one field; with no predictors at all, ModelStats
  // stays empty, which the schema allows.
  if (splitPredictors_.empty() && !predictors.empty()) {
    AddUnivariateStats(predictors[0], 0, sample);
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddUnivariateStats(const mdt::Variable& field, int index,
                                              tree::DataSample sample) {
  out_->StartElement("UnivariateStats");
  out_->Attribute("field", field.GetName());
  AddCounts(field, index, sample);
  if (field.GetMeasurementLevel() == global::CONTINUOUS) {
    if (!portable_) {
      AddNumericInfo(field, index);
    } else {
      // Only a range the host knows: it leaves NaN alone when it has none.
      double minimum = std::nan(""), maximum = std::nan("");
      model_->GetRoot()->GetPredictorRange(index, minimum, maximum);
      if (!std::isnan(minimum) && !std::isnan(maximum)) AddNumericInfo(field, index);
    }
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddCounts(const mdt::Variable&, int, tree::DataSample) {
  // Always the root's training count: every Counts of a document carries the same total.
  out_->StartElement("Counts");
  NumberAttribute("totalFreq", model_->GetRoot()->GetTotalCount(tree::DataSample(0)));
  // The host counts neither missing nor invalid values; the portable profile does not pretend.
  if (!portable_) {
    out_->Attribute("missingFreq", 0.0);
    out_->Attribute("invalidFreq", 0.0);
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddNumericInfo(const mdt::Variable&, int index) {
  double minimum = 1.0;
  double maximum = 1.0;
  model_->GetRoot()->GetPredictorRange(index, minimum, maximum);
  out_->StartElement("NumericInfo");
  NumberAttribute("minimum", minimum);
  NumberAttribute("maximum", maximum);
  out_->EndElement();
}

}  // namespace TreeOut
