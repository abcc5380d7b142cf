// SPDX-License-Identifier: MIT
// ID3v2 reading: tag header, frame walk, frame text and the frame-to-item mapping.
#include <algorithm>
#include <cmath>
#include <limits>

#include "tags/codecs.h"
#include "tags/file_reader.h"
#include "tags/id3.h"
#include "tags/id3v2_format.h"
#include "text/text.h"

namespace pellora::tags {
namespace {

constexpr std::size_t kHeaderLength = 10;

// Frames that fill one item as they are; both identifiers of a row are accepted
// whatever the revision, the identifier length already tells them apart.
struct PlainFrame {
  std::string_view v23, v22;
  TextItem item;
};
constexpr PlainFrame kPlainFrames[] = {
    {"TALB", "TAL", TextItem::Album},          {"TBPM", "TBP", TextItem::BeatsPerMinute},
    {"TCOM", "TCM", TextItem::Composer},       {"TCOP", "TCR", TextItem::Copyright},
    {"TENC", "TEN", TextItem::EncodedBy},      {"TEXT", "TXT", TextItem::Lyricist},
    {"TIT2", "TT2", TextItem::Title},          {"TKEY", "TKE", TextItem::InitialKey},
    {"TLAN", "TLA", TextItem::Languages},      {"TOAL", "TOT", TextItem::OriginalAlbum},
    {"TOFN", "TOF", TextItem::OriginalFileName}, {"TOLY", "TOL", TextItem::OriginalLyricist},
    {"TOPE", "TOA", TextItem::OriginalArtist}, {"TORY", "TOR", TextItem::OriginalReleaseYear},
    {"TOWN", "", TextItem::FileOwner},         {"TPE1", "TP1", TextItem::Artist},
    {"TPE2", "TP2", TextItem::Band},           {"TPE3", "TP3", TextItem::Conductor},
    {"TPE4", "TP4", TextItem::InterpretedBy},  {"TPUB", "TPB", TextItem::Publisher},
    {"TRSN", "", TextItem::InternetRadioStationName},
    {"TRSO", "", TextItem::InternetRadioStationOwner},
    {"TSRC", "TRC", TextItem::ISRC},           {"TYER", "TYE", TextItem::Year},
    {"WCOP", "WCP", TextItem::CopyrightInfo},  {"WOAF", "WAF", TextItem::AudioURL},
    {"WOAS", "WAS", TextItem::AudioSourceURL}, {"WORS", "", TextItem::InternetRadioURL},
    {"WPAY", "", TextItem::PaymentURL},        {"WPUB", "WPB", TextItem::PublisherURL},
};

// Identifiers are compared byte by byte: most differ in their first byte, and this
// runs for every row of every frame of every scan.
bool SameId(std::string_view id, std::string_view name) {
  if (id.size() != name.size()) return false;
  for (std::size_t i = 0; i < id.size(); ++i)
    if (id[i] != name[i]) return false;
  return true;
}

bool Is(std::string_view id, std::string_view v23, std::string_view v22) { return SameId(id, v23) || SameId(id, v22); }

std::optional<TextItem> PlainFrameItem(std::string_view id) {
  for (const auto& row : kPlainFrames)
    if (Is(id, row.v23, row.v22)) return row.item;
  return std::nullopt;
}

std::uint8_t ByteAt(std::string_view bytes, std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); }

// `count` bytes at `p`, fewer where `bytes` ends.
std::string_view Slice(std::string_view bytes, std::size_t p, std::size_t count) {
  if (p >= bytes.size()) return {};
  return bytes.substr(p, count);
}

bool StartsWith(std::string_view bytes, std::size_t p, std::string_view prefix) {
  return Slice(bytes, p, prefix.size()) == prefix;
}

// The length of the longest tail of `pattern` (down to its last character) that
// the bytes at `p` begin with; 0 when none does.
std::size_t MatchedTail(std::string_view bytes, std::size_t p, std::string_view pattern) {
  for (std::size_t drop = 0; drop < pattern.size(); ++drop)
    if (StartsWith(bytes, p, pattern.substr(drop))) return pattern.size() - drop;
  return 0;
}

std::vector<std::u16string> SplitAtSlash(std::u16string_view text) {
  std::vector<std::u16string> parts;
  if (text.empty()) return parts;
  for (std::size_t from = 0;;) {
    const std::size_t slash = text.find(u'/', from);
    parts.emplace_back(text.substr(from, slash == std::u16string_view::npos ? std::u16string_view::npos : slash - from));
    if (slash == std::u16string_view::npos) return parts;
    from = slash + 1;
  }
}

// The genre number of the text between the parentheses of an ID3v2 content type.
std::optional<std::int32_t> GenreReference(std::u16string_view inner) {
  if (const auto value = NumberValue(inner)) {
    const double rounded = std::nearbyint(*value);
    if (rounded < std::numeric_limits<std::int32_t>::min() || rounded > std::numeric_limits<std::int32_t>::max())
      return std::nullopt;  // no whole number of this size: GenreID stays as it was
    return static_cast<std::int32_t>(rounded);
  }
  if (inner == u"CR") return -2;
  if (inner == u"RX") return -1;
  return 255;
}

// The text of frame data after its encoding byte is applied; the language code of
// COMM and USLT frames (`language_bytes`) is passed over before decoding, as it is
// single-byte text whatever the encoding of what follows.
std::u16string DecodeEncodedText(std::string_view data, int revision, std::size_t language_bytes) {
  const int e = data.empty() ? -1 : ByteAt(data, 0);
  const bool encoded = e == 0 || e == 1 || ((e == 2 || e == 3) && revision == 4);
  if (encoded) data.remove_prefix(1);
  data.remove_prefix(std::min(language_bytes, data.size()));
  if (!encoded || e == 0) return text::Latin1ToUtf16(data);
  if (e == 1) return DecodeUtf16WithBom(data);
  return DecodeUtf16BeOrUtf8(data, e);
}

}  // namespace

