// SPDX-License-Identifier: MIT
// Retags one file with TagLib (open, set the ID3v2 title, save ID3v2.3) and prints
// the seconds it took: the peer of retag_pellora in scripts/bench-retag.
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: retag_taglib FILE TITLE\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  TagLib::MPEG::File file(argv[1]);
  file.ID3v2Tag(true)->setTitle(TagLib::String(argv[2], TagLib::String::UTF8));
  const bool saved = file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!saved) return 1;
  std::printf("%.6f\n", took.count());
  return 0;
}
