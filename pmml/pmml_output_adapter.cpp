// The document driver, the root's attributes and the Header, and the adapter's settings.
#include "pmml/pmml_output_adapter.h"

#include <memory>
#include <ostream>

#include "model/algorithm_name.h"
#include "pmml/pmml_texts.h"
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
      writer_(nullptr) {}

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
      writer_(nullptr) {}

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
  model_ = &tree;
  settings_.reset();
  settings_.reset(tree.CreateSettings());
  metadata_ = metadata;
  splitPredictors_.clear();
  const ArbTree::ArbStatus status = CollectSplitValues(tree, metadata, valueSets_);

  decoded_.clear();

  if (portable_) {
    // The declaration names the encoding only when the bytes are ours; a transcoder's are the
    // host's to declare. The line feed that ends it starts the serialised root.
    text = transcoder_ != nullptr ? "<?xml version=\"1.0\"?>"
                                  : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  }
  xmlu::XMLWriteState state;
  xmlu::XMLTextWriter writer(text, state, drain);
  std::unique_ptr<xmlu::XMLElement> root(xmlu::NewElement("PMML"));
  SetAttributes_PMML(root.get());
  writer.Open(*root);
  if (status.severity >= 0) {
    AddHeader(root.get());
    AddDataDictionary(root.get());
    writer.Flush();
    xmlu::WritingScope streaming(writer_, writer);
    AddTreeModel(root.get(), sample);
  }
  writer.Close();
  if (portable_) text += '\n';
  writer.Drain();
  root.reset();
  decoded_.clear();
}

void PMMLOutputAdapterImp::SetAttributes_PMML(xmlu::XMLElement* root) {
  root->AddAttribute("version", "4.3");
  root->AddAttribute("xmlns", pmml_text::kNamespace);
  root->AddAttribute("xmlns:xsi", pmml_text::kSchemaInstance);
  root->AddAttribute("xsi:schemaLocation", pmml_text::kSchemaLocation);
}

void PMMLOutputAdapterImp::AddHeader(xmlu::XMLElement* root) {
  std::unique_ptr<xmlu::XMLElement> header(xmlu::NewElement("Header"));
  header->AddAttribute("copyright", copyRightSet_ ? copyRight_ : pmml_text::kCopyright);
  AddApplication(header.get());
  // The portable profile leaves out what it does not know: no export time, so that exporting
  // one tree twice gives the same bytes.
  if (!portable_) header->AddChild(xmlu::NewElement("Timestamp"));
  root->AddChild(header.release());
}

void PMMLOutputAdapterImp::AddApplication(xmlu::XMLElement* header) {
  std::unique_ptr<xmlu::XMLElement> application(xmlu::NewElement("Application"));
  application->AddAttribute("name", GetApplicationName());
  // The portable profile writes no version it was not given.
  if (!portable_ || !applicationVersion_.empty()) {
    application->AddAttribute("version", GetApplicationVersion());
  }
  header->AddChild(application.release());
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
