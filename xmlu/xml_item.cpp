#include "xmlu/xml_item.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <utility>

#include "xmlu/number_text.h"
#include "xmlu/utf8.h"

namespace xmlu {

namespace {

// Which bytes need an entity, and which, for attribute values and for character data.
struct EscapeTable {
  bool attribute[256] = {};
  bool text[256] = {};
  EscapeTable() {
    for (unsigned char c : {'&', '<', '>', '"'}) attribute[c] = true;
    for (unsigned char c : {'&', '<'}) text[c] = true;
  }
};
const EscapeTable kEscape;

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

// Where serialised text goes: the document's buffer, or only a count of its bytes, so that the
// buffer can be allocated once at its final size.
class TextSink {
 public:
  explicit TextSink(std::string& out) : out_(out) {}
  void Append(const char* s, std::size_t n) { out_.append(s, n); }
  void Append(const std::string& s) { out_.append(s); }
  void Put(char c) { out_.push_back(c); }
  void Repeat(std::size_t n, char c) { out_.append(n, c); }
  void Item(XMLInterface& item, XMLWriteState& state) { item.Write(out_, state); }

 private:
  std::string& out_;
};

class SizeSink {
 public:
  void Append(const char*, std::size_t n) { size_ += n; }
  void Append(const std::string& s) { size_ += s.size(); }
  void Put(char) { ++size_; }
  void Repeat(std::size_t n, char) { size_ += n; }
  // Character data and document types are rare: they write into scratch space to be counted.
  void Item(XMLInterface& item, XMLWriteState& state) {
    scratch_.clear();
    item.Write(scratch_, state);
    size_ += scratch_.size();
  }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_ = 0;
  std::string scratch_;
};

template <class Sink>
void AppendEscaped(Sink& out, const std::string& text, const bool (&special)[256]) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    const char* run = p;
    while (p != end && !special[static_cast<unsigned char>(*p)]) ++p;
    out.Append(run, static_cast<std::size_t>(p - run));
    if (p == end) break;
    const char* entity = Entity(*p);
    out.Append(entity, std::strlen(entity));
    ++p;
  }
}

template <class Sink>
void WriteAttribute(Sink& out, const XMLAttribute& attribute) {
  out.Append(attribute.GetName());
  out.Append("=\"", 2);
  AppendEscaped(out, attribute.GetValue(), kEscape.attribute);
  out.Put('"');
}

// Takes ownership of item whatever happens to the list.
void Append(std::vector<XMLInterface*>& list, XMLInterface* item) {
  try {
    // Most elements have a few attributes and children: one allocation instead of three.
    if (list.capacity() == 0) list.reserve(4);
    list.push_back(item);
  } catch (...) {
    delete item;
    throw;
  }
}

// "<name" and its attributes, on lines of their own when the layout asks for them.
template <class Sink>
void OpenTag(Sink& out, XMLWriteState& state, const XMLElement& element, int depth) {
  if (state.pretty && state.newLine) out.Put('\n');
  if (state.pretty && state.indent && depth > 0) out.Repeat(static_cast<std::size_t>(depth), '\t');
  out.Put('<');
  out.Append(element.GetName());
  if (element.GetAttributes().empty()) return;
  ++state.depth;
  for (XMLInterface* attribute : element.GetAttributes()) {
    out.Put(state.pretty && state.newLine ? '\n' : ' ');
    if (state.pretty && state.indent && state.depth > 0) {
      out.Repeat(static_cast<std::size_t>(state.depth), '\t');
    }
    // Attribute lists hold nothing else: AddAttribute takes only attributes.
    WriteAttribute(out, *static_cast<const XMLAttribute*>(attribute));
  }
  --state.depth;
}

template <class Sink>
void CloseTag(Sink& out, XMLWriteState& state, const XMLElement& element, int depth) {
  if (state.pretty) {
    if (state.newLine) out.Put('\n');
    if (state.indent && depth > 0) out.Repeat(static_cast<std::size_t>(depth), '\t');
  }
  out.Append("</", 2);
  out.Append(element.GetName());
  out.Put('>');
}

