// The PMML document: driver and header, data dictionary, mining schema and statistics, nodes,
// predicates and extensions, checked by parsing and by the PMML 4.3 schema.
#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/importance/predictor_rank.h"
#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "tests/pmml/models.h"
#include "tests/support/stack.h"
#include "tests/support/xml_check.h"

namespace {

using testing_support::XmlDoc;
using Names = std::vector<std::string>;

memtree::Model Load(const std::string& text) { return memtree::ParseModel(text, "test.json"); }

std::string Export(TreeOut::PMMLOutputAdapter& adapter, const tree::TreeAlgorithmBase& tree,
                   const mdt::ModelMetadata& metadata, int sample = 0) {
  TreeOut::InstallPredictorRank();
  std::ostringstream out;
  adapter.GeneratePMML(out, tree, &metadata, static_cast<tree::DataSample>(sample));
  return out.str();
}

std::string Export(const std::string& modelText, int sample = 0) {
  memtree::Model model = Load(modelText);
  TreeOut::PMMLOutputAdapter adapter;
  return Export(adapter, *model.tree, *model.metadata, sample);
}

// The text of model with one piece replaced, for variants of a model.
std::string With(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos)
    ADD_FAILURE() << "model text has no " << from;
  else
    text.replace(at, from.size(), to);
  return text;
}

// Forwards to a loaded model, with a few answers changed to reach what a model file cannot.
class AlteredModel : public tree::TreeAlgorithmBase {
 public:
  explicit AlteredModel(const tree::TreeAlgorithmBase& inner) : inner_(inner) {}
  bool noRoot = false;
  bool statisticsFail = false;
  const tree::Node* GetRoot() const override { return noRoot ? nullptr : inner_.GetRoot(); }
  bool IsClassification() const override { return inner_.IsClassification(); }
  tree::AlgSettings* CreateSettings() const override { return inner_.CreateSettings(); }
  ArbTree::ArbStatus ComputeTreeStatistics(tree::DataSample sample,
                                           tree::TreeStatistics& stats) const override {
    if (!statisticsFail) return inner_.ComputeTreeStatistics(sample, stats);
    ArbTree::ArbStatus failed;
    failed.severity = 1;
    return failed;
  }
  const ArbTree::ArbVersion& GetVersion() const override { return inner_.GetVersion(); }

 private:
  const tree::TreeAlgorithmBase& inner_;
};

TEST(PmmlDocument, BareRootForAModelWithoutRoot) {
  memtree::Model model = Load(pmml_test::kStump);
  AlteredModel empty(*model.tree);
  empty.noRoot = true;
  TreeOut::PMMLOutputAdapter adapter;
  EXPECT_EQ(Export(adapter, empty, *model.metadata),
            "\n<PMML\n\tversion=\"4.3\"\n\txmlns=\"http://www.dmg.org/PMML-4_3\"\n"
            "\txmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
            "\txsi:schemaLocation=\"http://www.dmg.org/PMML-4_3 pmml-4-3.xsd\"/>");
}

