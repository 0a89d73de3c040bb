#include "tests/support/pmml_evaluator.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace testing_support {

namespace {

enum class Truth { kFalse, kTrue, kUnknown };

bool Named(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::optional<std::string> Attribute(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, BAD_CAST name);
  if (value == nullptr) return std::nullopt;
  std::string text = reinterpret_cast<const char*>(value);
  xmlFree(value);
  return text;
}

std::optional<double> Number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return value;
}

const xmlNode* FirstChild(const xmlNode* node, const char* name) {
  for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
    if (Named(c, name)) return c;
  }
  return nullptr;
}

bool IsPredicate(const xmlNode* node) {
  return Named(node, "True") || Named(node, "False") || Named(node, "SimplePredicate") ||
         Named(node, "CompoundPredicate") || Named(node, "SimpleSetPredicate");
}

}  // namespace

// How the standard mode prepares one field's value.
struct FieldRules {
  bool categorical = false;          // categorical or ordinal: valid values are listed
  bool numeric = false;              // a numeric data type: a value must be a number
  std::vector<std::string> valid;    // property "valid" (the default)
  std::vector<std::string> missing;  // property "missing"
  std::string invalidTreatment = "returnInvalid";
};

bool Holds(const std::vector<std::string>& values, const std::string& value) {
  for (const std::string& v : values) {
    if (v == value) return true;
    const std::optional<double> a = Number(v), b = Number(value);
    if (a && b && *a == *b) return true;
  }
  return false;
}

struct PmmlTreeEvaluator::Impl {
  xmlDocPtr doc = nullptr;
  const xmlNode* root = nullptr;
  PmmlMode mode = PmmlMode::kFormat;
  std::map<std::string, FieldRules> fields;  // standard mode: the MiningSchema's fields
  std::string missingValueStrategy = "none";
  std::string noTrueChildStrategy = "returnNullPrediction";

  // The record as the standard's field preparation leaves it; nullopt = the record is invalid.
  std::optional<PmmlRecord> Prepare(const PmmlRecord& record) const {
    if (mode == PmmlMode::kFormat) return record;
    PmmlRecord prepared;
    for (const auto& [name, value] : record) {
      auto rules = fields.find(name);
      if (rules == fields.end()) continue;  // not a field of the model
      const FieldRules& r = rules->second;
      if (Holds(r.missing, value)) continue;
      const bool valid =
          r.categorical && !r.valid.empty() ? Holds(r.valid, value) : !r.numeric || Number(value);
      if (!valid) {
        if (r.invalidTreatment == "asMissing") continue;
        if (r.invalidTreatment != "asIs") return std::nullopt;
      }
      prepared[name] = value;
    }
    return prepared;
  }
  // The valid values of ordinal fields, in the order that defines their comparisons.
  std::map<std::string, std::vector<std::string>> ordinalOrder;

  int OrdinalIndex(const std::string& field, const std::string& value) const {
    auto it = ordinalOrder.find(field);
    if (it == ordinalOrder.end()) return -1;
    for (std::size_t i = 0; i < it->second.size(); ++i) {
      if (it->second[i] == value) return static_cast<int>(i);
    }
    return -1;
  }

  Truth Simple(const xmlNode* p, const PmmlRecord& record) const {
    const std::string field = Attribute(p, "field").value_or("");
    const std::string op = Attribute(p, "operator").value_or("");
    auto found = record.find(field);
    const bool missing = found == record.end();
    if (op == "isMissing") return missing ? Truth::kTrue : Truth::kFalse;
    if (op == "isNotMissing") return missing ? Truth::kFalse : Truth::kTrue;
    if (missing) return Truth::kUnknown;
    const std::optional<std::string> value = Attribute(p, "value");
    if (!value) {
      ADD_FAILURE() << "SimplePredicate on " << field << " without value";
      return Truth::kUnknown;
    }
    const std::string& actual = found->second;
    int order;  // actual compared with value: <0, 0, >0
    const std::optional<double> a = Number(actual), b = Number(*value);
    if (a && b) {
      order = *a < *b ? -1 : (*a > *b ? 1 : 0);
    } else if (op == "equal" || op == "notEqual") {
      order = actual == *value ? 0 : 1;
    } else {
      const int ia = OrdinalIndex(field, actual), ib = OrdinalIndex(field, *value);
      if (ia < 0 || ib < 0) {
        ADD_FAILURE() << "cannot order " << actual << " and " << *value << " of " << field;
        return Truth::kUnknown;
      }
      order = ia < ib ? -1 : (ia > ib ? 1 : 0);
    }
    bool result;
    if (op == "equal")
      result = order == 0;
    else if (op == "notEqual")
      result = order != 0;
    else if (op == "lessThan")
      result = order < 0;
    else if (op == "lessOrEqual")
      result = order <= 0;
    else if (op == "greaterThan")
      result = order > 0;
    else if (op == "greaterOrEqual")
      result = order >= 0;
    else {
      ADD_FAILURE() << "unknown operator " << op;
      return Truth::kUnknown;
    }
    return result ? Truth::kTrue : Truth::kFalse;
  }

