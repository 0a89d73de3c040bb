#include "cli/size_estimate.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace cli {

namespace {

// Text on a line besides its tabs and line break: a tag or an attribute with a number or a
// short label. The reviewed documents average 16 to 17 bytes.
constexpr std::uint64_t kLineWidth = 21;
// The root, the header, the dictionary, the schema and the model-level extensions.
constexpr std::uint64_t kFixedPart = 8192;
constexpr std::uint64_t kPerField = 1024;

// Lines of one node's elements, all indented from the node's own depth.
class Lines {
 public:
  explicit Lines(std::uint64_t depth) : depth_(depth) {}
  // n lines whose tabs beyond the node's depth add up to tabs, with extra bytes of text in all.
  void Add(std::uint64_t n, std::uint64_t tabs, std::uint64_t extra = 0) {
    bytes_ += n * (depth_ + kLineWidth) + tabs + extra;
    lines_ += n;
    tabs_ += tabs;
    extra_ += extra;
  }
  std::uint64_t bytes() const { return bytes_; }
  std::uint64_t lines() const { return lines_; }
  std::uint64_t tabs() const { return tabs_; }
  std::uint64_t extra() const { return extra_; }

 private:
  std::uint64_t depth_;
  std::uint64_t bytes_ = 0;
  std::uint64_t lines_ = 0, tabs_ = 0, extra_ = 0;
};

std::uint64_t NameLength(const memtree::Model& model, int predictor) {
  const std::vector<mdt::Variable>* predictors = model.metadata->GetPredictors();
  if (predictors == nullptr || predictor < 0 ||
      static_cast<std::size_t>(predictor) >= predictors->size()) {
    return 0;
  }
  return (*predictors)[static_cast<std::size_t>(predictor)].GetName().size();
}

// The text of the target's category labels: their total and the longest, which each
// classification node repeats (one per category, and the predicted one). Numbers fit the width.
std::pair<std::uint64_t, std::uint64_t> CategoryText(const memtree::Model& model) {
  std::uint64_t total = 0, longest = 0;
  const mdt::Variable* target = model.metadata->GetTarget();
  const mdt::Encoder* encoder = target != nullptr ? target->GetEncoding() : nullptr;
  if (encoder == nullptr) return {0, 0};
  for (int code = 0; code < model.tree->GetNumberOfCategories(); ++code) {
    const mdt::EncodingSets sets = encoder->Decode(code);
    const std::vector<mdt::EncodingSet*>& list = sets.GetEncodingSetList();
    if (list.empty()) continue;
    const std::vector<mdt::EncodingItem> items = list.front()->GetItems();
    if (items.empty() || items[0].GetValue().GetType() != mdt::Variant::TEXT) continue;
    const std::uint64_t length = std::strlen(static_cast<const char*>(items[0].GetValue()));
    total += length;
    longest = std::max(longest, length);
  }
  return {total, longest};
}

std::uint64_t StatisticsCount(const std::optional<memtree::RuleView>& rule) {
  std::uint64_t n = 0;
  if (rule) {
    for (const auto& statistic : rule->statistics) n += statistic.has_value() ? 1 : 0;
  }
  return n;
}

// The predicate one rule gives child `child` in PMML: a CompoundPredicate of SimplePredicates.
void FormatPmmlRule(Lines& lines, const memtree::RuleView& rule, std::size_t child,
                    std::uint64_t name) {
  lines.Add(3, 2 + 3 + 2);
  const bool missing =
      rule.missingChild >= 0 && static_cast<std::size_t>(rule.missingChild) == child;
  if (missing) lines.Add(3, 3 + 4 + 4, name);
  if (child >= rule.children.size()) {
    lines.Add(1, 3);
    return;
  }
  const memtree::ValuesView values = rule.children[child];
  switch (values.kind) {
    case memtree::ChildValues::Kind::kNone:
      lines.Add(1, 3);
      break;
    case memtree::ChildValues::Kind::kInterval: {
      const bool low = values.bounds.low.has_value();
      const bool high = values.bounds.high.has_value();
      const std::uint64_t bounds = (low ? 1 : 0) + (high ? 1 : 0);
      lines.Add(4 * bounds, 15 * bounds, bounds * name);
      lines.Add(2 - bounds, 3 * (2 - bounds));
      // A middle interval of the missing-value child nests one level further.
      if (low && high && missing) lines.Add(3, 10 + 4 * bounds);
      break;
    }
    case memtree::ChildValues::Kind::kCodes: {
      const std::uint64_t codes = values.codes.size();
      lines.Add(4 * codes, 15 * codes, codes * name);
      if (codes == 1) lines.Add(1, 3);
      break;
    }
  }
}

// Whether a rule's intervals send every present value to some child: sorted by their lower
// bounds they run from minus to plus infinity, each starting where the one before ends. A rule
// of codes counts as having gaps, since which categories its field has is not known here.
bool Gapless(const memtree::RuleView& rule) {
  std::vector<memtree::Bounds> intervals;
  for (const memtree::ValuesView& values : rule.children) {
    if (values.kind != memtree::ChildValues::Kind::kInterval) return false;
    intervals.push_back(values.bounds);
  }
  if (intervals.empty()) return false;
  std::sort(intervals.begin(), intervals.end(),
            [](const memtree::Bounds& a, const memtree::Bounds& b) {
              if (!a.low || !b.low) return !a.low && b.low;
              return *a.low < *b.low;
            });
  if (intervals.front().low || intervals.back().high) return false;
  for (std::size_t i = 1; i < intervals.size(); ++i) {
    const memtree::Bounds& before = intervals[i - 1];
    const memtree::Bounds& next = intervals[i];
    if (!before.high || !next.low || *before.high != *next.low ||
        (before.highOpen && next.lowOpen)) {
      return false;
    }
  }
  return true;
}

// The portable profile adds missing-value tests to a rule's predicate and, for a rule with
// gaps, the test that it decides nothing, with the rules after it nested inside: counted as
// five times the lines and a few levels deeper, and every later rule two levels deeper still.
void PmmlRule(Lines& lines, const memtree::RuleView& rule, std::size_t child, std::uint64_t name,
              bool portable, std::uint64_t& gapsBefore) {
  if (!portable) {
    FormatPmmlRule(lines, rule, child, name);
    return;
  }
  Lines one(0);
  FormatPmmlRule(one, rule, child, name);
  const std::uint64_t nesting = 2 * gapsBefore;
  if (Gapless(rule)) {
    lines.Add(one.lines(), one.tabs() + nesting * one.lines(), one.extra());
    if (rule.missingChild >= 0) lines.Add(6, 6 * (4 + nesting), 2 * name);
    return;
  }
  const std::uint64_t n = 5 * one.lines() + 6;
  lines.Add(n, 5 * one.tabs() + (2 + nesting) * n, 5 * one.extra() + 6 * name);
  ++gapsBefore;
}

// One rule of a node in tree XML: a ScaleSplit with an entry per interval that has an upper
// bound, or a DiscreteSplit with an entry per child.
void TreeXmlRule(Lines& lines, const memtree::RuleView& rule, std::uint64_t name) {
  bool interval = false;
  std::uint64_t codes = 0, bounded = 0;
  for (const memtree::ValuesView& values : rule.children) {
    if (values.kind == memtree::ChildValues::Kind::kInterval) {
      interval = true;
      bounded += values.bounds.high.has_value() ? 1 : 0;
    }
    codes += values.codes.size();
  }
  const std::uint64_t children = rule.children.size();
  if (interval) {
    const std::uint64_t end = bounded > 0 ? 1 : 0;  // otherwise "/>" ends the last attribute
    lines.Add(4 + end, 1 + 6 + end, name);
    lines.Add(5 * bounded, 13 * bounded);
  } else {
    lines.Add(4, 1 + 4 + 1, name);
    lines.Add(2 * children + codes, 4 * children + 3 * codes);
  }
}

}  // namespace

