// Status record that the host's components return.
#pragma once

#include <cstdint>

namespace ArbTree {

/// Status of a host operation: severity negative or non-zero means failure, as each caller says.
struct ArbStatus {
  int32_t code = 0;      ///< what happened; 10004 = model without a root node
  int16_t severity = 0;  ///< 0 = success
  int32_t detail = 0;    ///< host-specific; no caller reads it
};

}  // namespace ArbTree
