// A progress line on standard error for an export that takes a while.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "xmlu/text_sink.h"

namespace cli {

/// Passes the text on to out and counts it. When standard error is a terminal (and the document
/// is not going to that terminal's standard output) and the export has run for about two
/// seconds, it shows and updates "treexport: writing NAME: 42% (...)" on one line, from the
/// bytes so far against the estimated size; otherwise it never writes a byte.
class ProgressSink final : public xmlu::TextSink {
 public:
  /// toStandardOutput: out is standard output.
  ProgressSink(xmlu::TextSink& out, std::string name, std::uint64_t estimate,
               bool toStandardOutput);
  /// Clears the line if one is shown.
  ~ProgressSink() override;
  ProgressSink(const ProgressSink&) = delete;
  ProgressSink& operator=(const ProgressSink&) = delete;
  void Write(const char* data, std::size_t size) override;

 private:
  void Show(std::chrono::steady_clock::time_point now);

  xmlu::TextSink& out_;
  std::string name_;
  std::uint64_t estimate_;
  std::uint64_t written_ = 0;
  bool terminal_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace cli
