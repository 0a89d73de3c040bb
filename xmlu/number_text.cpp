#include "xmlu/number_text.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace xmlu {

namespace {

// One C locale for the whole process; uselocale installs it for the calling thread only.
locale_t CLocale() {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c_locale;
}

}  // namespace

char* FormatNumberTo(char* buffer, double value) {
  // Whole numbers below 10^15 in magnitude are what trees mostly hold (counts, ids, codes):
  // "%.15g" writes them as plain integers, which integer conversion does several times faster.
  // -0.0 must keep its sign ("-0"), so zero takes the general path.
  constexpr double kExactIntegers = 1e15;
  if (value > -kExactIntegers && value < kExactIntegers && value != 0) {
    const auto whole = static_cast<long long>(value);
    if (static_cast<double>(whole) == value) {
      return std::to_chars(buffer, buffer + kNumberTextSize, whole).ptr;
    }
  }
  if (std::isnan(value)) return std::copy_n("NaN", 3, buffer);
  if (std::isinf(value))
    return value > 0 ? std::copy_n("INF", 3, buffer) : std::copy_n("-INF", 4, buffer);
  // to_chars in general format with a precision is defined as printf's "%.*g" in the C locale,
  // without its locale lookup.
  return std::to_chars(buffer, buffer + kNumberTextSize, value, std::chars_format::general, 15).ptr;
}

std::string FormatNumber(double value) {
  char buffer[kNumberTextSize];
  return std::string(buffer, FormatNumberTo(buffer, value));
}

char* FormatShortestTo(char* buffer, double value) {
  if (std::isnan(value)) return std::copy_n("NaN", 3, buffer);
  if (std::isinf(value))
    return value > 0 ? std::copy_n("INF", 3, buffer) : std::copy_n("-INF", 4, buffer);
  // The shortest round-trip text of a double needs at most 24 characters
  // ("-2.2250738585072014e-308").
  return std::to_chars(buffer, buffer + kNumberTextSize, value).ptr;
}

std::string FormatShortest(double value) {
  char buffer[kNumberTextSize];
  return std::string(buffer, FormatShortestTo(buffer, value));
}

std::string FormatInCLocale(const char* format, double value) {
  // Most texts fit the stack buffer; a longer one ("%.3f" of 1e300 has 305 characters) is
  // formatted a second time into a string of its exact size, under the same locale.
  char buffer[64];
  std::string text;
  const locale_t c_locale = CLocale();
  const locale_t previous = c_locale != static_cast<locale_t>(0) ? uselocale(c_locale) : nullptr;
  int n = std::snprintf(buffer, sizeof buffer, format, value);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof buffer) {
    text.assign(buffer, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    text.resize(static_cast<std::size_t>(n));
    n = std::snprintf(&text[0], text.size() + 1, format, value);
  }
  if (previous != static_cast<locale_t>(0)) uselocale(previous);
  if (n < 0) return std::string();
  return text;
}

}  // namespace xmlu
