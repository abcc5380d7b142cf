// SPDX-License-Identifier: MIT
// Connecting, the request, the socket's notifications, and disconnecting.
#include <cstdio>

#include "capture/stream_url.h"
#include "capture/torvane.h"

namespace pellora::capture {
namespace {

// Byte text, like every text of the control: Latin-1, one byte a character.
constexpr const char* kAlreadyConnected =
    "D\xE9j\xE0 connect\xE9 \xE0 une autre source. D\xE9" "connectez d'abord avant de tenter "
    "une nouvelle connexion.";

}  // namespace

std::error_code Torvane::Connect(const std::string& url, bool DisconnectFirst) {
  if (url.empty()) return {};
  const auto keep = KeepAlive();
  if (is_connected_) {
    if (!DisconnectFirst) {
      RaiseError(TErr_Misc, Err_Misc_AlreadyConnected, kAlreadyConnected);
      return {};
    }
    Disconnect();
    // A handler of the disconnection's events connected anew: that connection
    // stands, and this call connects nowhere.
    if (is_connected_) return {};
  }
  std::string problem;
  const bool usable = SplitUrl(url, problem);
  request_url_ = url;
  if (usable) {
    socket_->UseTls(tls_ ? std::optional(hosting::TlsSettings{ca_file_, insecure_}) : std::nullopt);
    if (const std::error_code refused = socket_->Connect(host_, static_cast<std::uint16_t>(port_)))
      return refused;
  } else {
    // Never let an unusable URL reach the old host, port or path.
    socket_->Close();
  }
  is_connected_ = true;
  stream_ended_ = false;
  ++connection_epoch_;
  const std::uint64_t epoch = connection_epoch_;
  if (usable) StartHeaderTimer();
  RaiseStateChanged();
  // An unusable URL ends as a connection that failed at once.
  if (!usable && connection_epoch_ == epoch) OnError(kUnusableUrlError, problem);
  return {};
}

bool Torvane::SplitUrl(const std::string& url, std::string& problem) {
  StreamUrl split = SplitStreamUrl(url);
  if (!split.Usable()) {
    problem = std::move(split.problem);
    return false;
  }
  host_ = std::move(split.host);
  port_ = split.port;
  path_ = std::move(split.path);
  tls_ = split.tls;
  return true;
}

void Torvane::StartHeaderTimer() {
  if (header_timeout_.count() <= 0) return;
  header_timer_.expires_after(header_timeout_);
  header_timer_.async_wait([weak = weak_from_this(), epoch = connection_epoch_](const boost::system::error_code& ec) {
    if (ec) return;
    const auto self = weak.lock();
    if (self && self->connection_epoch_ == epoch && self->waiting_for_header_) self->OnHeaderTimeout();
  });
}

void Torvane::OnHeaderTimeout() {
  char text[80];
  std::snprintf(text, sizeof text, "No complete response header within %g seconds",
                static_cast<double>(header_timeout_.count()) / 1000);
  Disconnect();
  RaiseError(TErr_WSock, kHeaderTimeoutError, text);
}

std::string Torvane::Request() const {
  return "GET " + path_ + " HTTP/1.1\r\n"
         "Host: " + HostForHeader(host_) + "\r\n"
         "Accept: */*\r\n"
         "Referer: " + request_url_ + "\r\n"
         "User-Agent: PLR\r\n"
         "Icy-MetaData:1\r\n"
         "\r\n";
}

void Torvane::OnConnect() { socket_->Send(Request()); }

void Torvane::OnDataArrival(std::span<const char> data) { ProcessChunk(data); }

void Torvane::OnError(std::int32_t number, const std::string& description) {
  const auto keep = KeepAlive();
  const std::string text = description;  // the socket's text may go with Disconnect
  Disconnect();
  RaiseError(TErr_WSock, number, text);
}

// The server ended the connection in order. After a complete response this is
// the end of the stream; before it, a failure that says so.
void Torvane::OnClose() {
  const auto keep = KeepAlive();
  if (waiting_for_header_) {
    Disconnect();
    return RaiseError(TErr_WSock, kClosedEarlyError,
                      "The server closed the connection before the response header was complete");
  }
  if (!framing_.CompleteAtClose()) {
    Disconnect();
    return RaiseError(TErr_WSock, kClosedEarlyError, "The server closed the connection before the end of the body");
  }
  EndOfStream();
}

void Torvane::EndOfStream() {
  stream_ended_ = true;
  Disconnect();
}

void Torvane::Disconnect() {
  if (!is_connected_) return;
  const auto keep = KeepAlive();
  socket_->Close();
  header_timer_.cancel();
  ++connection_epoch_;
  StopWriting();
  ClearStreamState();
  is_connected_ = false;
  RaiseStateChanged();
}

void Torvane::ClearStreamState() {
  waiting_for_header_ = true;
  first_bytes_checked_ = false;
  parser_.Start(0);
  response_.Reset();
  framing_.StartUntilClose();
  meta_text_.clear();
  received_bytes_ = 0;
  received_meta_info_ = 0;
  stream_name_.clear();
  stream_genre_.clear();
  stream_url_.clear();
  stream_bit_rate_ = 0;
  stream_public_ = false;
  music_name_.clear();
  music_url_.clear();
}

}  // namespace pellora::capture
