#include "app/config_worker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "app/codes.h"
#include "app/fr_status.h"
#include "platform/fake_env.h"
#include "platform/fake_fault_env.h"
#include "platform/sandbox_env.h"
#include "printer/print_layout.h"
#include "printer/printer_settings.h"
#include "storage/tables.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace {

std::string Prefix(uint8_t cashier, int32_t password) {
  std::string data(1, static_cast<char>(cashier));
  util::PutFixed32(&data, static_cast<uint32_t>(password));
  return data;
}

class ConfigWorkerTest : public testing::Test {
 protected:
  void SetUp() override {
    FrStatus::reset();
    FrStatus::setBuildTime(1000);
    printer::setWidthSetting(printer::kDefaultWidthSetting);
    ASSERT_TRUE(env_.CreateDirectory("/nv"));
    ASSERT_TRUE(tables::initCashiers(&env_) && tables::initSections(&env_) && tables::initDiscounts(&env_));
    Cashier clerk;
    clerk.number = 5;
    clerk.rights = tables::kRightCashiers | tables::kRightSectionsDiscounts;  // no clock right
    clerk.password = 55;
    clerk.name = "clerk";
    ASSERT_TRUE(tables::saveCashier(&env_, clerk));
  }
  void TearDown() override { printer::setWidthSetting(printer::kDefaultWidthSetting); }

  CoreApiResult Run(uint8_t command, const std::string& data, platform::Env* env = nullptr) {
    return ConfigWorker(env != nullptr ? env : &env_).handle(CoreTransaction{command, 7, data});
  }

  const std::string service_ = Prefix(20, tables::kServiceDefaultPassword);
  const std::string clerk_ = Prefix(5, 55);
  platform::FakeEnv env_;
};

TEST_F(ConfigWorkerTest, ReadingRecords) {
  struct Case {
    const char* what;
    std::string data;
    int code;
    size_t size;
  };
  const Case cases[] = {
      {"empty cashier slot", service_ + "\x01\x07", rc::kOk, 263},
      {"section", service_ + "\x02\x03", rc::kOk, 128},
      {"empty discount slot", service_ + "\x03\x05", rc::kOk, 141},
      {"table kind 4", service_ + "\x04\x01", rc::kOutOfRange, 0},
      {"no record number", service_ + "\x01", rc::kBadCashierPrefix, 0},
      {"no kind at all", service_, rc::kBadCashierPrefix, 0},
      {"cashier 21", service_ + "\x01\x15", rc::kNotFound, 0},
      {"discount 0", service_ + std::string("\x03\x00", 2), rc::kNotFound, 0},
      {"wrong password", Prefix(20, 31) + "\x01\x07", rc::kCashierRefused, 0},
      {"short prefix", service_.substr(0, 4), rc::kBadCashierPrefix, 0},
  };
  for (const Case& c : cases) {
    const CoreApiResult r = Run(cmd::kReadTableRecord, c.data);
    EXPECT_EQ(c.code, r.code) << c.what;
    EXPECT_EQ(c.size, r.data.size()) << c.what;
  }
  const CoreApiResult seven = Run(cmd::kReadTableRecord, service_ + "\x01\x07");
  EXPECT_EQ(7, seven.data[0]);  // the requested number, even for an empty slot
}

TEST_F(ConfigWorkerTest, RightsForTables) {
  Cashier sections_only;
  sections_only.number = 6;
  sections_only.rights = tables::kRightSectionsDiscounts;
  sections_only.password = 66;
  sections_only.name = "s";
  ASSERT_TRUE(tables::saveCashier(&env_, sections_only));
  EXPECT_EQ(rc::kNoRight, Run(cmd::kReadTableRecord, Prefix(6, 66) + "\x01\x01").code);
  EXPECT_EQ(rc::kOk, Run(cmd::kReadTableRecord, Prefix(6, 66) + "\x02\x01").code);
}

