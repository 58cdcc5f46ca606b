// bridge/crypto.h on Windows CNG (bcrypt.dll; the program links bcrypt).
#include "bridge/crypto.h"

#include <windows.h>  // first: bcrypt.h uses its types

#include <bcrypt.h>

#include <algorithm>
#include <climits>

namespace bridge {
namespace crypto {
namespace {

// NT_SUCCESS, which bcrypt.h uses but does not define.
bool Succeeded(NTSTATUS status) { return status >= 0; }

// The SHA-256 providers, plain and keyed. Opening one is slow and a handle
// serves every thread, so each is opened once and kept until the process
// ends; a null handle is a provider that would not open.
struct Providers {
  BCRYPT_ALG_HANDLE sha256 = nullptr;
  BCRYPT_ALG_HANDLE hmac = nullptr;

  Providers() {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) sha256 = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&hmac, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
      hmac = nullptr;
    }
  }
};

const Providers& TheProviders() {
  static const Providers providers;
  return providers;
}

// The digest of `data` by `alg`, keyed by `key` when `alg` is the HMAC one.
std::string Digest(BCRYPT_ALG_HANDLE alg, const std::string& key, const std::string& data) {
  if (alg == nullptr || key.size() > ULONG_MAX) return "";
  // CNG only reads the key; its declaration is not const.
  auto* secret = key.empty() ? nullptr : reinterpret_cast<PUCHAR>(const_cast<char*>(key.data()));
  BCRYPT_HASH_HANDLE hash = nullptr;
  // No buffer for the hash object: CNG keeps it itself.
  if (!Succeeded(BCryptCreateHash(alg, &hash, nullptr, 0, secret, static_cast<ULONG>(key.size()), 0))) return "";
  auto* p = reinterpret_cast<PUCHAR>(const_cast<char*>(data.data()));
  bool ok = true;
  // BCryptHashData takes a ULONG count: larger data goes in pieces.
  for (size_t left = data.size(); ok && left > 0;) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(left, ULONG_MAX));
    ok = Succeeded(BCryptHashData(hash, p, piece, 0));
    p += piece;
    left -= piece;
  }
  UCHAR out[kSha256Size];
  ok = ok && Succeeded(BCryptFinishHash(hash, out, sizeof out, 0));
  BCryptDestroyHash(hash);
  return ok ? std::string(reinterpret_cast<char*>(out), sizeof out) : "";
}

}  // namespace

std::string Sha256(const std::string& data) { return Digest(TheProviders().sha256, "", data); }

std::string HmacSha256(const std::string& key, const std::string& data) {
  return Digest(TheProviders().hmac, key, data);
}

bool RandomBytes(void* buf, size_t n) {
  auto* p = static_cast<PUCHAR>(buf);
  // BCryptGenRandom takes a ULONG count: larger requests go in pieces.
  while (n > 0) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(n, ULONG_MAX));
    if (!Succeeded(BCryptGenRandom(nullptr, p, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
    p += piece;
    n -= piece;
  }
  return true;
}

bool SameBytes(const std::string& a, const std::string& b) {
  // The lengths are not secret (digests have one length); the contents are.
  if (a.size() != b.size()) return false;
  // Windows has no constant-time comparison for programs; every byte is
  // read whatever came before, and the volatile keeps the compiler from
  // stopping at the first difference.
  volatile unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    diff = diff | static_cast<unsigned char>(static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]));
  }
  return diff == 0;
}

}  // namespace crypto
}  // namespace bridge
