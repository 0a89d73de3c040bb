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
#include "xmlu/number_text.h"
#include "xmlu/xml_item.h"

namespace TreeOut {

namespace {

xmlu::XMLElement* ValueElement(const char* name, const std::string& value) {
  xmlu::XMLElement* element = xmlu::NewElement(name);
  element->AddAttribute("value", value);
  return element;
}

// One node whose element is open: its split rules are fetched once and shared by all its
// children, and live until the last child is written.
struct OpenNode {
  const tree::Node* node;
  std::unique_ptr<xmlu::XMLElement> element;
  std::unique_ptr<tree::SplitRule> split;
  std::vector<std::unique_ptr<tree::SplitRule>> surrogates;
  std::vector<tree::SplitRule*> surrogateRules;  // the same rules, as the predicates take them
  int children = 0;
  int biggest = -1;
  int next = 0;
};

}  // namespace

void PMMLOutputAdapterImp::AddTreeModel(xmlu::XMLElement* pmml, tree::DataSample sample) {
  std::unique_ptr<xmlu::XMLElement> treeModel(xmlu::NewElement("TreeModel"));
  if (!portable_ || !algorithmName_.empty()) {
    treeModel->AddAttribute("algorithmName", GetAlgorithmName());
  }
  treeModel->AddAttribute("functionName",
                          model_->IsClassification() ? "classification" : "regression");
  if (portable_) {
    // Every node predicate of the document is decided (each ends in True or False), so the
    // missing-value strategy never applies; naming one that needs three-valued predicates keeps
    // a consumer from reading "none" as "a comparison with a missing value is false", which
    // would defeat the surrogates. A record that no child takes stops where the tree stops it.
    treeModel->AddAttribute("missingValueStrategy", "lastPrediction");
    treeModel->AddAttribute("noTrueChildStrategy", "returnLastPrediction");
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
    std::unique_ptr<xmlu::XMLElement> extension(xmlu::NewElement("Extension"));
    extension->AddAttribute("extender", pmml_text::kVendorDomain);
    extension->AddChild(ValueElement("X-risk", Number(risk)));
    extension->AddChild(ValueElement("X-seOfRisk", Number(riskError)));
    treeModel->AddChild(extension.release());
  }

  AddMiningSchema(treeModel.get());
  if (portable_) AddOutput(treeModel.get());
  AddModelStats(treeModel.get(), sample);
  xmlu::OpenIfWriting(writer_, *treeModel);
  AddNode(model_->GetRoot(), treeModel.get(), sample);
  AddXTreeModel(treeModel.get());
  xmlu::CloseOrAppend(writer_, std::move(treeModel), pmml);
}

void PMMLOutputAdapterImp::AddNode(const tree::Node* node, xmlu::XMLElement* parent,
                                   tree::DataSample sample) {
  AddSubtree(node, nullptr, 0, {}, false, parent, sample);
}

void PMMLOutputAdapterImp::AddNode(const tree::Node* node, tree::SplitRule& parentSplit,
                                   int childIndex, std::vector<tree::SplitRule*> parentSurrogates,
                                   bool isBiggestChild, xmlu::XMLElement* parent,
                                   tree::DataSample sample) {
  AddSubtree(node, &parentSplit, childIndex, parentSurrogates, isBiggestChild, parent, sample);
}

void PMMLOutputAdapterImp::AddSubtree(const tree::Node* first, tree::SplitRule* firstSplit,
                                      int firstIndex,
                                      const std::vector<tree::SplitRule*>& firstSurrogates,
                                      bool firstIsBiggest, xmlu::XMLElement* parent,
                                      tree::DataSample sample) {
  const mdt::Variable& target = *metadata_->GetTarget();
  const bool classification = model_->IsClassification();
  std::vector<OpenNode> open;
  // Once a sample of nodes is written, their average size gives the room the whole text needs.
  constexpr std::size_t kSampleNodes = 4096;
  const std::size_t sampleStart = writer_ != nullptr ? writer_->Size() : 0;
  std::size_t started = 0;
  auto reserve = [&] {
    std::size_t total = 0;
    for (tree::PrefixNodeIterator it(first); !it.AtEnd(); it.Next()) ++total;
    if (total <= kSampleNodes) return;
    const std::size_t perNode = (writer_->Size() - sampleStart) / kSampleNodes + 1;
    writer_->Reserve(writer_->Size() + (total - kSampleNodes) * perNode / 4 * 5 + 65536);
  };

  // Everything a node's element holds before its child nodes, in document order.
  auto start = [&](const tree::Node* node, tree::SplitRule* parentSplit, int childIndex,
                   const std::vector<tree::SplitRule*>& parentSurrogates, bool isBiggest) {
    OpenNode entry;
    entry.node = node;
    entry.children = node->GetNumberOfChildren();
    entry.element.reset(xmlu::NewElement("Node"));
    xmlu::XMLElement* element = entry.element.get();
    AddNodeExtension(*node, element, sample);
    if (parentSplit == nullptr) {
      AddTrue(element);
    } else {
      AddCompoundPredicate(*parentSplit, childIndex, parentSurrogates, isBiggest, element);
    }
    AddScoreDistribution(target, *node, element, sample);
    if (classification) {
      element->AddAttribute(
          "score", DecodeFirstValue(target, node->GetClsInfo(sample)->GetPredictedCategory()));
    } else {
      element->AddAttribute("score", Number(node->GetRegInfo(sample)->GetPrediction()));
    }
    element->AddAttribute("recordCount", Number(RecordCount(*node, sample)));
    element->AddAttribute("id", static_cast<double>(static_cast<uint32_t>(node->GetId())));
    if (entry.children > 0) {
      entry.split.reset(node->GetSplit(0));
      const int surrogates = node->GetNumberOfSurrogates();
      for (int k = 0; k < surrogates; ++k) {
        entry.surrogates.emplace_back(node->GetSurrogate(k));
        entry.surrogateRules.push_back(entry.surrogates.back().get());
      }
      entry.biggest = node->GetBiggestChild();
    }
    if (writer_ != nullptr) {
      writer_->Open(*element);
      if (++started == kSampleNodes) reserve();
    }
    open.push_back(std::move(entry));
  };

  start(first, firstSplit, firstIndex, firstSurrogates, firstIsBiggest);
  while (!open.empty()) {
    OpenNode& top = open.back();
    if (top.next < top.children) {
      const int i = top.next++;
      // start() may grow the vector; take what it needs from top first.
      tree::SplitRule* split = top.split.get();
      const std::vector<tree::SplitRule*> surrogates = top.surrogateRules;
      start(top.node->GetChild(i), split, i, surrogates, i == top.biggest);
      continue;
    }
    // The subtree is complete: release the node's rules, then end or hand up its element.
    std::unique_ptr<xmlu::XMLElement> done = std::move(top.element);
    open.pop_back();
    xmlu::CloseOrAppend(writer_, std::move(done),
                        open.empty() ? parent : open.back().element.get());
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
                                                xmlu::XMLElement* nodeElement,
                                                tree::DataSample sample) {
  const tree::ClsInfo* cls = node.GetClsInfo(sample);
  const tree::RegInfo* reg = node.GetRegInfo(sample);
  if (cls != nullptr) AddClsDistribution(target, *cls, nodeElement);
  if (reg != nullptr) AddRegDistribution(target, *reg, nodeElement);
}

void PMMLOutputAdapterImp::AddClsDistribution(const mdt::Variable& target,
                                              const tree::ClsInfo& info,
                                              xmlu::XMLElement* nodeElement) {
  const int categories = info.GetNumberOfCategories();
  for (int i = 0; i < categories; ++i) {
    const double count = info.GetCategoryCount(i);
    const double probability = info.GetCategoryProbability(i);
    std::unique_ptr<xmlu::XMLElement> score(xmlu::NewElement("ScoreDistribution"));
    score->AddAttribute("recordCount", Number(count));
    score->AddAttribute("value", DecodeFirstValue(target, i));
    // The standard attribute, for consumers that read no extension: without it they would
    // take count ratios, which priors, weights and losses make wrong.
    if (portable_ && probability >= 0) score->AddAttribute("probability", Number(probability));
    if (probability >= 0) {  // false for a negative "none" and for NaN
      std::unique_ptr<xmlu::XMLElement> extension(xmlu::NewElement("Extension"));
      extension->AddAttribute("extender", pmml_text::kVendorDomain);
      extension->AddAttribute("name", "probability");
      extension->AddAttribute("value", Number(probability));
      score->AddChild(extension.release());
    }
    nodeElement->AddChild(score.release());
  }
}

void PMMLOutputAdapterImp::AddRegDistribution(const mdt::Variable&, const tree::RegInfo& info,
                                              xmlu::XMLElement* nodeElement) {
  const int entries = info.GetDistributionSize();
  for (int i = 0; i < entries; ++i) {
    std::unique_ptr<xmlu::XMLElement> score(xmlu::NewElement("ScoreDistribution"));
    score->AddAttribute("value", static_cast<double>(i));
    score->AddAttribute("recordCount", Number(info.GetDistributionCount(i)));
    nodeElement->AddChild(score.release());
  }
}

std::string PMMLOutputAdapterImp::DecodeFirstValue(const mdt::Variable& variable, double value,
                                                   const char*) {
  const mdt::Encoder* encoder = variable.GetEncoding();
  if (encoder == nullptr) return Number(value);
  // Encoded values are few (categories) and decoded again at every node. The key is the
  // value's bit pattern, not its numeric value: +0.0 and -0.0 compare equal but are different
  // values for the encoder, and a NaN finds itself.
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const auto key = std::make_pair(&variable, bits);
  const auto known = decoded_.find(key);
  if (known != decoded_.end()) return known->second;
  std::string text = DecodeEncoded(*encoder, value);
  decoded_.emplace(key, text);
  return text;
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
