// The layout engine and the item tree: layout, escaping and ownership; number text; UTF-8.
#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/double_sample.h"
#include "tests/support/stack.h"
#include "xmlu/markup_writer.h"
#include "xmlu/number_text.h"
#include "xmlu/text_sink.h"
#include "xmlu/utf8.h"
#include "xmlu/xml_item.h"

namespace {

using xmlu::XMLElement;
using xmlu::XMLInterface;

std::string Serialise(XMLElement& root, bool pretty = true) {
  std::string out;
  xmlu::XMLWriteState state;
  state.pretty = pretty;
  root.Write(out, state);
  return out;
}

// A new element with these attributes and children; the caller owns it.
XMLElement* E(const std::string& name,
              const std::vector<std::pair<std::string, std::string>>& attributes = {},
              const std::vector<XMLInterface*>& children = {}) {
  XMLElement* e = xmlu::NewElement(name);
  for (const auto& [key, value] : attributes) e->AddAttribute(key, value);
  for (XMLInterface* child : children) e->AddChild(child);
  return e;
}

XMLInterface* T(const std::string& text) { return xmlu::NewString(text); }

TEST(ElementWrite, LayoutAndEscapingBytes) {
  const std::string raw = "a&b<c>d\"e'f&amp;";
  const struct {
    XMLElement* tree;
    const char* pretty;
    const char* plain;
  } cases[] = {
      // Attributes on lines of their own, the start tag closed on the last one.
      {E("a", {{"x", "1"}, {"y", ""}}, {E("b"), E("c", {{"z", "2.5"}}), E("d", {}, {T("hi")})}),
       "\n<a\n\tx=\"1\"\n\ty=\"\">\n\t<b/>\n\t<c\n\t\tz=\"2.5\"/>\n\t<d>hi</d>\n</a>",
       "<a x=\"1\" y=\"\"><b/><c z=\"2.5\"/><d>hi</d></a>"},
      // q follows the text directly with blank-separated attributes; r is on a new line again;
      // in s the element after the text closes on the text's line, and s's end tag goes back to
      // a new line.
      {E("p", {},
         {T("t"), E("q", {{"u", "1"}, {"v", "2"}}), E("r"),
          E("s", {}, {T("x"), E("i", {}, {T("y")})})}),
       "\n<p>t<q u=\"1\" v=\"2\"/>\n\t<r/>\n\t<s>x<i>y</i>\n\t</s>\n</p>",
       "<p>t<q u=\"1\" v=\"2\"/><r/><s>x<i>y</i></s></p>"},
      // Attribute values escape & < > and ", character data only & and <; a repeated name stays.
      {E("e", {{"k", raw}, {"k", "second"}}, {T(raw)}),
       "\n<e\n\tk=\"a&amp;b&lt;c&gt;d&quot;e'f&amp;amp;\"\n\tk=\"second\">"
       "a&amp;b&lt;c>d\"e'f&amp;amp;</e>",
       "<e k=\"a&amp;b&lt;c&gt;d&quot;e'f&amp;amp;\" "
       "k=\"second\">a&amp;b&lt;c>d\"e'f&amp;amp;</e>"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<XMLElement> tree(c.tree);
    EXPECT_EQ(Serialise(*tree), c.pretty);
    EXPECT_EQ(Serialise(*tree, false), c.plain);
  }
  std::string escaped;
  xmlu::AppendEscapedAttribute(escaped, raw);
  xmlu::AppendEscapedText(escaped, raw);
  EXPECT_EQ(escaped, "a&amp;b&lt;c&gt;d&quot;e'f&amp;amp;a&amp;b&lt;c>d\"e'f&amp;amp;");

  std::unique_ptr<xmlu::XMLDocType> doctype(xmlu::NewDocType("Tree", "Tree.dtd"));
  std::unique_ptr<XMLElement> tree(E("Tree", {{"n", "v"}}));
  std::string doc;
  xmlu::XMLWriteState state;
  doctype->Write(doc, state);
  doc += ">\n";
  tree->Write(doc, state);
  EXPECT_EQ(doc,
            "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<!DOCTYPE Tree>\n\n<Tree\n\tn=\"v\"/>");
}

// One step of writing a document: what an element writer tells the writer.
struct Step {
  enum Kind { kStart, kText, kEnd, kAttribute, kNumber } kind;
  std::string text;  // element name, character data, or attribute name
  std::string value;
  double number = 0;
};

// A random, well-formed sequence of steps below one root: attributes only before content,
// character data (empty, plain and needing entities) between elements, runs of nesting deeper
// than the writer's run of tabs, numbers of every kind, often one written before.
std::vector<Step> RandomSteps(std::mt19937& random, testing_support::DoubleSample& numbers,
                              int size) {
  // Values and names of every length around the writer's short copies (4, 8, 16, 32 bytes).
  const char* texts[] = {"",
                         "plain",
                         "a<b",
                         "x&y&amp;",
                         "\"q\" 'a'",
                         "1 > 0",
                         "a plain value of thirty-three ch",
                         "a plain value of thirty-three chars",
                         "a value of thirty-odd bytes & one"};
  std::vector<Step> steps{{Step::kStart, "root", "", 0}};
  std::vector<bool> contentStarted{false};
  std::vector<double> seen;
  int deepRun = 0;
  for (int i = 0; !contentStarted.empty(); ++i) {
    const bool closing = i >= size;
    unsigned pick = closing ? 9 : random() % 10;
    if (deepRun > 0) pick = 0, --deepRun;
    if (pick == 0 && !closing && random() % 40 == 0) deepRun = 70;
    if (contentStarted.size() > 100 && deepRun == 0) pick = 9;  // back up after a deep run
    const std::size_t padding = random() % 3 == 0 ? random() % 40 : 0;
    const std::string n = std::to_string(i) + std::string(padding, 'x');
    if (pick <= 2) {
      steps.push_back({Step::kStart, "e" + n, "", 0});
      contentStarted.back() = true;
      contentStarted.push_back(false);
    } else if (pick <= 4 && !contentStarted.back()) {
      if (pick == 3) {
        steps.push_back({Step::kAttribute, "a" + n, texts[random() % 9]});
      } else {
        const bool again = seen.size() > 0 && random() % 2 == 0;
        seen.push_back(again ? seen[random() % seen.size()] : numbers.Next());
        steps.push_back({Step::kNumber, "n" + n, "", seen.back()});
      }
    } else if (pick == 5) {
      steps.push_back({Step::kText, texts[random() % 9], "", 0});
      contentStarted.back() = true;
    } else if (pick >= 7 && (closing || contentStarted.size() > 1)) {
      steps.push_back({Step::kEnd, "", "", 0});
      contentStarted.pop_back();
    }
  }
  return steps;
}

// The steps as an item tree (the caller owns the root), or written through a writer.
XMLElement* ItemTree(const std::vector<Step>& steps) {
  std::vector<XMLElement*> open;
  XMLElement* root = nullptr;
  for (const Step& step : steps) {
    if (step.kind == Step::kStart) {
      XMLElement* element = xmlu::NewElement(step.text);
      if (open.empty()) root = element;
      if (!open.empty()) open.back()->AddChild(element);
      open.push_back(element);
    } else if (step.kind == Step::kAttribute) {
      open.back()->AddAttribute(step.text, step.value);
    } else if (step.kind == Step::kNumber) {
      open.back()->AddAttribute(step.text, step.number);
    } else if (step.kind == Step::kText) {
      open.back()->AddChild(xmlu::NewString(step.text));
    } else {
      open.pop_back();
    }
  }
  return root;
}

void Replay(const std::vector<Step>& steps, xmlu::MarkupWriter& writer) {
  for (const Step& step : steps) {
    if (step.kind == Step::kStart) writer.StartElement(step.text);
    if (step.kind == Step::kAttribute) writer.Attribute(step.text, step.value);
    if (step.kind == Step::kNumber) writer.Attribute(step.text, step.number);
    if (step.kind == Step::kText) writer.Text(step.text);
    if (step.kind == Step::kEnd) writer.EndElement();
  }
}

// Keeps what it is handed, and the size of each block.
class CollectingSink : public xmlu::TextSink {
 public:
  void Write(const char* data, std::size_t size) override {
    text.append(data, size);
    blocks.push_back(size);
  }
  std::string text;
  std::vector<std::size_t> blocks;
};

// The item tree (the public API) and the element writers' direct calls give the same bytes on
// random documents, from every layout state an item can be written in.
TEST(MarkupWriter, SameBytesAsTheItemTreeOnRandomDocuments) {
  std::mt19937 random(20261207);
  testing_support::DoubleSample numbers(11);
  // Both layouts, the flags that character data clears, and depths that are not 0 (none of
  // them indents below zero).
  struct Start {
    bool pretty, newLine, indent;
    int32_t depth;
  };
  const Start starts[] = {{true, true, true, 0},  {false, true, true, 0}, {true, false, false, 0},
                          {true, true, false, 2}, {true, false, true, 3}, {false, false, false, 1},
                          {true, true, true, -2}};
  for (int round = 0; round < 60; ++round) {
    const std::vector<Step> steps = RandomSteps(random, numbers, 80);
    std::unique_ptr<XMLElement> tree(ItemTree(steps));
    for (const Start& start : starts) {
      xmlu::XMLWriteState items{start.newLine, start.indent, start.pretty, start.depth};
      xmlu::XMLWriteState direct = items;
      std::string expected = "prefix";
      std::string actual = "prefix";
      tree->Write(expected, items);
      {
        xmlu::MarkupWriter writer(actual, direct);
        Replay(steps, writer);
        EXPECT_EQ(writer.OpenElements(), 0u);
        EXPECT_EQ(writer.Size(), expected.size() - 6);
        if (round % 2 == 0) writer.Flush();  // otherwise the destructor hands the rest on
      }
      ASSERT_EQ(actual, expected) << "round " << round << " pretty " << start.pretty << " depth "
                                  << start.depth;
      EXPECT_EQ(direct.depth, items.depth);
      EXPECT_EQ(direct.newLine, items.newLine);
      EXPECT_EQ(direct.indent, items.indent);
    }
  }

  // A document far bigger than a block, through a sink, with an item tree written in the
  // middle of direct elements: the same bytes, handed on in blocks of the block size.
  const std::vector<Step> steps = RandomSteps(random, numbers, 20000);
  std::unique_ptr<XMLElement> tree(ItemTree(steps));
  std::unique_ptr<XMLElement> outer(xmlu::NewElement("outer"));
  outer->AddAttribute("k", 1.5);
  outer->AddChild(ItemTree(steps));
  outer->AddChild(xmlu::NewString("t"));
  CollectingSink sink;
  xmlu::XMLWriteState direct;
  xmlu::MarkupWriter writer(sink, direct);
  writer.StartElement("outer");
  writer.Attribute("k", 1.5);
  writer.Item(*tree);
  writer.Text("t");
  writer.EndElement();
  const std::string expected = Serialise(*outer);
  EXPECT_EQ(writer.Size(), expected.size());
  writer.Flush();
  writer.Flush();  // nothing more to hand on
  EXPECT_EQ(sink.text, expected);
  ASSERT_GT(sink.blocks.size(), 3u);
  for (std::size_t i = 0; i + 1 < sink.blocks.size(); ++i) {
    EXPECT_EQ(sink.blocks[i], xmlu::MarkupWriter::kBlockSize);
  }
}

XMLElement* Chain(int depth) {
  XMLElement* root = xmlu::NewElement("e");
  XMLElement* node = root;
  for (int i = 1; i < depth; ++i) {
    XMLElement* child = xmlu::NewElement("e");
    node->AddChild(child);
    node = child;
  }
  node->AddAttribute("last", "1");
  return root;
}

TEST(ElementWrite, HundredThousandDeepChainWritesAndDiesOnADefaultStack) {
  // Pretty layout gives a chain n deep about n*n tabs, so the deep chain is written plain; the
  // pretty walk is the same loop, checked on a shallower chain.
  testing_support::RunOnStack(testing_support::kDefaultStack, [] {
    constexpr std::size_t kDepth = 100000;
    std::unique_ptr<XMLElement> root(Chain(kDepth));
    std::string out = Serialise(*root, false);
    // n-1 times "<e>" and "</e>", then the innermost "<e last=\"1\"/>".
    EXPECT_EQ(out.size(), (kDepth - 1) * 7 + 13);
    EXPECT_EQ(out.compare((kDepth - 1) * 3, 13, "<e last=\"1\"/>"), 0);
    root.reset();  // destruction runs on the small stack too

    constexpr std::size_t kPretty = 3000;
    root.reset(Chain(kPretty));
    out = Serialise(*root);
    // Level i opens with "\n", i tabs, "<e>" and closes with "\n", i tabs, "</e>"; the innermost
    // holds its attribute one tab deeper and is empty.
    const std::size_t tabs = (kPretty - 1) * (kPretty - 2) / 2;
    EXPECT_EQ(out.size(),
              (kPretty - 1) * 9 + 2 * tabs + (1 + (kPretty - 1) + 2) + (1 + kPretty + 8 + 2));
    EXPECT_EQ(out.compare(out.size() - 9, 9, "</e>\n</e>"), 0);
  });
}

// A host's own item that notes when it is deleted.
class Noted final : public XMLInterface {
 public:
  Noted(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
  ~Noted() override { log_.push_back(name_); }
  int Write(std::string&, xmlu::XMLWriteState&) override { return 0; }

 private:
  std::vector<std::string>& log_;
  std::string name_;
};

TEST(ElementDelete, ChildrenGoInListOrderEachWithItsSubtreeBeforeTheNext) {
  std::vector<std::string> log;
  auto n = [&](const char* name) { return new Noted(log, name); };
  delete E("root", {{"a", "1"}},
           {n("1"), E("inner", {{"c", "3"}}, {n("2"), E("deeper", {}, {n("3")}), n("4")}), n("5"),
            E("empty"), n("6")});
  EXPECT_EQ(log, (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

TEST(FormatNumber, FifteenDigitTextWithSchemaNonFinites) {
  // The switches between fixed and exponent form, the integer path's edges at 10^15, and
  // values beyond the range of the comparison below.
  const std::pair<double, const char*> fixed[] = {
      {1, "1"},
      {0.1, "0.1"},
      {1e20, "1e+20"},
      {1e-5, "1e-05"},
      {123456789012345678.0, "1.23456789012346e+17"},
      {-0.0, "-0"},
      {0.0, "0"},
      {999999999999999.0, "999999999999999"},
      {-999999999999999.0, "-999999999999999"},
      {1e15, "1e+15"},
      {1e15 + 2, "1e+15"},
      {std::nan(""), "NaN"},
      {HUGE_VAL, "INF"},
      {-HUGE_VAL, "-INF"},
      {-DBL_MAX, "-1.79769313486232e+308"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247e-324"}};
  for (const auto& [value, text] : fixed) EXPECT_EQ(xmlu::FormatNumber(value), text) << value;

  // The C library's "%.15g" is the definition; compare on a sample of every kind of double
  // (the benchmark runs millions more).
  testing_support::DoubleSample sample(7);
  for (int i = 0; i < 200000; ++i) {
    const double value = sample.Next();
    char expected[40];
    std::snprintf(expected, sizeof expected, "%.15g", value);
    char buffer[xmlu::kNumberTextSize];
    ASSERT_EQ(std::string(buffer, xmlu::FormatNumberTo(buffer, value)), expected)
        << "value " << i << " of the sample";
  }
  EXPECT_EQ(xmlu::FormatInCLocale("%.3f", 1e300).size(), 305u);  // longer than its buffer
  EXPECT_EQ(xmlu::FormatInCLocale("%.2f", 0.25), "0.25");
}

TEST(FormatShortest, ShortestTextThatReadsBackToTheSameDouble) {
  const std::pair<double, const char*> fixed[] = {
      {0.1 + 0.2, "0.30000000000000004"},
      {1e20, "1e+20"},
      {-0.0, "-0"},
      {-DBL_MAX, "-1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {std::nan(""), "NaN"},
      {-HUGE_VAL, "-INF"}};
  for (const auto& [value, text] : fixed) EXPECT_EQ(xmlu::FormatShortest(value), text) << value;
  testing_support::DoubleSample sample(5);
  for (int i = 0; i < 20000; ++i) {
    const double value = sample.Next();
    ASSERT_EQ(std::strtod(xmlu::FormatShortest(value).c_str(), nullptr), value) << value;
  }
}

TEST(FormatNumber, PointUnderACommaLocaleOnTwoThreadsLeavingTheLocaleAlone) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_ALL, "de_DE.utf8") == nullptr && std::setlocale(LC_ALL, "de_DE") == nullptr)
    GTEST_SKIP() << "no de_DE locale installed (install locales, run locale-gen)";
  auto work = [](int* bad) {
    for (int i = 0; i < 20000; ++i) {
      if (xmlu::FormatNumber(0.5 + i) != std::to_string(i) + ".5") ++*bad;
      if (xmlu::FormatInCLocale("%.2f", 0.25) != "0.25") ++*bad;
    }
  };
  int bad1 = 0, bad2 = 0;
  std::thread t1(work, &bad1), t2(work, &bad2);
  t1.join();
  t2.join();
  EXPECT_EQ(bad1 + bad2, 0);
  EXPECT_STREQ(std::localeconv()->decimal_point, ",");
  std::setlocale(LC_ALL, saved.c_str());
}

// Sets LC_CTYPE to the first of the names that exists, for one scope.
class CtypeLocale {
 public:
  explicit CtypeLocale(std::initializer_list<const char*> names)
      : saved_(std::setlocale(LC_CTYPE, nullptr)) {
    for (const char* name : names) {
      if ((ok_ = std::setlocale(LC_CTYPE, name) != nullptr)) return;
    }
  }
  ~CtypeLocale() { std::setlocale(LC_CTYPE, saved_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string saved_;
  bool ok_ = false;
};

TEST(ToUtf8, UnchangedInUtf8AndCLocalesBadBytesReplacedLatin1Converted) {
  {
    CtypeLocale c({"C"});
    EXPECT_EQ(xmlu::ToUtf8("plain <ascii> & text\n\t"), "plain <ascii> & text\n\t");
    EXPECT_EQ(xmlu::ToUtf8("caf\xC3\xA9 \xF0\x9F\x8C\xB3"), "caf\xC3\xA9 \xF0\x9F\x8C\xB3");
  }
  {
    CtypeLocale utf8({"C.UTF-8", "C.utf8", "en_US.UTF-8"});
    if (utf8.ok()) {
      EXPECT_EQ(xmlu::ToUtf8("a\xFF"
                             "b"),
                "a\xEF\xBF\xBD"
                "b");
      EXPECT_EQ(xmlu::ToUtf8("end\xC3"), "end\xEF\xBF\xBD");                 // cut off
      EXPECT_EQ(xmlu::ToUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");       // overlong "/"
      EXPECT_EQ(xmlu::ToUtf8("\xED\xA0\x80").substr(0, 3), "\xEF\xBF\xBD");  // a surrogate
    }
  }
  CtypeLocale latin1({"de_DE.ISO-8859-1", "de_DE.iso88591", "de_DE", "en_US.ISO-8859-1"});
  if (!latin1.ok()) GTEST_SKIP() << "no ISO-8859-1 locale installed (e.g. de_DE ISO-8859-1)";
  EXPECT_EQ(xmlu::ToUtf8("\xA9 caf\xE9 <x>\xFF"), "\xC2\xA9 caf\xC3\xA9 <x>\xC3\xBF");
}

// Cut in two at every byte, and fed one byte at a time, the text converts to ToUtf8's bytes.
void ExpectPiecesGiveTheWholeTextsBytes(const std::string& text) {
  const std::string whole = xmlu::ToUtf8(text);
  for (std::size_t cut = 0; cut <= text.size() + 1; ++cut) {
    CollectingSink out;
    xmlu::Utf8Sink sink(out);
    if (cut <= text.size()) {
      sink.Write(text.data(), cut);
      sink.Write(text.data() + cut, text.size() - cut);
    } else {
      for (char c : text) sink.Write(&c, 1);
    }
    sink.Finish();
    EXPECT_EQ(out.text, whole) << "cut after byte " << cut;
  }
}

TEST(Utf8Sink, PiecesCutInsideASequenceGiveTheBytesOfTheWholeText) {
  // Two-, three- and four-byte characters, a bad byte, and sequences cut off mid-text and at the
  // end, which must become U+FFFD exactly as in the whole text, never earlier or twice.
  const std::string text =
      "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8C\xB3 \xFF x\xE2\x82 y\xC3 z\xF0\x9F\x8C";
  {
    CtypeLocale c({"C"});
    ExpectPiecesGiveTheWholeTextsBytes(text);
  }
  {
    CtypeLocale utf8({"C.UTF-8", "C.utf8", "en_US.UTF-8"});
    if (utf8.ok()) {
      ExpectPiecesGiveTheWholeTextsBytes(text);
      // Each byte of a cut-off sequence is replaced on its own.
      EXPECT_NE(xmlu::ToUtf8(text).find("x\xEF\xBF\xBD\xEF\xBF\xBD y"), std::string::npos);
    }
  }
  // In a multibyte locale: two two-byte kana, a three-byte JIS X 0212 character, a lead byte
  // cut off at the end.
  CtypeLocale eucjp({"ja_JP.eucJP", "ja_JP.EUC-JP", "ja_JP.eucjp"});
  if (!eucjp.ok()) GTEST_SKIP() << "no EUC-JP locale installed (e.g. ja_JP EUC-JP)";
  EXPECT_EQ(xmlu::ToUtf8("\xA4\xB3\xA4\xF3"), "\xE3\x81\x93\xE3\x82\x93");
  ExpectPiecesGiveTheWholeTextsBytes("\xA4\xB3\xA4\xF3 <\x8F\xB0\xA1> \xA4");
}

}  // namespace
