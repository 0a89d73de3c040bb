// The pre-pass shared by both exporters: which codes and cut values the splits use.
#pragma once

#include <set>
#include <vector>

#include "arbtree/arb_status.h"
#include "arbtree/tree_algorithm_base.h"
#include "imported/metadata/model_metadata.h"
#include "version/arbtrexm_export.h"

namespace TreeOut {

/// One ascending set per predictor, in metadata order, then one for the target.
using SplitValueSets = std::vector<std::set<double>>;

/// Rebuilds valueSets; returns code 10004 / severity -1 for a model without a root node.
ARBTREXM_API ArbTree::ArbStatus CollectSplitValues(const tree::TreeAlgorithmBase& model,
                                                   const mdt::ModelMetadata* metadata,
                                                   SplitValueSets& valueSets);

}  // namespace TreeOut
