// A field value as the metadata holds it: a number, a text or no value.
#pragma once

#include <string>

#include "imported/metadata/arbtremd_export.h"

namespace mdt {

/// A number, a text, or no value.
class ARBTREMD_API Variant {
 public:
  enum VarType : int { TEXT = 0, NUMBER = 1, NONE = 3 };
  /// No value.
  Variant();
  /// A number.
  explicit Variant(double number);
  /// A text.
  explicit Variant(std::string text);
  Variant(const Variant& other);
  Variant& operator=(const Variant& other);
  virtual ~Variant();

  VarType GetType() const;
  /// The number; 0 for a text or no value.
  explicit operator double() const;
  /// The text; a number's "%.15g" text, empty for no value.
  explicit operator const char*() const;
  bool operator==(const Variant& other) const;

 private:
  VarType type_;
  double number_;
  std::string text_;  // also the number's text, so the const char* conversion is cheap
};

}  // namespace mdt
