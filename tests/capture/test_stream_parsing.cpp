// SPDX-License-Identifier: MIT
// The response header, the metadata rhythm and the queries, chunk by chunk
// through a scripted socket.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

#include "capture/header_values.h"
#include "capture/torvane.h"
#include "hosting/event_loop.h"
#include "tests/capture/event_log.h"
#include "tests/support/files.h"
#include "tests/support/scripted_socket.h"
#include "tests/support/temp_path.h"

namespace pellora::capture {
namespace {

using testing_support::ScriptedSite;
using Events = std::vector<std::string>;

using testing_support::ReadFile;

class StreamParsing : public ::testing::Test {
 protected:
  StreamParsing() : site(loop), control(site.Create<Torvane>()) {
    control->SetEvents(&log);
    control->Connect("http://h:8000/live");
    site.socket->Accept();
    log.events.clear();
  }
  ~StreamParsing() override { std::remove(path.c_str()); }
  void Header(const std::string& fields) { site.socket->Deliver("ICY 200 OK\r\n" + fields + "\r\n"); }
  std::string Recorded() const { return ReadFile(path); }

  hosting::EventLoop loop;
  ScriptedSite site;
  std::shared_ptr<Torvane> control;
  EventLog log;
  std::string path = testing_support::TempPathForCurrentTest("stream_parsing_", ".mp3");
};

// Audio bytes A1.. as distinct letters; the block M1..M16 is one title.
std::string Audio(int first, int last) {
  std::string a;
  for (int i = first; i <= last; ++i) a += static_cast<char>('A' + (i - 1) % 58);
  return a;
}
const std::string kBlock("StreamTitle='X';\0", 16);

// A length byte and `text`, padded with NULs to whole 16-byte units.
std::string MetaBlock(const std::string& text) {
  const std::size_t units = (text.size() + 15) / 16;
  std::string block(1, static_cast<char>(units));
  block += text;
  block.resize(1 + units * 16, '\0');
  return block;
}

TEST_F(StreamParsing, WorkedExample) {
  Header("icy-metaint:10\r\n");
  control->StartWriting(path);
  log.events.clear();

  site.socket->Deliver(Audio(1, 10) + '\x01' + kBlock.substr(0, 3));
  EXPECT_EQ(Recorded(), Audio(1, 10));
  EXPECT_EQ(TorvaneProbe::AudioCount(*control), -13);
  EXPECT_TRUE(TorvaneProbe::MetaPending(*control));
  EXPECT_TRUE(log.events.empty());

  site.socket->Deliver(kBlock.substr(3) + Audio(11, 17));
  EXPECT_EQ(Recorded(), Audio(1, 17));
  EXPECT_EQ(TorvaneProbe::AudioCount(*control), 7);
  EXPECT_EQ(log.events, Events{"MetaChanged:StreamTitle='X';"});
  EXPECT_EQ(control->MusicName(), "X");

  site.socket->Deliver(Audio(18, 20) + '\x00' + Audio(21, 26));
  EXPECT_EQ(Recorded(), Audio(1, 26));
  EXPECT_EQ(TorvaneProbe::AudioCount(*control), 6);
  EXPECT_EQ(control->WrittenBytes(), 26);
  EXPECT_EQ(control->ReceivedMetaInfo(), 17);
  EXPECT_EQ(control->ReceivedBytes(), 30 + 44);
  EXPECT_EQ(log.events.size(), 1u);
}

TEST_F(StreamParsing, WorkedExampleVariant) {
  Header("icy-metaint:10\r\n");
  control->StartWriting(path);
  site.socket->Deliver(Audio(1, 10) + '\x01' + kBlock.substr(0, 3));
  site.socket->Deliver(kBlock.substr(3) + Audio(11, 20) + '\x00' + Audio(21, 21));
  EXPECT_EQ(Recorded(), Audio(1, 21));
  EXPECT_EQ(TorvaneProbe::AudioCount(*control), 1);
}

TEST_F(StreamParsing, HeaderOverThreeChunksThenFields) {
  site.socket->Deliver("ICY 200 OK\r\nicy-na");
  site.socket->Deliver("me:Three\r\nicy-br:96\r\n");
  EXPECT_EQ(control->StreamName(), "");
  EXPECT_TRUE(log.events.empty());
  site.socket->Deliver("\r\nbody");
  EXPECT_EQ(log.events, Events{"GotHeader:ICY 200 OK\r\nicy-name:Three\r\nicy-br:96\r\n\r\n"});
  EXPECT_EQ(control->StreamName(), "Three");
  EXPECT_EQ(control->StreamBitRate(), 96);
  EXPECT_EQ(TorvaneProbe::AudioCount(*control), 4);
}

TEST_F(StreamParsing, HeaderEndSplitBetweenChunks) {
  site.socket->Deliver("ICY 200 OK\r\nicy-metaint:2\r\n\r");
  site.socket->Deliver("\nab");
  EXPECT_EQ(log.events, Events{"GotHeader:ICY 200 OK\r\nicy-metaint:2\r\n\r\n"});
  EXPECT_EQ(TorvaneProbe::AudioCount(*control), 2);
}

TEST_F(StreamParsing, TinyFirstChunksAreJudgedOnceEnoughHasArrived) {
  site.socket->Deliver("I");
  site.socket->Deliver("C");
  EXPECT_TRUE(log.events.empty());
  site.socket->Deliver("Y 200 OK\r\n\r\nxyz");
  EXPECT_EQ(log.events, Events{"GotHeader:ICY 200 OK\r\n\r\n"});
  EXPECT_EQ(control->ReceivedBytes(), 17);
}

TEST_F(StreamParsing, HeaderLongerThan32KiBWorks) {
  std::string fields;
  while (fields.size() < 40'000) fields += "x-filler:" + std::string(50, 'f') + "\r\n";
  site.socket->DeliverInChunks("ICY 200 OK\r\n" + fields + "icy-name:Late\r\n\r\n", 32767);
  EXPECT_EQ(control->StreamName(), "Late");
  ASSERT_EQ(log.events.size(), 1u);
}

TEST_F(StreamParsing, NoMetaintMakesEverythingAudio) {
  Header("icy-name:x\r\n");
  control->StartWriting(path);
  const std::string body("\x05StreamTitle='no';\x00\x01\x02", 21);
  site.socket->Deliver(body);
  EXPECT_EQ(Recorded(), body);
  EXPECT_EQ(control->ReceivedMetaInfo(), 0);
}

TEST_F(StreamParsing, FullBlockWithoutNulAndUnchangedText) {
  Header("icy-metaint:1\r\n");
  const std::string title = "StreamTitle='0123456789abcdefghi';";  // 34 bytes
  const std::string block = title + std::string(48 - title.size(), 'z');
  site.socket->Deliver("a\x03" + block + "b\x03" + block);
  EXPECT_EQ(log.events.size(), 2u);
  EXPECT_EQ(log.events.back(), "MetaChanged:" + block);
  EXPECT_EQ(control->MusicName(), "0123456789abcdefghi");
  EXPECT_EQ(control->ReceivedMetaInfo(), 98);
}

TEST_F(StreamParsing, UnchangedBlockStillUpdatesMusicName) {
  Header("icy-metaint:1\r\n");
  site.socket->Deliver("a" + MetaBlock("StreamTitle='A';StreamUrl='u';"));
  control->Disconnect();
  // A fresh connection whose first block repeats nothing: the text is new again.
  control->Connect("h:1");
  site.socket->Accept();
  log.events.clear();
  Header("icy-metaint:1\r\n");
  site.socket->Deliver("a" + MetaBlock("StreamTitle='A';StreamUrl='u';"));
  EXPECT_EQ(control->MusicURL(), "u");
  EXPECT_EQ(log.events.size(), 2u);  // GotHeader, MetaChanged
}

TEST_F(StreamParsing, MetaChangedHandlerMayRestartTheRecording) {
  Header("icy-metaint:4\r\n");
  const std::string second = path + ".second";
  control->StartWriting(path);
  log.react = [&](const std::string& e) {
    if (e.starts_with("MetaChanged")) control->StartWriting(second);
  };
  site.socket->Deliver("abcd" + MetaBlock("StreamTitle='N';") + "efgh");
  EXPECT_EQ(Recorded(), "");
  EXPECT_EQ(ReadFile(second), "abcdefgh");  // the whole chunk's audio, in the new file
  control->StopWriting();
  std::remove(second.c_str());
}

TEST_F(StreamParsing, DisconnectInsideMetaChangedDropsTheRestOfTheChunk) {
  Header("icy-metaint:2\r\n");
  control->StartWriting(path);
  log.react = [&](const std::string& e) {
    if (e.starts_with("MetaChanged")) control->Disconnect();
  };
  site.socket->Deliver("ab" + MetaBlock("StreamTitle='N';") + "cd" + MetaBlock("StreamTitle='M';") +
                       "ef");
  EXPECT_EQ(log.events.back(), "StateChanged");
  EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "MetaChanged:StreamTitle='N';"), 1);
  EXPECT_EQ(control->ReceivedBytes(), 0);
  EXPECT_FALSE(control->IsWriting());
  EXPECT_EQ(Recorded(), "");
}

TEST_F(StreamParsing, CountersGoOnPastTheir32BitLimit) {
  Header("icy-metaint:3\r\n");
  control->StartWriting(path);
  const std::int64_t limit = std::numeric_limits<std::int32_t>::max();
  TorvaneProbe::StartCountersAt(*control, limit - 5, limit - 2);
  site.socket->Deliver("abc");
  site.socket->Deliver(MetaBlock("StreamTitle='Z';") + "def");
  EXPECT_EQ(control->ReceivedBytes(), limit);
  EXPECT_EQ(control->ReceivedBytesTotal(), limit - 5 + 23);
  EXPECT_EQ(control->WrittenBytes(), limit);
  EXPECT_EQ(control->WrittenBytesTotal(), limit - 2 + 6);
  EXPECT_EQ(control->MusicName(), "Z");
  EXPECT_EQ(Recorded(), "abcdef");
}

TEST_F(StreamParsing, OddHeaderValuesGiveZeroAndParsingGoesOn) {
  Header("icy-br:128,128\r\nicy-pub:yes\r\nicy-name:N\r\nicy-metaint:2\r\n");
  ASSERT_EQ(log.events.size(), 1u);  // GotHeader
  EXPECT_EQ(control->StreamBitRate(), 0);
  EXPECT_FALSE(control->StreamPublic());
  control->StartWriting(path);
  site.socket->Deliver("ab" + MetaBlock("StreamTitle='T';") + "cd");
  EXPECT_EQ(Recorded(), "abcd");  // the metadata stays out of the recording
  EXPECT_EQ(control->MusicName(), "T");
}

struct ValueCase {
  const char* text;
  std::int64_t as_int16;
  bool as_flag;
};

class HeaderValueConversion : public ::testing::TestWithParam<ValueCase> {};

TEST_P(HeaderValueConversion, ConvertsOrGivesZero) {
  const ValueCase& c = GetParam();
  EXPECT_EQ(HeaderInt16(std::string(c.text)), c.as_int16) << c.text;
  EXPECT_EQ(HeaderFlag(std::string(c.text)), c.as_flag) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Values, HeaderValueConversion,
    ::testing::Values(ValueCase{"128", 128, true}, ValueCase{"0", 0, false}, ValueCase{"-7", -7, true},
                      ValueCase{"+3", 3, true}, ValueCase{"2.5", 2, true}, ValueCase{"3.5", 4, true},
                      ValueCase{"96.4", 96, true}, ValueCase{"TRUE", 0, true},
                      ValueCase{"False", 0, false}, ValueCase{"yes", 0, false},
                      ValueCase{"128,128", 0, false}, ValueCase{"   ", 0, false},
                      ValueCase{"", 0, false}, ValueCase{"40000", 0, true},
                      ValueCase{"1e3", 0, false}));

TEST(HeaderValues, AbsentFieldIsZero) {
  EXPECT_EQ(HeaderInt32(std::nullopt), 0);
  EXPECT_EQ(HeaderInt32(std::string("16000")), 16000);
  EXPECT_EQ(HeaderInt32(std::string("3000000000")), 0);
  EXPECT_FALSE(HeaderFlag(std::nullopt));
}

TEST_F(StreamParsing, GetHeaderMatchesWholeNamesInAnyCase) {
  Header("icy-br: 128 \r\nIcy-Name:N\r\nicy-genre:\r\nicy-url:\t u\r\nno colon\r\nICY-BR:96\r\n");
  EXPECT_EQ(control->GetHeader("icy-br"), "128");  // the first of two
  EXPECT_EQ(control->GetHeader("icy-name"), "N");
  EXPECT_EQ(control->GetHeader("name"), std::nullopt);
  EXPECT_EQ(control->GetHeader("icy-genre"), std::nullopt);
  EXPECT_EQ(control->GetHeader("icy-url"), "\t u");
  EXPECT_EQ(control->GetHeader("no colon"), std::nullopt);
  EXPECT_EQ(control->StreamName(), "N");
}

TEST_F(StreamParsing, MetaintInAnyCaseKeepsMetadataOutOfTheAudio) {
  Header("Icy-MetaInt:2\r\n");
  control->StartWriting(path);
  site.socket->Deliver("ab" + MetaBlock("StreamTitle='T';") + "cd");
  EXPECT_EQ(Recorded(), "abcd");
  EXPECT_EQ(control->MusicName(), "T");
}

// Bodies framed by Content-Length or chunks, recorded byte for byte; the events
// that follow the body's bytes while recording.
struct FramingCase {
  const char* name;
  const char* fields;
  std::string wire;
  std::string audio;
  Events events;
};

const Events kEnded{"StateChanged", "StateChanged"};
const Events kMalformed{"StateChanged", "StateChanged",
                        "Error:3:31:Stream Bad Server Request: malformed chunked body"};

class BodyFramingCases : public StreamParsing, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(BodyFramingCases, RecordsTheBodyAndEndsWhereItSays) {
  const FramingCase& c = GetParam();
  Header(c.fields);
  control->StartWriting(path);
  log.events.clear();
  site.socket->Deliver(c.wire);
  EXPECT_EQ(Recorded(), c.audio);
  EXPECT_EQ(log.events, c.events);
  EXPECT_EQ(control->StreamEnded(), c.events == kEnded);
}

INSTANTIATE_TEST_SUITE_P(
    Framing, BodyFramingCases,
    ::testing::Values(
        FramingCase{"ContentLengthEndsAfterItsBytes", "Content-Length: 4\r\n", "abcdEXTRA", "abcd", kEnded},
        FramingCase{"UnusableLengthMeansUntilClose", "Content-Length: 4x\r\n", "abcdef", "abcdef", {}},
        FramingCase{"ChunkedBeatsContentLength", "Content-Length: 1\r\nTransfer-Encoding: chunked\r\n",
                    "2\r\nab\r\n", "ab", {}},
        FramingCase{"ChunksExtensionsTrailers", "transfer-encoding: Chunked\r\n",
                    "3;x=y\r\nabc\r\n1 ; q=\"a;b\"\r\nd\r\nA\r\n0123456789\r\n0\r\nX-T: 1\r\n\r\nIGNORED",
                    "abcd0123456789", kEnded},
        FramingCase{"OtherCodingLastIsNotChunked", "Transfer-Encoding: chunked, gzip\r\n", "3\r\nabc",
                    "3\r\nabc", {}},
        FramingCase{"NotHex", "Transfer-Encoding: chunked\r\n", "2\r\nab\r\ng\r\n", "ab", kMalformed},
        FramingCase{"NoSize", "Transfer-Encoding: chunked\r\n", ";ext\r\n", "", kMalformed},
        FramingCase{"BareLineFeed", "Transfer-Encoding: chunked\r\n", "3\nabc\r\n", "", kMalformed},
        FramingCase{"DataNotFollowedByCrLf", "Transfer-Encoding: chunked\r\n", "3\r\nabcX", "abc",
                    kMalformed},
        FramingCase{"SizeTooLarge", "Transfer-Encoding: chunked\r\n", "10000000000000000\r\n", "",
                    kMalformed},
        FramingCase{"SizeLineTooLong", "Transfer-Encoding: chunked\r\n", "1;" + std::string(5000, 'x'), "",
                    kMalformed},
        FramingCase{"TrailerBareLineFeed", "Transfer-Encoding: chunked\r\n", "0\r\nX: y\n\r\n", "",
                    kMalformed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StreamParsing, GetMetaLooksUpAsWritten) {
  Header("icy-metaint:1\r\n");
  site.socket->Deliver("a" + MetaBlock("StreamTitle='Artist - Song';StreamUrl='';"));
  EXPECT_EQ(control->GetMeta("StreamTitle"), "Artist - Song");
  EXPECT_EQ(control->GetMeta("StreamUrl"), std::nullopt);
  site.socket->Deliver("b" + MetaBlock("StreamTitle='Don't';"));
  EXPECT_EQ(control->GetMeta("StreamTitle"), "Don't");
  site.socket->Deliver("c" + MetaBlock("StreamTitle='abc"));
  EXPECT_EQ(control->GetMeta("StreamTitle"), std::nullopt);
}

TEST_F(StreamParsing, GetNoticesUpToTheFirstGap) {
  Header("icy-notice1:A\r\nicy-notice2:B\r\n");
  EXPECT_EQ(control->GetNotices(), "A\r\nB");
  control->Disconnect();
  EXPECT_EQ(control->GetNotices(), std::nullopt);
  control->Connect("h:1");
  Header("icy-notice1:A\r\nicy-notice3:C\r\n");
  EXPECT_EQ(control->GetNotices(), "A");
  control->Connect("h:1", true);
  Header("icy-name:x\r\n");
  EXPECT_EQ(control->GetNotices(), std::nullopt);
}

}  // namespace
}  // namespace pellora::capture
