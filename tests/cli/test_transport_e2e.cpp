// SPDX-License-Identifier: MIT
// `pellora record` over today's transports, end to end against real servers
// started here on loopback: stunnel with certificates of a test-made authority
// (openssl) and nginx as an HTTP/1.1 proxy that answers chunked, both in front of
// the demo station; scripted servers for header names in any case and a server
// that closes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <memory>

#include "cli/silent_frames.h"
#include "tests/support/child_process.h"
#include "tests/support/icy_server.h"
#include "tests/support/process.h"
#include "tests/support/recorded_file.h"
#include "tests/support/station_runner.h"

namespace {

using namespace pellora::testing_support;
using ::testing::HasSubstr;

std::string StationAudio(std::size_t bytes) {
  pellora::cli::SilentAudioStream stream(128);
  std::string out;
  stream.Read(bytes, out);
  return out;
}

// The servers, shared by every test of the suite.
struct Servers {
  std::filesystem::path dir;
  std::unique_ptr<StationRunner> station;
  std::uint16_t good = 0, other = 0, expired = 0, proxy = 0;
  std::unique_ptr<ChildProcess> stunnel, nginx;

  void WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(dir / name) << text;
  }

  void StartStunnel() {
    std::string conf = "foreground = yes\npid =\n";
    for (auto [name, port] : {std::pair{"good", &good}, {"other", &other}, {"expired", &expired}}) {
      *port = UnusedLoopbackPort();
      conf += std::string("[") + name + "]\naccept = 127.0.0.1:" + std::to_string(*port) +
              "\nconnect = 127.0.0.1:" + std::to_string(station->port()) + "\ncert = " +
              (dir / name).string() + ".pem\nkey = " + (dir / name).string() + ".key\n";
    }
    WriteFile("stunnel.conf", conf);
    stunnel = std::make_unique<ChildProcess>(std::vector<std::string>{"stunnel4", (dir / "stunnel.conf").string()});
  }

  void StartNginx() {
    proxy = UnusedLoopbackPort();
    const std::string d = dir.string();
    WriteFile("nginx.conf", "daemon off; master_process off; pid " + d + "/nginx.pid; error_log " + d +
                                "/nginx.log;\nevents { worker_connections 64; }\nhttp {\n access_log off;\n" +
                                " client_body_temp_path " + d + "; proxy_temp_path " + d +
                                "; fastcgi_temp_path " + d + "; uwsgi_temp_path " + d + "; scgi_temp_path " + d +
                                ";\n server { listen 127.0.0.1:" + std::to_string(proxy) +
                                "; location / { proxy_pass http://127.0.0.1:" + std::to_string(station->port()) +
                                "; proxy_http_version 1.1; proxy_buffering off; } }\n}\n");
    nginx = std::make_unique<ChildProcess>(
        std::vector<std::string>{"nginx", "-c", (dir / "nginx.conf").string(), "-p", d});
  }
};

Servers* servers = nullptr;

class Transport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    servers = new Servers;
    servers->dir = std::filesystem::path(::testing::TempDir()) / ("pellora-transport-" + std::to_string(::getpid()));
    std::filesystem::create_directories(servers->dir);
    const auto made = RunCommand(std::string(PELLORA_SOURCE_DIR) + "/tests/support/make_test_ca.sh " +
                                 servers->dir.string() + " 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
    pellora::cli::StationOptions options;
    options.fast = true;
    options.http_ok = true;  // a proxy in front speaks HTTP
    servers->station = std::make_unique<StationRunner>(options);
    servers->StartStunnel();
    servers->StartNginx();
  }
  static void TearDownTestSuite() {
    const auto dir = servers->dir;
    delete servers;
    servers = nullptr;
    std::filesystem::remove_all(dir);
  }

  static std::string Https(const std::string& host, std::uint16_t port) {
    return "https://" + host + ":" + std::to_string(port) + "/";
  }
  std::string Out(const std::string& name) const {
    return (servers->dir / (std::to_string(::getpid()) + name)).string();
  }
  std::string CaFile() const { return " --ca-file " + (servers->dir / "ca.pem").string(); }
};

TEST_F(Transport, HttpsRecordingIsByteExact) {
  ASSERT_TRUE(WaitForPort(servers->good));
  for (const std::string host : {"localhost", "127.0.0.1"}) {
    const std::string out = Out("https-" + host + ".mp3");
    const auto result = RunPellora("record " + Https(host, servers->good) + CaFile() + " --max-bytes 60000 -o " + out);
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(ReadFile(out), StationAudio(60000)) << host;
  }
}

TEST_F(Transport, ProbeOverHttps) {
  ASSERT_TRUE(WaitForPort(servers->good));
  const auto result = RunPellora("probe " + Https("localhost", servers->good) + CaFile());
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_THAT(result.output, HasSubstr("Pellora Demo Radio"));
}

