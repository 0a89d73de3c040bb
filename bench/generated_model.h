// Model files of generated complete binary trees, for the benchmarks and the profiling recipe.
#pragma once

#include <string>

namespace bench {

enum class Kind { kRegression, kClassification };

// A complete binary tree with n nodes (n odd); node i splits x at i. Classification trees have
// three classes and a surrogate on z for every split.
inline std::string Model(Kind kind, int n) {
  const bool cls = kind == Kind::kClassification;
  std::string text =
      "{\"format\": \"treexport-model\", \"version\": 1, \"function\": \"" +
      std::string(cls ? "classification" : "regression") +
      "\", \"algorithm\": 0, \"risk\": [{\"sample\": 0, \"value\": 1, \"stdError\": 0.1}], "
      "\"fields\": [{\"name\": \"x\", \"level\": \"continuous\", \"storage\": \"numeric\"}, "
      "{\"name\": \"z\", \"level\": \"continuous\", \"storage\": \"numeric\"}, ";
  text += cls ? "{\"name\": \"y\", \"level\": \"nominal\", \"storage\": \"string\", "
                "\"categories\": [{\"code\": 0, \"values\": [\"low\"]}, {\"code\": 1, \"values\": "
                "[\"mid\"]}, {\"code\": 2, \"values\": [\"high\"]}]}"
              : "{\"name\": \"y\", \"level\": \"continuous\", \"storage\": \"numeric\"}";
  text += "], \"predictors\": [\"x\", \"z\"], \"target\": \"y\", \"nodes\": [\n";
  for (int i = 0; i < n; ++i) {
    const std::string id = std::to_string(i);
    text += i ? ",\n" : "";
    text += "{\"id\": " + id + ", \"samples\": [{\"count\": 60, ";
    text += cls ? "\"class\": {\"predicted\": " + std::to_string(i % 3) +
                      ", \"counts\": [30, 20, 10], \"proportions\": [0.5, 0.3333333333333333, "
                      "0.16666666666666666], \"probabilities\": [0.5, 0.3333333333333333, "
                      "0.16666666666666666]}}]"
                : "\"regression\": {\"mean\": " + id + ".5, \"stdDev\": 1}}]";
    if (2 * i + 2 < n) {
      text += ", \"children\": [" + std::to_string(2 * i + 1) + ", " + std::to_string(2 * i + 2) +
              "], \"split\": {\"predictor\": \"x\", \"children\": [{\"high\": " + id +
              "}, {\"low\": " + id +
              ", \"lowOpen\": true}], \"statistics\": [1.25], \"kinds\": [\"improvement\"]}";
      if (cls) {
        text += ", \"surrogates\": [{\"predictor\": \"z\", \"children\": [{\"low\": " + id +
                ", \"lowOpen\": true}, {\"high\": " + id +
                "}], \"statistics\": [0.5, 0.75], \"kinds\": [\"improvement\", "
                "\"association\"]}]";
      }
    }
    text += "}";
  }
  return text + "]}\n";
}

}  // namespace bench
