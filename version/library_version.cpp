#include "version/library_version.h"

namespace ArbTree {

const ArbVersion& LibraryVersion() {
  // A function-local static is initialised exactly once even when two threads arrive together,
  // and its destructor is registered for process or library exit.
  static const ArbVersionImp record(1, 0, 1, 6, "10/21/17 22:55:56");
  return record;
}

}  // namespace ArbTree
