// Where a document's text goes when it is handed on in pieces rather than as one block.
#pragma once

#include <cstddef>

#include "version/arbtrexm_export.h"

namespace xmlu {

/// Receives a document's text in order, in pieces; the caller discards what it got if the export
/// throws.
class ARBTREXM_API TextSink {
 public:
  virtual ~TextSink() = default;
  /// Takes the next size bytes of the text; may throw, and the export then stops with that
  /// exception.
  virtual void Write(const char* data, std::size_t size) = 0;
};

}  // namespace xmlu
