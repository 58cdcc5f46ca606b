// A build without a TLS library: no context is ever made, so no session is
// either.
#include "bridge/tls.h"

namespace bridge {

struct TlsContext::Impl {};
struct TlsSession::Impl {};

bool TlsAvailable() { return false; }

TlsContext::TlsContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TlsContext::~TlsContext() = default;

std::unique_ptr<TlsContext> TlsContext::Load(const std::string&, const std::string&, std::string* error) {
  *error = kNoTls;
  return nullptr;
}

TlsSession::TlsSession(const TlsContext&, socket_t) {}

TlsSession::~TlsSession() = default;

bool TlsSession::ok() const { return false; }

TlsStep TlsSession::Accept() { return TlsStep::kFailed; }

TlsStep TlsSession::Read(char*, size_t, size_t*) { return TlsStep::kFailed; }

TlsStep TlsSession::Write(const char*, size_t, size_t*) { return TlsStep::kFailed; }

bool TlsSession::HasPending() const { return false; }

void TlsSession::Shutdown() {}

}  // namespace bridge
