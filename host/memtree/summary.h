// A one-screen text description of a loaded model.
#pragma once

#include <string>

#include "host/memtree/mem_tree.h"
#include "imported/metadata/model_metadata.h"

namespace memtree {

/// Algorithm, function, target, predictors, weights, node count, depth, leaves, samples and risk,
/// one topic per line; long predictor lists are cut after the first 12 names.
std::string Summarize(const MemTree& tree, const mdt::ModelMetadata& metadata);

}  // namespace memtree
