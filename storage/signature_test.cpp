#include "storage/signature.h"

#include <gtest/gtest.h>

#include "storage/identity_test_util.h"
#include "util/crc.h"

namespace {

const std::string kKey = std::string("0123456789abcde\xFF", 16);
const std::string kSerial = "0000012345";

ModelData Model(const std::string& key) { return identitytest::SignedModel(kSerial, key); }
RegData Reg(const std::string& key) { return identitytest::SignedReg(kSerial, key, 1700000000); }

TEST(SignatureTest, SignIsCrcOfKeySerialAndData) {
  uint32_t sign = 0;
  ASSERT_TRUE(signature::documentSign(Model(kKey), Reg(kKey), kKey, kSerial, "data", &sign));
  EXPECT_EQ(util::Crc32(kKey + kSerial + "data"), sign);
}

TEST(SignatureTest, OneByteOfKeySerialOrDataChangesTheSign) {
  std::string other_key = kKey;
  other_key[0] ^= 1;
  uint32_t base = 0, sign = 0;
  ASSERT_TRUE(signature::documentSign(Model(kKey), Reg(kKey), kKey, kSerial, "data", &base));
  ASSERT_TRUE(signature::documentSign(Model(other_key), Reg(other_key), other_key, kSerial, "data",
                                      &sign));
  EXPECT_NE(base, sign);
  ASSERT_TRUE(signature::documentSign(Model(kKey), Reg(kKey), kKey, kSerial, "dat4", &sign));
  EXPECT_NE(base, sign);
  // The serial is part of the identity checks too: a record made for
  // another serial does not verify.
  EXPECT_FALSE(signature::documentSign(Model(kKey), Reg(kKey), kKey, "0000012346", "data", &sign));
}

TEST(SignatureTest, ForeignIdentityLeavesTheSignAlone) {
  std::string other_key = kKey;
  other_key[15] = 'x';
  struct Case {
    const char* what;
    ModelData model;
    RegData reg;
  };
  const Case cases[] = {
      {"registration made with another key", Model(kKey), Reg(other_key)},
      {"model made with another key", Model(other_key), Reg(kKey)},
      {"registration not valid", Model(kKey), RegData()},
  };
  for (const Case& c : cases) {
    uint32_t sign = 0;
    EXPECT_FALSE(signature::documentSign(c.model, c.reg, kKey, kSerial, "data", &sign)) << c.what;
    EXPECT_EQ(0u, sign) << c.what;
  }
}

TEST(SignatureTest, FiscalisationCompletesANewRegistration) {
  RegData reg = Reg(kKey);
  reg.setCheckValue(0);  // not valid until signed
  uint32_t sign = 0;
  ASSERT_TRUE(signature::fiscalisationSign(Model(kKey), &reg, kKey, kSerial, "report", &sign));
  EXPECT_EQ(reg.computeCheckValue(kSerial, kKey), reg.checkValue());
  EXPECT_TRUE(signature::verifyRegData(reg, kSerial, kKey));
  EXPECT_EQ(util::Crc32(kKey + kSerial + "report"), sign);

  // A registration that is already valid is not recomputed, nor verified.
  RegData foreign = Reg("another key 16 b");
  const uint32_t check = foreign.checkValue();
  ASSERT_TRUE(signature::fiscalisationSign(Model(kKey), &foreign, kKey, kSerial, "r", &sign));
  EXPECT_EQ(check, foreign.checkValue());

  sign = 7;
  EXPECT_FALSE(signature::fiscalisationSign(Model("another key 16 b"), &reg, kKey, kSerial, "r", &sign));
  EXPECT_EQ(7u, sign);
}

}  // namespace
