// Known answers for whichever library implements bridge/crypto.h (OpenSSL on
// Linux, CNG on Windows).
#include "bridge/crypto.h"

#include <gtest/gtest.h>

#include "util/coding.h"

namespace bridge {
namespace crypto {
namespace {

struct Vector {
  std::string key;  // HMAC only
  std::string data;
  std::string hex;
};

TEST(CryptoTest, Sha256KnownAnswers) {
  const Vector kVectors[] = {
      // FIPS 180-2, appendix B.1.
      {"", "abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
      // Nothing to hash still gives the digest of the empty message.
      {"", "", "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
  };
  for (const Vector& v : kVectors) {
    EXPECT_EQ(v.hex, util::HexUpper(Sha256(v.data))) << '"' << v.data << '"';
  }
}

TEST(CryptoTest, HmacSha256KnownAnswers) {
  const Vector kVectors[] = {
      // RFC 4231, test case 1.
      {std::string(20, '\x0b'), "Hi There", "B0344C61D8DB38535CA8AFCEAF0BF12B881DC200C9833DA726E9376C2E32CFF7"},
      // Test case 2: a key shorter than the output.
      {"Jefe", "what do ya want for nothing?", "5BDCC146BF60754E6A042426089575C75A003F089D2739839DEC58B964EC3843"},
      // Test case 6: a key longer than the block, hashed first.
      {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "60E431591EE0B67F0D8A26AACBF5B77F8E0BC6213728C5140546040F0EE37F54"},
  };
  for (const Vector& v : kVectors) {
    EXPECT_EQ(v.hex, util::HexUpper(HmacSha256(v.key, v.data))) << '"' << v.data << '"';
  }
}

TEST(CryptoTest, RandomBytesDifferBetweenCalls) {
  std::string a(32, '\0'), b(32, '\0');
  ASSERT_TRUE(RandomBytes(&a[0], a.size()));
  ASSERT_TRUE(RandomBytes(&b[0], b.size()));
  // Equal by chance once in 2^256 draws.
  EXPECT_NE(a, b);
}

TEST(CryptoTest, SameBytes) {
  const std::string digest = Sha256("abc");
  std::string last = digest;
  last.back() ^= 1;
  std::string first = digest;
  first[0] ^= 0x80;
  const struct {
    std::string a, b;
    bool same;
  } kCases[] = {
      {digest, digest, true},
      {"", "", true},
      {digest, last, false},
      {digest, first, false},
      {digest, digest.substr(0, digest.size() - 1), false},  // a prefix is not the same
      {"", digest, false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.same, SameBytes(c.a, c.b)) << util::HexUpper(c.a) << " / " << util::HexUpper(c.b);
  }
}

}  // namespace
}  // namespace crypto
}  // namespace bridge
