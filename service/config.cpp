// SPDX-License-Identifier: MIT
#include "service/config.h"

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include <boost/asio/ip/address.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "capture/stream_url.h"
#include "songs/song_naming.h"
#include "text/text.h"

namespace pellora::service {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxConfigBytes = 1 << 20;
constexpr std::size_t kMaxNameBytes = 100;

// A refusal: the line (0 when unknown) and the reason.
struct Refusal {
  std::uint32_t line = 0;
  std::string reason;
};

std::uint32_t LineOf(const toml::node& node) { return node.source().begin.line; }

std::string Absolute(const std::string& path, const std::string& base) {
  const fs::path p(path);
  return (p.is_absolute() ? p : fs::path(base) / p).lexically_normal().string();
}

class TableReader {
 public:
  TableReader(const toml::table& table, std::set<std::string> known) : table_(table), known_(std::move(known)) {}

  std::optional<Refusal> UnknownKey() const {
    for (const auto& [key, node] : table_)
      if (!known_.count(std::string(key.str())))
        return Refusal{LineOf(node), "unknown key \"" + std::string(key.str()) + "\""};
    return std::nullopt;
  }

  std::optional<Refusal> String(const char* key, std::string& out) const {
    const toml::node* node = table_.get(key);
    if (!node) return std::nullopt;
    if (!node->is_string()) return Refusal{LineOf(*node), std::string(key) + " must be a text"};
    out = node->as_string()->get();
    return std::nullopt;
  }

  std::optional<Refusal> Bool(const char* key, bool& out) const {
    const toml::node* node = table_.get(key);
    if (!node) return std::nullopt;
    if (!node->is_boolean()) return Refusal{LineOf(*node), std::string(key) + " must be true or false"};
    out = node->as_boolean()->get();
    return std::nullopt;
  }

  std::optional<Refusal> PositiveNumber(const char* key, double& out) const {
    const toml::node* node = table_.get(key);
    if (!node) return std::nullopt;
    const auto value = node->value<double>();
    if (!value || !(*value > 0) || *value > 86400)
      return Refusal{LineOf(*node), std::string(key) + " must be a number of seconds above 0"};
    out = *value;
    return std::nullopt;
  }

  std::optional<Refusal> Seconds(const char* key, double largest, double& out) const {
    const toml::node* node = table_.get(key);
    if (!node) return std::nullopt;
    const auto value = node->value<double>();
    if (!value || !(*value >= 0) || *value > largest)
      return Refusal{LineOf(*node), std::string(key) + " must be a number of seconds from 0 to " +
                                        std::to_string(int(largest))};
    out = *value;
    return std::nullopt;
  }

  // One text or a list of texts.
  std::optional<Refusal> Texts(const char* key, std::vector<std::string>& out) const {
    const toml::node* node = table_.get(key);
    if (!node) return std::nullopt;
    const Refusal refusal{LineOf(*node), std::string(key) + " must be a pattern or a list of patterns"};
    if (node->is_string()) {
      out = {node->as_string()->get()};
      return std::nullopt;
    }
    const auto* list = node->as_array();
    if (!list) return refusal;
    for (const auto& item : *list) {
      if (!item.is_string()) return refusal;
      out.push_back(item.as_string()->get());
    }
    return std::nullopt;
  }

  // The first of `keys` given, if any.
  const toml::node* AnyOf(std::initializer_list<const char*> keys, std::string& which) const {
    for (const char* key : keys)
      if (const toml::node* node = table_.get(key)) {
        which = key;
        return node;
      }
    return nullptr;
  }

  std::uint32_t Line() const { return LineOf(table_); }

