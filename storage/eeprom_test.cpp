#include "storage/eeprom.h"

#include <gtest/gtest.h>

#include "platform/fake_env.h"
#include "storage/eeprom_format.h"

namespace {

class EepromTest : public testing::Test {
 protected:
  void Blank() { ASSERT_TRUE(env_.WriteFile(eeprom::kPath, std::string(4096, '\xFF'))); }
  std::string File() {
    std::string bytes;
    env_.ReadFile(eeprom::kPath, &bytes);
    return bytes;
  }
  platform::FakeEnv env_;
};

TEST_F(EepromTest, BlankEepromGetsAKeyOnceAndRecordsThatAreNotValid) {
  Blank();
  const eeprom::Identity first = eeprom::loadIdentity(&env_);
  ASSERT_TRUE(first.ok);
  ASSERT_EQ(16u, first.key.size());
  EXPECT_NE(std::string(16, '\xFF'), first.key);
  EXPECT_EQ(first.key, File().substr(4080, 16));
  EXPECT_FALSE(first.model.isValid());
  EXPECT_EQ("", first.model.modelName());  // blank name bytes read as NUL
  EXPECT_FALSE(first.reg.isValid());

  const eeprom::Identity second = eeprom::loadIdentity(&env_);
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(first.key, second.key);
}

TEST_F(EepromTest, KeyThatIsNotWhollyBlankIsKept) {
  Blank();
  std::string bytes = File();
  bytes[4080 + 7] = 0x12;
  ASSERT_TRUE(env_.WriteFile(eeprom::kPath, bytes));
  std::string key;
  ASSERT_TRUE(eeprom::ensureDeviceKey(&env_, &key));
  EXPECT_EQ(bytes.substr(4080, 16), key);
}

TEST_F(EepromTest, FailuresLeaveRecordsUnset) {
  eeprom::Identity missing = eeprom::loadIdentity(&env_);  // no file at all
  EXPECT_FALSE(missing.ok);
  EXPECT_FALSE(missing.has_key || missing.has_model || missing.has_reg);

  Blank();
  env_.set_random_fails(true);
  eeprom::Identity no_random = eeprom::loadIdentity(&env_);
  EXPECT_FALSE(no_random.ok);
  EXPECT_FALSE(no_random.has_key);
  EXPECT_TRUE(no_random.has_model && no_random.has_reg);
  EXPECT_EQ(std::string(16, '\xFF'), File().substr(4080, 16));

  ASSERT_TRUE(env_.WriteFile(eeprom::kPath, std::string(100, '\0')));  // too short
  eeprom::Identity short_file = eeprom::loadIdentity(&env_);
  EXPECT_FALSE(short_file.ok);
  EXPECT_TRUE(short_file.has_model);
  EXPECT_FALSE(short_file.has_reg);
}

TEST_F(EepromTest, RecordsLandAtTheirOffsets) {
  Blank();
  ModelData model;
  model.setSerialNumber("0123456789");
  model.setCheckValue(99);
  ASSERT_TRUE(eeprom::writeModelData(&env_, model));
  RegData reg;
  reg.setInn("7701234567");
  ASSERT_TRUE(eeprom::writeRegData(&env_, reg));
  const std::string bytes = File();
  EXPECT_EQ(4096u, bytes.size());
  EXPECT_EQ(model.image(), bytes.substr(0, 48));
  EXPECT_EQ(reg.image(), bytes.substr(48, 968));
  EXPECT_EQ(std::string(3064, '\xFF'), bytes.substr(1016, 3064));
  ModelData back;
  ASSERT_TRUE(eeprom::readModelData(&env_, &back));
  EXPECT_TRUE(back == model);
  RegData reg_back;
  ASSERT_TRUE(eeprom::readRegData(&env_, &reg_back));
  EXPECT_EQ("7701234567", reg_back.inn());
}

}  // namespace