// The element and everything below it, walked with an explicit stack: the same bytes as writing
// each child from its parent's Write, without a native stack frame per level.
template <class Sink>
void WriteTree(Sink& out, XMLWriteState& state, const XMLElement& top) {
  // The elements whose end tags are still to come, with the depth of their start tags and the
  // next child to write.
  struct Open {
    const XMLElement* element;
    int depth;
    std::size_t next;
  };
  std::vector<Open> stack;
  const XMLElement* element = &top;
  for (;;) {
    const int depth = state.depth;
    OpenTag(out, state, *element, depth);
    if (element->GetChildren().empty()) {
      out.Append("/>", 2);
      state.newLine = true;
      state.indent = true;
    } else {
      out.Put('>');
      ++state.depth;
      stack.push_back({element, depth, 0});
    }
    element = nullptr;
    while (!stack.empty() && element == nullptr) {
      Open& open = stack.back();
      if (open.next == open.element->GetChildren().size()) {
        --state.depth;
        CloseTag(out, state, *open.element, open.depth);
        state.newLine = true;
        state.indent = true;
        stack.pop_back();
        continue;
      }
      XMLInterface* child = open.element->GetChildren()[open.next++];
      element = child->AsElement();
      if (element == nullptr) out.Item(*child, state);
    }
    if (element == nullptr) return;
  }
}

}  // namespace

XMLInterface::~XMLInterface() = default;

XMLAttribute::XMLAttribute(std::string name, std::string value)
    : name_(std::move(name)), value_(std::move(value)) {}

int XMLAttribute::Write(std::string& out, XMLWriteState&) {
  TextSink sink(out);
  WriteAttribute(sink, *this);
  return 0;
}

XMLString::XMLString(std::string text) : text_(std::move(text)) {}

int XMLString::Write(std::string& out, XMLWriteState& state) {
  state.newLine = false;
  state.indent = false;
  AppendEscapedText(out, text_);
  return 0;
}

XMLDocType::XMLDocType(std::string name, std::string dtdFile)
    : name_(std::move(name)), dtdFile_(std::move(dtdFile)) {}

int XMLDocType::Write(std::string& out, XMLWriteState&) {
  out.append("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<!DOCTYPE ");
  out.append(name_);
  return 0;
}

XMLElement::XMLElement(std::string name) : name_(std::move(name)) {}

XMLElement::~XMLElement() {
  for (XMLInterface* attribute : attributes_) delete attribute;
  // Children in list order, each with everything below it before its next sibling, without
  // recursion: an element's children are taken off it before it is deleted (so its destructor
  // deletes only its attributes) and pushed last first, so that its first child goes next.
  std::vector<XMLInterface*> pending(children_.rbegin(), children_.rend());
  children_.clear();
  std::vector<XMLInterface*> below;
  while (!pending.empty()) {
    XMLInterface* item = pending.back();
    pending.pop_back();
    below.clear();
    if (XMLElement* element = item->AsElement()) below.swap(element->children_);
    delete item;
    pending.insert(pending.end(), below.rbegin(), below.rend());
  }
}

void XMLElement::AddAttribute(XMLAttribute* attribute) { Append(attributes_, attribute); }

void XMLElement::AddAttribute(const std::string& name, const std::string& value) {
  AddAttribute(NewAttribute(name, value));
}

void XMLElement::AddAttribute(const std::string& name, double value) {
  AddAttribute(NewAttribute(name, value));
}

int XMLElement::AddChild(XMLInterface* item) {
  Append(children_, item);
  return static_cast<int>(children_.size());
}

int XMLElement::Write(std::string& out, XMLWriteState& state) {
  // Counting first costs a walk but lets the buffer be allocated once: a doubling string would
  // copy the text and touch twice its size in fresh pages on a document of gigabytes.
  XMLWriteState counted = state;
  SizeSink size;
  WriteTree(size, counted, *this);
  const std::size_t needed = out.size() + size.size();
  if (needed > out.capacity()) out.reserve(std::max(needed, 2 * out.capacity()));
  TextSink text(out);
  WriteTree(text, state, *this);
  return 0;
}

std::vector<XMLInterface*> XMLElement::ReleaseChildren() {
  std::vector<XMLInterface*> children;
  children.swap(children_);
  return children;
}

