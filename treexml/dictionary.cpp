// Dictionary: one Variable per predictor, then the target; and the small Value, Label and
// Category writers that the node and split writers share.
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "treexml/xml_output_adapter.h"
#include "xmlu/markup_writer.h"
#include "xmlu/number_text.h"

namespace TreeOut {

namespace {

const char* MeasurementLevelText(global::MeasurementLevel level) {
  switch (level) {
    case global::NOMINAL:
      return "NOMINAL";
    case global::ORDINAL:
      return "ORDINAL";
    case global::CONTINUOUS:
      return "CONTINUOUS";
    default:
      return "UNKNOWN";
  }
}

// A value as a Category writes it: numbers in the one number form of the document, everything
// else (texts, and "no value" as the empty text) as the variant's own text.
std::string ValueText(const mdt::Variant& value) {
  if (value.GetType() == mdt::Variant::NUMBER) {
    return xmlu::FormatNumber(static_cast<double>(value));
  }
  return static_cast<const char*>(value);
}

// The element name with one text child (so "<Value></Value>" for an empty text).
void AddTextElement(xmlu::MarkupWriter& out, const char* name, const char* text) {
  out.StartElement(name);
  out.Text(text);
  out.EndElement();
}

}  // namespace

void XMLOutputAdapter::AddDictionary() {
  out_->StartElement("Dictionary");
  const std::vector<mdt::Variable>& predictors = *metadata_->GetPredictors();
  for (std::size_t i = 0; i < predictors.size(); ++i) {
    AddVariable(static_cast<int>(i), predictors[i]);
  }
  AddVariable(-1, *metadata_->GetTarget());
  out_->EndElement();
}

void XMLOutputAdapter::AddVariable(int index, const mdt::Variable& variable) {
  const global::MeasurementLevel level = variable.GetMeasurementLevel();
  out_->StartElement("Variable");
  out_->Attribute("Name", variable.GetName());
  out_->Attribute("Label", variable.GetLabel());
  out_->Attribute("MeasurementLevel", MeasurementLevelText(level));
  // Only string storage is told apart; every other storage type reads as numeric.
  out_->Attribute("Type", variable.GetStorageType() == global::STRING_STORAGE ? "1" : "0");

  AddFormatSpec(variable);
  if (level == global::NOMINAL || level == global::ORDINAL) {
    AddCategories(index, variable);
  }
  const mdt::Encoder* encoder = variable.GetEncoding();
  if (encoder != nullptr) {
    if (const mdt::MissingValues* missing = encoder->GetMissingValues()) {
      AddMissingValues(variable, *missing);
    }
  }
  out_->EndElement();
}

void XMLOutputAdapter::AddFormatSpec(const mdt::Variable&) {
  // The same display format for every field.
  out_->StartElement("FormatSpec");
  out_->Attribute("Format", "5");
  out_->Attribute("Decimals", "2");
  out_->Attribute("Width", "8");
  out_->EndElement();
}

void XMLOutputAdapter::AddCategories(int index, const mdt::Variable& variable) {
  if (index < -1 || valueSets_.empty()) return;
  // The target's set is the last entry; a predictor's is at its position.
  const std::size_t entry = index == -1 ? valueSets_.size() - 1 : static_cast<std::size_t>(index);
  if (entry >= valueSets_.size()) return;
  const std::set<double>& codes = valueSets_[entry];
  if (codes.empty()) return;

  out_->StartElement("Categories");
  const mdt::Encoder* encoder = variable.GetEncoding();
  for (double code : codes) {
    if (encoder == nullptr) {
      AddCategory(variable, mdt::Variant(code));
      continue;
    }
    // Every source value behind the code gets its own Category.
    const mdt::EncodingSets sources = encoder->Decode(code);
    for (const mdt::EncodingSet* set : sources.GetEncodingSetList()) {
      for (const mdt::EncodingItem& item : set->GetItems()) {
        AddCategory(variable, item.GetValue());
      }
    }
  }
  out_->EndElement();
}

void XMLOutputAdapter::AddCategory(const mdt::Variable& variable, const mdt::Variant& value) {
  out_->StartElement("Category");
  AddValue(ValueText(value).c_str());
  const std::string label = variable.GetValueLabel(value);
  if (!label.empty()) AddLabel(label.c_str());
  out_->EndElement();
}

void XMLOutputAdapter::AddMissingValues(const mdt::Variable& variable,
                                        const mdt::MissingValues& missing) {
  out_->StartElement("MissingValues");
  const std::vector<mdt::EncodingSet*>& sets = missing.GetEncodingSets().GetEncodingSetList();
  // Discrete values first, ranges after them, whatever their order in the metadata. Only the
  // exact kind counts as a range: a subclass of Interval is listed with the discrete values.
  std::vector<const mdt::EncodingSet*> ranges;
  for (const mdt::EncodingSet* set : sets) {
    if (typeid(*set) == typeid(mdt::Interval)) {
      ranges.push_back(set);
      continue;
    }
    for (const mdt::EncodingItem& item : set->GetItems()) {
      if (item.GetValue().GetType() != mdt::Variant::NONE) {
        AddCategory(variable, item.GetValue());
      }
    }
  }
  for (const mdt::EncodingSet* set : ranges) {
    const std::vector<mdt::EncodingItem> items = set->GetItems();
    for (std::size_t i = 1; i < items.size(); ++i) {
      AddRange(variable, items[i - 1], items[i]);
    }
  }
  out_->EndElement();
}

void XMLOutputAdapter::AddRange(const mdt::Variable& variable, const mdt::EncodingItem& low,
                                const mdt::EncodingItem& high) {
  // Whether an end belongs to the range is not part of the format.
  out_->StartElement("Range");
  AddCategory(variable, low.GetValue());
  AddCategory(variable, high.GetValue());
  out_->EndElement();
}

void XMLOutputAdapter::AddValue(const char* text) { AddTextElement(*out_, "Value", text); }

void XMLOutputAdapter::AddLabel(const char* text) { AddTextElement(*out_, "Label", text); }

std::string XMLOutputAdapter::DecodeFirstValue(const mdt::Variable& variable, double code,
                                               const char*) {
  const mdt::Encoder* encoder = variable.GetEncoding();
  if (encoder == nullptr) return xmlu::FormatNumber(code);
  // Every node decodes the same few codes; NaN never finds itself in the map, so it is not kept.
  const auto key = std::make_pair(&variable, code);
  const auto known = decoded_.find(key);
  if (known != decoded_.end()) return known->second;
  std::string text = DecodeEncoded(*encoder, code);
  if (code == code) decoded_.emplace(key, text);
  return text;
}

std::string XMLOutputAdapter::DecodeEncoded(const mdt::Encoder& encoder, double code) {
  const mdt::EncodingSets sources = encoder.Decode(code);
  const std::vector<mdt::EncodingSet*>& list = sources.GetEncodingSetList();
  if (list.empty()) return std::string();
  const mdt::EncodingSet& first = *list.front();
  const std::vector<mdt::EncodingItem> items = first.GetItems();
  // The exact kind matters: a subclass of one of these is none of them. The value's own text
  // is used for numbers too.
  const std::type_info& kind = typeid(first);
  if (kind == typeid(mdt::Interval)) {
    // An interval stands for its upper end.
    return items.size() >= 2 ? static_cast<const char*>(items[1].GetValue()) : std::string();
  }
  if (kind == typeid(mdt::CutPoints) || kind == typeid(mdt::DiscreteValues)) {
    return items.empty() ? std::string() : static_cast<const char*>(items[0].GetValue());
  }
  return std::string();
}

}  // namespace TreeOut
