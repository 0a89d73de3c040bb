// Trees fitted by other software, read through the converters in tools/.
#pragma once

#include <stdexcept>
#include <string>

namespace cli {

/// A converter that could not be run or did not produce a model file.
class ConverterError : public std::runtime_error {
 public:
  explicit ConverterError(const std::string& message) : std::runtime_error(message) {}
};

/// The converter's program name for a --from kind ("sklearn" -> "sklearn2treexport").
std::string ConverterName(const std::string& kind);

/// Runs the converter for kind on path and returns the model file it writes to standard output.
/// Its messages reach our standard error as they are. The converters live in the directory named
/// by TREEXPORT_TOOLS_DIR, or by default in libexec/treexport beside the program's bin/ folder
/// (the build tree links that folder to the source tree's tools/).
std::string Convert(const std::string& kind, const std::string& path);

}  // namespace cli
