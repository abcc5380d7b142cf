// SPDX-License-Identifier: MIT
#pragma once
// The check of every option that takes a number of seconds (`--duration`,
// `--stall-timeout`, `--timeout`, `--pad-before`): from a least value to a
// most (a year unless said), so that 1e300, negative values, NaN and infinities
// are usage errors, not overflows.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace pellora::cli {

inline constexpr double kLongestSeconds = 366.0 * 24 * 3600;

// A bound as people write it: 31622400, not 3.16224e+07.
inline std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", seconds);
  return text;
}

inline CLI::Validator Seconds(double least, double most = kLongestSeconds) {
  return CLI::Validator(
      [least, most](std::string& input) -> std::string {
        double value = 0;
        if (!CLI::detail::lexical_cast(input, value) || !(value >= least && value <= most))
          return "must be a number of seconds from " + SecondsText(least) + " to " + SecondsText(most);
        return {};
      },
      "SECONDS");
}

}  // namespace pellora::cli
