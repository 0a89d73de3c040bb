// The split descriptions of a node: its primary rule, then its surrogates, each a ScaleSplit or
// a DiscreteSplit.
#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/ovalue_set.h"
#include "treexml/xml_output_adapter.h"
#include "xmlu/xml_item.h"

namespace TreeOut {

namespace {

std::string ChildPosition(int position) { return std::to_string(position); }

}  // namespace

void XMLOutputAdapter::AddSplits(const char* format, const tree::Node& node,
                                 xmlu::XMLElement* nodeElement) {
  // Only the first primary rule is written; nothing marks which split is which but their order.
  {
    std::unique_ptr<tree::SplitRule> primary(node.GetSplit(0));
    AddSplit(format, node, -1, primary.get(), nodeElement);
  }
  const int surrogates = node.GetNumberOfSurrogates();
  for (int i = 0; i < surrogates; ++i) {
    std::unique_ptr<tree::SplitRule> surrogate(node.GetSurrogate(i));
    AddSplit(format, node, i, surrogate.get(), nodeElement);
  }
}

void XMLOutputAdapter::AddSplit(const char* format, const tree::Node& node, int surrogate,
                                const tree::SplitRule* rule, xmlu::XMLElement* nodeElement) {
  splitNode_ = &node;
  splitSurrogate_ = surrogate;
  if (rule == nullptr) FailSplit("the node gives no rule");
  if (!rule->HasBody()) FailSplit("the rule has no predictor data");
  RulePredictor(*rule);  // fails before any element is made for a rule naming no predictor
  const int level =
      settings_->GetPredictorInfo().GetPredictor(rule->GetPredictorIndex()).GetMeasurementLevel();
  if (level == 0) {
    AddDiscreteSplit(format, *rule, nodeElement);
  } else {
    AddScaleSplit(format, *rule, nodeElement);
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

void XMLOutputAdapter::AddScaleSplit(const char* format, const tree::SplitRule& rule,
                                     xmlu::XMLElement* nodeElement) {
  const mdt::Variable& predictor = RulePredictor(rule);
  auto* scaleSplit = xmlu::NewElement("ScaleSplit");
  nodeElement->AddChild(scaleSplit);  // the node owns it from here on
  scaleSplit->AddAttribute("VarName", predictor.GetName());
  scaleSplit->AddAttribute("MissingValueMapping", ChildPosition(rule.GetMissingValueChild()));

  std::vector<std::pair<tree::OValueSet, int>> intervals;
  const int children = rule.GetNumberOfChildValueSets();
  for (int i = 0; i < children; ++i) {
    std::unique_ptr<tree::ValueSet> values(rule.GetChildValueSet(i));
    if (!values) continue;
    const auto* interval = dynamic_cast<const tree::OValueSet*>(values.get());
    if (interval == nullptr) {
      FailSplit("child " + std::to_string(i) + " has category codes, but predictor '" +
                predictor.GetName() + "' is ordered and needs an interval");
    }
    intervals.emplace_back(*interval, i);
  }
  // Ascending by lower bound, the interval without one first. Stable, so that intervals with
  // equal lower bounds keep their child order and two exports of one model are the same.
  std::stable_sort(
      intervals.begin(), intervals.end(),
      [](const std::pair<tree::OValueSet, int>& a, const std::pair<tree::OValueSet, int>& b) {
        return a.first.LessThan(b.first);
      });

  // A well-formed rule has one interval without an upper bound, the highest. Should there be
  // more, only the last in this order (the highest lower bound; among equal ones the highest
  // child position) is named: the attribute appears once, so the document stays well-formed,
  // and it names one child, so it stays unambiguous. The others write nothing.
  int top = -1;
  for (const auto& [interval, position] : intervals) {
    if (interval.HasHigh()) {
      AddMappedOrdinalValue(format, predictor, interval.GetHigh(), position, interval.IsLowOpen(),
                            scaleSplit);
    } else {
      top = position;
    }
  }
  if (top >= 0) scaleSplit->AddAttribute("TopIntervalMapping", ChildPosition(top));
}

void XMLOutputAdapter::AddMappedOrdinalValue(const char* format, const mdt::Variable& predictor,
                                             double cutPoint, int childPosition, bool leftOpen,
                                             xmlu::XMLElement* scaleSplit) {
  std::unique_ptr<xmlu::XMLElement> element(xmlu::NewElement("MappedOrdinalValue"));
  element->AddAttribute("MappedChildPosition", ChildPosition(childPosition));
  element->AddAttribute("LeftOpenInterval", leftOpen ? "1" : "0");
  AddValue(DecodeFirstValue(predictor, cutPoint, format).c_str(), element.get());
  scaleSplit->AddChild(element.release());
}

void XMLOutputAdapter::AddDiscreteSplit(const char* format, const tree::SplitRule& rule,
                                        xmlu::XMLElement* nodeElement) {
  const mdt::Variable& predictor = RulePredictor(rule);
  std::unique_ptr<xmlu::XMLElement> discreteSplit(xmlu::NewElement("DiscreteSplit"));
  discreteSplit->AddAttribute("VarName", predictor.GetName());
  discreteSplit->AddAttribute("MissingValueMapping", ChildPosition(rule.GetMissingValueChild()));
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
    AddMappedDiscreteValues(format, predictor, *codes, discreteSplit.get());
  }
  nodeElement->AddChild(discreteSplit.release());
}

void XMLOutputAdapter::AddMappedDiscreteValues(const char* format, const mdt::Variable& predictor,
                                               const tree::NValueSet& values,
                                               xmlu::XMLElement* discreteSplit) {
  std::unique_ptr<xmlu::XMLElement> element(xmlu::NewElement("MappedDiscreteValues"));
  std::unique_ptr<tree::NValueSetIterator> it(values.CreateIterator());
  while (it && it->HasNext()) {
    const int code = it->Next();
    AddValue(DecodeFirstValue(predictor, static_cast<double>(code), format).c_str(), element.get());
  }
  discreteSplit->AddChild(element.release());
}

}  // namespace TreeOut
