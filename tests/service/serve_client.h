// SPDX-License-Identifier: MIT
#pragma once
// Tests of `pellora serve`: the built binary run as a child process (so that it
// can be sent SIGHUP and SIGTERM), and a small blocking HTTP client over loopback.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.h"

namespace pellora::testing_support {

// Polls `done` until it holds or `limit` passed; the condition is what is tested,
// the limit only keeps a broken build from hanging.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(30)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

class ServeProcess {
 public:
  // Runs `pellora serve ARGS...`; stderr goes to `stderr_file`.
  ServeProcess(const std::vector<std::string>& args, const std::string& stderr_file) {
    std::vector<std::string> all{PELLORA_CLI, "serve"};
    all.insert(all.end(), args.begin(), args.end());
    int output = -1;
    pid_ = pellora::testing_support::SpawnReadingOutput(std::move(all), output, stderr_file);
    if (output >= 0) out_ = ::fdopen(output, "r");
  }
  ~ServeProcess() {
    if (pid_ > 0 && status_ == kRunning) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (out_) std::fclose(out_);
  }

  // The first line on stdout ("… on http://127.0.0.1:PORT/"); empty when it ended.
  std::string FirstLine() {
    char line[512];
    return out_ && std::fgets(line, sizeof line, out_) ? line : "";
  }
  // The port the service listens on, from its first line (0 when none).
  unsigned short Port() {
    const std::string line = FirstLine();
    const auto colon = line.rfind(':');
    return colon == std::string::npos ? 0 : static_cast<unsigned short>(std::atoi(line.c_str() + colon + 1));
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  pid_t pid() const { return pid_; }
  // The exit status (-1 when killed by a signal).
  int Wait() {
    if (status_ != kRunning) return status_;
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return status_;
  }

 private:
  static constexpr int kRunning = -1000;
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  int status_ = kRunning;
};

struct HttpAnswer {
  int status = 0;
  std::string body;
  std::map<std::string, std::string> fields;  // lower-case names
};

// One request over a fresh loopback connection.
inline HttpAnswer Http(unsigned short port, const std::string& method, const std::string& target,
                       const std::map<std::string, std::string>& fields = {}) {
  namespace http = boost::beast::http;
  boost::asio::io_context io;
  boost::asio::ip::tcp::socket socket(io);
  boost::system::error_code ec;
  socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
  if (ec) return {};
  http::request<http::string_body> request(http::string_to_verb(method), target, 11);
  request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
  for (const auto& [name, value] : fields) request.set(name, value);
  request.prepare_payload();
  http::write(socket, request, ec);
  boost::beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.body_limit(64 << 20);
  parser.skip(request.method() == http::verb::head);
  http::read(socket, buffer, parser, ec);
  if (ec) return {};
  HttpAnswer answer{int(parser.get().result_int()), parser.get().body(), {}};
  for (const auto& field : parser.get()) {
    std::string name(field.name_string());
    for (auto& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    answer.fields[name] = std::string(field.value());
  }
  return answer;
}

// An open event stream: reads one event at a time.
class EventReader {
 public:
  EventReader(unsigned short port, const std::string& target) : socket_(io_) {
    boost::system::error_code ec;
    socket_.connect({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    boost::asio::write(socket_, boost::asio::buffer(request), ec);
    boost::asio::read_until(socket_, buffer_, "\r\n\r\n", ec);
    std::istream in(&buffer_);
    std::getline(in, status_line_);
    for (std::string line; std::getline(in, line) && line != "\r";) header_ += line + "\n";
  }
  const std::string& status_line() const { return status_line_; }
  const std::string& header() const { return header_; }
  // The next event as {name, data}; {"", ""} when the stream ended.
  std::pair<std::string, std::string> Next() {
    boost::system::error_code ec;
    boost::asio::read_until(socket_, buffer_, "\n\n", ec);
    if (ec) return {};
    std::istream in(&buffer_);
    std::string name, data;
    for (std::string line; std::getline(in, line) && !line.empty();) {
      if (line.rfind("event: ", 0) == 0) name = line.substr(7);
      if (line.rfind("data: ", 0) == 0) data = line.substr(6);
    }
    return {name, data};
  }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::tcp::socket socket_;
  boost::asio::streambuf buffer_;
  std::string status_line_, header_;
};

}  // namespace pellora::testing_support
