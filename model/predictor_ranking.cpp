#include "model/predictor_ranking.h"

#include <atomic>

namespace TreeOut {

namespace {

std::atomic<PredictorRankingFactory>& Factory() {
  static std::atomic<PredictorRankingFactory> factory{nullptr};
  return factory;
}

}  // namespace

PredictorImportance::~PredictorImportance() = default;

CartPredictorImportanceSettings::CartPredictorImportanceSettings(double surrogateWeight)
    : surrogateWeight_(surrogateWeight) {}

double CartPredictorImportanceSettings::GetSurrogateWeight() const { return surrogateWeight_; }

PredictorRanking::~PredictorRanking() = default;

void SetPredictorRankingFactory(PredictorRankingFactory factory) { Factory().store(factory); }

std::unique_ptr<PredictorRanking> CreatePredictorRanking() {
  const PredictorRankingFactory factory = Factory().load();
  return factory != nullptr ? factory() : nullptr;
}

}  // namespace TreeOut
