#include "host/memtree/detail/json_value.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <unordered_set>
#include <utility>

#include "host/memtree/model_error.h"

namespace memtree::detail {

namespace od = simdjson::ondemand;

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Characters that end a bare token (number or literal) in JSON.
bool EndsToken(char c) {
  return IsSpace(c) || c == ',' || c == ':' || c == '[' || c == ']' || c == '{' || c == '}' ||
         c == '"';
}

std::string_view Trim(std::string_view token) {
  while (!token.empty() && IsSpace(token.back())) token.remove_suffix(1);
  return token;
}

// A token cut short for a message.
std::string Shown(std::string_view token) {
  constexpr std::size_t kMax = 24;
  if (token.size() <= kMax) return Printable(token);
  return Printable(token.substr(0, kMax)) + "...";
}

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?; integral tells whether fraction and exponent
// are both absent.
bool IsJsonNumber(std::string_view t, bool& integral) {
  std::size_t i = 0;
  const std::size_t n = t.size();
  auto digit = [&](std::size_t k) { return k < n && t[k] >= '0' && t[k] <= '9'; };
  if (i < n && t[i] == '-') ++i;
  if (!digit(i)) return false;
  if (t[i] == '0') {
    ++i;
  } else {
    while (digit(i)) ++i;
  }
  integral = true;
  if (i < n && t[i] == '.') {
    ++i;
    if (!digit(i)) return false;
    while (digit(i)) ++i;
    integral = false;
  }
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    if (!digit(i)) return false;
    while (digit(i)) ++i;
    integral = false;
  }
  return i == n;
}

// Whether a well-formed JSON number is at least 1 in magnitude (its value overflows rather
// than underflows when it is out of range).
bool AtLeastOne(std::string_view t) {
  if (!t.empty() && t[0] == '-') t.remove_prefix(1);
  long exponent = 0;  // decimal exponent of the first significant digit
  bool seen = false;
  long position = 0;  // digits before the point so far
  std::size_t i = 0;
  bool afterPoint = false;
  for (; i < t.size() && t[i] != 'e' && t[i] != 'E'; ++i) {
    if (t[i] == '.') {
      afterPoint = true;
      continue;
    }
    if (!afterPoint) ++position;
    if (!seen && t[i] != '0') {
      seen = true;
      exponent = afterPoint ? -(static_cast<long>(i) - position) : position - 1;
    }
  }
  if (!seen) return false;
  if (i < t.size()) {
    long e = 0;
    bool negative = t[i + 1] == '-';
    for (std::size_t k = i + 1; k < t.size(); ++k) {
      if (t[k] >= '0' && t[k] <= '9') e = std::min<long>(e * 10 + (t[k] - '0'), 100000000);
    }
    exponent += negative ? -e : e;
  }
  return exponent >= 0;
}

std::string Hex4(uint32_t code) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
  return out;
}

// The line holding offset, cut to at most 72 bytes around it, and a caret under the offset.
std::string Excerpt(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  std::size_t begin = offset == 0 ? 0 : text.rfind('\n', offset - 1);
  begin = begin == std::string_view::npos ? 0 : (offset == 0 ? 0 : begin + 1);
  std::size_t end = text.find('\n', offset);
  if (end == std::string_view::npos) end = text.size();
  constexpr std::size_t kWidth = 72;
  if (offset - begin > kWidth / 2) begin = offset - kWidth / 2;
  end = std::min(end, begin + kWidth);
  std::string line;
  std::size_t caret = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // The excerpt shows bytes that a terminal prints as they are; the rest stand as '?'.
    line += (c == '\t' || c == '\r') ? ' ' : (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    if (i < offset) ++caret;
  }
  return "  " + line + "\n  " + std::string(caret, ' ') + "^";
}

// Length of a valid UTF-8 sequence at text[i] (no overlong forms, no surrogates, at most
// U+10FFFF), or 0.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto b = [&](std::size_t k) {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
  };
  const unsigned c = b(i);
  auto cont = [&](std::size_t k) { return (b(k) & 0xC0) == 0x80; };
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(i + 1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    const unsigned c1 = b(i + 1);
    if (c == 0xE0 && c1 < 0xA0) return 0;
    if (c == 0xED && c1 > 0x9F) return 0;
    return cont(i + 1) && cont(i + 2) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const unsigned c1 = b(i + 1);
    if (c == 0xF0 && c1 < 0x90) return 0;
    if (c == 0xF4 && c1 > 0x8F) return 0;
    return cont(i + 1) && cont(i + 2) && cont(i + 3) ? 4 : 0;
  }
  return 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits after "\u" at text[i], or -1.
long Escape4(std::string_view text, std::size_t i) {
  if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') return -1;
  long code = 0;
  for (std::size_t k = i + 2; k < i + 6; ++k) {
    const int h = HexValue(text[k]);
    if (h < 0) return -1;
    code = code * 16 + h;
  }
  return code;
}

