// Conversion of the finished document from the process's narrow character set to UTF-8.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "version/arbtrexm_export.h"
#include "xmlu/text_sink.h"

namespace xmlu {

/// The text, read in the character set of the current LC_CTYPE locale (the "C"/"POSIX" locale
/// counts as UTF-8), encoded as UTF-8. Text that is already UTF-8 in a UTF-8 locale comes back
/// unchanged; every invalid sequence becomes U+FFFD and the conversion goes on.
ARBTREXM_API std::string ToUtf8(const std::string& text);

/// The same conversion without a copy when none is needed: text itself when it is already valid
/// UTF-8 in a UTF-8 (or "C") locale, otherwise the converted text, kept in `converted`.
ARBTREXM_API const std::string& ToUtf8(const std::string& text, std::string& converted);

/// The same conversion for text that comes in pieces: each piece is converted and handed on to
/// out as it arrives, and the bytes out gets in all are those ToUtf8 gives for the whole text.
/// A multibyte sequence cut by a piece's end is held back until the next piece completes it.
/// The character set is that of LC_CTYPE when the object is made.
class ARBTREXM_API Utf8Sink final : public TextSink {
 public:
  explicit Utf8Sink(TextSink& out);
  ~Utf8Sink() override;
  Utf8Sink(const Utf8Sink&) = delete;
  Utf8Sink& operator=(const Utf8Sink&) = delete;
  /// Converts what can be converted of the text so far and hands it on.
  void Write(const char* data, std::size_t size) override;
  /// The text is complete: converts what was held back, as ToUtf8 treats a cut-off end.
  void Finish();

  class Converter;  // the iconv state, for a character set other than UTF-8 (utf8.cpp)

 private:
  // Converts [data, data + size); returns how many bytes were used, the rest being the start of
  // a sequence that the next piece may complete (all are used when last).
  std::size_t Convert(const char* data, std::size_t size, bool last);

  TextSink& out_;
  std::unique_ptr<Converter> converter_;  // null when the character set is UTF-8
  std::string held_;                      // the cut-off sequence, at most a few bytes
  std::string scratch_;
};

}  // namespace xmlu
