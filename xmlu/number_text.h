// The one way real numbers become text in both documents.
#pragma once

#include <cstddef>
#include <string>

#include "version/arbtrexm_export.h"

namespace xmlu {

/// Room FormatNumberTo needs: the longest "%.15g" text is 22 characters
/// ("-1.23456789012345e-308").
inline constexpr std::size_t kNumberTextSize = 32;

/// "%.15g" text with "." as the decimal point whatever the locale; exponents as the C library
/// writes them ("1e+20"); the XML Schema texts "INF", "-INF" and "NaN" for non-finite values.
/// Never touches the process locale, so it is safe on any number of threads.
ARBTREXM_API std::string FormatNumber(double value);

/// The text of FormatNumber(value), written to buffer (at least kNumberTextSize bytes) without
/// a terminator and without allocating; returns the end of the text.
ARBTREXM_API char* FormatNumberTo(char* buffer, double value);

/// The shortest text that reads back to the same double (std::to_chars without a precision),
/// "." as the decimal point, and "INF", "-INF", "NaN" as FormatNumber writes them. Used where a
/// document promises that every number round-trips.
ARBTREXM_API std::string FormatShortest(double value);

/// The text of FormatShortest(value), written to buffer (at least kNumberTextSize bytes) without
/// a terminator and without allocating; returns the end of the text.
ARBTREXM_API char* FormatShortestTo(char* buffer, double value);

/// snprintf of one double with format, under the "C" locale for the calling thread only. The
/// text is cut at 63 bytes.
ARBTREXM_API std::string FormatInCLocale(const char* format, double value);

}  // namespace xmlu
