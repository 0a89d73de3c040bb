// The tree XML document, checked by parsing and against docs/Tree.dtd: the prolog bytes, what the
// bundled examples do not show of the dictionary, nodes and splits, the adapter's errors and
// lifecycle, deep chains; and the bundled examples against reviewed files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/memtree/model_file.h"
#include "imported/metadata/identity_encoder_imp.h"
#include "imported/metadata/missing_values_imp.h"
#include "tests/support/model_text.h"
#include "tests/support/run_command.h"
#include "tests/support/stack.h"
#include "tests/support/xml_check.h"
#include "treexml/xml_output_adapter.h"
#include "xmlu/markup_writer.h"
#include "xmlu/text_sink.h"
#include "xmlu/xml_item.h"

namespace {

using testing_support::ChainModel;
using testing_support::With;
using testing_support::XmlDoc;
using Names = std::vector<std::string>;

const std::string kDtd = std::string(TREEXPORT_SOURCE_DIR) + "/docs/Tree.dtd";

// Classification with a case weight. Predictors: region (nominal, encoded: code 0 = "north" and
// "N", 1 = "south", 2 = "east" (no split uses it), 3 = "<west>"; missing "unknown", null and
// the range "x".."z"), age (continuous, empty label), size (ordinal, no encoder), unused,
// odd (level 5, storage 2). Target credit: 0 bad, 1 good, 2 fair.
//   node 0 (90; 30/30/30): age (3.5, inf) -> 0 | (-inf, 3.5] -> 1, missing -> 1;
//       surrogates region {0, 3} | {1} (missing -> 0), then size <= 2.5 | > 2.5
//     node 1 (60; 20/30/10): size [5, 7) -> 0 | (-inf, 2] -> 1 | (2, 5) -> 2;
//         surrogate region {3} | none | {0}
//       nodes 2 (20; bad), 3 (30; good), 5 (10; fair)
//     node 4294967295 (30; 10/0/20)
const char* const kCls = R"({
  "format": "treexport-model", "version": 1, "function": "classification", "algorithm": 1,
  "priors": [0.5, 0.25, 0.25],
  "treeVersion": {"major": 7, "minor": 2, "patch": 3, "build": 9, "date": "t"},
  "metadataVersion": {"major": 4, "minor": 5, "patch": 6, "build": 0, "date": "m"},
  "fields": [
    {"name": "region", "label": "Sales & region", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["north", "N"]}, {"code": 1, "values": ["south"]},
                    {"code": 2, "values": ["east"]}, {"code": 3, "values": ["<west>"]}],
     "valueLabels": [{"value": "north", "label": "Northern region"}, {"value": "x", "label": "X"}],
     "missing": {"values": ["unknown", null], "ranges": [{"low": "x", "high": "z"}]}},
    {"name": "age", "level": "continuous", "storage": "numeric"},
    {"name": "size", "label": "Size", "level": "ordinal", "storage": "numeric"},
    {"name": "unused", "level": "nominal", "storage": "string", "categories": [{"code": 0, "values": ["u"]}]},
    {"name": "odd", "level": 5, "storage": 2},
    {"name": "credit", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["bad"]}, {"code": 1, "values": ["good"]}, {"code": 2, "values": ["fair"]}]},
    {"name": "cw", "level": "continuous", "storage": "numeric"}
  ],
  "predictors": ["region", "age", "size", "unused", "odd"], "target": "credit", "caseWeight": "cw",
  "nodes": [
    {"id": 0, "children": [1, 4294967295], "samples": [{"count": 90, "class": {"predicted": 0, "counts": [30, 30, 30]}}],
     "split": {"predictor": "age", "children": [{"low": 3.5, "lowOpen": true}, {"high": 3.5}], "missingChild": 1},
     "surrogates": [{"predictor": "region", "children": [{"codes": [0, 3]}, {"codes": [1]}], "missingChild": 0},
                    {"predictor": "size", "children": [{"high": 2.5}, {"low": 2.5, "lowOpen": true}]}]},
    {"id": 1, "children": [2, 3, 5], "samples": [{"count": 60, "class": {"predicted": 1, "counts": [20, 30, 10]}}],
     "split": {"predictor": "size", "children": [{"low": 5, "high": 7, "highOpen": true}, {"high": 2},
                                                 {"low": 2, "lowOpen": true, "high": 5, "highOpen": true}]},
     "surrogates": [{"predictor": "region", "children": [{"codes": [3]}, null, {"codes": [0]}]}]},
    {"id": 2, "samples": [{"count": 20, "class": {"predicted": 0, "counts": [20, 0, 0]}}]},
    {"id": 3, "samples": [{"count": 30, "class": {"predicted": 1, "counts": [0, 30, 0]}}]},
    {"id": 5, "samples": [{"count": 10, "class": {"predicted": 2, "counts": [0, 0, 10]}}]},
    {"id": 4294967295, "samples": [{"count": 30, "class": {"predicted": 2, "counts": [10, 0, 20]}}]}
  ]
})";

