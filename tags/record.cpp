// SPDX-License-Identifier: MIT
#include <algorithm>

#include "tags/id3.h"

namespace pellora::tags {
namespace {

constexpr std::array<std::string_view, kTextItemCount> kItemNames = {
#define PELLORA_ITEM_NAME(name) #name,
    PELLORA_ID3_TEXT_ITEMS(PELLORA_ITEM_NAME)
#undef PELLORA_ITEM_NAME
};

// Writers append missing frames in this order, so a new tag has its frames in it.
constexpr std::array<std::string_view, 38> kFrameIdsV23 = {
    "APIC", "COMM", "TALB", "TBPM", "TCOM", "TCON", "TCOP", "TENC", "TEXT", "TIT2",
    "TKEY", "TLAN", "TOAL", "TOFN", "TOLY", "TOPE", "TORY", "TOWN", "TPE1", "TPE2",
    "TPE3", "TPE4", "TPOS", "TPUB", "TRCK", "TRSN", "TRSO", "TSRC", "TYER", "USLT",
    "WCOM", "WCOP", "WOAF", "WOAR", "WOAS", "WORS", "WPAY", "WPUB"};

// Note the first two: the v2.2 list starts COM, PIC where the v2.3 one starts APIC, COMM.
constexpr std::array<std::string_view, 33> kFrameIdsV22 = {
    "COM", "PIC", "TAL", "TBP", "TCM", "TCO", "TCR", "TEN", "TXT", "TT2", "TKE",
    "TLA", "TOT", "TOF", "TOL", "TOA", "TOR", "TP1", "TP2", "TP3", "TP4", "TPA",
    "TPB", "TRK", "TRC", "TYE", "ULT", "WCM", "WCP", "WAF", "WAR", "WAS", "WPB"};

constexpr std::array<std::string_view, 5> kLyrics3FieldIds = {"LYR", "AUT", "EAL", "EAR", "ETT"};

}  // namespace

clsID3::clsID3() = default;

std::string_view clsID3::ItemName(TextItem item) { return kItemNames[int(item)]; }

std::optional<TextItem> clsID3::FindItem(std::string_view name) {
  const auto it = std::find(kItemNames.begin(), kItemNames.end(), name);
  if (it == kItemNames.end()) return std::nullopt;
  return static_cast<TextItem>(it - kItemNames.begin());
}

const std::array<std::string_view, 33>& clsID3::FrameIdsV22() { return kFrameIdsV22; }
const std::array<std::string_view, 38>& clsID3::FrameIdsV23() { return kFrameIdsV23; }
const std::array<std::string_view, 5>& clsID3::Lyrics3FieldIds() { return kLyrics3FieldIds; }

void clsID3::FileName(std::u16string path) {
  file_name_ = std::move(path);
  rolled_forward_ = false;
  ReadTags();
}

void clsID3::RefreshID3Tags() { ReadTags(); }

void clsID3::ClearTagRecord() {
  for (auto& item : items_) item.clear();
  genre_id_ = 255;
  id3v1_exists_ = id3v2_exists_ = lyrics3v1_exists_ = lyrics3v2_exists_ = false;
  id3_revision_v2_ = 0;
  lyrics_timestamped_ = false;
  tag_unsynchronised_ = false;
}

void clsID3::ResetForScan() {
  ClearTagRecord();
  frame_header_ = {};
  audio_start_ = audio_size_ = 0;
  is_vbr_ = false;
  vbr_frames_ = vbr_bytes_ = vbr_quality_ = 0;
  vbr_toc_.clear();
  vbri_toc_entries_ = vbri_toc_entry_size_ = 0;
}

}  // namespace pellora::tags
