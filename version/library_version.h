// The export library's own version record.
#pragma once

#include "arbtree/arb_version.h"
#include "version/arbtrexm_export.h"

namespace ArbTree {

/// This library's own record (1.0.1.6), created once on first use; thread-safe.
ARBTREXM_API const ArbVersion& LibraryVersion();

}  // namespace ArbTree
