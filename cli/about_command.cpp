// SPDX-License-Identifier: MIT
// pellora about: the About window, presented in the terminal.
//
// The window's texts and its two links are printed; single keys follow a link
// (f, g) or close the window (c, q, Escape, or the end of the input). Following
// a link asks first, as the window does; the answer is y or n. When standard
// input is a terminal, keys act without Enter.
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "about/about_form.h"
#include "cli/commands.h"
#include "hosting/container.h"
#include "hosting/event_loop.h"
#include "hosting/open_url.h"

namespace pellora::cli {
namespace {

constexpr int kEndOfInput = EOF;
constexpr int kEscape = 27;

// Puts a terminal on standard input into single-key mode for its lifetime.
class SingleKeyTerminal {
 public:
  SingleKeyTerminal() {
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~SingleKeyTerminal() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  SingleKeyTerminal(const SingleKeyTerminal&) = delete;
  SingleKeyTerminal& operator=(const SingleKeyTerminal&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

// The next key pressed, lower-cased; blanks and line ends are skipped.
int ReadKey() {
  std::fflush(stdout);
  int c;
  do c = std::getchar();
  while (c != kEndOfInput && (c == ' ' || c == '\n' || c == '\r' || c == '\t'));
  return c == kEndOfInput ? c : std::tolower(c);
}

// The caption without its access-key marker.
std::string Plain(const std::string& caption) {
  std::string out;
  for (char c : caption)
    if (c != '&') out += c;
  return out;
}

void PrintForm(const about::frmAbout& form) {
  std::printf("== %s ==\n\n", form.Caption.c_str());
  std::printf("[%s] [%s]\n\n", form.Picture1.Description.c_str(), form.Image2.Description.c_str());
  std::printf("%s\n\n", form.Frame1.Caption.c_str());
  std::printf("  %s\n  (f) %s: %s\n\n", form.Label2.Caption.c_str(), form.lblForum.Caption.c_str(),
              form.lblForum.Tag.c_str());
  std::printf("  %s\n  (g) %s: %s\n\n", form.Label1.Caption.c_str(), form.lblGroup.Caption.c_str(),
              form.lblGroup.Tag.c_str());
  std::printf("(c) %s\n", Plain(form.cmdClose.Caption).c_str());
}

// The terminal's dialog service: the About window and its questions on stdout,
// answers from the keyboard, links opened through xdg-open.
class TerminalDialogs : public hosting::Dialogs {
 public:
  int MessageBox(std::string_view text, int style, std::string_view title) override {
    std::printf("\n%.*s\n%.*s\n", static_cast<int>(title.size()), title.data(),
                static_cast<int>(text.size()), text.data());
    if ((style & 0x0F) != hosting::kMbYesNo) return hosting::kAnswerOk;
    std::printf("(y) Yes  (n) No > ");
    const int key = ReadKey();
    std::printf("%c\n", key == 'y' ? 'y' : 'n');
    return key == 'y' ? hosting::kAnswerYes : hosting::kAnswerNo;
  }

  void ShowModal(hosting::ModalWindow& window) override {
    auto* form = dynamic_cast<about::frmAbout*>(&window);
    if (!form) return;
    PrintForm(*form);
    while (form->IsOpen()) HandleKey(*form);
  }

  bool OpenUrl(const std::string& address) override {
    const bool opened = hosting::OpenUrlInBrowser(address);
    std::printf(opened ? "Opened %s\n" : "Could not open %s\n", address.c_str());
    return opened;
  }

 private:
  static void HandleKey(about::frmAbout& form) {
    std::printf("\nf, g or c > ");
    const int key = ReadKey();
    if (key == kEndOfInput) {
      std::printf("\n");
      form.Close();
      return;
    }
    std::printf("%c\n", key);
    if (key == 'f') form.lblForum_Click();
    else if (key == 'g') form.lblGroup_Click();
    else if (key == 'c' || key == 'q' || key == kEscape) form.cmdClose_Click();
    else std::printf("Keys: f opens the forum, g the group, c closes.\n");
  }
};

int RunAbout() {
  SingleKeyTerminal keys;
  TerminalDialogs dialogs;
  hosting::EventLoop loop;
  hosting::Site site(loop, &dialogs);
  about::ShowAbout(site);
  return 0;
}

}  // namespace

void RegisterAbout(CLI::App& app, CommandList& commands) {
  auto* sub = app.add_subcommand("about", "Show the About window: product, version, links");
  commands.push_back({sub, RunAbout});
}

}  // namespace pellora::cli
