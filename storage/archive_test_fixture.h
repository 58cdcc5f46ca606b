// What the archive tests share: a test identity, a clerk and an archive on
// a fake board, with builders for closed documents ready to store.
#ifndef FR_STORAGE_ARCHIVE_TEST_FIXTURE_H_
#define FR_STORAGE_ARCHIVE_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "documents/receipt_doc.h"
#include "documents/registration_documents.h"
#include "documents/shift_documents.h"
#include "platform/fake_env.h"
#include "storage/eeprom_format.h"
#include "storage/fiscal_archive.h"
#include "storage/identity_test_util.h"
#include "storage/tables.h"
#include "storage/tax_rate.h"
#include "util/coding.h"

namespace archivetest {

inline const std::string kKey = std::string("archive-test-key", 16);
constexpr const char* kPath = "/mnt/sd/V0XD24TX";

inline ModelData Model(const std::string& serial) { return identitytest::SignedModel(serial, kKey); }

inline RegData Reg(const std::string& inn) {
  TaxRate vat;
  vat.setRateWord(0x4000 | 2000);
  vat.setName("VAT 20");
  return identitytest::SignedReg("0123456789", kKey, 1700000000, inn, {vat.image()});
}

inline Cashier Clerk() {
  Cashier c;
  c.number = 3;
  c.rights = 0x03FF;
  c.password = 1;
  c.name = "clerk";
  return c;
}

inline const std::string kNameData = std::string("\x05") + "clerk";

class ArchiveTest : public testing::Test {
 protected:
  void SetUp() override {
    FrStatus::reset();
    ASSERT_TRUE(env_.CreateDirectory("/mnt"));
    ASSERT_TRUE(env_.CreateDirectory("/mnt/sd"));
    ASSERT_TRUE(env_.WriteFile(eeprom::kPath, std::string(eeprom::kSize, '\xFF')));
    // Receipt lines look up their section and discount.
    ASSERT_TRUE(env_.CreateDirectory("/nv") && tables::initSections(&env_) && tables::initDiscounts(&env_));
    CoreIdentity::storeDeviceKey(kKey);
    CoreIdentity::replaceModelData(Model("0123456789"));
    CoreIdentity::replaceRegData(RegData());
    archive_.reset(new FiscalArchive(&env_, kPath));
    ASSERT_TRUE(archive_->createOrVerify());
  }
  void TearDown() override {
    CoreIdentity::replaceModelData(ModelData());
    CoreIdentity::replaceRegData(RegData());
  }

  uint32_t Now() { return static_cast<uint32_t>(env_.Now()); }

  // Closed documents of each kind, dated now; nullptr when closing failed.
  std::unique_ptr<BaseWorkDocument> Registration() {
    auto report = std::make_unique<FiscalizationDocument>(&env_, CoreIdentity::modelData(), Reg("7701234567"),
                                                          Clerk());
    uint16_t missing = 0;
    if (report->setCashierName(kNameData) != rc::kOk) return nullptr;
    if (report->close(Now(), kKey, "", &missing) != rc::kOk) return nullptr;
    return report;
  }
  std::unique_ptr<BaseWorkDocument> ShiftOpening() {
    auto d = std::make_unique<CycleOpenDocument>(&env_, CoreIdentity::modelData(), CoreIdentity::regData(),
                                                 Clerk());
    uint16_t missing = 0;
    d->setCashierName(kNameData);
    if (d->close(Now(), kKey, "", &missing) != rc::kOk) return nullptr;
    return d;
  }
  std::unique_ptr<BaseWorkDocument> CashDocument(uint8_t type, int64_t kopecks) {
    auto d = std::make_unique<CashCtrlDocument>(&env_, type, CoreIdentity::modelData(), CoreIdentity::regData(),
                                                Clerk());
    uint16_t missing = 0;
    d->setCashierName(kNameData);
    std::string amount;
    util::PutFixed64(&amount, static_cast<uint64_t>(kopecks));
    if (d->close(Now(), kKey, amount, &missing) != rc::kOk) return nullptr;
    return d;
  }

  // A receipt of `type` with two lines making `price`, paid as given.
  std::unique_ptr<BaseWorkDocument> Receipt(uint8_t type, int64_t price, int64_t cash, int64_t cashless) {
    auto r = std::make_unique<ReceiptDoc>(&env_, CoreIdentity::modelData(), CoreIdentity::regData(), Clerk());
    if (r->setCashierName(std::string(1, static_cast<char>(type)) + kNameData) != rc::kOk) return nullptr;
    for (int i = 0; i < 2; ++i) {
      const TlvElement line = TlvElement::fromList(
          tag::kReceiptLine, {TlvElement::fromString(tag::kLineName, "item"), TlvElement::fromVln(tag::kPrice, price / 2 + i * (price % 2)),
                              TlvElement::fromFvln(tag::kQuantity, Decimal(1, 1)),
                              TlvElement::fromByte(tag::kLineTaxNumber, 1), TlvElement::fromByte(tag::kSectionNumber, 1)});
      if (r->addData(line) != rc::kOk) return nullptr;
    }
    std::string pay;
    util::PutFixed64(&pay, static_cast<uint64_t>(cash));
    util::PutFixed64(&pay, static_cast<uint64_t>(cashless));
    uint16_t missing = 0;
    if (r->close(Now(), kKey, pay, &missing) != rc::kOk) return nullptr;
    return r;
  }

  int Store(std::unique_ptr<BaseWorkDocument> d) { return d ? archive_->store(d.get()) : -1; }
  int Register() { return Store(Registration()); }
  int OpenShift() {
    std::unique_ptr<BaseWorkDocument> d = ShiftOpening();
    const uint16_t shift = d ? d->shiftNumber() : 0;
    const int code = Store(std::move(d));
    if (code == rc::kOk) FrStatus::setShiftNumber(shift);
    return code;
  }
  int Cash(uint8_t type, int64_t kopecks) { return Store(CashDocument(type, kopecks)); }

  platform::FakeEnv env_;
  std::unique_ptr<FiscalArchive> archive_;
};

}  // namespace archivetest

#endif  // FR_STORAGE_ARCHIVE_TEST_FIXTURE_H_
