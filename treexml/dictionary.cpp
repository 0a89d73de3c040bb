// Dictionary: one Variable per predictor, then the target; and the small Value, Label and
// Category writers that the node and split writers share.
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "treexml/xml_output_adapter.h"
#include "xmlu/number_text.h"
#include "xmlu/xml_item.h"

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

// The element name with one text child.
void AddTextElement(const char* name, const char* text, xmlu::XMLElement* parent) {
  std::unique_ptr<xmlu::XMLElement> element(xmlu::NewElement(name));
  element->AddChild(xmlu::NewString(text));
  parent->AddChild(element.release());
}

}  // namespace

void XMLOutputAdapter::AddDictionary(xmlu::XMLElement* root) {
  std::unique_ptr<xmlu::XMLElement> dictionary(xmlu::NewElement("Dictionary"));
  const std::vector<mdt::Variable>& predictors = *metadata_->GetPredictors();
  for (std::size_t i = 0; i < predictors.size(); ++i) {
    AddVariable(static_cast<int>(i), predictors[i], dictionary.get());
  }
  AddVariable(-1, *metadata_->GetTarget(), dictionary.get());
  root->AddChild(dictionary.release());
}

void XMLOutputAdapter::AddVariable(int index, const mdt::Variable& variable,
                                   xmlu::XMLElement* parent) {
  const global::MeasurementLevel level = variable.GetMeasurementLevel();
  std::unique_ptr<xmlu::XMLElement> element(xmlu::NewElement("Variable"));
  element->AddAttribute("Name", variable.GetName());
  element->AddAttribute("Label", variable.GetLabel());
  element->AddAttribute("MeasurementLevel", MeasurementLevelText(level));
  // Only string storage is told apart; every other storage type reads as numeric.
  element->AddAttribute("Type", variable.GetStorageType() == global::STRING_STORAGE ? "1" : "0");

  AddFormatSpec(variable, element.get());
  if (level == global::NOMINAL || level == global::ORDINAL) {
    AddCategories(index, variable, element.get());
  }
  const mdt::Encoder* encoder = variable.GetEncoding();
  if (encoder != nullptr) {
    if (const mdt::MissingValues* missing = encoder->GetMissingValues()) {
      AddMissingValues(variable, *missing, element.get());
    }
  }
  parent->AddChild(element.release());
}

void XMLOutputAdapter::AddFormatSpec(const mdt::Variable&, xmlu::XMLElement* parent) {
  // The same display format for every field.
  std::unique_ptr<xmlu::XMLElement> formatSpec(xmlu::NewElement("FormatSpec"));
  formatSpec->AddAttribute("Format", "5");
  formatSpec->AddAttribute("Decimals", "2");
  formatSpec->AddAttribute("Width", "8");
  parent->AddChild(formatSpec.release());
}

void XMLOutputAdapter::AddCategories(int index, const mdt::Variable& variable,
                                     xmlu::XMLElement* parent) {
  if (index < -1 || valueSets_.empty()) return;
  // The target's set is the last entry; a predictor's is at its position.
  const std::size_t entry = index == -1 ? valueSets_.size() - 1 : static_cast<std::size_t>(index);
  if (entry >= valueSets_.size()) return;
  const std::set<double>& codes = valueSets_[entry];
  if (codes.empty()) return;

  std::unique_ptr<xmlu::XMLElement> categories(xmlu::NewElement("Categories"));
  const mdt::Encoder* encoder = variable.GetEncoding();
  for (double code : codes) {
    if (encoder == nullptr) {
      AddCategory(variable, mdt::Variant(code), categories.get());
      continue;
    }
    // Every source value behind the code gets its own Category.
    const mdt::EncodingSets sources = encoder->Decode(code);
    for (const mdt::EncodingSet* set : sources.GetEncodingSetList()) {
      for (const mdt::EncodingItem& item : set->GetItems()) {
        AddCategory(variable, item.GetValue(), categories.get());
      }
    }
  }
  parent->AddChild(categories.release());
}

void XMLOutputAdapter::AddCategory(const mdt::Variable& variable, const mdt::Variant& value,
                                   xmlu::XMLElement* parent) {
  std::unique_ptr<xmlu::XMLElement> category(xmlu::NewElement("Category"));
  AddValue(ValueText(value).c_str(), category.get());
  const std::string label = variable.GetValueLabel(value);
  if (!label.empty()) AddLabel(label.c_str(), category.get());
  parent->AddChild(category.release());
}

void XMLOutputAdapter::AddMissingValues(const mdt::Variable& variable,
                                        const mdt::MissingValues& missing,
                                        xmlu::XMLElement* parent) {
  std::unique_ptr<xmlu::XMLElement> element(xmlu::NewElement("MissingValues"));
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
        AddCategory(variable, item.GetValue(), element.get());
      }
    }
  }
  for (const mdt::EncodingSet* set : ranges) {
    const std::vector<mdt::EncodingItem> items = set->GetItems();
    for (std::size_t i = 1; i < items.size(); ++i) {
      AddRange(variable, items[i - 1], items[i], element.get());
    }
  }
  parent->AddChild(element.release());
}

void XMLOutputAdapter::AddRange(const mdt::Variable& variable, const mdt::EncodingItem& low,
                                const mdt::EncodingItem& high, xmlu::XMLElement* parent) {
  // Whether an end belongs to the range is not part of the format.
  std::unique_ptr<xmlu::XMLElement> range(xmlu::NewElement("Range"));
  AddCategory(variable, low.GetValue(), range.get());
  AddCategory(variable, high.GetValue(), range.get());
  parent->AddChild(range.release());
}

void XMLOutputAdapter::AddValue(const char* text, xmlu::XMLElement* parent) {
  AddTextElement("Value", text, parent);
}

void XMLOutputAdapter::AddLabel(const char* text, xmlu::XMLElement* parent) {
  AddTextElement("Label", text, parent);
}

std::string XMLOutputAdapter::DecodeFirstValue(const mdt::Variable& variable, double code,
                                               const char*) {
  const mdt::Encoder* encoder = variable.GetEncoding();
  if (encoder == nullptr) return xmlu::FormatNumber(code);
  const mdt::EncodingSets sources = encoder->Decode(code);
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
