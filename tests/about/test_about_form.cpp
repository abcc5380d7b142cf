// SPDX-License-Identifier: MIT
#include "about/about_form.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "hosting/event_loop.h"

namespace pellora::about {
namespace {

using hosting::kAnswerNo;
using hosting::kAnswerYes;

// A scripted user in front of the About window: each step acts on the form
// shown modally (clicks, closes); message boxes are answered from a queue;
// every question and every opened address is recorded.
class ScriptedDialogs : public hosting::Dialogs {
 public:
  using Step = std::function<void(frmAbout&)>;

  int MessageBox(std::string_view text, int style, std::string_view title) override {
    questions.push_back({std::string(text), style, std::string(title)});
    if (answers.empty()) return kAnswerNo;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShowModal(hosting::ModalWindow& window) override {
    ++modal_calls;
    auto& form = dynamic_cast<frmAbout&>(window);
    shown.push_back(&form);
    for (auto& step : steps) {
      if (!form.IsOpen()) break;
      step(form);
    }
  }
  bool OpenUrl(const std::string& address) override {
    opened.push_back(address);
    return open_result;
  }

  struct Question {
    std::string text;
    int style;
    std::string title;
  };
  std::vector<Step> steps;
  std::deque<int> answers;
  std::vector<Question> questions;
  std::vector<std::string> opened;
  std::vector<const frmAbout*> shown;
  int modal_calls = 0;
  bool open_result = true;
};

class AboutBox : public ::testing::Test {
 protected:
  hosting::EventLoop loop;
  ScriptedDialogs dialogs;
  hosting::Site site{loop, &dialogs};
};

TEST_F(AboutBox, FormHoldsItsControlsInCourierNew) {
  frmAbout form(dialogs);
  EXPECT_EQ(form.Caption.rfind("About Pellora ", 0), 0u);
  EXPECT_EQ(form.FontName, "Courier New");
  EXPECT_EQ(form.lblForum.FontName, "Courier New");
  EXPECT_EQ(form.lblGroup.FontName, "Courier New");
  EXPECT_EQ(form.cmdClose.Caption, "&Close");
  for (const auto* text : {&form.Frame1.Caption, &form.Label1.Caption, &form.Label2.Caption,
                           &form.lblForum.Caption, &form.lblGroup.Caption,
                           &form.Picture1.Description, &form.Image2.Description})
    EXPECT_FALSE(text->empty());
  EXPECT_EQ(form.lblForum.Tag.rfind("https://", 0), 0u);
  EXPECT_EQ(form.lblGroup.Tag.rfind("https://", 0), 0u);
  EXPECT_NE(form.lblForum.Tag, form.lblGroup.Tag);
}

// One row: what the user does in the window, how the questions are answered,
// and which of the two link addresses get opened.
struct ClickCase {
  const char* name;
  std::vector<ScriptedDialogs::Step> steps;
  std::deque<int> answers;
  std::size_t questions;
  std::vector<bool> forum_then_group_opened;  // addresses opened, in order: true = forum
};

class AboutClicks : public AboutBox, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(AboutClicks, AsksBeforeOpeningAndOpensOnlyOnYes) {
  const auto& c = GetParam();
  dialogs.steps = c.steps;
  dialogs.answers = c.answers;
  ShowAbout(site);