bool XmlAllows(uint32_t c) {
  if (c < 0x20) return c == 0x9 || c == 0xA || c == 0xD;
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  return c != 0xFFFE && c != 0xFFFF;
}

// The first character that XML cannot hold in the string literal starting at quote (the
// opening quote's offset), as its offset in text and code point; escapes are decoded.
std::optional<BadCharacter> FindNonXmlInLiteral(std::string_view text, std::size_t quote) {
  for (std::size_t i = quote + 1; i < text.size() && text[i] != '"';) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      const char e = i + 1 < text.size() ? text[i + 1] : '\0';
      if (e == 'b') return BadCharacter{i, 0x8};
      if (e == 'f') return BadCharacter{i, 0xC};
      if (e != 'u') {
        i += 2;
        continue;
      }
      const long code = Escape4(text, i);
      if (code < 0) return std::nullopt;  // the parser has refused it already
      if (code >= 0xD800 && code <= 0xDBFF) {
        const long low = Escape4(text, i + 6);
        if (low < 0xDC00 || low > 0xDFFF) return BadCharacter{i, static_cast<uint32_t>(code)};
        i += 12;
        continue;
      }
      if (!XmlAllows(static_cast<uint32_t>(code))) {
        return BadCharacter{i, static_cast<uint32_t>(code)};
      }
      i += 6;
      continue;
    }
    if (c < 0x20) return BadCharacter{i, c};
    if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
      return BadCharacter{i, static_cast<unsigned char>(text[i + 2]) == 0xBE ? 0xFFFEu : 0xFFFFu};
    }
    ++i;
  }
  return std::nullopt;
}

class SyntaxError {};  // the parser refused the text; the scan says where and why

// The raw text of the value ahead; values and documents hand it over differently.
bool Token(od::value& v, std::string_view& out) {
  out = v.raw_json_token();
  return true;
}
bool Token(od::document& d, std::string_view& out) {
  return d.raw_json_token().get(out) == simdjson::SUCCESS;
}

// Values in blocks that never move, so that views of a container's items stay valid while more
// values are added; Reset keeps the blocks for the next use.
class Arena {
 public:
  JsonValue* Take(std::size_t n) {
    while (block_ < blocks_.size() && used_ + n > sizes_[block_]) {
      ++block_;
      used_ = 0;
    }
    if (block_ == blocks_.size()) {
      const std::size_t size = std::max<std::size_t>(n, kBlock);
      blocks_.push_back(std::make_unique<JsonValue[]>(size));
      sizes_.push_back(size);
      used_ = 0;
    }
    JsonValue* out = blocks_[block_].get() + used_;
    used_ += n;
    return out;
  }
  void Reset() {
    block_ = 0;
    used_ = 0;
  }

 private:
  static constexpr std::size_t kBlock = 256;
  std::vector<std::unique_ptr<JsonValue[]>> blocks_;
  std::vector<std::size_t> sizes_;
  std::size_t block_ = 0;
  std::size_t used_ = 0;
};

// The bytes of a string literal from its opening quote up to the closing one, when it holds no
// escape and no control character: the text itself can serve as the string. Stops at the first
// character XML cannot hold (a noncharacter) as well, leaving it to the careful path.
bool PlainLiteral(std::string_view text, std::size_t quote, std::string_view& out) {
  const char* p = text.data() + quote + 1;
  const char* end = text.data() + text.size();
  for (const char* q = p; q < end; ++q) {
    const auto c = static_cast<unsigned char>(*q);
    if (c == '"') {
      out = std::string_view(p, static_cast<std::size_t>(q - p));
      return true;
    }
    if (c == '\\' || c < 0x20 || c == 0xEF) return false;
  }
  return false;
}

// Where the deferred array stands in a text and where its items can be cut into slices that
// are read one after another, each indexed into the same parser memory. Found by a plain scan
// that follows strings and brackets; nothing when the text is anything but plain (a byte that
// is not UTF-8, a control character or an unclosed string, mismatched brackets, a member name
// with an escape before the array, no such member holding an array), and the whole text is
// then read at once, which finds and reports whatever is wrong as it always has.
struct Slicing {
  std::size_t open = 0;           // the array's '['
  std::size_t close = 0;          // its ']'
  std::vector<std::size_t> cuts;  // commas between items where one slice ends and the next starts
  std::size_t containers = 0;     // items that are objects or arrays
};

