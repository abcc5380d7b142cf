// SPDX-License-Identifier: MIT
#include "hosting/container.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <boost/asio/post.hpp>

#include "hosting/event_loop.h"

namespace pellora::hosting {
namespace {

// A control that, like the real ones, fixes its own extent from inside Resize.
class FixedSizeControl : public Control {
 public:
  explicit FixedSizeControl(Site& site) : site_(site) {}
  void Initialize() override { calls.push_back("Initialize"); }
  void InitProperties() override { calls.push_back("InitProperties"); }
  void Resize() override {
    calls.push_back("Resize");
    site_.SetHeight(825);
    site_.SetWidth(720);
  }
  void Terminate() override { calls.push_back("Terminate"); }
  std::vector<std::string> calls;

 private:
  Site& site_;
};

TEST(Site, CreateInitialisesInOrder) {
  EventLoop loop;
  Site site(loop);
  auto control = site.Create<FixedSizeControl>();
  EXPECT_EQ(control->calls, (std::vector<std::string>{"Initialize", "InitProperties"}));
}

TEST(Site, ResizeSettlesOnTheControlsOwnExtent) {
  EventLoop loop;
  Site site(loop);
  auto control = site.Create<FixedSizeControl>();
  control->calls.clear();
  site.SetExtent({3000, 2000});
  EXPECT_EQ(site.GetExtent(), (Extent{720, 825}));
  // The host's resize, then one nested resize per changed dimension; unchanged
  // values raise nothing, so the recursion ends.
  EXPECT_EQ(control->calls, (std::vector<std::string>{"Resize", "Resize", "Resize"}));
  control->calls.clear();
  site.SetExtent({720, 825});
  EXPECT_TRUE(control->calls.empty());
}

TEST(Site, TerminateIsCalledOnce) {
  EventLoop loop;
  Site site(loop);
  auto control = site.Create<FixedSizeControl>();
  site.TerminateControl();
  site.TerminateControl();
  EXPECT_EQ(control->calls.back(), "Terminate");
  EXPECT_EQ(std::count(control->calls.begin(), control->calls.end(), "Terminate"), 1);
}

TEST(Site, PixelsToTwipsAt96Dpi) {
  EXPECT_EQ(Site::PixelsToTwipsX(48), 720);
  EXPECT_EQ(Site::PixelsToTwipsY(55), 825);
  EXPECT_EQ(Site::PixelsToTwipsX(32), 480);
}

TEST(EventLoop, PollRunsReadyHandlersAndStopEndsRun) {
  EventLoop loop;
  int ran = 0;
  boost::asio::post(loop.context(), [&] { ++ran; });
  EXPECT_EQ(loop.poll(), 1u);
  EXPECT_EQ(ran, 1);
  boost::asio::post(loop.context(), [&] { ++ran; loop.stop(); });
  boost::asio::post(loop.context(), [&] { ++ran; });
  loop.run();
  EXPECT_EQ(ran, 2);
  loop.run();  // starts afresh after stop
  EXPECT_EQ(ran, 3);
}

}  // namespace
}  // namespace pellora::hosting
