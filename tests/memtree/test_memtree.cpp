#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "host/memtree/mem_tree.h"
#include "host/memtree/model_file.h"
#include "host/memtree/summary.h"
#include "host/memtree/tree_builder.h"
#include "host/metadata/map_encoder_imp.h"
#include "host/metadata/model_metadata_imp.h"
#include "model/ovalue_set.h"
#include "model/prefix_node_iterator.h"
#include "model/tree_statistics.h"
#include "tests/support/model_text.h"
#include "tests/support/stack.h"

namespace {

using testing_support::With;

const std::string kExamples = std::string(TREEXPORT_SOURCE_DIR) + "/examples/";

// A small regression model, one node per line so that error positions are easy to read.
const char* const kSmall = R"({
  "format": "treexport-model", "version": 1, "function": "regression", "algorithm": 0,
  "fields": [
    {"name": "x", "level": "continuous", "storage": "numeric"},
    {"name": "c", "level": "nominal", "storage": "string", "categories": [{"code": 0, "values": ["a"]}, {"code": 1, "values": ["b"]}]},
    {"name": "y", "level": "continuous", "storage": "numeric"}
  ],
  "predictors": ["x", "c"], "target": "y",
  "nodes": [
    {"id": 0, "children": [1, 2], "samples": [{"count": 10, "regression": {"mean": 1}}], "split": {"predictor": "x", "children": [{"high": 3.5}, {"low": 3.5, "lowOpen": true}]}, "surrogates": [{"predictor": "c", "children": [{"codes": [0]}, {"codes": [1]}], "missingChild": 1}]},
    {"id": 1, "samples": [{"count": 6, "regression": {"mean": 0}}]},
    {"id": 2, "samples": [{"count": 4, "regression": {"mean": 2}}]}
  ]
}
)";

std::string LoadError(const std::string& text, const std::string& name = "model.json") {
  try {
    memtree::ParseModel(text, name);
  } catch (const memtree::ModelError& e) {
    return e.what();
  }
  return "(loaded without error)";
}

memtree::Model LoadExample(const char* file) { return memtree::LoadModel(kExamples + file); }

TEST(ModelFile, ExamplesLoadAndSaveToStableBytes) {
  for (const char* file : {"cart_classification.json", "regression.json", "chaid.json"}) {
    SCOPED_TRACE(file);
    memtree::Model model = LoadExample(file);
    const std::string first = memtree::ModelText(*model.tree, *model.metadata);
    memtree::Model again = memtree::ParseModel(first, "saved.json");
    const std::string second = memtree::ModelText(*again.tree, *again.metadata);
    EXPECT_EQ(first, second);
    ASSERT_EQ(again.tree->GetNumberOfNodes(), model.tree->GetNumberOfNodes());
    for (std::size_t i = 0; i < model.tree->GetNumberOfNodes(); ++i) {
      const memtree::MemNode& a = model.tree->GetNode(i);
      const memtree::MemNode& b = again.tree->GetNode(i);
      EXPECT_EQ(a.GetId(), b.GetId());
      EXPECT_EQ(a.GetChildIndices(), b.GetChildIndices());
      EXPECT_EQ(a.GetCount(tree::TRAINING_SAMPLE), b.GetCount(tree::TRAINING_SAMPLE));
      EXPECT_EQ(a.GetNumberOfSurrogates(), b.GetNumberOfSurrogates());
      EXPECT_EQ(a.GetBiggestChild(), b.GetBiggestChild());
    }
  }
}

