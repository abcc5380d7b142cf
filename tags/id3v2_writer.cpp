// SPDX-License-Identifier: MIT
// ID3v2 building: the old tag's frames are rewritten in place from the record,
// foreign frames are carried over, missing ones appended, and the old padding
// length kept.
//
// Positions inside the frame area are 0-based here.
#include <algorithm>
#include <cmath>
#include <limits>

#include "tags/codecs.h"
#include "tags/id3v2_format.h"
#include "tags/tag_building.h"
#include "tags/pending_ids.h"
#include "text/text.h"

namespace pellora::tags::detail {
namespace {

constexpr std::size_t kNewTagPadding = 2048;
constexpr std::size_t kHeaderLength = 10;
// What four synchsafe digits can say: the largest tag, and the largest frame of
// revision 4.
constexpr std::size_t kLargestSynchsafe = (std::size_t(1) << 28) - 1;

// How a frame's value is made from the record.
enum class ValueSource { Item, Genre, Track, Disc };

struct ManagedFrame {
  std::string_view v22;       // revision-2 identifier, empty when there is none
  std::string_view v23;       // revision-3/4 identifier
  std::string_view v24;       // the revision-4 alternative of v23, when one exists
  ValueSource source;
  TextItem item;              // for ValueSource::Item
};

constexpr ManagedFrame kManagedFrames[] = {
    {"COM", "COMM", "", ValueSource::Item, TextItem::Comments},
    {"TAL", "TALB", "", ValueSource::Item, TextItem::Album},
    {"TBP", "TBPM", "", ValueSource::Item, TextItem::BeatsPerMinute},
    {"TCM", "TCOM", "", ValueSource::Item, TextItem::Composer},
    {"TCO", "TCON", "", ValueSource::Genre, TextItem::Genre},
    {"TCR", "TCOP", "", ValueSource::Item, TextItem::Copyright},
    {"TEN", "TENC", "", ValueSource::Item, TextItem::EncodedBy},
    {"TXT", "TEXT", "", ValueSource::Item, TextItem::Lyricist},
    {"TT2", "TIT2", "", ValueSource::Item, TextItem::Title},
    {"TKE", "TKEY", "", ValueSource::Item, TextItem::InitialKey},
    {"TLA", "TLAN", "", ValueSource::Item, TextItem::Languages},
    {"TOT", "TOAL", "", ValueSource::Item, TextItem::OriginalAlbum},
    {"TOF", "TOFN", "", ValueSource::Item, TextItem::OriginalFileName},
    {"TOL", "TOLY", "", ValueSource::Item, TextItem::OriginalLyricist},
    {"TOA", "TOPE", "", ValueSource::Item, TextItem::OriginalArtist},
    {"TOR", "TORY", "TDOR", ValueSource::Item, TextItem::OriginalReleaseYear},
    {"", "TOWN", "", ValueSource::Item, TextItem::FileOwner},
    {"TP1", "TPE1", "", ValueSource::Item, TextItem::Artist},
    {"TP2", "TPE2", "", ValueSource::Item, TextItem::Band},
    {"TP3", "TPE3", "", ValueSource::Item, TextItem::Conductor},
    {"TP4", "TPE4", "", ValueSource::Item, TextItem::InterpretedBy},
    {"TPA", "TPOS", "", ValueSource::Disc, TextItem::DiscNumber},
    {"TPB", "TPUB", "", ValueSource::Item, TextItem::Publisher},
    {"TRK", "TRCK", "", ValueSource::Track, TextItem::TrackNumber},
    {"", "TRSN", "", ValueSource::Item, TextItem::InternetRadioStationName},
    {"", "TRSO", "", ValueSource::Item, TextItem::InternetRadioStationOwner},
    {"TRC", "TSRC", "", ValueSource::Item, TextItem::ISRC},
    {"TYE", "TYER", "TDRC", ValueSource::Item, TextItem::Year},
    {"ULT", "USLT", "", ValueSource::Item, TextItem::Lyrics},
    {"WCP", "WCOP", "", ValueSource::Item, TextItem::CopyrightInfo},
    {"WAF", "WOAF", "", ValueSource::Item, TextItem::AudioURL},
    {"WAS", "WOAS", "", ValueSource::Item, TextItem::AudioSourceURL},
    {"", "WORS", "", ValueSource::Item, TextItem::InternetRadioURL},
    {"", "WPAY", "", ValueSource::Item, TextItem::PaymentURL},
    {"WPB", "WPUB", "", ValueSource::Item, TextItem::PublisherURL},
};

const ManagedFrame* FindManagedFrame(std::string_view id) {
  if (id.empty()) return nullptr;
  for (const auto& frame : kManagedFrames)
    if (id == frame.v22 || id == frame.v23 || id == frame.v24) return &frame;
  return nullptr;
}

bool IsCommentOrLyrics(std::string_view id) {
  return id == "COM" || id == "COMM" || id == "ULT" || id == "USLT";
}

// Frames the writer never creates even while they are pending.
bool IsNeverAppended(std::string_view id) {
  return id == "PIC" || id == "APIC" || id == "WCM" || id == "WCOM" || id == "WAR" || id == "WOAR";
}

std::string Utf16LittleEndian(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

// A frame's content: encoding byte, for comments and lyrics the language and an
// empty description, then the value. Text that Latin-1 can hold is written as
// single bytes; other text as UTF-16 with a byte-order mark before revision 4 and
// as UTF-8 from revision 4 on, the description in the same encoding.
std::string FrameContent(std::u16string_view value, bool language, int revision) {
  std::string content;
  if (text::IsLatin1(value)) {
    content.push_back('\0');
    if (language) content.append("eng\0", 4);
    content += text::Utf16ToLatin1(value);
  } else if (revision < 4) {
    content.push_back('\x01');
    if (language) content.append("eng\xFF\xFE\0\0", 7);
    content.append("\xFF\xFE", 2);
    content += Utf16LittleEndian(value);
  } else {
    content.push_back('\x03');
    if (language) content.append("eng\0", 4);
    content += text::Utf16ToUtf8(value);
  }
  return content;
}

// A URL frame's content: the bare address, with no encoding byte, as every other
// reader of ID3v2 expects (the reader here takes both forms). An address is ASCII:
// every other character is percent-encoded as UTF-8, the same way whatever else
// the address holds ("é" is always "%C3%A9").
std::string UrlFrameContent(std::u16string_view value) {
  std::string content;
  content.reserve(value.size());
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] < 0x80) {
      content.push_back(static_cast<char>(value[i]));
      continue;
    }
    const bool pair = value[i] >= 0xD800 && value[i] <= 0xDBFF && i + 1 < value.size();
    for (unsigned char byte : text::Utf16ToUtf8(value.substr(i, pair ? 2 : 1)))
      content += {'%', kHex[byte >> 4], kHex[byte & 0x0F]};
    if (pair) ++i;
  }
  return content;
}

