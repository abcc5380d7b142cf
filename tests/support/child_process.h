// SPDX-License-Identifier: MIT
#pragma once
// A server a test starts (stunnel, nginx ...): spawned with its output discarded,
// ended with SIGTERM when the object goes. `WaitForPort` waits until it listens.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_port.h"
#include "tests/support/process.h"

namespace pellora::testing_support {

// A server ends by SIGTERM, so that it can remove what it made.
class ChildProcess : public Spawned {
 public:
  explicit ChildProcess(const std::vector<std::string>& args) : Spawned(args, SIGTERM) {}
};

// Whether something listens on 127.0.0.1:`port` within about ten seconds.
inline bool WaitForPort(std::uint16_t port) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace pellora::testing_support
