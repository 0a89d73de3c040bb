#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/memtree/detail/json_value.h"
#include "host/memtree/mem_tree.h"
#include "host/memtree/model_file.h"
#include "host/memtree/tree_builder.h"
#include "model/collect_split_values.h"
#include "tests/support/model_text.h"
#include "tests/support/run_command.h"
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

TEST(ModelFile, ErrorsNamePlacePathAndProblem) {
  // Most problems have a file of their own under tests/data/hostile; this one has none.
  EXPECT_EQ(LoadError(With(kSmall, "{\"high\": 3.5}", "{\"codes\": [1]}")),
            "model.json:10:131: nodes[0].split.children[0]: predictor \"x\" is ordered; its "
            "value sets are intervals");

  // Positions in a file laid out by hand: the cart example.
  const std::string cart = testing_support::ReadFile(kExamples + "cart_classification.json");
  const std::string predicted = "\"predicted\": 1, \"counts\": [16, 24]";
  const std::size_t at = cart.find(predicted);
  ASSERT_NE(at, std::string::npos);
  const auto line = std::count(cart.begin(), cart.begin() + static_cast<std::ptrdiff_t>(at), '\n');
  EXPECT_EQ(LoadError(With(cart, predicted, "\"predicted\": 2, \"counts\": [16, 24]"), "cart.json"),
            "cart.json:" + std::to_string(line + 1) + ":" +
                std::to_string(at - cart.rfind('\n', at) + 13) +
                ": nodes[3].samples[0].class.predicted: category 2 is outside the target's "
                "categories 0 to 1");
  EXPECT_EQ(LoadError(With(cart, "\"priors\": [0.5, 0.5]", "\"priors\": [1]"), "cart.json"),
            "cart.json:8:13: priors: found 1 for 2 target categories");
}

// kSmall with its nodes first, the children listed before they are named and in reverse, and
// names escaped: nodes are read after the rest of the file and put in pre-order afterwards.
const char* const kMoved = R"({
  "n\u006fdes": [
    {"id": 0, "children": [1, 2], "samples": [{"count": 10, "regression": {"mean": 1}}], "split": {"predictor": "\u0078", "children": [{"high": 3.5}, {"low": 3.5, "lowOpen": true}]}, "surrogates": [{"predictor": "c", "children": [{"codes": [0]}, {"codes": [1]}], "missingChild": 1}]},
    {"id": 2, "samples": [{"count": 4, "regression": {"mean": 2}}]},
    {"id": 1, "samples": [{"count": 6, "regression": {"mean": 0}}]}
  ],
  "format": "treexport-model", "version": 1, "function": "regression", "algorithm": 0,
  "fields": [
    {"name": "x", "level": "continuous", "storage": "numeric"},
    {"name": "c", "level": "nominal", "storage": "string", "categories": [{"code": 0, "values": ["a"]}, {"code": 1, "values": ["b"]}]},
    {"name": "y", "level": "continuous", "storage": "numeric"}
  ],
  "predictors": ["\u0078", "c"], "target": "y"
})";

TEST(ModelFile, NodesLoadInAnyOrderAndPlace) {
  const memtree::Model small = memtree::ParseModel(kSmall, "small.json");
  const memtree::Model moved = memtree::ParseModel(kMoved, "moved.json");
  EXPECT_EQ(moved.tree->GetNode(1).GetId(), 1u);
  EXPECT_EQ(moved.tree->GetNode(2).GetParentIndex(), 0);
  EXPECT_EQ(memtree::ModelText(*moved.tree, *moved.metadata),
            memtree::ModelText(*small.tree, *small.metadata));
  // Problems inside nodes still name their place, and links between nodes come first.
  EXPECT_EQ(LoadError(With(kMoved, "\"count\": 6", "\"count\": -6")),
            "model.json:5:37: nodes[2].samples[0].count: count -6 is negative");
  EXPECT_EQ(LoadError(With(With(kMoved, "\"count\": 4", "\"count\": -4"), "[1, 2]", "[1, 1]")),
            "model.json:3:31: nodes[0].children[1]: node 1 is already a child of node 0 "
            "(nodes[0].children[0])");
}

TEST(ModelFile, SyntaxErrorsShowLineColumnAndCaret) {
  EXPECT_EQ(LoadError("{\n  \"nodes\": [1 2]\n}", "t.json"),
            "t.json:2:15: syntax error: expected ',' or ']' after an array element, found '2'\n"
            "    \"nodes\": [1 2]\n"
            "                ^");
  EXPECT_EQ(LoadError("{\"a\": 1, \"a\": 2}", "t.json"),
            "t.json:1:10: a: member \"a\" appears twice (first at 1:2)\n"
            "  {\"a\": 1, \"a\": 2}\n"
            "           ^");
}

