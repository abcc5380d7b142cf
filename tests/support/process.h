#pragma once
// Running a command (the built pellora binary, an independent tool) from a test.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

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

}  // namespace pellora::testing_support
