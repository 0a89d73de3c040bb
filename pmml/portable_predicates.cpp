// Node predicates of the portable profile: standard predicates whose value, under the PMML
// three-valued logic, sends every record to the child the tree sends it to.
//
// At a node the tree tries the primary rule, then each surrogate in order; a rule decides when
// the record's value lies in one child's value set, or is missing and the rule has a
// missing-value child. A record no rule decides goes to the biggest child, or stops at the node
// when it has none. For child j, with x the rule's predictor and In_j "x lies in child j's set":
//
//   a rule every value of whose field some child holds (no gap) gives
//     In_j                          no missing-value child: unknown when x is missing;
//     or(isMissing x, In_j)         j is the missing-value child;
//     and(isNotMissing x, In_j)     another child takes missing values: false when x is missing;
//   and the surrogate list of the node's rules tries them in order, ending in True for the
//   biggest child and False for the others;
//
//   a rule with a gap (a category no child holds, or values between intervals) cannot make a
//   present value unknown, so the rest of the list goes inside it:
//     or(Decides_j, and(Undecided, Rest))
//   where Decides_j is as above with missing values false unless j takes them, Undecided is
//   true exactly when the rule decides for no child (x present in no set, or missing without a
//   missing-value child), and Rest is the list of the remaining rules. This predicate is never
//   unknown, so nothing follows it in its list.
#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

#include "model/ovalue_set.h"
#include "pmml/pmml_output_adapter.h"
#include "xmlu/markup_writer.h"
#include "xmlu/number_text.h"

