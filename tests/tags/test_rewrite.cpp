// SPDX-License-Identifier: MIT
// The file rewrite on real files: layouts, independent readers (mutagen, ffprobe),
// file times, and faults injected into the temporary folder and the file.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>
#include <filesystem>
#include <fstream>

#include "hosting/file.h"
#include "tags/id3.h"
#include "tags/id3v2_format.h"
#include "tags/rewrite_journal.h"
#include "tags/tag_building.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "text/text.h"

namespace pellora::tags {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing_support::RunCommand;

using testing_support::ReadFile;

// Compares file contents, naming the first differing offset instead of printing them.
testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return testing::AssertionSuccess();
  const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  return testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                     << ", first difference at offset " << (diff.first - actual.begin());
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// One second of real MPEG audio without any tag, made once by ffmpeg.
const std::string& Audio() {
  static const std::string audio = [] {
    const fs::path path = fs::temp_directory_path() / ("pellora-audio-" + std::to_string(::getpid()) + ".mp3");
    RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -c:a libmp3lame -b:a 64k "
               "-id3v2_version 0 -write_id3v1 0 -write_xing 0 '" + path.string() + "'");
    std::string bytes = ReadFile(path);
    fs::remove(path);
    return bytes;
  }();
  return audio;
}

std::string Synchsafe(std::size_t n) { return detail::NumberToBytes(double(n), 4, -1); }

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { old_ ? (void)::setenv(name_, old_->c_str(), 1) : (void)::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Makes a file or folder immutable (even for root) or, for other users, read-only.
bool MakeUnwritable(const fs::path& path, bool on) {
  if (::geteuid() != 0) {
    fs::permissions(path, on ? fs::perms::owner_write : fs::perms::owner_write,
                    on ? fs::perm_options::remove : fs::perm_options::add);
    return true;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return ok;
}

const std::string kV3Tag = "ID3\x03\0\0\0\0\0\x10"s + "TIT2\0\0\0\x02\0\0\0X"s + "\0\0\0\0"s;
const std::string kV4TagWithFooter = "ID3\x04\0\x10\0\0\0\x0C"s + "TIT2\0\0\0\x01\0\0\0"s + "\0"s + "3DI\x04\0\x10\0\0\0\x0C"s;
const std::string kID3v1 = "TAG" + std::string(125, 'v');
const std::string kNeutralID3v1 = "TAG" + std::string(124, '\0') + "\xFF";
const std::string kLyrics3v2 = "LYRICSBEGININD0000200ETT00003abc000032LYRICS200";
const std::string kLyrics3v1 = "LYRICSBEGIN" + std::string(100, 'l') + "LYRICSEND";

class RewriteTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Audio().empty()) << "ffmpeg could not make the test audio";
    dir_ = fs::temp_directory_path() / ("pellora-rewrite-" + std::to_string(::getpid()));
    temp_ = dir_ / "temp";
    fs::create_directories(temp_);
    env_.emplace("TEMP", temp_.string());
  }
  void TearDown() override {
    env_.reset();
    fs::remove_all(dir_);
  }

  fs::path File(const std::string& bytes, const char* name = "song.mp3") {
    WriteAll(dir_ / name, bytes);
    return dir_ / name;
  }
  static void Open(clsID3& id3, const fs::path& path) { id3.FileName(text::Latin1ToUtf16(path.string())); }
  bool TemporaryFolderEmpty() const { return fs::is_empty(temp_); }

  nlohmann::json Mutagen(const fs::path& path) {
    const auto result = RunCommand("/usr/bin/python3 " PELLORA_SOURCE_DIR "/tests/tags/fixtures/read_mutagen_tags.py '" +
                                   path.string() + "'");
    EXPECT_EQ(result.status, 0) << result.output;
    return nlohmann::json::parse(result.output, nullptr, false);
  }

  fs::path dir_, temp_;
  std::optional<ScopedEnv> env_;
};

