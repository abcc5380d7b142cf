// SPDX-License-Identifier: MIT
#pragma once
// The About window of the stream control: the product's name and version, its
// pictures, and two links to the project's pages (its forum and its community
// group), each opened in the browser after the user confirms.
//
// `frmAbout` is a model: it holds the window's controls and the logic of their
// clicks, and leaves the drawing to the container's dialog service, which shows
// it modally (`Dialogs::ShowModal`) and calls the click handlers. There is one
// form at a time in the process, created by `ShowAbout` when needed and
// forgotten when it closes.
#include <memory>
#include <string>
#include <string_view>

#include "hosting/container.h"
#include "hosting/dialogs.h"

namespace pellora::about {

struct CommandButton {
  std::string Caption;  // '&' marks the access key
};

struct Picture {
  std::string Description;  // what the picture shows, for text-only presenters
};

struct Frame {
  std::string Caption;
};

struct Label {
  std::string Caption;
  std::string FontName;
  std::string Tag;  // link labels: the address to open
};

class frmAbout final : public hosting::ModalWindow,
                       public std::enable_shared_from_this<frmAbout> {
 public:
  // A new form whose questions and browser go through `dialogs`. Use ShowAbout
  // rather than creating forms directly: it keeps the one shared instance.
  explicit frmAbout(hosting::Dialogs& dialogs);

  std::string Caption;   // "About " + product name and version
  std::string FontName;  // "Courier New", as are the two link labels
  CommandButton cmdClose;
  Picture Picture1;
  Picture Image2;
  Frame Frame1;
  Label Label2;    // invites to the forum
  Label lblForum;  // the forum link
  Label Label1;    // invites to the group
  Label lblGroup;  // the group link

  // The click handlers the presenter calls. A link click asks a Yes/No question
  // (information icon) naming the page, and on Yes opens the label's address.
  void cmdClose_Click();
  void lblForum_Click();
  void lblGroup_Click();

  // The form's closing, however caused (the Close button, the window's own close
  // button, the end of the modal loop): the form stops being the shared one, so
  // the next ShowAbout creates a fresh form. Closing twice is harmless.
  void Close();
  bool IsOpen() const { return open_; }

  // Whether the browser accepted the last address opened; false before any.
  bool LastOpenSucceeded() const { return last_open_succeeded_; }

 private:
  void FollowLink(const Label& link, std::string_view page);

  hosting::Dialogs& dialogs_;
  bool open_ = true;
  bool last_open_succeeded_ = false;
};

// The form currently shared by the process, or null when none is open.
std::shared_ptr<frmAbout> CurrentAboutForm();

// Shows the About window modally through `site`'s dialog service, creating the
// shared form if none exists, and returns once it has been closed. A form left
// open by the dialog service is closed on return. Called while the window is
// already showing (from a handler inside the modal loop), it returns at once
// instead of showing the same window twice.
void ShowAbout(hosting::Site& site);

}  // namespace pellora::about
