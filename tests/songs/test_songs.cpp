// SPDX-License-Identifier: MIT
// The pure pieces of song splitting: frame boundaries in any cutting, the Info
// frame as the tag store reads it back, song names and title patterns.
#include <gtest/gtest.h>

#include <random>

#include "cli/silent_frames.h"
#include "songs/cue_sheet.h"
#include "songs/frame_assembler.h"
#include "songs/info_frame.h"
#include "songs/song_naming.h"
#include "tags/id3.h"
#include "tests/support/files.h"
#include "tests/support/temp_path.h"
#include "text/text.h"

namespace pellora::songs {
namespace {

struct Collected : FrameSink {
  void Unit(std::span<const char> bytes, const FrameInfo& info) override {
    all.append(bytes.data(), bytes.size());
    if (info.is_frame) frames.emplace_back(bytes.data(), bytes.size());
  }
  std::string all;
  std::vector<std::string> frames;
};

std::string SilentFrame(std::uint64_t k) {
  const auto bytes = cli::SilentFrames(128).Frame(k);
  return std::string(bytes.begin(), bytes.end());
}

// Frame k of another encoder: the same frame made MPEG-1 at 48 kHz, or MPEG-2
// (22.05 kHz), as long as its header says.
std::string OtherKindFrame(std::uint64_t k, bool mpeg2) {
  std::string frame = SilentFrame(k);
  if (mpeg2)
    frame[1] = char(0xF3);
  else
    frame[2] = char(frame[2] | 0x04);
  frame.resize(*MpegFrameLength({std::uint8_t(frame[1]), std::uint8_t(frame[2]), std::uint8_t(frame[3])}), '\0');
  return frame;
}

// An ADTS frame of `length` bytes (no CRC, 44.1 kHz, one raw block).
std::string AdtsFrame(std::size_t length, char fill) {
  std::string f(length, fill);
  const unsigned char header[7] = {0xFF, 0xF1, 0x50, static_cast<unsigned char>(0x80 | ((length >> 11) & 3)),
                                   static_cast<unsigned char>((length >> 3) & 0xFF),
                                   static_cast<unsigned char>(((length & 7) << 5) | 0x1F), 0xFC};
  for (int i = 0; i < 7; ++i) f[std::size_t(i)] = char(header[i]);
  return f;
}

// Whatever the cutting, every byte comes out once, in order, and exactly the
// frames put in come out as frames (junk between them, even junk holding 0xFF
// or a lone header, is not taken for a frame), also when the stream changes its
// sampling rate or MPEG version for a while.
TEST(FrameAssembler, AnyCuttingGivesTheFramesAndEveryByte) {
  std::mt19937 rng(16);
  for (const AudioFormat format : {AudioFormat::Mpeg, AudioFormat::Adts}) {
    for (int round = 0; round < 40; ++round) {
      std::string stream;
      std::vector<std::string> frames;
      const bool changes = round % 4 >= 2;
      for (std::uint64_t k = 0; k < 60; ++k) {
        // A change of kind is taken on three frames in a row: no junk between them.
        const bool confirming = changes && ((k > 20 && k < 23) || (k > 40 && k < 43));
        // A stray 0xFF, or (once the stream's kind is known) a lone header of another kind.
        if (rng() % 7 == 0 && !confirming)
          stream += k > 0 && rng() % 2 ? std::string("\xFF\xE3\x98\x00?", 5) : std::string("\x12\xFF\x00junk", 7);
        const bool other_kind = changes && k >= 20 && k < 40;
        frames.push_back(format == AudioFormat::Adts ? AdtsFrame(7 + rng() % 600, char('a' + k % 26))
                         : other_kind            ? OtherKindFrame(k, round % 8 >= 4)
                                                 : SilentFrame(k));
        stream += frames.back();
      }
      FrameAssembler assembler(format);
      Collected out;
      for (std::size_t at = 0; at < stream.size();) {
        const std::size_t size = std::min<std::size_t>(1 + rng() % (round % 2 ? 5 : 3000), stream.size() - at);
        assembler.Feed(std::span<const char>(stream).subspan(at, size), out);
        at += size;
      }
      assembler.Flush(out);
      ASSERT_EQ(out.all, stream) << "round " << round;
      ASSERT_EQ(out.frames, frames) << "round " << round;
    }
  }
}

TEST(FrameAssembler, FrameLengthsFollowTheHeader) {
  struct Case { tags::mpeg::HeaderBytes header; std::size_t length; };
  for (const Case& c : {Case{{0xFB, 0x90, 0x00}, 417},   // MPEG-1 L3 128k 44.1k
                        Case{{0xFB, 0x92, 0x00}, 418},   // padded
                        Case{{0xFB, 0xE4, 0x00}, 960},   // 320k 48k
                        Case{{0xF3, 0x88, 0x00}, 288},   // MPEG-2 L3 64k 16k
                        Case{{0xFF, 0x10, 0x00}, 32},    // Layer I 32k 44.1k: 8 slots of 4
                        Case{{0xFD, 0x40, 0x00}, 208}})  // Layer II 64k 44.1k
    EXPECT_EQ(MpegFrameLength(c.header), c.length);
  EXPECT_EQ(MpegFrameLength({0xFB, 0x00, 0x00}), std::nullopt);  // free format
  EXPECT_EQ(FormatOfContentType("Audio/MPEG; charset=x"), AudioFormat::Mpeg);
  EXPECT_EQ(FormatOfContentType("audio/aacp"), AudioFormat::Adts);
  EXPECT_EQ(FormatOfContentType("application/ogg"), AudioFormat::Bytes);
}

// The Info frame the splitter writes is read back by the tag store: frame
// count, byte count, a table of contents, and the exact playing time.
TEST(InfoFrame, TheTagStoreReadsItBack) {
  for (const int kbps : {128, 32}) {
    cli::SilentFrames frames(kbps);
    const auto first = frames.Frame(0);
    const auto header = InfoFrameHeader({first[1], first[2], first[3]});
    ASSERT_TRUE(header);
    const std::size_t info_length = *MpegFrameLength(*header);
    std::string audio;
    std::vector<std::uint32_t> offsets;
    for (std::uint64_t k = 0; k < 100; ++k) {
      offsets.push_back(std::uint32_t(info_length + audio.size()));
      const auto f = frames.Frame(k);
      audio.append(f.begin(), f.end());
    }
    const bool variable = (*header)[1] >> 4 != first[2] >> 4;  // 32k: a larger frame was needed
    EXPECT_EQ(variable, kbps == 32);
    const std::string info = BuildInfoFrame({*header, variable, 100, info_length + audio.size(), offsets});
    ASSERT_EQ(info.size(), info_length);
    const std::string path = testing_support::TempPathForCurrentTest("info", ".mp3");
    testing_support::WriteFile(path, info + audio);
    tags::clsID3 store;
    store.FileName(text::Utf8ToUtf16(path));
    EXPECT_EQ(store.VbrFrames(), 100);
    EXPECT_EQ(store.VbrBytes(), std::int32_t(info.size() + audio.size()));
    ASSERT_EQ(store.VbrToc().size(), 100u);
    EXPECT_EQ(store.VbrToc()[0], info_length * 256 / (info.size() + audio.size()));
    EXPECT_NEAR(store.length(), 100 * 1152 / 44100.0, 1152 / 44100.0);
    std::remove(path.c_str());
  }
}

TEST(SongNaming, SplitsTitlesAndExpandsTemplates) {
  struct Case { const char* stream_title; const char* artist; const char* title; const char* name; };
  for (const Case& c : {Case{"Daft Punk - One More Time", "Daft Punk", "One More Time", "Daft Punk - One More Time"},
                        Case{"A - B - C", "A", "B - C", "A - B - C"},
                        Case{"Station Jingle", "", "Station Jingle", "Station Jingle"},
                        Case{" x  -  y ", "x", "y", "x - y"}, Case{"Artist - ", "Artist", "", "Artist"},
                        Case{" - ", "", "", ""}}) {
    const SongTitle t = SplitStreamTitle(c.stream_title);
    EXPECT_EQ(t.artist, c.artist);
    EXPECT_EQ(t.title, c.title);
    EXPECT_EQ(ExpandNameTemplate("{artist} - {title}", {t.artist, t.title, "", 0, "", ""}), c.name);
  }
  const NameFields f{"Art", "Ti", "Radio", 7, "2026-12-07", "18-30-00"};
  EXPECT_EQ(ExpandNameTemplate("{n}. {station} {date} {time} {title} {other}", f),
            "7. Radio 2026-12-07 18-30-00 Ti {other}");
  EXPECT_EQ(NameTemplateProblem("{n}. {title}"), "");
  EXPECT_EQ(NameTemplateProblem(" "), "must not be empty");
  EXPECT_EQ(NameTemplateProblem("{n} {Title}"),
            "has an unknown placeholder {Title} (known: {artist} {title} {station} {n} {date} {time})");
}

TEST(SongNaming, PatternsIgnoreCaseAndDecideWhatIsKept) {
  struct Case { const char* pattern; const char* text; bool match; };
  for (const Case& c : {Case{"*jingle*", "Radio JINGLE 3", true}, Case{"ad?", "AD1", true},
                        Case{"ad?", "ad12", false}, Case{"[a-c]*", "Beat", true}, Case{"[!a-c]*", "Beat", false},
                        Case{"*É*", "café", true}, Case{"caf?", "café", true}, Case{"x", "y", false}})
    EXPECT_EQ(MatchesPattern(c.pattern, c.text), c.match) << c.pattern << " " << c.text;
  EXPECT_FALSE(WantSong("  ", {}, {}));
  EXPECT_FALSE(WantSong(" - ", {}, {}));
  EXPECT_TRUE(WantSong("A - B", {}, {"*jingle*"}));
  EXPECT_FALSE(WantSong("Jingle", {}, {"*jingle*"}));
  EXPECT_FALSE(WantSong("A - B", {"c*"}, {}));
  EXPECT_TRUE(WantSong("C - D", {"x*", "c*"}, {}));
}

}  // namespace
// A sheet read back gives the tracks it was written from (times to the 75th of
// a second); a damaged one gives what it holds and nothing made up.
TEST(CueSheet, ReadsBackWhatItWrote) {
  const std::vector<CueTrack> tracks{{"Alpha", "One", 0}, {"", "Jingle", 61.5}, {"B \"Q\"", "Two", 3600.04}};
  const std::vector<CueTrack> read = ParseCueTracks(BuildCueSheet("x.mp3", "Station", tracks));
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[1].title, "Jingle");
  EXPECT_EQ(read[2].performer, "B 'Q'");  // double quotes were written as single ones
  EXPECT_NEAR(read[1].seconds, 61.5, 1.0 / 75);
  EXPECT_NEAR(read[2].seconds, 3600.04, 1.0 / 75);
  const auto damaged = ParseCueTracks("FILE \"x\" MP3\r\n  TRACK 01 AUDIO\r\n    TITLE \"A\"\r\n"
                                      "    INDEX 01 00:99:00\r\nTRACK 02\n    INDEX 01 01:02:03");
  ASSERT_EQ(damaged.size(), 2u);
  EXPECT_EQ(damaged[0].title, "A");
  EXPECT_EQ(damaged[0].seconds, 0);
  EXPECT_NEAR(damaged[1].seconds, 62 + 3.0 / 75, 1e-9);
}

}  // namespace pellora::songs
