// Records scored through the exported document reach the leaves the host's own routing reaches,
// in both profiles; the portable profile's document, which a consumer reading only standard
// PMML 4.3 scores as the tree does, and the format profile left as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "tests/support/model_text.h"
#include "tests/support/pmml_evaluator.h"
#include "tests/support/xml_check.h"

namespace {

using testing_support::PmmlMode;
using testing_support::PmmlRecord;
using testing_support::PmmlTreeEvaluator;
using testing_support::With;
using testing_support::XmlDoc;
using Names = std::vector<std::string>;

// x continuous, c nominal (red, green, blue), o ordinal (lo, mid, hi); every missing-value child
// is a first child, the case in which the surrogate predicates say what the host does.
// Bounds sit on both sides of a boundary value so that an open bound written as closed, or the
// reverse, sends a record elsewhere.
//   node 0: x > 3.5 | <= 3.5; surrogate c {red} | {green, blue}, missing -> 0; child 1 biggest
//     node 1: c {red, blue} | {green}, missing -> 0; surrogate o <= lo | > lo
//       leaves 3, 4
//     node 2: o <= lo | (lo, mid] | > mid, missing -> 0; surrogate x > 8 | (5, 8] | <= 5;
//             child 1 biggest
//       leaves 5, 6, 7
const char* const kRouting = R"({
  "format": "treexport-model", "version": 1, "function": "classification", "algorithm": 0,
  "fields": [
    {"name": "x", "level": "continuous", "storage": "numeric"},
    {"name": "c", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["red"]}, {"code": 1, "values": ["green"]}, {"code": 2, "values": ["blue"]}]},
    {"name": "o", "level": "ordinal", "storage": "string",
     "categories": [{"code": 0, "values": ["lo"]}, {"code": 1, "values": ["mid"]}, {"code": 2, "values": ["hi"]}]},
    {"name": "t", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["a"]}, {"code": 1, "values": ["b"]}]}
  ],
  "predictors": ["x", "c", "o"], "target": "t",
  "nodes": [
    {"id": 0, "children": [1, 2], "samples": [{"count": 100, "class": {"predicted": 1, "counts": [45, 55]}}],
     "split": {"predictor": "x", "children": [{"low": 3.5, "lowOpen": true}, {"high": 3.5}]},
     "surrogates": [{"predictor": "c", "children": [{"codes": [0]}, {"codes": [1, 2]}], "missingChild": 0}]},
    {"id": 1, "children": [3, 4], "samples": [{"count": 40, "class": {"predicted": 0, "counts": [30, 10]}}],
     "split": {"predictor": "c", "children": [{"codes": [0, 2]}, {"codes": [1]}], "missingChild": 0},
     "surrogates": [{"predictor": "o", "children": [{"high": 0}, {"low": 0, "lowOpen": true}]}]},
    {"id": 3, "samples": [{"count": 25, "class": {"predicted": 0, "counts": [20, 5]}}]},
    {"id": 4, "samples": [{"count": 15, "class": {"predicted": 0, "counts": [10, 5]}}]},
    {"id": 2, "children": [5, 6, 7], "samples": [{"count": 60, "class": {"predicted": 1, "counts": [15, 45]}}],
     "split": {"predictor": "o", "children": [{"high": 0}, {"low": 0, "lowOpen": true, "high": 1}, {"low": 1, "lowOpen": true}],
               "missingChild": 0},
     "surrogates": [{"predictor": "x", "children": [{"low": 8, "lowOpen": true}, {"low": 5, "lowOpen": true, "high": 8}, {"high": 5}]}]},
    {"id": 5, "samples": [{"count": 10, "class": {"predicted": 1, "counts": [4, 6]}}]},
    {"id": 6, "samples": [{"count": 30, "class": {"predicted": 1, "counts": [5, 25]}}]},
    {"id": 7, "samples": [{"count": 20, "class": {"predicted": 1, "counts": [6, 14]}}]}
  ]
})";

