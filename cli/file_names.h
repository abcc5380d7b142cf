// SPDX-License-Identifier: MIT
#pragma once
// File names for recordings made from what a station says about itself.
#include <string>
#include <string_view>

namespace pellora::cli {

// A file name (without extension) from a station's name, safe on any file system:
// the name decoded as UTF-8 when valid (else Latin-1) and stored as UTF-8; path
// separators, control characters and the characters Windows forbids (\ : * ? " < > |)
// become '_'; blanks and dots are trimmed at both ends; at most 100 bytes, cut on a
// character boundary. A station without a usable name is named after the host and
// port of `url` ("127.0.0.1_8000"), or "stream".
std::string SafeFileName(std::string_view station_name, std::string_view url);

// The name under which a download of `url` is saved in a folder: the last segment
// of the URL's path, percent-decoded and made safe as SafeFileName makes it
// ("a%20b.mp3?x=1" gives "a b.mp3"); a URL without one is named after its host
// and port, or "download".
std::string FileNameOfUrl(std::string_view url);

// Gives a file made private by an exclusive temporary-file maker the permissions
// of an ordinary new file (0666 less the umask).
void MakeOrdinaryFile(const std::string& path);

// ".mp3" for audio/mpeg, ".aac" for AAC, ".ogg" for Ogg, ".mp3" for anything else.
std::string ExtensionForContentType(std::string_view content_type);

}  // namespace pellora::cli