TEST(ModelFile, ClassificationExampleHoldsWhatTheFileSays) {
  memtree::Model model = LoadExample("cart_classification.json");
  const memtree::MemTree& tree = *model.tree;
  EXPECT_TRUE(tree.IsClassification());
  EXPECT_EQ(tree.GetAlgorithmType(), 1);
  EXPECT_EQ(tree.GetNumberOfSamples(), 2);
  EXPECT_EQ(tree.GetNumberOfCategories(), 2);
  EXPECT_EQ(tree.GetNumberOfNodes(), 5u);
  EXPECT_EQ(tree.GetNumberOfLeaves(), 3u);
  EXPECT_EQ(tree.GetDepth(), 2u);
  EXPECT_EQ(tree.GetRiskSample(), tree::TEST_SAMPLE);

  const mdt::ModelMetadata& metadata = *model.metadata;
  ASSERT_EQ(metadata.GetPredictors()->size(), 3u);
  EXPECT_EQ(metadata.GetTarget()->GetName(), "credit");
  EXPECT_EQ(metadata.GetFrequencyWeight()->GetName(), "freq");
  EXPECT_EQ(metadata.GetCaseWeight(), nullptr);
  const mdt::Variable& region = *(*metadata.GetPredictors())[1];
  EXPECT_EQ(region.GetValueLabel(mdt::Variant(std::string("north"))), "Northern region");
  EXPECT_EQ(region.GetValueLabel(mdt::Variant(std::string("west"))), "");
  const auto* encoder = dynamic_cast<const mdt::MapEncoder*>(region.GetEncoding());
  ASSERT_NE(encoder, nullptr);
  EXPECT_EQ(encoder->EncodedValues(), (std::vector<int>{0, 1, 2}));
  std::vector<mdt::Variant> values = encoder->Decode(2).GetAllValues();
  ASSERT_EQ(values.size(), 2u);
  EXPECT_STREQ(static_cast<const char*>(values[1]), "west");
  ASSERT_NE(encoder->GetMissingValues(), nullptr);
  EXPECT_EQ(encoder->GetMissingValues()->GetEncodingSets().GetAllValues().size(), 2u);
  // A continuous field with missing values gets an encoder that decodes codes to themselves.
  const mdt::Variable& age = *(*metadata.GetPredictors())[0];
  ASSERT_NE(age.GetEncoding(), nullptr);
  EXPECT_STREQ(static_cast<const char*>(age.GetEncoding()->Decode(35).GetAllValues()[0]), "35");
  const mdt::EncodingSets& ageMissing = age.GetEncoding()->GetMissingValues()->GetEncodingSets();
  ASSERT_EQ(ageMissing.GetAllIntervals().size(), 1u);
  EXPECT_EQ(static_cast<double>(ageMissing.GetAllIntervals()[0].GetRightEnd().GetValue()), 999);

  const tree::Node& root = *tree.GetRoot();
  EXPECT_EQ(root.GetCount(tree::TEST_SAMPLE), 100);
  EXPECT_EQ(root.GetTotalCount(tree::TRAINING_SAMPLE), 200);
  double min = 1, max = 1;
  root.GetPredictorRange(2, min, max);
  EXPECT_EQ(min, 8000);
  EXPECT_EQ(max, 250000);
  min = max = 1;
  root.GetPredictorRange(1, min, max);
  EXPECT_EQ(min, 1);
  const tree::ClsInfo& leaf = *root.GetChild(0)->GetChild(1)->GetClsInfo(tree::TEST_SAMPLE);
  EXPECT_EQ(leaf.GetPredictedCategory(), 1);
  EXPECT_EQ(leaf.GetCategoryCount(1), 12);
  EXPECT_EQ(leaf.GetCategoryProportion(0), 0.4);
  EXPECT_EQ(leaf.GetCategoryProbability(1), 0.6);
  EXPECT_EQ(root.GetRegInfo(tree::TRAINING_SAMPLE), nullptr);
  EXPECT_EQ(root.GetClsInfo(static_cast<tree::DataSample>(2)), nullptr);

  std::unique_ptr<tree::SplitRule> surrogate(root.GetSurrogate(0));
  EXPECT_EQ(surrogate->GetPredictorIndex(), 1);
  EXPECT_EQ(surrogate->GetMissingValueChild(), 1);
  EXPECT_EQ(surrogate->GetStatisticFlags(), tree::stat::kEntry0 | tree::stat::kEntry1 |
                                                tree::stat::kImprovement |
                                                tree::stat::kAssociation);
  EXPECT_EQ(surrogate->GetStatistic(1), 0.61);
  std::unique_ptr<tree::ValueSet> codes(surrogate->GetChildValueSet(0));
  auto* nominal = dynamic_cast<tree::NValueSet*>(codes.get());
  ASSERT_NE(nominal, nullptr);
  std::unique_ptr<tree::NValueSetIterator> it(nominal->CreateIterator());
  std::vector<int> listed;
  while (it->HasNext()) listed.push_back(it->Next());
  EXPECT_EQ(listed, (std::vector<int>{0, 2}));
  std::unique_ptr<tree::SplitRule> split(root.GetSplit(0));
  EXPECT_EQ(split->GetMissingValueChild(), -1);
  std::unique_ptr<tree::ValueSet> right(split->GetChildValueSet(1));
  auto* interval = dynamic_cast<tree::OValueSet*>(right.get());
  ASSERT_NE(interval, nullptr);
  EXPECT_TRUE(interval->HasLow());
  EXPECT_TRUE(interval->IsLowOpen());
  EXPECT_EQ(interval->GetLow(), 35);
  EXPECT_FALSE(interval->HasHigh());
  EXPECT_EQ(root.GetSplit(1), nullptr);
}

