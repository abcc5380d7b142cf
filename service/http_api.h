// SPDX-License-Identifier: MIT
#pragma once
// The routes of the service's HTTP side:
//
//   GET  /                          the dashboard
//   GET  /healthz                   "ok"
//   GET  /metrics                   Prometheus text
//   GET  /api/stations              every station: state, title, bytes, rate, errors, window
//   POST /api/stations/NAME/start   records now (NAME percent-encoded)
//   POST /api/stations/NAME/stop    stops now
//   POST /api/reload                reads the configuration file again
//   GET  /api/songs?station=&limit=&offset=   what was saved (recordings and songs), newest first
//   GET  /api/events                Server-Sent Events: "stations" (all, at once),
//                                   "station" (one that changed), "tick" (bytes and
//                                   rate of each, every second), "song" (one saved,
//                                   as /api/songs lists it)
//   GET  /files/NAME/FILE           a recording or song, only from inside that station's folder
//
// HEAD answers any GET route with its header alone (see http_server.h).
//
// Access: with a token (required beyond loopback) every request must carry it, as
// "Authorization: Bearer TOKEN", the cookie set after the first "?token=TOKEN", or
// that query parameter. Without one, only loopback host names are answered (a web
// page elsewhere cannot reach the API through DNS rebinding). A POST whose Origin
// is not this host is refused, so another site's page cannot press the buttons.
#include "service/http_server.h"

namespace pellora::service {

class Service;

HttpServer::Router MakeApi(Service& service);

struct SavedEntry;

// A history entry as /api/songs and the "song" event show it (JSON).
std::string SavedJson(Service& service, const SavedEntry& entry);

// The dashboard page (HTML with its CSS and JavaScript).
std::string_view DashboardPage();

// The Prometheus text of every station's counters.
std::string MetricsText(Service& service);

}  // namespace pellora::service