bool IsUrlFrame(std::string_view id) { return !id.empty() && id[0] == 'W'; }

std::u16string TrimBlanks(std::u16string_view text) {
  const auto first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  return std::u16string(text.substr(first, text.find_last_not_of(u' ') - first + 1));
}

std::u16string LowerAscii(std::u16string text) {
  for (auto& c : text)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return text;
}

// Walks one old frame area and writes the new one. Holds the pending identifiers
// of one update. The old area is only read and the new one only appended to, so
// the work is linear in the size of the tag however many frames change.
class FrameAreaWriter {
 public:
  // `fill_to`: the area length the padding is to make up when the frames leave room.
  FrameAreaWriter(const clsID3& record, int revision, std::string_view old_area, bool fix,
                  std::optional<std::size_t> fill_to)
      : record_(record), revision_(revision), old_(old_area), fix_(fix), fill_to_(fill_to) {
    FillPendingList();
    area_.reserve(old_.size());
  }

  // Rewrites the old frames, appends the missing ones and the padding. Nothing
  // when a frame or the tag would be larger than its size field can say.
  std::optional<std::string> Finish() && {
    const std::size_t stop = Walk();
    const std::size_t remainder = old_.size() - stop;
    for (const auto& id : pending_)
      if (!IsNeverAppended(id)) PutFrame(id, ValueOf(id));
    if (fill_to_ && *fill_to_ >= area_.size()) area_.resize(*fill_to_, '\0');
    else area_.append(remainder > 0 ? remainder : kNewTagPadding, '\0');
    if (too_large_ || area_.size() > kLargestSynchsafe) return std::nullopt;
    return std::move(area_);
  }

