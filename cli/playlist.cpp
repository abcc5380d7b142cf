// SPDX-License-Identifier: MIT
#include "cli/playlist.h"

#include "cli/stream_answer.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "capture/stream_url.h"
#include "text/text.h"

namespace pellora::cli {
using text::AsciiLower;

namespace {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n\v\f");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n\v\f") - first + 1);
}

// The lines of `text` (CR LF, LF or CR), trimmed; lines too long are dropped.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find_first_of("\r\n");
    const std::string_view line = text.substr(0, end);
    if (line.size() <= kMaxPlaylistLine) lines.push_back(Trim(line));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == prefix;
}

std::string_view SchemeOf(std::string_view url) {
  const auto colon = url.find("://");
  return colon == std::string_view::npos ? std::string_view() : url.substr(0, colon);
}

// `entry` made absolute against `base`; empty when it cannot be recorded.
std::string Resolve(std::string_view entry, std::string_view base) {
  entry = Trim(entry);
  const auto unusable = [](unsigned char c) { return c <= ' ' || c >= 0x7F; };  // blanks, controls, non-ASCII
  if (entry.empty() || std::any_of(entry.begin(), entry.end(), unusable)) return {};
  std::string url = capture::ResolveUrlReference(base, entry);
  const std::string scheme = AsciiLower(SchemeOf(url));
  return scheme == "http" || scheme == "https" ? url : std::string();
}

std::string DecodeXml(std::string_view text) {
  static const std::map<std::string, std::string, std::less<>> kNamed = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto semicolon = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
    if (semicolon == std::string_view::npos || semicolon - i > 10) {
      out.push_back(text[i]);
      continue;
    }
    const std::string_view name = text.substr(i + 1, semicolon - i - 1);
    if (const auto named = kNamed.find(name); named != kNamed.end()) {
      out += named->second;
    } else if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      const unsigned long code = std::strtoul(std::string(name.substr(hex ? 2 : 1)).c_str(), nullptr, hex ? 16 : 10);
      if (code == 0 || code > 0x7F) {  // URLs are ASCII; anything else is not a usable entry
        out.push_back('\x01');
      } else {
        out.push_back(char(code));
      }
    } else {
      out.push_back(text[i]);
      continue;
    }
    i = semicolon;
  }
  return out;
}

class EntryList {
 public:
  explicit EntryList(std::string_view base) : base_(base) {}
  void Add(std::string_view entry) {
    if (entries_.size() >= kMaxPlaylistEntries) return;
    if (std::string url = Resolve(entry, base_); !url.empty()) entries_.push_back(std::move(url));
  }
  Playlist Done() && { return {Playlist::Kind::Entries, std::move(entries_)}; }

 private:
  std::string_view base_;
  std::vector<std::string> entries_;
};

// [playlist] File1=... File2=...: entries in the order of their numbers.
Playlist ParsePls(const std::vector<std::string_view>& lines, std::string_view base) {
  std::map<long, std::string_view> files;
  for (const auto line : lines) {
    if (!StartsWithIgnoringCase(line, "file")) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string number(Trim(line.substr(4, equals - 4)));
    if (number.empty() || number.size() > 6 || !std::all_of(number.begin(), number.end(), ::isdigit)) continue;
    files.emplace(std::stol(number), Trim(line.substr(equals + 1)));
  }
  EntryList entries(base);
  for (const auto& [number, url] : files) entries.Add(url);
  return std::move(entries).Done();
}

bool IsHlsTag(std::string_view line) {
  return StartsWithIgnoringCase(line, "#ext-x-targetduration") || StartsWithIgnoringCase(line, "#ext-x-stream-inf") ||
         StartsWithIgnoringCase(line, "#ext-x-media-sequence");
}

// One URL a line; lines starting with '#' are comments or extended info.
Playlist ParseM3u(const std::vector<std::string_view>& lines, std::string_view base) {
  if (std::any_of(lines.begin(), lines.end(), IsHlsTag)) return {Playlist::Kind::Hls, {}};
  EntryList entries(base);
  for (const auto line : lines)
    if (!line.empty() && line.front() != '#') entries.Add(line);
  return std::move(entries).Done();
}

