#include "model/algorithm_name.h"

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

}  // namespace tree
