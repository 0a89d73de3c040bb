// Parses documents with libxml2 and asks them XPath questions; validates PMML against the schema.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

/// A parsed document. XPath expressions may use the prefix "p" for the PMML 4.3 namespace.
class XmlDoc {
 public:
  /// Parses text; a document that is not well-formed fails the current test and stays empty.
  explicit XmlDoc(const std::string& text);
  ~XmlDoc();
  XmlDoc(const XmlDoc&) = delete;
  XmlDoc& operator=(const XmlDoc&) = delete;

  bool ok() const;
  /// Number of nodes the expression selects (or its numeric value for count(), etc.).
  double Number(const std::string& xpath) const;
  /// String value of the expression (first node's text for a node set).
  std::string Text(const std::string& xpath) const;
  /// The string value of every node selected, in document order.
  std::vector<std::string> Texts(const std::string& xpath) const;
  /// Names of the selected elements' attributes, in document order, for the first node.
  std::vector<std::string> AttributeNames(const std::string& xpath) const;
  /// Names of the child elements of the first selected node, in order.
  std::vector<std::string> ChildNames(const std::string& xpath) const;
  /// Empty when the document is valid against the PMML 4.3 schema, else the validator's messages.
  std::string PmmlSchemaErrors() const;
  /// Empty when the document is valid against the DTD file at dtdPath, else the messages.
  std::string DtdErrors(const std::string& dtdPath) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace testing_support