std::optional<Slicing> FindSlicing(std::string_view text, std::string_view key,
                                   std::size_t sliceSize) {
  if (key.empty() || text.size() > simdjson::SIMDJSON_MAXSIZE_BYTES) return std::nullopt;
  if (!simdjson::validate_utf8(text.data(), text.size())) return std::nullopt;
  enum : unsigned char { kOther, kQuote, kOpen, kClose };
  static const auto kClass = [] {
    std::array<unsigned char, 256> table{};
    table['"'] = kQuote;
    table['['] = table['{'] = kOpen;
    table[']'] = table['}'] = kClose;
    return table;
  }();
  const char* const s = text.data();
  const std::size_t n = text.size();
  auto skipSpace = [&](std::size_t j) {
    while (j < n && IsSpace(s[j])) ++j;
    return j;
  };
  constexpr std::size_t kMaxNesting = 256;  // deeper texts are refused by the reader anyway
  char stack[kMaxNesting];
  std::size_t depth = 0;
  std::size_t arrayDepth = 0;  // nesting inside the array, while in it
  std::size_t sliceStart = 0;
  bool found = false;
  bool inArray = false;
  Slicing out;
  for (std::size_t i = 0; i < n;) {
    switch (kClass[static_cast<unsigned char>(s[i])]) {
      case kOther:
        ++i;
        continue;
      case kQuote: {
        const std::size_t quote = i++;
        bool escaped = false;
        for (;;) {
          if (i >= n) return std::nullopt;
          const auto c = static_cast<unsigned char>(s[i]);
          if (c == '"') break;
          if (c < 0x20) return std::nullopt;
          if (c == '\\') {
            if (i + 1 >= n || static_cast<unsigned char>(s[i + 1]) < 0x20) return std::nullopt;
            escaped = true;
            i += 2;
            continue;
          }
          ++i;
        }
        ++i;
        if (depth == 1 && !found && stack[0] == '{') {
          std::size_t j = skipSpace(i);
          if (j < n && s[j] == ':') {
            if (escaped) return std::nullopt;
            if (text.substr(quote + 1, i - quote - 2) == key) {
              j = skipSpace(j + 1);
              if (j >= n || s[j] != '[') return std::nullopt;
              found = inArray = true;
              out.open = j;
              sliceStart = j + 1;
              stack[depth++] = '[';
              arrayDepth = depth;
              i = j + 1;
            }
          }
        }
        continue;
      }
      case kOpen:
        if (depth == kMaxNesting) return std::nullopt;
        stack[depth++] = s[i++];
        continue;
      case kClose: {
        if (depth == 0 || stack[depth - 1] != (s[i] == ']' ? '[' : '{')) return std::nullopt;
        --depth;
        ++i;
        if (!inArray) continue;
        if (depth == arrayDepth) ++out.containers;
        if (depth == arrayDepth && i - sliceStart >= sliceSize) {
          const std::size_t j = skipSpace(i);
          if (j < n && s[j] == ',') {
            out.cuts.push_back(j);
            sliceStart = j + 1;
          }
        } else if (depth + 1 == arrayDepth) {
          out.close = i - 1;
          inArray = false;
        }
        continue;
      }
    }
  }
  if (!found || inArray) return std::nullopt;
  return out;
}

}  // namespace

// Builds values from simdjson's On-Demand iteration, keeping each value's offset. A container's
// items are gathered in a list per nesting level, then copied to the arena in one run.
struct JsonDocument::State {
  State(std::string_view text, const JsonDocument& doc) : text_(text), doc_(doc) {}

  template <class V>
  void Read(V& v, JsonValue& out) {
    std::string_view token;
    if (!Token(v, token)) throw SyntaxError();
    out.offset = Offset(token.data());
    lastOffset_ = out.offset;
    token = Trim(token);
    od::json_type type;
    if (v.type().get(type) != simdjson::SUCCESS) {
      // NaN and Infinity are no JSON; simdjson leaves them to us as bare tokens.
      if (token == "NaN") return Special(out, std::numeric_limits<double>::quiet_NaN());
      if (token == "Infinity") return Special(out, std::numeric_limits<double>::infinity());
      throw SyntaxError();
    }
    switch (type) {
      case od::json_type::object: {
        const std::size_t level = Open(out, JsonValue::Type::kObject);
        od::object object;
        if (v.get_object().get(object) != simdjson::SUCCESS) throw SyntaxError();
        ReadMembers(object, level);
        Close(out, level);
        break;
      }
      case od::json_type::array: {
        if (!streaming_ && open_.size() == 1 && !doc_.deferredKey_.empty() &&
            levels_[open_.back()].back().key == doc_.deferredKey_) {
          out.type = JsonValue::Type::kArray;  // read later, item by item
          out.deferred = true;
          break;
        }
        const std::size_t level = Open(out, JsonValue::Type::kArray);
        od::array array;
        if (v.get_array().get(array) != simdjson::SUCCESS) throw SyntaxError();
        for (auto item : array) {
          od::value value;
          if (item.get(value) != simdjson::SUCCESS) throw SyntaxError();
          levels_[level].emplace_back();
          Read(value, levels_[level].back());
        }
        Close(out, level);
        break;
      }
      case od::json_type::string: {
        out.type = JsonValue::Type::kString;
        if (!PlainLiteral(text_, out.offset, out.text)) {
          std::string_view text;
          if (v.get_string().get(text) != simdjson::SUCCESS) throw SyntaxError();
          CheckText(out.offset);
          out.text = Keep(text);
        } else if (keepStrings_) {
          out.text = Keep(out.text);
        }
        break;
      }
      case od::json_type::number:
        if (token == "-Infinity") return Special(out, -std::numeric_limits<double>::infinity());
        Number(v, token, out);
        break;
      case od::json_type::boolean:
        out.type = JsonValue::Type::kBool;
        if (v.get_bool().get(out.boolean) != simdjson::SUCCESS) throw SyntaxError();
        break;
      case od::json_type::null: {
        bool isNull = false;
        if (v.is_null().get(isNull) != simdjson::SUCCESS || !isNull) throw SyntaxError();
        out.type = JsonValue::Type::kNull;
        break;
      }
    }
  }

