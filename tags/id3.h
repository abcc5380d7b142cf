#pragma once
// clsID3: the tag store. One object describes the tags of one audio file: its
// ID3v1, ID3v2 and Lyrics3 items, which tag kinds it carries, and the first MPEG
// audio frame found between the tags.
//
// Use: set FileName (which reads the file and clears everything else), set the
// items to change, call UpdateID3Tags. Nothing here reports failures: a step that
// fails is skipped. The one exception is FrameSize, which throws
// std::domain_error when its division has no result.
//
// The class is split over several sources by concern:
//   record.cpp         the record, its properties, the identifier tables
//   genres.cpp         the genre table (genres.h)
//   id3v2_reader.cpp   ID3v2 reading
//   trailer_reader.cpp ID3v1 and Lyrics3 reading
//   scan.cpp           the scan of a file that ties the readers together
//   mpeg.cpp           MPEG frame header fields, bit rate, frame size, duration
//   id3v2_writer.cpp   ID3v2 building
//   trailer_writer.cpp ID3v1 and Lyrics3 building
//   rewrite.cpp        the file rewrite (update and removal)
// The byte and text codecs the readers and writers share are free functions
// (codecs.h); the file is read through FileReader (file_reader.h).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tags/items.h"

namespace pellora::tags {

class clsID3 {
 public:
  clsID3();

  // --- Tag items: plain getters and setters, no validation or conversion. ---
#define PELLORA_ITEM_ACCESSORS(name)                                              \
  const std::u16string& name() const { return items_[int(TextItem::name)]; }     \
  void name(std::u16string value) { items_[int(TextItem::name)] = std::move(value); }
  PELLORA_ID3_TEXT_ITEMS(PELLORA_ITEM_ACCESSORS)
#undef PELLORA_ITEM_ACCESSORS

  std::int32_t GenreID() const { return genre_id_; }
  void GenreID(std::int32_t id) { genre_id_ = id; }

  // Any text item by its position in the declared order.
  const std::u16string& Text(TextItem item) const { return items_[int(item)]; }
  void SetText(TextItem item, std::u16string value) { items_[int(item)] = std::move(value); }
  // The property name of an item ("Title"), and the item of a name.
  static std::string_view ItemName(TextItem item);
  static std::optional<TextItem> FindItem(std::string_view name);

  // --- The file. Setting FileName runs the scan at once. ---
  const std::u16string& FileName() const { return file_name_; }
  void FileName(std::u16string path);
  void RefreshID3Tags();

  // --- Status of the file read. ---
  bool ID3v1Exists() const { return id3v1_exists_; }
  bool ID3v2Exists() const { return id3v2_exists_; }
  bool Lyrics3v1Exists() const { return lyrics3v1_exists_; }
  bool Lyrics3v2Exists() const { return lyrics3v2_exists_; }
  std::uint8_t ID3RevisionV2() const { return id3_revision_v2_; }

  // --- MPEG analysis results of the scan (read-only). ---
  const std::array<std::uint8_t, 3>& FrameHeader() const { return frame_header_; }
  std::int32_t AudioStart() const { return audio_start_; }
  std::int32_t AudioSize() const { return audio_size_; }
  bool IsVbr() const { return is_vbr_; }
  std::int32_t VbrFrames() const { return vbr_frames_; }
  std::int32_t VbrBytes() const { return vbr_bytes_; }
  const std::vector<std::uint8_t>& VbrToc() const { return vbr_toc_; }
  std::int32_t VbrQuality() const { return vbr_quality_; }
  std::int32_t VbriTocEntries() const { return vbri_toc_entries_; }
  std::int32_t VbriTocEntrySize() const { return vbri_toc_entry_size_; }

  // --- The genre table (genres.h). ---
  // The table text of a genre number; empty for numbers without an entry.
  static std::u16string GenreName(std::int32_t genre_id);
  // The genre number of a free text by a tolerant comparison; 12 ("Other") when
  // nothing matches, 255 for blank text.
  static std::int32_t ToGenreID(std::u16string_view genre);

  // The frame identifier tables, filled at creation.
  static const std::array<std::string_view, 33>& FrameIdsV22();
  static const std::array<std::string_view, 38>& FrameIdsV23();
  static const std::array<std::string_view, 5>& Lyrics3FieldIds();

 private:
  // Clears the record as every scan starts.
  void ResetForScan();
  // Runs the scan of FileName.
  void ReadTags();

  std::array<std::u16string, kTextItemCount> items_{};
  std::int32_t genre_id_ = 0;
  std::u16string file_name_;

  bool id3v1_exists_ = false;
  bool id3v2_exists_ = false;
  bool lyrics3v1_exists_ = false;
  bool lyrics3v2_exists_ = false;
  std::uint8_t id3_revision_v2_ = 3;

  bool lyrics_timestamped_ = false;

  std::array<std::uint8_t, 3> frame_header_{};
  std::int32_t audio_start_ = 0;
  std::int32_t audio_size_ = 0;
  bool is_vbr_ = false;
  std::int32_t vbr_frames_ = 0;
  std::int32_t vbr_bytes_ = 0;
  std::vector<std::uint8_t> vbr_toc_;
  std::int32_t vbr_quality_ = 0;
  std::int32_t vbri_toc_entries_ = 0;
  std::int32_t vbri_toc_entry_size_ = 0;

  bool tag_unsynchronised_ = false;
};

}  // namespace pellora::tags
