// SPDX-License-Identifier: MIT
// The download library stands alone: nothing of the stream control or the tag
// store gets into it, and libcurl gets into nothing but the download service.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/process.h"

namespace {

using pellora::testing_support::RunCommand;

std::string Symbols(const std::string& binary) {
  const auto result = RunCommand("nm -C '" + binary + "' 2>/dev/null");
  EXPECT_EQ(result.status, 0) << binary;
  EXPECT_FALSE(result.output.empty()) << binary;
  return result.output;
}

TEST(LinkClosure, DownloadLibrariesNameNothingOfTheStreamControlOrTagStore) {
  // This test program links the download library: what that pulls in is here too.
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (const std::string& binary :
       {std::string(PELLORA_DOWNLOAD_LIB), std::string(PELLORA_HOSTING_DOWNLOAD_LIB), self}) {
    const std::string symbols = Symbols(binary);
    for (const char* foreign : {"Torvane", "clsID3", "pellora::capture", "pellora::tags"})
      EXPECT_EQ(symbols.find(foreign), std::string::npos) << foreign << " in " << binary;
  }
}

TEST(LinkClosure, DownloadLibraryLinksOnlyThePlatform) {
  const std::string links = PELLORA_DOWNLOAD_LINKS;
  EXPECT_EQ(links, "pellora_hosting_download,pellora_hosting");
}

TEST(LinkClosure, SharedPlatformLeavesLibcurlOut) {
  const std::string symbols = Symbols(PELLORA_HOSTING_LIB);
  EXPECT_EQ(symbols.find("curl_"), std::string::npos);
  EXPECT_NE(Symbols(PELLORA_HOSTING_DOWNLOAD_LIB).find("U curl_multi_socket_action"), std::string::npos);
}

}  // namespace