TEST(PmmlDocument, HeaderTextsAndTheirSetters) {
  memtree::Model model = Load(pmml_test::kStump);
  TreeOut::PMMLOutputAdapter fresh;
  const std::string text = Export(fresh, *model.tree, *model.metadata);
  EXPECT_EQ(text.rfind("\n<PMML\n\tversion=\"4.3\"", 0), 0u) << "no declaration, starts with LF";
  XmlDoc doc(text);
  EXPECT_EQ(doc.PmmlSchemaErrors(), "");
  EXPECT_EQ(doc.ChildNames("/p:PMML"), (Names{"Header", "DataDictionary", "TreeModel"}));
  EXPECT_NE(doc.Text("/p:PMML/p:Header/@copyright").find("treexport"), std::string::npos);
  EXPECT_EQ(fresh.GetCopyRight(), "");
  EXPECT_EQ(doc.AttributeNames("//p:Application"), (Names{"name", "version"}));
  EXPECT_EQ(doc.Text("//p:Application/@name"), "");
  EXPECT_EQ(doc.Text("//p:Application/@version"), "");
  EXPECT_EQ(doc.ChildNames("/p:PMML/p:Header"), (Names{"Application", "Timestamp"}));
  EXPECT_EQ(doc.Number("//p:Timestamp/node()"), 0);

  TreeOut::PMMLOutputAdapterImp set;
  set.SetCopyRight("");
  set.SetApplicationName("app & co");
  set.SetApplicationVersion("2.0");
  set.SetAlgorithmName("my <algorithm>");
  TreeOut::PMMLOutputAdapterImp copy(set);
  for (TreeOut::PMMLOutputAdapterImp* adapter : {&set, &copy}) {
    std::ostringstream out;
    adapter->GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
    XmlDoc again(out.str());
    EXPECT_EQ(again.Number("/p:PMML/p:Header/@copyright"), 1);
    EXPECT_EQ(again.Text("/p:PMML/p:Header/@copyright"), "");
    EXPECT_EQ(again.Text("//p:Application/@name"), "app & co");
    EXPECT_EQ(again.Text("//p:Application/@version"), "2.0");
    EXPECT_EQ(again.Text("//p:TreeModel/@algorithmName"), "my <algorithm>");
  }
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
  // A label in the process code page: Latin-1 0xE9 when such a locale exists, else UTF-8 bytes.
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  const bool latin1 = std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1") != nullptr ||
                      std::setlocale(LC_CTYPE, "de_DE.iso88591") != nullptr;
  const std::string label = latin1 ? "caf\xE9" : "caf\xC3\xA9";
  memtree::Model model = Load(
      With(pmml_test::kStump, "\"name\": \"b\"", "\"name\": \"b\", \"label\": \"caf\xC3\xA9\""));
  // The model file is UTF-8; in a Latin-1 process the host would hold Latin-1 text.
  TreeOut::PMMLOutputAdapter adapter;
  RecordingTranscoder transcoder;
  adapter.UseTranscoder(&transcoder);
  const std::string written = Export(adapter, *model.tree, *model.metadata);
  EXPECT_EQ(written, "transcoded:" + std::to_string(transcoder.seen.size()));
  EXPECT_EQ(transcoder.seen.rfind("\n<PMML", 0), 0u);
  EXPECT_NE(transcoder.seen.find("displayName=\"caf\xC3\xA9\""), std::string::npos);

  adapter.UseTranscoder(nullptr);
  const std::string utf8 = Export(adapter, *model.tree, *model.metadata);
  if (latin1) {
    // Each byte of the UTF-8 label is a Latin-1 character, so it is converted once more.
    EXPECT_NE(utf8.find("displayName=\"caf\xC3\x83\xC2\xA9\""), std::string::npos);
  } else {
    EXPECT_NE(utf8.find("displayName=\"caf\xC3\xA9\""), std::string::npos);
  }
  std::setlocale(LC_CTYPE, saved.c_str());
  if (!latin1) GTEST_SKIP() << "no ISO-8859-1 locale installed; checked the UTF-8 path only";
}

