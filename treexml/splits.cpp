// The split descriptions of a node: its primary rule, then its surrogates, each a ScaleSplit or
// a DiscreteSplit.
#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/ovalue_set.h"
#include "treexml/xml_output_adapter.h"
#include "xmlu/markup_writer.h"

namespace TreeOut {

namespace {

// Child positions are small whole numbers, whose number text is their decimal text.
double ChildPosition(int position) { return static_cast<double>(position); }

}  // namespace

void XMLOutputAdapter::AddSplits(const char* format, const tree::Node& node) {
  // Only the first primary rule is written; nothing marks which split is which but their order.
  {
    std::unique_ptr<tree::SplitRule> primary(node.GetSplit(0));
    AddSplit(format, node, -1, primary.get());
  }
  const int surrogates = node.GetNumberOfSurrogates();
  for (int i = 0; i < surrogates; ++i) {
    std::unique_ptr<tree::SplitRule> surrogate(node.GetSurrogate(i));
    AddSplit(format, node, i, surrogate.get());
  }
}

void XMLOutputAdapter::AddSplit(const char* format, const tree::Node& node, int surrogate,
                                const tree::SplitRule* rule) {
  splitNode_ = &node;
  splitSurrogate_ = surrogate;
  if (rule == nullptr) FailSplit("the node gives no rule");
  if (!rule->HasBody()) FailSplit("the rule has no predictor data");
  RulePredictor(*rule);  // fails before any element is made for a rule naming no predictor
  const int level =
      settings_->GetPredictorInfo().GetPredictor(rule->GetPredictorIndex()).GetMeasurementLevel();
  if (level == 0) {
    AddDiscreteSplit(format, *rule);
  } else {
    AddScaleSplit(format, *rule);
  }
}

const mdt::Variable& XMLOutputAdapter::RulePredictor(const tree::SplitRule& rule) const {
  const std::vector<mdt::Variable>& predictors = *metadata_->GetPredictors();
  const int index = rule.GetPredictorIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= predictors.size()) {
    FailSplit("predictor index " + std::to_string(index) + " is outside the " +
              std::to_string(predictors.size()) + " predictors");
  }
  return predictors[static_cast<std::size_t>(index)];
}

void XMLOutputAdapter::FailSplit(const std::string& what) const {
  const std::string node =
      splitNode_ != nullptr ? "node " + std::to_string(splitNode_->GetId()) : "a node";
  const std::string rule =
      splitSurrogate_ < 0 ? "primary split" : "surrogate " + std::to_string(splitSurrogate_);
  throw XMLExportError(node + ": " + rule + ": " + what);
}

