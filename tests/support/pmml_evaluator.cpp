#include "tests/support/pmml_evaluator.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace testing_support {

namespace {

enum class Truth { kFalse, kTrue, kUnknown };

Truth Of(bool b) { return b ? Truth::kTrue : Truth::kFalse; }

bool Named(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::string Attribute(const xmlNode* node, const char* name, const std::string& otherwise = "") {
  xmlChar* value = xmlGetProp(node, BAD_CAST name);
  if (value == nullptr) return otherwise;
  std::string text = reinterpret_cast<const char*>(value);
  xmlFree(value);
  return text;
}

std::optional<double> Number(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  return text.empty() || *end != '\0' ? std::nullopt : std::optional<double>(value);
}

// The element children of node with the name, in order (any element for a null name).
std::vector<const xmlNode*> Children(const xmlNode* node, const char* name) {
  std::vector<const xmlNode*> found;
  for (const xmlNode* c = node != nullptr ? node->children : nullptr; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE && (name == nullptr || Named(c, name))) found.push_back(c);
  }
  return found;
}

const xmlNode* FirstChild(const xmlNode* node, const char* name) {
  const std::vector<const xmlNode*> found = Children(node, name);
  return found.empty() ? nullptr : found.front();
}

bool IsPredicate(const xmlNode* node) {
  return !Named(node, "Extension") && !Named(node, "ScoreDistribution") && !Named(node, "Node");
}

// What the DataDictionary says of one field, and how the MiningSchema treats invalid values.
struct FieldRules {
  bool categorical = false;          // categorical or ordinal: valid values are listed
  bool ordinal = false;              // the valid values' order defines the comparisons
  bool numeric = false;              // a numeric data type: a value must be a number
  std::vector<std::string> valid;    // property "valid" (the default), in document order
  std::vector<std::string> missing;  // property "missing"
  std::string invalidTreatment = "returnInvalid";
};

bool Holds(const std::vector<std::string>& values, const std::string& value) {
  for (const std::string& v : values) {
    const std::optional<double> a = Number(v), b = Number(value);
    if (v == value || (a && b && *a == *b)) return true;
  }
  return false;
}

}  // namespace

struct PmmlTreeEvaluator::Impl {
  xmlDocPtr doc = nullptr;
  const xmlNode* root = nullptr;
  PmmlMode mode = PmmlMode::kFormat;
  std::map<std::string, FieldRules> dictionary;
  std::map<std::string, FieldRules> fields;  // standard mode: the MiningSchema's fields
  std::string missingValueStrategy = "none";
  std::string noTrueChildStrategy = "returnNullPrediction";

  // The record as the standard's field preparation leaves it; nullopt = the record is invalid.
  std::optional<PmmlRecord> Prepare(const PmmlRecord& record) const {
    if (mode == PmmlMode::kFormat) return record;
    PmmlRecord prepared;
    for (const auto& [name, value] : record) {
      const auto rules = fields.find(name);
      if (rules == fields.end() || Holds(rules->second.missing, value)) continue;
      const FieldRules& r = rules->second;
      const bool valid =
          r.categorical && !r.valid.empty() ? Holds(r.valid, value) : !r.numeric || Number(value);
      if (!valid && r.invalidTreatment == "asMissing") continue;
      if (!valid) return std::nullopt;  // returnInvalid
      prepared[name] = value;
    }
    return prepared;
  }

  Truth Simple(const xmlNode* p, const PmmlRecord& record) const {
    const std::string field = Attribute(p, "field"), op = Attribute(p, "operator");
    const auto found = record.find(field);
    if (op == "isMissing" || op == "isNotMissing") {
      return Of((found == record.end()) == (op == "isMissing"));
    }
    if (found == record.end()) return Truth::kUnknown;
    const std::string& actual = found->second;
    const std::string value = Attribute(p, "value");
    int order;  // actual compared with value: <0, 0, >0
    const std::optional<double> a = Number(actual), b = Number(value);
    if (a && b) {
      order = *a < *b ? -1 : (*a > *b ? 1 : 0);
    } else if (op == "equal" || op == "notEqual") {
      order = actual == value ? 0 : 1;
    } else {
      const auto rules = dictionary.find(field);
      const std::vector<std::string> none;
      const std::vector<std::string>& valid =
          rules != dictionary.end() && rules->second.ordinal ? rules->second.valid : none;
      const auto ia = std::find(valid.begin(), valid.end(), actual);
      const auto ib = std::find(valid.begin(), valid.end(), value);
      if (ia == valid.end() || ib == valid.end()) {
        ADD_FAILURE() << "cannot order " << actual << " and " << value << " of " << field;
        return Truth::kUnknown;
      }
      order = ia < ib ? -1 : (ia > ib ? 1 : 0);
    }
    if (op == "equal") return Of(order == 0);
    if (op == "notEqual") return Of(order != 0);
    if (op == "lessThan") return Of(order < 0);
    if (op == "lessOrEqual") return Of(order <= 0);
    if (op == "greaterThan") return Of(order > 0);
    if (op == "greaterOrEqual") return Of(order >= 0);
    ADD_FAILURE() << "unknown operator " << op;
    return Truth::kUnknown;
  }

