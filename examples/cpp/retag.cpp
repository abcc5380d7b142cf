// SPDX-License-Identifier: MIT
// Prints the title and playing time of an MP3 file and, given a new title,
// writes it into the file's tags: the tag store's C++ class.
//   retag_cpp FILE [NEW-TITLE]
#include <iostream>

#include <pellora/tags/id3.h>

int main(int argc, char** argv) {
  using namespace pellora::tags;
  if (argc < 2) return 2;
  clsID3 tags;
  tags.FileName(FileNameFromPath(argv[1]));  // reads the file's tags and its first audio frame
  if (tags.ScanError()) {
    std::cerr << argv[1] << ": " << tags.ScanError().message() << '\n';
    return 1;
  }
  std::cout << "title: " << Utf8FromText(tags.Title()) << "\nlength: " << tags.length() << " s\n";
  if (argc < 3) return 0;
  tags.Title(TextFromUtf8(argv[2]));
  tags.UpdateID3Tags();
  return tags.LastRewriteOutcome() == clsID3::RewriteOutcome::Rewritten ? 0 : 1;
}
