// SPDX-License-Identifier: MIT
#pragma once
// A socket whose peer is the test: it records what the control asks of it and
// delivers exactly the notifications the test scripts, chunk by chunk.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "hosting/container.h"
#include "hosting/tcp_socket.h"

namespace pellora::testing_support {

class ScriptedSocket : public hosting::Socket {
 public:
  void SetEvents(hosting::SocketEvents* events) override { events_ = events; }
  std::error_code Connect(const std::string& host, std::uint16_t port) override {
    if (refuse_connect) return refuse_connect;
    this->host = host;
    this->port = port;
    ++connects;
    open = true;
    return {};
  }
  void Send(std::string_view text) override { sent.append(text); }
  void Close() override {
    if (open) ++closes;
    open = false;
  }
  void UseTls(std::optional<hosting::TlsSettings> settings) override { tls = std::move(settings); }

  // The peer accepted the connection.
  void Accept() { events_->OnConnect(); }
  // `bytes` arrive as one chunk (at most 32,767 bytes), from the socket's own
  // buffer.
  void Deliver(std::string_view bytes) {
    buffer_.assign(bytes);
    events_->OnDataArrival(std::span<const char>(buffer_.data(), buffer_.size()));
  }
  // `bytes` arrive as one chunk straight from the caller's memory (no copy), as
  // from a socket's read buffer.
  void DeliverView(std::span<const char> bytes) { events_->OnDataArrival(bytes); }
  // `bytes` arrive cut into chunks of `chunk` bytes.
  void DeliverInChunks(std::string_view bytes, std::size_t chunk) {
    for (std::size_t at = 0; at < bytes.size() && open; at += chunk)
      Deliver(bytes.substr(at, std::min(chunk, bytes.size() - at)));
  }
  void Fail(std::int32_t number, const std::string& description) {
    open = false;
    events_->OnError(number, description);
  }
  // The peer closed the connection in order.
  void PeerClose() {
    open = false;
    events_->OnClose();
  }

  std::error_code refuse_connect;
  std::string host;
  std::uint16_t port = 0;
  std::string sent;
  std::optional<hosting::TlsSettings> tls;  // as set for the last Connect
  int connects = 0;
  int closes = 0;
  bool open = false;

 private:
  hosting::SocketEvents* events_ = nullptr;
  std::string buffer_;
};

// A site whose controls get scripted sockets; `socket` is the last one made.
class ScriptedSite : public hosting::Site {
 public:
  using hosting::Site::Site;
  std::unique_ptr<hosting::Socket> CreateSocket() override {
    auto made = std::make_unique<ScriptedSocket>();
    socket = made.get();
    return made;
  }
  ScriptedSocket* socket = nullptr;
};

}  // namespace pellora::testing_support
