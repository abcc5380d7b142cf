// SPDX-License-Identifier: MIT
#include "service/http_api.h"

#include <boost/asio/ip/address.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/version.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include <nlohmann/json.hpp>

#include "service/service.h"
#include "text/text.h"

namespace pellora::service {
namespace {

namespace fs = std::filesystem;
using http::field;
using http::status;

constexpr int kDefaultPage = 20;
constexpr int kLargestPage = 200;

std::string Encode(std::string_view text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

struct Target {
  std::string path;  // still encoded
  std::map<std::string, std::string> query;
};

Target SplitTarget(std::string_view target) {
  Target out;
  const auto question = target.find('?');
  out.path = std::string(target.substr(0, question));
  if (question == std::string_view::npos) return out;
  std::string_view rest = target.substr(question + 1);
  while (!rest.empty()) {
    const auto amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    const auto equals = pair.find('=');
    const auto key = text::PercentDecode(pair.substr(0, equals), true);
    const auto value = text::PercentDecode(equals == std::string_view::npos ? "" : pair.substr(equals + 1), true);
    if (key && value) out.query[*key] = *value;
    rest = amp == std::string_view::npos ? std::string_view{} : rest.substr(amp + 1);
  }
  return out;
}

// Path segments after `prefix`, each decoded; nullopt when one cannot be.
std::optional<std::vector<std::string>> Segments(std::string_view path, std::string_view prefix) {
  path.remove_prefix(prefix.size());
  std::vector<std::string> out;
  while (true) {
    const auto slash = path.find('/');
    auto segment = text::PercentDecode(path.substr(0, slash));
    if (!segment) return std::nullopt;
    out.push_back(std::move(*segment));
    if (slash == std::string_view::npos) return out;
    path.remove_prefix(slash + 1);
  }
}

TextResponse Text(status code, std::string body, const char* type = "text/plain; charset=utf-8") {
  TextResponse response(code, 11);
  response.set(field::server, "pellora");
  response.set(field::content_type, type);
  response.set(field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.body() = std::move(body);
  return response;
}

TextResponse Json(status code, const std::string& body) { return Text(code, body, "application/json"); }

TextResponse JsonError(status code, const std::string& why) {
  return Json(code, nlohmann::json{{"error", why}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

bool SameText(std::string_view a, std::string_view b) {
  // Compared in full whatever the first difference, so that timing tells nothing.
  unsigned diff = unsigned(a.size() != b.size());
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i)
    diff |= unsigned(i < a.size() ? a[i] : 0) ^ unsigned(i < b.size() ? b[i] : 0);
  return diff == 0;
}

std::string CookieToken(std::string_view cookies) {
  constexpr std::string_view kName = "pellora_token=";
  while (!cookies.empty()) {
    const auto semicolon = cookies.find(';');
    std::string_view item = cookies.substr(0, semicolon);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    if (item.substr(0, kName.size()) == kName) return std::string(item.substr(kName.size()));
    cookies = semicolon == std::string_view::npos ? std::string_view{} : cookies.substr(semicolon + 1);
  }
  return {};
}

// "localhost", or a loopback address as such ("127.0.0.1", "[::1]"), with or
// without a port. A name merely starting with "127." may be anyone's
// ("127.0.0.1.rebound.example").
bool IsLoopbackHost(std::string_view host) {
  if (host.empty()) return true;  // HTTP/1.0 without Host
  std::string_view name;
  if (host.front() == '[') {
    const auto close = host.find(']');
    if (close == std::string_view::npos || (close + 1 < host.size() && host[close + 1] != ':')) return false;
    name = host.substr(1, close - 1);
  } else {
    name = host.substr(0, host.find(':'));
  }
  if (text::AsciiLower(name) == "localhost") return true;
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(std::string(name), ec);
  return !ec && address.is_loopback();
}

// Where a request may be refused before any route: nullopt lets it through.
std::optional<TextResponse> CheckAccess(const Service& service, const Request& request, const Target& target,
                                        bool& set_cookie) {
  const std::string host(request[field::host]);
  if (request.method() == http::verb::post) {
    const std::string origin(request[field::origin]);
    if (!origin.empty() && origin != "http://" + host && origin != "https://" + host)
      return JsonError(status::forbidden, "requests from another site's page are refused");
  }
  const std::string& token = service.token();
  if (token.empty()) {
    if (!IsLoopbackHost(host)) return JsonError(status::forbidden, "this host name is not answered");
    return std::nullopt;
  }
  const std::string_view authorization = request[field::authorization];
  // The scheme's name is compared without regard to case (RFC 9110 11.1).
  if (text::AsciiLower(authorization.substr(0, 7)) == "bearer " && SameText(authorization.substr(7), token))
    return std::nullopt;
  if (SameText(CookieToken(request[field::cookie]), token)) return std::nullopt;
  if (const auto it = target.query.find("token"); it != target.query.end() && SameText(it->second, token)) {
    set_cookie = true;
    return std::nullopt;
  }
  auto refused = JsonError(status::unauthorized, "a token is required");
  refused.set(field::www_authenticate, "Bearer");
  return refused;
}

int Number(const std::map<std::string, std::string>& query, const char* key, int fallback, int largest) {
  const auto it = query.find(key);
  if (it == query.end() || it->second.empty() || it->second.size() > 9 ||
      it->second.find_first_not_of("0123456789") != std::string::npos)
    return fallback;
  return std::min(std::stoi(it->second), largest);
}

// The URL of a saved file, when it lies in its station's folder.
std::string FileUrl(Service& service, const SavedEntry& entry) {
  const StationRuntime* station = service.Find(entry.station);
  if (!station) return {};
  const fs::path relative = fs::path(entry.path).lexically_relative(station->config().folder);
  if (relative.empty() || *relative.begin() == "..") return {};
  std::string url = "/files/" + Encode(entry.station);
  for (const auto& part : relative) url += "/" + Encode(part.string());
  return url;
}

nlohmann::json SavedView(Service& service, const SavedEntry& entry) {
  nlohmann::json view = {{"id", entry.id},
                         {"kind", entry.kind == SavedKind::kSong ? "song" : "recording"},
                         {"station", entry.station},
                         {"title", entry.title},
                         {"file", fs::path(entry.path).filename().string()},
                         {"started", entry.started},
                         {"ended", entry.ended},
                         {"bytes", entry.bytes},
                         {"url", FileUrl(service, entry)}};
  if (entry.kind == SavedKind::kSong) {
    view["artist"] = entry.artist;
    view["seconds"] = entry.seconds;
    view["complete"] = entry.complete;
  }
  return view;
}

Reply Songs(Service& service, const Target& target) {
  const auto station = target.query.count("station") ? target.query.at("station") : std::string();
  const int limit = Number(target.query, "limit", kDefaultPage, kLargestPage);
  const int offset = Number(target.query, "offset", 0, 1 << 30);
  nlohmann::json songs = nlohmann::json::array();
  for (const auto& entry : service.history().Recent(station, limit, offset))
    songs.push_back(SavedView(service, entry));
  const nlohmann::json page = {{"total", service.history().Count(station)}, {"offset", offset}, {"songs", songs}};
  return Json(status::ok, page.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

// A file of a station's folder; whatever resolves (through "..", links or an
// absolute segment) outside that folder is refused, whether it exists or not.
Reply File(Service& service, const Request& request, const std::vector<std::string>& segments) {
  if (segments.size() < 2) return JsonError(status::not_found, "no such file");
  const StationRuntime* station = service.Find(segments[0]);
  if (!station) return JsonError(status::not_found, "no such station");
  std::error_code ec;
  const fs::path folder = fs::weakly_canonical(station->config().folder, ec);
  if (ec) return JsonError(status::not_found, "no such file");
  fs::path wanted = folder;
  for (std::size_t i = 1; i < segments.size(); ++i) wanted /= segments[i];
  const fs::path real = fs::weakly_canonical(wanted, ec);
  const auto [end, _] = std::mismatch(folder.begin(), folder.end(), real.begin(), real.end());
  if (ec || end != folder.end() || real == folder) return JsonError(status::forbidden, "outside the recordings");
  if (!fs::is_regular_file(real, ec)) return JsonError(status::not_found, "no such file");
  FileRangeBody::value_type body;
  boost::beast::error_code open_error;
  body.file.open(real.c_str(), boost::beast::file_mode::scan, open_error);
  const std::uint64_t length = open_error ? 0 : body.file.size(open_error);
  if (open_error) return JsonError(status::not_found, "no such file");
  // A player that seeks asks for the part it needs.
  const auto range = ParseByteRange(request[field::range], length);
  if (range && !range->satisfiable) {
    auto refused = Text(status::range_not_satisfiable, "");
    refused.set(field::content_range, "bytes */" + std::to_string(length));
    return refused;
  }
  body.first = range ? range->first : 0;
  body.size = range ? range->last - range->first + 1 : length;
  FileResponse response(range ? status::partial_content : status::ok, 11);
  response.body() = std::move(body);
  if (range)
    response.set(field::content_range, "bytes " + std::to_string(range->first) + "-" + std::to_string(range->last) +
                                           "/" + std::to_string(length));
  response.set(field::accept_ranges, "bytes");
  response.set(field::server, "pellora");
  const std::string extension = real.extension().string();
  response.set(field::content_type, extension == ".aac"   ? "audio/aac"
                                    : extension == ".ogg" ? "audio/ogg"
                                    : extension == ".cue" ? "text/plain; charset=utf-8"
                                                          : "audio/mpeg");
  return response;
}

Reply StartOrStop(Service& service, const std::vector<std::string>& segments) {
  if (segments.size() != 2 || (segments[1] != "start" && segments[1] != "stop"))
    return JsonError(status::not_found, "no such route");
  StationRuntime* station = service.Find(segments[0]);
  if (!station) return JsonError(status::not_found, "no such station");
  if (segments[1] == "start") station->StartNow();
  else station->StopNow();
  return Json(status::ok, service.StationJson(*station));
}

Reply Route(Service& service, const Request& request, const Target& target) {
  const bool get = request.method() == http::verb::get;
  const bool post = request.method() == http::verb::post;
  const std::string& path = target.path;
  if (get && (path == "/" || path == "/index.html")) {
    auto page = Text(status::ok, std::string(DashboardPage()), "text/html; charset=utf-8");
    page.set("Content-Security-Policy",
             "default-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'; "
             "script-src 'self' 'unsafe-inline'");
    return page;
  }
  if (get && path == "/healthz") return Text(status::ok, "ok\n");
  if (get && path == "/metrics")
    return Text(status::ok, MetricsText(service), "text/plain; version=0.0.4; charset=utf-8");
  if (get && path == "/api/stations") return Json(status::ok, service.StationsJson());
  if (get && path == "/api/songs") return Songs(service, target);
  if (get && path == "/api/events") return EventStream{EventText("stations", service.StationsJson())};
  if (post && path == "/api/reload") {
    const std::string error = service.Reload();
    if (!error.empty()) return JsonError(status::bad_request, error);
    return Json(status::ok, service.StationsJson());
  }
  constexpr std::string_view kStations = "/api/stations/", kFiles = "/files/";
  if (post && path.rfind(kStations, 0) == 0) {
    const auto segments = Segments(path, kStations);
    if (!segments) return JsonError(status::bad_request, "bad escape in the path");
    return StartOrStop(service, *segments);
  }
  if (get && path.rfind(kFiles, 0) == 0) {
    const auto segments = Segments(path, kFiles);
    if (!segments) return JsonError(status::bad_request, "bad escape in the path");
    return File(service, request, *segments);
  }
  if (!get && !post) {
    auto refused = JsonError(status::method_not_allowed, "only GET, HEAD and POST");
    refused.set(field::allow, "GET, HEAD, POST");
    return refused;
  }
  return JsonError(status::not_found, "no such route");
}

}  // namespace

std::string SavedJson(Service& service, const SavedEntry& entry) {
  return SavedView(service, entry).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

HttpServer::Router MakeApi(Service& service) {
  return [&service](const Request& request) -> Reply {
    const Target target = SplitTarget(request.target());
    bool set_cookie = false;
    if (auto refused = CheckAccess(service, request, target, set_cookie)) return std::move(*refused);
    Reply reply = Route(service, request, target);
    if (set_cookie)
      if (auto* text = std::get_if<TextResponse>(&reply))
        text->set(field::set_cookie, "pellora_token=" + service.token() + "; HttpOnly; SameSite=Strict; Path=/");
    return reply;
  };
}

}  // namespace pellora::service
