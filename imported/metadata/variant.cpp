#include "model/variant.h"

#include <utility>

#include "xmlu/number_text.h"

namespace mdt {

Variant::Variant() : type_(NONE), number_(0.0) {}

Variant::Variant(double number)
    : type_(NUMBER), number_(number), text_(xmlu::FormatNumber(number)) {}

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