TEST(ModelFile, ErrorsNamePlacePathAndProblem) {
  EXPECT_EQ(LoadError(With(kSmall, "[1, 2]", "[1, 77]")),
            "model.json:10:31: nodes[0].children[1]: no node with id 77");
  EXPECT_EQ(LoadError(With(kSmall, "\"algorithm\": 0", "\"algorithm\": 0, \"colour\": 1")),
            "model.json:2:88: colour: unknown member (expected one of format, version, function, "
            "algorithm, samples, riskSample, priors, risk, treeVersion, metadataVersion, fields, "
            "predictors, target, frequencyWeight, caseWeight, nodes)");
  EXPECT_EQ(LoadError(With(kSmall, "\"count\": 6", "\"count\": \"6\"")),
            "model.json:11:37: nodes[1].samples[0].count: expected a number, found a string");
  EXPECT_EQ(LoadError(With(kSmall, ", \"target\": \"y\"", "")),
            "model.json:1:1: missing required member \"target\"");
  EXPECT_EQ(LoadError(With(kSmall, "\"mean\": 0", "\"mean\": NaN")),
            "model.json:11:63: nodes[1].samples[0].regression.mean: expected a number, found NaN");
  EXPECT_EQ(LoadError(With(kSmall, "\"id\": 2,", "\"id\": 1,")),
            "model.json:12:12: nodes[2].id: node id 1 is also used by nodes[1]");
  EXPECT_EQ(LoadError(With(kSmall, "{\"id\": 1, \"samples\"",
                           "{\"id\": 1, \"children\": [2], "
                           "\"samples\"")),
            "model.json:11:28: nodes[1].children[0]: node 2 is already a child of node 0 "
            "(nodes[0].children[1])");
  EXPECT_EQ(LoadError(With(kSmall, "\"mean\": 2}}]}",
                           "\"mean\": 2}}]},\n    {\"id\": 3, \"children\": [4]},\n"
                           "    {\"id\": 4, \"children\": [3]}")),
            "model.json:13:5: nodes[3]: nodes 3 -> 4 -> 3 form a cycle that the root node 0 does "
            "not reach");
  EXPECT_EQ(LoadError(With(kSmall, "\"mean\": 2}}]}",
                           "\"mean\": 2}}]},\n    {\"id\": 3, \"samples\": []}")),
            "model.json:13:5: nodes[3]: node 3 is not reachable from the root node 0 (no node "
            "lists it as a child)");
  EXPECT_EQ(LoadError(With(kSmall, "{\"codes\": [1]}", "{\"codes\": [5]}")),
            "model.json:10:253: nodes[0].surrogates[0].children[1].codes[0]: code 5 is not a "
            "category of predictor \"c\"");
  EXPECT_EQ(LoadError(With(kSmall, "{\"high\": 3.5}", "{\"codes\": [1]}")),
            "model.json:10:131: nodes[0].split.children[0]: predictor \"x\" is ordered; its value "
            "sets are intervals");
  EXPECT_EQ(
      LoadError(With(kSmall, "{\"low\": 3.5, \"lowOpen\": true}", "{\"low\": 3.5, \"high\": 1}")),
      "model.json:10:146: nodes[0].split.children[1]: interval low 3.5 is above high 1");
  EXPECT_EQ(LoadError(With(kSmall, "{\"codes\": [0]}", "{\"low\": 0}")),
            "model.json:10:226: nodes[0].surrogates[0].children[0]: predictor \"c\" is nominal; "
            "its value sets are code lists");
  EXPECT_EQ(LoadError(With(kSmall, "[{\"high\": 3.5}, ", "[")),
            "model.json:10:130: nodes[0].split.children: 1 value sets for 2 children");
  EXPECT_EQ(LoadError(With(kSmall, "\"missingChild\": 1", "\"missingChild\": 2")),
            "model.json:10:275: nodes[0].surrogates[0].missingChild: expected an integer from 0 "
            "to 1, found 2");
  EXPECT_EQ(LoadError(With(kSmall, "\"predictors\": [\"x\", \"c\"]", "\"predictors\": [\"x\"]")),
            "model.json:5:5: fields[1]: field \"c\" is neither a predictor, the target nor a "
            "weight");
  EXPECT_EQ(LoadError(With(kSmall, "\"target\": \"y\"", "\"target\": \"x\"")),
            "model.json:8:39: target: field \"x\" is already the predictor");
}

TEST(ModelFile, ClassificationErrorsNameTheCategories) {
  std::ifstream in(kExamples + "cart_classification.json");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string predicted = "\"predicted\": 1, \"counts\": [16, 24]";
  const std::size_t at = text.find(predicted);
  ASSERT_NE(at, std::string::npos);
  std::string bad = text;
  bad.replace(at, predicted.size(), "\"predicted\": 2, \"counts\": [16, 24]");
  const std::size_t line =
      static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n')) + 1;
  const std::size_t column = at - text.rfind('\n', at) + 13;
  EXPECT_EQ(LoadError(bad, "cart.json"),
            "cart.json:" + std::to_string(line) + ":" + std::to_string(column) +
                ": nodes[3].samples[0].class.predicted: category 2 is outside the target's "
                "categories 0 to 1");
  bad = text;
  bad.replace(at, predicted.size(), "\"predicted\": 1, \"counts\": [16, 24, 1]");
  EXPECT_EQ(LoadError(bad, "cart.json"),
            "cart.json:" + std::to_string(line) + ":" + std::to_string(column - 14) +
                ": nodes[3].samples[0].class: counts has 3 entries; the target has 2 categories");
  EXPECT_EQ(LoadError(With(text, "\"priors\": [0.5, 0.5]", "\"priors\": [1]"), "cart.json"),
            "cart.json:8:13: priors: found 1 for 2 target categories");
}

