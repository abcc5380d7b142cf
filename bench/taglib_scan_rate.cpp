// SPDX-License-Identifier: MIT
// TagLib's rate of reading the tags and audio properties of a library of MP3
// files, as the peer of bench_tag_scan.
//
//   taglib_scan_rate DIR
#include <taglib/audioproperties.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include <cstdio>

#include "bench/scan_rate.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: taglib_scan_rate DIR\n");
    return 2;
  }
  const auto files = pellora::bench::LibraryFiles(argv[1]);
  const auto rate = pellora::bench::MeasureScanRate(files, [](const std::string& path) {
    TagLib::MPEG::File file(path.c_str(), true, TagLib::AudioProperties::Average);
    const TagLib::Tag* tag = file.tag();
    const TagLib::AudioProperties* audio = file.audioProperties();
    double seen = tag ? double(tag->title().size() + tag->artist().size() + tag->track()) : 0;
    if (audio) seen += audio->lengthInMilliseconds() + audio->bitrate() + audio->sampleRate();
    return seen;
  });
  pellora::bench::PrintScanRate("TagLib", rate, files.size());
  return 0;
}
