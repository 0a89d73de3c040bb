#include "tests/support/run_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testing_support {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("RunCommand: ") + what + " failed");
}

}  // namespace

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::string& stdin_text) {
  int in[2], out[2], err[2];
  Check(pipe(in) == 0 && pipe(out) == 0 && pipe(err) == 0, "pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  Check(rc == 0, "posix_spawn");

  // Feed and drain together: a child that writes much before reading would otherwise block.
  CommandResult result;
  std::size_t fed = 0;
  if (stdin_text.empty()) close(in[1]);
  bool inOpen = !stdin_text.empty(), outOpen = true, errOpen = true;
  while (inOpen || outOpen || errOpen) {
    std::vector<pollfd> fds;
    if (inOpen) fds.push_back({in[1], POLLOUT, 0});
    if (outOpen) fds.push_back({out[0], POLLIN, 0});
    if (errOpen) fds.push_back({err[0], POLLIN, 0});
    Check(poll(fds.data(), fds.size(), -1) >= 0, "poll");
    for (const pollfd& p : fds) {
      if (p.revents == 0) continue;
      if (p.fd == in[1]) {
        ssize_t n = write(in[1], stdin_text.data() + fed, stdin_text.size() - fed);
        if (n > 0) fed += static_cast<std::size_t>(n);
        if (n < 0 || fed == stdin_text.size()) {
          close(in[1]);
          inOpen = false;
        }
        continue;
      }
      char buffer[65536];
      ssize_t n = read(p.fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(p.fd);
        (p.fd == out[0] ? outOpen : errOpen) = false;
      } else {
        (p.fd == out[0] ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  int status = 0;
  Check(waitpid(pid, &status, 0) == pid, "waitpid");
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "treexport-test-XXXXXX").string();
  Check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void ExpectFailure(const CommandResult& result, int status, const std::vector<std::string>& texts) {
  EXPECT_EQ(result.status, status) << result.err;
  EXPECT_EQ(result.out, "");
  for (const std::string& text : texts) {
    EXPECT_NE(result.err.find(text), std::string::npos) << text << "\n" << result.err;
  }
}

}  // namespace testing_support
