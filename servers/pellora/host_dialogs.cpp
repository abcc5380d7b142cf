// SPDX-License-Identifier: MIT
// The dialog service and the About window functions of the C API.
#include "servers/pellora/host_dialogs.h"

#include <string>

#include "about/about_form.h"
#include "servers/common/c_api_support.h"

struct pellora_about_window {
  pellora::about::frmAbout& form;
};

namespace pellora::servers {

void HostDialogs::Set(const pellora_dialogs* callbacks) {
  callbacks_ = callbacks ? *callbacks : pellora_dialogs{};
}

int HostDialogs::MessageBox(std::string_view text, int style, std::string_view title) {
  if (!callbacks_.message_box) return defaults_.MessageBox(text, style, title);
  return callbacks_.message_box(callbacks_.user_data, std::string(text).c_str(), style,
                                std::string(title).c_str());
}

void HostDialogs::ShowModal(hosting::ModalWindow& window) {
  auto* form = dynamic_cast<about::frmAbout*>(&window);
  if (!form || !callbacks_.show_about) return defaults_.ShowModal(window);
  pellora_about_window c_window{*form};
  callbacks_.show_about(callbacks_.user_data, &c_window);
}

bool HostDialogs::OpenUrl(const std::string& address) {
  if (!callbacks_.open_url) return defaults_.OpenUrl(address);
  return callbacks_.open_url(callbacks_.user_data, address.c_str()) != 0;
}

HostDialogs& LibraryDialogs() {
  static HostDialogs dialogs;
  return dialogs;
}

namespace {

const about::Label* LinkLabel(const about::frmAbout& form, int control) {
  if (control == PELLORA_ABOUT_LBLFORUM) return &form.lblForum;
  if (control == PELLORA_ABOUT_LBLGROUP) return &form.lblGroup;
  return nullptr;
}

const std::string* ControlText(const about::frmAbout& form, int control) {
  switch (control) {
    case PELLORA_ABOUT_FORM: return &form.Caption;
    case PELLORA_ABOUT_CMDCLOSE: return &form.cmdClose.Caption;
    case PELLORA_ABOUT_PICTURE1: return &form.Picture1.Description;
    case PELLORA_ABOUT_IMAGE2: return &form.Image2.Description;
    case PELLORA_ABOUT_FRAME1: return &form.Frame1.Caption;
    case PELLORA_ABOUT_LABEL2: return &form.Label2.Caption;
    case PELLORA_ABOUT_LBLFORUM: return &form.lblForum.Caption;
    case PELLORA_ABOUT_LABEL1: return &form.Label1.Caption;
    case PELLORA_ABOUT_LBLGROUP: return &form.lblGroup.Caption;
    default: return nullptr;
  }
}

}  // namespace
}  // namespace pellora::servers

using namespace pellora::servers;

extern "C" {

int pellora_set_dialogs(const pellora_dialogs* dialogs) {
  LibraryDialogs().Set(dialogs);
  return PELLORA_OK;
}

int pellora_about_text(const pellora_about_window* window, int control, char* buffer,
                       size_t size, size_t* length) {
  const std::string* text = window ? ControlText(window->form, control) : nullptr;
  return text ? CopyOut(*text, buffer, size, length) : PELLORA_E_INVALID_ARGUMENT;
}

int pellora_about_link(const pellora_about_window* window, int control, char* buffer,
                       size_t size, size_t* length) {
  const pellora::about::Label* link = window ? LinkLabel(window->form, control) : nullptr;
  return link ? CopyOut(link->Tag, buffer, size, length) : PELLORA_E_INVALID_ARGUMENT;
}

int pellora_about_font(const pellora_about_window* window, char* buffer, size_t size,
                       size_t* length) {
  return window ? CopyOut(window->form.FontName, buffer, size, length)
                : PELLORA_E_INVALID_ARGUMENT;
}

int pellora_about_click(pellora_about_window* window, int control) {
  if (!window) return PELLORA_E_INVALID_ARGUMENT;
  return Guarded([&] {
    auto& form = window->form;
    if (!form.IsOpen()) return kOk;  // a closed window takes no clicks
    switch (control) {
      case PELLORA_ABOUT_CMDCLOSE: form.cmdClose_Click(); return kOk;
      case PELLORA_ABOUT_LBLFORUM: form.lblForum_Click(); return kOk;
      case PELLORA_ABOUT_LBLGROUP: form.lblGroup_Click(); return kOk;
      default: return kInvalidArgument;
    }
  });
}

int pellora_about_close(pellora_about_window* window) {
  if (!window) return PELLORA_E_INVALID_ARGUMENT;
  window->form.Close();
  return PELLORA_OK;
}

int pellora_about_is_open(const pellora_about_window* window, int* value) {
  return window ? StoreOut(value, window->form.IsOpen()) : PELLORA_E_INVALID_ARGUMENT;
}

}  // extern "C"
