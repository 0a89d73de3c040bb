// Writes a fitted decision tree as a PMML 4.3 document.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "arbtree/alg_settings.h"
#include "arbtree/data_sample.h"
#include "arbtree/transcoder.h"
#include "arbtree/tree_algorithm_base.h"
#include "imported/metadata/model_metadata.h"
#include "model/collect_split_values.h"
#include "version/arbtrexm_export.h"
#include "xmlu/text_sink.h"

namespace xmlu {
class XMLElement;
class XMLTextWriter;
}  // namespace xmlu

namespace TreeOut {

/// The exporter itself: holds the settings texts and the per-call state. One call at a time per
/// object; distinct objects may run on distinct threads.
class ARBTREXM_API PMMLOutputAdapterImp {
 public:
  PMMLOutputAdapterImp();
  /// Copies references, lists and texts; the copy gets its own settings object on its first call.
  PMMLOutputAdapterImp(const PMMLOutputAdapterImp& other);
  /// Same as the copy; the target keeps its own settings object.
  PMMLOutputAdapterImp& operator=(const PMMLOutputAdapterImp& other);
  virtual ~PMMLOutputAdapterImp();

  /// Builds the whole document, then puts it on out in one block: UTF-8, or the transcoder's
  /// bytes when one is set. metadata must not be null and must have a target. Exceptions of the
  /// host's objects pass through, and then nothing has been written.
  virtual void GeneratePMML(std::ostream& out, const tree::TreeAlgorithmBase& tree,
                            const mdt::ModelMetadata* metadata, tree::DataSample sample);
  /// The same document, handed to out in pieces of about 64 KiB as it is built, so that it is
  /// never held whole. With a transcoder set, the text is gathered first and out gets the
  /// transcoder's bytes in pieces, since a transcoder converts a whole document. When this
  /// throws, out has had part of the document, which the caller discards.
  virtual void GeneratePMML(xmlu::TextSink& out, const tree::TreeAlgorithmBase& tree,
                            const mdt::ModelMetadata* metadata, tree::DataSample sample);

  /// Not owned; null removes it.
  void UseTranscoder(const ArbTree::Transcoder* transcoder);
  std::string GetAlgorithmName() const;
  std::string GetApplicationName() const;
  std::string GetApplicationVersion() const;
  /// Empty until SetCopyRight was called; never the built-in notice.
  std::string GetCopyRight() const;
  void SetAlgorithmName(const std::string& name);
  void SetApplicationName(const std::string& name);
  void SetApplicationVersion(const std::string& version);
  /// From now on the header carries this text instead of the built-in notice.
  void SetCopyRight(const std::string& copyRight);
  /// Selects the portable profile (off by default): a document that any consumer of standard
  /// PMML 4.3 scores exactly like the tree (docs/pmml-profiles.md). Off, the bytes are those of
  /// the format's own profile.
  void SetPortableProfile(bool portable);
  bool GetPortableProfile() const;

 private:
  // Document driver and header. Generate writes the document into text, handing it on to
  // drain in pieces when there is one.
  void Generate(std::string& text, xmlu::TextSink* drain, const tree::TreeAlgorithmBase& tree,
                const mdt::ModelMetadata* metadata, tree::DataSample sample);
  void SetAttributes_PMML(xmlu::XMLElement* root);
  void AddHeader(xmlu::XMLElement* root);
  void AddApplication(xmlu::XMLElement* header);

  // Data dictionary.
  void AddDataDictionary(xmlu::XMLElement* root);
  void AddDataField(const mdt::Variable& field, int index, xmlu::XMLElement* dictionary);
  void HandleMissingValueRange(const mdt::MissingValues& missing, const mdt::Variable& field,
                               xmlu::XMLElement* dataField);
  void HandleCategories(int index, const mdt::Variable& field, xmlu::XMLElement* dataField);
  void HandleMissingValues(const mdt::MissingValues& missing, const mdt::Variable& field,
                           xmlu::XMLElement* dataField);
  void AddValue(const mdt::Variable& field, const mdt::Variant& value, bool missing,
                xmlu::XMLElement* parent);
  void AddInterval(const mdt::Interval& interval, xmlu::XMLElement* parent);

