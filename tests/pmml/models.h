// Model files for the PMML tests, each written to show a handful of rules at once.
#pragma once

#include <string>

namespace pmml_test {

// Classification, C&RT with priors (algorithm 1), two samples.
//   predictors age (continuous, missing -1/null and two missing ranges), region (nominal, codes
//   0..3, code 1 = "south" and "S", label on "south"), size (ordinal S/M/L listed as codes 2, 0,
//   1), unused (nominal, no split); target credit (codes 0 "yes", 1 "no", listed "no" first);
//   frequency weight wt (nominal, missing 0).
//   node 0 (100): region {1} | {0, 3}, missing -> child 1, improvement 10; surrogate age
//     <= 40 | > 40, improvement 4
//     node 1 (70, biggest): size <= S | > S, improvement 6
//       node 3 (20): counts 12.5 / 7.5
//       node 4 (50, biggest)
//     node 4294967295 (30): probabilities 0 and none
inline const char* const kCredit = R"({
  "format": "treexport-model", "version": 1, "function": "classification", "algorithm": 1,
  "samples": 2, "riskSample": 1, "priors": [0.3, 0.7],
  "risk": [{"sample": 0, "value": 0.25, "stdError": 0.04}, {"sample": 1, "value": 0.3, "stdError": 0.05}],
  "fields": [
    {"name": "age", "label": "Age in years", "level": "continuous", "storage": "numeric",
     "missing": {"values": [-1, null], "ranges": [{"low": 1, "high": 5, "highInclusive": false},
                                                  {"low": 200, "high": null}]}},
    {"name": "region", "label": "Sales region", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["north"]}, {"code": 1, "values": ["south", "S"]},
                    {"code": 2, "values": ["east"]}, {"code": 3, "values": ["west"]}],
     "valueLabels": [{"value": "south", "label": "Southern region"}]},
    {"name": "size", "level": "ordinal", "storage": "string",
     "categories": [{"code": 2, "values": ["L"]}, {"code": 0, "values": ["S"]}, {"code": 1, "values": ["M"]}]},
    {"name": "unused", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["u0"]}, {"code": 1, "values": ["u1"]}]},
    {"name": "credit", "label": "Credit rating", "level": "nominal", "storage": "string",
     "categories": [{"code": 1, "values": ["no"]}, {"code": 0, "values": ["yes"]}]},
    {"name": "wt", "level": "nominal", "storage": "numeric",
     "categories": [{"code": 0, "values": [1]}, {"code": 1, "values": [2]}], "missing": {"values": [0]}}
  ],
  "predictors": ["age", "region", "size", "unused"], "target": "credit", "frequencyWeight": "wt",
  "nodes": [
    {"id": 0, "children": [1, 4294967295],
     "samples": [{"count": 100, "class": {"predicted": 0, "counts": [60, 40], "probabilities": [0.6, 0.4]}},
                 {"count": 50, "class": {"predicted": 0, "counts": [30, 20]}}],
     "split": {"predictor": "region", "children": [{"codes": [1]}, {"codes": [0, 3]}], "missingChild": 1,
               "statistics": [10], "kinds": ["improvement"]},
     "surrogates": [{"predictor": "age", "children": [{"high": 40}, {"low": 40, "lowOpen": true}],
                     "statistics": [4], "kinds": ["improvement"]}],
     "ranges": [{"predictor": "age", "min": 18, "max": 90}]},
    {"id": 1, "children": [3, 4],
     "samples": [{"count": 70, "class": {"predicted": 0, "counts": [50, 20]}},
                 {"count": 35, "class": {"predicted": 0, "counts": [25, 10]}}],
     "split": {"predictor": "size", "children": [{"high": 0}, {"low": 0, "lowOpen": true}],
               "statistics": [6, 0.01], "kinds": ["improvement", "pValue"]}},
    {"id": 3, "samples": [{"count": 20, "class": {"predicted": 0, "counts": [12.5, 7.5]}},
                          {"count": 10, "class": {"predicted": 1, "counts": [4, 6]}}]},
    {"id": 4, "samples": [{"count": 50, "class": {"predicted": 0, "counts": [37.5, 12.5]}},
                          {"count": 25, "class": {"predicted": 0, "counts": [21, 4]}}]},
    {"id": 4294967295,
     "samples": [{"count": 30, "class": {"predicted": 1, "counts": [10, 20], "probabilities": [0, -1]}},
                 {"count": 15, "class": {"predicted": 1, "counts": [5, 10]}}]}
  ]
})";

