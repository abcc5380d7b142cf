// SPDX-License-Identifier: MIT
// The demultiplexing of a stream body with recording off: chunks of 8 KiB and
// 32 KiB, metadata every 16,000 bytes, delivered from memory as a socket does;
// the body sent as it is, or in HTTP chunks of 4,096 bytes (as nginx sends it).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "capture/torvane.h"
#include "hosting/event_loop.h"
#include "tests/support/scripted_socket.h"

namespace {

using pellora::capture::Torvane;

constexpr std::size_t kMetaint = 16000;

// A few MiB of body: audio, a length byte and a title every kMetaint bytes.
std::string MakeBody(std::size_t periods) {
  std::string body;
  for (std::size_t i = 0; i < periods; ++i) {
    body.append(kMetaint, static_cast<char>('a' + i % 26));
    std::string text = "StreamTitle='Artist " + std::to_string(i % 7) + " - Song';StreamUrl='';";
    const std::size_t units = (text.size() + 15) / 16;
    text.resize(units * 16, '\0');
    body += static_cast<char>(units);
    body += text;
  }
  return body;
}

// The body in chunks of 4,096 data bytes, with no last chunk, so that the wire
// can be sent again and again.
std::string Chunked(const std::string& body) {
  std::string wire;
  for (std::size_t at = 0; at < body.size(); at += 4096) {
    const std::size_t size = std::min<std::size_t>(4096, body.size() - at);
    char line[16];
    std::snprintf(line, sizeof line, "%zx\r\n", size);
    wire += line;
    wire.append(body, at, size);
    wire += "\r\n";
  }
  return wire;
}

// range(0): the chunk size; range(1): 1 for a chunked body.
void BM_ProcessChunk(benchmark::State& state) {
  const auto chunk = static_cast<std::size_t>(state.range(0));
  const bool chunked = state.range(1) == 1;
  static const std::string plain = MakeBody(256);
  static const std::string encoded = Chunked(plain);
  const std::string& body = chunked ? encoded : plain;
  pellora::hosting::EventLoop loop;
  pellora::testing_support::ScriptedSite site(loop);
  auto control = site.Create<Torvane>();
  control->Connect("http://127.0.0.1:8000/");
  site.socket->Accept();
  site.socket->Deliver("ICY 200 OK\r\nicy-metaint:" + std::to_string(kMetaint) + "\r\n" +
                       (chunked ? "Transfer-Encoding: chunked\r\n" : "") + "\r\n");

  std::size_t at = 0;
  for (auto _ : state) {
    const std::size_t size = std::min(chunk, body.size() - at);
    site.socket->DeliverView(std::span<const char>(body.data() + at, size));
    at = at + size == body.size() ? 0 : at + size;
    benchmark::DoNotOptimize(control->ReceivedBytesTotal());
  }
  if (!control->IsConnected()) state.SkipWithError("the stream was refused");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(chunk));
}

BENCHMARK(BM_ProcessChunk)->Args({8 * 1024, 0})->Args({32 * 1024, 0})->Args({32 * 1024, 1});

}  // namespace

BENCHMARK_MAIN();
