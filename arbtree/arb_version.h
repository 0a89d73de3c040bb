// Version record shared by every component of the tree family.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "arbtree/arbtree_export.h"

namespace ArbTree {

/// Abstract version record: four numbers and a date-time text.
class ARBTREE_API ArbVersion {
 public:
  virtual ~ArbVersion() = default;
  /// Major version number.
  virtual int GetMajor() const = 0;
  /// Minor version number.
  virtual int GetMinor() const = 0;
  /// Third version number.
  virtual int GetPatch() const = 0;
  /// Fourth version number.
  virtual int GetBuild() const = 0;
  /// Date and time text; valid as long as the record lives.
  virtual const char* GetDateTime() const = 0;
};

/// The concrete record: holds its five fields.
class ARBTREE_API ArbVersionImp : public ArbVersion {
 public:
  ArbVersionImp(int32_t major, int32_t minor, int32_t patch, int32_t build, std::string dateTime)
      : major_(major),
        minor_(minor),
        patch_(patch),
        build_(build),
        dateTime_(std::move(dateTime)) {}
  int GetMajor() const override { return major_; }
  int GetMinor() const override { return minor_; }
  int GetPatch() const override { return patch_; }
  int GetBuild() const override { return build_; }
  const char* GetDateTime() const override { return dateTime_.c_str(); }

 private:
  int32_t major_;
  int32_t minor_;
  int32_t patch_;
  int32_t build_;
  std::string dateTime_;
};

}  // namespace ArbTree
