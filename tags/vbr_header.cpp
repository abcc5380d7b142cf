// SPDX-License-Identifier: MIT
#include "tags/vbr_header.h"

#include <cctype>
#include <optional>
#include <string_view>

namespace pellora::tags::mpeg {
namespace {

// Frame bytes [first, first + count) as a big-endian number, when `frame` holds them.
std::optional<std::uint32_t> NumberAt(std::span<const std::uint8_t> frame, std::size_t first, std::size_t count) {
  if (first < 1 || first - 1 + count > frame.size()) return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < count; ++k) value = (value << 8) | frame[first - 1 + k];
  return value;
}

// Stores a 4-byte (two's complement) or 2-byte (unsigned) field when present.
void StoreNumber(std::span<const std::uint8_t> frame, std::size_t first, std::size_t count, std::int32_t& out) {
  if (const auto value = NumberAt(frame, first, count)) out = static_cast<std::int32_t>(*value);
}

bool TagAt(std::span<const std::uint8_t> frame, std::size_t first, std::string_view lower_tag) {
  if (first < 1 || first - 1 + lower_tag.size() > frame.size()) return false;
  for (std::size_t k = 0; k < lower_tag.size(); ++k)
    if (std::tolower(frame[first - 1 + k]) != lower_tag[k]) return false;
  return true;
}

void ReadXing(std::span<const std::uint8_t> frame, const HeaderBytes& header, VbrHeaders& out) {
  const std::size_t tag = std::size_t(SideInfoLength(header)) + 4;
  const bool xing = TagAt(frame, tag, "xing");
  if (!xing && !TagAt(frame, tag, "info")) return;
  const std::uint8_t flags = NumberAt(frame, tag + 7, 1).value_or(0);
  std::size_t field = tag + 8;
  if (flags & 1) StoreNumber(frame, field, 4, out.frames), field += 4;
  if (flags & 2) StoreNumber(frame, field, 4, out.bytes), field += 4;
  if (flags & 4) {
    if (field - 1 + 100 <= frame.size()) out.toc.assign(frame.begin() + field - 1, frame.begin() + field - 1 + 100);
    field += 100;
  }
  if (flags & 8) StoreNumber(frame, field, 4, out.quality), field += 4;
  out.length += std::int64_t(field - tag);
  out.is_vbr = out.is_vbr || xing;
}

void ReadVbri(std::span<const std::uint8_t> frame, VbrHeaders& out) {
  if (!TagAt(frame, 36, "vbri")) return;
  out.is_vbr = true;
  StoreNumber(frame, 44, 2, out.quality);
  StoreNumber(frame, 46, 4, out.bytes);
  StoreNumber(frame, 50, 4, out.frames);
  StoreNumber(frame, 54, 2, out.vbri_toc_entries);
  StoreNumber(frame, 58, 2, out.vbri_toc_entry_size);
  out.length += 26 + std::int64_t(out.vbri_toc_entries) * out.vbri_toc_entry_size;
}

}  // namespace

VbrHeaders ReadVbrHeaders(std::span<const std::uint8_t> frame, const HeaderBytes& header) {
  VbrHeaders headers;
  ReadXing(frame, header, headers);
  ReadVbri(frame, headers);
  return headers;
}

}  // namespace pellora::tags::mpeg
