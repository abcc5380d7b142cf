// SPDX-License-Identifier: MIT
// The demo station: its MPEG frames (checked bit by bit and by ffmpeg), its metadata
// blocks, and what listeners receive over loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

#include <chrono>
#include <fstream>
#include <thread>

#include "cli/icy_stream.h"
#include "cli/silent_frames.h"
#include "tests/support/process.h"
#include "tests/support/station_runner.h"
#include "tests/support/temp_path.h"

namespace {

using pellora::cli::IcyMetadataBlock;
using pellora::cli::SilentAudioStream;
using pellora::cli::SilentFrames;
using pellora::cli::StationOptions;
using pellora::testing_support::RunCommand;
using pellora::testing_support::RunPellora;
using pellora::testing_support::StationRunner;
using boost::asio::ip::tcp;

std::string ExpectedAudio(int kbps, std::size_t bytes) {
  SilentAudioStream stream(kbps);
  std::string out;
  stream.Read(bytes, out);
  return out;
}

// ---- frames ------------------------------------------------------------------

class FramesAtBitRate : public ::testing::TestWithParam<int> {};

TEST_P(FramesAtBitRate, HeaderFieldsDecodeToTheBitRateAt44100Hz) {
  const int kbps = GetParam();
  const std::vector<int> table{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  const SilentFrames frames(kbps);
  for (std::uint64_t k = 0; k < 100; ++k) {
    const auto f = frames.Frame(k);
    ASSERT_EQ(f.size(), frames.FrameSize(k));
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1] & 0xE0, 0xE0);          // frame sync
    EXPECT_EQ((f[1] >> 3) & 3, 3);         // MPEG-1
    EXPECT_EQ((f[1] >> 1) & 3, 1);         // Layer III
    EXPECT_EQ(table[f[2] >> 4], kbps);     // bit rate index
    EXPECT_EQ((f[2] >> 2) & 3, 0);         // 44.1 kHz
    const int padding = (f[2] >> 1) & 1;
    EXPECT_EQ(f.size(), 144 * kbps * 1000 / 44100 + padding);
    EXPECT_EQ(f[39], k & 0xFF);            // sequence number after the side information
  }
}

TEST_P(FramesAtBitRate, AverageRateIsExactlyTheBitRate) {
  const int kbps = GetParam();
  const SilentFrames frames(kbps);
  std::uint64_t total = 0;
  for (std::uint64_t k = 0; k < 44100; ++k) total += frames.FrameSize(k);
  // 44100 frames of 1152 samples last 1152 s.
  EXPECT_EQ(total, std::uint64_t(kbps) * 125 * 1152);
}

TEST_P(FramesAtBitRate, FfmpegDecodesTheStreamWithoutErrors) {
  const int kbps = GetParam();
  const std::string path = pellora::testing_support::UniqueTempPath("silence_" + std::to_string(kbps) + ".mp3");
  std::ofstream(path, std::ios::binary) << ExpectedAudio(kbps, std::size_t(kbps) * 125 * 3);
  const auto probe = RunCommand("ffprobe -v error -show_entries stream=codec_name,sample_rate,bit_rate -of csv=p=0 " +
                                path + " 2>&1");
  EXPECT_EQ(probe.output, "mp3,44100," + std::to_string(kbps * 1000) + "\n");
  const auto decode = RunCommand("ffmpeg -v error -i " + path + " -f null - 2>&1");
  EXPECT_EQ(decode.status, 0);
  EXPECT_EQ(decode.output, "");
}

INSTANTIATE_TEST_SUITE_P(BitRates, FramesAtBitRate, ::testing::Values(32, 128, 320));

TEST(SilentAudioStream, PiecesOfAnySizeJoinToTheSameStream) {
  const std::string whole = ExpectedAudio(128, 5000);
  SilentAudioStream stream(128);
  std::string pieces;
  for (std::size_t n : {1, 416, 417, 1, 2000, 2165}) stream.Read(n, pieces);
  EXPECT_EQ(pieces, whole);
  EXPECT_EQ(stream.position(), 5000u);
}

