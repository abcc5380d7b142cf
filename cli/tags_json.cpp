// SPDX-License-Identifier: MIT
#include "cli/tags_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "text/text.h"

namespace pellora::cli {
namespace {

using nlohmann::ordered_json;

// JSON has no infinities or NaN; they are spelt out as strings.
ordered_json Number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  return value;
}

ordered_json FrameSizeOrNull(const tags::clsID3& id3) {
  try {
    return Number(id3.FrameSize());
  } catch (const std::domain_error&) {
    return nullptr;  // a VBR header without a frame count gives no frame size
  }
}

std::string HexDigits(const std::array<std::uint8_t, 3>& bytes) {
  char digits[7];
  std::snprintf(digits, sizeof digits, "%02X%02X%02X", bytes[0], bytes[1], bytes[2]);
  return digits;
}

// The shortest text that reads back as the same double ("128000", "417.9591836734694").
std::string ShortestDecimal(double value) {
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::string(digits, end);
}

}  // namespace

ordered_json TagsToJson(const tags::clsID3& id3) {
  ordered_json out = ordered_json::object();
  for (int i = 0; i < tags::kTextItemCount; ++i) {
    const auto item = tags::TextItem(i);
    out[std::string(tags::clsID3::ItemName(item))] = text::Utf16ToUtf8(id3.Text(item));
  }
  out["GenreID"] = id3.GenreID();
  out["FileName"] = text::Utf16ToPath(id3.FileName());  // the bytes of the name, UTF-8 or not
  out["ID3v1Exists"] = id3.ID3v1Exists();
  out["ID3v2Exists"] = id3.ID3v2Exists();
  out["Lyrics3v1Exists"] = id3.Lyrics3v1Exists();
  out["Lyrics3v2Exists"] = id3.Lyrics3v2Exists();
  out["ID3RevisionV2"] = id3.ID3RevisionV2();
  out["Layer"] = id3.Layer();
  out["MPEGVersion"] = id3.MPEGVersion();
  out["ChannelMode"] = id3.ChannelMode();
  out["Padding"] = id3.Padding();
  out["Encoding"] = id3.Encoding();
  out["SamplingRateFrequency"] = id3.SamplingRateFrequency();
  out["FrameSamples"] = id3.FrameSamples();
  out["BitRate"] = Number(id3.BitRate());
  out["FrameSize"] = FrameSizeOrNull(id3);
  out["length"] = Number(id3.length());
  out["FrameHeader"] = HexDigits(id3.FrameHeader());
  out["AudioStart"] = id3.AudioStart();
  out["AudioSize"] = id3.AudioSize();
  out["IsVbr"] = id3.IsVbr();
  out["VbrFrames"] = id3.VbrFrames();
  out["VbrBytes"] = id3.VbrBytes();
  out["VbrQuality"] = id3.VbrQuality();
  out["VbriTocEntries"] = id3.VbriTocEntries();
  out["VbriTocEntrySize"] = id3.VbriTocEntrySize();
  return out;
}

std::vector<std::pair<std::string, std::string>> TagsToRows(const tags::clsID3& id3) {
  std::vector<std::pair<std::string, std::string>> rows;
  const ordered_json properties = TagsToJson(id3);
  for (const auto& [key, value] : properties.items()) {
    if (value.is_string()) rows.emplace_back(key, value.get<std::string>());
    else if (value.is_number_float()) rows.emplace_back(key, ShortestDecimal(value.get<double>()));
    else rows.emplace_back(key, value.dump());
  }
  return rows;
}

}  // namespace pellora::cli
