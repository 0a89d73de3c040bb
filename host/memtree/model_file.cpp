#include "host/memtree/model_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <set>
#include <sstream>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <simdjson.h>

#include "arbtree/split_rule.h"
#include "host/memtree/detail/huge_pages.h"
#include "host/memtree/detail/json_value.h"
#include "host/memtree/detail/number_text.h"
#include "host/memtree/tree_builder.h"
#include "imported/metadata/identity_encoder_imp.h"
#include "imported/metadata/map_encoder_imp.h"
#include "imported/metadata/missing_values_imp.h"

namespace memtree {

namespace {

using detail::JsonDocument;
using detail::JsonValue;
using detail::NumberText;
using JType = JsonValue::Type;

constexpr const char* kFormatName = "treexport-model";
constexpr int64_t kFormatVersion = 1;

struct StatKind {
  const char* name;
  uint32_t bit;
};
constexpr StatKind kStatKinds[] = {{"improvement", tree::stat::kImprovement},
                                   {"f", tree::stat::kF},
                                   {"chiSquare", tree::stat::kChiSquare},
                                   {"levenesF", tree::stat::kLevenesF},
                                   {"association", tree::stat::kAssociation},
                                   {"pValue", tree::stat::kPValue},
                                   {"adjPValue", tree::stat::kAdjPValue},
                                   {"df1", tree::stat::kDf1},
                                   {"df2", tree::stat::kDf2}};

const char* LevelName(int level) {
  switch (level) {
    case global::NOMINAL:
      return "nominal";
    case global::ORDINAL:
      return "ordinal";
    case global::CONTINUOUS:
      return "continuous";
    default:
      return nullptr;
  }
}

const char* StorageName(int storage) {
  switch (storage) {
    case global::NUMERIC_STORAGE:
      return "numeric";
    case global::STRING_STORAGE:
      return "string";
    default:
      return nullptr;
  }
}

std::string Member(const std::string& path, std::string_view key) {
  return detail::MemberPath(path, key);
}

std::string Item(const std::string& path, std::size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

// Text from the file as a message shows it: quoted, control characters escaped.
std::string Quoted(std::string_view text) { return "\"" + detail::Printable(text) + "\""; }

// A JSON path, spelled out only when a message needs it: each step refers to the one before,
// which must outlive it.
class JPath {
 public:
  JPath() = default;
  // A member of the top level; "" is the top level itself.
  JPath(const char* key) : key_(key), kind_(*key == '\0' ? Kind::kRoot : Kind::kKey) {}
  JPath(const JPath& parent, std::string_view key)
      : parent_(&parent), key_(key), kind_(Kind::kKey) {}
  JPath(const JPath& parent, std::size_t index)
      : parent_(&parent), index_(index), kind_(Kind::kIndex) {}
  std::string Text() const {
    std::string base = parent_ != nullptr ? parent_->Text() : std::string();
    switch (kind_) {
      case Kind::kKey:
        return Member(base, key_);
      case Kind::kIndex:
        return Item(base, index_);
      case Kind::kRoot:
        break;
    }
    return base;
  }

 private:
  enum class Kind : uint8_t { kRoot, kKey, kIndex };
  const JPath* parent_ = nullptr;
  std::string_view key_;
  std::size_t index_ = 0;
  Kind kind_ = Kind::kRoot;
};

std::string Found(const JsonValue& v) {
  switch (v.type) {
    case JType::kNull:
      return "null";
    case JType::kBool:
      return "a boolean";
    case JType::kNumber:
      if (std::isnan(v.number)) return "NaN";
      if (std::isinf(v.number)) return v.number > 0 ? "Infinity" : "-Infinity";
      return "a number";
    case JType::kString:
      return "a string";
    case JType::kArray:
      return "an array";
    case JType::kObject:
      return "an object";
  }
  return "a value";
}

// One field as read, with what the tree checks need to know about it.
struct FieldInfo {
  std::unique_ptr<mdt::Variable> variable;
  std::string path;
  const JsonValue* json = nullptr;
  int level = 0;
  std::set<int> codes;  // category codes, when it has categories
  bool hasCategories = false;
  std::string role;  // empty until given one
};

class Loader {
 public:
  explicit Loader(JsonDocument& doc) : doc_(doc) {}
  Model Load();

 private:
  // An object whose members are checked against the allowed names on construction.
  class Obj {
   public:
    Obj(const Loader& loader, const JsonValue& v, const JPath& path,
        std::initializer_list<const char*> allowed)
        : loader_(loader), v_(v), path_(path) {
      if (v.type != JType::kObject) loader.Fail(v, path_, "expected an object, found " + Found(v));
      for (const JsonValue& m : v.children) {
        bool known = false;
        for (const char* name : allowed) known = known || m.key == name;
        if (!known) {
          std::string names;
          for (const char* name : allowed) names += (names.empty() ? "" : ", ") + std::string(name);
          loader.FailAt(m.keyOffset, Member(path_.Text(), m.key),
                        "unknown member (expected one of " + names + ")");
        }
      }
    }
    const JsonValue* Get(const char* key) const {
      for (const JsonValue& m : v_.children) {
        if (m.key == key) return &m;
      }
      return nullptr;
    }
    const JsonValue& Need(const char* key) const {
      const JsonValue* m = Get(key);
      if (m == nullptr) loader_.Fail(v_, path_, "missing required member " + Quoted(key));
      return *m;
    }
    JPath Path(const char* key) const { return JPath(path_, key); }
    const JPath& Path() const { return path_; }
    const JsonValue& Value() const { return v_; }

   private:
    const Loader& loader_;
    const JsonValue& v_;
    JPath path_;
  };

  [[noreturn]] void FailAt(std::size_t offset, const std::string& path,
                           const std::string& message) const {
    throw ModelError(doc_.Where(offset) + ": " + (path.empty() ? "" : path + ": ") + message);
  }
  [[noreturn]] void Fail(const JsonValue& v, const JPath& path,
                         const std::string& message) const {
    FailAt(v.offset, path.Text(), message);
  }
  // Runs a builder call; its complaint is reported at the value that supplied the data.
  template <class Call>
  void Guard(const JsonValue& v, const JPath& path, const Call& call) {
    try {
      call();
    } catch (const ModelError& e) {
      Fail(v, path, e.what());
    }
  }

  double Number(const JsonValue& v, const JPath& path, bool infinityAllowed = false) const {
    if (v.type != JType::kNumber || std::isnan(v.number)) {
      Fail(v, path, "expected a number, found " + Found(v));
    }
    if (!infinityAllowed && std::isinf(v.number)) {
      Fail(v, path, "expected a finite number, found " + Found(v));
    }
    return v.number;
  }
  int64_t Integer(const JsonValue& v, const JPath& path, int64_t min, int64_t max) const {
    if (v.type != JType::kNumber || !v.isInteger) {
      Fail(v, path, "expected an integer, found " + Found(v));
    }
    if (v.integer < min || v.integer > max) {
      Fail(v, path,
           "expected an integer from " + std::to_string(min) + " to " + std::to_string(max) +
               ", found " + std::to_string(v.integer));
    }
    return v.integer;
  }
  int Int(const JsonValue& v, const JPath& path, int64_t min = INT32_MIN,
          int64_t max = INT32_MAX) const {
    return static_cast<int>(Integer(v, path, min, max));
  }
  bool Bool(const JsonValue& v, const JPath& path) const {
    if (v.type != JType::kBool) Fail(v, path, "expected true or false, found " + Found(v));
    return v.boolean;
  }
  std::string_view String(const JsonValue& v, const JPath& path) const {
    if (v.type != JType::kString) Fail(v, path, "expected a string, found " + Found(v));
    return v.text;
  }
  Span<JsonValue> Array(const JsonValue& v, const JPath& path) const {
    if (v.type != JType::kArray) Fail(v, path, "expected an array, found " + Found(v));
    return v.children;
  }
  void Numbers(const JsonValue& v, const JPath& path, std::vector<double>& out) const {
    out.clear();
    const auto& items = Array(v, path);
    for (std::size_t i = 0; i < items.size(); ++i) out.push_back(Number(items[i], JPath(path, i)));
  }
  // A field value: text, number or null (no value); it must suit the field's storage.
  mdt::Variant Scalar(const JsonValue& v, const JPath& path, int storage) const {
    if (v.type == JType::kNull) return mdt::Variant();
    if (v.type == JType::kString) {
      if (storage == global::NUMERIC_STORAGE) {
        Fail(v, path, "a numeric field needs a number or null, found a string");
      }
      return mdt::Variant(std::string(v.text));
    }
    if (v.type == JType::kNumber) {
      if (storage == global::STRING_STORAGE) {
        Fail(v, path, "a string field needs a string or null, found a number");
      }
      return mdt::Variant(Number(v, path));
    }
    Fail(v, path, "expected a string, a number or null, found " + Found(v));
  }

  ArbTree::ArbVersionImp Version(const JsonValue& v, const JPath& path) const;
  FieldInfo Field(const JsonValue& v, const JPath& path) const;
  mdt::EncodingSets Sources(const Obj& o, int storage) const;
  std::unique_ptr<mdt::Interval> Range(const JsonValue& v, const JPath& path,
                                       int storage) const;
  FieldInfo& Role(const JsonValue& v, const JPath& path, const char* role);
  Model LoadAll();
  void LoadNodes(const Obj& top, TreeBuilder& builder);
  // Each fills in what it is given, reusing its lists' memory from node to node.
  void Sample(const JsonValue& v, const JPath& path, SampleStats& stats) const;
  void Rule(const JsonValue& v, const JPath& path, std::size_t children, RuleSpec& rule) const;
  void Values(const JsonValue& v, const JPath& path, const FieldInfo& predictor,
              ChildValues& out) const;
  const FieldInfo& Predictor(const JsonValue& v, const JPath& path, int& index) const;

  JsonDocument& doc_;
  bool streamed_ = false;  // the nodes have been read
  bool classification_ = true;
  int numberOfSamples_ = 1;
  int numberOfCategories_ = 0;
  std::vector<FieldInfo> fields_;
  std::unordered_map<std::string, std::size_t> fieldByName_;
  std::vector<std::size_t> predictors_;  // field positions, in predictor order
  std::unordered_map<std::string, int> predictorByName_;
};

ArbTree::ArbVersionImp Loader::Version(const JsonValue& v, const JPath& path) const {
  Obj o(*this, v, path, {"major", "minor", "patch", "build", "date"});
  auto part = [&](const char* key) { return Int(o.Need(key), o.Path(key)); };
  return ArbTree::ArbVersionImp(part("major"), part("minor"), part("patch"), part("build"),
                                std::string(String(o.Need("date"), o.Path("date"))));
}

std::unique_ptr<mdt::Interval> Loader::Range(const JsonValue& v, const JPath& path,
                                             int storage) const {
  Obj o(*this, v, path, {"low", "high", "lowInclusive", "highInclusive"});
  auto end = [&](const char* key, const char* inclusiveKey) {
    mdt::Variant value = Scalar(o.Need(key), o.Path(key), storage);
    bool inclusive = true;
    if (const JsonValue* m = o.Get(inclusiveKey)) inclusive = Bool(*m, o.Path(inclusiveKey));
    return mdt::EncodingItem(value, inclusive);
  };
  mdt::EncodingItem low = end("low", "lowInclusive");
  mdt::EncodingItem high = end("high", "highInclusive");
  if (low.GetValue().GetType() == mdt::Variant::NUMBER &&
      high.GetValue().GetType() == mdt::Variant::NUMBER &&
      static_cast<double>(low.GetValue()) > static_cast<double>(high.GetValue())) {
    Fail(v, path,
         "range low " + NumberText(static_cast<double>(low.GetValue())) + " is above high " +
             NumberText(static_cast<double>(high.GetValue())));
  }
  return std::make_unique<mdt::Interval>(low, high);
}

// Discrete values first, then one interval per range: the order the writer reads them back in.
mdt::EncodingSets Loader::Sources(const Obj& o, int storage) const {
  mdt::EncodingSets sets;
  if (const JsonValue* m = o.Get("values")) {
    std::vector<mdt::EncodingItem> items;
    const auto& values = Array(*m, o.Path("values"));
    for (std::size_t i = 0; i < values.size(); ++i) {
      items.emplace_back(Scalar(values[i], JPath(o.Path("values"), i), storage));
    }
    if (!items.empty()) sets.Add(std::make_unique<mdt::DiscreteValues>(std::move(items)));
  }
  if (const JsonValue* m = o.Get("ranges")) {
    const auto& ranges = Array(*m, o.Path("ranges"));
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      sets.Add(Range(ranges[i], JPath(o.Path("ranges"), i), storage));
    }
  }
  return sets;
}

FieldInfo Loader::Field(const JsonValue& v, const JPath& path) const {
  Obj o(*this, v, path,
        {"name", "label", "level", "storage", "isDate", "categories", "valueLabels", "missing"});
  FieldInfo info;
  info.path = path.Text();
  info.json = &v;
  const std::string name(String(o.Need("name"), o.Path("name")));
  if (name.empty()) Fail(o.Need("name"), o.Path("name"), "a field needs a name");

  auto enumeration = [&](const char* key, const char* (*nameOf)(int)) {
    const JsonValue& m = o.Need(key);
    if (m.type == JType::kString) {
      for (int code = 0; code < 3; ++code) {
        if (nameOf(code) != nullptr && m.text == nameOf(code)) return code;
      }
      std::string names;
      for (int code = 0; code < 3; ++code) {
        if (nameOf(code) != nullptr) names += (names.empty() ? "" : ", ") + Quoted(nameOf(code));
      }
      Fail(m, o.Path(key),
           "unknown " + std::string(key) + " " + Quoted(m.text) + " (expected " + names +
               " or an integer code)");
    }
    if (m.type != JType::kNumber) {
      Fail(m, o.Path(key), "expected a name or an integer code, found " + Found(m));
    }
    return Int(m, o.Path(key));
  };
  info.level = enumeration("level", LevelName);
  const int storage = enumeration("storage", StorageName);
  info.variable =
      std::make_unique<mdt::Variable>(name, static_cast<global::MeasurementLevel>(info.level),
                                      static_cast<global::StorageType>(storage));
  if (const JsonValue* m = o.Get("label")) info.variable->SetLabel(std::string(String(*m, o.Path("label"))));
  if (const JsonValue* m = o.Get("isDate")) info.variable->SetDate(Bool(*m, o.Path("isDate")));

  std::unique_ptr<mdt::MissingValuesImp> missing;
  if (const JsonValue* m = o.Get("missing")) {
    Obj mo(*this, *m, o.Path("missing"), {"values", "ranges"});
    missing = std::make_unique<mdt::MissingValuesImp>(Sources(mo, storage));
  }
  if (const JsonValue* m = o.Get("categories")) {
    auto encoder = std::make_unique<mdt::MapEncoderImp>();
    const JPath listPath = o.Path("categories");
    const auto& categories = Array(*m, listPath);
    for (std::size_t i = 0; i < categories.size(); ++i) {
      Obj co(*this, categories[i], JPath(listPath, i), {"code", "values", "ranges"});
      const int code = Int(co.Need("code"), co.Path("code"));
      if (!encoder->Add(code, Sources(co, storage))) {
        Fail(co.Need("code"), co.Path("code"), "code " + std::to_string(code) + " is listed twice");
      }
      info.codes.insert(code);
    }
    info.hasCategories = true;
    encoder->SetMissingValues(std::move(missing));
    info.variable->SetEncoder(std::move(encoder));
  } else if (missing) {
    info.variable->SetEncoder(std::make_unique<mdt::IdentityEncoderImp>(std::move(missing)));
  }
  if (const JsonValue* m = o.Get("valueLabels")) {
    const JPath listPath = o.Path("valueLabels");
    const auto& labels = Array(*m, listPath);
    // Values as keys that are equal exactly when the values are (0 and -0 alike).
    std::unordered_set<std::string> seen;
    seen.reserve(labels.size());
    std::vector<std::pair<mdt::Variant, std::string>> valueLabels;
    valueLabels.reserve(labels.size());
    for (std::size_t i = 0; i < labels.size(); ++i) {
      Obj lo(*this, labels[i], JPath(listPath, i), {"value", "label"});
      mdt::Variant value = Scalar(lo.Need("value"), lo.Path("value"), storage);
      std::string key;
      if (value.GetType() == mdt::Variant::NUMBER) {
        const double number = static_cast<double>(value) + 0.0;  // -0 becomes 0
        key.assign("n").append(reinterpret_cast<const char*>(&number), sizeof number);
      } else if (value.GetType() == mdt::Variant::NONE) {
        key = "x";
      } else {
        key = std::string("s") + static_cast<const char*>(value);
      }
      if (!seen.insert(std::move(key)).second) {
        Fail(lo.Need("value"), lo.Path("value"), "value labelled twice");
      }
      valueLabels.emplace_back(std::move(value), String(lo.Need("label"), lo.Path("label")));
    }
    info.variable->SetValueLabels(std::move(valueLabels));
  }
  return info;
}

FieldInfo& Loader::Role(const JsonValue& v, const JPath& path, const char* role) {
  const std::string name(String(v, path));
  auto it = fieldByName_.find(name);
  if (it == fieldByName_.end()) Fail(v, path, "no field named " + Quoted(name));
  FieldInfo& field = fields_[it->second];
  if (!field.role.empty()) {
    Fail(v, path, "field " + Quoted(name) + " is already the " + field.role);
  }
  field.role = role;
  return field;
}

const FieldInfo& Loader::Predictor(const JsonValue& v, const JPath& path, int& index) const {
  const std::string name(String(v, path));
  auto it = predictorByName_.find(name);
  if (it == predictorByName_.end()) {
    Fail(v, path,
         (fieldByName_.count(name) != 0 ? "field " + Quoted(name) + " is not a predictor"
                                        : "no predictor named " + Quoted(name)));
  }
  index = it->second;
  return fields_[predictors_[static_cast<std::size_t>(index)]];
}

void Loader::Values(const JsonValue& v, const JPath& path, const FieldInfo& predictor,
                    ChildValues& out) const {
  out.kind = ChildValues::Kind::kNone;
  out.bounds = Bounds();
  out.codes.clear();
  if (v.type == JType::kNull) return;
  const std::string& name = predictor.variable->GetName();
  const bool codes =
      v.type == JType::kObject && std::any_of(v.children.begin(), v.children.end(),
                                              [](const JsonValue& m) { return m.key == "codes"; });
  if (codes) {
    Obj o(*this, v, path, {"codes"});
    if (predictor.level != global::NOMINAL) {
      Fail(v, path, "predictor " + Quoted(name) + " is ordered; its value sets are intervals");
    }
    const JPath codesPath = o.Path("codes");
    const auto& items = Array(o.Need("codes"), codesPath);
    for (std::size_t i = 0; i < items.size(); ++i) {
      const int code = Int(items[i], JPath(codesPath, i));
      if (predictor.hasCategories && predictor.codes.count(code) == 0) {
        Fail(items[i], JPath(codesPath, i),
             "code " + std::to_string(code) + " is not a category of predictor " + Quoted(name));
      }
      out.codes.push_back(code);
    }
    out.kind = ChildValues::Kind::kCodes;
    return;
  }
  Obj o(*this, v, path, {"low", "high", "lowOpen", "highOpen"});
  if (predictor.level == global::NOMINAL) {
    Fail(v, path, "predictor " + Quoted(name) + " is nominal; its value sets are code lists");
  }
  Bounds& bounds = out.bounds;
  if (const JsonValue* m = o.Get("low")) bounds.low = Number(*m, o.Path("low"));
  if (const JsonValue* m = o.Get("high")) bounds.high = Number(*m, o.Path("high"));
  if (const JsonValue* m = o.Get("lowOpen")) {
    bounds.lowOpen = Bool(*m, o.Path("lowOpen"));
    if (!bounds.low) Fail(*m, o.Path("lowOpen"), "lowOpen is given without low");
  }
  if (const JsonValue* m = o.Get("highOpen")) {
    bounds.highOpen = Bool(*m, o.Path("highOpen"));
    if (!bounds.high) Fail(*m, o.Path("highOpen"), "highOpen is given without high");
  }
  std::string problem = check::Bounds(bounds);
  if (!problem.empty()) Fail(v, path, problem);
  out.kind = ChildValues::Kind::kInterval;
}

void Loader::Rule(const JsonValue& v, const JPath& path, std::size_t children,
                  RuleSpec& rule) const {
  Obj o(*this, v, path, {"predictor", "children", "missingChild", "statistics", "kinds"});
  rule.missingChild = -1;
  rule.statistics = {};
  rule.kinds = 0;
  const FieldInfo& predictor = Predictor(o.Need("predictor"), o.Path("predictor"), rule.predictor);
  const JPath setsPath = o.Path("children");
  const auto& sets = Array(o.Need("children"), setsPath);
  if (sets.size() != children) {
    Fail(o.Need("children"), setsPath,
         std::to_string(sets.size()) + " value sets for " + std::to_string(children) + " children");
  }
  rule.children.resize(sets.size());  // kept from node to node, with their code lists
  for (std::size_t c = 0; c < sets.size(); ++c) {
    Values(sets[c], JPath(setsPath, c), predictor, rule.children[c]);
  }
  if (const JsonValue* m = o.Get("missingChild")) {
    rule.missingChild = Int(*m, o.Path("missingChild"), 0, static_cast<int64_t>(children) - 1);
  }
  if (const JsonValue* m = o.Get("statistics")) {
    const JPath statsPath = o.Path("statistics");
    const auto& entries = Array(*m, statsPath);
    if (entries.size() > 4) Fail(*m, statsPath, "at most 4 statistic entries");
    for (std::size_t k = 0; k < entries.size(); ++k) {
      if (entries[k].type != JType::kNull) {
        rule.statistics[k] = Number(entries[k], JPath(statsPath, k), true);
      }
    }
  }
  if (const JsonValue* m = o.Get("kinds")) {
    const JPath kindsPath = o.Path("kinds");
    const auto& kinds = Array(*m, kindsPath);
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      const std::string_view name = String(kinds[i], JPath(kindsPath, i));
      uint32_t bit = 0;
      for (const StatKind& kind : kStatKinds) {
        if (name == kind.name) bit = kind.bit;
      }
      if (bit == 0) {
        std::string names;
        for (const StatKind& kind : kStatKinds) {
          names += (names.empty() ? "" : ", ") + std::string(kind.name);
        }
        Fail(kinds[i], JPath(kindsPath, i),
             "unknown statistic kind " + Quoted(name) + " (expected one of " + names + ")");
      }
      if ((rule.kinds & bit) != 0) Fail(kinds[i], JPath(kindsPath, i), "kind given twice");
      rule.kinds |= bit;
    }
  }
  std::string problem = check::Rule(rule);
  if (!problem.empty()) Fail(v, path, problem);
}

void Loader::Sample(const JsonValue& v, const JPath& path, SampleStats& stats) const {
  Obj o(*this, v, path, {"count", "totalCount", "class", "regression"});
  auto count = [&](const char* key) {
    const double value = Number(o.Need(key), o.Path(key));
    std::string problem = check::Count(value);
    if (!problem.empty()) Fail(o.Need(key), o.Path(key), problem);
    return value;
  };
  stats.count = count("count");
  stats.totalCount.reset();
  if (o.Get("totalCount") != nullptr) stats.totalCount = count("totalCount");
  const char* wanted = classification_ ? "class" : "regression";
  const char* other = classification_ ? "regression" : "class";
  if (const JsonValue* m = o.Get(other)) {
    Fail(*m, o.Path(other),
         std::string("a ") + (classification_ ? "classification" : "regression") +
             " model has no " + Quoted(other) + " information");
  }
  const JsonValue& info = o.Need(wanted);
  if (classification_) {
    Obj co(*this, info, o.Path("class"), {"predicted", "counts", "proportions", "probabilities"});
    if (!stats.cls) stats.cls.emplace();
    ClassStats& cls = *stats.cls;
    cls.predicted = Int(co.Need("predicted"), co.Path("predicted"));
    if (cls.predicted < 0 || cls.predicted >= numberOfCategories_) {
      Fail(co.Need("predicted"), co.Path("predicted"),
           "category " + std::to_string(cls.predicted) +
               " is outside the target's categories 0 to " +
               std::to_string(numberOfCategories_ - 1));
    }
    Numbers(co.Need("counts"), co.Path("counts"), cls.counts);
    cls.proportions.clear();
    cls.probabilities.clear();
    if (const JsonValue* m = co.Get("proportions")) {
      Numbers(*m, co.Path("proportions"), cls.proportions);
    }
    if (const JsonValue* m = co.Get("probabilities")) {
      Numbers(*m, co.Path("probabilities"), cls.probabilities);
    }
    std::string problem = check::Class(cls, numberOfCategories_);
    if (!problem.empty()) Fail(info, co.Path(), problem);
  } else {
    Obj ro(*this, info, o.Path("regression"), {"mean", "stdDev", "prediction", "distribution"});
    if (!stats.reg) stats.reg.emplace();
    RegressionStats& reg = *stats.reg;
    reg.mean = Number(ro.Need("mean"), ro.Path("mean"));
    reg.prediction = reg.mean;
    reg.stdDev = -DBL_MAX;
    reg.distribution.clear();
    if (const JsonValue* m = ro.Get("stdDev")) reg.stdDev = Number(*m, ro.Path("stdDev"));
    if (const JsonValue* m = ro.Get("prediction"))
      reg.prediction = Number(*m, ro.Path("prediction"));
    if (const JsonValue* m = ro.Get("distribution")) {
      Numbers(*m, ro.Path("distribution"), reg.distribution);
    }
    std::string problem = check::Regression(reg);
    if (!problem.empty()) Fail(info, ro.Path(), problem);
  }
}

// Nodes are read one at a time, in file order, into the tree's flat storage; only their ids and
// child lists are kept aside, to be resolved once every node is in. Then the tree's node vector
// is put in pre-order, the order the writer uses.
void Loader::LoadNodes(const Obj& top, TreeBuilder& builder) {
  const JsonValue& list = top.Need("nodes");
  Array(list, "nodes");
  const JPath nodesPath("nodes");
  const int samplesPerNode = numberOfSamples_;

  std::vector<uint32_t> ids;          // by slot
  std::vector<uint32_t> offsets;      // of each node's object, by slot
  std::vector<uint32_t> idOffsets;    // of each node's id
  std::vector<uint32_t> childStart{0};  // a slot's child ids are childIds[childStart[slot]...]
  std::vector<uint32_t> childIds;
  std::vector<uint32_t> childOffsets;  // of each child id
  std::vector<SampleStats> samples(static_cast<std::size_t>(samplesPerNode));
  RuleSpec split;
  std::vector<RuleSpec> surrogates;
  std::vector<PredictorRange> ranges;
  std::vector<uint32_t> seenRange(predictors_.size(), UINT32_MAX);  // slot that gave a range

  std::string linkProblem;  // the first problem with ids and children
  std::string nodeProblem;  // the first problem with what a node holds
  auto readNode = [&](const Obj& o, const JsonValue& node, const JPath& path, std::size_t i,
                      unsigned id, std::size_t children) {

    const JPath samplesPath = o.Path("samples");
    const auto& sampleList = Array(o.Need("samples"), samplesPath);
    if (sampleList.size() != samples.size()) {
      Fail(o.Need("samples"), samplesPath,
           std::to_string(sampleList.size()) + " entries; the model has " +
               std::to_string(numberOfSamples_) + " samples");
    }
    for (std::size_t s = 0; s < sampleList.size(); ++s) {
      Sample(sampleList[s], JPath(samplesPath, s), samples[s]);
    }
    const JsonValue* splitValue = o.Get("split");
    const JsonValue* surrogateList = o.Get("surrogates");
    std::size_t surrogateCount = 0;
    if (children == 0) {
      if (splitValue != nullptr) {
        Fail(*splitValue, o.Path("split"), "a leaf (no children) has no split");
      }
      if (surrogateList != nullptr) {
        Fail(*surrogateList, o.Path("surrogates"), "a leaf (no children) has no surrogates");
      }
    } else {
      if (splitValue == nullptr) Fail(node, path, "a node with children needs a split");
      Rule(*splitValue, o.Path("split"), children, split);
      if (surrogateList != nullptr) {
        const JPath listPath = o.Path("surrogates");
        const auto& rules = Array(*surrogateList, listPath);
        if (surrogates.size() < rules.size()) surrogates.resize(rules.size());
        for (std::size_t k = 0; k < rules.size(); ++k) {
          Rule(rules[k], JPath(listPath, k), children, surrogates[k]);
        }
        surrogateCount = rules.size();
      }
    }
    bool noBiggestChild = false;
    if (const JsonValue* m = o.Get("biggestChild")) {
      // Only null can be said: the node has no biggest child. Absent means the usual rule.
      if (m->type != JType::kNull) {
        Fail(*m, o.Path("biggestChild"), "expected null (no biggest child), found " + Found(*m));
      }
      if (children == 0)
        Fail(*m, o.Path("biggestChild"), "only a node with children can lack a biggest child");
      noBiggestChild = true;
    }
    ranges.clear();
    if (const JsonValue* m = o.Get("ranges")) {
      const JPath listPath = o.Path("ranges");
      const auto& rangeList = Array(*m, listPath);
      for (std::size_t k = 0; k < rangeList.size(); ++k) {
        const JPath rangePath(listPath, k);
        Obj ro(*this, rangeList[k], rangePath, {"predictor", "min", "max"});
        PredictorRange range;
        Predictor(ro.Need("predictor"), ro.Path("predictor"), range.predictor);
        uint32_t& seen = seenRange[static_cast<std::size_t>(range.predictor)];
        if (seen == i) {
          Fail(ro.Need("predictor"), ro.Path("predictor"), "a second range for this predictor");
        }
        seen = static_cast<uint32_t>(i);
        range.min = Number(ro.Need("min"), ro.Path("min"));
        range.max = Number(ro.Need("max"), ro.Path("max"));
        if (range.min > range.max) {
          Fail(rangeList[k], rangePath,
               "min " + NumberText(range.min) + " is above max " + NumberText(range.max));
        }
        ranges.push_back(range);
      }
    }
    builder.AppendChecked(id, samples.data(), children > 0 ? &split : nullptr, surrogates.data(),
                          surrogateCount, ranges.data(), ranges.size(), noBiggestChild);
  };
  std::size_t firstOffset = 0;
  streamed_ = true;
  const std::size_t count = doc_.Stream([&](const JsonValue& node, std::size_t i) {
    // Once a few nodes are in, the storage is sized for as many more as the rest of the text
    // would hold at their size, so that it is not copied as it grows: for the nodes the slicing
    // scan counted, when that is more but not more than twice as many (the first nodes of a
    // tree tend to be larger than the rest), else by the text. Should it run full all the same,
    // the estimate is made again from all nodes read so far.
    constexpr std::size_t kSample = 256;
    if (i == 0) firstOffset = node.offset;
    if (i >= kSample && ids.size() == ids.capacity() && nodeProblem.empty() &&
        node.offset > firstOffset) {
      const double perNode =
          static_cast<double>(node.offset - firstOffset) / static_cast<double>(i);
      auto expected = static_cast<std::size_t>(
          static_cast<double>(doc_.Size() - firstOffset) / perNode * 1.02 + 16);
      const std::size_t counted = doc_.DeferredContainers();
      if (counted > expected) expected = std::min(counted, 2 * expected);
      expected = std::max(expected, i + i / 8 + 16);
      builder.Reserve(expected);
      detail::ReserveHuge(ids, expected);
      detail::ReserveHuge(offsets, expected);
      detail::ReserveHuge(idOffsets, expected);
      detail::ReserveHuge(childStart, expected + 1);
      detail::ReserveHuge(childIds, expected);
      detail::ReserveHuge(childOffsets, expected);
    }
    const JPath path(nodesPath, i);
    // After a problem the rest is only read, so that a problem of the text itself, which comes
    // first, is still found.
    if (!linkProblem.empty()) return;
    std::optional<Obj> object;
    std::size_t children = 0;
    unsigned id = 0;
    try {
      object.emplace(*this, node, path,
                     std::initializer_list<const char*>{"id", "children", "samples", "split",
                                                        "surrogates", "biggestChild", "ranges"});
      const Obj& o = *object;
      const JsonValue& idValue = o.Need("id");
      id = static_cast<unsigned>(Integer(idValue, o.Path("id"), 0, UINT32_MAX));
      ids.push_back(id);
      offsets.push_back(static_cast<uint32_t>(node.offset));
      idOffsets.push_back(static_cast<uint32_t>(idValue.offset));
      if (const JsonValue* m = o.Get("children")) {
        const JPath childrenPath = o.Path("children");
        const auto& items = Array(*m, childrenPath);
        for (std::size_t j = 0; j < items.size(); ++j) {
          childIds.push_back(
              static_cast<uint32_t>(Integer(items[j], JPath(childrenPath, j), 0, UINT32_MAX)));
          childOffsets.push_back(static_cast<uint32_t>(items[j].offset));
        }
        children = items.size();
      }
      childStart.push_back(static_cast<uint32_t>(childIds.size()));
    } catch (const ModelError& e) {
      linkProblem = e.what();
      return;
    }
    const Obj& o = *object;
    // What a node holds is checked after the links between nodes, which are reported first
    // however the file orders its nodes: the first problem found is kept until then.
    if (!nodeProblem.empty()) return;
    try {
      readNode(o, node, path, i, id, children);
    } catch (const ModelError& e) {
      nodeProblem = e.what();
    }
  });
  if (!linkProblem.empty()) throw ModelError(linkProblem);
  if (count == 0) Fail(list, "nodes", "a model needs at least its root node");

  // Ids: a table when they are dense enough, else a sorted list searched by halves.
  const std::size_t n = count;
  uint32_t maxId = 0;
  for (uint32_t id : ids) maxId = std::max(maxId, id);
  const bool dense = maxId <= 4 * n + 64;
  std::vector<uint32_t> slotOfId;                  // dense: by id, UINT32_MAX = none
  std::vector<std::pair<uint32_t, uint32_t>> byId;  // sparse: (id, slot) in id order
  auto duplicate = [&](std::size_t i, std::size_t first) {
    FailAt(idOffsets[i], Member(Item("nodes", i), "id"),
           "node id " + std::to_string(ids[i]) + " is also used by " + Item("nodes", first));
  };
  if (dense) {
    slotOfId.assign(static_cast<std::size_t>(maxId) + 1, UINT32_MAX);
    for (std::size_t i = 0; i < n; ++i) {
      uint32_t& slot = slotOfId[ids[i]];
      if (slot != UINT32_MAX) duplicate(i, slot);
      slot = static_cast<uint32_t>(i);
    }
  } else {
    byId.reserve(n);
    for (std::size_t i = 0; i < n; ++i) byId.emplace_back(ids[i], static_cast<uint32_t>(i));
    std::sort(byId.begin(), byId.end());
    // The first node, in file order, whose id an earlier node has.
    std::size_t worst = SIZE_MAX;
    std::size_t first = 0;
    for (std::size_t k = 1; k < n; ++k) {
      if (byId[k].first == byId[k - 1].first && (k < 2 || byId[k - 2].first != byId[k].first) &&
          byId[k].second < worst) {
        worst = byId[k].second;
        first = byId[k - 1].second;
      }
    }
    if (worst != SIZE_MAX) duplicate(worst, first);
  }
  auto find = [&](uint32_t id) -> std::size_t {
    if (dense) return id < slotOfId.size() && slotOfId[id] != UINT32_MAX ? slotOfId[id] : SIZE_MAX;
    auto it = std::lower_bound(byId.begin(), byId.end(), std::make_pair(id, uint32_t{0}));
    return it != byId.end() && it->first == id ? it->second : SIZE_MAX;
  };

  // Children: each id resolved, each node given at most one parent.
  std::vector<int64_t> parent(n, -1);
  std::vector<uint32_t> parentSlot(n, 0);  // which of the parent's children a node is
  std::vector<uint32_t> childSlots(childIds.size());
  for (std::size_t i = 0; i < n; ++i) {
    for (uint32_t k = childStart[i]; k < childStart[i + 1]; ++k) {
      const std::size_t j = k - childStart[i];
      auto fail = [&](const std::string& message) {
        FailAt(childOffsets[k], Item(Member(Item("nodes", i), "children"), j), message);
      };
      const uint32_t id = childIds[k];
      const std::size_t child = find(id);
      if (child == SIZE_MAX) fail("no node with id " + std::to_string(id));
      if (child == i) fail("node " + std::to_string(id) + " lists itself as a child");
      if (child == 0) fail("node " + std::to_string(id) + " is the root and cannot be a child");
      if (parent[child] >= 0) {
        const auto p = static_cast<std::size_t>(parent[child]);
        fail("node " + std::to_string(id) + " is already a child of node " +
             std::to_string(ids[p]) + " (" +
             Item(Member(Item("nodes", p), "children"), parentSlot[child]) + ")");
      }
      parent[child] = static_cast<int64_t>(i);
      parentSlot[child] = static_cast<uint32_t>(j);
      childSlots[k] = static_cast<uint32_t>(child);
    }
  }
  childIds = std::vector<uint32_t>();
  childOffsets = std::vector<uint32_t>();

  // Pre-order from the root. Every node has at most one parent now, so a node the root does not
  // reach either has none or sits on a cycle of parents.
  std::vector<uint32_t> order;
  detail::ReserveHuge(order, n);
  std::vector<char> reached(n, 0);
  std::vector<uint32_t> stack{0};
  while (!stack.empty()) {
    const uint32_t i = stack.back();
    stack.pop_back();
    reached[i] = 1;
    order.push_back(i);
    for (uint32_t k = childStart[i + 1]; k > childStart[i]; --k) stack.push_back(childSlots[k - 1]);
  }
  // The first node the root does not reach is reported. Its chain of parents, walked once,
  // either ends at a node without a parent or runs into a cycle, which it may or may not be on.
  for (std::size_t i = 0; i < n; ++i) {
    if (reached[i]) continue;
    const std::string where = Item("nodes", i);
    const std::string what = "node " + std::to_string(ids[i]) +
                             " is not reachable from the root node " + std::to_string(ids[0]);
    if (parent[i] < 0) FailAt(offsets[i], where, what + " (no node lists it as a child)");
    std::vector<char> onChain(n, 0);
    std::size_t p = i;
    while (!onChain[p] && parent[p] >= 0) {
      onChain[p] = 1;
      p = static_cast<std::size_t>(parent[p]);
    }
    if (!onChain[p]) {
      FailAt(offsets[i], where,
             what + ": its chain of parents ends at node " + std::to_string(ids[p]) +
                 ", which no node lists as a child");
    }
    // p is on the cycle: list it in child order, from p round to p, shortened when long.
    std::vector<std::size_t> cycle{p};
    for (auto q = static_cast<std::size_t>(parent[p]); q != p;
         q = static_cast<std::size_t>(parent[q])) {
      cycle.push_back(q);
    }
    std::reverse(cycle.begin(), cycle.end());  // parents first
    const bool onCycle = std::find(cycle.begin(), cycle.end(), i) != cycle.end();
    if (onCycle) std::rotate(cycle.begin(), std::find(cycle.begin(), cycle.end(), i), cycle.end());
    constexpr std::size_t kShown = 8;
    std::string text;
    for (std::size_t k = 0; k < cycle.size() && k < kShown; ++k) {
      text += std::to_string(ids[cycle[k]]) + " -> ";
    }
    if (cycle.size() > kShown) {
      text += "... (" + std::to_string(cycle.size()) + " nodes) -> ";
    }
    text += std::to_string(ids[cycle[0]]);
    if (onCycle) {
      FailAt(offsets[i], where,
             "nodes " + text + " form a cycle that the root node " + std::to_string(ids[0]) +
                 " does not reach");
    }
    FailAt(offsets[i], where, what + ": its chain of parents runs into the cycle " + text);
  }
  if (!nodeProblem.empty()) throw ModelError(nodeProblem);
  builder.LinkChecked(order, childStart, childSlots);
}

// Problems of the text itself (syntax, a member given twice, ...) are reported before any
// problem of what it says, wherever in the file they are: the nodes are read to the end first.
Model Loader::Load() {
  try {
    return LoadAll();
  } catch (const ModelError&) {
    if (!streamed_) doc_.Stream([](const JsonValue&, std::size_t) {});
    throw;
  }
}

Model Loader::LoadAll() {
  const JsonValue& root = doc_.Root();
  Obj top(*this, root, "",
          {"format", "version", "function", "algorithm", "samples", "riskSample", "priors", "risk",
           "treeVersion", "metadataVersion", "fields", "predictors", "target", "frequencyWeight",
           "caseWeight", "nodes"});
  if (String(top.Need("format"), "format") != kFormatName) {
    Fail(top.Need("format"), "format", "expected " + Quoted(kFormatName));
  }
  Integer(top.Need("version"), "version", kFormatVersion, kFormatVersion);
  const std::string_view function = String(top.Need("function"), "function");
  if (function != "classification" && function != "regression") {
    Fail(top.Need("function"), "function", "expected \"classification\" or \"regression\"");
  }
  classification_ = function == "classification";
  const int algorithm = Int(top.Need("algorithm"), "algorithm");
  if (const JsonValue* m = top.Get("samples")) numberOfSamples_ = Int(*m, "samples", 1, 64);

  const auto& fieldList = Array(top.Need("fields"), "fields");
  for (std::size_t i = 0; i < fieldList.size(); ++i) {
    FieldInfo info = Field(fieldList[i], JPath("fields", i));
    const std::string& name = info.variable->GetName();
    auto inserted = fieldByName_.emplace(name, fields_.size());
    if (!inserted.second) {
      Fail(fieldList[i], JPath("fields", i),
           "a field named " + Quoted(name) + " is already " +
               Item("fields", inserted.first->second));
    }
    fields_.push_back(std::move(info));
  }

  const auto& predictorList = Array(top.Need("predictors"), "predictors");
  for (std::size_t i = 0; i < predictorList.size(); ++i) {
    FieldInfo& field = Role(predictorList[i], JPath("predictors", i), "predictor");
    predictorByName_.emplace(field.variable->GetName(), static_cast<int>(predictors_.size()));
    predictors_.push_back(fieldByName_[field.variable->GetName()]);
  }
  FieldInfo& target = Role(top.Need("target"), "target", "target");
  FieldInfo* frequency = nullptr;
  FieldInfo* caseWeight = nullptr;
  if (const JsonValue* m = top.Get("frequencyWeight")) {
    frequency = &Role(*m, "frequencyWeight", "frequency weight");
  }
  if (const JsonValue* m = top.Get("caseWeight"))
    caseWeight = &Role(*m, "caseWeight", "case weight");
  for (const FieldInfo& field : fields_) {
    if (field.role.empty()) {
      FailAt(field.json->offset, field.path,
           "field " + Quoted(field.variable->GetName()) +
               " is neither a predictor, the target nor a weight");
    }
  }
  if (classification_) {
    if (!target.hasCategories) {
      FailAt(target.json->offset, target.path, "the target of a classification model needs categories");
    }
    numberOfCategories_ = static_cast<int>(target.codes.size());
    for (int code : target.codes) {
      if (code < 0 || code >= numberOfCategories_) {
        FailAt(target.json->offset, target.path,
               "the target's category codes must be 0 to " + std::to_string(numberOfCategories_ - 1) +
                 "; " + std::to_string(code) + " is outside");
      }
    }
  }

  TreeShape shape;
  shape.classification = classification_;
  shape.algorithmType = algorithm;
  for (std::size_t p : predictors_) shape.predictorLevels.push_back(fields_[p].level);
  shape.numberOfCategories = numberOfCategories_;
  shape.numberOfSamples = numberOfSamples_;
  TreeBuilder builder(shape);
  if (const JsonValue* m = top.Get("priors")) {
    if (!classification_) Fail(*m, "priors", "a regression model has no priors");
    std::vector<double> priors;
    Numbers(*m, "priors", priors);
    Guard(*m, "", [&] { builder.SetPriors(std::move(priors)); });  // names itself
  } else if (algorithm == 1 || algorithm == 3) {
    Fail(root, "", "algorithm " + std::to_string(algorithm) + " needs \"priors\"");
  }
  if (const JsonValue* m = top.Get("riskSample")) {
    builder.SetRiskSample(Int(*m, "riskSample", 0, numberOfSamples_ - 1));
  }
  if (const JsonValue* m = top.Get("risk")) {
    const auto& risks = Array(*m, "risk");
    std::set<int> seen;
    for (std::size_t i = 0; i < risks.size(); ++i) {
      Obj ro(*this, risks[i], JPath("risk", i), {"sample", "value", "stdError"});
      const int sample = Int(ro.Need("sample"), ro.Path("sample"), 0, numberOfSamples_ - 1);
      if (!seen.insert(sample).second) {
        Fail(ro.Need("sample"), ro.Path("sample"),
             "a second risk for sample " + std::to_string(sample));
      }
      RiskStats risk{Number(ro.Need("value"), ro.Path("value")),
                     Number(ro.Need("stdError"), ro.Path("stdError"))};
      builder.SetRisk(sample, risk);
    }
  }
  if (const JsonValue* m = top.Get("treeVersion")) builder.SetVersion(Version(*m, "treeVersion"));

  LoadNodes(top, builder);

  Model model;
  model.metadata = std::make_unique<mdt::ModelMetadataImp>();
  if (const JsonValue* m = top.Get("metadataVersion")) {
    model.metadata->SetVersion(Version(*m, "metadataVersion"));
  }
  for (std::size_t p : predictors_) model.metadata->AddPredictor(std::move(*fields_[p].variable));
  model.metadata->SetTarget(std::move(*target.variable));
  if (frequency != nullptr) model.metadata->SetFrequencyWeight(std::move(*frequency->variable));
  if (caseWeight != nullptr) model.metadata->SetCaseWeight(std::move(*caseWeight->variable));
  model.tree = builder.Build();
  return model;
}

// Writes JSON with a fixed layout: members one per line, and "flat" containers (value lists and
// the small objects inside nodes) on one line.
class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}
  void BeginObject(bool flat = false) { Open('{', flat); }
  void EndObject() { Close('}'); }
  void BeginArray(bool flat = false) { Open('[', flat); }
  void EndArray() { Close(']'); }
  void Key(const char* key) {
    Separate();
    AppendString(key);
    out_ += ": ";
    afterKey_ = true;
  }
  void String(const std::string& text) {
    BeforeValue();
    AppendString(text);
  }
  void Number(double value) {
    BeforeValue();
    detail::AppendNumber(out_, value);
  }
  void Integer(int64_t value) {
    BeforeValue();
    out_ += std::to_string(value);
  }
  void Bool(bool value) {
    BeforeValue();
    out_ += value ? "true" : "false";
  }
  void Null() {
    BeforeValue();
    out_ += "null";
  }
  void Variant(const mdt::Variant& value) {
    switch (value.GetType()) {
      case mdt::Variant::NUMBER:
        Number(static_cast<double>(value));
        break;
      case mdt::Variant::NONE:
        Null();
        break;
      default:
        String(static_cast<const char*>(value));
    }
  }
  void Finish() { out_ += '\n'; }

 private:
  struct Level {
    bool flat;
    bool empty;
  };
  void Open(char bracket, bool flat) {
    BeforeValue();
    out_ += bracket;
    levels_.push_back({flat || (!levels_.empty() && levels_.back().flat), true});
  }
  void Close(char bracket) {
    const Level level = levels_.back();
    levels_.pop_back();
    if (!level.flat && !level.empty) NewLine();
    out_ += bracket;
  }
  void BeforeValue() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (!levels_.empty()) Separate();
  }
  void Separate() {
    Level& level = levels_.back();
    if (!level.empty) out_ += ',';
    if (level.flat) {
      if (!level.empty) out_ += ' ';
    } else {
      NewLine();
    }
    level.empty = false;
  }
  void NewLine() {
    out_ += '\n';
    out_.append(2 * levels_.size(), ' ');
  }
  // Escapes in runs: the safe stretch up to the next special character goes out in one append.
  void AppendString(const std::string& text) {
    out_ += '"';
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      out_.append(text, start, i - start);
      switch (c) {
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\t':
          out_ += "\\t";
          break;
        case '\r':
          out_ += "\\r";
          break;
        default: {
          static const char kHex[] = "0123456789abcdef";
          out_ += "\\u00";
          out_ += kHex[c >> 4];
          out_ += kHex[c & 0xF];
        }
      }
      start = i + 1;
    }
    out_.append(text, start, std::string::npos);
    out_ += '"';
  }

  std::string& out_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