TEST_F(RewriteTest, BareAudioGetsARevision3TagAndAnID3v1Record) {
  const fs::path path = File(Audio());
  clsID3 id3;
  Open(id3, path);
  id3.Title(u"Song");
  id3.Artist(u"Band");
  id3.UpdateID3Tags();
  EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Rewritten);
  EXPECT_EQ(id3.ID3RevisionV2(), 3);

  const std::string frames = "TCON\0\0\0\x06\0\0\0(255)"s + "TIT2\0\0\0\x05\0\0\0Song"s + "TPE1\0\0\0\x05\0\0\0Band"s;
  const std::string head = "ID3\x03\0\0"s + Synchsafe(frames.size() + 2048) + frames + std::string(2048, '\0');
  EXPECT_TRUE(SameBytes(ReadFile(path), head + Audio() + *detail::BuildID3v1Record(id3)));
  EXPECT_TRUE(TemporaryFolderEmpty());
}

TEST_F(RewriteTest, MutagenAndFfprobeReadWhatWasWritten) {
  const fs::path path = File(Audio());
  clsID3 id3;
  Open(id3, path);
  id3.Title(u"T\u00EEtle \u65E5\u672C");
  id3.Artist(u"Artist");
  id3.Album(std::u16string(40, u'A'));
  id3.Year(u"2024");
  id3.Comments(u"A comment");
  id3.TrackNumber(u"5");
  id3.TracksTotal(u"12");
  id3.GenreID(17);
  id3.Genre(u"Rock");
  id3.Lyrics(u"la la\r\nla");
  id3.AudioURL(u"http://example.org/song");
  id3.InternetRadioURL(u"http://radio.example/\u65E5");
  id3.UpdateID3Tags();

  const auto read = Mutagen(path);
  ASSERT_FALSE(read.is_discarded());
  EXPECT_EQ(read["version"], "2.3");
  const auto& frames = read["frames"];
  EXPECT_EQ(frames["TIT2"], "T\u00EEtle \u65E5\u672C");
  EXPECT_EQ(frames["TPE1"], "Artist");
  EXPECT_EQ(frames["TALB"], std::string(40, 'A'));
  EXPECT_EQ(frames["TRCK"], "5/12");
  EXPECT_EQ(frames["COMM::eng"], "A comment");
  EXPECT_EQ(frames["USLT::eng"], "la la\r\nla");
  // URL frames hold the bare address; a character beyond Latin-1 is percent-encoded.
  EXPECT_EQ(frames["WOAF"], "http://example.org/song");
  EXPECT_EQ(frames["WORS"], "http://radio.example/%E6%97%A5");
  EXPECT_EQ(read["genres"], nlohmann::json::array({"Rock"}));
  EXPECT_NEAR(read["length"].get<double>(), 1.0, 0.1);

  const auto probe = RunCommand("ffprobe -v error -show_entries stream=codec_name,sample_rate -of csv=p=0 '" +
                                path.string() + "'");
  EXPECT_EQ(probe.output, "mp3,44100\n");
  // The long album went into a Lyrics3 block before the ID3v1 record.
  const std::string bytes = ReadFile(path);
  EXPECT_EQ(bytes.substr(bytes.size() - 128 - 9, 9), "LYRICS200");
}

TEST_F(RewriteTest, Revision4TagOfMutagenStaysRevision4AndKeepsForeignFrames) {
  const fs::path path = File(Audio());
  const auto made = RunCommand("/usr/bin/python3 -c \"import sys; from mutagen.id3 import ID3, TIT2, TXXX, TDRC; "
                               "t = ID3(); t.add(TIT2(encoding=3, text='Old')); "
                               "t.add(TXXX(encoding=3, desc='mine', text='kept')); t.add(TDRC(encoding=3, text='1999')); "
                               "t.save(sys.argv[1], v2_version=4)\" '" + path.string() + "'");
  ASSERT_EQ(made.status, 0) << made.output;
  clsID3 id3;
  Open(id3, path);
  ASSERT_EQ(id3.ID3RevisionV2(), 4);
  EXPECT_EQ(id3.Title(), u"Old");
  id3.Title(u"\u0141\u00F3d\u017A");
  id3.Year(u"2001");
  id3.UpdateID3Tags();

  const auto read = Mutagen(path);
  EXPECT_EQ(read["version"], "2.4");
  EXPECT_EQ(read["frames"]["TIT2"], "\u0141\u00F3d\u017A");
  EXPECT_EQ(read["frames"]["TDRC"], "2001");
  EXPECT_EQ(read["frames"]["TXXX:mine"], "kept");
  const std::string bytes = ReadFile(path);
  EXPECT_NE(bytes.find(Audio()), std::string::npos);
}

