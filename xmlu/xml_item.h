// The XML item tree both exporters build, and its serialisation with the library's fixed layout.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "version/arbtrexm_export.h"
#include "xmlu/text_sink.h"

namespace xmlu {

/// Layout state carried through one serialisation.
struct XMLWriteState {
  /// A line break goes before the next start tag, attribute or end tag.
  bool newLine = true;
  /// Tabs follow such a line break.
  bool indent = true;
  /// With false, no line breaks or tabs at all; attributes are separated by one blank.
  bool pretty = true;
  /// Current nesting depth; one tab per level.
  int32_t depth = 0;
};

/// One document being written: the caller's stream and the layout state.
struct XMLOutput {
  std::ostream* stream = nullptr;
  XMLWriteState state;
};

class XMLElement;
class MarkupWriter;

/// Any item of the tree; always deleted through this type.
class ARBTREXM_API XMLInterface {
 public:
  XMLInterface() = default;
  XMLInterface(const XMLInterface&) = delete;
  XMLInterface& operator=(const XMLInterface&) = delete;
  virtual ~XMLInterface();
  /// Appends the item's text to out; returns 0.
  virtual int Write(std::string& out, XMLWriteState& state) = 0;
  /// The item as an element, or null: cheaper than a dynamic_cast on every item of a big tree.
  virtual XMLElement* AsElement() { return nullptr; }
};

/// name="value"; the value is kept raw and escaped when written.
class ARBTREXM_API XMLAttribute final : public XMLInterface {
 public:
  XMLAttribute(std::string name, std::string value);
  int Write(std::string& out, XMLWriteState& state) override;
  const std::string& GetName() const { return name_; }
  const std::string& GetValue() const { return value_; }

 private:
  std::string name_;
  std::string value_;
};

/// Character data, kept raw and escaped when written.
class ARBTREXM_API XMLString final : public XMLInterface {
 public:
  explicit XMLString(std::string text);
  int Write(std::string& out, XMLWriteState& state) override;
  const std::string& GetText() const { return text_; }

 private:
  std::string text_;
};

/// The XML declaration and the open DOCTYPE line; the caller closes it with ">\n".
class ARBTREXM_API XMLDocType final : public XMLInterface {
 public:
  /// The DTD file name is kept for the record; the written line names only the root.
  XMLDocType(std::string name, std::string dtdFile);
  int Write(std::string& out, XMLWriteState& state) override;
  const std::string& GetName() const { return name_; }
  const std::string& GetDtdFile() const { return dtdFile_; }

 private:
  std::string name_;
  std::string dtdFile_;
};

/// An element: owns its attributes and children. Writing and destroying it use an explicit
/// stack, so a tree of any depth is safe on a small thread stack.
class ARBTREXM_API XMLElement final : public XMLInterface {
 public:
  explicit XMLElement(std::string name);
  ~XMLElement() override;
  /// Appends the attribute and takes ownership (also when appending fails).
  void AddAttribute(XMLAttribute* attribute);
  /// Appends name="value".
  void AddAttribute(const std::string& name, const std::string& value);
  /// Appends name="number text" (FormatNumber).
  void AddAttribute(const std::string& name, double value);
  /// Appends an element or character data and takes ownership (also when appending fails);
  /// returns the new number of children.
  int AddChild(XMLInterface* item);
  int Write(std::string& out, XMLWriteState& state) override;
  XMLElement* AsElement() override { return this; }

  const std::string& GetName() const { return name_; }
  const std::vector<XMLInterface*>& GetAttributes() const { return attributes_; }
  const std::vector<XMLInterface*>& GetChildren() const { return children_; }

 private:
  std::vector<XMLInterface*> attributes_;
  std::string name_;
  std::vector<XMLInterface*> children_;
};

/// New element with that name and no attributes or children; the caller owns it.
ARBTREXM_API XMLElement* NewElement(const std::string& name);
/// New attribute holding both texts unchanged.
ARBTREXM_API XMLAttribute* NewAttribute(const std::string& name, const std::string& value);
/// New attribute whose value is FormatNumber(value).
ARBTREXM_API XMLAttribute* NewAttribute(const std::string& name, double value);
/// New character data.
ARBTREXM_API XMLString* NewString(const std::string& text);
/// New document-type item.
ARBTREXM_API XMLDocType* NewDocType(const std::string& name, const std::string& dtdFile);

/// n tab characters; empty for n <= 0.
ARBTREXM_API std::string Indent(int n);
/// Replaces every occurrence of pattern, left to right; inserted text is not searched again.
ARBTREXM_API void ReplaceAll(std::string& text, const char* pattern,
                             const std::string& replacement);
/// Puts ToUtf8(text) on the output's stream.
ARBTREXM_API void WriteDocument(XMLOutput& output, const std::string& text);
/// Puts the bytes on the output's stream as one block; the stream's state is not consulted.
ARBTREXM_API void PutBytes(XMLOutput& output, const std::string& bytes);
/// Hands the bytes to out in pieces of MarkupWriter::kBlockSize.
ARBTREXM_API void WritePieces(TextSink& out, const std::string& bytes);

/// Appends text to out with &, <, > and " replaced by their entities (attribute values), as the
/// layout engine escapes them (markup_writer.cpp).
ARBTREXM_API void AppendEscapedAttribute(std::string& out, std::string_view text);
/// Appends text to out with & and < replaced by their entities (character data).
ARBTREXM_API void AppendEscapedText(std::string& out, std::string_view text);

}  // namespace xmlu
