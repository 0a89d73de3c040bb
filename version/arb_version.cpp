#include "version/arb_version.h"

#include <utility>

namespace ArbTree {

ArbVersion::~ArbVersion() = default;

ArbVersionImp::ArbVersionImp(int32_t major, int32_t minor, int32_t patch, int32_t build,
                             std::string dateTime)
    : major_(major), minor_(minor), patch_(patch), build_(build), dateTime_(std::move(dateTime)) {}

int ArbVersionImp::GetMajor() const { return major_; }
int ArbVersionImp::GetMinor() const { return minor_; }
int ArbVersionImp::GetPatch() const { return patch_; }
int ArbVersionImp::GetBuild() const { return build_; }
const char* ArbVersionImp::GetDateTime() const { return dateTime_.c_str(); }

const ArbVersion& LibraryVersion() {
  // A function-local static is initialised exactly once even when two threads arrive together,
  // and its destructor is registered for process or library exit.
  static const ArbVersionImp record(1, 0, 1, 6, "10/21/17 22:55:56");
  return record;
}

}  // namespace ArbTree