TEST_F(RewriteTest, SecondUpdateGivesTheSameFileInPlace) {
  const fs::path path = File(Audio());
  clsID3 id3;
  Open(id3, path);
  id3.Title(u"Wxyz");
  id3.UpdateID3Tags();
  const std::string first = ReadFile(path);
  id3.UpdateID3Tags();
  EXPECT_TRUE(SameBytes(ReadFile(path), first));

  // A same-length change is patched in place and matches a full rewrite.
  id3.Title(u"Abcd");
  id3.UpdateID3Tags();
  const fs::path fresh = File(Audio(), "fresh.mp3");
  clsID3 other;
  Open(other, fresh);
  other.Title(u"Abcd");
  other.UpdateID3Tags();
  EXPECT_TRUE(SameBytes(ReadFile(path), ReadFile(fresh)));
}

// Another tool's tag (mutagen writes TXXX, its own padding and TIT2 in UTF-8):
// re-rendering it changes its size. Off, the old padding length is kept and the
// audio moves; on, the padding absorbs the difference and the audio stays put.
TEST_F(RewriteTest, AbsorbPaddingEditsAForeignTagInPlace) {
  const fs::path path = File(Audio());
  const auto made = RunCommand("/usr/bin/python3 -c \"import sys; from mutagen.id3 import ID3, TIT2, TXXX; "
                               "t = ID3(); t.add(TIT2(encoding=3, text='Fifteen chars!!')); "
                               "t.add(TXXX(encoding=3, desc='mine', text='kept')); t.save(sys.argv[1], v2_version=3)\" '" +
                               path.string() + "'");
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string before = ReadFile(path);
  const std::size_t audio_at = before.find(Audio());
  struct stat old_stat {};
  ASSERT_EQ(::stat(path.c_str(), &old_stat), 0);
  for (const bool absorb : {true, false}) {
    WriteAll(path, before);
    clsID3 id3;
    Open(id3, path);
    id3.AbsorbPadding(absorb);
    id3.Title(u"Another fifteen");
    id3.UpdateID3Tags();
    const std::string after = ReadFile(path);
    EXPECT_EQ(after.find(Audio()) == audio_at, absorb);
    EXPECT_EQ(after.size() == before.size() + 128, absorb);  // and a new ID3v1 record
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino == old_stat.st_ino, absorb);
    clsID3 check;
    Open(check, path);
    EXPECT_EQ(check.Title(), u"Another fifteen");
  }
}

TEST_F(RewriteTest, OldTagsAreCutOffAndForeignLyrics3FieldsCarried) {
  const std::string body = "TIT2\0\0\0\x04\0\0\0Old"s + std::string(100, '\0');
  const std::string lyrics = "LYRICSBEGININD0000200INF00003abc";
  const std::string old = "ID3\x03\0\0"s + Synchsafe(body.size()) + body + Audio() + lyrics + "000032LYRICS200" +
                          kNeutralID3v1;
  const fs::path path = File(old);
  clsID3 id3;
  Open(id3, path);
  EXPECT_EQ(id3.Title(), u"Old");
  id3.Title(std::u16string(35, u'n'));
  id3.UpdateID3Tags();

  // The grown frame area keeps the old 100 bytes of padding.
  const std::string frames = "TIT2\0\0\0\x24\0\0\0"s + std::string(35, 'n') + "TCON\0\0\0\x06\0\0\0(255)"s;
  const std::string head = "ID3\x03\0\0"s + Synchsafe(frames.size() + 100) + frames + std::string(100, '\0');
  const std::string trailer = *detail::BuildLyrics3v2Block(id3, lyrics) + *detail::BuildID3v1Record(id3);
  EXPECT_TRUE(SameBytes(ReadFile(path), head + Audio() + trailer));
  EXPECT_NE(detail::BuildLyrics3v2Block(id3, lyrics)->find("INF00003abc"), std::string::npos);
}

struct StripCase {
  const char* name;
  std::string before, after;  // around the audio
  int revision_after;
};

class Strip : public RewriteTest, public testing::WithParamInterface<StripCase> {};