TEST(ModelFile, FormatPageExampleLoads) {
  std::ifstream in(std::string(TREEXPORT_SOURCE_DIR) + "/docs/model-format.md");
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t begin = page.rfind("```json\n");
  ASSERT_NE(begin, std::string::npos);
  const std::size_t end = page.find("\n```", begin + 8);
  ASSERT_NE(end, std::string::npos);
  memtree::Model model = memtree::ParseModel(page.substr(begin + 8, end - begin - 8), "page.json");
  const memtree::MemTree& tree = *model.tree;
  EXPECT_EQ(tree.GetNumberOfNodes(), 3u);
  EXPECT_EQ(tree.Route({std::nullopt, 1.0}), 1);  // the primary rule takes missing values left
  EXPECT_EQ(tree.Route({4.0, 0.0}), 2);
  const tree::RegInfo& right = *tree.GetRoot()->GetChild(1)->GetRegInfo(tree::TRAINING_SAMPLE);
  EXPECT_EQ(right.GetPrediction(), 2.25);
  EXPECT_EQ(right.GetStdDeviation(), -DBL_MAX);
  EXPECT_EQ(right.GetDistributionSize(), 2);
  EXPECT_EQ(right.GetDistributionCount(1), 3);
  const mdt::Variable& c = *(*model.metadata->GetPredictors())[1];
  EXPECT_EQ(c.GetValueLabel(mdt::Variant(std::string("a"))), "Type a");
  EXPECT_EQ(c.GetEncoding()->Decode(0).GetAllValues().size(), 2u);
}

TEST(ModelFile, FieldErrorsNameTheField) {
  const std::string labels =
      With(kSmall, "{\"name\": \"y\", \"level\": \"continuous\", \"storage\": \"numeric\"}",
           "{\"name\": \"y\", \"level\": \"continuous\", \"storage\": \"numeric\", "
           "\"valueLabels\": [{\"value\": 1, \"label\": \"one\"}, {\"value\": 1, \"label\": "
           "\"uno\"}]}");
  EXPECT_EQ(LoadError(labels),
            "model.json:6:120: fields[2].valueLabels[1].value: value labelled twice");
  EXPECT_EQ(LoadError(With(kSmall, "\"values\": [\"b\"]", "\"values\": [2]")),
            "model.json:5:128: fields[1].categories[1].values[0]: a string field needs a string or "
            "null, found a number");
  EXPECT_EQ(LoadError(With(kSmall, "{\"code\": 1,", "{\"code\": 0,")),
            "model.json:5:114: fields[1].categories[1].code: code 0 is listed twice");
  EXPECT_EQ(LoadError(With(kSmall, "\"level\": \"nominal\"", "\"level\": \"Nominal\"")),
            "model.json:5:28: fields[1].level: unknown level \"Nominal\" (expected \"nominal\", "
            "\"ordinal\", \"continuous\" or an integer code)");
  EXPECT_EQ(
      LoadError(With(kSmall, "\"function\": \"regression\"", "\"function\": \"classification\"")),
      "model.json:6:5: fields[2]: the target of a classification model needs categories");
}

TEST(ModelFile, SyntaxErrorsShowLineColumnAndCaret) {
  EXPECT_EQ(LoadError("{\n  \"nodes\": [1 2]\n}", "t.json"),
            "t.json:2:15: syntax error: Missing a comma or ']' after an array element\n"
            "    \"nodes\": [1 2]\n"
            "                ^");
  EXPECT_EQ(LoadError("{\"a\": 1, \"a\": 2}", "t.json"),
            "t.json:1:10: member \"a\" appears twice\n"
            "  {\"a\": 1, \"a\": 2}\n"
            "           ^");
  EXPECT_EQ(LoadError("", "t.json"),
            "t.json:1:1: syntax error: The document is empty\n"
            "  \n"
            "  ^");
  EXPECT_EQ(LoadError(std::string(100, '[') + std::string(100, ']'), "t.json"),
            "t.json:1:65: values nested deeper than 64 levels\n  " + std::string(72, '[') + "\n  " +
                std::string(36, ' ') + "^");
  EXPECT_EQ(LoadError("[1]", "t.json"), "t.json:1:1: expected an object, found an array");
}

