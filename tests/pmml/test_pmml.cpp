// The PMML document, checked by parsing and against the PMML 4.3 schema: the adapter's settings
// and lifecycle, what the bundled examples do not show of the dictionary, mining schema and
// nodes, the predicate of every kind of rule, the extensions, and deep trees.
#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "tests/pmml/models.h"
#include "tests/support/model_text.h"
#include "tests/support/stack.h"
#include "tests/support/xml_check.h"
#include "xmlu/markup_writer.h"
#include "xmlu/text_sink.h"

namespace {

using testing_support::ChainModel;
using testing_support::With;
using testing_support::XmlDoc;
using Names = std::vector<std::string>;

memtree::Model Load(const std::string& text) { return memtree::ParseModel(text, "test.json"); }

std::string Export(const tree::TreeAlgorithmBase& tree, const mdt::ModelMetadata& metadata,
                   int sample = 0) {
  TreeOut::PMMLOutputAdapter adapter;
  std::ostringstream out;
  adapter.GeneratePMML(out, tree, &metadata, static_cast<tree::DataSample>(sample));
  return out.str();
}

std::string Export(const std::string& modelText, int sample = 0) {
  const memtree::Model model = Load(modelText);
  return Export(*model.tree, *model.metadata, sample);
}

// The document of a model, which must be valid against the schema.
struct Doc : XmlDoc {
  explicit Doc(const std::string& modelText, int sample = 0) : XmlDoc(Export(modelText, sample)) {
    EXPECT_EQ(PmmlSchemaErrors(), "");
  }
};

std::string NodePath(const std::string& id) { return "//p:Node[@id='" + id + "']"; }

// Forwards to a loaded model, changed where a model file cannot go: no root, or settings that
// call every predictor nominal, so that interval value sets are of the wrong kind.
class Altered : public tree::TreeAlgorithmBase {
 public:
  Altered(const tree::TreeAlgorithmBase& inner, bool noRoot, bool allNominal)
      : inner_(inner), noRoot_(noRoot), allNominal_(allNominal) {}
  const tree::Node* GetRoot() const override { return noRoot_ ? nullptr : inner_.GetRoot(); }
  bool IsClassification() const override { return inner_.IsClassification(); }
  tree::AlgSettings* CreateSettings() const override {
    tree::AlgSettings* settings = inner_.CreateSettings();
    return allNominal_ ? new Settings(std::unique_ptr<tree::AlgSettings>(settings)) : settings;
  }
  ArbTree::ArbStatus ComputeTreeStatistics(tree::DataSample sample,
                                           tree::TreeStatistics& stats) const override {
    return inner_.ComputeTreeStatistics(sample, stats);
  }
  const ArbTree::ArbVersion& GetVersion() const override { return inner_.GetVersion(); }

