// SPDX-License-Identifier: MIT
// Tagged recordings: the stream's values in the tag items, titles in UTF-8 or
// Latin-1, and the audio laid out after the ID3v2 tag; checked with the tag store
// and with mutagen.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "capture/torvane.h"
#include "hosting/event_loop.h"
#include "tags/id3.h"
#include "text/text.h"
#include "tests/capture/event_log.h"
#include "tests/capture/loop_wait.h"
#include "tests/support/icy_server.h"
#include "tests/support/process.h"
#include "tests/support/recorded_file.h"
#include "tests/support/temp_path.h"

namespace pellora::capture {
namespace {

using testing_support::IcyReply;
using testing_support::IcyServer;
using testing_support::Id3v2Size;
using testing_support::ReadFile;
using testing_support::RunCommand;
using testing_support::RunUntil;

constexpr int kMetaint = 16;
const std::string kStationUrl = "http://station.example/";
const std::string kTitleUrl = "http://station.example/now";

std::string MetadataBlock(const std::string& title) {
  std::string text = "StreamTitle='" + title + "';StreamUrl='" + kTitleUrl + "';";
  text.resize((text.size() + 15) / 16 * 16, '\0');
  return char(text.size() / 16) + text;
}

std::string Audio(char fill) { return std::string(kMetaint, fill); }

// A header, then 16 audio bytes with the title block, and four more intervals of
// audio (each followed by an empty block), each write a read of its own. A recording
// started when the title arrives gets the audio of that read too.
IcyReply Station(const std::string& title) {
  IcyReply reply;
  reply.writes = {"ICY 200 OK\r\nicy-name:Test FM\r\nicy-genre:Jazz\r\nicy-url:" + kStationUrl +
                      "\r\nicy-metaint:16\r\n\r\n",
                  Audio('a') + MetadataBlock(title)};
  for (char fill : {'b', 'c', 'd', 'e'}) reply.writes.push_back(Audio(fill) + std::string(1, '\0'));
  reply.pause = std::chrono::milliseconds(30);
  return reply;
}

// The frames mutagen reads, one "ID=text" a line.
std::string MutagenFrames(const std::string& path) {
  const std::string script =
      "import sys\nfrom mutagen.id3 import ID3\nt = ID3(sys.argv[1])\n"
      "for k in sorted(t.keys()):\n  f = t[k]\n"
      "  v = f.url if hasattr(f, 'url') else '|'.join(str(x) for x in f.text)\n"
      "  print(k.split(':')[0] + '=' + v)\n";
  return RunCommand("/usr/bin/python3 -c \"" + script + "\" '" + path + "' 2>&1").output;
}

class RecordingTags : public ::testing::Test {
 protected:
  RecordingTags() : site(loop), control(site.Create<Torvane>()) {
    control->SetEvents(&log);
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    path = pellora::testing_support::UniqueTempPath("tagged_" + name + ".mp3");
    std::filesystem::remove(path);
  }
  ~RecordingTags() override { control->Disconnect(); }

  // Records from the first title on, until all of the station's audio has arrived.
  void RecordFromFirstTitle(const IcyReply& reply, bool append = false) {
    IcyServer server(reply);
    log.react = [&](const std::string& event) {
      if (event.rfind("MetaChanged:", 0) == 0 && !control->IsWriting()) control->StartWriting(path, append);
    };
    control->Connect(server.Url(), true);
    ASSERT_TRUE(RunUntil(loop, [&] { return control->WrittenBytesTotal() == 5 * kMetaint; }));
    control->Disconnect();
    log.react = nullptr;
  }

  void SetHostTexts() {
    control->WriteID3TagToFile(true);
    control->ID3Comments("a comment");
    control->ID3EncodedBy("encoder");
    control->ID3Copyright("(c) someone");
    control->ID3Languages("eng");
  }