// c nominal (red, green, blue, grey), d nominal (p, q, r), x continuous; t the target.
//   node 0: c {red} | {green}, missing -> child 1; blue and grey reach neither child.
//           surrogates: x <= 3 | > 5 (nothing between), then d {p} | {q} (r in neither).
//           No biggest child: its children hold equally many rows.
//     node 1: x <= 2.5 | > 2.5; surrogate c {red, grey} | {green}; child 1 (node 4) biggest
//       leaves 3, 4
//     node 2: d {p, q} | {r}; surrogate x >= 1 | < 1; child 0 (node 5) biggest
//       leaves 5, 6
const char* const kGaps = R"({
  "format": "treexport-model", "version": 1, "function": "classification", "algorithm": 0,
  "fields": [
    {"name": "c", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["red"]}, {"code": 1, "values": ["green"]},
                    {"code": 2, "values": ["blue"]}, {"code": 3, "values": ["grey", "gray"]}]},
    {"name": "d", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["p"]}, {"code": 1, "values": ["q"]}, {"code": 2, "values": ["r"]}]},
    {"name": "x", "level": "continuous", "storage": "numeric"},
    {"name": "t", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["a"]}, {"code": 1, "values": ["b"]}]}
  ],
  "predictors": ["c", "d", "x"], "target": "t",
  "nodes": [
    {"id": 0, "children": [1, 2],
     "samples": [{"count": 60, "class": {"predicted": 1, "counts": [25, 35], "probabilities": [0.4, 0.6]}}],
     "split": {"predictor": "c", "children": [{"codes": [0]}, {"codes": [1]}], "missingChild": 1},
     "surrogates": [{"predictor": "x", "children": [{"high": 3}, {"low": 5, "lowOpen": true}]},
                    {"predictor": "d", "children": [{"codes": [0]}, {"codes": [1]}]}],
     "biggestChild": null},
    {"id": 1, "children": [3, 4],
     "samples": [{"count": 30, "class": {"predicted": 0, "counts": [20, 10], "probabilities": [0.7, 0.3]}}],
     "split": {"predictor": "x", "children": [{"high": 2.5}, {"low": 2.5, "lowOpen": true}]},
     "surrogates": [{"predictor": "c", "children": [{"codes": [0, 3]}, {"codes": [1]}]}]},
    {"id": 3, "samples": [{"count": 10, "class": {"predicted": 0, "counts": [9, 1], "probabilities": [0.85, 0.15]}}]},
    {"id": 4, "samples": [{"count": 20, "class": {"predicted": 0, "counts": [11, 9], "probabilities": [0.55, 0.45]}}]},
    {"id": 2, "children": [5, 6],
     "samples": [{"count": 30, "class": {"predicted": 1, "counts": [5, 25], "probabilities": [0.125, 0.875]}}],
     "split": {"predictor": "d", "children": [{"codes": [0, 1]}, {"codes": [2]}]},
     "surrogates": [{"predictor": "x", "children": [{"low": 1}, {"high": 1, "highOpen": true}]}]},
    {"id": 5, "samples": [{"count": 20, "class": {"predicted": 1, "counts": [2, 18], "probabilities": [0.1, 0.9]}}]},
    {"id": 6, "samples": [{"count": 10, "class": {"predicted": 1, "counts": [3, 7], "probabilities": [0.3, 0.7]}}]}
  ]
})";

std::string Export(const memtree::Model& model, bool portable) {
  TreeOut::PMMLOutputAdapter adapter;
  adapter.SetPortableProfile(portable);
  std::ostringstream out;
  adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  return out.str();
}

std::string Export(const std::string& modelText, bool portable) {
  return Export(memtree::ParseModel(modelText, "test.json"), portable);
}

