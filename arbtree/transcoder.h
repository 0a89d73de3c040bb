// Host-supplied conversion of a finished PMML document.
#pragma once

#include <string>

#include "arbtree/arbtree_export.h"

namespace ArbTree {

/// Converts the serialised document (process code page) into the bytes to put on the stream.
class ARBTREE_API Transcoder {
 public:
  virtual ~Transcoder() = default;
  /// Fills out with the converted bytes of in; the result is not consulted by the exporter.
  virtual int Transcode(const std::string& in, std::string& out) const = 0;
};

}  // namespace ArbTree
