// Runs the treexport command in a child process and collects what it says.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct CommandResult {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  std::string out;
  std::string err;
};

/// Runs program with args; stdin_text is fed to its standard input.
CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::string& stdin_text = "");

/// A fresh empty directory under the system's temporary directory, removed with its contents
/// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// The whole content of a file; throws when it cannot be read.
std::string ReadFile(const std::string& path);
/// Writes text to a file; throws when it cannot be written.
void WriteFile(const std::string& path, const std::string& text);
/// The names in a directory, sorted.
std::vector<std::string> Listing(const std::string& dir);
/// Expects the exit status, nothing on standard output and each text in the error message.
void ExpectFailure(const CommandResult& result, int status, const std::vector<std::string>& texts);

}  // namespace testing_support
