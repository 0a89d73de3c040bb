// DataDictionary: one DataField per predictor, the target and the weight fields.
#include <string>

#include "imported/metadata/encoding.h"
#include "pmml/pmml_output_adapter.h"
#include "xmlu/markup_writer.h"
#include "xmlu/number_text.h"

namespace TreeOut {

namespace {

const char* OpType(global::MeasurementLevel level) {
  switch (level) {
    case global::NOMINAL:
      return "categorical";
    case global::ORDINAL:
      return "ordinal";
    case global::CONTINUOUS:
      return "continuous";
    default:
      return "UNKNOWN";
  }
}

const char* DataType(const mdt::Variable& field) {
  switch (field.GetStorageType()) {
    case global::NUMERIC_STORAGE:
      return field.IsDate() ? "date" : "double";
    case global::STRING_STORAGE:
      return "string";
    default:
      return "double";
  }
}

// A value as the document writes it; a Variant without a value gives the empty text.
std::string VariantText(const mdt::Variant& value, bool shortest) {
  switch (value.GetType()) {
    case mdt::Variant::NUMBER:
      return shortest ? xmlu::FormatShortest(static_cast<double>(value))
                      : xmlu::FormatNumber(static_cast<double>(value));
    case mdt::Variant::NONE:
      return std::string();
    default:
      return static_cast<const char*>(value);
  }
}

}  // namespace

void PMMLOutputAdapterImp::AddDataDictionary() {
  const std::vector<mdt::Variable>& predictors = *metadata_->GetPredictors();
  const mdt::Variable* frequency = metadata_->GetFrequencyWeight();
  const mdt::Variable* caseWeight = metadata_->GetCaseWeight();
  const double fields =
      static_cast<double>(predictors.size()) + 1 + (frequency ? 1 : 0) + (caseWeight ? 1 : 0);
  out_->StartElement("DataDictionary");
  out_->Attribute("numberOfFields", fields);
  for (std::size_t i = 0; i < predictors.size(); ++i) {
    AddDataField(predictors[i], static_cast<int>(i));
  }
  AddDataField(*metadata_->GetTarget(), -1);
  if (frequency != nullptr) AddDataField(*frequency, -2);
  if (caseWeight != nullptr) AddDataField(*caseWeight, -2);
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddDataField(const mdt::Variable& field, int index) {
  out_->StartElement("DataField");
  out_->Attribute("name", field.GetName());
  // The portable profile writes no empty label.
  if (!portable_ || !field.GetLabel().empty()) {
    out_->Attribute("displayName", field.GetLabel());
  }
  out_->Attribute("optype", OpType(field.GetMeasurementLevel()));
  out_->Attribute("isCyclic", 0.0);
  out_->Attribute("dataType", DataType(field));

  const mdt::Encoder* encoder = field.GetEncoding();
  const mdt::MissingValues* missing = encoder ? encoder->GetMissingValues() : nullptr;
  if (missing != nullptr) HandleMissingValueRange(*missing, field);
  const global::MeasurementLevel level = field.GetMeasurementLevel();
  if ((level == global::NOMINAL || level == global::ORDINAL) && index >= -1) {
    HandleCategories(index, field);
  }
  if (missing != nullptr) HandleMissingValues(*missing, field);
  out_->EndElement();
}

void PMMLOutputAdapterImp::HandleMissingValueRange(const mdt::MissingValues& missing,
                                                   const mdt::Variable&) {
  const std::vector<mdt::Interval> intervals = missing.GetEncodingSets().GetAllIntervals();
  if (intervals.empty()) return;
  out_->StartElement("Extension");
  out_->StartElement("X-DataField");
  for (const mdt::Interval& interval : intervals) AddInterval(interval);
  out_->EndElement();
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddInterval(const mdt::Interval& interval) {
  static const char* const kClosure[2][2] = {{"openOpen", "openClosed"},
                                             {"closedOpen", "closedClosed"}};
  const mdt::EncodingItem& left = interval.GetLeftEnd();
  const mdt::EncodingItem& right = interval.GetRightEnd();
  out_->StartElement("Interval");
  out_->Attribute("closure", kClosure[left.IsInclusive()][right.IsInclusive()]);
  out_->Attribute("leftMargin", VariantText(left.GetValue(), portable_));
  out_->Attribute("rightMargin", VariantText(right.GetValue(), portable_));
  out_->EndElement();
}

void PMMLOutputAdapterImp::HandleCategories(int index, const mdt::Variable& field) {
  if (index < -1 || valueSets_.empty()) return;
  const std::size_t entry = index >= 0 ? static_cast<std::size_t>(index) : valueSets_.size() - 1;
  if (entry >= valueSets_.size()) return;
  const std::set<double>& codes = valueSets_[entry];
  const mdt::Encoder* encoder = field.GetEncoding();
  if (codes.empty() && !portable_) return;

  auto addDecoded = [&](double code) {
    for (const mdt::Variant& value : encoder->Decode(code).GetAllValues()) {
      if (value.GetType() != mdt::Variant::NONE) AddValue(field, value, false);
    }
  };
  if (portable_) {
    // Every category the field has, whether or not a split names it: a value the dictionary
    // leaves out is invalid, and a standard consumer would not score the record as the tree does.
    for (double code : ValidCodes(index, field)) {
      if (encoder != nullptr) {
        addDecoded(code);
      } else {
        AddValue(field, mdt::Variant(code), false);
      }
    }
    return;
  }
  if (field.GetMeasurementLevel() == global::ORDINAL && encoder != nullptr) {
    // An ordinal field lists every category its encoder knows, in the encoder's order: the
    // order is the field's meaning, not only the codes the splits happen to name.
    const auto* map = dynamic_cast<const mdt::MapEncoder*>(encoder);
    if (map == nullptr) return;
    for (int code : map->EncodedValues()) addDecoded(code);
    return;
  }
  for (double code : codes) {
    if (encoder != nullptr) {
      addDecoded(code);
    } else {
      AddValue(field, mdt::Variant(code), false);
    }
  }
}

std::vector<double> PMMLOutputAdapterImp::ValidCodes(int index, const mdt::Variable& field) const {
  if (const auto* map = dynamic_cast<const mdt::MapEncoder*>(field.GetEncoding())) {
    const std::vector<int> codes = map->EncodedValues();
    return std::vector<double>(codes.begin(), codes.end());
  }
  // Without a code table the field's values are its codes, and those the splits use are all the
  // document knows of.
  if (index < -1 || valueSets_.empty()) return {};
  const std::size_t entry = index >= 0 ? static_cast<std::size_t>(index) : valueSets_.size() - 1;
  if (entry >= valueSets_.size()) return {};
  return std::vector<double>(valueSets_[entry].begin(), valueSets_[entry].end());
}

void PMMLOutputAdapterImp::HandleMissingValues(const mdt::MissingValues& missing,
                                               const mdt::Variable& field) {
  for (const mdt::Variant& value : missing.GetEncodingSets().GetAllValues()) {
    if (value.GetType() != mdt::Variant::NONE) AddValue(field, value, true);
  }
}

void PMMLOutputAdapterImp::AddValue(const mdt::Variable& field, const mdt::Variant& value,
                                    bool missing) {
  out_->StartElement("Value");
  out_->Attribute("value", VariantText(value, portable_));
  const std::string label = field.GetValueLabel(value);
  if (!label.empty()) out_->Attribute("displayValue", label);
  out_->Attribute("property", missing ? "missing" : "valid");
  out_->EndElement();
}

}  // namespace TreeOut
