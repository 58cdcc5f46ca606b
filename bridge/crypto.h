// The bridge's cryptography: SHA-256, HMAC-SHA-256, random bytes and a
// constant-time comparison, from the system's own library. One file per
// library implements it: crypto_openssl.cpp (Linux) and crypto_cng.cpp
// (Windows CNG). Nothing here is written by hand but the comparison.
#ifndef FR_BRIDGE_CRYPTO_H_
#define FR_BRIDGE_CRYPTO_H_

#include <cstddef>
#include <string>

namespace bridge {
namespace crypto {

constexpr size_t kSha256Size = 32;  // bytes of a SHA-256 digest and of its HMAC

// The raw digest of `data`, kSha256Size bytes; empty when the library fails
// (a digest is never empty).
std::string Sha256(const std::string& data);

// HMAC-SHA-256 of `data` under `key` (any length), kSha256Size raw bytes;
// empty when the library fails.
std::string HmacSha256(const std::string& key, const std::string& data);

// Fills buf[0..n) from the system's cryptographic generator; false when it
// cannot (the buffer's contents are then not to be used).
bool RandomBytes(void* buf, size_t n);

// True when a and b hold the same bytes. The time taken depends on their
// lengths only, never on where they differ: for secrets and their digests.
bool SameBytes(const std::string& a, const std::string& b);

}  // namespace crypto
}  // namespace bridge

#endif  // FR_BRIDGE_CRYPTO_H_
