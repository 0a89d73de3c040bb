#include "xmlu/markup_writer.h"

#include <sys/mman.h>

#include <cassert>
#include <typeinfo>

#include "xmlu/text_sink.h"

namespace xmlu {

namespace {

using markup_detail::kBreakAndTabs;
using markup_detail::kEscape;
using markup_detail::kTabRun;

const char* Entity(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    default:
      return "&quot;";
  }
}

// Appends text with the special bytes replaced: safe runs in one call each.
void AppendEscaped(std::string& out, std::string_view text, const bool (&special)[256]) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    const char* run = p;
    while (p != end && !special[static_cast<unsigned char>(*p)]) ++p;
    out.append(run, static_cast<std::size_t>(p - run));
    if (p == end) break;
    out.append(Entity(*p++));
  }
}

}  // namespace

void AppendEscapedAttribute(std::string& out, std::string_view text) {
  AppendEscaped(out, text, kEscape.attribute);
}

void AppendEscapedText(std::string& out, std::string_view text) {
  AppendEscaped(out, text, kEscape.text);
}

MarkupWriter::MarkupWriter(std::string& out, XMLWriteState& state)
    : block_(new char[kBlockSize]),
      pos_(block_.get()),
      limit_(block_.get() + kBlockSize),
      out_(&out),
      sink_(nullptr),
      state_(state) {}

MarkupWriter::MarkupWriter(TextSink& sink, XMLWriteState& state)
    : block_(new char[kBlockSize]),
      pos_(block_.get()),
      limit_(block_.get() + kBlockSize),
      out_(nullptr),
      sink_(&sink),
      state_(state) {}

MarkupWriter::~MarkupWriter() {
  if (out_ == nullptr) return;
  try {
    Flush();
  } catch (...) {
    // Only an allocation can fail here, while the stack unwinds or the caller forgot to
    // Flush; the string then lacks the last block, as a failed write leaves it.
  }
}

void MarkupWriter::HandOn() {
  const std::size_t size = static_cast<std::size_t>(pos_ - block_.get());
  if (size == 0) return;
  if (sink_ != nullptr) {
    sink_->Write(block_.get(), size);
  } else {
    out_->append(block_.get(), size);
  }
  handed_ += size;
  pos_ = block_.get();
}

void MarkupWriter::PutAcrossBlocks(const char* data, std::size_t size) {
  while (size > 0) {
    if (pos_ == limit_) HandOn();
    const std::size_t room = static_cast<std::size_t>(limit_ - pos_);
    const std::size_t n = size < room ? size : room;
    std::memcpy(pos_, data, n);
    pos_ += n;
    data += n;
    size -= n;
  }
}

void MarkupWriter::Flush() { HandOn(); }

