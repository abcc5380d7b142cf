// SPDX-License-Identifier: MIT
// `pellora record`, `probe` and `demo` end to end: the built binary against the
// demo station (run in this process) and against scripted loopback servers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/silent_frames.h"
#include "tests/support/icy_server.h"
#include "tests/support/process.h"
#include "tests/support/recorded_file.h"
#include "tests/support/station_runner.h"
#include "tests/support/temp_path.h"

namespace {

using pellora::cli::SilentAudioStream;
using pellora::cli::StationOptions;
using pellora::testing_support::IcyReply;
using pellora::testing_support::IcyServer;
using pellora::testing_support::Id3v2Size;
using pellora::testing_support::ReadFile;
using pellora::testing_support::RunCommand;
using pellora::testing_support::RunPellora;
using pellora::testing_support::StationRunner;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

std::string ExpectedAudio(std::size_t bytes) {
  SilentAudioStream stream(128);
  std::string out;
  stream.Read(bytes, out);
  return out;
}

nlohmann::json TagsOf(const std::string& path) {
  const auto result = RunCommand(std::string(PELLORA_CLI) + " tags --json '" + path + "'");
  EXPECT_EQ(result.status, 0);
  return nlohmann::json::parse(result.output, nullptr, false);
}

// A plain web server (Python's http.server) on loopback, serving the files of a
// folder with the content types of their extensions.
class StaticWebServer {
 public:
  explicit StaticWebServer(const std::filesystem::path& folder) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      if (const int quiet = ::open("/dev/null", O_WRONLY); quiet >= 0) ::dup2(quiet, STDERR_FILENO);
      ::execlp("python3", "python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
               folder.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;  // "Serving HTTP on 127.0.0.1 port 43567 (http://127.0.0.1:43567/) ..."
    for (char c; ::read(out[0], &c, 1) == 1 && c != '\n';) line += c;
    ::close(out[0]);
    if (const auto at = line.find(" port "); at != std::string::npos) port_ = std::atoi(line.c_str() + at + 6);
  }
  ~StaticWebServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

class RecordCommand : public ::testing::Test {
 protected:
  RecordCommand() {
    dir = pellora::testing_support::TempPathForCurrentTest("record_", "");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  std::string File(const std::string& name) const { return (dir / name).string(); }

  std::filesystem::path dir;
};

TEST_F(RecordCommand, TaggedRecordingCarriesTheTitleOfTheMomentAndPlayableAudio) {
  StationRunner station(StationOptions{});
  const std::string out = File("tagged.mp3");
  // The station's stream starts with its frame 0: 60 whole frames (1.6 s, past
  // the first title) end the file on a frame, so that ffmpeg sees no cut frame.
  const pellora::cli::SilentFrames frames(128);
  std::uint64_t whole_frames = 0;
  for (std::uint64_t k = 0; k < 60; ++k) whole_frames += frames.FrameSize(k);
  const auto result = RunPellora("record " + station.url() + " --tag --comments 'hi there' --encoded-by enc " +
                                 "--copyright cc --languages eng --max-bytes " + std::to_string(whole_frames) +
                                 " --quiet -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(result.output, "");  // --quiet, and no status line when stderr is not a terminal

  const auto tags = TagsOf(out);
  EXPECT_EQ(tags["Title"], "Beyoncé - Loopback Love");
  EXPECT_EQ(tags["Artist"], "Beyoncé - Loopback Love");
  EXPECT_EQ(tags["Genre"], "Ambient");
  EXPECT_EQ(tags["Copyright"], station.url());
  EXPECT_EQ(tags["InternetRadioURL"], station.url());
  EXPECT_EQ(tags["InternetRadioStationOwner"], station.url());
  EXPECT_EQ(tags["InternetRadioStationName"], station.url() + "now-playing");
  EXPECT_EQ(tags["Comments"], "hi there");
  EXPECT_EQ(tags["EncodedBy"], "enc");
  EXPECT_EQ(tags["CopyrightInfo"], "cc");
  EXPECT_EQ(tags["Languages"], "eng");
  EXPECT_EQ(tags["ID3v2Exists"], true);
  EXPECT_EQ(tags["SamplingRateFrequency"], 44100);
  EXPECT_EQ(tags["BitRate"], 128000);

  const auto probe = RunCommand("ffprobe -v error -show_entries stream=codec_name,bit_rate -of csv=p=0 '" + out + "'");
  EXPECT_EQ(probe.output, "mp3,128000\n");
  EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + out + "' -f null - 2>&1").output, "");
}

TEST_F(RecordCommand, AppendAfterATaggedRecordingRetagsAndContinuesTheAudio) {
  const std::string out = File("append.mp3");
  std::string first_audio;
  {
    StationOptions options;
    options.titles = {"First Song"};
    StationRunner station(options);
    ASSERT_EQ(RunPellora("record " + station.url() + " --tag --max-bytes 20000 -o " + out).status, 0);
    const std::string file = ReadFile(out);
    first_audio = file.substr(Id3v2Size(file));
    // The first title comes after 8192 bytes; the audio before it is kept after the tags.
    ASSERT_TRUE(first_audio == ExpectedAudio(20000)) << first_audio.size() << " bytes";
  }
  StationOptions options;
  options.titles = {"Second Song"};
  StationRunner station(options);
  ASSERT_EQ(RunPellora("record " + station.url() + " --tag --append --max-bytes 10000 -o " + out).status, 0);
  const std::string file = ReadFile(out);
  const std::string audio = file.substr(Id3v2Size(file));
  ASSERT_EQ(audio.size(), 30000u);
  EXPECT_TRUE(audio.substr(0, 20000) == first_audio);
  EXPECT_TRUE(audio.substr(20000) == ExpectedAudio(10000));  // held until the title, then appended whole
  EXPECT_EQ(TagsOf(out)["Title"], "Second Song");
}

TEST_F(RecordCommand, UntaggedRecordingIsTheStationsAudioByteForByte) {
  StationRunner station(StationOptions{});
  const std::string out = File("exact.mp3");
  const auto result = RunPellora("record " + station.url() + " --max-bytes 50000 -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadFile(out), ExpectedAudio(50000));
  EXPECT_THAT(result.output, MatchesRegex("pellora record: .*/exact.mp3: 48.8 KiB \\(50000 bytes\\) in 0:0[0-9], "
                                          "[0-9] titles?\n"));
}

TEST_F(RecordCommand, DashRecordsToStandardOutputByteForByte) {
  StationRunner station(StationOptions{});
  const std::string out = File("piped.mp3");
  const auto result =
      RunCommand(std::string(PELLORA_CLI) + " record " + station.url() + " --max-bytes 30001 -o - 2>/dev/null | cat > " + out);
  ASSERT_EQ(result.status, 0);
  EXPECT_TRUE(ReadFile(out) == ExpectedAudio(30001)) << ReadFile(out).size() << " bytes";
  EXPECT_FALSE(std::filesystem::exists(dir / "-"));
  // A reader that goes away ends the run without a word, by SIGPIPE, as `download` does.
  const std::string errors = File("errors.txt");
  const auto closed = RunCommand("bash -c '" + std::string(PELLORA_CLI) + " record " + station.url() + " -o - 2>" +
                                 errors + " | head -c 1000 >/dev/null; exit ${PIPESTATUS[0]}'");
  EXPECT_EQ(closed.status, 128 + SIGPIPE);
  EXPECT_EQ(ReadFile(errors), "");
}

// A named pipe (as a device would be) takes the audio as it arrives and stays a pipe.
TEST_F(RecordCommand, AFifoIsWrittenInPlace) {
  StationRunner station(StationOptions{});
  ASSERT_EQ(::mkfifo(File("player").c_str(), 0600), 0);
  const auto result = RunCommand("cd '" + dir.string() + "' && { timeout 10 cat player > heard & " + PELLORA_CLI + " record " +
                                 station.url() + " --max-bytes 20000 -o player 2>&1; s=$?; wait; exit $s; }");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(std::filesystem::is_fifo(File("player")));
  EXPECT_TRUE(ReadFile(File("heard")) == ExpectedAudio(20000)) << ReadFile(File("heard")).size() << " bytes";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);
}

// The file a link leads to is replaced, keeping its permissions; the link stays a link.
TEST_F(RecordCommand, ALinkIsFollowedAndTheReplacedFileKeepsItsPermissions) {
  StationRunner station(StationOptions{});
  std::ofstream(File("private.mp3")) << "yesterday";
  std::filesystem::permissions(File("private.mp3"), std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write);
  std::filesystem::create_symlink("private.mp3", File("link.mp3"));
  const auto result = RunPellora("record " + station.url() + " --max-bytes 10000 -q -o " + File("link.mp3"));
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(std::filesystem::is_symlink(File("link.mp3")));
  EXPECT_EQ(ReadFile(File("private.mp3")), ExpectedAudio(10000));
  EXPECT_EQ(std::filesystem::status(File("private.mp3")).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);
}

// Nothing is created while the station sends no audio (a kill then leaves
// nothing), and a run stopped before any audio is a failure that says so.
TEST_F(RecordCommand, WaitingForAudioTouchesNothingAndStoppingThenFails) {
  IcyServer server({{"ICY 200 OK\r\nicy-name:Mute\r\n\r\n"}});  // and then nothing, connection open
  std::ofstream(File("kept.mp3")) << "yesterday";
  const auto result = RunCommand("cd '" + dir.string() + "' && { " + PELLORA_CLI + " record " + server.Url() +
                                 " -o kept.mp3 --duration 1 2>&1 & sleep 0.6; ls -A; wait $!; }");
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.output, "kept.mp3\npellora record: " + server.Url() + ": no audio received in 1 s\n");
  EXPECT_EQ(ReadFile(File("kept.mp3")), "yesterday");
}

struct PlaylistCase {
  const char* name;
  const char* file;
  const char* text;  // %DEAD% and %LIVE% stand for a refusing URL and the station
};

class PlaylistLink : public RecordCommand, public ::testing::WithParamInterface<PlaylistCase> {};

// The first entry refuses the connection; the second is recorded, and the run says so.
TEST_P(PlaylistLink, RecordsTheFirstEntryThatAnswers) {
  StationRunner station(StationOptions{});
  std::string text = GetParam().text;
  const auto put = [&text](const std::string& key, const std::string& value) {
    for (auto at = text.find(key); at != std::string::npos; at = text.find(key)) text.replace(at, key.size(), value);
  };
  put("%DEAD%", "http://127.0.0.1:1/dead");
  put("%LIVE%", station.url());
  std::filesystem::create_directories(dir / "web");
  std::ofstream(dir / "web" / GetParam().file) << text;
  StaticWebServer web(dir / "web");
  const std::string out = File("from-playlist.mp3");
  const auto result = RunPellora("record " + web.Url("/" + std::string(GetParam().file)) +
                                 " --stall-timeout 0.5 --max-bytes 20000 -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(ReadFile(out) == ExpectedAudio(20000)) << ReadFile(out).size() << " bytes";
  EXPECT_THAT(result.output, HasSubstr("pellora record: recording " + station.url() + " (entry 2 of 2 of the playlist "));
  // --strict refuses "HTTP/1.x 200" streams, not the web server's playlist.
  const auto probe = RunPellora("probe --strict " + web.Url("/" + std::string(GetParam().file)));
  ASSERT_EQ(probe.status, 0) << probe.output;
  EXPECT_THAT(probe.output, HasSubstr("URL:        " + station.url() + "\n"));
  EXPECT_THAT(probe.output, HasSubstr("Station:    Pellora Demo Radio\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PlaylistLink,
    ::testing::Values(PlaylistCase{"Pls", "radio.pls",
                                   "[playlist]\nNumberOfEntries=2\nFile1=%DEAD%\nTitle1=Old\nFile2=%LIVE%\nVersion=2\n"},
                      PlaylistCase{"M3u", "radio.m3u", "#EXTM3U\n#EXTINF:-1,Old\n%DEAD%\n#EXTINF:-1,Live\n%LIVE%\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Icecast serves /MOUNT.m3u also for a mount without a source: the failure names
// the entry that answered 404, not the playlist, which answered fine.
TEST_F(RecordCommand, APlaylistsOnlyEntryRefusedIsNamed) {
  IcyServer missing({{"HTTP/1.0 404 File Not Found\r\n\r\n"}, {}, true});
  std::filesystem::create_directories(dir / "web");
  std::ofstream(dir / "web" / "live.m3u") << missing.Url("/live") << "\n";
  StaticWebServer web(dir / "web");
  const std::string reason = ": no entry of the playlist " + web.Url("/live.m3u") + " answered (the only one, " +
                             missing.Url("/live") + ": the server answered \"HTTP/1.0 404 File Not Found\")\n";
  for (const std::string command : {"record", "probe"}) {
    const std::string output = command == "record" ? " -o " + File("x.mp3") : "";
    const auto result = RunPellora(command + " " + web.Url("/live.m3u") + output);
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.output, "pellora " + command + ": " + web.Url("/live.m3u") + reason);
  }
}

TEST_F(RecordCommand, FollowsARedirectionOnlyWhenAsked) {
  StationRunner station(StationOptions{});
  IcyServer redirect({{"HTTP/1.1 302 Found\r\nLocation: " + station.url() + "\r\n\r\n"}, {}, true});
  const std::string out = File("redirected.mp3");
  const auto refused = RunPellora("record " + redirect.Url() + " --max-bytes 1000 -o " + out);
  EXPECT_EQ(refused.status, 4);
  EXPECT_EQ(refused.output, "pellora record: " + redirect.Url() + ": redirected to " + station.url() +
                                " (--follow-redirects follows it)\n");
  const auto followed = RunPellora("record " + redirect.Url() + " --follow-redirects --max-bytes 30000 -o " + out);
  ASSERT_EQ(followed.status, 0) << followed.output;
  EXPECT_EQ(ReadFile(out), ExpectedAudio(30000));
}

// A Location is a URI reference (RFC 9110 section 10.2.2): resolved against the
// URL that answered. Only 301, 302, 303, 307 and 308 redirect.
TEST_F(RecordCommand, RelativeRedirectionsAreResolvedAndUnusableOnesRefused) {
  const IcyReply redirect{{"HTTP/1.1 302 Found\r\nLocation: sub/../live?x=1\r\nContent-Length: 0\r\n\r\n"}, {}, true};
  const IcyReply stream{{"ICY 200 OK\r\n\r\nsome audio"}, {}, true};
  IcyServer relative(redirect, {stream, redirect, stream});
  const std::string out = File("relative.mp3");
  const auto followed = RunPellora("record " + relative.Url("/dir/start") + " --follow-redirects -o " + out);
  ASSERT_EQ(followed.status, 0) << followed.output;
  EXPECT_EQ(ReadFile(out), "some audio");
  ASSERT_GE(relative.Requests().size(), 2u);
  EXPECT_TRUE(relative.Requests()[1].starts_with("GET /dir/live?x=1 HTTP/1.1\r\n")) << relative.Requests()[1];
  const auto probed = RunPellora("probe " + relative.Url("/dir/start"));
  EXPECT_EQ(probed.status, 0) << probed.output;
  EXPECT_THAT(probed.output, HasSubstr("URL:        " + relative.Url("/dir/live?x=1") + "\n"));

  IcyServer elsewhere({{"HTTP/1.1 307 Temporary Redirect\r\nLocation: ftp://files.example/live\r\n\r\n"}, {}, true});
  const auto unusable = RunPellora("record " + elsewhere.Url() + " --follow-redirects -o " + out);
  EXPECT_EQ(unusable.status, 4);
  EXPECT_EQ(unusable.output, "pellora record: " + elsewhere.Url() + ": redirected to ftp://files.example/live "
                             "(Invalid stream URL: the scheme \"ftp\" is not http or https)\n");
  IcyServer choices({{"HTTP/1.1 300 Multiple Choices\r\nLocation: /live\r\n\r\n"}, {}, true});
  const auto not_followed = RunPellora("probe " + choices.Url());
  EXPECT_EQ(not_followed.status, 4);
  EXPECT_EQ(not_followed.output,
            "pellora probe: " + choices.Url() + ": the server answered \"HTTP/1.1 300 Multiple Choices\"\n");
  EXPECT_EQ(choices.Requests().size(), 1u);
}

// Connections that end quickly are retried after 1, 2, 4 ... s; once the stream
// has played, an error status or a web page is what a server answers while its
// source comes back, and is retried the same way.
TEST_F(RecordCommand, ReconnectsAfterDropsAndRefusalsAndAppends) {
  const std::string audio = ExpectedAudio(5000);
  const IcyReply stream{{"ICY 200 OK\r\nicy-name:Flaky\r\n\r\n", audio}, std::chrono::milliseconds(20), true};
  IcyServer server(stream, {{{"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n"}, {}, true},
                            {{"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>back soon</html>"}, {}, true},
                            stream});
  const std::string out = File("flaky.mp3");
  const auto started = std::chrono::steady_clock::now();
  const auto result =
      RunPellora("record " + server.Url() + " --reconnect --stall-timeout 0.3 --max-bytes 7000 -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadFile(out), audio + audio.substr(0, 2000));
  EXPECT_EQ(server.Requests().size(), 4u);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(7));  // 1 + 2 + 4 s apart
}

TEST_F(RecordCommand, ReconnectingToAServerThatClosesAtOnceBacksOff) {
  IcyServer server({{"ICY 200 OK\r\n\r\n", "x"}, {}, true});
  const auto result = RunPellora("record " + server.Url() + " --reconnect --duration 2 -o " + File("storm.mp3"));
  EXPECT_EQ(result.status, 0) << result.output;
  // At 0 and 1 s, the next at 3 s; a slow start may leave only the first inside
  // the 2 s, but never a storm of them.
  EXPECT_GE(server.Requests().size(), 1u);
  EXPECT_LE(server.Requests().size(), 2u);
}

struct EndedBodyCase {
  const char* name;
  const char* header;
  std::size_t audio_bytes;
  bool chunked;  // the audio is sent as one chunk and the last chunk
};

class EndedBody : public RecordCommand, public ::testing::WithParamInterface<EndedBodyCase> {};

// The whole answer comes in one write, so the read that brings the audio also
// ends the body; every byte is in the file and in the summary.
TEST_P(EndedBody, IsDoneWithEveryByteCounted) {
  const std::string audio = ExpectedAudio(GetParam().audio_bytes);
  char size_line[32];
  std::snprintf(size_line, sizeof size_line, "%zx\r\n", audio.size());
  const std::string body = GetParam().chunked ? size_line + audio + "\r\n0\r\n\r\n" : audio;
  IcyServer server({{GetParam().header + body}, {}, true});
  const std::string out = File("ended.mp3");
  const auto result = RunPellora("record " + server.Url() + " --stall-timeout 30 -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(ReadFile(out) == audio) << ReadFile(out).size() << " bytes";
  EXPECT_THAT(result.output, HasSubstr("ended.mp3: ")) << result.output;
  EXPECT_THAT(result.output, HasSubstr("(" + std::to_string(audio.size()) + " bytes) in 0:0")) << result.output;
}

INSTANTIATE_TEST_SUITE_P(
    Framings, EndedBody,
    ::testing::Values(EndedBodyCase{"IcyClose", "ICY 200 OK\r\n\r\n", 10, false},
                      EndedBodyCase{"Length", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", 1000, false},
                      EndedBodyCase{"LongLength", "HTTP/1.1 200 OK\r\nContent-Length: 200000\r\n\r\n", 200000,
                                    false},
                      EndedBodyCase{"Chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", 5, true},
                      EndedBodyCase{"LongChunked",
                                    "HTTP/1.1 200 OK\r\nicy-metaint:16000\r\nTransfer-Encoding: chunked\r\n\r\n",
                                    15000, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecordCommand, WithoutReconnectAStalledStreamIsANetworkFailure) {
  IcyServer server({{"ICY 200 OK\r\n\r\n", "some audio"}});  // and then nothing, connection open
  const auto result = RunPellora("record " + server.Url() + " --stall-timeout 0.3 -o " + File("stalled.mp3"));
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.output, "pellora record: " + server.Url() + ": no data received for 0.3 seconds\n");
}

struct RefusedCase {
  const char* answer;  // the whole answer; the server closes after it
  int exit_code;
  const char* why;
};

class RefusedAnswer : public RecordCommand, public ::testing::WithParamInterface<RefusedCase> {};

// Whatever the refusal, the line says why, nothing is retried, and the file the
// person named keeps its content, with nothing left beside it.
TEST_P(RefusedAnswer, SaysWhyIsNeverRetriedAndLeavesTheFileUntouched) {
  IcyServer server({{GetParam().answer}, {}, true});
  const std::string out = File("kept.mp3");
  std::ofstream(out) << "the recording of yesterday";
  const auto result = RunPellora("record " + server.Url() + " --reconnect --stall-timeout 0.3 -o " + out);
  EXPECT_EQ(result.status, GetParam().exit_code);
  EXPECT_EQ(result.output, "pellora record: " + server.Url() + ": " + GetParam().why + "\n");
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(ReadFile(out), "the recording of yesterday");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RefusedAnswer,
    ::testing::Values(
        RefusedCase{"ICY 400 Server Full\r\n\r\n", 4, "the server refused the stream: ICY 400 Server Full"},
        RefusedCase{"ICY 401 Service Unavailable\r\n\r\n", 4,
                    "the server refused the stream: ICY 401 Service Unavailable"},
        RefusedCase{"ICY 403 Forbidden\r\n\r\n", 4, "the server refused the stream: ICY 403 Forbidden"},
        RefusedCase{"ICY 404 Not Found\r\n\r\n", 4, "the server refused the stream: ICY 404 Not Found"},
        RefusedCase{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", 4,
                    "the server answered \"HTTP/1.1 404 Not Found\""},
        // Icecast's answer when its listener limit is reached; a web page is not quoted.
        RefusedCase{"HTTP/1.0 403 Forbidden\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
                    "max listeners reached",
                    4, "the server answered \"HTTP/1.0 403 Forbidden\" (\"max listeners reached\")"},
        RefusedCase{"HTTP/1.0 404 File Not Found\r\nContent-Type: text/html\r\n\r\n<html>404</html>", 4,
                    "the server answered \"HTTP/1.0 404 File Not Found\""},
        RefusedCase{"SOURCE OK\r\n\r\n", 3, "not a stream server (it answered \"SOURCE OK\")"},
        RefusedCase{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\n", 3,
                    "the server sent a malformed chunked body"},
        RefusedCase{"HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html>Listen live!</html>", 4,
                    "not an audio stream (Content-Type: text/html; charset=utf-8)"},
        RefusedCase{"HTTP/1.0 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\n\r\n"
                    "#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXTINF:6,\nseg1.aac\n",
                    4, "HLS streams are not supported yet"}));

TEST_F(RecordCommand, HttpOkServersAreRecordedUnlessStrict) {
  StationOptions options;
  options.http_ok = true;
  StationRunner station(options);
  const std::string out = File("http.mp3");
  ASSERT_EQ(RunPellora("record " + station.url() + " --max-bytes 10000 -o " + out).status, 0);
  EXPECT_EQ(ReadFile(out), ExpectedAudio(10000));
  for (const std::string command : {"record", "probe"}) {
    const std::string where = command == "record" ? " -o " + out : "";
    const auto strict = RunPellora(command + " " + station.url() + " --strict" + where);
    EXPECT_EQ(strict.status, 4);
    EXPECT_EQ(strict.output, "pellora " + command + ": " + station.url() +
                                 ": not an ICY server (it answered \"HTTP/1.0 200 OK\", which --strict refuses)\n");
  }
}

TEST_F(RecordCommand, NamesTheFileAfterTheStationWithoutOutput) {
  StationOptions options;
  options.name = "Jazz/Blues: \"Late\" Night?";
  StationRunner station(options);
  const auto result = RunCommand("cd '" + dir.string() + "' && " + PELLORA_CLI + " record " + station.url() +
                                 " --max-bytes 1000 2>&1");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadFile(dir / "Jazz_Blues_ _Late_ Night.mp3"), ExpectedAudio(1000));
}

TEST_F(RecordCommand, RecordsSeveralStreamsAtOnceIntoAFolder) {
  StationRunner first(StationOptions{});
  StationOptions other;
  other.name = "Other Radio";
  StationRunner second(other);
  const std::string list = File("urls.txt");
  std::ofstream(list) << "# stations\n" << second.url() << "\n\n";
  const auto result = RunPellora("record " + first.url() + " " + first.url() + " --from " + list +
                                 " --max-bytes 40000 -o " + (dir / "out").string());
  ASSERT_EQ(result.status, 0) << result.output;
  for (const char* name : {"Pellora Demo Radio.mp3", "Pellora Demo Radio (2).mp3", "Other Radio.mp3"})
    EXPECT_EQ(ReadFile(dir / "out" / name), ExpectedAudio(40000)) << name;
}

TEST_F(RecordCommand, DrawsAStatusLineOnATerminalOnly) {
  StationOptions options;
  options.titles = {"Beyonc\xC3\xA9 - Loopback Love \x1B]0;owned\x07"};
  StationRunner station(options);
  // `script` gives the command a terminal.
  const auto result = RunCommand("script -qec '" + std::string(PELLORA_CLI) + " record " + station.url() +
                                 " --max-bytes 40000 -o " + File("status.mp3") + "' /dev/null");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_THAT(result.output, HasSubstr("\r0:0"));
  EXPECT_THAT(result.output, HasSubstr("kbit/s  Beyoncé - Loopback Love \\x1b]0;owned\\x07"));
  EXPECT_THAT(result.output, Not(HasSubstr("\x1B]0;")));
  EXPECT_THAT(result.output, HasSubstr("\r\033[K"));
}

struct UsageCase {
  const char* args;
  const char* why;
};

class RecordUsage : public RecordCommand, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(RecordUsage, IsRefusedBeforeAnythingHappens) {
  const auto result = RunCommand("cd '" + dir.string() + "' && " + PELLORA_CLI + " record " + GetParam().args + " 2>&1");
  EXPECT_EQ(result.status, 2);
  EXPECT_THAT(result.output, HasSubstr(GetParam().why));
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordUsage,
    ::testing::Values(UsageCase{"-o x.mp3", "no URL given"},
                      UsageCase{"http://127.0.0.1:1/ --duration 1e300",
                                "--duration: must be a number of seconds from 0.001 to 31622400\n"},
                      UsageCase{"http://127.0.0.1:1/ --duration -1", "--duration"},
                      UsageCase{"http://127.0.0.1:1/ --duration 0", "--duration"},
                      UsageCase{"http://127.0.0.1:1/ --duration nan", "--duration"},
                      UsageCase{"http://127.0.0.1:1/ --stall-timeout 1e300", "--stall-timeout"},
                      UsageCase{"http://127.0.0.1:1/ --max-bytes 0", "--max-bytes: must be a number of bytes from 1\n"},
                      UsageCase{"http://127.0.0.1:1/ --max-bytes -5", "--max-bytes"},
                      UsageCase{"http://127.0.0.1:1/ --split --pad-after 1e9",
                                "--pad-after: must be a number of seconds from 0 to 60"},
                      UsageCase{"http://127.0.0.1:1/ --split --pad-before nan", "--pad-before"},
                      UsageCase{"http://127.0.0.1:1/ --split --cue", "--split makes a file per song"},
                      UsageCase{"http://127.0.0.1:1/ --split --append", "--split makes a file per song"},
                      UsageCase{"http://127.0.0.1:1/ --skip-existing",
                                "--skip-existing acts on songs: it needs --split"},
                      UsageCase{"http://127.0.0.1:1/ --split --name '{n} {foo}'",
                                "--name has an unknown placeholder {foo}"},
                      UsageCase{"http://127.0.0.1:1/ --split --name ''", "--name must not be empty"},
                      UsageCase{"http://127.0.0.1:1/ http://127.0.0.1:2/ -o -", "-o - records one stream only"},
                      UsageCase{"http://127.0.0.1:1/ --tag -o -", "--tag, --append and --cue need a regular file"},
                      UsageCase{"http://127.0.0.1:1/ --cue -o -", "--cue need a regular file, not -o -"}));

TEST(ProbeCommand, ShowsTheHeaderFieldsNoticesAndCurrentTitle) {
  StationRunner station(StationOptions{});
  const auto text = RunPellora("probe " + station.url());
  ASSERT_EQ(text.status, 0) << text.output;
  EXPECT_THAT(text.output, HasSubstr("Station:    Pellora Demo Radio\n"));
  EXPECT_THAT(text.output, HasSubstr("Title:      Beyoncé - Loopback Love\n"));
  const auto json = RunPellora("probe --json " + station.url());
  ASSERT_EQ(json.status, 0);
  const auto probe = nlohmann::json::parse(json.output);
  EXPECT_EQ(probe["StreamName"], "Pellora Demo Radio");
  EXPECT_EQ(probe["StreamGenre"], "Ambient");
  EXPECT_EQ(probe["StreamBitRate"], 128);
  EXPECT_EQ(probe["MetaInterval"], 8192);
  EXPECT_EQ(probe["MusicName"], "Beyoncé - Loopback Love");
  EXPECT_EQ(probe["Notices"].size(), 2u);
  EXPECT_EQ(probe["Header"]["icy-url"], station.url());
}

TEST(ProbeCommand, ShowsStationTextWithTerminalControlsEscaped) {
  StationOptions options;
  options.name = "Evil \x1B[2J Radio";
  options.titles = {"Song \x1B[6n\xC2\x9B"};
  StationRunner station(options);
  const auto text = RunPellora("probe " + station.url());
  ASSERT_EQ(text.status, 0) << text.output;
  EXPECT_THAT(text.output, HasSubstr("Station:    Evil \\x1b[2J Radio\n"));
  EXPECT_THAT(text.output, HasSubstr("Title:      Song \\x1b[6n\\u009b\n"));
  EXPECT_THAT(text.output, Not(HasSubstr("\x1B")));
}

TEST(ProbeCommand, AStreamThatEndsBeforeItsFirstTitleShowsItsHeaderAtOnce) {
  IcyServer server({{"ICY 200 OK\r\nicy-name:Early\r\nicy-metaint:16000\r\n\r\n" + std::string(1000, 'a')}, {}, true});
  const auto started = std::chrono::steady_clock::now();
  const auto result = RunPellora("probe --timeout 30 " + server.Url());
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_THAT(result.output, HasSubstr("Station:    Early\n"));
  EXPECT_THAT(result.output, HasSubstr("Metadata:   every 16000 bytes\n"));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));  // not the timeout
}

TEST(ProbeCommand, AnErrorStatusGivesItsExitCodeAndStatusLine) {
  IcyServer server({{"ICY 403 Forbidden\r\n\r\n"}});
  const auto result = RunPellora("probe " + server.Url());
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.output, "pellora probe: " + server.Url() + ": the server refused the stream: ICY 403 Forbidden\n");
}

TEST(DemoCommand, RecordsTheBuiltInStationWithTagsAndShowsThem) {
  const std::string out = pellora::testing_support::UniqueTempPath("demo_test.mp3");
  const auto result = RunPellora("demo --seconds 1 -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_THAT(result.output, HasSubstr("$ pellora tags " + out + "\n"));
  EXPECT_THAT(result.output, HasSubstr("Beyoncé - Loopback Love"));
  EXPECT_EQ(TagsOf(out)["Genre"], "Ambient");
}

}  // namespace