  // Mining schema and model statistics.
  void AddMiningSchema(xmlu::XMLElement* treeModel);
  void addIndex(std::vector<int>& list, int index);
  void AddMiningField(const mdt::Variable& field, bool predicted, xmlu::XMLElement* miningSchema);
  void AddModelStats(xmlu::XMLElement* treeModel, tree::DataSample sample);
  void AddUnivariateStats(const mdt::Variable& field, int index, xmlu::XMLElement* modelStats,
                          tree::DataSample sample);
  void AddCounts(const mdt::Variable& field, int index, xmlu::XMLElement* univariateStats,
                 tree::DataSample sample);
  void AddNumericInfo(const mdt::Variable& field, int index, xmlu::XMLElement* univariateStats);

  // Tree model and nodes.
  void AddTreeModel(xmlu::XMLElement* pmml, tree::DataSample sample);
  void AddNode(const tree::Node* node, xmlu::XMLElement* parent, tree::DataSample sample);
  void AddNode(const tree::Node* node, tree::SplitRule& parentSplit, int childIndex,
               std::vector<tree::SplitRule*> parentSurrogates, bool isBiggestChild,
               xmlu::XMLElement* parent, tree::DataSample sample);
  void AddScoreDistribution(const mdt::Variable& target, const tree::Node& node,
                            xmlu::XMLElement* nodeElement, tree::DataSample sample);
  void AddClsDistribution(const mdt::Variable& target, const tree::ClsInfo& info,
                          xmlu::XMLElement* nodeElement);
  void AddRegDistribution(const mdt::Variable& target, const tree::RegInfo& info,
                          xmlu::XMLElement* nodeElement);
  std::string DecodeFirstValue(const mdt::Variable& variable, double value,
                               const char* text = nullptr);
  std::string DecodeEncoded(const mdt::Encoder& encoder, double value);

  // Split predicates.
  void AddCompoundPredicate(tree::SplitRule& parentSplit, int childIndex,
                            std::vector<tree::SplitRule*> parentSurrogates, bool isBiggestChild,
                            xmlu::XMLElement* nodeElement);
  xmlu::XMLElement* buildCompoundPredicate(tree::ValueSet* valueSet, std::string fieldName,
                                           bool ordered, const mdt::Variable& variable,
                                           bool missingChild);
  void AddPredicate(std::string fieldName, const char* op, std::string valueText,
                    xmlu::XMLElement* parent);
  void AddTrue(xmlu::XMLElement* parent);
  void AddFalse(xmlu::XMLElement* parent);

  // Portable profile: the Output element and the predicates that make routing exact.
  void AddOutput(xmlu::XMLElement* treeModel);
  void AddOutputField(const std::string& name, const char* optype, const char* dataType,
                      const char* feature, const std::string* value, xmlu::XMLElement* output);
  // The predicate of child childIndex made of the rules from `first` on, ending in True for
  // the biggest child and False otherwise; see portable_predicates.cpp.
  std::unique_ptr<xmlu::XMLElement> PortableRules(const std::vector<tree::SplitRule*>& rules,
                                                  std::size_t first, int childIndex,
                                                  bool isBiggestChild);
  // The texts a category code stands for: every value of it, or its number without encoder.
  std::vector<std::string> CodeTexts(const mdt::Variable& variable, int code);
  // The category codes a nominal or ordinal predictor's DataDictionary lists as valid.
  std::vector<double> ValidCodes(int index, const mdt::Variable& field) const;
  // A Node's recordCount: the host's count, or in the portable profile of a classification
  // node the sum of its class counts.
  double RecordCount(const tree::Node& node, tree::DataSample sample) const;
  // Text of a real number: FormatNumber, or the shortest round-trip text when portable.
  std::string Number(double value) const;