// Regression (QUEST) with a frequency weight: grade (ordinal, code 0 = range 0..10, 1 = range
// 10..20, 2 = 30) splits at code 0; the root has no deviation, node 1 a deviation of 0.
const char* const kReg = R"({
  "format": "treexport-model", "version": 1, "function": "regression", "algorithm": 4,
  "fields": [{"name": "x", "level": "continuous", "storage": "numeric"},
             {"name": "grade", "level": "ordinal", "storage": "numeric",
              "categories": [{"code": 0, "ranges": [{"low": 0, "high": 10}]},
                             {"code": 1, "ranges": [{"low": 10, "high": 20}]}, {"code": 2, "values": [30]}]},
             {"name": "y", "label": "Price", "level": "continuous", "storage": "numeric"},
             {"name": "fw", "level": "continuous", "storage": "numeric"}],
  "predictors": ["x", "grade"], "target": "y", "frequencyWeight": "fw",
  "nodes": [
    {"id": 0, "children": [1, 2], "samples": [{"count": 100, "regression": {"mean": 5.25, "prediction": 5.2}}],
     "split": {"predictor": "grade", "children": [{"high": 0}, {"low": 0, "lowOpen": true}], "missingChild": 0}},
    {"id": 1, "samples": [{"count": 60, "regression": {"mean": 4, "stdDev": 0}}]},
    {"id": 2, "samples": [{"count": 40, "regression": {"mean": 7, "stdDev": 1.5}}]}
  ]
})";

std::string Export(TreeOut::XMLOutputAdapter& adapter, const memtree::Model& model) {
  std::ostringstream out;
  adapter.GenerateXML(out, *model.tree, model.metadata.get());
  return out.str();
}

// A document of the model, which must be valid against the DTD.
struct Exported {
  explicit Exported(const std::string& modelText) : text(Export(modelText)), doc(text) {
    EXPECT_EQ(doc.DtdErrors(kDtd), "");
  }
  static std::string Export(const std::string& modelText) {
    TreeOut::XMLOutputAdapter adapter;
    return ::Export(adapter, memtree::ParseModel(modelText, "test.json"));
  }
  std::string text;
  XmlDoc doc;
};

