// SPDX-License-Identifier: MIT
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
// (codecs.h); the file is read through FileReader (file_reader.h). The MPEG
// analysis rests on pure functions of its own: header decoding (mpeg_header.h),
// bit rate, frame size and duration (mpeg_stream.h), the search for the first
// frame (frame_search.h) and the Xing/Info/VBRI headers (vbr_header.h).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "items.h"  // beside this file, so <pellora/tags/id3.h> works when installed

namespace pellora::tags {

class FileReader;
namespace mpeg {
struct StreamFacts;
}

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
  // Why the last scan could not read the file: empty when it was read (and before
  // any scan); otherwise the system's reason (no such file, permission denied, is a
  // directory, ...), or std::errc::not_supported for a path that names something
  // other than a regular file (a FIFO, a device). The scan itself still reports
  // nothing; this is for callers that must tell a person why a file gave nothing.
  const std::error_code& ScanError() const { return scan_error_; }

  // ===== MPEG analysis (mpeg.cpp; results stored by scan.cpp) =====
  // What the scan found of the first MPEG audio frame between the tags, and the
  // properties decoded from it. All are read-only and computed at each call from
  // the stored results. Before any scan the header is all zero; after a scan that
  // found no frame (AudioStart 0) it holds the last candidate the search examined.

  // The three bytes after the 0xFF sync byte of the first frame's header.
  const std::array<std::uint8_t, 3>& FrameHeader() const { return frame_header_; }
  // 1-based file position of the first byte after that frame's 4-byte header; 0
  // when no frame was found.
  std::int64_t AudioStart() const { return audio_start_; }
  // Audio end position minus AudioStart, less the length of any Xing, Info or VBRI
  // header, never below 0. Positions are 64-bit so that recordings beyond 2 GiB
  // stay exact.
  std::int64_t AudioSize() const { return audio_size_; }
  // True when a Xing ("Xing", not "Info") or VBRI header was found.
  bool IsVbr() const { return is_vbr_; }
  // Frame count, byte count, table of contents (100 entries when present) and
  // quality of the Xing/Info or VBRI header; 0 (empty) when absent.
  std::int32_t VbrFrames() const { return vbr_frames_; }
  std::int32_t VbrBytes() const { return vbr_bytes_; }
  const std::vector<std::uint8_t>& VbrToc() const { return vbr_toc_; }
  std::int32_t VbrQuality() const { return vbr_quality_; }
  // Entry count and entry size of a VBRI header's table; 0 when absent.
  std::int32_t VbriTocEntries() const { return vbri_toc_entries_; }
  std::int32_t VbriTocEntrySize() const { return vbri_toc_entry_size_; }

  // Layer code: 0 reserved, 1 Layer III, 2 Layer II, 3 Layer I.
  std::int32_t Layer() const;
  // Version code: 0 MPEG-2.5, 1 reserved, 2 MPEG-1, 3 MPEG-2.
  std::int32_t MPEGVersion() const;
  // Channel-mode code: 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel.
  std::int32_t ChannelMode() const;
  // Padding slot length in bytes: 0, 1, or 4 for Layer I.
  std::int32_t Padding() const;
  // 1 for a variable bit rate (IsVbr), 0 for a constant one.
  std::int32_t Encoding() const;
  // Sampling rate in Hz; -1 for a reserved version or index. An all-zero header
  // reads as MPEG-2.5 at 11025 Hz.
  std::int32_t SamplingRateFrequency() const;
  // Samples per frame: 384, 576, 1152, or 0 for the reserved layer.
  std::int32_t FrameSamples() const;
  // Bit rate in bit/s. Constant: the header's table entry × 1000 (0 for free
  // format or a reserved version/layer, -1000 for the forbidden index). Variable:
  // the average, FrameSize × SamplingRateFrequency / (FrameSamples / 8); when the
  // VBR header has no byte count (FrameSize 0) or FrameSize fails, AudioSize /
  // length × 8. Never throws; a division by zero gives the IEEE result.
  double BitRate() const;
  // Frame length in bytes, not rounded. Constant: FrameSamples / 8 × BitRate /
  // SamplingRateFrequency + Padding. Variable: VbrBytes / VbrFrames.
  // Throws std::domain_error when VbrFrames is 0 for a variable bit rate.
  double FrameSize() const;
  // Playing time in seconds. Variable: VbrFrames × FrameSamples /
  // SamplingRateFrequency; constant: AudioSize / BitRate × 8. Never throws; a
  // division by zero gives the IEEE result (infinity, or NaN for 0 / 0).
  double length() const;
  // ===== end of MPEG analysis =====

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

