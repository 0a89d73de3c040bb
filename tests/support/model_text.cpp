#include "tests/support/model_text.h"

#include <gtest/gtest.h>

namespace testing_support {

std::string ChainModel(int depth, int algorithm) {
  std::string text =
      "{\"format\": \"treexport-model\", \"version\": 1, \"function\": \"regression\", "
      "\"algorithm\": " +
      std::to_string(algorithm) +
      ", \"fields\": [{\"name\": \"x\", \"level\": \"continuous\", \"storage\": \"numeric\"}, "
      "{\"name\": \"y\", \"level\": \"continuous\", \"storage\": \"numeric\"}], "
      "\"predictors\": [\"x\"], \"target\": \"y\", \"nodes\": [\n";
  for (int i = 0; i < depth; ++i) {
    const std::string id = std::to_string(i);
    text += "{\"id\": " + id + ", \"samples\": [{\"count\": 1, \"regression\": {\"mean\": " + id +
            "}}]";
    text += i + 1 < depth ? ", \"children\": [" + std::to_string(i + 1) +
                                "], \"split\": {\"predictor\": \"x\", \"children\": "
                                "[{\"low\": 0}]}},\n"
                          : "}]}\n";
  }
  return text;
}

std::string With(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) {
    ADD_FAILURE() << "model text has no " << from;
  } else {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace testing_support