TEST(TreeXmlDocument, HeaderAttributesAndAnAlgorithmWithoutAName) {
  // The prolog's bytes are those of the reviewed examples (TreeXmlExamples).
  const Exported x(kCls);
  EXPECT_EQ(x.doc.Text("/Tree/@CreationInfo"),
            "Document created by C&RT version 7.2.3, metadata version 4.5.6, xml export manager "
            "version 1.0.1");
  EXPECT_EQ(x.doc.AttributeNames("/Tree"),
            (Names{"CreationInfo", "Algorithm", "Name", "TargetName", "CaseWeightName"}));
  EXPECT_EQ(x.doc.Texts("/Tree/@*[position() > 1]"), (Names{"C&RT", "", "credit", "cw"}));
  EXPECT_EQ(x.doc.Text("//Variable[1]/@Label"), "Sales & region");
  EXPECT_EQ(x.doc.Texts("//Variable[1]/FormatSpec/@*"), (Names{"5", "2", "8"}));
  EXPECT_EQ(x.doc.Texts("/Tree/VersionInfo/@*"), (Names{"1", "1"}));
  EXPECT_EQ(x.doc.Text("//Variable[1]/Categories/Category[1]/Label"), "Northern region");
  // A code without a name (the format has no empty one).
  const Exported unknown(With(kReg, R"("algorithm": 4)", R"("algorithm": -1)"));
  EXPECT_EQ(unknown.doc.Text("/Tree/@Algorithm"), "Unknown");
  EXPECT_EQ(unknown.doc.Text("substring-before(/Tree/@CreationInfo, ' version')"),
            "Document created by Unknown");
}

TEST(TreeXmlDictionary, VariablesCategoriesAndMissingValues) {
  const Exported x(kCls);
  const XmlDoc& d = x.doc;
  // Every code the splits use (0, 1, 3; not 2) with every source value behind it.
  EXPECT_EQ(d.Texts("//Variable[@Name='region']/Categories/Category/Value"),
            (Names{"north", "N", "south", "<west>"}));
  // The null missing value is skipped; a range lists both ends, with their labels.
  EXPECT_EQ(d.Texts("//Variable[@Name='region']/MissingValues/Category/Value"), (Names{"unknown"}));
  EXPECT_EQ(d.Texts("//Variable[@Name='region']/MissingValues/Range/Category/Value"),
            (Names{"x", "z"}));
  EXPECT_EQ(d.Text("//Variable[@Name='region']/MissingValues/Range/Category[1]/Label"), "X");
  // Without an encoder the cut values are the categories, in ascending order.
  EXPECT_EQ(d.Texts("//Variable[@Name='size']/Categories/Category/Value"),
            (Names{"2", "2.5", "5", "7"}));
  EXPECT_EQ(d.ChildNames("//Variable[@Name='unused']"), (Names{"FormatSpec"}));
  // An interval behind a code lists both of its ends.
  const Exported r(kReg);
  EXPECT_EQ(r.doc.Texts("//Variable[@Name='grade']/Categories/Category/Value"), (Names{"0", "10"}));
}

TEST(TreeXmlDictionary, DiscreteMissingValuesPrecedeRangesWhateverTheirOrder) {
  // The loader always lists discrete values first; a host need not.
  using mdt::EncodingItem;
  using mdt::Variant;
  const memtree::Model model = memtree::ParseModel(kReg, "reg.json");
  mdt::ModelMetadataImp metadata;
  mdt::Variable x("x", global::CONTINUOUS, global::NUMERIC_STORAGE);
  auto missing = std::make_unique<mdt::MissingValuesImp>();
  missing->Add(
      std::make_unique<mdt::Interval>(EncodingItem(Variant(1.0)), EncodingItem(Variant(5.0))));
  missing->Add(std::make_unique<mdt::DiscreteValues>(
      std::vector<EncodingItem>{EncodingItem(Variant(-1.0)), EncodingItem(Variant())}));
  missing->Add(
      std::make_unique<mdt::Interval>(EncodingItem(Variant(200.0)), EncodingItem(Variant())));
  x.SetEncoder(std::make_unique<mdt::IdentityEncoderImp>(std::move(missing)));
  metadata.AddPredictor(std::move(x));
  metadata.AddPredictor(mdt::Variable("grade", global::ORDINAL, global::NUMERIC_STORAGE));
  mdt::Variable y("y", global::CONTINUOUS, global::NUMERIC_STORAGE);
  y.SetEncoder(
      std::make_unique<mdt::IdentityEncoderImp>(std::make_unique<mdt::MissingValuesImp>()));
  metadata.SetTarget(std::move(y));

  TreeOut::XMLOutputAdapter adapter;
  std::ostringstream out;
  adapter.GenerateXML(out, *model.tree, &metadata);
  const XmlDoc d(out.str());
  EXPECT_EQ(d.DtdErrors(kDtd), "");
  EXPECT_EQ(d.ChildNames("//Variable[@Name='x']/MissingValues"),
            (Names{"Category", "Range", "Range"}));
  // The variant without a value is skipped among the discrete values, kept as a range's end.
  EXPECT_EQ(d.Texts("//Variable[@Name='x']/MissingValues//Value"),
            (Names{"-1", "1", "5", "200", ""}));
  EXPECT_EQ(d.Number("//Variable[@Name='y']/MissingValues"), 1);
  EXPECT_EQ(d.Number("//Variable[@Name='y']/MissingValues/*"), 0);
}

