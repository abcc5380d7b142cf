// SPDX-License-Identifier: MIT
#include "service/file_range_body.h"

#include <charconv>

namespace pellora::service {
namespace {

std::optional<std::uint64_t> Number(std::string_view digits) {
  std::uint64_t value = 0;
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<ByteRange> ParseByteRange(std::string_view field, std::uint64_t length) {
  constexpr std::string_view kUnit = "bytes=";
  field = Trimmed(field);
  if (!field.starts_with(kUnit)) return std::nullopt;
  field = Trimmed(field.substr(kUnit.size()));
  const auto dash = field.find('-');
  if (dash == std::string_view::npos || field.find(',') != std::string_view::npos) return std::nullopt;
  const std::string_view from = Trimmed(field.substr(0, dash)), to = Trimmed(field.substr(dash + 1));
  constexpr ByteRange kUnsatisfiable{0, 0, false};
  if (from.empty()) {  // the last N bytes
    const auto count = Number(to);
    if (!count) return std::nullopt;
    if (*count == 0 || length == 0) return kUnsatisfiable;
    return ByteRange{length - std::min(*count, length), length - 1, true};
  }
  const auto first = Number(from);
  const auto last = to.empty() ? std::optional<std::uint64_t>(UINT64_MAX) : Number(to);
  if (!first || !last || *last < *first) return std::nullopt;
  if (*first >= length) return kUnsatisfiable;
  return ByteRange{*first, std::min(*last, length - 1), true};
}

}  // namespace pellora::service
