// Tagging a recording file before its audio is written.
#include <algorithm>

#include "capture/tagged_layout.h"
#include "capture/torvane.h"
#include "tags/id3.h"
#include "text/text.h"

namespace pellora::capture {
namespace {

// Stream and host texts reach the tag store as 16-bit text. Stations send titles
// in UTF-8 or in Latin-1, and the bytes alone tell which: a text that is valid
// UTF-8 and holds a multi-byte sequence is UTF-8 ("Beyoncé" stays "Beyoncé"
// rather than "BeyoncÃ©"); anything else is one character per byte.
std::u16string Text(const std::string& bytes) { return text::StreamTextToUtf16(bytes); }

// Removes the trailer the tag update put at the end of the file and returns where
// the audio goes (see tagged_layout.h).
std::int64_t PrepareAudioPosition(const std::string& path, bool append, std::error_code& failure) {
  hosting::File file = hosting::File::Open(path, hosting::OpenMode::ReadWrite, failure);
  if (failure) return 0;
  const std::int64_t size = file.Size(failure);
  if (failure) return 0;
  const std::string head = file.ReadAt(0, kLayoutHeadBytes, failure);
  if (failure) return 0;
  const std::int64_t tail_start = std::max<std::int64_t>(0, size - std::int64_t(kLayoutTailBytes));
  const std::string tail = file.ReadAt(tail_start, std::size_t(size - tail_start), failure);
  if (failure) return 0;
  const AudioExtent extent = LocateAudio(head, tail, size);
  if (extent.audio_end < size) file.Truncate(extent.audio_end, failure);
  if (failure) return 0;
  file.Close(failure);
  return append ? extent.audio_end : extent.audio_begin;
}

}  // namespace

// Step 4 of StartWriting. The store is created at the first tagged recording and
// kept; setting FileName first makes it read the file's own tags, so that items
// not set here keep their values from the file, and GenreID stays as the scan
// left it. The store reports no failure: a file it could not tag is recorded into
// all the same. A path that is not valid UTF-8 cannot be named to the store (its
// names are 16-bit text, written back as UTF-8), so such a file is not tagged.
std::error_code Torvane::TagRecordingFile(bool append, std::optional<std::int64_t>& audio_position) {
  if (!text::IsValidUtf8(record_path_)) return {};
  if (!tag_store_) tag_store_ = std::make_unique<tags::clsID3>();
  tags::clsID3& store = *tag_store_;
  store.FileName(Text(record_path_));
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
  audio_position = PrepareAudioPosition(record_path_, append, failure);
  return failure;
}

}  // namespace pellora::capture