TEST(TreeXmlNodes, IdsBiggestChildPredictionsAndDeviations) {
  const Exported x(kCls);
  EXPECT_EQ(x.doc.Texts("/Tree/ClsTree//*[self::ClsNode or self::ClsTerminalNode]/@Id"),
            (Names{"0", "1", "2", "3", "5", "4294967295"}));
  EXPECT_EQ(x.doc.Text("//ClsNode[@Id='1']/@BiggestChild"), "1");
  // The prediction, not the mean; no Deviation where the node has none, 0 where it says 0.
  const Exported r(kReg);
  EXPECT_EQ(r.doc.AttributeNames("//RegNode"),
            (Names{"Prediction", "Count", "Id", "BiggestChild"}));
  EXPECT_EQ(r.doc.Text("//RegNode/@Prediction"), "5.2");
  EXPECT_EQ(r.doc.Texts("//RegTerminalNode/@Deviation"), (Names{"0", "1.5"}));
  const Exported stump(ChainModel(1));
  EXPECT_EQ(stump.doc.ChildNames("/Tree/RegTree"), (Names{"RegTerminalNode"}));
  EXPECT_EQ(stump.doc.AttributeNames("//RegTerminalNode"), (Names{"Prediction", "Count", "Id"}));
}

TEST(TreeXmlSplits, IntervalsInOrderAndMissingValueSets) {
  const Exported x(kCls);
  const XmlDoc& d = x.doc;
  // Node 1: [5, 7) -> 0, (-inf, 2] -> 1, (2, 5) -> 2, written in the order of the intervals.
  const std::string size = "//ClsNode[@Id='1']/ScaleSplit/MappedOrdinalValue";
  EXPECT_EQ(d.Texts(size + "/Value"), (Names{"2", "5", "7"}));
  EXPECT_EQ(d.Texts(size + "/@MappedChildPosition"), (Names{"1", "2", "0"}));
  EXPECT_EQ(d.Texts(size + "/@LeftOpenInterval"), (Names{"0", "1", "0"}));
  EXPECT_EQ(d.AttributeNames("//ClsNode[@Id='1']/ScaleSplit"),
            (Names{"VarName", "MissingValueMapping"}));
  // Child 1 has no value set: child 2's codes move up to the second place.
  EXPECT_EQ(d.Number("//ClsNode[@Id='1']/DiscreteSplit/MappedDiscreteValues"), 2);
  EXPECT_EQ(d.Texts("//ClsNode[@Id='1']/DiscreteSplit/MappedDiscreteValues/Value"),
            (Names{"<west>", "north"}));

  // An encoded ordinal predictor's cut point is the upper end of the range behind the code.
  const Exported r(kReg);
  EXPECT_EQ(r.doc.Text("//ScaleSplit/MappedOrdinalValue/Value"), "10");
  EXPECT_EQ(r.doc.Text("//ScaleSplit/@TopIntervalMapping"), "1");
  // Two intervals without an upper bound: one TopIntervalMapping, the higher interval's child.
  const Exported two(With(kReg, R"([{"high": 0}, {"low": 0, "lowOpen": true}])",
                          R"([{"low": 1}, {"low": 0, "lowOpen": true}])"));
  EXPECT_EQ(two.doc.AttributeNames("//ScaleSplit"),
            (Names{"VarName", "MissingValueMapping", "TopIntervalMapping"}));
  EXPECT_EQ(two.doc.Text("//ScaleSplit/@TopIntervalMapping"), "0");
  EXPECT_EQ(two.doc.Number("//ScaleSplit/*"), 0);

  // Twelve children, more than are sorted in place, listed from the highest interval down:
  // child k holds (11 - k, 12 - k], child 0 has no upper bound and child 11 no lower bound.
  std::string rules, children, leaves;
  for (int k = 0; k < 12; ++k) {
    const std::string low = std::to_string(11 - k), high = std::to_string(12 - k);
    rules += k ? ", " : "";
    rules += k == 0    ? "{\"low\": " + low + ", \"lowOpen\": true}"
             : k == 11 ? "{\"high\": " + high + "}"
                       : "{\"low\": " + low + ", \"lowOpen\": true, \"high\": " + high + "}";
    children += (k ? ", " : "") + std::to_string(k + 1);
    leaves += ", {\"id\": " + std::to_string(k + 1) +
              ", \"samples\": [{\"count\": 1, \"regression\": {\"mean\": 1}}]}";
  }
  const Exported wide(With(
      With(kReg, R"("children": [1, 2])", "\"children\": [" + children + "]"),
      R"("split": {"predictor": "grade", "children": [{"high": 0}, {"low": 0, "lowOpen": true}], "missingChild": 0}},
    {"id": 1, "samples": [{"count": 60, "regression": {"mean": 4, "stdDev": 0}}]},
    {"id": 2, "samples": [{"count": 40, "regression": {"mean": 7, "stdDev": 1.5}}]})",
      "\"split\": {\"predictor\": \"x\", \"children\": [" + rules + "]}}" + leaves));
  EXPECT_EQ(wide.doc.Texts("//ScaleSplit/MappedOrdinalValue/@MappedChildPosition"),
            (Names{"11", "10", "9", "8", "7", "6", "5", "4", "3", "2", "1"}));
  EXPECT_EQ(wide.doc.Texts("//ScaleSplit/MappedOrdinalValue/Value"),
            (Names{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}));
  EXPECT_EQ(wide.doc.Text("//ScaleSplit/@TopIntervalMapping"), "0");
}