  // The name of the member ahead, as a view of the text when it holds no escape.
  std::string_view Key(od::field& field, std::size_t& keyOffset) {
    const char* raw = field.key().raw();
    keyOffset = Offset(raw - 1);
    std::string_view key;
    if (PlainLiteral(text_, keyOffset, key)) return key;
    if (field.unescaped_key().get(key) != simdjson::SUCCESS) throw SyntaxError();
    return Keep(key);
  }

  [[noreturn]] void Fail(std::size_t offset, const std::string& message) const {
    std::string path;
    if (streaming_) path = MemberPath("", doc_.deferredKey_) + "[" + std::to_string(item_index_) + "]";
    for (std::size_t level : open_) {
      const std::vector<JsonValue>& items = levels_[level];
      path = objects_[level] ? MemberPath(path, items.back().key)
                             : path + "[" + std::to_string(items.size() - 1) + "]";
    }
    throw ModelError(doc_.Where(offset) + ": " + (path.empty() ? "" : path + ": ") + message +
                     "\n" + Excerpt(text_, offset));
  }

  std::size_t Open(JsonValue& out, JsonValue::Type type) {
    // The format never nests deeply; the limit also bounds the reader's recursion.
    if (depthBase_ + open_.size() >= JsonDocument::kMaxDepth) {
      Fail(out.offset,
           "values nested deeper than " + std::to_string(JsonDocument::kMaxDepth) + " levels");
    }
    out.type = type;
    const std::size_t level = open_.size();
    if (levels_.size() <= level) {
      levels_.emplace_back();
      objects_.push_back(false);
    }
    levels_[level].clear();
    objects_[level] = type == JsonValue::Type::kObject;
    open_.push_back(level);
    return level;
  }
  void Close(JsonValue& out, std::size_t level) {
    open_.pop_back();
    const std::vector<JsonValue>& items = levels_[level];
    JsonValue* run = arena_->Take(items.size());
    std::copy(items.begin(), items.end(), run);
    out.children = Span<JsonValue>(run, items.size());
  }

  void ReadMembers(od::object& object, std::size_t level) {
    // Objects of the format are small; a hostile one with many members gets a hash set.
    constexpr std::size_t kLinear = 16;
    std::string_view keys[kLinear];
    std::size_t count = 0;
    std::unordered_set<std::string_view> seen;
    for (auto member : object) {
      if (member.error() != simdjson::SUCCESS) throw SyntaxError();
      od::field& field = member.value_unsafe();
      std::size_t keyOffset = 0;
      const std::string_view key = Key(field, keyOffset);
      std::vector<JsonValue>& items = levels_[level];
      items.emplace_back();
      items.back().key = key;
      items.back().keyOffset = keyOffset;
      lastOffset_ = keyOffset;
      bool repeated;
      if (count < kLinear) {
        repeated = std::find(keys, keys + count, key) != keys + count;
        keys[count++] = key;
        if (count == kLinear) seen.insert(keys, keys + count);
      } else {
        repeated = !seen.insert(key).second;
      }
      if (repeated) {
        std::size_t first = 0;
        while (items[first].key != key) ++first;
        const std::string at = doc_.Where(items[first].keyOffset);
        Fail(keyOffset, "member \"" + Printable(key) + "\" appears twice (first at " +
                            at.substr(at.rfind(':', at.rfind(':') - 1) + 1) + ")");
      }
      od::value value = field.value();
      Read(value, items.back());
    }
  }

