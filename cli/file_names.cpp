// SPDX-License-Identifier: MIT
#include "cli/file_names.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "text/text.h"

namespace pellora::cli {
namespace {

constexpr std::size_t kMaxNameBytes = 100;

bool IsForbidden(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::string_view("/\\:*?\"<>|").find(char(c)) != std::string_view::npos;
}

std::string Trim(std::string name) {
  const auto keep = [](char c) { return c != ' ' && c != '.' && c != '_'; };
  const auto first = std::find_if(name.begin(), name.end(), keep);
  const auto last = std::find_if(name.rbegin(), name.rend(), keep).base();
  return first < last ? std::string(first, last) : std::string();
}

// Cuts at most kMaxNameBytes without splitting a UTF-8 sequence.
std::string Shorten(std::string name) {
  if (name.size() <= kMaxNameBytes) return name;
  std::size_t end = kMaxNameBytes;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

std::string Clean(std::string_view raw) {
  std::string name = text::StreamTextToUtf8(raw);
  for (char& c : name)
    if (IsForbidden(static_cast<unsigned char>(c))) c = '_';
  return Trim(Shorten(Trim(std::move(name))));
}

std::string HostAndPort(std::string_view url) {
  std::string_view rest = url;
  if (const auto scheme = rest.find("://"); scheme != std::string_view::npos) rest.remove_prefix(scheme + 3);
  rest = rest.substr(0, rest.find('/'));
  std::string name(rest);
  std::replace(name.begin(), name.end(), ':', '_');
  return name;
}


}  // namespace

std::string SafeFileName(std::string_view station_name, std::string_view url) {
  if (std::string name = Clean(station_name); !name.empty()) return name;
  if (std::string name = Clean(HostAndPort(url)); !name.empty()) return name;
  return "stream";
}

std::string FileNameOfUrl(std::string_view url) {
  std::string_view path = url.substr(0, url.find_first_of("?#"));
  if (const auto scheme = path.find("://"); scheme != std::string_view::npos) path.remove_prefix(scheme + 3);
  const auto slash = path.rfind('/');
  const std::string_view segment = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  if (std::string name = Clean(text::PercentDecode(segment).value_or(std::string(segment))); !name.empty())
    return name;
  if (std::string name = Clean(HostAndPort(url)); !name.empty()) return name;
  return "download";
}

void MakeOrdinaryFile(const std::string& path) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(path.c_str(), 0666 & ~mask);
}

std::string ExtensionForContentType(std::string_view content_type) {
  const std::string type = text::AsciiLower(content_type);
  if (type.find("aac") != std::string::npos) return ".aac";
  if (type.find("ogg") != std::string::npos) return ".ogg";
  return ".mp3";
}

}  // namespace pellora::cli