XMLTextWriter::XMLTextWriter(std::string& out, XMLWriteState& state) : out_(out), state_(state) {}

void XMLTextWriter::Reserve(std::size_t bytes) {
  out_.reserve(bytes);
  // A buffer of gigabytes is faulted in page by page as it fills; huge pages make that a
  // five-hundredth as many faults. Only a hint: the kernel may refuse, and nothing changes.
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const auto begin = reinterpret_cast<std::uintptr_t>(out_.data());
  const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (begin + out_.capacity()) & ~(kHuge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void XMLTextWriter::BeginContent() {
  OpenElement& top = open_.back();
  if (top.startTagDone) return;
  out_.push_back('>');
  ++state_.depth;
  top.startTagDone = true;
}

void XMLTextWriter::Open(XMLElement& element) {
  if (!open_.empty()) {
    Flush();
    BeginContent();
  }
  TextSink sink(out_);
  const int depth = state_.depth;
  OpenTag(sink, state_, element, depth);
  open_.push_back({&element, depth, false});
  Flush();
}

void XMLTextWriter::Flush() {
  std::vector<XMLInterface*> children = open_.back().element->ReleaseChildren();
  std::size_t written = 0;
  try {
    TextSink sink(out_);
    for (XMLInterface* child : children) {
      BeginContent();
      if (const XMLElement* element = child->AsElement()) {
        WriteTree(sink, state_, *element);
      } else {
        child->Write(out_, state_);
      }
      delete child;
      ++written;
    }
  } catch (...) {
    for (std::size_t i = written; i < children.size(); ++i) delete children[i];
    throw;
  }
}

void XMLTextWriter::Close() {
  Flush();
  const OpenElement top = open_.back();
  open_.pop_back();
  TextSink sink(out_);
  if (top.startTagDone) {
    --state_.depth;
    CloseTag(sink, state_, *top.element, top.depth);
  } else {
    sink.Append("/>", 2);
  }
  state_.newLine = true;
  state_.indent = true;
}

void OpenIfWriting(XMLTextWriter* writer, XMLElement& element) {
  if (writer != nullptr) writer->Open(element);
}

void CloseOrAppend(XMLTextWriter* writer, std::unique_ptr<XMLElement> element, XMLElement* parent) {
  if (writer != nullptr) {
    writer->Close();
  } else {
    parent->AddChild(element.release());
  }
}

XMLElement* NewElement(const std::string& name) { return new XMLElement(name); }

XMLAttribute* NewAttribute(const std::string& name, const std::string& value) {
  return new XMLAttribute(name, value);
}

XMLAttribute* NewAttribute(const std::string& name, double value) {
  return new XMLAttribute(name, FormatNumber(value));
}

XMLString* NewString(const std::string& text) { return new XMLString(text); }

XMLDocType* NewDocType(const std::string& name, const std::string& dtdFile) {
  return new XMLDocType(name, dtdFile);
}

std::string Indent(int n) { return n > 0 ? std::string(static_cast<std::size_t>(n), '\t') : ""; }

void ReplaceAll(std::string& text, const char* pattern, const std::string& replacement) {
  const std::size_t length = std::strlen(pattern);
  std::size_t p = 0;
  while (p <= text.size()) {
    const std::size_t q = text.find(pattern, p, length);
    if (q == std::string::npos) return;
    text.replace(q, length, replacement);
    p = q + replacement.size();
    if (length == 0) ++p;  // an empty pattern matches everywhere; move on rather than loop
  }
}

void WriteDocument(XMLOutput& output, const std::string& text) {
  std::string converted;
  PutBytes(output, ToUtf8(text, converted));
}

void PutBytes(XMLOutput& output, const std::string& bytes) {
  output.stream->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void AppendEscapedAttribute(std::string& out, const std::string& text) {
  TextSink sink(out);
  AppendEscaped(sink, text, kEscape.attribute);
}

void AppendEscapedText(std::string& out, const std::string& text) {
  TextSink sink(out);
  AppendEscaped(sink, text, kEscape.text);
}

}  // namespace xmlu