  // ======================== File rewrite (rewrite.cpp) ========================
  // Rewrites FileName as: a new ID3v2 tag (in the revision of the file's old tag,
  // or 3), the old audio bytes unchanged, then a Lyrics3 v2 block and an ID3v1
  // record where the items call for them. Every old tag is cut off the audio.
  // Access and modification times are kept with full precision (Linux has no
  // settable creation time). Three ways, the cheapest that applies:
  //  - the new ID3v2 tag has the old one's size: the tags are rewritten where they
  //    stand and the audio is not touched;
  //  - the file has one link and its folder is writable: the new file is written
  //    beside it (unnamed until complete), given the old one's owner, mode,
  //    extended attributes and times, flushed and renamed over it, so that after any
  //    kill or crash the name holds the old content or the new, and the audio is
  //    copied once;
  //  - otherwise (hard links, a folder that is not writable, an owner that cannot
  //    be kept): the new content is written completely to a temporary file (folder
  //    from TEMP, else TMPDIR, else /tmp), a journal names it (rewrite_journal.h),
  //    the room is reserved, and it is copied over the file in place, which so
  //    keeps its inode and hard links. An interrupted copy is finished by the next
  //    FileName, RefreshID3Tags, UpdateID3Tags or DeleteID3Tags on the file.
  // A path that does not exist yet becomes a file holding the new tags alone.
  // Reports nothing (LastRewriteOutcome tells); the record is not read again (call
  // RefreshID3Tags for that), but ID3RevisionV2 becomes the revision written.
  void UpdateID3Tags();
  // Empties the record (every text item except FileName, GenreID 255, the four
  // flags false), then rewrites FileName as its audio alone, as UpdateID3Tags does.
  // ID3RevisionV2 ends as the major version of the tag removed (0 without one). A
  // path that does not exist is left alone.
  void DeleteID3Tags();

  // How the last UpdateID3Tags or DeleteID3Tags call left the file. The tag store
  // reports no failure by itself; this lets a caller that must know (the command
  // line) find out. After any failure the file holds its old content byte for byte,
  // except in the one case named KeptCopy.
  enum class RewriteOutcome {
    NotRun,     // no rewrite was asked for yet
    Rewritten,  // the file holds its new content (or already held exactly that)
    Unchanged,  // a step failed before the file was touched: it holds its old content
    KeptCopy,   // writing the file itself failed midway: the complete new content is
                // kept in the temporary file named by KeptCopyPath
    TagTooLarge,  // the new ID3v2 tag (or one of its frames) is larger than its size
                  // field can say; the file is unchanged
    DamagedTag,   // the file's ID3v2 tag claims more bytes than the file holds, so
                  // whatever audio lies inside that claim would be cut off with it;
                  // the file is unchanged
  };
  RewriteOutcome LastRewriteOutcome() const { return rewrite_outcome_; }
  const std::string& KeptCopyPath() const { return kept_copy_path_; }
  // True when, since FileName was last set, a rewrite of the file that an earlier
  // process left interrupted was finished from its journal (see rewrite_journal.h)
  // before this object read or rewrote the file.
  bool RolledForward() const { return rolled_forward_; }

  // Off by default, so that UpdateID3Tags keeps the old padding length as
  // described above. When on, and the new frames fit in the space of the file's
  // old ID3v2 tag, the padding takes up the difference instead: the tag keeps its
  // size, and when the trailer keeps its size too, only the tags are written, in
  // place, without moving the audio. The first edit of a file tagged by another
  // tool then costs as little as any later one.
  bool AbsorbPadding() const { return absorb_padding_; }
  void AbsorbPadding(bool on) { absorb_padding_ = on; }

  // Where the audio of the file named by FileName lies between its tags, as the
  // rewrite locates them: [begin, end) in bytes, begin after the ID3v2 tag (and its
  // footer), end before a Lyrics3 block and the ID3v1 record. A tag size that points
  // past the end of the file is clamped to the file. Nothing when the file cannot be
  // read.
  struct AudioBounds {
    std::int64_t begin = 0;
    std::int64_t end = 0;
  };
  std::optional<AudioBounds> LocateAudio() const;

 private:
  struct TagLayout;   // where the tags of a file lie (tag_locator.h)
  class TagLocator;   // finds them, for the scan and the rewrite alike

  // Empties every tag item and status flag (GenreID 255, revision 0); the MPEG
  // results stay.
  void ClearTagRecord();
  // Clears the record and the MPEG results, as every scan starts.
  void ResetForScan();
  // Runs the scan of FileName.
  void ReadTags();
  // The stored MPEG results, as the MPEG properties decode them.
  mpeg::StreamFacts StreamFacts() const;

