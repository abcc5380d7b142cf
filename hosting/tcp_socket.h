#pragma once
// The socket child control `WS`: a TCP client that connects asynchronously,
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
//   - any other failure: 10000 and its text.
#include <cstddef>
#include <cstdint>
#include <memory>
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
};

// The real socket: Asio TCP on the host's event loop.
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

 private:
  class Connection;
  EventLoop& loop_;
  SocketEvents* events_ = nullptr;
  std::shared_ptr<Connection> connection_;
};

}  // namespace pellora::hosting