TEST(ModelFile, FormatPageExampleLoads) {
  const std::string page =
      testing_support::ReadFile(std::string(TREEXPORT_SOURCE_DIR) + "/docs/model-format.md");
  const std::size_t begin = page.rfind("```json\n");
  ASSERT_NE(begin, std::string::npos);
  const std::size_t end = page.find("\n```", begin + 8);
  ASSERT_NE(end, std::string::npos);
  memtree::Model model = memtree::ParseModel(page.substr(begin + 8, end - begin - 8), "page.json");
  EXPECT_EQ(model.tree->GetNumberOfNodes(), 3u);
  EXPECT_EQ(model.tree->Route({std::nullopt, 1.0}), 1);  // the primary rule takes missing left
  EXPECT_EQ(model.tree->Route({4.0, 0.0}), 2);
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

// A large nodes array is read a slice at a time; messages give the file's places and paths all
// the same, in the first and last slice and on both sides of the edge between two.
TEST(ModelFile, ProblemsInALargeNodesArrayNameTheirPlace) {
  constexpr int kNodes = 20000;  // some 3 MB of nodes, one per line from line 2
  const std::string text = testing_support::ChainModel(kNodes);
  const std::size_t edge =
      text.find("},\n", text.find('[') + memtree::detail::JsonDocument::kSliceSize);
  const int lastOfFirstSlice =
      static_cast<int>(std::count(text.begin(), text.begin() + edge, '\n')) - 1;
  auto firstLine = [](const std::string& s) { return s.substr(0, s.find('\n')); };
  for (int node : {0, lastOfFirstSlice, lastOfFirstSlice + 1, kNodes - 1}) {
    SCOPED_TRACE(node);
    const std::string start = "{\"id\": " + std::to_string(node) + ", ";
    const std::string line = std::to_string(node + 2);
    std::string twice = text;
    twice.replace(twice.find(start), start.size(), start + "\"id\": 1, ");
    EXPECT_EQ(firstLine(LoadError(twice, "big.json")),
              "big.json:" + line + ":" + std::to_string(start.size() + 1) + ": nodes[" +
                  std::to_string(node) + "].id: member \"id\" appears twice (first at " + line +
                  ":2)");
    std::string noColon = text;
    noColon.replace(noColon.find(start), start.size() + 11, start + "\"samples\" ");
    EXPECT_EQ(firstLine(LoadError(noColon, "big.json")),
              "big.json:" + line + ":" + std::to_string(start.size() + 11) +
                  ": syntax error: expected ':' after the member name, found '['");
  }
  EXPECT_EQ(memtree::ParseModel(text, "big.json").tree->GetNumberOfNodes(),
            static_cast<std::size_t>(kNodes));
}

TEST(ModelFile, DeepChainLoadsWalksSavesAndDiesWithoutRecursion) {
  constexpr int kDepth = 100000;
  // x ordinal, so that the split-value pass gathers the cuts; the deepest split's cut differs.
  std::string text = With(testing_support::ChainModel(kDepth), "\"level\": \"continuous\"",
                          "\"level\": \"ordinal\"");
  text.replace(text.rfind("{\"low\": 0}"), 10, "{\"low\": 7}");
  testing_support::RunOnStack(testing_support::kDefaultStack, [&] {
    memtree::Model model = memtree::ParseModel(text, "deep.json");
    EXPECT_EQ(model.tree->GetNumberOfNodes(), static_cast<std::size_t>(kDepth));
    EXPECT_EQ(model.tree->GetDepth(), static_cast<std::size_t>(kDepth - 1));
    EXPECT_EQ(model.tree->GetNumberOfLeaves(), 1u);
    EXPECT_EQ(model.tree->Route({8.0}), kDepth - 1);
    EXPECT_EQ(model.tree->Route({-5.0}), kDepth - 1);  // not covered: the biggest child
    TreeOut::SplitValueSets sets;
    TreeOut::CollectSplitValues(*model.tree, model.metadata.get(), sets);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0], (std::set<double>{0, 7}));
    const std::string first = memtree::ModelText(*model.tree, *model.metadata);
    memtree::Model again = memtree::ParseModel(first, "deep.json");
    EXPECT_EQ(memtree::ModelText(*again.tree, *again.metadata), first);
  });
}

