#include "model/alg_settings.h"

#include <utility>

namespace tree {

const char* AlgorithmName(int type) {
  switch (type) {
    case 0:
    case 1:
      return "C&RT";
    case 2:
    case 3:
      return "CHAID";
    case 4:
      return "QUEST";
    default:
      return nullptr;
  }
}

Priors::~Priors() = default;

PriorsImp::PriorsImp(std::vector<double> values) : values_(std::move(values)) {}

PriorsImp::~PriorsImp() = default;

int PriorsImp::GetNumberOfPriors() const { return static_cast<int>(values_.size()); }

double PriorsImp::GetPrior(int code) const {
  if (code < 0 || code >= GetNumberOfPriors()) return 0.0;
  return values_[static_cast<size_t>(code)];
}

}  // namespace tree
