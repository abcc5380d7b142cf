// SPDX-License-Identifier: MIT
#pragma once
// What a song is called: artist and title from the stream title, the file name
// from a template, and the wish and ignore lists of titles.
#include <string>
#include <string_view>
#include <vector>

namespace pellora::songs {

struct SongTitle {
  std::string artist;  // empty when the stream title has no " - "
  std::string title;
};

// "Artist - Title" split at the first " - ", both parts trimmed; without the
// separator the whole text is the title.
SongTitle SplitStreamTitle(std::string_view stream_title);

// The values a name template can use.
struct NameFields {
  std::string artist, title, station;
  unsigned number = 0;  // the song's number in this session
  std::string date;     // YYYY-MM-DD
  std::string time;     // HH-MM-SS (no colon: it is not allowed in every file system)
};

// Expands {artist}, {title}, {station}, {n}, {date} and {time}; any other text
// stays as written. A song without an artist drops the " - " that would follow
// an empty {artist} at the start, one without a title the " - " before an empty
// {title} at the end.
std::string ExpandNameTemplate(std::string_view name_template, const NameFields& fields);

// What is wrong with a name template, for a person to read after the option's
// name ("must not be empty", "has an unknown placeholder {x} …"); empty when
// nothing is.
std::string NameTemplateProblem(std::string_view name_template);

// True when `text` matches the shell-style `pattern` (*, ?, [...]) without
// regard to case (ASCII and Latin letters of UTF-8 alike).
bool MatchesPattern(std::string_view pattern, std::string_view text);

// Whether a song with this stream title is saved: not when the title names
// neither an artist nor a title (empty, blank, " - "), not when it matches one
// of `skip`, and, when `only` is not empty, only when it matches one of `only`.
bool WantSong(std::string_view stream_title, const std::vector<std::string>& only,
              const std::vector<std::string>& skip);

}  // namespace pellora::songs
