// SPDX-License-Identifier: MIT
// The weekly windows in a fixed zone (Europe/Berlin, TZ set by the test): weekdays,
// windows over midnight, overlapping windows, and both DST changes of 2026
// (29 March: 02:00 CET jumps to 03:00 CEST; 25 October: 03:00 CEST falls back to
// 02:00 CET, so 02:00-02:59 is shown twice).
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "hosting/event_loop.h"
#include "service/schedule.h"
#include "service/station_runtime.h"

namespace {

using pellora::service::CurrentOrNextWindow;
using pellora::service::IsOpen;
using pellora::service::ParseSchedule;

// "2026-12-07T19:00" in UTC.
std::time_t Utc(const char* text) {
  std::tm tm{};
  ::strptime(text, "%Y-%m-%dT%H:%M", &tm);
  return ::timegm(&tm);
}

class ScheduleInBerlin : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    saved_ = old ? old : "";
    had_ = old != nullptr;
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
  }
  void TearDown() override {
    if (had_) ::setenv("TZ", saved_.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

struct WindowCase {
  const char* when;
  const char* now;    // UTC
  const char* start;  // UTC, the window open at `now` or the next one
  const char* end;
  bool open;
};

TEST_F(ScheduleInBerlin, FindsTheWindowOpenNowOrNext) {
  const WindowCase cases[] = {
      // 2026-12-07 is a Monday; CET is UTC+1.
      {"Mon,Wed 20:00-22:00", "2026-12-07T18:30", "2026-12-07T19:00", "2026-12-07T21:00", false},
      {"Mon,Wed 20:00-22:00", "2026-12-07T19:30", "2026-12-07T19:00", "2026-12-07T21:00", true},
      {"Mon,Wed 20:00-22:00", "2026-12-07T21:00", "2026-12-09T19:00", "2026-12-09T21:00", false},
      {"mon-fri 06:00-09:00", "2026-12-12T10:00", "2026-12-14T05:00", "2026-12-14T08:00", false},
      {"Sat-Mon 12:00-13:00", "2026-12-08T12:00", "2026-12-12T11:00", "2026-12-12T12:00", false},
      // Over midnight: the Friday window is still open on Saturday morning.
      {"Fri 23:30-01:00", "2026-12-11T23:15", "2026-12-11T22:30", "2026-12-12T00:00", true},
      {"Sun 22:00-24:00", "2026-12-13T22:59", "2026-12-13T21:00", "2026-12-13T23:00", true},
      // ... and the Sunday one on Monday morning, across the week's end.
      {"Sun 23:00-01:00", "2026-12-13T23:30", "2026-12-13T22:00", "2026-12-14T00:00", true},
      {"Sun 23:00-01:00", "2026-12-14T00:00", "2026-12-20T22:00", "2026-12-21T00:00", false},
      // Overlapping and touching windows make one recording.
      {"Tue 20:00-22:00; Tue 21:00-23:00", "2026-12-08T20:30", "2026-12-08T19:00", "2026-12-08T22:00", true},
      {"Tue 20:00-21:00; Tue 21:00-22:00", "2026-12-08T18:00", "2026-12-08T19:00", "2026-12-08T21:00", false},
      // Spring: a window across the jump lasts an hour less.
      {"Sun 01:30-03:30", "2026-03-28T12:00", "2026-03-29T00:30", "2026-03-29T01:30", false},
      // ... one starting in the skipped hour starts at the jump ...
      {"Sun 02:30-04:00", "2026-03-29T00:59", "2026-03-29T01:00", "2026-03-29T02:00", false},
      // ... and one inside it is empty that night: the next Sunday's comes next.
      {"Sun 02:00-02:45", "2026-03-28T12:00", "2026-04-05T00:00", "2026-04-05T00:45", false},
      // Autumn: a window across the fall lasts an hour more ...
      {"Sun 01:00-04:00", "2026-10-25T00:30", "2026-10-24T23:00", "2026-10-25T03:00", true},
      // ... and one inside the repeated hour holds both of its occurrences.
      {"Sun 02:15-02:45", "2026-10-25T01:30", "2026-10-25T00:15", "2026-10-25T01:45", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.when) + " at " + c.now);
    const auto parsed = ParseSchedule(c.when);
    ASSERT_TRUE(parsed.schedule) << parsed.error;
    const auto window = CurrentOrNextWindow(*parsed.schedule, Utc(c.now));
    ASSERT_TRUE(window);
    EXPECT_EQ(window->start, Utc(c.start));
    EXPECT_EQ(window->end, Utc(c.end));
    EXPECT_EQ(IsOpen(*parsed.schedule, Utc(c.now)), c.open);
  }
}

// The machine's zone changed while the service runs (here TZ, without the
// tzset() that would make the process read it): a station's next window follows
// within the hour.
TEST_F(ScheduleInBerlin, AStationFollowsAChangeOfTheZone) {
  pellora::hosting::EventLoop loop;
  pellora::service::StationConfig config;
  config.name = "A";
  config.url = "http://127.0.0.1:9/";
  config.schedule = *ParseSchedule("Mon 20:00-22:00").schedule;
  pellora::service::StationRuntime station(loop, config, nullptr, [] {}, [](const pellora::service::SavedEntry&) {});
  station.Tick(Utc("2026-12-07T12:00"));
  ASSERT_TRUE(station.window());
  EXPECT_EQ(station.window()->start, Utc("2026-12-07T19:00"));
  ::setenv("TZ", "America/New_York", 1);
  station.Tick(Utc("2026-12-07T13:00"));
  ASSERT_TRUE(station.window());
  EXPECT_EQ(station.window()->start, Utc("2026-12-08T01:00"));
}

TEST_F(ScheduleInBerlin, AlwaysIsOpenWithoutWindows) {
  const auto parsed = ParseSchedule(" Always ");
  ASSERT_TRUE(parsed.schedule);
  EXPECT_TRUE(IsOpen(*parsed.schedule, Utc("2026-12-07T00:00")));
  EXPECT_FALSE(CurrentOrNextWindow(*parsed.schedule, Utc("2026-12-07T00:00")));
}

TEST(ScheduleText, RefusesWhatIsNotAWindowAndSaysWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"Mon 20:00", "bad times \"20:00\""},
      {"Xyz 20:00-22:00", "bad days \"Xyz\""},
      {"Mon 25:00-26:00", "bad times"},
      {"Mon 20:60-21:00", "bad times"},
      {"Mon 20:00-20:00", "is empty"},
      {"Mon 24:00-01:00", "bad times"},
      {"20:00-22:00", "is not a window"},
      {"Mon 20:00-22:00;", "is not a window"},
  };
  for (const auto& [text, reason] : cases) {
    const auto parsed = ParseSchedule(text);
    EXPECT_FALSE(parsed.schedule) << text;
    EXPECT_NE(parsed.error.find(reason), std::string::npos) << text << ": " << parsed.error;
  }
}

}  // namespace
