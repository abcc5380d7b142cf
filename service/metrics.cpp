// SPDX-License-Identifier: MIT
#include <string>

#include "service/http_api.h"
#include "service/service.h"

namespace pellora::service {
namespace {

// A label value: backslash, double quote and line feed escaped.
std::string Label(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

template <class Value>
void PerStation(std::string& out, Service& service, const char* name, const char* type, const char* help,
                Value value) {
  Family(out, name, type, help);
  for (const auto& station : service.stations())
    out += std::string(name) + "{station=\"" + Label(station->config().name) + "\"} " +
           std::to_string(value(*station)) + "\n";
}

}  // namespace

std::string MetricsText(Service& service) {
  std::string out;
  out.reserve(512 + service.stations().size() * 600);
  Family(out, "pellora_stations", "gauge", "Stations in the configuration.");
  out += "pellora_stations " + std::to_string(service.stations().size()) + "\n";
  Family(out, "pellora_saved_recordings", "gauge", "Recordings and songs in the history.");
  out += "pellora_saved_recordings " + std::to_string(service.history().Count("")) + "\n";
  PerStation(out, service, "pellora_station_recording", "gauge", "1 while the station records.",
             [](const StationRuntime& s) { return int(s.state() == StationState::kRecording); });
  PerStation(out, service, "pellora_station_bytes_total", "counter", "Audio bytes written since the start.",
             [](const StationRuntime& s) { return s.bytes(); });
  PerStation(out, service, "pellora_station_bytes_per_second", "gauge", "Audio bytes written in the last second.",
             [](const StationRuntime& s) { return s.rate(); });
  PerStation(out, service, "pellora_station_recordings_total", "counter", "Recordings begun since the start.",
             [](const StationRuntime& s) { return s.recordings(); });
  PerStation(out, service, "pellora_station_songs_total", "counter", "Songs saved since the start (split stations).",
             [](const StationRuntime& s) { return s.songs(); });
  PerStation(out, service, "pellora_station_reconnects_total", "counter", "Connections made again after a drop.",
             [](const StationRuntime& s) { return s.reconnects(); });
  Family(out, "pellora_station_errors_total", "counter", "Errors reported by the stream, by kind.");
  for (const auto& station : service.stations())
    for (std::size_t kind = 0; kind < kErrorKindNames.size(); ++kind)
      out += "pellora_station_errors_total{station=\"" + Label(station->config().name) + "\",kind=\"" +
             kErrorKindNames[kind] + "\"} " + std::to_string(station->errors()[kind]) + "\n";
  return out;
}

}  // namespace pellora::service
