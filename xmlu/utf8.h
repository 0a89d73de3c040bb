// Conversion of the finished document from the process's narrow character set to UTF-8.
#pragma once

#include <string>

#include "version/arbtrexm_export.h"

namespace xmlu {

/// The text, read in the character set of the current LC_CTYPE locale (the "C"/"POSIX" locale
/// counts as UTF-8), encoded as UTF-8. Text that is already UTF-8 in a UTF-8 locale comes back
/// unchanged; every invalid sequence becomes U+FFFD and the conversion goes on.
ARBTREXM_API std::string ToUtf8(const std::string& text);

/// The same conversion without a copy when none is needed: text itself when it is already valid
/// UTF-8 in a UTF-8 (or "C") locale, otherwise the converted text, kept in `converted`.
ARBTREXM_API const std::string& ToUtf8(const std::string& text, std::string& converted);

}  // namespace xmlu
