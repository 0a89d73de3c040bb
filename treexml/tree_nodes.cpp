// ClsTree and RegTree with their nodes, written in pre-order with an explicit stack.
#include <cfloat>
#include <memory>
#include <string>
#include <vector>

#include "model/prefix_node_iterator.h"
#include "treexml/xml_output_adapter.h"
#include "xmlu/markup_writer.h"
#include "xmlu/number_text.h"

namespace TreeOut {

namespace {

// Every per-node statistic comes from the training sample: the format has no choice of sample.
constexpr tree::DataSample kSample = tree::TRAINING_SAMPLE;
// The split writers take a format text that they pass on but never apply.
constexpr const char* kNumberFormat = "%.15g";

std::string NodeName(const tree::Node& node) { return "node " + std::to_string(node.GetId()); }

// Count and Id, the attributes every node element ends with (before BiggestChild).
void AddCountAndId(xmlu::MarkupWriter& out, const tree::Node& node) {
  out.Attribute("Count", node.GetCount(kSample));
  // Ids are unsigned 32-bit numbers and are written as such, never as their signed reading.
  out.Attribute("Id", static_cast<double>(node.GetId()));
}

}  // namespace

void XMLOutputAdapter::AddClsTree() {
  out_->StartElement("ClsTree");
  AddClsNode(*model_->GetRoot());
  out_->EndElement();
}

void XMLOutputAdapter::AddRegTree() {
  out_->StartElement("RegTree");
  AddRegNode(*model_->GetRoot());
  out_->EndElement();
}

void XMLOutputAdapter::AddClsNode(const tree::Node& node) {
  AddSubtree(node, &XMLOutputAdapter::StartClsNode);
}

void XMLOutputAdapter::AddRegNode(const tree::Node& node) {
  AddSubtree(node, &XMLOutputAdapter::StartRegNode);
}

void XMLOutputAdapter::AddSubtree(const tree::Node& first, NodeStart start) {
  // The nodes whose elements are open, each waiting for its remaining children; the vector's
  // length is the depth.
  struct Open {
    const tree::Node* node;
    int children;
    int next;
  };
  std::vector<Open> open;
  // Once a sample of nodes is written, their average size gives the room the whole text needs.
  constexpr std::size_t kSampleNodes = 4096;
  const std::size_t sampleStart = out_->Size();
  std::size_t started = 0;
  auto reserve = [&] {
    std::size_t total = 0;
    for (tree::PrefixNodeIterator it(&first); !it.AtEnd(); it.Next()) ++total;
    if (total <= kSampleNodes) return;
    const std::size_t perNode = (out_->Size() - sampleStart) / kSampleNodes + 1;
    out_->Reserve(out_->Size() + (total - kSampleNodes) * perNode / 4 * 5 + 65536);
  };
  (this->*start)(first);
  open.push_back({&first, first.GetNumberOfChildren(), 0});
  while (!open.empty()) {
    Open& top = open.back();
    if (top.next < top.children) {
      const int i = top.next++;
      const tree::Node* child = top.node->GetChild(i);
      if (child == nullptr) {
        throw XMLExportError(NodeName(*top.node) + ": child " + std::to_string(i) + " of " +
                             std::to_string(top.children) + " is missing");
      }
      (this->*start)(*child);
      open.push_back({child, child->GetNumberOfChildren(), 0});
      if (++started == kSampleNodes) reserve();
      continue;
    }
    open.pop_back();
    out_->EndElement();
  }
}

void XMLOutputAdapter::StartClsNode(const tree::Node& node) {
  const bool split = node.GetNumberOfChildren() > 0;
  const tree::ClsInfo* info = node.GetClsInfo(kSample);
  if (info == nullptr) {
    throw XMLExportError(NodeName(node) +
                         ": a classification node has no class information for sample 0");
  }
  out_->StartElement(split ? "ClsNode" : "ClsTerminalNode");
  AddCountAndId(*out_, node);
  if (split) out_->Attribute("BiggestChild", static_cast<double>(node.GetBiggestChild()));
  const mdt::Variable& target = *metadata_->GetTarget();
  const std::string predicted =
      DecodeFirstValue(target, static_cast<double>(info->GetPredictedCategory()), kNumberFormat);
  AddValue(predicted.c_str());
  // Every category gets its percentage, a category of none included.
  const int categories = info->GetNumberOfCategories();
  for (int i = 0; i < categories; ++i) {
    AddValuePercentage(target, i, info->GetCategoryProportion(i));
  }
  if (split) AddSplits(kNumberFormat, node);
}

void XMLOutputAdapter::StartRegNode(const tree::Node& node) {
  const bool split = node.GetNumberOfChildren() > 0;
  const tree::RegInfo* info = node.GetRegInfo(kSample);
  if (info == nullptr) {
    throw XMLExportError(NodeName(node) +
                         ": a regression node has no regression information for sample 0");
  }
  out_->StartElement(split ? "RegNode" : "RegTerminalNode");
  out_->Attribute("Prediction", info->GetPrediction());
  // -DBL_MAX is the host's "no deviation"; a deviation of 0 is a deviation.
  const double deviation = info->GetStdDeviation();
  if (deviation != -DBL_MAX) out_->Attribute("Deviation", deviation);
  AddCountAndId(*out_, node);
  if (split) {
    out_->Attribute("BiggestChild", static_cast<double>(node.GetBiggestChild()));
    AddSplits(kNumberFormat, node);
  }
}

void XMLOutputAdapter::AddValuePercentage(const mdt::Variable& target, int code,
                                          double proportion) {
  out_->StartElement("ValuePercentage");
  out_->Attribute("Percent", proportion * 100);
  AddValue(DecodeFirstValue(target, static_cast<double>(code), kNumberFormat).c_str());
  out_->EndElement();
}

}  // namespace TreeOut