SizeEstimate EstimateSize(const memtree::Model& model, int sample, bool portable) {
  const memtree::MemTree& tree = *model.tree;
  SizeEstimate estimate;
  estimate.nodes = tree.GetNumberOfNodes();
  const std::size_t predictors =
      model.metadata->GetPredictors() != nullptr ? model.metadata->GetPredictors()->size() : 0;
  estimate.pmml = kFixedPart + kPerField * (predictors + 1);
  estimate.treeXml = estimate.pmml;
  const std::uint64_t categories =
      static_cast<std::uint64_t>(std::max(0, tree.GetNumberOfCategories()));
  const std::pair<std::uint64_t, std::uint64_t> labels = CategoryText(model);
  // The dictionary, the priors and the portable profile's output fields name each category too.
  estimate.pmml += (portable ? 8 : 4) * labels.first;
  estimate.treeXml += 4 * labels.first;

  // Parents come before their children, so one pass gives every node's depth.
  std::vector<std::uint32_t> depth(tree.GetNumberOfNodes(), 0);
  for (std::size_t i = 0; i < tree.GetNumberOfNodes(); ++i) {
    const memtree::MemNode& node = tree.GetNode(i);
    const std::ptrdiff_t parentIndex = node.GetParentIndex();
    if (parentIndex >= 0) depth[i] = depth[static_cast<std::size_t>(parentIndex)] + 1;
    estimate.depth = std::max<std::uint64_t>(estimate.depth, depth[i]);
    // Both documents put the root node two levels below their root element.
    const std::uint64_t level = 2 + depth[i];
    const std::optional<memtree::RuleView> split = node.GetSplitSpec();
    const bool leaf = node.GetChildIndices().empty();

    Lines pmml(level);
    pmml.Add(5, 3);  // <Node, score, recordCount, id; </Node>
    const std::uint64_t statistics = StatisticsCount(split);
    if (tree.GetNumberOfCategories() > 0) {
      if (split) pmml.Add(5 + statistics, 9 + 4 * statistics);
      pmml.Add(8 * categories, 17 * categories);
      if (portable) pmml.Add(categories, 2 * categories);  // the probability attribute
      pmml.Add(0, 0, labels.first + labels.second);
    } else {
      pmml.Add(7 + 1 + statistics, 17 + 3 + 4 * statistics);
      const memtree::MemRegInfo* reg = node.GetRegStats(sample);
      const std::uint64_t entries =
          reg != nullptr ? static_cast<std::uint64_t>(reg->GetDistributionSize()) : 0;
      pmml.Add(3 * entries, 5 * entries);
    }
    if (parentIndex < 0) {
      pmml.Add(1, 1);  // True
    } else {
      // The parent's primary rule and each of its surrogates for this child, then True/False.
      const memtree::MemNode& parent = tree.GetNode(static_cast<std::size_t>(parentIndex));
      const memtree::Span<std::uint32_t> siblings = parent.GetChildIndices();
      std::size_t child = 0;
      while (child < siblings.size() && siblings[child] != i) {
        ++child;
      }
      pmml.Add(4, 3 + 1 + 2);
      std::uint64_t gaps = 0;
      if (const std::optional<memtree::RuleView> primary = parent.GetSplitSpec()) {
        PmmlRule(pmml, *primary, child, NameLength(model, primary->predictor), portable, gaps);
      }
      for (int k = 0; k < parent.GetNumberOfSurrogates(); ++k) {
        const memtree::RuleView surrogate = parent.GetSurrogateSpec(k);
        PmmlRule(pmml, surrogate, child, NameLength(model, surrogate.predictor), portable, gaps);
      }
    }
    estimate.pmml += pmml.bytes();

    Lines xml(level);
    if (tree.GetNumberOfCategories() > 0) {
      const std::uint64_t attributes = leaf ? 2 : 3;
      xml.Add(1 + attributes + 2, attributes + 1);  // start tag, <Value>, end tag
      xml.Add(4 * categories, 6 * categories, labels.first + labels.second);
    } else {
      // Prediction, Deviation when there is one, Count, Id and, with children, BiggestChild;
      // a terminal node ends with "/>".
      const memtree::MemRegInfo* reg = node.GetRegStats(sample);
      const bool deviation = reg == nullptr || reg->GetStdDeviation() != -DBL_MAX;
      const std::uint64_t attributes = 3 + (deviation ? 1 : 0) + (leaf ? 0 : 1);
      xml.Add(1 + attributes + (leaf ? 0 : 1), attributes);
    }
    if (split) {
      TreeXmlRule(xml, *split, NameLength(model, split->predictor));
      for (int k = 0; k < node.GetNumberOfSurrogates(); ++k) {
        const memtree::RuleView surrogate = node.GetSurrogateSpec(k);
        TreeXmlRule(xml, surrogate, NameLength(model, surrogate.predictor));
      }
    }
    estimate.treeXml += xml.bytes();
  }
  return estimate;
}