class Saver {
 public:
  Saver(const MemTree& tree, const mdt::ModelMetadataImp& metadata, std::string& out)
      : tree_(tree), metadata_(metadata), w_(out) {}
  void Save();

 private:
  void Version(const char* key, const ArbTree::ArbVersion& version);
  void Field(const mdt::Variable& field);
  void Sources(const mdt::EncodingSets& sets);
  void Node(const MemNode& node);
  void Sample(const MemNode& node, int sample);
  void Rule(const RuleView& rule);
  const std::string& PredictorName(int index) const {
    return (*metadata_.GetPredictors())[static_cast<std::size_t>(index)].GetName();
  }

  const MemTree& tree_;
  const mdt::ModelMetadataImp& metadata_;
  JsonWriter w_;
};

void Saver::Version(const char* key, const ArbTree::ArbVersion& version) {
  w_.Key(key);
  w_.BeginObject(true);
  w_.Key("major");
  w_.Integer(version.GetMajor());
  w_.Key("minor");
  w_.Integer(version.GetMinor());
  w_.Key("patch");
  w_.Integer(version.GetPatch());
  w_.Key("build");
  w_.Integer(version.GetBuild());
  w_.Key("date");
  w_.String(version.GetDateTime());
  w_.EndObject();
}

void Saver::Sources(const mdt::EncodingSets& sets) {
  std::vector<mdt::Variant> values = sets.GetAllValues();
  std::vector<mdt::Interval> ranges = sets.GetAllIntervals();
  if (!values.empty()) {
    w_.Key("values");
    w_.BeginArray(true);
    for (const mdt::Variant& value : values) w_.Variant(value);
    w_.EndArray();
  }
  if (!ranges.empty()) {
    w_.Key("ranges");
    w_.BeginArray(true);
    for (const mdt::Interval& range : ranges) {
      w_.BeginObject(true);
      w_.Key("low");
      w_.Variant(range.GetLeftEnd().GetValue());
      w_.Key("high");
      w_.Variant(range.GetRightEnd().GetValue());
      if (!range.GetLeftEnd().IsInclusive()) {
        w_.Key("lowInclusive");
        w_.Bool(false);
      }
      if (!range.GetRightEnd().IsInclusive()) {
        w_.Key("highInclusive");
        w_.Bool(false);
      }
      w_.EndObject();
    }
    w_.EndArray();
  }
}