  Truth Evaluate(const xmlNode* p, const PmmlRecord& record) const {
    if (Named(p, "True") || Named(p, "False")) return Of(Named(p, "True"));
    if (Named(p, "SimplePredicate")) return Simple(p, record);
    const std::string op = Attribute(p, "booleanOperator");
    if (!Named(p, "CompoundPredicate") || (op != "and" && op != "or" && op != "surrogate")) {
      ADD_FAILURE() << "predicate " << p->name << " " << op << " is not scored by this evaluator";
      return Truth::kUnknown;
    }
    std::vector<Truth> parts;
    for (const xmlNode* c : Children(p, nullptr)) {
      if (IsPredicate(c)) parts.push_back(Evaluate(c, record));
    }
    const auto any = [&](Truth t) { return std::count(parts.begin(), parts.end(), t) > 0; };
    if (op == "surrogate") {
      for (Truth part : parts) {
        if (part != Truth::kUnknown) return part;
      }
      return Truth::kUnknown;
    }
    const Truth decisive = op == "and" ? Truth::kFalse : Truth::kTrue;
    if (any(decisive)) return decisive;
    return any(Truth::kUnknown) ? Truth::kUnknown : Of(op == "and");
  }

  // The node that scores the record; null when the document gives no prediction.
  const xmlNode* Walk(const PmmlRecord& given) const {
    const std::optional<PmmlRecord> prepared = Prepare(given);
    if (!prepared) return nullptr;
    const bool standard = mode == PmmlMode::kStandard;
    const xmlNode* node = root;
    while (true) {
      const std::vector<const xmlNode*> children = Children(node, "Node");
      const xmlNode* next = nullptr;
      for (const xmlNode* c : children) {
        const std::vector<const xmlNode*> parts = Children(c, nullptr);
        const auto predicate = std::find_if(parts.begin(), parts.end(), IsPredicate);
        if (predicate == parts.end()) {
          ADD_FAILURE() << "Node without predicate";
          return node;
        }
        const Truth truth = Evaluate(*predicate, *prepared);
        if (truth == Truth::kTrue) {
          next = c;
          break;
        }
        // Unknown counts as false under "none"; lastPrediction stops at the node.
        if (truth != Truth::kUnknown || !standard || missingValueStrategy == "none") continue;
        if (missingValueStrategy == "lastPrediction") return node;
        ADD_FAILURE() << "missingValueStrategy " << missingValueStrategy << " is not scored";
        return nullptr;
      }
      if (next == nullptr) {
        const bool nullPrediction = noTrueChildStrategy != "returnLastPrediction";
        return standard && !children.empty() && nullPrediction ? nullptr : node;
      }
      node = next;
    }
  }
};

PmmlTreeEvaluator::PmmlTreeEvaluator(const std::string& document, PmmlMode mode)
    : impl_(std::make_unique<Impl>()) {
  impl_->mode = mode;
  impl_->doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), "model.pmml",
                             nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
  if (impl_->doc == nullptr) {
    ADD_FAILURE() << "PMML document is not well-formed";
    return;
  }
  const xmlNode* pmml = xmlDocGetRootElement(impl_->doc);
  for (const xmlNode* f : Children(FirstChild(pmml, "DataDictionary"), "DataField")) {
    FieldRules& rules = impl_->dictionary[Attribute(f, "name")];
    const std::string optype = Attribute(f, "optype"), type = Attribute(f, "dataType");
    rules.ordinal = optype == "ordinal";
    rules.categorical = optype == "categorical" || rules.ordinal;
    rules.numeric = type == "double" || type == "float" || type == "integer";
    for (const xmlNode* v : Children(f, "Value")) {
      const std::string property = Attribute(v, "property", "valid");
      if (property == "valid" || property == "missing") {
        (property == "valid" ? rules.valid : rules.missing).push_back(Attribute(v, "value"));
      }
    }
  }
  const xmlNode* model = FirstChild(pmml, "TreeModel");
  impl_->root = FirstChild(model, "Node");
  if (impl_->root == nullptr) ADD_FAILURE() << "PMML document has no TreeModel with a Node";
  if (mode == PmmlMode::kStandard && model != nullptr) {
    impl_->missingValueStrategy = Attribute(model, "missingValueStrategy", "none");
    impl_->noTrueChildStrategy = Attribute(model, "noTrueChildStrategy", "returnNullPrediction");
    for (const xmlNode* m : Children(FirstChild(model, "MiningSchema"), "MiningField")) {
      FieldRules rules = impl_->dictionary[Attribute(m, "name")];
      rules.invalidTreatment = Attribute(m, "invalidValueTreatment", "returnInvalid");
      impl_->fields[Attribute(m, "name")] = rules;
    }
  }
}

PmmlTreeEvaluator::~PmmlTreeEvaluator() {
  if (impl_->doc != nullptr) xmlFreeDoc(impl_->doc);
}

std::string PmmlTreeEvaluator::LeafId(const PmmlRecord& record) const {
  const xmlNode* node = impl_->Walk(record);
  return node != nullptr ? Attribute(node, "id") : kNoPrediction;
}

std::string PmmlTreeEvaluator::Score(const PmmlRecord& record) const {
  const xmlNode* node = impl_->Walk(record);
  return node != nullptr ? Attribute(node, "score") : kNoPrediction;
}

std::map<std::string, double> PmmlTreeEvaluator::Probabilities(const PmmlRecord& record) const {
  std::map<std::string, double> result;
  const xmlNode* node = impl_->Walk(record);
  for (const xmlNode* d : Children(node, "ScoreDistribution")) {
    const std::string text = Attribute(d, "probability");
    // Without a probability, the recordCount over the Node's.
    const std::optional<double> p =
        !text.empty() ? Number(text)
                      : Number(Attribute(d, "recordCount")).value_or(NAN) /
                            Number(Attribute(node, "recordCount")).value_or(NAN);
    if (p) {
      result[Attribute(d, "value")] = *p;
    } else {
      ADD_FAILURE() << "probability '" << text << "' is not a number";
    }
  }
  return result;
}

}  // namespace testing_support
