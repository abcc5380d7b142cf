// SPDX-License-Identifier: MIT
#pragma once
// When a station records: `always`, or weekly windows of local wall-clock time
// such as "Mon,Wed 20:00-22:00" or "Mon-Fri 23:30-01:00" (a window whose end is not
// after its start runs over midnight into the next day; "24:00" is the end of the
// day; "HH:MM:SS" gives seconds too). Several windows are separated by ';'.
// "daily" stands for every day.
//
// The arithmetic is pure: it takes an instant and the process's time zone (TZ) and
// answers which window is open or comes next, as instants.
//  - A window covers the wall-clock times from its start to its end on the day it
//    starts (the weekday is the start's).
//  - DST: a start or end that falls into the hour skipped in spring is the instant
//    the clock jumps (so a window inside the skipped hour is empty that night); one
//    that falls into the hour repeated in autumn is its first occurrence for a
//    start and its second for an end, so the window holds the whole repeated hour.
//  - Windows that overlap or touch are merged into one recording.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellora::service {

struct WeeklyWindow {
  std::uint8_t days = 0;  // bit 0 Monday … bit 6 Sunday
  int start_second = 0;   // seconds after local midnight, 0 … 86399
  int end_second = 0;     // 1 … 86400; not after start: the next day
  bool operator==(const WeeklyWindow&) const = default;
};

struct Schedule {
  bool always = false;
  std::vector<WeeklyWindow> windows;
  bool operator==(const Schedule&) const = default;
};

// One occurrence of a window: the instants [start, end).
struct Interval {
  std::time_t start = 0;
  std::time_t end = 0;
  bool operator==(const Interval&) const = default;
};

struct ScheduleParse {
  std::optional<Schedule> schedule;
  std::string error;  // why the text was refused
};

ScheduleParse ParseSchedule(std::string_view text);

// The window open at `now` (start <= now < end), else the next one to open; none
// for `always` or an empty schedule.
std::optional<Interval> CurrentOrNextWindow(const Schedule& schedule, std::time_t now);

// Whether the station should record at `now`.
bool IsOpen(const Schedule& schedule, std::time_t now);

// The instant at which the local wall-clock reads the date and time given (see
// the DST rules above); `latest` picks the second of two occurrences.
std::time_t LocalInstant(int year, unsigned month, unsigned day, int second, bool latest);

}  // namespace pellora::service
