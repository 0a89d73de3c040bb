// A light JSON value tree that remembers where each value stands in its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace memtree::detail {

/// One JSON value; objects keep their members in document order.
struct JsonValue {
  enum class Type : uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  bool isInteger = false;  ///< written without fraction or exponent and fits int64
  std::size_t offset = 0;  ///< byte offset of the value's first character
  double number = 0.0;
  int64_t integer = 0;
  std::string text;                 ///< string value
  std::vector<JsonValue> children;  ///< array items or object members
  std::string key;                  ///< member name, when this is an object member
  std::size_t keyOffset = 0;        ///< byte offset of the member name's opening quote
};

/// A parsed text with its name, for messages of the form name:line:column.
class JsonDocument {
 public:
  /// Parses text; throws ModelError with line, column and an excerpt with a caret on bad syntax,
  /// a repeated member name or nesting deeper than kMaxDepth.
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

}  // namespace memtree::detail
