// SPDX-License-Identifier: MIT
#pragma once
// The socket child control `WS`: a TCP (or TLS) client that connects asynchronously,
// sends whole texts, reports received data in pieces of at most 32,767 bytes,
// closes at once, and reports failures as a number and a description.
//
// `Socket` is the interface a control uses; `TcpSocket` is the real one on the
// host's event loop. A host or a test hands a control another implementation
// (a scripted socket) by overriding `Site::CreateSocket`.
//
// Every notification runs on the event loop's thread. A notification handler may
// call any method of the socket, including Close and a new Connect; no further
// notification of the ended connection arrives after Close.
//
// Error numbers reported by `TcpSocket` (SocketEvents::OnError):
//   - a failure of the operating system's socket calls: its errno value and the
//     system's text, e.g. 111 "Connection refused", 110 "Connection timed out",
//     113 "No route to host", 101 "Network is unreachable", 104 "Connection reset
//     by peer";
//   - a failure to resolve the host name:
//       11001 "Host not found"                     (the name does not exist)
//       11002 "Host not found, try again later"    (temporary resolver failure)
//       11003 "Name server failure"                (unrecoverable resolver failure)
//       11004 "Host has no address"                (the name has no usable address)
//   - a TLS connection whose peer's certificate does not pass the check (an
//     unknown authority, an expired certificate, another host name ...):
//       10020 "certificate verify failed: <OpenSSL's reason>", e.g. "certificate
//             verify failed: certificate has expired", "... hostname mismatch",
//             "... self-signed certificate", "... unable to get local issuer
//             certificate";
//   - any other failure of TLS (no common protocol or cipher, a peer that does not
//     speak TLS, a CA file that cannot be read):
//       10021 "TLS handshake failed: <reason>" or "TLS setup failed: <reason>";
//   - any other failure: 10000 and its text.
// A TLS connection never falls back to plain text.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <boost/system/error_code.hpp>

namespace pellora::hosting {

class EventLoop;

// The largest piece of received data a socket hands over at once.
inline constexpr std::size_t kMaxChunkBytes = 32767;

// Resolver failure numbers (see the table above).
inline constexpr std::int32_t kSocketHostNotFound = 11001;
inline constexpr std::int32_t kSocketTryAgain = 11002;
inline constexpr std::int32_t kSocketNoRecovery = 11003;
inline constexpr std::int32_t kSocketNoData = 11004;
inline constexpr std::int32_t kSocketOtherFailure = 10000;
inline constexpr std::int32_t kSocketCertificateFailure = 10020;
inline constexpr std::int32_t kSocketTlsFailure = 10021;

// How a socket speaks TLS (see Socket::UseTls).
struct TlsSettings {
  // Trusted authorities, PEM; empty: the system's CA store.
  std::string ca_file;
  // Accept any certificate for any name (as curl's -k): the link is encrypted but
  // its peer unchecked.
  bool insecure = false;
};

// Turns a failure into the number and description a socket reports.
struct SocketFailure {
  std::int32_t number = 0;
  std::string description;
};
SocketFailure DescribeSocketFailure(const boost::system::error_code& ec);

// What a socket tells its owner.
class SocketEvents {
 public:
  virtual ~SocketEvents() = default;
  // The connection is established.
  virtual void OnConnect() = 0;
  // Bytes arrived: at most kMaxChunkBytes, in the socket's own buffer, which stays
  // untouched until this handler returns. Never empty.
  virtual void OnDataArrival(std::span<const char> data) = 0;
  // The connection failed or broke (see the numbers above), a reset by the peer
  // included (104 "Connection reset by peer"). No notification of this
  // connection follows.
  virtual void OnError(std::int32_t number, const std::string& description) = 0;
  // The peer ended the connection in order (end of file after all its data). No
  // notification of this connection follows.
  virtual void OnClose() = 0;
};

class Socket {
 public:
  virtual ~Socket() = default;
  // Sets the receiver of the notifications (not owned; it outlives the socket or
  // is reset first).
  virtual void SetEvents(SocketEvents* events) = 0;
  // Starts resolving `host` and connecting to `port`, and returns at once. Any
  // earlier connection is closed first. Success arrives as OnConnect, failure as
  // OnError. Returns an error only when the connect cannot even be started.
  virtual std::error_code Connect(const std::string& host, std::uint16_t port) = 0;
  // Queues the whole of `text` (bytes, one per char) for sending; a failure
  // arrives as OnError.
  virtual void Send(std::string_view text) = 0;
  // Ends the connection at once; pending operations are dropped silently.
  virtual void Close() = 0;
  // The next Connect speaks TLS with `tls` (SNI and the peer's certificate checked
  // against the host asked for, unless insecure), or plain TCP with nothing.
  virtual void UseTls(std::optional<TlsSettings> tls) = 0;
};

class SocketConnection;

// The real socket: Asio TCP, or TLS over TCP (Asio's SSL stream on OpenSSL), on
// the host's event loop. Numeric hosts are connected to without the resolver, so
// no thread is started for them; a host name is resolved by Asio's resolver,
// which runs getaddrinfo on a helper thread of its own (notifications still
// arrive on the loop's thread).
class TcpSocket : public Socket {
 public:
  explicit TcpSocket(EventLoop& loop);
  ~TcpSocket() override;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  void SetEvents(SocketEvents* events) override { events_ = events; }
  std::error_code Connect(const std::string& host, std::uint16_t port) override;
  void Send(std::string_view text) override;
  void Close() override;
  void UseTls(std::optional<TlsSettings> tls) override { tls_ = std::move(tls); }

 private:
  EventLoop& loop_;
  SocketEvents* events_ = nullptr;
  std::optional<TlsSettings> tls_;
  std::shared_ptr<SocketConnection> connection_;
};

}  // namespace pellora::hosting
