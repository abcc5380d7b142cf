// SPDX-License-Identifier: MIT
#pragma once
// The JSON the command line prints: nlohmann's layout, with every string escaped
// by text::EscapeForJson, so that no text from a file or a station can act on the
// terminal the JSON is shown on, and a file name that is not UTF-8 keeps its bytes.
#include <nlohmann/json.hpp>

#include <string>

namespace pellora::cli {

// `value` as JSON text: on one line when `indent` is negative, else one member a
// line indented by `indent` blanks a level, as nlohmann's dump lays it out.
std::string JsonText(const nlohmann::ordered_json& value, int indent = -1);

}  // namespace pellora::cli
