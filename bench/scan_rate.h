// SPDX-License-Identifier: MIT
#pragma once
// Timing harness of the tag-scan benchmarks: reads every file of a library with a
// given reader, several rounds after a warm-up round (warm page cache), and
// reports files per second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace pellora::bench {

// The .mp3 files of `dir`, sorted.
inline std::vector<std::string> LibraryFiles(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().extension() == ".mp3") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

struct ScanRate {
  double median_files_per_second = 0;
  double best_files_per_second = 0;
};

// Runs `read` over all `files` once to warm the cache, then `rounds` times timed.
// `read` returns a number derived from what it read, so nothing is optimised away.
inline ScanRate MeasureScanRate(const std::vector<std::string>& files,
                                const std::function<double(const std::string&)>& read, int rounds = 7) {
  volatile double sink = 0;
  for (const auto& f : files) sink = sink + read(f);
  std::vector<double> rates;
  for (int r = 0; r < rounds; ++r) {
    const auto start = std::chrono::steady_clock::now();
    for (const auto& f : files) sink = sink + read(f);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    rates.push_back(double(files.size()) / took.count());
  }
  std::sort(rates.begin(), rates.end());
  return {rates[rates.size() / 2], rates.back()};
}

// One line a reader, in a form the side-by-side driver parses.
inline void PrintScanRate(const char* reader, const ScanRate& rate, std::size_t files) {
  std::printf("%s: %zu files, median %.0f files/s, best %.0f files/s\n", reader, files,
              rate.median_files_per_second, rate.best_files_per_second);
}

}  // namespace pellora::bench
