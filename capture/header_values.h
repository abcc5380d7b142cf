// SPDX-License-Identifier: MIT
#pragma once
// Converting the text of a response header field to the number or flag it holds.
//
// Numbers are decimal: an optional sign, digits, an optional fraction ("128",
// "-3", "96.5"); a fraction goes to the nearest integer, halves to the even one.
// Servers send all sorts of values ("128,128", "yes", blanks): a value that does
// not convert, or does not fit, gives 0 (or False) rather than failing, so one
// odd field never stops the stream from being read.
#include <cstdint>
#include <optional>
#include <string_view>

namespace pellora::capture {

// The value as a whole number within [min, max], or nothing.
std::optional<std::int64_t> HeaderNumber(std::string_view text, std::int64_t min, std::int64_t max);

std::int16_t HeaderInt16(const std::optional<std::string>& text);
std::int32_t HeaderInt32(const std::optional<std::string>& text);
// A non-zero number, or "true" in any case, is True.
bool HeaderFlag(const std::optional<std::string>& text);

}  // namespace pellora::capture
