#include "tools/common/archive_check.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "documents/receipt_doc.h"
#include "documents/registration_documents.h"
#include "documents/shift_documents.h"
#include "platform/fake_env.h"
#include "storage/archive_format.h"
#include "storage/eeprom_format.h"
#include "storage/fiscal_archive.h"
#include "storage/identity_test_util.h"
#include "storage/tables.h"
#include "storage/tax_rate.h"
#include "util/coding.h"
#include "util/crc.h"

namespace {

const std::string kKey = std::string("checker-test-key", 16);
const std::string kSerial = "0123456789";
const std::string kName = std::string("\x05") + "clerk";
constexpr int64_t kStart = 1700000000;

ModelData Model() { return identitytest::SignedModel(kSerial, kKey); }

RegData Reg() {
  std::vector<std::string> images;
  const struct {
    uint8_t type;
    uint16_t rate;
    const char* name;
  } rates[] = {{TaxRate::kIncluded, 2000, "VAT 20"}, {TaxRate::kIncluded, 1000, "VAT 10"}};
  for (const auto& rate : rates) {
    TaxRate t;
    t.setType(rate.type);
    t.setRate(rate.rate);
    t.setName(rate.name);
    images.push_back(t.image());
  }
  return identitytest::SignedReg(kSerial, kKey, kStart, "7701234567", images);
}

Cashier Clerk() { return Cashier{3, 0x03FF, 1, "clerk"}; }

std::string U64(int64_t v) {
  std::string s;
  util::PutFixed64(&s, static_cast<uint64_t>(v));
  return s;
}

TlvElement Line(int64_t price, int64_t quantity, uint8_t tax, uint8_t section) {
  return TlvElement::fromList(
      tag::kReceiptLine,
      {TlvElement::fromString(tag::kLineName, "goods"), TlvElement::fromVln(tag::kPrice, price),
       TlvElement::fromFvln(tag::kQuantity, Decimal(1, quantity)), TlvElement::fromByte(tag::kLineTaxNumber, tax),
       TlvElement::fromByte(tag::kSectionNumber, section)});
}

// What the test told the archive to store, to match against the summary.
struct Stored {
  uint32_t number;
  uint8_t type;
  uint8_t receipt_type;
  int64_t total, cash, cashless, amount;
};

class ArchiveCheckTest : public testing::Test {
 protected:
  void SetUp() override {
    FrStatus::reset();
    ASSERT_TRUE(env_.CreateDirectory("/mnt"));
    ASSERT_TRUE(env_.CreateDirectory("/mnt/sd"));
    ASSERT_TRUE(env_.CreateDirectory("/nv"));
    ASSERT_TRUE(env_.WriteFile(eeprom::kPath, std::string(eeprom::kSize, '\xFF')));
    ASSERT_TRUE(tables::initSections(&env_));
    env_.set_now(kStart);
    CoreIdentity::storeDeviceKey(kKey);
    CoreIdentity::replaceModelData(Model());
    CoreIdentity::replaceRegData(RegData());
    archive_.reset(new FiscalArchive(&env_, sim::kArchivePath));
    ASSERT_TRUE(archive_->createOrVerify());
    FillDay();
  }
  void TearDown() override {
    CoreIdentity::replaceModelData(ModelData());
    CoreIdentity::replaceRegData(RegData());
  }

