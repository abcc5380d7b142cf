// SPDX-License-Identifier: MIT
#include "tags/codecs.h"

#include <algorithm>
#include <cmath>

namespace pellora::tags {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

std::uint8_t ByteAt(std::string_view bytes, std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); }

// Appends the little-endian code units of `bytes`; an odd last byte is dropped.
void AppendUtf16Le(std::u16string& out, std::string_view bytes) {
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(ByteAt(bytes, i) | (ByteAt(bytes, i + 1) << 8)));
}

void AppendSingleBytes(std::u16string& out, std::string_view bytes) {
  for (char b : bytes) out.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(b)));
}

enum class Utf16Mode { Raw, LittleEndian, BigEndian };

void AppendSegment(std::u16string& out, std::string_view segment, Utf16Mode mode) {
  switch (mode) {
    case Utf16Mode::Raw: AppendSingleBytes(out, segment); break;
    case Utf16Mode::LittleEndian: AppendUtf16Le(out, segment); break;
    case Utf16Mode::BigEndian: AppendUtf16Le(out, SwapBytePairs(segment)); break;
  }
}

// The next byte order mark at or after `from`, where the segment's characters
// start: in single-byte text at any byte, in UTF-16 text only on code-unit
// boundaries.
std::size_t FindMark(std::string_view bytes, std::size_t from, Utf16Mode mode) {
  const std::size_t step = mode == Utf16Mode::Raw ? 1 : 2;
  for (std::size_t i = from; i + 1 < bytes.size(); i += step) {
    const auto a = ByteAt(bytes, i), b = ByteAt(bytes, i + 1);
    if ((a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF)) return i;
  }
  return std::string_view::npos;
}

// The value of a two- or three-byte sequence: malformed sequences that come out
// negative wrap to one code unit, values beyond one code unit have no character.
void AppendCodeUnit(std::u16string& out, std::int64_t value) {
  if (value < 0) value += 65536;
  out.push_back(value <= 0xFFFF ? static_cast<char16_t>(value) : kReplacement);
}

// The value of a four-byte sequence, as a surrogate pair when it is a supplementary
// code point (anything else there is malformed).
void AppendSupplementary(std::u16string& out, std::int64_t value) {
  if (value < 0x10000 || value > 0x10FFFF) {
    out.push_back(kReplacement);
    return;
  }
  value -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
}

// Value of a continuation byte, unvalidated: bytes outside 80..BF give values
// outside 0..63, as the tolerant decoding intends.
std::int64_t Continuation(std::string_view bytes, std::size_t i) { return std::int64_t(ByteAt(bytes, i)) - 128; }

bool IsBlank(char16_t c) { return c == u' '; }

// Replaces every `from` by `to`, scanning from the start; built in one pass so
// that long texts full of matches stay linear.
std::u16string ReplaceAll(std::u16string_view text, std::u16string_view from, std::u16string_view to) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t done = 0;
  for (std::size_t at = text.find(from); at != std::u16string_view::npos; at = text.find(from, done)) {
    out.append(text.substr(done, at - done)).append(to);
    done = at + from.size();
  }
  return out.append(text.substr(done));
}

bool IsWholeNonNegative(std::u16string_view text) {
  const auto value = NumberValue(text);
  return value && *value >= 0 && std::floor(*value) == *value;
}

bool IsTimestamp(std::u16string_view inner) {
  const auto colon = inner.find(u':');
  if (colon == std::u16string_view::npos) return false;
  return IsWholeNonNegative(inner.substr(0, colon)) && IsWholeNonNegative(inner.substr(colon + 1));
}

}  // namespace

double BytesToNumber(std::string_view bytes, bool synchsafe) {
  const double base = synchsafe ? 128.0 : 256.0;
  double result = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) result = result * base + ByteAt(bytes, i);
  return result;
}

std::optional<std::int32_t> BytesToLong(std::string_view bytes) {
  if (bytes.size() > 4) return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) value = (value << 8) | ByteAt(bytes, i);
  // Only a four-byte field reaches bit 31, so this is its two's-complement reading.
  return static_cast<std::int32_t>(value);
}

void CopyBytes(std::string_view source, std::span<std::uint8_t> destination, std::size_t offset) {
  if (offset >= source.size()) return;
  const std::size_t count = std::min(destination.size(), source.size() - offset);
  for (std::size_t i = 0; i < count; ++i) destination[i] = ByteAt(source, offset + i);
}

std::string RemoveUnsync(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out.push_back(bytes[i]);
    if (ByteAt(bytes, i) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == '\0') ++i;
  }
  return out;
}

std::string SwapBytePairs(std::string_view bytes) {
  std::string out(bytes);
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  return out;
}

