// Writes a generated model file to stdout, for timing and profiling the command on it:
//   generated_model classification|regression NODES > model.json
#include "bench/generated_model.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  const bool known = argc == 3 && (std::strcmp(argv[1], "classification") == 0 ||
                                   std::strcmp(argv[1], "regression") == 0);
  const long nodes = known ? std::strtol(argv[2], nullptr, 10) : 0;
  if (nodes < 1 || nodes % 2 == 0 || nodes > 100000001) {
    std::fprintf(stderr, "usage: generated_model classification|regression NODES (odd)\n");
    return 1;
  }
  const std::string text =
      bench::Model(std::strcmp(argv[1], "classification") == 0 ? bench::Kind::kClassification
                                                               : bench::Kind::kRegression,
                   static_cast<int>(nodes));
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() ? 0 : 1;
}