TEST_P(Strip, LeavesExactlyTheAudio) {
  const auto& param = GetParam();
  const fs::path path = File(param.before + Audio() + param.after);
  clsID3 id3;
  Open(id3, path);
  id3.DeleteID3Tags();
  EXPECT_TRUE(SameBytes(ReadFile(path), Audio()));
  EXPECT_EQ(id3.ID3RevisionV2(), param.revision_after);
  EXPECT_TRUE(id3.Title().empty());
  EXPECT_EQ(id3.GenreID(), 255);
  EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Rewritten);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Strip,
    testing::Values(StripCase{"V3LyricsV2ID3v1", kV3Tag, kLyrics3v2 + kID3v1, 3},
                    StripCase{"V4WithFooter", kV4TagWithFooter, "", 4},
                    StripCase{"NoTags", "", "", 0},
                    StripCase{"LyricsV1ID3v1", "", kLyrics3v1 + kID3v1, 0},
                    StripCase{"EmptyLyricsV1", "", "LYRICSBEGINLYRICSEND", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// What the scan reads as tags is exactly what a removal cuts off, also for trailers
// that only look like tags.
struct AgreeCase {
  const char* name;
  std::string before, after;  // around the audio
  std::u16string title_read;
  std::string kept_after;  // what the removal leaves after the audio
};

class ReadAndStrip : public RewriteTest, public testing::WithParamInterface<AgreeCase> {};

TEST_P(ReadAndStrip, Agree) {
  const auto& param = GetParam();
  // "SIZE" stands for six digits that point back at offset 10, inside an ID3v2 tag.
  char size[8];
  std::snprintf(size, sizeof size, "%06zu", param.before.size() + Audio().size() - 10);
  const auto resolve = [&](std::string bytes) { return bytes.starts_with("SIZE") ? size + bytes.substr(4) : bytes; };
  const fs::path path = File(param.before + Audio() + resolve(param.after));
  clsID3 id3;
  Open(id3, path);
  EXPECT_EQ(id3.Title(), param.title_read);
  id3.DeleteID3Tags();
  EXPECT_TRUE(SameBytes(ReadFile(path), Audio() + resolve(param.kept_after)));
}

// An ID3v2 tag whose padding holds the start of a Lyrics3 block.
const std::string kTagHidingLyrics = "ID3\x03\0\0"s + Synchsafe(40) + "LYRICSBEGINETT00003abc" + std::string(18, '\0');

INSTANTIATE_TEST_SUITE_P(
    Trailers, ReadAndStrip,
    testing::Values(AgreeCase{"Lyrics3v2SizeWithBlanks", "", "LYRICSBEGINETT00005Blank    24LYRICS200", u"Blank", ""},
                    AgreeCase{"Lyrics3v2StartOnlyInsideTheID3v2Tag", kTagHidingLyrics, "SIZELYRICS200", u"",
                              "SIZELYRICS200"}),
    [](const auto& info) { return std::string(info.param.name); });

// Output and memory are bounded by the input and the values set.
TEST_F(RewriteTest, DuplicatesOfAManagedFrameAreWrittenOnceAtMost) {
  std::string frames;
  for (int i = 0; i < 200; ++i) frames += "tit2\0\0\0\x02\0\0\0x"s;
  const std::string head = "ID3\x03\0\0"s + Synchsafe(frames.size()) + frames;
  const fs::path path = File(head + Audio());
  clsID3 id3;
  Open(id3, path);
  const std::u16string title(10000, u'T');
  id3.Title(title);
  id3.UpdateID3Tags();
  const std::string after = ReadFile(path);
  EXPECT_LE(after.size(), head.size() + Audio().size() + title.size() + 2048 + 128 + 400);
  const std::string value(title.size(), 'T');
  EXPECT_EQ(after.find(value), after.rfind(value));
  EXPECT_NE(after.find(value), std::string::npos);
}

TEST_F(RewriteTest, TagThatCannotBeDeclaredIsRefused) {
  // Revision 2 says a frame's size in three bytes: 16 MiB - 1 at most.
  const std::string before = "ID3\x02\0\0"s + Synchsafe(20) + std::string(20, '\0') + Audio();
  const fs::path path = File(before);
  clsID3 id3;
  Open(id3, path);
  id3.Title(std::u16string(std::size_t(1) << 24, u'L'));
  id3.UpdateID3Tags();
  EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::TagTooLarge);
  EXPECT_TRUE(SameBytes(ReadFile(path), before));
  EXPECT_TRUE(TemporaryFolderEmpty());
}

// Frames the reader takes only in part survive an edit of another property
// byte for byte; setting their own property rewrites them.
TEST_F(RewriteTest, FramesReadOnlyInPartAreKeptUntilTheirPropertyIsSet) {
  const auto frame = [](int revision, const std::string& id, const std::string& flags, const std::string& content) {
    const std::string size = revision >= 4 ? Synchsafe(content.size()) : detail::NumberToBytes(double(content.size()), 4, 0);
    return id + size + flags + content;
  };
  struct Case { int revision; std::string frame; };
  const Case cases[] = {
      {3, frame(3, "TPE1", "\0\0"s, "\x03" "Bj\xC3\xB6rk"s)},                   // UTF-8 before revision 4
      {3, frame(3, "TPE1", "\0\0"s, "\x02\0B\0j"s)},                          // UTF-16BE before revision 4
      {3, frame(3, "TPE1", "\0\0"s, "\x01N\0o\0"s)},                          // UTF-16 without a mark
      {3, frame(3, "TPE1", "\0\x80"s, "\0\0\0\x10x\x9C\x03\0\0\0\0\x01"s)},   // compressed
      {4, frame(4, "TPE1", "\0\0"s, "\x03One\0Two"s)},                         // two values
      {4, frame(4, "TPE1", "\0\x01"s, "\0\0\0\x04\x03" "Abc"s)},                   // data length indicator
      {4, frame(4, "TDRC", "\0\0"s, "\x03" "2004-05-06"s)},                     // a full date
  };
  for (const auto& [revision, old_frame] : cases) {
    SCOPED_TRACE(testing::PrintToString(old_frame));
    const std::string body = old_frame + std::string(64, '\0');
    const fs::path path = File("ID3"s + char(revision) + "\0\0"s + Synchsafe(body.size()) + body + Audio());
    clsID3 id3;
    Open(id3, path);
    id3.Album(u"Other");
    id3.UpdateID3Tags();
    EXPECT_NE(ReadFile(path).find(old_frame), std::string::npos);
    Open(id3, path);
    const bool date = old_frame.starts_with("TDRC");
    date ? id3.Year(u"1999") : id3.Artist(u"Set");
    id3.UpdateID3Tags();
    const std::string after = ReadFile(path);
    EXPECT_EQ(after.find(old_frame), std::string::npos);
    EXPECT_NE(after.find(date ? "1999" : "Set"), std::string::npos);
  }
}

// A tag that claims more bytes than the file holds has the audio inside its
// claim: neither an update nor a removal may cut it off.
TEST_F(RewriteTest, TagClaimingMoreThanTheFileIsRefused) {
  const std::string before = "ID3\x03\0\0\x7F\x7F\x7F\x7FTIT2\0\0\0\x05\0\0\0Huge"s + Audio();
  const fs::path path = File(before);
  for (const bool remove : {false, true}) {
    clsID3 id3;
    Open(id3, path);
    id3.Album(u"X");
    remove ? id3.DeleteID3Tags() : id3.UpdateID3Tags();
    EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::DamagedTag);
    EXPECT_TRUE(SameBytes(ReadFile(path), before));
  }
  EXPECT_TRUE(TemporaryFolderEmpty());
}

