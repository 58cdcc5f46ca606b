// bridge/crypto.h on OpenSSL's libcrypto.
#include "bridge/crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <climits>

namespace bridge {
namespace crypto {

static_assert(kSha256Size == SHA256_DIGEST_LENGTH, "a SHA-256 digest is 32 bytes");

std::string Sha256(const std::string& data) {
  unsigned char out[SHA256_DIGEST_LENGTH];
  if (SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), out) == nullptr) return "";
  return std::string(reinterpret_cast<char*>(out), sizeof out);
}

std::string HmacSha256(const std::string& key, const std::string& data) {
  if (key.size() > INT_MAX) return "";  // HMAC() takes the key's length as an int
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
           data.size(), out, &n) == nullptr ||
      n != kSha256Size) {
    return "";
  }
  return std::string(reinterpret_cast<char*>(out), n);
}

bool RandomBytes(void* buf, size_t n) {
  auto* p = static_cast<unsigned char*>(buf);
  // RAND_bytes takes an int count: larger requests go in pieces.
  while (n > 0) {
    const size_t piece = std::min<size_t>(n, INT_MAX);
    if (RAND_bytes(p, static_cast<int>(piece)) != 1) return false;
    p += piece;
    n -= piece;
  }
  return true;
}

bool SameBytes(const std::string& a, const std::string& b) {
  // The lengths are not secret (digests have one length); the contents are.
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace crypto
}  // namespace bridge
