// The one exception the tree XML exporter throws of its own.
#pragma once

#include <stdexcept>
#include <string>

#include "version/arbtrexm_export.h"

namespace TreeOut {

/// Input the tree XML document cannot be built from; the message names the place and the
/// problem, e.g. "tree XML export: node 12: surrogate 1: predictor index 7 is outside the 3
/// predictors". Thrown before anything reaches the stream.
class ARBTREXM_API XMLExportError : public std::runtime_error {
 public:
  explicit XMLExportError(const std::string& message);
  ~XMLExportError() override;
};

}  // namespace TreeOut
