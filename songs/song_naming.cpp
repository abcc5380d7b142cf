// SPDX-License-Identifier: MIT
#include "songs/song_naming.h"

#include <algorithm>

#include "text/text.h"

namespace pellora::songs {
namespace {

constexpr std::string_view kPlaceholders[] = {"{artist}", "{title}", "{station}", "{n}", "{date}", "{time}"};

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Lower case for matching: ASCII, and the Latin-1 and Latin Extended-A capitals
// of 16-bit text.
std::u16string Folded(std::string_view utf8) {
  std::u16string text = text::Utf8ToUtf16(utf8);
  for (char16_t& c : text) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = char16_t(c + 0x20);
    else if (c >= 0x100 && c <= 0x17F && c % 2 == 0) c = char16_t(c + 1);
  }
  return text;
}

}  // namespace

SongTitle SplitStreamTitle(std::string_view stream_title) {
  const auto separator = stream_title.find(" - ");
  if (separator == std::string_view::npos) return {"", std::string(Trim(stream_title))};
  return {std::string(Trim(stream_title.substr(0, separator))), std::string(Trim(stream_title.substr(separator + 3)))};
}

std::string ExpandNameTemplate(std::string_view name_template, const NameFields& fields) {
  std::string out;
  for (std::size_t i = 0; i < name_template.size();) {
    const std::string_view rest = name_template.substr(i);
    const auto field = [&](std::string_view name, const std::string& value) {
      if (!rest.starts_with(name)) return false;
      out += value;
      i += name.size();
      return true;
    };
    if (field("{artist}", fields.artist) || field("{title}", fields.title) || field("{station}", fields.station) ||
        field("{n}", std::to_string(fields.number)) || field("{date}", fields.date) || field("{time}", fields.time))
      continue;
    out += name_template[i++];
  }
  if (fields.artist.empty() && name_template.starts_with("{artist} - ") && out.starts_with(" - ")) out.erase(0, 3);
  if (fields.title.empty() && name_template.ends_with(" - {title}") && out.ends_with(" - ")) out.resize(out.size() - 3);
  return out;
}

std::string NameTemplateProblem(std::string_view name_template) {
  if (Trim(name_template).empty()) return "must not be empty";
  for (std::size_t open = name_template.find('{'); open != std::string_view::npos;
       open = name_template.find('{', open + 1)) {
    const auto close = name_template.find('}', open);
    if (close == std::string_view::npos) break;
    const std::string_view name = name_template.substr(open, close - open + 1);
    if (std::find(std::begin(kPlaceholders), std::end(kPlaceholders), name) != std::end(kPlaceholders)) continue;
    std::string known;
    for (const std::string_view placeholder : kPlaceholders)
      known += (known.empty() ? "" : " ") + std::string(placeholder);
    return "has an unknown placeholder " + std::string(name) + " (known: " + known + ")";
  }
  return {};
}

// Both sides are folded to 16-bit lower case and matched code unit by code unit,
// so that '?' stands for one character, not one byte.
bool MatchesPattern(std::string_view pattern, std::string_view text) {
  const std::u16string p = Folded(pattern), t = Folded(text);
  const std::wstring wp(p.begin(), p.end()), wt(t.begin(), t.end());
  std::size_t pi = 0, ti = 0, star_p = std::wstring::npos, star_t = 0;
  const auto class_matches = [&](std::size_t& at, wchar_t c) {
    // at points after '['; returns whether c is in the class and moves past ']'.
    bool negate = at < wp.size() && (wp[at] == L'!' || wp[at] == L'^');
    if (negate) ++at;
    bool found = false, first = true;
    while (at < wp.size() && (first || wp[at] != L']')) {
      first = false;
      wchar_t lo = wp[at++];
      wchar_t hi = lo;
      if (at + 1 < wp.size() && wp[at] == L'-' && wp[at + 1] != L']') {
        hi = wp[at + 1];
        at += 2;
      }
      found |= c >= lo && c <= hi;
    }
    if (at < wp.size()) ++at;  // the ']'
    return found != negate;
  };
  while (ti < wt.size()) {
    if (pi < wp.size() && wp[pi] == L'*') {
      star_p = ++pi;
      star_t = ti;
      continue;
    }
    if (pi < wp.size()) {
      std::size_t next = pi + 1;
      bool ok = false;
      if (wp[pi] == L'?') ok = true;
      else if (wp[pi] == L'[' && wp.find(L']', pi + 2) != std::wstring::npos) ok = class_matches(next, wt[ti]);
      else ok = wp[pi] == wt[ti];
      if (ok) {
        pi = next;
        ++ti;
        continue;
      }
    }
    if (star_p == std::wstring::npos) return false;
    pi = star_p;
    ti = ++star_t;
  }
  while (pi < wp.size() && wp[pi] == L'*') ++pi;
  return pi == wp.size();
}

bool WantSong(std::string_view stream_title, const std::vector<std::string>& only,
              const std::vector<std::string>& skip) {
  const SongTitle names = SplitStreamTitle(stream_title);
  if (names.artist.empty() && names.title.empty()) return false;
  const auto matches = [&](const std::string& pattern) { return MatchesPattern(pattern, stream_title); };
  if (std::any_of(skip.begin(), skip.end(), matches)) return false;
  return only.empty() || std::any_of(only.begin(), only.end(), matches);
}

}  // namespace pellora::songs
