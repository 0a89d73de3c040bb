// The document driver, the root's attributes and the Header, and the adapter's settings.
#include "pmml/pmml_output_adapter.h"

#include <memory>
#include <ostream>

#include "model/algorithm_name.h"
#include "pmml/pmml_texts.h"
#include "xmlu/markup_writer.h"
#include "xmlu/number_text.h"
#include "xmlu/utf8.h"
#include "xmlu/xml_item.h"

namespace TreeOut {

PMMLOutputAdapterImp::PMMLOutputAdapterImp()
    : model_(nullptr),
      metadata_(nullptr),
      transcoder_(nullptr),
      copyRightSet_(false),
      portable_(false),
      out_(nullptr) {}

PMMLOutputAdapterImp::PMMLOutputAdapterImp(const PMMLOutputAdapterImp& other)
    : model_(other.model_),
      metadata_(other.metadata_),
      splitPredictors_(other.splitPredictors_),
      valueSets_(other.valueSets_),
      transcoder_(other.transcoder_),
      algorithmName_(other.algorithmName_),
      applicationVersion_(other.applicationVersion_),
      applicationName_(other.applicationName_),
      copyRight_(other.copyRight_),
      copyRightSet_(other.copyRightSet_),
      portable_(other.portable_),
      out_(nullptr) {}

PMMLOutputAdapterImp& PMMLOutputAdapterImp::operator=(const PMMLOutputAdapterImp& other) {
  if (this == &other) return *this;
  // The settings object stays with its owner: sharing it would release it twice.
  model_ = other.model_;
  metadata_ = other.metadata_;
  splitPredictors_ = other.splitPredictors_;
  valueSets_ = other.valueSets_;
  transcoder_ = other.transcoder_;
  algorithmName_ = other.algorithmName_;
  applicationVersion_ = other.applicationVersion_;
  applicationName_ = other.applicationName_;
  copyRight_ = other.copyRight_;
  copyRightSet_ = other.copyRightSet_;
  portable_ = other.portable_;
  return *this;
}

PMMLOutputAdapterImp::~PMMLOutputAdapterImp() = default;

void PMMLOutputAdapterImp::GeneratePMML(std::ostream& out, const tree::TreeAlgorithmBase& tree,
                                        const mdt::ModelMetadata* metadata,
                                        tree::DataSample sample) {
  std::string text;
  Generate(text, nullptr, tree, metadata, sample);
  xmlu::XMLOutput output;
  output.stream = &out;
  if (transcoder_ != nullptr) {
    std::string bytes;
    transcoder_->Transcode(text, bytes);
    xmlu::PutBytes(output, bytes);
  } else {
    xmlu::WriteDocument(output, text);
  }
}

void PMMLOutputAdapterImp::GeneratePMML(xmlu::TextSink& out, const tree::TreeAlgorithmBase& tree,
                                        const mdt::ModelMetadata* metadata,
                                        tree::DataSample sample) {
  std::string text;
  if (transcoder_ != nullptr) {
    Generate(text, nullptr, tree, metadata, sample);
    std::string bytes;
    transcoder_->Transcode(text, bytes);
    std::string().swap(text);
    xmlu::WritePieces(out, bytes);
    return;
  }
  xmlu::Utf8Sink utf8(out);
  Generate(text, &utf8, tree, metadata, sample);
  utf8.Finish();
}

void PMMLOutputAdapterImp::Generate(std::string& text, xmlu::TextSink* drain,
                                    const tree::TreeAlgorithmBase& tree,
                                    const mdt::ModelMetadata* metadata, tree::DataSample sample) {
  xmlu::XMLWriteState state;
  if (drain == nullptr) {
    xmlu::MarkupWriter writer(text, state);
    BuildDocument(tree, metadata, sample, writer);
    writer.Flush();
  } else {
    // The writer hands on only full blocks, so the sink sees nothing of a document that fails
    // before its first block is full.
    xmlu::MarkupWriter writer(*drain, state);
    BuildDocument(tree, metadata, sample, writer);
    writer.Flush();
  }
}

void PMMLOutputAdapterImp::BuildDocument(const tree::TreeAlgorithmBase& tree,
                                         const mdt::ModelMetadata* metadata,
                                         tree::DataSample sample, xmlu::MarkupWriter& out) {
  model_ = &tree;
  settings_.reset();
  settings_.reset(tree.CreateSettings());
  metadata_ = metadata;
  splitPredictors_.clear();
  const ArbTree::ArbStatus status = CollectSplitValues(tree, metadata, valueSets_);

  // The writers write through out for this call only, however it ends.
  struct Writing {
    PMMLOutputAdapterImp& adapter;
    ~Writing() {
      adapter.out_ = nullptr;
      adapter.decoded_.clear();
    }
  } writing{*this};
  out_ = &out;
  decoded_.clear();

  if (portable_) {
    // The declaration names the encoding only when the bytes are ours; a transcoder's are the
    // host's to declare. The line feed that ends it starts the root's line.
    out.Raw(transcoder_ != nullptr ? "<?xml version=\"1.0\"?>"
                                   : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  }
  out.StartElement("PMML");
  SetAttributes_PMML();
  if (status.severity >= 0) {
    AddHeader();
    AddDataDictionary();
    AddTreeModel(sample);
  }
  out.EndElement();
  if (portable_) out.Raw("\n");
}

void PMMLOutputAdapterImp::SetAttributes_PMML() {
  out_->Attribute("version", "4.3");
  out_->Attribute("xmlns", pmml_text::kNamespace);
  out_->Attribute("xmlns:xsi", pmml_text::kSchemaInstance);
  out_->Attribute("xsi:schemaLocation", pmml_text::kSchemaLocation);
}

void PMMLOutputAdapterImp::AddHeader() {
  out_->StartElement("Header");
  if (copyRightSet_) {
    out_->Attribute("copyright", copyRight_);
  } else {
    out_->Attribute("copyright", pmml_text::kCopyright);
  }
  AddApplication();
  // The portable profile leaves out what it does not know: no export time, so that exporting
  // one tree twice gives the same bytes.
  if (!portable_) {
    out_->StartElement("Timestamp");
    out_->EndElement();
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::AddApplication() {
  out_->StartElement("Application");
  out_->Attribute("name", applicationName_);
  // The portable profile writes no version it was not given.
  if (!portable_ || !applicationVersion_.empty()) {
    out_->Attribute("version", applicationVersion_);
  }
  out_->EndElement();
}

void PMMLOutputAdapterImp::UseTranscoder(const ArbTree::Transcoder* transcoder) {
  transcoder_ = transcoder;
}

std::string PMMLOutputAdapterImp::GetAlgorithmName() const { return algorithmName_; }
std::string PMMLOutputAdapterImp::GetApplicationName() const { return applicationName_; }
std::string PMMLOutputAdapterImp::GetApplicationVersion() const { return applicationVersion_; }
std::string PMMLOutputAdapterImp::GetCopyRight() const { return copyRight_; }

void PMMLOutputAdapterImp::SetAlgorithmName(const std::string& name) { algorithmName_ = name; }

void PMMLOutputAdapterImp::SetApplicationName(const std::string& name) { applicationName_ = name; }

void PMMLOutputAdapterImp::SetApplicationVersion(const std::string& version) {
  applicationVersion_ = version;
}

void PMMLOutputAdapterImp::SetCopyRight(const std::string& copyRight) {
  copyRight_ = copyRight;
  copyRightSet_ = true;
}

void PMMLOutputAdapterImp::SetPortableProfile(bool portable) { portable_ = portable; }
bool PMMLOutputAdapterImp::GetPortableProfile() const { return portable_; }

std::string PMMLOutputAdapterImp::Number(double value) const {
  return portable_ ? xmlu::FormatShortest(value) : xmlu::FormatNumber(value);
}

void PMMLOutputAdapterImp::NumberAttribute(const char* name, double value) {
  if (!portable_) {
    out_->Attribute(name, value);
    return;
  }
  char text[xmlu::kNumberTextSize];
  out_->Attribute(name, std::string_view(text, xmlu::FormatShortestTo(text, value) - text));
}

PMMLOutputAdapter::PMMLOutputAdapter() : imp_(std::make_unique<PMMLOutputAdapterImp>()) {}

PMMLOutputAdapter::~PMMLOutputAdapter() = default;

void PMMLOutputAdapter::GeneratePMML(std::ostream& out, const tree::TreeAlgorithmBase& tree,
                                     const mdt::ModelMetadata* metadata, tree::DataSample sample) {
  imp_->GeneratePMML(out, tree, metadata, sample);
}

void PMMLOutputAdapter::GeneratePMML(xmlu::TextSink& out, const tree::TreeAlgorithmBase& tree,
                                     const mdt::ModelMetadata* metadata, tree::DataSample sample) {
  imp_->GeneratePMML(out, tree, metadata, sample);
}

void PMMLOutputAdapter::UseTranscoder(const ArbTree::Transcoder* transcoder) {
  imp_->UseTranscoder(transcoder);
}

std::string PMMLOutputAdapter::GetAlgorithmName() const { return imp_->GetAlgorithmName(); }
std::string PMMLOutputAdapter::GetApplicationName() const { return imp_->GetApplicationName(); }

std::string PMMLOutputAdapter::GetApplicationVersion() const {
  return imp_->GetApplicationVersion();
}

std::string PMMLOutputAdapter::GetCopyRight() const { return imp_->GetCopyRight(); }

void PMMLOutputAdapter::SetAlgorithmName(const std::string& name) { imp_->SetAlgorithmName(name); }

void PMMLOutputAdapter::SetApplicationName(const std::string& name) {
  imp_->SetApplicationName(name);
}

void PMMLOutputAdapter::SetApplicationVersion(const std::string& version) {
  imp_->SetApplicationVersion(version);
}

void PMMLOutputAdapter::SetCopyRight(const std::string& copyRight) {
  imp_->SetCopyRight(copyRight);
}

void PMMLOutputAdapter::SetPortableProfile(bool portable) { imp_->SetPortableProfile(portable); }
bool PMMLOutputAdapter::GetPortableProfile() const { return imp_->GetPortableProfile(); }

}  // namespace TreeOut
