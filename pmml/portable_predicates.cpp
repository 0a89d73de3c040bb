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
#include <memory>
#include <set>
#include <utility>

#include "model/ovalue_set.h"
#include "pmml/pmml_output_adapter.h"
#include "xmlu/number_text.h"
#include "xmlu/xml_item.h"

namespace TreeOut {

namespace {

using Element = std::unique_ptr<xmlu::XMLElement>;

Element Leaf(const char* name) { return Element(xmlu::NewElement(name)); }

// A CompoundPredicate of the parts; the schema wants two at least, so a lone part gets the
// operator's neutral partner (True for "and", False for "or").
Element Combine(const char* op, std::vector<Element> parts) {
  Element compound(xmlu::NewElement("CompoundPredicate"));
  compound->AddAttribute("booleanOperator", op);
  const bool isAnd = std::string(op) == "and";
  while (parts.size() < 2) parts.push_back(Leaf(isAnd ? "True" : "False"));
  for (Element& part : parts) compound->AddChild(part.release());
  return compound;
}

Element Simple(const std::string& field, const char* op, const std::string* value) {
  Element predicate(xmlu::NewElement("SimplePredicate"));
  predicate->AddAttribute("field", field);
  predicate->AddAttribute("operator", op);
  if (value != nullptr) predicate->AddAttribute("value", *value);
  return predicate;
}

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

std::unique_ptr<xmlu::XMLElement> PMMLOutputAdapterImp::PortableRules(
    const std::vector<tree::SplitRule*>& rules, std::size_t first, int childIndex,
    bool isBiggestChild) {
  const std::vector<mdt::Variable>& predictors = *metadata_->GetPredictors();
  std::vector<Element> list;
  for (std::size_t r = first; r < rules.size(); ++r) {
    tree::SplitRule& rule = *rules[r];
    const int index = rule.GetPredictorIndex();
    const mdt::Variable& predictor = predictors[static_cast<std::size_t>(index)];
    const std::string field = predictor.GetName();
    const bool ordered =
        settings_->GetPredictorInfo().GetPredictor(index).GetMeasurementLevel() != 0;
    const int missingChild = rule.GetMissingValueChild();
    const int children = rule.GetNumberOfChildValueSets();

    // Read every child's set: this child's gives In_j, all of them say whether there is a gap.
    std::vector<Interval> intervals;
    std::set<int> codes;  // of every child, for the gap and for "in no child's set"
    Element in;
    for (int c = 0; c < children; ++c) {
      std::unique_ptr<tree::ValueSet> values(rule.GetChildValueSet(c));
      std::vector<Element> parts;
      if (ordered) {
        const auto* set = dynamic_cast<const tree::OValueSet*>(values.get());
        if (set != nullptr) {
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
          intervals.push_back(i);
          if (c == childIndex) {
            if (i.hasLow) {
              const std::string text = DecodeFirstValue(predictor, i.low);
              parts.push_back(Simple(field, i.lowOpen ? "greaterThan" : "greaterOrEqual", &text));
            }
            if (i.hasHigh) {
              const std::string text = DecodeFirstValue(predictor, i.high);
              parts.push_back(Simple(field, i.highOpen ? "lessThan" : "lessOrEqual", &text));
            }
            // An interval without bounds holds every value, yet is unknown for a missing one.
            if (parts.empty()) parts.push_back(Simple(field, "isNotMissing", nullptr));
            in = Combine("and", std::move(parts));
          }
        }
      } else if (const auto* set = dynamic_cast<const tree::NValueSet*>(values.get())) {
        std::unique_ptr<tree::NValueSetIterator> it(set->CreateIterator());
        while (it->HasNext()) {
          const int code = it->Next();
          codes.insert(code);
          if (c != childIndex) continue;
          for (const std::string& text : CodeTexts(predictor, code)) {
            parts.push_back(Simple(field, "equal", &text));
          }
        }
        if (c == childIndex && !parts.empty()) in = Combine("or", std::move(parts));
      }
    }
    // A set that holds nothing (none given, or of the wrong kind) takes no value at all.
    if (!in) in = Leaf("False");

    bool gap;
    if (ordered) {
      gap = !CoverTheLine(intervals);
    } else {
      const std::vector<double> valid = ValidCodes(index, predictor);
      gap = valid.empty() || std::any_of(valid.begin(), valid.end(), [&](double v) {
              return codes.count(static_cast<int>(v)) == 0 || static_cast<int>(v) != v;
            });
    }

    auto missingTest = [&](bool present) {
      return Simple(field, present ? "isNotMissing" : "isMissing", nullptr);
    };
    if (!gap) {
      if (missingChild == childIndex) {
        std::vector<Element> parts;
        parts.push_back(missingTest(false));
        parts.push_back(std::move(in));
        list.push_back(Combine("or", std::move(parts)));
      } else if (missingChild >= 0) {
        std::vector<Element> parts;
        parts.push_back(missingTest(true));
        parts.push_back(std::move(in));
        list.push_back(Combine("and", std::move(parts)));
      } else {
        list.push_back(std::move(in));
      }
      continue;
    }

    // "x lies in no child's set", for a present x (unknown for a missing one).
    std::vector<Element> outside;
    if (ordered) {
      for (const Interval& i : intervals) {
        std::vector<Element> sides;
        if (i.hasLow) {
          const std::string text = DecodeFirstValue(predictor, i.low);
          sides.push_back(Simple(field, i.lowOpen ? "lessOrEqual" : "lessThan", &text));
        }
        if (i.hasHigh) {
          const std::string text = DecodeFirstValue(predictor, i.high);
          sides.push_back(Simple(field, i.highOpen ? "greaterOrEqual" : "greaterThan", &text));
        }
        outside.push_back(Combine("or", std::move(sides)));
      }
    } else {
      for (int code : codes) {
        for (const std::string& text : CodeTexts(predictor, code)) {
          outside.push_back(Simple(field, "notEqual", &text));
        }
      }
    }
    if (outside.empty()) outside.push_back(missingTest(true));
    Element inNone = Combine("and", std::move(outside));

    std::vector<Element> decides, undecided, rest;
    if (missingChild == childIndex) {
      decides.push_back(missingTest(false));
      decides.push_back(std::move(in));
    } else {
      decides.push_back(missingTest(true));
      decides.push_back(std::move(in));
    }
    if (missingChild >= 0) {
      undecided.push_back(missingTest(true));
      undecided.push_back(std::move(inNone));
    } else {
      undecided.push_back(missingTest(false));
      undecided.push_back(std::move(inNone));
    }
    rest.push_back(Combine(missingChild >= 0 ? "and" : "or", std::move(undecided)));
    rest.push_back(PortableRules(rules, r + 1, childIndex, isBiggestChild));
    std::vector<Element> either;
    either.push_back(Combine(missingChild == childIndex ? "or" : "and", std::move(decides)));
    either.push_back(Combine("and", std::move(rest)));
    Element whole = Combine("or", std::move(either));
    if (list.empty()) return whole;  // nothing before it: no list needed
    list.push_back(std::move(whole));
    return Combine("surrogate", std::move(list));
  }
  // No rule left with a gap: the list ends in the biggest child's True or another's False.
  list.push_back(Leaf(isBiggestChild ? "True" : "False"));
  if (list.size() == 1) return std::move(list.front());
  return Combine("surrogate", std::move(list));
}

}  // namespace TreeOut
