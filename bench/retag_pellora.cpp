// Retags one file the way `pellora tag FILE --title T` does (scan, set the title,
// UpdateID3Tags) and prints the seconds it took. Driven by scripts/bench-retag.
#include <chrono>
#include <cstdio>
#include <string>

#include "tags/id3.h"
#include "text/text.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: retag_pellora FILE TITLE\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  pellora::tags::clsID3 id3;
  id3.FileName(pellora::text::PathToUtf16(argv[1]));
  id3.Title(pellora::text::StreamTextToUtf16(argv[2]));
  id3.UpdateID3Tags();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (id3.LastRewriteOutcome() != pellora::tags::clsID3::RewriteOutcome::Rewritten) return 1;
  std::printf("%.6f\n", took.count());
  return 0;
}
