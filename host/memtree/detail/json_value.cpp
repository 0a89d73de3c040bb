#include "host/memtree/detail/json_value.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>
#include <utility>

#include "host/memtree/model_error.h"

namespace memtree::detail {

namespace {

// Input stream over the whole text that also notes where the latest token began, so that each
// value reported to the handler can be given the offset of its first character.
class TrackingStream {
 public:
  typedef char Ch;
  TrackingStream(const char* data, std::size_t size) : data_(data), size_(size) {}
  Ch Peek() const { return pos_ < size_ ? data_[pos_] : '\0'; }
  Ch Take() {
    if (pos_ >= size_) return '\0';
    const char c = data_[pos_];
    Observe(c);
    ++pos_;
    return c;
  }
  std::size_t Tell() const { return pos_; }
  std::size_t TokenStart() const { return tokenStart_; }
  // Writing is never used: the reader parses without the in-situ flag.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  std::size_t PutEnd(Ch*) { return 0; }

 private:
  void Observe(char c) {
    if (inString_) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        inString_ = false;
      }
      return;
    }
    switch (c) {
      case '"':
        tokenStart_ = pos_;
        inString_ = true;
        afterDelimiter_ = false;
        break;
      case '{':
      case '[':
        tokenStart_ = pos_;
        afterDelimiter_ = true;
        break;
      case ',':
      case ':':
      case ']':
      case '}':
      case ' ':
      case '\t':
      case '\n':
      case '\r':
        afterDelimiter_ = true;
        break;
      default:
        if (afterDelimiter_) tokenStart_ = pos_;
        afterDelimiter_ = false;
    }
  }

  const char* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::size_t tokenStart_ = 0;
  bool inString_ = false;
  bool escaped_ = false;
  bool afterDelimiter_ = true;
};

class TreeHandler {
 public:
  TreeHandler(JsonValue& root, const TrackingStream& stream) : root_(root), stream_(stream) {}

  bool Null() { return Add(JsonValue::Type::kNull) != nullptr; }
  bool Bool(bool b) {
    JsonValue* v = Add(JsonValue::Type::kBool);
    if (v) v->boolean = b;
    return v != nullptr;
  }
  bool Int(int i) { return Integer(i); }
  bool Uint(unsigned u) { return Integer(static_cast<int64_t>(u)); }
  bool Int64(int64_t i) { return Integer(i); }
  bool Uint64(uint64_t u) {
    if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return Double(static_cast<double>(u));
    }
    return Integer(static_cast<int64_t>(u));
  }
  bool Double(double d) {
    JsonValue* v = Add(JsonValue::Type::kNumber);
    if (v) v->number = d;
    return v != nullptr;
  }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }
  bool String(const char* str, rapidjson::SizeType length, bool) {
    JsonValue* v = Add(JsonValue::Type::kString);
    if (v) v->text.assign(str, length);
    return v != nullptr;
  }
  bool StartObject() { return Open(JsonValue::Type::kObject); }
  bool Key(const char* str, rapidjson::SizeType length, bool) {
    std::string key(str, length);
    if (!keys_.back().insert(key).second) {
      error_ = "member \"" + key + "\" appears twice";
      errorOffset_ = stream_.TokenStart();
      return false;
    }
    pendingKey_ = std::move(key);
    pendingKeyOffset_ = stream_.TokenStart();
    return true;
  }
  bool EndObject(rapidjson::SizeType) { return Close(); }
  bool StartArray() { return Open(JsonValue::Type::kArray); }
  bool EndArray(rapidjson::SizeType) { return Close(); }

  const std::string& Error() const { return error_; }
  std::size_t ErrorOffset() const { return errorOffset_; }

 private:
  bool Integer(int64_t i) {
    JsonValue* v = Add(JsonValue::Type::kNumber);
    if (v) {
      v->number = static_cast<double>(i);
      v->integer = i;
      v->isInteger = true;
    }
    return v != nullptr;
  }

  JsonValue* Add(JsonValue::Type type) {
    JsonValue* v;
    if (open_.empty()) {
      v = &root_;
    } else {
      JsonValue& parent = *open_.back();
      parent.children.emplace_back();
      v = &parent.children.back();
      if (parent.type == JsonValue::Type::kObject) {
        v->key = std::move(pendingKey_);
        v->keyOffset = pendingKeyOffset_;
      }
    }
    v->type = type;
    v->offset = stream_.TokenStart();
    return v;
  }

  bool Open(JsonValue::Type type) {
    // The format never nests deeply; the limit keeps destruction of the value tree shallow.
    if (open_.size() >= JsonDocument::kMaxDepth) {
      error_ = "values nested deeper than " + std::to_string(JsonDocument::kMaxDepth) + " levels";
      errorOffset_ = stream_.Tell();
      return false;
    }
    JsonValue* v = Add(type);
    // The reader reports a container before it takes the bracket, so the bracket is next.
    v->offset = stream_.Tell();
    open_.push_back(v);
    keys_.emplace_back();
    return true;
  }

  bool Close() {
    open_.pop_back();
    keys_.pop_back();
    return true;
  }

  JsonValue& root_;
  const TrackingStream& stream_;
  std::vector<JsonValue*> open_;
  std::vector<std::unordered_set<std::string>> keys_;
  std::string pendingKey_;
  std::size_t pendingKeyOffset_ = 0;
  std::string error_;
  std::size_t errorOffset_ = 0;
};