  // Node-level extensions.
  void AddNodeExtension(const tree::Node& node, xmlu::XMLElement* nodeElement,
                        tree::DataSample sample);
  void AddXRegInfo(const tree::RegInfo& info, xmlu::XMLElement* xNode);
  void AddXNodeStats(tree::SplitRule& rule, xmlu::XMLElement* xNode);

  // Model-level extensions.
  void AddXTreeModel(xmlu::XMLElement* treeModel);
  void AddPredictorImportanceList(xmlu::XMLElement* xTreeModel);
  void AddPredictorImportance(std::map<unsigned int, double>::iterator entry,
                              xmlu::XMLElement* list);
  void AddXPriors(xmlu::XMLElement* xTreeModel);
  void AddXPriorValue(tree::PriorsImp* priors, int code, xmlu::XMLElement* xPriors);

  // Writes node and its subtree below parent with an explicit stack, so that the depth of the
  // tree never becomes the depth of the call stack. The first node's predicate is True when
  // parentSplit is null, otherwise the surrogate predicate of child childIndex.
  void AddSubtree(const tree::Node* node, tree::SplitRule* parentSplit, int childIndex,
                  const std::vector<tree::SplitRule*>& parentSurrogates, bool isBiggestChild,
                  xmlu::XMLElement* parent, tree::DataSample sample);

  const tree::TreeAlgorithmBase* model_;
  std::unique_ptr<tree::AlgSettings> settings_;
  const mdt::ModelMetadata* metadata_;
  std::vector<int> splitPredictors_;
  SplitValueSets valueSets_;
  const ArbTree::Transcoder* transcoder_;
  std::string algorithmName_;
  std::string applicationVersion_;
  std::string applicationName_;
  std::string copyRight_;
  bool copyRightSet_;
  bool portable_;
  // Set while GeneratePMML runs: the TreeModel and its nodes are written as they are built, so a
  // tree of millions of nodes is never held as items all at once. Null when element writers
  // build a tree to be written later.
  xmlu::XMLTextWriter* writer_;
  // DecodeFirstValue results of this export, by variable and the value's bit pattern: every
  // node decodes the same few target categories.
  std::map<std::pair<const mdt::Variable*, uint64_t>, std::string> decoded_;
};

/// The public face of the exporter; every operation forwards to its PMMLOutputAdapterImp.
class ARBTREXM_API PMMLOutputAdapter {
 public:
  PMMLOutputAdapter();
  PMMLOutputAdapter(const PMMLOutputAdapter&) = delete;
  PMMLOutputAdapter& operator=(const PMMLOutputAdapter&) = delete;
  virtual ~PMMLOutputAdapter();

  /// See PMMLOutputAdapterImp::GeneratePMML.
  virtual void GeneratePMML(std::ostream& out, const tree::TreeAlgorithmBase& tree,
                            const mdt::ModelMetadata* metadata, tree::DataSample sample);
  /// See PMMLOutputAdapterImp::GeneratePMML (pieces).
  virtual void GeneratePMML(xmlu::TextSink& out, const tree::TreeAlgorithmBase& tree,
                            const mdt::ModelMetadata* metadata, tree::DataSample sample);
  void UseTranscoder(const ArbTree::Transcoder* transcoder);
  std::string GetAlgorithmName() const;
  std::string GetApplicationName() const;
  std::string GetApplicationVersion() const;
  std::string GetCopyRight() const;
  void SetAlgorithmName(const std::string& name);
  void SetApplicationName(const std::string& name);
  void SetApplicationVersion(const std::string& version);
  void SetCopyRight(const std::string& copyRight);
  /// See PMMLOutputAdapterImp::SetPortableProfile.
  void SetPortableProfile(bool portable);
  bool GetPortableProfile() const;

 private:
  std::unique_ptr<PMMLOutputAdapterImp> imp_;
};

}  // namespace TreeOut
