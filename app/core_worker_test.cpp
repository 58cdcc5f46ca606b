#include "app/core_worker.h"

#include <gtest/gtest.h>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "platform/fake_env.h"
#include "platform/fake_fault_env.h"
#include "storage/eeprom.h"
#include "storage/eeprom_format.h"
#include "storage/tables.h"
#include "util/coding.h"
#include "util/cp866.h"
#include "util/crc.h"

namespace {

TEST(CoreWorkerTest, CodesOutsideTheTableGetTenWithNoData) {
  platform::FakeEnv env;
  CoreWorker worker(&env);
  for (uint8_t code : {uint8_t{5}, uint8_t{23}, uint8_t{200}, cmd::kVersion, cmd::kShiftStatus}) {
    CoreApiResult r = worker.dispatch(CoreTransaction{code, 42, "data"});
    EXPECT_EQ(rc::kUnknownCommand, r.code) << int(code);
    EXPECT_TRUE(r.data.empty());
  }
}

TEST(CoreWorkerTest, EachPassTakesOneTransactionAndStampsItsIdentifier) {
  platform::FakeEnv env;
  CoreWorker worker(&env);
  CoreQueue queue;
  ASSERT_TRUE(queue.push(CoreTransaction{200, 7, ""}, nullptr, nullptr));
  ASSERT_TRUE(queue.push(CoreTransaction{201, 8, ""}, nullptr, nullptr));
  EXPECT_TRUE(worker.processOne());
  EXPECT_EQ(1u, queue.size());
  bool found = false;
  CoreApiResult r = queue.takeResult(7, &found);
  ASSERT_TRUE(found);
  EXPECT_EQ(7u, r.id);
  EXPECT_EQ(rc::kUnknownCommand, r.code);
  EXPECT_TRUE(worker.processOne());
  EXPECT_TRUE(queue.takeResult(8, &found).id == 8 && found);
  EXPECT_FALSE(worker.processOne());
}

TEST(CoreWorkerTest, InitialiseWithoutArchiveStorageClearsItsBits) {
  platform::FakeEnv env;
  FrStatus::setFlags(0xFFFF);
  CoreWorker worker(&env);
  worker.initialise();
  EXPECT_FALSE(FrStatus::testFlags(FrStatus::kArchivePresent | FrStatus::kArchiveUsable));
  EXPECT_EQ(rc::kNoArchiveStorage, FrStatus::readiness());
  std::string s, c;
  FrStatus::copyRecords(&s, &c);
  EXPECT_EQ(50, s[3]);
}

TEST(CoreWorkerTest, InitialiseWithoutEepromMarksAnIdentityError) {
  platform::FakeEnv env;
  CoreWorker worker(&env);
  worker.initialise();
  EXPECT_TRUE(FrStatus::testFlags(FrStatus::kIdentityError));
  EXPECT_EQ(rc::kNoArchiveStorage, FrStatus::readiness());  // storage is checked first
}

// Start-up with any one of the identity's reads failing (key, model data,
// registration data) must not take the identity as sound.
TEST(CoreWorkerTest, AnUnreadablePartOfTheIdentityIsAnIdentityError) {
  platform::FakeEnv env;
  ASSERT_TRUE(env.CreateDirectory("/nv"));
  ASSERT_TRUE(env.WriteFile(eeprom::kPath, std::string(eeprom::kSize, '\xFF')));
  platform::FaultEnv faults(&env);
  faults.Arm(platform::FaultEnv::kRead, -1, platform::FaultEnv::Fault::kFail, eeprom::kPath);  // counts only
  ASSERT_TRUE(eeprom::loadIdentity(&faults).ok);
  const int reads = faults.count(platform::FaultEnv::kRead);
  ASSERT_GE(reads, 3);
  {
    CoreWorker worker(&faults);
    faults.Disarm();
    worker.initialise();
    EXPECT_FALSE(FrStatus::testFlags(FrStatus::kIdentityError));
  }
  for (int nth = 0; nth < reads; ++nth) {
    CoreWorker worker(&faults);
    faults.Arm(platform::FaultEnv::kRead, nth, platform::FaultEnv::Fault::kFail, eeprom::kPath);
    worker.initialise();
    EXPECT_TRUE(faults.fired()) << "read " << nth;
    EXPECT_TRUE(FrStatus::testFlags(FrStatus::kIdentityError)) << "read " << nth;
  }
}

// A register with a blank EEPROM, fresh tables and a second cashier who may
// not set the serial number.
class SerialNumberTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env_.CreateDirectory("/nv"));
    ASSERT_TRUE(env_.WriteFile(eeprom::kPath, std::string(eeprom::kSize, '\xFF')));
    CoreIdentity::replaceModelData(ModelData());
    worker_.initialise();
    ASSERT_FALSE(FrStatus::testFlags(FrStatus::kIdentityError));
    Cashier clerk;
    clerk.number = 5;
    clerk.rights = 0x03FF & ~tables::kRightSerialNumber;
    clerk.password = 55;
    clerk.name = "clerk";
    ASSERT_TRUE(tables::saveCashier(&env_, clerk));
  }
  void TearDown() override { CoreIdentity::replaceModelData(ModelData()); }

  int Set(uint8_t cashier, int32_t password, const std::string& serial) {
    std::string data(1, static_cast<char>(cashier));
    util::PutFixed32(&data, static_cast<uint32_t>(password));
    return worker_.dispatch(CoreTransaction{cmd::kSetSerialNumber, 1, data + serial}).code;
  }

  platform::FakeEnv env_;
  CoreWorker worker_{&env_};
};