void Saver::Field(const mdt::Variable& field) {
  w_.BeginObject();
  w_.Key("name");
  w_.String(field.GetName());
  if (!field.GetLabel().empty()) {
    w_.Key("label");
    w_.String(field.GetLabel());
  }
  w_.Key("level");
  if (const char* name = LevelName(field.GetMeasurementLevel())) {
    w_.String(name);
  } else {
    w_.Integer(field.GetMeasurementLevel());
  }
  w_.Key("storage");
  if (const char* name = StorageName(field.GetStorageType())) {
    w_.String(name);
  } else {
    w_.Integer(field.GetStorageType());
  }
  if (field.IsDate()) {
    w_.Key("isDate");
    w_.Bool(true);
  }
  const mdt::Encoder* encoder = field.GetEncoding();
  if (const auto* map = dynamic_cast<const mdt::MapEncoderImp*>(encoder)) {
    w_.Key("categories");
    w_.BeginArray();
    for (int code : map->EncodedValues()) {
      w_.BeginObject(true);
      w_.Key("code");
      w_.Integer(code);
      Sources(*map->Find(code));
      w_.EndObject();
    }
    w_.EndArray();
  } else if (encoder != nullptr &&
             dynamic_cast<const mdt::IdentityEncoderImp*>(encoder) == nullptr) {
    throw ModelError("field " + Quoted(field.GetName()) +
                     ": its encoder is of a kind model files cannot hold");
  }
  if (!field.GetValueLabels().empty()) {
    w_.Key("valueLabels");
    w_.BeginArray();
    for (const auto& entry : field.GetValueLabels()) {
      w_.BeginObject(true);
      w_.Key("value");
      w_.Variant(entry.first);
      w_.Key("label");
      w_.String(entry.second);
      w_.EndObject();
    }
    w_.EndArray();
  }
  if (encoder != nullptr && encoder->GetMissingValues() != nullptr) {
    w_.Key("missing");
    w_.BeginObject(true);
    Sources(encoder->GetMissingValues()->GetEncodingSets());
    w_.EndObject();
  }
  w_.EndObject();
}