TEST_F(RewriteTest, FifoIsNeitherOpenedNorReplaced) {
  const fs::path fifo = dir_ / "pipe.mp3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  clsID3 id3;
  Open(id3, fifo);
  id3.Title(u"x");
  id3.UpdateID3Tags();
  EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Unchanged);
  id3.DeleteID3Tags();
  EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Unchanged);
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(RewriteTest, UpdateRemovesAnID3v1RecordThatWouldSayNothing) {
  const fs::path path = File(Audio() + kID3v1);
  clsID3 id3;
  Open(id3, path);
  id3.Title(u"");
  id3.Artist(u"");
  id3.Album(u"");
  id3.Year(u"");
  id3.Comments(u"");
  id3.TrackNumber(u"");
  id3.GenreID(255);
  id3.UpdateID3Tags();
  const std::string bytes = ReadFile(path);
  EXPECT_TRUE(bytes.ends_with(Audio()));
}

TEST_F(RewriteTest, MissingFileIsCreatedByUpdateButNotByStrip) {
  clsID3 id3;
  Open(id3, dir_ / "new.mp3");
  id3.Title(u"New");
  id3.UpdateID3Tags();
  const std::string bytes = ReadFile(dir_ / "new.mp3");
  ASSERT_GT(bytes.size(), 10u);
  EXPECT_EQ(bytes.substr(0, 4), "ID3\x03");
  EXPECT_TRUE(bytes.ends_with(*detail::BuildID3v1Record(id3)));

  clsID3 strip;
  Open(strip, dir_ / "absent.mp3");
  strip.DeleteID3Tags();
  EXPECT_FALSE(fs::exists(dir_ / "absent.mp3"));
  EXPECT_EQ(strip.LastRewriteOutcome(), clsID3::RewriteOutcome::Unchanged);
}