TEST(ModelFile, NumbersSurviveTheRoundTrip) {
  std::string text = With(kSmall, "\"mean\": 0}", "\"mean\": 0.1, \"stdDev\": 1e-300}");
  text = With(text, "\"mean\": 2}", "\"mean\": -0.30000000000000004, \"prediction\": 1e300}");
  text = With(text, "\"missingChild\": 1",
              "\"missingChild\": 1, \"statistics\": [Infinity, "
              "null, 2], \"kinds\": [\"f\", \"df1\"]");
  memtree::Model model = memtree::ParseModel(text, "n.json");
  const tree::RegInfo& left =
      *model.tree->GetRoot()->GetChild(0)->GetRegInfo(tree::TRAINING_SAMPLE);
  EXPECT_EQ(left.GetMean(), 0.1);
  EXPECT_EQ(left.GetStdDeviation(), 1e-300);
  EXPECT_EQ(left.GetPrediction(), 0.1);
  const std::string saved = memtree::ModelText(*model.tree, *model.metadata);
  EXPECT_NE(saved.find("{\"count\": 4, \"regression\": {\"mean\": -0.30000000000000004, "
                       "\"prediction\": 1e+300}}"),
            std::string::npos)
      << saved;
  EXPECT_NE(saved.find("\"statistics\": [Infinity, null, 2], \"kinds\": [\"f\", \"df1\"]"),
            std::string::npos)
      << saved;
  memtree::Model again = memtree::ParseModel(saved, "n.json");
  std::unique_ptr<tree::SplitRule> rule(again.tree->GetRoot()->GetSurrogate(0));
  EXPECT_TRUE(std::isinf(rule->GetStatistic(0)));
  EXPECT_EQ(rule->GetStatisticFlags(),
            tree::stat::kEntry0 | tree::stat::kEntry2 | tree::stat::kF | tree::stat::kDf1);
  EXPECT_EQ(memtree::ModelText(*again.tree, *again.metadata), saved);
  EXPECT_EQ(LoadError(With(kSmall, "\"mean\": 0", "\"mean\": Infinity")),
            "model.json:11:63: nodes[1].samples[0].regression.mean: expected a finite number, "
            "found Infinity");
}

TEST(ModelFile, DeepChainLoadsWalksSavesAndDiesWithoutRecursion) {
  constexpr int kDepth = 100000;
  const std::string text = testing_support::ChainModel(kDepth);
  testing_support::RunOnStack(testing_support::kDefaultStack, [&] {
    memtree::Model model = memtree::ParseModel(text, "deep.json");
    EXPECT_EQ(model.tree->GetNumberOfNodes(), static_cast<std::size_t>(kDepth));
    EXPECT_EQ(model.tree->GetDepth(), static_cast<std::size_t>(kDepth - 1));
    EXPECT_EQ(model.tree->GetNumberOfLeaves(), 1u);
    tree::PrefixNodeIterator it(model.tree->GetRoot());
    int visited = 0;
    const tree::Node* last = nullptr;
    while (const tree::Node* node = it.Next()) {
      ++visited;
      last = node;
    }
    EXPECT_EQ(visited, kDepth);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->GetRegInfo(tree::TRAINING_SAMPLE)->GetMean(), kDepth - 1);
    EXPECT_EQ(model.tree->Route({5.0}), kDepth - 1);
    EXPECT_EQ(model.tree->Route({-5.0}), kDepth - 1);  // not covered: the biggest child
    const std::string first = memtree::ModelText(*model.tree, *model.metadata);
    memtree::Model again = memtree::ParseModel(first, "deep.json");
    EXPECT_EQ(memtree::ModelText(*again.tree, *again.metadata), first);
  });
}

memtree::SampleStats Reg(double count, double mean) {
  memtree::SampleStats s;
  s.count = count;
  s.reg = memtree::RegressionStats{mean, -DBL_MAX, mean, {}};
  return s;
}

memtree::RuleSpec Interval(int predictor, double cut, int missingChild = -1) {
  memtree::RuleSpec rule;
  rule.predictor = predictor;
  rule.children = {memtree::ChildValues::Interval({std::nullopt, cut, false, false}),
                   memtree::ChildValues::Interval({cut, std::nullopt, true, false})};
  rule.missingChild = missingChild;
  return rule;
}

memtree::RuleSpec Codes(int predictor, std::vector<int> left, std::vector<int> right,
                        int missingChild = -1) {
  memtree::RuleSpec rule;
  rule.predictor = predictor;
  rule.children = {memtree::ChildValues::Codes(std::move(left)),
                   memtree::ChildValues::Codes(std::move(right))};
  rule.missingChild = missingChild;
  return rule;
}

