#include "documents/shift_documents.h"

#include <gtest/gtest.h>

#include "app/codes.h"
#include "app/fr_status.h"
#include "platform/fake_env.h"
#include "storage/identity_test_util.h"
#include "util/coding.h"
#include "util/cp866.h"
#include "util/crc.h"

namespace {

const std::string kKey = std::string("0123456789abcde\xFF", 16);
const std::string kSerial = "0000012345";

ModelData Model() { return identitytest::SignedModel(kSerial, kKey); }
RegData Reg() { return identitytest::SignedReg(kSerial, kKey, 1600000000); }

Cashier ValidCashier() { return Cashier{7, 1, 1234, util::Utf8ToCp866("Иванов")}; }
std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }

std::string U32(uint32_t v) {
  std::string s;
  util::PutFixed32(&s, v);
  return s;
}

std::string Amount(int64_t v) {
  std::string s;
  util::PutFixed64(&s, static_cast<uint64_t>(v));
  return s;
}

ShiftCounters SomeCounters() {
  ShiftCounters c;
  c.setShiftNumber(12);
  c.setCashInCount(2);
  c.setCashInSum(150000);
  c.setReceiptCount(3);
  c.setCashInDrawer(250000);
  OperationCounters sale;
  sale.setReceiptCount(3);
  sale.setTotal(99900);
  sale.setCash(99900);
  sale.setTax(0, 16650);
  c.setBlock(0, sale);
  return c;
}

// Closes a document as the worker would and numbers it as the archive would.
void Finish(BaseWorkDocument* d, const std::string& data) {
  ASSERT_EQ(rc::kOk, d->setCashierName("\x03"
                                       "abc"));
  uint16_t missing = 0;
  ASSERT_EQ(rc::kOk, d->close(1700000000, kKey, data, &missing));
  d->setDocumentNumber(0x01020304);
  d->setFiscalisationNumber(1);
  ASSERT_TRUE(d->sign(kKey, kSerial));
}

std::vector<uint16_t> Tags(const BaseWorkDocument& d) {
  bool complete = false;
  std::vector<uint16_t> tags;
  for (const TlvElement& e : TlvElement::decodeList(d.encode().substr(1), &complete)) {
    tags.push_back(e.tag());
  }
  EXPECT_TRUE(complete);
  return tags;
}

// The archive's way back: every stored element, in order, into a fresh object.
void Rebuild(const BaseWorkDocument& from, BaseWorkDocument* to) {
  const std::string bytes = from.encode();
  ASSERT_EQ(from.type(), static_cast<uint8_t>(bytes[0]));
  bool complete = false;
  for (const TlvElement& e : TlvElement::decodeList(bytes.substr(1), &complete)) {
    to->setStoredTag(e);
  }
  ASSERT_TRUE(complete);
}

class ShiftDocumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FrStatus::reset();
    FrStatus::setShiftNumber(12);
    FrStatus::setCashInDrawer(500000);
  }
  void TearDown() override { FrStatus::reset(); }

  CycleOpenDocument Open(const Cashier& c = ValidCashier()) {
    return CycleOpenDocument(&env_, Model(), Reg(), c);
  }
  CloseCycleDoc Close(const Cashier& c = ValidCashier()) {
    return CloseCycleDoc(&env_, Model(), Reg(), c);
  }
  CashCtrlDocument Cash(bool in, const Cashier& c = ValidCashier()) {
    return CashCtrlDocument(&env_, in ? doc::kCashIn : doc::kCashOut, Model(), Reg(), c);
  }

  platform::FakeEnv env_;
};