TEST_F(ConfigWorkerTest, ServiceCashierRecord) {
  Cashier record;
  record.number = 20;
  record.rights = 0x0001;
  record.password = 0;
  const std::string image = tables::cashierImage(record);  // empty name, password 0

  CoreApiResult r = Run(cmd::kWriteTableRecord, clerk_ + "\x01" + image);
  EXPECT_EQ(rc::kNoRight, r.code);
  EXPECT_EQ(image, r.data);  // the record as received

  r = Run(cmd::kWriteTableRecord, service_ + "\x01" + image);
  EXPECT_EQ(rc::kOk, r.code);
  Cashier saved;
  ASSERT_TRUE(tables::readCashier(&env_, 20, &saved));
  EXPECT_EQ(util::Utf8ToCp866("ЦТО"), saved.name);
  EXPECT_EQ(tables::kServiceDefaultPassword, saved.password);
  EXPECT_EQ(tables::kAllRights, saved.rights);
}

TEST_F(ConfigWorkerTest, WritingRecordsAndTheirReplies) {
  Discount d;
  d.number = 4;
  d.type = 1;
  d.value = 500;
  d.name = "five";
  const std::string discount = tables::discountImage(d);
  Section s;
  s.number = 7;
  s.setName("Dairy");
  const std::string section = tables::sectionImage(s);
  struct Case {
    const char* what;
    std::string data;
    int code;
    std::string reply;
  };
  const Case cases[] = {
      {"discount", service_ + "\x03" + discount, rc::kOk, discount},
      {"140-byte discount", service_ + "\x03" + discount.substr(0, 140), rc::kBadData, discount.substr(0, 140)},
      {"section", clerk_ + "\x02" + section, rc::kOk, section},
      {"short section", clerk_ + "\x02" + section.substr(1), rc::kBadData, section.substr(1)},
      {"bad kind", service_ + "\x09" + discount, rc::kOutOfRange, discount},
      {"refused cashier", Prefix(20, 1) + "\x03" + discount, rc::kCashierRefused, "\x03" + discount},
      {"malformed prefix", Prefix(0, 1) + "\x03", rc::kBadCashierPrefix, ""},
  };
  for (const Case& c : cases) {
    const CoreApiResult r = Run(cmd::kWriteTableRecord, c.data);
    EXPECT_EQ(c.code, r.code) << c.what;
    EXPECT_EQ(c.reply, r.data) << c.what;
  }
  Discount back;
  ASSERT_TRUE(tables::getDiscount(4, &back));
  EXPECT_EQ(500, back.value);
  Section section_back;
  ASSERT_TRUE(tables::getSection(7, &section_back));
  EXPECT_EQ("Dairy", section_back.name);
}

TEST_F(ConfigWorkerTest, Clock) {
  env_.set_now(1700000000);
  CoreApiResult r = Run(cmd::kReadClock, "ignored");
  EXPECT_EQ(rc::kOk, r.code);
  EXPECT_EQ(1700000000u, util::GetFixed32(r.data, 0));

  FrStatus::setLastDocumentTime(1700000500);
  std::string when;
  util::PutFixed32(&when, 1700000500);
  EXPECT_EQ(rc::kClockNotLater, Run(cmd::kSetClock, service_ + when).code);
  EXPECT_EQ(rc::kBadData, Run(cmd::kSetClock, service_ + when.substr(0, 3)).code);
  EXPECT_EQ(rc::kNoRight, Run(cmd::kSetClock, clerk_ + when).code);
  EXPECT_TRUE(env_.commands().empty());

  FrStatus::setLastDocumentTime(1699999999);
  when.clear();
  util::PutFixed32(&when, 1700000000);
  r = Run(cmd::kSetClock, service_ + when);
  EXPECT_EQ(rc::kOk, r.code);
  EXPECT_EQ(when, r.data);
  ASSERT_EQ(1u, env_.commands().size());
  EXPECT_EQ("date -s '2023-11-14 22:13:20' && hwclock -w", env_.commands()[0]);
  EXPECT_EQ(1700000000, env_.Now());  // the sandbox clock moved
}

// date runs, hwclock fails: the board's clock has moved all the same.
class HwclockFails : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  int RunShell(const std::string& command) override {
    const size_t hwclock = command.find(" && hwclock");
    if (hwclock == std::string::npos) return target()->RunShell(command);
    target()->RunShell(command.substr(0, hwclock));
    return 1;
  }
};