  // ===== ID3v2 reading (id3v2_reader.cpp) =====
  // Offsets into a tag body are 0-based; a body is the tag's bytes after its
  // 10-byte header, as far as the file holds them.

  // What the frames of one tag leave for the post-processing: the last genre text
  // and the parts of the last disc and track frames.
  struct FrameWalk {
    std::u16string genre;
    std::optional<std::vector<std::u16string>> disc_parts;
    std::optional<std::vector<std::u16string>> track_parts;
  };

  // Probes the start of the file for an ID3v2 tag and reads its frames into the
  // record (ID3v2Exists, ID3RevisionV2, TagUnsynchronised and the items). Returns
  // the file offset after the tag (and its footer), where the audio search starts;
  // 10 for a compressed revision-2 tag, 0 without a tag. A declared size past the
  // end of the file is read as far as the file goes.
  std::int64_t ReadID3v2(const FileReader& file);
  // Reads the frames of a tag body until padding, the marker or its end.
  void WalkFrames(std::string_view body, FrameWalk& walk);
  // Stores the frame at `p` (identifier `id`) into its item or into `walk`.
  void ParseFrame(std::string_view id, std::string_view body, std::size_t p, FrameWalk& walk);
  // Genre, track and disc from what the walk left.
  void PostProcessFrames(const FrameWalk& walk);
  // ===== end of ID3v2 reading =====

  // ===== ID3v1 and Lyrics3 reading (trailer_reader.cpp) =====
  // Offsets are 0-based; an audio end is the offset just past the last audio byte.

  // Reads the Lyrics3 block the locator found into the empty items (sets
  // Lyrics3v1Exists / Lyrics3v2Exists). Returns where the audio search ends: before
  // a version-2 block, else before the ID3v1 record.
  std::int64_t ReadLyrics3(const TagLayout& layout);
  // Fills the empty items from the ID3v1 record, and the genre number while it is
  // 12 or 255.
  void ReadID3v1Fields(std::string_view record);
  void ReadLyrics3v2(std::string_view block);
  void ParseLyrics3Field(std::string_view id, std::string_view block, std::size_t p);
  void ReadV1Field(std::string_view record, std::size_t offset, std::size_t length, TextItem item);
  void ReadV1Track(std::string_view record);
  void ReadV1Genre(std::string_view record);
  // Stores `value` into `item` when the item is still empty.
  void FillIfEmpty(TextItem item, std::u16string value);
  // ===== end of ID3v1 and Lyrics3 reading =====

  std::array<std::u16string, kTextItemCount> items_{};
  std::int32_t genre_id_ = 0;
  std::u16string file_name_;

  bool id3v1_exists_ = false;
  bool id3v2_exists_ = false;
  bool lyrics3v1_exists_ = false;
  bool lyrics3v2_exists_ = false;
  std::uint8_t id3_revision_v2_ = 3;
  std::error_code scan_error_;

  bool lyrics_timestamped_ = false;

  std::array<std::uint8_t, 3> frame_header_{};
  std::int64_t audio_start_ = 0;
  std::int64_t audio_size_ = 0;
  bool is_vbr_ = false;
  std::int32_t vbr_frames_ = 0;
  std::int32_t vbr_bytes_ = 0;
  std::vector<std::uint8_t> vbr_toc_;
  std::int32_t vbr_quality_ = 0;
  std::int32_t vbri_toc_entries_ = 0;
  std::int32_t vbri_toc_entry_size_ = 0;

  bool tag_unsynchronised_ = false;

  // ======================== Tag writing: private parts ========================
  // The tags themselves are built by free functions of the record (tag_building.h).
  // Shared by UpdateID3Tags (keep_tags) and DeleteID3Tags (rewrite.cpp).
  void RewriteFile(bool keep_tags);

  RewriteOutcome rewrite_outcome_ = RewriteOutcome::NotRun;
  std::string kept_copy_path_;
  bool rolled_forward_ = false;
  bool absorb_padding_ = false;
  // ====================== end tag writing ======================
};

// The class holds 16-bit text; a host holds bytes. These convert as the library
// itself does. A file name (argv, readdir) becomes a FileName and back: its valid
// UTF-8 is decoded and every other byte kept as U+DC80..U+DCFF, so the way back
// gives exactly the same bytes. Text items go in and come out as UTF-8; bytes that
// are not UTF-8 become U+FFFD.
std::u16string FileNameFromPath(std::string_view path);
std::string PathFromFileName(std::u16string_view file_name);
std::u16string TextFromUtf8(std::string_view utf8);
std::string Utf8FromText(std::u16string_view text);

}  // namespace pellora::tags