TEST(PmmlPortable, OffByDefaultCarriedByCopiesAndOffWritesTheFormatsBytes) {
  TreeOut::PMMLOutputAdapterImp imp;
  EXPECT_FALSE(imp.GetPortableProfile());
  imp.SetPortableProfile(true);
  EXPECT_TRUE(TreeOut::PMMLOutputAdapterImp(imp).GetPortableProfile());
  const memtree::Model model = memtree::ParseModel(kGaps, "gaps.json");
  TreeOut::PMMLOutputAdapter adapter;
  EXPECT_FALSE(adapter.GetPortableProfile());
  const std::string before = Export(model, false);
  adapter.SetPortableProfile(true);
  adapter.SetPortableProfile(false);
  std::ostringstream out;
  adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  EXPECT_EQ(out.str(), before);
}

TEST(PmmlPortable, DeclarationStrategiesSchemaAndOutputFields) {
  const std::string text = Export(kGaps, true);
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PMML", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 10), ">\n</PMML>\n");  // one line feed after the end tag
  XmlDoc doc(text);
  EXPECT_EQ(doc.PmmlSchemaErrors(), "");
  EXPECT_EQ(doc.Number("count(//p:Timestamp)"), 0);
  EXPECT_EQ(doc.AttributeNames("//p:Application"), Names{"name"});  // no version was given
  EXPECT_EQ(doc.AttributeNames("//p:DataField[@name='x']"),
            (Names{"name", "optype", "isCyclic", "dataType"}));  // no empty label
  EXPECT_EQ(doc.Text("//p:TreeModel/@missingValueStrategy"), "lastPrediction");
  EXPECT_EQ(doc.Text("//p:TreeModel/@noTrueChildStrategy"), "returnLastPrediction");
  // No risk in the model: no risk extension; no range: no NumericInfo; no made-up counts.
  EXPECT_EQ(doc.Number("count(//p:TreeModel/p:Extension[p:X-risk])"), 0);
  EXPECT_EQ(doc.Number("count(//p:NumericInfo)"), 0);
  EXPECT_EQ(doc.AttributeNames("//p:Counts"), Names{"totalFreq"});
  // Every category of a code table, every value of a category, the split's or not.
  EXPECT_EQ(doc.Texts("//p:DataField[@name='c']/p:Value/@value"),
            (Names{"red", "green", "blue", "grey", "gray"}));
  EXPECT_EQ(doc.Texts("//p:MiningField[@invalidValueTreatment='asMissing']/@name"),
            (Names{"c", "x", "d"}));
  EXPECT_EQ(doc.Number("count(//p:MiningField[@name='t']/@invalidValueTreatment)"), 0);
  EXPECT_EQ(doc.ChildNames("//p:TreeModel"),
            (Names{"MiningSchema", "Output", "ModelStats", "Node", "Extension"}));
  EXPECT_EQ(doc.Texts("//p:OutputField/@name"),
            (Names{"Predicted_t", "Probability_a", "Probability_b"}));
  EXPECT_EQ(doc.Texts("//p:OutputField/@feature"),
            (Names{"predictedValue", "probability", "probability"}));
  EXPECT_EQ(doc.Texts("//p:OutputField/@value"), (Names{"a", "b"}));
  // Probabilities as the standard attribute and in the extension; counts that add up.
  EXPECT_EQ(doc.Texts("//p:Node[@id='2']/p:ScoreDistribution/@probability"),
            (Names{"0.125", "0.875"}));
  EXPECT_EQ(doc.Texts("//p:Node[@id='2']/p:ScoreDistribution/p:Extension/@value"),
            (Names{"0.125", "0.875"}));
  EXPECT_EQ(doc.Text("//p:Node[@id='0']/@recordCount"), "60");

  // A transcoder's bytes are the host's to declare.
  struct Copy : ArbTree::Transcoder {
    int Transcode(const std::string& in, std::string& out) const override {
      out = in;
      return 0;
    }
  } transcoder;
  const memtree::Model model = memtree::ParseModel(kGaps, "gaps.json");
  TreeOut::PMMLOutputAdapter adapter;
  adapter.SetPortableProfile(true);
  adapter.UseTranscoder(&transcoder);
  std::ostringstream out;
  adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  EXPECT_EQ(out.str().rfind("<?xml version=\"1.0\"?>\n<PMML", 0), 0u);
}