// Regression: the root (100 records, prediction 5.2) splits x (no encoder) at 3.5; child 0
// (60, prediction 4, biggest) takes x <= 3.5, child 1 (40, prediction 7) the rest. The root
// has no standard deviation, child 1 a distribution of three entries.
inline const char* const kRegression = R"({
  "format": "treexport-model", "version": 1, "function": "regression", "algorithm": 0,
  "risk": [{"sample": 0, "value": 2.5, "stdError": 0.5}],
  "fields": [{"name": "x", "level": "continuous", "storage": "numeric"},
             {"name": "z", "level": "continuous", "storage": "numeric"},
             {"name": "y", "level": "continuous", "storage": "numeric"}],
  "predictors": ["z", "x"], "target": "y",
  "nodes": [
    {"id": 0, "children": [1, 2], "samples": [{"count": 100, "regression": {"mean": 5.25, "prediction": 5.2}}],
     "split": {"predictor": "x", "children": [{"high": 3.5}, {"low": 3.5, "lowOpen": true}],
               "statistics": [12.25], "kinds": ["improvement"]}},
    {"id": 1, "samples": [{"count": 60, "regression": {"mean": 4, "stdDev": 0}}]},
    {"id": 2, "samples": [{"count": 40, "regression": {"mean": 7, "stdDev": 1.5, "distribution": [10, 20.5, 9.5]}}]}
  ]
})";

// CHAID with priors (algorithm 3): a three-way split on the nominal "education" (codes 0..4;
// the middle child takes the missing values), with a surrogate on the ordinal "agegroup" whose
// middle interval is bounded on both sides; a second surrogate on the nominal "sector" sends
// one code to each child.
inline const char* const kChaid = R"({
  "format": "treexport-model", "version": 1, "function": "classification", "algorithm": 3,
  "priors": [0.2, 0.3, 0.5],
  "risk": [{"sample": 0, "value": 0.4, "stdError": 0.03}],
  "fields": [
    {"name": "education", "level": "nominal", "storage": "numeric",
     "categories": [{"code": 0, "values": [10]}, {"code": 1, "values": [20]}, {"code": 2, "values": [30]},
                    {"code": 3, "values": [40]}, {"code": 4, "values": [50]}]},
    {"name": "agegroup", "level": "ordinal", "storage": "numeric",
     "categories": [{"code": 0, "ranges": [{"low": 18, "high": 30}]}, {"code": 1, "ranges": [{"low": 30, "high": 50}]},
                    {"code": 2, "ranges": [{"low": 50, "high": 99}]}]},
    {"name": "sector", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["public"]}, {"code": 1, "values": ["private"]},
                    {"code": 2, "values": ["mixed"]}]},
    {"name": "response", "level": "nominal", "storage": "string",
     "categories": [{"code": 0, "values": ["low"]}, {"code": 1, "values": ["mid"]}, {"code": 2, "values": ["high"]}]}
  ],
  "predictors": ["education", "agegroup", "sector"], "target": "response",
  "nodes": [
    {"id": 0, "children": [1, 2, 3],
     "samples": [{"count": 300, "class": {"predicted": 2, "counts": [90, 90, 120]}}],
     "split": {"predictor": "education", "children": [{"codes": [0, 1]}, {"codes": [2]}, {"codes": [3, 4]}],
               "missingChild": 1, "statistics": [25.5, 0.001, 4], "kinds": ["chiSquare", "adjPValue", "df1"]},
     "surrogates": [{"predictor": "agegroup", "children": [{"high": 0}, {"low": 0, "lowOpen": true, "high": 1}, {"low": 1, "lowOpen": true}],
                     "missingChild": 1},
                    {"predictor": "sector", "children": [{"codes": [0]}, {"codes": [1]}, {"codes": [2]}]}]},
    {"id": 1, "samples": [{"count": 80, "class": {"predicted": 0, "counts": [50, 20, 10]}}]},
    {"id": 2, "samples": [{"count": 100, "class": {"predicted": 1, "counts": [20, 60, 20]}}]},
    {"id": 3, "samples": [{"count": 120, "class": {"predicted": 2, "counts": [20, 10, 90]}}]}
  ]
})";

}  // namespace pmml_test