TEST_F(ShiftDocumentsTest, TitlesAndShiftLine) {
  CycleOpenDocument open = Open();
  ASSERT_EQ(rc::kOk, open.setCashierName(std::string(1, '\0')));
  CloseCycleDoc close = Close();
  close.setShiftNumber(12);
  CashCtrlDocument in = Cash(true);
  in.setShiftNumber(12);
  CashCtrlDocument out = Cash(false);
  out.setShiftNumber(12);
  struct Case {
    const BaseWorkDocument* doc;
    uint8_t type;
    const char* title;
    const char* shift_line;
  };
  const Case cases[] = {
      {&open, 7, "Открытие смены", "\nСМЕНА\t13"},  // made during shift 12
      {&close, 2, "Z-Отчет", "\nСМЕНА\t12"},
      {&in, 5, "Внесение", "\nСМЕНА\t12"},
      {&out, 6, "Выплата", "\nСМЕНА\t12"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.type, c.doc->type());
    EXPECT_EQ(Cp(c.title), c.doc->title()) << c.title;
    const PrintData header = c.doc->printHeader();
    ASSERT_EQ(4u, header.size()) << c.title;  // registration, title, cashier, shift
    EXPECT_EQ(std::vector<std::string>{Cp(c.title)}, header[1].block.lines());
    const PrintItem& shift = header.back();
    EXPECT_EQ(std::vector<std::string>{Cp(c.shift_line)}, shift.block.lines()) << c.title;
    EXPECT_TRUE(shift.block.style().has(PrintStyle::kMarker));
    EXPECT_FALSE(shift.block.style().has(PrintStyle::kCentre));
    EXPECT_EQ(1u, shift.block.style().font());
    EXPECT_FALSE(shift.cut);
  }
  // A refused cashier text leaves the shift alone.
  CycleOpenDocument refused = Open();
  EXPECT_EQ(rc::kTlvShort, refused.setCashierName("\x05"
                                                  "ab"));
  EXPECT_EQ(0, refused.shiftNumber());
}

TEST_F(ShiftDocumentsTest, CloseWithoutCashierNameMissesIt) {
  Cashier nameless = ValidCashier();
  nameless.name.clear();
  CycleOpenDocument open = Open(nameless);
  CloseCycleDoc close = Close(nameless);
  CashCtrlDocument cash = Cash(true, nameless);
  for (BaseWorkDocument* d : std::vector<BaseWorkDocument*>{&open, &close, &cash}) {
    uint16_t missing = 0;
    EXPECT_EQ(rc::kCloseData, d->close(1700000000, kKey, Amount(100), &missing)) << +d->type();
    EXPECT_EQ(tag::kCashierName, missing) << +d->type();
    EXPECT_EQ(1700000000u, d->dateTime());
  }
}

TEST_F(ShiftDocumentsTest, CashCloseChecksTheAmount) {
  struct Case {
    const char* what;
    bool in;
    std::string data;
    int result;
    uint16_t missing;
    int64_t kept;
  };
  const Case cases[] = {
      {"in 0.00", true, Amount(0), rc::kNoCash, 0, 0},
      {"in negative", true, Amount(-100), rc::kNoCash, 0, 0},
      {"in 15.00", true, Amount(1500), rc::kOk, 0, 1500},
      {"in the limit", true, Amount(100000000000), rc::kOk, 0, 100000000000},
      {"in one kopeck more", true, Amount(100000000001), rc::kCashInTooLarge, 0, 0},
      {"out the whole drawer", false, Amount(500000), rc::kOk, 0, 500000},
      {"out one kopeck more", false, Amount(500001), rc::kNoCash, 0, 0},
      {"out 0.00", false, Amount(0), rc::kNoCash, 0, 0},
      {"4 bytes", true, std::string("\x01\x00\x00\x00", 4), rc::kCloseData, tag::kCashAmount, 0},
      {"9 bytes", false, Amount(1) + "x", rc::kCloseData, tag::kCashAmount, 0},
      {"no data", true, "", rc::kCloseData, tag::kCashAmount, 0},
  };
  for (const Case& c : cases) {
    CashCtrlDocument d = Cash(c.in);
    uint16_t missing = 0;
    EXPECT_EQ(c.result, d.close(1700000000, kKey, c.data, &missing)) << c.what;
    EXPECT_EQ(c.missing, missing) << c.what;
    EXPECT_EQ(Decimal(100, c.kept), d.amount()) << c.what;
    EXPECT_EQ(100u, d.amount().scale()) << c.what;
  }
  // No limit on the way out beyond the drawer.
  FrStatus::setCashInDrawer(200000000000);
  CashCtrlDocument big = Cash(false);
  EXPECT_EQ(rc::kOk, big.close(1700000000, kKey, Amount(150000000000), nullptr));
}

TEST_F(ShiftDocumentsTest, CloseReplies) {
  CycleOpenDocument open = Open();
  Finish(&open, "");
  CloseCycleDoc close = Close();
  Finish(&close, "");
  CashCtrlDocument cash = Cash(false);
  Finish(&cash, Amount(1500));
  FrStatus::setCashInDrawer(0x0102030405060708);  // the drawer at the time of the reply

  auto base = [](const BaseWorkDocument& d) {
    std::string s("\x04\x03\x02\x01", 4);
    util::PutFixed32(&s, d.fiscalSign());
    return s + std::string("\x00\xF1\x53\x65", 4);  // 1700000000
  };
  EXPECT_EQ(base(open) + std::string("\x0D\x00", 2), open.closeReply());
  EXPECT_EQ(base(close) + std::string("\x0C\x00", 2), close.closeReply());
  EXPECT_EQ(base(cash) + std::string("\x0C\x00\x08\x07\x06\x05\x04\x03\x02\x01", 10),
            cash.closeReply());
  EXPECT_NE(0u, cash.fiscalSign());
}

