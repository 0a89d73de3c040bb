#include "model/variant.h"

#include <locale.h>

#include <clocale>
#include <cstdio>
#include <utility>

namespace mdt {

namespace {

// Formats under a thread-local C locale so that another thread's or the process's locale never
// changes the decimal point.
std::string NumberText(double number) {
  char buffer[32];  // "%.15g" needs at most 24 characters including the sign and exponent
  locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
  locale_t previous = static_cast<locale_t>(0);
  if (c_locale != static_cast<locale_t>(0)) previous = uselocale(c_locale);
  std::snprintf(buffer, sizeof buffer, "%.15g", number);
  if (c_locale != static_cast<locale_t>(0)) {
    uselocale(previous);
    freelocale(c_locale);
  }
  return buffer;
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