TEST(PmmlDocument, SuccessiveCallsAndCopiesAreIndependent) {
  memtree::Model credit = Load(pmml_test::kCredit);
  memtree::Model regression = Load(pmml_test::kRegression);
  auto adapter = std::make_unique<TreeOut::PMMLOutputAdapterImp>();
  std::ostringstream first, second;
  adapter->GeneratePMML(first, *credit.tree, credit.metadata.get(), tree::TRAINING_SAMPLE);
  auto copy = std::make_unique<TreeOut::PMMLOutputAdapterImp>(*adapter);
  adapter->GeneratePMML(second, *regression.tree, regression.metadata.get(), tree::TRAINING_SAMPLE);
  XmlDoc two(second.str());
  EXPECT_EQ(two.Texts("//p:MiningField/@name"), (Names{"x", "y"}));
  // The copy and the original each hold their own settings object; both can go.
  std::ostringstream third;
  copy->GeneratePMML(third, *credit.tree, credit.metadata.get(), tree::TRAINING_SAMPLE);
  EXPECT_EQ(third.str(), first.str());
  *copy = *adapter;
  adapter.reset();
  copy.reset();
  TreeOut::PMMLOutputAdapterImp assigned;
  assigned = assigned;
  std::ostringstream fourth;
  assigned.GeneratePMML(fourth, *credit.tree, credit.metadata.get(), tree::TRAINING_SAMPLE);
  EXPECT_EQ(fourth.str(), first.str());
}

TEST(PmmlDataDictionary, FieldsOptypesCategoriesAndMissingValues) {
  XmlDoc doc(Export(pmml_test::kCredit));
  ASSERT_EQ(doc.PmmlSchemaErrors(), "");
  const std::string dd = "/p:PMML/p:DataDictionary";
  EXPECT_EQ(doc.Text(dd + "/@numberOfFields"), "6");
  EXPECT_EQ(doc.Texts(dd + "/p:DataField/@name"),
            (Names{"age", "region", "size", "unused", "credit", "wt"}));
  EXPECT_EQ(
      doc.Texts(dd + "/p:DataField/@optype"),
      (Names{"continuous", "categorical", "ordinal", "categorical", "categorical", "categorical"}));
  EXPECT_EQ(doc.Texts(dd + "/p:DataField/@dataType"),
            (Names{"double", "string", "string", "string", "string", "double"}));
  EXPECT_EQ(doc.Texts(dd + "/p:DataField/@isCyclic"), Names(6, "0"));
  EXPECT_EQ(doc.AttributeNames(dd + "/p:DataField[@name='size']"),
            (Names{"name", "displayName", "optype", "isCyclic", "dataType"}));
  EXPECT_EQ(doc.Text(dd + "/p:DataField[@name='size']/@displayName"), "");
  EXPECT_EQ(doc.Text(dd + "/p:DataField[@name='age']/@displayName"), "Age in years");

  // age: the ranges in an extension first, then the missing values (null is no value).
  const std::string age = dd + "/p:DataField[@name='age']";
  EXPECT_EQ(doc.ChildNames(age), (Names{"Extension", "Value"}));
  EXPECT_EQ(doc.Texts(age + "/p:Extension/p:X-DataField/p:Interval/@closure"),
            (Names{"closedOpen", "closedClosed"}));
  EXPECT_EQ(doc.Texts(age + "//p:Interval/@leftMargin"), (Names{"1", "200"}));
  EXPECT_EQ(doc.Texts(age + "//p:Interval/@rightMargin"), (Names{"5", ""}));
  EXPECT_EQ(doc.Texts(age + "/p:Value/@value"), (Names{"-1"}));
  EXPECT_EQ(doc.Texts(age + "/p:Value/@property"), (Names{"missing"}));

  // region: only the codes the splits name (1, 0, 3; not 2), every value of each, code order.
  const std::string region = dd + "/p:DataField[@name='region']";
  EXPECT_EQ(doc.Texts(region + "/p:Value/@value"), (Names{"north", "south", "S", "west"}));
  EXPECT_EQ(doc.Texts(region + "/p:Value/@displayValue"), (Names{"Southern region"}));
  EXPECT_EQ(doc.AttributeNames(region + "/p:Value[@value='south']"),
            (Names{"value", "displayValue", "property"}));
  // size: ordinal, so every category of its code table, in code order (the file lists L first).
  EXPECT_EQ(doc.Texts(dd + "/p:DataField[@name='size']/p:Value/@value"), (Names{"S", "M", "L"}));
  EXPECT_EQ(doc.Number(dd + "/p:DataField[@name='unused']/*"), 0);
  // The target lists codes 0 and 1 in code order, decoded.
  EXPECT_EQ(doc.Texts(dd + "/p:DataField[@name='credit']/p:Value/@value"), (Names{"yes", "no"}));
  // A categorical weight field gets its missing values but no categories.
  EXPECT_EQ(doc.Texts(dd + "/p:DataField[@name='wt']/p:Value/@value"), (Names{"0"}));
  EXPECT_EQ(doc.Texts(dd + "/p:DataField[@name='wt']/p:Value/@property"), (Names{"missing"}));

  XmlDoc regression(Export(pmml_test::kRegression));
  EXPECT_EQ(regression.Number("//p:DataField[@name='y']/*"), 0);
  EXPECT_EQ(regression.Text("/p:PMML/p:DataDictionary/@numberOfFields"), "3");
}

