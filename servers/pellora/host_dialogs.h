// SPDX-License-Identifier: MIT
#pragma once
// The dialog service of libpellora's controls: the host's callbacks when it set
// them (pellora_set_dialogs), the library's defaults otherwise.
#include "hosting/dialogs.h"
#include "servers/pellora/pellora.h"

namespace pellora::servers {

class HostDialogs final : public hosting::Dialogs {
 public:
  void Set(const pellora_dialogs* callbacks);

  int MessageBox(std::string_view text, int style, std::string_view title) override;
  void ShowModal(hosting::ModalWindow& window) override;
  bool OpenUrl(const std::string& address) override;

 private:
  pellora_dialogs callbacks_{};
  hosting::StderrDialogs defaults_;
};

// The one dialog service of the library.
HostDialogs& LibraryDialogs();

}  // namespace pellora::servers