TEST_F(ShiftDocumentsTest, SignedDataLayouts) {
  const std::string r = U32(Reg().checkValue());
  const std::string n("\x04\x03\x02\x01", 4);
  const std::string t("\x00\xF1\x53\x65", 4);
  CycleOpenDocument open = Open();
  Finish(&open, "");
  CloseCycleDoc close = Close();
  Finish(&close, "");
  CashCtrlDocument cash = Cash(true);
  Finish(&cash, Amount(150000));

  EXPECT_EQ(r + std::string("\x0D\x00", 2) + n + t, open.signedData());
  EXPECT_EQ(r + n + std::string("\x0C\x00", 2) + t, close.signedData());
  EXPECT_EQ(r + std::string("\x0C\x00", 2) + n + t + "1500.00", cash.signedData());
  for (const BaseWorkDocument* d : std::vector<const BaseWorkDocument*>{&open, &close, &cash}) {
    EXPECT_EQ(util::Crc32(kKey + kSerial + d->signedData()), d->fiscalSign()) << +d->type();
    EXPECT_TRUE(d->isComplete()) << +d->type();
  }
}

TEST_F(ShiftDocumentsTest, EncodedElements) {
  const std::vector<uint16_t> base = {tag::kDocumentNumber, tag::kFiscalisationNumber,
                                      tag::kCashierName, tag::kDateTime, tag::kFiscalSign};
  auto with = [&base](std::vector<uint16_t> own) {
    std::vector<uint16_t> all = base;
    all.insert(all.end(), own.begin(), own.end());
    return all;
  };
  CycleOpenDocument open = Open();
  CloseCycleDoc close = Close();
  CashCtrlDocument cash = Cash(true);
  EXPECT_EQ(with({tag::kShiftNumber}), Tags(open));
  EXPECT_EQ(with({tag::kShiftNumber}), Tags(close));  // no counters attached
  EXPECT_EQ(with({tag::kCashAmount, tag::kShiftNumber}), Tags(cash));
  close.setShiftCounters(SomeCounters());
  EXPECT_EQ(with({tag::kShiftNumber, tag::kShiftCounters}), Tags(close));
}

TEST_F(ShiftDocumentsTest, EncodeRebuildsTheSameDocument) {
  CycleOpenDocument open = Open();
  Finish(&open, "");
  CloseCycleDoc close = Close();
  Finish(&close, "");
  close.setShiftCounters(SomeCounters());
  CashCtrlDocument out = Cash(false);
  Finish(&out, Amount(123456));

  CycleOpenDocument open2(&env_, Model(), Reg(), Cashier());
  CloseCycleDoc close2(&env_, Model(), Reg(), Cashier());
  CashCtrlDocument out2(&env_, doc::kCashOut, Model(), Reg(), Cashier());
  const std::pair<const BaseWorkDocument*, BaseWorkDocument*> pairs[] = {
      {&open, &open2}, {&close, &close2}, {&out, &out2}};
  for (const auto& p : pairs) {
    Rebuild(*p.first, p.second);
    const BaseWorkDocument& a = *p.first;
    const BaseWorkDocument& b = *p.second;
    EXPECT_EQ(a.documentNumber(), b.documentNumber());
    EXPECT_EQ(a.fiscalisationNumber(), b.fiscalisationNumber());
    EXPECT_EQ("abc", b.cashier().name);
    EXPECT_EQ(a.dateTime(), b.dateTime());
    EXPECT_EQ(a.shiftNumber(), b.shiftNumber());
    EXPECT_EQ(a.fiscalSign(), b.fiscalSign());
    EXPECT_EQ(a.signedData(), b.signedData()) << +a.type();
    EXPECT_EQ(a.encode(), b.encode()) << +a.type();
    EXPECT_TRUE(b.verifySign(kKey, kSerial)) << +a.type();
  }
  EXPECT_EQ(Decimal(100, 123456), out2.amount());
  ASSERT_NE(nullptr, close2.shiftCounters());
  EXPECT_EQ(SomeCounters().image(), close2.shiftCounters()->image());
  EXPECT_TRUE(env_.lines().empty());
}