  Truth Evaluate(const xmlNode* p, const PmmlRecord& record) const {
    if (Named(p, "True")) return Truth::kTrue;
    if (Named(p, "False")) return Truth::kFalse;
    if (Named(p, "SimplePredicate")) return Simple(p, record);
    if (!Named(p, "CompoundPredicate")) {
      ADD_FAILURE() << "predicate " << p->name << " is not scored by this evaluator";
      return Truth::kUnknown;
    }
    const std::string op = Attribute(p, "booleanOperator").value_or("");
    std::vector<Truth> parts;
    for (const xmlNode* c = p->children; c != nullptr; c = c->next) {
      if (IsPredicate(c)) parts.push_back(Evaluate(c, record));
    }
    auto any = [&](Truth t) {
      for (Truth part : parts) {
        if (part == t) return true;
      }
      return false;
    };
    if (op == "and") {
      if (any(Truth::kFalse)) return Truth::kFalse;
      return any(Truth::kUnknown) ? Truth::kUnknown : Truth::kTrue;
    }
    if (op == "or") {
      if (any(Truth::kTrue)) return Truth::kTrue;
      return any(Truth::kUnknown) ? Truth::kUnknown : Truth::kFalse;
    }
    if (op == "surrogate") {
      for (Truth part : parts) {
        if (part != Truth::kUnknown) return part;
      }
      return Truth::kUnknown;
    }
    ADD_FAILURE() << "CompoundPredicate with booleanOperator '" << op << "'";
    return Truth::kUnknown;
  }

