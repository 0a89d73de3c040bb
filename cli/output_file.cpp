#include "cli/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace cli {

namespace {

std::string Failure(const std::string& path, int error) {
  return "cannot write " + path + ": " + std::strerror(error);
}

// write(2) may take less than it is given; a short write is not a failure.
bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

void WriteOutput(const std::string& path, std::string_view text) {
  if (path.empty() || path == "-") {
    std::fflush(stdout);
    if (!WriteAll(STDOUT_FILENO, text)) throw OutputError(Failure("standard output", errno));
    return;
  }
  struct stat target;
  if (::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
    throw OutputError("cannot write " + path + ": it is a directory");
  }
  // The temporary file must sit in the target's directory so that rename(2) replaces atomically.
  std::string pattern = path + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) throw OutputError(Failure(path, errno));
  std::string temporary(name.data());
  auto discard = [&](int error) {
    ::unlink(temporary.c_str());
    throw OutputError(Failure(path, error));
  };
  // mkstemp creates the file 0600; a document is as readable as any file the user creates.
  mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd, 0666 & ~mask) != 0) {
    int error = errno;
    ::close(fd);
    discard(error);
  }
  if (!WriteAll(fd, text)) {
    int error = errno;
    ::close(fd);
    discard(error);
  }
  if (::close(fd) != 0) discard(errno);
  if (::rename(temporary.c_str(), path.c_str()) != 0) discard(errno);
}

}  // namespace cli
