// SPDX-License-Identifier: MIT
#include "servers/common/registration.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pellora::servers {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRecordSuffix = ".component";

std::optional<fs::path> RecordPath(const std::string& class_id) {
  auto folder = RegistrationFolder();
  if (!folder) return std::nullopt;
  return fs::path(*folder) / (class_id + kRecordSuffix);
}

std::string Format(const RegistrationRecord& record) {
  return "class_id=" + record.class_id + "\nname=" + record.name + "\nlibrary=" + record.library +
         "\n";
}

// The value of "key=value" lines, the first of each key.
std::optional<std::string> ValueOf(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> RegistrationFolder() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  // The XDG rules ignore a relative XDG_DATA_HOME.
  if (data_home && data_home[0] == '/') return std::string(data_home) + "/pellora/components";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/share/pellora/components";
  return std::nullopt;
}

std::error_code WriteRecord(const RegistrationRecord& record) {
  const auto path = RecordPath(record.class_id);
  if (!path) return std::make_error_code(std::errc::no_such_file_or_directory);
  std::error_code ec;
  fs::create_directories(path->parent_path(), ec);
  if (ec) return ec;
  // Written aside and renamed over the old record, so that a reader never sees half.
  const fs::path temporary = path->string() + ".tmp-" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << Format(record);
    out.close();
    if (!out) {
      fs::remove(temporary, ec);
      return std::make_error_code(std::errc::io_error);
    }
  }
  fs::rename(temporary, *path, ec);
  if (ec) fs::remove(temporary);
  return ec;
}

std::error_code RemoveRecord(const std::string& class_id) {
  const auto path = RecordPath(class_id);
  if (!path) return std::make_error_code(std::errc::no_such_file_or_directory);
  std::error_code ec;
  fs::remove(*path, ec);
  return ec;
}

std::optional<RegistrationRecord> ReadRecord(const std::string& class_id) {
  const auto path = RecordPath(class_id);
  if (!path) return std::nullopt;
  std::ifstream in(*path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  auto id = ValueOf(text.str(), "class_id");
  auto name = ValueOf(text.str(), "name");
  auto library = ValueOf(text.str(), "library");
  if (!id || *id != class_id || !name || !library) return std::nullopt;
  return RegistrationRecord{*id, *name, *library};
}

std::optional<std::string> ThisLibraryPath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<const void*>(&ThisLibraryPath), &info) == 0 || !info.dli_fname)
    return std::nullopt;
  char resolved[PATH_MAX];
  if (!::realpath(info.dli_fname, resolved)) return std::nullopt;
  return std::string(resolved);
}

}  // namespace pellora::servers
