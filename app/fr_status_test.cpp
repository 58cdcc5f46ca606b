#include "app/fr_status.h"

#include <gtest/gtest.h>

#include "app/codes.h"
#include "platform/fake_env.h"
#include "util/coding.h"

namespace FrStatus {
namespace {

class FrStatusTest : public testing::Test {
 protected:
  void SetUp() override {
    reset();
    setBuildTime(0);
  }
  // A device that passes the readiness check.
  static void MakeReady() { setFlags(kArchivePresent | kArchiveUsable); }
};

TEST_F(FrStatusTest, ResetLeavesZerosAndTheConstant) {
  setFlags(0xFFFF);
  setCashInDrawer(5);
  reset();
  std::string s, c;
  copyRecords(&s, &c);
  std::string expected(kStatusSize, '\0');
  expected[3] = 50;
  EXPECT_EQ(expected, s);
  EXPECT_EQ(std::string(kCycleSize, '\0'), c);
}

TEST_F(FrStatusTest, FieldsSitAtTheirOffsetsLittleEndian) {
  setFlags(0x1234);
  setRegistrationCount(7);
  setShiftNumber(0xA1B2);
  setLastDocumentNumber(0x01020304);
  setLastDocumentTime(-2);
  setReceiptsInShift(0x0506);
  setOpenDocumentType(3);
  setCapacity(250000);
  setShiftOpenDocument(0x11121314);
  setShiftOpenTime(0x21222324);
  setLastShiftDocument(0x31323334);
  setShiftCloseTime(0x41424344);
  setCashInDrawer(0x0102030405060708LL);
  std::string s, c;
  copyRecords(&s, &c);
  EXPECT_EQ(0x1234, util::GetFixed16(s, 0));
  EXPECT_EQ(7, s[2]);
  EXPECT_EQ(50, s[3]);
  EXPECT_EQ(0xA1B2, util::GetFixed16(s, 4));
  EXPECT_EQ(0x01020304u, util::GetFixed32(s, 6));
  EXPECT_EQ(0xFFFFFFFEu, util::GetFixed32(s, 10));
  EXPECT_EQ(0x0506, util::GetFixed16(s, 14));
  EXPECT_EQ(3, s[16]);
  EXPECT_EQ(250000u, util::GetFixed32(s, 17));
  EXPECT_EQ(0x11121314u, util::GetFixed32(c, 0));
  EXPECT_EQ(0x21222324u, util::GetFixed32(c, 4));
  EXPECT_EQ(0x31323334u, util::GetFixed32(c, 8));
  EXPECT_EQ(0x41424344u, util::GetFixed32(c, 12));
  EXPECT_EQ(0x0102030405060708ull, util::GetFixed64(c, 16));
  EXPECT_EQ(-2, lastDocumentTime());
  EXPECT_EQ(0x0102030405060708LL, cashInDrawer());
}

TEST_F(FrStatusTest, SetFlagTouchesOnlyItsBits) {
  setFlags(0x00F0);
  setFlag(kShiftOpen | kIdentityError, true);
  EXPECT_EQ(0x00F8, flags());
  setFlag(kArchiveUsable, false);
  EXPECT_EQ(0x00E8, flags());
  EXPECT_TRUE(testFlags(kShiftOpen | kPaperOut));
  EXPECT_FALSE(testFlags(kPaperOut | kPrinterSilent));
}

TEST_F(FrStatusTest, ReadinessReportsTheFirstProblemInOrder) {
  struct Case {
    uint16_t flags;
    int code;
  };
  const uint16_t ok = kArchivePresent | kArchiveUsable;
  const Case cases[] = {
      {ok, rc::kOk},
      {kForeignArchive, rc::kForeignArchive},  // before the missing storage
      {0, rc::kNoArchiveStorage},
      {kArchivePresent, rc::kArchiveUnusable},
      {ok | kArchiveClosed | kIdentityError, rc::kArchiveClosed},
      {ok | kIdentityError | kPrinterSilent, rc::kIdentityFailure},
      {ok | kPrinterSilent | kPaperOut, rc::kPrinterSilent},
      {ok | kPaperOut, rc::kPaperOut},
      {ok | kPaperNearEnd | kRegistered | kShiftOpen, rc::kOk},
  };
  for (const Case& c : cases) {
    setFlags(c.flags);
    EXPECT_EQ(c.code, readiness()) << std::hex << c.flags;
  }
}

TEST_F(FrStatusTest, StateChecksAtTheirBoundaries) {
  const int64_t now = 1700000000;
  struct Case {
    const char* what;
    Check check;
    bool shift_open;
    uint32_t capacity;
    int64_t shift_age;
    uint16_t receipts;
    int64_t cash;
    uint8_t registrations;
    int code;
  };
  const Case cases[] = {
      {"A ready", Check::A, false, 10, 0, 0, 0, 49, rc::kOk},
      {"A shift open", Check::A, true, 10, 0, 0, 0, 0, rc::kShiftOpen},
      {"A 50 registrations", Check::A, false, 10, 0, 0, 0, 50, rc::kRegistrationLimit},
      {"A capacity 9", Check::A, false, 9, 0, 0, 0, 0, rc::kCapacityLow},
      {"B ready", Check::B, false, 10, 0, 0, 0, 0, rc::kOk},
      {"B shift open", Check::B, true, 10, 0, 0, 0, 0, rc::kShiftOpen},
      {"B capacity 9", Check::B, false, 9, 0, 0, 0, 0, rc::kCapacityLow},
      {"C ready, no capacity", Check::C, false, 0, 0, 0, 0, 0, rc::kOk},
      {"C shift open", Check::C, true, 10, 0, 0, 0, 0, rc::kShiftOpen},
      {"D at 86400 s", Check::D, true, 10, 86400, 0, 0, 0, rc::kOk},
      {"D at 86401 s", Check::D, true, 10, 86401, 0, 0, 0, rc::kShiftTooLong},
      {"D no shift", Check::D, false, 10, 0, 0, 0, 0, rc::kShiftNotOpen},
      {"D capacity 9", Check::D, true, 9, 0, 0, 0, 0, rc::kCapacityLow},
      {"E capacity 5", Check::E, true, 5, 0, 0, 1, 0, rc::kOk},
      {"E capacity 4", Check::E, true, 4, 0, 0, 1, 0, rc::kCapacityLow},
      {"E no cash", Check::E, true, 5, 0, 0, 0, 0, rc::kNoCash},
      {"E no shift", Check::E, false, 5, 0, 0, 1, 0, rc::kShiftNotOpen},
      {"F ready", Check::F, true, 10, 86400, 2999, 0, 0, rc::kOk},
      {"F 3000 receipts", Check::F, true, 10, 0, 3000, 0, 0, rc::kReceiptLimit},
      {"F at 86401 s", Check::F, true, 10, 86401, 3000, 0, 0, rc::kShiftTooLong},
      {"F capacity 9", Check::F, true, 9, 86401, 0, 0, 0, rc::kCapacityLow},
      {"F no shift", Check::F, false, 10, 0, 0, 0, 0, rc::kShiftNotOpen},
      {"G ready", Check::G, true, 0, 0, 0, 0, 0, rc::kOk},
      {"G cash left", Check::G, true, 10, 0, 0, 1, 0, rc::kCashNotZero},
      {"G no shift", Check::G, false, 10, 0, 0, 0, 0, rc::kShiftNotOpen},
      {"H ready", Check::H, true, 0, 999999, 0, 5, 50, rc::kOk},
      {"H no shift", Check::H, false, 10, 0, 0, 0, 0, rc::kShiftNotOpen},
  };
  for (const Case& c : cases) {
    reset();
    MakeReady();
    setFlag(kShiftOpen, c.shift_open);
    setCapacity(c.capacity);
    setShiftOpenTime(static_cast<uint32_t>(now - c.shift_age));
    setReceiptsInShift(c.receipts);
    setCashInDrawer(c.cash);
    setRegistrationCount(c.registrations);
    EXPECT_EQ(c.code, check(c.check, now)) << c.what;
  }
}

TEST_F(FrStatusTest, StateChecksEndWithReadiness) {
  const Check all[] = {Check::A, Check::B, Check::C, Check::D,
                       Check::E, Check::F, Check::G, Check::H};
  for (Check which : all) {
    reset();
    setFlags(kArchivePresent | kArchiveUsable | kPaperOut);
    setFlag(kShiftOpen, which >= Check::D);
    setCapacity(100);
    setCashInDrawer(which == Check::E ? 1 : 0);
    setShiftOpenTime(1000);
    EXPECT_EQ(rc::kPaperOut, check(which, 1000)) << static_cast<int>(which);
  }
}

TEST_F(FrStatusTest, ClockMustPassLastDocumentAndBuildTime) {
  struct Case {
    int32_t last_document;
    int64_t build;
    int64_t t;
    bool ok;
  };
  const Case cases[] = {
      {1000, 500, 1000, false},  // equal to the last document time
      {1000, 500, 1001, true},
      {0, 5000, 5000, false},  // no document yet: the build time still holds
      {0, 5000, 4000, false},
      {0, 5000, 5001, true},
      {6000, 5000, 5500, false},
  };
  for (const Case& c : cases) {
    setLastDocumentTime(c.last_document);
    setBuildTime(c.build);
    EXPECT_EQ(c.ok, clockCheck(c.t)) << c.last_document << " " << c.build << " " << c.t;
  }
}

TEST_F(FrStatusTest, BuildTimeParsesTheCompilerStamp) {
  platform::FakeEnv env;  // local time is UTC there
  int64_t t = 0;
  ASSERT_TRUE(parseBuildTime(&env, "Jun 24 2022 15:08:59", &t));
  EXPECT_EQ(1656083339, t);
  ASSERT_TRUE(parseBuildTime(&env, "Dec  8 2026 00:20:36", &t));  // padded day
  EXPECT_EQ(1796689236, t);
  EXPECT_FALSE(parseBuildTime(&env, "yesterday", &t));
}

}  // namespace
}  // namespace FrStatus
