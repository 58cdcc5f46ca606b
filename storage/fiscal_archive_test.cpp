#include "storage/fiscal_archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "documents/receipt_doc.h"
#include "documents/registration_documents.h"
#include "documents/shift_documents.h"
#include "platform/fake_env.h"
#include "storage/archive_test_fixture.h"
#include "storage/eeprom.h"
#include "storage/archive_format.h"
#include "storage/eeprom_format.h"
#include "storage/tax_rate.h"
#include "util/coding.h"
#include "util/crc.h"

namespace {

using namespace archivetest;

class FiscalArchiveTest : public ArchiveTest {};

TEST_F(FiscalArchiveTest, NewArchiveIsSparseWithItsMagicAndNumber) {
  std::string head(8, '\0');
  uint64_t size = 0;
  ASSERT_TRUE(env_.FileSize(kPath, &size));
  EXPECT_EQ(16777220u, size);
  struct stat st;
  ASSERT_EQ(0, stat(env_.Resolve(kPath).c_str(), &st));
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, size / 4);  // mostly a hole
  std::string bytes;
  ASSERT_TRUE(env_.ReadFile(kPath, &bytes));
  EXPECT_EQ(std::string("\x03\x89\x23\xF4", 4), bytes.substr(0, 4));
  EXPECT_EQ(std::string("\x03\x89\x23\xF4", 4), bytes.substr(16777216, 4));
  const uint32_t number = util::GetFixed32(bytes, 4);
  EXPECT_NE(0u, number);
  EXPECT_EQ(number, archive_->archiveNumber());
  struct tm tm;
  ASSERT_TRUE(env_.LocalTime(env_.Now(), &tm));
  EXPECT_EQ(static_cast<uint32_t>(tm.tm_year + 1900 - 2000), number >> 25);
  EXPECT_EQ(static_cast<uint32_t>(tm.tm_mon + 1), (number >> 21) & 0xF);
  EXPECT_EQ(static_cast<uint32_t>(tm.tm_mday), (number >> 16) & 0x1F);
  EXPECT_EQ(std::vector<std::string>{"CREATE NEW STORAGE FILE "}, env_.lines());
}

TEST_F(FiscalArchiveTest, FirstDocumentAndReadingBack) {
  EXPECT_EQ(rc::kNoDocumentObject, archive_->store(nullptr));
  ASSERT_EQ(rc::kOk, Register());
  DocDescriptor d;
  ASSERT_TRUE(archive_->readDescriptor(1, &d));
  EXPECT_EQ(doc::kFiscalisation, d.bytes[0]);
  EXPECT_EQ(1u, util::DecodeFixed32(d.bytes + 1));
  EXPECT_EQ(16777220u, util::DecodeFixed64(d.bytes + 18));
  EXPECT_EQ(1u, util::DecodeFixed32(d.bytes + 28));  // its own number
  EXPECT_EQ(util::Crc16(d.bytes, 38), util::DecodeFixed16(d.bytes + 38));
  // The registration became the device's, and went to the EEPROM.
  EXPECT_TRUE(CoreIdentity::regData() == Reg("7701234567"));
  uint8_t count = 0;
  ASSERT_TRUE(archive_->readRegistrationCount(&count));
  EXPECT_EQ(1, count);

  ASSERT_EQ(rc::kOk, OpenShift());
  ASSERT_TRUE(archive_->readDescriptor(2, &d));
  DocDescriptor first;
  ASSERT_TRUE(archive_->readDescriptor(1, &first));
  EXPECT_EQ(util::DecodeFixed64(first.bytes + 18) + util::DecodeFixed16(first.bytes + 16),
            util::DecodeFixed64(d.bytes + 18));
  EXPECT_EQ(1u, util::DecodeFixed32(d.bytes + 28));

  std::shared_ptr<BaseWorkDocument> back;
  ASSERT_EQ(rc::kOk, archive_->readDocument(2, &back));
  EXPECT_EQ(doc::kShiftOpen, back->type());
  EXPECT_EQ(2u, back->documentNumber());
  EXPECT_EQ(1, back->shiftNumber());
  EXPECT_TRUE(back->verifySign(kKey, "0123456789"));
  EXPECT_EQ(rc::kNotFound, archive_->readDocument(3, &back));
  EXPECT_EQ(rc::kArchiveUnusable, archive_->readDocument(0, &back));
  ASSERT_EQ(rc::kOk, archive_->readDocument(1, &back));
  EXPECT_EQ(doc::kFiscalisation, back->type());
}

