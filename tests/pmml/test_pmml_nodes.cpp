// Nodes, score distributions, surrogate predicates and the vendor extensions of the PMML tree.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/importance/predictor_rank.h"
#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "tests/pmml/models.h"
#include "tests/support/model_text.h"
#include "tests/support/stack.h"
#include "tests/support/xml_check.h"

namespace {

using testing_support::ChainModel;
using testing_support::With;
using testing_support::XmlDoc;
using Names = std::vector<std::string>;

std::string Export(const tree::TreeAlgorithmBase& tree, const mdt::ModelMetadata& metadata,
                   int sample = 0) {
  TreeOut::InstallPredictorRank();
  TreeOut::PMMLOutputAdapter adapter;
  std::ostringstream out;
  adapter.GeneratePMML(out, tree, &metadata, static_cast<tree::DataSample>(sample));
  return out.str();
}

std::string Export(const std::string& modelText, int sample = 0) {
  memtree::Model model = memtree::ParseModel(modelText, "test.json");
  return Export(*model.tree, *model.metadata, sample);
}

// The path of the node with that id.
std::string NodePath(const std::string& id) { return "//p:Node[@id='" + id + "']"; }

TEST(PmmlNodes, RegressionTreeOfTheWorkedExample) {
  XmlDoc doc(Export(pmml_test::kRegression));
  ASSERT_EQ(doc.PmmlSchemaErrors(), "");
  EXPECT_EQ(doc.Text("//p:TreeModel/@functionName"), "regression");
  const std::string root = "/p:PMML/p:TreeModel/p:Node";
  EXPECT_EQ(doc.AttributeNames(root), (Names{"score", "recordCount", "id"}));
  EXPECT_EQ(doc.Text(root + "/@score"), "5.2");
  EXPECT_EQ(doc.Text(root + "/@recordCount"), "100");
  EXPECT_EQ(doc.ChildNames(root), (Names{"Extension", "True", "Node", "Node"}));
  EXPECT_EQ(doc.ChildNames(root + "/p:Extension/p:X-Node"), (Names{"X-RegInfo", "X-NodeStats"}));
  EXPECT_EQ(doc.Text(root + "/p:Extension/p:X-Node/p:X-RegInfo/@mean"), "5.25");
  EXPECT_EQ(doc.Text(root + "/p:Extension/p:X-Node/p:X-RegInfo/@stdDev"), "0");  // none
  EXPECT_EQ(doc.AttributeNames(root + "//p:X-NodeStats"), (Names{"improvement"}));
  EXPECT_EQ(doc.Text(root + "//p:X-NodeStats/@improvement"), "12.25");
  EXPECT_EQ(doc.Number(root + "/p:Extension/@extender"), 0);

  const std::string left = root + "/p:Node[1]", right = root + "/p:Node[2]";
  EXPECT_EQ(doc.Texts(root + "/p:Node/@score"), (Names{"4", "7"}));
  EXPECT_EQ(doc.Texts(root + "/p:Node/@id"), (Names{"1", "2"}));
  EXPECT_EQ(doc.ChildNames(left), (Names{"Extension", "CompoundPredicate"}));
  EXPECT_EQ(doc.ChildNames(left + "/p:Extension/p:X-Node"), (Names{"X-RegInfo"}));
  EXPECT_EQ(doc.Text(left + "//p:X-RegInfo/@stdDev"), "0");
  EXPECT_EQ(doc.Text(left + "/p:CompoundPredicate/@booleanOperator"), "surrogate");
  EXPECT_EQ(doc.ChildNames(left + "/p:CompoundPredicate"), (Names{"CompoundPredicate", "True"}));
  const std::string leftRule = left + "/p:CompoundPredicate/p:CompoundPredicate";
  EXPECT_EQ(doc.Text(leftRule + "/@booleanOperator"), "and");
  EXPECT_EQ(doc.ChildNames(leftRule), (Names{"True", "SimplePredicate"}));
  EXPECT_EQ(doc.Text(leftRule + "/p:SimplePredicate/@field"), "x");
  EXPECT_EQ(doc.Text(leftRule + "/p:SimplePredicate/@operator"), "lessOrEqual");
  EXPECT_EQ(doc.Text(leftRule + "/p:SimplePredicate/@value"), "3.5");
  const std::string rightRule = right + "/p:CompoundPredicate/p:CompoundPredicate";
  EXPECT_EQ(doc.ChildNames(right + "/p:CompoundPredicate"), (Names{"CompoundPredicate", "False"}));
  EXPECT_EQ(doc.ChildNames(rightRule), (Names{"SimplePredicate", "True"}));
  EXPECT_EQ(doc.Text(rightRule + "/p:SimplePredicate/@operator"), "greaterThan");
  // The regression distribution: value is the entry index, written before recordCount.
  EXPECT_EQ(doc.ChildNames(right), (Names{"Extension", "CompoundPredicate", "ScoreDistribution",
                                          "ScoreDistribution", "ScoreDistribution"}));
  EXPECT_EQ(doc.AttributeNames(right + "/p:ScoreDistribution"), (Names{"value", "recordCount"}));
  EXPECT_EQ(doc.Texts(right + "/p:ScoreDistribution/@value"), (Names{"0", "1", "2"}));
  EXPECT_EQ(doc.Texts(right + "/p:ScoreDistribution/@recordCount"), (Names{"10", "20.5", "9.5"}));
  EXPECT_EQ(doc.Text(right + "//p:X-RegInfo/@stdDev"), "1.5");
  // C&RT without priors: the importance list only; x carries all of the improvement.
  EXPECT_EQ(doc.ChildNames("//p:TreeModel/p:Extension[2]/p:X-TreeModel"),
            (Names{"X-PredictorImportanceList"}));
  EXPECT_EQ(doc.Texts("//p:X-PredictorImportance/@predictorName"), (Names{"x"}));
  EXPECT_EQ(doc.Texts("//p:X-PredictorImportance/@importance"), (Names{"1"}));
}

TEST(PmmlNodes, ClassificationScoresDistributionsAndIds) {
  XmlDoc doc(Export(pmml_test::kCredit));
  ASSERT_EQ(doc.PmmlSchemaErrors(), "");
  EXPECT_EQ(doc.Text("//p:TreeModel/@functionName"), "classification");
  EXPECT_EQ(doc.Texts("//p:Node/@id"), (Names{"0", "1", "3", "4", "4294967295"}));
  EXPECT_EQ(doc.Texts("//p:Node/@score"), (Names{"yes", "yes", "yes", "yes", "no"}));
  EXPECT_EQ(doc.Texts("//p:Node/@recordCount"), (Names{"100", "70", "20", "50", "30"}));
  EXPECT_EQ(doc.AttributeNames(NodePath("0") + "/p:ScoreDistribution"),
            (Names{"recordCount", "value"}));
  EXPECT_EQ(doc.Texts(NodePath("3") + "/p:ScoreDistribution/@value"), (Names{"yes", "no"}));
  EXPECT_EQ(doc.Texts(NodePath("3") + "/p:ScoreDistribution/@recordCount"), (Names{"12.5", "7.5"}));
  // Probabilities: given at the root; 0 and none at the last leaf; none elsewhere.
  const std::string probability = "/p:Extension[@name='probability']";
  EXPECT_EQ(doc.Texts(NodePath("0") + "/p:ScoreDistribution" + probability + "/@value"),
            (Names{"0.6", "0.4"}));
  EXPECT_EQ(doc.AttributeNames(NodePath("0") + "/p:ScoreDistribution" + probability),
            (Names{"extender", "name", "value"}));
  EXPECT_EQ(doc.Text(NodePath("0") + "/p:ScoreDistribution" + probability + "/@extender"),
            doc.Text("//p:TreeModel/p:Extension[1]/@extender"));
  EXPECT_EQ(doc.Number(NodePath("4294967295") + "/p:ScoreDistribution[1]/*"), 1);
  EXPECT_EQ(doc.Text(NodePath("4294967295") + "/p:ScoreDistribution[1]/p:Extension/@value"), "0");
  EXPECT_EQ(doc.Number(NodePath("4294967295") + "/p:ScoreDistribution[2]/*"), 0);
  EXPECT_EQ(doc.Number(NodePath("3") + "/p:ScoreDistribution/*"), 0);
  // A classification leaf has no extension; split nodes carry their split statistics.
  EXPECT_EQ(doc.ChildNames(NodePath("3")),
            (Names{"CompoundPredicate", "ScoreDistribution", "ScoreDistribution"}));
  EXPECT_EQ(doc.ChildNames(NodePath("1") + "/p:Extension/p:X-Node"), (Names{"X-NodeStats"}));
  EXPECT_EQ(doc.AttributeNames(NodePath("1") + "//p:X-NodeStats"),
            (Names{"improvement", "pValue"}));
  EXPECT_EQ(doc.Text(NodePath("1") + "//p:X-NodeStats/@pValue"), "0.01");
  // Risk of the risk sample (1), not of the exported sample.
  EXPECT_EQ(doc.Text("//p:TreeModel/p:Extension[1]/p:X-risk/@value"), "0.3");
  EXPECT_EQ(doc.Text("//p:TreeModel/p:Extension[1]/p:X-seOfRisk/@value"), "0.05");
  EXPECT_EQ(doc.ChildNames("//p:TreeModel/p:Extension[1]"), (Names{"X-risk", "X-seOfRisk"}));

  // The test sample's counts and predictions.
  XmlDoc test(Export(pmml_test::kCredit, 1));
  EXPECT_EQ(test.Texts("//p:Node/@recordCount"), (Names{"50", "35", "10", "25", "15"}));
  EXPECT_EQ(test.Text(NodePath("3") + "/@score"), "no");
}

TEST(PmmlNodes, RiskFallsBackToSampleZeroThenToTheSentinel) {
  // The risk sample is 1 but only sample 0 has a risk: the second call reads sample 0.
  const std::string onlyTraining =
      With(pmml_test::kCredit, ", {\"sample\": 1, \"value\": 0.3, \"stdError\": 0.05}", "");
  XmlDoc retried(Export(onlyTraining));
  EXPECT_EQ(retried.Text("//p:X-risk/@value"), "0.25");
  EXPECT_EQ(retried.Text("//p:X-seOfRisk/@value"), "0.04");
  XmlDoc none(Export(pmml_test::kStump));
  EXPECT_EQ(none.Text("//p:X-risk/@value"), "-1.79769313486232e+308");
  EXPECT_EQ(none.Text("//p:X-seOfRisk/@value"), "-1.79769313486232e+308");
}

TEST(PmmlPredicates, NominalSplitWithOrderedSurrogateAndMissingRouting) {
  XmlDoc credit(Export(pmml_test::kCredit));
  // Child 0 of the root: one code (then False), the surrogate's upper half-line, False (node 1
  // is the biggest child, so True).
  const std::string first = NodePath("1") + "/p:CompoundPredicate";
  EXPECT_EQ(credit.ChildNames(first), (Names{"CompoundPredicate", "CompoundPredicate", "True"}));
  EXPECT_EQ(credit.Text(first + "/p:CompoundPredicate[1]/@booleanOperator"), "or");
  EXPECT_EQ(credit.ChildNames(first + "/p:CompoundPredicate[1]"),
            (Names{"SimplePredicate", "False"}));
  EXPECT_EQ(credit.Text(first + "/p:CompoundPredicate[1]/p:SimplePredicate/@operator"), "equal");
  EXPECT_EQ(credit.Text(first + "/p:CompoundPredicate[1]/p:SimplePredicate/@value"), "south");
  EXPECT_EQ(credit.Text(first + "/p:CompoundPredicate[2]/@booleanOperator"), "and");
  EXPECT_EQ(credit.ChildNames(first + "/p:CompoundPredicate[2]"),
            (Names{"True", "SimplePredicate"}));
  EXPECT_EQ(credit.Text(first + "/p:CompoundPredicate[2]/p:SimplePredicate/@field"), "age");
  // Child 1 takes the missing values of region: isMissing first, then the codes.
  const std::string second = NodePath("4294967295") + "/p:CompoundPredicate";
  EXPECT_EQ(credit.ChildNames(second), (Names{"CompoundPredicate", "CompoundPredicate", "False"}));
  EXPECT_EQ(credit.Texts(second + "/p:CompoundPredicate[1]/p:SimplePredicate/@operator"),
            (Names{"isMissing", "equal", "equal"}));
  EXPECT_EQ(credit.Texts(second + "/p:CompoundPredicate[1]/p:SimplePredicate/@value"),
            (Names{"north", "west"}));
  EXPECT_EQ(credit.AttributeNames(second + "/p:CompoundPredicate[1]/p:SimplePredicate[1]"),
            (Names{"field", "operator"}));
  // The ordinal split of node 1 writes its code bounds as the categories they stand for.
  EXPECT_EQ(credit.Text(NodePath("3") + "//p:SimplePredicate/@value"), "S");
  EXPECT_EQ(credit.Text(NodePath("3") + "//p:SimplePredicate/@operator"), "lessOrEqual");
  EXPECT_EQ(credit.ChildNames(NodePath("3") + "/p:CompoundPredicate"),
            (Names{"CompoundPredicate", "False"}));
  EXPECT_EQ(credit.ChildNames(NodePath("4") + "/p:CompoundPredicate"),
            (Names{"CompoundPredicate", "True"}));

  XmlDoc chaid(Export(pmml_test::kChaid));
  ASSERT_EQ(chaid.PmmlSchemaErrors(), "");
  const std::string middle = NodePath("2") + "/p:CompoundPredicate";
  // Primary, two surrogates in order, then False: node 3, not node 2, is the biggest child.
  EXPECT_EQ(chaid.ChildNames(middle),
            (Names{"CompoundPredicate", "CompoundPredicate", "CompoundPredicate", "False"}));
  EXPECT_EQ(chaid.Texts(middle + "/p:CompoundPredicate[1]/p:SimplePredicate/@operator"),
            (Names{"isMissing", "equal"}));
  EXPECT_EQ(chaid.Texts(middle + "/p:CompoundPredicate[1]/p:SimplePredicate/@value"),
            (Names{"30"}));
  EXPECT_EQ(chaid.ChildNames(middle + "/p:CompoundPredicate[1]"),
            (Names{"SimplePredicate", "SimplePredicate", "False"}));
  // The middle interval of the missing-value child: "or" of isMissing and a nested "and".
  const std::string nested = middle + "/p:CompoundPredicate[2]";
  EXPECT_EQ(chaid.Text(nested + "/@booleanOperator"), "or");
  EXPECT_EQ(chaid.ChildNames(nested), (Names{"SimplePredicate", "CompoundPredicate"}));
  EXPECT_EQ(chaid.Text(nested + "/p:SimplePredicate/@operator"), "isMissing");
  EXPECT_EQ(chaid.Text(nested + "/p:CompoundPredicate/@booleanOperator"), "and");
  EXPECT_EQ(chaid.Texts(nested + "/p:CompoundPredicate/p:SimplePredicate/@operator"),
            (Names{"greaterThan", "lessOrEqual"}));
  // Interval categories decode to the upper end of their range.
  EXPECT_EQ(chaid.Texts(nested + "/p:CompoundPredicate/p:SimplePredicate/@value"),
            (Names{"30", "50"}));
  const std::string last = NodePath("3") + "/p:CompoundPredicate";
  EXPECT_EQ(chaid.ChildNames(last),
            (Names{"CompoundPredicate", "CompoundPredicate", "CompoundPredicate", "True"}));
  EXPECT_EQ(chaid.Texts(last + "/p:CompoundPredicate[1]/p:SimplePredicate/@value"),
            (Names{"40", "50"}));
  EXPECT_EQ(chaid.Texts(last + "/p:CompoundPredicate[3]/p:SimplePredicate/@value"),
            (Names{"mixed"}));
  // Missing-value child, no lower bound: "or" of isMissing and the upper bound alone.
  XmlDoc left(Export(With(pmml_test::kRegression, "\"children\": [{\"high\": 3.5}",
                          "\"missingChild\": 0, \"children\": [{\"high\": 3.5}")));
  const std::string rule = NodePath("1") + "/p:CompoundPredicate/p:CompoundPredicate";
  EXPECT_EQ(left.Text(rule + "/@booleanOperator"), "or");
  EXPECT_EQ(left.Texts(rule + "/p:SimplePredicate/@operator"), (Names{"isMissing", "lessOrEqual"}));
  EXPECT_EQ(left.ChildNames(rule), (Names{"SimplePredicate", "SimplePredicate"}));
}

// Settings that call every predictor nominal, so that interval value sets are of the wrong kind.
class AllNominal : public tree::TreeAlgorithmBase {
 public:
  explicit AllNominal(const tree::TreeAlgorithmBase& inner) : inner_(inner) {}
  const tree::Node* GetRoot() const override { return inner_.GetRoot(); }
  bool IsClassification() const override { return inner_.IsClassification(); }
  tree::AlgSettings* CreateSettings() const override {
    return new Settings(std::unique_ptr<tree::AlgSettings>(inner_.CreateSettings()));
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
};

TEST(PmmlPredicates, WrongKindOfValueSetLeavesTheRuleWithoutOperator) {
  memtree::Model model =
      memtree::ParseModel(With(pmml_test::kRegression, "\"children\": [{\"high\": 3.5}",
                               "\"missingChild\": 1, \"children\": [{\"high\": 3.5}"),
                          "test.json");
  AllNominal altered(*model.tree);
  XmlDoc doc(Export(altered, *model.metadata));
  const std::string left = NodePath("1") + "/p:CompoundPredicate/p:CompoundPredicate";
  EXPECT_EQ(doc.Number(left + "/@booleanOperator"), 0);
  EXPECT_EQ(doc.Number(left + "/*"), 0);
  const std::string right = NodePath("2") + "/p:CompoundPredicate/p:CompoundPredicate";
  EXPECT_EQ(doc.Number(right + "/@booleanOperator"), 0);
  EXPECT_EQ(doc.Texts(right + "/p:SimplePredicate/@operator"), (Names{"isMissing"}));
  // The rules' own bytes are kept even where the schema wants at least two predicates and an
  // operator: this is the one construct of the writer that does not validate.
  EXPECT_NE(doc.PmmlSchemaErrors(), "");
}

// name=value pairs of the root's X-NodeStats when its split carries these statistics.
Names RootStatistics(const std::string& statistics, const std::string& kinds) {
  XmlDoc doc(
      Export(With(pmml_test::kRegression, "\"statistics\": [12.25], \"kinds\": [\"improvement\"]",
                  "\"statistics\": " + statistics + ", \"kinds\": " + kinds)));
  EXPECT_EQ(doc.PmmlSchemaErrors(), "");
  Names pairs;
  const std::string path = "/p:PMML/p:TreeModel/p:Node/p:Extension/p:X-Node/p:X-NodeStats";
  if (doc.Number(path) != 1) return {"<no X-NodeStats>"};
  for (const std::string& name : doc.AttributeNames(path)) {
    pairs.push_back(name + "=" + doc.Text(path + "/@" + name));
  }
  return pairs;
}

TEST(PmmlPredicates, NullValueSetAcceptsEveryRecordOrOnlyTheMissingOnes) {
  const std::string text = With(pmml_test::kChaid, "{\"codes\": [2]}]}]},", "null]}]},");
  XmlDoc doc(Export(text));
  const std::string last = NodePath("3") + "/p:CompoundPredicate/p:CompoundPredicate[3]";
  EXPECT_EQ(doc.Text(last + "/@booleanOperator"), "and");
  EXPECT_EQ(doc.ChildNames(last), (Names{"True"}));
  // The same for the missing-value child: isMissing, then True.
  XmlDoc missing(Export(With(text, "{\"codes\": [0]}, {\"codes\": [1]}, null]",
                             "{\"codes\": [0]}, {\"codes\": [1]}, null], \"missingChild\": 2")));
  EXPECT_EQ(missing.ChildNames(last), (Names{"SimplePredicate", "True"}));
  EXPECT_EQ(missing.Text(last + "/p:SimplePredicate/@operator"), "isMissing");
  EXPECT_EQ(missing.Text(last + "/@booleanOperator"), "and");
  // Schema exception: a rule without a value set gives a CompoundPredicate with one child,
  // where the schema asks for two; the writer keeps those bytes.
  EXPECT_NE(doc.PmmlSchemaErrors().find("CompoundPredicate"), std::string::npos);
  EXPECT_EQ(missing.PmmlSchemaErrors(), "");
}

TEST(PmmlExtensions, StatisticFlagsPickTheAttributes) {
  EXPECT_EQ(RootStatistics("[Infinity, 0.05, 3, 40]", "[\"f\", \"pValue\", \"df1\", \"df2\"]"),
            (Names{"fStats=inf", "pValue=0.05", "df1=3", "df2=40"}));
  // One entry, several kinds: each attribute takes the entry's value; levenesF before
  // chiSquare; only the F statistics write infinity as "inf".
  EXPECT_EQ(RootStatistics("[Infinity, 0.5]",
                           "[\"improvement\", \"f\", \"levenesF\", \"chiSquare\", "
                           "\"association\", \"pValue\", \"adjPValue\"]"),
            (Names{"improvement=INF", "fStats=inf", "levenesF=inf", "chiSquare=INF",
                   "association=0.5", "pValue=0.5", "adjPValue=0.5"}));
  EXPECT_EQ(RootStatistics("[]", "[\"chiSquare\"]"), Names{});  // kind without entry
  EXPECT_EQ(RootStatistics("[5, 6, 7, 8]", "[]"), Names{});     // entries without kind
  EXPECT_EQ(RootStatistics("[null, 2]", "[\"improvement\", \"association\"]"),
            (Names{"association=2"}));

  // A classification split node without statistics still gets an empty X-NodeStats.
  XmlDoc bare(
      Export(With(pmml_test::kCredit,
                  ",\n               \"statistics\": [6, 0.01], \"kinds\": [\"improvement\", "
                  "\"pValue\"]",
                  "")));
  EXPECT_EQ(bare.Number(NodePath("1") + "/p:Extension/p:X-Node/p:X-NodeStats"), 1);
  EXPECT_EQ(bare.Number(NodePath("1") + "/p:Extension/p:X-Node/p:X-NodeStats/@*"), 0);
}

// The children of X-TreeModel for the CHAID model recoded as another algorithm.
Names ModelExtension(int algorithm, bool priors) {
  std::string text =
      With(pmml_test::kChaid, "\"algorithm\": 3", "\"algorithm\": " + std::to_string(algorithm));
  if (!priors) text = With(text, "\"priors\": [0.2, 0.3, 0.5],", "");
  XmlDoc doc(Export(text));
  EXPECT_EQ(doc.PmmlSchemaErrors(), "") << "algorithm " << algorithm;
  EXPECT_EQ(doc.ChildNames("/p:PMML/p:TreeModel/*[last()]"), (Names{"X-TreeModel"}));
  if (priors) {
    EXPECT_EQ(doc.Texts("//p:X-Prior-Value/@targetCategory"), (Names{"low", "mid", "high"}));
    EXPECT_EQ(doc.Texts("//p:X-Prior-Value/@value"), (Names{"0.2", "0.3", "0.5"}));
  }
  return doc.ChildNames("/p:PMML/p:TreeModel/p:Extension[last()]/p:X-TreeModel");
}

TEST(PmmlExtensions, AlgorithmDecidesImportanceAndPriors) {
  EXPECT_EQ(ModelExtension(0, false), (Names{"X-PredictorImportanceList"}));
  EXPECT_EQ(ModelExtension(1, true), (Names{"X-PredictorImportanceList", "X-Priors"}));
  EXPECT_EQ(ModelExtension(2, false), Names{});
  EXPECT_EQ(ModelExtension(3, true), (Names{"X-Priors"}));
  EXPECT_EQ(ModelExtension(4, true), (Names{"X-Priors"}));
  EXPECT_EQ(ModelExtension(9, false), Names{});
}

TEST(PmmlExtensions, ImportanceOfTheHandWorkedTreeAndEncodedPriors) {
  // Root: region improves by 10 as primary, age by 4 as surrogate (weight 1.0); node 1: size
  // by 6. Sum 20: region 0.5, age 0.2, size 0.3, listed in order of first use.
  XmlDoc doc(Export(pmml_test::kCredit));
  EXPECT_EQ(doc.Texts("//p:X-PredictorImportance/@predictorName"),
            (Names{"region", "age", "size"}));
  EXPECT_EQ(doc.Texts("//p:X-PredictorImportance/@importance"), (Names{"0.5", "0.2", "0.3"}));
  EXPECT_EQ(doc.AttributeNames("//p:X-PredictorImportance"),
            (Names{"predictorName", "importance"}));
  // Codes 0 and 1 of the target are "yes" and "no", whatever order the file lists them in.
  EXPECT_EQ(doc.Texts("//p:X-Prior-Value/@targetCategory"), (Names{"yes", "no"}));
  EXPECT_EQ(doc.Texts("//p:X-Prior-Value/@value"), (Names{"0.3", "0.7"}));

  // With 5 for the root: 5, 4 and 6 of 15.
  XmlDoc thirds(Export(With(pmml_test::kCredit, "\"statistics\": [10]", "\"statistics\": [5]")));
  EXPECT_EQ(thirds.Texts("//p:X-PredictorImportance/@importance"),
            (Names{"0.333333333333333", "0.266666666666667", "0.4"}));
  // CHAID statistics hold no improvement: every used predictor is rated 0.
  XmlDoc zeros(Export(With(With(pmml_test::kChaid, "\"algorithm\": 3", "\"algorithm\": 0"),
                           "\"priors\": [0.2, 0.3, 0.5],", "")));
  EXPECT_EQ(zeros.Texts("//p:X-PredictorImportance/@predictorName"),
            (Names{"education", "agegroup", "sector"}));
  EXPECT_EQ(zeros.Texts("//p:X-PredictorImportance/@importance"), (Names{"0", "0", "0"}));
}

std::string Tabs(int n) { return std::string(static_cast<std::size_t>(n), '\t'); }

// The bytes the layout rules give for node i of ChainModel(depth, 2) and its subtree, written out
// level by level as the rules read: each element on its own line, attributes one tab deeper.
std::string ExpectedChainNode(int i, int depth) {
  const int t = 2 + i;  // PMML, TreeModel, then one level per node
  const std::string n = std::to_string(i);
  std::string s = "\n" + Tabs(t) + "<Node\n" + Tabs(t + 1) + "score=\"" + n + "\"\n" + Tabs(t + 1) +
                  "recordCount=\"1\"\n" + Tabs(t + 1) + "id=\"" + n + "\">";
  s += "\n" + Tabs(t + 1) + "<Extension>\n" + Tabs(t + 2) + "<X-Node>\n" + Tabs(t + 3) +
       "<X-RegInfo\n" + Tabs(t + 4) + "mean=\"" + n + "\"\n" + Tabs(t + 4) + "stdDev=\"0\"/>";
  if (i + 1 < depth) s += "\n" + Tabs(t + 3) + "<X-NodeStats/>";
  s += "\n" + Tabs(t + 2) + "</X-Node>\n" + Tabs(t + 1) + "</Extension>";
  if (i == 0) {
    s += "\n" + Tabs(t + 1) + "<True/>";
  } else {
    s += "\n" + Tabs(t + 1) + "<CompoundPredicate\n" + Tabs(t + 2) +
         "booleanOperator=\"surrogate\">\n" + Tabs(t + 2) + "<CompoundPredicate\n" + Tabs(t + 3) +
         "booleanOperator=\"and\">\n" + Tabs(t + 3) + "<SimplePredicate\n" + Tabs(t + 4) +
         "field=\"x\"\n" + Tabs(t + 4) + "operator=\"greaterOrEqual\"\n" + Tabs(t + 4) +
         "value=\"0\"/>\n" + Tabs(t + 3) + "<True/>\n" + Tabs(t + 2) + "</CompoundPredicate>\n" +
         Tabs(t + 2) + "<True/>\n" + Tabs(t + 1) + "</CompoundPredicate>";
  }
  if (i + 1 < depth) s += ExpectedChainNode(i + 1, depth);
  return s + "\n" + Tabs(t) + "</Node>";
}

TEST(PmmlNodes, ChainsGiveTheLayoutBytesAndNeedNoStackPerLevel) {
  {
    const std::string text = Export(ChainModel(50, 2));
    const std::size_t begin = text.find("\n\t\t<Node");
    const std::size_t end = text.rfind("\n\t\t</Node>");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(text.substr(begin, end + 10 - begin), ExpectedChainNode(0, 50));
    XmlDoc doc(text);
    EXPECT_EQ(doc.PmmlSchemaErrors(), "");
  }
  // The tab indentation makes a chain's document grow with the square of its depth (a
  // 100,000-deep one would take over 100 GB), so depth is shown by stack size instead: 1,500
  // levels on a 128 KB stack, where writing one level per call frame cannot fit.
  constexpr int kDepth = 1500;
  memtree::Model model = memtree::ParseModel(ChainModel(kDepth, 2), "chain.json");
  std::string text;
  testing_support::RunOnStack(128 << 10, [&] { text = Export(*model.tree, *model.metadata); });
  XmlDoc doc(text);
  EXPECT_EQ(doc.Number("count(//p:Node)"), kDepth);
  EXPECT_EQ(doc.Text("(//p:Node)[last()]/@id"), std::to_string(kDepth - 1));
}

}  // namespace
