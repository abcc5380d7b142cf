// SPDX-License-Identifier: MIT
// The scan of a file: where it looks for the first frame, what it stores of it and
// of its VBR header, and that it leaves nothing open.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <limits>
#include <stdexcept>

#include "tags/id3.h"
#include "tests/tags/tag_bytes.h"

namespace pellora::tags {
namespace {

using testing::BigEndian;
using testing::TempFile;
using Bytes = std::string;

// The header of an MPEG-1 Layer III frame, 128 kbit/s, 44100 Hz, joint stereo.
Bytes Frame() { return Bytes("\xFF\xFB\x90\x64", 4); }
Bytes Zeros(std::size_t n) { return Bytes(n, '\0'); }

// An ID3v1 record with `title`, no other text, genre 255.
Bytes ID3v1(const Bytes& title) {
  Bytes record = "TAG" + title;
  record.resize(127, '\0');
  return record + "\xFF";
}

// A revision-3 ID3v2 tag of `total` bytes (header included) with one TIT2 frame.
Bytes ID3v2(const Bytes& title, std::size_t total) {
  Bytes body = testing::Frame(3, "TIT2", Bytes(1, '\0') + title);
  body.resize(total - 10, '\0');
  return testing::Tag(3, body);
}

// A stereo MPEG-1 frame whose first bytes carry a Xing-style header (flags 0F) tagged `tag`.
Bytes XingFrame(const Bytes& tag, std::uint32_t frames, std::uint32_t bytes) {
  Bytes toc;
  for (int k = 0; k < 100; ++k) toc += char(k);
  return Frame() + Zeros(32) + tag + BigEndian(0x0F, 4) + BigEndian(frames, 4) + BigEndian(bytes, 4) + toc +
         BigEndian(57, 4);
}

Bytes VbriFrame(std::uint32_t entries, std::uint32_t entry_size) {
  return Frame() + Zeros(32) + "VBRI" + BigEndian(1, 2) + BigEndian(0, 2) + BigEndian(80, 2) +
         BigEndian(2000000, 4) + BigEndian(5000, 4) + BigEndian(entries, 2) + BigEndian(1, 2) +
         BigEndian(entry_size, 2);
}

// A Lyrics3 v2 block with an ETT field.
Bytes Lyrics3v2(const Bytes& title) {
  const Bytes field = "ETT" + std::string(5 - std::to_string(title.size()).size(), '0') +
                      std::to_string(title.size()) + title;
  const Bytes block = "LYRICSBEGIN" + field;
  const Bytes size = std::to_string(block.size());
  return block + std::string(6 - size.size(), '0') + size + "LYRICS200";
}

class Scan : public ::testing::Test {
 protected:
  // Writes `content` to the file and scans it.
  clsID3& ScanOf(const Bytes& content) {
    file_.Write(content);
    id3_.FileName(std::u16string(file_.Path().begin(), file_.Path().end()));
    return id3_;
  }

