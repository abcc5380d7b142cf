// SPDX-License-Identifier: MIT
// OpenSSL (libssl and the libcrypto it loads) opened when the first TLS
// connection starts, for programs that link this in place of OpenSSL (the command
// line): most of its runs never speak TLS, and loading and relocating libcrypto
// was a third of its start-up. Each OpenSSL function that Asio's SSL stream and
// the TLS connection use is defined here and forwards to the library. Without it
// a context cannot be made, so a TLS connection fails with the reason.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/opensslv.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "hosting/on_demand.h"

static_assert(OPENSSL_VERSION_MAJOR == 3, "the library's name below is that of OpenSSL 3");

namespace {

void* Libssl() {
  static void* const library = pellora::hosting::on_demand::Open({"libssl.so.3"});
  return library;
}

}  // namespace

#define FORWARD(name, failed, ...) PELLORA_FORWARD_TO(Libssl, name, failed, __VA_ARGS__)
#define FORWARD_VOID(name, ...) PELLORA_FORWARD_VOID_TO(Libssl, name, __VA_ARGS__)

extern "C" {

// libcrypto: memory BIOs, errors, verification parameters.
long BIO_ctrl(BIO* bio, int command, long number, void* pointer) { FORWARD(BIO_ctrl, 0, bio, command, number, pointer); }
size_t BIO_ctrl_pending(BIO* bio) { FORWARD(BIO_ctrl_pending, 0, bio); }
int BIO_free(BIO* bio) { FORWARD(BIO_free, 0, bio); }
int BIO_new_bio_pair(BIO** first, size_t first_size, BIO** second, size_t second_size) {
  FORWARD(BIO_new_bio_pair, 0, first, first_size, second, second_size);
}
int BIO_read(BIO* bio, void* data, int length) { FORWARD(BIO_read, -1, bio, data, length); }
int BIO_write(BIO* bio, const void* data, int length) { FORWARD(BIO_write, -1, bio, data, length); }
void ERR_clear_error(void) { FORWARD_VOID(ERR_clear_error); }
unsigned long ERR_get_error(void) { FORWARD(ERR_get_error, 0); }
const char* ERR_lib_error_string(unsigned long error) { FORWARD(ERR_lib_error_string, nullptr, error); }
const char* ERR_reason_error_string(unsigned long error) {
  FORWARD(ERR_reason_error_string, "OpenSSL (libssl.so.3) is not installed", error);
}
int X509_VERIFY_PARAM_set1_ip_asc(X509_VERIFY_PARAM* parameters, const char* address) {
  FORWARD(X509_VERIFY_PARAM_set1_ip_asc, 0, parameters, address);
}
const char* X509_verify_cert_error_string(long error) {
  FORWARD(X509_verify_cert_error_string, "OpenSSL is not installed", error);
}

// libssl: methods, contexts, connections.
const SSL_METHOD* TLS_method(void) { FORWARD(TLS_method, nullptr); }
const SSL_METHOD* TLS_client_method(void) { FORWARD(TLS_client_method, nullptr); }
const SSL_METHOD* TLS_server_method(void) { FORWARD(TLS_server_method, nullptr); }
SSL_CTX* SSL_CTX_new(const SSL_METHOD* method) { FORWARD(SSL_CTX_new, nullptr, method); }
void SSL_CTX_free(SSL_CTX* context) { FORWARD_VOID(SSL_CTX_free, context); }
long SSL_CTX_ctrl(SSL_CTX* context, int command, long number, void* pointer) {
  FORWARD(SSL_CTX_ctrl, 0, context, command, number, pointer);
}
void* SSL_CTX_get_default_passwd_cb_userdata(SSL_CTX* context) {
  FORWARD(SSL_CTX_get_default_passwd_cb_userdata, nullptr, context);
}
void SSL_CTX_set_default_passwd_cb_userdata(SSL_CTX* context, void* data) {
  FORWARD_VOID(SSL_CTX_set_default_passwd_cb_userdata, context, data);
}
void* SSL_CTX_get_ex_data(const SSL_CTX* context, int index) { FORWARD(SSL_CTX_get_ex_data, nullptr, context, index); }
int SSL_CTX_set_ex_data(SSL_CTX* context, int index, void* data) {
  FORWARD(SSL_CTX_set_ex_data, 0, context, index, data);
}
SSL_verify_cb SSL_CTX_get_verify_callback(const SSL_CTX* context) {
  FORWARD(SSL_CTX_get_verify_callback, nullptr, context);
}
void SSL_CTX_set_verify(SSL_CTX* context, int mode, SSL_verify_cb callback) {
  FORWARD_VOID(SSL_CTX_set_verify, context, mode, callback);
}
int SSL_CTX_load_verify_locations(SSL_CTX* context, const char* file, const char* folder) {
  FORWARD(SSL_CTX_load_verify_locations, 0, context, file, folder);
}
int SSL_CTX_set_default_verify_paths(SSL_CTX* context) { FORWARD(SSL_CTX_set_default_verify_paths, 0, context); }
uint64_t SSL_CTX_set_options(SSL_CTX* context, uint64_t options) {
  FORWARD(SSL_CTX_set_options, 0, context, options);
}
SSL* SSL_new(SSL_CTX* context) { FORWARD(SSL_new, nullptr, context); }
void SSL_free(SSL* ssl) { FORWARD_VOID(SSL_free, ssl); }
long SSL_ctrl(SSL* ssl, int command, long number, void* pointer) { FORWARD(SSL_ctrl, 0, ssl, command, number, pointer); }
int SSL_accept(SSL* ssl) { FORWARD(SSL_accept, -1, ssl); }
int SSL_connect(SSL* ssl) { FORWARD(SSL_connect, -1, ssl); }
int SSL_read(SSL* ssl, void* data, int length) { FORWARD(SSL_read, -1, ssl, data, length); }
int SSL_write(SSL* ssl, const void* data, int length) { FORWARD(SSL_write, -1, ssl, data, length); }
int SSL_get_error(const SSL* ssl, int result) { FORWARD(SSL_get_error, SSL_ERROR_SSL, ssl, result); }
int SSL_get_shutdown(const SSL* ssl) { FORWARD(SSL_get_shutdown, 0, ssl); }
long SSL_get_verify_result(const SSL* ssl) { FORWARD(SSL_get_verify_result, X509_V_ERR_UNSPECIFIED, ssl); }
void* SSL_get_ex_data(const SSL* ssl, int index) { FORWARD(SSL_get_ex_data, nullptr, ssl, index); }
int SSL_set_ex_data(SSL* ssl, int index, void* data) { FORWARD(SSL_set_ex_data, 0, ssl, index, data); }
X509_VERIFY_PARAM* SSL_get0_param(SSL* ssl) { FORWARD(SSL_get0_param, nullptr, ssl); }
int SSL_set1_host(SSL* ssl, const char* host) { FORWARD(SSL_set1_host, 0, ssl, host); }
void SSL_set_bio(SSL* ssl, BIO* read, BIO* write) { FORWARD_VOID(SSL_set_bio, ssl, read, write); }

}  // extern "C"
