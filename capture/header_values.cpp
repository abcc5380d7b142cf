// SPDX-License-Identifier: MIT
#include "capture/header_values.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace pellora::capture {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Only [sign] digits [. digits], with at least one digit.
bool IsDecimal(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  const auto digits = [](std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  return whole.size() + fraction.size() > 0 && digits(whole) && digits(fraction);
}

bool EqualsNoCase(std::string_view text, std::string_view lower) {
  return text.size() == lower.size() &&
         std::equal(text.begin(), text.end(), lower.begin(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

std::optional<std::int64_t> HeaderNumber(std::string_view text, std::int64_t min, std::int64_t max) {
  text = TrimBlanks(text);
  if (!IsDecimal(text)) return std::nullopt;
  const std::string_view digits = text.front() == '+' ? text.substr(1) : text;
  double value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  const double rounded = std::nearbyint(value);  // the default mode: halves to even
  if (!(rounded >= static_cast<double>(min) && rounded <= static_cast<double>(max)))
    return std::nullopt;
  return static_cast<std::int64_t>(rounded);
}

std::int16_t HeaderInt16(const std::optional<std::string>& text) {
  if (!text) return 0;
  using Limits = std::numeric_limits<std::int16_t>;
  return static_cast<std::int16_t>(HeaderNumber(*text, Limits::min(), Limits::max()).value_or(0));
}

std::int32_t HeaderInt32(const std::optional<std::string>& text) {
  if (!text) return 0;
  using Limits = std::numeric_limits<std::int32_t>;
  return static_cast<std::int32_t>(HeaderNumber(*text, Limits::min(), Limits::max()).value_or(0));
}

bool HeaderFlag(const std::optional<std::string>& text) {
  if (!text) return false;
  const std::string_view value = TrimBlanks(*text);
  if (EqualsNoCase(value, "true")) return true;
  const auto number = HeaderNumber(value, std::numeric_limits<std::int64_t>::min() / 2,
                                   std::numeric_limits<std::int64_t>::max() / 2);
  return number.value_or(0) != 0;
}

}  // namespace pellora::capture
