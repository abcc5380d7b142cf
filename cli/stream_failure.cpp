// SPDX-License-Identifier: MIT
#include "cli/stream_failure.h"

#include "capture/stream_url.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

std::string Quoted(const std::string& bytes) { return "\"" + text::StreamTextToUtf8(bytes) + "\""; }

}  // namespace

StreamFailure DescribeStreamError(capture::EErrType type, std::int32_t code, const std::string& description,
                                  const std::string& first_line, const std::string& says) {
  const std::string told = text::StreamTextToUtf8(description);
  if (type == capture::TErr_WSock) {
    if (code == capture::kUnusableUrlError) return {kExitUsage, told};
    return {kExitNetwork, told + " (" + std::to_string(code) + ")"};
  }
  if (type != capture::TErr_Stream) return {kExitFailure, told};
  if (code == capture::Err_Stream_BadServer) {
    // "Stream Bad Server Request: malformed chunked body": the answer was fine,
    // what followed it was not.
    if (const auto colon = description.find(": "); colon != std::string::npos)
      return {kExitNetwork, "the server sent a " + text::StreamTextToUtf8(description.substr(colon + 2))};
    if (first_line.starts_with("HTTP/")) {
      const std::string why = says.empty() ? "" : " (" + Quoted(says) + ")";
      return {kExitRefused, "the server answered " + Quoted(first_line) + why};
    }
    if (first_line.empty()) return {kExitNetwork, "the server sent no status line (" + told + ")"};
    return {kExitNetwork, "not a stream server (it answered " + Quoted(first_line) + ")"};
  }
  const std::string status = first_line.starts_with("ICY ") ? text::StreamTextToUtf8(first_line) : told;
  return {kExitRefused, "the server refused the stream: " + status};
}

Redirection FollowRedirection(const std::string& location, const std::string& request_url,
                              const std::string& first_line) {
  Redirection out;
  out.target = capture::ResolveUrlReference(request_url, location);
  const auto space = first_line.find(' ');
  const std::string code = space == std::string::npos ? std::string() : first_line.substr(space + 1, 3);
  const bool redirects = code == "301" || code == "302" || code == "303" || code == "307" || code == "308";
  if (!redirects) {
    out.failure = {kExitRefused, "the server answered " + Quoted(first_line)};
  } else if (const capture::StreamUrl split = capture::SplitStreamUrl(out.target); !split.Usable()) {
    out.failure = {kExitRefused, "redirected to " + text::StreamTextToUtf8(out.target) + " (" + split.problem + ")"};
  }
  return out;
}

std::string NoPlaylistEntryAnswered(const std::string& playlist_url, std::size_t entries,
                                    const std::string& last_entry, const std::string& message) {
  return "no entry of the playlist " + playlist_url + " answered (" + (entries > 1 ? "the last" : "the only one") +
         ", " + last_entry + ": " + message + ")";
}

StreamFailure NotAudio(const std::string& content_type) {
  return {kExitRefused, "not an audio stream (Content-Type: " + text::StreamTextToUtf8(content_type) + ")"};
}

}  // namespace pellora::cli