// x continuous, c nominal (code 3 is used by no split), z ordinal; node 2 (60 records) is bigger
// than node 1 (40), node 3 (25) than node 4 (15). Pre-order (0 1 3 4 2) differs from the order
// by level.
//   node 0: x <= 3.5 | > 3.5, no missing child; surrogate c {0} | {1, 2}, missing -> 1
//     node 1: c {0} | {1}, missing -> 0; surrogate z <= 2 | > 4, which no record below gives
const char* const kTree = R"({
  "format": "treexport-model", "version": 1, "function": "classification", "algorithm": 0,
  "fields": [
    {"name": "x", "level": "continuous", "storage": "numeric"},
    {"name": "c", "level": "nominal", "storage": "numeric", "categories": [{"code": 0, "values": [0]}, {"code": 1, "values": [1]}, {"code": 2, "values": [2]}, {"code": 3, "values": [3]}]},
    {"name": "z", "level": "ordinal", "storage": "numeric"},
    {"name": "t", "level": "nominal", "storage": "string", "categories": [{"code": 0, "values": ["a"]}, {"code": 1, "values": ["b"]}]}
  ],
  "predictors": ["x", "c", "z"], "target": "t",
  "nodes": [
    {"id": 0, "children": [1, 2], "samples": [{"count": 100, "class": {"predicted": 1, "counts": [45, 55]}}],
     "split": {"predictor": "x", "children": [{"high": 3.5}, {"low": 3.5, "lowOpen": true}]},
     "surrogates": [{"predictor": "c", "children": [{"codes": [0]}, {"codes": [1, 2]}], "missingChild": 1}]},
    {"id": 1, "children": [3, 4], "samples": [{"count": 40, "class": {"predicted": 0, "counts": [30, 10]}}],
     "split": {"predictor": "c", "children": [{"codes": [0]}, {"codes": [1]}], "missingChild": 0},
     "surrogates": [{"predictor": "z", "children": [{"high": 2}, {"low": 4, "lowOpen": true}]}]},
    {"id": 3, "samples": [{"count": 25, "class": {"predicted": 0, "counts": [20, 5]}}]},
    {"id": 4, "samples": [{"count": 15, "class": {"predicted": 0, "counts": [10, 5]}}]},
    {"id": 2, "samples": [{"count": 60, "class": {"predicted": 1, "counts": [15, 45]}}]}
  ]
})";

TEST(Route, PrimaryThenSurrogatesThenBiggestChild) {
  const memtree::Model model = memtree::ParseModel(kTree, "tree.json");
  const memtree::MemTree& tree = *model.tree;
  EXPECT_EQ(tree.GetRoot()->GetBiggestChild(), 1);
  const double nan = std::nan("");
  EXPECT_EQ(tree.Route({1.0, 0.0}), 3);                       // primary left, then c = 0
  EXPECT_EQ(tree.Route({3.5, 1.0}), 4);                       // the bound belongs to the left child
  EXPECT_EQ(tree.Route({3.6, 0.0}), 2);                       // primary right
  EXPECT_EQ(tree.Route({std::nextafter(3.5, 4.0), 1.0}), 2);  // one step beyond the bound
  EXPECT_EQ(tree.Route({std::nullopt, 0.0}), 3);           // x missing: surrogate sends c = 0 left
  EXPECT_EQ(tree.Route({nan, 2.0}), 2);                    // NaN counts as missing; surrogate right
  EXPECT_EQ(tree.Route({std::nullopt, std::nullopt}), 2);  // surrogate's missing child
  EXPECT_EQ(tree.Route({}), 2);                   // a short record: every predictor missing
  EXPECT_EQ(tree.Route({1.0, std::nullopt}), 3);  // node 1's rule takes missing values left
  EXPECT_EQ(tree.Route({1.0, 7.0}), 3);           // c = 7 fits no child: node 1's biggest
  EXPECT_EQ(tree.Route({std::nullopt, 7.0}), 2);  // nothing decides at the root: biggest
}

std::string Saved(const memtree::Model& model) {
  std::ostringstream out;
  memtree::SaveModel(*model.tree, *model.metadata, out);
  return out.str();
}