TEST_F(RewriteTest, FileTimesAreRestoredToTheNanosecond) {
  for (const bool grow : {true, false}) {
    const fs::path path = File(Audio());
    clsID3 id3;
    Open(id3, path);  // reading may touch the access time, so the times are set after
    const hosting::FileTimes set{1000000000, 123456789, 1100000000, 987654321};
    ASSERT_TRUE(hosting::SetFileTimes(path.string(), set));
    id3.Title(grow ? u"Grown" : u"");
    id3.UpdateID3Tags();
    hosting::FileTimes after;
    ASSERT_TRUE(hosting::GetFileTimes(path.string(), after));
    EXPECT_EQ(after.access_sec, set.access_sec);
    EXPECT_EQ(after.access_nsec, set.access_nsec);
    EXPECT_EQ(after.modify_sec, set.modify_sec);
    EXPECT_EQ(after.modify_nsec, set.modify_nsec);
  }
}

// Every fault below must leave the file exactly as it was and no temporary file.
// The file has a second link, so that it is rewritten in place through the
// temporary folder rather than replaced by a new file beside it.
class Fault : public RewriteTest {
 protected:
  fs::path File(const std::string& bytes) {
    const fs::path path = RewriteTest::File(bytes);
    fs::create_hard_link(path, path.string() + ".link");
    return path;
  }
  void ExpectUnchangedAfterUpdateAndStrip(const fs::path& path, const std::string& before) {
    clsID3 id3;
    Open(id3, path);
    id3.Title(u"Changed");
    id3.UpdateID3Tags();
    EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Unchanged);
    EXPECT_TRUE(SameBytes(ReadFile(path), before));
    id3.DeleteID3Tags();
    EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Unchanged);
    EXPECT_TRUE(SameBytes(ReadFile(path), before));
    EXPECT_TRUE(id3.Title().empty());  // the record is emptied all the same
  }
};

TEST_F(Fault, MissingTemporaryFolder) {
  const std::string before = kV3Tag + Audio();
  const fs::path path = File(before);
  ScopedEnv temp("TEMP", (dir_ / "missing").string());
  ExpectUnchangedAfterUpdateAndStrip(path, before);
}

TEST_F(Fault, TemporaryFolderOnAFullDevice) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const fs::path small = dir_ / "small";
  fs::create_directories(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0) GTEST_SKIP() << "tmpfs mount refused";
  const std::string before = kV3Tag + Audio() + Audio() + Audio();
  const fs::path path = File(before);
  {
    ScopedEnv temp("TEMP", small.string());
    ExpectUnchangedAfterUpdateAndStrip(path, before);
    EXPECT_TRUE(fs::is_empty(small));
  }
  ::umount(small.c_str());
}

TEST_F(Fault, FileOnAFullDeviceThatMustGrow) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const fs::path small = dir_ / "small";
  fs::create_directories(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "tmpfs mount refused";
  // The file fills its pages exactly and the device is filled up, so that the
  // file cannot grow by its new tag.
  const std::string before = (Audio() + Audio() + Audio() + Audio()).substr(0, 8 * 4096);
  const fs::path path = small / "song.mp3";
  WriteAll(path, before);
  {
    std::ofstream filler(small / "filler", std::ios::binary);
    for (int i = 0; i < 16 * 4096 && filler; ++i) filler.put('f');
  }
  clsID3 id3;
  Open(id3, path);
  id3.Title(u"Changed");
  id3.UpdateID3Tags();
  EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Unchanged);
  EXPECT_TRUE(SameBytes(ReadFile(path), before));
  EXPECT_TRUE(TemporaryFolderEmpty());
  ::umount(small.c_str());
}

TEST_F(Fault, ReadOnlyFile) {
  const std::string before = kV3Tag + Audio();
  const fs::path path = File(before);
  if (!MakeUnwritable(path, true)) GTEST_SKIP() << "cannot make the file read-only here";
  ExpectUnchangedAfterUpdateAndStrip(path, before);
  EXPECT_TRUE(TemporaryFolderEmpty());
  MakeUnwritable(path, false);
}

