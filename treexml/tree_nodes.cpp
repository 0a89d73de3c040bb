// ClsTree and RegTree with their nodes, written in pre-order with an explicit stack.
#include <cfloat>
#include <memory>
#include <string>
#include <vector>

#include "treexml/xml_output_adapter.h"
#include "xmlu/number_text.h"
#include "xmlu/xml_item.h"

namespace TreeOut {

namespace {

// Every per-node statistic comes from the training sample: the format has no choice of sample.
constexpr tree::DataSample kSample = tree::TRAINING_SAMPLE;
// The split writers take a format text that they pass on but never apply.
constexpr const char* kNumberFormat = "%.15g";

std::string NodeName(const tree::Node& node) { return "node " + std::to_string(node.GetId()); }

// Count and Id, the attributes every node element ends with (before BiggestChild).
void AddCountAndId(const tree::Node& node, xmlu::XMLElement* element) {
  element->AddAttribute("Count", node.GetCount(kSample));
  // Ids are unsigned 32-bit numbers and are written as such, never as their signed reading.
  element->AddAttribute("Id", static_cast<double>(node.GetId()));
}

}  // namespace

void XMLOutputAdapter::AddClsTree(xmlu::XMLElement* root) {
  std::unique_ptr<xmlu::XMLElement> clsTree(xmlu::NewElement("ClsTree"));
  xmlu::OpenIfWriting(writer_, *clsTree);
  AddClsNode(*model_->GetRoot(), clsTree.get());
  xmlu::CloseOrAppend(writer_, std::move(clsTree), root);
}

void XMLOutputAdapter::AddRegTree(xmlu::XMLElement* root) {
  std::unique_ptr<xmlu::XMLElement> regTree(xmlu::NewElement("RegTree"));
  xmlu::OpenIfWriting(writer_, *regTree);
  AddRegNode(*model_->GetRoot(), regTree.get());
  xmlu::CloseOrAppend(writer_, std::move(regTree), root);
}

void XMLOutputAdapter::AddClsNode(const tree::Node& node, xmlu::XMLElement* parent) {
  AddSubtree(node, &XMLOutputAdapter::StartClsNode, parent);
}

void XMLOutputAdapter::AddRegNode(const tree::Node& node, xmlu::XMLElement* parent) {
  AddSubtree(node, &XMLOutputAdapter::StartRegNode, parent);
}

void XMLOutputAdapter::AddSubtree(const tree::Node& first, NodeStart start,
                                  xmlu::XMLElement* parent) {
  // The nodes whose elements are open: each waits for its remaining children, and is handed to
  // its parent's element once its last child is in. The vector's length is the depth.
  struct Open {
    const tree::Node* node;
    std::unique_ptr<xmlu::XMLElement> element;
    int children;
    int next;
  };
  std::vector<Open> open;
  open.push_back({&first, (this->*start)(first), first.GetNumberOfChildren(), 0});
  xmlu::OpenIfWriting(writer_, *open.back().element);
  while (!open.empty()) {
    Open& top = open.back();
    if (top.next < top.children) {
      const int i = top.next++;
      const tree::Node* child = top.node->GetChild(i);
      if (child == nullptr) {
        throw XMLExportError(NodeName(*top.node) + ": child " + std::to_string(i) + " of " +
                             std::to_string(top.children) + " is missing");
      }
      // The element is made before push_back, which may move top.
      std::unique_ptr<xmlu::XMLElement> element = (this->*start)(*child);
      xmlu::OpenIfWriting(writer_, *element);
      open.push_back({child, std::move(element), child->GetNumberOfChildren(), 0});
      continue;
    }
    std::unique_ptr<xmlu::XMLElement> done = std::move(top.element);
    open.pop_back();
    xmlu::CloseOrAppend(writer_, std::move(done),
                        open.empty() ? parent : open.back().element.get());
  }
}

std::unique_ptr<xmlu::XMLElement> XMLOutputAdapter::StartClsNode(const tree::Node& node) {
  const bool split = node.GetNumberOfChildren() > 0;
  std::unique_ptr<xmlu::XMLElement> element(
      xmlu::NewElement(split ? "ClsNode" : "ClsTerminalNode"));
  const tree::ClsInfo* info = node.GetClsInfo(kSample);
  if (info == nullptr) {
    throw XMLExportError(NodeName(node) +
                         ": a classification node has no class information for sample 0");
  }
  const mdt::Variable& target = *metadata_->GetTarget();
  const std::string predicted =
      DecodeFirstValue(target, static_cast<double>(info->GetPredictedCategory()), kNumberFormat);
  AddValue(predicted.c_str(), element.get());
  // Every category gets its percentage, a category of none included.
  const int categories = info->GetNumberOfCategories();
  for (int i = 0; i < categories; ++i) {
    AddValuePercentage(target, i, info->GetCategoryProportion(i), element.get());
  }
  AddCountAndId(node, element.get());
  if (split) {
    element->AddAttribute("BiggestChild", static_cast<double>(node.GetBiggestChild()));
    AddSplits(kNumberFormat, node, element.get());
  }
  return element;
}

std::unique_ptr<xmlu::XMLElement> XMLOutputAdapter::StartRegNode(const tree::Node& node) {
  const bool split = node.GetNumberOfChildren() > 0;
  std::unique_ptr<xmlu::XMLElement> element(
      xmlu::NewElement(split ? "RegNode" : "RegTerminalNode"));
  const tree::RegInfo* info = node.GetRegInfo(kSample);
  if (info == nullptr) {
    throw XMLExportError(NodeName(node) +
                         ": a regression node has no regression information for sample 0");
  }
  element->AddAttribute("Prediction", info->GetPrediction());
  // -DBL_MAX is the host's "no deviation"; a deviation of 0 is a deviation.
  const double deviation = info->GetStdDeviation();
  if (deviation != -DBL_MAX) element->AddAttribute("Deviation", deviation);
  AddCountAndId(node, element.get());
  if (split) {
    element->AddAttribute("BiggestChild", static_cast<double>(node.GetBiggestChild()));
    AddSplits(kNumberFormat, node, element.get());
  }
  return element;
}

void XMLOutputAdapter::AddValuePercentage(const mdt::Variable& target, int code, double proportion,
                                          xmlu::XMLElement* parent) {
  std::unique_ptr<xmlu::XMLElement> element(xmlu::NewElement("ValuePercentage"));
  element->AddAttribute("Percent", proportion * 100);
  AddValue(DecodeFirstValue(target, static_cast<double>(code), kNumberFormat).c_str(),
           element.get());
  parent->AddChild(element.release());
}

}  // namespace TreeOut
