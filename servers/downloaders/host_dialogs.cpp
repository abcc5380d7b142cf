// SPDX-License-Identifier: MIT
// The message box of libdownloaders' controls: the host's callback when it set
// one (downloaders_set_message_box), a line on stderr otherwise.
#include "servers/downloaders/host_dialogs.h"

#include <string>

namespace pellora::servers {

void HostMessageBox::Set(downloaders_message_box_fn message_box, void* user_data) {
  message_box_ = message_box;
  user_data_ = user_data;
}

int HostMessageBox::MessageBox(std::string_view text, int style, std::string_view title) {
  if (!message_box_) return defaults_.MessageBox(text, style, title);
  return message_box_(user_data_, std::string(text).c_str(), style, std::string(title).c_str());
}

void HostMessageBox::ShowModal(hosting::ModalWindow& window) { defaults_.ShowModal(window); }

bool HostMessageBox::OpenUrl(const std::string& address) { return defaults_.OpenUrl(address); }

HostMessageBox& LibraryDialogs() {
  static HostMessageBox dialogs;
  return dialogs;
}

}  // namespace pellora::servers

extern "C" int downloaders_set_message_box(downloaders_message_box_fn message_box,
                                           void* user_data) {
  pellora::servers::LibraryDialogs().Set(message_box, user_data);
  return DOWNLOADERS_OK;
}
