// SPDX-License-Identifier: MIT
#include "service/http_server.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <chrono>
#include <deque>
#include <optional>
#include <vector>

namespace pellora::service {
namespace {

namespace beast = boost::beast;
using tcp = boost::asio::ip::tcp;

constexpr auto kRequestTime = std::chrono::seconds(30);
constexpr std::uint32_t kMaxHeaderBytes = 8 * 1024;
constexpr std::uint64_t kMaxBodyBytes = 64 * 1024;
constexpr std::size_t kMaxQueuedEvents = 256;
// Connections at once, event streams included: beyond them a new one is closed
// at once, so that a peer opening many cannot take the descriptors the
// recordings need.
constexpr std::size_t kMaxConnections = 256;
// After a failed accept (out of descriptors, most likely), before the next try:
// an immediate one would fail again at once, and so on at full speed.
constexpr auto kAcceptRetry = std::chrono::milliseconds(200);

}  // namespace

struct HttpServer::Shared {
  Shared(boost::asio::io_context& io, const tcp::endpoint& endpoint, Router r)
      : acceptor(io, endpoint), retry(io), router(std::move(r)) {}
  tcp::acceptor acceptor;
  boost::asio::steady_timer retry;  // of a failed accept
  Router router;
  bool stopped = false;
  std::vector<std::weak_ptr<Session>> sessions;  // every open connection
};

class HttpServer::Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, std::shared_ptr<Shared> shared) : stream_(std::move(socket)), shared_(std::move(shared)) {}

  void Read() {
    parser_.emplace();
    parser_->header_limit(kMaxHeaderBytes);
    parser_->body_limit(kMaxBodyBytes);
    stream_.expires_after(kRequestTime);
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec == http::error::header_limit) return self->Refuse(http::status::request_header_fields_too_large);
      if (ec == http::error::body_limit) return self->Refuse(http::status::payload_too_large);
      if (ec) return self->Close();
      self->Answer();
    });
  }

  // Queues an event for an open event stream; others ignore it.
  void Push(const std::string& text) {
    if (!streaming_) return;
    if (queue_.size() >= kMaxQueuedEvents) return Close();
    queue_.push_back(text);
    if (queue_.size() == 1 && header_sent_) WriteNextEvent();
  }

  bool streaming() const { return streaming_; }

  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
    streaming_ = false;
    queue_.clear();
  }

 private:
  // HEAD is answered as GET would be, with the header alone (its Content-Length
  // the body's).
  void Answer() {
    Request request = parser_->release();
    const bool head = request.method() == http::verb::head;
    if (head) request.method(http::verb::get);
    Reply reply = shared_->router(request);
    if (auto* events = std::get_if<EventStream>(&reply)) {
      if (!head) return OpenEvents(request, std::move(events->first));
      http::response<http::empty_body> header(http::status::ok, request.version());
      header.set(http::field::content_type, "text/event-stream");
      return Write(std::move(header));  // no length: the stream's has none
    }
    std::visit(
        [&](auto& response) {
          if constexpr (!std::is_same_v<std::decay_t<decltype(response)>, EventStream>) {
            response.version(request.version());
            response.keep_alive(request.keep_alive());
            response.prepare_payload();
            if (head) return Write(http::response<http::empty_body>(std::move(response.base())));
            Write(std::move(response));
          }
        },
        reply);
  }

  // A request too large to read: the client is told why, and the connection
  // ends. What it still sends is read until it closes, so that the close does
  // not reset the connection and lose the answer on its way.
  void Refuse(http::status status) {
    auto response = std::make_shared<TextResponse>(status, 11);
    response->set(http::field::content_type, "text/plain; charset=utf-8");
    response->body() = std::string(http::obsolete_reason(status)) + "\n";
    response->keep_alive(false);
    response->prepare_payload();
    stream_.expires_after(kRequestTime);
    http::async_write(stream_, *response, [self = shared_from_this(), response](beast::error_code ec, std::size_t) {
      if (ec) return self->Close();
      beast::error_code ignored;
      self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
      self->WatchForClose();
    });
  }

  template <class Response>
  void Write(Response response) {
    auto message = std::make_shared<Response>(std::move(response));
    stream_.expires_after(kRequestTime);
    http::async_write(stream_, *message, [self = shared_from_this(), message](beast::error_code ec, std::size_t) {
      if (ec || message->need_eof()) return self->Close();
      self->Read();
    });
  }

  void OpenEvents(const Request& request, std::string first) {
    auto header = std::make_shared<http::response<http::empty_body>>(http::status::ok, request.version());
    header->set(http::field::content_type, "text/event-stream");
    header->set(http::field::cache_control, "no-cache");
    header->keep_alive(false);
    auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*header);
    streaming_ = true;
    queue_.push_back(std::move(first));
    stream_.expires_never();
    http::async_write_header(stream_, *serializer,
                             [self = shared_from_this(), header, serializer](beast::error_code ec, std::size_t) {
                               if (ec) return self->Close();
                               self->header_sent_ = true;
                               if (!self->queue_.empty()) self->WriteNextEvent();
                               self->WatchForClose();
                             });
  }

  // The listener sends nothing more (or nothing that is read); a read that ends
  // tells that it left, and keeps the session alive until then.
  void WatchForClose() {
    stream_.async_read_some(buffer_.prepare(512), [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->Close();
      self->buffer_.clear();
      self->WatchForClose();
    });
  }

  void WriteNextEvent() {
    boost::asio::async_write(stream_, boost::asio::buffer(queue_.front()),
                             [self = shared_from_this()](beast::error_code ec, std::size_t) {
                               if (ec || self->queue_.empty()) return self->Close();
                               self->queue_.pop_front();
                               if (!self->queue_.empty()) self->WriteNextEvent();
                             });
  }

  beast::tcp_stream stream_;
  std::shared_ptr<Shared> shared_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  bool streaming_ = false;
  bool header_sent_ = false;
  std::deque<std::string> queue_;
};

