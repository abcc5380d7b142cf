// SPDX-License-Identifier: MIT
#pragma once
// One file per song from a stream: `pellora record --split`, and any host that
// wants songs (the service reuses it). Fed the stream as a Torvane demultiplexes
// it (Begin, then Audio slices and Title changes in stream order, through
// TorvaneAudioSink and MetaChanged), it writes each song into a file of its own
// and reports every file it saved.
//
//  - Cuts fall on frame boundaries (songs/frame_assembler.h): the frame in which
//    a title change falls opens the new song, so every file is a run of whole
//    frames and, without padding, the songs of a session hold every frame once.
//  - pad_before / pad_after copy that many seconds (whole frames) of the
//    neighbouring song into each file.
//  - A song is written to a temporary file in the folder and renamed when it is
//    closed, after its Info frame (MPEG Layer III) is in place: a name never
//    holds half a song. A name in use gets " (2)", " (3)" ... The file opens
//    with its ID3v2.3 tag, built by the tag store once the title is known
//    (artist, title, album = station, genre, station URL, comment = the full
//    stream title, track = its number in the session, year), and ends with the
//    tag store's ID3v1 record; nothing is rewritten. Until the first title of a
//    stream arrives its audio is held in memory (at most kMaxUntitledBytes;
//    a stream that sends no title saves no song).
//  - The song playing when the stream begins (joined mid-way) and the one cut
//    by the end or by a broken connection are incomplete: they go into
//    "incomplete/" inside the folder, or nowhere with complete_only.
//  - Songs with an empty title, titles matching `skip` or not matching `only`,
//    and, with skip_existing, songs whose file exists already (or that the
//    host's `saved_before` knows), are not saved.
// Everything runs on the loop's thread.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hosting/file.h"
#include "songs/frame_assembler.h"

namespace pellora::tags {
class clsID3;
}

namespace pellora::cli {

inline constexpr std::size_t kMaxUntitledBytes = 4 * 1024 * 1024;

struct SplitSettings {
  std::string folder;  // "" = the current folder
  std::string name_template = "{artist} - {title}";
  double pad_before = 0;  // seconds
  double pad_after = 0;   // seconds
  bool complete_only = false;
  bool skip_existing = false;
  std::vector<std::string> only, skip;  // shell-style patterns on the stream title
  std::string title_charset;            // "" = the automatic choice (text::TitleToUtf8)
  // `pellora record` with several streams: each station's songs go into a folder of
  // their own inside `folder`, named after the station.
  bool folder_per_station = false;
  // With skip_existing, also asked before a song is saved: true when the host
  // saved this song (artist and title, UTF-8) before, in a file that may have
  // moved since (the service asks its history). Unset: only files count.
  std::function<bool(const std::string& artist, const std::string& title)> saved_before;
};

// What the response header says of the station (bytes as received).
struct StationFacts {
  std::string name, genre, url, content_type;
  int bit_rate_kbps = 0;
};

struct SavedSong {
  std::string path;
  std::string artist, title;  // UTF-8
  unsigned number = 0;        // in this session
  std::uint64_t bytes = 0;    // the file's size
  double seconds = 0;         // playing time of its audio
  bool complete = false;
};

class SplitRecorder : private songs::FrameSink {
 public:
  using SavedHandler = std::function<void(const SavedSong&)>;
  // `on_failure` hears a file failure once (the folder cannot be written, the
  // disk is full); the songs it hit are dropped.
  SplitRecorder(SplitSettings settings, SavedHandler on_saved, std::function<void(const std::string&)> on_failure);
  ~SplitRecorder() override;
  SplitRecorder(const SplitRecorder&) = delete;
  SplitRecorder& operator=(const SplitRecorder&) = delete;

  // A stream begins (after its header).
  void Begin(const StationFacts& station);
  // Where the songs go from now on (replaces settings.folder).
  void SetFolder(std::string folder) { settings_.folder = std::move(folder); }
  const std::string& folder() const { return settings_.folder; }
  // The next audio bytes.
  void Audio(std::span<const char> audio);
  // A metadata block brought this StreamTitle (bytes as received).
  void Title(const std::string& stream_title);
  // The stream broke off: the songs playing are closed, the current one as
  // incomplete. The next Begin starts afresh.
  void Interrupt();
  // The end of the session; the same as Interrupt.
  void Finish() { Interrupt(); }

  unsigned saved() const { return saved_; }
  // Of the songs saved: those in incomplete/, and the bytes of all their files.
  unsigned saved_incomplete() const { return saved_incomplete_; }
  std::uint64_t saved_bytes() const { return saved_bytes_; }
  // Audio bytes taken from the stream.
  std::uint64_t audio_bytes() const { return audio_bytes_; }
  // The title of the song playing (UTF-8), empty before the first.
  std::string current_title() const;

 private:
  struct Song;

  void Unit(std::span<const char> bytes, const songs::FrameInfo& info) override;
  double UnitSeconds(std::span<const char> bytes, const songs::FrameInfo& info) const;
  std::unique_ptr<Song> NewSong(bool complete_start);
  void Name(Song& song, const std::string& stream_title);
  void Add(Song& song, std::span<const char> bytes, const songs::FrameInfo& info, double seconds);
  void WriteOut(Song& song);
  void EndCurrent();
  void Close(std::unique_ptr<Song> song, bool complete);
  bool Settle(Song& song, bool complete, std::string& path);
  bool Open(Song& song);
  void FillTags(const Song& song, tags::clsID3& store) const;
  std::string Folder(bool complete) const;
  std::string BaseName(const Song& song) const;
  // With skip_existing: whether the song's file exists in the folder of complete
  // (or of incomplete) songs.
  bool SavedAlready(const Song& song, bool complete) const;
  void Fail(const std::error_code& failure);

  SplitSettings settings_;
  SavedHandler on_saved_;
  std::function<void(const std::string&)> on_failure_;
  StationFacts station_;
  std::optional<songs::FrameAssembler> assembler_;
  std::string extension_ = ".mp3";

  std::unique_ptr<Song> current_;
  std::vector<std::unique_ptr<Song>> trailing_;  // ended, still taking pad_after audio
  struct RecentUnit {
    std::string bytes;
    songs::FrameInfo info;
    double seconds;
  };
  std::deque<RecentUnit> recent_;  // the last pad_before seconds, for the next song
  double recent_seconds_ = 0;

  unsigned next_number_ = 1;
  unsigned saved_ = 0;
  unsigned saved_incomplete_ = 0;
  std::uint64_t saved_bytes_ = 0;
  std::uint64_t audio_bytes_ = 0;
  bool failed_ = false;
};

}  // namespace pellora::cli