void Saver::Rule(const RuleView& rule) {
  w_.BeginObject(true);
  w_.Key("predictor");
  w_.String(PredictorName(rule.predictor));
  w_.Key("children");
  w_.BeginArray();
  for (const ValuesView& values : rule.children) {
    switch (values.kind) {
      case ChildValues::Kind::kNone:
        w_.Null();
        break;
      case ChildValues::Kind::kCodes:
        w_.BeginObject();
        w_.Key("codes");
        w_.BeginArray();
        for (int code : values.codes) w_.Integer(code);
        w_.EndArray();
        w_.EndObject();
        break;
      case ChildValues::Kind::kInterval:
        w_.BeginObject();
        if (values.bounds.low) {
          w_.Key("low");
          w_.Number(*values.bounds.low);
          if (values.bounds.lowOpen) {
            w_.Key("lowOpen");
            w_.Bool(true);
          }
        }
        if (values.bounds.high) {
          w_.Key("high");
          w_.Number(*values.bounds.high);
          if (values.bounds.highOpen) {
            w_.Key("highOpen");
            w_.Bool(true);
          }
        }
        w_.EndObject();
        break;
    }
  }
  w_.EndArray();
  if (rule.missingChild >= 0) {
    w_.Key("missingChild");
    w_.Integer(rule.missingChild);
  }
  std::size_t entries = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    if (rule.statistics[k]) entries = k + 1;
  }
  if (entries > 0) {
    w_.Key("statistics");
    w_.BeginArray();
    for (std::size_t k = 0; k < entries; ++k) {
      if (rule.statistics[k]) {
        w_.Number(*rule.statistics[k]);
      } else {
        w_.Null();
      }
    }
    w_.EndArray();
  }
  if (rule.kinds != 0) {
    w_.Key("kinds");
    w_.BeginArray();
    for (const StatKind& kind : kStatKinds) {
      if ((rule.kinds & kind.bit) != 0) w_.String(kind.name);
    }
    w_.EndArray();
  }
  w_.EndObject();
}