std::optional<std::uint64_t> ParseSize(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size() &&
         (std::isdigit(static_cast<unsigned char>(text[at])) != 0 || text[at] == '.')) {
    ++at;
  }
  if (at == 0) return std::nullopt;
  const std::string number = text.substr(0, at);
  if (number.find('.') != number.rfind('.') || number == ".") return std::nullopt;
  std::string unit = text.substr(at);
  for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (unit.size() >= 2 && unit.compare(unit.size() - 2, 2, "IB") == 0) {
    unit.resize(unit.size() - 2);
    if (unit.empty()) return std::nullopt;  // "iB" alone is no unit
  } else if (!unit.empty() && unit.back() == 'B') {
    unit.pop_back();
  }
  double scale = 1;
  if (unit == "K") {
    scale = 1024.0;
  } else if (unit == "M") {
    scale = 1024.0 * 1024;
  } else if (unit == "G") {
    scale = 1024.0 * 1024 * 1024;
  } else if (unit == "T") {
    scale = 1024.0 * 1024 * 1024 * 1024;
  } else if (!unit.empty()) {
    return std::nullopt;
  }
  const double bytes = std::strtod(number.c_str(), nullptr) * scale;
  if (!(bytes < 1.8e19)) return std::nullopt;
  return static_cast<std::uint64_t>(bytes + 0.5);
}

std::string FormatSize(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace cli
