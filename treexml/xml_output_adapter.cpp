// The document driver, the root's attributes, VersionInfo and the adapter's lifecycle.
#include "treexml/xml_output_adapter.h"

#include <memory>
#include <ostream>
#include <string>
#include <utility>

#include "arbtree/alg_settings.h"
#include "model/algorithm_name.h"
#include "version/library_version.h"
#include "xmlu/markup_writer.h"
#include "xmlu/utf8.h"
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

namespace {

// Hands the text on to a sink with the prologue in front of the first piece.
class PrologueFirst final : public xmlu::TextSink {
 public:
  PrologueFirst(xmlu::TextSink& out, std::string prologue)
      : out_(out), prologue_(std::move(prologue)) {}
  void Write(const char* data, std::size_t size) override {
    if (!prologue_.empty()) {
      prologue_.append(data, size);
      out_.Write(prologue_.data(), prologue_.size());
      std::string().swap(prologue_);
      return;
    }
    out_.Write(data, size);
  }
  // A document that gave the writer nothing more still gets its prologue.
  void Finish() {
    if (!prologue_.empty()) Write("", 0);
  }

 private:
  xmlu::TextSink& out_;
  std::string prologue_;
};

}  // namespace

void XMLOutputAdapter::GenerateXML(std::ostream& out, const tree::TreeAlgorithmBase& tree,
                                   const mdt::ModelMetadata* metadata) {
  std::string text;
  Generate(text, nullptr, tree, metadata);
  xmlu::XMLOutput output;
  output.stream = &out;
  xmlu::WriteDocument(output, text);
}

void XMLOutputAdapter::GenerateXML(xmlu::TextSink& out, const tree::TreeAlgorithmBase& tree,
                                   const mdt::ModelMetadata* metadata) {
  xmlu::Utf8Sink utf8(out);
  std::string text;
  Generate(text, &utf8, tree, metadata);
  utf8.Finish();
}

void XMLOutputAdapter::Generate(std::string& text, xmlu::TextSink* drain,
                                const tree::TreeAlgorithmBase& tree,
                                const mdt::ModelMetadata* metadata) {
  std::unique_ptr<xmlu::XMLDocType> docType(xmlu::NewDocType("Tree", "Tree.dtd"));
  xmlu::XMLWriteState state;
  docType->Write(text, state);
  text += ">\n";  // the document-type item leaves its declaration open
  docType.reset();
  if (drain == nullptr) {
    xmlu::MarkupWriter writer(text, state);
    BuildDocument(tree, metadata, writer);
    writer.Flush();
    return;
  }
  // In pieces: the document-type line goes with the writer's first block, so the sink sees
  // nothing of a document that fails before its first block is full.
  PrologueFirst pieces(*drain, std::move(text));
  text.clear();
  xmlu::MarkupWriter writer(pieces, state);
  BuildDocument(tree, metadata, writer);
  writer.Flush();
  pieces.Finish();
}

void XMLOutputAdapter::BuildDocument(const tree::TreeAlgorithmBase& tree,
                                     const mdt::ModelMetadata* metadata, xmlu::MarkupWriter& out) {
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

  // The writers write through out for this call only, however it ends.
  struct Writing {
    XMLOutputAdapter& adapter;
    ~Writing() {
      adapter.out_ = nullptr;
      adapter.decoded_.clear();
    }
  } writing{*this};
  out_ = &out;
  decoded_.clear();

  out_->StartElement("Tree");
  SetAttributes_Tree();
  AddVersionInfo();
  AddDictionary();
  if (tree.IsClassification()) {
    AddClsTree();
  } else {
    AddRegTree();
  }
  out_->EndElement();
}

void XMLOutputAdapter::SetAttributes_Tree() {
  const std::string algorithm = GetAlgorithmName(*model_);
  auto numbers = [](const ArbTree::ArbVersion& v) {
    return std::to_string(v.GetMajor()) + "." + std::to_string(v.GetMinor()) + "." +
           std::to_string(v.GetPatch());
  };
  out_->Attribute("CreationInfo", "Document created by " + algorithm + " version " +
                                      numbers(model_->GetVersion()) + ", metadata version " +
                                      numbers(metadata_->GetVersion()) +
                                      ", xml export manager version " + numbers(GetVersion()));
  out_->Attribute("Algorithm", algorithm);
  out_->Attribute("Name", "");
  out_->Attribute("TargetName", metadata_->GetTarget()->GetName());
  if (const mdt::Variable* frequency = metadata_->GetFrequencyWeight()) {
    out_->Attribute("FrequencyWeightName", frequency->GetName());
  }
  if (const mdt::Variable* caseWeight = metadata_->GetCaseWeight()) {
    out_->Attribute("CaseWeightName", caseWeight->GetName());
  }
}

void XMLOutputAdapter::AddVersionInfo() {
  // The format's own version, not any component's.
  out_->StartElement("VersionInfo");
  out_->Attribute("Major", "1");
  out_->Attribute("Minor", "1");
  out_->EndElement();
}

std::string XMLOutputAdapter::GetAlgorithmName(const tree::TreeAlgorithmBase&) {
  // The settings name the algorithm; the odd codes are the same algorithms with priors.
  const char* name = tree::AlgorithmName(settings_->GetAlgorithmType());
  return name != nullptr ? name : "Unknown";
}

}  // namespace TreeOut