TEST_F(ShiftDocumentsTest, ForeignOrDamagedStoredElementsAreReported) {
  struct Case {
    uint8_t type;
    TlvElement element;
    std::string line;
  };
  const Case cases[] = {
      {5, TlvElement(tag::kCashAmount, ""), "setStoredTag UNKNOWN TAG 11031 0 "},
      {7, TlvElement::fromVln(tag::kCashAmount, 5), "setStoredTag UNKNOWN TAG 11031 1 05"},
      {5, TlvElement(tag::kShiftCounters, "\x01"), "setStoredTag UNKNOWN TAG 11194 1 01"},
  };
  for (const Case& c : cases) {
    platform::FakeEnv env;
    CashCtrlDocument cash(&env, doc::kCashIn, Model(), Reg(), ValidCashier());
    CycleOpenDocument open(&env, Model(), Reg(), ValidCashier());
    BaseWorkDocument* d = c.type == 5 ? static_cast<BaseWorkDocument*>(&cash) : &open;
    d->setStoredTag(c.element);
    EXPECT_EQ(std::vector<std::string>{c.line}, env.lines());
    EXPECT_EQ(0, cash.amount().mantissa());
  }
}

TEST_F(ShiftDocumentsTest, CashFooterAndCompleteness) {
  CashCtrlDocument cash = Cash(true);
  Finish(&cash, Amount(150000));
  for (bool cut : {false, true}) {
    const PrintData footer = cash.printFooter(cut);
    ASSERT_EQ(4u, footer.size());  // amount, taxpayer lines, date and number, sign
    const PrintItem& amount = footer[0];
    EXPECT_EQ(std::vector<std::string>{Cp("НАЛ.\t1500.00")}, amount.block.lines());
    const PrintStyle& style = amount.block.style();
    EXPECT_EQ(0u, style.font());
    EXPECT_TRUE(style.has(PrintStyle::kDouble) && style.has(PrintStyle::kMarker));
    EXPECT_FALSE(style.has(PrintStyle::kCentre) || style.has(PrintStyle::kBold));
    EXPECT_FALSE(amount.cut);
    EXPECT_EQ(cut, footer.back().cut);
  }
  EXPECT_TRUE(cash.isComplete());
  CashCtrlDocument empty = Cash(true);
  cash.copyTo(&empty);
  EXPECT_TRUE(empty.isComplete());
  empty.setStoredTag(TlvElement::fromVln(tag::kCashAmount, 0));
  EXPECT_FALSE(empty.isComplete());
}

TEST_F(ShiftDocumentsTest, CloneKeepsClassDirectionAndAmount) {
  CashCtrlDocument out = Cash(false);
  Finish(&out, Amount(4200));
  auto copy = std::dynamic_pointer_cast<CashCtrlDocument>(out.clone());
  ASSERT_NE(nullptr, copy);
  EXPECT_FALSE(copy->isCashIn());
  EXPECT_EQ(out.encode(), copy->encode());

  CashCtrlDocument in = Cash(true);
  EXPECT_TRUE(in.isCashIn());
  EXPECT_EQ(doc::kCashOut, CashCtrlDocument(&env_, doc::kReceipt, Model(), Reg(), Cashier()).type());
  EXPECT_EQ(nullptr, out.copyTo(&in));
  EXPECT_EQ(0, in.amount().mantissa());

  CloseCycleDoc close = Close();
  close.setShiftCounters(SomeCounters());
  auto close_copy = std::dynamic_pointer_cast<CloseCycleDoc>(close.clone());
  ASSERT_NE(nullptr, close_copy);
  EXPECT_EQ(nullptr, close_copy->shiftCounters());  // counters are not copied
  EXPECT_NE(nullptr, std::dynamic_pointer_cast<CycleOpenDocument>(Open().clone()));
}

TEST_F(ShiftDocumentsTest, ShiftCloseReportIsTheCurrentShiftBlock) {
  CloseCycleDoc close = Close();
  EXPECT_EQ("", close.reportText());
  close.setShiftCounters(SomeCounters());
  const std::string text = close.reportText();
  EXPECT_NE(std::string::npos, text.find(Cp("ИТОГИ СМЕНЫ")));
  EXPECT_NE(std::string::npos, text.find(Cp("НАЛ. В КАССЕ")));
  EXPECT_EQ(std::string::npos, text.find(Cp("ИТОГО С ПОСЛЕДНЕЙ РЕГИСТРАЦИИ")));
}

}  // namespace
