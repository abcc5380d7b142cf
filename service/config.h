// SPDX-License-Identifier: MIT
#pragma once
// The configuration of `pellora serve`: a TOML file naming the service's own
// settings and the stations it records.
//
//   listen = "127.0.0.1:8716"        # the HTTP API and dashboard
//   token_file = "/etc/pellora/token" # required when listening beyond loopback
//   state_dir = "/var/lib/pellora"    # the history; default $XDG_STATE_HOME/pellora
//
//   [[station]]
//   name = "Evening show"             # unique; names the station in the API
//   url = "http://radio.example:8000/live"
//   folder = "recordings/evening"     # relative paths start at the file's folder
//   when = "Mon,Wed 20:00-22:00"      # or "always", or a list of such texts
//   tag = true                        # and the other `record` options below
//   mode = "split"                    # one file per song; "continuous" (the default): one per window
//   name_template = "{artist} - {title}"  # and the other options of `record --split`
//
// Unknown keys are refused, so that a misspelt option does not pass unnoticed.
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/schedule.h"

namespace pellora::service {

enum class RecordingMode { kContinuous, kSplit };

struct StationConfig {
  std::string name;
  std::string url;
  std::string folder;  // absolute
  std::string when;    // as written (windows joined by "; ")
  Schedule schedule;
  RecordingMode mode = RecordingMode::kContinuous;
  bool tag = false;
  std::string comments, encoded_by, copyright, languages;
  bool follow_redirects = true;
  bool strict = false;
  std::string ca_file;    // https: trust these authorities instead of the system's (absolute)
  bool insecure = false;  // https: accept any certificate
  double stall_timeout_seconds = 15;
  // mode = "split": the options of `pellora record --split` (cli/split_recorder.h).
  std::string name_template = "{artist} - {title}";
  double pad_before = 0, pad_after = 0;  // seconds
  std::vector<std::string> only, skip;   // patterns on the stream title
  bool skip_existing = false;            // also songs the history knows, across restarts
  bool complete_only = false;
  std::string title_charset;  // of titles that are not UTF-8 (songs' names and tags, cue sheets)
  // mode = "continuous": NAME.cue beside each recording, a track per title.
  bool cue = false;

  bool operator==(const StationConfig&) const = default;
};

struct ServiceConfig {
  std::string listen = "127.0.0.1:8716";
  std::string token_file;  // absolute, or empty
  std::string state_dir;   // absolute, or empty for the default
  std::vector<StationConfig> stations;
};

struct ConfigLoad {
  std::optional<ServiceConfig> config;
  std::string error;  // "FILE:LINE: reason"
};

ConfigLoad LoadConfig(const std::string& path);
// The same from a text (`origin` names it in errors; relative folders start at
// `base_folder`).
ConfigLoad ParseConfig(std::string_view text, const std::string& origin, const std::string& base_folder);

// "127.0.0.1:8716", "[::1]:8716", "0.0.0.0:80": an address and a port; nothing
// when the text is not one.
std::optional<boost::asio::ip::tcp::endpoint> ParseListen(const std::string& text);
// Why `text` is refused as a listen address.
std::string ListenProblem(const std::string& text);

// $XDG_STATE_HOME/pellora, else ~/.local/state/pellora.
std::string DefaultStateFolder();

}  // namespace pellora::service
