// Output of the portable profile: the predicted value and, for classification, one probability
// field per target category.
#include <set>
#include <string>

#include "pmml/pmml_output_adapter.h"
#include "xmlu/markup_writer.h"

namespace TreeOut {

namespace {

// The target's data type, as its DataField gives it.
const char* TargetDataType(const mdt::Variable& target) {
  switch (target.GetStorageType()) {
    case global::NUMERIC_STORAGE:
      return target.IsDate() ? "date" : "double";
    case global::STRING_STORAGE:
      return "string";
    default:
      return "double";
  }
}

}  // namespace

void PMMLOutputAdapterImp::AddOutput() {
  const mdt::Variable& target = *metadata_->GetTarget();
  // Output fields share one name space with the data fields: a name already taken gets a
  // number appended, so that no field hides another.
  std::set<std::string> taken;
  for (const mdt::Variable& predictor : *metadata_->GetPredictors()) {
    taken.insert(predictor.GetName());
  }
  taken.insert(target.GetName());
  if (const mdt::Variable* weight = metadata_->GetFrequencyWeight())
    taken.insert(weight->GetName());
  if (const mdt::Variable* weight = metadata_->GetCaseWeight()) taken.insert(weight->GetName());
  auto unique = [&](const std::string& wanted) {
    std::string name = wanted;
    for (int n = 2; taken.count(name) != 0; ++n) name = wanted + "_" + std::to_string(n);
    taken.insert(name);
    return name;
  };

  out_->StartElement("Output");
  const bool classification = model_->IsClassification();
  const char* optype = !classification                                   ? "continuous"
                       : target.GetMeasurementLevel() == global::ORDINAL ? "ordinal"
                                                                         : "categorical";
  AddOutputField(unique("Predicted_" + target.GetName()), optype,
                 classification ? TargetDataType(target) : "double", "predictedValue", nullptr);
  if (classification) {
    const std::set<double> codes = valueSets_.empty() ? std::set<double>() : valueSets_.back();
    for (double code : codes) {
      const std::string value = DecodeFirstValue(target, code);
      AddOutputField(unique("Probability_" + value), "continuous", "double", "probability", &value);
    }
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddOutputField(const std::string& name, const char* optype,
                                          const char* dataType, const char* feature,
                                          const std::string* value) {
  out_->StartElement("OutputField");
  out_->Attribute("name", name);
  out_->Attribute("optype", optype);
  out_->Attribute("dataType", dataType);
  out_->Attribute("feature", feature);
  if (value != nullptr) out_->Attribute("value", *value);
  out_->EndElement();
}

}  // namespace TreeOut