// ---- metadata blocks ---------------------------------------------------------

TEST(IcyMetadataBlock, IsPaddedToSixteenBytesAfterItsLengthByte) {
  const std::string block = IcyMetadataBlock("A", "u");
  // "StreamTitle='A';StreamUrl='u';" is 30 bytes: two units of 16.
  EXPECT_EQ(block, std::string("\x02StreamTitle='A';StreamUrl='u';\0\0", 33));
}

TEST(IcyMetadataBlock, ATooLongTitleIsCutToTheLargestBlock) {
  const std::string block = IcyMetadataBlock(std::string(5000, 'x'), "u");
  ASSERT_EQ(block.size(), 1u + 255 * 16);
  EXPECT_EQ(static_cast<unsigned char>(block[0]), 255);
  EXPECT_THAT(block, ::testing::EndsWith("';StreamUrl='u';"));
}

// ---- the station over loopback -------------------------------------------------

// What a listener received: the header, the audio and the metadata texts, split by a
// demultiplexer of the test's own.
struct Reception {
  std::string header;
  std::string audio;
  std::vector<std::string> blocks;  // non-empty metadata texts, NUL padding removed
  std::size_t empty_blocks = 0;
};

std::string Request(bool metadata) {
  return std::string("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n") +
         (metadata ? "Icy-MetaData:1\r\n" : "") + "\r\n";
}

tcp::socket Listen(boost::asio::io_context& io, std::uint16_t port, bool metadata) {
  tcp::socket socket(io);
  socket.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port));
  boost::asio::write(socket, boost::asio::buffer(Request(metadata)));
  return socket;
}

Reception Receive(tcp::socket& socket, std::size_t metaint, std::size_t audio_bytes) {
  Reception r;
  std::string buffer;
  const std::size_t end = boost::asio::read_until(socket, boost::asio::dynamic_buffer(buffer), "\r\n\r\n");
  r.header = buffer.substr(0, end);
  std::string body = buffer.substr(end);
  auto take = [&](std::size_t n) {
    if (body.size() < n) {
      const std::size_t have = body.size();
      body.resize(n);
      boost::asio::read(socket, boost::asio::buffer(body.data() + have, n - have));
    }
    std::string out = body.substr(0, n);
    body.erase(0, n);
    return out;
  };
  while (r.audio.size() < audio_bytes) {
    r.audio += take(metaint ? std::min(metaint, audio_bytes - r.audio.size()) : audio_bytes);
    if (!metaint || r.audio.size() % metaint != 0) continue;
    const std::size_t length = static_cast<unsigned char>(take(1)[0]) * 16;
    if (length == 0) {
      ++r.empty_blocks;
      continue;
    }
    std::string text = take(length);
    r.blocks.push_back(text.substr(0, text.find('\0')));
  }
  return r;
}

StationOptions FastOptions() {
  StationOptions options;
  options.fast = true;
  options.metaint = 1000;
  options.title_seconds = 0.5;  // 8000 audio bytes at 128 kbit/s
  options.titles = {"Beyoncé - Halo", "Plain ASCII"};
  return options;
}

TEST(Station, AnswersWithEveryIcyField) {
  StationRunner station(FastOptions());
  boost::asio::io_context io;
  auto socket = Listen(io, station.port(), true);
  const Reception r = Receive(socket, 1000, 0);
  EXPECT_EQ(r.header,
            "ICY 200 OK\r\n"
            "icy-notice1:<BR>Pellora demo station: generated MPEG audio silence<BR>\r\n"
            "icy-notice2:Pellora demo station/1.0<BR>\r\n"
            "icy-name:Pellora Demo Radio\r\n"
            "icy-genre:Ambient\r\n"
            "icy-url:" + station.url() + "\r\n"
            "content-type:audio/mpeg\r\n"
            "icy-pub:0\r\n"
            "icy-metaint:1000\r\n"
            "icy-br:128\r\n\r\n");
}

