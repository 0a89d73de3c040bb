// The split descriptions of a node: its primary rule, then its surrogates, each a ScaleSplit or
// a DiscreteSplit.
#include <algorithm>
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
  const std::vector<const mdt::Variable*>& predictors = *metadata_->GetPredictors();
  const int index = rule.GetPredictorIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= predictors.size()) {
    FailSplit("predictor index " + std::to_string(index) + " is outside the " +
              std::to_string(predictors.size()) + " predictors");
  }
  return *predictors[static_cast<std::size_t>(index)];
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

  // The rule's value sets are kept as the host hands them out and sorted by reference.
  const int children = rule.GetNumberOfChildValueSets();
  std::vector<std::unique_ptr<tree::ValueSet>> sets;
  std::vector<std::pair<const tree::OValueSet*, int>> intervals;
  // Room for the usual few at once; a count the host makes up does not make a huge block.
  sets.reserve(static_cast<std::size_t>(std::clamp(children, 0, 64)));
  intervals.reserve(sets.capacity());
  for (int i = 0; i < children; ++i) {
    std::unique_ptr<tree::ValueSet> values(rule.GetChildValueSet(i));
    if (!values) continue;
    const auto* interval = dynamic_cast<const tree::OValueSet*>(values.get());
    if (interval == nullptr) {
      FailSplit("child " + std::to_string(i) + " has category codes, but predictor '" +
                predictor.GetName() + "' is ordered and needs an interval");
    }
    sets.push_back(std::move(values));
    intervals.emplace_back(interval, i);
  }
  // Ascending by lower bound, the interval without one first. Stable, so that intervals with
  // equal lower bounds keep their child order and two exports of one model are the same. The
  // few intervals of a usual split are sorted in place; stable_sort asks for a buffer.
  auto less = [](const std::pair<const tree::OValueSet*, int>& a,
                 const std::pair<const tree::OValueSet*, int>& b) {
    return a.first->LessThan(*b.first);
  };
  if (intervals.size() <= 16) {
    for (std::size_t i = 1; i < intervals.size(); ++i) {
      for (std::size_t j = i; j > 0 && less(intervals[j], intervals[j - 1]); --j) {
        std::swap(intervals[j], intervals[j - 1]);
      }
    }
  } else {
    std::stable_sort(intervals.begin(), intervals.end(), less);
  }

  // A well-formed rule has one interval without an upper bound, the highest. Should there be
  // more, only the last in this order (the highest lower bound; among equal ones the highest
  // child position) is named: the attribute appears once, so the document stays well-formed,
  // and it names one child, so it stays unambiguous. The others write nothing.
  int top = -1;
  for (const auto& [interval, position] : intervals) {
    if (!interval->HasHigh()) top = position;
  }
  out_->StartElement("ScaleSplit");
  out_->Attribute("VarName", predictor.GetName());
  out_->Attribute("MissingValueMapping", ChildPosition(rule.GetMissingValueChild()));
  if (top >= 0) out_->Attribute("TopIntervalMapping", ChildPosition(top));
  for (const auto& [interval, position] : intervals) {
    if (interval->HasHigh()) {
      AddMappedOrdinalValue(format, predictor, interval->GetHigh(), position,
                            interval->IsLowOpen());
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
