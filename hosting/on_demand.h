// SPDX-License-Identifier: MIT
#pragma once
// Shared libraries opened on their first use, for programs that link a
// forwarding file (curl_on_demand.cpp, openssl_on_demand.cpp …) in place of the
// library: each function the program uses is defined there and forwards to the
// library, which dlopen opens on the first call. The program's start-up then
// loads and relocates none of it. Without the library every call gives what the
// library gives for a failure.
#include <dlfcn.h>

#include <initializer_list>

namespace pellora::hosting::on_demand {

// The first of `names` that opens; null when none does.
inline void* Open(std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL)) return handle;
  return nullptr;
}

template <class Function>
Function* Find(void* library, const char* name) {
  return library ? reinterpret_cast<Function*>(::dlsym(library, name)) : nullptr;
}

}  // namespace pellora::hosting::on_demand

// Calls `name` of the library that `library()` opens with the arguments, or gives
// `failed` without it.
#define PELLORA_FORWARD_TO(library, name, failed, ...)                                              \
  static auto* const real = ::pellora::hosting::on_demand::Find<decltype(::name)>(library(), #name); \
  return real ? real(__VA_ARGS__) : failed

// The same for a function that returns nothing.
#define PELLORA_FORWARD_VOID_TO(library, name, ...)                                                 \
  static auto* const real = ::pellora::hosting::on_demand::Find<decltype(::name)>(library(), #name); \
  if (real) real(__VA_ARGS__)