void Saver::Sample(const MemNode& node, int sample) {
  const auto s = static_cast<tree::DataSample>(sample);
  w_.BeginObject(true);
  w_.Key("count");
  w_.Number(node.GetCount(s));
  if (node.GetTotalCount(s) != node.GetCount(s)) {
    w_.Key("totalCount");
    w_.Number(node.GetTotalCount(s));
  }
  if (const MemClsInfo* cls = node.GetClsStats(sample)) {
    const ClassStats stats = cls->Stats();
    w_.Key("class");
    w_.BeginObject();
    w_.Key("predicted");
    w_.Integer(stats.predicted);
    auto list = [&](const char* key, const std::vector<double>& values) {
      w_.Key(key);
      w_.BeginArray();
      for (double value : values) w_.Number(value);
      w_.EndArray();
    };
    list("counts", stats.counts);
    list("proportions", stats.proportions);
    bool anyProbability = false;
    for (double p : stats.probabilities) anyProbability = anyProbability || p >= 0;
    if (anyProbability) list("probabilities", stats.probabilities);
    w_.EndObject();
  }
  if (const MemRegInfo* reg = node.GetRegStats(sample)) {
    const RegressionStats stats = reg->Stats();
    w_.Key("regression");
    w_.BeginObject();
    w_.Key("mean");
    w_.Number(stats.mean);
    if (stats.stdDev != -DBL_MAX) {
      w_.Key("stdDev");
      w_.Number(stats.stdDev);
    }
    w_.Key("prediction");
    w_.Number(stats.prediction);
    if (!stats.distribution.empty()) {
      w_.Key("distribution");
      w_.BeginArray();
      for (double count : stats.distribution) w_.Number(count);
      w_.EndArray();
    }
    w_.EndObject();
  }
  w_.EndObject();
}