TEST(Station, InterleavesTheFramesWithChangingTitles) {
  StationRunner station(FastOptions());
  boost::asio::io_context io;
  auto socket = Listen(io, station.port(), true);
  const Reception r = Receive(socket, 1000, 20000);
  EXPECT_EQ(r.audio, ExpectedAudio(128, 20000));
  const std::string url = station.url() + "now-playing";
  // A block whenever the title changes (every 8000 audio bytes), the length byte 0 between.
  EXPECT_THAT(r.blocks, ::testing::ElementsAre("StreamTitle='Beyoncé - Halo';StreamUrl='" + url + "';",
                                               "StreamTitle='Plain ASCII';StreamUrl='" + url + "';",
                                               "StreamTitle='Beyoncé - Halo';StreamUrl='" + url + "';"));
  EXPECT_EQ(r.empty_blocks, 20u - 3u);
}

TEST(Station, SendsAudioOnlyWhenNoMetadataIsAskedFor) {
  StationRunner station(FastOptions());
  boost::asio::io_context io;
  auto socket = Listen(io, station.port(), false);
  const Reception r = Receive(socket, 0, 5000);
  EXPECT_THAT(r.header, ::testing::Not(::testing::HasSubstr("icy-metaint")));
  EXPECT_EQ(r.audio, ExpectedAudio(128, 5000));
}

TEST(Station, HttpOkOptionChangesOnlyTheStatusLine) {
  StationOptions options = FastOptions();
  options.http_ok = true;
  StationRunner station(options);
  boost::asio::io_context io;
  auto socket = Listen(io, station.port(), true);
  const Reception r = Receive(socket, 1000, 3000);
  EXPECT_THAT(r.header, ::testing::StartsWith("HTTP/1.0 200 OK\r\nicy-notice1:"));
  EXPECT_EQ(r.audio, ExpectedAudio(128, 3000));
}

TEST(Station, ServesManyListenersAtOnceEachFromItsFirstFrame) {
  StationRunner station(FastOptions());
  boost::asio::io_context io;
  std::vector<tcp::socket> sockets;
  for (int i = 0; i < 40; ++i) sockets.push_back(Listen(io, station.port(), true));
  const std::string expected = ExpectedAudio(128, 30000);
  for (auto& socket : sockets) EXPECT_EQ(Receive(socket, 1000, 30000).audio, expected);
  EXPECT_EQ(station.listener_count(), 40u);
  sockets.clear();
  for (int i = 0; i < 200 && station.listener_count() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(station.listener_count(), 0u);
}

TEST(Station, PacesTheAudioAtTheBitRateAfterABurst) {
  StationOptions options;
  options.bit_rate_kbps = 320;  // 40,000 bytes a second; first burst one second
  StationRunner station(options);
  boost::asio::io_context io;
  auto socket = Listen(io, station.port(), false);
  const auto start = std::chrono::steady_clock::now();
  Receive(socket, 0, 40000);
  const auto burst_time = std::chrono::steady_clock::now() - start;
  std::string more(20000, '\0');
  boost::asio::read(socket, boost::asio::buffer(more));
  const auto paced_time = std::chrono::steady_clock::now() - start;
  // The burst arrives at once (unpaced it would take a second); half a second more
  // audio takes about half a second.
  EXPECT_LT(burst_time, std::chrono::milliseconds(900));
  EXPECT_GT(paced_time, std::chrono::milliseconds(300));
}

TEST(StationCommand, RefusesABitRateThatLayerThreeDoesNotHave) {
  const auto result = RunPellora("station --bitrate 100");
  EXPECT_EQ(result.status, 2);
  EXPECT_THAT(result.output, ::testing::HasSubstr("not an MPEG-1 Layer III bit rate"));
}

}  // namespace
