// SPDX-License-Identifier: MIT
#include "cli/split_recorder.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <ctime>
#include <filesystem>

#include "cli/file_names.h"
#include "songs/info_frame.h"
#include "songs/song_naming.h"
#include "tags/id3.h"
#include "tags/tag_building.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

namespace fs = std::filesystem;

// A song's bytes are gathered and written in pieces of about this size: one
// system call a second or so at usual bit rates, however many streams run.
constexpr std::size_t kWriteBatch = 16 * 1024;
constexpr int kMaxNameTries = 1000;

std::string Extension(songs::AudioFormat format, const std::string& content_type) {
  switch (format) {
    case songs::AudioFormat::Mpeg: return ".mp3";
    case songs::AudioFormat::Adts: return ".aac";
    case songs::AudioFormat::Bytes: break;
  }
  return ExtensionForContentType(content_type);
}

std::string LocalTime(std::chrono::system_clock::time_point when, const char* format) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  ::localtime_r(&t, &local);
  char text[32];
  return std::strftime(text, sizeof text, format, &local) ? text : "";
}

}  // namespace

struct SplitRecorder::Song {
  unsigned number = 0;
  bool titled = false;
  std::string stream_title;  // bytes as received
  songs::SongTitle names;    // UTF-8
  bool complete_start = false;
  bool keep = true;
  bool overflowed = false;  // held more untitled audio than kMaxUntitledBytes
  std::chrono::system_clock::time_point started = std::chrono::system_clock::now();

  hosting::File file;
  std::string temp_path;
  std::uint64_t head = 0;     // bytes of the ID3v2 tag at the file's start
  std::string pending;        // bytes gathered, not yet written
  std::uint64_t size = 0;     // bytes after the tag, written and pending, Info frame included
  std::uint64_t audio = 0;    // audio bytes
  double seconds = 0;

  // MPEG Layer III: the Info frame reserved at the start and what it will say.
  std::optional<tags::mpeg::HeaderBytes> info_header;
  std::uint8_t first_bit_rate_bits = 0;
  bool variable = false;
  tags::mpeg::HeaderBytes first_header{};
  bool mixed = false;  // frames of another version, layer or sampling rate follow the first
  std::vector<std::uint32_t> frame_offsets;

  double pad_left = 0;  // after it ended: seconds of the next song still to take
};

SplitRecorder::SplitRecorder(SplitSettings settings, SavedHandler on_saved,
                             std::function<void(const std::string&)> on_failure)
    : settings_(std::move(settings)), on_saved_(std::move(on_saved)), on_failure_(std::move(on_failure)) {}

SplitRecorder::~SplitRecorder() { Finish(); }

void SplitRecorder::Begin(const StationFacts& station) {
  Interrupt();
  station_ = station;
  const auto format = songs::FormatOfContentType(station.content_type);
  assembler_.emplace(format);
  extension_ = Extension(format, station.content_type);
}

void SplitRecorder::Audio(std::span<const char> audio) {
  if (!assembler_) return;
  audio_bytes_ += audio.size();
  assembler_->Feed(audio, *this);
}

// The cut: every frame handed out so far belongs to the songs before; the frame
// in progress (held by the assembler) is the new song's first.
void SplitRecorder::Title(const std::string& stream_title) {
  if (!assembler_) return;
  if (current_ && current_->titled && current_->stream_title == stream_title) return;
  if (current_ && !current_->titled) {
    // The first title of a stream names the song already playing.
    Name(*current_, stream_title);
    return;
  }
  const bool cut = current_ != nullptr;
  EndCurrent();
  current_ = NewSong(cut);
  Name(*current_, stream_title);
  for (const RecentUnit& unit : recent_) Add(*current_, unit.bytes, unit.info, unit.seconds);
}

void SplitRecorder::Interrupt() {
  // Whole frames still held go to the songs; an unfinished frame at the end of
  // a stream is not audio anyone can play (Unit leaves it out).
  if (assembler_) assembler_->Flush(*this);
  assembler_.reset();
  if (current_) Close(std::move(current_), false);
  while (!trailing_.empty()) {
    auto song = std::move(trailing_.front());
    trailing_.erase(trailing_.begin());
    Close(std::move(song), true);
  }
  recent_.clear();
  recent_seconds_ = 0;
}

std::string SplitRecorder::current_title() const {
  if (!current_ || !current_->titled) return {};
  return text::TitleToUtf8(current_->stream_title, settings_.title_charset);
}

double SplitRecorder::UnitSeconds(std::span<const char> bytes, const songs::FrameInfo& info) const {
  if (info.is_frame) return info.Seconds();
  if (assembler_ && assembler_->format() == songs::AudioFormat::Bytes && station_.bit_rate_kbps > 0)
    return double(bytes.size()) / (station_.bit_rate_kbps * 125.0);
  return 0;
}