TEST_F(Transport, RedirectionFromHttpToHttpsIsFollowed) {
  ASSERT_TRUE(WaitForPort(servers->good));
  IcyServer redirect({{"HTTP/1.1 302 Found\r\nLocation: " + Https("localhost", servers->good) + "\r\n\r\n"}, {}, true});
  const std::string out = Out("redirected.mp3");
  const auto result =
      RunPellora("record " + redirect.Url() + " --follow-redirects" + CaFile() + " --max-bytes 5000 -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadFile(out), StationAudio(5000));
}

struct CertificateCase {
  const char* name;
  std::uint16_t Servers::*port;
  bool trust_ca;
  const char* why;
};

class CertificateCheck : public Transport, public ::testing::WithParamInterface<CertificateCase> {};

TEST_P(CertificateCheck, FailsSayingWhyAndInsecureAcceptsIt) {
  const CertificateCase& c = GetParam();
  const std::uint16_t port = servers->*c.port;
  ASSERT_TRUE(WaitForPort(port));
  const auto refused = RunPellora("record " + Https("localhost", port) + (c.trust_ca ? CaFile() : "") +
                                  " --max-bytes 1000 -o " + Out("refused.mp3"));
  EXPECT_EQ(refused.status, 3);  // a network failure (cli/exit_codes.h)
  EXPECT_FALSE(std::filesystem::exists(Out("refused.mp3")));
  EXPECT_THAT(refused.output, HasSubstr(std::string("certificate verify failed: ") + c.why));
  const std::string out = Out(std::string("insecure-") + c.name + ".mp3");
  const auto insecure = RunPellora("record " + Https("localhost", port) + " --insecure --max-bytes 1000 -o " + out);
  EXPECT_EQ(insecure.status, 0) << insecure.output;
  EXPECT_EQ(ReadFile(out), StationAudio(1000));
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, CertificateCheck,
    ::testing::Values(CertificateCase{"Untrusted", &Servers::good, false, "unable to get local issuer certificate"},
                      CertificateCase{"WrongHostName", &Servers::other, true, "hostname mismatch"},
                      CertificateCase{"Expired", &Servers::expired, true, "certificate has expired"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Transport, ChunkedAnswerOfAProxyIsRecordedByteExact) {
  ASSERT_TRUE(WaitForPort(servers->proxy));
  const std::string out = Out("chunked.mp3");
  const auto result = RunPellora("record http://127.0.0.1:" + std::to_string(servers->proxy) +
                                 "/ --max-bytes 60000 -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadFile(out), StationAudio(60000));
}

TEST_F(Transport, MetaintInAnyCaseThenTheServerCloses) {
  const std::string block("\x01StreamTitle='T';", 17);
  IcyServer server({{"ICY 200 OK\r\nIcy-MetaInt: 4\r\n\r\nabcd" + block + "efgh"}, {}, true});
  const std::string out = Out("metaint.mp3");
  const auto result = RunPellora("record " + server.Url() + " -o " + out);
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadFile(out), "abcdefgh");
}

// A header sent a byte at a time keeps no one waiting beyond the stall limit.
TEST_F(Transport, SlowDripHeaderFailsWithinTheStallTimeout) {
  IcyReply drip;
  for (const char c : std::string("ICY 200 OK\r\nicy-name: Drip\r\nicy-metaint: 8192\r\n\r\n"))
    drip.writes.emplace_back(1, c);
  drip.pause = std::chrono::milliseconds(200);
  IcyServer server(drip);
  const std::string out = Out("drip.mp3");
  const auto result = RunPellora("record " + server.Url() + " --stall-timeout 1 -o " + out);
  EXPECT_EQ(result.status, 3) << result.output;
  EXPECT_THAT(result.output, HasSubstr("No complete response header within 1 seconds")) << result.output;
  EXPECT_FALSE(std::filesystem::exists(out));
}

// With --tag, a stream that ends before its first title is tagged with the
// station's values all the same, and keeps every byte of its audio.
TEST_F(Transport, StreamEndingBeforeTheFirstTitleIsTaggedWithTheStation) {
  IcyServer server({{"ICY 200 OK\r\nicy-genre: Ambient\r\nicy-url: http://radio.example/\r\n"
                     "icy-metaint: 8192\r\n\r\n" + StationAudio(5000)}, {}, true});
  const std::string out = Out("untitled.mp3");
  const auto result = RunPellora("record " + server.Url() + " --tag -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  const std::string file = ReadFile(out);
  EXPECT_TRUE(file.substr(Id3v2Size(file)) == StationAudio(5000));
  const auto tags = nlohmann::json::parse(RunPellora("tags --json " + out).output, nullptr, false);
  EXPECT_EQ(tags["Genre"], "Ambient");
  EXPECT_EQ(tags["InternetRadioURL"], "http://radio.example/");
  EXPECT_EQ(tags["Title"], "");
}

}  // namespace
