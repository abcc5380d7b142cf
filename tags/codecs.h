// SPDX-License-Identifier: MIT
#pragma once
// The byte and text conversions that the tag readers and writers share. Pure
// functions: bytes arrive as byte text (std::string_view, one char per byte) and
// tag text leaves as 16-bit text (std::u16string). Offsets are 0-based.
//
// None of them fails on any input: short input is handled by the rules of each
// function (missing bytes count as absent, never as zero).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pellora::tags {

// --- Numbers ---

// Big-endian number of any length; base 128 when `synchsafe`, 256 otherwise. Bit 7
// is not masked in synchsafe mode (a byte of 0x80 or more adds more than 127 x
// 128^k), matching what other ID3 readers do with such damaged sizes. Empty input
// gives 0. Returned as a double so four base-256 bytes never overflow; callers
// convert where they need a whole number.
double BytesToNumber(std::string_view bytes, bool synchsafe);

// The two's-complement reading of a big-endian field of 1 to 4 bytes: four bytes
// are signed, one to three unsigned. More than 4 bytes has no result.
std::optional<std::int32_t> BytesToLong(std::string_view bytes);

// Copies source bytes from `offset` into `destination`, as many as fit or as the
// source still holds; entries without a source byte keep their value.
void CopyBytes(std::string_view source, std::span<std::uint8_t> destination, std::size_t offset);

// --- ID3v2 unsynchronisation and UTF-16 ---

// Undoes ID3v2 unsynchronisation: each FF 00 becomes FF. A 00 produced by a removal
// is not reduced again, so FF 00 00 becomes FF 00.
std::string RemoveUnsync(std::string_view bytes);

// Exchanges the two bytes of each pair; an odd last byte stays last.
std::string SwapBytePairs(std::string_view bytes);

// ID3v2 text encoding 1: one or more UTF-16 strings, each opened by its own byte
// order mark (FF FE little-endian, FE FF big-endian), possibly preceded by
// single-byte text (a COMM frame's language code). Bytes before the first mark
// become one character each. Inside a UTF-16 string a mark is only recognised on a
// code-unit boundary, so text such as U+FF61 U+30FE is not split. Code units pass
// through as they are (surrogate pairs unchanged, 00 00 becomes U+0000, which later
// steps take as a terminator). An odd last byte of a UTF-16 string is dropped: it
// is half a code unit, and no writer means a character by it.
std::u16string DecodeUtf16WithBom(std::string_view bytes);

// ID3v2.4 text encodings 2 (UTF-16 big-endian without mark; an odd last byte is
// dropped) and 3 (DecodeUtf8). Any other encoding number gives empty text.
std::u16string DecodeUtf16BeOrUtf8(std::string_view bytes, int encoding);

// Tolerant UTF-8 decoding as ID3 writers produce it:
//  - 00..BF stand for themselves (a lone continuation byte becomes U+0080..U+00BF);
//  - C0..DF and E0..EF start two- and three-byte sequences whose continuation bytes
//    are not validated; a negative value wraps to value + 65536;
//  - F0..F7 start four-byte sequences, which become a UTF-16 surrogate pair;
//  - a sequence whose value has no UTF-16 form (F8..FF leads, malformed four-byte
//    sequences, E0..EF with out-of-range continuations above U+FFFF) becomes U+FFFD;
//  - an incomplete sequence at the end ends the text.
std::u16string DecodeUtf8(std::string_view bytes);

// --- Text tests and cuts ---

// The text before the first U+0000 (NUL byte); all of it when there is none.
std::u16string CutAtNul(std::u16string_view text);
std::string CutAtNul(std::string_view bytes);

// The text before the first "-"; all of it when there is none ('2004-05-06' -> '2004').
std::u16string TextBeforeDash(std::u16string_view text);

// True when every character is "0".."9"; true for empty text.
bool IsAllDigits(std::u16string_view text);
bool IsAllDigits(std::string_view bytes);

// The value of a decimal number written as text: optional blanks, an optional sign,
// digits with at most one decimal point (at least one digit), optional blanks.
// No result for anything else (exponents, hexadecimal and thousands separators are
// not numbers here).
std::optional<double> NumberValue(std::u16string_view text);
std::optional<double> NumberValue(std::string_view bytes);

// Empty text stays empty; a number stays as written ('007'); anything else is "0".
std::u16string NumericOrZero(std::u16string_view text);

// --- Lyrics3 text ---

// Undoes the Lyrics3 line-break escapes, in this order: "[CR][LF]" -> CR LF, then
// "[CR]" -> CR, then "[LF]" -> LF (case-sensitive).
std::u16string UnescapeLyricsLineBreaks(std::u16string_view text);

// Removes time stamps such as '[01:23]' (two whole, non-negative numbers around the
// first ":" between brackets); other bracketed text ('[Chorus]') stays.
std::u16string StripLyricsTimestamps(std::u16string_view text);

}  // namespace pellora::tags
