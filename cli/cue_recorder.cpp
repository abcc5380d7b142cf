// SPDX-License-Identifier: MIT
#include "cli/cue_recorder.h"

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

#include "cli/file_names.h"
#include "hosting/file.h"
#include "songs/song_naming.h"
#include "tags/id3.h"
#include "text/text.h"

namespace pellora::cli {

namespace {

constexpr std::size_t kLargestSheet = 64 << 10;  // 99 tracks take far less

class FrameSeconds : public songs::FrameSink {
 public:
  void Unit(std::span<const char>, const songs::FrameInfo& info) override { seconds += info.Seconds(); }
  double seconds = 0;
};

// The playing time of the whole frames between the tags of the file at `path`.
double SecondsOfAudio(const std::string& path, songs::AudioFormat format) {
  tags::clsID3 id3;
  id3.FileName(text::PathToUtf16(path));
  const auto bounds = id3.LocateAudio();
  std::error_code failure;
  const hosting::File file = hosting::File::Open(path, hosting::OpenMode::Read, failure);
  if (!bounds || !file.IsOpen()) return 0;
  songs::FrameAssembler assembler(format);
  FrameSeconds counter;
  std::vector<char> buffer(1 << 20);
  for (std::int64_t at = bounds->begin; at < bounds->end;) {
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(bounds->end - at, std::int64_t(buffer.size())));
    const std::size_t got = file.ReadAt(at, std::span<char>(buffer.data(), wanted), failure);
    if (got == 0) break;
    assembler.Feed(std::span<const char>(buffer.data(), got), counter);
    at += std::int64_t(got);
  }
  return counter.seconds;
}

}  // namespace

void CueRecorder::Begin(const std::string& content_type, const std::string& station) {
  content_type_ = content_type;
  assembler_.emplace(songs::FormatOfContentType(content_type));
  station_ = text::TitleToUtf8(station, charset_);
  seconds_ = boundary_seconds_ = 0;
  boundary_held_ = false;
  first_frame_end_.reset();
  previous_title_.clear();
  last_title_.clear();
  titles_ = 0;
  last_cut_ = 0;
}

void CueRecorder::Audio(std::span<const char> audio) {
  if (assembler_) assembler_->Feed(audio, *this);
}

void CueRecorder::Unit(std::span<const char> bytes, const songs::FrameInfo& info) {
  (void)bytes;
  seconds_ += info.Seconds();
  if (!first_frame_end_) first_frame_end_ = seconds_;
  if (writing_ && !origin_) origin_ = seconds_;  // the frame under way at the file's start is whole now
}

void CueRecorder::ChunkDone() {
  if (!assembler_) return;
  boundary_seconds_ = seconds_;
  boundary_held_ = assembler_->held() > 0;
  first_frame_end_.reset();
}

// The cut lies at the start of the frame under way, that is after every frame
// handed out so far.
void CueRecorder::Title(const std::string& stream_title) {
  if (!assembler_ || (titles_ > 0 && stream_title == last_title_)) return;
  // The audio before a connection's first title is that title's: it begins
  // where the connection's audio does. An empty title counts (a station blanks
  // its title during adverts): the title after it begins at its own block.
  const bool first_of_connection = titles_++ == 0;
  previous_title_ = std::move(last_title_);
  last_title_ = stream_title;
  last_cut_ = seconds_;
  if (writing_ && origin_)
    AddTrack(stream_title, first_of_connection ? base_ : base_ + std::max(0.0, last_cut_ - *origin_));
}

void CueRecorder::WritingStarted(const std::string& path) {
  if (writing_) return;  // the same file again (the recorder reopens it to put tags in front)
  const std::filesystem::path audio(path);
  cue_path_ = std::filesystem::path(audio).replace_extension(".cue").string();
  audio_name_ = audio.filename().string();
  if (std::exchange(continue_sheet_, false)) ContinueSheet(path);
  writing_ = true;
  // The file holds this chunk's audio from its start: its first whole frame is
  // the one after a frame under way at the boundary.
  if (!boundary_held_) origin_ = boundary_seconds_;
  else if (first_frame_end_) origin_ = *first_frame_end_;
  else origin_.reset();  // set when that frame is whole
  const double origin = origin_.value_or(boundary_seconds_);
  if (last_cut_ <= origin || titles_ < 2) {
    if (!last_title_.empty()) AddTrack(last_title_, base_);
  } else {
    AddTrack(previous_title_, base_);
    AddTrack(last_title_, base_ + last_cut_ - origin);
  }
}

void CueRecorder::Interrupt() {
  if (assembler_) assembler_->Flush(*this);  // whole frames still held are in the file
  if (writing_ && origin_) base_ += std::max(0.0, seconds_ - *origin_);
  writing_ = false;
  origin_.reset();
  assembler_.reset();
  seconds_ = boundary_seconds_ = 0;
  boundary_held_ = false;
  first_frame_end_.reset();
}

void CueRecorder::ContinueSheet(const std::string& audio_path) {
  std::error_code failure;
  const hosting::File sheet = hosting::File::Open(cue_path_, hosting::OpenMode::Read, failure);
  if (sheet.IsOpen()) tracks_ = songs::ParseCueTracks(sheet.ReadAt(0, kLargestSheet, failure));
  base_ = SecondsOfAudio(audio_path, songs::FormatOfContentType(content_type_));
}

// An empty title gets no track (it names nothing): its audio stays with the
// track before, and the next title's track begins where that title does.
void CueRecorder::AddTrack(const std::string& stream_title, double file_seconds) {
  const songs::SongTitle names = songs::SplitStreamTitle(text::TitleToUtf8(stream_title, charset_));
  if (names.artist.empty() && names.title.empty()) return;
  if (!tracks_.empty() && tracks_.back().performer == names.artist && tracks_.back().title == names.title) return;
  tracks_.push_back({names.artist, names.title, tracks_.empty() ? 0.0 : file_seconds});
  Save();
}

void CueRecorder::Save() const {
  const std::string sheet = songs::BuildCueSheet(audio_name_, station_, tracks_);
  const std::filesystem::path target(cue_path_);
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  std::string temp;
  std::error_code failure;
  hosting::File file = hosting::File::CreateUnique(folder, ".pellora-cue-", ".part", temp, failure);
  if (!failure) file.Write(sheet, failure);
  if (!failure) file.Close(failure);
  if (!failure) std::filesystem::rename(temp, target, failure);
  if (!failure) MakeOrdinaryFile(cue_path_);
  if (failure && !temp.empty()) std::remove(temp.c_str());
}

}  // namespace pellora::cli
