// SPDX-License-Identifier: MIT
#pragma once
// The dialog services a container offers its controls: a modal message box, a
// modal window, and opening an address in the user's browser.
#include <string>
#include <string_view>

namespace pellora::hosting {

// Message box styles, as numbers (buttons + icon), and the answers.
enum MessageBoxStyle : int {
  kMbOk = 0,
  kMbYesNo = 4,
  kMbIconCritical = 16,
  kMbIconExclamation = 48,
  kMbIconInformation = 64,
};
enum MessageBoxAnswer : int { kAnswerOk = 1, kAnswerYes = 6, kAnswerNo = 7 };

// A window shown modally: the dialog service runs it until it closes.
class ModalWindow {
 public:
  virtual ~ModalWindow() = default;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Shows `text` with `title`; returns the answer (kAnswerOk for an OK box).
  virtual int MessageBox(std::string_view text, int style, std::string_view title) = 0;
  // Shows `window` modally; returns when it has been closed.
  virtual void ShowModal(ModalWindow& window) = 0;
  // Opens `address` in the default browser; returns false when that failed.
  virtual bool OpenUrl(const std::string& address) = 0;
};

// Dialogs for a terminal host: message boxes go to stderr (a Yes/No question is
// answered No when there is nobody to ask), modal windows close at once, and
// addresses open through xdg-open (hosting/open_url.h).
class StderrDialogs : public Dialogs {
 public:
  int MessageBox(std::string_view text, int style, std::string_view title) override;
  void ShowModal(ModalWindow& window) override;
  bool OpenUrl(const std::string& address) override;
};

}  // namespace pellora::hosting
