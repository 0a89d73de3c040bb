#include "cli/converter.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace cli {

namespace {

// The folder of this program's own file, from /proc/self/exe; empty when it cannot be read.
std::string ProgramDir() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < buffer.size()) {
      const std::string path(buffer.data(), static_cast<std::size_t>(n));
      return path.substr(0, path.rfind('/'));
    }
    buffer.resize(buffer.size() * 2);
  }
}

// TREEXPORT_TOOLS_DIR when set; otherwise the converters' folder relative to this program, where
// both the installation (bin/ beside libexec/treexport/) and the build tree put it.
std::string ToolsDir() {
  const char* dir = std::getenv("TREEXPORT_TOOLS_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  return ProgramDir() + "/" + TREEXPORT_TOOLS_RELATIVE_DIR;
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

}  // namespace

std::string ConverterName(const std::string& kind) { return kind + "2treexport"; }

std::string Convert(const std::string& kind, const std::string& path) {
  const std::string program = ToolsDir() + "/" + ConverterName(kind);
  int fds[2];
  if (pipe(fds) != 0)
    throw ConverterError(std::string("cannot run ") + program + ": " + std::strerror(errno));
  Descriptor readEnd(fds[0]), writeEnd(fds[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, readEnd.get());
  // After "--", a path that starts with "-" is still the model and never an option.
  static char separator[] = "--";
  std::vector<char*> argv{const_cast<char*>(program.c_str()), separator,
                          const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw ConverterError("cannot run " + program + ": " + std::strerror(spawned) +
                         " (set TREEXPORT_TOOLS_DIR to the folder of the converters)");
  }
  writeEnd.Close();

  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(readEnd.get(), buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    const std::string how = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                              : std::string("a signal");
    throw ConverterError(ConverterName(kind) + " could not convert " + path + " (" + how + ")");
  }
  return text;
}

}  // namespace cli
