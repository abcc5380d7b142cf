// SPDX-License-Identifier: MIT
#pragma once
// One connection of a socket, plain TCP or TLS over TCP: resolve (numeric hosts
// without the resolver, whose first use starts a helper thread), connect, for TLS
// the handshake, then reads into its own buffer and queued writes. Every pending
// operation holds the connection alive, so the owner may close or replace it from
// any handler. Private to hosting/.
#include <array>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include <boost/asio/connect.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "hosting/tcp_socket.h"

namespace pellora::hosting {

class SocketConnection {
 public:
  virtual ~SocketConnection() = default;
  virtual void Start(const std::string& host, std::uint16_t port) = 0;
  virtual void Send(std::string_view text) = 0;
  // Ends the connection; nothing of it is reported any more.
  virtual void Close() = 0;
};

// `Stream` is a tcp::socket or an ssl::stream<tcp::socket>; `Derived` supplies
// `Handshake(done)` (called once TCP is connected), `Describe(ec)` (the number and
// text of a failure) and `IsOrderlyEnd(ec)` (a read error that is the peer's
// orderly end).
template <class Derived, class Stream>
class StreamConnection : public SocketConnection, public std::enable_shared_from_this<Derived> {
 public:
  template <class... StreamArgs>
  StreamConnection(boost::asio::io_context& context, SocketEvents* events, StreamArgs&&... stream_args)
      : resolver_(context), stream_(std::forward<StreamArgs>(stream_args)...), events_(events) {}

  void Start(const std::string& host, std::uint16_t port) override {
    boost::system::error_code not_numeric;
    const auto address = boost::asio::ip::make_address(host, not_numeric);
    if (!not_numeric) {
      Tcp().async_connect(boost::asio::ip::tcp::endpoint(address, port),
                          [self = Self()](const boost::system::error_code& ec) { self->OnTcpConnected(ec); });
      return;
    }
    resolver_.async_resolve(host, std::to_string(port),
                            [self = Self()](const boost::system::error_code& ec, auto results) {
                              self->OnResolved(ec, results);
                            });
  }

  void Send(std::string_view text) override {
    // Sends may be queued before the connection is up; they go out in order once
    // it is.
    outbox_.emplace_back(text);
    if (ready_ && outbox_.size() == 1) WriteNext();
  }

  void Close() override {
    events_ = nullptr;
    boost::system::error_code ignored;
    resolver_.cancel();
    Tcp().close(ignored);
  }

 protected:
  typename Stream::lowest_layer_type& Tcp() { return stream_.lowest_layer(); }
  Stream& stream() { return stream_; }
  std::shared_ptr<Derived> Self() { return this->shared_from_this(); }

  // Reports a failure to the owner (once) and ends the connection.
  void Fail(const boost::system::error_code& ec) {
    if (events_) Report(static_cast<Derived*>(this)->Describe(ec));
  }
  void Report(const SocketFailure& failure) {
    SocketEvents* events = events_;
    if (!events) return;
    Close();
    events->OnError(failure.number, failure.description);
  }

  // The stream is ready for the request: reading starts and the owner is told.
  void Ready() {
    if (!events_) return;
    ready_ = true;
    ReadNext();
    if (!outbox_.empty()) WriteNext();
    events_->OnConnect();
  }

 private:
  void OnResolved(const boost::system::error_code& ec, const boost::asio::ip::tcp::resolver::results_type& results) {
    if (!events_) return;
    if (ec) return Fail(ec);
    boost::asio::async_connect(Tcp(), results,
                               [self = Self()](const boost::system::error_code& ec, const auto&) {
                                 self->OnTcpConnected(ec);
                               });
  }

  void OnTcpConnected(const boost::system::error_code& ec) {
    if (!events_) return;
    if (ec) return Fail(ec);
    boost::system::error_code ignored;
    Tcp().set_option(boost::asio::ip::tcp::no_delay(true), ignored);
    static_cast<Derived*>(this)->Handshake();
  }

  void ReadNext() {
    stream_.async_read_some(boost::asio::buffer(buffer_),
                            [self = Self()](const boost::system::error_code& ec, std::size_t n) {
                              self->OnRead(ec, n);
                            });
  }

  void OnRead(const boost::system::error_code& ec, std::size_t n) {
    if (!events_) return;
    if (ec && static_cast<Derived*>(this)->IsOrderlyEnd(ec)) {
      SocketEvents* events = events_;
      Close();
      return events->OnClose();
    }
    if (ec) return Fail(ec);
    events_->OnDataArrival(std::span<const char>(buffer_.data(), n));
    if (events_) ReadNext();
  }

  void WriteNext() {
    boost::asio::async_write(stream_, boost::asio::buffer(outbox_.front()),
                             [self = Self()](const boost::system::error_code& ec, std::size_t) {
                               self->OnWritten(ec);
                             });
  }

  void OnWritten(const boost::system::error_code& ec) {
    if (!events_) return;
    if (ec) return Fail(ec);
    outbox_.pop_front();
    if (!outbox_.empty()) WriteNext();
  }

  boost::asio::ip::tcp::resolver resolver_;
  Stream stream_;
  SocketEvents* events_;
  bool ready_ = false;
  std::deque<std::string> outbox_;
  std::array<char, kMaxChunkBytes> buffer_{};
};

// Plain TCP: ready as soon as connected; the peer's end of file is its orderly end.
class PlainConnection final : public StreamConnection<PlainConnection, boost::asio::ip::tcp::socket> {
 public:
  PlainConnection(boost::asio::io_context& context, SocketEvents* events)
      : StreamConnection(context, events, context) {}

 private:
  friend class StreamConnection<PlainConnection, boost::asio::ip::tcp::socket>;
  void Handshake() { Ready(); }
  static SocketFailure Describe(const boost::system::error_code& ec) { return DescribeSocketFailure(ec); }
  static bool IsOrderlyEnd(const boost::system::error_code& ec) { return ec == boost::asio::error::eof; }
};

// TLS over TCP (tls_connection.cpp).
std::shared_ptr<SocketConnection> MakeTlsConnection(boost::asio::io_context& context, SocketEvents* events,
                                                    const TlsSettings& settings);

}  // namespace pellora::hosting