TEST(PmmlPortable, NamesAndNumbersThatMustNotClashOrRound) {
  // A predictor already called Predicted_t, a weighted node, a risk, a range and a threshold
  // that fifteen digits would not give back.
  std::string model = With(kGaps, R"("name": "x", "level")", R"("name": "Predicted_t", "level")");
  model =
      With(model, R"("predictors": ["c", "d", "x"])", R"("predictors": ["c", "d", "Predicted_t"])");
  model = With(model, R"("predictor": "x", "children": [{"high": 3})",
               R"("predictor": "Predicted_t", "children": [{"high": 0.30000000000000004})");
  model = With(model, R"("predictor": "x", "children": [{"high": 2.5})",
               R"("predictor": "Predicted_t", "children": [{"high": 2.5})");
  model = With(model, R"("predictor": "x", "children": [{"low": 1})",
               R"("predictor": "Predicted_t", "children": [{"low": 1})");
  model = With(model, R"("counts": [25, 35])", R"("counts": [25.5, 35.25])");
  model = With(model, R"("algorithm": 0,)",
               R"("algorithm": 0, "risk": [{"sample": 0, "value": 0.1, "stdError": 0.02}],)");
  model = With(
      model, R"("biggestChild": null},)",
      R"("biggestChild": null, "ranges": [{"predictor": "Predicted_t", "min": 0.1, "max": 7}]},)");
  XmlDoc portable(Export(model, true));
  EXPECT_EQ(portable.PmmlSchemaErrors(), "");
  EXPECT_EQ(portable.Texts("//p:OutputField/@name")[0], "Predicted_t_2");
  EXPECT_EQ(portable.Text("(//p:SimplePredicate[@operator='lessOrEqual']/@value)[1]"),
            "0.30000000000000004");
  EXPECT_EQ(portable.Text("//p:Node[@id='0']/@recordCount"), "60.75");
  EXPECT_EQ(portable.Text("//p:X-risk/@value"), "0.1");
  EXPECT_EQ(portable.Text("//p:NumericInfo/@minimum"), "0.1");
  EXPECT_EQ(portable.Text("//p:NumericInfo/@maximum"), "7");
  XmlDoc format(Export(model, false));
  EXPECT_EQ(format.Text("(//p:SimplePredicate[@operator='lessOrEqual']/@value)[1]"), "0.3");
  EXPECT_EQ(format.Text("//p:Node[@id='0']/@recordCount"), "60");
}

// One predictor's candidate values: the text a record holds (none: missing) and the host's code.
struct Value {
  const char* text;
  std::optional<double> code;
};
using Field = std::pair<std::string, std::vector<Value>>;

// Routes every combination of the fields' values (fields in predictor order) through the
// document and the host, expects the same leaf, and counts the records per leaf.
std::map<std::string, int> ExpectRoutesAsHost(const memtree::Model& model,
                                              const PmmlTreeEvaluator& pmml,
                                              const std::vector<Field>& fields) {
  std::map<std::string, int> leaves;
  std::vector<std::size_t> at(fields.size(), 0);
  std::size_t combinations = 1, scored = 0;
  for (const Field& field : fields) combinations *= field.second.size();
  for (bool more = true; more; ++scored) {
    PmmlRecord record;
    std::vector<std::optional<double>> codes;
    std::string shown;
    for (std::size_t f = 0; f < fields.size(); ++f) {
      const Value& v = fields[f].second[at[f]];
      if (v.text != nullptr) record[fields[f].first] = v.text;
      codes.push_back(v.code);
      shown += " " + fields[f].first + "=" + (v.text != nullptr ? v.text : "-");
    }
    const std::string host = std::to_string(static_cast<uint32_t>(model.tree->Route(codes)));
    EXPECT_EQ(pmml.LeafId(record), host) << shown;
    ++leaves[host];
    more = false;  // the next combination, the first field turning fastest
    for (std::size_t f = 0; f < fields.size() && !more; ++f) {
      more = ++at[f] < fields[f].second.size();
      if (!more) at[f] = 0;
    }
  }
  EXPECT_EQ(scored, combinations);
  return leaves;
}

