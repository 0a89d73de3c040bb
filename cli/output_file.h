// Where a command's document goes: standard output, or a file replaced only when all is written.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace cli {

/// A document that could not be put where it was asked to go; the message names the path.
class OutputError : public std::runtime_error {
 public:
  explicit OutputError(const std::string& message) : std::runtime_error(message) {}
};

/// Writes text to path, or to standard output when path is empty or "-". A file is written beside
/// its final name and renamed over it once complete, so a failure leaves an existing file as it
/// was.
void WriteOutput(const std::string& path, std::string_view text);

}  // namespace cli