void Saver::Node(const MemNode& node) {
  w_.BeginObject();
  w_.Key("id");
  w_.Integer(node.GetId());
  if (node.GetNumberOfChildren() > 0) {
    w_.Key("children");
    w_.BeginArray(true);
    for (int c = 0; c < node.GetNumberOfChildren(); ++c) w_.Integer(node.GetChild(c)->GetId());
    w_.EndArray();
  }
  w_.Key("samples");
  w_.BeginArray();
  for (int s = 0; s < tree_.GetNumberOfSamples(); ++s) Sample(node, s);
  w_.EndArray();
  if (const std::optional<RuleView> split = node.GetSplitSpec()) {
    w_.Key("split");
    Rule(*split);
  }
  if (node.GetNumberOfSurrogates() > 0) {
    w_.Key("surrogates");
    w_.BeginArray();
    for (int k = 0; k < node.GetNumberOfSurrogates(); ++k) Rule(node.GetSurrogateSpec(k));
    w_.EndArray();
  }
  if (node.GetNumberOfChildren() > 0 && node.GetBiggestChild() < 0) {
    w_.Key("biggestChild");
    w_.Null();
  }
  if (!node.GetPredictorRanges().empty()) {
    w_.Key("ranges");
    w_.BeginArray();
    for (const PredictorRange& range : node.GetPredictorRanges()) {
      w_.BeginObject(true);
      w_.Key("predictor");
      w_.String(PredictorName(range.predictor));
      w_.Key("min");
      w_.Number(range.min);
      w_.Key("max");
      w_.Number(range.max);
      w_.EndObject();
    }
    w_.EndArray();
  }
  w_.EndObject();
}

