// SPDX-License-Identifier: MIT
// libcurl loaded when the first download starts, for programs that link this in
// place of libcurl (the command line): its start-up then loads none of the
// thirty-odd libraries libcurl depends on. Each function the download service
// uses is defined here and forwards to libcurl, which is opened with dlopen on
// the first call. Without libcurl every call fails as libcurl itself fails
// (a null handle, CURLE_FAILED_INIT), so a download reports a failure.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include <cstdarg>

#include "hosting/on_demand.h"

namespace {

void* Libcurl() {
  static void* const library = pellora::hosting::on_demand::Open({"libcurl.so.4", "libcurl.so"});
  return library;
}

template <class Function>
Function* Find(const char* name) {
  return pellora::hosting::on_demand::Find<Function>(Libcurl(), name);
}

#define PELLORA_FORWARD(name, failed, ...) PELLORA_FORWARD_TO(Libcurl, name, failed, __VA_ARGS__)
#define PELLORA_FORWARD_VOID(name, ...) PELLORA_FORWARD_VOID_TO(Libcurl, name, __VA_ARGS__)

// Option values travel as long, object or function pointer, or curl_off_t, by the
// range the option number lies in; each is passed on as its own type.
template <class Handle, class Option, class Result>
Result ForwardOption(Result (*real)(Handle*, Option, ...), Handle* handle, Option option, va_list args,
                     Result failed) {
  if (!real) return failed;
  if (option < CURLOPTTYPE_OBJECTPOINT) return real(handle, option, va_arg(args, long));
  if (option < CURLOPTTYPE_OFF_T) return real(handle, option, va_arg(args, void*));
  return real(handle, option, va_arg(args, curl_off_t));
}

}  // namespace

extern "C" {

CURLcode curl_global_init(long flags) { PELLORA_FORWARD(curl_global_init, CURLE_FAILED_INIT, flags); }
CURL* curl_easy_init(void) { PELLORA_FORWARD(curl_easy_init, nullptr); }
void curl_easy_cleanup(CURL* handle) {
  PELLORA_FORWARD_VOID(curl_easy_cleanup, handle);
}
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
  static auto* const real = Find<decltype(::curl_easy_setopt)>("curl_easy_setopt");
  va_list args;
  va_start(args, option);
  const CURLcode result = ForwardOption(real, handle, option, args, CURLE_FAILED_INIT);
  va_end(args);
  return result;
}
CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
  static auto* const real = Find<decltype(::curl_easy_getinfo)>("curl_easy_getinfo");
  va_list args;
  va_start(args, info);
  void* out = va_arg(args, void*);  // every piece of information comes back through a pointer
  va_end(args);
  return real ? real(handle, info, out) : CURLE_FAILED_INIT;
}
const char* curl_easy_strerror(CURLcode code) { PELLORA_FORWARD(curl_easy_strerror, "libcurl is not installed", code); }
void curl_free(void* p) {
  PELLORA_FORWARD_VOID(curl_free, p);
}
CURLM* curl_multi_init(void) { PELLORA_FORWARD(curl_multi_init, nullptr); }
CURLMcode curl_multi_add_handle(CURLM* multi, CURL* easy) {
  PELLORA_FORWARD(curl_multi_add_handle, CURLM_INTERNAL_ERROR, multi, easy);
}
CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) {
  PELLORA_FORWARD(curl_multi_remove_handle, CURLM_INTERNAL_ERROR, multi, easy);
}
CURLMcode curl_multi_cleanup(CURLM* multi) { PELLORA_FORWARD(curl_multi_cleanup, CURLM_INTERNAL_ERROR, multi); }
CURLMsg* curl_multi_info_read(CURLM* multi, int* left) { PELLORA_FORWARD(curl_multi_info_read, nullptr, multi, left); }
CURLMcode curl_multi_setopt(CURLM* multi, CURLMoption option, ...) {
  static auto* const real = Find<decltype(::curl_multi_setopt)>("curl_multi_setopt");
  va_list args;
  va_start(args, option);
  const CURLMcode result = ForwardOption(real, multi, option, args, CURLM_INTERNAL_ERROR);
  va_end(args);
  return result;
}
CURLMcode curl_multi_socket_action(CURLM* multi, curl_socket_t socket, int mask, int* running) {
  PELLORA_FORWARD(curl_multi_socket_action, CURLM_INTERNAL_ERROR, multi, socket, mask, running);
}
const char* curl_multi_strerror(CURLMcode code) {
  PELLORA_FORWARD(curl_multi_strerror, "libcurl is not installed", code);
}
curl_slist* curl_slist_append(curl_slist* list, const char* text) {
  PELLORA_FORWARD(curl_slist_append, nullptr, list, text);
}
void curl_slist_free_all(curl_slist* list) {
  PELLORA_FORWARD_VOID(curl_slist_free_all, list);
}
CURLU* curl_url(void) { PELLORA_FORWARD(curl_url, nullptr); }
void curl_url_cleanup(CURLU* url) {
  PELLORA_FORWARD_VOID(curl_url_cleanup, url);
}
CURLUcode curl_url_get(CURLU* url, CURLUPart part, char** out, unsigned int flags) {
  PELLORA_FORWARD(curl_url_get, CURLUE_OUT_OF_MEMORY, url, part, out, flags);
}
CURLUcode curl_url_set(CURLU* url, CURLUPart part, const char* text, unsigned int flags) {
  PELLORA_FORWARD(curl_url_set, CURLUE_OUT_OF_MEMORY, url, part, text, flags);
}

}  // extern "C"
