// SPDX-License-Identifier: MIT
#pragma once
// Running a command (the built pellora binary, an independent tool) from a test.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace pellora::testing_support {

struct CommandResult {
  int status;          // exit status, or -1 when the command did not exit normally
  std::string output;  // stdout (and stderr when the command line merges it)
};

// Runs `command` through the shell and collects its standard output.
inline CommandResult RunCommand(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {-1, {}};
  std::string out;
  std::array<char, 4096> buf;
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe)) out.append(buf.data(), n);
  const int raw = ::pclose(pipe);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out};
}

// Runs the built pellora binary with `args`, stderr merged into the output.
inline CommandResult RunPellora(const std::string& args) {
  return RunCommand(std::string(PELLORA_CLI) + " " + args + " 2>&1");
}

// Starts `args` (no shell) with its standard output on a pipe whose read end is
// `output`; its standard error is appended to `errors`, or stays the test's when
// empty. The process id, or -1 when it could not start.
inline pid_t SpawnReadingOutput(std::vector<std::string> args, int& output, const std::string& errors = "") {
  output = -1;
  int out[2];
  if (::pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  if (!errors.empty())
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  output = out[0];
  return pid;
}

// A command run in the background (no shell; its output goes to /dev/null),
// killed when the object goes if it is still running.
class Spawned {
 public:
  // `stop_signal` ends the command when the object goes; a name without a slash
  // is looked up in PATH.
  explicit Spawned(const std::vector<std::string>& args, int stop_signal = SIGKILL) : stop_signal_(stop_signal) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Spawned() {
    if (pid_ <= 0) return;
    ::kill(pid_, stop_signal_);
    ::waitpid(pid_, nullptr, 0);
  }
  Spawned(const Spawned&) = delete;
  Spawned& operator=(const Spawned&) = delete;

  bool Started() const { return pid_ > 0; }
  // Sends `signal_number` and waits for the end: the signal that ended the
  // process, 0 when it exited by itself, -1 when it could not be waited for.
  int Signal(int signal_number) {
    ::kill(pid_, signal_number);
    int raw = 0;
    const pid_t waited = ::waitpid(pid_, &raw, 0);
    pid_ = -1;
    if (waited <= 0) return -1;
    return WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
  }

 private:
  pid_t pid_ = -1;
  int stop_signal_;
};

}  // namespace pellora::testing_support