void SplitRecorder::Unit(std::span<const char> bytes, const songs::FrameInfo& info) {
  // Bytes between the frames of a framed stream are no audio: left out.
  const bool framed = assembler_->format() != songs::AudioFormat::Bytes;
  if (framed && !info.is_frame) return;
  const double seconds = UnitSeconds(bytes, info);
  if (!current_) current_ = NewSong(false);
  Add(*current_, bytes, info, seconds);
  for (auto it = trailing_.begin(); it != trailing_.end();) {
    Song& song = **it;
    Add(song, bytes, info, seconds);
    song.pad_left -= seconds;
    if (song.pad_left > 1e-9) {
      ++it;
      continue;
    }
    auto done = std::move(*it);
    it = trailing_.erase(it);
    Close(std::move(done), true);
  }
  if (settings_.pad_before > 0) {
    recent_.push_back({std::string(bytes.data(), bytes.size()), info, seconds});
    recent_seconds_ += seconds;
    while (recent_.size() > 1 && recent_seconds_ - recent_.front().seconds >= settings_.pad_before - 1e-9) {
      recent_seconds_ -= recent_.front().seconds;
      recent_.pop_front();
    }
  }
}

std::unique_ptr<SplitRecorder::Song> SplitRecorder::NewSong(bool complete_start) {
  auto song = std::make_unique<Song>();
  song->complete_start = complete_start;
  return song;
}

// Names the song and decides whether it is kept.
void SplitRecorder::Name(Song& song, const std::string& stream_title) {
  song.titled = true;
  song.number = next_number_++;
  song.stream_title = stream_title;
  song.names = songs::SplitStreamTitle(text::TitleToUtf8(stream_title, settings_.title_charset));
  const std::string title = text::TitleToUtf8(stream_title, settings_.title_charset);
  song.keep = !song.overflowed && songs::WantSong(title, settings_.only, settings_.skip);
  if (!song.complete_start && settings_.complete_only) song.keep = false;
  if (song.keep && settings_.skip_existing &&
      (SavedAlready(song, song.complete_start) ||
       (settings_.saved_before && settings_.saved_before(song.names.artist, song.names.title))))
    song.keep = false;
  if (!song.keep) {
    song.pending.clear();
    song.pending.shrink_to_fit();
  } else if (!song.pending.empty() && Open(song) && song.pending.size() >= kWriteBatch) {
    WriteOut(song);
  }
}

// Creates the song's temporary file and puts its ID3v2 tag first.
bool SplitRecorder::Open(Song& song) {
  std::error_code failure;
  song.file = hosting::File::CreateUnique(settings_.folder.empty() ? "." : settings_.folder, ".pellora-song-",
                                          ".part", song.temp_path, failure);
  if (failure) {
    Fail(failure);
    return false;
  }
  tags::clsID3 store;
  FillTags(song, store);
  // The tag store's own builder, as its rewrite uses it: the song's file is new,
  // so there is no old tag to merge and nothing to rewrite.
  const std::string tag = tags::detail::BuildID3v2Tag(store, std::nullopt, {}).bytes;
  song.file.Write(tag, failure);
  if (failure) {
    Fail(failure);
    return false;
  }
  song.head = tag.size();
  return true;
}

void SplitRecorder::Add(Song& song, std::span<const char> bytes, const songs::FrameInfo& info, double seconds) {
  if (!song.keep || failed_) return;
  if (song.size == 0) {
    if (song.titled && !song.file.IsOpen() && !Open(song)) return;
    if (info.is_frame && assembler_->format() == songs::AudioFormat::Mpeg) {
      song.info_header = songs::InfoFrameHeader(info.header);
      song.first_bit_rate_bits = info.header[1] & 0xF0;
      song.first_header = info.header;
      if (song.info_header) {
        const std::size_t length = songs::MpegFrameLength(*song.info_header).value_or(0);
        song.pending.assign(length, '\0');  // the Info frame's place, filled in when the song ends
        song.size = length;
        song.variable = (*song.info_header)[1] >> 4 != info.header[1] >> 4;
      }
    }
  }
  if (song.info_header && info.is_frame) {
    song.frame_offsets.push_back(std::uint32_t(song.size));
    if ((info.header[1] & 0xF0) != song.first_bit_rate_bits) song.variable = true;
    if (!songs::SameKindOfFrames(info.header, song.first_header)) song.mixed = true;
  }
  song.pending.append(bytes.data(), bytes.size());
  song.size += bytes.size();
  song.audio += bytes.size();
  song.seconds += seconds;
  if (!song.titled && song.pending.size() > kMaxUntitledBytes) {
    // A stream that names no song: nothing of it will be saved.
    song.keep = false;
    song.overflowed = true;
    song.pending.clear();
    song.pending.shrink_to_fit();
    return;
  }
  if (song.pending.size() >= kWriteBatch) WriteOut(song);
}

void SplitRecorder::WriteOut(Song& song) {
  if (song.pending.empty() || !song.file.IsOpen()) return;
  std::error_code failure;
  song.file.Write(song.pending, failure);
  song.pending.clear();
  if (failure) Fail(failure);
}

