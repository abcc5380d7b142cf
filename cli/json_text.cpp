// SPDX-License-Identifier: MIT
#include "cli/json_text.h"

#include "text/text.h"

namespace pellora::cli {
namespace {

void Append(std::string& out, const nlohmann::ordered_json& value, int indent, int level) {
  const auto quoted = [&out](const std::string& text) { out += '"' + text::EscapeForJson(text) + '"'; };
  if (value.is_string()) return quoted(value.get_ref<const std::string&>());
  if (!value.is_structured()) {
    out += value.dump();
    return;
  }
  const bool object = value.is_object();
  if (value.empty()) {
    out += object ? "{}" : "[]";
    return;
  }
  const std::string inner = indent < 0 ? "" : "\n" + std::string(std::size_t(indent) * (level + 1), ' ');
  out += object ? '{' : '[';
  bool first = true;
  for (const auto& [key, member] : value.items()) {
    out += first ? inner : "," + inner;
    first = false;
    if (object) {
      quoted(key);
      out += indent < 0 ? ":" : ": ";
    }
    Append(out, member, indent, level + 1);
  }
  if (indent >= 0) out += "\n" + std::string(std::size_t(indent) * level, ' ');
  out += object ? '}' : ']';
}

}  // namespace

std::string JsonText(const nlohmann::ordered_json& value, int indent) {
  std::string out;
  Append(out, value, indent, 0);
  return out;
}

}  // namespace pellora::cli
