// SPDX-License-Identifier: MIT
// `pellora record --split` on a real station: MPD playing three tagged MP3 files
// through its httpd output (LAME, with ICY titles), started by the test. Every
// song file must decode cleanly (ffmpeg), last as long as its Info frame says
// (ffprobe, within one frame), and carry the artist and title that mutagen reads.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/loopback_port.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
using pellora::testing_support::ReadFile;
using pellora::testing_support::RunCommand;
using pellora::testing_support::RunPellora;

constexpr double kFrameSeconds = 1152 / 44100.0;

// Sends MPD protocol commands on one connection; returns the replies.
std::string MpdCommands(unsigned short port, const std::string& commands) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  std::string reply;
  // A socket whose connection was refused is not tried again: each attempt has a
  // new one.
  int fd = -1;
  for (int attempt = 0; attempt < 200 && fd < 0; ++attempt) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
    ::close(fd);
    fd = -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (fd < 0) return reply;
  const std::string all = "command_list_begin\n" + commands + "command_list_end\nclose\n";
  if (::write(fd, all.data(), all.size()) < 0) return reply;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) reply.append(buffer, std::size_t(n));
  ::close(fd);
  return reply;
}

class MpdStation : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunCommand("command -v mpd ffmpeg ffprobe >/dev/null && echo yes").output != "yes\n")
      GTEST_SKIP() << "mpd, ffmpeg or ffprobe missing (scripts/install-deps installs them)";
    dir = fs::path(::testing::TempDir()) / ("split_mpd_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "music");
    fs::create_directories(dir / "playlists");
    for (int i = 1; i <= 3; ++i) {
      const std::string name = (dir / "music" / (std::to_string(i) + ".mp3")).string();
      ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i sine=frequency=" + std::to_string(300 + 100 * i) +
                           ":duration=4 -ac 2 -c:a libmp3lame -b:a 128k -metadata artist='Artist " +
                           std::to_string(i) + "' -metadata title='Song " + std::to_string(i) + "' " + name + " 2>&1")
                    .status,
                0);
    }
    control_port = pellora::testing_support::UnusedLoopbackPort();
    do stream_port = pellora::testing_support::UnusedLoopbackPort();
    while (stream_port == control_port);
    std::ofstream(dir / "mpd.conf") << "music_directory \"" << (dir / "music").string() << "\"\n"
                                    << "playlist_directory \"" << (dir / "playlists").string() << "\"\n"
                                    << "db_file \"" << (dir / "db").string() << "\"\n"
                                    << "pid_file \"" << (dir / "pid").string() << "\"\n"
                                    << "log_file \"" << (dir / "log").string() << "\"\n"
                                    << "bind_to_address \"127.0.0.1\"\nport \"" << control_port << "\"\n"
                                    << "audio_output {\n type \"httpd\"\n name \"test\"\n encoder \"lame\"\n"
                                    << " port \"" << stream_port << "\"\n bitrate \"128\"\n"
                                    << " format \"44100:16:2\"\n always_on \"yes\"\n}\n";
    ASSERT_EQ(std::system(("mpd " + (dir / "mpd.conf").string() + " 2>/dev/null").c_str()), 0);
    MpdCommands(control_port, "update\n");
    for (int i = 0; i < 100 && MpdCommands(control_port, "status\n").find("updating_db") != std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    MpdCommands(control_port, "add \"\"\nrepeat 1\nplay\n");
    // The stream's port opens after the control port, and later still on a loaded machine.
    ASSERT_TRUE(pellora::testing_support::WaitForPort(stream_port)) << ReadFile(dir / "log");
  }
  void TearDown() override {
    if (fs::exists(dir / "pid")) {
      const pid_t pid = std::stoi(ReadFile(dir / "pid"));
      ::kill(pid, SIGTERM);
      for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    fs::remove_all(dir);
  }

  fs::path dir;
  unsigned short control_port = 0, stream_port = 0;
};

TEST_F(MpdStation, SplitSongsDecodeLastAsTheirInfoFrameSaysAndCarryTheirTags) {
  const auto result = RunPellora("record http://127.0.0.1:" + std::to_string(stream_port) + "/ --split -o '" +
                                 (dir / "songs").string() + "' --duration 13 --json-events");
  ASSERT_EQ(result.status, 0) << result.output;
  int complete = 0;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) {
    const auto event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded() || event["event"] != "SongSaved") continue;
    const std::string path = event["path"];
    SCOPED_TRACE(path);
    complete += event["complete"].get<bool>();
    const std::string number = event["title"].get<std::string>().substr(5);
    EXPECT_EQ(event["artist"], "Artist " + number);
    EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1").output, "");
    const double duration = std::stod(
        RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'").output);
    const auto tags = nlohmann::json::parse(RunCommand(std::string(PELLORA_CLI) + " tags --json '" + path + "'").output);
    EXPECT_NEAR(duration, tags["VbrFrames"].get<double>() * kFrameSeconds, kFrameSeconds);
    EXPECT_NEAR(duration, event["seconds"].get<double>(), kFrameSeconds);
    const auto mutagen = RunCommand(
        "/usr/bin/python3 -c 'import sys, mutagen; t = mutagen.File(sys.argv[1]).tags; "
        "print(t[\"TPE1\"].text[0], t[\"TIT2\"].text[0], sep=\"|\")' '" + path + "'");
    EXPECT_EQ(mutagen.output, "Artist " + number + "|Song " + number + "\n");
  }
  EXPECT_GE(complete, 2) << result.output;
}

}  // namespace
