// SPDX-License-Identifier: MIT
// Tagging a recording file before its audio is written.
#include "capture/torvane.h"
#include "tags/id3.h"
#include "text/text.h"

namespace pellora::capture {
namespace {

// Stream and host texts reach the tag store as 16-bit text, decoded by the title
// rule (text.h): UTF-8 when the bytes are valid UTF-8 ("Beyoncé" stays "Beyoncé"
// rather than "BeyoncÃ©"), else Windows-1252 when they hold 0x80-0x9F, else Latin-1.
std::u16string Text(const std::string& bytes) { return text::TitleToUtf16(bytes); }

// Where the audio of a tagged recording goes. The tag update leaves an ID3v2 tag
// at the front of the file and, at its end, an ID3v1 record and possibly a Lyrics3
// block (the trailer). Audio written from the file's first byte would overwrite
// the ID3v2 tag, and audio appended after the trailer would bury the trailer inside
// the audio, where no reader looks for it and every player meets it as noise. So a
// tagged recording is laid out as: the ID3v2 tag, the audio (the old audio too,
// when appending), and nothing after it; the trailer's items are all in the ID3v2
// tag as well. Returns where the audio goes, after cutting the trailer off; nothing
// when the tag store could not read the file (opening it for the audio then
// reports why).
std::optional<std::int64_t> PrepareAudioPosition(const tags::clsID3& store, const std::string& path,
                                                 bool append, std::error_code& failure) {
  const auto bounds = store.LocateAudio();
  if (!bounds) return std::nullopt;
  hosting::File file = hosting::File::Open(path, hosting::OpenMode::ReadWrite, failure);
  if (!failure) file.Truncate(bounds->end, failure);
  if (!failure) file.Close(failure);
  if (failure) return std::nullopt;
  return append ? bounds->end : bounds->begin;
}

}  // namespace

// Step 4 of StartWriting. The store is created at the first tagged recording and
// kept; setting FileName first makes it read the file's own tags, so that items
// not set here keep their values from the file, and GenreID stays as the scan
// left it. The store reports no failure: a file it could not tag is recorded into
// all the same. The path's bytes reach the store unchanged, also where they are
// not UTF-8 (text::PathToUtf16).
std::error_code Torvane::TagRecordingFile(bool append, std::optional<std::int64_t>& audio_position) {
  if (!tag_store_) tag_store_ = std::make_unique<tags::clsID3>();
  tags::clsID3& store = *tag_store_;
  store.FileName(text::PathToUtf16(record_path_));
  store.Title(Text(music_name_));
  store.Artist(Text(music_name_));
  store.Album(Text(music_name_));
  store.Comments(Text(id3_comments_));
  store.Band(Text(music_name_));
  store.Genre(Text(stream_genre_));
  store.Composer(Text(music_name_));
  store.Copyright(Text(stream_url_));
  store.EncodedBy(Text(id3_encoded_by_));
  store.CopyrightInfo(Text(id3_copyright_));
  store.Languages(Text(id3_languages_));
  store.InternetRadioStationName(Text(music_url_));
  store.InternetRadioStationOwner(Text(stream_url_));
  store.InternetRadioURL(Text(stream_url_));
  store.InterpretedBy(Text(music_name_));
  store.UpdateID3Tags();

  std::error_code failure;
  audio_position = PrepareAudioPosition(store, record_path_, append, failure);
  return failure;
}

}  // namespace pellora::capture
