// SPDX-License-Identifier: MIT
#include "service/schedule.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>

#include "text/text.h"

namespace pellora::service {
namespace {

constexpr std::array<std::string_view, 7> kDayNames{"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
constexpr std::time_t kDay = 86400;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

using text::AsciiLower;

std::optional<int> DayIndex(std::string_view name) {
  const std::string lower = AsciiLower(Trim(name));
  for (std::size_t i = 0; i < kDayNames.size(); ++i)
    if (lower == kDayNames[i]) return int(i);
  return std::nullopt;
}

// "Mon", "Mon-Fri" (may wrap: "Sat-Mon"), "daily"; comma separated.
std::optional<std::uint8_t> ParseDays(std::string_view text) {
  std::uint8_t days = 0;
  while (!text.empty()) {
    const auto comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    if (AsciiLower(item) == "daily") {
      days |= 0x7F;
      continue;
    }
    const auto dash = item.find('-');
    const auto first = DayIndex(item.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : DayIndex(item.substr(dash + 1));
    if (!first || !last) return std::nullopt;
    for (int d = *first;; d = (d + 1) % 7) {
      days |= std::uint8_t(1u << d);
      if (d == *last) break;
    }
  }
  return days == 0 ? std::nullopt : std::optional(days);
}

// "HH:MM" or "HH:MM:SS", 00:00 … 24:00, as seconds after midnight.
std::optional<int> ParseTime(std::string_view text) {
  text = Trim(text);
  if ((text.size() != 5 && text.size() != 8) || text[2] != ':' || (text.size() == 8 && text[5] != ':'))
    return std::nullopt;
  int parts[3] = {0, 0, 0};
  for (std::size_t i = 0; i < text.size(); i += 3) {
    if (!std::isdigit(static_cast<unsigned char>(text[i])) || !std::isdigit(static_cast<unsigned char>(text[i + 1])))
      return std::nullopt;
    parts[i / 3] = (text[i] - '0') * 10 + (text[i + 1] - '0');
  }
  const auto [hours, minutes, seconds] = parts;
  if (minutes > 59 || seconds > 59 || hours > 24 || (hours == 24 && (minutes != 0 || seconds != 0)))
    return std::nullopt;
  return (hours * 60 + minutes) * 60 + seconds;
}

std::optional<WeeklyWindow> ParseWindow(std::string_view text, std::string& error) {
  const auto blank = text.find_last_of(" \t");
  if (blank == std::string_view::npos) {
    error = "\"" + std::string(text) + "\" is not a window such as \"Mon,Wed 20:00-22:00\"";
    return std::nullopt;
  }
  const auto days = ParseDays(text.substr(0, blank));
  if (!days) {
    error = "bad days \"" + std::string(Trim(text.substr(0, blank))) + "\" (Mon … Sun, ranges such as Mon-Fri, daily)";
    return std::nullopt;
  }
  const std::string_view times = text.substr(blank + 1);
  const auto dash = times.find('-');
  const auto start = ParseTime(times.substr(0, dash));
  const auto end = dash == std::string_view::npos ? std::nullopt : ParseTime(times.substr(dash + 1));
  if (!start || !end || *start == 86400 || *end == 0) {
    error = "bad times \"" + std::string(times) + "\" (HH:MM-HH:MM or HH:MM:SS, 00:00 to 24:00)";
    return std::nullopt;
  }
  if (*start == *end) {
    error = "the window \"" + std::string(times) + "\" is empty";
    return std::nullopt;
  }
  return WeeklyWindow{*days, *start, *end};
}

long OffsetAt(std::time_t t) {
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return tm.tm_gmtoff;
}

using std::chrono::sys_days;
using std::chrono::year_month_day;

year_month_day LocalDate(std::time_t t) {
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return year_month_day{std::chrono::year{tm.tm_year + 1900}, std::chrono::month(unsigned(tm.tm_mon + 1)),
                        std::chrono::day(unsigned(tm.tm_mday))};
}

std::time_t Instant(sys_days date, int second, bool latest) {
  const year_month_day ymd{date};
  return LocalInstant(int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()), second, latest);
}

}  // namespace

ScheduleParse ParseSchedule(std::string_view text) {
  Schedule schedule;
  if (text::AsciiLower(Trim(text)) == "always") {
    schedule.always = true;
    return {schedule, {}};
  }
  std::string error;
  while (true) {
    const auto semicolon = text.find(';');
    const std::string_view part = Trim(text.substr(0, semicolon));
    const auto window = ParseWindow(part, error);
    if (!window) return {std::nullopt, error};
    schedule.windows.push_back(*window);
    if (semicolon == std::string_view::npos) break;
    text = text.substr(semicolon + 1);
  }
  return {schedule, {}};
}

// The wall-clock reading W (as seconds of a naive calendar) is shown at the instants
// t with t + offset(t) == W. Within a day of W only the offsets on either side of
// one transition can be in force, so those two give every candidate.
std::time_t LocalInstant(int year, unsigned month, unsigned day, int second, bool latest) {
  const auto date = sys_days{std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day}};
  const std::time_t wall = std::time_t(date.time_since_epoch().count()) * kDay + second;
  const std::array<std::time_t, 2> candidates{wall - OffsetAt(wall - kDay), wall - OffsetAt(wall + kDay)};
  std::optional<std::time_t> found;
  for (const auto t : candidates) {
    if (t + OffsetAt(t) != wall) continue;
    if (!found || (latest ? t > *found : t < *found)) found = t;
  }
  if (found) return *found;
  // Skipped by a jump forward: the first instant after the jump.
  std::time_t before = std::min(candidates[0], candidates[1]);
  std::time_t after = std::max(candidates[0], candidates[1]);
  const long offset_after = OffsetAt(after);
  while (after - before > 1) {
    const std::time_t middle = before + (after - before) / 2;
    (OffsetAt(middle) == offset_after ? after : before) = middle;
  }
  return after;
}

std::optional<Interval> CurrentOrNextWindow(const Schedule& schedule, std::time_t now) {
  if (schedule.always) return std::nullopt;
  const sys_days today{LocalDate(now)};
  std::vector<Interval> found;
  // Two weeks ahead: a window that the spring jump empties comes again a week later.
  for (int k = -1; k <= 14; ++k) {
    const sys_days date = today + std::chrono::days{k};
    const unsigned weekday_bit = (std::chrono::weekday{date}.c_encoding() + 6) % 7;
    for (const auto& window : schedule.windows) {
      if (!(window.days & (1u << weekday_bit))) continue;
      const sys_days end_date = window.end_second <= window.start_second ? date + std::chrono::days{1} : date;
      const Interval interval{Instant(date, window.start_second, false), Instant(end_date, window.end_second, true)};
      if (interval.end > interval.start && interval.end > now) found.push_back(interval);
    }
  }
  if (found.empty()) return std::nullopt;
  std::sort(found.begin(), found.end(), [](const Interval& a, const Interval& b) { return a.start < b.start; });
  Interval merged = found.front();
  for (const auto& next : found)
    if (next.start <= merged.end) merged.end = std::max(merged.end, next.end);
  return merged;
}

bool IsOpen(const Schedule& schedule, std::time_t now) {
  if (schedule.always) return true;
  const auto window = CurrentOrNextWindow(schedule, now);
  return window && window->start <= now;
}

}  // namespace pellora::service