// A setting the board did not take is refused with 21, and the register
// goes on with what it had: the clock, the printer width, the discount.
TEST_F(ConfigWorkerTest, FailedSavesAreRefusedAndChangeNothing) {
  env_.set_now(1700000000);
  FrStatus::setLastDocumentTime(1699999999);
  std::string later;
  util::PutFixed32(&later, 1700000100);
  Discount kept;
  kept.number = 2;
  kept.type = tables::kPercentDiscount;
  kept.value = 500;
  ASSERT_TRUE(tables::saveDiscount(&env_, kept));
  Discount changed = kept;
  changed.value = 1000;
  const std::string discount = tables::discountImage(changed);

  HwclockFails hwclock(&env_);
  platform::FaultEnv faults(&env_);
  struct Case {
    const char* what;
    std::function<platform::Env*()> arm;
    uint8_t command;
    std::string data;
  };
  const Case cases[] = {
      {"date fails", [&] { return env_.WriteFile(platform::SandboxEnv::kClockFails, "") ? &env_ : nullptr; }, cmd::kSetClock,
       service_ + later},
      {"hwclock fails", [&] { return &hwclock; }, cmd::kSetClock, service_ + later},
      {"width not written",
       [&] {
         faults.Arm(platform::FaultEnv::kWrite, 0, platform::FaultEnv::Fault::kFail, printer::kSettingsPath);
         return &faults;
       },
       cmd::kWritePrinterSetting, service_ + "\x01\x50"},
      {"discount not written",
       [&] {
         faults.Arm(platform::FaultEnv::kWrite, 0, platform::FaultEnv::Fault::kFail, tables::kDiscountsPath);
         return &faults;
       },
       cmd::kWriteTableRecord, service_ + "\x03" + discount},
  };
  for (const Case& c : cases) {
    platform::Env* env = c.arm();
    ASSERT_NE(nullptr, env) << c.what;
    EXPECT_EQ(rc::kNotSaved, Run(c.command, c.data, env).code) << c.what;
    faults.Disarm();
    std::remove(env_.Resolve(platform::SandboxEnv::kClockFails).c_str());
    EXPECT_EQ(1700000000, env_.Now()) << c.what;
    EXPECT_EQ(60, printer::widthSetting()) << c.what;
    Discount d;
    ASSERT_TRUE(tables::getDiscount(2, &d));
    EXPECT_EQ(500, d.value) << c.what;
  }
}

TEST_F(ConfigWorkerTest, PrinterSetting) {
  struct Case {
    uint8_t command;
    std::string data;
    int code;
  };
  const Case cases[] = {
      {cmd::kWritePrinterSetting, service_ + "\x01", rc::kBadData},  // no value byte
      {cmd::kWritePrinterSetting, service_ + "\x02\x50", rc::kOutOfRange},
      {cmd::kWritePrinterSetting, clerk_ + "\x01\x50", rc::kNoRight},
      {cmd::kReadPrinterSetting, service_, rc::kBadData},
      {cmd::kReadPrinterSetting, service_ + "\x02", rc::kOutOfRange},
  };
  for (const Case& c : cases) EXPECT_EQ(c.code, Run(c.command, c.data).code) << int(c.command);
  EXPECT_EQ(60, printer::widthSetting());

  EXPECT_EQ(rc::kOk, Run(cmd::kWritePrinterSetting, service_ + "\x01\x50").code);
  EXPECT_EQ(80, printer::widthSetting());
  std::string file;
  ASSERT_TRUE(env_.ReadFile("/nv/PRINTER_SETTINGS", &file));
  EXPECT_EQ("\x50", file);
  printer::setWidthSetting(60);  // a restart reads it back from the file
  const CoreApiResult r = Run(cmd::kReadPrinterSetting, clerk_ + "\x01");  // no right needed
  EXPECT_EQ(rc::kOk, r.code);
  EXPECT_EQ("\x50", r.data);
}

}  // namespace