 private:
  const toml::table& table_;
  std::set<std::string> known_;
};

// `when` is one text or a list of texts, each one or more windows.
std::optional<Refusal> ReadWhen(const toml::table& table, StationConfig& station) {
  const toml::node* node = table.get("when");
  if (!node) {
    station.when = "always";
    station.schedule.always = true;
    return std::nullopt;
  }
  std::vector<std::string> texts;
  if (node->is_string()) {
    texts.push_back(node->as_string()->get());
  } else if (const auto* list = node->as_array()) {
    for (const auto& item : *list) {
      if (!item.is_string()) return Refusal{LineOf(item), "when must list texts such as \"Mon 20:00-22:00\""};
      texts.push_back(item.as_string()->get());
    }
  }
  if (texts.empty()) return Refusal{LineOf(*node), "when must be \"always\" or windows such as \"Mon 20:00-22:00\""};
  std::string joined;
  for (const auto& text : texts) {
    if (texts.size() > 1 && ParseSchedule(text).schedule.value_or(Schedule{}).always)
      return Refusal{LineOf(*node), "when: \"always\" stands alone"};
    joined += (joined.empty() ? "" : "; ") + text;
  }
  const auto parsed = ParseSchedule(joined);
  if (!parsed.schedule) return Refusal{LineOf(*node), "when: " + parsed.error};
  station.when = joined;
  station.schedule = *parsed.schedule;
  return std::nullopt;
}

std::optional<Refusal> CheckName(const std::string& name, std::uint32_t line) {
  if (name.empty()) return Refusal{line, "every station needs a name"};
  if (name.size() > kMaxNameBytes) return Refusal{line, "the name is longer than 100 bytes"};
  for (const unsigned char c : name)
    if (c < 0x20 || c == 0x7F || c == '/') return Refusal{line, "the name holds a control character or '/'"};
  return std::nullopt;
}

constexpr double kMaxPadSeconds = 60;

// mode = "split": the song options, refused on a continuous station (and its
// cue sheet, refused on a split one).
std::optional<Refusal> ReadSplit(const TableReader& reader, RecordingMode mode, StationConfig& station) {
  std::string key;
  if (mode != RecordingMode::kSplit) {
    if (const toml::node* node = reader.AnyOf({"name_template", "pad_before", "pad_after", "only", "skip",
                                                "skip_existing", "complete_only"},
                                               key))
      return Refusal{LineOf(*node), key + " applies to mode = \"split\" only"};
    return std::nullopt;
  }
  if (const toml::node* node = reader.AnyOf({"cue"}, key))
    return Refusal{LineOf(*node), "cue applies to mode = \"continuous\" only (songs are files of their own)"};
  for (auto refusal : {reader.String("name_template", station.name_template),
                       reader.Seconds("pad_before", kMaxPadSeconds, station.pad_before),
                       reader.Seconds("pad_after", kMaxPadSeconds, station.pad_after),
                       reader.Texts("only", station.only), reader.Texts("skip", station.skip),
                       reader.Bool("skip_existing", station.skip_existing),
                       reader.Bool("complete_only", station.complete_only)})
    if (refusal) return refusal;
  if (const auto problem = songs::NameTemplateProblem(station.name_template); !problem.empty())
    return Refusal{LineOf(*reader.AnyOf({"name_template"}, key)), "name_template " + problem};
  return std::nullopt;
}

std::optional<Refusal> ReadTitleCharset(const TableReader& reader, StationConfig& station) {
  if (auto refusal = reader.String("title_charset", station.title_charset)) return refusal;
  std::string key;
  if (!station.title_charset.empty() && !text::IsKnownCharset(station.title_charset))
    return Refusal{LineOf(*reader.AnyOf({"title_charset"}, key)),
                   "title_charset: unknown charset \"" + station.title_charset + "\""};
  return std::nullopt;
}

std::optional<Refusal> ReadStation(const toml::table& table, const std::string& base, StationConfig& station) {
  const TableReader reader(table, {"name", "url", "folder", "when", "mode", "tag", "comments", "encoded_by",
                                   "copyright", "languages", "follow_redirects", "strict", "stall_timeout",
                                   "ca_file", "insecure", "name_template", "pad_before", "pad_after", "only",
                                   "skip", "skip_existing", "complete_only", "title_charset", "cue"});
  if (auto refusal = reader.UnknownKey()) return refusal;
  std::string mode = "continuous";
  for (auto refusal : {reader.String("name", station.name), reader.String("url", station.url),
                       reader.String("folder", station.folder), reader.String("mode", mode),
                       reader.String("comments", station.comments), reader.String("encoded_by", station.encoded_by),
                       reader.String("copyright", station.copyright), reader.String("languages", station.languages),
                       reader.Bool("tag", station.tag), reader.Bool("follow_redirects", station.follow_redirects),
                       reader.Bool("strict", station.strict), reader.String("ca_file", station.ca_file),
                       reader.Bool("insecure", station.insecure), reader.Bool("cue", station.cue),
                       reader.PositiveNumber("stall_timeout", station.stall_timeout_seconds)})
    if (refusal) return refusal;
  if (auto refusal = CheckName(station.name, reader.Line())) return refusal;
  if (station.url.empty()) return Refusal{reader.Line(), "station \"" + station.name + "\" needs a url"};
  if (const auto url = capture::SplitStreamUrl(station.url); !url.Usable())
    return Refusal{LineOf(*table.get("url")), url.problem};
  if (station.folder.empty()) return Refusal{reader.Line(), "station \"" + station.name + "\" needs a folder"};
  station.folder = Absolute(station.folder, base);
  if (!station.ca_file.empty()) station.ca_file = Absolute(station.ca_file, base);
  if (mode != "continuous" && mode != "split")
    return Refusal{LineOf(*table.get("mode")), "mode must be \"continuous\" or \"split\""};
  station.mode = mode == "split" ? RecordingMode::kSplit : RecordingMode::kContinuous;
  if (auto refusal = ReadSplit(reader, station.mode, station)) return refusal;
  if (auto refusal = ReadTitleCharset(reader, station)) return refusal;
  return ReadWhen(table, station);
}

std::optional<Refusal> ReadConfig(const toml::table& root, const std::string& base, ServiceConfig& config) {
  const TableReader reader(root, {"listen", "token_file", "state_dir", "station"});
  if (auto refusal = reader.UnknownKey()) return refusal;
  for (auto refusal : {reader.String("listen", config.listen), reader.String("token_file", config.token_file),
                       reader.String("state_dir", config.state_dir)})
    if (refusal) return refusal;
  if (std::string key; !ParseListen(config.listen))
    return Refusal{LineOf(*reader.AnyOf({"listen"}, key)), ListenProblem(config.listen)};
  if (!config.token_file.empty()) config.token_file = Absolute(config.token_file, base);
  if (!config.state_dir.empty()) config.state_dir = Absolute(config.state_dir, base);
  const toml::node* stations = root.get("station");
  if (!stations) return std::nullopt;
  const auto* list = stations->as_array();
  if (!list) return Refusal{LineOf(*stations), "stations are written as [[station]] tables"};
  std::set<std::string> names;
  for (const auto& item : *list) {
    const auto* table = item.as_table();
    if (!table) return Refusal{LineOf(item), "stations are written as [[station]] tables"};
    StationConfig station;
    if (auto refusal = ReadStation(*table, base, station)) return refusal;
    if (!names.insert(station.name).second)
      return Refusal{LineOf(*table), "two stations are named \"" + station.name + "\""};
    config.stations.push_back(std::move(station));
  }
  return std::nullopt;
}

}  // namespace

