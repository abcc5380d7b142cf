// SPDX-License-Identifier: MIT
#include "hosting/open_url.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace pellora::hosting {
namespace {

bool IsAcceptableAddress(const std::string& address) {
  return !address.empty() && address.front() != '-' &&
         address.find('\0') == std::string::npos;
}

// Waits for `child`, retrying when a signal interrupts the wait.
int WaitForExit(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool LaunchOpener(const std::string& program, const std::string& address) {
  if (program.empty() || !IsAcceptableAddress(address)) return false;
  // posix_spawnp takes non-const argv; the strings outlive the call.
  std::string program_arg = program;
  std::string address_arg = address;
  char* argv[] = {program_arg.data(), address_arg.data(), nullptr};
  pid_t child = 0;
  if (::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0)
    return false;
  return WaitForExit(child) == 0;
}

bool OpenUrlInBrowser(const std::string& address) { return LaunchOpener("xdg-open", address); }

}  // namespace pellora::hosting