// Root 0 splits on x at 3.5 (no missing child), surrogate c {0} | {1, 2} sending missing right;
// node 1 splits on c {0} | {1} with missing values left and no surrogate; node 2 (60 cases)
// is bigger than node 1 (40).
std::unique_ptr<memtree::MemTree> RoutingTree() {
  memtree::TreeBuilder builder({false, 0, {2, 0}, 0, 1});
  auto root = builder.AddRoot(0);
  builder.SetSample(root, 0, Reg(100, 5));
  builder.SetSplit(root, Interval(0, 3.5));
  builder.AddSurrogate(root, Codes(1, {0}, {1, 2}, 1));
  auto left = builder.AddChild(root, 1);
  builder.SetSample(left, 0, Reg(40, 4));
  builder.SetSplit(left, Codes(1, {0}, {1}, 0));
  builder.SetSample(builder.AddChild(left, 3), 0, Reg(25, 3));
  builder.SetSample(builder.AddChild(left, 4), 0, Reg(15, 4.5));
  builder.SetSample(builder.AddChild(root, 2), 0, Reg(60, 7));
  return builder.Build();
}

TEST(Route, PrimaryThenSurrogatesThenBiggestChild) {
  auto tree = RoutingTree();
  EXPECT_EQ(tree->GetRoot()->GetBiggestChild(), 1);
  const double nan = std::nan("");
  EXPECT_EQ(tree->Route({1.0, 0.0}), 3);           // primary left, then c = 0
  EXPECT_EQ(tree->Route({3.5, 1.0}), 4);           // the bound belongs to the left child
  EXPECT_EQ(tree->Route({3.6, 0.0}), 2);           // primary right
  EXPECT_EQ(tree->Route({std::nullopt, 0.0}), 3);  // x missing: surrogate sends c = 0 left
  EXPECT_EQ(tree->Route({nan, 2.0}), 2);           // NaN counts as missing; surrogate right
  EXPECT_EQ(tree->Route({std::nullopt, std::nullopt}), 2);  // surrogate's missing child
  EXPECT_EQ(tree->Route({}), 2);                   // a short record: every predictor missing
  EXPECT_EQ(tree->Route({1.0, std::nullopt}), 3);  // node 1's rule takes missing values left
  EXPECT_EQ(tree->Route({1.0, 7.0}), 3);           // c = 7 fits no child: node 1's biggest
  EXPECT_EQ(tree->Route({std::nullopt, 7.0}), 2);  // nothing decides at the root: biggest
}

TEST(ModelFile, TreesBuiltInCodeSaveAndLoadBack) {
  auto tree = RoutingTree();
  mdt::ModelMetadataImp metadata;
  metadata.AddPredictor(
      std::make_unique<mdt::VariableImp>("x", global::CONTINUOUS, global::NUMERIC_STORAGE));
  try {
    memtree::ModelText(*tree, metadata);
    FAIL() << "saved";
  } catch (const memtree::ModelError& e) {
    EXPECT_STREQ(e.what(), "the tree has 2 predictors but the metadata 1");
  }
  metadata.AddPredictor(
      std::make_unique<mdt::VariableImp>("c", global::NOMINAL, global::NUMERIC_STORAGE));
  metadata.SetTarget(
      std::make_unique<mdt::VariableImp>("y", global::CONTINUOUS, global::NUMERIC_STORAGE));
  const std::string text = memtree::ModelText(*tree, metadata);
  EXPECT_NE(text.find("\"surrogates\": [\n        {\"predictor\": \"c\", \"children\": "
                      "[{\"codes\": [0]}, {\"codes\": [1, 2]}], \"missingChild\": 1}\n      ]"),
            std::string::npos)
      << text;
  memtree::Model loaded = memtree::ParseModel(text, "built.json");
  EXPECT_EQ(memtree::ModelText(*loaded.tree, *loaded.metadata), text);
  EXPECT_EQ(loaded.tree->Route({std::nullopt, 7.0}), 2);
  EXPECT_EQ(loaded.tree->Route({1.0, std::nullopt}), 3);
}

std::string BuildError(const std::function<void(memtree::TreeBuilder&)>& steps,
                       memtree::TreeShape shape = {false, 0, {2, 0}, 0, 1}) {
  try {
    memtree::TreeBuilder builder(shape);
    steps(builder);
    builder.Build();
  } catch (const memtree::ModelError& e) {
    return e.what();
  }
  return "(built without error)";
}