TEST(TreeXmlAdapter, CallsAreIndependentAndCopiesOwnTheirSettings) {
  const memtree::Model cls = memtree::ParseModel(kCls, "cls.json");
  const memtree::Model reg = memtree::ParseModel(kReg, "reg.json");
  TreeOut::XMLOutputAdapter adapter;
  const std::string first = Export(adapter, cls);
  EXPECT_EQ(Export(adapter, reg), Exported::Export(kReg));  // nothing of the first call stays
  {
    TreeOut::XMLOutputAdapter copy(adapter), assigned;
    assigned = adapter;
    EXPECT_EQ(Export(copy, cls), first);
    EXPECT_EQ(Export(assigned, cls), first);
  }  // the copies release their own settings objects; the original keeps its own
  EXPECT_EQ(Export(adapter, cls), first);
}

TEST(TreeXmlAdapter, InputsItCannotWriteAreNamed) {
  const memtree::Model model = memtree::ParseModel(kReg, "reg.json");
  TreeOut::XMLOutputAdapter adapter;
  std::ostringstream out;
  auto error = [&](const mdt::ModelMetadata* metadata) -> std::string {
    try {
      adapter.GenerateXML(out, *model.tree, metadata);
    } catch (const TreeOut::XMLExportError& e) {
      return e.what();
    }
    return "<no error>";
  };
  EXPECT_EQ(error(nullptr), "tree XML export: the metadata is null");
  // The metadata of another model: the split names predictor 1 of a list of one.
  const memtree::Model small = memtree::ParseModel(
      With(With(kReg, R"("predictors": ["x", "grade"])", R"("predictors": ["grade"])"),
           R"({"name": "x", "level": "continuous", "storage": "numeric"},)", ""),
      "small.json");
  EXPECT_EQ(error(small.metadata.get()),
            "tree XML export: node 0: primary split: predictor index 1 is outside the 1 "
            "predictors");
  EXPECT_EQ(out.str(), "");
}

