// SPDX-License-Identifier: MIT
#include "hosting/tcp_socket.h"

#include "hosting/event_loop.h"
#include "hosting/stream_connection.h"

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

TcpSocket::TcpSocket(EventLoop& loop) : loop_(loop) {}

TcpSocket::~TcpSocket() { Close(); }

std::error_code TcpSocket::Connect(const std::string& host, std::uint16_t port) {
  Close();
  if (tls_)
    connection_ = MakeTlsConnection(loop_.context(), events_, *tls_);
  else
    connection_ = std::make_shared<PlainConnection>(loop_.context(), events_);
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
