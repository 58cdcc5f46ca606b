// Every command that starts with the cashier prefix, refused for a bad
// prefix, a failed login or a missing right: each refusal must leave the
// tables, the printer setting, the EEPROM and the archive as they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/codes.h"
#include "app/core_worker.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "platform/fake_env.h"
#include "storage/eeprom_format.h"
#include "storage/sd_card.h"
#include "storage/tables.h"
#include "util/coding.h"
#include "util/crc.h"

namespace {

constexpr uint8_t kService = tables::kServiceCashierNumber;
constexpr int32_t kServicePassword = tables::kServiceDefaultPassword;
constexpr uint8_t kClerk = 1;  // re-saved per case with the rights under test
constexpr int32_t kClerkPassword = 1234;

std::string Prefix(uint8_t number, int32_t password) {
  std::string data(1, static_cast<char>(number));
  util::PutFixed32(&data, static_cast<uint32_t>(password));
  return data;
}

std::string Fixed32(uint32_t v) {
  std::string s;
  util::PutFixed32(&s, v);
  return s;
}

struct FileState {
  bool exists = false;
  size_t size = 0;
  uint32_t crc = 0;
  bool operator==(const FileState& o) const {
    return exists == o.exists && size == o.size && crc == o.crc;
  }
};

struct Case {
  const char* what;
  uint8_t command;
  std::string rest;  // the command's own data after the prefix
  uint16_t needed;   // 0: no right is tested
  bool every_bit;    // true: each needed bit is required; false: any one will do
};

class RightsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env_.WriteFile(eeprom::kPath, std::string(eeprom::kSize, '\xFF')));
    ASSERT_TRUE(env_.CreateDirectory("/nv"));
    ASSERT_TRUE(env_.WriteFile("/dev/mmcblk0p1", "card"));
    ASSERT_TRUE(env_.CreateDirectory("/mnt"));
    // Identity is process-wide: start from a device without a serial number.
    CoreIdentity::replaceModelData(ModelData());
    worker_.initialise();
    FrStatus::setBuildTime(0);  // keeps the clock check from answering first
    ASSERT_TRUE(env_.PathExists(archive_path_)) << "archive not created";
    // The open document is process-wide too; none may be left from elsewhere.
    Dispatch(cmd::kCancelDocument, "");
  }
  void TearDown() override { CoreIdentity::replaceModelData(ModelData()); }

  int Dispatch(uint8_t command, const std::string& data) {
    return worker_.dispatch(CoreTransaction{command, 9, data}).code;
  }

  std::vector<FileState> Snapshot() {
    std::vector<FileState> states;
    for (const std::string& path : paths_) {
      FileState s;
      std::string content;
      s.exists = env_.PathExists(path);
      if (s.exists && env_.ReadFile(path, &content)) {
        s.size = content.size();
        s.crc = util::Crc32(content);
      }
      states.push_back(s);
    }
    return states;
  }

  // One request; the answer must match and no file may change.
  void Expect(const std::string& what, uint8_t command, const std::string& data, int code) {
    // The previous request's after-state is this one's before-state (the
    // archive is 16 MB: reading it once per request is enough).
    const std::vector<FileState> before = last_;
    EXPECT_EQ(code, Dispatch(command, data)) << what << " (command " << int(command) << ")";
    const std::vector<FileState> after = last_ = Snapshot();
    for (size_t i = 0; i < paths_.size(); ++i) {
      EXPECT_TRUE(before[i] == after[i]) << what << " (command " << int(command) << ") changed " << paths_[i];
    }
  }

  void Run(const Case& c) {
    SCOPED_TRACE(c.what);
    last_ = Snapshot();
    // A malformed prefix and a failed login come before any right.
    Expect("4-byte request", c.command, Prefix(kService, kServicePassword).substr(0, 4), rc::kBadCashierPrefix);
    Expect("cashier 0", c.command, Prefix(0, kServicePassword) + c.rest, rc::kBadCashierPrefix);
    Expect("cashier 21", c.command, Prefix(21, kServicePassword) + c.rest, rc::kBadCashierPrefix);
    Expect("service, wrong password", c.command, Prefix(kService, kServicePassword + 1) + c.rest,
           rc::kCashierRefused);
    Expect("empty slot", c.command, Prefix(7, 0) + c.rest, rc::kCashierRefused);

    std::vector<uint16_t> lacking;  // the rights of the clerk to refuse
    if (c.needed == 0) {
      lacking.push_back(0);
    } else if (c.every_bit) {
      for (uint16_t bit = 1; bit != 0 && bit <= c.needed; bit = static_cast<uint16_t>(bit << 1)) {
        if (c.needed & bit) lacking.push_back(bit);
      }
    } else {
      lacking.push_back(c.needed);
    }
    for (uint16_t missing : lacking) {
      const uint16_t rights = missing == 0 ? 0x0001 : static_cast<uint16_t>(tables::kAllRights & ~missing);
      ASSERT_TRUE(tables::saveCashier(&env_, Cashier{kClerk, rights, kClerkPassword, "clerk"}));
      last_ = Snapshot();
      Expect("clerk, wrong password", c.command, Prefix(kClerk, kClerkPassword + 1) + c.rest,
             rc::kCashierRefused);
      const std::string what = "clerk with rights 0x" + Hex(rights);
      // A command needing no right serves the clerk (a read: still no change).
      Expect(what, c.command, Prefix(kClerk, kClerkPassword) + c.rest, missing == 0 ? rc::kOk : rc::kNoRight);
    }
  }

  static std::string Hex(uint16_t v) {
    char text[8];
    snprintf(text, sizeof(text), "%04X", v);
    return text;
  }

  platform::FakeEnv env_;
  std::vector<FileState> last_;
  CoreWorker worker_{&env_};
  const std::string archive_path_ = std::string(sdcard::kMountPoint) + sdcard::kArchiveName;
  const std::vector<std::string> paths_ = {"/nv/CASHIERS", "/nv/SECTIONS",        "/nv/DISCOUNTS",
                                           "/nv/PRINTER_SETTINGS", eeprom::kPath, archive_path_};
};