  // Closes `d` one second after the last document, stores it and lets the
  // device status follow, as the core does.
  void Store(BaseWorkDocument* d, const std::string& close_data) {
    env_.set_now(env_.Now() + 1);
    uint16_t missing = 0;
    ASSERT_EQ(rc::kOk, d->close(static_cast<uint32_t>(env_.Now()), kKey, close_data, &missing));
    ASSERT_EQ(rc::kOk, archive_->store(d));
    archive_->publish();
  }
  void Register() {
    FiscalizationDocument d(&env_, CoreIdentity::modelData(), Reg(), Clerk());
    ASSERT_EQ(rc::kOk, d.setCashierName(kName));
    Store(&d, "");
    stored_.push_back({d.documentNumber(), d.type(), 0, 0, 0, 0, 0});
  }
  template <typename T>
  void Simple() {
    T d(&env_, CoreIdentity::modelData(), CoreIdentity::regData(), Clerk());
    ASSERT_EQ(rc::kOk, d.setCashierName(kName));
    Store(&d, "");
    stored_.push_back({d.documentNumber(), d.type(), 0, 0, 0, 0, 0});
  }
  void Cash(uint8_t type, int64_t amount) {
    CashCtrlDocument d(&env_, type, CoreIdentity::modelData(), CoreIdentity::regData(), Clerk());
    ASSERT_EQ(rc::kOk, d.setCashierName(kName));
    Store(&d, U64(amount));
    stored_.push_back({d.documentNumber(), d.type(), 0, 0, 0, 0, amount});
  }
  void Receipt(uint8_t receipt_type, const std::vector<TlvElement>& lines, int64_t cash, int64_t cashless) {
    ReceiptDoc d(&env_, CoreIdentity::modelData(), CoreIdentity::regData(), Clerk());
    ASSERT_EQ(rc::kOk, d.setCashierName(std::string(1, static_cast<char>(receipt_type)) + kName));
    for (const TlvElement& line : lines) ASSERT_EQ(rc::kOk, d.addData(line));
    Store(&d, U64(cash) + U64(cashless));
    stored_.push_back({d.documentNumber(), d.type(), receipt_type, d.total().mantissa(), d.cashPayment().mantissa(),
                       d.cashlessPayment().mantissa(), 0});
  }

  // Two shifts with every kind of booking in them.
  void FillDay() {
    Register();                                                                         // 1
    Simple<CycleOpenDocument>();                                                        // 2
    Cash(doc::kCashIn, 10000);                                                          // 3
    Receipt(receipt::kSale, {Line(10000, 1, 1, 1), Line(2550, 2, 2, 2)}, 30000, 5000);  // 4
    Receipt(receipt::kSaleReturn, {Line(2550, 1, 2, 2)}, 0, 0);                         // 5
    Cash(doc::kCashOut, 2000);                                                          // 6
    Receipt(receipt::kPurchase, {Line(1000, 3, 1, 3)}, 3000, 0);                        // 7
    Simple<CloseCycleDoc>();                                                            // 8
    Simple<CycleOpenDocument>();                                                        // 9
    Receipt(receipt::kSale, {Line(777, 1, 1, 20)}, 1000, 0);                            // 10
  }

  // Bytes of the archive file, read and written in place.
  std::string Bytes(uint64_t offset, size_t n) {
    std::string out(n, '\0');
    auto f = env_.OpenFile(sim::kArchivePath, "r");
    EXPECT_TRUE(f && f->Seek(offset) && f->Read(&out[0], n) == n);
    return out;
  }
  void Put(uint64_t offset, const std::string& bytes) {
    auto f = env_.OpenFile(sim::kArchivePath, "r+");
    ASSERT_TRUE(f && f->Seek(offset) && f->Write(bytes.data(), bytes.size()) == bytes.size() && f->Close());
  }
  std::string Descriptor(uint32_t n) { return Bytes(archive::indexOffset(n), 64); }
  uint64_t DataOffset(uint32_t n) { return util::GetFixed64(Descriptor(n), 18); }

