// SPDX-License-Identifier: MIT
#pragma once
// The registration records of a component server: one small text file per
// control class under $XDG_DATA_HOME/pellora/components, naming the library
// that serves the class.
#include <optional>
#include <string>
#include <system_error>

namespace pellora::servers {

struct RegistrationRecord {
  std::string class_id;
  std::string name;
  std::string library;  // absolute path
};

// The folder of the records: $XDG_DATA_HOME/pellora/components when
// XDG_DATA_HOME is an absolute path, else $HOME/.local/share/pellora/components;
// nothing when neither is known.
std::optional<std::string> RegistrationFolder();

// Writes the record of `record.class_id`, replacing an older one atomically.
std::error_code WriteRecord(const RegistrationRecord& record);
// Removes the record of `class_id`; a missing record is no error.
std::error_code RemoveRecord(const std::string& class_id);
// Reads the record of `class_id`, if there is a readable one.
std::optional<RegistrationRecord> ReadRecord(const std::string& class_id);

// The absolute path of the shared library that holds this code.
std::optional<std::string> ThisLibraryPath();

}  // namespace pellora::servers
