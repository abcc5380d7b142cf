// SPDX-License-Identifier: MIT
// `pellora download` end to end against the loopback server, and its progress line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
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
using testing_support::Spawned;
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

TEST_F(DownloadCommand, FolderGetsTheFileUnderTheUrlsName) {
  const auto result = RunPellora("download " + peer.Url("/sized/4321") + " -o " + folder.string());
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadWholeFile((folder / "4321").string()), HttpPeer::Body(4321));
  EXPECT_NE(result.output.find((folder / "4321").string() + ": 4.2 KiB (4321 bytes)"), std::string::npos) << result.output;
}

TEST_F(DownloadCommand, QuietSaysNothingOnSuccess) {
  const auto result = RunPellora("download --quiet " + peer.Url("/chunked/5000") + " " + Target());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(ReadWholeFile(Target()), HttpPeer::Body(5000));
}

// One line with the reason and the URL or file, and an exit status by kind.
TEST_F(DownloadCommand, FailuresSayWhyOnOneLineAndExitByKind) {
  std::string ended_url;
  {
    HttpPeer ended;
    ended_url = ended.Url("/sized/10");
  }
  struct Case {
    std::string url, file;
    int status;
    std::string says;
  };
  const std::string missing_folder = (folder / "none" / "x").string();
  const Case cases[] = {
      {peer.Url("/missing"), Target(), 4,
       "pellora download: " + peer.Url("/missing") + ": the server answered HTTP status 404\n"},
      {ended_url, Target(), 3, "pellora download: " + ended_url + ": Failed to connect to 127.0.0.1 port"},
      {peer.Url("/stall/1000"), Target(), 3, "stalled: less than a byte a second for 1 s\n"},
      {peer.Url("/sized/10"), missing_folder, 5,
       "pellora download: " + peer.Url("/sized/10") + ": cannot write " + missing_folder +
           ": No such file or directory\n"},
      {"file://" + folder.string(), Target(), 5, "Is a directory\n"},
      {"gopher://127.0.0.1/x", Target(), 2,
       "pellora download: gopher://127.0.0.1/x: Unsupported protocol\nRun 'pellora download --help'"},
  };
  for (const Case& c : cases) {
    const auto result = RunPellora("download --quiet --timeout 1 '" + c.url + "' '" + c.file + "'");
    EXPECT_EQ(result.status, c.status) << c.url << "\n" << result.output;
    EXPECT_NE(result.output.find(c.says), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Warning"), std::string::npos) << result.output;
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), c.status == 2 ? 2 : 1)
        << result.output;
    EXPECT_FALSE(fs::exists(c.file)) << c.url;
  }
}

TEST_F(DownloadCommand, UsageErrorsShareThePrefixAndExitWithTwo) {
  const std::string cases[] = {"download", "download " + peer.Url("/sized/1"),
                               "download " + peer.Url("/sized/1") + " a -o b",
                               "download --timeout 0 " + peer.Url("/sized/1") + " a", "download --bogus x y"};
  for (const std::string& args : cases) {
    const auto result = RunPellora(args);
    EXPECT_EQ(result.status, 2) << args;
    EXPECT_EQ(result.output.rfind("pellora download: ", 0), 0u) << result.output;
    EXPECT_NE(result.output.find("Run 'pellora download --help' for more information.\n"), std::string::npos)
        << result.output;
  }
  EXPECT_FALSE(fs::exists(folder / "a"));
}

TEST_F(DownloadCommand, DashWritesToStandardOutputAndMessagesToStderr) {
  const std::string messages = (folder / "messages.txt").string();
  const auto result = RunCommand(std::string(PELLORA_CLI) + " download " + peer.Url("/chunked/70000") +
                                 " -o - 2>" + messages);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, HttpPeer::Body(70000));
  EXPECT_NE(ReadWholeFile(messages).find("standard output: 68.4 KiB (70000 bytes) in "), std::string::npos);
  EXPECT_FALSE(fs::exists("-"));
}

// A named pipe (as /dev/null would be) takes the data as it arrives, as with curl,
// and stays a pipe; a reader that goes away ends the run by SIGPIPE, as `record` does.
TEST_F(DownloadCommand, AFifoIsWrittenInPlaceAndAGoneReaderEndsItQuietly) {
  const std::string fifo = (folder / "player").string(), heard = (folder / "heard").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto result = RunCommand("{ timeout 10 cat " + fifo + " > " + heard + " & " + PELLORA_CLI + " download -q " +
                                 peer.Url("/sized/70000") + " -o " + fifo + " 2>&1; s=$?; wait; exit $s; }");
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(ReadWholeFile(heard), HttpPeer::Body(70000));
  const auto closed = RunCommand("bash -c '" + std::string(PELLORA_CLI) + " download " + peer.Url("/slow/400000") +
                                 " -o - 2>&1 | head -c 1000 >/dev/null; exit ${PIPESTATUS[0]}'");
  EXPECT_EQ(closed.status, 128 + SIGPIPE);
}

// Ctrl-C or SIGTERM in the middle of a download removes its spool file; the
// process ends by the signal, as a shell expects.
TEST_F(DownloadCommand, InterruptedDownloadLeavesNoSpool) {
  for (const int signal_number : {SIGINT, SIGTERM}) {
    Spawned download({PELLORA_CLI, "download", "--quiet", peer.Url("/stall/100000"), Target()});
    ASSERT_TRUE(download.Started());
    const auto spooled = [&] { return !fs::is_empty(folder); };
    for (int i = 0; i < 1000 && !spooled(); ++i) ::usleep(10000);
    ASSERT_TRUE(spooled()) << "no spool file appeared";
    ::usleep(100000);  // the first bytes reach the spool
    EXPECT_EQ(download.Signal(signal_number), signal_number);
    EXPECT_TRUE(fs::is_empty(folder)) << fs::directory_iterator(folder)->path();
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
  // No size announced: the bytes and the rate.
  EXPECT_EQ(FormatProgressLine(3 << 20, 0, 2.0, 4), "3.0 MiB  1.5 MiB/s");
}

}  // namespace
}  // namespace pellora::cli
