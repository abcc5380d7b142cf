// SPDX-License-Identifier: MIT
#pragma once
// Opening a web address in the user's default browser, through xdg-open.
//
// The opener is started directly with posix_spawn: no shell ever sees the
// address, which reaches the opener as one argument, whatever characters it
// holds. The call waits for the opener, which hands the address to the browser
// and exits, so that its answer can be reported and no child is left behind.
#include <string>

namespace pellora::hosting {

// Opens `address` with the desktop's opener (`xdg-open`, found on PATH). Returns
// true when the opener accepted it (exit status 0). Refuses, without starting
// anything, an empty address, one beginning with '-' (which the opener would
// take for an option) and one holding a NUL byte.
bool OpenUrlInBrowser(const std::string& address);

// The same with another opener program: a path, or a name looked up on PATH.
// The program is run as `program address`.
bool LaunchOpener(const std::string& program, const std::string& address);

}  // namespace pellora::hosting