// Cash going out of a drawer the device believes fuller than the archive
// does empties the archive's drawer and no more, whichever document takes it.
TEST_F(FiscalArchiveTest, CashGoingOutTakesNoMoreThanTheDrawer) {
  ASSERT_EQ(rc::kOk, Register());
  ASSERT_EQ(rc::kOk, OpenShift());
  ASSERT_EQ(rc::kOk, Cash(doc::kCashIn, 3000));
  FrStatus::setCashInDrawer(10000);
  ASSERT_EQ(rc::kOk, Cash(doc::kCashOut, 10000));
  ShiftCounters shift, since;
  GrossCounters gross;
  ASSERT_TRUE(archive_->readShiftCounters(&shift));
  ASSERT_TRUE(archive_->readRegistrationCounters(&since));
  ASSERT_TRUE(archive_->readGrossCounters(&gross));
  for (const ShiftCounters* c : {&shift, &since}) {
    EXPECT_EQ(1, c->cashInCount());
    EXPECT_EQ(3000, c->cashInSum());
    EXPECT_EQ(1, c->cashOutCount());
    EXPECT_EQ(3000, c->cashOutSum());
    EXPECT_EQ(0, c->cashInDrawer());
  }
  EXPECT_EQ(3000, gross.cashOutSum());
  EXPECT_EQ(1, gross.shiftNumber());

  ASSERT_EQ(rc::kOk, Cash(doc::kCashIn, 2000));
  FrStatus::setCashInDrawer(10000);
  ASSERT_EQ(rc::kOk, Store(Receipt(1, 10000, 10000, 0)));  // a return of sale paid in cash
  ASSERT_TRUE(archive_->readShiftCounters(&shift));
  ASSERT_TRUE(archive_->readRegistrationCounters(&since));
  for (const ShiftCounters* c : {&shift, &since}) {
    EXPECT_EQ(10000, c->block(1).cash());  // the document's own sums are kept whole
    EXPECT_EQ(0, c->cashInDrawer());
  }
}

TEST_F(FiscalArchiveTest, ShiftOpenResetsTheShiftRecordAndSectionTotals) {
  ASSERT_EQ(rc::kOk, Register());
  ASSERT_EQ(rc::kOk, OpenShift());
  ASSERT_EQ(rc::kOk, Cash(doc::kCashIn, 500));
  std::string sections(640, '\x11');
  // A second shift: its record starts from zero but its number.
  FrStatus::setFlag(FrStatus::kShiftOpen, false);
  ASSERT_EQ(rc::kOk, OpenShift());
  ShiftCounters shift, since;
  ASSERT_TRUE(archive_->readShiftCounters(&shift));
  ShiftCounters expected;
  expected.setShiftNumber(2);
  EXPECT_EQ(expected.image(), shift.image());
  ASSERT_TRUE(archive_->readRegistrationCounters(&since));
  EXPECT_EQ(2, since.shiftNumber());  // shifts since registration
  EXPECT_EQ(500, since.cashInSum());
  ASSERT_TRUE(archive_->readSectionTotals(4, &sections));
  EXPECT_EQ(std::string(640, '\0'), sections);
}

TEST_F(FiscalArchiveTest, StartupPublishesTheShiftState) {
  ASSERT_EQ(rc::kOk, Register());
  ASSERT_EQ(rc::kOk, OpenShift());
  ASSERT_EQ(rc::kOk, Cash(doc::kCashIn, 1234));
  FrStatus::reset();
  archive_->publish();
  EXPECT_TRUE(FrStatus::testFlags(FrStatus::kShiftOpen));
  EXPECT_EQ(1, FrStatus::shiftNumber());
  EXPECT_EQ(3u, FrStatus::lastDocumentNumber());
  EXPECT_EQ(2u, FrStatus::shiftOpenDocument());
  EXPECT_EQ(3u, FrStatus::lastShiftDocument());
  EXPECT_EQ(1234, FrStatus::cashInDrawer());
  EXPECT_EQ(1, FrStatus::registrationCount());
  EXPECT_FALSE(FrStatus::testFlags(FrStatus::kArchiveClosed));
}