  template <class V>
  void Number(V& v, std::string_view token, JsonValue& out) {
    out.type = JsonValue::Type::kNumber;
    od::number number;
    if (v.get_number().get(number) == simdjson::SUCCESS) {
      switch (number.get_number_type()) {
        case od::number_type::signed_integer:
          out.integer = number.get_int64();
          out.isInteger = true;
          // -0 is an integer and still the double -0, so that it saves as it was written.
          out.number =
              out.integer == 0 && token[0] == '-' ? -0.0 : static_cast<double>(out.integer);
          return;
        case od::number_type::unsigned_integer:
          out.number = static_cast<double>(number.get_uint64());
          return;
        default:
          out.number = number.get_double();
          return;
      }
    }
    // simdjson refuses integers beyond 64 bits and numbers beyond a double's range.
    bool integral = false;
    if (!IsJsonNumber(token, integral)) throw SyntaxError();
    double value = 0;
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
      if (AtLeastOne(token)) {
        Fail(out.offset,
             "number " + Shown(token) + " is out of range (a double reaches about " + "1.8e308)");
      }
      value = token[0] == '-' ? -0.0 : 0.0;
    } else if (result.ec != std::errc() || std::isinf(value)) {
      Fail(out.offset,
           "number " + Shown(token) + " is out of range (a double reaches about " + "1.8e308)");
    }
    out.number = value;
  }

  void Special(JsonValue& out, double value) {
    out.type = JsonValue::Type::kNumber;
    out.number = value;
  }

  // Every string may reach a document; XML 1.0 cannot hold some characters at all.
  void CheckText(std::size_t quote) const {
    if (auto bad = FindNonXmlInLiteral(text_, quote)) {
      Fail(bad->offset, DescribeNonXmlCharacter(bad->code) +
                            " cannot be written to an XML document; the exports would not be "
                            "well-formed");
    }
  }

  // A string that must outlive the parser's buffer (rewound between the two readings).
  std::string_view Keep(std::string_view text) {
    std::deque<std::string>& kept = streaming_ ? itemKept_ : kept_;
    kept.emplace_back(text);
    return kept.back();
  }

  // Reads one item of the deferred array and hands it over.
  void StreamItem(od::value& value, std::size_t index, ItemCallback& item) {
    item_.Reset();
    itemKept_.clear();
    item_index_ = index;
    JsonValue* v = item_.Take(1);
    *v = JsonValue();
    Read(value, *v);
    item(*v, index);
  }

  // The file offset of a byte of the text simdjson is reading, which may be a piece of the
  // file's text: the offset in the piece, plus lowShift_ below split_ and highShift_ from it.
  std::size_t Offset(const char* p) const {
    const auto at = static_cast<std::size_t>(p - parsed_);
    return at + (at < split_ ? lowShift_ : highShift_);
  }
  void Reading(const char* parsed, std::size_t split, std::size_t lowShift, std::size_t highShift) {
    parsed_ = parsed;
    split_ = split;
    lowShift_ = lowShift;
    highShift_ = highShift;
  }

  std::string_view text_;
  const JsonDocument& doc_;
  od::parser parser_;
  od::document document_;
  const char* parsed_ = text_.data();
  std::size_t split_ = std::numeric_limits<std::size_t>::max();
  std::size_t lowShift_ = 0;
  std::size_t highShift_ = 0;
  // When the deferred array is read in slices: where they are, the file's text without the
  // array's items (what document_ reads), and the memory each slice is read from in turn.
  std::optional<Slicing> slicing_;
  std::unique_ptr<char[]> outline_;
  std::unique_ptr<char[]> slice_;
  od::parser sliceParser_;
  std::vector<std::size_t> open_;             // levels of the containers being read
  std::vector<std::vector<JsonValue>> levels_;  // items gathered so far, per level
  std::vector<bool> objects_;                  // per level: an object (else an array)
  std::size_t lastOffset_ = 0;
  std::size_t depthBase_ = 0;  // containers open around the values being read
  bool streaming_ = false;      // reading the items of the deferred array
  std::size_t item_index_ = 0;  // the item being read, while streaming
  bool keepStrings_ = true;    // plain strings are copied too (the top level)
  std::deque<std::string> kept_;      // for the life of the document
  std::deque<std::string> itemKept_;  // for the item being streamed
  Arena top_;
  Arena item_;
  Arena* arena_ = &top_;
};

