// `pellora download` end to end against the loopback server, and its progress line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>

#include "cli/download_progress.h"
#include "tests/support/http_peer.h"
#include "tests/support/process.h"
#include "tests/support/test_folder.h"

namespace pellora::cli {
namespace {

namespace fs = std::filesystem;
using testing_support::HttpPeer;
using testing_support::RunCommand;
using testing_support::RunPellora;
using testing_support::ReadWholeFile;
using testing_support::TestFolder;

class DownloadCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(peer.Port(), 0);
  }
  std::string Target() const { return (folder / "out.bin").string(); }

  HttpPeer peer;
  TestFolder test_folder{"download-cli-"};
  const fs::path& folder = test_folder.Path();
};

TEST_F(DownloadCommand, SavesTheFileAndSaysSoInOneLine) {
  const auto result = RunPellora("download " + peer.Url("/sized/123456") + " " + Target());
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadWholeFile(Target()), HttpPeer::Body(123456));
  EXPECT_NE(result.output.find(Target() + ": 120.6 KiB (123456 bytes) in "), std::string::npos)
      << result.output;
  EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
}

TEST_F(DownloadCommand, QuietSaysNothingOnSuccess) {
  const auto result = RunPellora("download --quiet " + peer.Url("/chunked/5000") + " " + Target());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(ReadWholeFile(Target()), HttpPeer::Body(5000));
}

TEST_F(DownloadCommand, FailuresExitWithOne) {
  struct Case {
    std::string url, file, says;
  };
  const Case cases[] = {
      {peer.Url("/missing"), Target(), "could not download"},
      {peer.Url("/sized/10"), (folder / "none" / "x").string(), "could not download"},
      {"gopher://127.0.0.1/x", Target(),
       "Warning: 1:Error in call to BeginDownload().\r\n\r\nError Description: Unsupported protocol"},
  };
  for (const Case& c : cases) {
    const auto result = RunPellora("download --quiet '" + c.url + "' '" + c.file + "'");
    EXPECT_EQ(result.status, 1) << c.url;
    EXPECT_NE(result.output.find(c.says), std::string::npos) << result.output;
    EXPECT_FALSE(fs::exists(c.file)) << c.url;
  }
}

TEST_F(DownloadCommand, DrawsAProgressLineOnATerminal) {
  // `script` gives the command a terminal.
  const auto result = RunCommand("script -qec '" + std::string(PELLORA_CLI) + " download " +
                                 peer.Url("/slow/400000") + " " + Target() + "' /dev/null");
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("/ 390.6 KiB"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("ETA "), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("\r\033[K"), std::string::npos) << result.output;
}

TEST(DownloadProgress, FormatsBytesForPeople) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0 B"}, {1023, "1023 B"}, {1024, "1.0 KiB"}, {1536, "1.5 KiB"},
      {1048576, "1.0 MiB"}, {2147483647, "2.0 GiB"}, {std::int64_t{5} << 40, "5.0 TiB"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatBytes(bytes), text) << bytes;
}

TEST(DownloadProgress, FormatsDurations) {
  const std::pair<double, const char*> cases[] = {
      {0, "0:00"}, {59.4, "0:59"}, {187, "3:07"}, {3600, "1:00:00"}, {23349, "6:29:09"}, {-1, "--:--"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(FormatDuration(seconds), text) << seconds;
}

TEST(DownloadProgress, LineShowsBarBytesRateAndTimeLeft) {
  EXPECT_EQ(FormatProgressLine(256 << 10, 1 << 20, 2.0, 8),
            "[##      ]  25%  256.0 KiB / 1.0 MiB  128.0 KiB/s  ETA 0:06");
  EXPECT_EQ(FormatProgressLine(0, 1000, 0.0, 4), "[    ]   0%  0 B / 1000 B  0 B/s  ETA --:--");
  EXPECT_EQ(FormatProgressLine(1000, 1000, 1.0, 4), "[####] 100%  1000 B / 1000 B  1000 B/s  ETA 0:00");
}

}  // namespace
}  // namespace pellora::cli