TEST_F(FiscalArchiveTest, VerificationAgainstTheDeviceIdentity) {
  // An archive with no fiscalisation accepts any device.
  CoreIdentity::replaceModelData(Model("5555555555"));
  ASSERT_TRUE(archive_->createOrVerify());
  CoreIdentity::replaceModelData(Model("0123456789"));
  ASSERT_EQ(rc::kOk, Register());
  ASSERT_TRUE(archive_->createOrVerify());
  EXPECT_TRUE(FrStatus::testFlags(FrStatus::kRegistered));

  FrStatus::reset();
  FrStatus::setFlag(FrStatus::kArchiveUsable, true);
  CoreIdentity::replaceRegData(Reg("7709999999"));
  EXPECT_FALSE(archive_->createOrVerify());
  EXPECT_FALSE(FrStatus::testFlags(FrStatus::kArchiveUsable));
  EXPECT_FALSE(FrStatus::testFlags(FrStatus::kForeignArchive));

  FrStatus::reset();
  CoreIdentity::replaceModelData(Model("5555555555"));
  EXPECT_FALSE(archive_->createOrVerify());
  EXPECT_TRUE(FrStatus::testFlags(FrStatus::kForeignArchive));
}

// A report whose data is padded to a chosen size.
class PaddedReport : public BaseWorkDocument {
 public:
  PaddedReport(platform::Env* env, size_t size)
      : BaseWorkDocument(env, doc::kArchiveClose, CoreIdentity::modelData(), CoreIdentity::regData(),
                         Clerk()),
        size_(size) {}
  std::shared_ptr<BaseDocument> clone() const override { return nullptr; }
  std::string title() const override { return "padded"; }
  int close(uint32_t t, const std::string&, const std::string&, uint16_t*) override {
    setDateTime(t);
    return rc::kOk;
  }
  std::string signedData() const override { return "padded"; }

 protected:
  void encodeOwn(std::string* out) const override {
    // One element of the size that brings the whole encoding to size_.
    const size_t value = size_ - out->size() - TlvElement::kHeaderSize;
    *out += TlvElement(tag::kLineExtraText, std::string(value, 'p')).encode();
  }

 private:
  size_t size_;
};

TEST_F(FiscalArchiveTest, DocumentsLargerThanTheirKindAreRefused) {
  ASSERT_EQ(rc::kOk, Register());
  struct Case {
    size_t size;
    int code;
  };
  const Case cases[] = {{4097, rc::kDocumentTooLarge}, {4096, rc::kOk}};
  for (const Case& c : cases) {
    PaddedReport report(&env_, c.size);
    ASSERT_EQ(c.size, report.encode().size());
    report.setCashierName(kNameData);
    EXPECT_EQ(c.code, archive_->store(&report)) << c.size;
  }
  DocDescriptor last;
  ASSERT_TRUE(archive_->readLastDescriptor(&last));
  EXPECT_EQ(2u, util::DecodeFixed32(last.bytes + 1));  // the refused one took no number
  EXPECT_EQ(4096, util::DecodeFixed16(last.bytes + 16));
}

TlvElement StoredLine(size_t name_length) {
  return TlvElement::fromList(tag::kReceiptLine,
                              {TlvElement::fromString(tag::kLineName, std::string(name_length, 'n')),
                               TlvElement::fromVln(tag::kPrice, 100),
                               TlvElement::fromFvln(tag::kQuantity, Decimal(1, 1)),
                               TlvElement::fromByte(tag::kLineTaxNumber, 1),
                               TlvElement::fromByte(tag::kSectionNumber, 1)});
}

// What the receipt's data block will hold: main data and every further part.
size_t BlockSize(ReceiptDoc* r) {
  size_t size = r->encode().size() + r->taxRateElements().size() + r->sectionElements().size();
  for (std::string line = r->firstLine(); !line.empty(); line = r->nextLine()) size += line.size();
  return size;
}