// The text between every <open ...> and </close> (XSPF's <location>), or the
// value of attribute `attribute` of every <open ...> (ASX's <ref href="...">).
Playlist ParseXml(std::string_view text, std::string_view element, std::string_view attribute,
                  std::string_view base) {
  const std::string lower = AsciiLower(text);
  const std::string open = "<" + std::string(element);
  EntryList entries(base);
  for (std::size_t at = lower.find(open); at != std::string::npos; at = lower.find(open, at + 1)) {
    const std::size_t tag_end = lower.find('>', at);
    if (tag_end == std::string::npos) break;
    const char after = lower[at + open.size()];
    if (after != '>' && after != '/' && !std::isspace(static_cast<unsigned char>(after))) continue;
    if (attribute.empty()) {
      const std::size_t close = lower.find("</" + std::string(element), tag_end);
      if (close == std::string::npos || close - tag_end > kMaxPlaylistLine) continue;
      entries.Add(DecodeXml(text.substr(tag_end + 1, close - tag_end - 1)));
      continue;
    }
    const std::string_view tag = std::string_view(lower).substr(at, tag_end - at);
    const auto name = tag.find(std::string(attribute) + "=");
    if (name == std::string_view::npos) continue;
    const std::size_t quote_at = at + name + attribute.size() + 1;
    const char quote = text[quote_at];
    if (quote != '"' && quote != '\'') continue;
    const std::size_t value_end = text.find(quote, quote_at + 1);
    if (value_end == std::string_view::npos || value_end > tag_end) continue;
    entries.Add(DecodeXml(text.substr(quote_at + 1, value_end - quote_at - 1)));
  }
  return std::move(entries).Done();
}

// Made only of the characters a URL may hold (RFC 3986), so no prose or markup.
bool IsUrlText(std::string_view line) {
  constexpr std::string_view kMarks = "-._~:/?#[]@!$&'()*+,;=%";
  return std::all_of(line.begin(), line.end(), [&](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || kMarks.find(c) != std::string_view::npos;
  });
}

// A plain list of URLs without "#EXTM3U" is an M3U too, its lines absolute http(s)
// URLs or relative ones ("icy?mi=16000"); anything else with a line that is no
// URL and no comment is not a playlist.
bool LooksLikeUrlList(const std::vector<std::string_view>& lines) {
  bool any = false;
  for (const auto line : lines) {
    if (line.empty() || line.front() == '#') continue;
    const std::string scheme = AsciiLower(SchemeOf(line));
    const auto first_mark = line.find_first_of(":/?#");
    const bool relative = first_mark == std::string_view::npos || line[first_mark] != ':';  // not "mms:x"
    if (scheme != "http" && scheme != "https" && !(relative && IsUrlText(line))) return false;
    any = true;
  }
  return any;
}

}  // namespace

Playlist ParsePlaylist(std::string_view text, std::string_view base_url) {
  text = text.substr(0, kMaxPlaylistBytes);
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::string_view start = Trim(text.substr(0, 512));
  const std::vector<std::string_view> lines = Lines(text);
  if (StartsWithIgnoringCase(start, "[playlist]")) return ParsePls(lines, base_url);
  if (StartsWithIgnoringCase(start, "#extm3u") || LooksLikeUrlList(lines)) return ParseM3u(lines, base_url);
  const std::string head = AsciiLower(start);
  if (head.starts_with("<asx") || head.find("<asx") != std::string::npos) return ParseXml(text, "ref", "href", base_url);
  if (head.starts_with("<?xml") && head.find("xspf") != std::string::npos) return ParseXml(text, "location", "", base_url);
  if (head.starts_with("<playlist")) return ParseXml(text, "location", "", base_url);
  return {};
}

}  // namespace pellora::cli
