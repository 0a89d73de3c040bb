#include "cli/output_file.h"

#include <fcntl.h>
#include <signal.h>
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
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The file a path leads to once every symbolic link on its last component is followed; a link
// that leads nowhere gives the path of the file it would name.
std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0;; ++hops) {
    struct stat status;
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    if (hops == 40) throw OutputError(Failure(path, ELOOP));
    std::vector<char> target(static_cast<std::size_t>(status.st_size) + 256);
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0) throw OutputError(Failure(path, errno));
    const std::string link(target.data(), static_cast<std::size_t>(n));
    const std::size_t slash = current.rfind('/');
    current = link.front() == '/' || slash == std::string::npos
                  ? link
                  : current.substr(0, slash + 1) + link;
  }
}

// The temporary file that a signal must not leave behind. Set and cleared with the signals
// blocked; the handler reads only this pointer.
char* volatile g_temporary = nullptr;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

extern "C" void RemoveTemporaryAndExit(int signal) {
  // Only async-signal-safe calls: unlink(2) and _exit(2).
  if (char* path = g_temporary) ::unlink(path);
  ::_exit(128 + signal);
}

// Holds SIGINT, SIGTERM and SIGHUP back while the temporary file and the handler's record of
// it change together; a signal that arrives meanwhile is handled when they are consistent.
class BlockedSignals {
 public:
  BlockedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~BlockedSignals() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

 private:
  sigset_t previous_;
};

// With the signals blocked: the handler removes this file from now on.
void Watch(const std::string& temporary) {
  char* copy = new char[temporary.size() + 1];
  std::memcpy(copy, temporary.c_str(), temporary.size() + 1);
  g_temporary = copy;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RemoveTemporaryAndExit;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaddset(&action.sa_mask, s);
  for (std::size_t i = 0; i < 3; ++i) {
    ::sigaction(kSignals[i], nullptr, &g_previous[i]);
    // A signal the caller ignores (nohup ignores SIGHUP) stays ignored.
    if (g_previous[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
  }
}

// With the signals blocked: the file is gone or renamed; the signals act as before.
void Unwatch() {
  char* copy = g_temporary;
  g_temporary = nullptr;
  delete[] copy;
  for (std::size_t i = 0; i < 3; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
}

}  // namespace

OutputFile::OutputFile(const std::string& path) {
  if (path.empty() || path == "-") {
    name_ = "standard output";
    std::fflush(stdout);
    fd_ = STDOUT_FILENO;
    return;
  }
  name_ = path;
  struct stat existing;
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    throw OutputError("cannot write " + path + ": it is a directory");
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    // A device or a pipe (/dev/null, /dev/stdout) cannot be replaced: it gets the text as it
    // comes, opened through the path as given.
    fd_ = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) throw OutputError(Failure(path, errno));
    ownsFd_ = true;
    return;
  }
  target_ = FollowLinks(path);
  // The temporary file must sit in the target's directory so that rename(2) replaces atomically.
  std::string pattern = target_ + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  {
    BlockedSignals blocked;
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) throw OutputError(Failure(path, errno));
    ownsFd_ = true;
    temporary_ = name.data();
    Watch(temporary_);
  }
  // mkstemp creates the file 0600. A file that is replaced keeps its permission bits (and its
  // owner and group, where we may set them); a new one is as readable as any the user creates.
  mode_t mode;
  if (exists) {
    mode = existing.st_mode & 0777;
    if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
      if (::fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
        // Not ours to give away: the new file is the writer's, as any file it creates.
      }
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd_, mode) != 0) {
    const int error = errno;
    Discard();
    throw OutputError(Failure(path, error));
  }
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Write(const char* data, std::size_t size) {
  if (!WriteAll(fd_, data, size)) throw OutputError(Failure(name_, errno));
}

void OutputFile::Commit() {
  if (!ownsFd_) return;
  const int fd = fd_;
  fd_ = -1;
  ownsFd_ = false;
  if (::close(fd) != 0) {
    const int error = errno;
    Discard();
    throw OutputError(Failure(name_, error));
  }
  if (temporary_.empty()) return;
  BlockedSignals blocked;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    Discard();
    throw OutputError(Failure(name_, error));
  }
  temporary_.clear();
  Unwatch();
}

void OutputFile::Discard() {
  if (ownsFd_) {
    ::close(fd_);
    fd_ = -1;
    ownsFd_ = false;
  }
  if (temporary_.empty()) return;
  BlockedSignals blocked;
  ::unlink(temporary_.c_str());
  temporary_.clear();
  Unwatch();
}

void WriteOutput(const std::string& path, std::string_view text) {
  OutputFile output(path);
  output.Write(text.data(), text.size());
  output.Commit();
}

}  // namespace cli
