// The name a document gives to an algorithm type code.
#pragma once

#include "version/arbtrexm_export.h"

namespace tree {

/// The usual name of an algorithm type code: "C&RT" for 0 and 1 (1: with priors), "CHAID" for
/// 2 and 3, "QUEST" for 4; null for any other code.
ARBTREXM_API const char* AlgorithmName(int type);

}  // namespace tree