  // The node that scores the record; null when the document gives no prediction.
  const xmlNode* Walk(const PmmlRecord& given) const {
    const std::optional<PmmlRecord> prepared = Prepare(given);
    if (!prepared) return nullptr;
    const PmmlRecord& record = *prepared;
    const bool standard = mode == PmmlMode::kStandard;
    const xmlNode* node = root;
    while (node != nullptr) {
      const xmlNode* next = nullptr;
      bool anyChild = false;
      for (const xmlNode* c = node->children; c != nullptr && next == nullptr; c = c->next) {
        if (!Named(c, "Node")) continue;
        anyChild = true;
        const xmlNode* predicate = nullptr;
        for (const xmlNode* p = c->children; p != nullptr && predicate == nullptr; p = p->next) {
          if (IsPredicate(p)) predicate = p;
        }
        if (predicate == nullptr) {
          ADD_FAILURE() << "Node without predicate";
          return node;
        }
        const Truth truth = Evaluate(predicate, record);
        if (truth == Truth::kTrue) next = c;
        if (truth != Truth::kUnknown || !standard) continue;
        if (missingValueStrategy == "none") continue;  // unknown counts as false
        if (missingValueStrategy == "lastPrediction") return node;
        ADD_FAILURE() << "missingValueStrategy " << missingValueStrategy << " is not scored";
        return nullptr;
      }
      if (next == nullptr) {
        if (standard && anyChild && noTrueChildStrategy != "returnLastPrediction") return nullptr;
        return node;
      }
      node = next;
    }
    return node;
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
  if (const xmlNode* dictionary = FirstChild(pmml, "DataDictionary")) {
    for (const xmlNode* f = dictionary->children; f != nullptr; f = f->next) {
      if (!Named(f, "DataField") || Attribute(f, "optype").value_or("") != "ordinal") continue;
      std::vector<std::string>& order = impl_->ordinalOrder[Attribute(f, "name").value_or("")];
      for (const xmlNode* v = f->children; v != nullptr; v = v->next) {
        if (Named(v, "Value") && Attribute(v, "property").value_or("valid") == "valid") {
          order.push_back(Attribute(v, "value").value_or(""));
        }
      }
    }
  }
  const xmlNode* model = FirstChild(pmml, "TreeModel");
  impl_->root = model != nullptr ? FirstChild(model, "Node") : nullptr;
  if (mode == PmmlMode::kStandard && model != nullptr) {
    impl_->missingValueStrategy = Attribute(model, "missingValueStrategy").value_or("none");
    impl_->noTrueChildStrategy =
        Attribute(model, "noTrueChildStrategy").value_or("returnNullPrediction");
    std::map<std::string, FieldRules> dictionary;
    if (const xmlNode* d = FirstChild(pmml, "DataDictionary")) {
      for (const xmlNode* f = d->children; f != nullptr; f = f->next) {
        if (!Named(f, "DataField")) continue;
        FieldRules& rules = dictionary[Attribute(f, "name").value_or("")];
        const std::string optype = Attribute(f, "optype").value_or("");
        const std::string type = Attribute(f, "dataType").value_or("");
        rules.categorical = optype == "categorical" || optype == "ordinal";
        rules.numeric = type == "double" || type == "float" || type == "integer";
        for (const xmlNode* v = f->children; v != nullptr; v = v->next) {
          if (!Named(v, "Value")) continue;
          const std::string property = Attribute(v, "property").value_or("valid");
          const std::string value = Attribute(v, "value").value_or("");
          if (property == "valid") rules.valid.push_back(value);
          if (property == "missing") rules.missing.push_back(value);
        }
      }
    }
    if (const xmlNode* schema = FirstChild(model, "MiningSchema")) {
      for (const xmlNode* m = schema->children; m != nullptr; m = m->next) {
        if (!Named(m, "MiningField")) continue;
        const std::string name = Attribute(m, "name").value_or("");
        FieldRules rules = dictionary[name];
        rules.invalidTreatment = Attribute(m, "invalidValueTreatment").value_or("returnInvalid");
        impl_->fields[name] = rules;
      }
    }
  }
  if (impl_->root == nullptr) ADD_FAILURE() << "PMML document has no TreeModel with a Node";
}

PmmlTreeEvaluator::~PmmlTreeEvaluator() {
  if (impl_->doc != nullptr) xmlFreeDoc(impl_->doc);
}

std::string PmmlTreeEvaluator::LeafId(const PmmlRecord& record) const {
  if (impl_->root == nullptr) return "<no tree>";
  const xmlNode* node = impl_->Walk(record);
  return node != nullptr ? Attribute(node, "id").value_or("") : kNoPrediction;
}

std::string PmmlTreeEvaluator::Score(const PmmlRecord& record) const {
  if (impl_->root == nullptr) return "<no tree>";
  const xmlNode* node = impl_->Walk(record);
  return node != nullptr ? Attribute(node, "score").value_or("") : kNoPrediction;
}

std::map<std::string, double> PmmlTreeEvaluator::Probabilities(const PmmlRecord& record) const {
  std::map<std::string, double> result;
  const xmlNode* node = impl_->Walk(record);
  if (node == nullptr) return result;
  for (const xmlNode* d = node->children; d != nullptr; d = d->next) {
    if (!Named(d, "ScoreDistribution")) continue;
    if (impl_->mode == PmmlMode::kStandard) {
      const std::string value = Attribute(d, "value").value_or("");
      const std::optional<std::string> given = Attribute(d, "probability");
      const std::optional<double> p =
          given ? Number(*given)
                : Number(Attribute(d, "recordCount").value_or("")).value_or(NAN) /
                      Number(Attribute(node, "recordCount").value_or("")).value_or(NAN);
      if (!p) {
        ADD_FAILURE() << "probability '" << given.value_or("") << "' is not a number";
        continue;
      }
      result[value] = *p;
      continue;
    }
    for (const xmlNode* e = d->children; e != nullptr; e = e->next) {
      if (!Named(e, "Extension") || Attribute(e, "name").value_or("") != "probability") continue;
      const std::string text = Attribute(e, "value").value_or("");
      const std::optional<double> p = Number(text);
      if (!p) {
        ADD_FAILURE() << "probability '" << text << "' is not a number";
        continue;
      }
      result[Attribute(d, "value").value_or("")] = *p;
    }
  }
  return result;
}

}  // namespace testing_support
