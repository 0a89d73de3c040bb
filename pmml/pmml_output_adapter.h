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
class MarkupWriter;
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
  // drain in blocks when there is one.
  void Generate(std::string& text, xmlu::TextSink* drain, const tree::TreeAlgorithmBase& tree,
                const mdt::ModelMetadata* metadata, tree::DataSample sample);
  // The stored call state and the root element with everything below it, written through out.
  void BuildDocument(const tree::TreeAlgorithmBase& tree, const mdt::ModelMetadata* metadata,
                     tree::DataSample sample, xmlu::MarkupWriter& out);

  // The root's attributes, on its open start tag.
  void SetAttributes_PMML();

  // Every writer below writes its element, whole, at the writer's current place: start tag,
  // attributes, content, end tag.
  void AddHeader();
  void AddApplication();

  // Data dictionary.
  void AddDataDictionary();
  void AddDataField(const mdt::Variable& field, int index);
  void HandleMissingValueRange(const mdt::MissingValues& missing, const mdt::Variable& field);
  void HandleCategories(int index, const mdt::Variable& field);
  void HandleMissingValues(const mdt::MissingValues& missing, const mdt::Variable& field);
  void AddValue(const mdt::Variable& field, const mdt::Variant& value, bool missing);
  void AddInterval(const mdt::Interval& interval);

  // Mining schema and model statistics.
  void AddMiningSchema();
  void addIndex(std::vector<int>& list, int index);
  void AddMiningField(const mdt::Variable& field, bool predicted);
  void AddModelStats(tree::DataSample sample);
  void AddUnivariateStats(const mdt::Variable& field, int index, tree::DataSample sample);
  void AddCounts(const mdt::Variable& field, int index, tree::DataSample sample);
  void AddNumericInfo(const mdt::Variable& field, int index);

  // Tree model and nodes. AddNode writes the node and its whole subtree.
  void AddTreeModel(tree::DataSample sample);
  void AddNode(const tree::Node* node, tree::DataSample sample);
  void AddNode(const tree::Node* node, tree::SplitRule& parentSplit, int childIndex,
               const std::vector<tree::SplitRule*>& parentSurrogates, bool isBiggestChild,
               tree::DataSample sample);
  void AddScoreDistribution(const mdt::Variable& target, const tree::Node& node,
                            tree::DataSample sample);
  void AddClsDistribution(const mdt::Variable& target, const tree::ClsInfo& info);
  void AddRegDistribution(const mdt::Variable& target, const tree::RegInfo& info);
  std::string DecodeFirstValue(const mdt::Variable& variable, double value,
                               const char* text = nullptr);
  // DecodeFirstValue of an encoded variable, from this export's cache.
  const std::string& DecodeCached(const mdt::Variable& variable, double value);
  std::string DecodeEncoded(const mdt::Encoder& encoder, double value);

  // Split predicates.
  void AddCompoundPredicate(tree::SplitRule& parentSplit, int childIndex,
                            const std::vector<tree::SplitRule*>& parentSurrogates,
                            bool isBiggestChild);
  void buildCompoundPredicate(tree::ValueSet* valueSet, const std::string& fieldName, bool ordered,
                              const mdt::Variable& variable, bool missingChild);
  // A SimplePredicate comparing the field with the variable's decoded value.
  void AddPredicate(const std::string& fieldName, const char* op, const mdt::Variable& variable,
                    double value);
  // A SimplePredicate with an operator that takes no value (isMissing, isNotMissing).
  void AddPredicate(const std::string& fieldName, const char* op);
  void AddTrue();
  void AddFalse();

  // Portable profile: the Output element and the predicates that make routing exact.
  void AddOutput();
  void AddOutputField(const std::string& name, const char* optype, const char* dataType,
                      const char* feature, const std::string* value);
  // The portable profile's predicate of the child: see portable_predicates.cpp.
  void AddPortablePredicate(tree::SplitRule& parentSplit, int childIndex,
                            const std::vector<tree::SplitRule*>& parentSurrogates,
                            bool isBiggestChild);
  // What one rule of a node says about child childIndex.
  struct PortableRule;
  PortableRule ReadPortableRule(tree::SplitRule& rule, int childIndex);
  // Writes the predicate of the child made of the rules from `first` on, ending in True for
  // the biggest child and False otherwise; see portable_predicates.cpp.
  void PortableRules(const std::vector<PortableRule>& rules, std::size_t first,
                     bool isBiggestChild);
  // "x lies in the child's set", and "x lies in no child's set".
  void PortableIn(const PortableRule& rule);
  void PortableInNone(const PortableRule& rule);
  // The start tag of a CompoundPredicate, and its end after padding it to two parts with the
  // operator's neutral partner.
  void PortableCompound(const char* op);
  void PortableEnd(const char* op, int parts);
  // A SimplePredicate comparing the field with a value text.
  void PortableText(const std::string& field, const char* op, const std::string& value);
  // The texts a category code stands for: every value of it, or its number without encoder.
  std::vector<std::string> CodeTexts(const mdt::Variable& variable, int code);
  // The category codes a nominal or ordinal predictor's DataDictionary lists as valid.
  std::vector<double> ValidCodes(int index, const mdt::Variable& field) const;
  // A Node's recordCount: the host's count, or in the portable profile of a classification
  // node the sum of its class counts.
  double RecordCount(const tree::Node& node, tree::DataSample sample) const;
  // Text of a real number: FormatNumber, or the shortest round-trip text when portable.
  std::string Number(double value) const;
  // name="Number(value)", formatted in place.
  void NumberAttribute(const char* name, double value);
  // name="DecodeFirstValue(variable, value)", without a copy of the text.
  void DecodedAttribute(const char* name, const mdt::Variable& variable, double value);

  // Node-level extensions; rule is the node's primary split, null for a leaf.
  void AddNodeExtension(const tree::Node& node, tree::SplitRule* rule, tree::DataSample sample);
  void AddXRegInfo(const tree::RegInfo& info);
  void AddXNodeStats(tree::SplitRule& rule);

  // Model-level extensions.
  void AddXTreeModel();
  void AddPredictorImportanceList();
  void AddPredictorImportance(std::map<unsigned int, double>::iterator entry);
  void AddXPriors();
  void AddXPriorValue(tree::PriorsImp* priors, int code);

  // Writes node and its subtree with an explicit stack, so that the depth of the tree never
  // becomes the depth of the call stack. The first node's predicate is True when parentSplit
  // is null, otherwise the surrogate predicate of child childIndex.
  void AddSubtree(const tree::Node* node, tree::SplitRule* parentSplit, int childIndex,
                  const std::vector<tree::SplitRule*>& parentSurrogates, bool isBiggestChild,
                  tree::DataSample sample);

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
  // Where the element writers write; set for one BuildDocument.
  xmlu::MarkupWriter* out_;
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
