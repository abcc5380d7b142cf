#include "text/text.h"

#include <cstdint>

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

std::string StreamTextToUtf8(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : Latin1ToUtf8(bytes);
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char b : bytes) AppendUtf8(out, static_cast<std::uint8_t>(b));
  return out;
}

namespace {

bool IsBidiControl(char32_t cp) { return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069); }

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
    if ((cp >= 0x80 && cp <= 0x9F) || IsBidiControl(cp)) {
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

}  // namespace pellora::text