TEST(PmmlMiningSchema, FieldsInOrderOfFirstUseThenTheTarget) {
  XmlDoc doc(Export(pmml_test::kCredit, 1));
  const std::string tm = "/p:PMML/p:TreeModel";
  EXPECT_EQ(doc.ChildNames(tm),
            (Names{"Extension", "MiningSchema", "ModelStats", "Node", "Extension"}));
  // Root primary (region), root surrogate (age), then node 1's split (size); weights never.
  EXPECT_EQ(doc.Texts(tm + "/p:MiningSchema/p:MiningField/@name"),
            (Names{"region", "age", "size", "credit"}));
  EXPECT_EQ(doc.Texts(tm + "/p:MiningSchema/p:MiningField/@usageType"),
            (Names{"active", "active", "active", "predicted"}));
  EXPECT_EQ(doc.AttributeNames(tm + "/p:MiningSchema/p:MiningField"), (Names{"name", "usageType"}));
  EXPECT_EQ(doc.Texts(tm + "/p:ModelStats/p:UnivariateStats/@field"),
            (Names{"region", "age", "size"}));
  // Always the root's training count, even for an export of the test sample.
  EXPECT_EQ(doc.Texts(tm + "//p:Counts/@totalFreq"), Names(3, "100"));
  EXPECT_EQ(doc.Texts(tm + "//p:Counts/@missingFreq"), Names(3, "0"));
  EXPECT_EQ(doc.Texts(tm + "//p:Counts/@invalidFreq"), Names(3, "0"));
  EXPECT_EQ(doc.ChildNames(tm + "//p:UnivariateStats[@field='region']"), (Names{"Counts"}));
  EXPECT_EQ(doc.ChildNames(tm + "//p:UnivariateStats[@field='age']"),
            (Names{"Counts", "NumericInfo"}));
  EXPECT_EQ(doc.Text(tm + "//p:NumericInfo/@minimum"), "18");
  EXPECT_EQ(doc.Text(tm + "//p:NumericInfo/@maximum"), "90");

  // x is split on but the root gives no range for it: the untouched 1 and 1.
  XmlDoc regression(Export(pmml_test::kRegression));
  EXPECT_EQ(regression.Text("//p:UnivariateStats[@field='x']/p:NumericInfo/@minimum"), "1");
  EXPECT_EQ(regression.Text("//p:UnivariateStats[@field='x']/p:NumericInfo/@maximum"), "1");

  XmlDoc stump(Export(pmml_test::kStump));
  EXPECT_EQ(stump.PmmlSchemaErrors(), "");
  EXPECT_EQ(stump.Texts("//p:MiningField/@name"), (Names{"y"}));
  EXPECT_EQ(stump.Texts("//p:MiningField/@usageType"), (Names{"predicted"}));
  EXPECT_EQ(stump.Texts("//p:UnivariateStats/@field"), (Names{"a"}));
  EXPECT_EQ(stump.Text("//p:Counts/@totalFreq"), "12");
  EXPECT_EQ(stump.Number("//p:X-PredictorImportanceList/*"), 0);
}

}  // namespace
