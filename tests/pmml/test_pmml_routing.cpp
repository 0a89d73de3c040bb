// Records scored through the exported document reach the leaves the host's own routing reaches.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "tests/support/pmml_evaluator.h"
#include "tests/support/xml_check.h"

namespace {

using testing_support::PmmlRecord;
using testing_support::PmmlTreeEvaluator;

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

std::string Pmml(const memtree::Model& model) {
  TreeOut::PMMLOutputAdapter adapter;
  std::ostringstream out;
  adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  return out.str();
}

std::string HostLeaf(const memtree::Model& model, const std::vector<std::optional<double>>& r) {
  return std::to_string(static_cast<uint32_t>(model.tree->Route(r)));
}

TEST(PmmlRouting, EveryCombinationOfValuesAndMissingReachesTheHostsLeaf) {
  memtree::Model model = memtree::ParseModel(kRouting, "routing.json");
  const std::string document = Pmml(model);
  EXPECT_EQ(testing_support::XmlDoc(document).PmmlSchemaErrors(), "");
  PmmlTreeEvaluator pmml(document);
  const std::vector<std::optional<double>> xs = {std::nullopt, 1, 3.5, 3.6, 5, 6, 8, 9};
  const std::vector<const char*> colours = {"red", "green", "blue"};
  const std::vector<const char*> levels = {"lo", "mid", "hi"};
  int compared = 0;
  for (const std::optional<double>& x : xs) {
    for (int c = -1; c < 3; ++c) {
      for (int o = -1; o < 3; ++o) {
        std::vector<std::optional<double>> host = {x, std::nullopt, std::nullopt};
        PmmlRecord record;
        if (x) {
          std::ostringstream text;
          text << *x;
          record["x"] = text.str();
        }
        if (c >= 0) {
          host[1] = c;
          record["c"] = colours[static_cast<std::size_t>(c)];
        }
        if (o >= 0) {
          host[2] = o;
          record["o"] = levels[static_cast<std::size_t>(o)];
        }
        EXPECT_EQ(pmml.LeafId(record), HostLeaf(model, host))
            << "x=" << (x ? std::to_string(*x) : "missing") << " c=" << c << " o=" << o;
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 128);
  // Spot checks worked out by hand from the tree above.
  EXPECT_EQ(pmml.LeafId({{"x", "3.6"}, {"c", "green"}}), "4");
  EXPECT_EQ(pmml.LeafId({{"c", "green"}, {"o", "hi"}}), "7");  // x missing: c sends it right
  EXPECT_EQ(pmml.LeafId({{"x", "2"}}), "5");  // o missing: its own rule sends it to child 0
  EXPECT_EQ(pmml.LeafId({{"c", "blue"}, {"x", "3.5"}, {"o", "mid"}}), "6");
  EXPECT_EQ(pmml.Score({{"x", "9"}, {"c", "red"}}), "a");
}

}  // namespace