 private:
  std::size_t IdLength() const { return revision_ < 3 ? 3 : 4; }
  std::size_t HeaderLength() const { return revision_ < 3 ? 6 : 10; }

  void FillPendingList() {
    if (revision_ < 3) {
      for (std::string_view id : clsID3::FrameIdsV22()) pending_.Add(id);
      return;
    }
    for (std::string_view id : clsID3::FrameIdsV23()) {
      if (revision_ >= 4 && id == "TORY") id = "TDOR";
      if (revision_ >= 4 && id == "TYER") id = "TDRC";
      pending_.Add(id);
    }
  }

  // Returns where the walk stopped in the old area: the start of the padding, of
  // the marker an outside tool leaves, of an unreadable frame, or its end.
  std::size_t Walk() {
    std::size_t p = 0;
    while (p < old_.size()) {
      const auto total = FrameTotalLength(old_, p, revision_);
      if (!total) break;
      const std::string_view id = old_.substr(p, IdLength());
      if (IsCommentOrLyrics(id)) {
        if (!StepCommentOrLyrics(id, std::size_t(*total), p)) break;
        continue;
      }
      if (id.find_first_not_of('\0') == std::string_view::npos || IsMp3extSignature(old_, p)) break;
      if (!RewriteOrPass(pending_.Entry(id), std::size_t(*total), p)) break;
    }
    return std::min(p, old_.size());
  }

  // Comment and lyrics frames may occur several times: only those without a
  // description are the record's; the first is rewritten, later ones removed.
  bool StepCommentOrLyrics(std::string_view id, std::size_t total, std::size_t& p) {
    const auto text = DecodeFrameText(old_, p, revision_, /*skip_language=*/true, /*cut_at_nul=*/true);
    if (!text) return false;  // a header cut short by the end of the area
    if (text->has_description) return PassOver(total, p);
    const std::string entry = pending_.Entry(id);
    if (entry.empty()) {
      p += std::min(total, old_.size() - p);
      return true;
    }
    return RewriteOrPass(entry, total, p);
  }

  // A managed identifier rewrites the frame at p and leaves the pending list, so
  // that a duplicate (also one in other letter case, "tit2") is written once at
  // most; anything else passes over the frame. False when the frame is damaged.
  bool RewriteOrPass(const std::string& entry, std::size_t total, std::size_t& p) {
    if (!FindManagedFrame(entry)) return PassOver(total, p);
    if (total <= old_.size() - p && KeepsItsOwnBytes(entry, p)) {
      pending_.Leave(entry);
      return PassOver(total, p);
    }
    const std::size_t old_size =
        std::size_t(BytesToNumber(old_.substr(p + IdLength(), IdLength()), revision_ >= 4));
    PutFrame(entry, ValueOf(entry));
    p = std::min(old_.size(), p + HeaderLength() + old_size);
    pending_.Leave(entry);
    return true;
  }

  // A frame that the reader could not make into its value faithfully is carried
  // over as it is while the record still holds the value the reader made of it
  // (the caller did not set that property): rewriting it from that value would
  // lose what the reader could not see. A property set to anything else is
  // written as usual.
  bool KeepsItsOwnBytes(const std::string& id, std::size_t p) const {
    const auto whole = DecodeFrameText(old_, p, revision_, IsCommentOrLyrics(id), /*cut_at_nul=*/false);
    if (!whole || !IsBeyondTheReader(id, p, whole->text)) return false;
    std::u16string read = CutAtNul(whole->text);
    if (IsDateFrame(id)) read = TextBeforeDash(read);
    return read == ValueOf(id);
  }

  static bool IsDateFrame(std::string_view id) { return id == "TDRC" || id == "TDOR"; }

