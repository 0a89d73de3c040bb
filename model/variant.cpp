#include "model/variant.h"

#include <locale.h>

#include <clocale>
#include <cstdio>
#include <utility>

namespace mdt {

namespace {

// One C locale for the whole process, created on first use; uselocale installs it for the
// calling thread only, so the process locale and other threads are never touched.
locale_t CLocale() {
  static const locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
  return c_locale;
}

std::string NumberText(double number) {
  char buffer[32];  // "%.15g" needs at most 23 characters: sign, 15 digits, point, "e-308"
  const locale_t c_locale = CLocale();
  const locale_t previous = c_locale != static_cast<locale_t>(0) ? uselocale(c_locale) : nullptr;
  std::snprintf(buffer, sizeof buffer, "%.15g", number);
  if (previous != static_cast<locale_t>(0)) uselocale(previous);
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