const Value kMissing{nullptr, std::nullopt};

TEST(PmmlRouting, EveryCombinationOfValuesAndMissingReachesTheHostsLeaf) {
  const memtree::Model model = memtree::ParseModel(kRouting, "routing.json");
  const std::string document = Export(model, false);
  EXPECT_EQ(XmlDoc(document).PmmlSchemaErrors(), "");
  const PmmlTreeEvaluator pmml(document);
  const std::map<std::string, int> leaves = ExpectRoutesAsHost(
      model, pmml,
      {{"x", {kMissing, {"1", 1}, {"3.5", 3.5}, {"3.6", 3.6}, {"5", 5}, {"6", 6}, {"8", 8}, {"9", 9}}},
       {"c", {kMissing, {"red", 0}, {"green", 1}, {"blue", 2}}},
       {"o", {kMissing, {"lo", 0}, {"mid", 1}, {"hi", 2}}}});
  EXPECT_EQ(leaves.size(), 5u);  // every leaf is reached
  // Spot checks worked out by hand from the tree above.
  EXPECT_EQ(pmml.LeafId({{"x", "3.6"}, {"c", "green"}}), "4");
  EXPECT_EQ(pmml.LeafId({{"c", "green"}, {"o", "hi"}}), "7");  // x missing: c sends it right
  EXPECT_EQ(pmml.LeafId({{"x", "2"}}), "5");  // o missing: its own rule sends it to child 0
  EXPECT_EQ(pmml.LeafId({{"c", "blue"}, {"x", "3.5"}, {"o", "mid"}}), "6");
  EXPECT_EQ(pmml.Score({{"x", "9"}, {"c", "red"}}), "a");
}

TEST(PmmlPortable, StandardReadingRoutesEveryRecordAsTheHost) {
  const memtree::Model model = memtree::ParseModel(kGaps, "gaps.json");
  const PmmlTreeEvaluator pmml(Export(model, true), PmmlMode::kStandard);
  const std::map<std::string, int> leaves = ExpectRoutesAsHost(
      model, pmml,
      {{"c", {kMissing, {"red", 0}, {"green", 1}, {"blue", 2}, {"grey", 3}, {"gray", 3}}},
       {"d", {kMissing, {"p", 0}, {"q", 1}, {"r", 2}}},
       {"x", {kMissing, {"0.5", 0.5}, {"1", 1}, {"2.5", 2.5}, {"3", 3}, {"4", 4}, {"5", 5}, {"6", 6}}}});
  EXPECT_GT(leaves.at("0"), 0);  // some records stop at the node without a biggest child
  // A value outside the code table is read as missing: c missing goes to child 1 (node 2).
  EXPECT_EQ(pmml.LeafId({{"c", "purple"}, {"d", "r"}}), pmml.LeafId({{"d", "r"}}));
  EXPECT_EQ(pmml.LeafId({{"c", "purple"}, {"d", "r"}}), "6");
  EXPECT_EQ(pmml.Probabilities({{"c", "red"}, {"x", "1"}}).at("a"), 0.85);
}

TEST(PmmlPortable, BundledExamplesAreValidInBothProfilesAndRouteAsTheHost) {
  for (const char* name : {"cart_classification.json", "chaid.json", "regression.json"}) {
    const memtree::Model model =
        memtree::LoadModel(std::string(TREEXPORT_SOURCE_DIR) + "/examples/" + name);
    // The format profile's bytes are held by the golden test; they must meet the schema too.
    EXPECT_EQ(XmlDoc(Export(model, false)).PmmlSchemaErrors(), "") << name;
    const std::string text = Export(model, true);
    EXPECT_EQ(XmlDoc(text).PmmlSchemaErrors(), "") << name;
    // Every predictor missing: the surrogates, then the biggest children decide.
    EXPECT_EQ(PmmlTreeEvaluator(text, PmmlMode::kStandard).LeafId({}),
              std::to_string(static_cast<uint32_t>(model.tree->Route({}))))
        << name;
  }
}

}  // namespace
