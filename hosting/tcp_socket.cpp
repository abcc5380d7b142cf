#include "hosting/tcp_socket.h"

#include <array>
#include <deque>

#include <boost/asio/connect.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include "hosting/event_loop.h"

namespace pellora::hosting {

SocketFailure DescribeSocketFailure(const boost::system::error_code& ec) {
  if (ec == boost::asio::error::host_not_found) return {kSocketHostNotFound, "Host not found"};
  if (ec == boost::asio::error::host_not_found_try_again)
    return {kSocketTryAgain, "Host not found, try again later"};
  if (ec == boost::asio::error::no_recovery) return {kSocketNoRecovery, "Name server failure"};
  if (ec == boost::asio::error::no_data) return {kSocketNoData, "Host has no address"};
  if (ec.category() == boost::asio::error::get_system_category() ||
      ec.category() == std::system_category() || ec.category() == std::generic_category())
    return {ec.value(), ec.message()};
  return {kSocketOtherFailure, ec.message()};
}

// One connection attempt and its life. Every pending operation holds the
// connection alive, so the owner may close or replace it from any handler.
class TcpSocket::Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(boost::asio::io_context& context, SocketEvents* events)
      : resolver_(context), socket_(context), events_(events) {}

  void Start(const std::string& host, std::uint16_t port) {
    resolver_.async_resolve(host, std::to_string(port),
                            [self = shared_from_this()](const boost::system::error_code& ec, auto results) {
                              self->OnResolved(ec, results);
                            });
  }

  void Send(std::string_view text) {
    // Sends may be queued before the connection is up; they go out in order once
    // it is.
    outbox_.emplace_back(text);
    if (connected_ && outbox_.size() == 1) WriteNext();
  }

  // Ends the connection; nothing of it is reported any more.
  void Close() {
    events_ = nullptr;
    boost::system::error_code ignored;
    resolver_.cancel();
    socket_.close(ignored);
  }

 private:
  void OnResolved(const boost::system::error_code& ec, const boost::asio::ip::tcp::resolver::results_type& results) {
    if (!events_) return;
    if (ec) return Fail(ec);
    boost::asio::async_connect(socket_, results,
                        [self = shared_from_this()](const boost::system::error_code& ec, const auto&) {
                          self->OnConnected(ec);
                        });
  }

  void OnConnected(const boost::system::error_code& ec) {
    if (!events_) return;
    if (ec) return Fail(ec);
    connected_ = true;
    boost::system::error_code ignored;
    socket_.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
    ReadNext();
    if (!outbox_.empty()) WriteNext();
    if (events_) events_->OnConnect();
  }

  void ReadNext() {
    socket_.async_read_some(boost::asio::buffer(buffer_),
                            [self = shared_from_this()](const boost::system::error_code& ec, std::size_t n) {
                              self->OnRead(ec, n);
                            });
  }

  void OnRead(const boost::system::error_code& ec, std::size_t n) {
    if (!events_) return;
    if (ec == boost::asio::error::eof) return Closed();
    if (ec) return Fail(ec);
    events_->OnDataArrival(std::span<const char>(buffer_.data(), n));
    if (events_) ReadNext();
  }

  void WriteNext() {
    boost::asio::async_write(socket_, boost::asio::buffer(outbox_.front()),
                      [self = shared_from_this()](const boost::system::error_code& ec, std::size_t) {
                        self->OnWritten(ec);
                      });
  }

  void OnWritten(const boost::system::error_code& ec) {
    if (!events_) return;
    if (ec) return Fail(ec);
    outbox_.pop_front();
    if (!outbox_.empty()) WriteNext();
  }

  void Closed() {
    SocketEvents* events = events_;
    Close();
    events->OnClose();
  }

  void Fail(const boost::system::error_code& ec) {
    SocketEvents* events = events_;
    Close();
    const SocketFailure failure = DescribeSocketFailure(ec);
    events->OnError(failure.number, failure.description);
  }

  boost::asio::ip::tcp::resolver resolver_;
  boost::asio::ip::tcp::socket socket_;
  SocketEvents* events_;
  bool connected_ = false;
  std::deque<std::string> outbox_;
  std::array<char, kMaxChunkBytes> buffer_{};
};

TcpSocket::TcpSocket(EventLoop& loop) : loop_(loop) {}

TcpSocket::~TcpSocket() { Close(); }

std::error_code TcpSocket::Connect(const std::string& host, std::uint16_t port) {
  Close();
  connection_ = std::make_shared<Connection>(loop_.context(), events_);
  connection_->Start(host, port);
  return {};
}

void TcpSocket::Send(std::string_view text) {
  if (connection_) connection_->Send(text);
}

void TcpSocket::Close() {
  if (connection_) connection_->Close();
  connection_.reset();
}

}  // namespace pellora::hosting