namespace detail {

bool IsID3v2Header(std::string_view header) {
  if (header.size() < kHeaderLength || header.substr(0, 3) != "ID3") return false;
  if (ByteAt(header, 3) == 0xFF || ByteAt(header, 4) == 0xFF) return false;
  return std::all_of(header.begin() + 6, header.begin() + 10, [](char b) { return (b & 0x80) == 0; });
}

ID3v2HeaderFlags ReadTagHeaderFlags(std::string_view header) {
  const std::uint8_t version = ByteAt(header, 3), flags = ByteAt(header, 5);
  ID3v2HeaderFlags result;
  result.unsynchronised = (flags & 0x80) != 0;
  if (version < 3) {
    result.compressed = (flags & 0x40) != 0;
  } else {
    result.extended_header = (flags & 0x40) != 0;
    result.footer = version >= 4 && (flags & 0x10) != 0;
  }
  return result;
}

std::string_view SkipExtendedHeader(std::string_view body, int revision) {
  const bool v24 = revision >= 4;
  const double size = BytesToNumber(Slice(body, 0, 4), v24) + (v24 ? 0 : 4);
  body.remove_prefix(static_cast<std::size_t>(std::min(size, double(body.size()))));
  return body;
}

std::optional<std::int64_t> FrameTotalLength(std::string_view body, std::size_t p, int revision) {
  const std::size_t id_length = FrameIdLength(revision);
  const double size = BytesToNumber(Slice(body, p + id_length, id_length), revision >= 4);
  if (size > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int64_t>(size) + (id_length == 3 ? 6 : 10);
}

std::optional<FrameText> DecodeFrameText(std::string_view body, std::size_t p, int major_version,
                                         bool skip_language, bool cut_at_nul) {
  const int revision = major_version < 3 ? 2 : major_version == 3 ? 3 : 4;
  const std::size_t header_length = revision == 2 ? 6 : 10;
  if (p + header_length > body.size()) return std::nullopt;
  const std::uint8_t format_flags = revision == 2 ? 0 : ByteAt(body, p + 9);
  if ((revision == 3 && (format_flags & 0x80)) || (revision == 4 && (format_flags & 0x08))) return FrameText{};

  const std::size_t size_length = revision == 2 ? 3 : 4;
  const double size = BytesToNumber(body.substr(p + size_length, size_length), revision == 4);
  std::string_view data = Slice(body, p + header_length, static_cast<std::size_t>(std::min(size, double(body.size()))));
  std::string resynchronised;
  if (revision == 4 && (format_flags & 0x02)) data = resynchronised = RemoveUnsync(data);

  FrameText result{DecodeEncodedText(data, revision, skip_language ? 3 : 0), true};
  if (!result.text.empty() && result.text.front() == u'\0') {
    result.text.erase(0, 1);
    result.has_description = false;
  }
  if (cut_at_nul) result.text = CutAtNul(result.text);
  return result;
}

bool IsMp3extSignature(std::string_view body, std::size_t p) {
  // Every form of the marker starts with one of these bytes; frame identifiers
  // (upper-case letters other than M, P and V) never do.
  static constexpr std::string_view kMarkerStarts("\0MP3ext Vunicode)(0123456789.", 29);
  if (p >= body.size() || kMarkerStarts.find(body[p]) == std::string_view::npos) return false;
  static constexpr std::string_view kMarker("\0\0\0MP3ext V", 11);
  std::size_t q = p + MatchedTail(body, p, kMarker);
  while (q < body.size() && ((body[q] >= '0' && body[q] <= '9') || body[q] == '.')) ++q;
  if (StartsWith(body, q, "(unicode)")) return true;
  return MatchedTail(body, p, "unicode)") > 0;
}

}  // namespace detail

void clsID3::WalkFrames(std::string_view body, FrameWalk& walk) {
  const std::size_t id_length = detail::FrameIdLength(id3_revision_v2_);
  const std::string padding(id_length, '\0');
  for (std::size_t p = 0; p < body.size();) {
    const std::string_view id = Slice(body, p, id_length);
    if (id == padding || detail::IsMp3extSignature(body, p)) break;
    ParseFrame(id, body, p, walk);
    const auto total = detail::FrameTotalLength(body, p, id3_revision_v2_);
    if (!total) break;
    p += static_cast<std::size_t>(*total);
  }
}

void clsID3::ParseFrame(std::string_view id, std::string_view body, std::size_t p, FrameWalk& walk) {
  const bool with_language = Is(id, "COMM", "COM") || Is(id, "USLT", "ULT");
  const auto frame = detail::DecodeFrameText(body, p, id3_revision_v2_, with_language, !Is(id, "APIC", "PIC"));
  if (!frame) return;
  if (const auto item = PlainFrameItem(id)) {
    SetText(*item, frame->text);
  } else if (with_language) {
    if (!frame->has_description) SetText(Is(id, "COMM", "COM") ? TextItem::Comments : TextItem::Lyrics, frame->text);
  } else if (Is(id, "TCON", "TCO")) {
    walk.genre = frame->text;
  } else if (Is(id, "TPOS", "TPA")) {
    walk.disc_parts = SplitAtSlash(frame->text);
  } else if (Is(id, "TRCK", "TRK")) {
    walk.track_parts = SplitAtSlash(frame->text);
  } else if (id == "TDRC") {
    Year(TextBeforeDash(frame->text));
  } else if (id == "TDOR") {
    OriginalReleaseYear(TextBeforeDash(frame->text));
  }
}

void clsID3::PostProcessFrames(const FrameWalk& walk) {
  const std::u16string& genre = walk.genre;
  const std::size_t close = genre.empty() || genre.front() != u'(' ? std::u16string::npos : genre.find(u')', 1);
  if (close == std::u16string::npos) {
    Genre(genre);
  } else {
    Genre(genre.substr(close + 1));
    if (const auto id = GenreReference(std::u16string_view(genre).substr(1, close - 1))) genre_id_ = *id;
  }
  const auto split = [this](const auto& parts, TextItem number, TextItem total) {
    if (!parts || parts->empty()) return;
    SetText(number, NumericOrZero((*parts)[0]));
    if (parts->size() == 2) SetText(total, NumericOrZero((*parts)[1]));
  };
  split(walk.track_parts, TextItem::TrackNumber, TextItem::TracksTotal);
  split(walk.disc_parts, TextItem::DiscNumber, TextItem::DiscsTotal);
}

std::int64_t clsID3::ReadID3v2(const FileReader& file) {
  const auto header = file.ReadExactly(0, kHeaderLength);
  if (!header || !detail::IsID3v2Header(*header)) {
    id3_revision_v2_ = 3;
    return 0;
  }
  id3v2_exists_ = true;
  id3_revision_v2_ = ByteAt(*header, 3);
  const detail::ID3v2HeaderFlags flags = detail::ReadTagHeaderFlags(*header);
  tag_unsynchronised_ = flags.unsynchronised;
  if (flags.compressed) return kHeaderLength;

  // Synchsafe bytes below 128 keep the size below 2^28.
  const auto size = static_cast<std::int64_t>(BytesToNumber(std::string_view(*header).substr(6, 4), true));
  std::string body = file.ReadUpTo(kHeaderLength, size);
  if (tag_unsynchronised_ && id3_revision_v2_ < 4) body = RemoveUnsync(body);
  std::string_view frames = body;
  if (flags.extended_header) frames = detail::SkipExtendedHeader(frames, id3_revision_v2_);
  FrameWalk walk;
  WalkFrames(frames, walk);
  PostProcessFrames(walk);
  return std::int64_t(kHeaderLength) + size + (flags.footer ? 10 : 0);
}

}  // namespace pellora::tags
