// SPDX-License-Identifier: MIT
// `pellora record` end to end against the loopback ICY server.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/files.h"
#include "tests/support/icy_server.h"
#include "tests/support/process.h"
#include "tests/support/temp_path.h"

namespace pellora {
namespace {

using testing_support::IcyServer;
using testing_support::RunCommand;
using testing_support::RunPellora;

using testing_support::ReadFile;

// A body with metaint 100: audio bytes counting up, a title every 10 blocks.
struct Body {
  std::string bytes, audio;
};
Body MakeBody(int blocks) {
  Body b;
  for (int i = 0; i < blocks; ++i) {
    std::string audio(100, '\0');
    for (int j = 0; j < 100; ++j) audio[j] = static_cast<char>((i * 100 + j) % 251);
    b.audio += audio;
    b.bytes += audio;
    if (i % 10 == 0) {
      std::string text = "StreamTitle='Song " + std::to_string(i / 10) + " \xE9';";
      text.resize(32, '\0');
      b.bytes += '\x02' + text;
    } else {
      b.bytes += '\0';
    }
  }
  return b;
}

const std::string kHeader = "ICY 200 OK\r\nicy-name:Loop\r\nicy-metaint:100\r\n\r\n";

class RecordCommand : public ::testing::Test {
 protected:
  ~RecordCommand() override { std::remove(file.c_str()); }
  std::string file = testing_support::TempPathForCurrentTest("record_command_", ".mp3");
};

TEST_F(RecordCommand, RecordsUpToMaxBytesWithJsonEvents) {
  const Body body = MakeBody(2000);
  IcyServer server({{kHeader + body.bytes}});
  const auto result = RunCommand(std::string(PELLORA_CLI) + " record " + server.Url("/live") + " -o " +
                                 file + " --max-bytes 50000 --json-events");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(ReadFile(file) == body.audio.substr(0, 50000));

  std::istringstream lines(result.output);
  std::vector<nlohmann::json> events;
  for (std::string line; std::getline(lines, line);) events.push_back(nlohmann::json::parse(line));
  ASSERT_GE(events.size(), 5u);
  // Connected, the header accepted, then the recording opened (the file waits for it).
  EXPECT_EQ(events[0], nlohmann::json({{"event", "StateChanged"}}));
  EXPECT_EQ(events[1], nlohmann::json({{"event", "GotHeader"}, {"Header", kHeader}}));
  EXPECT_EQ(events[2], nlohmann::json({{"event", "StateChanged"}}));
  EXPECT_EQ(events[3], nlohmann::json({{"event", "MetaChanged"}, {"meta", "StreamTitle='Song 0 \xC3\xA9';"}}));
  EXPECT_EQ(events.back(), nlohmann::json({{"event", "StateChanged"}}));
}

TEST_F(RecordCommand, StopsAfterTheDuration) {
  const Body body = MakeBody(30);
  IcyServer server({{kHeader + body.bytes}});
  const auto result = RunPellora("record " + server.Url() + " -o " + file + " --duration 0.5");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadFile(file), body.audio);
}

TEST_F(RecordCommand, AppendsWhenAsked) {
  std::ofstream(file, std::ios::binary) << "old";
  IcyServer server({{kHeader + MakeBody(1).bytes}});
  ASSERT_EQ(RunPellora("record " + server.Url() + " -o " + file + " --append --max-bytes 100").status, 0);
  EXPECT_EQ(ReadFile(file), "old" + MakeBody(1).audio);
}

TEST_F(RecordCommand, StopsOnSigint) {
  IcyServer server({{kHeader + MakeBody(5).bytes}});
  const auto result = RunCommand("timeout --preserve-status -s INT 1.5 " + std::string(PELLORA_CLI) +
                                 " record " + server.Url() + " -o " + file + " 2>&1");
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(ReadFile(file), MakeBody(5).audio);
}

TEST_F(RecordCommand, RefusedStreamExitsFourWithItsStatus) {
  IcyServer server({{"ICY 404 Not Found\r\n\r\n"}});
  const auto result = RunPellora("record " + server.Url() + " -o " + file);
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.output, "pellora record: " + server.Url() + ": the server refused the stream: ICY 404 Not Found\n");
}

TEST_F(RecordCommand, ErrorEventAsJson) {
  const auto result = RunCommand(std::string(PELLORA_CLI) + " record http://127.0.0.1:1/ -o " + file +
                                 " --json-events 2>/dev/null");
  EXPECT_EQ(result.status, 3);
  EXPECT_NE(result.output.find(R"({"event":"Error","ErrType":1,"ErrCode":111,"Description":"Connection refused"})"),
            std::string::npos)
      << result.output;
}

TEST_F(RecordCommand, AFileThatCannotBeCreatedExitsFive) {
  IcyServer server({{kHeader + MakeBody(5).bytes}});
  const std::string missing = testing_support::UniqueTempPath("no/such/dir/x.mp3");
  const auto result = RunPellora("record " + server.Url() + " -o " + missing);
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.output, "pellora record: " + server.Url() + ": cannot create " + missing +
                               ": No such file or directory\n");
}

TEST_F(RecordCommand, UsageErrorsExitTwo) {
  EXPECT_EQ(RunPellora("record").status, 2);
  EXPECT_EQ(RunPellora("record http://h:1/ --max-bytes -5").status, 2);
}

}  // namespace
}  // namespace pellora
