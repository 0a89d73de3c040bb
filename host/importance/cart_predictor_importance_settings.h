// How surrogate splits weigh in the importance of a predictor.
#pragma once

#include "host/importance/arbtrepi_export.h"

namespace TreeOut {

/// Settings of the importance computation.
class ARBTREPI_API CartPredictorImportanceSettings {
 public:
  /// surrogateWeight multiplies the improvement of every surrogate split.
  explicit CartPredictorImportanceSettings(double surrogateWeight);
  /// The weight of surrogate improvements.
  double GetSurrogateWeight() const;

 private:
  double surrogateWeight_;
};

}  // namespace TreeOut
