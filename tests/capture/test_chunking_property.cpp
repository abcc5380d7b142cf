// SPDX-License-Identifier: MIT
// Whatever the cutting of a stream into chunks, and whatever the framing of its
// body (until the close, Content-Length, or chunks with extensions and trailers),
// the recording, the titles (and where in the audio each begins), the audio
// sink's slices and the counters come out the same as a plain reading of the
// whole stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include "capture/torvane.h"
#include "hosting/event_loop.h"
#include "tests/capture/event_log.h"
#include "tests/support/scripted_socket.h"
#include "tests/support/temp_path.h"

namespace pellora::capture {
namespace {

struct Demultiplexed {
  std::string audio;
  std::vector<std::string> changes;  // MetaChanged texts
  std::vector<std::size_t> change_positions;  // audio bytes before each change
  std::int64_t meta_bytes = 0;       // n + 1 for every complete non-empty block
};

// Reference: reads the whole body in one go, by position.
Demultiplexed ReferenceDemultiplex(const std::string& body, std::size_t metaint) {
  Demultiplexed out;
  std::string last;
  std::size_t pos = 0;
  while (pos < body.size()) {
    const std::size_t audio = std::min(metaint, body.size() - pos);
    out.audio.append(body, pos, audio);
    pos += audio;
    if (pos == body.size()) break;
    const std::size_t n = 16 * static_cast<unsigned char>(body[pos++]);
    if (n == 0) continue;
    if (pos + n > body.size()) break;  // the stream ends inside a block
    std::string text = body.substr(pos, n);
    text = text.substr(0, text.find('\0'));
    pos += n;
    out.meta_bytes += static_cast<std::int64_t>(n) + 1;
    if (text != last) {
      out.changes.push_back(text);
      out.change_positions.push_back(out.audio.size());
    }
    last = text;
  }
  return out;
}

struct Stream {
  std::size_t metaint;
  std::string body;
};

Stream GenerateStream(std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  const std::size_t metaint = std::vector<std::size_t>{1, 2, 7, 16, 100, 1000, 8192, 16000, 65536}[rng() % 9];
  const std::size_t target = 1 + rng() % 200'000;
  Stream s{metaint, {}};
  std::string previous_title = "StreamTitle='first';";
  while (s.body.size() < target) {
    for (std::size_t i = 0; i < metaint; ++i) s.body += static_cast<char>(byte(rng));
    std::string text;
    switch (rng() % 4) {
      case 0: break;                            // an empty block
      case 1: text = previous_title; break;     // the same title again
      case 2: {                                 // a new title, NUL padded
        text = "StreamTitle='song " + std::to_string(rng()) + "';StreamUrl='';";
        previous_title = text;
        break;
      }
      default: {                                // a text filling its units exactly
        text = "StreamTitle='" + std::string(16 * (1 + rng() % 5), 'a' + static_cast<char>(rng() % 26)) + "';";
        text.resize((text.size() / 16) * 16);
        previous_title = text;
      }
    }
    const std::size_t units = (text.size() + 15) / 16;
    s.body += static_cast<char>(units);
    text.resize(units * 16, '\0');
    s.body += text;
  }
  return s;
}

// Collects the audio slices and notes how much audio came before each title.
struct AudioCollector : TorvaneAudioSink {
  void AudioSlice(std::span<const char> audio) override {
    EXPECT_FALSE(audio.empty());
    bytes.append(audio.data(), audio.size());
  }
  std::string bytes;
};

std::vector<std::size_t> CutPoints(std::mt19937& rng, std::size_t total) {
  std::vector<std::size_t> sizes;
  const int style = static_cast<int>(rng() % 4);
  for (std::size_t done = 0; done < total;) {
    std::size_t size = 0;
    switch (style) {
      case 0: size = 1 + rng() % 3; break;                    // tiny chunks
      case 1: size = 32767; break;                            // the largest chunks
      case 2: size = 1 + rng() % 32767; break;                // any size
      default: size = std::vector<std::size_t>{1, 15, 16, 17, 1400, 4096}[rng() % 6];
    }
    size = std::min(size, total - done);
    sizes.push_back(size);
    done += size;
  }
  return sizes;
}

// The body as sent on the wire, and the header fields that announce its framing.
struct Framed {
  std::string fields;
  std::string wire;
  bool ends = false;  // the framing itself says where the body ends
};

std::string Hex(std::size_t value, bool upper) {
  char text[20];
  std::snprintf(text, sizeof text, upper ? "%zX" : "%zx", value);
  return text;
}

Framed Frame(const std::string& body, std::mt19937& rng) {
  switch (rng() % 3) {
    case 0: return {"", body, false};
    case 1: return {"Content-Length: " + std::to_string(body.size()) + "\r\n", body + "after the end", true};
    default: break;
  }
  Framed f{"Transfer-Encoding: chunked\r\n", "", rng() % 2 == 0};
  const bool tiny = rng() % 2 == 0;
  for (std::size_t at = 0; at < body.size();) {
    const std::size_t size = std::min(body.size() - at, tiny ? 1 + rng() % 40 : 1 + rng() % 70000);
    f.wire += Hex(size, rng() % 2 == 0);
    if (rng() % 4 == 0) f.wire += " ;name=\"va;lue\";flag";
    f.wire += "\r\n" + body.substr(at, size) + "\r\n";
    at += size;
  }
  if (f.ends) f.wire += rng() % 2 ? "0\r\n\r\n" : "000;last\r\nX-Trailer: t\r\nY: u\r\n\r\nafter the end";
  return f;
}

TEST(ChunkingProperty, AnyCuttingGivesTheReferenceResult) {
  std::mt19937 rng(20261207);
  const std::string path = testing_support::UniqueTempPath("chunking_property.bin");
  for (int round = 0; round < 150; ++round) {
    const Stream stream = GenerateStream(rng);
    const Demultiplexed expected = ReferenceDemultiplex(stream.body, stream.metaint);

    hosting::EventLoop loop;
    testing_support::ScriptedSite site(loop);
    auto control = site.Create<Torvane>();
    EventLog log;
    AudioCollector sink;
    std::vector<std::size_t> change_positions;
    log.react = [&](const std::string& e) {
      if (e.starts_with("MetaChanged:")) change_positions.push_back(sink.bytes.size());
    };
    control->SetEvents(&log);
    control->SetAudioSink(&sink);
    control->Connect("h:1");
    site.socket->Accept();
    control->StartWriting(path);
    const Framed framed = Frame(stream.body, rng);
    const std::string header =
        "ICY 200 OK\r\nicy-metaint:" + std::to_string(stream.metaint) + "\r\n" + framed.fields + "\r\n";
    const std::string all = header + framed.wire;
    std::size_t at = 0;
    for (const std::size_t size : CutPoints(rng, all.size())) {
      if (!site.socket->open) break;  // the body has ended
      site.socket->Deliver(std::string_view(all).substr(at, size));
      at += size;
    }
    std::vector<std::string> changes;
    for (const auto& e : log.events)
      if (e.starts_with("MetaChanged:")) changes.push_back(e.substr(12));

    std::ifstream in(path, std::ios::binary);
    const std::string recorded{std::istreambuf_iterator<char>(in), {}};
    SCOPED_TRACE("round " + std::to_string(round) + ", metaint " + std::to_string(stream.metaint) +
                 ", framing " + framed.fields);
    ASSERT_EQ(recorded.size(), expected.audio.size());
    ASSERT_TRUE(recorded == expected.audio);
    ASSERT_EQ(changes, expected.changes);
    ASSERT_TRUE(sink.bytes == expected.audio);
    ASSERT_EQ(change_positions, expected.change_positions);
    if (framed.ends) {
      // Ended as Disconnect ends: the recording closed, then the connection.
      EXPECT_TRUE(control->StreamEnded());
      EXPECT_FALSE(control->IsConnected());
      ASSERT_GE(log.events.size(), 2u);
      EXPECT_EQ(log.events.back(), "StateChanged");
      EXPECT_EQ(log.events[log.events.size() - 2], "StateChanged");
      std::remove(path.c_str());
      continue;
    }
    EXPECT_EQ(control->ReceivedMetaInfoTotal(), expected.meta_bytes);
    EXPECT_EQ(control->ReceivedBytesTotal(), static_cast<std::int64_t>(all.size()));
    EXPECT_EQ(control->WrittenBytesTotal(), static_cast<std::int64_t>(expected.audio.size()));
    control->Disconnect();
    std::remove(path.c_str());
  }
}

TEST(ChunkingProperty, ReferenceAgreesWithTheWorkedExample) {
  const std::string block("StreamTitle='X';", 16);
  const std::string body = "0123456789" + std::string(1, '\x01') + block + "abcdefghij" + '\0' + "k";
  const Demultiplexed d = ReferenceDemultiplex(body, 10);
  EXPECT_EQ(d.audio, "0123456789abcdefghijk");
  EXPECT_EQ(d.changes, std::vector<std::string>{block});
  EXPECT_EQ(d.meta_bytes, 17);
}

}  // namespace
}  // namespace pellora::capture