// A receipt rebuilt from stored lines (which no size check stops) until its
// block is exactly `target` bytes.
std::unique_ptr<ReceiptDoc> ReceiptOfSize(platform::Env* env, size_t target) {
  std::unique_ptr<ReceiptDoc> r(
      new ReceiptDoc(env, CoreIdentity::modelData(), CoreIdentity::regData(), Clerk()));
  r->setCashierName(std::string(1, '\0') + kNameData);
  r->setStoredTag(StoredLine(100));
  const size_t before = BlockSize(r.get());
  std::shared_ptr<ReceiptDoc> probe = std::static_pointer_cast<ReceiptDoc>(r->clone());
  probe->setStoredTag(StoredLine(1));
  const size_t line_base = BlockSize(probe.get()) - before - 1;  // a line of n name bytes: base + n
  while (BlockSize(r.get()) + line_base + 127 < target) r->setStoredTag(StoredLine(100));
  const size_t gap = target - BlockSize(r.get());
  if (gap <= line_base || gap - line_base > 127) return nullptr;
  r->setStoredTag(StoredLine(gap - line_base));
  return r;
}

TEST_F(FiscalArchiveTest, ReceiptBlocksUpTo32768Bytes) {
  ASSERT_EQ(rc::kOk, Register());
  ASSERT_EQ(rc::kOk, OpenShift());
  struct Case {
    size_t size;
    int code;
  };
  const Case cases[] = {{32769, rc::kDocumentTooLarge}, {32768, rc::kOk}};
  std::unique_ptr<ReceiptDoc> kept;
  for (const Case& c : cases) {
    std::unique_ptr<ReceiptDoc> r = ReceiptOfSize(&env_, c.size);
    ASSERT_TRUE(r != nullptr);
    ASSERT_EQ(c.size, BlockSize(r.get()));
    EXPECT_EQ(c.code, archive_->store(r.get())) << c.size;
    kept = std::move(r);
  }
  DocDescriptor last;
  ASSERT_TRUE(archive_->readLastDescriptor(&last));
  EXPECT_EQ(3u, util::DecodeFixed32(last.bytes + 1));
  EXPECT_EQ(32768, util::DecodeFixed16(last.bytes + 16));
  std::shared_ptr<BaseWorkDocument> back;
  ASSERT_EQ(rc::kOk, archive_->readDocument(3, &back));
  EXPECT_EQ(doc::kReceipt, back->type());
  EXPECT_EQ(kept->encode(), back->encode());
  EXPECT_EQ(kept->fiscalSign(), back->fiscalSign());
  EXPECT_TRUE(back->verifySign(kKey, "0123456789"));
}

// A registration the EEPROM does not take is still stored and answered 0
// (a refusal would have the host store it again under a new number); the
// next start writes the EEPROM first, and the archive stays unusable while
// it cannot.
TEST_F(FiscalArchiveTest, RegistrationStoredWhenTheEepromFailsIsWrittenThereLater) {
  const std::string eeprom = env_.Resolve(eeprom::kPath);
  ASSERT_EQ(0, rename(eeprom.c_str(), (eeprom + ".away").c_str()));
  ASSERT_EQ(rc::kOk, Register());
  EXPECT_TRUE(FrStatus::testFlags(FrStatus::kIdentityError));
  archive_.reset(new FiscalArchive(&env_, kPath));
  EXPECT_FALSE(archive_->createOrVerify());

  ASSERT_EQ(0, rename((eeprom + ".away").c_str(), eeprom.c_str()));
  archive_.reset(new FiscalArchive(&env_, kPath));
  ASSERT_TRUE(archive_->createOrVerify());
  EXPECT_TRUE(CoreIdentity::regData() == Reg("7701234567"));
  env_.set_now(env_.Now() + 1);
  EXPECT_EQ(rc::kOk, OpenShift());
  RegData stored;
  ASSERT_TRUE(eeprom::readRegData(&env_, &stored));
  EXPECT_TRUE(stored == Reg("7701234567"));
  uint8_t count = 0;
  ASSERT_TRUE(archive_->readRegistrationCount(&count));
  EXPECT_EQ(1, count);
  DocDescriptor last;
  ASSERT_TRUE(archive_->readLastDescriptor(&last));
  EXPECT_EQ(2u, util::DecodeFixed32(last.bytes + 1));
  EXPECT_EQ(doc::kShiftOpen, last.bytes[0]);
}

}  // namespace