void MarkupWriter::Reserve(std::size_t bytes) {
  if (out_ == nullptr || bytes <= handed_) return;
  out_->reserve(out_->size() + (bytes - handed_));
  // A buffer of gigabytes is faulted in page by page as it fills; huge pages make that a
  // five-hundredth as many faults. Only a hint: the kernel may refuse, and nothing changes.
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const auto begin = reinterpret_cast<std::uintptr_t>(out_->data());
  const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (begin + out_->capacity()) & ~(kHuge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void MarkupWriter::Indentation(bool lineBreak, int32_t depth) {
  const bool tabs = state_.pretty && state_.indent && depth > 0;
  if (!tabs) {
    if (lineBreak) Put('\n');
    return;
  }
  if (depth <= kTabRun && limit_ - pos_ >= kTabRun + 1) {
    pos_ = PutLineStart(pos_, lineBreak, true, depth);
    return;
  }
  const char* run = lineBreak ? kBreakAndTabs : kBreakAndTabs + 1;
  while (depth > kTabRun) {
    Put(run, (lineBreak ? 1 : 0) + static_cast<std::size_t>(kTabRun));
    depth -= kTabRun;
    run = kBreakAndTabs + 1;
    lineBreak = false;
  }
  Put(run, (lineBreak ? 1 : 0) + static_cast<std::size_t>(depth));
}

void MarkupWriter::Escaped(std::string_view text, const bool (&special)[256]) {
  const char* p = text.data();
  const char* const end = p + text.size();
  if (text.size() <= kShortName && Room(pos_) >= kShortName && !HasSpecial(text, special)) {
    // Most of a document's strings are short names with nothing to escape.
    pos_ = PutShort(pos_, text);
    return;
  }
  while (p != end) {
    const char* run = p;
    while (p != end && !special[static_cast<unsigned char>(*p)]) ++p;
    Put(run, static_cast<std::size_t>(p - run));
    if (p == end) break;
    const char* entity = Entity(*p++);
    Put(entity, std::strlen(entity));
  }
}

void MarkupWriter::BeginContent() {
  if (open_.empty()) return;
  Open& top = open_.back();
  if (top.contentStarted) return;
  Put('>');
  ++state_.depth;
  top.contentStarted = true;
}

void MarkupWriter::StartElementInGeneral(std::string_view name) {
  const int32_t depth = state_.depth;
  Indentation(state_.pretty && state_.newLine, depth);
  Put('<');
  Put(name.data(), name.size());
  open_.push_back({name, depth, false});
}

// The separator, indentation, name, "=" and opening quote of an attribute.
void MarkupWriter::AttributeName(std::string_view name) {
  assert(!open_.empty() && !open_.back().contentStarted);
  const bool lineBreak = state_.pretty && state_.newLine;
  if (!lineBreak) Put(' ');
  Indentation(lineBreak, state_.depth + 1);
  Put(name.data(), name.size());
  Put("=\"", 2);
}

char* MarkupWriter::NumberText(char* to, double value) {
  // Small whole numbers have a fast path of their own (FormatNumberTo), and -0.0 is not one.
  constexpr double kExactIntegers = 1e15;
  if (value > -kExactIntegers && value < kExactIntegers && value != 0 &&
      static_cast<double>(static_cast<long long>(value)) == value) {
    return FormatNumberTo(to, value);
  }
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  CachedNumber& cached = numbers_[(bits * 0x9E3779B97F4A7C15u) >> (64 - kNumberCacheBits)];
  static_assert(sizeof cached.text <= kNumberTextSize, "the whole entry fits the room given");
  if (cached.size != 0 && cached.bits == bits) {
    std::memcpy(to, cached.text, sizeof cached.text);
    return to + cached.size;
  }
  char* end = FormatNumberTo(to, value);
  cached.bits = bits;
  cached.size = static_cast<uint8_t>(end - to);
  std::memcpy(cached.text, to, cached.size);
  return end;
}

void MarkupWriter::NumberAcrossBlocks(double value) {
  char text[kNumberTextSize];
  const char* end = NumberText(text, value);
  Put(text, static_cast<std::size_t>(end - text));
  Put('"');
}

void MarkupWriter::Text(std::string_view text) {
  BeginContent();
  Escaped(text, kEscape.text);
  state_.newLine = false;
  state_.indent = false;
}

void MarkupWriter::EndElementInGeneral() {
  assert(!open_.empty());
  const Open top = open_.back();
  open_.pop_back();
  char* p = pos_;
  if (!top.contentStarted) {
    Put("/>", 2);  // EndElement writes it itself when the block has room
  } else {
    const XMLWriteState state = state_;
    --state_.depth;
    if (top.depth <= kTabRun && top.name.size() <= kShortName &&
        static_cast<std::size_t>(limit_ - p) >= (kTabRun + 1) + 2 + kShortName + 1) {
      // As Indentation and Put would write it, the room checked once.
      if (state.pretty)
        p = PutLineStart(p, state.newLine, state.indent && top.depth > 0, top.depth);
      p[0] = '<';
      p[1] = '/';
      p = PutShort(p + 2, top.name);
      *p = '>';
      pos_ = p + 1;
    } else {
      if (state.pretty) Indentation(state.newLine, top.depth);
      Put("</", 2);
      Put(top.name.data(), top.name.size());
      Put('>');
    }
  }
  state_.newLine = true;
  state_.indent = true;
}

void MarkupWriter::Item(XMLInterface& item) {
  XMLElement* element = item.AsElement();
  if (element == nullptr) {
    BeginContent();
    if (typeid(item) == typeid(XMLString)) {
      Text(static_cast<XMLString&>(item).GetText());
    } else {
      // A document type (which has no place in content but is written as asked) or an item
      // of the caller's own: it writes itself.
      std::string text;
      item.Write(text, state_);
      Put(text.data(), text.size());
    }
    return;
  }
  // The elements whose end tags are still to come, with the next child to write.
  struct Pending {
    XMLElement* element;
    std::size_t next;
  };
  std::vector<Pending> stack;
  for (;;) {
    StartElement(element->GetName());
    for (const XMLInterface* attribute : element->GetAttributes()) {
      // Attribute lists hold nothing else: AddAttribute takes only attributes.
      const auto& a = *static_cast<const XMLAttribute*>(attribute);
      Attribute(a.GetName(), a.GetValue());
    }
    stack.push_back({element, 0});
    element = nullptr;
    while (!stack.empty() && element == nullptr) {
      Pending& top = stack.back();
      const std::vector<XMLInterface*>& children = top.element->GetChildren();
      if (top.next == children.size()) {
        EndElement();
        stack.pop_back();
        continue;
      }
      XMLInterface* child = children[top.next++];
      element = child->AsElement();
      if (element == nullptr) Item(*child);
    }
    if (element == nullptr) return;
  }
}

void MarkupWriter::Raw(std::string_view text) { Put(text.data(), text.size()); }

}  // namespace xmlu
