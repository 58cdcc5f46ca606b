#include <openssl/ssl.h>

#include <algorithm>
#include <climits>

#include "bridge/tls.h"

namespace bridge {

struct TlsContext::Impl {
  SSL_CTX* ctx;
  ~Impl() { SSL_CTX_free(ctx); }
};

struct TlsSession::Impl {
  SSL* ssl;
  ~Impl() { SSL_free(ssl); }
};

namespace {

TlsStep StepOf(SSL* ssl, int r) {
  switch (SSL_get_error(ssl, r)) {
    case SSL_ERROR_WANT_READ: return TlsStep::kWantRead;
    case SSL_ERROR_WANT_WRITE: return TlsStep::kWantWrite;
    default: return TlsStep::kFailed;
  }
}

}  // namespace

bool TlsAvailable() { return true; }

TlsContext::TlsContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TlsContext::~TlsContext() = default;

std::unique_ptr<TlsContext> TlsContext::Load(const std::string& cert, const std::string& key, std::string* error) {
  // As cpp-httplib's SSLServer makes its context.
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx != nullptr) {
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
    SSL_CTX_set_min_proto_version(ctx, TLS1_1_VERSION);
    if (SSL_CTX_use_certificate_chain_file(ctx, cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
      SSL_CTX_free(ctx);
      ctx = nullptr;
    }
  }
  if (ctx == nullptr) {
    *error = "cannot load the TLS certificate " + cert + " or key " + key;
    return nullptr;
  }
  return std::unique_ptr<TlsContext>(new TlsContext(std::unique_ptr<Impl>(new Impl{ctx})));
}

TlsSession::TlsSession(const TlsContext& context, socket_t s) {
  SSL* ssl = SSL_new(context.impl_->ctx);
  if (ssl != nullptr && SSL_set_fd(ssl, s) != 1) {
    SSL_free(ssl);
    ssl = nullptr;
  }
  if (ssl != nullptr) impl_.reset(new Impl{ssl});
}

TlsSession::~TlsSession() = default;

bool TlsSession::ok() const { return impl_ != nullptr; }

TlsStep TlsSession::Accept() {
  const int r = SSL_accept(impl_->ssl);
  return r == 1 ? TlsStep::kDone : StepOf(impl_->ssl, r);
}

TlsStep TlsSession::Read(char* buf, size_t size, size_t* n) {
  const int r = SSL_read(impl_->ssl, buf, static_cast<int>(std::min<size_t>(size, INT_MAX)));
  if (r > 0) {
    *n = static_cast<size_t>(r);
    return TlsStep::kDone;
  }
  return StepOf(impl_->ssl, r);
}

TlsStep TlsSession::Write(const char* buf, size_t size, size_t* n) {
  const int r = SSL_write(impl_->ssl, buf, static_cast<int>(std::min<size_t>(size, INT_MAX)));
  if (r > 0) {
    *n = static_cast<size_t>(r);
    return TlsStep::kDone;
  }
  return StepOf(impl_->ssl, r);
}

bool TlsSession::HasPending() const { return SSL_pending(impl_->ssl) > 0; }

void TlsSession::Shutdown() { SSL_shutdown(impl_->ssl); }

}  // namespace bridge