TEST_F(Fault, UnwritableTemporaryFolder) {
  const std::string before = kV3Tag + Audio();
  const fs::path path = File(before);
  if (!MakeUnwritable(temp_, true)) GTEST_SKIP() << "cannot make the folder read-only here";
  ExpectUnchangedAfterUpdateAndStrip(path, before);
  MakeUnwritable(temp_, false);
}

TEST_F(RewriteTest, FileInAReadOnlyFolderIsRewrittenInPlace) {
  const fs::path folder = dir_ / "locked";
  fs::create_directories(folder);
  const fs::path path = folder / "song.mp3";
  WriteAll(path, Audio());
  if (!MakeUnwritable(folder, true)) GTEST_SKIP() << "cannot make the folder read-only here";
  clsID3 id3;
  Open(id3, path);
  id3.Title(u"Locked");
  id3.UpdateID3Tags();
  MakeUnwritable(folder, false);
  EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Rewritten);
  clsID3 check;
  Open(check, path);
  EXPECT_EQ(check.Title(), u"Locked");
}

// A file system without fallocate (ext2): a file that must grow on a full device is
// left whole, whichever way it is rewritten.
TEST_F(Fault, FullExt2DeviceWithoutFallocate) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting an ext2 image needs root";
  const fs::path image = dir_ / "ext2.img", mount_point = dir_ / "ext2";
  fs::create_directories(mount_point);
  if (RunCommand("truncate -s 2M '" + image.string() + "' && mkfs.ext2 -q -F '" + image.string() + "' 2>&1").status != 0 ||
      RunCommand("mount -o loop '" + image.string() + "' '" + mount_point.string() + "' 2>&1").status != 0)
    GTEST_SKIP() << "cannot make and mount an ext2 image here (mkfs.ext2, loop devices)";
  const std::string before = kV3Tag + Audio() + Audio();
  const fs::path path = mount_point / "song.mp3";
  WriteAll(path, before);
  {
    std::ofstream filler(mount_point / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {}
  }
  clsID3 id3;
  Open(id3, path);
  id3.Title(std::u16string(4000, u'G'));
  id3.UpdateID3Tags();  // one link: a new file beside the old one, which does not fit
  EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Unchanged);
  EXPECT_TRUE(SameBytes(ReadFile(path), before));
  fs::create_hard_link(path, mount_point / "link.mp3");
  id3.UpdateID3Tags();  // two links: in place, and the room cannot be reserved
  EXPECT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Unchanged);
  EXPECT_TRUE(SameBytes(ReadFile(path), before));
  EXPECT_TRUE(TemporaryFolderEmpty());
  RunCommand("umount '" + mount_point.string() + "'");
}

// Replaced by a new file: the name keeps the file's owner, mode, extended
// attributes and times; a symbolic link keeps pointing at it; other names of a
// hard-linked file see the change too, as it is then rewritten in place.
TEST_F(RewriteTest, ReplacementKeepsWhatTheFileWasAndHardLinksStayLinked) {
  const std::string before = kV3Tag + Audio();
  const fs::path path = File(before);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
  }
  const bool xattrs = ::setxattr(path.c_str(), "user.pellora", "kept", 4, 0) == 0;
  hosting::FileTimes set{1000000000, 5, 1100000000, 7};
  ASSERT_TRUE(hosting::SetFileTimes(path.string(), set));
  fs::create_symlink(path, dir_ / "alias.mp3");
  struct stat old_stat {};
  ASSERT_EQ(::stat(path.c_str(), &old_stat), 0);

  clsID3 id3;
  Open(id3, dir_ / "alias.mp3");
  id3.Title(std::u16string(4000, u'G'));
  id3.UpdateID3Tags();
  ASSERT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Rewritten);
  EXPECT_TRUE(fs::is_symlink(dir_ / "alias.mp3"));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_NE(st.st_ino, old_stat.st_ino);
  EXPECT_EQ(st.st_mode, old_stat.st_mode);
  EXPECT_EQ(st.st_uid, old_stat.st_uid);
  EXPECT_EQ(st.st_gid, old_stat.st_gid);
  EXPECT_EQ(st.st_mtim.tv_sec, 1100000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 7);
  char value[8] = {};
  if (xattrs) {
    EXPECT_EQ(::getxattr(path.c_str(), "user.pellora", value, sizeof value), 4);
  }
  EXPECT_EQ(fs::directory_iterator(dir_)->path().filename().string().find(".pellora-"), std::string::npos);

  const fs::path link = dir_ / "link.mp3";
  fs::create_hard_link(path, link);
  id3.Title(u"Linked");
  id3.UpdateID3Tags();
  ASSERT_EQ(id3.LastRewriteOutcome(), clsID3::RewriteOutcome::Rewritten);
  EXPECT_TRUE(SameBytes(ReadFile(link), ReadFile(path)));
  EXPECT_TRUE(TemporaryFolderEmpty());
}

