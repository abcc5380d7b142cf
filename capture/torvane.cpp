// SPDX-License-Identifier: MIT
// The control's life cycle, its events and its plain properties.
#include "capture/torvane.h"

#include <limits>

#include "about/about_form.h"
#include "hosting/event_loop.h"
#include "tags/id3.h"

namespace pellora::capture {

Torvane::Torvane(hosting::Site& site)
    : site_(site), socket_(site.CreateSocket()), header_timer_(site.Loop().context()) {
  socket_->SetEvents(this);
}

// Destroying the control closes its socket and its recording file (RAII);
// Terminate alone leaves both as they are.
Torvane::~Torvane() { socket_->SetEvents(nullptr); }

void Torvane::Initialize() { waiting_for_header_ = true; }

void Torvane::InitProperties() { is_connected_ = false; }

void Torvane::Resize() {
  site_.SetHeight(825);
  site_.SetWidth(720);
}

void Torvane::Terminate() { tag_store_.reset(); }

std::optional<std::string> Torvane::About() {
  // The host may drop the control from inside the window.
  const auto alive = KeepAlive();
  about::ShowAbout(site_);
  return std::nullopt;
}

std::int32_t Torvane::Saturate(std::int64_t count) {
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max()));
}

// A handler may drop the host's last reference; the raising operation must be
// able to go on with its members. Controls not owned by a shared_ptr (plain
// stack objects in benchmarks) simply live as long as their owner says.
std::shared_ptr<Torvane> Torvane::KeepAlive() { return weak_from_this().lock(); }

void Torvane::RaiseStateChanged() {
  const auto keep = KeepAlive();
  if (events_) events_->StateChanged();
}

void Torvane::RaiseMetaChanged(std::string meta) {
  const auto keep = KeepAlive();
  if (events_) events_->MetaChanged(meta);
}

void Torvane::RaiseError(EErrType type, std::int32_t code, std::string description) {
  const auto keep = KeepAlive();
  if (events_) events_->Error(type, code, description);
}

void Torvane::RaiseGotHeader(std::string header) {
  const auto keep = KeepAlive();
  if (events_) events_->GotHeader(header);
}

}  // namespace pellora::capture
