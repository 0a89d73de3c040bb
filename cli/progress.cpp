#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli/size_estimate.h"

namespace cli {

namespace {

constexpr std::chrono::seconds kQuietFor{2};
constexpr std::chrono::milliseconds kEvery{250};

}  // namespace

ProgressSink::ProgressSink(xmlu::TextSink& out, std::string name, std::uint64_t estimate,
                           bool toStandardOutput)
    : out_(out),
      name_(std::move(name)),
      estimate_(std::max<std::uint64_t>(estimate, 1)),
      terminal_(::isatty(STDERR_FILENO) == 1 &&
                !(toStandardOutput && ::isatty(STDOUT_FILENO) == 1)),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

ProgressSink::~ProgressSink() {
  if (shown_) std::fputs("\r\033[K", stderr);
}

void ProgressSink::Write(const char* data, std::size_t size) {
  out_.Write(data, size);
  written_ += size;
  if (!terminal_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kQuietFor || (shown_ && now - last_ < kEvery)) return;
  Show(now);
}

void ProgressSink::Show(std::chrono::steady_clock::time_point now) {
  // The estimate errs on the high side; the line never claims to be done before it is.
  const std::uint64_t percent = std::min<std::uint64_t>(99, written_ * 100 / estimate_);
  std::fprintf(stderr, "\r\033[Ktreexport: writing %s: %u%% (%s of about %s)", name_.c_str(),
               static_cast<unsigned>(percent), FormatSize(written_).c_str(),
               FormatSize(estimate_).c_str());
  std::fflush(stderr);
  shown_ = true;
  last_ = now;
}

}  // namespace cli