TEST(TreeBuilder, ChecksWhatItIsGiven) {
  EXPECT_EQ(BuildError([](memtree::TreeBuilder&) {}), "tree: no root node");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              auto root = b.AddRoot(7);
              b.AddChild(root, 7);
            }),
            "node 7: a node with this id exists");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) { b.AddChild(3, 1); }),
            "AddChild: no node with handle 3");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) { b.AddRoot(0); }),
            "node 0: no statistics for sample 0");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              auto root = b.AddRoot(0);
              b.SetSample(root, 0, Reg(10, 1));
              b.AddChild(root, 1);
              b.AddChild(root, 2);
            }),
            "node 0: a node with children needs a split");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              auto root = b.AddRoot(0);
              b.SetSample(root, 0, Reg(10, 1));
              b.SetSample(b.AddChild(root, 1), 0, Reg(10, 1));
              b.SetSplit(root, Interval(0, 1));
            }),
            "node 0: split has 2 child value sets but the node has 1 children");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              auto root = b.AddRoot(0);
              b.SetSample(root, 0, Reg(10, 1));
              b.SetSplit(root, Interval(0, 1));
            }),
            "node 0: a leaf has no split rules");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) { b.SetSplit(b.AddRoot(4), Interval(2, 1)); }),
            "node 4: split: predictor 2 is not one of the 2 predictors");
  EXPECT_EQ(
      BuildError([](memtree::TreeBuilder& b) { b.SetSplit(b.AddRoot(4), Codes(0, {0}, {1})); }),
      "node 4: split: child 0: an ordered predictor needs an interval, not a list of codes");
  EXPECT_EQ(
      BuildError([](memtree::TreeBuilder& b) { b.AddSurrogate(b.AddRoot(4), Interval(1, 1)); }),
      "node 4: surrogate 0: child 0: a nominal predictor needs a list of codes, not an "
      "interval");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              b.SetSplit(b.AddRoot(4), Codes(1, {0, 1}, {1}));
            }),
            "node 4: split: child 1: code 1 is sent to more than one child");
  EXPECT_EQ(
      BuildError([](memtree::TreeBuilder& b) { b.SetSplit(b.AddRoot(4), Interval(0, 1, 2)); }),
      "node 4: split: missing-value child 2 is not one of the 2 children");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              memtree::RuleSpec rule = Interval(0, 1);
              rule.children[0].bounds.low = 5;
              b.SetSplit(b.AddRoot(4), rule);
            }),
            "node 4: split: child 0: interval low 5 is above high 1");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              memtree::SampleStats s = Reg(3, 1);
              s.reg->stdDev = -2;
              b.SetSample(b.AddRoot(4), 0, s);
            }),
            "node 4: sample 0: regression: standard deviation -2 is negative");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) { b.SetSample(b.AddRoot(4), 1, Reg(3, 1)); }),
            "node 4: sample 1: the tree has 1 samples");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              b.SetPriors({0.5, 0.5});
            }),
            "priors: algorithm type 0 carries no priors (only 1, 3 and 4 do)");

  const memtree::TreeShape cls{true, 1, {2}, 2, 1};
  EXPECT_EQ(
      BuildError([](memtree::TreeBuilder& b) { b.SetSample(b.AddRoot(0), 0, Reg(3, 1)); }, cls),
      "node 0: sample 0: a classification node needs class information");
  EXPECT_EQ(BuildError(
                [](memtree::TreeBuilder& b) {
                  memtree::SampleStats s;
                  s.count = 3;
                  s.cls = memtree::ClassStats{0, {1, 2}, {0.5, 1.5}, {}};
                  b.SetSample(b.AddRoot(0), 0, s);
                },
                cls),
            "node 0: sample 0: class: proportions[1]: 1.5 is not between 0 and 1");
  EXPECT_EQ(BuildError(
                [](memtree::TreeBuilder& b) {
                  memtree::SampleStats s;
                  s.count = 3;
                  s.cls = memtree::ClassStats{0, {1, 2}, {}, {}};
                  b.SetSample(b.AddRoot(0), 0, s);
                },
                cls),
            "tree: algorithm type 1 needs priors");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder&) {}, {true, 0, {}, 0, 1}),
            "tree: a classification tree needs at least one target category");

  memtree::TreeBuilder builder({false, 0, {}, 0, 1});
  builder.SetSample(builder.AddRoot(0), 0, Reg(1, 1));
  builder.Build();
  try {
    builder.Build();
    FAIL() << "built twice";
  } catch (const memtree::ModelError& e) {
    EXPECT_STREQ(e.what(), "Build: the tree was already built");
  }
}