void SplitRecorder::EndCurrent() {
  if (!current_) return;
  if (settings_.pad_after > 0 && current_->keep && current_->file.IsOpen()) {
    current_->pad_left = settings_.pad_after;
    trailing_.push_back(std::move(current_));
    return;
  }
  const bool complete = current_->complete_start;
  Close(std::move(current_), complete);
}

void SplitRecorder::Close(std::unique_ptr<Song> song, bool complete) {
  complete = complete && song->complete_start;
  WriteOut(*song);
  const bool has_audio = song->file.IsOpen() && song->audio > 0;
  if (has_audio && !failed_) {
    std::error_code failure;
    if (song->info_header) {
      const std::string info = song->mixed ? songs::BuildSilentFrame(*song->info_header)
                                           : songs::BuildInfoFrame({*song->info_header, song->variable,
                                                                    std::uint32_t(song->frame_offsets.size()),
                                                                    song->size, song->frame_offsets});
      song->file.WriteAt(std::int64_t(song->head), info, failure);
    }
    tags::clsID3 store;
    FillTags(*song, store);
    if (!failure) song->file.Write(tags::detail::BuildTrailer(store, {}), failure);
    if (failure) Fail(failure);
  }
  std::error_code close_failure;
  song->file.Close(close_failure);
  if (close_failure) Fail(close_failure);
  // A song cut by the end is looked for in incomplete/ too, as the first song is.
  const bool cut_again = !complete && settings_.skip_existing && song->complete_start && SavedAlready(*song, false);
  std::string path;
  const bool saved = has_audio && song->keep && song->titled && !failed_ && (complete || !settings_.complete_only) &&
                     !cut_again && Settle(*song, complete, path);
  if (!saved) {
    if (!song->temp_path.empty()) std::remove(song->temp_path.c_str());
    return;
  }
  std::error_code ignored;
  const std::uint64_t size = fs::file_size(path, ignored);
  ++saved_;
  saved_incomplete_ += complete ? 0 : 1;
  saved_bytes_ += ignored ? 0 : size;
  if (on_saved_)
    on_saved_({path, song->names.artist, song->names.title, song->number, ignored ? 0 : size, song->seconds, complete});
}

// Tags the song's file and gives it its name; false when it could not be named.
bool SplitRecorder::Settle(Song& song, bool complete, std::string& path) {
  MakeOrdinaryFile(song.temp_path);  // the temporary file was made private
  const std::string folder = Folder(complete);
  std::error_code failure;
  fs::create_directories(folder, failure);
  if (failure) {
    Fail(failure);
    return false;
  }
  const std::string base = BaseName(song);
  for (int n = 1; n <= kMaxNameTries; ++n) {
    const std::string name = n == 1 ? base + extension_ : base + " (" + std::to_string(n) + ")" + extension_;
    path = (fs::path(folder) / name).string();
    // RENAME_NOREPLACE: a file of the same name that appeared meanwhile is never replaced.
    if (::renameat2(AT_FDCWD, song.temp_path.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EEXIST) break;
  }
  Fail(std::error_code(errno, std::generic_category()));
  return false;
}

void SplitRecorder::FillTags(const Song& song, tags::clsID3& store) const {
  const auto text = [&](const std::string& bytes) { return text::TitleToUtf16(bytes, settings_.title_charset); };
  store.Artist(text::Utf8ToUtf16(song.names.artist));
  store.Title(text::Utf8ToUtf16(song.names.title));
  store.Album(text(station_.name));
  store.GenreID(255);  // no genre number: the station's genre is free text, as in a continuous recording
  store.Genre(text(station_.genre));
  store.InternetRadioStationName(text(station_.name));
  store.InternetRadioURL(text(station_.url));
  store.Comments(text(song.stream_title));
  store.TrackNumber(text::Utf8ToUtf16(std::to_string(song.number)));
  store.Year(text::Utf8ToUtf16(LocalTime(song.started, "%Y")));
}

std::string SplitRecorder::Folder(bool complete) const {
  const fs::path folder(settings_.folder.empty() ? "." : settings_.folder);
  return (complete ? folder : folder / "incomplete").string();
}

bool SplitRecorder::SavedAlready(const Song& song, bool complete) const {
  std::error_code ignored;
  return fs::exists(fs::path(Folder(complete)) / (BaseName(song) + extension_), ignored);
}

std::string SplitRecorder::BaseName(const Song& song) const {
  songs::NameFields fields;
  fields.artist = song.names.artist;
  fields.title = song.names.title;
  fields.station = text::TitleToUtf8(station_.name, settings_.title_charset);
  fields.number = song.number;
  fields.date = LocalTime(song.started, "%Y-%m-%d");
  fields.time = LocalTime(song.started, "%H-%M-%S");
  return SafeFileName(songs::ExpandNameTemplate(settings_.name_template, fields), "");
}

void SplitRecorder::Fail(const std::error_code& failure) {
  if (failed_) return;
  failed_ = true;
  if (on_failure_) on_failure_("cannot write songs into " + Folder(true) + ": " + failure.message());
}

}  // namespace pellora::cli
