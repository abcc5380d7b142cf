// SPDX-License-Identifier: MIT
#pragma once
// The dialog service of libdownloaders' controls, which only ever show a
// message box.
#include "hosting/dialogs.h"
#include "servers/downloaders/downloaders.h"

namespace pellora::servers {

class HostMessageBox final : public hosting::Dialogs {
 public:
  void Set(downloaders_message_box_fn message_box, void* user_data);

  int MessageBox(std::string_view text, int style, std::string_view title) override;
  void ShowModal(hosting::ModalWindow& window) override;
  bool OpenUrl(const std::string& address) override;

 private:
  downloaders_message_box_fn message_box_ = nullptr;
  void* user_data_ = nullptr;
  hosting::StderrDialogs defaults_;
};

// The one dialog service of the library.
HostMessageBox& LibraryDialogs();

}  // namespace pellora::servers
