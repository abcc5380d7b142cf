// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes, as the content of a file, through UpdateID3Tags and
// DeleteID3Tags, and checks what must hold of any file: the rewrite succeeds on a
// writable file, and the audio between the old tags reaches the new file byte for
// byte (the whole new file after a removal; after the new ID3v2 tag after an
// update), the new tag declares its true size, and the output is bounded by the
// input and the values set. Where the audio lies is worked out here once more,
// independently of the tag store, from the tag markers at both ends.
//
// The first two input bytes choose the operation and the items to set; the rest
// is the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/memory_file.h"
#include "tags/id3.h"

namespace {

using pellora::tags::clsID3;

void Check(bool holds) {
  if (!holds) std::abort();
}

std::int64_t Synchsafe(std::string_view four) {
  std::int64_t value = 0;
  for (char c : four) value = value * 128 + static_cast<std::uint8_t>(c);
  return value;
}

bool IsHeader(std::string_view f) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(f[i]); };
  return f.size() >= 10 && f.starts_with("ID3") && byte(3) < 255 && byte(4) < 255 && byte(6) < 128 &&
         byte(7) < 128 && byte(8) < 128 && byte(9) < 128;
}

// The audio of a file: after an ID3v2 tag (and footer), before a Lyrics3 block and
// an ID3v1 record.
// Where the ID3v2 tag (and its footer) of a file with a tag header claims to end.
std::size_t TagEnd(std::string_view f) {
  const bool footer = static_cast<std::uint8_t>(f[3]) >= 4 && (f[5] & 0x10);
  return std::size_t(10 + Synchsafe(f.substr(6, 4)) + (footer ? 10 : 0));
}

std::string_view AudioOf(std::string_view f) {
  const auto n = std::int64_t(f.size());
  std::int64_t start = 0;
  if (IsHeader(f)) start = std::int64_t(TagEnd(f));
  std::int64_t end = n >= 128 && f.substr(n - 128, 3) == "TAG" ? n - 128 : n;
  if (end >= 15 && f.substr(end - 9, 9) == "LYRICS200") {
    std::string_view digits = f.substr(end - 15, 6);  // some writers pad with blanks
    while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == ' ') digits.remove_suffix(1);
    if (!digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      const std::int64_t block = end - 15 - std::stoll(std::string(digits));
      if (block >= 0 && block >= start && f.substr(block, 11) == "LYRICSBEGIN") end = block;
    }
  } else if (end >= 9 && f.substr(end - 9, 9) == "LYRICSEND") {
    const std::int64_t from = std::max({std::int64_t(0), start, end - 5120});
    const auto at = from < end - 9 ? f.substr(from, end - 9 - from).rfind("LYRICSBEGIN") : std::string_view::npos;
    if (at != std::string_view::npos) end = from + std::int64_t(at);
  }
  start = std::min(start, n);
  end = std::max(end, start);
  return f.substr(start, end - start);
}

std::string Contents(const pellora::fuzz::MemoryFile& file) {
  std::string out;
  char buffer[65536];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(file.Descriptor(), buffer, sizeof buffer, at);
    if (n <= 0) return out;
    out.append(buffer, std::size_t(n));
    at += n;
  }
}

void SetItems(clsID3& id3, std::uint8_t choice) {
  const std::size_t length = choice & 0x3F;
  id3.Title(std::u16string(length, (choice & 0x40) ? u'\u00E9' : u'\u65E5'));
  if (choice & 0x80) {
    id3.Album(std::u16string(length, u'a'));
    id3.TrackNumber(u"7");
    id3.GenreID(-1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static pellora::fuzz::MemoryFile file("fuzz_rewrite");
  static const bool temp_set = ::setenv("TEMP", "/dev/shm", 1) == 0;
  Check(temp_set);
  const std::string_view before(reinterpret_cast<const char*>(data) + 2, size - 2);
  file.Replace(data + 2, size - 2);

  clsID3 id3;
  id3.FileName(file.Path());
  const bool update = data[0] & 1;
  if (update) {
    SetItems(id3, data[1]);
    id3.UpdateID3Tags();
  } else {
    id3.DeleteID3Tags();
  }
  const std::string after = Contents(file);
  // A tag claiming more than the file holds keeps the audio inside its claim: the
  // file is left as it was.
  if (IsHeader(before) && TagEnd(before) > before.size()) {
    Check(id3.LastRewriteOutcome() == clsID3::RewriteOutcome::DamagedTag && after == before);
    return 0;
  }
  Check(id3.LastRewriteOutcome() == clsID3::RewriteOutcome::Rewritten);

  const std::string_view audio = AudioOf(before);
  if (!update) {
    Check(after == audio);
    return 0;
  }
  Check(IsHeader(after));
  // The tag declares its own size: the audio follows right after it.
  const auto head = std::size_t(10 + Synchsafe(std::string_view(after).substr(6, 4)));
  Check(head <= after.size() && std::string_view(after).substr(head, audio.size()) == audio);
  // The output is bounded by the input and the values set: each value is written
  // once at most in the ID3v2 tag (at most four bytes a character), once in a
  // Lyrics3 block (250 bytes at most) and in the ID3v1 record, plus new padding.
  // A URL frame's characters beyond ASCII are written percent-encoded as UTF-8,
  // so one byte of the input may become six ("%C3%BF").
  const std::size_t values = id3.Title().size() + id3.Album().size() + 1 + 4;
  const auto beyond_ascii = std::size_t(
      std::count_if(before.begin(), before.end(), [](char c) { return static_cast<std::uint8_t>(c) >= 0x80; }));
  Check(after.size() <=
        before.size() + 5 * beyond_ascii + 10 + 2048 + 4 * values + 3 * 20 + 3 * (8 + 250) + 30 + 128);
  return 0;
}
