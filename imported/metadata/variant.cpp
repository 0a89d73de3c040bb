#include "imported/metadata/variant.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace mdt {

namespace {

// "%.15g" in the C locale, with the schema's texts for the non-finite values: the text the
// export library writes for numbers (this library sits below it and keeps its own copy).
std::string NumberText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buffer[32];  // the longest "%.15g" text is "-1.23456789012345e-308"
  const std::to_chars_result r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  return std::string(buffer, r.ptr);
}

}  // namespace

Variant::Variant() : type_(NONE), number_(0.0) {}

Variant::Variant(double number) : type_(NUMBER), number_(number), text_(NumberText(number)) {}

Variant::Variant(std::string text) : type_(TEXT), number_(0.0), text_(std::move(text)) {}

Variant::Variant(const Variant& other) = default;

Variant& Variant::operator=(const Variant& other) = default;

Variant::~Variant() = default;

Variant::VarType Variant::GetType() const { return type_; }

Variant::operator double() const { return type_ == NUMBER ? number_ : 0.0; }

Variant::operator const char*() const { return text_.c_str(); }

bool Variant::operator==(const Variant& other) const {
  if (type_ != other.type_) return false;
  if (type_ == NUMBER) return number_ == other.number_;
  return text_ == other.text_;
}

}  // namespace mdt
