#include "xmlu/xml_item.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <utility>

#include "xmlu/markup_writer.h"
#include "xmlu/number_text.h"
#include "xmlu/utf8.h"

namespace xmlu {

namespace {

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

}  // namespace

XMLInterface::~XMLInterface() = default;

XMLAttribute::XMLAttribute(std::string name, std::string value)
    : name_(std::move(name)), value_(std::move(value)) {}

int XMLAttribute::Write(std::string& out, XMLWriteState&) {
  out.append(name_);
  out.append("=\"", 2);
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
  MarkupWriter writer(out, state);
  writer.Item(*this);
  writer.Flush();
  return 0;
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

void WritePieces(TextSink& out, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += MarkupWriter::kBlockSize) {
    out.Write(bytes.data() + at, std::min(MarkupWriter::kBlockSize, bytes.size() - at));
  }
}

}  // namespace xmlu
