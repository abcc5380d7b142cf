// SPDX-License-Identifier: MIT
#include "capture/response_parser.h"

#include <algorithm>

namespace pellora::capture {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

void ResponseParser::Reset() {
  state_ = State::Line;
  text_.clear();
  line_start_ = 0;
  status_done_ = false;
  status_line_.clear();
  fields_.clear();
}

ResponseParser::Result ResponseParser::Parse(std::span<const char> data, std::size_t& used) {
  used = 0;
  if (state_ == State::Done) return Result::Good;
  const std::size_t room = kMaxHeaderBytes - text_.size();
  const std::size_t take_at_most = std::min(data.size(), room);
  for (std::size_t i = 0; i < take_at_most; ++i) {
    const char c = data[i];
    text_.push_back(c);
    if (state_ == State::LineCR && c == '\n') {
      EndLine();
      if (state_ == State::Done) {
        used = i + 1;
        return Result::Good;
      }
      continue;
    }
    state_ = c == '\r' ? State::LineCR : State::Line;
  }
  used = take_at_most;
  return take_at_most < data.size() || text_.size() >= kMaxHeaderBytes ? Result::Bad : Result::NeedMore;
}

// A CR LF has just been taken: the line before it is complete.
void ResponseParser::EndLine() {
  const std::string_view line(text_.data() + line_start_, text_.size() - line_start_ - 2);
  line_start_ = text_.size();
  state_ = State::Line;
  if (!status_done_) {
    status_done_ = true;
    status_line_ = line;
    return;
  }
  if (line.empty()) {
    state_ = State::Done;
    return;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  fields_.emplace_back(line.substr(0, colon), line.substr(colon + 1));
}

std::optional<std::string_view> ResponseParser::Field(std::string_view name) const {
  for (const auto& [field, value] : fields_)
    if (EqualsNoCase(field, name)) return value;
  return std::nullopt;
}

}  // namespace pellora::capture
