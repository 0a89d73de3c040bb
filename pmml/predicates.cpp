// The predicate of every non-root Node: the parent's primary and surrogate rules for this child.
#include <memory>

#include "model/ovalue_set.h"
#include "pmml/pmml_output_adapter.h"
#include "xmlu/markup_writer.h"

namespace TreeOut {

void PMMLOutputAdapterImp::AddCompoundPredicate(
    tree::SplitRule& parentSplit, int childIndex,
    const std::vector<tree::SplitRule*>& parentSurrogates, bool isBiggestChild) {
  if (portable_) {
    AddPortablePredicate(parentSplit, childIndex, parentSurrogates, isBiggestChild);
    return;
  }
  const std::vector<mdt::Variable>& predictors = *metadata_->GetPredictors();
  out_->StartElement("CompoundPredicate");
  out_->Attribute("booleanOperator", "surrogate");
  auto addRule = [&](tree::SplitRule& rule) {
    const int index = rule.GetPredictorIndex();
    const mdt::Variable& predictor = predictors[static_cast<std::size_t>(index)];
    const bool ordered =
        settings_->GetPredictorInfo().GetPredictor(index).GetMeasurementLevel() != 0;
    std::unique_ptr<tree::ValueSet> values(rule.GetChildValueSet(childIndex));
    const bool missingChild = childIndex == rule.GetMissingValueChild();
    buildCompoundPredicate(values.get(), predictor.GetName(), ordered, predictor, missingChild);
  };
  addRule(parentSplit);
  for (tree::SplitRule* surrogate : parentSurrogates) addRule(*surrogate);
  // Only the biggest child takes a record that every rule leaves undecided.
  if (isBiggestChild) {
    AddTrue();
  } else {
    AddFalse();
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::buildCompoundPredicate(tree::ValueSet* valueSet,
                                                  const std::string& fieldName, bool ordered,
                                                  const mdt::Variable& variable,
                                                  bool missingChild) {
  out_->StartElement("CompoundPredicate");
  // The operator goes on the start tag, so it is decided before any part is written.
  if (valueSet == nullptr) {
    out_->Attribute("booleanOperator", "and");
    if (missingChild) AddPredicate(fieldName, "isMissing");
    AddTrue();
    out_->EndElement();
    return;
  }

  if (ordered) {
    const auto* interval = dynamic_cast<const tree::OValueSet*>(valueSet);
    if (interval == nullptr) {  // wrong kind: no operator, at most M
      if (missingChild) AddPredicate(fieldName, "isMissing");
      out_->EndElement();
      return;
    }
    // A middle interval of the missing-value child needs its own "and" inside the "or".
    const bool nested = interval->HasLow() && interval->HasHigh() && missingChild;
    out_->Attribute("booleanOperator", missingChild ? "or" : "and");
    if (missingChild) AddPredicate(fieldName, "isMissing");
    if (nested) {
      out_->StartElement("CompoundPredicate");
      out_->Attribute("booleanOperator", "and");
    }
    if (interval->HasLow()) {
      AddPredicate(fieldName, interval->IsLowOpen() ? "greaterThan" : "greaterOrEqual", variable,
                   interval->GetLow());
    } else if (!missingChild) {
      AddTrue();
    }
    if (interval->HasHigh()) {
      AddPredicate(fieldName, interval->IsHighOpen() ? "lessThan" : "lessOrEqual", variable,
                   interval->GetHigh());
    } else if (!missingChild) {
      AddTrue();
    }
    if (nested) out_->EndElement();
    out_->EndElement();
    return;
  }

  const auto* codes = dynamic_cast<const tree::NValueSet*>(valueSet);
  if (codes == nullptr) {
    if (missingChild) AddPredicate(fieldName, "isMissing");
    out_->EndElement();
    return;
  }
  out_->Attribute("booleanOperator", "or");
  if (missingChild) AddPredicate(fieldName, "isMissing");
  int written = 0;
  std::unique_ptr<tree::NValueSetIterator> it(codes->CreateIterator());
  while (it->HasNext()) {
    const int code = it->Next();
    AddPredicate(fieldName, "equal", variable, code);
    ++written;
  }
  it.reset();
  if (written == 1) AddFalse();
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddPredicate(const std::string& fieldName, const char* op,
                                        const mdt::Variable& variable, double value) {
  out_->StartElement("SimplePredicate");
  out_->Attribute("field", fieldName);
  out_->Attribute("operator", op);
  DecodedAttribute("value", variable, value);
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddPredicate(const std::string& fieldName, const char* op) {
  out_->StartElement("SimplePredicate");
  out_->Attribute("field", fieldName);
  out_->Attribute("operator", op);
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddTrue() {
  out_->StartElement("True");
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddFalse() {
  out_->StartElement("False");
  out_->EndElement();
}

}  // namespace TreeOut