 private:
  struct Nominal : tree::PredictorDescriptor {
    int GetMeasurementLevel() const override { return 0; }
  };
  struct Info : tree::PredictorInfo {
    Nominal nominal;
    const tree::PredictorDescriptor& GetPredictor(int) const override { return nominal; }
  };
  struct Settings : tree::AlgSettings {
    explicit Settings(std::unique_ptr<tree::AlgSettings> inner) : inner(std::move(inner)) {}
    std::unique_ptr<tree::AlgSettings> inner;
    Info info;
    int GetAlgorithmType() const override { return inner->GetAlgorithmType(); }
    const tree::PredictorInfo& GetPredictorInfo() const override { return info; }
    const tree::RiskEstimation& GetRiskEstimation() const override {
      return inner->GetRiskEstimation();
    }
  };
  const tree::TreeAlgorithmBase& inner_;
  bool noRoot_, allNominal_;
};

TEST(PmmlDocument, BareRootForAModelWithoutRoot) {
  const memtree::Model model = Load(ChainModel(1));
  EXPECT_EQ(Export(Altered(*model.tree, true, false), *model.metadata),
            "\n<PMML\n\tversion=\"4.3\"\n\txmlns=\"http://www.dmg.org/PMML-4_3\"\n"
            "\txmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
            "\txsi:schemaLocation=\"http://www.dmg.org/PMML-4_3 pmml-4-3.xsd\"/>");
}

TEST(PmmlDocument, SettingsTravelWithCopiesAndSuccessiveCallsAreIndependent) {
  const memtree::Model credit = Load(pmml_test::kCredit);
  const memtree::Model regression = Load(pmml_test::kRegression);
  auto generate = [](TreeOut::PMMLOutputAdapterImp& adapter, const memtree::Model& model) {
    std::ostringstream out;
    adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
    return out.str();
  };
  auto adapter = std::make_unique<TreeOut::PMMLOutputAdapterImp>();
  adapter->SetCopyRight("");
  const std::string first = generate(*adapter, credit);
  const XmlDoc doc(first);
  EXPECT_EQ(doc.PmmlSchemaErrors(), "");
  EXPECT_EQ(doc.Number("/p:PMML/p:Header/@copyright"), 1);
  EXPECT_EQ(doc.Text("/p:PMML/p:Header/@copyright"), "");

  auto copy = std::make_unique<TreeOut::PMMLOutputAdapterImp>(*adapter);
  EXPECT_EQ(XmlDoc(generate(*adapter, regression)).Texts("//p:MiningField/@name"),
            (Names{"x", "y"}));
  // The copy and the original each hold their own settings object; both can go.
  EXPECT_EQ(generate(*copy, credit), first);
  *copy = *adapter;
  adapter.reset();
  copy.reset();
  TreeOut::PMMLOutputAdapterImp assigned;
  assigned = assigned;
  EXPECT_EQ(generate(assigned, credit), Export(pmml_test::kCredit));
}

class RecordingTranscoder : public ArbTree::Transcoder {
 public:
  mutable std::string seen;
  int Transcode(const std::string& in, std::string& out) const override {
    seen = in;
    out = "transcoded:" + std::to_string(in.size());
    return 7;
  }
};

TEST(PmmlDocument, TranscoderGetsTheRawTextAndItsBytesGoOutUnchanged) {
  // The model file is UTF-8; in a Latin-1 process the host would hold Latin-1 text.
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  const bool latin1 = std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1") != nullptr ||
                      std::setlocale(LC_CTYPE, "de_DE.iso88591") != nullptr;
  const memtree::Model model =
      Load(With(ChainModel(1), "\"name\": \"x\"", "\"name\": \"x\", \"label\": \"caf\xC3\xA9\""));
  TreeOut::PMMLOutputAdapter adapter;
  RecordingTranscoder transcoder;
  adapter.UseTranscoder(&transcoder);
  std::ostringstream transcoded, plain;
  adapter.GeneratePMML(transcoded, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  EXPECT_EQ(transcoded.str(), "transcoded:" + std::to_string(transcoder.seen.size()));
  EXPECT_EQ(transcoder.seen.rfind("\n<PMML", 0), 0u);
  EXPECT_NE(transcoder.seen.find("displayName=\"caf\xC3\xA9\""), std::string::npos);

  adapter.UseTranscoder(nullptr);
  adapter.GeneratePMML(plain, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  // In Latin-1 each byte of the UTF-8 label is a character of its own, converted once more.
  EXPECT_NE(plain.str().find(latin1 ? "displayName=\"caf\xC3\x83\xC2\xA9\""
                                    : "displayName=\"caf\xC3\xA9\""),
            std::string::npos);
  EXPECT_EQ(XmlDoc(plain.str()).PmmlSchemaErrors(), "");
  std::setlocale(LC_CTYPE, saved.c_str());
  if (!latin1) GTEST_SKIP() << "no ISO-8859-1 locale installed; checked the UTF-8 path only";
}

// The pieces a sink gets, in order; it throws on write number failAt (counting from 1).
class Pieces : public xmlu::TextSink {
 public:
  explicit Pieces(int failAt = 0) : failAt_(failAt) {}
  void Write(const char* data, std::size_t size) override {
    if (static_cast<int>(sizes.size()) + 1 == failAt_) throw std::runtime_error("disk full");
    text.append(data, size);
    sizes.push_back(size);
  }
  std::string text;
  std::vector<std::size_t> sizes;

 private:
  int failAt_;
};

// A model whose statistics fail once the header and dictionary are written.
class FailingStatistics : public Altered {
 public:
  explicit FailingStatistics(const tree::TreeAlgorithmBase& inner) : Altered(inner, false, false) {}
  ArbTree::ArbStatus ComputeTreeStatistics(tree::DataSample, tree::TreeStatistics&) const override {
    throw std::runtime_error("statistics unavailable");
  }
};

TEST(PmmlDocument, PiecesGiveTheStreamsBytesAndAFailedStreamGetsNothing) {
  const std::string examples = std::string(TREEXPORT_SOURCE_DIR) + "/examples/";
  const memtree::Model chain = Load(ChainModel(300, 2));
  std::vector<memtree::Model> models;
  for (const char* name : {"cart_classification.json", "chaid.json", "regression.json"}) {
    models.push_back(memtree::LoadModel(examples + name));
  }
  models.push_back(Load(ChainModel(300, 2)));
  for (const memtree::Model& model : models) {
    for (bool portable : {false, true}) {
      TreeOut::PMMLOutputAdapter adapter;
      adapter.SetPortableProfile(portable);
      std::ostringstream stream;
      adapter.GeneratePMML(stream, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
      Pieces pieces;
      adapter.GeneratePMML(pieces, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
      EXPECT_EQ(pieces.text, stream.str()) << portable;
    }
  }
  // The 300-deep chain is megabytes: it comes in blocks of the writer's size, never the whole.
  Pieces last;
  TreeOut::PMMLOutputAdapter adapter;
  adapter.GeneratePMML(last, *chain.tree, chain.metadata.get(), tree::TRAINING_SAMPLE);
  ASSERT_GT(last.sizes.size(), 10u);
  for (std::size_t i = 0; i + 1 < last.sizes.size(); ++i) {
    EXPECT_EQ(last.sizes[i], xmlu::MarkupWriter::kBlockSize);
  }

  // A host object that throws: the stream gets nothing, the exception comes through.
  const FailingStatistics failing(*chain.tree);
  std::ostringstream stream;
  EXPECT_THROW(adapter.GeneratePMML(stream, failing, chain.metadata.get(), tree::TRAINING_SAMPLE),
               std::runtime_error);
  EXPECT_EQ(stream.str(), "");
  Pieces pieces;
  EXPECT_THROW(adapter.GeneratePMML(pieces, failing, chain.metadata.get(), tree::TRAINING_SAMPLE),
               std::runtime_error);
  // A sink that fails partway stops the export with its own exception; the adapter is then
  // as good as new.
  Pieces full(3);
  try {
    adapter.GeneratePMML(full, *chain.tree, chain.metadata.get(), tree::TRAINING_SAMPLE);
    ADD_FAILURE() << "the sink's failure did not come through";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "disk full");
  }
  EXPECT_EQ(full.sizes.size(), 2u);
  Pieces again;
  adapter.GeneratePMML(again, *chain.tree, chain.metadata.get(), tree::TRAINING_SAMPLE);
  EXPECT_EQ(again.text, last.text);

  // A transcoder converts whole documents: the sink gets its bytes.
  RecordingTranscoder transcoder;
  adapter.UseTranscoder(&transcoder);
  Pieces transcoded;
  adapter.GeneratePMML(transcoded, *chain.tree, chain.metadata.get(), tree::TRAINING_SAMPLE);
  EXPECT_EQ(transcoded.text, "transcoded:" + std::to_string(last.text.size()));
}

TEST(PmmlDataDictionary, CategoriesAndMissingValues) {
  const Doc doc(pmml_test::kCredit);
  const std::string field = "/p:PMML/p:DataDictionary/p:DataField";
  // A field without a label still gets its (empty) displayName.
  EXPECT_EQ(doc.AttributeNames(field + "[@name='size']"),
            (Names{"name", "displayName", "optype", "isCyclic", "dataType"}));
  // age: a range open at its end, one without an end; null is no missing value.
  const std::string age = field + "[@name='age']";
  EXPECT_EQ(doc.Texts(age + "//p:Interval/@closure"), (Names{"closedOpen", "closedClosed"}));
  EXPECT_EQ(doc.Texts(age + "//p:Interval/@rightMargin"), (Names{"5", ""}));
  EXPECT_EQ(doc.Texts(age + "/p:Value/@value"), (Names{"-1"}));
  // region: only the codes the splits name (1, 0, 3; not 2), every value of each, code order.
  EXPECT_EQ(doc.Texts(field + "[@name='region']/p:Value/@value"),
            (Names{"north", "south", "S", "west"}));
  // size: ordinal, so every category of its code table, in code order (the file lists L first).
  EXPECT_EQ(doc.Texts(field + "[@name='size']/p:Value/@value"), (Names{"S", "M", "L"}));
  EXPECT_EQ(doc.Number(field + "[@name='unused']/*"), 0);
  // The target lists codes 0 and 1 in code order, decoded.
  EXPECT_EQ(doc.Texts(field + "[@name='credit']/p:Value/@value"), (Names{"yes", "no"}));
  // A categorical weight field gets its missing values but no categories.
  EXPECT_EQ(doc.Texts(field + "[@name='wt']/p:Value/@value"), (Names{"0"}));
}

TEST(PmmlMiningSchema, FieldsInOrderOfFirstUseThenTheTarget) {
  const Doc doc(pmml_test::kCredit, 1);
  // Root primary (region), root surrogate (age), then node 1's split (size); weights never.
  EXPECT_EQ(doc.Texts("//p:MiningSchema/p:MiningField/@name"),
            (Names{"region", "age", "size", "credit"}));
  EXPECT_EQ(doc.Texts("//p:ModelStats/p:UnivariateStats/@field"), (Names{"region", "age", "size"}));
  // Always the root's training count, even for an export of the test sample.
  EXPECT_EQ(doc.Texts("//p:Counts/@totalFreq"), Names(3, "100"));

  // A tree without splits: the target only, and the first predictor's statistics.
  const Doc stump(ChainModel(1));
  EXPECT_EQ(stump.Texts("//p:MiningField/@name"), (Names{"y"}));
  EXPECT_EQ(stump.Texts("//p:UnivariateStats/@field"), (Names{"x"}));
  EXPECT_EQ(stump.Number("//p:X-PredictorImportanceList/*"), 0);
}

TEST(PmmlNodes, RegressionScoresAndDistributions) {
  const Doc doc(pmml_test::kRegression);
  const std::string root = "/p:PMML/p:TreeModel/p:Node";
  // The score is the prediction, X-RegInfo the mean; a node without a deviation says 0.
  EXPECT_EQ(doc.Text(root + "/@score"), "5.2");
  EXPECT_EQ(doc.Text(root + "/p:Extension/p:X-Node/p:X-RegInfo/@mean"), "5.25");
  EXPECT_EQ(doc.Text(root + "/p:Extension/p:X-Node/p:X-RegInfo/@stdDev"), "0");
  // The regression distribution: value is the entry index, written before recordCount.
  const std::string right = root + "/p:Node[2]";
  EXPECT_EQ(doc.AttributeNames(right + "/p:ScoreDistribution"), (Names{"value", "recordCount"}));
  EXPECT_EQ(doc.Texts(right + "/p:ScoreDistribution/@value"), (Names{"0", "1", "2"}));
  EXPECT_EQ(doc.Texts(right + "/p:ScoreDistribution/@recordCount"), (Names{"10", "20.5", "9.5"}));
}

TEST(PmmlNodes, ClassificationIdsProbabilitiesAndSamples) {
  const Doc doc(pmml_test::kCredit);
  EXPECT_EQ(doc.Texts("//p:Node/@id"), (Names{"0", "1", "3", "4", "4294967295"}));
  // Probabilities: given at the root; 0 and none at the last leaf; none elsewhere.
  EXPECT_EQ(doc.Texts(NodePath("0") + "/p:ScoreDistribution/p:Extension/@value"),
            (Names{"0.6", "0.4"}));
  const std::string last = NodePath("4294967295") + "/p:ScoreDistribution";
  EXPECT_EQ(doc.Number(last + "[1]/*"), 1);
  EXPECT_EQ(doc.Text(last + "[1]/p:Extension/@value"), "0");
  EXPECT_EQ(doc.Number(last + "[2]/*"), 0);
  EXPECT_EQ(doc.Number(NodePath("3") + "/p:ScoreDistribution/*"), 0);
  // The test sample's counts and predictions.
  const Doc test(pmml_test::kCredit, 1);
  EXPECT_EQ(test.Texts("//p:Node/@recordCount"), (Names{"50", "35", "10", "25", "15"}));
  EXPECT_EQ(test.Text(NodePath("3") + "/@score"), "no");
}

TEST(PmmlNodes, RiskFallsBackToSampleZeroThenToTheSentinel) {
  // The risk sample is 1 but only sample 0 has a risk: the second call reads sample 0.
  const Doc retried(
      With(pmml_test::kCredit, ", {\"sample\": 1, \"value\": 0.3, \"stdError\": 0.05}", ""));
  EXPECT_EQ(retried.Text("//p:X-risk/@value"), "0.25");
  EXPECT_EQ(retried.Text("//p:X-seOfRisk/@value"), "0.04");
  const Doc none(ChainModel(1));
  EXPECT_EQ(none.Text("//p:X-risk/@value"), "-1.79769313486232e+308");
  EXPECT_EQ(none.Text("//p:X-seOfRisk/@value"), "-1.79769313486232e+308");
}

// The predicate at path as text: a SimplePredicate as "field operator 'value'" (without the
// quoted part when it has no value), a CompoundPredicate as "operator(part, ...)" with "-" for
// a missing operator, True and False by name.
std::string Predicate(const XmlDoc& doc, const std::string& path) {
  const std::string name = doc.Text("local-name(" + path + ")");
  if (name == "SimplePredicate") {
    std::string text = doc.Text(path + "/@field") + " " + doc.Text(path + "/@operator");
    if (doc.Number(path + "/@value") == 1) text += " '" + doc.Text(path + "/@value") + "'";
    return text;
  }
  if (name != "CompoundPredicate") return name;
  std::string text =
      doc.Number(path + "/@booleanOperator") == 1 ? doc.Text(path + "/@booleanOperator") : "-";
  const std::size_t parts = doc.ChildNames(path).size();
  for (std::size_t i = 1; i <= parts; ++i) {
    text += (i == 1 ? "(" : ", ") + Predicate(doc, path + "/*[" + std::to_string(i) + "]");
  }
  return text + (parts == 0 ? "()" : ")");
}

TEST(PmmlPredicates, EachRuleOfTheParentThenWhetherTheChildIsTheBiggest) {
  const std::string regression = pmml_test::kRegression;
  auto missingChild = [&](const std::string& child) {
    return With(regression, "\"children\": [{\"high\": 3.5}",
                "\"missingChild\": " + child + ", \"children\": [{\"high\": 3.5}");
  };
  const std::string nullSet = With(pmml_test::kChaid, "{\"codes\": [2]}]}]},", "null]}]},");
  const struct {
    std::string model;
    const char* schemaError;  // part of the validator's message for a named exception
    std::vector<std::pair<const char*, const char*>> nodes;  // id, predicate
  } cases[] = {
      {pmml_test::kCredit,
       nullptr,
       {// One code, then False; the surrogate's lower half-line; the biggest child, so True.
        {"1", "surrogate(or(region equal 'south', False), and(True, age lessOrEqual '40'), True)"},
        // The missing-value child: isMissing first, then the codes.
        {"4294967295",
         "surrogate(or(region isMissing, region equal 'north', region equal 'west'), "
         "and(age greaterThan '40', True), False)"}}},
      // The middle interval of the missing-value child: "or" of isMissing and a nested "and";
      // interval categories decode to the upper end of their range. (A record without education
      // meets node 1's agegroup surrogate before this isMissing, so the document sends it to
      // node 1 where the host sends it here: the document follows the writer's rules.)
      {pmml_test::kChaid,
       nullptr,
       {{"2",
         "surrogate(or(education isMissing, education equal '30', False), "
         "or(agegroup isMissing, and(agegroup greaterThan '30', agegroup lessOrEqual '50')), "
         "or(sector equal 'private', False), False)"}}},
      // A missing-value child without an upper bound: "or" of isMissing and the lower one.
      {missingChild("1"),
       nullptr,
       {{"2", "surrogate(or(x isMissing, x greaterThan '3.5'), False)"}}},
      {With(regression, "[{\"high\": 3.5}, {\"low\": 3.5, \"lowOpen\": true}]",
            "[{\"high\": 3.5, \"highOpen\": true}, {\"low\": 3.5}]"),
       nullptr,
       {{"1", "surrogate(and(True, x lessThan '3.5'), True)"},
        {"2", "surrogate(and(x greaterOrEqual '3.5', True), False)"}}},
      // A rule without a value set accepts every record, or for the missing-value child only the
      // missing ones. Without isMissing that is a CompoundPredicate of one part, where the
      // schema asks for two: the writer keeps those bytes.
      {nullSet,
       "CompoundPredicate",
       {{"3",
         "surrogate(or(education equal '40', education equal '50'), "
         "and(agegroup greaterThan '50', True), and(True), True)"}}},
      {With(nullSet, "null]", "null], \"missingChild\": 2"),
       nullptr,
       {{"3",
         "surrogate(or(education equal '40', education equal '50'), "
         "and(agegroup greaterThan '50', True), and(sector isMissing, True), True)"}}},
  };
  for (const auto& c : cases) {
    const XmlDoc doc(Export(c.model));
    for (const auto& [id, predicate] : c.nodes) {
      EXPECT_EQ(Predicate(doc, NodePath(id) + "/p:CompoundPredicate"), predicate) << id;
    }
    if (c.schemaError == nullptr) {
      EXPECT_EQ(doc.PmmlSchemaErrors(), "");
    } else {
      EXPECT_NE(doc.PmmlSchemaErrors().find(c.schemaError), std::string::npos);
    }
  }

  // Settings that call x nominal make its intervals the wrong kind of value set: the rule keeps
  // its isMissing but gets no operator, and the schema, which wants both, is not met.
  const memtree::Model model = Load(missingChild("1"));
  const XmlDoc doc(Export(Altered(*model.tree, false, true), *model.metadata));
  EXPECT_EQ(Predicate(doc, NodePath("1") + "/p:CompoundPredicate"), "surrogate(-(), True)");
  EXPECT_EQ(Predicate(doc, NodePath("2") + "/p:CompoundPredicate"),
            "surrogate(-(x isMissing), False)");
  EXPECT_NE(doc.PmmlSchemaErrors(), "");
}

// name=value pairs of the root's X-NodeStats when its split carries these statistics.
Names RootStatistics(const std::string& statistics, const std::string& kinds) {
  const Doc doc(With(pmml_test::kRegression,
                     "\"statistics\": [12.25], \"kinds\": [\"improvement\"]",
                     "\"statistics\": " + statistics + ", \"kinds\": " + kinds));
  const std::string path = "/p:PMML/p:TreeModel/p:Node/p:Extension/p:X-Node/p:X-NodeStats";
  if (doc.Number(path) != 1) return {"<no X-NodeStats>"};
  Names pairs;
  for (const std::string& name : doc.AttributeNames(path)) {
    pairs.push_back(name + "=" + doc.Text(path + "/@" + name));
  }
  return pairs;
}

TEST(PmmlExtensions, StatisticFlagsPickTheAttributes) {
  EXPECT_EQ(RootStatistics("[Infinity, 0.05, 3, 40]", "[\"f\", \"pValue\", \"df1\", \"df2\"]"),
            (Names{"fStats=inf", "pValue=0.05", "df1=3", "df2=40"}));
  // One entry, two kinds: each takes the entry's value; only F statistics write "inf".
  EXPECT_EQ(RootStatistics("[Infinity]", "[\"improvement\", \"levenesF\"]"),
            (Names{"improvement=INF", "levenesF=inf"}));
  EXPECT_EQ(RootStatistics("[]", "[\"chiSquare\"]"), Names{});  // kind without entry
  EXPECT_EQ(RootStatistics("[5, 6, 7, 8]", "[]"), Names{});     // entries without kind
  EXPECT_EQ(RootStatistics("[null, 2]", "[\"improvement\", \"association\"]"),
            (Names{"association=2"}));

  // A classification split node without statistics still gets an empty X-NodeStats.
  const Doc bare(With(pmml_test::kCredit,
                      ",\n               \"statistics\": [6, 0.01], \"kinds\": [\"improvement\", "
                      "\"pValue\"]",
                      ""));
  EXPECT_EQ(bare.Number(NodePath("1") + "/p:Extension/p:X-Node/p:X-NodeStats"), 1);
  EXPECT_EQ(bare.Number(NodePath("1") + "/p:Extension/p:X-Node/p:X-NodeStats/@*"), 0);
}

TEST(PmmlExtensions, ImportanceOfTheHandWorkedTreeAndPriorsOfEachKindOfSettings) {
  // Root: region improves by 10 as primary, age by 4 as surrogate (weight 1.0); node 1: size
  // by 6. Sum 20: region 0.5, age 0.2, size 0.3, listed in order of first use.
  const Doc doc(pmml_test::kCredit);
  EXPECT_EQ(doc.Texts("//p:X-PredictorImportance/@predictorName"),
            (Names{"region", "age", "size"}));
  EXPECT_EQ(doc.Texts("//p:X-PredictorImportance/@importance"), (Names{"0.5", "0.2", "0.3"}));
  // Codes 0 and 1 of the target are "yes" and "no", whatever order the file lists them in.
  EXPECT_EQ(doc.Texts("//p:X-Prior-Value/@targetCategory"), (Names{"yes", "no"}));
  EXPECT_EQ(doc.Texts("//p:X-Prior-Value/@value"), (Names{"0.3", "0.7"}));

  // With 5 for the root: 5, 4 and 6 of 15.
  const Doc thirds(With(pmml_test::kCredit, "\"statistics\": [10]", "\"statistics\": [5]"));
  EXPECT_EQ(thirds.Texts("//p:X-PredictorImportance/@importance"),
            (Names{"0.333333333333333", "0.266666666666667", "0.4"}));
  // CHAID statistics hold no improvement: every used predictor is rated 0.
  const Doc zeros(With(With(pmml_test::kChaid, "\"algorithm\": 3", "\"algorithm\": 0"),
                       "\"priors\": [0.2, 0.3, 0.5],", ""));
  EXPECT_EQ(zeros.Texts("//p:X-PredictorImportance/@predictorName"),
            (Names{"education", "agegroup", "sector"}));
  EXPECT_EQ(zeros.Texts("//p:X-PredictorImportance/@importance"), (Names{"0", "0", "0"}));
  // CHAID and QUEST settings (codes 3 and 4) hold their priors as C&RT's do; neither rates
  // importance.
  for (const char* algorithm : {"3", "4"}) {
    const Doc doc(
        With(pmml_test::kChaid, "\"algorithm\": 3", std::string("\"algorithm\": ") + algorithm));
    EXPECT_EQ(doc.ChildNames("//p:TreeModel/p:Extension[last()]/p:X-TreeModel"),
              (Names{"X-Priors"}));
    EXPECT_EQ(doc.Texts("//p:X-Prior-Value/@targetCategory"), (Names{"low", "mid", "high"}));
    EXPECT_EQ(doc.Texts("//p:X-Prior-Value/@value"), (Names{"0.2", "0.3", "0.5"}));
  }
}

TEST(PmmlPredicates, PlusAndMinusZeroDecodeApartWhicheverComesFirst) {
  // x has missing values, so it has an encoder; in a chain of three nodes the root's rule is on
  // one zero, node 1's on the other. Each predicate must carry what the encoder gives for its
  // own value.
  const std::string chain =
      With(With(With(ChainModel(3), "\"storage\": \"numeric\"}",
                     "\"storage\": \"numeric\", \"missing\": {\"values\": [-1]}}"),
                "[{\"low\": 0}]", "[{\"low\": ROOT}]"),
           "[{\"low\": 0}]", "[{\"low\": INNER}]");
  const std::pair<const char*, const char*> orders[] = {{"0", "-0.0"}, {"-0.0", "0"}};
  for (const auto& [root, inner] : orders) {
    const Doc d(With(With(chain, "ROOT", root), "INNER", inner));
    auto value = [&](const char* id) {
      return d.Texts(NodePath(id) +
                     "/*[not(self::p:Node)]/descendant-or-self::p:SimplePredicate"
                     "[@field='x']/@value");
    };
    EXPECT_EQ(value("1"), Names{root[0] == '-' ? "-0" : "0"}) << root;
    EXPECT_EQ(value("2"), Names{inner[0] == '-' ? "-0" : "0"}) << root;
  }
}

TEST(PmmlNodes, ChainsNeedNoStackPerLevel) {
  // The tab indentation makes a chain's document grow with the square of its depth (a
  // 100,000-deep one would take over 100 GB), so depth is shown by stack size instead: 1,500
  // levels on a 128 KB stack, where writing one level per call frame cannot fit.
  constexpr int kDepth = 1500;
  const memtree::Model model = Load(ChainModel(kDepth, 2));
  std::string text;
  testing_support::RunOnStack(128 << 10, [&] { text = Export(*model.tree, *model.metadata); });
  const XmlDoc doc(text);
  EXPECT_EQ(doc.PmmlSchemaErrors(), "");
  EXPECT_EQ(doc.Number("count(//p:Node)"), kDepth);
  EXPECT_EQ(doc.Text("(//p:Node)[last()]/@id"), std::to_string(kDepth - 1));
}

}  // namespace
