#include "hosting/file.h"
#include "tags/id3.h"
#include "text/text.h"

namespace pellora::tags {

// Reads the tags in the order of the file's layout: the ID3v2 tag at the start,
// then the ID3v1 record at the end, the Lyrics3 block before it, and last the
// ID3v1 items, which fill only what the other two left empty.
void clsID3::ReadTags() {
  ResetForScan();
  std::error_code ec;
  const auto file = hosting::File::Open(text::Utf16ToUtf8(file_name_), hosting::OpenMode::Read, ec);
  if (!file.IsOpen()) {
    id3_revision_v2_ = 3;
    return;
  }
  const FileReader reader(file);
  ReadID3v2(reader);
  const ID3v1Probe id3v1 = ProbeID3v1(reader);
  ReadLyrics3(reader, id3v1.audio_end);
  ReadID3v1Fields(id3v1);
}

}  // namespace pellora::tags
