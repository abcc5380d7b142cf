// SPDX-License-Identifier: MIT
#pragma once
// Splitting a stream URL into the host, port and path a connection needs.
//
// Accepted: "[http://|https://]host[:port][/path[?query]]", the scheme in any
// case, the host a name, an IPv4 address or a bracketed IPv6 literal ("[::1]").
// Without a port, 80 (443 for https). The path runs from the first "/" after the host to the end (query
// included); without one, "/".
// Refused, with a reason: another scheme, an empty host, a port that is not a
// number from 1 to 65535, user names ("user@host"), and any blank or control
// character (which could otherwise end a request line early).
#include <cstdint>
#include <string>
#include <string_view>

namespace pellora::capture {

struct StreamUrl {
  std::string host;       // without brackets for an IPv6 literal
  std::uint16_t port = 0;
  std::string path;
  bool tls = false;       // https: TLS over the connection
  std::string problem;    // empty when the URL is usable
  bool Usable() const { return problem.empty(); }
};

StreamUrl SplitStreamUrl(std::string_view url);

// `reference` (a Location field, a playlist entry) resolved against `base`, the
// URL it came from, as RFC 3986 section 5.2 says: "/icy", "icy", "../icy",
// "?q", "//host:port/icy" and absolute URLs; dot segments are removed. `base`
// is a stream URL as Torvane::Connect takes it: without a scheme, it is http.
std::string ResolveUrlReference(std::string_view base, std::string_view reference);

// `host` as it appears in a Host header: IPv6 literals in brackets.
std::string HostForHeader(const std::string& host);

}  // namespace pellora::capture