  ASSERT_EQ(dialogs.modal_calls, 1);
  ASSERT_EQ(dialogs.questions.size(), c.questions);
  for (const auto& q : dialogs.questions) {
    EXPECT_EQ(q.style, 68);
    EXPECT_NE(q.title.find("Pellora"), std::string::npos);
    EXPECT_NE(q.text.find("https://"), std::string::npos);
  }
  frmAbout reference(dialogs);
  std::vector<std::string> expected;
  for (bool forum : c.forum_then_group_opened)
    expected.push_back(forum ? reference.lblForum.Tag : reference.lblGroup.Tag);
  EXPECT_EQ(dialogs.opened, expected);
  EXPECT_EQ(CurrentAboutForm(), nullptr);
}

auto Forum = [](frmAbout& f) { f.lblForum_Click(); };
auto Group = [](frmAbout& f) { f.lblGroup_Click(); };
auto CloseButton = [](frmAbout& f) { f.cmdClose_Click(); };
auto TitleBarClose = [](frmAbout& f) { f.Close(); };

INSTANTIATE_TEST_SUITE_P(
    Sequences, AboutClicks,
    ::testing::Values(
        ClickCase{"CloseAtOnce", {CloseButton}, {}, 0, {}},
        ClickCase{"ForumYes", {Forum, CloseButton}, {kAnswerYes}, 1, {true}},
        ClickCase{"ForumNo", {Forum, CloseButton}, {kAnswerNo}, 1, {}},
        ClickCase{"GroupYes", {Group, TitleBarClose}, {kAnswerYes}, 1, {false}},
        ClickCase{"GroupNo", {Group, CloseButton}, {kAnswerNo}, 1, {}},
        ClickCase{"BothLinksMixedAnswers",
                  {Forum, Group, Forum, Group, CloseButton},
                  {kAnswerNo, kAnswerYes, kAnswerYes, kAnswerNo},
                  4,
                  {false, true}},
        ClickCase{"ClicksAfterCloseAreNotDelivered", {CloseButton, Forum}, {kAnswerYes}, 0, {}}),
    [](const auto& info) { return info.param.name; });

TEST_F(AboutBox, QuestionsNameThePageThatWillOpen) {
  dialogs.steps = {Forum, Group, CloseButton};
  ShowAbout(site);
  ASSERT_EQ(dialogs.questions.size(), 2u);
  EXPECT_NE(dialogs.questions[0].title.find("forum"), std::string::npos);
  EXPECT_NE(dialogs.questions[1].title.find("group"), std::string::npos);
  frmAbout reference(dialogs);
  EXPECT_NE(dialogs.questions[0].text.find(reference.lblForum.Tag), std::string::npos);
  EXPECT_NE(dialogs.questions[1].text.find(reference.lblGroup.Tag), std::string::npos);
}

TEST_F(AboutBox, FormIsSharedWhileOpenAndFreshAfterClose) {
  std::shared_ptr<frmAbout> during;
  dialogs.steps = {[&](frmAbout&) { during = CurrentAboutForm(); }, TitleBarClose};
  ShowAbout(site);
  ASSERT_NE(during, nullptr);
  EXPECT_EQ(dialogs.shown.front(), during.get());
  EXPECT_FALSE(during->IsOpen());
  EXPECT_EQ(CurrentAboutForm(), nullptr);

  const auto first = during;
  ShowAbout(site);
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_NE(dialogs.shown[1], first.get());
  EXPECT_EQ(dialogs.shown[1], during.get());
}

TEST_F(AboutBox, WindowLeftOpenByThePresenterIsClosedOnReturn) {
  ShowAbout(site);  // no steps: the presenter returns with the form still open
  EXPECT_EQ(dialogs.modal_calls, 1);
  EXPECT_EQ(CurrentAboutForm(), nullptr);
}

TEST_F(AboutBox, AboutFromInsideTheOpenWindowDoesNotShowItTwice) {
  dialogs.steps = {[&](frmAbout&) { ShowAbout(site); }, CloseButton};
  ShowAbout(site);
  EXPECT_EQ(dialogs.modal_calls, 1);
  EXPECT_EQ(CurrentAboutForm(), nullptr);
}

TEST_F(AboutBox, RemembersWhetherTheBrowserAccepted) {
  dialogs.open_result = false;
  dialogs.answers = {kAnswerYes};
  frmAbout form(dialogs);
  form.lblForum_Click();
  EXPECT_FALSE(form.LastOpenSucceeded());
  dialogs.open_result = true;
  dialogs.answers = {kAnswerYes};
  form.lblGroup_Click();
  EXPECT_TRUE(form.LastOpenSucceeded());
}

TEST_F(AboutBox, TerminalSiteWithoutDialogsClosesAtOnceAndOpensNothing) {
  hosting::Site plain(loop);
  ShowAbout(plain);
  EXPECT_EQ(CurrentAboutForm(), nullptr);
}

}  // namespace
}  // namespace pellora::about
