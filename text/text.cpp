// SPDX-License-Identifier: MIT
#include "text/text.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <optional>

namespace pellora::text {
namespace {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Decodes one UTF-8 sequence at `pos`; returns its length, or 0 when malformed.
std::size_t DecodeUtf8At(std::string_view s, std::size_t pos, char32_t& cp) {
  const auto b0 = static_cast<std::uint8_t>(s[pos]);
  std::size_t len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<std::uint8_t>(s[pos + i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// Windows-1252 at 0x80-0x9F; the five bytes it leaves undefined keep their
// Latin-1 meaning, as browsers decode them.
constexpr std::array<char16_t, 32> kWindows1252High{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool HasC1Bytes(std::string_view bytes) {
  for (char b : bytes)
    if (static_cast<std::uint8_t>(b) >= 0x80 && static_cast<std::uint8_t>(b) <= 0x9F) return true;
  return false;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (char b : bytes) {
    const auto byte = static_cast<std::uint8_t>(b);
    AppendUtf8(out, byte >= 0x80 && byte <= 0x9F ? kWindows1252High[byte - 0x80] : char32_t(byte));
  }
  return out;
}

// Decodes through iconv; nothing when the charset is unknown.
std::optional<std::string> IconvToUtf8(std::string_view bytes, std::string_view charset) {
  const iconv_t cd = ::iconv_open("UTF-8", std::string(charset).c_str());
  if (cd == iconv_t(-1)) return std::nullopt;
  std::string out;
  std::string in(bytes);
  char* from = in.data();
  std::size_t from_left = in.size();
  std::array<char, 1024> buffer;
  while (from_left > 0) {
    char* to = buffer.data();
    std::size_t to_left = buffer.size();
    const std::size_t done = ::iconv(cd, &from, &from_left, &to, &to_left);
    out.append(buffer.data(), buffer.size() - to_left);
    if (done != std::size_t(-1) || errno == E2BIG) continue;
    out += "\xEF\xBF\xBD";  // a byte the charset cannot decode (or a cut sequence)
    ++from;
    --from_left;
  }
  ::iconv_close(cd);
  return out;
}

}  // namespace

std::u16string Latin1ToUtf16(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<std::uint8_t>(bytes[i]);
  return out;
}

std::string Utf16ToLatin1(std::u16string_view text) {
  std::string out(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    out[i] = text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
  return out;
}

bool IsLatin1(std::u16string_view text) {
  for (char16_t c : text)
    if (c > 0xFF) return false;
  return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string PathToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  char32_t cp;
  for (std::size_t i = 0; i < bytes.size();) {
    if (const std::size_t n = DecodeUtf8At(bytes, i, cp)) {
      AppendUtf16(out, cp);
      i += n;
    } else {
      out.push_back(static_cast<char16_t>(0xDC00 + static_cast<std::uint8_t>(bytes[i++])));
    }
  }
  return out;
}

std::string Utf16ToPath(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xDC80 && c <= 0xDCFF) {  // a pair's low half is taken with its high half
      out.push_back(static_cast<char>(c - 0xDC00));
      continue;
    }
    const std::size_t run = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() ? 2 : 1;
    out += Utf16ToUtf8(text.substr(i, run));
    i += run - 1;
  }
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  char32_t cp = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = DecodeUtf8At(bytes, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool IsMultiByteUtf8(std::string_view bytes) {
  bool multi = false;
  char32_t cp = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = DecodeUtf8At(bytes, i, cp);
    if (n == 0) return false;
    multi |= n > 1;
    i += n;
  }
  return multi;
}

std::u16string StreamTextToUtf16(std::string_view bytes) {
  if (!IsMultiByteUtf8(bytes)) return Latin1ToUtf16(bytes);
  std::u16string out;
  out.reserve(bytes.size());
  char32_t cp = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    i += DecodeUtf8At(bytes, i, cp);
    AppendUtf16(out, cp);
  }
  return out;
}

std::string StreamTextToUtf8(std::string_view bytes) { return TitleToUtf8(bytes); }

std::string TitleToUtf8(std::string_view bytes, std::string_view charset) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  if (!charset.empty())
    if (auto decoded = IconvToUtf8(bytes, charset)) return *decoded;
  return HasC1Bytes(bytes) ? Windows1252ToUtf8(bytes) : Latin1ToUtf8(bytes);
}

std::u16string TitleToUtf16(std::string_view bytes, std::string_view charset) {
  return Utf8ToUtf16(TitleToUtf8(bytes, charset));
}

bool IsKnownCharset(std::string_view charset) {
  const iconv_t cd = ::iconv_open("UTF-8", std::string(charset).c_str());
  if (cd == iconv_t(-1)) return false;
  ::iconv_close(cd);
  return true;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  char32_t cp;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = DecodeUtf8At(utf8, i, cp);
    AppendUtf16(out, n == 0 ? char32_t(0xFFFD) : cp);
    i += n == 0 ? 1 : n;
  }
  return out;
}

std::size_t Utf8CutLength(std::string_view bytes, std::size_t limit) {
  if (limit >= bytes.size()) return bytes.size();
  const auto continuation = [&](std::size_t i) { return (static_cast<std::uint8_t>(bytes[i]) & 0xC0) == 0x80; };
  if (!continuation(limit)) return limit;
  std::size_t lead = limit;
  while (lead > 0 && limit - lead < 3 && continuation(lead)) --lead;
  char32_t cp = 0;
  const std::size_t n = DecodeUtf8At(bytes, lead, cp);
  return n != 0 && lead + n > limit ? lead : limit;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char b : bytes) AppendUtf8(out, static_cast<std::uint8_t>(b));
  return out;
}

namespace {

bool IsBidiControl(char32_t cp) { return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069); }

// Characters beyond ASCII that act on a terminal: the C1 controls and the
// bidirectional overrides and isolates.
bool IsWideControl(char32_t cp) { return (cp >= 0x80 && cp <= 0x9F) || IsBidiControl(cp); }

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += prefix;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out.push_back(kHex[(value >> shift) & 0xF]);
}

}  // namespace

