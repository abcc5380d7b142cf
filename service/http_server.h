// SPDX-License-Identifier: MIT
#pragma once
// The HTTP side of the service, on Boost.Beast over the service's own loop: each
// connection reads one request at a time (header at most 8 KiB, body at most
// 64 KiB, 30 s to arrive; a larger one gets 431 or 413), hands it to the router
// and writes the reply; a HEAD request goes to the router as GET and gets that
// reply's header alone. A reply may open an event stream (Server-Sent Events):
// the connection then stays open and receives every event published, until
// either side closes it. A listener that falls too far behind is dropped rather
// than buffered without bound. At most 256 connections are open at once; one
// more is closed as it arrives.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "service/file_range_body.h"

namespace pellora::service {

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using TextResponse = http::response<http::string_body>;
using FileResponse = http::response<FileRangeBody>;

// Opens an event stream; `first` is written at once (the current state).
struct EventStream {
  std::string first;
};
using Reply = std::variant<TextResponse, FileResponse, EventStream>;

class HttpServer {
 public:
  using Router = std::function<Reply(const Request&)>;

  // Listens on `endpoint`; throws boost::system::system_error when it cannot.
  HttpServer(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint, Router router);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  boost::asio::ip::tcp::endpoint endpoint() const;
  // Sends "event: NAME\ndata: DATA\n\n" to every open event stream (DATA on one line).
  void Publish(const std::string& name, const std::string& data);
  std::size_t event_streams() const;
  // Stops accepting and closes every connection.
  void Stop();

  class Session;
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

// "event: NAME\ndata: DATA\n\n".
std::string EventText(const std::string& name, const std::string& data);

}  // namespace pellora::service
