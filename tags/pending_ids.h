// SPDX-License-Identifier: MIT
#pragma once
// The identifiers a tag writer still has to write, in the order they are
// appended: ID3v2 frames (id3v2_writer.cpp) and Lyrics3 v2 fields
// (trailer_writer.cpp). An identifier leaves the list once its frame or field has
// been rewritten where it stood; what remains is appended at the end.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace pellora::tags {

class PendingIds {
 public:
  void Add(std::string_view id) { ids_.emplace_back(id); }

  // The list's own entry for `id`, letter case ignored, or empty text: a tag may
  // carry "tit2" where the list says "TIT2".
  std::string Entry(std::string_view id) const {
    for (const auto& entry : ids_)
      if (EqualIgnoringAsciiCase(entry, id)) return entry;
    return {};
  }

  void Leave(std::string_view id) {
    const auto it = std::find(ids_.begin(), ids_.end(), id);
    if (it != ids_.end()) ids_.erase(it);
  }

  auto begin() const { return ids_.begin(); }
  auto end() const { return ids_.end(); }

 private:
  static bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
  }

  std::vector<std::string> ids_;
};

}  // namespace pellora::tags