  hosting::EventLoop loop;
  hosting::Site site;
  std::shared_ptr<Torvane> control;
  EventLog log;
  std::string path;
};

TEST_F(RecordingTags, WithoutTaggingTheFileHoldsTheAudioAlone) {
  RecordFromFirstTitle(Station("Artist - Song"));
  EXPECT_EQ(ReadFile(path), Audio('a') + Audio('b') + Audio('c') + Audio('d') + Audio('e'));
}

TEST_F(RecordingTags, ItemsTakeTheStreamValuesAndTheHostTexts) {
  SetHostTexts();
  RecordFromFirstTitle(Station("Artist - Song"));
  tags::clsID3 store;
  store.FileName(text::Latin1ToUtf16(path));
  for (const auto& item : {store.Title(), store.Artist(), store.Album(), store.Band(), store.Composer(),
                           store.InterpretedBy()})
    EXPECT_EQ(item, u"Artist - Song");
  EXPECT_EQ(store.Comments(), u"a comment");
  EXPECT_EQ(store.EncodedBy(), u"encoder");
  EXPECT_EQ(store.CopyrightInfo(), u"(c) someone");
  EXPECT_EQ(store.Languages(), u"eng");
  EXPECT_EQ(store.Genre(), u"Jazz");
  EXPECT_EQ(store.Copyright(), text::Latin1ToUtf16(kStationUrl));
  EXPECT_EQ(store.InternetRadioStationOwner(), text::Latin1ToUtf16(kStationUrl));
  EXPECT_EQ(store.InternetRadioURL(), text::Latin1ToUtf16(kStationUrl));
  EXPECT_EQ(store.InternetRadioStationName(), text::Latin1ToUtf16(kTitleUrl));
  EXPECT_TRUE(store.ID3v2Exists());
}

TEST_F(RecordingTags, TheAudioFollowsTheId3v2TagAndNothingFollowsTheAudio) {
  SetHostTexts();
  RecordFromFirstTitle(Station("Artist - Song"));
  const std::string file = ReadFile(path);
  const std::size_t tag = Id3v2Size(file);
  ASSERT_GT(tag, 10u);
  EXPECT_EQ(file.substr(tag), Audio('a') + Audio('b') + Audio('c') + Audio('d') + Audio('e'));
  const std::string frames = MutagenFrames(path);
  EXPECT_THAT(frames, ::testing::HasSubstr("TIT2=Artist - Song\n"));
  EXPECT_THAT(frames, ::testing::HasSubstr("TPE1=Artist - Song\n"));
  EXPECT_THAT(frames, ::testing::HasSubstr("TRSO=" + kStationUrl + "\n"));
}

TEST_F(RecordingTags, AppendingToATaggedRecordingRetagsItAndContinuesItsAudio) {
  SetHostTexts();
  RecordFromFirstTitle(Station("First Song"));
  RecordFromFirstTitle(Station("Second Song"), true);
  const std::string file = ReadFile(path);
  const std::string audio = Audio('a') + Audio('b') + Audio('c') + Audio('d') + Audio('e');
  EXPECT_EQ(file.substr(Id3v2Size(file)), audio + audio);
  EXPECT_THAT(MutagenFrames(path), ::testing::HasSubstr("TIT2=Second Song\n"));
}

TEST_F(RecordingTags, BeforeTheFirstTitleNoTitleFramesAreWritten) {
  SetHostTexts();
  IcyServer server(Station("Artist - Song"));
  log.react = [&](const std::string& event) {
    if (event.rfind("GotHeader:", 0) == 0) control->StartWriting(path);
  };
  control->Connect(server.Url(), true);
  ASSERT_TRUE(RunUntil(loop, [&] { return control->WrittenBytesTotal() == 5 * kMetaint; }));
  control->Disconnect();
  const std::string frames = MutagenFrames(path);
  EXPECT_THAT(frames, ::testing::Not(::testing::HasSubstr("TIT2=")));
  EXPECT_THAT(frames, ::testing::HasSubstr("TCON=Jazz\n"));
}

struct TitleCase {
  const char* name;
  std::string bytes;     // as the station sends them
  std::u16string title;  // as the tag holds it
};

class StreamTitleText : public RecordingTags, public ::testing::WithParamInterface<TitleCase> {};

TEST_P(StreamTitleText, IsUtf8WhenValidWithAMultiByteSequenceElseLatin1) {
  SetHostTexts();
  RecordFromFirstTitle(Station(GetParam().bytes));
  tags::clsID3 store;
  store.FileName(text::Latin1ToUtf16(path));
  EXPECT_EQ(store.Title(), GetParam().title);
  EXPECT_THAT(MutagenFrames(path), ::testing::HasSubstr("TIT2=" + text::Utf16ToUtf8(GetParam().title) + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Titles, StreamTitleText,
    ::testing::Values(TitleCase{"Utf8", "Beyonc\xC3\xA9 - Halo", u"Beyonc\u00E9 - Halo"},
                      TitleCase{"Utf8BeyondLatin1", "\xE5\xB7\x9D\xE4\xBA\x95 - \xE2\x82\xAC", u"\u5DDD\u4E95 - \u20AC"},
                      TitleCase{"Latin1", "Beyonc\xE9 - Halo", u"Beyonc\u00E9 - Halo"},
                      TitleCase{"Ascii", "Plain Title", u"Plain Title"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pellora::capture