// Serial number still unset: command 63 only reaches its right check then.
TEST_F(RightsTest, TablesClockPrinterSerialAndReportsRefuseWithoutChangingFiles) {
  const std::string new_cashier = tables::cashierImage(Cashier{7, tables::kAllRights, 77, "new"});
  const std::string new_discount = tables::discountImage(Discount{3, 1, 500, "d"});
  const uint32_t later = static_cast<uint32_t>(env_.Now() + 3600);
  const Case cases[] = {
      {"read cashier record", cmd::kReadTableRecord, "\x01\x05", tables::kRightCashiers, false},
      {"read section record", cmd::kReadTableRecord, std::string("\x02\x01", 2), tables::kRightSectionsDiscounts,
       false},
      {"write cashier record", cmd::kWriteTableRecord, "\x01" + new_cashier, tables::kRightCashiers, false},
      {"write discount record", cmd::kWriteTableRecord, "\x03" + new_discount, tables::kRightSectionsDiscounts,
       false},
      {"set clock", cmd::kSetClock, Fixed32(later), 0x0004, false},
      {"read printer setting", cmd::kReadPrinterSetting, "\x01", 0, false},
      {"write printer setting", cmd::kWritePrinterSetting, "\x01\x02", 0x0004, false},
      {"set serial number", cmd::kSetSerialNumber, "0123456789", tables::kRightSerialNumber, false},
      {"control tape", cmd::kControlTape, Fixed32(1), 0x0001 | 0x0002 | 0x0010, true},
      {"print report", cmd::kPrintReport, "\x01", 0x0002, false},
      {"print copy", cmd::kPrintCopy, Fixed32(1), 0x0002, false},
  };
  for (const Case& c : cases) Run(c);
  EXPECT_FALSE(CoreIdentity::modelData().isValid());
}

// Document opens check the serial number (13) before the rights: set it first.
TEST_F(RightsTest, DocumentOpensRefuseWithoutChangingFiles) {
  ASSERT_EQ(rc::kOk, Dispatch(cmd::kSetSerialNumber, Prefix(kService, kServicePassword) + "0123456789"));
  ASSERT_TRUE(CoreIdentity::modelData().isValid());
  const Case cases[] = {
      {"open registration", cmd::kOpenRegistration, "", 0x0008, false},
      {"open shift open", cmd::kOpenShiftOpen, "", 0x0001 | 0x0002 | 0x0010, false},
      {"open shift close", cmd::kOpenShiftClose, "", 0x0001 | 0x0002 | 0x0010, false},
      {"open receipt", cmd::kOpenReceipt, "", 0x0001 | 0x0010, false},
      {"open archive close", cmd::kOpenArchiveClose, "", 0x0008, false},
      {"open cash in", cmd::kOpenCashIn, "", 0x0001 | 0x0002 | 0x0010, false},
      {"open cash out", cmd::kOpenCashOut, "", 0x0001 | 0x0002 | 0x0010, false},
  };
  for (const Case& c : cases) Run(c);
  // Nothing was opened by any refusal.
  EXPECT_EQ(rc::kNoOpenDocument, Dispatch(cmd::kDocumentState, ""));
}

}  // namespace