void XMLOutputAdapter::AddScaleSplit(const char* format, const tree::SplitRule& rule) {
  const mdt::Variable& predictor = RulePredictor(rule);

  // The rule's value sets are kept as the host hands them out and sorted by reference: in
  // place for the usual few children, in a vector beyond that.
  struct Entry {
    std::unique_ptr<tree::ValueSet> set;
    const tree::OValueSet* interval = nullptr;
    int position = 0;
  };
  constexpr int kInPlace = 8;
  const int children = rule.GetNumberOfChildValueSets();
  std::array<Entry, kInPlace> inPlace;
  std::vector<Entry> spilled;
  std::size_t count = 0;
  for (int i = 0; i < children; ++i) {
    std::unique_ptr<tree::ValueSet> values(rule.GetChildValueSet(i));
    if (!values) continue;
    const auto* interval = dynamic_cast<const tree::OValueSet*>(values.get());
    if (interval == nullptr) {
      FailSplit("child " + std::to_string(i) + " has category codes, but predictor '" +
                predictor.GetName() + "' is ordered and needs an interval");
    }
    if (count == kInPlace) {
      spilled.reserve(2 * kInPlace);
      for (Entry& entry : inPlace) spilled.push_back(std::move(entry));
    }
    Entry entry{std::move(values), interval, i};
    if (count < kInPlace) {
      inPlace[count] = std::move(entry);
    } else {
      spilled.push_back(std::move(entry));
    }
    ++count;
  }
  Entry* const first = count <= kInPlace ? inPlace.data() : spilled.data();
  Entry* const last = first + count;
  // Ascending by lower bound, the interval without one first. Stable, so that intervals with
  // equal lower bounds keep their child order and two exports of one model are the same.
  auto less = [](const Entry& a, const Entry& b) { return a.interval->LessThan(*b.interval); };
  if (count <= kInPlace) {
    for (Entry* i = first + 1; i < last; ++i) {
      for (Entry* j = i; j != first && less(*j, *(j - 1)); --j) std::swap(*j, *(j - 1));
    }
  } else {
    std::stable_sort(first, last, less);
  }

  // A well-formed rule has one interval without an upper bound, the highest. Should there be
  // more, only the last in this order (the highest lower bound; among equal ones the highest
  // child position) is named: the attribute appears once, so the document stays well-formed,
  // and it names one child, so it stays unambiguous. The others write nothing.
  int top = -1;
  for (const Entry* e = first; e != last; ++e) {
    if (!e->interval->HasHigh()) top = e->position;
  }
  out_->StartElement("ScaleSplit");
  out_->Attribute("VarName", predictor.GetName());
  out_->Attribute("MissingValueMapping", ChildPosition(rule.GetMissingValueChild()));
  if (top >= 0) out_->Attribute("TopIntervalMapping", ChildPosition(top));
  for (const Entry* e = first; e != last; ++e) {
    if (e->interval->HasHigh()) {
      AddMappedOrdinalValue(format, predictor, e->interval->GetHigh(), e->position,
                            e->interval->IsLowOpen());
    }
  }
  out_->EndElement();
}

void XMLOutputAdapter::AddMappedOrdinalValue(const char* format, const mdt::Variable& predictor,
                                             double cutPoint, int childPosition, bool leftOpen) {
  out_->StartElement("MappedOrdinalValue");
  out_->Attribute("MappedChildPosition", ChildPosition(childPosition));
  out_->Attribute("LeftOpenInterval", leftOpen ? "1" : "0");
  AddValue(DecodeFirstValue(predictor, cutPoint, format).c_str());
  out_->EndElement();
}

void XMLOutputAdapter::AddDiscreteSplit(const char* format, const tree::SplitRule& rule) {
  const mdt::Variable& predictor = RulePredictor(rule);
  out_->StartElement("DiscreteSplit");
  out_->Attribute("VarName", predictor.GetName());
  out_->Attribute("MissingValueMapping", ChildPosition(rule.GetMissingValueChild()));
  // A child without a value set writes nothing, so the position of a MappedDiscreteValues is
  // its child's position only while every earlier child has a set.
  const int children = rule.GetNumberOfChildValueSets();
  for (int i = 0; i < children; ++i) {
    std::unique_ptr<tree::ValueSet> values(rule.GetChildValueSet(i));
    if (!values) continue;
    const auto* codes = dynamic_cast<const tree::NValueSet*>(values.get());
    if (codes == nullptr) {
      FailSplit("child " + std::to_string(i) + " has an interval, but predictor '" +
                predictor.GetName() + "' is nominal and needs category codes");
    }
    AddMappedDiscreteValues(format, predictor, *codes);
  }
  out_->EndElement();
}

void XMLOutputAdapter::AddMappedDiscreteValues(const char* format, const mdt::Variable& predictor,
                                               const tree::NValueSet& values) {
  out_->StartElement("MappedDiscreteValues");
  std::unique_ptr<tree::NValueSetIterator> it(values.CreateIterator());
  while (it && it->HasNext()) {
    const int code = it->Next();
    AddValue(DecodeFirstValue(predictor, static_cast<double>(code), format).c_str());
  }
  out_->EndElement();
}

}  // namespace TreeOut
