// TreeModel and its Node tree with score distributions.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <typeinfo>

#include "arbtree/tree_statistics.h"
#include "imported/metadata/encoding.h"
#include "model/algorithm_name.h"
#include "model/prefix_node_iterator.h"
#include "pmml/pmml_output_adapter.h"
#include "pmml/pmml_texts.h"
#include "xmlu/markup_writer.h"
#include "xmlu/number_text.h"

namespace TreeOut {

namespace {

// One node whose element is open: its split rules are fetched once and shared by all its
// children, and live until the last child is written. Entries are reused as the walk goes up
// and down, so their vectors keep their room.
struct OpenNode {
  const tree::Node* node = nullptr;
  std::unique_ptr<tree::SplitRule> split;
  std::vector<std::unique_ptr<tree::SplitRule>> surrogates;
  std::vector<tree::SplitRule*> surrogateRules;  // the same rules, as the predicates take them
  int children = 0;
  int biggest = -1;
  int next = 0;
};

}  // namespace

void PMMLOutputAdapterImp::AddTreeModel(tree::DataSample sample) {
  out_->StartElement("TreeModel");
  if (!portable_ || !algorithmName_.empty()) out_->Attribute("algorithmName", algorithmName_);
  out_->Attribute("functionName", model_->IsClassification() ? "classification" : "regression");
  if (portable_) {
    // Every node predicate of the document is decided (each ends in True or False), so the
    // missing-value strategy never applies; naming one that needs three-valued predicates keeps
    // a consumer from reading "none" as "a comparison with a missing value is false", which
    // would defeat the surrogates. A record that no child takes stops where the tree stops it.
    out_->Attribute("missingValueStrategy", "lastPrediction");
    out_->Attribute("noTrueChildStrategy", "returnLastPrediction");
  }

  tree::DataSample riskSample;
  {
    std::unique_ptr<tree::AlgSettings> settings(model_->CreateSettings());
    riskSample = settings->GetRiskEstimation().GetDataSample();
  }
  tree::TreeStatistics statistics;
  if (model_->ComputeTreeStatistics(riskSample, statistics).severity != 0) {
    model_->ComputeTreeStatistics(tree::DataSample(0), statistics);
  }
  const tree::TreeStatisticsBody* body = statistics.GetBody();
  const double risk = body != nullptr ? body->GetRisk() : -DBL_MAX;
  const double riskError = body != nullptr ? body->GetRiskStdError() : -DBL_MAX;

  // The portable profile writes no risk the host does not have.
  if (!portable_ || body != nullptr) {
    out_->StartElement("Extension");
    out_->Attribute("extender", pmml_text::kVendorDomain);
    out_->StartElement("X-risk");
    NumberAttribute("value", risk);
    out_->EndElement();
    out_->StartElement("X-seOfRisk");
    NumberAttribute("value", riskError);
    out_->EndElement();
    out_->EndElement();
  }

  AddMiningSchema();
  if (portable_) AddOutput();
  AddModelStats(sample);
  AddNode(model_->GetRoot(), sample);
  AddXTreeModel();
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddNode(const tree::Node* node, tree::DataSample sample) {
  AddSubtree(node, nullptr, 0, {}, false, sample);
}

void PMMLOutputAdapterImp::AddNode(const tree::Node* node, tree::SplitRule& parentSplit,
                                   int childIndex,
                                   const std::vector<tree::SplitRule*>& parentSurrogates,
                                   bool isBiggestChild, tree::DataSample sample) {
  AddSubtree(node, &parentSplit, childIndex, parentSurrogates, isBiggestChild, sample);
}

void PMMLOutputAdapterImp::AddSubtree(const tree::Node* first, tree::SplitRule* firstSplit,
                                      int firstIndex,
                                      const std::vector<tree::SplitRule*>& firstSurrogates,
                                      bool firstIsBiggest, tree::DataSample sample) {
  const mdt::Variable& target = *metadata_->GetTarget();
  const bool classification = model_->IsClassification();
  // open[0, depth) are the nodes whose elements are open; entries from depth on are kept for
  // reuse.
  std::vector<OpenNode> open;
  std::size_t depth = 0;
  // Once a sample of nodes is written, their average size gives the room the whole text needs.
  constexpr std::size_t kSampleNodes = 4096;
  const std::size_t sampleStart = out_->Size();
  std::size_t started = 0;
  auto reserve = [&] {
    std::size_t total = 0;
    for (tree::PrefixNodeIterator it(first); !it.AtEnd(); it.Next()) ++total;
    if (total <= kSampleNodes) return;
    const std::size_t perNode = (out_->Size() - sampleStart) / kSampleNodes + 1;
    out_->Reserve(out_->Size() + (total - kSampleNodes) * perNode / 4 * 5 + 65536);
  };

  // The node's start tag and everything its element holds before its child nodes, in document
  // order; the node becomes open[depth]. The parent's rules are read before the entry is
  // filled, and the entry exists already, so they stay where they are.
  auto start = [&](const tree::Node* node, tree::SplitRule* parentSplit, int childIndex,
                   const std::vector<tree::SplitRule*>& parentSurrogates, bool isBiggest) {
    OpenNode& entry = open[depth];
    entry.node = node;
    entry.children = node->GetNumberOfChildren();
    entry.next = 0;
    entry.biggest = -1;
    entry.split.reset();
    entry.surrogates.clear();
    entry.surrogateRules.clear();
    if (entry.children > 0) {
      entry.split.reset(node->GetSplit(0));
      const int surrogates = node->GetNumberOfSurrogates();
      for (int k = 0; k < surrogates; ++k) {
        entry.surrogates.emplace_back(node->GetSurrogate(k));
        entry.surrogateRules.push_back(entry.surrogates.back().get());
      }
      entry.biggest = node->GetBiggestChild();
    }
    out_->StartElement("Node");
    if (classification) {
      DecodedAttribute("score", target, node->GetClsInfo(sample)->GetPredictedCategory());
    } else {
      NumberAttribute("score", node->GetRegInfo(sample)->GetPrediction());
    }
    NumberAttribute("recordCount", RecordCount(*node, sample));
    out_->Attribute("id", static_cast<double>(static_cast<uint32_t>(node->GetId())));
    AddNodeExtension(*node, entry.split.get(), sample);
    if (parentSplit == nullptr) {
      AddTrue();
    } else {
      AddCompoundPredicate(*parentSplit, childIndex, parentSurrogates, isBiggest);
    }
    AddScoreDistribution(target, *node, sample);
    if (++started == kSampleNodes) reserve();
    ++depth;
  };

  open.emplace_back();
  start(first, firstSplit, firstIndex, firstSurrogates, firstIsBiggest);
  while (depth > 0) {
    if (open.size() == depth) open.emplace_back();  // before taking the parent's entry
    OpenNode& top = open[depth - 1];
    if (top.next < top.children) {
      const int i = top.next++;
      start(top.node->GetChild(i), top.split.get(), i, top.surrogateRules, i == top.biggest);
      continue;
    }
    // The subtree is complete: its end tag.
    out_->EndElement();
    --depth;
  }
}

double PMMLOutputAdapterImp::RecordCount(const tree::Node& node, tree::DataSample sample) const {
  const tree::ClsInfo* cls = portable_ ? node.GetClsInfo(sample) : nullptr;
  if (cls == nullptr) return node.GetCount(sample);
  // Portable: the sum of the class counts, so that each class's count over the node's is its
  // share. Where the tree was grown with weights the class counts are weighted, and the number
  // of rows is then not what the document's counts add up to.
  double sum = 0.0;
  for (int i = 0; i < cls->GetNumberOfCategories(); ++i) sum += cls->GetCategoryCount(i);
  return sum;
}

void PMMLOutputAdapterImp::AddScoreDistribution(const mdt::Variable& target, const tree::Node& node,
                                                tree::DataSample sample) {
  const tree::ClsInfo* cls = node.GetClsInfo(sample);
  const tree::RegInfo* reg = node.GetRegInfo(sample);
  if (cls != nullptr) AddClsDistribution(target, *cls);
  if (reg != nullptr) AddRegDistribution(target, *reg);
}

void PMMLOutputAdapterImp::AddClsDistribution(const mdt::Variable& target,
                                              const tree::ClsInfo& info) {
  const int categories = info.GetNumberOfCategories();
  for (int i = 0; i < categories; ++i) {
    const double count = info.GetCategoryCount(i);
    const double probability = info.GetCategoryProbability(i);
    out_->StartElement("ScoreDistribution");
    NumberAttribute("recordCount", count);
    DecodedAttribute("value", target, i);
    // The standard attribute, for consumers that read no extension: without it they would
    // take count ratios, which priors, weights and losses make wrong.
    if (portable_ && probability >= 0) NumberAttribute("probability", probability);
    if (probability >= 0) {  // false for a negative "none" and for NaN
      out_->StartElement("Extension");
      out_->Attribute("extender", pmml_text::kVendorDomain);
      out_->Attribute("name", "probability");
      NumberAttribute("value", probability);
      out_->EndElement();
    }
    out_->EndElement();
  }
}

void PMMLOutputAdapterImp::AddRegDistribution(const mdt::Variable&, const tree::RegInfo& info) {
  const int entries = info.GetDistributionSize();
  for (int i = 0; i < entries; ++i) {
    out_->StartElement("ScoreDistribution");
    out_->Attribute("value", static_cast<double>(i));
    NumberAttribute("recordCount", info.GetDistributionCount(i));
    out_->EndElement();
  }
}

std::string PMMLOutputAdapterImp::DecodeFirstValue(const mdt::Variable& variable, double value,
                                                   const char*) {
  if (variable.GetEncoding() == nullptr) return Number(value);
  return DecodeCached(variable, value);
}

void PMMLOutputAdapterImp::DecodedAttribute(const char* name, const mdt::Variable& variable,
                                            double value) {
  if (variable.GetEncoding() == nullptr) {
    NumberAttribute(name, value);
  } else {
    out_->Attribute(name, DecodeCached(variable, value));
  }
}

const std::string& PMMLOutputAdapterImp::DecodeCached(const mdt::Variable& variable, double value) {
  // Encoded values are few (categories) and decoded again at every node. The key is the
  // value's bit pattern, not its numeric value: +0.0 and -0.0 compare equal but are different
  // values for the encoder, and a NaN finds itself.
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const auto key = std::make_pair(&variable, bits);
  const auto known = decoded_.find(key);
  if (known != decoded_.end()) return known->second;
  return decoded_.emplace(key, DecodeEncoded(*variable.GetEncoding(), value)).first->second;
}

std::string PMMLOutputAdapterImp::DecodeEncoded(const mdt::Encoder& encoder, double value) {
  const mdt::EncodingSets sets = encoder.Decode(value);
  const std::vector<mdt::EncodingSet*>& list = sets.GetEncodingSetList();
  if (list.empty()) return std::string();
  const mdt::EncodingSet& set = *list.front();
  const std::vector<mdt::EncodingItem> items = set.GetItems();
  // The exact kind matters: a subclass of one of these is none of them.
  const std::type_info& kind = typeid(set);
  if (kind == typeid(mdt::Interval)) {
    if (items.size() < 2) return std::string();
    return Number(static_cast<double>(items[1].GetValue()));
  }
  if (items.empty()) return std::string();
  if (kind == typeid(mdt::CutPoints)) {
    return Number(static_cast<double>(items[0].GetValue()));
  }
  if (kind == typeid(mdt::DiscreteValues)) {
    const mdt::Variant& first = items[0].GetValue();
    if (first.GetType() == mdt::Variant::TEXT) return static_cast<const char*>(first);
    return Number(static_cast<double>(first));
  }
  return std::string();
}

}  // namespace TreeOut
