// SPDX-License-Identifier: MIT
#pragma once
// The loopback HTTP server of the download tests (http_peer.py beside this file),
// run as a child process for the life of the object.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/support/process.h"

namespace pellora::testing_support {

class HttpPeer {
 public:
  HttpPeer() {
    int output = -1;
    pid_ = SpawnReadingOutput({"/usr/bin/python3", std::string(PELLORA_SOURCE_DIR) + "/tests/support/http_peer.py"},
                              output);
    if (output < 0) return;
    port_ = ReadPort(output);
    ::close(output);
  }
  ~HttpPeer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  HttpPeer(const HttpPeer&) = delete;
  HttpPeer& operator=(const HttpPeer&) = delete;

  // 0 when the server did not start.
  int Port() const { return port_; }
  // "http://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  // Byte i of every body the server sends.
  static char BodyByte(std::size_t i) { return static_cast<char>(i % 251); }
  static std::string Body(std::size_t n) {
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i) out[i] = BodyByte(i);
    return out;
  }

 private:
  static int ReadPort(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line.empty() ? 0 : std::stoi(line);
  }

  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace pellora::testing_support
