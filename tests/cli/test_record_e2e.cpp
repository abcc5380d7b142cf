// `pellora record`, `probe` and `demo` end to end: the built binary against the
// demo station (run in this process) and against scripted loopback servers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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
  const auto result = RunPellora("record " + station.url() + " --tag --comments 'hi there' --encoded-by enc " +
                                 "--copyright cc --languages eng --duration 2 -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(result.output, "");  // no status line when stderr is not a terminal

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
    ASSERT_EQ(first_audio.size(), 20000u);
  }
  StationOptions options;
  options.titles = {"Second Song"};
  StationRunner station(options);
  ASSERT_EQ(RunPellora("record " + station.url() + " --tag --append --max-bytes 10000 -o " + out).status, 0);
  const std::string file = ReadFile(out);
  const std::string audio = file.substr(Id3v2Size(file));
  ASSERT_EQ(audio.size(), 30000u);
  EXPECT_EQ(audio.substr(0, 20000), first_audio);
  EXPECT_EQ(TagsOf(out)["Title"], "Second Song");
}

TEST_F(RecordCommand, UntaggedRecordingIsTheStationsAudioByteForByte) {
  StationRunner station(StationOptions{});
  const std::string out = File("exact.mp3");
  ASSERT_EQ(RunPellora("record " + station.url() + " --max-bytes 50000 -o " + out).status, 0);
  EXPECT_EQ(ReadFile(out), ExpectedAudio(50000));
}

TEST_F(RecordCommand, FollowsARedirectionOnlyWhenAsked) {
  StationRunner station(StationOptions{});
  IcyServer redirect({{"HTTP/1.1 302 Found\r\nLocation: " + station.url() + "\r\n\r\n"}, {}, true});
  const std::string out = File("redirected.mp3");
  const auto refused = RunPellora("record " + redirect.Url() + " --max-bytes 1000 -o " + out);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.output, "pellora record: redirected to " + station.url() + " (--follow-redirects follows it)\n");
  const auto followed = RunPellora("record " + redirect.Url() + " --follow-redirects --max-bytes 30000 -o " + out);
  ASSERT_EQ(followed.status, 0) << followed.output;
  EXPECT_EQ(ReadFile(out), ExpectedAudio(30000));
}

TEST_F(RecordCommand, ReconnectsAfterTheServerDroppedAndAppends) {
  const std::string audio = ExpectedAudio(5000);
  IcyServer server({{"ICY 200 OK\r\nicy-name:Flaky\r\n\r\n", audio}, std::chrono::milliseconds(20), true});
  const std::string out = File("flaky.mp3");
  const auto result =
      RunPellora("record " + server.Url() + " --reconnect --stall-timeout 0.3 --max-bytes 12000 -o " + out);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadFile(out), audio + audio + audio.substr(0, 2000));
  EXPECT_EQ(server.Requests().size(), 3u);
}

TEST_F(RecordCommand, WithoutReconnectAStreamTheServerEndsIsDone) {
  IcyServer server({{"ICY 200 OK\r\n\r\n", "some audio"}, {}, true});
  const std::string out = File("ended.mp3");
  const auto result = RunPellora("record " + server.Url() + " --stall-timeout 30 -o " + out);
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadFile(out), "some audio");
}

struct RefusedCase {
  const char* status;
  const char* description;
};

class RefusedStatus : public RecordCommand, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedStatus, EndsWithItsDescriptionAndIsNeverRetried) {
  IcyServer server({{std::string(GetParam().status) + "\r\n\r\n"}});
  const auto result = RunPellora("record " + server.Url() + " --reconnect -o " + File("refused.mp3"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output, std::string("pellora record: ") + GetParam().description + "\n");
  EXPECT_EQ(server.Requests().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Statuses, RefusedStatus,
                         ::testing::Values(RefusedCase{"ICY 400 Server Full", "Stream Limit Reached..."},
                                           RefusedCase{"ICY 401 Service Unavailable", "Stream Unavaible..."},
                                           RefusedCase{"ICY 403 Forbidden", "Stream Forbidden..."},
                                           RefusedCase{"ICY 404 Not Found", "Stream not Found..."},
                                           RefusedCase{"SOURCE OK", "Stream Bad Server Request"}));

TEST_F(RecordCommand, HttpOkServersAreRecordedUnlessStrict) {
  StationOptions options;
  options.http_ok = true;
  StationRunner station(options);
  const std::string out = File("http.mp3");
  ASSERT_EQ(RunPellora("record " + station.url() + " --max-bytes 10000 -o " + out).status, 0);
  EXPECT_EQ(ReadFile(out), ExpectedAudio(10000));
  const auto strict = RunPellora("record " + station.url() + " --strict -o " + out);
  EXPECT_EQ(strict.status, 1);
  EXPECT_EQ(strict.output, "pellora record: Stream Bad Server Request\n");
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
  StationRunner station(StationOptions{});
  // `script` gives the command a terminal.
  const auto result = RunCommand("script -qec '" + std::string(PELLORA_CLI) + " record " + station.url() +
                                 " --max-bytes 40000 -o " + File("status.mp3") + "' /dev/null");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_THAT(result.output, HasSubstr("\r0:0"));
  EXPECT_THAT(result.output, HasSubstr("kbit/s  Beyoncé - Loopback Love"));
  EXPECT_THAT(result.output, HasSubstr("\r\033[K"));
}

TEST_F(RecordCommand, WithoutAnyUrlIsAUsageError) {
  const auto result = RunPellora("record -o x.mp3");
  EXPECT_EQ(result.status, 2);
  EXPECT_THAT(result.output, HasSubstr("no URL given"));
}

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

TEST(ProbeCommand, AnErrorStatusGivesExitOneAndItsDescription) {
  IcyServer server({{"ICY 403 Forbidden\r\n\r\n"}});
  const auto result = RunPellora("probe " + server.Url());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output, "pellora probe: Stream Forbidden...\n");
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
