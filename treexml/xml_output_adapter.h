// Writes a fitted decision tree as a document of the library's own tree XML format (Tree.dtd).
#pragma once

#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "arbtree/alg_settings.h"
#include "arbtree/arb_version.h"
#include "arbtree/node.h"
#include "arbtree/split_rule.h"
#include "arbtree/tree_algorithm_base.h"
#include "arbtree/value_set.h"
#include "imported/metadata/encoding.h"
#include "imported/metadata/model_metadata.h"
#include "imported/metadata/variant.h"
#include "model/collect_split_values.h"
#include "treexml/xml_export_error.h"
#include "version/arbtrexm_export.h"
#include "xmlu/text_sink.h"

namespace xmlu {
class MarkupWriter;
}  // namespace xmlu

namespace TreeOut {

class XMLOutputAdapterTestPeer;

/// The tree XML exporter. One call at a time per object; distinct objects may run on distinct
/// threads. It has no settings of its own: everything written comes from the model, the
/// metadata and fixed texts.
class ARBTREXM_API XMLOutputAdapter {
 public:
  /// No model, metadata, settings or value sets yet.
  XMLOutputAdapter();
  /// Copies the model and metadata references and the value sets; the copy gets its own
  /// settings object on its first call.
  XMLOutputAdapter(const XMLOutputAdapter& other);
  /// Same as the copy; the target keeps its own settings object.
  XMLOutputAdapter& operator=(const XMLOutputAdapter& other);
  virtual ~XMLOutputAdapter();

  /// Builds the whole document, then puts it on out in UTF-8 in one block, so the stream gets
  /// the whole document or nothing. Exceptions of the host's objects pass through. Inputs the
  /// document cannot be built from (null metadata, no target, no root node, no settings, a
  /// split rule without predictor data or with value sets of the wrong kind, a node without the
  /// statistics its tree kind needs) throw XMLExportError naming what and where.
  virtual void GenerateXML(std::ostream& out, const tree::TreeAlgorithmBase& tree,
                           const mdt::ModelMetadata* metadata);
  /// The same document in UTF-8, handed to out in pieces of about 64 KiB as it is built, so
  /// that it is never held whole. Fails as the stream form does; out has then had part of the
  /// document, which the caller discards.
  virtual void GenerateXML(xmlu::TextSink& out, const tree::TreeAlgorithmBase& tree,
                           const mdt::ModelMetadata* metadata);
  /// The library's version record (1.0.1.6), the same object for every adapter.
  virtual const ArbTree::ArbVersion& GetVersion() const;

 private:
  friend class XMLOutputAdapterTestPeer;  // writes documents too deep for the pretty layout

  // Writes the document into text, or hands it on to drain in pieces when there is one.
  void Generate(std::string& text, xmlu::TextSink* drain, const tree::TreeAlgorithmBase& tree,
                const mdt::ModelMetadata* metadata);
  // Steps of GenerateXML after the document-type line: the stored call state, the value sets
  // and the root element with everything below it, written through out.
  void BuildDocument(const tree::TreeAlgorithmBase& tree, const mdt::ModelMetadata* metadata,
                     xmlu::MarkupWriter& out);

  // Every writer below writes its element, whole, at the writer's current place: start tag,
  // attributes, content, end tag.

  // Document driver and root.
  void SetAttributes_Tree();
  void AddVersionInfo();
  std::string GetAlgorithmName(const tree::TreeAlgorithmBase& tree);

  // Dictionary.
  void AddDictionary();
  void AddVariable(int index, const mdt::Variable& variable);
  void AddFormatSpec(const mdt::Variable& variable);
  void AddCategories(int index, const mdt::Variable& variable);
  void AddCategory(const mdt::Variable& variable, const mdt::Variant& value);
  void AddMissingValues(const mdt::Variable& variable, const mdt::MissingValues& missing);
  void AddRange(const mdt::Variable& variable, const mdt::EncodingItem& low,
                const mdt::EncodingItem& high);
  void AddValue(const char* text);
  void AddLabel(const char* text);
  std::string DecodeFirstValue(const mdt::Variable& variable, double code, const char* text);
  std::string DecodeEncoded(const mdt::Encoder& encoder, double code);

  // Trees and nodes. AddClsNode and AddRegNode write the node and its whole subtree.
  void AddClsTree();
  void AddRegTree();
  void AddClsNode(const tree::Node& node);
  void AddRegNode(const tree::Node& node);
  void AddValuePercentage(const mdt::Variable& target, int code, double proportion);

  // One node's start tag with everything its element holds before its child nodes.
  using NodeStart = void (XMLOutputAdapter::*)(const tree::Node&);
  void StartClsNode(const tree::Node& node);
  void StartRegNode(const tree::Node& node);
  // Writes node and its subtree with an explicit stack, so that the depth of the tree never
  // becomes the depth of the call stack.
  void AddSubtree(const tree::Node& node, NodeStart start);

  // Splits.
  void AddSplits(const char* format, const tree::Node& node);
  // One primary (surrogate -1) or surrogate rule, by its predictor's level.
  void AddSplit(const char* format, const tree::Node& node, int surrogate,
                const tree::SplitRule* rule);
  // The predictor a rule names; fails when the metadata has no such predictor.
  const mdt::Variable& RulePredictor(const tree::SplitRule& rule) const;
  // Throws XMLExportError naming the split being written and what is wrong with it.
  [[noreturn]] void FailSplit(const std::string& what) const;
  void AddScaleSplit(const char* format, const tree::SplitRule& rule);
  void AddDiscreteSplit(const char* format, const tree::SplitRule& rule);
  void AddMappedOrdinalValue(const char* format, const mdt::Variable& predictor, double cutPoint,
                             int childPosition, bool leftOpen);
  void AddMappedDiscreteValues(const char* format, const mdt::Variable& predictor,
                               const tree::NValueSet& values);

  const tree::TreeAlgorithmBase* model_;
  std::unique_ptr<tree::AlgSettings> settings_;
  const mdt::ModelMetadata* metadata_;
  SplitValueSets valueSets_;
  // Where the split writers are, for their messages: the node and -1 (primary) or a surrogate.
  const tree::Node* splitNode_;
  int splitSurrogate_;
  // Where the element writers write; set for one BuildDocument.
  xmlu::MarkupWriter* out_ = nullptr;
  // DecodeFirstValue results of this export, by variable and code: every node decodes the
  // same few target categories, and each decoding asks the encoder for new objects.
  std::map<std::pair<const mdt::Variable*, double>, std::string> decoded_;
};

}  // namespace TreeOut
