// SPDX-License-Identifier: MIT
// Prints the title and playing time of an MP3 file and, given a new title,
// writes it into the file's tags: the tag store's C++ class.
//   retag_cpp FILE [NEW-TITLE]
#include <iostream>
#include <string>

#include "tags/id3.h"

namespace {

// The class holds 16-bit text; this example passes ASCII only.
std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }
std::string Narrow(const std::u16string& text) { return {text.begin(), text.end()}; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pellora::tags::clsID3 tags;
  tags.FileName(Widen(argv[1]));  // reads the file's tags and its first audio frame
  if (tags.ScanError()) {
    std::cerr << argv[1] << ": " << tags.ScanError().message() << '\n';
    return 1;
  }
  std::cout << "title: " << Narrow(tags.Title()) << "\nlength: " << tags.length() << " s\n";
  if (argc < 3) return 0;
  tags.Title(Widen(argv[2]));
  tags.UpdateID3Tags();
  return tags.LastRewriteOutcome() == pellora::tags::clsID3::RewriteOutcome::Rewritten ? 0 : 1;
}
