// SPDX-License-Identifier: MIT
#pragma once
// A loopback ICY server for tests: listens on 127.0.0.1 on a free port, and for
// every connection reads the request up to its empty line, then sends the
// scripted writes (with a pause between them, so they arrive as separate reads),
// then keeps the connection open until the client closes it or the server stops.
// With several replies, connection n gets reply n (the last one from then on).
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pellora::testing_support {

struct IcyReply {
  std::vector<std::string> writes;
  std::chrono::milliseconds pause{0};
  bool close_after = false;  // close at once after the last write
  bool reset_after = false;  // reset the connection (RST) after the last write
};

class IcyServer {
 public:
  explicit IcyServer(IcyReply reply) : IcyServer(std::move(reply), {}) {}
  // `first` for the first connection, the replies of `then` for the next ones.
  IcyServer(IcyReply first, std::vector<IcyReply> then) : replies_(std::move(then)) {
    replies_.insert(replies_.begin(), std::move(first));
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener_, 8);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~IcyServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  IcyServer(const IcyServer&) = delete;
  IcyServer& operator=(const IcyServer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::string Url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // The requests received so far, each up to and including its empty line.
  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  bool WaitReadable(int fd) const {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  void Serve() {
    while (WaitReadable(listener_)) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      Converse(client);
      ::close(client);
    }
  }

  void Converse(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && WaitReadable(client)) {
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t number = 0;
    {
      std::lock_guard lock(mutex_);
      number = requests_.size();
      requests_.push_back(request);
    }
    const IcyReply& reply = replies_[std::min(number, replies_.size() - 1)];
    for (std::size_t i = 0; i < reply.writes.size() && !stop_; ++i) {
      if (i > 0) std::this_thread::sleep_for(reply.pause);
      const std::string& data = reply.writes[i];
      for (std::size_t sent = 0; sent < data.size();) {
        const ssize_t n = ::send(client, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
      }
    }
    if (reply.reset_after) {
      const linger abort_on_close{1, 0};
      ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
      return;
    }
    if (reply.close_after) return;
    while (WaitReadable(client) && ::recv(client, buffer, sizeof buffer, 0) > 0) {
    }
  }

  std::vector<IcyReply> replies_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace pellora::testing_support