  // Frames whose content the reader takes only in part: compressed, encrypted or
  // carrying a data length (it does not unpack them); text in an encoding that the
  // tag's revision does not define (UTF-8 or UTF-16BE before revision 4, as some
  // taggers write) or UTF-16 without a byte-order mark; several values separated
  // by NULs (revision 4); a full date of which the record keeps the year.
  bool IsBeyondTheReader(std::string_view id, std::size_t p, std::u16string_view whole_text) const {
    const std::size_t header = HeaderLength();
    if (revision_ >= 3) {
      const auto format_flags = static_cast<std::uint8_t>(old_[p + 9]);
      if (revision_ == 3 && (format_flags & 0xC0)) return true;
      if (revision_ >= 4 && (format_flags & 0x0D)) return true;
    }
    if (id.empty() || (id[0] != 'T' && !IsCommentOrLyrics(id)) || p + header >= old_.size()) return false;
    const auto encoding = static_cast<std::uint8_t>(old_[p + header]);
    if (revision_ < 4 && (encoding == 2 || encoding == 3)) return true;
    if (encoding == 1) {
      const std::string_view mark = old_.substr(p + header + 1 + (IsCommentOrLyrics(id) ? 3 : 0), 2);
      if (mark != "\xFF\xFE" && mark != "\xFE\xFF") return true;
    }
    const std::u16string_view values = whole_text.substr(0, whole_text.find_last_not_of(u'\0') + 1);
    if (values.find(u'\0') != std::u16string_view::npos) return true;
    return IsDateFrame(id) && TextBeforeDash(values) != values;
  }

  // Copies the frame at p. A frame whose declared extent runs past the area is the
  // damaged end of the tag: it cannot be carried over whole, and appending after
  // its start would hide new frames inside it, so the walk stops at its start and
  // its bytes become padding.
  bool PassOver(std::size_t total, std::size_t& p) {
    if (total > old_.size() - p) return false;
    if (fix_) CopyFrameV24(p);
    else area_.append(old_.substr(p, total));
    p += total;
    return true;
  }

  // A revision-4 frame passed over loses its own unsynchronisation, since the new
  // tag declares none; its other format flags stay.
  void CopyFrameV24(std::size_t p) {
    const std::size_t size = std::size_t(BytesToNumber(old_.substr(p + 4, 4), true));
    const auto format_flags = static_cast<std::uint8_t>(old_[p + 9]);
    if (!(format_flags & 0x02)) {
      area_.append(old_.substr(p, 10 + size));
      return;
    }
    const std::string data = RemoveUnsync(old_.substr(p + 10, size));
    area_.append(old_.substr(p, 4));
    area_ += NumberToBytes(double(data.size()), 4, -1);
    area_.push_back(old_[p + 8]);
    area_.push_back(static_cast<char>(format_flags & ~0x02));
    area_ += data;
  }

  // The largest content a frame's size field can say.
  std::size_t LargestFrame() const {
    if (revision_ < 3) return (std::size_t(1) << 24) - 1;
    return revision_ >= 4 ? kLargestSynchsafe : 0xFFFFFFFFu;
  }

  std::string SizeField(std::size_t content_length) const {
    if (revision_ < 3) return NumberToBytes(double(content_length), 3, 0);
    return NumberToBytes(double(content_length), 4, revision_ >= 4 ? -1 : 0);
  }

  // Appends `value` as frame `id`; an empty value writes nothing.
  void PutFrame(const std::string& id, const std::u16string& value) {
    if (value.empty()) return;
    const std::string content =
        IsUrlFrame(id) ? UrlFrameContent(value) : FrameContent(value, IsCommentOrLyrics(id), revision_);
    if (content.size() > LargestFrame()) too_large_ = true;
    area_ += id;
    area_ += SizeField(content.size());
    if (revision_ >= 3) area_.append(2, '\0');
    area_ += content;
  }