namespace TreeOut {

namespace {

// One child's interval, as read from its value set.
struct Interval {
  bool hasLow = false, lowOpen = false, hasHigh = false, highOpen = false;
  double low = 0.0, high = 0.0;
};

// Whether the intervals together hold every number.
bool CoverTheLine(std::vector<Interval> intervals) {
  // Sweep upwards: intervals by lower end (unbounded first, a closed end before an open one);
  // `reach` is the upper end of what is covered so far, `held` whether it holds that end.
  std::sort(intervals.begin(), intervals.end(), [](const Interval& a, const Interval& b) {
    if (a.hasLow != b.hasLow) return !a.hasLow;
    if (!a.hasLow || a.low != b.low) return a.hasLow && a.low < b.low;
    return !a.lowOpen && b.lowOpen;
  });
  bool any = false, held = false;
  double reach = 0.0;
  for (const Interval& i : intervals) {
    if (i.hasLow) {
      if (!any) return false;  // the numbers below this first lower end are held by no child
      const bool joins = i.low < reach || (i.low == reach && (held || !i.lowOpen));
      if (!joins) return false;
    }
    if (!i.hasHigh) return true;  // covered up to plus infinity
    if (!any || i.high > reach || (i.high == reach && !i.highOpen)) {
      reach = i.high;
      held = !i.highOpen;
    }
    any = true;
  }
  return false;
}

}  // namespace

std::vector<std::string> PMMLOutputAdapterImp::CodeTexts(const mdt::Variable& variable, int code) {
  std::vector<std::string> texts;
  if (const mdt::Encoder* encoder = variable.GetEncoding()) {
    for (const mdt::Variant& value : encoder->Decode(code).GetAllValues()) {
      if (value.GetType() == mdt::Variant::TEXT) {
        texts.emplace_back(static_cast<const char*>(value));
      } else if (value.GetType() == mdt::Variant::NUMBER) {
        texts.push_back(Number(static_cast<double>(value)));
      }
    }
  }
  if (texts.empty()) texts.push_back(DecodeFirstValue(variable, code));
  return texts;
}

// What one rule says about child childIndex: the sets of every child, whether they leave a gap,
// and where missing values go.
struct PMMLOutputAdapterImp::PortableRule {
  const mdt::Variable* predictor = nullptr;
  bool ordered = false;
  bool takesMissing = false;     // child childIndex is the missing-value child
  bool hasMissingChild = false;  // some child is
  bool gap = false;
  std::vector<Interval> intervals;  // ordered: every child's that is an interval
  bool hasIn = false;               // ordered: child childIndex's set is an interval
  Interval in;
  std::set<int> codes;       // nominal: the codes of every child
  std::vector<int> inCodes;  // nominal: child childIndex's codes, in the set's order
};

PMMLOutputAdapterImp::PortableRule PMMLOutputAdapterImp::ReadPortableRule(tree::SplitRule& rule,
                                                                          int childIndex) {
  PortableRule read;
  const int index = rule.GetPredictorIndex();
  read.predictor = &(*metadata_->GetPredictors())[static_cast<std::size_t>(index)];
  read.ordered = settings_->GetPredictorInfo().GetPredictor(index).GetMeasurementLevel() != 0;
  const int missingChild = rule.GetMissingValueChild();
  read.takesMissing = missingChild == childIndex;
  read.hasMissingChild = missingChild >= 0;
  const int children = rule.GetNumberOfChildValueSets();
  for (int c = 0; c < children; ++c) {
    std::unique_ptr<tree::ValueSet> values(rule.GetChildValueSet(c));
    if (read.ordered) {
      const auto* set = dynamic_cast<const tree::OValueSet*>(values.get());
      if (set == nullptr) continue;
      Interval i;
      i.hasLow = set->HasLow();
      i.hasHigh = set->HasHigh();
      if (i.hasLow) {
        i.low = set->GetLow();
        i.lowOpen = set->IsLowOpen();
      }
      if (i.hasHigh) {
        i.high = set->GetHigh();
        i.highOpen = set->IsHighOpen();
      }
      read.intervals.push_back(i);
      if (c == childIndex) {
        read.hasIn = true;
        read.in = i;
      }
    } else if (const auto* set = dynamic_cast<const tree::NValueSet*>(values.get())) {
      std::unique_ptr<tree::NValueSetIterator> it(set->CreateIterator());
      while (it->HasNext()) {
        const int code = it->Next();
        read.codes.insert(code);
        if (c == childIndex) read.inCodes.push_back(code);
      }
    }
  }
  if (read.ordered) {
    read.gap = !CoverTheLine(read.intervals);
  } else {
    const std::vector<double> valid = ValidCodes(index, *read.predictor);
    read.gap = valid.empty() || std::any_of(valid.begin(), valid.end(), [&](double v) {
                 return read.codes.count(static_cast<int>(v)) == 0 || static_cast<int>(v) != v;
               });
  }
  return read;
}

void PMMLOutputAdapterImp::AddPortablePredicate(
    tree::SplitRule& parentSplit, int childIndex,
    const std::vector<tree::SplitRule*>& parentSurrogates, bool isBiggestChild) {
  std::vector<PortableRule> rules;
  rules.reserve(1 + parentSurrogates.size());
  rules.push_back(ReadPortableRule(parentSplit, childIndex));
  for (tree::SplitRule* rule : parentSurrogates) {
    rules.push_back(ReadPortableRule(*rule, childIndex));
  }
  PortableRules(rules, 0, isBiggestChild);
}

void PMMLOutputAdapterImp::PortableCompound(const char* op) {
  out_->StartElement("CompoundPredicate");
  out_->Attribute("booleanOperator", op);
}

// The schema wants two parts at least in a CompoundPredicate: a lone part gets the operator's
// neutral partner (True for "and", False for "or").
void PMMLOutputAdapterImp::PortableEnd(const char* op, int parts) {
  for (; parts < 2; ++parts) {
    if (std::strcmp(op, "and") == 0) {
      AddTrue();
    } else {
      AddFalse();
    }
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::PortableText(const std::string& field, const char* op,
                                        const std::string& value) {
  out_->StartElement("SimplePredicate");
  out_->Attribute("field", field);
  out_->Attribute("operator", op);
  out_->Attribute("value", value);
  out_->EndElement();
}

void PMMLOutputAdapterImp::PortableIn(const PortableRule& rule) {
  const mdt::Variable& predictor = *rule.predictor;
  const std::string& field = predictor.GetName();
  // A set that holds nothing (none given, or of the wrong kind) takes no value at all.
  if (rule.ordered ? !rule.hasIn : rule.inCodes.empty()) {
    AddFalse();
    return;
  }
  int parts = 0;
  if (rule.ordered) {
    const Interval& i = rule.in;
    PortableCompound("and");
    if (i.hasLow) {
      AddPredicate(field, i.lowOpen ? "greaterThan" : "greaterOrEqual", predictor, i.low);
      ++parts;
    }
    if (i.hasHigh) {
      AddPredicate(field, i.highOpen ? "lessThan" : "lessOrEqual", predictor, i.high);
      ++parts;
    }
    // An interval without bounds holds every value, yet is unknown for a missing one.
    if (parts == 0) {
      AddPredicate(field, "isNotMissing");
      ++parts;
    }
    PortableEnd("and", parts);
    return;
  }
  PortableCompound("or");
  for (int code : rule.inCodes) {
    for (const std::string& text : CodeTexts(predictor, code)) {
      PortableText(field, "equal", text);
      ++parts;
    }
  }
  PortableEnd("or", parts);
}

// "x lies in no child's set", for a present x (unknown for a missing one).
void PMMLOutputAdapterImp::PortableInNone(const PortableRule& rule) {
  const mdt::Variable& predictor = *rule.predictor;
  const std::string& field = predictor.GetName();
  PortableCompound("and");
  int parts = 0;
  if (rule.ordered) {
    for (const Interval& i : rule.intervals) {
      PortableCompound("or");
      int sides = 0;
      if (i.hasLow) {
        AddPredicate(field, i.lowOpen ? "lessOrEqual" : "lessThan", predictor, i.low);
        ++sides;
      }
      if (i.hasHigh) {
        AddPredicate(field, i.highOpen ? "greaterOrEqual" : "greaterThan", predictor, i.high);
        ++sides;
      }
      PortableEnd("or", sides);
      ++parts;
    }
  } else {
    for (int code : rule.codes) {
      for (const std::string& text : CodeTexts(predictor, code)) {
        PortableText(field, "notEqual", text);
        ++parts;
      }
    }
  }
  if (parts == 0) {
    AddPredicate(field, "isNotMissing");
    ++parts;
  }
  PortableEnd("and", parts);
}

void PMMLOutputAdapterImp::PortableRules(const std::vector<PortableRule>& rules, std::size_t first,
                                         bool isBiggestChild) {
  // The list runs up to the first rule with a gap, which takes the rest inside it, or else to
  // the biggest child's True or another's False; a list of one part is that part alone.
  std::size_t gapRule = first;
  while (gapRule < rules.size() && !rules[gapRule].gap) ++gapRule;
  const bool list = gapRule > first;
  if (list) PortableCompound("surrogate");
  for (std::size_t r = first; r < gapRule; ++r) {
    const PortableRule& rule = rules[r];
    const std::string& field = rule.predictor->GetName();
    if (rule.takesMissing) {
      PortableCompound("or");
      AddPredicate(field, "isMissing");
      PortableIn(rule);
      PortableEnd("or", 2);
    } else if (rule.hasMissingChild) {
      PortableCompound("and");
      AddPredicate(field, "isNotMissing");
      PortableIn(rule);
      PortableEnd("and", 2);
    } else {
      PortableIn(rule);
    }
  }
  if (gapRule == rules.size()) {
    if (isBiggestChild) {
      AddTrue();
    } else {
      AddFalse();
    }
  } else {
    // or(Decides_j, and(Undecided, Rest))
    const PortableRule& rule = rules[gapRule];
    const std::string& field = rule.predictor->GetName();
    PortableCompound("or");
    const char* decides = rule.takesMissing ? "or" : "and";
    PortableCompound(decides);
    AddPredicate(field, rule.takesMissing ? "isMissing" : "isNotMissing");
    PortableIn(rule);
    PortableEnd(decides, 2);
    PortableCompound("and");
    const char* undecided = rule.hasMissingChild ? "and" : "or";
    PortableCompound(undecided);
    AddPredicate(field, rule.hasMissingChild ? "isNotMissing" : "isMissing");
    PortableInNone(rule);
    PortableEnd(undecided, 2);
    PortableRules(rules, gapRule + 1, isBiggestChild);
    PortableEnd("and", 2);
    PortableEnd("or", 2);
  }
  if (list) out_->EndElement();
}

}  // namespace TreeOut
