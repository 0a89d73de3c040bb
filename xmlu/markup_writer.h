// The layout engine: start tags, attributes, character data and end tags written straight into
// one text buffer with the library's fixed layout. Element writers use it directly; the item
// tree's serialisation goes through it too, so both give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "version/arbtrexm_export.h"
#include "xmlu/number_text.h"
#include "xmlu/xml_item.h"

namespace xmlu {

class TextSink;

namespace markup_detail {

// A line break followed by tabs: the break and the indentation of a line in one run.
inline constexpr char kBreakAndTabs[] =
    "\n\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t"
    "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
inline constexpr int32_t kTabRun = sizeof kBreakAndTabs - 2;
static_assert(sizeof kBreakAndTabs >= kTabRun + 2, "a run from its second byte has kTabRun + 1");

// Which bytes need an entity: in attribute values, and in character data.
struct EscapeTable {
  bool attribute[256];
  bool text[256];
};
constexpr EscapeTable MakeEscapeTable() {
  EscapeTable table{};
  for (unsigned char c : {'&', '<', '>', '"'}) table.attribute[c] = true;
  for (unsigned char c : {'&', '<'}) table.text[c] = true;
  return table;
}
inline constexpr EscapeTable kEscape = MakeEscapeTable();

}  // namespace markup_detail

/// Writes a document element by element without building items, into a block of its own that
/// goes to a string or a sink whenever it is full. Names are copied as given;
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
  /// Appends the text to out, a block at a time and the rest on Flush or destruction.
  MarkupWriter(std::string& out, XMLWriteState& state);
  /// Hands the text to sink in blocks of exactly kBlockSize bytes, and the rest on Flush.
  MarkupWriter(TextSink& sink, XMLWriteState& state);
  MarkupWriter(const MarkupWriter&) = delete;
  MarkupWriter& operator=(const MarkupWriter&) = delete;
  /// Flushes into the string (not into a sink, whose errors must reach the caller); call Flush
  /// to see an allocation failure.
  ~MarkupWriter();

  /// Size of the block the text is written into before it goes on.
  static constexpr std::size_t kBlockSize = 64 * 1024;

  // The element operations are inline for their common case: a short name at a usual depth,
  // with room in the block for all of it, the layout state read once (a store into the block
  // could alias it, so it would be read again after every byte) and the room checked once.
  // Everything else goes to the general path, which writes the same bytes.

  /// "<name", after a line break and indentation where the layout puts them.
  void StartElement(std::string_view name) {
    if (!open_.empty() && !open_.back().contentStarted) BeginContent();
    const XMLWriteState state = state_;
    char* p = pos_;
    if (state.depth <= markup_detail::kTabRun && name.size() <= kShortName &&
        Room(p) >= kLineRoom + 1 + kShortName) {
      p = PutLineStart(p, state.pretty && state.newLine,
                       state.pretty && state.indent && state.depth > 0, state.depth);
      *p = '<';
      pos_ = PutShort(p + 1, name);
      open_.push_back({name, state.depth, false});
      return;
    }
    StartElementInGeneral(name);
  }
  /// name="value" on the open start tag; the value is escaped (&, <, >, ").
  void Attribute(std::string_view name, std::string_view value) {
    char* p = AttributeStart(name);
    if (value.size() <= kShortName && Room(p) >= kShortName + 1 &&
        !HasSpecial(value, markup_detail::kEscape.attribute)) {
      p = PutShort(p, value);
      *p = '"';
      pos_ = p + 1;
      return;
    }
    pos_ = p;
    Escaped(value, markup_detail::kEscape.attribute);
    Put('"');
  }
  void Attribute(std::string_view name, const std::string& value) {
    Attribute(name, std::string_view(value));
  }
  void Attribute(std::string_view name, const char* value) {
    Attribute(name, std::string_view(value));
  }
  /// name="number text" (FormatNumber) on the open start tag.
  void Attribute(std::string_view name, double value) {
    char* p = AttributeStart(name);
    // Number text never holds a character that needs an entity; it is formatted in place.
    if (Room(p) >= kNumberTextSize + 1) {
      p = NumberText(p, value);
      *p = '"';
      pos_ = p + 1;
      return;
    }
    pos_ = p;
    NumberAcrossBlocks(value);
  }
  /// Character data, escaped (&, <), inside the innermost open element; the next tag of the
  /// enclosing element follows it on the same line.
  void Text(std::string_view text);
  /// Ends the innermost open element.
  void EndElement() {
    char* p = pos_;
    if (!open_.empty() && !open_.back().contentStarted && Room(p) >= 2) {
      open_.pop_back();
      p[0] = '/';
      p[1] = '>';
      pos_ = p + 2;
      state_.newLine = true;
      state_.indent = true;
      return;
    }
    EndElementInGeneral();
  }
  /// Writes an item and everything below it with this writer's layout, as the content of the
  /// innermost open element if there is one. Elements are walked with an explicit stack.
  void Item(XMLInterface& item);
  /// Text written as it is, with the layout state untouched (a document's prolog).
  void Raw(std::string_view text);

