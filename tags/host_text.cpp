// SPDX-License-Identifier: MIT
// The byte <-> 16-bit text conversions of the tag store's public interface: those
// the library uses for the command line and the C API, exported for C++ hosts.
#include "tags/id3.h"
#include "text/text.h"

namespace pellora::tags {

std::u16string FileNameFromPath(std::string_view path) { return text::PathToUtf16(path); }

std::string PathFromFileName(std::u16string_view file_name) { return text::Utf16ToPath(file_name); }

std::u16string TextFromUtf8(std::string_view utf8) { return text::Utf8ToUtf16(utf8); }

std::string Utf8FromText(std::u16string_view text) { return text::Utf16ToUtf8(text); }

}  // namespace pellora::tags