namespace {

void AcceptNext(const std::shared_ptr<HttpServer::Shared>& shared) {
  shared->acceptor.async_accept([shared](beast::error_code ec, tcp::socket socket) {
    if (shared->stopped) return;
    if (ec) {
      shared->retry.expires_after(kAcceptRetry);
      shared->retry.async_wait([shared](beast::error_code) {
        if (!shared->stopped) AcceptNext(shared);
      });
      return;
    }
    std::erase_if(shared->sessions, [](const auto& s) { return s.expired(); });
    if (shared->sessions.size() < kMaxConnections) {
      auto session = std::make_shared<HttpServer::Session>(std::move(socket), shared);
      shared->sessions.push_back(session);
      session->Read();
    }
    AcceptNext(shared);
  });
}

}  // namespace

HttpServer::HttpServer(boost::asio::io_context& io, const tcp::endpoint& endpoint, Router router)
    : shared_(std::make_shared<Shared>(io, endpoint, std::move(router))) {
  AcceptNext(shared_);
}

HttpServer::~HttpServer() { Stop(); }

tcp::endpoint HttpServer::endpoint() const {
  beast::error_code ignored;
  return shared_->acceptor.local_endpoint(ignored);
}

void HttpServer::Publish(const std::string& name, const std::string& data) {
  const std::string text = EventText(name, data);
  for (const auto& weak : shared_->sessions)
    if (auto session = weak.lock()) session->Push(text);
}

std::size_t HttpServer::event_streams() const {
  std::size_t count = 0;
  for (const auto& weak : shared_->sessions)
    if (auto session = weak.lock(); session && session->streaming()) ++count;
  return count;
}

void HttpServer::Stop() {
  if (shared_->stopped) return;
  shared_->stopped = true;
  beast::error_code ignored;
  shared_->acceptor.close(ignored);
  shared_->retry.cancel();
  for (const auto& weak : shared_->sessions)
    if (auto session = weak.lock()) session->Close();
  shared_->sessions.clear();
}

std::string EventText(const std::string& name, const std::string& data) {
  return "event: " + name + "\ndata: " + data + "\n\n";
}

}  // namespace pellora::service