  platform::FakeEnv env_;
  std::unique_ptr<FiscalArchive> archive_;
  std::vector<Stored> stored_;
};

TEST_F(ArchiveCheckTest, ADayOfDocumentsIsConsistent) {
  const sim::ArchiveCheck check = sim::CheckArchive(&env_);
  EXPECT_TRUE(check.ok()) << check.Text();
  const sim::ArchiveSummary& s = check.summary;
  EXPECT_EQ(10u, s.last_number);
  ASSERT_EQ(stored_.size(), s.documents.size());
  for (size_t i = 0; i < stored_.size(); ++i) {
    const Stored& want = stored_[i];
    const sim::StoredDocument& got = s.documents[i];
    EXPECT_EQ(want.number, got.number);
    EXPECT_EQ(i + 1, got.number);
    EXPECT_EQ(want.type, got.type) << got.number;
    EXPECT_EQ(want.receipt_type, got.receipt_type) << got.number;
    EXPECT_EQ(want.total, got.total) << got.number;
    EXPECT_EQ(want.cash, got.cash) << got.number;
    EXPECT_EQ(want.cashless, got.cashless) << got.number;
    EXPECT_EQ(want.amount, got.amount) << got.number;
  }
  EXPECT_EQ(15100, s.documents[3].total);  // 100.00 + 2 x 25.50
  EXPECT_EQ(2u, s.documents[3].lines);
  EXPECT_TRUE(s.shift_open);
  EXPECT_EQ(2, s.shift_number);
  EXPECT_EQ(9u, s.shift_open_document);
  EXPECT_EQ(1u, s.shift.receiptCount());
  EXPECT_EQ(1000 - 223, s.shift.cashInDrawer());  // 10.00 handed over for 7.77
  EXPECT_EQ(4u, s.gross.receiptCount());
  EXPECT_EQ(777, s.sections.amount(receipt::kSale, 19));
  EXPECT_EQ(2u, s.since_registration.shiftNumber());
}

TEST_F(ArchiveCheckTest, EmptyArchiveIsConsistent) {
  platform::FakeEnv env;
  ASSERT_TRUE(env.CreateDirectory("/mnt") && env.CreateDirectory("/mnt/sd"));
  FiscalArchive fresh(&env, sim::kArchivePath);
  ASSERT_TRUE(fresh.createOrVerify());
  const sim::ArchiveCheck check = sim::CheckArchive(&env);
  EXPECT_TRUE(check.ok()) << check.Text();
  EXPECT_EQ(0u, check.summary.last_number);
  EXPECT_TRUE(check.summary.documents.empty());
}

TEST_F(ArchiveCheckTest, MissingArchiveIsAProblem) {
  platform::FakeEnv env;
  EXPECT_FALSE(sim::CheckArchive(&env).ok());
}

std::string Flip(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
  return bytes;
}

// A descriptor whose CRC is made good again after a change.
std::string Resealed(std::string d) {
  std::string crc;
  util::PutFixed16(&crc, util::Crc16(d.data(), 38));
  return d.replace(38, 2, crc);
}

TEST_F(ArchiveCheckTest, EachCorruptionIsFound) {
  struct Case {
    const char* what;
    uint64_t offset;
    std::string bytes;  // written there
    const char* found;  // in one of the problems
  };
  std::string numbered = Descriptor(3);
  util::EncodeFixed32(reinterpret_cast<uint8_t*>(&numbered[1]), 4);
  std::string moved = Descriptor(6);
  util::EncodeFixed64(reinterpret_cast<uint8_t*>(&moved[18]), DataOffset(6) + 1);
  std::string last_past = Descriptor(10), last_far = Descriptor(10);
  util::EncodeFixed32(reinterpret_cast<uint8_t*>(&last_past[1]), 11);
  util::EncodeFixed32(reinterpret_cast<uint8_t*>(&last_far[1]), archive::kIndexSlots + 1);
  const uint64_t drawer = archive::kShiftCountersOffset + counters::kCashInDrawerOffset;
  const Case cases[] = {
      {"descriptor CRC byte", archive::indexOffset(2) + 38, Flip(Bytes(archive::indexOffset(2) + 38, 1), 0),
       "document 2 descriptor CRC mismatch"},
      {"descriptor type byte", archive::indexOffset(5), Flip(Bytes(archive::indexOffset(5), 1), 0), "document 5"},
      {"shift totals byte", drawer, Flip(Bytes(drawer, 1), 0), "shift totals: cash in drawer"},
      {"totals since registration byte", archive::kRegistrationCountersOffset + counters::kCashInSumOffset,
       Flip(Bytes(archive::kRegistrationCountersOffset + counters::kCashInSumOffset, 1), 0),
       "totals since registration: cash-in sum"},
      {"grand totals byte", archive::kGrossCountersOffset + counters::kReceiptCountOffset,
       Flip(Bytes(archive::kGrossCountersOffset + counters::kReceiptCountOffset, 1), 0), "grand totals: receipt count"},
      {"section totals byte", archive::kSectionTotalsOffset + 19 * 8,
       Flip(Bytes(archive::kSectionTotalsOffset + 19 * 8, 1), 0), "section totals: type 0 section 20"},
      {"data byte of a receipt", DataOffset(4) + 12, Flip(Bytes(DataOffset(4) + 12, 1), 0),
       "document 4 data CRC mismatch"},
      {"data byte of a cash in", DataOffset(3) + 30, Flip(Bytes(DataOffset(3) + 30, 1), 0),
       "document 3 data CRC mismatch"},
      {"gap in numbering", archive::indexOffset(3), Resealed(numbered), "descriptor 3 carries number 4"},
      {"data offset", archive::indexOffset(6), Resealed(moved), "document 6 data at"},
      {"last slot past the stored documents", archive::kLastDocumentOffset, last_past,
       "descriptor of document 11 is empty"},
      {"last slot past the index", archive::kLastDocumentOffset, last_far, "past the index"},
      // A store cut after its totals and before the last-document slot.
      {"last-document write lost", archive::kLastDocumentOffset, Descriptor(9), "shift totals: receipt count"},
      {"shift open slot", archive::kLastShiftOpenOffset, Descriptor(2), "last shift open slot holds document 2"},
      {"registration count", archive::kRegistrationCountOffset, std::string(1, '\x02'), "registration count is 2"},
      {"second magic", archive::kSecondMagicOffset, std::string(1, '\0'), "no magic before the data blocks"},
  };
  ASSERT_TRUE(sim::CheckArchive(&env_).ok());
  for (const Case& c : cases) {
    const std::string original = Bytes(c.offset, c.bytes.size());
    ASSERT_NE(original, c.bytes) << c.what;
    Put(c.offset, c.bytes);
    const sim::ArchiveCheck check = sim::CheckArchive(&env_);
    bool found = false;
    for (const std::string& p : check.problems) found |= p.find(c.found) != std::string::npos;
    EXPECT_TRUE(found) << c.what << ": no \"" << c.found << "\" among\n" << check.Text();
    Put(c.offset, original);
    ASSERT_TRUE(sim::CheckArchive(&env_).ok()) << c.what << " was not undone";
  }
}

// A booking the documents do not account for: the receipt's totals booked a
// second time, as a store repeated after a cut would.
TEST_F(ArchiveCheckTest, TotalsBookedTwiceAreFound) {
  ShiftCounters shift;
  ASSERT_TRUE(archive_->readShiftCounters(&shift));
  OperationCounters sale = shift.block(receipt::kSale);
  sale.setReceiptCount(sale.receiptCount() + 1);
  sale.setTotal(sale.total() + 777);
  shift.setBlock(receipt::kSale, sale);
  shift.setReceiptCount(shift.receiptCount() + 1);
  const std::string image = shift.image();
  Put(archive::kShiftCountersOffset, image);
  const sim::ArchiveCheck check = sim::CheckArchive(&env_);
  EXPECT_FALSE(check.ok());
  bool total = false, count = false;
  for (const std::string& p : check.problems) {
    total |= p == "shift totals: block 0 total is 1554 in the archive, the documents give 777";
    count |= p == "shift totals: receipt count is 2 in the archive, the documents give 1";
  }
  EXPECT_TRUE(total && count) << check.Text();
}

}  // namespace