// SIGKILL at random points of a rewrite that moves the audio, in a child process:
// the file always holds its old content or its whole new content (after the roll
// forward that the next reader does, for the in-place way), and no partial
// temporary file is left anywhere.
class Killed : public RewriteTest, public testing::WithParamInterface<bool> {};

TEST_P(Killed, RewriteLeavesOldOrNewContent) {
  const bool hard_linked = GetParam();
  std::string before = kV3Tag;
  while (before.size() < (16u << 20)) before += Audio();
  const fs::path path = File(before);
  if (hard_linked) fs::create_hard_link(path, dir_ / "link.mp3");
  const auto rewrite = [&] {
    clsID3 id3;
    Open(id3, path);
    id3.Title(std::u16string(4000, u'G'));
    id3.UpdateID3Tags();
    return id3.LastRewriteOutcome();
  };
  const fs::path reference = File(before, "reference.mp3");
  const auto started = std::chrono::steady_clock::now();
  {
    clsID3 id3;
    Open(id3, reference);
    id3.Title(std::u16string(4000, u'G'));
    id3.UpdateID3Tags();
  }
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  const std::string after = ReadFile(reference);
  fs::remove(reference);
  ASSERT_NE(after, before);

  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<long> delay(0, 2 * took.count() + 1000);
  for (int kill = 0; kill < 10; ++kill) {
    const pid_t child = ::fork();
    if (child == 0) _exit(rewrite() == clsID3::RewriteOutcome::Rewritten ? 0 : 1);
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    clsID3 reader;
    Open(reader, path);  // rolls an interrupted in-place rewrite forward
    const std::string now = ReadFile(path);
    EXPECT_TRUE(now == before || now == after) << "kill " << kill << ": " << SameBytes(now, after).message();
    EXPECT_TRUE(TemporaryFolderEmpty()) << "kill " << kill;
    for (const auto& entry : fs::directory_iterator(dir_))
      EXPECT_EQ(entry.path().filename().string().find(".pellora-"), std::string::npos) << entry.path();
    WriteAll(path, before);
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, Killed, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "InPlaceWithJournal" : "ReplacedByRename"; });

// A rewrite killed after naming its replacement and before renaming it leaves the
// whole new file beside the old one: the next process to open the file removes
// it. One killed while writing its journal (the file still untouched) leaves that:
// the next rewrite of the file removes it. Neither is removed while a live
// rewrite holds it.
TEST_F(RewriteTest, ReplacementOrJournalLeftByAKilledRewriteIsRemovedUnlessItsWriterLives) {
  const fs::path path = File(kV3Tag + Audio());
  const fs::path replacement = dir_ / ".song.mp3.pellora-new.mp3";
  const fs::path journal = *JournalPathOf(temp_.string(), path.string()) + ".new";
  std::error_code ec;
  {
    const auto writer = hosting::File::CreateExclusive(replacement.string(), ec);
    const auto journal_writer = hosting::File::CreateExclusive(journal.string(), ec);
    ASSERT_TRUE(writer.TryLockExclusive() && journal_writer.TryLockExclusive());
    clsID3 reader;
    Open(reader, path);
    reader.UpdateID3Tags();
    EXPECT_TRUE(fs::exists(replacement)) << "a live writer's replacement was removed";
    EXPECT_TRUE(fs::exists(journal)) << "a live writer's journal was removed";
  }
  clsID3 reader;
  Open(reader, path);
  EXPECT_FALSE(fs::exists(replacement));
  EXPECT_EQ(ReadFile(path), kV3Tag + Audio());
  reader.UpdateID3Tags();
  EXPECT_FALSE(fs::exists(journal));
}

}  // namespace
}  // namespace pellora::tags
