#include "xmlu/xml_item.h"

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

void AppendEscaped(std::string& out, const std::string& text, const bool (&special)[256]) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    const char* run = p;
    while (p != end && !special[static_cast<unsigned char>(*p)]) ++p;
    out.append(run, static_cast<std::size_t>(p - run));
    if (p == end) break;
    out.append(Entity(*p));
    ++p;
  }
}

// Takes ownership of item whatever happens to the list.
void Append(std::vector<XMLInterface*>& list, XMLInterface* item) {
  try {
    list.push_back(item);
  } catch (...) {
    delete item;
    throw;
  }
}

// "<name" and its attributes, on lines of their own when the layout asks for them.
void OpenTag(std::string& out, XMLWriteState& state, const XMLElement& element, int depth) {
  if (state.pretty && state.newLine) out.push_back('\n');
  if (state.pretty && state.indent && depth > 0) out.append(static_cast<std::size_t>(depth), '\t');
  out.push_back('<');
  out.append(element.GetName());
  if (element.GetAttributes().empty()) return;
  ++state.depth;
  for (XMLInterface* attribute : element.GetAttributes()) {
    if (state.pretty && state.newLine) {
      out.push_back('\n');
    } else {
      out.push_back(' ');
    }
    if (state.pretty && state.indent && state.depth > 0) {
      out.append(static_cast<std::size_t>(state.depth), '\t');
    }
    attribute->Write(out, state);
  }
  --state.depth;
}

void CloseTag(std::string& out, XMLWriteState& state, const XMLElement& element, int depth) {
  if (state.pretty) {
    if (state.newLine) out.push_back('\n');
    if (state.indent && depth > 0) out.append(static_cast<std::size_t>(depth), '\t');
  }
  out.append("</");
  out.append(element.GetName());
  out.push_back('>');
}

}  // namespace

XMLInterface::~XMLInterface() = default;

XMLAttribute::XMLAttribute(std::string name, std::string value)
    : name_(std::move(name)), value_(std::move(value)) {}

int XMLAttribute::Write(std::string& out, XMLWriteState&) {
  out.append(name_);
  out.append("=\"");
  AppendEscapedAttribute(out, value_);
  out.push_back('"');
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
  // Children's lists are moved onto one work list before the child goes, so no destructor
  // ever runs another element's destructor with a non-empty child list.
  std::vector<XMLInterface*> pending;
  pending.swap(children_);
  for (XMLInterface* attribute : attributes_) delete attribute;
  while (!pending.empty()) {
    XMLInterface* item = pending.back();
    pending.pop_back();
    if (auto* element = dynamic_cast<XMLElement*>(item)) {
      pending.insert(pending.end(), element->children_.begin(), element->children_.end());
      element->children_.clear();
    }
    delete item;
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
  // The elements whose end tags are still to come, with the depth of their start tags and the
  // next child to write. Gives the same bytes as writing each child from its parent's Write.
  struct Open {
    const XMLElement* element;
    int depth;
    std::size_t next;
  };
  std::vector<Open> stack;
  const XMLElement* element = this;
  for (;;) {
    const int depth = state.depth;
    OpenTag(out, state, *element, depth);
    if (element->children_.empty()) {
      out.append("/>");
      state.newLine = true;
      state.indent = true;
    } else {
      out.push_back('>');
      ++state.depth;
      stack.push_back({element, depth, 0});
    }
    element = nullptr;
    while (!stack.empty() && element == nullptr) {
      Open& top = stack.back();
      if (top.next == top.element->children_.size()) {
        --state.depth;
        CloseTag(out, state, *top.element, top.depth);
        state.newLine = true;
        state.indent = true;
        stack.pop_back();
        continue;
      }
      XMLInterface* child = top.element->children_[top.next++];
      element = dynamic_cast<const XMLElement*>(child);
      if (element == nullptr) child->Write(out, state);
    }
    if (element == nullptr) return 0;
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

void WriteDocument(XMLOutput& output, const std::string& text) { PutBytes(output, ToUtf8(text)); }

void PutBytes(XMLOutput& output, const std::string& bytes) {
  output.stream->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void AppendEscapedAttribute(std::string& out, const std::string& text) {
  AppendEscaped(out, text, kEscape.attribute);
}

void AppendEscapedText(std::string& out, const std::string& text) {
  AppendEscaped(out, text, kEscape.text);
}

}  // namespace xmlu
