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

// Powers of ten up to the most decimals the short-decimal path tries; every one is exact.
constexpr double kPowersOfTen[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
constexpr int kMaxShortDecimals = 7;

// "%.15g" of a value that is the double nearest to a decimal of few digits (cut values, halves,
// means of round data), or null when it is not one. A decimal of at most 15 significant digits
// comes back unchanged from its nearest double when printed to 15 digits, so such a value
// prints as that decimal, in fixed notation from 10^-4 on. The decimal is n / 10^k for the
// first k at which value * 10^k rounds to an n whose quotient n / 10^k (a correctly rounded
// division of exact operands) is value again.
char* ShortDecimalTo(char* buffer, double value) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-4 && magnitude < 1e14)) return nullptr;
  for (int k = 1; k <= kMaxShortDecimals; ++k) {
    const double product = magnitude * kPowersOfTen[k];
    if (product >= 1e15) return nullptr;
    // Any whole number near the product will do as the candidate, since the division checks
    // it: truncation after adding a half needs no call into the maths library.
    const auto n = static_cast<long long>(product + 0.5);
    const auto scaled = static_cast<double>(n);
    if (scaled / kPowersOfTen[k] != magnitude) continue;
    if (k > 4 && scaled < kPowersOfTen[k - 4]) return nullptr;  // the decimal is below 10^-4
    char digits[20];
    char* end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    const int count = static_cast<int>(end - digits);
    // The first k that fits leaves no trailing zero, but stripping keeps that from mattering.
    int decimals = k;
    while (decimals > 0 && end[-1] == '0') {
      --end;
      --decimals;
    }
    char* out = buffer;
    if (value < 0) *out++ = '-';
    const int whole = count - k;
    if (whole > 0) {
      out = std::copy_n(digits, whole, out);
    } else {
      *out++ = '0';
    }
    if (decimals > 0) {
      *out++ = '.';
      for (int i = whole; i < 0; ++i) *out++ = '0';
      char* fraction = digits + (whole > 0 ? whole : 0);
      out = std::copy(fraction, end, out);
    }
    return out;
  }
  return nullptr;
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
  if (char* end = ShortDecimalTo(buffer, value)) return end;
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