  TempFile file_;
  clsID3 id3_;
};

using Header = std::array<std::uint8_t, 3>;

TEST_F(Scan, BareFrameAtTheStart) {
  const clsID3& id3 = ScanOf(Frame() + Zeros(996));
  EXPECT_EQ(id3.AudioStart(), 5);
  EXPECT_EQ(id3.FrameHeader(), (Header{0xFB, 0x90, 0x64}));
  EXPECT_EQ(id3.AudioSize(), 1000 - 5);
  EXPECT_EQ(id3.MPEGVersion(), 2);
  EXPECT_EQ(id3.BitRate(), 128000);
  EXPECT_EQ(id3.ID3RevisionV2(), 3);
}

TEST_F(Scan, BareFrameWithAnID3v1Record) {
  const clsID3& id3 = ScanOf(Frame() + Zeros(996) + ID3v1("Song"));
  EXPECT_TRUE(id3.ID3v1Exists());
  EXPECT_EQ(id3.Title(), u"Song");
  EXPECT_EQ(id3.AudioStart(), 5);
  EXPECT_EQ(id3.AudioSize(), 1128 - 133);
}

TEST_F(Scan, SearchStartsAfterA1000ByteTag) {
  // The tag's own bytes hold a frame header that must not be taken for audio.
  Bytes tag = ID3v2("Title", 1000);
  tag.replace(600, 4, Frame());
  const clsID3& id3 = ScanOf(tag + Frame() + Zeros(500));
  EXPECT_TRUE(id3.ID3v2Exists());
  EXPECT_EQ(id3.Title(), u"Title");
  EXPECT_EQ(id3.AudioStart(), 1005);
  EXPECT_EQ(id3.AudioSize(), 1504 - 1005);
}

TEST_F(Scan, RejectedCandidateSkipsTheHeaderBytesAfterIt) {
  // FF FF FB 90 64: the real header right after the first 0xFF is skipped, so the
  // frame found is the next one.
  const clsID3& id3 = ScanOf(Bytes("\xFF", 1) + Frame() + Zeros(5) + Frame() + Zeros(100));
  EXPECT_EQ(id3.AudioStart(), 11 + 4);
}

TEST_F(Scan, XingHeaderWithAllFields) {
  const Bytes frame = XingFrame("Xing", 10000, 4000000);
  const Bytes file = frame + Zeros(5000 - frame.size());
  const clsID3& id3 = ScanOf(file);
  EXPECT_TRUE(id3.IsVbr());
  EXPECT_EQ(id3.Encoding(), 1);
  EXPECT_EQ(id3.VbrFrames(), 10000);
  EXPECT_EQ(id3.VbrBytes(), 4000000);
  ASSERT_EQ(id3.VbrToc().size(), 100u);
  EXPECT_EQ(id3.VbrToc()[99], 99);
  EXPECT_EQ(id3.VbrQuality(), 57);
  EXPECT_EQ(id3.AudioSize(), 5000 - 5 - 120);
  EXPECT_EQ(id3.FrameSize(), 400);
  EXPECT_EQ(id3.length(), 261.2244897959184);
  EXPECT_EQ(id3.BitRate(), 400.0 * 44100 / 144);
}

TEST_F(Scan, InfoHeaderKeepsAConstantBitRate) {
  const Bytes frame = XingFrame("Info", 10000, 4000000);
  const clsID3& id3 = ScanOf(frame + Zeros(5000 - frame.size()));
  EXPECT_FALSE(id3.IsVbr());
  EXPECT_EQ(id3.Encoding(), 0);
  EXPECT_EQ(id3.VbrFrames(), 10000);
  EXPECT_EQ(id3.VbrQuality(), 57);
  EXPECT_EQ(id3.AudioSize(), 5000 - 5 - 120);
  EXPECT_EQ(id3.BitRate(), 128000);
}

TEST_F(Scan, VbriHeaderWithItsTable) {
  const Bytes frame = VbriFrame(100, 2);
  const clsID3& id3 = ScanOf(frame + Zeros(5000 - frame.size()));
  EXPECT_TRUE(id3.IsVbr());
  EXPECT_EQ(id3.VbriTocEntries(), 100);
  EXPECT_EQ(id3.VbriTocEntrySize(), 2);
  EXPECT_EQ(id3.VbrQuality(), 80);
  EXPECT_EQ(id3.VbrFrames(), 5000);
  EXPECT_EQ(id3.AudioSize(), 5000 - 5 - 226);
}

TEST_F(Scan, VbriTableLargerThanTheAudioLeavesNoAudioRatherThanANegativeSize) {
  const Bytes frame = VbriFrame(65535, 65535);
  EXPECT_EQ(ScanOf(frame + Zeros(5000 - frame.size())).AudioSize(), 0);
}

TEST_F(Scan, VbrHeaderWithoutFramesMakesFrameSizeFail) {
  const Bytes frame = Frame() + Zeros(32) + "Xing" + BigEndian(0, 4);
  const clsID3& id3 = ScanOf(frame + Zeros(1000));
  EXPECT_TRUE(id3.IsVbr());
  EXPECT_THROW(static_cast<void>(id3.FrameSize()), std::domain_error);
  EXPECT_EQ(id3.length(), 0);
  EXPECT_EQ(id3.BitRate(), std::numeric_limits<double>::infinity());
}

TEST_F(Scan, FileOfZeros) {
  const clsID3& id3 = ScanOf(Zeros(3000));
  EXPECT_EQ(id3.AudioStart(), 0);
  EXPECT_EQ(id3.AudioSize(), 3000);
  EXPECT_FALSE(id3.ID3v1Exists() || id3.ID3v2Exists() || id3.Lyrics3v1Exists() || id3.Lyrics3v2Exists());
  EXPECT_FALSE(id3.IsVbr());
  EXPECT_EQ(id3.ID3RevisionV2(), 3);
  EXPECT_EQ(id3.FrameHeader(), (Header{0, 0, 0}));
  EXPECT_EQ(id3.SamplingRateFrequency(), 11025);
}

TEST_F(Scan, Lyrics3AndID3v1EndTheAudio) {
  const Bytes lyrics = Lyrics3v2("From Lyrics3");
  const Bytes file = Frame() + Zeros(996) + lyrics + ID3v1("From ID3v1");
  const clsID3& id3 = ScanOf(file);
  EXPECT_TRUE(id3.ID3v1Exists());
  EXPECT_TRUE(id3.Lyrics3v2Exists());
  EXPECT_EQ(id3.Title(), u"From Lyrics3");  // Lyrics3 fills the item before ID3v1
  EXPECT_EQ(id3.AudioSize(), std::int64_t(file.size()) - 128 - std::int64_t(lyrics.size()) - 5);
}

TEST_F(Scan, SearchNeverEntersTheTrailingTags) {
  const clsID3& id3 = ScanOf(Zeros(500) + Lyrics3v2(Frame() + Frame()) + ID3v1(Frame()));
  EXPECT_EQ(id3.AudioStart(), 0);
  EXPECT_EQ(id3.AudioSize(), 500);
  EXPECT_EQ(id3.FrameHeader(), (Header{0, 0, 0}));
}

TEST_F(Scan, NoVbrHeaderIsTakenFromWhatIsNoFrame) {
  // Without an accepted frame there is no stream header: neither a rejected
  // candidate's bytes nor the ID3v1 record count as a Xing header.
  const Bytes rejected = Bytes("\xFF\xFB\xF0\x64", 4) + Zeros(32) + "Xing" + BigEndian(1, 4) + BigEndian(9, 4);
  const clsID3& id3 = ScanOf(rejected + Zeros(200));
  EXPECT_EQ(id3.AudioStart(), 0);
  EXPECT_EQ(id3.FrameHeader(), (Header{0xFB, 0xF0, 0x64}));  // the last candidate's bytes
  EXPECT_FALSE(id3.IsVbr());
  EXPECT_EQ(id3.VbrFrames(), 0);
  EXPECT_EQ(id3.AudioSize(), std::int64_t(rejected.size()) + 200);

  Bytes record = ID3v1("");
  record.replace(20, 8, "Xing" + BigEndian(1, 4));
  EXPECT_FALSE(ScanOf(Zeros(300) + record).IsVbr());
}

TEST_F(Scan, FrameBeyondTheFirstWindows) {
  // The frame and its Xing header straddle the boundaries of the read windows.
  for (std::size_t offset : {4050u, 4094u, 20479u, 300000u}) {
    const Bytes frame = XingFrame("Xing", 321, 123456);
    const clsID3& id3 = ScanOf(Zeros(offset) + frame + Zeros(100));
    EXPECT_EQ(id3.AudioStart(), std::int64_t(offset) + 5) << offset;
    EXPECT_EQ(id3.VbrFrames(), 321) << offset;
    EXPECT_EQ(id3.VbrQuality(), 57) << offset;
  }
}

TEST_F(Scan, XingHeaderCutByTheAudioEnd) {
  // The record at the end is no audio: fields behind it are not read from it.
  const Bytes frame = XingFrame("Xing", 77, 88).substr(0, 50);
  const clsID3& id3 = ScanOf(frame + ID3v1("Abc"));
  EXPECT_TRUE(id3.IsVbr());
  EXPECT_EQ(id3.VbrFrames(), 77);
  EXPECT_EQ(id3.VbrBytes(), 0);
  EXPECT_TRUE(id3.VbrToc().empty());
}

TEST_F(Scan, TinyAndEmptyFiles) {
  for (const Bytes& content : {Bytes(), Bytes("\xFF", 1), Bytes("\xFF\xFB\x90", 3), Frame()}) {
    const clsID3& id3 = ScanOf(content);
    EXPECT_EQ(id3.AudioStart(), content.size() == 4 ? 5 : 0) << content.size();
    EXPECT_EQ(id3.ID3RevisionV2(), 3);
    EXPECT_FALSE(id3.ID3v2Exists());
  }
}

TEST_F(Scan, RescanFollowsTheFileAndClearsTheOldResults) {
  ScanOf(XingFrame("Xing", 5, 6) + Zeros(500));
  EXPECT_TRUE(id3_.IsVbr());
  file_.Write(Zeros(100));
  id3_.RefreshID3Tags();
  EXPECT_FALSE(id3_.IsVbr());
  EXPECT_EQ(id3_.VbrFrames(), 0);
  EXPECT_TRUE(id3_.VbrToc().empty());
  EXPECT_EQ(id3_.AudioStart(), 0);
  EXPECT_EQ(id3_.FrameHeader(), (Header{0, 0, 0}));
}

TEST_F(Scan, OnlyRegularFilesAreScanned) {
  // A FIFO would block the open until a writer came; a directory holds no tags.
  const std::string fifo = file_.Dir() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, file_.Dir(), std::string("/dev/zero")}) {
    id3_.Title(u"kept?");
    id3_.FileName(std::u16string(path.begin(), path.end()));
    EXPECT_TRUE(id3_.Title().empty()) << path;
    EXPECT_EQ(id3_.ID3RevisionV2(), 3) << path;
    EXPECT_EQ(id3_.AudioSize(), 0) << path;
  }
}

TEST_F(Scan, LeavesNoFileOpen) {
  const auto open_descriptors = [] {
    namespace fs = std::filesystem;
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
  };
  const auto before = open_descriptors();
  for (int k = 0; k < 20; ++k) ScanOf(ID3v2("T", 100) + XingFrame("Xing", 1, 2) + Lyrics3v2("x") + ID3v1("y"));
  id3_.FileName(u"/nonexistent/pellora.mp3");
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
}  // namespace pellora::tags
