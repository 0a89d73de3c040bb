// The predicate of every non-root Node: the parent's primary and surrogate rules for this child.
#include <memory>

#include "model/ovalue_set.h"
#include "pmml/pmml_output_adapter.h"
#include "xmlu/xml_item.h"

namespace TreeOut {

void PMMLOutputAdapterImp::AddCompoundPredicate(tree::SplitRule& parentSplit, int childIndex,
                                                std::vector<tree::SplitRule*> parentSurrogates,
                                                bool isBiggestChild,
                                                xmlu::XMLElement* nodeElement) {
  if (portable_) {
    std::vector<tree::SplitRule*> rules{&parentSplit};
    rules.insert(rules.end(), parentSurrogates.begin(), parentSurrogates.end());
    nodeElement->AddChild(PortableRules(rules, 0, childIndex, isBiggestChild).release());
    return;
  }
  const std::vector<mdt::Variable>& predictors = *metadata_->GetPredictors();
  std::unique_ptr<xmlu::XMLElement> list(xmlu::NewElement("CompoundPredicate"));
  auto addRule = [&](tree::SplitRule& rule) {
    const int index = rule.GetPredictorIndex();
    const mdt::Variable& predictor = predictors[static_cast<std::size_t>(index)];
    const bool ordered =
        settings_->GetPredictorInfo().GetPredictor(index).GetMeasurementLevel() != 0;
    std::unique_ptr<tree::ValueSet> values(rule.GetChildValueSet(childIndex));
    const bool missingChild = childIndex == rule.GetMissingValueChild();
    list->AddChild(buildCompoundPredicate(values.get(), predictor.GetName(), ordered, predictor,
                                          missingChild));
  };
  addRule(parentSplit);
  for (tree::SplitRule* surrogate : parentSurrogates) addRule(*surrogate);
  // Only the biggest child takes a record that every rule leaves undecided.
  if (isBiggestChild) {
    AddTrue(list.get());
  } else {
    AddFalse(list.get());
  }
  list->AddAttribute("booleanOperator", "surrogate");
  nodeElement->AddChild(list.release());
}

xmlu::XMLElement* PMMLOutputAdapterImp::buildCompoundPredicate(tree::ValueSet* valueSet,
                                                               std::string fieldName, bool ordered,
                                                               const mdt::Variable& variable,
                                                               bool missingChild) {
  std::unique_ptr<xmlu::XMLElement> p(xmlu::NewElement("CompoundPredicate"));
  if (missingChild) AddPredicate(fieldName, "isMissing", "", p.get());
  if (valueSet == nullptr) {
    AddTrue(p.get());
    p->AddAttribute("booleanOperator", "and");
    return p.release();
  }

  if (ordered) {
    const auto* interval = dynamic_cast<const tree::OValueSet*>(valueSet);
    if (interval == nullptr) return p.release();  // wrong kind: no operator, at most M
    // A middle interval of the missing-value child needs its own "and" inside the "or".
    const bool nested = interval->HasLow() && interval->HasHigh() && missingChild;
    xmlu::XMLElement* q = p.get();
    if (nested) {
      p->AddAttribute("booleanOperator", "or");
      q = xmlu::NewElement("CompoundPredicate");
      p->AddChild(q);
    }
    if (interval->HasLow()) {
      AddPredicate(fieldName, interval->IsLowOpen() ? "greaterThan" : "greaterOrEqual",
                   DecodeFirstValue(variable, interval->GetLow()), q);
    } else if (!missingChild) {
      AddTrue(q);
    }
    if (interval->HasHigh()) {
      AddPredicate(fieldName, interval->IsHighOpen() ? "lessThan" : "lessOrEqual",
                   DecodeFirstValue(variable, interval->GetHigh()), q);
    } else if (!missingChild) {
      AddTrue(q);
    }
    if (missingChild && !nested) {
      p->AddAttribute("booleanOperator", "or");
    } else {
      q->AddAttribute("booleanOperator", "and");
    }
    return p.release();
  }

  const auto* codes = dynamic_cast<const tree::NValueSet*>(valueSet);
  if (codes == nullptr) return p.release();
  int written = 0;
  std::unique_ptr<tree::NValueSetIterator> it(codes->CreateIterator());
  while (it->HasNext()) {
    const int code = it->Next();
    AddPredicate(fieldName, "equal", DecodeFirstValue(variable, code), p.get());
    ++written;
  }
  it.reset();
  if (written == 1) AddFalse(p.get());
  p->AddAttribute("booleanOperator", "or");
  return p.release();
}

void PMMLOutputAdapterImp::AddPredicate(std::string fieldName, const char* op,
                                        std::string valueText, xmlu::XMLElement* parent) {
  std::unique_ptr<xmlu::XMLElement> predicate(xmlu::NewElement("SimplePredicate"));
  predicate->AddAttribute("field", fieldName);
  predicate->AddAttribute("operator", op);
  if (std::string(op) != "isMissing") predicate->AddAttribute("value", valueText);
  parent->AddChild(predicate.release());
}

void PMMLOutputAdapterImp::AddTrue(xmlu::XMLElement* parent) {
  parent->AddChild(xmlu::NewElement("True"));
}

void PMMLOutputAdapterImp::AddFalse(xmlu::XMLElement* parent) {
  parent->AddChild(xmlu::NewElement("False"));
}

}  // namespace TreeOut
