// SPDX-License-Identifier: MIT
#pragma once
// What a server's answer to `record` or `probe` is: an audio stream, a playlist
// that names streams, or something else (a web page, JSON ...), judged from its
// Content-Type and the URL's extension. Pure functions over the header text.
#include <string>
#include <string_view>

namespace pellora::cli {

enum class AnswerKind {
  Audio,
  Playlist,  // its text is read for the streams it names
  NotAudio,  // refused, with the content type in the message
};

// The value of header field `name` (compared without regard to case, as HTTP
// field names are), blanks trimmed; empty when absent. `header` is the response
// header as received, lines ending in CR LF (a bare LF is accepted too).
std::string HeaderField(std::string_view header, std::string_view name);

// The first line of `header`, without its line end.
std::string StatusLine(std::string_view header);

// True when the path of `url` ends in a playlist extension: .pls, .m3u, .m3u8,
// .xspf, .asx, .wax or .wvx (query and fragment ignored, any case).
bool HasPlaylistExtension(std::string_view url);

// The kind of an answer with `content_type` to a request for `url`:
//  - a playlist type (audio/x-scpls, audio/x-mpegurl, audio/mpegurl,
//    application/x-mpegurl, application/vnd.apple.mpegurl, application/xspf+xml,
//    video/x-ms-asf, video/x-ms-asx ...) is a Playlist;
//  - any other audio/ type and application/ogg are Audio;
//  - with a playlist extension in the URL, anything else is a Playlist, whose
//    text tells (web servers serve .pls files as text/plain or octet-stream);
//  - otherwise an answer without a Content-Type (ICY servers often send none) or
//    with application/octet-stream is Audio, and anything else (text/html,
//    application/json ...) is NotAudio.
AnswerKind ClassifyAnswer(std::string_view content_type, std::string_view url);

}  // namespace pellora::cli
