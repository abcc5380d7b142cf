// SPDX-License-Identifier: MIT
#pragma once
// The properties of a tag store as one JSON object, for `pellora tags --json` and
// every other subcommand that shows a file's tags.
//
// Keys are the property names, in this order: the text items in their declared
// order, GenreID, FileName, the four existence flags, ID3RevisionV2, the MPEG
// properties (Layer … length) and the scan's analysis values (FrameHeader …
// VbriTocEntrySize). Text is UTF-8 of the 16-bit text (a lone surrogate becomes
// U+FFFD); FileName is the bytes of the name, which need not be UTF-8 (JsonText
// writes a stray byte as \udcXX); FrameHeader is six hex digits; a non-finite
// number is the string "Infinity", "-Infinity" or "NaN"; FrameSize is null when it
// has no value. Print it with JsonText, not dump().
#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

#include "tags/id3.h"

namespace pellora::cli {

nlohmann::ordered_json TagsToJson(const tags::clsID3& id3);

// The same properties as (name, text) rows, for a table: numbers in their JSON
// shortest form, text as it is (UTF-8).
std::vector<std::pair<std::string, std::string>> TagsToRows(const tags::clsID3& id3);

}  // namespace pellora::cli