void Saver::Save() {
  const std::size_t predictors = metadata_.GetPredictors()->size();
  if (predictors != tree_.GetPredictorLevels().size()) {
    throw ModelError("the tree has " + std::to_string(tree_.GetPredictorLevels().size()) +
                     " predictors but the metadata " + std::to_string(predictors));
  }
  if (metadata_.GetTarget() == nullptr) throw ModelError("the metadata has no target");
  if (tree_.GetRoot() == nullptr) throw ModelError("the tree has no root node");

  w_.BeginObject();
  w_.Key("format");
  w_.String(kFormatName);
  w_.Key("version");
  w_.Integer(kFormatVersion);
  w_.Key("function");
  w_.String(tree_.IsClassification() ? "classification" : "regression");
  w_.Key("algorithm");
  w_.Integer(tree_.GetAlgorithmType());
  w_.Key("samples");
  w_.Integer(tree_.GetNumberOfSamples());
  w_.Key("riskSample");
  w_.Integer(tree_.GetRiskSample());
  if (tree_.GetPriors()) {
    w_.Key("priors");
    w_.BeginArray(true);
    for (double prior : *tree_.GetPriors()) w_.Number(prior);
    w_.EndArray();
  }
  bool anyRisk = false;
  for (int s = 0; s < tree_.GetNumberOfSamples(); ++s) anyRisk = anyRisk || tree_.GetRisk(s);
  if (anyRisk) {
    w_.Key("risk");
    w_.BeginArray();
    for (int s = 0; s < tree_.GetNumberOfSamples(); ++s) {
      std::optional<RiskStats> risk = tree_.GetRisk(s);
      if (!risk) continue;
      w_.BeginObject(true);
      w_.Key("sample");
      w_.Integer(s);
      w_.Key("value");
      w_.Number(risk->risk);
      w_.Key("stdError");
      w_.Number(risk->stdError);
      w_.EndObject();
    }
    w_.EndArray();
  }
  Version("treeVersion", tree_.GetVersion());
  Version("metadataVersion", metadata_.GetVersion());

  w_.Key("fields");
  w_.BeginArray();
  for (std::size_t p = 0; p < predictors; ++p) Field((*metadata_.GetPredictors())[p]);
  Field(*metadata_.GetTarget());
  if (metadata_.GetFrequencyWeight()) Field(*metadata_.GetFrequencyWeight());
  if (metadata_.GetCaseWeight()) Field(*metadata_.GetCaseWeight());
  w_.EndArray();
  w_.Key("predictors");
  w_.BeginArray(true);
  for (std::size_t p = 0; p < predictors; ++p) w_.String((*metadata_.GetPredictors())[p].GetName());
  w_.EndArray();
  w_.Key("target");
  w_.String(metadata_.GetTarget()->GetName());
  if (metadata_.GetFrequencyWeight()) {
    w_.Key("frequencyWeight");
    w_.String(metadata_.GetFrequencyWeight()->GetName());
  }
  if (metadata_.GetCaseWeight()) {
    w_.Key("caseWeight");
    w_.String(metadata_.GetCaseWeight()->GetName());
  }

  // Pre-order with an explicit stack: a chain of any depth is written without recursion.
  w_.Key("nodes");
  w_.BeginArray();
  std::vector<const MemNode*> stack{&tree_.GetNode(0)};
  while (!stack.empty()) {
    const MemNode* node = stack.back();
    stack.pop_back();
    Node(*node);
    const Span<uint32_t> children = node->GetChildIndices();
    for (std::size_t c = children.size(); c > 0; --c) stack.push_back(&tree_.GetNode(children[c - 1]));
  }
  w_.EndArray();
  w_.EndObject();
  w_.Finish();
}

}  // namespace

