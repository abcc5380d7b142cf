// SPDX-License-Identifier: MIT
// The four entry points, shared by both component servers: each library links
// this with its own ServerClasses().
#include <cstring>
#include <exception>

#include "servers/common/registration.h"
#include "servers/common/server_module.h"

namespace pellora::servers {

hosting::EventLoop& LibraryLoop() {
  static hosting::EventLoop loop;
  return loop;
}

}  // namespace pellora::servers

using pellora::servers::ServerClasses;

extern "C" {

int DllGetClassObject(const char* class_id, const component_class_factory** factory) {
  if (!class_id || !factory) return COMPONENT_E_INVALID_ARGUMENT;
  *factory = nullptr;
  for (const component_class_factory* candidate : ServerClasses()) {
    if (std::strcmp(candidate->class_id, class_id) == 0) {
      *factory = candidate;
      return COMPONENT_OK;
    }
  }
  return COMPONENT_E_CLASS_NOT_AVAILABLE;
}

int DllCanUnloadNow(void) {
  return pellora::servers::ObjectCount::Live() == 0 ? COMPONENT_OK : COMPONENT_FALSE;
}

int DllRegisterServer(void) try {
  const auto library = pellora::servers::ThisLibraryPath();
  if (!library) return COMPONENT_E_REGISTRATION;
  for (const component_class_factory* cls : ServerClasses())
    if (pellora::servers::WriteRecord({cls->class_id, cls->name, *library}))
      return COMPONENT_E_REGISTRATION;
  return COMPONENT_OK;
} catch (...) {
  return COMPONENT_E_REGISTRATION;
}

int DllUnregisterServer(void) try {
  int result = COMPONENT_OK;
  for (const component_class_factory* cls : ServerClasses())
    if (pellora::servers::RemoveRecord(cls->class_id)) result = COMPONENT_E_REGISTRATION;
  return result;
} catch (...) {
  return COMPONENT_E_REGISTRATION;
}

}  // extern "C"