JsonDocument::JsonDocument(std::string_view text, std::string name, std::string_view deferred)
    : text_(text), name_(std::move(name)), deferredKey_(deferred) {
  state_ = std::make_unique<State>(text_, *this);
  State& st = *state_;
  const char* parsed = text_.data();
  std::size_t parsedSize = text_.size();
  st.slicing_ = FindSlicing(text_, deferredKey_, kSliceSize);
  if (st.slicing_) {
    // simdjson indexes every bracket, comma and string of what it parses before it reads the
    // first value, into memory as large as the text: the array's items (nearly all of a big
    // file) are left out here and read a slice at a time from the same memory, which keeps
    // the work of the pages the kernel has to hand over and clear to the size of a slice.
    const std::size_t head = st.slicing_->open + 1;
    const std::size_t tail = text_.size() - st.slicing_->close;
    parsedSize = head + tail;
    st.outline_.reset(new char[parsedSize + simdjson::SIMDJSON_PADDING]);
    std::memcpy(st.outline_.get(), text_.data(), head);
    std::memcpy(st.outline_.get() + head, text_.data() + st.slicing_->close, tail);
    std::memset(st.outline_.get() + parsedSize, 0, simdjson::SIMDJSON_PADDING);
    parsed = st.outline_.get();
    st.Reading(parsed, head, 0, st.slicing_->close - head);
  }
  simdjson::error_code error =
      st.parser_.iterate(parsed, parsedSize, parsedSize + simdjson::SIMDJSON_PADDING)
          .get(st.document_);
  if (error != simdjson::SUCCESS) {
    if (error == simdjson::CAPACITY) {
      throw ModelError(name_ + ": the file is larger than the 4 GiB the reader can take");
    }
    SyntaxFail(0, std::string("syntax error: ") + simdjson::error_message(error));
  }
  JsonValue* root = st.top_.Take(1);
  try {
    st.Read(st.document_, *root);
    bool anyDeferred = false;
    for (const JsonValue& m : root->children) anyDeferred = anyDeferred || m.deferred;
    if (!anyDeferred) {
      const char* rest = nullptr;
      // The On-Demand API reads no further than asked; what follows the value is checked here.
      if (st.document_.current_location().get(rest) == simdjson::SUCCESS) throw SyntaxError();
      deferredKey_.clear();
    }
  } catch (const SyntaxError&) {
    SyntaxFail(st.lastOffset_, "syntax error");
  }
  root_ = root;
}

JsonDocument::~JsonDocument() = default;

void JsonDocument::SyntaxFail(std::size_t at, const std::string& fallback) const {
  std::string what = fallback;
  if (auto problem = FindSyntaxError(text_)) {
    at = problem->offset;
    what = problem->what;
  }
  throw ModelError(Where(at) + ": " + what + "\n" + Excerpt(text_, at));
}

std::size_t JsonDocument::StreamItems(ItemCallback& item) {
  if (deferredKey_.empty()) return 0;
  State& st = *state_;
  std::size_t count = 0;
  st.open_.clear();
  try {
    st.document_.rewind();
    od::object root;
    if (st.document_.get_object().get(root) != simdjson::SUCCESS) throw SyntaxError();
    for (auto member : root) {
      if (member.error() != simdjson::SUCCESS) throw SyntaxError();
      od::field& field = member.value_unsafe();
      std::size_t keyOffset = 0;
      if (st.Key(field, keyOffset) != deferredKey_) continue;
      od::array array;
      if (field.value().get_array().get(array) != simdjson::SUCCESS) throw SyntaxError();
      st.keepStrings_ = false;
      st.arena_ = &st.item_;
      st.depthBase_ = 2;
      st.streaming_ = true;
      if (st.slicing_) {
        count = StreamSlices(item);
        continue;
      }
      for (auto element : array) {
        od::value value;
        if (element.get(value) != simdjson::SUCCESS) throw SyntaxError();
        st.StreamItem(value, count++, item);
      }
    }
    const char* rest = nullptr;
    if (st.document_.current_location().get(rest) == simdjson::SUCCESS) throw SyntaxError();
  } catch (const SyntaxError&) {
    SyntaxFail(st.lastOffset_, "syntax error");
  }
  return count;
}

// Each slice, the items between two cuts, is read as an array of its own: '[', the items as
// they stand in the file, ']'. Offsets in it are the file's, shifted by where the slice starts.
std::size_t JsonDocument::StreamSlices(ItemCallback& item) {
  State& st = *state_;
  const Slicing& slicing = *st.slicing_;
  std::vector<std::size_t> bounds;  // where each slice starts, and where the last one ends
  bounds.push_back(slicing.open + 1);
  for (std::size_t cut : slicing.cuts) bounds.push_back(cut + 1);
  bounds.push_back(slicing.close + 1);
  std::size_t largest = 0;
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    largest = std::max(largest, bounds[k + 1] - bounds[k]);
  }
  // The slice ends where its comma or the closing bracket stands; both become ']'.
  if (!st.slice_) st.slice_.reset(new char[largest + 1 + simdjson::SIMDJSON_PADDING]);
  if (st.sliceParser_.allocate(largest + 1) != simdjson::SUCCESS) throw std::bad_alloc();
  std::size_t count = 0;
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    const std::size_t begin = bounds[k];
    const std::size_t length = bounds[k + 1] - 1 - begin;
    char* slice = st.slice_.get();
    slice[0] = '[';
    std::memcpy(slice + 1, text_.data() + begin, length);
    slice[length + 1] = ']';
    std::memset(slice + length + 2, 0, simdjson::SIMDJSON_PADDING);
    st.Reading(slice, 0, 0, begin - 1);
    od::document document;
    if (st.sliceParser_.iterate(slice, length + 2, length + 2 + simdjson::SIMDJSON_PADDING)
            .get(document) != simdjson::SUCCESS) {
      throw SyntaxError();
    }
    od::array array;
    if (document.get_array().get(array) != simdjson::SUCCESS) throw SyntaxError();
    for (auto element : array) {
      od::value value;
      if (element.get(value) != simdjson::SUCCESS) throw SyntaxError();
      st.StreamItem(value, count++, item);
    }
    const char* rest = nullptr;
    if (document.current_location().get(rest) == simdjson::SUCCESS) throw SyntaxError();
  }
  st.Reading(st.outline_.get(), slicing.open + 1, 0, slicing.close - slicing.open - 1);
  return count;
}

