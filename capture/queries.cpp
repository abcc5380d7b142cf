// SPDX-License-Identifier: MIT
// Look-ups in the response header and the last metadata block.
#include <string_view>

#include "capture/torvane.h"

namespace pellora::capture {
namespace {

// The text between the first `key` in `text` and the next `terminator`; empty
// when the key is missing, the terminator missing, or the value empty.
std::optional<std::string_view> ValueAfter(std::string_view text, std::string_view key,
                                           std::string_view terminator) {
  const std::size_t key_at = text.find(key);
  if (key_at == std::string_view::npos) return std::nullopt;
  const std::size_t start = key_at + key.size();
  const std::size_t stop = text.find(terminator, start);
  if (stop == std::string_view::npos || stop == start) return std::nullopt;
  return text.substr(start, stop - start);
}

std::string_view TrimSpaces(std::string_view value) {
  const std::size_t first = value.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::optional<std::string> Torvane::GetHeader(const std::string& Var) const {
  const auto value = response_.Field(Var);
  if (!value || value->empty()) return std::nullopt;
  return std::string(TrimSpaces(*value));
}

std::optional<std::string> Torvane::GetMeta(const std::string& Var) const {
  const auto value = ValueAfter(meta_text_, Var + "='", "';");
  if (!value) return std::nullopt;
  return std::string(*value);
}

std::optional<std::string> Torvane::GetNotices() const {
  std::string notices;
  for (int number = 1;; ++number) {
    const auto notice = GetHeader("icy-notice" + std::to_string(number));
    if (!notice || notice->empty()) break;
    notices += *notice;
    notices += "\r\n";
  }
  if (notices.empty()) return std::nullopt;
  notices.resize(notices.size() - 2);
  return notices;
}

}  // namespace pellora::capture
