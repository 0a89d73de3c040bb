// Shortest round-trip text of a double, independent of the locale.
#pragma once

#include <charconv>
#include <cmath>
#include <string>

namespace memtree::detail {

/// Appends the shortest text that reads back as value; "NaN", "Infinity", "-Infinity" otherwise.
inline void AppendNumber(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
    return;
  }
  if (std::isinf(value)) {
    out += value > 0 ? "Infinity" : "-Infinity";
    return;
  }
  char buffer[32];  // the shortest form of a double takes at most 24 characters
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

inline std::string NumberText(double value) {
  std::string out;
  AppendNumber(out, value);
  return out;
}

}  // namespace memtree::detail
