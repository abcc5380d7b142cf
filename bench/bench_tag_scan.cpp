// SPDX-License-Identifier: MIT
// The tag store's scan rate over a library of 1,000 tagged MP3 files (ID3v2.3
// with ten frames, ID3v1, 1 to 3 MB of audio each), side by side with TagLib's
// over the same files when TagLib was found at build time.
//
//   bench_tag_scan [DIR]
//
// DIR defaults to /tmp/pellora-tag-library; the library is generated there by
// make_tag_library.py (lame, ffmpeg) when it is not complete yet.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/scan_rate.h"
#include "tags/id3.h"

namespace {

double ScanOnce(const std::string& path) {
  pellora::tags::clsID3 id3;
  id3.FileName(std::u16string(path.begin(), path.end()));
  return double(id3.Title().size() + id3.Artist().size() + id3.TrackNumber().size()) + id3.length() +
         id3.BitRate() + id3.SamplingRateFrequency();
}

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "/tmp/pellora-tag-library";
  const std::string generate = "/usr/bin/python3 '" PELLORA_SOURCE_DIR "/bench/make_tag_library.py' '" + dir + "' 1000";
  if (std::system(generate.c_str()) != 0) {
    std::fprintf(stderr, "bench_tag_scan: cannot generate the library in %s\n", dir.c_str());
    return 1;
  }
  const auto files = pellora::bench::LibraryFiles(dir);
  const long rss_before = PeakResidentKiB();
  const auto rate = pellora::bench::MeasureScanRate(files, ScanOnce);
  pellora::bench::PrintScanRate("Pellora", rate, files.size());
  std::printf("Pellora: peak resident memory %ld KiB (%+ld KiB during the scans)\n", PeakResidentKiB(),
              PeakResidentKiB() - rss_before);
#ifdef PELLORA_TAGLIB_READER
  std::fflush(stdout);
  return std::system(("'" PELLORA_TAGLIB_READER "' '" + dir + "'").c_str()) == 0 ? 0 : 1;
#else
  std::printf("TagLib: not found at build time (scripts/install-deps --bench installs libtag1-dev)\n");
  return 0;
#endif
}
