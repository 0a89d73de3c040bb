// A light JSON value tree that remembers where each value stands in its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace memtree::detail {

/// One JSON value; objects keep their members in document order.
struct JsonValue {
  enum class Type : uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  bool isInteger = false;  ///< written without fraction or exponent and fits int64
  std::size_t offset = 0;  ///< byte offset of the value's first character
  double number = 0.0;     ///< also NaN and the infinities, written NaN, Infinity, -Infinity
  int64_t integer = 0;
  std::string text;                 ///< string value
  std::vector<JsonValue> children;  ///< array items or object members
  std::string key;                  ///< member name, when this is an object member
  std::size_t keyOffset = 0;        ///< byte offset of the member name's opening quote
};

/// A parsed text with its name, for messages of the form name:line:column.
///
/// The text is parsed by simdjson's On-Demand API, which hands over every value with its place
/// in the text. On top of the JSON grammar the document refuses, each with the JSON path of the
/// value: a member name given twice in one object, nesting deeper than kMaxDepth, a number out
/// of the range of a double, and a string holding a character that XML 1.0 does not allow
/// (every string may end up in an exported document). The tokens NaN, Infinity and -Infinity are
/// read as numbers; what may hold them is the loader's business.
class JsonDocument {
 public:
  /// Parses text; throws ModelError naming name:line:column, the JSON path when there is one,
  /// the problem, and the line with a caret under the position.
  JsonDocument(std::string text, std::string name);
  const JsonValue& Root() const { return root_; }
  const std::string& Name() const { return name_; }
  /// "name:line:column" of a byte offset; line and column count from 1, columns in bytes.
  std::string Where(std::size_t offset) const;

  static constexpr std::size_t kMaxDepth = 64;

 private:
  std::string text_;
  std::string name_;
  JsonValue root_;
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
