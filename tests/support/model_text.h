// Model file texts that several test suites build on.
#pragma once

#include <string>

namespace testing_support {

/// A regression model whose depth nodes form a chain: node i (id i, 1 record, mean i) has node
/// i + 1 as its only child, which takes x >= 0.
std::string ChainModel(int depth, int algorithm = 0);

/// text with the first occurrence of from replaced by to; a from that does not occur fails the
/// current test, so a model edit that no longer applies is noticed.
std::string With(std::string text, const std::string& from, const std::string& to);

}  // namespace testing_support