TEST_F(SerialNumberTest, ChecksInOrder) {
  struct Case {
    const char* what;
    uint8_t cashier;
    int32_t password;
    std::string serial;
    int code;
  };
  const int32_t service = tables::kServiceDefaultPassword;
  const Case cases[] = {
      {"no prefix", 0, 0, "", rc::kBadCashierPrefix},
      {"wrong password", 20, service + 1, "0123456789", rc::kCashierRefused},
      {"nine digits", 20, service, "012345678", rc::kBadData},
      {"no right, before the digits", 5, 55, "01234abcde", rc::kNoRight},
      {"five letters", 20, service, "01234abcde", rc::kBadData},
  };
  for (const Case& c : cases) EXPECT_EQ(c.code, Set(c.cashier, c.password, c.serial)) << c.what;
  EXPECT_FALSE(CoreIdentity::modelData().isValid());
}

TEST_F(SerialNumberTest, SetOnceWrittenToTheEepromWithItsCheckValue) {
  ASSERT_EQ(rc::kOk, Set(20, tables::kServiceDefaultPassword, "0000000000"));
  const ModelData model = CoreIdentity::modelData();
  ASSERT_TRUE(model.isValid());
  EXPECT_EQ("0000000000", model.serialNumber());
  EXPECT_EQ(util::Utf8ToCp866("ЗЕЛТА-7ФК"), model.modelName());
  EXPECT_EQ(util::Crc32("33299" "0000000000" + CoreIdentity::deviceKey()), model.checkValue());
  std::string eeprom_bytes;
  ASSERT_TRUE(env_.ReadFile(eeprom::kPath, &eeprom_bytes));
  EXPECT_EQ(model.image(), eeprom_bytes.substr(0, 48));
  // Once valid, even a malformed number is answered "already set".
  EXPECT_EQ(rc::kSerialAlreadySet, Set(20, tables::kServiceDefaultPassword, "x"));
}

TEST_F(SerialNumberTest, FailedWriteIsAnIdentityError) {
  ASSERT_EQ(0, std::remove(env_.Resolve(eeprom::kPath).c_str()));
  EXPECT_EQ(rc::kIdentityFailure, Set(20, tables::kServiceDefaultPassword, "0123456789"));
  EXPECT_TRUE(FrStatus::testFlags(FrStatus::kIdentityError));
  EXPECT_FALSE(CoreIdentity::modelData().isValid());
}

}  // namespace
