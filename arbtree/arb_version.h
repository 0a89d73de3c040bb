// Version record shared by every component of the tree family.
#pragma once

#include <cstdint>
#include <string>

#include "version/arbtrexm_export.h"

namespace ArbTree {

/// Abstract version record: four numbers and a date-time text.
class ARBTREXM_API ArbVersion {
 public:
  virtual ~ArbVersion();
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
class ARBTREXM_API ArbVersionImp : public ArbVersion {
 public:
  ArbVersionImp(int32_t major, int32_t minor, int32_t patch, int32_t build, std::string dateTime);
  int GetMajor() const override;
  int GetMinor() const override;
  int GetPatch() const override;
  int GetBuild() const override;
  const char* GetDateTime() const override;

 private:
  int32_t major_;
  int32_t minor_;
  int32_t patch_;
  int32_t build_;
  std::string dateTime_;
};

/// This library's own record (1.0.1.6), created once on first use; thread-safe.
ARBTREXM_API const ArbVersion& LibraryVersion();

}  // namespace ArbTree
