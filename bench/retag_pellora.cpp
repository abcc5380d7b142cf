// SPDX-License-Identifier: MIT
// Retags one file the way `pellora tag FILE --title T [--exact-padding]` does (scan,
// set the title, UpdateID3Tags, the padding absorbing the change unless
// --exact-padding) and prints the seconds it took. Driven by scripts/bench-retag.
#include <chrono>
#include <cstdio>
#include <string>

#include "tags/id3.h"
#include "text/text.h"

int main(int argc, char** argv) {
  const bool exact_padding = argc == 4 && std::string(argv[3]) == "--exact-padding";
  if (argc != 3 && !exact_padding) {
    std::fprintf(stderr, "usage: retag_pellora FILE TITLE [--exact-padding]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  pellora::tags::clsID3 id3;
  id3.AbsorbPadding(!exact_padding);
  id3.FileName(pellora::text::PathToUtf16(argv[1]));
  id3.Title(pellora::text::StreamTextToUtf16(argv[2]));
  id3.UpdateID3Tags();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (id3.LastRewriteOutcome() != pellora::tags::clsID3::RewriteOutcome::Rewritten) return 1;
  std::printf("%.6f\n", took.count());
  return 0;
}
