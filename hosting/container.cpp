// SPDX-License-Identifier: MIT
#include "hosting/container.h"

#include <cstdio>

#include "hosting/open_url.h"
#include "hosting/tcp_socket.h"

namespace pellora::hosting {

Site::Site(EventLoop& loop, Dialogs* dialogs) : loop_(loop), dialogs_(dialogs) {}

Dialogs& Site::GetDialogs() const {
  static StderrDialogs fallback;
  return dialogs_ ? *dialogs_ : fallback;
}

void Site::Attach(std::shared_ptr<Control> control) {
  control_ = control;
  terminated_ = false;
}

void Site::SetHeight(std::int32_t twips) {
  if (extent_.height == twips) return;
  extent_.height = twips;
  RaiseResize();
}

void Site::SetWidth(std::int32_t twips) {
  if (extent_.width == twips) return;
  extent_.width = twips;
  RaiseResize();
}

void Site::SetExtent(Extent e) {
  if (extent_ == e) return;
  extent_ = e;
  RaiseResize();
}

void Site::RaiseResize() {
  // Keep the control alive while it handles its resize, whatever it does.
  if (auto control = control_.lock()) control->Resize();
}

void Site::TerminateControl() {
  if (terminated_) return;
  terminated_ = true;
  if (auto control = control_.lock()) control->Terminate();
}

std::unique_ptr<Socket> Site::CreateSocket() { return std::make_unique<TcpSocket>(loop_); }

int StderrDialogs::MessageBox(std::string_view text, int style, std::string_view title) {
  std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
               static_cast<int>(text.size()), text.data());
  return (style & 0x0F) == kMbYesNo ? kAnswerNo : kAnswerOk;
}

void StderrDialogs::ShowModal(ModalWindow&) {}

bool StderrDialogs::OpenUrl(const std::string& address) { return OpenUrlInBrowser(address); }

}  // namespace pellora::hosting
