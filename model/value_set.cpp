#include "model/value_set.h"

namespace tree {

ValueSet::~ValueSet() = default;

}  // namespace tree