  /// Elements started and not yet ended.
  std::size_t OpenElements() const { return open_.size(); }
  /// Bytes written so far, including those still in the block.
  std::size_t Size() const { return handed_ + static_cast<std::size_t>(pos_ - block_.get()); }
  /// Hands the text written so far to the string or the sink.
  void Flush();
  /// Makes room in the string for this many bytes of text in all (Size), so that a document of
  /// gigabytes is not copied each time its buffer would double; room that is never written
  /// costs no memory. Nothing to do for a sink.
  void Reserve(std::size_t bytes);

 private:
  struct Open {
    std::string_view name;
    int32_t depth;        // depth of the start tag's line
    bool contentStarted;  // whether the ">" of the start tag is written
  };

  // Room for a line start: a line break and a whole run of tabs.
  static constexpr std::size_t kLineRoom = markup_detail::kTabRun + 1;

  std::size_t Room(const char* p) const { return static_cast<std::size_t>(limit_ - p); }
  // The line break (when asked for) and depth tabs (when asked for) at p, which has kLineRoom
  // bytes of room, with depth at most kTabRun. A whole run is copied (16 bytes for the usual
  // depths, else all of it) and only the part the line needs is kept: what follows overwrites
  // the rest. Returns the end of the part kept.
  static char* PutLineStart(char* p, bool lineBreak, bool tabs, int32_t depth) {
    if (!tabs) {
      if (lineBreak) *p++ = '\n';
      return p;
    }
    const char* run = markup_detail::kBreakAndTabs + (lineBreak ? 0 : 1);
    if (depth < 16) {
      std::memcpy(p, run, 16);
    } else {
      std::memcpy(p, run, kLineRoom);
    }
    return p + (lineBreak ? 1 : 0) + depth;
  }
  static bool HasSpecial(std::string_view text, const bool (&special)[256]) {
    for (char c : text) {
      if (special[static_cast<unsigned char>(c)]) return true;
    }
    return false;
  }
  // The separator, indentation, name, "=" and opening quote of an attribute; returns where
  // its value goes, which pos_ does not yet know on the common path.
  char* AttributeStart(std::string_view name) {
    const XMLWriteState state = state_;
    const int32_t depth = state.depth + 1;
    char* p = pos_;
    if (depth <= markup_detail::kTabRun && name.size() <= kShortName &&
        Room(p) >= 1 + kLineRoom + kShortName + 2) {
      const bool lineBreak = state.pretty && state.newLine;
      if (!lineBreak) *p++ = ' ';
      p = PutShort(PutLineStart(p, lineBreak, state.pretty && state.indent, depth), name);
      p[0] = '=';
      p[1] = '"';
      return p + 2;
    }
    AttributeName(name);
    return pos_;
  }

  void BeginContent();
  void StartElementInGeneral(std::string_view name);
  void EndElementInGeneral();
  void NumberAcrossBlocks(double value);
  void Indentation(bool lineBreak, int32_t depth);
  void AttributeName(std::string_view name);
  void Escaped(std::string_view text, const bool (&special)[256]);
  void Put(const char* data, std::size_t size) {
    const auto room = static_cast<std::size_t>(limit_ - pos_);
    if (size <= 16 && room >= 16) {
      // Names, separators and numbers are short: a few moves instead of a call to memcpy.
      pos_ = PutShort(pos_, std::string_view(data, size));
    } else if (room >= size) {
      std::memcpy(pos_, data, size);
      pos_ += size;
    } else {
      PutAcrossBlocks(data, size);
    }
  }
  // Copies text of at most kShortName bytes to where room for its size is known; returns the
  // end of the copy.
  static constexpr std::size_t kShortName = 32;
  static char* PutShort(char* to, std::string_view text) {
    const std::size_t size = text.size();
    const char* from = text.data();
    if (size >= 16) {
      Move<16>(to, from);
      Move<16>(to + size - 16, from + size - 16);
    } else if (size >= 8) {
      Move<8>(to, from);
      Move<8>(to + size - 8, from + size - 8);
    } else if (size >= 4) {
      Move<4>(to, from);
      Move<4>(to + size - 4, from + size - 4);
    } else {
      for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
    }
    return to + size;
  }
  // A fixed-size copy between places that never overlap (text into the block): a few moves.
  template <std::size_t N>
  static void Move(char* to, const char* from) {
    std::memcpy(to, from, N);
  }
  void Put(char c) {
    if (pos_ == limit_) HandOn();
    *pos_++ = c;
  }
  void PutAcrossBlocks(const char* data, std::size_t size);
  // Hands the full block on and starts an empty one.
  void HandOn();

  // The text of a number that is not a small whole one, kept by its bit pattern: a tree repeats
  // its class probabilities and cut values from node to node, and formatting one costs far
  // more than finding it again.
  struct CachedNumber {
    uint64_t bits = 0;
    char text[23];     // the longest text, "-1.23456789012345e-308", has 22 characters
    uint8_t size = 0;  // 0: empty
  };
  static constexpr int kNumberCacheBits = 6;
  // Writes the text of value at to (kNumberTextSize bytes of room); returns its end.
  char* NumberText(char* to, double value);

  std::unique_ptr<char[]> block_;
  char* pos_;
  char* limit_;
  std::string* out_;
  TextSink* sink_;
  std::size_t handed_ = 0;
  XMLWriteState& state_;
  std::vector<Open> open_;
  CachedNumber numbers_[1 << kNumberCacheBits];
};

}  // namespace xmlu