TEST(Route, ANodeWithoutABiggestChildKeepsWhatNothingDecides) {
  // kSmall's root: x decides, then c (whose missing value goes right); here nothing else does.
  const std::string tied =
      With(kSmall, R"("missingChild": 1}]})", R"("missingChild": 1}], "biggestChild": null})");
  const memtree::Model model = memtree::ParseModel(tied, "tied.json");
  EXPECT_EQ(model.tree->GetRoot()->GetBiggestChild(), -1);
  EXPECT_EQ(model.tree->Route({1.0, std::nullopt}), 1);  // x decides
  EXPECT_EQ(model.tree->Route({std::nullopt, 0.0}), 1);  // the surrogate decides
  EXPECT_EQ(model.tree->Route({std::nullopt, 5.0}), 0);  // nobody decides: stops at the root
  // Saved as it was read, and read again the same.
  const std::string saved = Saved(model);
  EXPECT_NE(saved.find("\"biggestChild\": null"), std::string::npos) << saved;
  const memtree::Model again = memtree::ParseModel(saved, "saved.json");
  EXPECT_EQ(Saved(again), saved);
  EXPECT_EQ(again.tree->Route({std::nullopt, 5.0}), 0);
  // Without the member the first child with the most rows is the biggest, as before.
  EXPECT_EQ(Saved(memtree::ParseModel(kSmall, "s.json")).find("biggestChild"), std::string::npos);

  EXPECT_EQ(LoadError(With(kSmall, R"("missingChild": 1}]})",
                           R"("missingChild": 1}], "biggestChild": 0})")),
            "model.json:10:296: nodes[0].biggestChild: expected null (no biggest child), found "
            "a number");
  EXPECT_EQ(LoadError(With(kSmall, R"({"id": 1, "samples")",
                           R"({"id": 1, "biggestChild": null, "samples")")),
            "model.json:11:31: nodes[1].biggestChild: only a node with children can lack a biggest "
            "child");
}

TEST(CollectSplitValues, GathersNominalCodesAndOrdinalCutsOnly) {
  const memtree::Model model = memtree::ParseModel(kTree, "tree.json");
  TreeOut::SplitValueSets sets{{42.0}};  // rebuilt, not added to
  EXPECT_EQ(TreeOut::CollectSplitValues(*model.tree, model.metadata.get(), sets).code, 0);
  ASSERT_EQ(sets.size(), 4u);
  EXPECT_TRUE(sets[0].empty());                     // continuous cuts are not gathered
  EXPECT_EQ(sets[1], (std::set<double>{0, 1, 2}));  // 2 from the surrogate only; 3 from none
  EXPECT_EQ(sets[2], (std::set<double>{2, 4}));     // both ends of a surrogate's intervals
  EXPECT_EQ(sets[3], (std::set<double>{0, 1}));     // the target's class codes
}

memtree::SampleStats Reg(double count, double mean) {
  memtree::SampleStats s;
  s.count = count;
  s.reg = memtree::RegressionStats{mean, -DBL_MAX, mean, {}};
  return s;
}

memtree::RuleSpec Codes(int predictor, std::vector<int> left, std::vector<int> right) {
  memtree::RuleSpec rule;
  rule.predictor = predictor;
  rule.children = {memtree::ChildValues::Codes(std::move(left)),
                   memtree::ChildValues::Codes(std::move(right))};
  return rule;
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
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) { b.AddChild(b.AddRoot(7), 7); }),
            "node 7: a node with this id exists");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) { b.AddChild(3, 1); }),
            "AddChild: no node with handle 3");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              auto root = b.AddRoot(0);
              b.SetSample(root, 0, Reg(10, 1));
              b.SetSample(b.AddChild(root, 1), 0, Reg(10, 1));
              b.SetSplit(root, Codes(1, {0}, {1}));
            }),
            "node 0: split has 2 child value sets but the node has 1 children");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              b.AddSurrogate(b.AddRoot(4), Codes(1, {0, 1}, {1}));
            }),
            "node 4: surrogate 0: child 1: code 1 is sent to more than one child");
  EXPECT_EQ(BuildError(
                [](memtree::TreeBuilder& b) {
                  memtree::SampleStats s;
                  s.count = 3;
                  s.cls = memtree::ClassStats{0, {1, 2}, {}, {}};
                  b.SetSample(b.AddRoot(0), 0, s);
                },
                {true, 1, {2}, 2, 1}),
            "tree: algorithm type 1 needs priors");
  EXPECT_EQ(BuildError([](memtree::TreeBuilder& b) {
              b.SetSample(b.AddRoot(0), 0, Reg(1, 1));
              EXPECT_NE(b.Build(), nullptr);  // hands the tree over and keeps nothing
            }),
            "Build: the tree was already built");
}

}  // namespace
