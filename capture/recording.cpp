// SPDX-License-Identifier: MIT
// Recording the stream's audio into a file.
#include "capture/torvane.h"

namespace pellora::capture {
namespace {

struct FileErrorReport {
  EErrCode code;
  const char* description;
};

FileErrorReport Describe(hosting::FileFailure failure) {
  using hosting::FileFailure;
  switch (failure) {
    case FileFailure::DeviceUnavailable: return {Err_FileIO_DeviceUnavaible, "Device Unavaible"};
    case FileFailure::DiskNotReady: return {Err_FileIO_DiskNotReady, "Disk not Ready"};
    case FileFailure::DeviceIOError: return {Err_FileIO_DeviceIOError, "Device IO Error"};
    case FileFailure::DiskFull: return {Err_FileIO_DiskFull, "Disk Full"};
    case FileFailure::PermissionDenied: return {Err_FileIO_PermissionDenied, "Permission Denied"};
    case FileFailure::PathNotFound: return {Err_FileIO_PathNotFound, "Path not Found"};
    case FileFailure::AccessError: break;
  }
  return {Err_FileIO_AccessError, "Access Error"};
}

}  // namespace

void Torvane::StartWriting(const std::string& File, bool Append) {
  const auto keep = KeepAlive();
  if (is_writing_) StopWriting();
  if (File.empty()) return;
  record_path_ = File;
  std::error_code failure;
  std::optional<std::int64_t> audio_position;  // set when the file was tagged
  if (write_id3_tag_) failure = TagRecordingFile(Append, audio_position);
  if (!failure && audio_position) {
    // A tagged file: the audio goes between the tags (see recording_tags.cpp), never
    // over the ID3v2 tag just written.
    record_file_ = hosting::File::Open(record_path_, hosting::OpenMode::ReadWrite, failure);
    if (!failure) record_file_.Seek(*audio_position, failure);
  } else if (!failure) {
    // Append: every write lands after the file's last byte. Otherwise the audio
    // overwrites the file from its first byte and a longer old file keeps its end.
    record_file_ = hosting::File::Open(
        record_path_, Append ? hosting::OpenMode::Append : hosting::OpenMode::ReadWrite, failure);
  }
  if (failure) {
    record_file_.Close();
    ReportFileError(failure);
    // The Error handler may have opened another recording: it stands.
    if (is_writing_) return;
    RaiseStateChanged();
    return;
  }
  written_bytes_ = 0;
  is_writing_ = true;
  RaiseStateChanged();
}

void Torvane::StopWriting() {
  if (!is_writing_) return;
  record_file_.Close();
  is_writing_ = false;
  written_bytes_ = 0;
  RaiseStateChanged();
}

// The chunk's audio goes to the file at once, in one gathered write and with
// no buffer of our own: what was received is on its way to the disk before the
// next chunk is read.
void Torvane::WriteAudio(std::span<const std::span<const char>> slices) {
  if (!is_writing_ || slices.empty()) return;
  std::error_code failure;
  const std::size_t written = record_file_.WriteGather(slices, failure);
  if (failure) return ReportFileError(failure);
  written_bytes_ += static_cast<std::int64_t>(written);
}

// Every file failure is reported: its errno falls into one of the seven kinds
// (anything unknown is an access error), so no audio is ever lost silently.
void Torvane::ReportFileError(const std::error_code& failure) {
  const auto keep = KeepAlive();
  const FileErrorReport report = Describe(hosting::ClassifyError(failure));
  file_failure_ = failure;
  StopWriting();
  RaiseError(TErr_FileIO, report.code, report.description);
}

}  // namespace pellora::capture
