// Where a command's document goes: standard output, or a file replaced only when all is written.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "xmlu/text_sink.h"

namespace cli {

/// A document that could not be put where it was asked to go; the message names the path.
class OutputError : public std::runtime_error {
 public:
  explicit OutputError(const std::string& message) : std::runtime_error(message) {}
};

/// A document being written as it is produced. Standard output gets the text as it comes. A
/// file path gets it in a temporary file beside the file it names (beside the file a symbolic
/// link leads to, which is what gets replaced), renamed over it by Commit, so a failure leaves an
/// existing file as it was; the file keeps its permission bits, a new one gets 0666 under the
/// umask. A path that names something other than a regular file (a device, a pipe) is written
/// directly. While the temporary file exists, SIGINT, SIGTERM and SIGHUP remove it and end the
/// process with status 128 + the signal's number; one such file at a time per process.
class OutputFile final : public xmlu::TextSink {
 public:
  /// path empty or "-" means standard output. Throws OutputError when the file cannot be made.
  explicit OutputFile(const std::string& path);
  /// Without Commit, removes the temporary file.
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Throws OutputError naming the path when the text cannot be written.
  void Write(const char* data, std::size_t size) override;
  /// The document is complete: puts the file in place.
  void Commit();
  /// Where the text goes, as the user named it, for messages.
  const std::string& Name() const { return name_; }

 private:
  void Discard();

  std::string name_;
  std::string target_;     // the file to replace, symbolic links followed
  std::string temporary_;  // empty when writing directly
  int fd_ = -1;
  bool ownsFd_ = false;
};

/// Writes text to path, or to standard output when path is empty or "-", as OutputFile does.
void WriteOutput(const std::string& path, std::string_view text);

}  // namespace cli