TEST(TreeXmlNodes, DeepChainsNeedNoStackPerLevel) {
  // 2,000 levels on a 128 KB stack: no recursion per level.
  const memtree::Model chain = memtree::ParseModel(ChainModel(2000), "chain.json");
  std::string text;
  testing_support::RunOnStack(128 << 10, [&] {
    TreeOut::XMLOutputAdapter adapter;
    text = Export(adapter, chain);
  });
  const XmlDoc d(text);
  EXPECT_EQ(d.Number("count(//RegNode) + count(//RegTerminalNode)"), 2000);
  EXPECT_EQ(d.Text("//RegTerminalNode/@Id"), "1999");
  EXPECT_EQ(d.DtdErrors(kDtd), "");
}

TEST(TreeXmlExamples, BundledExamplesMatchTheirReviewedDocuments) {
  const bool regenerate = std::getenv("TREEXPORT_REGENERATE_GOLDEN") != nullptr;
  for (const char* name : {"cart_classification", "chaid", "regression"}) {
    const std::string source = TREEXPORT_SOURCE_DIR;
    const memtree::Model model = memtree::LoadModel(source + "/examples/" + name + ".json");
    TreeOut::XMLOutputAdapter adapter;
    const std::string text = Export(adapter, model);
    EXPECT_EQ(XmlDoc(text).DtdErrors(kDtd), "") << name;
    const std::string golden = source + "/tests/treexml/golden/" + name + ".xml";
    if (regenerate) {
      std::ofstream(golden, std::ios::binary) << text;
      continue;
    }
    EXPECT_TRUE(text == testing_support::ReadFile(golden))
        << name << ": the document differs from " << golden << "; review the difference, then "
        << "regenerate with TREEXPORT_REGENERATE_GOLDEN=1 ctest -R TreeXmlExamples";
  }
}

// The text between the line "```<kind>" and the next "```" line of the page.
std::string Block(const std::string& page, const std::string& kind) {
  const std::size_t open = page.find("\n```" + kind + "\n");
  if (open == std::string::npos) return "<no " + kind + " block>";
  const std::size_t begin = open + kind.size() + 5;
  return page.substr(begin, page.find("\n```\n", begin) - begin);
}

TEST(TreeXmlExamples, FormatPageExampleIsTheExportOfItsModel) {
  const std::string page =
      testing_support::ReadFile(std::string(TREEXPORT_SOURCE_DIR) + "/docs/tree-xml.md");
  const Exported example(Block(page, "json"));
  EXPECT_EQ(example.text, Block(page, "xml"));
}

// The pieces a sink gets, in order.
class Pieces : public xmlu::TextSink {
 public:
  void Write(const char* data, std::size_t size) override {
    text.append(data, size);
    sizes.push_back(size);
  }
  std::string text;
  std::vector<std::size_t> sizes;
};

TEST(TreeXmlAdapter, PiecesGiveTheStreamsBytesAndAFailureWritesNone) {
  const memtree::Model chain = memtree::ParseModel(ChainModel(400), "chain");
  TreeOut::XMLOutputAdapter adapter;
  Pieces pieces;
  adapter.GenerateXML(pieces, *chain.tree, chain.metadata.get());
  EXPECT_EQ(pieces.text, Export(adapter, chain));
  ASSERT_GT(pieces.sizes.size(), 10u);
  for (std::size_t i = 0; i + 1 < pieces.sizes.size(); ++i) {
    EXPECT_GE(pieces.sizes[i], xmlu::MarkupWriter::kBlockSize);
  }
  Pieces none;
  EXPECT_THROW(adapter.GenerateXML(none, *chain.tree, nullptr), TreeOut::XMLExportError);
  EXPECT_EQ(none.text, "");
}

}  // namespace