namespace {

// Parses size bytes at data, which are followed by the parser's padding and may be changed.
Model Parse(char* data, std::size_t size, const std::string& name) {
  // A byte-order mark is no JSON, but editors write one; it reads as white space, so that
  // columns stay byte counts of the file.
  if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) std::memset(data, ' ', 3);
  JsonDocument doc(std::string_view(data, size), name, "nodes");
  return Loader(doc).Load();
}

}  // namespace

Model ParseModel(std::string text, const std::string& name) {
  const std::size_t size = text.size();
  // The parser reads a little past the end of the text; the capacity gives it room.
  text.reserve(size + simdjson::SIMDJSON_PADDING);
  return Parse(text.data(), size, name);
}

Model LoadModel(std::istream& in, const std::string& name) {
  std::string text;
  // libstdc++ throws from inside a stream buffer on a read error (EISDIR, EIO) whatever the
  // stream's exception mask says; it must still come out as this library's error.
  try {
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = std::move(buffer).str();
  } catch (const std::exception&) {
    throw ModelError(name + ": cannot be read");
  }
  if (in.bad()) throw ModelError(name + ": cannot be read");
  return ParseModel(std::move(text), name);
}

namespace {

// The C library's reason, when the failed open left one.
std::string Reason(int error) {
  return error == 0 ? std::string() : std::string(" (") + std::strerror(error) + ")";
}

}  // namespace

Model LoadModel(const std::string& path) {
  struct stat info {};
  const bool known = ::stat(path.c_str(), &info) == 0;
  if (known && S_ISDIR(info.st_mode)) {
    throw ModelError(path + ": is a directory, not a model file");
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ModelError(path + ": cannot be opened" + Reason(errno));
  // A regular file is read in one piece into a text with the parser's padding already after
  // it: the file's bytes are held once.
  if (known && S_ISREG(info.st_mode) && info.st_size > 0) {
    const auto size = static_cast<std::size_t>(info.st_size);
    std::unique_ptr<char[]> text;
    try {
      text.reset(new char[size + simdjson::SIMDJSON_PADDING]);  // not filled: read over at once
      detail::AdviseHugePages(text.get(), size);
      std::memset(text.get() + size, 0, simdjson::SIMDJSON_PADDING);
      in.read(text.get(), static_cast<std::streamsize>(size));
    } catch (const std::exception&) {
      throw ModelError(path + ": cannot be read");
    }
    if (in.bad()) throw ModelError(path + ": cannot be read");
    if (in.gcount() == static_cast<std::streamsize>(size) && in.peek() == EOF) {
      return Parse(text.get(), size, path);
    }
    in.clear();
    in.seekg(0);  // the file changed while read: read it as a stream
  }
  return LoadModel(in, path);
}

std::string XmlTextProblem(std::string_view text) {
  const auto bad = detail::FindNonXmlCharacter(text);
  if (!bad) return std::string();
  return detail::DescribeNonXmlCharacter(bad->code) + " at byte " +
         std::to_string(bad->offset + 1) + " cannot be written to an XML document";
}

std::string ModelText(const MemTree& tree, const mdt::ModelMetadataImp& metadata) {
  std::string out;
  Saver(tree, metadata, out).Save();
  return out;
}

void SaveModel(const MemTree& tree, const mdt::ModelMetadataImp& metadata, std::ostream& out) {
  const std::string text = ModelText(tree, metadata);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void SaveModel(const MemTree& tree, const mdt::ModelMetadataImp& metadata,
               const std::string& path) {
  const std::string text = ModelText(tree, metadata);
  errno = 0;
  std::ofstream out(path, std::ios::binary);
  if (!out) throw ModelError(path + ": cannot be opened for writing" + Reason(errno));
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) throw ModelError(path + ": cannot be written");
}

}  // namespace memtree
