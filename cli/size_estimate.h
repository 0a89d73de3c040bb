// What a document will cost before it is written: its size from the shape of the tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/memtree/model_file.h"

namespace cli {

/// Estimated sizes of both documents of a model, in bytes, and the facts they come from.
struct SizeEstimate {
  std::uint64_t pmml = 0;
  std::uint64_t treeXml = 0;
  std::uint64_t nodes = 0;
  /// Edges on the longest path from the root to a leaf.
  std::uint64_t depth = 0;
};

/// Counts the lines each node's elements take and the tabs that indent them (one per level of
/// nesting, so a deep tree's document grows with the square of its depth), and adds a
/// conservative width for the text on each line. Meant to err on the high side, by some tens of
/// percent at most on trees big enough to matter (more for the portable PMML profile, whose
/// predicates depend on what each rule leaves out); linear in the size of the tree.
SizeEstimate EstimateSize(const memtree::Model& model, int sample, bool portable = false);

/// "512M", "8G", "1.5G", "100k", "4096": bytes, with binary K, M, G, T multiples (an optional
/// trailing "B" or "iB" is allowed). Nothing when the text is not such a size.
std::optional<std::uint64_t> ParseSize(const std::string& text);

/// A size for people: "812 bytes", "3.4 MB", "9.1 GB" (decimal units, one decimal).
std::string FormatSize(std::uint64_t bytes);

}  // namespace cli
