// The document driver, the root's attributes, VersionInfo and the adapter's lifecycle.
#include "treexml/xml_output_adapter.h"

#include <memory>
#include <ostream>
#include <string>

#include "arbtree/alg_settings.h"
#include "model/algorithm_name.h"
#include "version/library_version.h"
#include "xmlu/xml_item.h"

namespace TreeOut {

XMLExportError::XMLExportError(const std::string& message)
    : std::runtime_error("tree XML export: " + message) {}

XMLExportError::~XMLExportError() = default;

XMLOutputAdapter::XMLOutputAdapter()
    : model_(nullptr), metadata_(nullptr), splitNode_(nullptr), splitSurrogate_(-1) {}

XMLOutputAdapter::XMLOutputAdapter(const XMLOutputAdapter& other)
    : model_(other.model_),
      metadata_(other.metadata_),
      valueSets_(other.valueSets_),
      splitNode_(nullptr),
      splitSurrogate_(-1) {}

XMLOutputAdapter& XMLOutputAdapter::operator=(const XMLOutputAdapter& other) {
  if (this == &other) return *this;
  // The settings object stays with its owner: sharing it would release it twice.
  model_ = other.model_;
  metadata_ = other.metadata_;
  valueSets_ = other.valueSets_;
  return *this;
}

XMLOutputAdapter::~XMLOutputAdapter() = default;

const ArbTree::ArbVersion& XMLOutputAdapter::GetVersion() const {
  return ArbTree::LibraryVersion();
}

void XMLOutputAdapter::GenerateXML(std::ostream& out, const tree::TreeAlgorithmBase& tree,
                                   const mdt::ModelMetadata* metadata) {
  std::unique_ptr<xmlu::XMLDocType> docType(xmlu::NewDocType("Tree", "Tree.dtd"));
  std::string text;
  xmlu::XMLOutput output;
  output.stream = &out;
  docType->Write(text, output.state);
  text += ">\n";  // the document-type item leaves its declaration open
  docType.reset();
  // The elements are written as they are finished: the same bytes as writing the whole tree.
  xmlu::XMLTextWriter writer(text, output.state);
  {
    xmlu::WritingScope streaming(writer_, writer);
    BuildDocument(tree, metadata);
  }
  xmlu::WriteDocument(output, text);
}

std::unique_ptr<xmlu::XMLElement> XMLOutputAdapter::BuildDocument(
    const tree::TreeAlgorithmBase& tree, const mdt::ModelMetadata* metadata) {
  model_ = &tree;
  settings_.reset();
  settings_.reset(tree.CreateSettings());
  metadata_ = metadata;
  // What the writers below take for granted; without it they could only crash.
  if (metadata == nullptr) throw XMLExportError("the metadata is null");
  if (metadata->GetTarget() == nullptr) throw XMLExportError("the metadata names no target");
  if (metadata->GetPredictors() == nullptr) {
    throw XMLExportError("the metadata has no predictor list");
  }
  if (!settings_) throw XMLExportError("the model's CreateSettings gave no settings object");
  if (tree.GetRoot() == nullptr) throw XMLExportError("the model has no root node");
  CollectSplitValues(tree, metadata, valueSets_);

  std::unique_ptr<xmlu::XMLElement> root(xmlu::NewElement("Tree"));
  SetAttributes_Tree(root.get());
  xmlu::OpenIfWriting(writer_, *root);
  AddVersionInfo(root.get());
  AddDictionary(root.get());
  if (tree.IsClassification()) {
    AddClsTree(root.get());
  } else {
    AddRegTree(root.get());
  }
  if (writer_ != nullptr) writer_->Close();
  return root;
}

void XMLOutputAdapter::SetAttributes_Tree(xmlu::XMLElement* root) {
  const std::string algorithm = GetAlgorithmName(*model_);
  auto numbers = [](const ArbTree::ArbVersion& v) {
    return std::to_string(v.GetMajor()) + "." + std::to_string(v.GetMinor()) + "." +
           std::to_string(v.GetPatch());
  };
  root->AddAttribute("CreationInfo", "Document created by " + algorithm + " version " +
                                         numbers(model_->GetVersion()) + ", metadata version " +
                                         numbers(metadata_->GetVersion()) +
                                         ", xml export manager version " + numbers(GetVersion()));
  root->AddAttribute("Algorithm", algorithm);
  root->AddAttribute("Name", "");
  root->AddAttribute("TargetName", metadata_->GetTarget()->GetName());
  if (const mdt::Variable* frequency = metadata_->GetFrequencyWeight()) {
    root->AddAttribute("FrequencyWeightName", frequency->GetName());
  }
  if (const mdt::Variable* caseWeight = metadata_->GetCaseWeight()) {
    root->AddAttribute("CaseWeightName", caseWeight->GetName());
  }
}

void XMLOutputAdapter::AddVersionInfo(xmlu::XMLElement* root) {
  // The format's own version, not any component's.
  std::unique_ptr<xmlu::XMLElement> versionInfo(xmlu::NewElement("VersionInfo"));
  versionInfo->AddAttribute("Major", "1");
  versionInfo->AddAttribute("Minor", "1");
  root->AddChild(versionInfo.release());
}

std::string XMLOutputAdapter::GetAlgorithmName(const tree::TreeAlgorithmBase&) {
  // The settings name the algorithm; the odd codes are the same algorithms with priors.
  const char* name = tree::AlgorithmName(settings_->GetAlgorithmType());
  return name != nullptr ? name : "Unknown";
}

}  // namespace TreeOut
