// SPDX-License-Identifier: MIT
// The search for the first frame and the Xing/Info/VBRI headers read from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tags/frame_search.h"
#include "tags/vbr_header.h"

namespace pellora::tags::mpeg {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct SearchOutcome {
  std::optional<std::int64_t> sync;
  std::optional<HeaderBytes> last_header;
  bool operator==(const SearchOutcome&) const = default;
};

SearchOutcome SearchInWindows(const Bytes& file, std::int64_t start, std::int64_t end, std::size_t window) {
  FrameSearch search(start, end);
  while (!search.Done()) {
    const std::int64_t at = search.NextOffset();
    const std::size_t n = std::size_t(std::min<std::int64_t>(std::int64_t(window), search.Remaining()));
    search.Feed(std::span(file).subspan(std::size_t(at), n));
  }
  SearchOutcome out;
  if (search.Found()) out.sync = search.Found()->sync;
  if (search.LastCandidate()) out.last_header = search.LastCandidate()->header;
  return out;
}

// The search as the format's reference procedure runs it: 20,480-byte chunks and
// a fresh read of the bytes after every candidate 0xFF. 1-based positions.
SearchOutcome ReferenceSearch(const Bytes& file, std::int64_t start0, std::int64_t end0) {
  const std::int64_t e = end0;  // last audio position
  SearchOutcome out;
  for (std::int64_t c = start0 + 1; c <= e; c += 20480) {
    const std::int64_t chunk_len = std::min<std::int64_t>(20480, e - c + 1);
    std::int64_t i = 0;
    for (;;) {
      std::int64_t idx = i + 1;
      while (idx <= chunk_len && file[std::size_t(c + idx - 2)] != 0xFF) ++idx;
      if (idx > chunk_len) break;
      i = idx;
      const std::int64_t h = c + i;  // position after the 0xFF
      if (e - h + 1 < 3) { i = idx; continue; }  // no whole header before the end: no candidate
      HeaderBytes header{file[std::size_t(h - 1)], file[std::size_t(h)], file[std::size_t(h + 1)]};
      out.last_header = header;
      if (header[0] < 0xE0) continue;
      i += 3;
      if (!IsPlausible(header)) continue;
      out.sync = h - 2;  // back to a 0-based offset of the 0xFF
      return out;
    }
  }
  return out;
}

struct SearchCase {
  const char* name;
  Bytes file;
  std::int64_t start;
  std::optional<std::int64_t> sync;
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Zeros(std::size_t n) { return Bytes(n, 0); }
const Bytes kFrame = {0xFF, 0xFB, 0x90, 0x64};

// A rejected candidate three bytes before a piece's end skips only to that end,
// where a frame starts.
Bytes RejectedAtPieceEnd() {
  Bytes file = Concat({Zeros(20477), {0xFF, 0xFF, 0xF0}, kFrame, Zeros(200)});
  return file;
}

class FirstFrame : public ::testing::TestWithParam<SearchCase> {};

TEST_P(FirstFrame, IsFoundWhereTheReferenceFindsIt) {
  const SearchCase& c = GetParam();
  const auto end = std::int64_t(c.file.size());
  const SearchOutcome whole = SearchInWindows(c.file, c.start, end, c.file.size());
  EXPECT_EQ(whole.sync, c.sync);
  EXPECT_EQ(whole, ReferenceSearch(c.file, c.start, end));
  for (std::size_t window : {4, 5, 7, 13, 4096, 20480, 20483})
    EXPECT_EQ(SearchInWindows(c.file, c.start, end, window), whole) << "window " << window;
}

INSTANTIATE_TEST_SUITE_P(Cases, FirstFrame, ::testing::Values(
    SearchCase{"BareFrameAtStart", Concat({kFrame, Zeros(100)}), 0, 0},
    SearchCase{"AfterATag", Concat({Zeros(100), kFrame, Zeros(896), kFrame, Zeros(10)}), 1000, 1000},
    // FF FF FB 90 64: the first 0xFF reads FF FB 90 (forbidden bit rate); the three
    // bytes after it, with the real header, are skipped.
    SearchCase{"RejectedCandidateSkipsThreeBytes", Concat({{0xFF}, kFrame, {0}, kFrame}), 0, 6},
    SearchCase{"NoSyncBitsMovesOneByte", Concat({{0xFF, 0x12}, kFrame, Zeros(4)}), 0, 2},
    SearchCase{"OnlyZeros", Zeros(5000), 0, std::nullopt},
    SearchCase{"HeaderCutByTheEnd", {0x00, 0xFF, 0xFB, 0x90}, 0, std::nullopt},
    SearchCase{"SkipStopsAtPieceEnd", RejectedAtPieceEnd(), 0, 20480},
    SearchCase{"SkipStopsAtPieceEndAfterStart", Concat({Zeros(37), RejectedAtPieceEnd()}), 37, 20517},
    SearchCase{"FrameInSecondPiece", Concat({Zeros(30000), kFrame, Zeros(10)}), 3, 30000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FirstFrame, RandomFilesAgreeWithTheReference) {
  std::mt19937 rng(20260);
  // Bytes that make candidates, plausible headers and rejected ones frequent.
  const Bytes alphabet = {0xFF, 0xFF, 0xFB, 0xF0, 0x90, 0x64, 0x00, 0xE3, 0xEB, 0x66, 0x12, 0xFE};
  for (int round = 0; round < 300; ++round) {
    Bytes file(std::uniform_int_distribution<std::size_t>(1, 45000)(rng));
    const bool sparse = round % 2 == 0;  // long runs without 0xFF reach later pieces
    for (auto& b : file)
      b = sparse && rng() % 512 != 0 ? 0 : alphabet[rng() % alphabet.size()];
    const auto end = std::int64_t(file.size());
    const auto start = std::int64_t(rng() % file.size());
    const SearchOutcome expected = ReferenceSearch(file, start, end);
    for (std::size_t window : {4, 9, 1000, 65536})
      ASSERT_EQ(SearchInWindows(file, start, end, window), expected) << "round " << round << " window " << window;
  }
}

// --- Xing / Info / VBRI ---

void PutNumber(Bytes& frame, std::size_t byte_index, std::uint32_t value, int count) {
  for (int k = count - 1; k >= 0; --k, value >>= 8) frame[byte_index - 1 + std::size_t(k)] = std::uint8_t(value);
}

// Bytes after the 0xFF of a frame with `header`, holding a Xing-style header with
// tag `tag` and flags 0F at `tag_at`.
Bytes XingFrame(const HeaderBytes& header, std::size_t tag_at, const char* tag) {
  Bytes frame(kVbrHeaderSpan, 0);
  std::copy(header.begin(), header.end(), frame.begin());
  std::copy(tag, tag + 4, frame.begin() + std::ptrdiff_t(tag_at) - 1);
  frame[tag_at + 7 - 1] = 0x0F;
  PutNumber(frame, tag_at + 8, 1234, 4);
  PutNumber(frame, tag_at + 12, 567890, 4);
  for (std::size_t k = 0; k < 100; ++k) frame[tag_at + 16 - 1 + k] = std::uint8_t(k + 1);
  if (tag_at + 116 + 3 <= frame.size()) PutNumber(frame, tag_at + 116, 78, 4);
  return frame;
}

TEST(VbrHeaders, XingWithAllFieldsInAStereoMpeg1Frame) {
  const HeaderBytes header = {0xFB, 0x90, 0x64};
  const VbrHeaders h = ReadVbrHeaders(XingFrame(header, 36, "Xing"), header);
  EXPECT_TRUE(h.is_vbr);
  EXPECT_EQ(h.frames, 1234);
  EXPECT_EQ(h.bytes, 567890);
  ASSERT_EQ(h.toc.size(), 100u);
  EXPECT_EQ(h.toc.front(), 1);
  EXPECT_EQ(h.toc.back(), 100);
  EXPECT_EQ(h.quality, 78);
  EXPECT_EQ(h.length, 120);
}

TEST(VbrHeaders, InfoStoresTheSameButStaysConstant) {
  const HeaderBytes header = {0xFB, 0x90, 0x64};
  const VbrHeaders h = ReadVbrHeaders(XingFrame(header, 36, "Info"), header);
  EXPECT_FALSE(h.is_vbr);
  EXPECT_EQ(h.frames, 1234);
  EXPECT_EQ(h.quality, 78);
  EXPECT_EQ(h.length, 120);
}

TEST(VbrHeaders, XingPlaceFollowsVersionAndChannels) {
  struct Place { HeaderBytes header; std::size_t tag_at; };
  for (const Place& p : {Place{{0xFB, 0x90, 0xC4}, 21}, Place{{0xF3, 0x80, 0x64}, 21},
                         Place{{0xF3, 0x80, 0xC4}, 13}, Place{{0xE3, 0x80, 0x04}, 21}}) {
    const VbrHeaders h = ReadVbrHeaders(XingFrame(p.header, p.tag_at, "XING"), p.header);
    EXPECT_TRUE(h.is_vbr) << p.tag_at;
    EXPECT_EQ(h.frames, 1234) << p.tag_at;
    // The stereo MPEG-1 place holds nothing for the other layouts.
    EXPECT_FALSE(ReadVbrHeaders(XingFrame(p.header, p.tag_at, "Xing"), {0xFB, 0x90, 0x64}).is_vbr);
  }
}

TEST(VbrHeaders, FieldsCutByTheEndStayZeroButCount) {
  const HeaderBytes header = {0xFB, 0x90, 0x64};
  Bytes frame = XingFrame(header, 36, "Xing");
  frame.resize(50);  // holds the frame count (frame bytes 44-47), not the byte count
  const VbrHeaders h = ReadVbrHeaders(frame, header);
  EXPECT_TRUE(h.is_vbr);
  EXPECT_EQ(h.frames, 1234);
  EXPECT_EQ(h.bytes, 0);
  EXPECT_TRUE(h.toc.empty());
  EXPECT_EQ(h.quality, 0);
  EXPECT_EQ(h.length, 120);
}

TEST(VbrHeaders, FlagsSelectTheFields) {
  const HeaderBytes header = {0xFB, 0x90, 0x64};
  Bytes frame(kVbrHeaderSpan, 0);
  std::copy_n("Xing", 4, frame.begin() + 35);
  frame[42] = 0x0A;                 // byte count and quality only
  PutNumber(frame, 44, 0xFFFFFFFE, 4);  // two's complement: -2
  PutNumber(frame, 48, 99, 4);
  const VbrHeaders h = ReadVbrHeaders(frame, header);
  EXPECT_EQ(h.frames, 0);
  EXPECT_EQ(h.bytes, -2);
  EXPECT_EQ(h.quality, 99);
  EXPECT_EQ(h.length, 16);
}

TEST(VbrHeaders, VbriWithATableOf100TwoByteEntries) {
  const HeaderBytes header = {0xFB, 0x90, 0x64};
  Bytes frame(kVbrHeaderSpan, 0);
  std::copy_n("VBRI", 4, frame.begin() + 35);
  PutNumber(frame, 44, 75, 2);
  PutNumber(frame, 46, 3000000, 4);
  PutNumber(frame, 50, 7000, 4);
  PutNumber(frame, 54, 100, 2);
  PutNumber(frame, 58, 2, 2);
  const VbrHeaders h = ReadVbrHeaders(frame, header);
  EXPECT_TRUE(h.is_vbr);
  EXPECT_EQ(h.quality, 75);
  EXPECT_EQ(h.bytes, 3000000);
  EXPECT_EQ(h.frames, 7000);
  EXPECT_EQ(h.vbri_toc_entries, 100);
  EXPECT_EQ(h.vbri_toc_entry_size, 2);
  EXPECT_EQ(h.length, 226);
}

TEST(VbrHeaders, PlainFrameHasNone) {
  const VbrHeaders h = ReadVbrHeaders(Bytes(kVbrHeaderSpan, 0x55), {0xFB, 0x90, 0x64});
  EXPECT_FALSE(h.is_vbr);
  EXPECT_EQ(h.length, 0);
  EXPECT_EQ(ReadVbrHeaders({}, {0xFB, 0x90, 0x64}).length, 0);
}

}  // namespace
}  // namespace pellora::tags::mpeg