// The line holding offset, cut to at most 72 bytes around it, and a caret under the offset.
std::string Excerpt(const std::string& text, std::size_t offset) {
  offset = std::min(offset, text.size());
  std::size_t begin = text.rfind('\n', offset == 0 ? std::string::npos : offset - 1);
  begin = begin == std::string::npos ? 0 : begin + 1;
  if (offset > 0 && offset == text.size() && text[offset - 1] == '\n') begin = offset;
  std::size_t end = text.find('\n', offset);
  if (end == std::string::npos) end = text.size();
  constexpr std::size_t kWidth = 72;
  if (offset - begin > kWidth / 2) begin = offset - kWidth / 2;
  end = std::min(end, begin + kWidth);
  std::string line = text.substr(begin, end - begin);
  for (char& c : line) {
    if (c == '\t' || c == '\r') c = ' ';
  }
  return "  " + line + "\n  " + std::string(offset - begin, ' ') + "^";
}

}  // namespace

JsonDocument::JsonDocument(std::string text, std::string name)
    : text_(std::move(text)), name_(std::move(name)) {
  TrackingStream stream(text_.data(), text_.size());
  TreeHandler handler(root_, stream);
  rapidjson::Reader reader;
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseFullPrecisionFlag |
                              rapidjson::kParseNanAndInfFlag |
                              rapidjson::kParseValidateEncodingFlag;
  rapidjson::ParseResult result = reader.Parse<kFlags>(stream, handler);
  if (result) return;
  std::string message;
  std::size_t offset = result.Offset();
  if (result.Code() == rapidjson::kParseErrorTermination && !handler.Error().empty()) {
    message = handler.Error();
    offset = handler.ErrorOffset();
  } else if (offset >= text_.size() && result.Code() != rapidjson::kParseErrorDocumentEmpty) {
    // RapidJSON calls a cut-off text an invalid value; say what the user did.
    message = "syntax error: the text ends before its JSON value does (cut off?)";
  } else {
    message = std::string("syntax error: ") + rapidjson::GetParseError_En(result.Code());
    if (!message.empty() && message.back() == '.') message.pop_back();
  }
  throw ModelError(Where(offset) + ": " + message + "\n" + Excerpt(text_, offset));
}

std::string JsonDocument::Where(std::size_t offset) const {
  offset = std::min(offset, text_.size());
  std::size_t line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text_[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  return name_ + ":" + std::to_string(line) + ":" + std::to_string(offset - lineStart + 1);
}

}  // namespace memtree::detail
