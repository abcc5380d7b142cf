// SPDX-License-Identifier: MIT
// TLS over TCP with Asio's SSL stream on OpenSSL: SNI, the peer's certificate
// checked against the system's CA store (or a CA file) and against the host name
// or address asked for, never a fallback to plain text.
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <boost/asio/ssl.hpp>

#include "hosting/stream_connection.h"

namespace pellora::hosting {
namespace {

namespace ssl = boost::asio::ssl;
using TlsStream = ssl::stream<boost::asio::ip::tcp::socket>;

// The context of one connection: protocol floor, trust and verification mode.
// A CA file that cannot be read leaves `problem` set.
std::shared_ptr<ssl::context> MakeContext(const TlsSettings& settings, std::string& problem) {
  auto context = std::make_shared<ssl::context>(ssl::context::tls_client);
  SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION);
  // Many stream servers close TCP without a TLS close_notify; that is their end of
  // the stream, not an attack on it (a body of known length still tells a cut).
  SSL_CTX_set_options(context->native_handle(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  boost::system::error_code ec;
  if (settings.insecure) {
    context->set_verify_mode(ssl::verify_none);
    return context;
  }
  context->set_verify_mode(ssl::verify_peer);
  if (settings.ca_file.empty()) {
    context->set_default_verify_paths(ec);
    if (ec) problem = "cannot load the system's CA certificates: " + ec.message();
  } else {
    context->load_verify_file(settings.ca_file, ec);
    if (ec) problem = "cannot read the CA file " + settings.ca_file + ": " + ec.message();
  }
  return context;
}

class TlsConnection final : public StreamConnection<TlsConnection, TlsStream> {
 public:
  TlsConnection(boost::asio::io_context& context, SocketEvents* events, std::shared_ptr<ssl::context> tls,
                std::string problem)
      : StreamConnection(context, events, context, *tls), tls_(std::move(tls)), problem_(std::move(problem)) {}

  void Start(const std::string& host, std::uint16_t port) override {
    host_ = host;
    if (!problem_.empty()) {
      // Reported from the loop, as every failure of a connection is.
      boost::asio::post(Tcp().get_executor(), [self = Self()] {
        self->Report({kSocketTlsFailure, "TLS setup failed: " + self->problem_});
      });
      return;
    }
    StreamConnection::Start(host, port);
  }

 private:
  friend class StreamConnection<TlsConnection, TlsStream>;

  void Handshake() {
    SSL* const ssl = stream().native_handle();
    boost::system::error_code not_numeric;
    boost::asio::ip::make_address(host_, not_numeric);
    if (not_numeric) {
      SSL_set_tlsext_host_name(ssl, host_.c_str());  // SNI is for names only
      SSL_set1_host(ssl, host_.c_str());
    } else {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host_.c_str());
    }
    stream().async_handshake(ssl::stream_base::client, [self = Self()](const boost::system::error_code& ec) {
      if (ec) return self->Fail(ec);
      self->handshake_done_ = true;
      self->Ready();
    });
  }

  // A failed handshake says why: the certificate check first, then TLS itself.
  SocketFailure Describe(const boost::system::error_code& ec) {
    if (!handshake_done_ && ec.category() == boost::asio::error::get_ssl_category()) {
      const long verify = SSL_get_verify_result(stream().native_handle());
      if (verify != X509_V_OK)
        return {kSocketCertificateFailure,
                std::string("certificate verify failed: ") + X509_verify_cert_error_string(verify)};
      return {kSocketTlsFailure, "TLS handshake failed: " + ec.message()};
    }
    return DescribeSocketFailure(ec);
  }

  static bool IsOrderlyEnd(const boost::system::error_code& ec) {
    return ec == boost::asio::error::eof || ec == ssl::error::stream_truncated;
  }

  std::shared_ptr<ssl::context> tls_;
  std::string problem_;
  std::string host_;
  bool handshake_done_ = false;
};

}  // namespace

std::shared_ptr<SocketConnection> MakeTlsConnection(boost::asio::io_context& context, SocketEvents* events,
                                                    const TlsSettings& settings) {
  std::string problem;
  auto tls = MakeContext(settings, problem);
  return std::make_shared<TlsConnection>(context, events, std::move(tls), std::move(problem));
}

}  // namespace pellora::hosting
