#include "xmlu/markup_writer.h"

#include <cassert>

#include "xmlu/number_text.h"
#include "xmlu/text_sink.h"

namespace xmlu {

namespace {

// A line break followed by tabs: the break and the indentation of a line in one run.
constexpr char kBreakAndTabs[] =
    "\n\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t"
    "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
constexpr int32_t kTabRun = sizeof kBreakAndTabs - 2;

}  // namespace

MarkupWriter::MarkupWriter(std::string& out, XMLWriteState& state)
    : out_(&out), sink_(nullptr), state_(state) {}

MarkupWriter::MarkupWriter(TextSink& sink, XMLWriteState& state)
    : out_(&own_), sink_(&sink), state_(state) {
  // A little more than a block, so that the element that crosses the line rarely regrows it.
  own_.reserve(kBlockSize + kBlockSize / 4);
}

MarkupWriter::~MarkupWriter() = default;

void MarkupWriter::Indentation(bool lineBreak, int32_t depth) {
  const bool tabs = state_.pretty && state_.indent && depth > 0;
  if (!tabs) {
    if (lineBreak) out_->push_back('\n');
    return;
  }
  const char* run = lineBreak ? kBreakAndTabs : kBreakAndTabs + 1;
  while (depth > kTabRun) {
    out_->append(run, (lineBreak ? 1 : 0) + static_cast<std::size_t>(kTabRun));
    depth -= kTabRun;
    run = kBreakAndTabs + 1;
    lineBreak = false;
  }
  out_->append(run, (lineBreak ? 1 : 0) + static_cast<std::size_t>(depth));
}

void MarkupWriter::BeginContent() {
  if (open_.empty()) return;
  Open& top = open_.back();
  if (top.contentStarted) return;
  out_->push_back('>');
  ++state_.depth;
  top.contentStarted = true;
}

void MarkupWriter::StartElement(std::string_view name) {
  BeginContent();
  const int32_t depth = state_.depth;
  Indentation(state_.pretty && state_.newLine, depth);
  out_->push_back('<');
  out_->append(name.data(), name.size());
  open_.push_back({name, depth, false});
  HandOnFullBlock();
}

void MarkupWriter::Attribute(std::string_view name, std::string_view value) {
  assert(!open_.empty() && !open_.back().contentStarted);
  const bool lineBreak = state_.pretty && state_.newLine;
  if (!lineBreak) out_->push_back(' ');
  Indentation(lineBreak, state_.depth + 1);
  out_->append(name.data(), name.size());
  out_->append("=\"", 2);
  AppendEscapedAttribute(*out_, value);
  out_->push_back('"');
  HandOnFullBlock();
}

void MarkupWriter::Attribute(std::string_view name, double value) {
  char text[kNumberTextSize];
  const char* end = FormatNumberTo(text, value);
  // Number text never holds a character that needs an entity.
  assert(!open_.empty() && !open_.back().contentStarted);
  const bool lineBreak = state_.pretty && state_.newLine;
  if (!lineBreak) out_->push_back(' ');
  Indentation(lineBreak, state_.depth + 1);
  out_->append(name.data(), name.size());
  out_->append("=\"", 2);
  out_->append(text, static_cast<std::size_t>(end - text));
  out_->push_back('"');
  HandOnFullBlock();
}

void MarkupWriter::Text(std::string_view text) {
  BeginContent();
  AppendEscapedText(*out_, text);
  state_.newLine = false;
  state_.indent = false;
  HandOnFullBlock();
}

void MarkupWriter::EndElement() {
  assert(!open_.empty());
  const Open top = open_.back();
  open_.pop_back();
  if (top.contentStarted) {
    --state_.depth;
    if (state_.pretty) Indentation(state_.newLine, top.depth);
    out_->append("</", 2);
    out_->append(top.name.data(), top.name.size());
    out_->push_back('>');
  } else {
    out_->append("/>", 2);
  }
  state_.newLine = true;
  state_.indent = true;
  HandOnFullBlock();
}

void MarkupWriter::Item(XMLInterface& item) {
  XMLElement* element = item.AsElement();
  if (element == nullptr) {
    // Character data (or a document type, which has no place in content but is written as
    // asked): the item writes itself into the buffer.
    BeginContent();
    item.Write(*out_, state_);
    HandOnFullBlock();
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
      if (element == nullptr) {
        BeginContent();
        child->Write(*out_, state_);
      }
    }
    if (element == nullptr) return;
  }
}

void MarkupWriter::Raw(std::string_view text) {
  out_->append(text.data(), text.size());
  HandOnFullBlock();
}

void MarkupWriter::Reserve(std::size_t bytes) {
  if (sink_ == nullptr) out_->reserve(out_->size() + bytes);
}

void MarkupWriter::Flush() {
  if (sink_ == nullptr || own_.empty()) return;
  sink_->Write(own_.data(), own_.size());
  handed_ += own_.size();
  own_.clear();
}

}  // namespace xmlu
