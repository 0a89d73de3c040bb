// The importance of one predictor in a fitted tree.
#pragma once

#include "host/importance/arbtrepi_export.h"

namespace TreeOut {

/// One predictor's share of the tree's split improvement; owned by the PredictorRank.
class ARBTREPI_API PredictorImportance {
 public:
  /// Index into the metadata's predictor list.
  virtual unsigned GetPredictorIndex() const = 0;
  /// Normalised importance, 0 to 1.
  virtual double GetImportance() const = 0;
  virtual ~PredictorImportance();
};

}  // namespace TreeOut
