// SPDX-License-Identifier: MIT
#pragma once
// `pellora record --cue`: the cue sheet of a continuous recording, NAME.cue
// beside NAME.mp3, with a track for every title at the frame where it began.
//
// The recorder is fed the stream as the Torvane demultiplexes it (Begin, Audio
// slices, Title changes, ChunkDone after every chunk) and told when the
// recording file opened (WritingStarted). Times count whole frames
// (songs/frame_assembler.h) from the first whole frame in the file: the file
// starts with the audio of the chunk in which it opened, and a decoder starts
// at the first whole frame. A reconnection appends to the same file, so its
// times continue where the previous connection's audio ended. The sheet is
// rewritten (through a temporary file and a rename) at every title change, so
// it is whole at any moment.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "songs/cue_sheet.h"
#include "songs/frame_assembler.h"

namespace pellora::cli {

class CueRecorder : private songs::FrameSink {
 public:
  // `charset` as for --title-charset ("" = the automatic choice). With
  // `continue_sheet` (a recording appended to a file) the sheet beside the file
  // keeps its tracks, and the new ones count on from the end of the audio
  // already in the file.
  explicit CueRecorder(std::string charset, bool continue_sheet = false)
      : charset_(std::move(charset)), continue_sheet_(continue_sheet) {}

  // A connection's stream begins; `content_type` decides how frames are found.
  void Begin(const std::string& content_type, const std::string& station);
  void Audio(std::span<const char> audio);
  void ChunkDone();
  void Title(const std::string& stream_title);
  // The recording file `path` opened (again, after a reconnection) in this chunk.
  void WritingStarted(const std::string& path);
  // The connection ended: later audio comes from a new stream.
  void Interrupt();

  const std::vector<songs::CueTrack>& tracks() const { return tracks_; }

 private:
  void Unit(std::span<const char> bytes, const songs::FrameInfo& info) override;
  void AddTrack(const std::string& stream_title, double file_seconds);
  void ContinueSheet(const std::string& audio_path);
  void Save() const;

  std::string charset_;
  bool continue_sheet_ = false;
  std::string station_, content_type_;
  std::string cue_path_, audio_name_;
  std::optional<songs::FrameAssembler> assembler_;
  double seconds_ = 0;  // of the frames handed out in this connection
  // At the last chunk boundary: the time, and whether a frame was under way.
  double boundary_seconds_ = 0;
  bool boundary_held_ = false;
  std::optional<double> first_frame_end_;  // after the boundary
  bool writing_ = false;
  std::optional<double> origin_;  // stream time of the file's first whole frame in this connection
  double base_ = 0;               // file time at which this connection's audio begins
  std::string previous_title_, last_title_;
  unsigned titles_ = 0;  // titles heard in this connection, empty ones included
  double last_cut_ = 0;
  std::vector<songs::CueTrack> tracks_;
};

}  // namespace pellora::cli
