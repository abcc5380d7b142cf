// SPDX-License-Identifier: MIT
#pragma once
// The one-line reason and exit status of a stream that failed, for `record` and
// `probe`: what the control reported, told with what the server really answered.
#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/torvane.h"
#include "cli/exit_codes.h"

namespace pellora::cli {

// Why a stream failed: the exit status it stands for and a line for a person
// (UTF-8; text from the network in it is not yet escaped for a terminal).
struct StreamFailure {
  int exit_code = kExitOk;
  std::string message;
};

// A stream error event (not a redirection, not a file error) as a failure.
// `first_line` is the first line the server sent, as bytes ("" when none), and
// `says` what a refusing web server's plain-text body says ("" when nothing):
//   socket error          -> network, e.g. "Connection refused (111)"
//   unusable URL          -> usage, the control's text
//   ICY 400/401/403/404   -> refused, "the server refused the stream: ICY 404 Not Found"
//   bad body              -> network, "the server sent a malformed chunked body"
//   bad server, HTTP line -> refused, "the server answered \"HTTP/1.1 404 Not Found\"",
//                            or "... \"HTTP/1.0 403 Forbidden\" (\"max listeners reached\")"
//   bad server, else      -> network, "not a stream server (it answered \"SOURCE OK\")"
StreamFailure DescribeStreamError(capture::EErrType type, std::int32_t code, const std::string& description,
                                  const std::string& first_line, const std::string& says);

// Where a redirection leads: `location` (the Location field, bytes) resolved
// against `request_url`, the URL that answered with it. `failure` says why it is
// not followed (exit code refused): the status in `first_line` is not 301, 302,
// 303, 307 or 308 (a 300 or 304 that carries a Location is quoted as any other
// answer), or the target cannot be connected to ("redirected to ftp://h/x
// (Invalid stream URL: ...)").
struct Redirection {
  std::string target;
  StreamFailure failure;
};
Redirection FollowRedirection(const std::string& location, const std::string& request_url,
                              const std::string& first_line);

// Every entry of a playlist failed. The line names the URL given, the playlist,
// so the message says which entry failed last and why: "no entry of the playlist
// P answered (the last, E: ...)", or "(the only one, E: ...)".
std::string NoPlaylistEntryAnswered(const std::string& playlist_url, std::size_t entries,
                                    const std::string& last_entry, const std::string& message);

// The answer was refused for what it is: "not an audio stream (Content-Type: text/html)".
StreamFailure NotAudio(const std::string& content_type);

}  // namespace pellora::cli