TEST(MemTree, SettingsAndStatisticsFollowTheAlgorithm) {
  memtree::TreeShape shape{true, 1, {0, 2}, 2, 2};
  auto make = [&](int type, bool priors) {
    shape.algorithmType = type;
    memtree::TreeBuilder builder(shape);
    if (priors) builder.SetPriors({0.25, 0.75});
    builder.SetRisk(0, {0.2, 0.01});
    builder.SetRiskSample(1);
    auto root = builder.AddRoot(0);
    for (int s = 0; s < 2; ++s) {
      memtree::SampleStats stats;
      stats.count = 4;
      stats.totalCount = 5;
      stats.cls = memtree::ClassStats{1, {1, 3}, {}, {}};
      builder.SetSample(root, s, stats);
    }
    return builder.Build();
  };

  auto cart = make(1, true);
  std::unique_ptr<tree::AlgSettings> settings(cart->CreateSettings());
  auto* cartSettings = dynamic_cast<tree::CCartSettings*>(settings.get());
  ASSERT_NE(cartSettings, nullptr);
  EXPECT_EQ(settings->GetAlgorithmType(), 1);
  EXPECT_EQ(settings->GetRiskEstimation().GetDataSample(), tree::TEST_SAMPLE);
  EXPECT_EQ(settings->GetPredictorInfo().GetPredictor(0).GetMeasurementLevel(), 0);
  EXPECT_EQ(settings->GetPredictorInfo().GetPredictor(1).GetMeasurementLevel(), 2);
  // typeid rather than dynamic_cast: the library does not export tree::Priors' type information.
  ASSERT_NE(cartSettings->GetPriors(), nullptr);
  ASSERT_EQ(typeid(*cartSettings->GetPriors()), typeid(tree::PriorsImp));
  auto* priors = static_cast<const tree::PriorsImp*>(cartSettings->GetPriors());
  EXPECT_EQ(priors->GetNumberOfPriors(), 2);
  EXPECT_EQ(priors->GetPrior(1), 0.75);

  tree::TreeStatistics stats;
  ArbTree::ArbStatus status = cart->ComputeTreeStatistics(tree::TEST_SAMPLE, stats);
  EXPECT_EQ(status.severity, 1);
  EXPECT_EQ(status.code, 10005);
  EXPECT_EQ(stats.GetBody(), nullptr);
  status = cart->ComputeTreeStatistics(tree::TRAINING_SAMPLE, stats);
  EXPECT_EQ(status.severity, 0);
  ASSERT_NE(stats.GetBody(), nullptr);
  EXPECT_EQ(stats.GetBody()->GetRisk(), 0.2);
  EXPECT_EQ(stats.GetBody()->GetRiskStdError(), 0.01);

  const tree::ClsInfo& info = *cart->GetRoot()->GetClsInfo(tree::TRAINING_SAMPLE);
  EXPECT_EQ(info.GetCategoryProportion(1), 0.75);  // filled in from the counts
  EXPECT_EQ(info.GetCategoryProbability(0), -1);   // none given
  EXPECT_EQ(info.GetCategoryCount(5), 0);
  EXPECT_EQ(cart->GetRoot()->GetTotalCount(tree::TEST_SAMPLE), 5);
  EXPECT_EQ(cart->GetRoot()->GetCount(static_cast<tree::DataSample>(3)), 0);
  EXPECT_EQ(cart->GetRoot()->GetParent(), nullptr);
  EXPECT_EQ(cart->GetVersion().GetMajor(), memtree::MemTreeVersion().GetMajor());

  auto chaid = make(3, true);
  settings.reset(chaid->CreateSettings());
  auto* chaidSettings = dynamic_cast<tree::CChaidSettingsImp*>(settings.get());
  ASSERT_NE(chaidSettings, nullptr);
  ASSERT_NE(chaidSettings->priors, nullptr);
  ASSERT_EQ(typeid(*chaidSettings->priors), typeid(tree::PriorsImp));
  EXPECT_EQ(static_cast<tree::PriorsImp&>(*chaidSettings->priors).GetPrior(0), 0.25);

  auto quest = make(4, false);
  settings.reset(quest->CreateSettings());
  auto* questSettings = dynamic_cast<tree::QuestSettings*>(settings.get());
  ASSERT_NE(questSettings, nullptr);
  EXPECT_EQ(questSettings->GetPriors(), nullptr);

  auto other = make(9, false);
  settings.reset(other->CreateSettings());
  EXPECT_EQ(settings->GetAlgorithmType(), 9);
  EXPECT_EQ(dynamic_cast<tree::CCartSettings*>(settings.get()), nullptr);
}

TEST(Summary, OneScreenOfFacts) {
  memtree::Model model = LoadExample("cart_classification.json");
  EXPECT_EQ(memtree::Summarize(*model.tree, *model.metadata),
            "Algorithm:  C&RT (type 1), classification\n"
            "Target:     credit (nominal, 2 categories)\n"
            "Predictors: 3: age, region, income\n"
            "Weights:    frequency freq\n"
            "Nodes:      5 (3 leaves), depth 2\n"
            "Samples:    training 200 records, test 100 records\n"
            "Risk:       training 0.26 (std. error 0.031016124838541645); test 0.26 (std. error "
            "0.04386342439892262)\n"
            "Priors:     0.5, 0.5\n");
  model = LoadExample("regression.json");
  EXPECT_EQ(memtree::Summarize(*model.tree, *model.metadata),
            "Algorithm:  C&RT (type 0), regression\n"
            "Target:     price (continuous)\n"
            "Predictors: 2: area, rooms\n"
            "Nodes:      5 (3 leaves), depth 2\n"
            "Samples:    training 100 records\n"
            "Risk:       training 2506.25 (std. error 310.4)\n");
}

}  // namespace