  std::u16string ValueOf(std::string_view id) const {
    const ManagedFrame* frame = FindManagedFrame(id);
    if (!frame) return {};
    switch (frame->source) {
      case ValueSource::Genre: return GenreFrameText(record_);
      case ValueSource::Track: return NumberAndTotalText(record_.TrackNumber(), record_.TracksTotal());
      case ValueSource::Disc: return NumberAndTotalText(record_.DiscNumber(), record_.DiscsTotal());
      case ValueSource::Item: break;
    }
    return record_.Text(frame->item);
  }

  const clsID3& record_;
  const int revision_;
  const std::string_view old_;
  const bool fix_;
  const std::optional<std::size_t> fill_to_;
  std::string area_;
  PendingIds pending_;
  bool too_large_ = false;
};

// The old frame area made ready for the walk: unsynchronisation and extended
// header removed as the old header's flags say.
std::string PrepareOldFrameArea(const ID3v2HeaderFlags& flags, int revision, std::string_view body) {
  std::string area(body);
  if (flags.unsynchronised && revision < 4) area = RemoveUnsync(area);
  if (flags.extended_header) area = std::string(SkipExtendedHeader(area, revision));
  return area;
}

}  // namespace

std::string NumberToBytes(double value, int width, int shift) {
  const double base = shift == 0 ? 256.0 : 128.0;
  std::string digits;
  do {
    const double q = std::floor(value / base);
    digits.insert(digits.begin(), static_cast<char>(static_cast<int>(value - q * base)));
    value = q;
  } while (value > 0 && digits.size() <= std::size_t(width));
  if (digits.size() > std::size_t(width)) digits.erase(0, digits.size() - width);
  digits.insert(0, width - digits.size(), '\0');
  return digits;
}

std::uint8_t BuildTagHeaderFlags(int revision, bool unsynchronised, bool compressed,
                                 bool extended_header, bool footer) {
  std::uint8_t flags = unsynchronised ? 0x80 : 0;
  if (revision < 3 ? compressed : extended_header) flags |= 0x40;
  if (revision >= 4 && footer) flags |= 0x10;
  return flags;
}

std::u16string GenreFrameText(const clsID3& record) {
  const std::int32_t id = record.GenreID();
  const std::u16string number = id == -2 ? u"CR" : id == -1 ? u"RX" : text::Latin1ToUtf16(std::to_string(id));
  const std::u16string key = LowerAscii(TrimBlanks(record.Genre()));
  if (!key.empty() && (id == 12 || id == 255)) return record.Genre();
  if (key != u"" && key != u"other" && key != u"unknown") return u"(" + number + u")" + record.Genre();
  return u"(" + number + u")";
}

std::u16string NumberAndTotalText(const std::u16string& number, const std::u16string& total) {
  if (number.empty()) return {};
  return total.empty() ? number : number + u"/" + total;
}

BuiltID3v2Tag BuildID3v2Tag(const clsID3& record, const std::optional<std::string>& old_header,
                            std::string_view old_body, std::optional<std::size_t> fill_tag_to) {
  std::string area;
  bool fix = false;
  int revision = 3;
  if (old_header) {
    const auto flags = ReadTagHeaderFlags(*old_header);
    revision = static_cast<std::uint8_t>((*old_header)[3]);
    if (!flags.compressed) area = PrepareOldFrameArea(flags, revision, old_body);
    fix = revision >= 4;
  }
  // The new tag is written without unsynchronisation, extended header or footer.
  std::optional<std::size_t> fill_to;
  if (old_header && fill_tag_to && *fill_tag_to >= kHeaderLength) fill_to = *fill_tag_to - kHeaderLength;
  const auto new_area = FrameAreaWriter(record, revision, area, fix, fill_to).Finish();
  if (!new_area) return {{}, static_cast<std::uint8_t>(revision)};
  area = *new_area;

  std::string tag = "ID3";
  tag.push_back(static_cast<char>(revision));
  tag.push_back('\0');
  tag.push_back(static_cast<char>(BuildTagHeaderFlags(revision, false, false, false, false)));
  tag += NumberToBytes(double(area.size()), 4, -1);
  return {tag + area, static_cast<std::uint8_t>(revision)};
}

}  // namespace pellora::tags::detail
