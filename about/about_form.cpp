// SPDX-License-Identifier: MIT
#include "about/about_form.h"

#include "about/about_pages.h"

namespace pellora::about {
namespace {

constexpr std::string_view kFont = "Courier New";
constexpr int kYesNoInformation = hosting::kMbYesNo | hosting::kMbIconInformation;

// The one form of the process. Everything runs on the host's thread.
std::shared_ptr<frmAbout>& SharedForm() {
  static std::shared_ptr<frmAbout> form;
  return form;
}

bool showing = false;

// Marks the form as shown for the lifetime of a modal call.
class ShowingScope {
 public:
  ShowingScope() { showing = true; }
  ~ShowingScope() { showing = false; }
  ShowingScope(const ShowingScope&) = delete;
  ShowingScope& operator=(const ShowingScope&) = delete;
};

Label LinkLabel(std::string caption, std::string address) {
  return Label{std::move(caption), std::string(kFont), std::move(address)};
}

}  // namespace

frmAbout::frmAbout(hosting::Dialogs& dialogs)
    : Caption("About " + std::string(kProductName) + " " + std::string(kProductVersion)),
      FontName(kFont),
      cmdClose{"&Close"},
      Picture1{"The Pellora emblem: a radio mast sending waves"},
      Image2{"A tape reel, for recording"},
      Frame1{"Pellora on the web and in its community"},
      Label2{"Questions, ideas or a station that will not record? Talk about it on the forum.",
             std::string(kFont), {}},
      lblForum(LinkLabel("Visit the Pellora forum", std::string(kForumUrl))),
      Label1{"Meet other Pellora users and share your favourite stations in the group.",
             std::string(kFont), {}},
      lblGroup(LinkLabel("Join the Pellora group", std::string(kGroupUrl))),
      dialogs_(dialogs) {}

void frmAbout::cmdClose_Click() { Close(); }

void frmAbout::lblForum_Click() { FollowLink(lblForum, "the Pellora forum"); }

void frmAbout::lblGroup_Click() { FollowLink(lblGroup, "the Pellora group"); }

void frmAbout::FollowLink(const Label& link, std::string_view page) {
  const std::string title = "Open " + std::string(page);
  const std::string question = "Open " + std::string(page) + " (" + link.Tag +
                               ") in your web browser?";
  if (dialogs_.MessageBox(question, kYesNoInformation, title) != hosting::kAnswerYes) return;
  last_open_succeeded_ = dialogs_.OpenUrl(link.Tag);
}

void frmAbout::Close() {
  open_ = false;
  auto& shared = SharedForm();
  if (shared.get() == this) shared.reset();
}

std::shared_ptr<frmAbout> CurrentAboutForm() { return SharedForm(); }

void ShowAbout(hosting::Site& site) {
  if (showing) return;
  auto& shared = SharedForm();
  if (!shared) shared = std::make_shared<frmAbout>(site.GetDialogs());
  // Our own reference keeps the form alive while its handlers forget it.
  const std::shared_ptr<frmAbout> form = shared;
  {
    ShowingScope scope;
    site.GetDialogs().ShowModal(*form);
  }
  form->Close();
}

}  // namespace pellora::about
