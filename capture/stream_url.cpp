// SPDX-License-Identifier: MIT
#include "capture/stream_url.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace pellora::capture {
namespace {

bool HasBlankOrControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7f;
  });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char lower, char c) {
           return std::tolower(static_cast<unsigned char>(c)) == lower;
         });
}

// Parses "1".."65535" written in decimal digits only.
bool ParsePort(std::string_view text, std::uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

StreamUrl Refuse(std::string problem) {
  StreamUrl result;
  result.problem = "Invalid stream URL: " + std::move(problem);
  return result;
}

// ALPHA *( ALPHA / DIGIT / "+" / "-" / "." )
bool IsScheme(std::string_view text) {
  const auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
  return !text.empty() && letter(text.front()) && std::all_of(text.begin(), text.end(), [&](char c) {
           return letter(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
         });
}

// The five parts of a URI reference (RFC 3986 appendix B); a part that is
// absent differs from one that is empty.
struct UriParts {
  std::optional<std::string_view> scheme, authority, query, fragment;
  std::string_view path;
};

UriParts SplitUriReference(std::string_view text) {
  UriParts parts;
  if (const auto end = text.find_first_of(":/?#"); end != std::string_view::npos && text[end] == ':' &&
                                                     IsScheme(text.substr(0, end))) {
    parts.scheme = text.substr(0, end);
    text.remove_prefix(end + 1);
  }
  if (text.starts_with("//")) {
    const auto end = text.find_first_of("/?#", 2);
    parts.authority = text.substr(2, end == std::string_view::npos ? end : end - 2);
    text.remove_prefix(std::min(end, text.size()));
  }
  if (const auto hash = text.find('#'); hash != std::string_view::npos) {
    parts.fragment = text.substr(hash + 1);
    text = text.substr(0, hash);
  }
  if (const auto mark = text.find('?'); mark != std::string_view::npos) {
    parts.query = text.substr(mark + 1);
    text = text.substr(0, mark);
  }
  parts.path = text;
  return parts;
}

// RFC 3986 section 5.2.4: "/a/b/../c/./d" -> "/a/c/d".
std::string RemoveDotSegments(std::string_view input) {
  std::string output;
  const auto drop_last_segment = [&output] {
    const auto slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
  };
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.remove_prefix(3);
    } else if (input.starts_with("./")) {
      input.remove_prefix(2);
    } else if (input.starts_with("/./")) {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../")) {
      input.remove_prefix(3);
      drop_last_segment();
    } else if (input == "/..") {
      input = "/";
      drop_last_segment();
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const auto end = input.find('/', 1);
      output += input.substr(0, end);
      input.remove_prefix(std::min(end, input.size()));
    }
  }
  return output;
}

}  // namespace

std::string ResolveUrlReference(std::string_view base, std::string_view reference) {
  const std::string base_url = base.find("://") == std::string_view::npos ? "http://" + std::string(base)
                                                                           : std::string(base);
  const UriParts r = SplitUriReference(reference);
  const UriParts b = SplitUriReference(base_url);
  if (r.scheme || !b.scheme) return std::string(reference);
  std::string path;
  std::optional<std::string_view> authority = b.authority, query = r.query;
  if (r.authority) {
    authority = r.authority;
    path = RemoveDotSegments(r.path);
  } else if (r.path.empty()) {
    path = b.path;
    if (!query) query = b.query;
  } else if (r.path.starts_with('/')) {
    path = RemoveDotSegments(r.path);
  } else {
    const std::string merged = b.authority && b.path.empty()
                                   ? "/" + std::string(r.path)
                                   : std::string(b.path.substr(0, b.path.rfind('/') + 1)) + std::string(r.path);
    path = RemoveDotSegments(merged);
  }
  std::string out = std::string(*b.scheme) + ":";
  if (authority) out += "//" + std::string(*authority);
  out += path;
  if (query) out += "?" + std::string(*query);
  if (r.fragment) out += "#" + std::string(*r.fragment);
  return out;
}

StreamUrl SplitStreamUrl(std::string_view url) {
  if (HasBlankOrControl(url)) return Refuse("it contains a blank or a control character");
  std::string_view rest = url;
  bool tls = false;
  if (StartsWithNoCase(rest, "http://")) {
    rest.remove_prefix(7);
  } else if (StartsWithNoCase(rest, "https://")) {
    rest.remove_prefix(8);
    tls = true;
  } else if (const auto scheme_end = rest.find("://"); scheme_end != std::string_view::npos) {
    return Refuse("the scheme \"" + std::string(rest.substr(0, scheme_end)) + "\" is not http or https");
  }
  const std::size_t slash = rest.find('/');
  const std::string_view authority = rest.substr(0, slash);
  StreamUrl result;
  result.path = slash == std::string_view::npos ? "/" : std::string(rest.substr(slash));
  if (authority.find('@') != std::string_view::npos) return Refuse("user names are not supported");

  std::string_view host = authority, port_text;
  bool has_port = false;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return Refuse("the IPv6 address has no closing \"]\"");
    host = authority.substr(1, close - 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') return Refuse("unexpected text after the IPv6 address");
    has_port = !after.empty();
    if (has_port) port_text = after.substr(1);
  } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port_text = authority.substr(colon + 1);
    has_port = true;
  }
  if (host.empty()) return Refuse("it names no host");
  result.tls = tls;
  result.port = tls ? 443 : 80;
  if (has_port && !ParsePort(port_text, result.port))
    return Refuse("the port \"" + std::string(port_text) + "\" is not a number from 1 to 65535");
  result.host = std::string(host);
  return result;
}

std::string HostForHeader(const std::string& host) {
  return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

}  // namespace pellora::capture
