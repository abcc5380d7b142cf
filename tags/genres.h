// SPDX-License-Identifier: MIT
#pragma once
// The genre table: the ID3v1 genre numbers 0..147, the ID3v2 refinements -2
// ("Cover") and -1 ("Remix"), and 255 ("Unknown"). clsID3::GenreName and
// clsID3::ToGenreID are these functions.
#include <cstdint>
#include <string>
#include <string_view>

namespace pellora::tags {

// The table text of a genre number; empty for numbers without an entry (below -2,
// 148..254, above 255).
std::u16string GenreName(std::int32_t genre_id);

// The number of a free genre text by a tolerant comparison (NormalizeGenre on both
// sides): 255 for blank text, the first entry whose key matches, else 12 ("Other").
std::int32_t ToGenreID(std::u16string_view genre);

// The comparison key of a genre text: removes "/", then " and " (lower-case word
// only), "&", "-", "+" and blanks, in that order, then lower-cases ASCII letters.
// Letters outside ASCII are kept as they are; no table text contains one.
std::u16string NormalizeGenre(std::u16string_view text);

}  // namespace pellora::tags
