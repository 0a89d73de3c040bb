#include "cli/converter.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
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

// The first executable file of that name in a PATH folder.
std::optional<std::string> OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  const std::string folders = path;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::string folder = end > start ? folders.substr(start, end - start) : ".";
    const std::string candidate = folder + "/" + name;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (end == folders.size()) return std::nullopt;
    start = end + 1;
  }
}

}  // namespace

std::string ConverterName(const std::string& kind) { return kind + "2treexport"; }

std::string Interpreter(const std::string& kind) {
  const bool python = kind == "sklearn";
  const char* variable = python ? "TREEXPORT_PYTHON" : "TREEXPORT_RSCRIPT";
  const std::string name = python ? "python3" : "Rscript";
  const char* chosen = std::getenv(variable);
  if (chosen != nullptr && *chosen != '\0') {
    const std::string program = chosen;
    return program.find('/') == std::string::npos ? OnPath(program).value_or(program) : program;
  }
  return OnPath(name).value_or("/usr/bin/" + name);
}

std::string Convert(const std::string& kind, const std::string& path,
                    const ConverterOptions& options) {
  const std::string interpreter = Interpreter(kind);
  const std::string script = ToolsDir() + "/" + ConverterName(kind);
  const std::string variable = kind == "sklearn" ? "TREEXPORT_PYTHON" : "TREEXPORT_RSCRIPT";
  if (access(script.c_str(), R_OK) != 0) {
    throw ConverterError("cannot read the converter " + script + ": " + std::strerror(errno) +
                         " (set TREEXPORT_TOOLS_DIR to the folder of the converters)");
  }
  std::vector<std::string> args{interpreter, script};
  if (options.featureNames) args.insert(args.end(), {"--feature-names", *options.featureNames});
  if (options.targetName) args.insert(args.end(), {"--target-name", *options.targetName});
  if (options.portable) args.push_back("--portable");
  // After "--", a path that starts with a dash is still the model and never an option; "-"
  // stays standard input.
  args.push_back("--");
  args.push_back(path);

  int fds[2];
  if (pipe(fds) != 0)
    throw ConverterError(std::string("cannot run ") + interpreter + ": " + std::strerror(errno));
  Descriptor readEnd(fds[0]), writeEnd(fds[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, readEnd.get());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, interpreter.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw ConverterError("cannot run " + interpreter + " for " + ConverterName(kind) + ": " +
                         std::strerror(spawned) + " (name the interpreter in " + variable + ")");
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
    throw ConverterError(ConverterName(kind) + ", run by " + interpreter + ", could not convert " +
                         (path == "-" ? std::string("standard input") : path) + " (" + how + "; " +
                         variable + " names another interpreter)");
  }
  return text;
}

}  // namespace cli