std::u16string DecodeUtf16WithBom(std::string_view bytes) {
  std::u16string out;
  Utf16Mode mode = Utf16Mode::Raw;
  std::size_t units = 0;  // where the current segment's characters start, after its mark
  for (;;) {
    const std::size_t mark = FindMark(bytes, units, mode);
    const std::size_t end = mark == std::string_view::npos ? bytes.size() : mark;
    AppendSegment(out, bytes.substr(units, end - units), mode);
    if (mark == std::string_view::npos) break;
    mode = ByteAt(bytes, mark) == 0xFF ? Utf16Mode::LittleEndian : Utf16Mode::BigEndian;
    units = mark + 2;
  }
  return out;
}

std::u16string DecodeUtf16BeOrUtf8(std::string_view bytes, int encoding) {
  std::u16string out;
  if (encoding == 2) AppendUtf16Le(out, SwapBytePairs(bytes));
  if (encoding == 3) out = DecodeUtf8(bytes);
  return out;
}

std::u16string DecodeUtf8(std::string_view bytes) {
  std::u16string out;
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t b = ByteAt(bytes, i);
    if (b <= 0xBF) {
      out.push_back(static_cast<char16_t>(b));
    } else if (b <= 0xDF) {
      if (n - i < 2) break;
      AppendCodeUnit(out, (b - 0xC0) * 64 + Continuation(bytes, i + 1));
      i += 1;
    } else if (b <= 0xEF || b >= 0xF8) {
      if (n - i < 3) break;
      AppendCodeUnit(out, (b - 0xE0) * 4096 + Continuation(bytes, i + 1) * 64 + Continuation(bytes, i + 2));
      i += 2;
    } else {
      if (n - i < 4) break;
      const std::int64_t value = (b - 0xF0) * 262144 + Continuation(bytes, i + 1) * 4096 +
                                 Continuation(bytes, i + 2) * 64 + Continuation(bytes, i + 3);
      AppendSupplementary(out, value);
      i += 3;
    }
  }
  return out;
}

std::u16string CutAtNul(std::u16string_view text) { return std::u16string(text.substr(0, text.find(u'\0'))); }
std::string CutAtNul(std::string_view bytes) { return std::string(bytes.substr(0, bytes.find('\0'))); }

std::u16string TextBeforeDash(std::u16string_view text) { return std::u16string(text.substr(0, text.find(u'-'))); }

bool IsAllDigits(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}
bool IsAllDigits(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<double> NumberValue(std::u16string_view text) {
  std::size_t i = 0, end = text.size();
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  bool negative = false;
  if (i < end && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  double value = 0, scale = 0;
  bool digits = false;
  for (; i < end; ++i) {
    const char16_t c = text[i];
    if (c == u'.' && scale == 0) {
      scale = 1;
    } else if (c >= u'0' && c <= u'9') {
      digits = true;
      if (scale > 0) scale /= 10;
      value = scale > 0 ? value + (c - u'0') * scale : value * 10 + (c - u'0');
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;
  return negative ? -value : value;
}

std::optional<double> NumberValue(std::string_view bytes) {
  std::u16string text;
  AppendSingleBytes(text, bytes);
  return NumberValue(std::u16string_view(text));
}

std::u16string NumericOrZero(std::u16string_view text) {
  if (text.empty() || NumberValue(text)) return std::u16string(text);
  return u"0";
}

std::u16string UnescapeLyricsLineBreaks(std::u16string_view text) {
  const std::u16string crlf = ReplaceAll(text, u"[CR][LF]", u"\r\n");
  return ReplaceAll(ReplaceAll(crlf, u"[CR]", u"\r"), u"[LF]", u"\n");
}

// One pass over the text. A "[" whose bracket holds another "[" is no time stamp
// (no number holds one), so only the last "[" before each "]" is examined, and
// the "]" found is kept for the "[" that follow: long texts stay linear.
std::u16string StripLyricsTimestamps(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t done = 0, close = 0;
  for (;;) {
    const std::size_t open = text.find(u'[', done);
    if (open == std::u16string_view::npos) break;
    if (close <= open) close = text.find(u']', open + 1);
    if (close == std::u16string_view::npos) break;
    const std::size_t next_open = text.find(u'[', open + 1);
    if (next_open < close) {
      out.append(text.substr(done, next_open - done));
      done = next_open;
    } else if (IsTimestamp(text.substr(open + 1, close - open - 1))) {
      out.append(text.substr(done, open - done));
      done = close + 1;
    } else {
      out.append(text.substr(done, open + 1 - done));
      done = open + 1;
    }
  }
  return out.append(text.substr(done));
}

}  // namespace pellora::tags
