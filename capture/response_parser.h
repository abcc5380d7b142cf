// SPDX-License-Identifier: MIT
#pragma once
// The response header, parsed byte by byte as it arrives, in any cutting: a status
// line, "name:value" lines, and the empty line that ends the header. Every line
// ends with CR LF, so the header ends exactly at the first CR LF CR LF; a lone CR
// or LF is part of its line.
//
// The header is parsed once: every complete line becomes a field as it arrives
// (the text before the line's first colon is the name, the rest the value,
// unchanged), and fields are looked up by their whole name without regard to ASCII
// case. A line without a colon is kept in the text but is no field. The raw bytes
// are kept too (`Text`), as the control hands them to its host.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellora::capture {

// A header longer than this without its empty line is refused; it bounds every
// line and the number of fields as well.
inline constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

class ResponseParser {
 public:
  enum class Result { Good, Bad, NeedMore };

  // Forgets everything, for a new response.
  void Reset();

  // Takes bytes of `data` up to and including the header's empty line; `used`
  // tells how many. Good: the header is complete (the rest of `data` is body).
  // NeedMore: all of `data` was taken. Bad: the header grew past kMaxHeaderBytes.
  Result Parse(std::span<const char> data, std::size_t& used);

  bool Complete() const { return state_ == State::Done; }
  // The bytes taken so far; once complete, the whole header with its empty line.
  const std::string& Text() const { return text_; }
  // The first line without its CR LF; empty until it is complete.
  const std::string& StatusLine() const { return status_line_; }
  // The value of the first field named `name` (any case), as sent; nothing when
  // no complete line holds that field.
  std::optional<std::string_view> Field(std::string_view name) const;

 private:
  enum class State { Line, LineCR, Done };
  void EndLine();

  State state_ = State::Line;
  std::string text_;
  std::size_t line_start_ = 0;  // offset in text_ of the line being read
  bool status_done_ = false;
  std::string status_line_;
  std::vector<std::pair<std::string, std::string>> fields_;
};

// ASCII case-insensitive equality, as HTTP compares field names and tokens.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace pellora::capture
