// A light JSON value tree that remembers where each value stands in its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/memtree/tree_parts.h"

namespace memtree::detail {

/// One JSON value; objects keep their members in document order. Strings, member names and
/// the items of a container are views into memory the JsonDocument owns.
struct JsonValue {
  enum class Type : uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  bool isInteger = false;  ///< written without fraction or exponent and fits int64
  bool deferred = false;   ///< an array whose items JsonDocument::Stream hands over one by one
  std::size_t offset = 0;  ///< byte offset of the value's first character
  double number = 0.0;     ///< also NaN and the infinities, written NaN, Infinity, -Infinity
  int64_t integer = 0;
  std::string_view text;      ///< string value
  Span<JsonValue> children;   ///< array items or object members
  std::string_view key;       ///< member name, when this is an object member
  std::size_t keyOffset = 0;  ///< byte offset of the member name's opening quote
};

/// A parsed text with its name, for messages of the form name:line:column.
///
/// The text is parsed by simdjson's On-Demand API, which hands over every value with its place
/// in the text. On top of the JSON grammar the document refuses, each with the JSON path of the
/// value: a member name given twice in one object, nesting deeper than kMaxDepth, a number out
/// of the range of a double, and a string holding a character that XML 1.0 does not allow
/// (every string may end up in an exported document). The tokens NaN, Infinity and -Infinity are
/// read as numbers; what may hold them is the loader's business.
///
/// One member of the top-level object, an array, may be left unread at first (deferred): its
/// items are then read one at a time by Stream, each into memory reused for the next, so that
/// a large array never exists as a value tree.
class JsonDocument {
 public:
  /// Parses text (which needs simdjson's padding after its end); throws ModelError naming
  /// name:line:column, the JSON path when there is one, the problem, and the line with a caret
  /// under the position.
  JsonDocument(std::string_view text, std::string name, std::string_view deferred = {});
  ~JsonDocument();
  const JsonValue& Root() const { return *root_; }
  const std::string& Name() const { return name_; }
  std::size_t Size() const { return text_.size(); }
  /// How many items of the deferred array are objects or arrays, as far as the scan that cuts
  /// it into slices has counted them; 0 when it is read whole.
  std::size_t DeferredContainers() const;
  /// "name:line:column" of a byte offset; line and column count from 1, columns in bytes.
  std::string Where(std::size_t offset) const;
  /// Reads the items of the deferred array in order, handing each to item with its index; the
  /// value lives until item returns. Also checks what follows the document's value.
  template <class Item>
  std::size_t Stream(Item&& item) {
    struct Caller final : ItemCallback {
      explicit Caller(Item& f) : f_(f) {}
      void operator()(const JsonValue& v, std::size_t i) override { f_(v, i); }
      Item& f_;
    } caller(item);
    return StreamItems(caller);
  }

  static constexpr std::size_t kMaxDepth = 64;
  /// Bytes of the deferred array read at a time, at least (a slice ends after an item).
  static constexpr std::size_t kSliceSize = std::size_t{1} << 20;

 private:
  struct ItemCallback {
    virtual void operator()(const JsonValue& v, std::size_t i) = 0;

   protected:
    ~ItemCallback() = default;
  };
  struct State;
  std::size_t StreamItems(ItemCallback& item);
  std::size_t StreamSlices(ItemCallback& item);
  [[noreturn]] void SyntaxFail(std::size_t offset, const std::string& fallback) const;

  std::string_view text_;
  std::string name_;
  std::string deferredKey_;
  std::unique_ptr<State> state_;
  const JsonValue* root_ = nullptr;
};

/// The first syntax error of a JSON text (RFC 8259, plus the tokens NaN, Infinity and
/// -Infinity): its byte offset and what is wrong; nothing for a well-formed text. A plain scan
/// that keeps its place, run when the parser has refused the text, to say exactly where.
struct SyntaxProblem {
  std::size_t offset;
  std::string what;
};
std::optional<SyntaxProblem> FindSyntaxError(std::string_view text);

/// Text as it can be shown inside a message: control characters (C0, DEL, C1), the quote and
/// the backslash escaped the way JSON writes them, so that nothing a file holds can fake or
/// garble a line of output.
std::string Printable(std::string_view text);

/// path.key, or path["key"] with the key escaped when it is not a plain name.
std::string MemberPath(const std::string& path, std::string_view key);

/// The first character of text that XML 1.0 does not allow (C0 controls other than tab, line
/// feed and carriage return, U+FFFE, U+FFFF, and surrogates), or the first byte that is not
/// UTF-8 (code kNotUtf8): its byte offset and code point.
struct BadCharacter {
  std::size_t offset;
  uint32_t code;
};
constexpr uint32_t kNotUtf8 = 0x110000;
std::optional<BadCharacter> FindNonXmlCharacter(std::string_view text);

/// Says what a code point is in a message: "U+0001 (a control character)".
std::string DescribeNonXmlCharacter(uint32_t code);

}  // namespace memtree::detail
