// SPDX-License-Identifier: MIT
#pragma once
// Conversions between the three kinds of text Pellora handles:
//  - byte text (std::string, one char per byte): what the network and files carry;
//  - the tag store's 16-bit text (std::u16string);
//  - UTF-8 for terminals, JSON and file names.
// The single-byte code page is Latin-1: byte b <-> U+00b, which round-trips every byte.
#include <optional>
#include <string>
#include <string_view>

namespace pellora::text {

// Each byte becomes the 16-bit character of the same value.
std::u16string Latin1ToUtf16(std::string_view bytes);

// Each character's low byte; characters above U+00FF become '?'.
std::string Utf16ToLatin1(std::u16string_view text);

// True when every character is at most U+00FF.
bool IsLatin1(std::u16string_view text);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// File names. Linux keeps a name as bytes, which need not be UTF-8; the tag store
// keeps it as 16-bit text. The name's valid UTF-8 is decoded, and every byte that
// is not part of valid UTF-8 becomes U+DC80..U+DCFF (the lone low surrogate of
// U+DC00 + byte, as Python's "surrogateescape" does), so that the way back gives
// exactly the same bytes: Utf16ToPath(PathToUtf16(b)) == b for every b.
std::u16string PathToUtf16(std::string_view bytes);
// The reverse: a lone U+DC80..U+DCFF becomes its byte again; everything else is
// written as UTF-8 (any other lone surrogate as U+FFFD).
std::string Utf16ToPath(std::u16string_view text);

// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// The length of the longest start of `bytes` within `limit` bytes that does not
// end inside a UTF-8 character: `limit` moves back to the lead byte of a sequence
// it would cut. Bytes that are not UTF-8 are cut anywhere.
std::size_t Utf8CutLength(std::string_view bytes, std::size_t limit);

// True when `bytes` is valid UTF-8 and holds at least one multi-byte sequence.
bool IsMultiByteUtf8(std::string_view bytes);

// Stream text to 16-bit text: decoded as UTF-8 when it is valid UTF-8 with at least
// one multi-byte sequence, otherwise one character per byte (Latin-1).
std::u16string StreamTextToUtf16(std::string_view bytes);

// Byte text for a person (terminal, JSON for people, file names): the title rule
// below with its automatic choice.
std::string StreamTextToUtf8(std::string_view bytes);

// The title rule. Stations send titles in whatever their software uses and never
// say which. UTF-8 is taken as is whenever the bytes are valid UTF-8 (text in
// another single-byte charset almost never is); otherwise the bytes are decoded
// from `charset` (a name iconv knows: "ISO-8859-2", "CP1251" ...), or, without
// one, from Windows-1252 when a byte 0x80-0x9F occurs (control characters in
// Latin-1, which nobody means; Windows-1252 has its curly quotes and dashes
// there) and from Latin-1 otherwise. Bytes the charset cannot decode become
// U+FFFD. The result is UTF-8.
std::string TitleToUtf8(std::string_view bytes, std::string_view charset = {});
// The same as 16-bit text, for the tag store.
std::u16string TitleToUtf16(std::string_view bytes, std::string_view charset = {});
// True when `charset` is a name TitleToUtf8 can decode from.
bool IsKnownCharset(std::string_view charset);

// UTF-8 (as TitleToUtf8 returns it) to 16-bit text; malformed bytes become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Byte text as UTF-8 with one code point per byte (Latin-1), for exact byte JSON.
std::string Latin1ToUtf8(std::string_view bytes);

// UTF-8 text from outside (station names, titles, tag texts, file names) made safe
// to print on a terminal: nothing in it can move the cursor, clear the screen,
// set the window title or make the terminal answer (ESC sequences, OSC, ESC[6n),
// nor reorder what follows. C0 controls, DEL and bytes that are not valid UTF-8
// become "\xHH"; C1 controls and the bidirectional overrides and isolates
// (U+202A-U+202E, U+2066-U+2069) become "\uHHHH"; a backslash becomes "\\", so
// that the escaped text reads back unambiguously. Everything else is kept.
std::string EscapeForTerminal(std::string_view utf8);

// The same text as the inside of a JSON string, escaped so that JSON shown on a
// terminal is as safe as the escaped text: '"' and '\\' escaped, C0 controls as
// \b \f \n \r \t or "\u00hh", and DEL, C1 controls and the bidirectional
// overrides and isolates as "\uhhhh". A byte that is not UTF-8 becomes "\udchh"
// (U+DC80-U+DCFF, Python's surrogateescape), which os.fsencode maps back to the
// byte: a file name keeps its exact bytes.
std::string EscapeForJson(std::string_view bytes);

// `text` with its ASCII letters in lower case (for names that protocols and
// formats compare without regard to case); other bytes are kept.
std::string AsciiLower(std::string_view text);

// Percent-decoding of one URL path segment or query value ("a%20b" is "a b"; with
// `plus_is_space`, "+" is a blank too); nothing for a bad escape or a NUL byte.
std::optional<std::string> PercentDecode(std::string_view text, bool plus_is_space = false);

}  // namespace pellora::text