std::string EscapeForTerminal(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8At(utf8, pos, cp);
    if (len == 0 || cp < 0x20 || cp == 0x7F) {
      AppendHex(out, "\\x", static_cast<std::uint8_t>(utf8[pos]), 2);
      ++pos;
      continue;
    }
    if (IsWideControl(cp)) {
      AppendHex(out, "\\u", unsigned(cp), 4);
    } else if (cp == '\\') {
      out += "\\\\";
    } else {
      out.append(utf8.substr(pos, len));
    }
    pos += len;
  }
  return out;
}

std::string EscapeForJson(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8At(bytes, pos, cp);
    if (len == 0) {
      AppendHex(out, "\\udc", static_cast<std::uint8_t>(bytes[pos]), 2);
      ++pos;
      continue;
    }
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (cp < 0x20 || cp == 0x7F || IsWideControl(cp)) AppendHex(out, "\\u", unsigned(cp), 4);
        else out.append(bytes.substr(pos, len));
    }
    pos += len;
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

std::optional<std::string> PercentDecode(std::string_view text, bool plus_is_space) {
  const auto hex = [](char h) -> int {
    if (h >= '0' && h <= '9') return h - '0';
    if (h >= 'a' && h <= 'f') return h - 'a' + 10;
    if (h >= 'A' && h <= 'F') return h - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      const int high = i + 2 < text.size() ? hex(text[i + 1]) : -1;
      const int low = high >= 0 ? hex(text[i + 2]) : -1;
      if (low < 0) return std::nullopt;
      c = char(high * 16 + low);
      i += 2;
    } else if (c == '+' && plus_is_space) {
      c = ' ';
    }
    if (c == '\0') return std::nullopt;
    out += c;
  }
  return out;
}

}  // namespace pellora::text