std::optional<boost::asio::ip::tcp::endpoint> ParseListen(const std::string& text) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return std::nullopt;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(host, ec);
  const std::string port = text.substr(colon + 1);
  if (ec || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const unsigned long number = std::stoul(port);
  if (number > 65535) return std::nullopt;
  return boost::asio::ip::tcp::endpoint(address, static_cast<unsigned short>(number));
}

std::string ListenProblem(const std::string& text) {
  return "listen: \"" + text + "\" is not an address and port such as 127.0.0.1:8716";
}

ConfigLoad ParseConfig(std::string_view text, const std::string& origin, const std::string& base_folder) {
  auto parsed = toml::parse(text, origin);
  if (!parsed) {
    const auto& error = parsed.error();
    return {std::nullopt, origin + ":" + std::to_string(error.source().begin.line) + ": " +
                              std::string(error.description())};
  }
  ServiceConfig config;
  if (const auto refusal = ReadConfig(parsed.table(), base_folder, config))
    return {std::nullopt, origin + ":" + std::to_string(refusal->line) + ": " + refusal->reason};
  return {std::move(config), {}};
}

ConfigLoad LoadConfig(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {std::nullopt, path + ": cannot be read"};
  std::string text(kMaxConfigBytes + 1, '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(std::size_t(in.gcount()));
  if (text.size() > kMaxConfigBytes) return {std::nullopt, path + ": larger than 1 MiB"};
  const fs::path absolute = fs::absolute(path);
  return ParseConfig(text, path, absolute.parent_path().string());
}

std::string DefaultStateFolder() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
    return (fs::path(state) / "pellora").string();
  const char* home = std::getenv("HOME");
  return (fs::path(home && *home ? home : "/tmp") / ".local/state/pellora").string();
}

}  // namespace pellora::service
