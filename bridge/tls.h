// The door's TLS, from a TLS library: a server's context made from its PEM
// files, and a session on each connection. One file per library implements
// it: tls_openssl.cpp where OpenSSL is found, tls_none.cpp where no TLS
// library is (the Windows build), which makes no context at all.
#ifndef FR_BRIDGE_TLS_H_
#define FR_BRIDGE_TLS_H_

#include <cstddef>
#include <memory>
#include <string>

#include <httplib.h>  // socket_t

namespace bridge {

// Why a build without TLS refuses to serve it, or to serve beyond the
// loopback, in every message that says so.
constexpr char kNoTls[] = "this build has no TLS: it serves plain HTTP on the loopback only";

// False in a build without a TLS library.
bool TlsAvailable();

// How a step of a session ended: done, or what the socket must become
// before the step is tried again, or the session is over (the peer closed
// it or it broke).
enum class TlsStep { kDone, kWantRead, kWantWrite, kFailed };

// A server's certificate chain and private key. Thread-safe once loaded.
class TlsContext {
 public:
  // nullptr with *error when the files do not load, or the build has no TLS.
  static std::unique_ptr<TlsContext> Load(const std::string& cert, const std::string& key, std::string* error);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  struct Impl;  // the library's own

 private:
  friend class TlsSession;
  explicit TlsContext(std::unique_ptr<Impl> impl);
  const std::unique_ptr<Impl> impl_;
};

// One connection's session over its non-blocking socket, which it does not
// own. Used by one thread at a time.
class TlsSession {
 public:
  TlsSession(const TlsContext& context, socket_t s);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // False when the session could not be made: nothing else may be called.
  bool ok() const;
  // The handshake's next step.
  TlsStep Accept();
  // kDone with *n > 0 bytes read, or written of the first `size`.
  TlsStep Read(char* buf, size_t size, size_t* n);
  TlsStep Write(const char* buf, size_t size, size_t* n);
  // Bytes deciphered already and not read yet.
  bool HasPending() const;
  // Tells the peer the session ends, without waiting for its answer.
  void Shutdown();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace bridge

#endif  // FR_BRIDGE_TLS_H_