std::size_t JsonDocument::DeferredContainers() const {
  return state_->slicing_ ? state_->slicing_->containers : 0;
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

std::optional<SyntaxProblem> FindSyntaxError(std::string_view text) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  auto skip = [&] {
    while (i < n && IsSpace(text[i])) ++i;
  };
  auto problem = [](std::size_t offset, std::string what) {
    return std::optional<SyntaxProblem>(SyntaxProblem{offset, std::move(what)});
  };
  auto found = [&](std::size_t k) -> std::string {
    const auto c = static_cast<unsigned char>(text[k]);
    if (c >= 0x80) return "the byte 0x" + Hex4(c).substr(2);
    if (c < 0x20 || c == 0x7F) return "the control character U+" + Hex4(c);
    return std::string("'") + static_cast<char>(c) + "'";
  };

  // UTF-16 and UTF-32 texts start with a byte-order mark or have a zero byte beside the first
  // character.
  if (n >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') ||
                 (text[0] == '\xFE' && text[1] == '\xFF') || text[0] == '\0' || text[1] == '\0')) {
    return problem(0, "the file looks UTF-16 or UTF-32 encoded; a model file is UTF-8");
  }
  skip();
  if (i == n) {
    return problem(n, n == 0 ? "the file is empty; a model file holds one JSON object"
                             : "the file holds only white space; a model file holds one JSON "
                               "object");
  }
  if (text[i] == '<') {
    return problem(i,
                   "this looks like an XML document (it starts with '<'), not a JSON model "
                   "file; treexport reads model files (docs/model-format.md) and writes the XML");
  }

  enum class State { kValue, kValueOrClose, kKey, kKeyOrClose, kColon, kAfter };
  State state = State::kValue;
  std::vector<char> open;  // '{' or '['
  for (;;) {
    skip();
    if (i == n) {
      if (open.empty() && state == State::kAfter) return std::nullopt;
      return problem(n, "syntax error: the text ends before its JSON value does (cut off?)");
    }
    const char c = text[i];
    switch (state) {
      case State::kKeyOrClose:
      case State::kKey:
        if (state == State::kKeyOrClose && c == '}') {
          open.pop_back();
          ++i;
          state = State::kAfter;
          continue;
        }
        if (c != '"') {
          return problem(
              i, "syntax error: expected a member name in double quotes, found " + found(i));
        }
        break;  // the string scan below
      case State::kColon:
        if (c != ':') {
          return problem(i, "syntax error: expected ':' after the member name, found " + found(i));
        }
        ++i;
        state = State::kValue;
        continue;
      case State::kAfter:
        if (open.empty()) {
          return problem(i, "syntax error: text after the JSON value, starting with " + found(i));
        }
        if (c == ',') {
          ++i;
          state = open.back() == '{' ? State::kKey : State::kValue;
          continue;
        }
        if (c == (open.back() == '{' ? '}' : ']')) {
          open.pop_back();
          ++i;
          state = State::kAfter;
          continue;
        }
        return problem(i, open.back() == '{'
                              ? "syntax error: expected ',' or '}' after an object member, "
                                "found " +
                                    found(i)
                              : "syntax error: expected ',' or ']' after an array element, "
                                "found " +
                                    found(i));
      case State::kValueOrClose:
        if (c == ']') {
          open.pop_back();
          ++i;
          state = State::kAfter;
          continue;
        }
        [[fallthrough]];
      case State::kValue:
        if (c == '{' || c == '[') {
          open.push_back(c);
          ++i;
          state = c == '{' ? State::kKeyOrClose : State::kValueOrClose;
          continue;
        }
        if (c != '"') {
          std::size_t end = i;
          while (end < n && !EndsToken(text[end]) &&
                 static_cast<unsigned char>(text[end]) >= 0x20) {
            ++end;
          }
          const std::string_view token = text.substr(i, end - i);
          bool integral = false;
          if (token.empty()) return problem(i, "syntax error: expected a value, found " + found(i));
          if (token == "true" || token == "false" || token == "null" || token == "NaN" ||
              token == "Infinity" || token == "-Infinity" || IsJsonNumber(token, integral)) {
            i = end;
            state = State::kAfter;
            continue;
          }
          const auto first = static_cast<unsigned char>(token[0]);
          if (first == '-' || (first >= '0' && first <= '9')) {
            return problem(i, "syntax error: invalid number " + Shown(token));
          }
          if (first >= 0x80 || !std::isalpha(first)) {
            return problem(i, "syntax error: expected a value, found " + found(i));
          }
          return problem(i, "syntax error: invalid literal " + Shown(token) +
                                " (expected true, false, null or a number)");
        }
        break;  // the string scan below
    }

    // A string, at the opening quote.
    const std::size_t quote = i++;
    for (;;) {
      if (i >= n) return problem(quote, "syntax error: the string starting here is not closed");
      const auto b = static_cast<unsigned char>(text[i]);
      if (b == '"') {
        ++i;
        break;
      }
      if (b == '\\') {
        const char e = i + 1 < n ? text[i + 1] : '\0';
        if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' ||
            e == 't') {
          i += 2;
          continue;
        }
        if (e != 'u') {
          return problem(i, "syntax error: invalid escape " +
                                (i + 1 < n ? "\\" + Printable(text.substr(i + 1, 1))
                                           : std::string("at the end of the text")));
        }
        const long code = Escape4(text, i);
        if (code < 0) return problem(i, "syntax error: \\u needs four hexadecimal digits");
        if (code >= 0xDC00 && code <= 0xDFFF) {
          return problem(i, "syntax error: \\u" + Hex4(static_cast<uint32_t>(code)) +
                                " is a lone UTF-16 low surrogate");
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
          const long low = Escape4(text, i + 6);
          if (low < 0xDC00 || low > 0xDFFF) {
            return problem(i, "syntax error: \\u" + Hex4(static_cast<uint32_t>(code)) +
                                  " is a UTF-16 high surrogate without a low one after it");
          }
          i += 12;
          continue;
        }
        i += 6;
        continue;
      }
      if (b < 0x20) {
        return problem(i, "syntax error: the control character U+" + Hex4(b) +
                              " must be escaped inside a string");
      }
      const std::size_t length = Utf8Length(text, i);
      if (length == 0) return problem(i, "syntax error: invalid UTF-8 (" + found(i) + ")");
      i += length;
    }
    state = (state == State::kKey || state == State::kKeyOrClose) ? State::kColon : State::kAfter;
  }
}

