// The layout engine: start tags, attributes, character data and end tags written straight into
// one text buffer with the library's fixed layout. Element writers use it directly; the item
// tree's serialisation goes through it too, so both give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "version/arbtrexm_export.h"
#include "xmlu/xml_item.h"

namespace xmlu {

class TextSink;

/// Writes a document element by element without building items. Names are copied as given;
/// attribute values and character data are escaped; numbers are formatted in place. Nothing is
/// allocated per element or attribute: the only memory is the text itself and the stack of open
/// element names, which the caller keeps alive (string literals, or strings that outlive the
/// element) until the element is ended.
///
/// An element is started with StartElement, gets its attributes, then its content (elements
/// and character data), and is ended with EndElement: "/>" right after its attributes when it
/// has no content, otherwise its end tag. Attributes go before any content.
class ARBTREXM_API MarkupWriter {
 public:
  /// Appends the text to out.
  MarkupWriter(std::string& out, XMLWriteState& state);
  /// Collects the text in a buffer of its own and hands it to sink in blocks: each one as soon
  /// as it holds kBlockSize bytes (so it exceeds that by at most one tag, attribute or piece of
  /// character data), and the rest on Flush.
  MarkupWriter(TextSink& sink, XMLWriteState& state);
  MarkupWriter(const MarkupWriter&) = delete;
  MarkupWriter& operator=(const MarkupWriter&) = delete;
  ~MarkupWriter();

  /// Size of the blocks handed to a sink.
  static constexpr std::size_t kBlockSize = 64 * 1024;

  /// "<name", after a line break and indentation where the layout puts them.
  void StartElement(std::string_view name);
  /// name="value" on the open start tag; the value is escaped (&, <, >, ").
  void Attribute(std::string_view name, std::string_view value);
  void Attribute(std::string_view name, const std::string& value) {
    Attribute(name, std::string_view(value));
  }
  void Attribute(std::string_view name, const char* value) {
    Attribute(name, std::string_view(value));
  }
  /// name="number text" (FormatNumber) on the open start tag.
  void Attribute(std::string_view name, double value);
  /// Character data, escaped (&, <), inside the innermost open element; the next tag of the
  /// enclosing element follows it on the same line.
  void Text(std::string_view text);
  /// Ends the innermost open element.
  void EndElement();
  /// Writes an item and everything below it with this writer's layout, as the content of the
  /// innermost open element if there is one. Elements are walked with an explicit stack.
  void Item(XMLInterface& item);
  /// Text written as it is, with the layout state untouched (a document's prolog).
  void Raw(std::string_view text);

  /// Elements started and not yet ended.
  std::size_t OpenElements() const { return open_.size(); }
  /// Bytes written so far, including those already handed to a sink.
  std::size_t Size() const { return handed_ + out_->size(); }
  /// Makes room for this many more bytes of text in the buffer (appending to a string only).
  void Reserve(std::size_t bytes);
  /// Hands the buffered text to the sink; does nothing when writing into a string.
  void Flush();

 private:
  struct Open {
    std::string_view name;
    int32_t depth;        // depth of the start tag's line
    bool contentStarted;  // whether the ">" of the start tag is written
  };

  void BeginContent();
  void Indentation(bool lineBreak, int32_t depth);
  void HandOnFullBlock() {
    if (sink_ != nullptr && out_->size() >= kBlockSize) Flush();
  }

  std::string own_;
  std::string* out_;
  TextSink* sink_;
  std::size_t handed_ = 0;
  XMLWriteState& state_;
  std::vector<Open> open_;
};

}  // namespace xmlu