std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\r':
        out += "\\r";
        continue;
      default:
        break;
    }
    uint32_t control = 0x100;
    if (c < 0x20 || c == 0x7F) {
      control = c;
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      control = static_cast<unsigned char>(text[++i]);  // a C1 control, U+0080 to U+009F
    } else if (c >= 0x80 && Utf8Length(text, i) == 0) {
      out += "\\x";  // not UTF-8: the byte in hex
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
      continue;
    }
    if (control == 0x100) {
      out += static_cast<char>(c);
      continue;
    }
    out += "\\u00";
    out += kHex[control >> 4];
    out += kHex[control & 0xF];
  }
  return out;
}

std::string MemberPath(const std::string& path, std::string_view key) {
  const bool plain = !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
  if (plain) return path.empty() ? std::string(key) : path + "." + std::string(key);
  return path + "[\"" + Printable(key) + "\"]";
}

std::optional<BadCharacter> FindNonXmlCharacter(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (!XmlAllows(c)) return BadCharacter{i, c};
      ++i;
      continue;
    }
    const std::size_t length = Utf8Length(text, i);
    if (length == 0) {
      // Encoded surrogates (0xED 0xA0 to 0xBF) are named as such; anything else is no UTF-8.
      if (c == 0xED && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0xA0 &&
          static_cast<unsigned char>(text[i + 1]) <= 0xBF &&
          (static_cast<unsigned char>(text[i + 2]) & 0xC0) == 0x80) {
        return BadCharacter{i, 0xD000u | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                                   (static_cast<unsigned char>(text[i + 2]) & 0x3Fu)};
      }
      return BadCharacter{i, kNotUtf8};
    }
    if (length == 3 && c == 0xEF && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
      return BadCharacter{i, static_cast<unsigned char>(text[i + 2]) == 0xBE ? 0xFFFEu : 0xFFFFu};
    }
    i += length;
  }
  return std::nullopt;
}

std::string DescribeNonXmlCharacter(uint32_t code) {
  if (code == kNotUtf8) return "a byte that is not UTF-8";
  std::string what = "U+" + Hex4(code);
  if (code < 0x20) return what + " (a control character)";
  if (code >= 0xD800 && code <= 0xDFFF) return what + " (a lone surrogate)";
  return what + " (a noncharacter)";
}

}  // namespace memtree::detail
